// Laying out only the top of a long page: where the markup may be cut, which
// styles forbid a cut, and the renderer falling back to the whole page.

#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "TestView.h"
#include "src/PagePrefix.h"

using test::TestView;
using tf::PagePrefix;

namespace {

std::string paragraphs(int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += "<p>Paragraph " + std::to_string(i) + " with a few words in it.</p>\n";
    return out;
}

std::string page(const std::string& head, const std::string& body) {
    return "<html><head>" + head + "</head><body>" + body + "</body></html>";
}

} // namespace

TEST(PagePrefix, CutsAfterTheFirstBlockEndPastTheBudget) {
    const std::string filler(100, 'x');
    struct Case {
        const char* name;
        std::string html;
        std::string prefix; // "" for no cut
    };
    const std::string a = "<div>" + filler + "</div>";
    const Case cases[] = {
        {"block end", a + "<p>rest</p>", a},
        {"inline end is no cut point", "<p>" + filler + "<b>x</b> more</p><p>rest</p>", "<p>" + filler + "<b>x</b> more</p>"},
        {"upper-case tags", "<DIV>" + filler + "</DIV><P>rest</P>", "<DIV>" + filler + "</DIV>"},
        {"FictionBook blocks", "<section><title><p>T</p></title><p>" + filler + "</p></section>",
         "<section><title><p>T</p></title><p>" + filler + "</p>"},
        {"not inside a table", "<table><tr><td><p>" + filler + "</p></td></tr></table><p>rest</p>",
         "<table><tr><td><p>" + filler + "</p></td></tr></table>"},
        {"not inside a numbered list", "<ol><li><p>" + filler + "</p></li></ol><p>x</p>",
         "<ol><li><p>" + filler + "</p></li></ol>"},
        {"not inside SVG", "<svg><text><p>" + filler + "</p></text></svg><div>x</div>",
         "<svg><text><p>" + filler + "</p></text></svg><div>x</div>"},
        {"self-closed SVG opens nothing", "<svg/><p>" + filler + "</p><p>rest</p>", "<svg/><p>" + filler + "</p>"},
        {"end tags in a comment", "<!-- " + filler + "</p> --><p>x</p><p>rest</p>", "<!-- " + filler + "</p> --><p>x</p>"},
        {"end tags in a script", "<script>var s='" + filler + "</p>';</script><p>x</p><p>y</p>",
         "<script>var s='" + filler + "</p>';</script><p>x</p>"},
        {"end tags in an attribute", "<p title='" + filler + "</p>'>x</p><p>rest</p>", "<p title='" + filler + "</p>'>x</p>"},
        {"not inside open formatting", "<b><div><p>" + filler + "</p></div></b><p>x</p><p>rest</p>",
         "<b><div><p>" + filler + "</p></div></b><p>x</p>"},
        {"a sheet further on styles what is before it", a + "<style>p{color:red}</style><p>rest</p>", ""},
        {"a linked sheet further on", a + "<LINK rel=stylesheet href=a.css><p>rest</p>", ""},
        {"no block end past the budget", "<p>" + filler + "<br>rest", ""},
        {"unclosed comment", "<!-- " + filler + "</p>", ""},
        {"unclosed table", "<table><tr><td>" + filler + "</td></tr><p>x</p>", ""},
    };
    for (const Case& c : cases) {
        const size_t end = PagePrefix::cut(c.html, 50);
        if (c.prefix.empty())
            EXPECT_EQ(end, c.html.size()) << c.name;
        else
            EXPECT_EQ(c.html.substr(0, end), c.prefix) << c.name;
    }
}

