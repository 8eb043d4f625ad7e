#include "src/EntryText.h"

#include <gumbo.h>

#include <cstring>
#include <vector>

#include "src/HtmlGuard.h"
#include "utility/FoldedText.h"

namespace tf {

namespace {

bool isBlock(GumboTag tag, const char* name) {
    switch (tag) {
    case GUMBO_TAG_ADDRESS: case GUMBO_TAG_ARTICLE: case GUMBO_TAG_ASIDE: case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_BODY: case GUMBO_TAG_CAPTION: case GUMBO_TAG_CENTER: case GUMBO_TAG_DD:
    case GUMBO_TAG_DETAILS: case GUMBO_TAG_DIR: case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL: case GUMBO_TAG_DT: case GUMBO_TAG_FIELDSET: case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE: case GUMBO_TAG_FOOTER: case GUMBO_TAG_FORM: case GUMBO_TAG_H1:
    case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4: case GUMBO_TAG_H5: case GUMBO_TAG_H6:
    case GUMBO_TAG_HEADER: case GUMBO_TAG_HGROUP: case GUMBO_TAG_HR: case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LI: case GUMBO_TAG_MAIN: case GUMBO_TAG_MENU: case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL: case GUMBO_TAG_P: case GUMBO_TAG_PRE: case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY: case GUMBO_TAG_TABLE: case GUMBO_TAG_TBODY: case GUMBO_TAG_TD:
    case GUMBO_TAG_TFOOT: case GUMBO_TAG_TH: case GUMBO_TAG_THEAD: case GUMBO_TAG_TR:
    case GUMBO_TAG_UL: case GUMBO_TAG_LISTING: case GUMBO_TAG_PLAINTEXT: case GUMBO_TAG_XMP:
        return true;
    case GUMBO_TAG_UNKNOWN:
        // FictionBook's own block names, when an entry keeps them.
        for (const char* block : {"section", "title", "subtitle", "epigraph", "poem", "stanza", "v",
                                  "text-author", "cite", "annotation", "empty-line", "dialog"}) {
            if (name && std::strcmp(name, block) == 0)
                return true;
        }
        return false;
    default:
        return false;
    }
}

bool isSkipped(const GumboElement& el) {
    switch (el.tag) {
    case GUMBO_TAG_HEAD: case GUMBO_TAG_SCRIPT: case GUMBO_TAG_STYLE: case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_RT: case GUMBO_TAG_RP:
        return true;
    case GUMBO_TAG_TITLE: // never shown, in a head or a picture
        return true;
    case GUMBO_TAG_DESC:
        return el.tag_namespace == GUMBO_NAMESPACE_SVG;
    default:
        return el.tag_namespace == GUMBO_NAMESPACE_MATHML && el.tag == GUMBO_TAG_ANNOTATION_XML;
    }
}

class Collector {
public:
    explicit Collector(size_t reserve) { m_text.reserve(reserve); }

    void text(const char* utf8, size_t length) {
        const std::u32string chars = FoldedText::decode(std::string(utf8, length));
        for (char32_t c : chars) {
            if (c == U' ' || c == U'\n' || c == U'\t' || c == U'\r' || c == U'\f') {
                m_space = true;
                continue;
            }
            if (!m_text.empty()) {
                if (m_break)
                    m_text.push_back(U'\n');
                else if (m_space)
                    m_text.push_back(U' ');
            }
            m_break = m_space = false;
            m_text.push_back(c);
        }
    }
    void space() { m_space = true; }
    void blockEdge() { m_break = true; }
    std::u32string take() {
        // Reserved for the worst case; the text of a page is kept (a book's text cache).
        m_text.shrink_to_fit();
        return std::move(m_text);
    }

private:
    std::u32string m_text;
    bool m_space = false;
    bool m_break = false;
};

} // namespace

std::u32string EntryText::extract(const std::string& markup) {
    std::string bounded;
    const std::string& page = HtmlGuard::bound(markup, bounded) ? bounded : markup;
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.c_str(), page.size());
    if (!output)
        return std::u32string();
    Collector out(page.size() / 2);
    // Walked with a stack of our own: nesting depth comes from the book.
    struct Step {
        const GumboNode* node;
        unsigned next; // the child to visit next
    };
    std::vector<Step> stack;
    stack.push_back({output->root, 0});
    while (!stack.empty()) {
        Step& step = stack.back();
        const GumboNode* node = step.node;
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) {
            if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_CDATA ||
                node->type == GUMBO_NODE_WHITESPACE)
                out.text(node->v.text.text, std::strlen(node->v.text.text));
            stack.pop_back();
            continue;
        }
        const GumboElement& el = node->v.element;
        const char* name = el.tag == GUMBO_TAG_UNKNOWN ? nullptr : gumbo_normalized_tagname(el.tag);
        std::string unknownName;
        if (el.tag == GUMBO_TAG_UNKNOWN && el.original_tag.data && el.original_tag.length > 1) {
            // "<name ...": the name as written, for FictionBook's block names.
            GumboStringPiece piece = el.original_tag;
            gumbo_tag_from_original_text(&piece);
            unknownName.assign(piece.data, piece.length);
            for (char& c : unknownName)
                c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            name = unknownName.c_str();
        }
        if (step.next == 0) {
            if (isSkipped(el)) {
                stack.pop_back();
                continue;
            }
            if (isBlock(el.tag, name))
                out.blockEdge();
            else if (el.tag == GUMBO_TAG_BR || el.tag == GUMBO_TAG_IMG)
                out.space();
        }
        if (step.next < el.children.length) {
            const auto* child = static_cast<const GumboNode*>(el.children.data[step.next++]);
            stack.push_back({child, 0});
            continue;
        }
        if (isBlock(el.tag, name))
            out.blockEdge();
        stack.pop_back();
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return out.take();
}

} // namespace tf
