// A FictionBook as a book of entries: which entry holds what, where the
// contents point, and links across entries.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "TempDir.h"
#include "fb2_test_support.h"
#include "readers/FB2Reader.h"
#include "readers/xhtml/XmlDoc.h"

namespace {

std::string paragraphs(const std::string& tag, int count, size_t each) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += "<p>" + tag + std::to_string(i) + " " + std::string(each, 'w') + "</p>\n";
    return out;
}

// Text before the first section, nested titled and untitled sections, a note
// and its back link, a main body with attributes, a notes body, a body
// without sections, a section too large for one entry with subsections and
// one without.
std::string fixture() {
    const size_t part = tf::FB2Reader::kEntryBound * 6 / 10;
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" xmlns:l=\"http://www.w3.org/1999/xlink\">"
           "<description><title-info><book-title>Entries</book-title></title-info></description>"
           "<body lang=\"en\"><title><p>Book Title</p></title><epigraph><p>Before all</p></epigraph>"
           "<section id=\"ch1\"><title><p>One</p></title>"
           "<p>A note<a l:href=\"#n1\" type=\"note\" id=\"r1\">1</a> here.</p>"
           "<section><title><p>One <emphasis>A</emphasis></p></title><p>Nested</p>"
           "<section><p>Untitled deep</p><section><title><p>Deep</p></title><p>Deepest</p></section></section>"
           "</section></section>"
           "<section><p>Untitled top</p></section>"
           "<section id=\"big\"><title><p>Big</p></title><p>Big intro</p>"
           "<section><title><p>Part 1</p></title>" + paragraphs("a", 6, part / 6) + "</section>"
           "<section id=\"p2\"><title><p>Part 2</p></title>" + paragraphs("b", 6, part / 6) + "</section>"
           "<section><title><p>Part 3</p></title>" + paragraphs("c", 6, part / 6) + "</section></section>"
           "<section><title><p>Flat</p></title>" + paragraphs("f", 40, tf::FB2Reader::kEntryBound / 16) +
           "</section></body>"
           "<body name=\"notes\"><title><p>Notes</p></title>"
           "<section id=\"n1\"><title><p>1</p></title><p>Note one <a l:href=\"#r1\">back</a></p></section></body>"
           "<body name=\"comments\"><p>A comment without sections</p></body>"
           "</FictionBook>";
}

struct Book {
    TempDir tmp;
    std::unique_ptr<tf::FB2Reader> reader{new tf::FB2Reader()};
    explicit Book(const std::string& bytes) {
        write_bytes(tmp.path + "/book.fb2", bytes);
        testing::internal::CaptureStderr();
        EXPECT_TRUE(reader->open(tmp.path + "/book.fb2") && reader->parse());
        testing::internal::GetCapturedStderr();
    }
    std::string page(const std::string& name) {
        std::string out;
        EXPECT_EQ(reader->get_entry(name, out), "html");
        return out;
    }
    std::string text(const std::string& name) {
        const std::string markup = page(name);
        tf::XmlDoc doc(markup);
        const rapidxml::xml_node<char>* body = page_body(doc);
        EXPECT_NE(body, nullptr) << name;
        std::string out;
        if (body)
            collect_text(body, out);
        return out;
    }
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(FB2Entries, SectionsAndBodiesBecomeEntriesOfBoundedSize) {
    Book book(fixture());
    std::vector<std::string> names;
    for (const auto& entry : book.reader->spine())
        names.push_back(entry.first);
    // Four top-level sections (the third cut at its subsections, the fourth
    // between paragraphs), then the notes and the body without sections.
    ASSERT_GE(names.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 6),
              (std::vector<std::string>{"section-1", "section-2", "section-3", "section-3.2", "section-3.3",
                                        "section-4"}));
    EXPECT_EQ(names[names.size() - 2], "notes");
    EXPECT_EQ(names.back(), "comments");
    for (size_t i = 6; i + 2 < names.size(); ++i)
        EXPECT_EQ(names[i], "section-4." + std::to_string(i - 4));

    // What stands before the first section goes with it, and nothing else does.
    const std::string first = book.text("section-1");
    for (const char* part : {"Book Title", "Before all", "One", "Nested", "Untitled deep", "Deepest"})
        EXPECT_TRUE(contains(first, part)) << part;
    EXPECT_FALSE(contains(first, "Untitled top"));
    EXPECT_TRUE(contains(book.text("section-2"), "Untitled top"));

    // The large section: its head with the first subsection, then one subsection an entry.
    EXPECT_TRUE(contains(book.text("section-3"), "Big intro") && contains(book.text("section-3"), "a5"));
    EXPECT_FALSE(contains(book.text("section-3"), "b0"));
    EXPECT_TRUE(contains(book.text("section-3.2"), "b0") && contains(book.text("section-3.2"), "b5"));
    EXPECT_FALSE(contains(book.text("section-3.2"), "c0"));
    // Its pieces stay inside a section (for the look) that carries its id only once.
    EXPECT_TRUE(contains(book.page("section-3.2"), "<body><section><section id=\"p2\">"));
    int ids = 0;
    for (const std::string& name : names)
        ids += contains(book.page(name), "id=\"big\"");
    EXPECT_EQ(ids, 1);

