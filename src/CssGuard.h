#pragma once

#include <string>

namespace tf {

// Keeps a book's style sheets within what the layout engine parses and
// applies in reasonable time and memory. The engine copies the text that is
// left after each selector and block as it parses (square of the nesting of
// blocks, of parentheses such as ":not(:not(" and of the parts of one
// selector), tests every selector against every element and copies matching
// declarations into each element: a sheet costs its selectors and
// declarations times the elements of the page it styles.
//
// measure() reads a sheet in one linear pass. A sheet beyond the structural
// limits is refused; so is one that would take the page it is for beyond
// the page's budget.
class CssGuard {
public:
    static constexpr size_t kMaxBytes = 1u << 20;
    static constexpr int kMaxBlockDepth = 8;
    static constexpr int kMaxParenDepth = 8;
    static constexpr int kMaxSelectorParts = 32;
    static constexpr int kMaxDeclarations = 512;  // in one block
    static constexpr size_t kMaxValueBytes = 64u << 10;
    // Testing a selector against an element costs about as much as applying
    // this many bytes of declarations to it.
    static constexpr long kSelectorWeight = 64;
    // Elements times (selectors and declaration bytes) of all a page's sheets;
    // real books stay a few times below it.
    static constexpr long long kMaxPageCost = 1ll << 32;

    struct Measure {
        size_t bytes = 0;
        int blockDepth = 0;
        int parenDepth = 0;
        int selectorParts = 0;
        int declarations = 0;   // most in one block
        size_t valueBytes = 0;  // longest declaration value
        long selectors = 0;
        long declarationBytes = 0;
        bool sound() const {
            return bytes <= kMaxBytes && blockDepth <= kMaxBlockDepth && parenDepth <= kMaxParenDepth &&
                   selectorParts <= kMaxSelectorParts && declarations <= kMaxDeclarations &&
                   valueBytes <= kMaxValueBytes;
        }
        // What styling one element costs.
        long long cost() const { return selectors * kSelectorWeight + declarationBytes; }
    };

    // The sheet as the engine is to read it: up to its first NUL byte (the
    // engine takes a C string), with its comments removed the way the engine
    // removes them. The engine's own removal never ends when it meets an
    // unclosed comment at the sheet's second character (counting after the
    // comments before it are gone); here an unclosed comment runs to the end.
    // A settled sheet holds no "/*", so the engine's removal has nothing to do.
    static std::string settle(const char* css, size_t size);
    static std::string settle(const std::string& css) { return settle(css.data(), css.size()); }
    // Settling also renames an @media or @import rule whose media query the
    // engine's parser would throw on to "@-media" or "@-import": an unknown
    // rule, skipped with its block, so the query applies nowhere.
    // Whether settle() would change more than comments the engine ends: a NUL
    // byte, a comment left open, or a malformed media query.
    static bool needsSettling(const char* css, size_t size);
    // Whether the engine's media query parser takes `media`: it indexes out
    // of range on some malformed queries, such as a lone "(" ("screen and ("),
    // and the exception would end the program from inside a page build.
    static bool mediaParses(const std::string& media);
    // A media attribute (<link media>): as it is, or "not all" when malformed.
    static std::string settleMediaList(const std::string& media);

    static Measure measure(const char* css, size_t size);
    static Measure measure(const std::string& css) { return measure(css.data(), css.size()); }
    // A style attribute: declarations only.
    static Measure measureDeclarations(const char* css, size_t size);

    // What the sheets of one page may cost together: the page's elements
    // times what each sheet costs an element (Measure::cost).
    struct Budget {
        long elements = 0;
        long long used = 0; // the page's own sheets take their share first
    };

    // Whether the engine may have this sheet; an admitted sheet is settled in
    // place and, with a page's `budget`, takes its share of it. Refusals are
    // logged.
    static bool admit(std::string& css, Budget* budget = nullptr);
};

} // namespace tf
