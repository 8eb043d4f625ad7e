#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tf {

// When only the top of a long page will be looked at (a page rendered once
// to a picture), laying out the whole chapter is wasted work: a prefix of the
// markup that ends after a block and fills the view lays out the same boxes
// up there. The parser closes what the prefix leaves open.
//
// cut() follows the tags as written, which is how the parser nests them when
// they nest properly (well-formed XML, as EPUB and FictionBook pages are); tag
// soup is rebuilt by the parser from what follows and must not be cut.
//
// That holds while nothing before the cut depends on what follows it: not
// inside a table, numbered list, foreign (SVG, MathML) content or an open
// formatting element (the parser may rebuild those), no style sheet after
// the cut, and no style that looks ahead (":last-child" and its kin, boxes
// placed from their container's bottom, CSS tables). Pages that have any of
// these are laid out whole.
class PagePrefix {
public:
    // A start tag as written: html[begin, end), of an element named `name` (lower case).
    struct OpenTag {
        size_t begin = 0;
        size_t end = 0;
        std::string name;
    };

    // Calls `atCut` with every place `end` where the markup may be cut, in
    // order, and the elements open there (outermost first); stops when it
    // returns false. A place before a style sheet is none: the sheet styles
    // what comes before it as well.
    static void cutPoints(const std::string& html,
                          const std::function<bool(size_t end, const std::vector<OpenTag>& open)>& atCut);

    // The length of the shortest prefix of `html` that is at least `budget`
    // bytes long and ends right after the end tag of a block ("</p>",
    // "</div>", "</section>" ...) where a cut changes nothing before it;
    // html.size() when there is no such place.
    static size_t cut(const std::string& html, size_t budget);

    // Bytes of text (outside tags, white space not counted) in html[0, end),
    // or in html[begin, end) where `begin` lies outside any tag.
    static size_t textSize(const std::string& html, size_t end) { return textSize(html, 0, end); }
    static size_t textSize(const std::string& html, size_t begin, size_t end);

    // Whether an element of `html` with this id starts before byte `end`.
    static bool holdsId(const std::string& html, const std::string& id, size_t end);

    // Whether style text (a sheet, or a page with its style blocks and
    // attributes) has rules that make a box depend on what follows it.
    static bool looksAhead(const char* css, size_t size);
    static bool looksAhead(const std::string& css) { return looksAhead(css.data(), css.size()); }
};

} // namespace tf
