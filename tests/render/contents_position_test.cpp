#include <gtest/gtest.h>

#include <map>

#include "src/ContentsPosition.h"

using tf::ContentsPosition;

TEST(ContentsPosition, ChapterAndSectionOfAPlace) {
    const tf::pair_list_t spine = {{"a.xhtml", ""}, {"b%20c.xhtml", ""}, {"extra.xhtml", ""}, {"d.xhtml", ""}};
    const tf::pair_list_t toc = {
        {"a.xhtml", "A"},        {"a.xhtml#one", "A1"}, {"a.xhtml#two", "A2"},
        {"b c.xhtml#top", "B"},  {"d.xhtml", "D"},      {"elsewhere.xhtml", "Gone"},
    };
    const ContentsPosition position(toc, spine);
    const std::map<std::string, int> anchors = {{"one", 100}, {"two", 900}, {"top", 0}};
    auto y = [&](const std::string& id) {
        auto it = anchors.find(id);
        return it == anchors.end() ? -1 : it->second;
    };
    struct Case {
        const char* entry;
        int top;
        int chapter, section;
    } cases[] = {
        {"a.xhtml", 0, 0, 0},          // above every section: the chapter's own line
        {"a.xhtml", 100, 0, 1},        // a section counts from its start
        {"a.xhtml", 5000, 0, 2},
        {"b%20c.xhtml", 10, 3, 3},     // spelt either way
        {"extra.xhtml", 0, 3, 3},      // not in the contents: the named entry before it
        {"d.xhtml", 0, 4, 4},
        {"nowhere.xhtml", 0, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.entry) + " at " + std::to_string(c.top));
        const ContentsPosition::Place place = position.placeOf(c.entry, c.top, y);
        EXPECT_EQ(place.chapter, c.chapter);
        EXPECT_EQ(place.section, c.section);
    }
    // Ids that are not on the page leave the chapter's line marked.
    EXPECT_EQ(position.placeOf("a.xhtml", 5000, nullptr).section, 0);
    EXPECT_EQ(position.fragmentsOf("a.xhtml"), (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(ContentsPosition(toc, {}).placeOf("extra.xhtml", 0, y).chapter == -1);
}
