#include "readers/xhtml/XmlDoc.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <vector>

#include "readers/xhtml/XmlPrint.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

using node_t = rapidxml::xml_node<char>;

bool is_ws(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The character classes of rapidxml's lookup tables.
bool is_name_char(unsigned char c) {
    return c && !is_ws(c) && c != '/' && c != '>' && c != '?';
}

bool is_attribute_name_char(unsigned char c) {
    return c && !is_ws(c) && c != '!' && c != '/' && c != '<' && c != '=' && c != '>' && c != '?';
}

// Walks the markup the way rapidxml's parser does, counting open elements, and answers
// whether the nesting stays within `limit`. rapidxml recurses once per level, so a
// document deeper than that must be refused before it is parsed. Where rapidxml would
// stop with an error the walk stops as well: the parse fails at that point anyway.
class NestingScan {
public:
    explicit NestingScan(const char* text) : p(reinterpret_cast<const unsigned char*>(text)) {}

    bool within(int limit) {
        if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
            p += 3;
        int depth = 0;
        for (;;) {
            if (depth == 0) {
                skip_ws();
                if (*p != '<')
                    return true; // end of text, or rapidxml's "expected <"
                ++p;
            } else {
                // Text runs to the next '<'; entity references never hide one.
                const char* lt = std::strchr(reinterpret_cast<const char*>(p), '<');
                if (!lt)
                    return true;
                p = reinterpret_cast<const unsigned char*>(lt);
                if (p[1] == '/') {
                    p += 2;
                    while (is_name_char(*p))
                        ++p;
                    skip_ws();
                    if (*p != '>')
                        return true;
                    ++p;
                    --depth;
                    continue;
                }
                ++p;
            }
            switch (node()) {
            case Node::Opened:
                if (++depth > limit)
                    return false;
                break;
            case Node::Closed:
                break;
            case Node::Error:
                return true;
            }
        }
    }

private:
    enum class Node { Opened, Closed, Error };

    void skip_ws() {
        while (is_ws(*p))
            ++p;
    }

    bool skip_past(const char* end) {
        const size_t n = std::strlen(end);
        for (; *p; ++p) {
            if (std::strncmp(reinterpret_cast<const char*>(p), end, n) == 0) {
                p += n;
                return true;
            }
        }
        return false;
    }

    bool attributes() {
        while (is_attribute_name_char(*p)) {
            while (is_attribute_name_char(*p))
                ++p;
            skip_ws();
            if (*p != '=')
                return false;
            ++p;
            skip_ws();
            const unsigned char quote = *p;
            if (quote != '\'' && quote != '"')
                return false;
            ++p;
            while (*p && *p != quote)
                ++p;
            if (*p != quote)
                return false;
            ++p;
            skip_ws();
        }
        return true;
    }

    bool doctype() {
        while (*p != '>') {
            if (!*p)
                return false;
            if (*p != '[') {
                ++p;
                continue;
            }
            ++p;
            for (int brackets = 1; brackets > 0; ++p) {
                if (!*p)
                    return false;
                if (*p == '[')
                    ++brackets;
                else if (*p == ']')
                    --brackets;
            }
        }
        ++p;
        return true;
    }

    // One node, just after its '<'.
    Node node() {
        const char* s = reinterpret_cast<const char*>(p);
        if (*p == '?') {
            ++p;
            if ((p[0] | 0x20) == 'x' && (p[1] | 0x20) == 'm' && (p[2] | 0x20) == 'l' && is_ws(p[3])) {
                p += 4;
                skip_ws();
                if (!attributes() || p[0] != '?' || p[1] != '>')
                    return Node::Error;
                p += 2;
                return Node::Closed;
            }
            return skip_past("?>") ? Node::Closed : Node::Error;
        }
        if (*p == '!') {
            if (p[1] == '-' && p[2] == '-') {
                p += 3;
                return skip_past("-->") ? Node::Closed : Node::Error;
            }
            if (std::strncmp(s + 1, "[CDATA[", 7) == 0) {
                p += 8;
                return skip_past("]]>") ? Node::Closed : Node::Error;
            }
            if (std::strncmp(s + 1, "DOCTYPE", 7) == 0 && is_ws(p[8])) {
                p += 9;
                return doctype() ? Node::Closed : Node::Error;
            }
            ++p;
            while (*p && *p != '>')
                ++p;
            if (!*p)
                return Node::Error;
            ++p;
            return Node::Closed;
        }
        if (!is_name_char(*p))
            return Node::Error;
        while (is_name_char(*p))
            ++p;
        skip_ws();
        if (!attributes())
            return Node::Error;
        if (*p == '>') {
            ++p;
            return Node::Opened;
        }
        if (p[0] == '/' && p[1] == '>') {
            p += 2;
            return Node::Closed;
        }
        return Node::Error;
    }

    const unsigned char* p;
};

std::string declaration(const std::string& encoding) {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n";
}

// Converts all of `in`; false when the converter gives up. The output grows as needed,
// so a conversion never ends early for want of room.
bool convert(iconv_t cd, const std::string& in, std::string& out) {
    std::vector<char> input(in.begin(), in.end());
    char* ip = input.data();
    size_t il = input.size();
    std::vector<char> buffer(in.size() * 2 + 64);
    size_t used = 0;
    // Input first, then a call without input for any closing shift sequence.
    bool flushing = false;
    for (;;) {
        if (!flushing && il == 0)
            flushing = true;
        char* op = buffer.data() + used;
        size_t ol = buffer.size() - used;
        const char* ip_before = ip;
        const size_t r = flushing ? iconv(cd, nullptr, nullptr, &op, &ol) : iconv(cd, &ip, &il, &op, &ol);
        const int error = errno;
        const bool progress = ip != ip_before || op != buffer.data() + used;
        used = static_cast<size_t>(op - buffer.data());
        if (r != static_cast<size_t>(-1)) {
            if (flushing)
                break;
            continue;
        }
        if (error == E2BIG) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (!flushing && error == EILSEQ && (progress || il == 0)) {
            // With //IGNORE glibc drops what it cannot convert, yet may stop early and
            // report EILSEQ; the next call carries on where it stopped.
            continue;
        }
        if (!flushing && error == EINVAL) {
            // An incomplete character at the very end is dropped like any unconvertible one.
            il = 0;
            continue;
        }
        errno = error;
        return false;
    }
    out.assign(buffer.data(), used);
    return true;
}

} // namespace

