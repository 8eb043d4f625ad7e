#include "src/HtmlGuard.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "src/CssGuard.h"
#include "utility/text.h"

namespace tf {

namespace {

using NameSet = std::unordered_set<std::string>;

constexpr size_t npos = static_cast<size_t>(-1);

// Elements the parser never keeps open.
const NameSet kVoid = {"area",  "base",  "basefont", "bgsound", "br",       "col",  "embed",
                       "frame", "hr",    "image",    "img",     "input",    "isindex", "keygen",
                       "link",  "menuitem", "meta",  "param",   "source",   "track", "wbr"};
// Elements the parser reopens in later blocks when they were closed implicitly.
const NameSet kFormatting = {"a",     "b",      "big",    "code", "em", "font", "i",
                             "nobr",  "s",      "small",  "strike", "strong", "tt", "u"};
// Elements whose content is text up to their own end tag (outside SVG and MathML).
const NameSet kRawText = {"script", "style", "xmp", "iframe", "noembed", "noframes", "textarea", "title"};
// The parser's "special" elements: an end tag of another name never closes across them.
const NameSet kSpecial = {
    "address", "applet",  "area",     "article",  "aside",      "base",     "basefont", "bgsound",
    "blockquote", "body", "br",       "button",   "caption",    "center",   "col",      "colgroup",
    "dd",      "details", "dir",      "div",      "dl",         "dt",       "embed",    "fieldset",
    "figcaption", "figure", "footer", "form",     "frame",      "frameset", "h1",       "h2",
    "h3",      "h4",      "h5",       "h6",       "head",       "header",   "hgroup",   "hr",
    "html",    "iframe",  "img",      "input",    "isindex",    "li",       "link",     "listing",
    "main",    "marquee", "menu",     "meta",     "nav",        "noembed",  "noframes", "noscript",
    "object",  "ol",      "p",        "param",    "plaintext",  "pre",      "script",   "section",
    "select",  "source",  "style",    "summary",  "table",      "tbody",    "td",       "template",
    "textarea", "tfoot",  "th",       "thead",    "title",      "tr",       "track",    "ul",
    "wbr",     "xmp"};
// Where an element's scope ends (HTML elements).
const NameSet kScopeBoundary = {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template"};

enum Namespace { kHtml = 0, kSvg = 1, kMath = 2 };
// SVG and MathML elements whose content is HTML again (and MathML
// annotation-xml with an HTML encoding); they are special and bound scopes too.
const NameSet kSvgIntegration = {"foreignobject", "desc", "title"};
const NameSet kMathIntegration = {"mi", "mo", "mn", "ms", "mtext"};
// HTML start tags that end SVG or MathML content.
const NameSet kBreakout = {"b",    "big",  "blockquote", "body", "br",     "center", "code",   "dd",
                           "div",  "dl",   "dt",         "em",   "embed",  "font",   "h1",     "h2",
                           "h3",   "h4",   "h5",         "h6",   "head",   "hr",     "i",      "img",
                           "li",   "listing", "menu",    "meta", "nobr",   "ol",     "p",      "pre",
                           "ruby", "s",    "small",      "span", "strong", "strike", "sub",    "sup",
                           "table", "tt",  "u",          "ul",   "var"};
// Start tags that close an open p first.
const NameSet kClosesP = {"address", "article", "aside",  "blockquote", "center", "details", "dialog",
                          "dir",     "div",     "dl",     "fieldset",   "figcaption", "figure", "footer",
                          "header",  "hgroup",  "main",   "menu",       "nav",    "ol",      "p",
                          "section", "summary", "ul",     "h1",         "h2",     "h3",      "h4",
                          "h5",      "h6",      "pre",    "listing",    "form",   "hr",      "xmp",
                          "plaintext", "dd",    "dt",     "li"};
const NameSet kTablePart = {"caption", "col", "colgroup", "tbody", "td", "tfoot", "th", "thead", "tr"};
// Start tags a table takes as its own; anything else is moved out of it.
const NameSet kTableContent = {"caption", "col",   "colgroup", "tbody",  "td",       "tfoot", "th",
                               "thead",   "tr",    "table",    "style",  "script",   "template",
                               "input",   "form"};
const NameSet kTableContext = {"table", "tbody", "thead", "tfoot", "tr"};
const NameSet kSelectContent = {"option", "optgroup", "script", "template"};
const NameSet kSelectEnders = {"select", "input", "keygen", "textarea"};
// End tags the parser takes inside a select.
const NameSet kSelectEnds = {"option", "optgroup", "select", "template"};
const NameSet kHeading = {"h1", "h2", "h3", "h4", "h5", "h6"};
const NameSet kRowGroup = {"tbody", "thead", "tfoot"};
const NameSet kRow = {"tr"};
// Names the parser looks for when it works out its mode again (after a select
// ends, say) without asking whether the element is HTML: SVG or MathML
// elements of these names, which neither language has, make it abort.
const NameSet kModeNames = {"table", "caption", "colgroup", "col", "tbody", "thead", "tfoot", "tr", "td",
                            "th", "select", "template", "html", "head", "body", "frameset"};

// End tags searched for up to the nearest table only.
const NameSet kTableScoped = {"table", "caption", "colgroup", "tbody", "thead", "tfoot", "tr", "td", "th"};
const NameSet kOption = {"option"};

bool isAlpha(unsigned char c) {
    c |= 0x20;
    return c >= 'a' && c <= 'z';
}

bool isWs(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string lowerName(const char* p, size_t n) {
    std::string name(p, n);
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

int digitValue(char c, int base) {
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
    return d < base ? d : -1;
}

// An attribute's value as the parser hands it on, as far as the media query
// parser cares: character references to ASCII decoded (its delimiters, the
// brackets among them, may be written as references).
std::string attributeText(const char* p, size_t n) {
    static const std::pair<const char*, char> kNamed[] = {
        {"lpar;", '('},  {"rpar;", ')'}, {"comma;", ','}, {"colon;", ':'},    {"amp;", '&'}, {"lt;", '<'},
        {"gt;", '>'},    {"quot;", '"'}, {"apos;", '\''}, {"Tab;", '\t'}, {"NewLine;", '\n'},
    };
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != '&') {
            out.push_back(p[i]);
            continue;
        }
        size_t k = i + 1;
        if (k < n && p[k] == '#') {
            const bool hex = k + 1 < n && (p[k + 1] == 'x' || p[k + 1] == 'X');
            k += hex ? 2 : 1;
            const int base = hex ? 16 : 10;
            unsigned long code = 0;
            const size_t digits = k;
            for (; k < n && k - digits < 8; ++k) {
                const int d = digitValue(p[k], base);
                if (d < 0)
                    break;
                code = code * static_cast<unsigned long>(base) + static_cast<unsigned long>(d);
            }
            if (k > digits && code > 0 && code < 0x80) {
                out.push_back(static_cast<char>(code));
                i = (k < n && p[k] == ';') ? k : k - 1;
                continue;
            }
        } else {
            bool named = false;
            for (const auto& entity : kNamed) {
                const size_t len = std::strlen(entity.first);
                if (n - k >= len && std::memcmp(p + k, entity.first, len) == 0) {
                    out.push_back(entity.second);
                    i = k + len - 1;
                    named = true;
                    break;
                }
            }
            if (named)
                continue;
        }
        out.push_back('&');
    }
    return out;
}

bool startsWithNoCase(const char* s, size_t n, size_t at, const char* word) {
    const size_t len = std::strlen(word);
    if (at + len > n)
        return false;
    for (size_t k = 0; k < len; ++k) {
        char c = s[at + k];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[k])
            return false;
    }
    return true;
}

// One tag as the HTML tokenizer reads it.
struct Tag {
    size_t begin = 0;  // its '<'
    size_t end = 0;    // just past its '>'
    std::string name;  // ASCII lower case
    bool selfClosing = false;
    size_t slash = 0;  // the '/' of a closing "/>"
    int attributes = 0;
    size_t cut = 0;    // just past the last attribute within kMaxAttributes
    // Style and media attributes: the whole attribute (from the space before
    // it) and its value.
    struct Span {
        size_t begin, end, valueBegin, valueEnd;
        bool media;
    };
    std::vector<Span> styles;
    std::string encoding;  // the value of an "encoding" attribute (MathML annotation-xml)
};

// Reads the tag whose name starts at `i`; false when the text ends inside it
// (the parser then drops it).
bool readTag(const char* s, size_t n, size_t i, Tag& tag) {
    const size_t nameStart = i;
    while (i < n && !isWs(s[i]) && s[i] != '/' && s[i] != '>')
        ++i;
    tag.name = lowerName(s + nameStart, i - nameStart);
    tag.cut = i;
    for (;;) {
        while (i < n && isWs(s[i]))
            ++i;
        if (i >= n)
            return false;
        if (s[i] == '>') {
            tag.end = i + 1;
            return true;
        }
        if (s[i] == '/') {
            if (i + 1 < n && s[i + 1] == '>') {
                tag.selfClosing = true;
                tag.slash = i;
                tag.end = i + 2;
                return true;
            }
            ++i;
            continue;
        }
        // An attribute name; its first character may be '='.
        size_t attrBegin = i;
        while (attrBegin > 0 && isWs(s[attrBegin - 1]))
            --attrBegin;
        const size_t nameBegin = i;
        ++i;
        while (i < n && !isWs(s[i]) && s[i] != '/' && s[i] != '>' && s[i] != '=')
            ++i;
        const bool style = i - nameBegin == 5 && startsWithNoCase(s, n, nameBegin, "style");
        const bool media = i - nameBegin == 5 && startsWithNoCase(s, n, nameBegin, "media");
        const bool encoding = i - nameBegin == 8 && startsWithNoCase(s, n, nameBegin, "encoding");
        size_t valueBegin = i, valueEnd = i;
        while (i < n && isWs(s[i]))
            ++i;
        if (i < n && s[i] == '=') {
            ++i;
            while (i < n && isWs(s[i]))
                ++i;
            if (i >= n)
                return false;
            if (s[i] == '"' || s[i] == '\'') {
                const void* close = std::memchr(s + i + 1, s[i], n - i - 1);
                if (!close)
                    return false;
                valueBegin = i + 1;
                valueEnd = static_cast<size_t>(static_cast<const char*>(close) - s);
                i = valueEnd + 1;
            } else if (s[i] != '>') {
                // Unquoted: a '/' belongs to the value.
                valueBegin = i;
                while (i < n && !isWs(s[i]) && s[i] != '>')
                    ++i;
                valueEnd = i;
            }
        }
        if (style || media)
            tag.styles.push_back({attrBegin, i, valueBegin, valueEnd, media});
        else if (encoding)
            tag.encoding = lowerName(s + valueBegin, valueEnd - valueBegin);
        if (++tag.attributes <= HtmlGuard::kMaxAttributes)
            tag.cut = i;
    }
}

constexpr size_t kTextOnlyBytes = 1u << 20;

// One pass over a page. Without `out` it measures the page as the parser
// would nest it and stops at the first limit crossed; with `out` it writes
// the bounded copy, nesting as it writes.
class Scanner {
public:
    Scanner(const std::string& html, std::string* out)
        : s(html.c_str()), n(std::strlen(html.c_str())), m_out(out) {
        // The engine reads the page up to its first NUL byte; so does the scan.
        m_measure.bytes = n;
        if (m_out && n > HtmlGuard::kMaxBytes) {
            // The copy ends at the limit, on a character boundary.
            n = HtmlGuard::kMaxBytes;
            while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
                --n;
        }
        if (m_out)
            m_out->reserve(n + n / 8);
    }

