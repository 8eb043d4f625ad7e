// Style sheets that leave a comment open or carry bytes after a NUL: the
// engine's own comment removal never ends on an unclosed "/*" at the sheet's
// second character, so no sheet reaches it unsettled, inline or linked. And
// media queries the engine's parser throws on.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Deadline.h"
#include "TestView.h"
#include "src/CssGuard.h"
#include "src/HtmlGuard.h"

#include <litehtml.h>

using tf::CssGuard;
using tf::HtmlGuard;

namespace {

// Sheets the engine would loop on, and kin: the open comment lands at the
// second character only once the comments before it are gone.
const std::vector<std::pair<const char*, std::string>> kOpenSheets = {
    {"white space, then an open comment", "\n/* never closed"},
    {"after a closed comment", " /* a */ /* b"},
    {"an opening made by erasing a comment", "p//**/* never closed"},
    {"a slash and star kept apart by a comment", "x/*c*/*/* open"},
    {"just the opening", " /*"},
};

} // namespace

TEST(CssSettle, NoOpenCommentAndNothingAfterANulReachesTheEngine) {
    struct Case {
        std::string in;
        std::string settled;
        bool needs;
    } cases[] = {
        {"p { color: red }", "p { color: red }", false},
        {"p { /* c */ color: red }", "p {  color: red }", false},
        {"\n/* never closed", "\n", true},
        {" /* a */ /* b", "  ", true},
        {"p//**/* never closed", "p", true},
        {"a { b: c } /* tail", "a { b: c } ", true},
        {std::string("a { b: c }\0/* hidden", 20), "a { b: c }", true},
        {std::string("a\0b", 3), "a", true},
        {"/**/", "", false},
        {"/*/ x */y", "y", false},
        {"content: '/*'", "content: '", true},  // strings mean nothing to the engine's removal
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(CssGuard::settle(c.in), c.settled);
        EXPECT_EQ(CssGuard::needsSettling(c.in.data(), c.in.size()), c.needs);
        const std::string settled = CssGuard::settle(c.in);
        EXPECT_EQ(settled.find("/*"), std::string::npos);
        EXPECT_FALSE(CssGuard::needsSettling(settled.data(), settled.size()));
    }
}

TEST(CssSettle, AdmittedSheetIsSettledInPlace) {
    std::string css = "\n/* never closed";
    EXPECT_TRUE(CssGuard::admit(css));
    EXPECT_EQ(css, "\n");
    std::string nul("p { color: blue }\0/*", 20);
    EXPECT_TRUE(CssGuard::admit(nul));
    EXPECT_EQ(nul, "p { color: blue }");
}

TEST(CssSettle, InlineStyleWithAnOpenCommentIsSettledByThePageGuard) {
    for (const auto& sheet : kOpenSheets) {
        SCOPED_TRACE(sheet.first);
        const std::string page = "<html><head><style>" + sheet.second + "</style></head><body><p>kept</p></body></html>";
        EXPECT_FALSE(HtmlGuard::measure(page).within());
        std::string bounded;
        ASSERT_TRUE(HtmlGuard::bound(page, bounded));
        EXPECT_EQ(bounded.find("/*"), std::string::npos) << bounded;
        EXPECT_NE(bounded.find("kept"), std::string::npos);
        EXPECT_NE(bounded.find("<style>"), std::string::npos) << "the settled sheet stays";
    }
    // A closed comment changes nothing.
    EXPECT_TRUE(HtmlGuard::measure("<style>/* a */ p{}</style><p>x</p>").within());
    // An SVG style element with an open comment goes whole.
    std::string bounded;
    ASSERT_TRUE(HtmlGuard::bound("<p>a</p><svg><style>\n/* open</style></svg>", bounded));
    EXPECT_EQ(bounded.find("/*"), std::string::npos) << bounded;
}

TEST(CssSettle, PagesWithOpenCommentsLayOutInTime) {
    // A book chapter that links `sheet` shows its one word `text`, and the sheet was read.
    auto showLinked = [](const std::string& sheet, const std::string& text) {
        test::TestView view;
        test::FakeBook book;
        book.entries["OEBPS/ch.xhtml"] = "<html><head><link rel=\"stylesheet\" href=\"s.css\"/></head><body><p>" +
                                         text + "</p></body></html>";
        book.entries["OEBPS/s.css"] = sheet;
        book.spine = {"OEBPS/ch.xhtml"};
        view.books["epub"] = book;
        ASSERT_TRUE(view.load_uri(tf::String("/books/b.epub")));
        view.load_uri(tf::String("epub://OEBPS/ch.xhtml"));
        EXPECT_EQ(view.paintedText(), text);
        EXPECT_NE(std::find(view.journal.begin(), view.journal.end(), "get:OEBPS/s.css"), view.journal.end());
    };
    for (const auto& sheet : kOpenSheets) {
        SCOPED_TRACE(sheet.first);
        withinSeconds(20, std::string("inline sheet: ") + sheet.first, [&] {
            test::TestView view;
            view.load_string("<html><head><style>" + sheet.second + "</style></head><body><p>inline</p></body></html>",
                             "./");
            EXPECT_EQ(view.paintedText(), "inline");
        });
        withinSeconds(20, std::string("linked sheet: ") + sheet.first, [&] { showLinked(sheet.second, "linked"); });
    }
    withinSeconds(20, "linked sheet with a NUL before an open comment",
                  [&] { showLinked(std::string("p { color: red }\0\n/* open", 25), "nul"); });
}

