#pragma once

#include <string>

#include "src/CssGuard.h"

namespace tf {

// Keeps a page within what the HTML parser and the layout engine can build in
// reasonable time and memory. Both do work per open element: the parser
// copies its whole stack of open elements into every parse error it records
// and searches that stack for most tags, and the engine resolves inherited
// style by walking up the tree, so the cost grows with depth times size.
// A page from a book can nest, misnest, leave open and repeat without limit
// ("<div>" a hundred thousand times, or "<div/>", which HTML keeps open).
//
// measure() follows the page the way the HTML parser would nest it, in one
// linear pass without building a tree, and errs on the deep side. A page
// beyond the limits is rewritten: elements past the depth limit lose their
// tags (their content stays), elements the parser would close implicitly get
// explicit end tags, "<x/>" becomes an empty element, stray end tags and
// repeated html/head/body tags go, over-long attribute lists are cut, style
// sheets and attributes CssGuard refuses go, a style sheet that leaves a
// comment open is settled (CssGuard::settle), and a page beyond kMaxNodes or
// kMaxBytes ends there (its open elements closed).
class HtmlGuard {
public:
    // Open elements as the parser would nest them (with html and body).
    static constexpr int kMaxDepth = 128;
    // Formatting elements (b, i, font, ...) open or waiting to be reopened:
    // the parser copies every one of them into each following block.
    static constexpr int kMaxFormatting = 8;
    // The parser checks each attribute against all earlier ones of its tag.
    static constexpr int kMaxAttributes = 256;
    // Parse errors weighted by the stack depth each one copies.
    static constexpr long kMaxErrorCost = 1L << 21;
    // The engine keeps a few hundred bytes per word and some kilobytes per
    // element: nodes are weighed as words (2: the word and its space) and
    // elements (10). Real chapters and FictionBook bodies stay below half of
    // this; a decompression bomb does not.
    static constexpr long kMaxNodes = 2000000;
    static constexpr long kElementWeight = 10;
    // Text the parsers copy several times over before the engine sees it.
    static constexpr size_t kMaxBytes = 16u << 20;

    struct Measure {
        int depth = 0;
        int formatting = 0;
        int attributes = 0;
        long errorCost = 0;
        long nodes = 0;
        size_t bytes = 0;
        long elements = 0;
        // The page's own style sheets (and style attributes), as CssGuard measures them.
        bool stylesSound = true;
        long long styleCost = 0;  // per element
        // Nothing of what the parser (as installed) aborts on: CDATA sections
        // and SVG or MathML read in its table modes.
        bool parserSafe = true;
        bool within() const {
            return depth <= kMaxDepth && formatting <= kMaxFormatting && attributes <= kMaxAttributes &&
                   errorCost <= kMaxErrorCost && nodes <= kMaxNodes && bytes <= kMaxBytes && stylesSound &&
                   elements * styleCost <= CssGuard::kMaxPageCost && parserSafe;
        }
    };

    // The largest values the page reaches. The pass stops early once a limit
    // is crossed, so beyond a limit the figures are lower bounds.
    static Measure measure(const std::string& html);
    // A copy of the page within the limits (also for a page already within them).
    static std::string rewrite(const std::string& html);
    // True when `html` is beyond the limits; `out` then holds the bounded copy.
    // `page` receives the measure of the text the engine is to get.
    static bool bound(const std::string& html, std::string& out, Measure* page = nullptr);
};

} // namespace tf
