// Random markup from a fixed-seed generator: tag soup of the elements whose
// rules make an HTML parser nest, close, move and reopen (tables, lists,
// formatting, SVG and MathML with their integration points, select, raw text,
// frameset, CDATA). Whatever goes to the engine - the page itself or the
// page guard's bounded copy - must stay within the guard's limits as the
// engine's own parser builds it, and must not make that parser abort.

#include <gtest/gtest.h>

#include <gumbo.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ParsedPage.h"
#include "Rng.h"
#include "src/HtmlGuard.h"
#include "src/PagePrefix.h"

using tf::HtmlGuard;

namespace {

constexpr uint64_t kSeed = 0x7A65D1E5ull;
constexpr int kPages = 400;
constexpr int kTokens = 2000;

// Vocabularies: everything, then the groups whose rules interact most.
const std::vector<std::vector<const char*>> kVocabularies = {
    {"div", "span", "p", "b", "i", "a", "em", "font", "nobr", "table", "tbody", "tr", "td", "th", "caption",
     "colgroup", "col", "li", "ul", "dd", "svg", "math", "foreignObject", "desc", "mi", "g", "select", "option",
     "script", "style", "title", "textarea", "noscript", "br", "img", "body", "html", "h1", "button", "form",
     "template", "object", "image", "pre", "frameset", "frame", "x-y", "annotation-xml"},
    {"b", "i", "a", "font", "nobr", "p", "div", "table", "td", "tr", "li", "em", "u", "s"},
    {"svg", "math", "foreignObject", "desc", "mi", "mo", "g", "div", "p", "span", "title", "style",
     "annotation-xml", "table", "font", "b"},
    {"table", "tbody", "tr", "td", "th", "caption", "colgroup", "col", "div", "select", "option", "form", "input",
     "template", "p", "b", "svg", "desc"},
    {"template", "isindex", "keygen", "menuitem", "ruby", "rt", "optgroup", "head", "meta", "link", "plaintext",
     "xmp", "listing", "noembed", "noframes", "iframe", "marquee", "applet", "hr", "dl", "dt", "address", "center",
     "details", "table", "td", "select", "svg", "math", "mi", "desc", "foreignObject", "frameset", "frame", "body",
     "html", "a", "b", "nobr", "button", "form", "li", "p", "object", "embed", "textarea", "title", "style",
     "script", "image", "input", "annotation-xml"},
};

std::string soup(Rng& rng) {
    const std::vector<const char*>& names = kVocabularies[rng.below(kVocabularies.size())];
    std::string s;
    for (int k = 0; k < kTokens; ++k) {
        const size_t r = rng.below(100);
        const std::string name = names[rng.below(names.size())];
        if (r < 40) {
            const size_t a = rng.below(8);
            s += "<" + name +
                 (a == 0   ? " id=\"x" + std::to_string(rng.below(4)) + "\""
                  : a == 1 ? std::string(" encoding=\"text/html\"")
                  : a == 2 ? std::string(" style=\"color:red\"")
                           : std::string()) +
                 ">";
        }
        else if (r < 70)
            s += "</" + name + ">";
        else if (r < 77)
            s += "<" + name + "/>";
        else if (r < 88)
            s += "t ";
        else if (r < 91)
            s += "<!-- c -->";
        else if (r < 95)
            s += "<![CDATA[x<y>]]>";
        else if (r < 96)
            s += "<!-- --!>";
        else if (r < 98)
            s += "&amp;&#0;&#x110000;";
        else
            s += rng.below(2) ? "<html lang=\"x\">" : "< x";
    }
    return s;
}

// What the engine gets for each generated page (made once for both tests).
const std::vector<std::string>& pagesForTheEngine() {
    static const std::vector<std::string> pages = [] {
        Rng rng(kSeed);
        std::vector<std::string> out;
        for (int k = 0; k < kPages; ++k) {
            std::string html = soup(rng), bounded;
            out.push_back(HtmlGuard::bound(html, bounded) ? bounded : html);
        }
        return out;
    }();
    return pages;
}

} // namespace

