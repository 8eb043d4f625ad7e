#include "readers/FB2Repair.h"

#include <cstring>
#include <unordered_set>
#include <vector>

#include <utf8proc.h>

namespace tf {

namespace {

bool isNameStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool startsWith(const std::string& s, size_t i, const char* prefix) {
    return s.compare(i, std::strlen(prefix), prefix) == 0;
}

// Length of the character reference or predefined entity at `i` ("&...;"),
// 0 when there is none the XML parser takes.
size_t referenceAt(const std::string& s, size_t i) {
    const size_t n = s.size();
    size_t k = i + 1;
    if (k < n && s[k] == '#') {
        ++k;
        const bool hex = k < n && (s[k] == 'x' || s[k] == 'X');
        if (hex)
            ++k;
        const size_t digits = k;
        unsigned long code = 0;
        while (k < n && k - digits < 8) {
            const char c = s[k];
            int v = -1;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            if (v < 0)
                break;
            code = code * (hex ? 16 : 10) + static_cast<unsigned long>(v);
            ++k;
        }
        if (k == digits || k >= n || s[k] != ';')
            return 0;
        const bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code < 0xD800) ||
                             (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
        return allowed ? k + 1 - i : 0;
    }
    for (const char* name : {"amp;", "lt;", "gt;", "quot;", "apos;"})
        if (startsWith(s, k, name))
            return 1 + std::strlen(name);
    return 0;
}

class Repairer {
public:
    Repairer(const std::string& in, FB2Repair::Report& report) : s(in), n(in.size()), r(report) {
        out.reserve(n + n / 64);
    }

    std::string run() {
        size_t i = 0;
        if (startsWith(s, 0, "\xEF\xBB\xBF"))
            i = 3;
        while (i < n && !m_done) {
            const char c = s[i];
            if (c == '<')
                i = markup(i);
            else if (c == '&')
                i = ampersand(i, out);
            else
                i = text(i);
        }
        while (!m_stack.empty()) {
            closeTop();
            ++r.closedElements;
        }
        return std::move(out);
    }

private:
    bool inRoot() const { return !m_stack.empty(); }

    size_t text(size_t i) {
        size_t k = i;
        while (k < n && s[k] != '<' && s[k] != '&')
            ++k;
        if (inRoot()) {
            for (size_t j = i; j < k; ++j)
                if (s[j] != '\0')
                    out.push_back(s[j]);
        }
        return k;
    }

    size_t ampersand(size_t i, std::string& to) {
        const size_t ref = referenceAt(s, i);
        if (ref) {
            if (inRoot() || &to != &out)
                to.append(s, i, ref);
            return i + ref;
        }
        if (inRoot() || &to != &out) {
            to.append("&amp;");
            ++r.escapedAmpersands;
        }
        return i + 1;
    }

    void closeTop() {
        out.append("</").append(m_stack.back()).append(">");
        m_stack.pop_back();
        if (m_stack.empty())
            m_done = true;  // nothing after the root element belongs to the document
    }

    // The next `pattern` at or after `from`. The scan only moves forward, so
    // a search once made answers all later ones up to what it found: no
    // input costs more than one pass per pattern.
    size_t find(const char* pattern, size_t from) {
        for (Cached& c : m_cache) {
            if (std::strcmp(c.pattern, pattern) != 0)
                continue;
            if (c.from <= from && (c.at == std::string::npos || c.at >= from))
                return c.at;
            c.from = from;
            c.at = s.find(pattern, from);
            return c.at;
        }
        m_cache.push_back({pattern, from, s.find(pattern, from)});
        return m_cache.back().at;
    }

    size_t skipPast(size_t from, const char* end) {
        const size_t at = find(end, from);
        return at == std::string::npos ? std::string::npos : at + std::strlen(end);
    }

