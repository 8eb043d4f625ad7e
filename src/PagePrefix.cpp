#include "src/PagePrefix.h"

#include <algorithm>
#include <cstring>

namespace tf {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Case-insensitive: does s[at..] start with `word` (lower case)?
bool startsWith(const char* s, size_t size, size_t at, const char* word) {
    const size_t n = std::strlen(word);
    if (at + n > size)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (lower(s[at + i]) != word[i])
            return false;
    return true;
}

bool among(const std::string& name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (name == n)
            return true;
    return false;
}

// Elements whose content the parser reads as text up to their end tag.
bool rawText(const std::string& name) {
    return among(name, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"});
}

// Blocks after whose end tag a cut may fall (FictionBook's own names too).
bool cutPoint(const std::string& name) {
    return among(name, {"p",        "div",     "section",    "article", "aside",    "header",     "footer",
                        "nav",      "main",    "blockquote", "figure",  "h1",       "h2",         "h3",
                        "h4",       "h5",      "h6",         "pre",     "table",    "ul",         "ol",
                        "dl",       "address", "center",     "subtitle", "epigraph", "poem",      "stanza",
                        "v",        "cite",    "text-author", "annotation"});
}

// Content whose layout depends on all of it: no cut inside.
bool wholeOnly(const std::string& name) {
    return among(name, {"table", "ol", "select", "ruby", "template", "svg", "math", "frameset"});
}

// Formatting elements: a misnested end tag of one further on makes the parser
// move blocks built before it into a new copy of it.
bool formatting(const std::string& name) {
    return among(name, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt",
                        "u"});
}

// Finds `what` (lower case) case-insensitively from `at`; npos when absent.
// `what` starts with a character that has no case, such as '<'.
size_t findNoCase(const std::string& s, size_t at, const char* what) {
    for (size_t i = s.find(what[0], at); i != std::string::npos; i = s.find(what[0], i + 1))
        if (startsWith(s.data(), s.size(), i, what))
            return i;
    return std::string::npos;
}

// Skips a tag's attributes from `at` (just after its name) to just past its
// '>'; `selfClosing` tells whether it ended in "/>". npos when it never ends.
size_t skipAttributes(const std::string& s, size_t at, bool& selfClosing) {
    selfClosing = false;
    size_t i = at;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '>')
            return i + 1;
        if (c == '/') {
            selfClosing = i + 1 < s.size() && s[i + 1] == '>';
            ++i;
            continue;
        }
        if (space(c)) {
            ++i;
            continue;
        }
        // An attribute: a name, maybe "=" and a value.
        while (i < s.size() && !space(s[i]) && s[i] != '>' && s[i] != '/' && s[i] != '=')
            ++i;
        while (i < s.size() && space(s[i]))
            ++i;
        if (i < s.size() && s[i] == '=') {
            ++i;
            while (i < s.size() && space(s[i]))
                ++i;
            if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
                const size_t close = s.find(s[i], i + 1);
                if (close == std::string::npos)
                    return std::string::npos;
                i = close + 1;
            } else {
                while (i < s.size() && !space(s[i]) && s[i] != '>')
                    ++i;
            }
        }
    }
    return std::string::npos;
}

} // namespace

size_t PagePrefix::textSize(const std::string& html, size_t begin, size_t end) {
    end = std::min(end, html.size());
    size_t count = 0;
    bool inTag = false;
    for (size_t i = begin; i < end; ++i) {
        const char c = html[i];
        if (inTag)
            inTag = c != '>';
        else if (c == '<')
            inTag = true;
        else if (!space(c))
            ++count;
    }
    return count;
}

bool PagePrefix::holdsId(const std::string& html, const std::string& id, size_t end) {
    if (id.empty())
        return false;
    end = std::min(end, html.size());
    for (const char quote : {'"', '\''}) {
        const std::string attr = std::string("id=") + quote + id + quote;
        for (size_t at = html.find(attr); at != std::string::npos && at < end; at = html.find(attr, at + 1)) {
            // "id" as a name of its own, not the end of "data-id" or "xml:id"-like names.
            if (at > 0 && space(html[at - 1]))
                return true;
        }
    }
    return false;
}

namespace {

// Elements that have no end tag and open nothing.
bool isVoid(const std::string& name) {
    return among(name, {"area", "base", "br", "col", "embed", "hr", "img", "image", "input", "link", "meta", "param",
                        "source", "track", "wbr"});
}

// Where the last style sheet (a style block or a linked sheet) starts; 0 for none.
size_t lastSheet(const std::string& s) {
    size_t last = 0;
    for (const char* tag : {"<style", "<link"})
        for (size_t at = findNoCase(s, 0, tag); at != std::string::npos; at = findNoCase(s, at + 1, tag))
            last = std::max(last, at + 1);
    return last;
}

} // namespace