TEST(RandomMarkup, TheParserNeverAbortsOnWhatTheEngineGets) {
    const std::vector<std::string>& pages = pagesForTheEngine();
    // In a child process: the installed parser aborts the program on some markup.
    EXPECT_EXIT(
        {
            for (size_t k = 0; k < pages.size(); ++k) {
                std::fprintf(stderr, "page %zu\n", k);
                GumboOutput* out = gumbo_parse(pages[k].c_str());
                gumbo_destroy_output(&kGumboDefaultOptions, out);
            }
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(RandomMarkup, WhatTheEngineGetsStaysWithinTheLimits) {
    const std::vector<std::string>& pages = pagesForTheEngine();
    int rewritten = 0;
    Rng rng(kSeed);
    for (size_t k = 0; k < pages.size(); ++k) {
        const std::string original = soup(rng);
        rewritten += pages[k] != original;
        SCOPED_TRACE("page " + std::to_string(k));
        const HtmlGuard::Measure m = HtmlGuard::measure(pages[k]);
        EXPECT_TRUE(m.within()) << "depth " << m.depth << ", formatting " << m.formatting << ", errors "
                                << m.errorCost;
        const ParsedPage p = parsePage(pages[k]);
        EXPECT_LE(p.depth, HtmlGuard::kMaxDepth + 1);
        EXPECT_LE(static_cast<long>(p.errors) * 10, HtmlGuard::kMaxErrorCost);
    }
    // Soup this broken is mostly rewritten; the rest is within the limits as it is.
    EXPECT_GT(rewritten, kPages / 4);
}

namespace {

// Random markup whose tags nest as written (well-formed XML), as EPUB and
// FictionBook pages are: the parser may still rebuild it (tables, formatting,
// foreign content, elements HTML keeps open after "<x/>").
void wellFormed(Rng& rng, bool foreign, int depth, int& budget, std::string& out) {
    // Tables and foreign content apart: SVG or MathML in a table is refused by the page guard.
    static const std::vector<const char*> tables = {
        "div", "p", "span", "b", "i", "a", "em", "section", "h1", "blockquote", "pre", "ul", "ol", "li", "dl",
        "dd", "table", "tbody", "tr", "td", "caption", "select", "option", "template", "script", "style", "title",
        "textarea", "br", "img", "hr", "body"};
    static const std::vector<const char*> svg = {
        "div", "p", "span", "b", "i", "section", "h1", "pre", "ul", "li", "svg", "g", "desc", "foreignObject",
        "math", "mi", "script", "style", "title", "br", "img"};
    const std::vector<const char*>& names = foreign ? svg : tables;
    while (budget-- > 0) {
        const size_t r = rng.below(100);
        if (r < 12 || depth > 6)
            return;
        const std::string name = names[rng.below(names.size())];
        if (r < 35) {
            out += "t ";
        } else if (r < 45) {
            // Void elements, and a div that HTML keeps open in spite of the slash.
            static const std::vector<const char*> empty = {"br", "img", "hr", "div", "g", "mi"};
            out += "<" + std::string(empty[rng.below(foreign ? empty.size() : 4)]) + "/>";
        } else if (r < 50) {
            out += "<!-- c -->";
        } else {
            out += "<" + name + (rng.below(4) == 0 ? " style=\"color:red\"" : "") + ">";
            static const std::vector<std::string> rawText = {"script", "style", "title", "textarea", "xmp", "iframe",
                                                             "noembed", "noframes"};
            if (std::find(rawText.begin(), rawText.end(), name) != rawText.end())
                out += "t";
            else
                wellFormed(rng, foreign, depth + 1, budget, out);
            out += "</" + name + ">";
        }
    }
}

// The elements the parser builds, in document order, with their depth.
std::vector<std::pair<int, int>> elements(const std::string& html) {
    std::vector<std::pair<int, int>> out;
    GumboOutput* parsed = gumbo_parse_with_options(&kGumboDefaultOptions, html.c_str(), std::strlen(html.c_str()));
    std::vector<std::pair<const GumboNode*, int>> stack{{parsed->root, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        out.emplace_back(static_cast<int>(node->v.element.tag), depth);
        const GumboVector& children = node->v.element.children;
        for (unsigned i = children.length; i-- > 0;)
            stack.emplace_back(static_cast<const GumboNode*>(children.data[i]), depth + 1);
    }
    gumbo_destroy_output(&kGumboDefaultOptions, parsed);
    return out;
}

} // namespace

TEST(RandomMarkup, APrefixOfAWellFormedPageBuildsTheElementsOfItsTop) {
    // Where the top of a page may be cut off for a preview, the parser builds
    // for the prefix exactly the elements it builds up there for the page.
    Rng rng(kSeed);
    int cuts = 0, guarded = 0;
    for (int k = 0; k < kPages; ++k) {
        std::string page = "<html><body>";
        int budget = kTokens;
        while (budget > 0)
            wellFormed(rng, k % 2 == 1, 0, budget, page);
        page += "</body></html>";
        std::string bounded;
        if (HtmlGuard::bound(page, bounded)) {
            ++guarded;
            continue; // the renderer lays out the guard's copy whole
        }
        for (size_t part : {page.size() / 4, page.size() / 2}) {
            const size_t end = tf::PagePrefix::cut(page, part);
            if (end >= page.size())
                continue;
            const std::string prefix = page.substr(0, end);
            if (HtmlGuard::bound(prefix, bounded))
                continue;
            ++cuts;
            const auto top = elements(prefix);
            const auto whole = elements(page);
            ASSERT_LE(top.size(), whole.size());
            EXPECT_TRUE(std::equal(top.begin(), top.end(), whole.begin()))
                << "page " << k << ", prefix of " << end << " bytes ending in\n"
                << prefix.substr(prefix.size() > 300 ? prefix.size() - 300 : 0);
        }
    }
    EXPECT_GT(cuts, kPages / 8) << guarded << " pages beyond the guard's limits";
}