    size_t markup(size_t i) {
        if (startsWith(s, i, "<!--")) {
            const size_t end = skipPast(i + 4, "-->");
            if (end == std::string::npos)
                return n;  // a comment the cut left open
            out.append(s, i, end - i);
            return end;
        }
        if (startsWith(s, i, "<![CDATA[")) {
            const size_t end = skipPast(i + 9, "]]>");
            if (end != std::string::npos) {
                if (inRoot())
                    out.append(s, i, end - i);
                return end;
            }
            if (inRoot())
                escapeText(i + 9, n);
            return n;
        }
        if (startsWith(s, i, "<!")) {
            // A document type declaration, or something like one: not kept.
            const size_t end = find(">", i);
            return end == std::string::npos ? n : end + 1;
        }
        if (startsWith(s, i, "<?"))
            return instruction(i);
        if (startsWith(s, i, "</"))
            return endTag(i);
        if (i + 1 < n && isNameStart(static_cast<unsigned char>(s[i + 1])))
            return startTag(i);
        if (inRoot()) {
            out.append("&lt;");
            ++r.escapedBrackets;
        }
        return i + 1;
    }

    void escapeText(size_t a, size_t b) {
        for (size_t k = a; k < b; ++k) {
            if (s[k] == '<')
                out.append("&lt;");
            else if (s[k] == '&')
                out.append("&amp;");
            else if (s[k] != '\0')
                out.push_back(s[k]);
        }
    }

    size_t instruction(size_t i) {
        const bool named = i + 2 < n && isNameStart(static_cast<unsigned char>(s[i + 2]));
        if (named && out.empty() && !m_declared && startsWith(s, i, "<?xml") && i + 5 < n &&
            isSpace(static_cast<unsigned char>(s[i + 5]))) {
            // The reader has made the text UTF-8; a declaration of its own
            // cannot be damaged.
            const size_t end = skipPast(i + 5, "?>");
            m_declared = true;
            out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
            return end == std::string::npos ? n : end;
        }
        ++r.droppedInstructions;
        if (!named) {
            // "<?>" and kin in the text: not an instruction, and not text.
            return i + 2 < n && s[i + 2] == '>' ? i + 3 : i + 2;
        }
        const size_t end = skipPast(i + 2, "?>");
        const size_t gt = find(">", i + 2);
        if (end != std::string::npos && end <= find("<", i + 2))
            return end;
        return gt == std::string::npos ? n : gt + 1;
    }

    size_t name(size_t i) const {
        while (i < n && isNameChar(static_cast<unsigned char>(s[i])))
            ++i;
        return i;
    }

    size_t endTag(size_t i) {
        const size_t a = i + 2;
        const size_t b = name(a);
        size_t k = b;
        while (k < n && s[k] != '>' && s[k] != '<')
            ++k;
        const size_t next = k < n && s[k] == '>' ? k + 1 : k;
        if (b == a) {
            ++r.droppedEndTags;
            return next;
        }
        const std::string tag = s.substr(a, b - a);
        size_t depth = m_stack.size();
        while (depth > 0 && m_stack[depth - 1] != tag)
            --depth;
        if (depth == 0) {
            ++r.droppedEndTags;
            return next;
        }
        while (m_stack.size() > depth) {
            closeTop();
            ++r.closedElements;
        }
        closeTop();
        return next;
    }

