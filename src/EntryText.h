#pragma once

#include <string>

namespace tf {

// The readable text of one book entry, taken from its markup by the HTML
// parser the engine uses, without style or layout: the text of the body in
// document order. Runs of HTML white space become one space; where a block
// (paragraph, heading, list item, table cell, section, ...) starts or ends
// there is one line break instead, so that nothing matches across blocks.
// Inline elements add nothing, so a phrase spans <em> and kin. Left out: the
// head, scripts, style sheets, templates, ruby readings (rt, rp) and the titles
// and descriptions of SVG pictures. The markup is bounded by HtmlGuard first,
// as for display.
//
// A "character" of this text, and every offset into it, is one Unicode code point.
class EntryText {
public:
    static std::u32string extract(const std::string& markup);
};

} // namespace tf