    HtmlGuard::Measure run() {
        size_t i = 0;
        while (i < n && !m_stop) {
            if (m_plaintext) {
                copyRaw(i, n);
                break;
            }
            if (!m_rawEnd.empty()) {
                i = rawText(i, !m_rawDropped);
                continue;
            }
            const void* found = std::memchr(s + i, '<', n - i);
            const size_t lt = found ? static_cast<size_t>(static_cast<const char*>(found) - s) : n;
            if (lt > i)
                text(i, lt);
            if (m_stop || lt >= n)
                break;
            i = markup(lt);
        }
        // End tags after "<plaintext>" would be read as its text.
        if (m_out && !m_plaintext) {
            while (!m_stack.empty())
                popTop(true);
        }
        return m_measure;
    }

private:
    struct Entry {
        std::string name;
        bool kept = true;      // in the parser's tree (false: its tags were dropped)
        bool implied = false;  // made by the parser, no tag of its own
        bool foreign = false;  // SVG or MathML
        int ns = kHtml;
        bool integration = false;  // an SVG or MathML element whose content is HTML
        bool formatting = false;
        bool special = false;
        bool boundary = false;
        size_t key = 0;        // formatting: name and attributes
    };

    // ---- output ----

    void copy(size_t a, size_t b) {
        if (m_out && b > a)
            m_out->append(s + a, b - a);
    }

