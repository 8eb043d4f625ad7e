#pragma once

#include <vector>

#include <litehtml.h>

namespace tf {

// One visible text run (a word or a space) of a laid-out document with its
// box in document coordinates. It keeps its element alive, so a record that
// outlives its document stays safe to read, though its box is then stale.
struct TextNode {
    TextNode() = default;
    TextNode(litehtml::element::ptr el, const litehtml::position& box) : element(std::move(el)), pos(box) {}

    litehtml::element::ptr element;
    litehtml::position pos;
    bool marked = false;
};

using text_range_t = std::vector<TextNode>;

// Appends every visible text run below `el` in document order; `x`, `y` is the
// document position of `el`'s parent content box. Elements that are not
// visible (display none, visibility hidden, skipped) contribute nothing, their
// descendants included: exactly the runs the engine paints.
void create_range(const litehtml::element::ptr& el, text_range_t& ranges, int x, int y);

// The runs of a whole document, appended to `ranges`; returns the size of
// `ranges` afterwards, 0 and nothing appended for a document without a root.
int create_range(const litehtml::document::ptr& doc, text_range_t& ranges);

// The text of one run (UTF-8).
std::string run_text(const TextNode& node);

} // namespace tf
