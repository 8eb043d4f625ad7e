#include <gtest/gtest.h>

#include <string>

#include "src/NoteExtract.h"

using tf::NoteExtract;

TEST(NoteExtract, LinksThatLeadToNotes) {
    EXPECT_TRUE(NoteExtract::markedAsNote("noteref", "", ""));
    EXPECT_TRUE(NoteExtract::markedAsNote("glossref noteref", "", ""));
    EXPECT_TRUE(NoteExtract::markedAsNote("", "doc-noteref", ""));
    EXPECT_TRUE(NoteExtract::markedAsNote("", "", "note"));
    EXPECT_FALSE(NoteExtract::markedAsNote("footnote", "doc-backlink", "other"));
    EXPECT_FALSE(NoteExtract::markedAsNote("", "", ""));

    struct Case {
        const char* text;
        bool mark;
    } cases[] = {{"1", true},  {" 23 ", true}, {"[4]", true},   {"(a)", true},     {"ab", true},
                 {"1234", true}, {"abc", false}, {"12345", false}, {"Chapter", false}, {"", false},
                 {"[]", false}, {"1a", false},  {"*", false}};
    for (const Case& c : cases)
        EXPECT_EQ(NoteExtract::shortMark(c.text), c.mark) << c.text;
}

TEST(NoteExtract, TheNotesOwnElement) {
    const std::string page =
        "<html><body><h2 id='head'>Notes</h2>"
        "<p>Before <a id='inline'>the anchor</a> and after.</p>"
        "<ol><li id='li1'><p>List note</p></li></ol>"
        "<aside epub:type='footnote' id='aside1'><p>Aside text with <a href='ch1.xhtml#back'>a link</a> and "
        "<img src='pic.png' alt='x'>.</p></aside>"
        "<section id='fb1'><div class='title'><p>1</p></div><p>FictionBook note &amp; more.</p></section>"
        "<div><span id='deep'><b>bold</b></span></div>"
        "<h3><a id='inhead'>x</a></h3>"
        "<p id='evil' onclick='x()'>Safe <script>alert(1)</script>text</p>"
        "</body></html>";
    struct Case {
        const char* id;
        bool found;
        bool heading;
        const char* tag;
        const char* contains;
        const char* lacks;
    } cases[] = {
        {"inline", true, false, "p", "<p>Before <a id=\"inline\">the anchor</a> and after.</p>", ""},
        {"li1", true, false, "li", "<li id=\"li1\"><p>List note</p></li>", "<ol"},
        {"aside1", true, false, "aside", "<a href=\"ch1.xhtml#back\">a link</a>", "Notes"},
        {"fb1", true, false, "section", "<p>FictionBook note &amp; more.</p>", "<p>1</p>"},
        {"deep", true, false, "div", "<b>bold</b>", ""},
        {"head", true, true, "h2", "Notes", ""},
        {"inhead", true, true, "h3", "<h3><a id=\"inhead\">x</a></h3>", ""},
        {"evil", true, false, "p", "Safe text", "onclick"},
        {"missing", false, false, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const NoteExtract::Note note = NoteExtract::extract(page, c.id);
        EXPECT_EQ(note.found, c.found);
        EXPECT_EQ(note.heading, c.heading);
        EXPECT_EQ(note.tag, c.tag);
        EXPECT_NE(note.html.find(c.contains), std::string::npos) << note.html;
        if (*c.lacks) {
            EXPECT_EQ(note.html.find(c.lacks), std::string::npos) << note.html;
        }
    }
    EXPECT_EQ(NoteExtract::extract(page, "aside1").html.find("<img src=\"pic.png\" alt=\"x\">") != std::string::npos,
              true);
    EXPECT_EQ(NoteExtract::extract(page, "evil").html.find("alert"), std::string::npos);
}

TEST(NoteExtract, FictionBookMarkupAndHostilePages) {
    // The FictionBook page: XLink names for links and pictures.
    const std::string fb2 = "<html><body><section id='n2'><div class='title'><p>2</p></div><p>See "
                            "<a xlink:href='#n1' type='note'>1</a></p><image xlink:href='#pic'></image></section>"
                            "</body></html>";
    const NoteExtract::Note note = NoteExtract::extract(fb2, "n2");
    EXPECT_NE(note.html.find("<a href=\"#n1\" type=\"note\">1</a>"), std::string::npos) << note.html;
    EXPECT_NE(note.html.find("<img src=\"#pic\">"), std::string::npos) << note.html;
    EXPECT_EQ(note.html.find("</img>"), std::string::npos) << note.html;

    // Deep nesting and a huge note stay bounded.
    std::string deep = "<div id='top'>";
    for (int i = 0; i < 100000; ++i)
        deep += "<span>";
    deep += "x";
    const NoteExtract::Note nested = NoteExtract::extract(deep, "top");
    EXPECT_TRUE(nested.found);
    EXPECT_LE(nested.html.size(), NoteExtract::kMaxNoteBytes + 16);
    const std::string huge = "<p id='big'>" + std::string(1 << 20, 'w') + "</p>";
    EXPECT_LE(NoteExtract::extract(huge, "big").html.size(), NoteExtract::kMaxNoteBytes + (1u << 20));
    EXPECT_FALSE(NoteExtract::extract("", "x").found);
    EXPECT_FALSE(NoteExtract::extract("<p id='x'>", "").found);
}
