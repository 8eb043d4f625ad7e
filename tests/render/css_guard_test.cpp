// Style sheets beyond what the engine parses and applies in bounded time and
// memory: refused whole, for the page being built; real books' sheets pass.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "Repeat.h"
#include "TempDir.h"
#include "TestView.h"
#include "corpus.h"
#include "src/CssGuard.h"
#include "src/HtmlGuard.h"
#include "utility/ZipFile.h"
#include "utility/text.h"

using tf::CssGuard;
using tf::HtmlGuard;

namespace {

bool admitted(std::string css, CssGuard::Budget* page = nullptr) {
    testing::internal::CaptureStderr();
    const bool ok = CssGuard::admit(css, page);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, log.find("style sheet refused") == std::string::npos) << log;
    return ok;
}

} // namespace

TEST(CssGuard, BookStyleSheetsPass) {
    int sheets = 0;
    for (const char* book : {"epub3-idpf-linear-algebra-mathml.epub", "epub3-se-devils-dictionary.epub",
                             "epub3-idpf-moby-dick.epub", "epub3-idpf-wasteland-otf-obf.epub", "epub2-pg11-alice.epub"}) {
        tf::ZipFile zip;
        ASSERT_TRUE(zip.open(corpus_path(book))) << book;
        zip.parse();
        for (const std::string& name : zip.getNames()) {
            if (zip.getEntry(name)->entryType() != ".css")
                continue;
            std::string css;
            zip.getEntryData(name, css);
            const CssGuard::Measure m = CssGuard::measure(css);
            EXPECT_TRUE(m.sound()) << book << " " << name;
            // Even styling a page of 40000 elements (the largest corpus chapter) leaves room.
            EXPECT_LT(m.cost() * 40000 * 4, CssGuard::kMaxPageCost) << book << " " << name;
            ++sheets;
        }
    }
    EXPECT_GT(sheets, 5);
    EXPECT_TRUE(admitted("@media print { @media screen { p > a.b:not(.c), h1 + p ~ [x='1'] { color: red; } } }"
                         "@font-face { src: url(a.ttf) } @import 'x.css';"));
}

TEST(CssGuard, SheetsTheEngineCannotBoundAreRefused) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"blocks nested", repeat("@media all {", 100) + "p{color:red}" + repeat("}", 100)},
        {"blocks never closed", repeat("@media all {", 100000)},
        {"one long selector", repeat("div ", 200) + "{color:red}"},
        {"negations nested", repeat(":not(", 20) + "p" + repeat(")", 20) + "{color:red}"},
        {"parentheses nested", "p{background:url(" + repeat("(", 1000) + ")}"},
        {"declarations in one block", "p{" + repeat("color:red;", 1000) + "}"},
        {"one long value", "p{color:" + std::string(100000, 'x') + "}"},
        {"too large", repeat("p.c{color:red}", 100000)},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(CssGuard::measure(c.second).sound()) << c.first;
        EXPECT_FALSE(admitted(c.second)) << c.first;
    }
}

TEST(CssGuard, APagesSheetsShareOneBudget) {
    std::string sheet;
    for (int i = 0; i < 1000; ++i)
        sheet += ".c" + std::to_string(i) + "{color:red}";
    const long long perElement = CssGuard::measure(sheet).cost();
    ASSERT_GT(perElement, 1000 * CssGuard::kSelectorWeight);

    // Outside a page only the structure counts.
    EXPECT_TRUE(admitted(sheet));
    {
        CssGuard::Budget page{static_cast<long>(CssGuard::kMaxPageCost / perElement / 3), 0};
        EXPECT_TRUE(admitted(sheet, &page));
        EXPECT_TRUE(admitted(sheet, &page));
        EXPECT_TRUE(admitted("p{color:red}", &page)) << "a small sheet fits beside two copies";
        EXPECT_FALSE(admitted(sheet, &page)) << "a third copy is beyond the page's budget";
        EXPECT_TRUE(admitted(sheet)) << "the budget is the page's alone";
    }
    {
        // The page's own sheets took their share already.
        CssGuard::Budget page{1000, CssGuard::kMaxPageCost};
        EXPECT_FALSE(admitted("p{color:red}", &page));
    }
}

TEST(CssGuard, PagesOwnSheetsAndStyleAttributesAreBounded) {
    const std::string hostile = repeat("div ", 200) + "{color:red}";
    const std::string body = repeat("<p class='c'>x</p>", 100);
    const std::string page = "<html><head><style>" + hostile + "</style><style>p{color:blue}</style></head><body>" +
                             body + "</body></html>";
    EXPECT_FALSE(HtmlGuard::measure(page).within());
    std::string out;
    ASSERT_TRUE(HtmlGuard::bound(page, out));
    EXPECT_EQ(out.find("div div div"), std::string::npos);
    EXPECT_NE(out.find("<style>p{color:blue}</style>"), std::string::npos);

    const std::string attrs = "<html><body><p style='color:red' id='a'>x</p><p id='b' style='background:url(" +
                              repeat("(", 1000) + ")'>y</p></body></html>";
    EXPECT_FALSE(HtmlGuard::measure(attrs).within());
    ASSERT_TRUE(HtmlGuard::bound(attrs, out));
    EXPECT_NE(out.find("<p style='color:red' id='a'>"), std::string::npos);
    EXPECT_NE(out.find("<p id='b'>y</p>"), std::string::npos);

    // An SVG style element is a sheet too.
    const std::string svg = "<html><body><svg><style>" + hostile + "</style><g/></svg>" + body + "</body></html>";
    EXPECT_FALSE(HtmlGuard::measure(svg).within());
    ASSERT_TRUE(HtmlGuard::bound(svg, out));
    EXPECT_EQ(out.find("div div div"), std::string::npos);
}

TEST(CssGuard, AHostileLinkedSheetIsLeftOutAndThePageLaysOut) {
    // Without the guard this sheet costs the engine minutes and gigabytes.
    TempDir tmp;
    const std::string css = repeat("div ", 20000) + "{color:red}";
    tf::file_put_contents(tmp.path + "/evil.css", reinterpret_cast<unsigned char*>(const_cast<char*>(css.data())),
                          static_cast<long>(css.size()));
    test::TestView view;
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    view.load_string("<html><head><link rel='stylesheet' href='evil.css'/></head><body><p>text</p></body></html>",
                     tf::String(tmp.path + "/"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(view.has_document());
    EXPECT_NE(view.paintedText().find("text"), std::string::npos);
    EXPECT_NE(log.find("style sheet left out"), std::string::npos) << log;
    EXPECT_LT(seconds, 10.0);
}