    void put(const std::string& text) {
        if (m_out)
            m_out->append(text);
    }

    // Text the scan takes for raw text: in the copy no '<' is left in it, so
    // nothing in it can become a tag should the parser read it otherwise
    // (where a tag was dropped or a misnesting misled the scan).
    void copyRaw(size_t a, size_t b) { copyRaw(s, a, b); }
    void copyRaw(const char* from, size_t a, size_t b) {
        if (!m_out)
            return;
        for (size_t k = a; k < b; ++k) {
            if (from[k] == '<')
                m_out->append("&lt;");
            else
                m_out->push_back(from[k]);
        }
    }

    void putStart(const Tag& t, bool keepSlash) {
        if (!m_out)
            return;
        size_t stop = t.attributes > HtmlGuard::kMaxAttributes ? t.cut : t.selfClosing ? t.slash : t.end - 1;
        size_t from = t.begin;
        for (const Tag::Span& span : m_droppedStyles) {
            if (span.begin >= stop)
                break;
            m_out->append(s + from, span.begin - from);
            if (span.media)
                m_out->append(" media=\"not all\"");
            from = std::min(span.end, stop);
        }
        if (stop > from)
            m_out->append(s + from, stop - from);
        m_out->append(keepSlash ? "/>" : ">");
    }

    // Style attributes the engine would take too long over, and media
    // attributes its parser would throw on: the measure fails, the copy
    // leaves them out (listed in m_droppedStyles); a media attribute becomes
    // "not all", what a malformed one means.
    void checkStyleAttributes(const Tag& t) {
        m_droppedStyles.clear();
        for (const Tag::Span& span : t.styles) {
            if (span.begin >= t.cut && t.attributes > HtmlGuard::kMaxAttributes)
                break;
            if (span.media ? CssGuard::mediaParses(attributeText(s + span.valueBegin, span.valueEnd - span.valueBegin))
                           : CssGuard::measureDeclarations(s + span.valueBegin, span.valueEnd - span.valueBegin).sound())
                continue;
            if (m_out) {
                m_droppedStyles.push_back(span);
            } else {
                m_measure.stylesSound = false;
                note();
            }
        }
    }