    // No entry passes the bound (beyond one paragraph); no paragraph is cut;
    // every one is shown once, in order.
    std::string all;
    for (const std::string& name : names) {
        const std::string page = book.page(name);
        EXPECT_LT(page.size(), tf::FB2Reader::kEntryBound + tf::FB2Reader::kEntryBound / 8) << name;
        all += book.text(name);
    }
    size_t at = 0;
    for (const char* tag : {"a", "b", "c"})
        for (int i = 0; i < 6; ++i) {
            const size_t found = all.find(std::string(tag) + std::to_string(i) + " ", at);
            ASSERT_NE(found, std::string::npos) << tag << i;
            at = found;
        }
    for (int i = 0; i < 40; ++i) {
        const std::string para = "f" + std::to_string(i) + " " + std::string(tf::FB2Reader::kEntryBound / 16, 'w');
        const size_t found = all.find(para, at);
        ASSERT_NE(found, std::string::npos) << "f" << i;
        EXPECT_EQ(all.find(para, found + 1), std::string::npos) << "f" << i;
        at = found;
    }
    EXPECT_TRUE(contains(book.text("notes"), "Note one"));
    EXPECT_TRUE(contains(book.text("comments"), "A comment without sections"));
}

TEST(FB2Entries, ContentsNestAndPointIntoEntries) {
    Book book(fixture());
    const tf::pair_list_t toc = book.reader->toc();
    const std::vector<unsigned> depths = book.reader->toc_depths();
    ASSERT_EQ(toc.size(), depths.size());
    std::vector<std::tuple<std::string, std::string, unsigned>> lines;
    for (size_t i = 0; i < toc.size(); ++i)
        lines.emplace_back(toc[i].first, toc[i].second, depths[i]);
    // Untitled sections have no line but count as a level.
    const std::vector<std::tuple<std::string, std::string, unsigned>> expected = {
        {"section-1#ch1", "One", 0},
        {"section-1#fb2-section-2", "One A", 1},
        {"section-1#fb2-section-4", "Deep", 3},
        {"section-3", "Big", 0},  // starts its entry: no fragment needed
        {"section-3#fb2-section-7", "Part 1", 1},
        {"section-3.2", "Part 2", 1},
        {"section-3.3", "Part 3", 1},
        {"section-4", "Flat", 0},
        {"notes", "Notes", 0},
        {"notes#n1", "1", 1},
        {"comments", "comments", 0},
    };
    EXPECT_EQ(lines, expected);
    // Each pointed-at place is in its entry's page.
    for (const auto& line : toc) {
        const size_t hash = line.first.find('#');
        if (hash == std::string::npos)
            continue;
        EXPECT_TRUE(contains(book.page(line.first.substr(0, hash)), "id=\"" + line.first.substr(hash + 1) + "\""))
            << line.first;
    }
}

TEST(FB2Entries, LinksFindTheEntryHoldingTheirTarget) {
    Book book(fixture());
    const std::pair<const char*, const char*> cases[] = {
        {"n1", "notes"}, {"r1", "section-1"}, {"big", "section-3"}, {"p2", "section-3.2"},
        {"fb2-section-2", "section-1"}, {"missing", ""}, {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(book.reader->entry_name_of_id(c.first), c.second) << c.first;
    // The note link and its back link are links the view follows (href), the note marked as one.
    EXPECT_TRUE(contains(book.page("section-1"), "<a href=\"#n1\" type=\"note\" id=\"r1\">1</a>"));
    EXPECT_TRUE(contains(book.page("notes"), "<a href=\"#r1\">back</a>"));
}

TEST(FB2Entries, MadeUpIdsNeverTakeTheBooksOwn) {
    // The book itself uses the id the first untitled-id section would get.
    Book book("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FictionBook><description/><body>"
              "<p>Lead</p><section><title><p>T</p></title><p id=\"fb2-section-1\">own</p></section></body>"
              "</FictionBook>");
    const tf::pair_list_t toc = book.reader->toc();
    ASSERT_EQ(toc.size(), 1u);
    EXPECT_EQ(toc[0].first, "section-1#fb2-section-1_");
    EXPECT_EQ(book.reader->entry_name_of_id("fb2-section-1_"), "section-1");
}

TEST(FB2Entries, BodyWithoutSectionsAndUntitledStartStillHaveContents) {
    Book book("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FictionBook><description><title-info>"
              "<book-title>Plain</book-title></title-info></description><body><p>Only text</p></body>"
              "</FictionBook>");
    EXPECT_EQ(book.reader->spine(), (tf::pair_list_t{{"section-1", ""}}));
    EXPECT_EQ(book.reader->toc(), (tf::pair_list_t{{"section-1", "Plain"}}));
    EXPECT_EQ(book.reader->toc_depths(), std::vector<unsigned>{0});
    EXPECT_TRUE(contains(book.text("section-1"), "Only text"));
}