void PagePrefix::cutPoints(const std::string& html,
                           const std::function<bool(size_t end, const std::vector<OpenTag>& open)>& atCut) {
    const std::string& s = html;
    const size_t sheet = lastSheet(s);
    std::vector<OpenTag> stack;
    int whole = 0;   // open elements that allow no cut inside
    int foreign = 0; // SVG or MathML: no raw text, no cut
    int open = 0;    // formatting elements not closed yet
    size_t i = 0;
    while (i < s.size()) {
        const size_t lt = s.find('<', i);
        if (lt == std::string::npos || lt + 1 >= s.size())
            return;
        const char next = s[lt + 1];
        if (next == '!') {
            size_t end;
            if (s.compare(lt, 4, "<!--") == 0) {
                end = s.find("-->", lt + 4);
                end = end == std::string::npos ? end : end + 3;
            } else if (s.compare(lt, 9, "<![CDATA[") == 0) {
                end = s.find("]]>", lt + 9);
                end = end == std::string::npos ? end : end + 3;
            } else {
                end = s.find('>', lt + 2);
                end = end == std::string::npos ? end : end + 1;
            }
            if (end == std::string::npos)
                return;
            i = end;
            continue;
        }
        if (next == '?') {
            const size_t end = s.find('>', lt + 2);
            if (end == std::string::npos)
                return;
            i = end + 1;
            continue;
        }
        const bool endTag = next == '/';
        size_t p = lt + (endTag ? 2 : 1);
        if (p >= s.size() || !letter(s[p])) {
            i = lt + 1; // a bare '<' in text (or "</" with no name, which the parser drops to '>')
            continue;
        }
        std::string name;
        while (p < s.size() && !space(s[p]) && s[p] != '/' && s[p] != '>')
            name += lower(s[p++]);
        bool selfClosing = false;
        const size_t end = skipAttributes(s, p, selfClosing);
        if (end == std::string::npos)
            return;
        i = end;

        if (endTag) {
            // Well-formed pages close the innermost element; a stray end tag is
            // looked for a few levels down only, so a deep stack costs no more.
            for (size_t k = stack.size(); k > 0 && stack.size() - k < 16; --k)
                if (stack[k - 1].name == name) {
                    stack.resize(k - 1);
                    break;
                }
            if (foreign == 0 && formatting(name))
                open = open > 0 ? open - 1 : 0;
            if (wholeOnly(name)) {
                if (name == "svg" || name == "math")
                    foreign = foreign > 0 ? foreign - 1 : 0;
                whole = whole > 0 ? whole - 1 : 0;
            }
            if (whole == 0 && foreign == 0 && open == 0 && end >= sheet && cutPoint(name) && !atCut(end, stack))
                return;
            continue;
        }
        if (!selfClosing && (foreign > 0 || !isVoid(name)))
            stack.push_back(OpenTag{lt, end, name});
        if (selfClosing && foreign > 0)
            continue;
        if (foreign == 0 && formatting(name))
            ++open;
        if (wholeOnly(name) && !(selfClosing && (name == "svg" || name == "math"))) {
            ++whole;
            if (name == "svg" || name == "math")
                ++foreign;
        }
        if (foreign == 0 && rawText(name)) {
            // Up to the matching end tag, read as text by the parser.
            const std::string close = "</" + name;
            const size_t stop = findNoCase(s, i, close.c_str());
            if (stop == std::string::npos)
                return;
            i = stop;
        }
    }
}

size_t PagePrefix::cut(const std::string& html, size_t budget) {
    size_t found = html.size();
    cutPoints(html, [&](size_t end, const std::vector<OpenTag>&) {
        if (end < budget)
            return true;
        found = end;
        return false;
    });
    return found;
}

bool PagePrefix::looksAhead(const char* s, size_t size) {
    const char* at = s;
    const char* const end = s + size;
    while (at < end) {
        const char* colon = static_cast<const char*>(std::memchr(at, ':', static_cast<size_t>(end - at)));
        if (!colon)
            return false;
        const size_t c = static_cast<size_t>(colon - s);
        at = colon + 1;

        // A pseudo-class that looks at later siblings.
        for (const char* pseudo : {"last-child", "last-of-type", "only-child", "only-of-type", "nth-last-"})
            if (startsWith(s, size, c + 1, pseudo))
                return true;

        // A declaration: the property before the colon, the value after it.
        size_t nameEnd = c;
        while (nameEnd > 0 && space(s[nameEnd - 1]))
            --nameEnd;
        size_t nameBegin = nameEnd;
        while (nameBegin > 0 && (letter(s[nameBegin - 1]) || s[nameBegin - 1] == '-'))
            --nameBegin;
        if (nameBegin == nameEnd)
            continue;
        std::string property;
        for (size_t k = nameBegin; k < nameEnd; ++k)
            property += lower(s[k]);
        size_t v = c + 1;
        while (v < size && space(s[v]))
            ++v;
        // Boxes placed from their container's bottom, or pulled up over what came before.
        if (property == "bottom")
            return true;
        if (property == "position" && (startsWith(s, size, v, "absolute") || startsWith(s, size, v, "fixed")))
            return true;
        if ((property == "top" || property == "margin" || property == "margin-top") && v < size && s[v] == '-')
            return true;
        // CSS tables size their cells from all their rows.
        if (property == "display" && (startsWith(s, size, v, "table") || startsWith(s, size, v, "inline-table")))
            return true;
    }
    return false;
}

} // namespace tf