TEST(PagePrefix, StylesThatLookAhead) {
    const struct {
        const char* css;
        bool ahead;
    } cases[] = {
        {"p { margin-bottom: 1em; padding-bottom: 2px; border-bottom: 1px solid }", false},
        {"p:first-child, p + p, h1 ~ p, li:nth-child(2n) { color: red }", false},
        {"div { position: relative; top: 3px; margin: 0 0 -1em 0 }", false},
        {"a[href^='http:'] { color: blue } /* see http://x */", false},
        {"section p:last-child { margin: 0 }", true},
        {"P:LAST-OF-TYPE { margin: 0 }", true},
        {"li:only-child {}", true},
        {"tr:nth-last-child(2) {}", true},
        {"span:only-of-type {}", true},
        {".note { position: absolute; bottom: 0 }", true},
        {".note{bottom:0}", true},
        {".fixed { position:fixed }", true},
        {".pull { margin-top: -2em }", true},
        {".pull { margin: -1em 0 0 }", true},
        {".up { position: relative; top: -5px }", true},
        {".grid { display: table }", true},
        {".cell { display:table-cell; vertical-align: middle }", true},
        {".box { display: inline-table }", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PagePrefix::looksAhead(c.css), c.ahead) << c.css;
    // Style attributes in the page count as well.
    EXPECT_TRUE(PagePrefix::looksAhead(page("", "<div style=\"position:absolute;bottom:0\">x</div>")));
}

// A fragment the first screen must reach, and the text that estimates a
// page's height from its first part.
TEST(PagePrefix, IdsBeforeACutAndTextOutsideTags) {
    const std::string html = "<p id=\"a\">x</p><p data-id=\"b\">y</p><p class=\"c\" id='c'>z</p><p id=\"d\">w</p>";
    const size_t beforeD = html.find("<p id=\"d\"");
    const struct {
        const char* id;
        bool held;
    } cases[] = {{"a", true}, {"b", false}, {"c", true}, {"d", false}, {"", false}, {"x", false}};
    for (const auto& c : cases)
        EXPECT_EQ(PagePrefix::holdsId(html, c.id, beforeD), c.held) << c.id;
    EXPECT_TRUE(PagePrefix::holdsId(html, "d", html.size()));

    EXPECT_EQ(PagePrefix::textSize("<math><mi>x</mi><mo>=</mo></math> <p>ab c</p>", 100), 5u);
    EXPECT_EQ(PagePrefix::textSize("<p>ab c</p>", 5), 2u); // cut inside the text
    EXPECT_EQ(PagePrefix::textSize("", 10), 0u);
}

TEST(PagePrefix, RendererLaysOutTheTopOfALongPageOnly) {
    const std::string html = page("", paragraphs(3000));
    ASSERT_GT(html.size(), 64u * 1024);
    TestView whole, top;
    top.width = whole.width = 400;
    top.set_preview_height(300);
    whole.load_string(html, "");
    top.load_string(html, "");
    const int full = whole.document()->height();
    const int part = top.document()->height();
    EXPECT_GE(part, 600) << "at least twice the height looked at";
    EXPECT_LT(part * 4, full);
    std::lock_guard<std::mutex> lock(top.mutex);
    EXPECT_EQ(top.progress, (std::vector<int>{30, 40, 80}));
    ASSERT_EQ(top.sizes.size(), 1u);
    EXPECT_EQ(top.sizes[0].second, part);
}

TEST(PagePrefix, RendererLaysOutWholePagesThatLookAhead) {
    TempDir dir;
    dir.write("ahead.css", "p:last-child { margin-top: 0 }");
    dir.write("plain.css", "p { margin-top: 0 }");
    const struct {
        const char* name;
        std::string head;
        bool whole;
    } cases[] = {
        {"plain sheet", "<link rel='stylesheet' href='plain.css'/>", false},
        {"linked sheet that looks ahead", "<link rel='stylesheet' href='ahead.css'/>", true},
        {"style block that looks ahead", "<style>.x { bottom: 0 }</style>", true},
    };
    for (const auto& c : cases) {
        const std::string file = dir.write("page.html", page(c.head, paragraphs(3000)));
        TestView whole, top;
        top.width = whole.width = 400;
        top.set_preview_height(300);
        whole.load_uri(tf::String(file));
        top.load_uri(tf::String(file));
        ASSERT_TRUE(whole.document() && top.document()) << c.name;
        EXPECT_EQ(top.document()->height() == whole.document()->height(), c.whole) << c.name;
    }
}

TEST(PagePrefix, ShortPagesTagSoupAndPagesWithoutCutPointsAreWhole) {
    for (const std::string& body : {paragraphs(20), "<div>" + std::string(200000, 'x') + "<br/>y</div>",
                                    paragraphs(3000) + "<br>"}) {
        const std::string html = page("", body);
        TestView whole, top;
        top.width = whole.width = 400;
        top.set_preview_height(100);
        whole.load_string(html, "");
        top.load_string(html, "");
        ASSERT_TRUE(whole.document() && top.document());
        EXPECT_EQ(top.document()->height(), whole.document()->height());
    }
}