    // A style sheet inside the page, [a, b): measured; in the copy kept only
    // while the sheets fit the budget of the largest page a copy can be.
    // A sheet the engine would read differently from the measure (a comment
    // left open) is not sound as it stands; the copy settles it (rawText).
    bool styleSheet(size_t a, size_t b, bool settles = true) {
        const bool unsettled = CssGuard::needsSettling(s + a, b - a);
        const CssGuard::Measure css = unsettled ? CssGuard::measure(CssGuard::settle(s + a, b - a))
                                                : CssGuard::measure(s + a, b - a);
        if (unsettled && (!m_out || !settles)) {
            m_measure.stylesSound = false;
            note();
            return false;
        }
        if (!m_out) {
            if (css.sound())
                m_measure.styleCost += css.cost();
            else
                m_measure.stylesSound = false;
            note();
            return true;
        }
        const long long elements = HtmlGuard::kMaxNodes / HtmlGuard::kElementWeight;
        if (!css.sound() || (m_measure.styleCost + css.cost()) * elements > CssGuard::kMaxPageCost)
            return false;
        m_measure.styleCost += css.cost();
        return true;
    }

    // ---- the model of the parser's stack ----

    int depth() const { return m_keptDepth + static_cast<int>(m_pending.size()) + 2; }
    int formattingCount() const { return m_keptFormatting + static_cast<int>(m_pending.size()); }

    void note() {
        m_measure.depth = std::max(m_measure.depth, depth());
        m_measure.formatting = std::max(m_measure.formatting, formattingCount());
        if (!m_out && !m_measure.within())
            m_stop = true;
    }

    // A parse error at the current depth. When writing, false means the
    // budget is spent and the token causing it has to go.
    bool error() {
        const long cost = depth() + 10;
        if (m_out && m_measure.errorCost + cost > HtmlGuard::kMaxErrorCost)
            return false;
        m_measure.errorCost += cost;
        note();
        return true;
    }

    const Entry* topKept() const { return m_kept.empty() ? nullptr : &m_stack[m_kept.back()]; }

    bool topKeptIn(const NameSet& names) const {
        const Entry* top = topKept();
        return top && !top->foreign && names.count(top->name);
    }

    // Inside SVG or MathML, not at a point where HTML takes over again.
    bool inForeign() const {
        const Entry* top = topKept();
        return top && top->foreign && !isIntegration(*top);
    }

    static bool isIntegration(const Entry& e) { return e.integration; }

    // Whether an element of that name and namespace takes HTML content; a
    // MathML annotation-xml does when its encoding says HTML.
    static bool integrationPoint(const std::string& name, int ns, const std::string& encoding) {
        if (ns == kSvg)
            return kSvgIntegration.count(name) != 0;
        if (ns == kMath)
            return kMathIntegration.count(name) ||
                   (name == "annotation-xml" && (encoding == "text/html" || encoding == "application/xhtml+xml"));
        return false;
    }

    size_t lastIndex(const std::string& name) const {
        auto it = m_positions.find(name);
        return it == m_positions.end() || it->second.empty() ? npos : it->second.back();
    }

    // The last open HTML element of that name (SVG and MathML have their own
    // "a", "title", "td" ...); with `anyKind` SVG and MathML ones too.
    size_t lastKeptIndex(const std::string& name, bool anyKind = false) const {
        auto it = m_positions.find(name);
        if (it == m_positions.end())
            return npos;
        for (auto p = it->second.rbegin(); p != it->second.rend(); ++p)
            if (m_stack[*p].kept && (anyKind || !m_stack[*p].foreign))
                return *p;
        return npos;
    }

    static size_t later(size_t a, size_t b) {
        if (a == npos)
            return b;
        if (b == npos)
            return a;
        return std::max(a, b);
    }

    size_t lastBoundary() const { return m_boundaries.empty() ? npos : m_boundaries.back(); }

    // Whether the entry at `idx` is within the scope the parser searches.
    bool inScope(size_t idx, size_t extraBoundary = npos) const {
        const size_t bound = later(lastBoundary(), extraBoundary);
        return bound == npos || idx >= bound;
    }

    bool specialAbove(size_t idx) const { return !m_specials.empty() && m_specials.back() > idx; }

    void push(const std::string& name, bool kept, bool implied, int ns, size_t key = 0,
              const std::string& encoding = std::string()) {
        Entry e;
        e.name = name;
        e.kept = kept;
        e.implied = implied;
        e.ns = ns;
        e.foreign = ns != kHtml;
        e.integration = integrationPoint(name, ns, encoding);
        e.formatting = kept && !e.foreign && kFormatting.count(name);
        e.special = kept && (e.foreign ? isIntegration(e) : kSpecial.count(name) != 0);
        e.boundary = kept && (e.foreign ? isIntegration(e) : kScopeBoundary.count(name) != 0);
        e.key = key;
        const size_t idx = m_stack.size();
        m_positions[name].push_back(idx);
        if (e.special)
            m_specials.push_back(idx);
        if (e.boundary)
            m_boundaries.push_back(idx);
        if (kept) {
            m_kept.push_back(idx);
            ++m_keptDepth;
        }
        if (e.formatting)
            ++m_keptFormatting;
        m_stack.push_back(std::move(e));
        note();
    }