TEST(CssSettle, MalformedMediaQueriesApplyNowhere) {
    struct Case {
        const char* what;
        std::string in;
        std::string settled;
    } cases[] = {
        {"a lone bracket", "@media ({ p { color: red } }", "@-media ({ p { color: red } }"},
        {"an open bracket at the end", "@media screen and ( { p {} }", "@-media screen and ( { p {} }"},
        {"inside a sound @media", "@media screen { @media ( { p {} } }", "@media screen { @-media ( { p {} } }"},
        {"the media of an @import", "@import url(a.css) screen and (;", "@-import url(a.css) screen and (;"},
        {"an @import ending the sheet", "p {} @import", "p {} @-import"},
        {"a query too long to be meant", "@media " + std::string(600, 'x') + " {}", "@-media " + std::string(600, 'x') + " {}"},
        {"the fuzzer's", "b|typh~5=);\n0}@media({\n\tlint)", "b|typh~5=);\n0}@-media({\n\tlint)"},
        // The engine starts a rule where a selector's block ends, whatever
        // came before: an @import inside a selector (its rule never closed)
        // hides nothing from the check.
        {"after an @import in a selector", "b|typh@import}@media({\n\tlheight:(nt)",
         "b|typh@-import}@-media({\n\tlheight:(nt)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(CssGuard::needsSettling(c.in.data(), c.in.size()));
        const std::string settled = CssGuard::settle(c.in);
        EXPECT_EQ(settled, c.settled);
        EXPECT_FALSE(CssGuard::needsSettling(settled.data(), settled.size()));
        litehtml::css sheet;
        EXPECT_NO_THROW(sheet.parse_stylesheet(settled.c_str(), "", litehtml::document::ptr(),
                                               litehtml::media_query_list::ptr()));
    }
    // Sound queries stay as they are, brackets and all.
    for (const std::string sound : {"@media screen and (min-width: 30em) { p {} }", "@media (orientation:portrait){}",
                                    "@import url(a.css) print;", "@import \"a.css\";", "@media;"}) {
        EXPECT_EQ(CssGuard::settle(sound), sound);
        EXPECT_FALSE(CssGuard::needsSettling(sound.data(), sound.size())) << sound;
    }
    EXPECT_EQ(CssGuard::settleMediaList("screen and (min-width: 30em)"), "screen and (min-width: 30em)");
    EXPECT_EQ(CssGuard::settleMediaList("screen and ("), "not all");
}

TEST(CssSettle, MalformedMediaAttributesBecomeNotAll) {
    // The engine parses a link's media itself; a bracket may hide behind a reference.
    for (const char* media : {"screen and (", "screen and &#40;", "screen and &#x28", "screen and &lpar;"}) {
        SCOPED_TRACE(media);
        const std::string page = std::string("<html><head><link rel='stylesheet' href='a.css' media='") + media +
                                 "'/></head><body><p>x</p></body></html>";
        EXPECT_FALSE(HtmlGuard::measure(page).within());
        std::string bounded;
        ASSERT_TRUE(HtmlGuard::bound(page, bounded));
        EXPECT_NE(bounded.find("media=\"not all\""), std::string::npos) << bounded;
        EXPECT_NE(bounded.find("href='a.css'"), std::string::npos) << bounded;
    }
    for (const char* media : {"screen and (min-width: 30em)", "print", "screen &amp; print"})
        EXPECT_TRUE(HtmlGuard::measure(std::string("<link rel='stylesheet' href='a.css' media='") + media + "'/><p>x</p>")
                        .within())
            << media;
}

TEST(CssSettle, PageWithAMalformedMediaQueryIsShown) {
    // The page guard settles the inline sheet; the engine would throw on it.
    const std::string page =
        "<html><head><style>@media screen and ( { p { display: none } }</style></head><body><p>shown</p></body></html>";
    EXPECT_FALSE(HtmlGuard::measure(page).within());
    test::TestView view;
    view.load_string(page, "./");
    EXPECT_EQ(view.paintedText(), "shown");
}
