#include "src/NoteExtract.h"

#include <gumbo.h>

#include <cctype>
#include <cstring>
#include <sstream>
#include <vector>

#include "src/HtmlGuard.h"
#include "utility/text.h"

namespace tf {

namespace {

bool hasWord(const std::string& list, const char* word) {
    std::istringstream words(list);
    std::string w;
    while (words >> w)
        if (str2lower(w) == word)
            return true;
    return false;
}

const char* attrOf(const GumboNode* node, const char* name) {
    if (node->type != GUMBO_NODE_ELEMENT)
        return nullptr;
    const GumboAttribute* a = gumbo_get_attribute(&node->v.element.attributes, name);
    return a ? a->value : nullptr;
}

std::string tagName(const GumboNode* node) {
    if (node->type != GUMBO_NODE_ELEMENT)
        return std::string();
    if (node->v.element.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(node->v.element.tag);
    // Unknown tags (FictionBook's own): the name as written.
    GumboStringPiece piece = node->v.element.original_tag;
    gumbo_tag_from_original_text(&piece);
    return str2lower(std::string(piece.data, piece.length));
}

bool isHeading(const std::string& tag) {
    return tag.size() == 2 && tag[0] == 'h' && tag[1] >= '1' && tag[1] <= '6';
}

// Elements that hold a note whole.
bool isBlock(const std::string& tag) {
    static const char* const blocks[] = {"p",     "li",      "aside",  "section", "div",    "dd",
                                         "dt",    "blockquote", "footer", "article", "td",  "note",
                                         "table", "ol",      "ul",     "dl",      "figure", "body"};
    for (const char* b : blocks)
        if (tag == b)
            return true;
    return false;
}

bool isTitle(const GumboNode* node) {
    const std::string tag = tagName(node);
    if (isHeading(tag) || tag == "title" || tag == "header")
        return true;
    const char* cls = attrOf(node, "class");
    return cls && hasWord(cls, "title");
}

void escapeInto(std::string& out, const char* text, bool attribute) {
    for (const char* c = text; *c; ++c) {
        switch (*c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"':
            if (attribute) {
                out += "&quot;";
                break;
            }
            out += *c;
            break;
        default: out += *c;
        }
    }
}

// `root` as markup, without the children `skip` (its title); iterative.
std::string serialize(const GumboNode* root, const GumboNode* skip) {
    static const char* const voids[] = {"br", "img", "hr", "image", "col", "wbr", "input", "source"};
    auto isVoid = [](const std::string& tag) {
        for (const char* v : voids)
            if (tag == v)
                return true;
        return false;
    };
    std::string out;
    struct Frame {
        const GumboNode* node;
        bool closing;
    };
    std::vector<Frame> stack{{root, false}};
    while (!stack.empty() && out.size() < NoteExtract::kMaxNoteBytes) {
        Frame f = stack.back();
        stack.pop_back();
        const GumboNode* n = f.node;
        if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA) {
            escapeInto(out, n->v.text.text, false);
            continue;
        }
        if (n->type != GUMBO_NODE_ELEMENT)
            continue;
        const std::string tag = tagName(n);
        // Scripts and styles of the book have no place in a note.
        if (tag == "script" || tag == "style" || tag.empty())
            continue;
        if (f.closing) {
            out += "</" + tag + ">";
            continue;
        }
        // FictionBook pictures and links carry XLink names; the plain HTML ones say the same.
        const bool picture = tag == "image" || tag == "img";
        out += "<" + std::string(picture ? "img" : tag);
        const GumboVector& attrs = n->v.element.attributes;
        for (unsigned i = 0; i < attrs.length; ++i) {
            const auto* a = static_cast<const GumboAttribute*>(attrs.data[i]);
            std::string name = a->name;
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ":href") == 0)
                name = picture ? "src" : "href";
            // Event handlers would be pointless; names with odd characters could break the tag.
            if (name.compare(0, 2, "on") == 0 ||
                name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_:") != std::string::npos)
                continue;
            out += " " + name + "=\"";
            escapeInto(out, a->value, true);
            out += "\"";
        }
        out += ">";
        if (isVoid(tag))
            continue;
        stack.push_back({n, true});
        const GumboVector& children = n->v.element.children;
        for (unsigned i = children.length; i-- > 0;) {
            const auto* child = static_cast<const GumboNode*>(children.data[i]);
            if (child != skip)
                stack.push_back({child, false});
        }
    }
    return out;
}

} // namespace

bool NoteExtract::markedAsNote(const std::string& epubType, const std::string& role, const std::string& type) {
    return hasWord(epubType, "noteref") || hasWord(role, "doc-noteref") || str2lower(type) == "note";
}

bool NoteExtract::shortMark(const std::string& raw) {
    std::string text;
    for (char c : raw)
        if (!std::isspace(static_cast<unsigned char>(c)))
            text += c;
    if (text.size() >= 2 && ((text.front() == '[' && text.back() == ']') || (text.front() == '(' && text.back() == ')')))
        text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() > 4)
        return false;
    bool digits = true, letters = true;
    for (unsigned char c : text) {
        digits = digits && std::isdigit(c);
        letters = letters && std::isalpha(c);
    }
    return digits || (letters && text.size() <= 2);
}

NoteExtract::Note NoteExtract::extract(const std::string& markup, const std::string& id) {
    Note note;
    if (id.empty() || markup.empty())
        return note;
    // The parser is slow on pages nested or broken beyond reason: it gets the bounded copy the view shows.
    std::string bounded;
    const std::string& page = HtmlGuard::bound(markup, bounded) ? bounded : markup;
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    if (!output)
        return note;
    const GumboNode* target = nullptr;
    std::vector<const GumboNode*> stack{output->root};
    while (!stack.empty() && !target) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        if (n->type != GUMBO_NODE_ELEMENT)
            continue;
        const char* value = attrOf(n, "id");
        if (value && id == value) {
            target = n;
            break;
        }
        const GumboVector& children = n->v.element.children;
        for (unsigned i = children.length; i-- > 0;)
            stack.push_back(static_cast<const GumboNode*>(children.data[i]));
    }
    if (target) {
        note.found = true;
        note.heading = isHeading(tagName(target));
        // An anchor inside a paragraph: the paragraph is the note.
        const GumboNode* element = target;
        while (!note.heading && element->parent && !isBlock(tagName(element)) &&
               element->parent->type == GUMBO_NODE_ELEMENT) {
            element = element->parent;
            note.heading = note.heading || isHeading(tagName(element));
        }
        note.tag = tagName(element);
        // A section's (or aside's) title names the note, it is not its text.
        const GumboNode* skip = nullptr;
        if (note.tag == "section" || note.tag == "aside" || note.tag == "div") {
            const GumboVector& children = element->v.element.children;
            for (unsigned i = 0; i < children.length; ++i) {
                const auto* child = static_cast<const GumboNode*>(children.data[i]);
                if (child->type == GUMBO_NODE_WHITESPACE)
                    continue;
                if (child->type == GUMBO_NODE_ELEMENT && isTitle(child))
                    skip = child;
                break;
            }
        }
        note.html = serialize(element, skip);
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return note;
}

} // namespace tf