    // Pops the top entry. `implicit`: closed by the parser, not by its own end
    // tag; the copy then gets the end tag, and the measured parser will reopen
    // a formatting element later.
    void popTop(bool implicit) {
        Entry e = std::move(m_stack.back());
        m_stack.pop_back();
        m_positions[e.name].pop_back();
        if (e.special)
            m_specials.pop_back();
        if (e.boundary)
            m_boundaries.pop_back();
        if (e.kept) {
            m_kept.pop_back();
            --m_keptDepth;
        }
        if (e.formatting)
            --m_keptFormatting;
        if (implicit && e.kept && !e.implied) {
            if (m_out)
                put("</" + e.name + ">");
            else if (e.formatting)
                addPending(e.name, e.key);
        }
    }

    // Pops down to and including `idx`; `implicitSelf` when no end tag of its own closes it.
    void popTo(size_t idx, bool implicitSelf) {
        while (m_stack.size() > idx + 1)
            popTop(true);
        popTop(implicitSelf);
    }

    void addPending(const std::string& name, size_t key) {
        // The parser keeps at most three identical entries (its "Noah's Ark").
        int same = 0;
        for (const auto& p : m_pending)
            same += p.second == key;
        if (same >= 3) {
            for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
                if (it->second == key) {
                    m_pending.erase(it);
                    break;
                }
            }
        }
        m_pending.emplace_back(name, key);
        note();
    }

    bool removePending(const std::string& name) {
        for (size_t k = m_pending.size(); k-- > 0;) {
            if (m_pending[k].first == name) {
                m_pending.erase(m_pending.begin() + static_cast<long>(k));
                return true;
            }
        }
        return false;
    }

    // ---- tokens ----

    void text(size_t a, size_t b) {
        // Text in a table is moved out of it, one error per run.
        if (topKeptIn(kTableContext)) {
            for (size_t k = a; k < b; ++k) {
                if (!isWs(s[k])) {
                    error();
                    break;
                }
            }
        }
        // Each word becomes a node of the engine's, and so does the space after it.
        bool word = false;
        for (size_t k = a; k < b; ++k) {
            const bool space = isWs(s[k]);
            if (!space && !word) {
                m_measure.nodes += 2;
                if (m_measure.nodes > HtmlGuard::kMaxNodes) {
                    if (m_out) {
                        // The copy ends before this word.
                        copy(a, k);
                        m_stop = true;
                        return;
                    }
                    note();
                    return;
                }
            }
            word = !space;
        }
        copy(a, b);
    }

    // Each element costs the engine as much as several words.
    bool addElement() {
        ++m_measure.elements;
        m_measure.nodes += HtmlGuard::kElementWeight;
        if (m_measure.nodes <= HtmlGuard::kMaxNodes)
            return true;
        note();
        m_stop = true;
        return false;
    }

    // The content of a raw text element, up to its end tag (handled as a tag).
    // Without `keep` (its start tag was dropped) the content goes too: the
    // parser would read it as markup.
    size_t rawText(size_t i, bool keep) {
        const size_t end = rawEnd(i, m_rawEnd);
        if (keep && m_rawEnd == "style") {
            keep = styleSheet(i, end);
            if (keep && m_out && CssGuard::needsSettling(s + i, end - i)) {
                const std::string settled = CssGuard::settle(s + i, end - i);
                copyRaw(settled.c_str(), 0, settled.size());
                m_rawEnd.clear();
                return end;
            }
        }
        if (keep)
            copyRaw(i, end);
        m_rawEnd.clear();
        return end;
    }

    // Where the text of an element called `name` ends: at its end tag, or at the end.
    size_t rawEnd(size_t i, const std::string& name) const {
        for (size_t k = i;;) {
            const void* found = std::memchr(s + k, '<', n - k);
            if (!found)
                return n;
            k = static_cast<size_t>(static_cast<const char*>(found) - s);
            if (k + 1 < n && s[k + 1] == '/' && startsWithNoCase(s, n, k + 2, name.c_str())) {
                const size_t after = k + 2 + name.size();
                if (after < n && (isWs(s[after]) || s[after] == '/' || s[after] == '>'))
                    return k;
            }
            ++k;
        }
    }

    // Skips to just past `end` (or to the end of the text), copying all of it.
    size_t through(size_t i, size_t from, const char* end) {
        const char* found = std::strstr(s + from, end);
        const size_t stop = found ? static_cast<size_t>(found - s) + std::strlen(end) : n;
        copy(i, std::min(stop, n));
        return std::min(stop, n);
    }

    // Whether the parser reads tags in one of its table modes: a table is open
    // and no cell or caption in it.
    bool inTableMode() const {
        const size_t table = lastKeptIndex("table");
        if (table == npos)
            return false;
        const size_t cell = later(later(lastKeptIndex("td"), lastKeptIndex("th")), lastKeptIndex("caption"));
        return cell == npos || cell < table;
    }

    // A CDATA section at `i`. The parser (as installed) aborts on one that is
    // read as a table's text, inside an integration point such as an SVG
    // "desc" of a table not yet in a cell: the measure fails on it, and the
    // copy writes every CDATA section as the escaped text it stands for.
    size_t cdata(size_t i) {
        const char* found = std::strstr(s + i + 9, "]]>");
        const size_t end = found ? std::min(static_cast<size_t>(found - s), n) : n;
        if (m_out) {
            xml_escape_into(*m_out, s + i + 9, end - (i + 9), false);
        } else if (end > i + 9 && lastKeptIndex("table") != npos) {
            m_measure.parserSafe = false;
            note();
        }
        return std::min(end + 3, n);
    }

