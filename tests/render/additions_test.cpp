#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestView.h"
#include "engine-additions/TextRange.h"
#include "engine-additions/el_href_image.h"

using test::TestView;

namespace {

std::string page(const std::string& body) {
    return "<html><head><title>hidden title</title></head><body>" + body + "</body></html>";
}

// Shows `body` in a view whose fb2:// pictures are fake PIC bytes.
struct PictureView : TestView {
    PictureView() {
        test::FakeBook book;
        book.type = "fb2";
        book.entries = {{"#", "<p/>"}, {"#pic", "data64:image/png:UElDOjYweDQw"}}; // PIC:60x40
        books["fb2"] = book;
        load_uri(tf::String("/books/tale.fb2"));
    }
};

} // namespace

TEST(Audio, SizedLikeAReplacedElement) {
    struct Case {
        const char* tag;
        int width;
        int height;
    } cases[] = {
        {"<audio src='a.ogg'></audio>", 150, 25},
        {"<audio></audio>", 150, 25},
        {"<audio width='300'></audio>", 300, 50},
        {"<audio height='50'></audio>", 300, 50},
        {"<audio style='max-width:100px'></audio>", 100, 16},
        {"<audio style='max-height:10px'></audio>", 60, 10},
        {"<audio width='200' height='40'></audio>", 200, 40},
        {"<audio style='width:50%'></audio>", 250, 41},
        {"<audio width='-30'></audio>", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        TestView view;
        view.width = 560;
        view.load_string(page(std::string("<div style='width:500px'>") + c.tag + "</div>"), "./");
        auto audio = test::find_tag(view.document()->root(), "audio");
        ASSERT_TRUE(audio);
        EXPECT_EQ(audio->get_position().width, c.width);
        EXPECT_EQ(audio->get_position().height, c.height);
        view.paint(0, -5);
        std::lock_guard<std::mutex> lock(view.mutex);
        ASSERT_EQ(view.players.size(), 1u) << "the player is drawn even without a source";
        litehtml::position placed = audio->get_placement();
        EXPECT_EQ(view.players[0].x, placed.x);
        EXPECT_EQ(view.players[0].y, placed.y - 5);
        EXPECT_EQ(view.players[0].width, c.width);
    }
}

TEST(LinkedImage, SourceFromSrcThenAnyHrefAttribute) {
    struct Case {
        const char* markup;
        int width; // 60 when the picture loaded, 0 otherwise
    } cases[] = {
        {"<img src='#pic'/>", 60},
        {"<image xlink:href='#pic'/>", 60},
        {"<image l:href='#pic'/>", 60},
        {"<p><image l:href='#pic' style='height:20px'/></p>", 30},
        {"<svg><image xlink:href='#pic'/></svg>", 60},
        {"<img src='#missing' xlink:href='#pic'/>", 0},
        {"<svg><image href='#pic'/></svg>", 60},
        {"<image href='#pic'/>", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.markup);
        PictureView view;
        view.load_string(page(c.markup), "fb2://");
        auto img = test::find_tag(view.document()->root(), "img");
        if (!img)
            img = test::find_tag(view.document()->root(), "image");
        ASSERT_TRUE(img);
        EXPECT_TRUE(std::dynamic_pointer_cast<tf::el_href_image>(img));
        EXPECT_EQ(img->get_position().width, c.width);
        if (c.width == 60) {
            std::lock_guard<std::mutex> lock(view.mutex);
            EXPECT_EQ(view.images.count("fb2://#pic"), 1u);
        }
    }
}

TEST(LinkedImage, ImageElementsOutsideHtmlAreBlocks) {
    PictureView view;
    view.load_string(page("<svg><image xlink:href='#pic'/></svg>"), "fb2://");
    auto image = test::find_tag(view.document()->root(), "image");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->get_display(), litehtml::display_block);
}

TEST(TextRanges, WordsAndSpacesInDocumentOrder) {
    TestView view;
    view.load_string(page("<p>ab cd</p><p>e<span style='visibility:hidden'>hid</span>f</p>"
                          "<div style='display:none'>gone</div>"),
                     "./");
    ASSERT_EQ(view.createTextRange(), 5) << "nothing hidden, nothing from the head";
    auto lock = view.lockDocument();
    const auto& range = view.textRange();
    std::vector<std::string> texts;
    for (const auto& node : range)
        texts.push_back(tf::run_text(node));
    EXPECT_EQ(texts, (std::vector<std::string>{"ab", " ", "cd", "e", "f"}));
    // Boxes follow each other on the line and do not overlap.
    EXPECT_EQ(range[0].pos.width, 20);
    EXPECT_EQ(range[1].pos.x, range[0].pos.right());
    EXPECT_EQ(range[2].pos.x, range[1].pos.right());
    EXPECT_EQ(range[0].pos.y, range[2].pos.y);
    EXPECT_GT(range[3].pos.y, range[0].pos.bottom() - 1);
    // Boxes are in document coordinates: where the paint at origin 0,0 draws them.
    auto drawn = view.paint();
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(drawn[0].text, "ab");
    EXPECT_EQ(drawn[0].pos.x, range[0].pos.x);
    EXPECT_EQ(drawn[0].pos.y, range[0].pos.y);
}

TEST(TextRanges, NoDocumentGivesNothing) {
    tf::text_range_t ranges;
    EXPECT_EQ(tf::create_range(litehtml::document::ptr(), ranges), 0);
    TestView view;
    EXPECT_EQ(view.createTextRange(), 0);
}

TEST(TextRanges, MarkedRunsAreDrawnMarkedAndCopied) {
    TestView view;
    view.load_string(page("<p>one two three</p><p>four</p>"), "./");
    view.createTextRange();
    view.markRuns(2, 4, true); // "two", " ", "three"
    EXPECT_EQ(view.markedText(), "two three");
    const int scroll = -37;
    std::string marked;
    for (const auto& t : view.paint(0, scroll))
        if (t.marked)
            marked += t.text;
    EXPECT_EQ(marked, "two three") << "matched by box at any scroll position";

    auto lock = view.lockDocument();
    ASSERT_EQ(view.textRange().size(), 6u);
    const auto& four = view.textRange()[5];
    EXPECT_EQ(view.runAt(four.pos.x + 1, four.pos.y + 1), 5);
    EXPECT_EQ(view.runAt(-100, -100), -1);
    lock.unlock();

    view.markRuns(3, 3, false);
    EXPECT_EQ(view.markedText(), "twothree");
    view.markRuns(4, 500, false); // clipped to the range
    EXPECT_EQ(view.markedText(), "two");

    view.clearTextRange();
    EXPECT_EQ(view.textRangeSize(), 0u);
    for (const auto& t : view.paint())
        EXPECT_FALSE(t.marked) << t.text;
}

TEST(TextRanges, ANewDocumentOrLayoutDropsTheRange) {
    TestView view;
    view.load_string(page("<p>old words</p>"), "./");
    view.createTextRange();
    view.markRuns(0, 2, true);
    view.load_string(page("<p>new</p>"), "./");
    EXPECT_EQ(view.textRangeSize(), 0u);
    EXPECT_EQ(view.markedText(), "");
    for (const auto& t : view.paint())
        EXPECT_FALSE(t.marked);

    view.createTextRange();
    view.markRuns(0, 0, true);
    view.render(300);
    EXPECT_EQ(view.textRangeSize(), 0u) << "boxes of the old layout are gone";
}
