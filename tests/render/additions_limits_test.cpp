// Lengths from a book's style beyond what an int holds: the audio player's box
// is clamped, not wrapped (converting such a float to int is undefined).

#include <gtest/gtest.h>

#include <string>

#include "TestView.h"

using test::TestView;

TEST(AudioLimits, LengthsBeyondAnIntAreClamped) {
    const std::string huge = "99999999999999999999";
    struct Case {
        std::string style;
        int width;
        int height;
    } cases[] = {
        {"height:" + huge + "px", 10000000, 10000000},
        {"width:" + huge + "px", 10000000, 1666666},
        {"width:-" + huge + "px", 0, 0},
        {"height:" + huge + "%", 10000000, 10000000},
        {"width:" + huge + "%;height:" + huge + "px", 10000000, 10000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.style);
        TestView view;
        testing::internal::CaptureStderr();
        view.load_string("<html><body><div style='width:500px'><audio style='" + c.style + "'></audio></div></body></html>",
                         tf::String("./"));
        testing::internal::GetCapturedStderr();
        auto audio = test::find_tag(view.document()->root(), "audio");
        ASSERT_TRUE(audio);
        EXPECT_EQ(audio->get_position().width, c.width);
        EXPECT_EQ(audio->get_position().height, c.height);
    }
}