    size_t comment(size_t i) {
        size_t k = i + 4;
        if (k < n && s[k] == '>')
            return through(i, k, ">");
        if (k + 1 < n && s[k] == '-' && s[k + 1] == '>')
            return through(i, k, ">");
        // Ends at "-->" or "--!>".
        for (;;) {
            const char* dash = std::strstr(s + k, "--");
            if (!dash)
                return through(i, n, "");
            k = static_cast<size_t>(dash - s);
            if (k + 2 < n && s[k + 2] == '>')
                return through(i, k, "-->");
            if (k + 3 < n && s[k + 2] == '!' && s[k + 3] == '>')
                return through(i, k, "--!>");
            ++k;
        }
    }

    // Markup at the '<' at `i`; returns where the text goes on.
    size_t markup(size_t i) {
        const unsigned char c = i + 1 < n ? static_cast<unsigned char>(s[i + 1]) : 0;
        if (c == '!') {
            if (i + 3 < n && s[i + 2] == '-' && s[i + 3] == '-')
                return comment(i);
            // The parser reads CDATA sections inside SVG and MathML elements,
            // integration points included; elsewhere they are comments, and the
            // copy leaves them out in case the parser sees it otherwise.
            const Entry* top = topKept();
            if (std::strncmp(s + i, "<![CDATA[", 9) == 0) {
                if (top && top->foreign)
                    return cdata(i);
                if (lastKeptIndex("table") != npos && !m_out) {
                    m_measure.parserSafe = false;
                    note();
                }
                if (m_out) {
                    const char* close = std::strchr(s + i + 2, '>');
                    return close ? std::min(static_cast<size_t>(close - s) + 1, n) : n;
                }
            }
            return through(i, i + 2, ">");
        }
        if (c == '?')
            return through(i, i + 2, ">");
        if (c == '/') {
            const unsigned char d = i + 2 < n ? static_cast<unsigned char>(s[i + 2]) : 0;
            if (isAlpha(d)) {
                Tag t;
                t.begin = i;
                if (!readTag(s, n, i + 2, t))
                    return n;  // the parser drops a tag cut off by the end
                endTag(t);
                return t.end;
            }
            if (d == '>')
                return i + 3;  // "</>" means nothing
            return through(i, i + 2, ">");
        }
        if (isAlpha(c)) {
            Tag t;
            t.begin = i;
            if (!readTag(s, n, i + 1, t))
                return n;
            startTag(t);
            return t.end;
        }
        copy(i, i + 1);
        return i + 1;
    }

    void startTag(const Tag& t) {
        const std::string& name = t.name;
        m_measure.attributes = std::max(m_measure.attributes, t.attributes);
        note();
        checkStyleAttributes(t);
        if (m_stop)
            return;

        bool foreign = inForeign();
        if (foreign && kBreakout.count(name)) {
            // HTML content ends SVG and MathML content.
            if (!m_out)
                error();
            while (inForeign())
                popTop(true);
            foreign = false;
        }

        bool keep = true;
        int implied = 0;
        if (!foreign) {
            if (name == "html" || name == "head" || name == "body") {
                int& seen = name == "html" ? m_seenHtml : name == "head" ? m_seenHead : m_seenBody;
                if (seen++ == 0)
                    putStart(t, false);
                else if (!m_out)
                    error();
                return;
            }
            if (kTablePart.count(name) && lastKeptIndex("table") == npos) {
                if (!m_out)
                    error();  // ignored by the parser; dropped from the copy
                return;
            }
            const size_t select = lastKeptIndex("select");
            if (select != npos) {
                // A select takes options; a form field or table part ends it
                // first; anything else the parser ignores, tags and all (raw
                // text elements included, whose text it then reads as markup).
                if (kSelectEnders.count(name) || (lastKeptIndex("table") != npos && kTablePart.count(name))) {
                    error();
                    popTo(select, true);
                    if (name == "select")
                        return;
                } else if (!kSelectContent.count(name)) {
                    if (!m_out)
                        error();
                    return;
                }
            }
            if (topKeptIn(kTableContext) && !kTableContent.count(name))
                keep = error();
            if (keep)
                implied = closeBefore(name);
        }

        // Past the budget the copy ends here; the measure stops.
        if (keep && !addElement())
            return;
        if (foreign && kModeNames.count(name)) {
            if (!m_out) {
                m_measure.parserSafe = false;
                note();
            } else if (!t.selfClosing) {
                push(name, false, false, topKept()->ns);
            }
            return;
        }
        // SVG and MathML moved out of a table (not in a cell): the parser (as
        // installed) aborts on some of it; the copy leaves their tags out.
        if (!foreign && (name == "svg" || name == "math") && inTableMode()) {
            if (!m_out) {
                m_measure.parserSafe = false;
                note();
            } else if (!t.selfClosing) {
                push(name, false, false, kHtml);
                return;
            } else {
                return;
            }
        }
        const bool isVoid = !foreign && kVoid.count(name);
        const bool foreignElement = foreign || name == "svg" || name == "math";
        const int ns = foreign ? topKept()->ns : name == "svg" ? kSvg : name == "math" ? kMath : kHtml;
        if (isVoid || (t.selfClosing && foreignElement)) {
            if (keep)
                putStart(t, t.selfClosing);
            return;
        }
        if (t.selfClosing) {
            // HTML keeps "<x/>" open; the copy gives it the XHTML meaning, room allowing.
            if (m_out) {
                const bool formatting = !foreignElement && kFormatting.count(name);
                if (keep && depth() + implied + 1 <= HtmlGuard::kMaxDepth - 1 &&
                    (!formatting || formattingCount() + 1 <= HtmlGuard::kMaxFormatting)) {
                    addImplied(name);
                    putStart(t, false);
                    put("</" + name + ">");
                }
                return;
            }
            error();
        }

        const bool raw = !foreignElement && kRawText.count(name);
        if (m_out && keep) {
            // Room for the element and the parents the parser adds for it;
            // raw text cannot nest further, so it may take the last level.
            const int room = HtmlGuard::kMaxDepth - (raw ? 0 : 1);
            const bool isFormatting = !foreignElement && kFormatting.count(name);
            keep = depth() + implied + 1 <= room &&
                   (!isFormatting || formattingCount() + 1 <= HtmlGuard::kMaxFormatting);
        }
        if (!keep) {
            // Content stays, the tags go; the end tag must find its entry.
            push(name, false, false, ns);
            if (raw) {
                m_rawEnd = name;
                m_rawDropped = true;
            }
            return;
        }
        addImplied(name);
        putStart(t, false);
        push(name, true, false, ns,
             !foreignElement && kFormatting.count(name) ? std::hash<std::string>()(std::string(s + t.begin, t.end - t.begin)) : 0,
             t.encoding);
        if (foreignElement && name == "style" && !styleSheet(t.end, rawEnd(t.end, name), false)) {
            // An SVG style element's text is a sheet too; the copy drops all of it.
            m_rawEnd = name;
            m_rawDropped = true;
            return;
        }
        if (!foreignElement) {
            if (raw) {
                m_rawEnd = name;
                m_rawDropped = false;
            } else if (name == "plaintext") {
                m_plaintext = true;
            }
        }
    }

