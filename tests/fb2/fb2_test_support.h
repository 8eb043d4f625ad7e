#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <gumbo.h>

#include "readers/xhtml/XmlDoc.h"
#include "utility/text.h"

inline void write_bytes(const std::string& path, const std::string& bytes) {
    ASSERT_EQ(tf::file_put_contents(path, reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                                    static_cast<long>(bytes.size())),
              static_cast<long>(bytes.size()));
}

inline std::string without_space(const std::string& text) {
    std::string out;
    for (char c : text)
        if (!tf::is_space(c))
            out += c;
    return out;
}

// Every text below `node`, in document order.
inline void collect_text(const rapidxml::xml_node<char>* node, std::string& out) {
    for (const rapidxml::xml_node<char>* n = node->first_node(); n; n = n->next_sibling()) {
        if (n->type() == rapidxml::node_data || n->type() == rapidxml::node_cdata)
            out.append(n->value(), n->value_size());
        else if (n->type() == rapidxml::node_element)
            collect_text(n, out);
    }
}

// The body element of a page that the XML parser accepts; null otherwise.
inline const rapidxml::xml_node<char>* page_body(const tf::XmlDoc& doc) {
    tf::XmlNodeRef* root = doc.root_node();
    if (!root || root->isEmpty() || root->name() != "html")
        return nullptr;
    return root->getNode()->first_node("body");
}

// Walks the elements of a page as an HTML5 parser (the engine's) builds them.
inline void walk_html(const GumboNode* node, const std::function<void(const GumboNode*)>& visit) {
    visit(node);
    if (node->type != GUMBO_NODE_ELEMENT)
        return;
    const GumboVector& children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i)
        walk_html(static_cast<const GumboNode*>(children.data[i]), visit);
}

inline std::string gumbo_tag(const GumboNode* node) {
    if (node->type != GUMBO_NODE_ELEMENT)
        return "";
    if (node->v.element.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(node->v.element.tag);
    GumboStringPiece piece = node->v.element.original_tag;
    gumbo_tag_from_original_text(&piece);
    return std::string(piece.data, piece.length);
}

// Text of the page as the engine's HTML parser sees it, and whether any element that
// the parser reads as raw text or keeps open ("<x/>") swallowed part of the book.
struct HtmlView {
    std::string text;
    int raw_text_elements = 0;      // title, style, script ... inside the body
    int nonempty_empty_lines = 0;   // empty-line elements that ended up holding content
};

inline HtmlView html_view(const std::string& page) {
    HtmlView view;
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    walk_html(out->root, [&](const GumboNode* n) {
        if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA) {
            const GumboNode* parent = n->parent;
            bool in_head = false;
            for (const GumboNode* p = parent; p; p = p->parent)
                in_head = in_head || (p->type == GUMBO_NODE_ELEMENT && p->v.element.tag == GUMBO_TAG_HEAD);
            if (!in_head)
                view.text += n->v.text.text;
            return;
        }
        if (n->type != GUMBO_NODE_ELEMENT)
            return;
        std::string tag = gumbo_tag(n);
        bool in_body = false;
        for (const GumboNode* p = n->parent; p; p = p->parent)
            in_body = in_body || (p->type == GUMBO_NODE_ELEMENT && p->v.element.tag == GUMBO_TAG_BODY);
        if (in_body && (tag == "title" || tag == "style" || tag == "script" || tag == "textarea"))
            ++view.raw_text_elements;
        if (tag == "empty-line" && n->v.element.children.length > 0)
            ++view.nonempty_empty_lines;
    });
    gumbo_destroy_output(&kGumboDefaultOptions, out);
    return view;
}