    size_t startTag(size_t i) {
        const size_t a = i + 1;
        const size_t b = name(a);
        const std::string tag = s.substr(a, b - a);
        std::string attrs;
        std::unordered_set<std::string> seen;
        size_t k = b;
        bool empty = false;
        while (k < n) {
            const unsigned char c = static_cast<unsigned char>(s[k]);
            if (isSpace(c)) {
                ++k;
                continue;
            }
            if (c == '>') {
                ++k;
                break;
            }
            if (c == '<')
                break;  // the tag was never finished
            if (c == '/') {
                if (k + 1 < n && s[k + 1] == '>') {
                    empty = true;
                    k += 2;
                    break;
                }
                ++k;
                continue;
            }
            if (!isNameStart(c)) {
                ++k;
                continue;
            }
            const size_t na = k;
            k = name(k);
            const std::string attr = s.substr(na, k - na);
            while (k < n && isSpace(static_cast<unsigned char>(s[k])))
                ++k;
            std::string value;
            if (k < n && s[k] == '=') {
                ++k;
                while (k < n && isSpace(static_cast<unsigned char>(s[k])))
                    ++k;
                k = attributeValue(k, value);
            }
            if (seen.insert(attr).second)
                attrs.append(" ").append(attr).append("=\"").append(value).append("\"");
        }
        if (m_stack.empty() && m_rootSeen)
            return k;
        m_rootSeen = true;
        r.sawRoot = true;
        out.append("<").append(tag).append(attrs).append(empty ? "/>" : ">");
        if (!empty)
            m_stack.push_back(tag);
        else if (m_stack.empty())
            m_done = true;
        return k;
    }

    // A quoted value up to its quote (or, with none, up to the tag's end);
    // an unquoted one up to white space or the tag's end. Escaped for "...".
    size_t attributeValue(size_t k, std::string& value) {
        size_t end = k;
        size_t next = k;
        if (k < n && (s[k] == '"' || s[k] == '\'')) {
            const size_t close = find(s[k] == '"' ? "\"" : "'", k + 1);
            const size_t gt = find(">", k + 1);
            if (close != std::string::npos && (close < find("<", k + 1) || close < gt)) {
                end = close;
                next = close + 1;
            } else {
                end = gt == std::string::npos ? n : gt;
                next = end;
            }
            ++k;
        } else {
            while (end < n && !isSpace(static_cast<unsigned char>(s[end])) && s[end] != '>' && s[end] != '<')
                ++end;
            next = end;
        }
        for (size_t j = k; j < end;) {
            const char c = s[j];
            if (c == '&') {
                j = ampersand(j, value);
                continue;
            }
            if (c == '<')
                value.append("&lt;");
            else if (c == '"')
                value.append("&quot;");
            else if (c != '\0')
                value.push_back(c);
            ++j;
        }
        return next;
    }

    const std::string& s;
    const size_t n;
    FB2Repair::Report& r;
    std::string out;
    std::vector<std::string> m_stack;
    struct Cached {
        const char* pattern;
        size_t from;
        size_t at;
    };
    std::vector<Cached> m_cache;
    bool m_rootSeen = false;
    bool m_done = false;
    bool m_declared = false;
};

} // namespace

std::string FB2Repair::repair(const std::string& bytes, Report* report) {
    Report local;
    return Repairer(bytes, report ? *report : local).run();
}

namespace {

// Multi-byte sequences in `bytes` that are valid UTF-8, and bytes that start
// none; with `firstInvalid`, the count ends at the first of those.
void countUtf8(const std::string& bytes, long& valid, long& invalid, bool firstInvalid) {
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(bytes.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(bytes.size());
    valid = invalid = 0;
    while (left > 0) {
        if (*p < 0x80) {
            ++p;
            --left;
            continue;
        }
        utf8proc_int32_t code;
        const utf8proc_ssize_t used = utf8proc_iterate(p, left, &code);
        if (used <= 0 || code < 0) {
            ++invalid;
            if (firstInvalid)
                return;
            ++p;
            --left;
            continue;
        }
        ++valid;
        p += used;
        left -= used;
    }
}

} // namespace

bool FB2Repair::isUtf8(const std::string& bytes) {
    long valid, invalid;
    countUtf8(bytes, valid, invalid, true);
    return invalid == 0;
}

bool FB2Repair::mostlyNotUtf8(const std::string& bytes) {
    long valid, invalid;
    countUtf8(bytes, valid, invalid, false);
    return invalid > valid;
}

bool FB2Repair::hasNonAscii(const std::string& bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    return false;
}

} // namespace tf