    // The parser closes some elements before it opens `name`; returns how
    // many parents it will add for it.
    int closeBefore(const std::string& name) {
        if (kClosesP.count(name)) {
            const size_t p = lastKeptIndex("p");
            if (p != npos && inScope(p, lastKeptIndex("button")))
                popTo(p, true);
        }
        if (name == "li" || name == "dd" || name == "dt")
            closeListItem(name);
        if (kHeading.count(name) && topKeptIn(kHeading)) {
            error();
            popTop(true);
        }
        if (name == "a") {
            const size_t a = lastKeptIndex("a");
            if (a != npos) {
                error();
                if (inScope(a))
                    popTo(a, true);
            } else if (!m_out && removePending("a")) {
                error();
            }
        }
        if (name == "option" && topKeptIn(kOption))
            popTop(true);
        const size_t table = lastKeptIndex("table");
        if (table == npos || !kTablePart.count(name))
            return 0;
        // A table part ends the caption or cell it comes in, then everything
        // back to the part of the table it belongs in (rows in a row group,
        // cells in a row); what was moved out of the table in between, such
        // as formatting elements, is closed too.
        const size_t caption = lastKeptIndex("caption");
        if (caption != npos && caption > table)
            popTo(caption, true);
        const size_t cell = later(lastKeptIndex("td"), lastKeptIndex("th"));
        if (cell != npos && cell > table)
            popTo(cell, true);
        const size_t group = later(later(lastKeptIndex("tbody"), lastKeptIndex("thead")), lastKeptIndex("tfoot"));
        size_t context = table;
        if (name == "tr")
            context = later(context, group);
        else if (name == "td" || name == "th")
            context = later(later(context, group), lastKeptIndex("tr"));
        while (m_stack.size() > context + 1)
            popTop(true);
        if (name == "td" || name == "th")
            return topKeptIn(kRow) ? 0 : topKeptIn(kRowGroup) ? 1 : 2;
        if (name == "tr")
            return topKeptIn(kRowGroup) ? 0 : 1;
        return 0;
    }

    // The parents a table adds for a row or cell written without them.
    void addImplied(const std::string& name) {
        if (lastKeptIndex("table") == npos)
            return;
        if (name == "td" || name == "th") {
            if (topKeptIn(kRow))
                return;
            if (!topKeptIn(kRowGroup))
                push("tbody", true, true, kHtml);
            push("tr", true, true, kHtml);
        } else if (name == "tr" && !topKeptIn(kRowGroup)) {
            push("tbody", true, true, kHtml);
        }
    }

    void closeListItem(const std::string& name) {
        // Down the stack to the item, unless a special element other than
        // address, div or p comes first; the walk is short in any real page.
        int steps = 0;
        for (size_t k = m_kept.size(); k-- > 0 && steps < 64; ++steps) {
            const Entry& e = m_stack[m_kept[k]];
            const bool match = name == "li" ? e.name == "li" : (e.name == "dd" || e.name == "dt");
            if (match && !e.foreign) {
                popTo(m_kept[k], true);
                return;
            }
            if (e.special && e.name != "address" && e.name != "div" && e.name != "p")
                return;
        }
    }