XmlDoc::XmlDoc(const std::string& text) : m_source(text) {
    if (!parse())
        TF_LOG(LOG_ERROR, "Error parsing xml string");
}

XmlDoc::XmlDoc(std::string&& text) : m_source(std::move(text)) {
    if (!parse())
        TF_LOG(LOG_ERROR, "Error parsing xml string");
}

bool XmlDoc::parse() {
    bool parsed = NestingScan(m_source.c_str()).within(kMaxDepth);
    if (parsed) {
        try {
            m_document.parse<rapidxml::parse_declaration_node>(&m_source[0]);
        } catch (const rapidxml::parse_error&) {
            parsed = false;
        } catch (const std::exception&) {
            parsed = false;
        }
    }
    if (!parsed) {
        m_document.clear(); // nodes a failed parse left behind
        return false;
    }

    node_t* first = m_document.first_node();
    m_firstNode.reset(new XmlNodeRef(first, this));
    if (!first)
        return true;
    // The document element, whether or not a declaration comes before it.
    node_t* root = first;
    while (root && root->type() != rapidxml::node_element)
        root = root->next_sibling();
    m_rootNode.reset(new XmlNodeRef(root, this));
    return true;
}

XmlDoc::~XmlDoc() = default;

std::string XmlDoc::encoding() const {
    if (!m_firstNode || m_firstNode->isEmpty() ||
        m_firstNode->getNode()->type() != rapidxml::node_declaration)
        return std::string();
    return m_firstNode->attribute("encoding");
}

std::string XmlDoc::str() const {
    std::string out;
    if (m_rootNode && !m_rootNode->isEmpty())
        rapidxml::print(std::back_inserter(out), *m_rootNode->getNode(), 0);
    return out;
}

XmlDoc* XmlDoc::copy(const std::string& encoding) const {
    const std::string printed = str();
    const std::string from = this->encoding();
    if (encoding.empty() || encoding == from)
        return new XmlDoc(declaration(from) + printed);

    // Without a declaration the text is UTF-8, XML's default.
    iconv_t cd = iconv_open((encoding + "//IGNORE").c_str(), from.empty() ? "UTF-8" : from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::perror("iconv_open");
        return nullptr;
    }
    std::string converted;
    const bool ok = convert(cd, printed, converted);
    const int error = errno;
    iconv_close(cd);
    if (!ok) {
        errno = error;
        std::perror("iconv");
        return nullptr;
    }
    return new XmlDoc(declaration(encoding) + converted);
}

bool XmlDoc::child(XmlNodeRef& out, const std::string& name, const std::string& prefix) const {
    return m_rootNode ? m_rootNode->child(out, name, prefix) : false;
}

bool XmlDoc::child(XmlNodeRef& out, int index) const {
    return m_rootNode ? m_rootNode->child(out, index) : false;
}

XmlNodeRef XmlDoc::make_node(const std::string& name, const std::string& value, rapidxml::node_type type) {
    char* n = m_document.allocate_string(name.c_str(), name.size() + 1);
    char* v = m_document.allocate_string(value.c_str(), value.size() + 1);
    return XmlNodeRef(m_document.allocate_node(type, n, v, name.size(), value.size()), this);
}

void XmlDoc::remove(XmlNodeRef& node) {
    node_t* n = node.getNode();
    if (n && n->parent() == &m_document)
        m_document.remove_node(n);
}

bool XmlDoc::hasFixedViewPort(int* width, int* height) const {
    int w = -1, h = -1;
    XmlNodeRef head(const_cast<XmlDoc*>(this));
    if (child(head, "head")) {
        for (int i = 0; i < head.elements(); ++i) {
            XmlNodeRef meta(const_cast<XmlDoc*>(this));
            head.child(meta, i);
            if (meta.name() != "meta" || meta.attribute("name") != "viewport")
                continue;
            std::string content = meta.attribute("content");
            for (const std::string& piece : explode(str2lower(trim(content)), ',')) {
                const bool has_width = piece.find("width") != std::string::npos;
                const bool has_height = piece.find("height") != std::string::npos;
                if (!has_width && !has_height)
                    continue;
                std::vector<std::string> kv = explode(piece, '=');
                if (kv.size() != 2)
                    continue;
                const int value = str2int(trim(kv[1]).c_str());
                if (has_width)
                    w = value;
                if (has_height)
                    h = value;
            }
        }
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
    return w != -1 || h != -1;
}

void XmlDoc::dump() const {
    if (m_rootNode)
        m_rootNode->dump(0);
}

} // namespace tf
