#pragma once

#include <gumbo.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// How the engine's parser builds a page: its deepest element, its errors and
// its nodes.
struct ParsedPage {
    int depth = 0;
    unsigned errors = 0;
    long nodes = 0;
};

inline ParsedPage parsePage(const std::string& html) {
    ParsedPage p;
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, html.c_str(), std::strlen(html.c_str()));
    std::vector<std::pair<const GumboNode*, int>> stack{{out->root, 1}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        ++p.nodes;
        p.depth = std::max(p.depth, depth);
        if (node->type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboVector& children = node->v.element.children;
        for (unsigned i = 0; i < children.length; ++i)
            stack.emplace_back(static_cast<const GumboNode*>(children.data[i]), depth + 1);
    }
    p.errors = out->errors.length;
    gumbo_destroy_output(&kGumboDefaultOptions, out);
    return p;
}
