#include "engine-additions/TextRange.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace tf {

namespace {

// A page may place boxes near the ends of the engine's int coordinates (a
// margin of two billion pixels): offsets summed down the tree stay at the end.
int offset(int a, int b) {
    const long long sum = static_cast<long long>(a) + b;
    return static_cast<int>(std::clamp<long long>(sum, INT_MIN, INT_MAX));
}

} // namespace

void create_range(const litehtml::element::ptr& el, text_range_t& ranges, int x, int y) {
    if (!el)
        return;
    // An explicit stack: the walk must not add to the call depth a hostile
    // nesting already costs the engine.
    struct Item {
        litehtml::element::ptr el;
        int x, y;
    };
    std::vector<Item> stack;
    stack.push_back({el, x, y});
    while (!stack.empty()) {
        Item item = std::move(stack.back());
        stack.pop_back();
        // The engine paints nothing below an element that is not visible (its
        // text runs do not inherit the visibility), so the walk skips it whole.
        if (!item.el->is_visible())
            continue;
        const litehtml::position& own = item.el->get_position();
        if (item.el->get_display() == litehtml::display_inline_text) {
            ranges.emplace_back(item.el,
                                litehtml::position(offset(item.x, own.x), offset(item.y, own.y), own.width, own.height));
            continue;
        }
        const size_t count = item.el->get_children_count();
        // Children go on the stack in reverse so they come off in document order.
        for (size_t i = count; i-- > 0;) {
            auto child = item.el->get_child(static_cast<int>(i));
            if (child)
                stack.push_back({std::move(child), offset(item.x, own.x), offset(item.y, own.y)});
        }
    }
}

int create_range(const litehtml::document::ptr& doc, text_range_t& ranges) {
    if (!doc || !doc->root())
        return 0;
    create_range(doc->root(), ranges, 0, 0);
    return static_cast<int>(ranges.size());
}

std::string run_text(const TextNode& node) {
    std::string text;
    if (node.element)
        node.element->get_text(text);
    return text;
}

} // namespace tf
