// Pages beyond what the HTML parser and the layout engine build in bounded
// time and memory: the guard leaves real pages alone and bounds the rest, as
// the engine's own parser sees the bounded copy.

#include <gtest/gtest.h>

#include <gumbo.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ParsedPage.h"
#include "Repeat.h"
#include "TestView.h"
#include "corpus.h"
#include "readers/EPUBReader.h"
#include "src/HtmlGuard.h"

using tf::HtmlGuard;

namespace {

std::string page(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html><head><title>t</title></head><body>" + body +
           "</body></html>";
}

} // namespace

TEST(HtmlGuard, RealPagesPassUnchanged) {
    // Books write sloppy HTML often enough; none of this is beyond the limits.
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"nested lists and tables",
         page(repeat("<div class=\"c\"><ul><li><p>a <em>b</em></p><table><tr><td>1</td><td>2</td></tr></table></li></ul></div>",
                     300))},
        {"paragraphs left open", "<html><body>" + repeat("<p>para <i>it", 500) + "</body></html>"},
        {"list items left open", "<html><body><ul>" + repeat("<li>item", 500) + "</ul></body></html>"},
        {"cells left open", "<html><body><table>" + repeat("<tr><td>a<td>b", 500) + "</table></body></html>"},
        {"italics never closed", "<html><body>" + repeat("<p><i>x</p>", 500) + "</body></html>"},
        {"svg and mathml", page(repeat("<svg><g/><path d=\"M0 0\"/></svg><math><mi>x</mi><mo/></math>", 500))},
        {"empty void elements", page(repeat("<p>x<br/><img src=\"a.png\"/><hr/></p>", 500))},
        {"scripts and styles", page("<style>" + repeat("<div>", 500) + "</style><script>" + repeat("<p>", 500) + "</script>")},
        {"comments", page(repeat("<!-- <div> -->", 500))},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_FALSE(HtmlGuard::bound(c.second, out)) << c.first;
        EXPECT_TRUE(HtmlGuard::measure(c.second).within()) << c.first;
    }
}

TEST(HtmlGuard, CorpusChaptersPassUnchanged) {
    for (const char* book : {"epub3-idpf-linear-algebra-mathml.epub", "epub2-pg1342-pride-and-prejudice-illustrated.epub",
                             "epub3-se-devils-dictionary.epub", "epub3-idpf-svg-in-spine.epub"}) {
        tf::EPUBReader reader;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(reader.open(corpus_path(book)) && reader.parse()) << book;
        size_t pages = 0;
        for (const auto& entry : reader.spine()) {
            std::string html;
            reader.get_entry(entry.first, html);
            HtmlGuard::Measure m = HtmlGuard::measure(html);
            EXPECT_TRUE(m.within()) << book << " " << entry.first << ": depth " << m.depth << ", nodes " << m.nodes;
            pages += !html.empty();
        }
        testing::internal::GetCapturedStderr();
        EXPECT_GT(pages, 0u) << book;
    }
}