    void endTag(const Tag& t) {
        const std::string& name = t.name;
        // The parser reads an end tag's attributes too; the copy writes end tags bare.
        m_measure.attributes = std::max(m_measure.attributes, t.attributes);
        note();
        if (name == "body" || name == "html") {
            // The parser keeps its elements open; only a repeat is an error.
            if (m_seenBodyEnd++ > 0 && !m_out)
                error();
            return;
        }
        if (name == "br" && !inForeign()) {
            // Read as "<br>".
            if (error())
                put("<br>");
            return;
        }
        if (m_out)
            writeEnd(name);
        else
            measureEnd(name);
    }

    // Copy: an end tag closes the last element of its name and, explicitly,
    // everything opened inside it; an end tag without one goes.
    void writeEnd(const std::string& name) {
        const size_t idx = lastIndex(name);
        if (idx == npos)
            return;
        while (m_stack.size() > idx + 1)
            popTop(true);
        const bool own = m_stack.back().kept;
        popTop(false);
        if (own)
            put("</" + name + ">");
    }

    // Measure: the parser's rules for end tags, rounded towards deeper trees.
    void measureEnd(const std::string& name) {
        const size_t idx = lastKeptIndex(name, true);
        const size_t select = lastKeptIndex("select");
        if (select != npos && !kSelectEnds.count(name) && !kTablePart.count(name) && name != "table") {
            error();  // ignored inside a select
            return;
        }
        // Inside a frameset the parser ignores every end tag but the
        // frameset's (and most start tags, which the scan takes anyway).
        const size_t frameset = lastKeptIndex("frameset");
        if (name != "frameset" && frameset != npos && (idx == npos || idx < frameset)) {
            error();
            return;
        }
        if (idx == npos) {
            error();
            if (kFormatting.count(name))
                removePending(name);
            return;
        }
        const Entry& e = m_stack[idx];
        const bool top = idx + 1 == m_stack.size();
        if (e.foreign) {
            const bool htmlAbove = !m_kept.empty() && m_kept.back() > idx && !m_stack[m_kept.back()].foreign;
            if (!htmlAbove) {
                if (!top)
                    error();
                popTo(idx, false);
                return;
            }
        }
        if (kFormatting.count(name) && !e.foreign) {
            // With a special element inside it the parser rebuilds the tree
            // around it at the same depth; this keeps the element open.
            if (!inScope(idx) || specialAbove(idx)) {
                error();
                return;
            }
        } else if (kTableScoped.count(name)) {
            const size_t bound = later(lastKeptIndex("table"), lastKeptIndex("template"));
            if (bound != npos && bound > idx) {
                error();
                return;
            }
        } else if (kSpecial.count(name)) {
            size_t extra = npos;
            if (name == "p")
                extra = lastKeptIndex("button");
            else if (name == "li")
                extra = later(lastKeptIndex("ol"), lastKeptIndex("ul"));
            if (!inScope(idx, extra)) {
                error();
                return;
            }
        } else if (specialAbove(idx)) {
            error();
            return;
        }
        if (!top)
            error();
        popTo(idx, false);
    }

    const char* s;
    size_t n;
    std::string* m_out;
    HtmlGuard::Measure m_measure;
    bool m_stop = false;

    std::vector<Entry> m_stack;
    std::vector<size_t> m_kept;        // indices of kept entries
    std::vector<size_t> m_specials;    // indices of special entries
    std::vector<size_t> m_boundaries;  // indices of scope boundaries
    std::unordered_map<std::string, std::vector<size_t>> m_positions;
    int m_keptDepth = 0;
    int m_keptFormatting = 0;
    // Formatting elements closed implicitly: the parser opens them again.
    std::vector<std::pair<std::string, size_t>> m_pending;

    std::string m_rawEnd;
    bool m_rawDropped = false;
    std::vector<Tag::Span> m_droppedStyles;
    bool m_plaintext = false;
    int m_seenHtml = 0, m_seenHead = 0, m_seenBody = 0, m_seenBodyEnd = 0;
};

// Last resort for a copy the scan still finds beyond the limits: the text
// alone, and no more of it than a page of plain words may hold.
std::string textOnly(const std::string& html) {
    std::string out = "<html><body><p>";
    const char* p = html.c_str();
    bool inTag = false;
    for (; *p && out.size() < kTextOnlyBytes; ++p) {
        if (inTag) {
            inTag = *p != '>';
            continue;
        }
        if (*p == '<') {
            inTag = true;
            out += ' ';
            continue;
        }
        out += *p;
    }
    out += "</p></body></html>";
    return out;
}

} // namespace

HtmlGuard::Measure HtmlGuard::measure(const std::string& html) {
    return Scanner(html, nullptr).run();
}

std::string HtmlGuard::rewrite(const std::string& html) {
    std::string out;
    Scanner(html, &out).run();
    return out;
}

bool HtmlGuard::bound(const std::string& html, std::string& out, Measure* page) {
    Measure m = measure(html);
    if (m.within()) {
        if (page)
            *page = m;
        return false;
    }
    out = rewrite(html);
    m = measure(out);
    if (!m.within()) {
        out = textOnly(html);
        m = measure(out);
    }
    if (page)
        *page = m;
    return true;
}

} // namespace tf