TEST(HtmlGuard, HostilePagesAreBoundedAsTheParserSeesThem) {
    struct Case {
        const char* name;
        std::string html;
        const char* kept;  // text the bounded copy still shows
    };
    const std::vector<Case> cases = {
        {"deep, left open", "<html><body>" + repeat("<div>", 20000) + "MARK", "MARK"},
        {"deep, closed", page(repeat("<div>", 20000) + "MARK" + repeat("</div>", 20000)), "MARK"},
        {"empty elements HTML keeps open", page(repeat("<div/><span/>", 5000) + "MARK"), "MARK"},
        {"end tags that cannot close", page(repeat("<span><div></span>", 5000) + "MARK"), "MARK"},
        {"formatting reopened in every block",
         [] {
             std::string p = "<html><body>";
             for (int i = 0; i < 3000; ++i)
                 p += "<p><b id=\"b" + std::to_string(i) + "\">x</p>";
             return p + "MARK";
         }(),
         "MARK"},
        {"formatting open around many blocks",
         [] {
             std::string p = "<html><body><p>";
             for (int i = 0; i < 64; ++i)
                 p += "<b id=\"b" + std::to_string(i) + "\">";
             return p + repeat("<div>x</div>", 2000) + "MARK";
         }(),
         "MARK"},
        {"attributes by the thousand",
         [] {
             std::string p = "<html><body><p";
             for (int i = 0; i < 20000; ++i)
                 p += " a" + std::to_string(i) + "=\"1\"";
             return p + ">MARK</p></body></html>";
         }(),
         "MARK"},
        {"attributes on an end tag",
         [] {
             std::string p = "<html><body><p>MARK</p";
             for (int i = 0; i < 20000; ++i)
                 p += " a" + std::to_string(i) + "=\"1\"";
             return p + "></body></html>";
         }(),
         "MARK"},
        {"stray tags deep down", "<html><body>" + repeat("<div>", 100) + repeat("</x><td><body>", 40000) + "MARK", "MARK"},
        {"content moved out of a table", "<html><body>" + repeat("<div>", 100) + "<table>" + repeat("<br>", 40000) + "</table>MARK", "MARK"},
        {"svg left for html", page(repeat("<svg><div/>", 5000) + "MARK"), "MARK"},
        {"comment ended the short way", "<html><body><!-- --!>" + repeat("<div>", 20000) + "MARK", "MARK"},
        {"a decompression bomb", page(repeat("word ", 4000000)), nullptr},
        {"one enormous word", page(std::string(HtmlGuard::kMaxBytes + 1000, 'w')), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(HtmlGuard::measure(c.html).within());
        std::string out;
        ASSERT_TRUE(HtmlGuard::bound(c.html, out));
        const HtmlGuard::Measure m = HtmlGuard::measure(out);
        EXPECT_TRUE(m.within()) << "depth " << m.depth << ", formatting " << m.formatting << ", errors "
                                << m.errorCost << ", nodes " << m.nodes << ", bytes " << m.bytes;
        if (c.kept) {
            EXPECT_NE(out.find(c.kept), std::string::npos);
        }
        // The parser the engine uses agrees.
        const ParsedPage p = parsePage(out);
        EXPECT_LE(p.depth, HtmlGuard::kMaxDepth + 1);
        EXPECT_LE(static_cast<long>(p.errors) * 10, HtmlGuard::kMaxErrorCost);
        EXPECT_LE(p.nodes, HtmlGuard::kMaxNodes);
    }
}

TEST(HtmlGuard, EmptyElementsGetTheirXhtmlMeaning) {
    std::string out;
    ASSERT_TRUE(HtmlGuard::bound(page(repeat("<div class=\"x\"/><p>t</p>", 200)), out));
    EXPECT_NE(out.find("<div class=\"x\"></div><p>t</p>"), std::string::npos);
    // Void and SVG elements keep their own form.
    ASSERT_TRUE(HtmlGuard::bound(page(repeat("<div/>", 200) + "<br/><svg><g/></svg>"), out));
    EXPECT_NE(out.find("<br/><svg><g/></svg>"), std::string::npos);
}

TEST(HtmlGuard, AttributesBeyondTheLimitAreCut) {
    std::string tag = "<p";
    for (int i = 0; i < HtmlGuard::kMaxAttributes + 10; ++i)
        tag += " a" + std::to_string(i) + "='v>'";
    std::string out;
    ASSERT_TRUE(HtmlGuard::bound(page(tag + ">text</p>"), out));
    const std::string last = " a" + std::to_string(HtmlGuard::kMaxAttributes - 1) + "='v>'>text</p>";
    EXPECT_NE(out.find(last), std::string::npos);
    EXPECT_EQ(out.find(" a" + std::to_string(HtmlGuard::kMaxAttributes) + "="), std::string::npos);
}

TEST(HtmlGuard, NestingBeyondTheLimitLaysOutQuickly) {
    // Without the guard the engine needs minutes for 20000 levels (style is
    // inherited level by level) and its parser gigabytes for their errors.
    test::TestView view;
    const std::string html = "<html><body>" + repeat("<div><span>", 10000) + "deep text";
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    view.load_string(html, tf::String("./"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(view.has_document());
    EXPECT_NE(view.paintedText().find("deep text"), std::string::npos);
    EXPECT_NE(log.find("showing a bounded copy"), std::string::npos) << log;
    EXPECT_LT(seconds, 10.0);
}

TEST(HtmlGuard, PagesTheInstalledParserAbortsOnAreRewritten) {
    // The HTML parser (gumbo 0.10, built with its assertions) aborts the
    // program on these; they were found by mutating pages. The first is valid
    // XHTML: a CDATA section in an SVG description inside a table.
    const char* const cases[] = {
        "<html><body><table><svg xmlns=\"http://www.w3.org/2000/svg\"><desc><![CDATA[a < b]]> text</desc></svg>"
        "</table></body></html>",
        "<table><math><mi><![CDATA[x]]>t",
        "<table><svg><select><desc><select><table>",
        "<table><caption><svg><td><desc><select></select></desc></td></svg></caption></table>",
        "<svg><mi><style><table><svg><foreignObject><![CDATA[x<y>]]></font>t",
        "<table><![CDATA[x<col><caption><svg><td><desc><select>",
        "<y>]]><frameset><table>t <svg>t <foreignObject><![CDATA[x<y>]]></frame>t ",
        "<select/><plaintext><input><table><math>t <mi><![CDATA[x<y>]]>t ",
        "<math><annotation-xml><style>t <title><table><svg><title><![CDATA[x<y>]]></mi>t ",
        "<svg><desc style=\"color:red\"><mo><g><table encoding=\"text/html\"><desc><mo><svg encoding=\"text/html\">"
        "<table/></g>t <title><table id=\"x1\"><svg><title><![CDATA[x<y>]]>&amp;",
    };
    for (const char* html : cases) {
        SCOPED_TRACE(html);
        EXPECT_FALSE(HtmlGuard::measure(html).within());
        std::string out;
        ASSERT_TRUE(HtmlGuard::bound(html, out));
        EXPECT_TRUE(HtmlGuard::measure(out).within());
        EXPECT_EXIT(
            {
                GumboOutput* parsed = gumbo_parse(out.c_str());
                gumbo_destroy_output(&kGumboDefaultOptions, parsed);
                std::exit(0);
            },
            testing::ExitedWithCode(0), "");
    }
    // Through the view, the valid page lays out with its text.
    EXPECT_EXIT(
        {
            test::TestView view;
            view.load_string(cases[0], tf::String("./"));
            std::exit(view.paintedText().find("text") != std::string::npos ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(HtmlGuard, RawTextInTheCopyHoldsNoTags) {
    // Whatever the scan takes for raw text cannot turn into markup in the copy.
    std::string out;
    ASSERT_TRUE(HtmlGuard::bound(repeat("<div>", 200) + "<title>a <b>c</b></title><textarea><div></textarea>", out));
    EXPECT_NE(out.find("<title>a &lt;b>c&lt;/b></title>"), std::string::npos) << out.substr(out.size() - 120);
    EXPECT_NE(out.find("<textarea>&lt;div></textarea>"), std::string::npos);
}

TEST(HtmlGuard, CdataKeepsItsTextInTheCopy) {
    // In a cell the drawing stays; its CDATA section becomes the text it stands for.
    std::string out;
    ASSERT_TRUE(HtmlGuard::bound("<table><tr><td><svg><desc><![CDATA[a < b & c]]></desc></svg></td></tr></table>", out));
    EXPECT_NE(out.find("<svg><desc>"), std::string::npos) << out;
    EXPECT_NE(out.find("a &lt; b &amp; c"), std::string::npos) << out;
    EXPECT_EQ(out.find("CDATA"), std::string::npos) << out;
}
