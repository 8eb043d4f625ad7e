#include "src/CssGuard.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <litehtml.h>

#include "utility/log.h"

namespace tf {

namespace {

bool isNameChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '*' || c == '\\' || c >= 0x80;
}

bool isSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// One linear pass: blocks, parentheses, selectors and declarations.
class Scan {
public:
    Scan(const char* css, size_t size) : s(css), n(size) { m.bytes = size; }

    CssGuard::Measure run(bool declarationsOnly) {
        // The kind of each open block: true for declarations, false for rules.
        std::vector<bool> blocks{declarationsOnly};
        size_t i = 0;
        size_t start = 0;  // of the current prelude or declaration
        while (i < n) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c == '/' && i + 1 < n && s[i + 1] == '*') {
                i = skipComment(i);
                continue;
            }
            if (c == '"' || c == '\'') {
                i = skipString(i);
                continue;
            }
            if (c == '(' || c == '[') {
                m.parenDepth = std::max(m.parenDepth, ++paren);
                ++i;
                continue;
            }
            if ((c == ')' || c == ']') && paren > 0) {
                --paren;
                ++i;
                continue;
            }
            const bool inDeclarations = blocks.back();
            if (c == '{') {
                if (!inDeclarations)
                    blocks.push_back(openRule(start, i));
                else
                    blocks.push_back(true);  // nested where none belongs: counted, read as declarations
                m.blockDepth = std::max(m.blockDepth, static_cast<int>(blocks.size()) - 1);
                declarationsInBlock = 0;
                paren = 0;
                start = ++i;
                continue;
            }
            if (c == '}') {
                if (inDeclarations)
                    declaration(start, i);
                if (blocks.size() > 1)
                    blocks.pop_back();
                paren = 0;
                start = ++i;
                continue;
            }
            if (c == ';' && paren == 0) {
                if (inDeclarations)
                    declaration(start, i);
                start = ++i;  // an at-rule statement ("@import ...;") or a declaration ends
                continue;
            }
            ++i;
        }
        if (blocks.back())
            declaration(start, n);
        return m;
    }

private:
    size_t skipComment(size_t i) {
        for (size_t k = i + 2; k + 1 < n; ++k)
            if (s[k] == '*' && s[k + 1] == '/')
                return k + 2;
        return n;
    }

    size_t skipString(size_t i) {
        const char quote = s[i];
        for (size_t k = i + 1; k < n; ++k) {
            if (s[k] == '\\') {
                ++k;
                continue;
            }
            if (s[k] == quote || s[k] == '\n')
                return k + 1;
        }
        return n;
    }

    // A block opens after the prelude [a, b): at-rules holding rules, or a
    // selector list whose block holds declarations.
    bool openRule(size_t a, size_t b) {
        while (a < b && isSpace(static_cast<unsigned char>(s[a])))
            ++a;
        if (a < b && s[a] == '@') {
            size_t e = a + 1;
            while (e < b && isNameChar(static_cast<unsigned char>(s[e])))
                ++e;
            const std::string name(s + a + 1, e - a - 1);
            return name == "font-face" || name == "page";
        }
        selectorList(a, b);
        return true;
    }

    // Counts the selectors of a list and the parts of each: simple selectors
    // (a name, ".c", "#i", "[a]", ":p") and combinators.
    void selectorList(size_t a, size_t b) {
        int parts = 0;
        bool inName = false;   // inside a name
        bool attached = false; // the next name belongs to ".", "#" or ":"
        bool spaced = false;   // white space since the last part
        bool combined = false; // a combinator was the last part
        int brackets = 0;
        int parens = 0;
        ++m.selectors;
        for (size_t k = a; k < b; ++k) {
            const unsigned char c = static_cast<unsigned char>(s[k]);
            if (c == '/' && k + 1 < b && s[k + 1] == '*') {
                k = std::min(skipComment(k), b) - 1;
                spaced = parts > 0 && !combined;
                inName = false;
                continue;
            }
            if (c == '"' || c == '\'') {
                k = std::min(skipString(k), b) - 1;
                continue;
            }
            if (brackets > 0) {
                brackets += c == '[' ? 1 : c == ']' ? -1 : 0;
                continue;
            }
            if (c == ',' && parens == 0) {
                m.selectorParts = std::max(m.selectorParts, parts);
                parts = 0;
                inName = attached = spaced = combined = false;
                ++m.selectors;
                continue;
            }
            if (isSpace(c)) {
                spaced = parts > 0 && !combined;
                inName = false;
                continue;
            }
            const int combinator = spaced ? 1 : 0;
            combined = false;
            if (isNameChar(c)) {
                if (!inName && !attached)
                    parts += 1 + combinator;
                inName = true;
                attached = false;
            } else {
                inName = false;
                attached = false;
                if (c == '.' || c == '#' || (c == ':' && (k == a || s[k - 1] != ':'))) {
                    parts += 1 + combinator;
                    attached = true;
                } else if (c == ':') {
                    attached = true;
                } else if (c == '[') {
                    parts += 1 + combinator;
                    brackets = 1;
                } else if (c == '>' || c == '+' || c == '~') {
                    ++parts;
                    combined = true;
                } else if (c == '(') {
                    ++parens;
                } else if (c == ')' && parens > 0) {
                    --parens;
                }
            }
            spaced = false;
        }
        m.selectorParts = std::max(m.selectorParts, parts);
    }

    void declaration(size_t a, size_t b) {
        if (b <= a)
            return;
        size_t colon = a;
        while (colon < b && s[colon] != ':')
            ++colon;
        bool blank = true;
        for (size_t k = a; k < b && blank; ++k)
            blank = isSpace(static_cast<unsigned char>(s[k]));
        if (blank)
            return;
        m.declarations = std::max(m.declarations, ++declarationsInBlock);
        m.declarationBytes += static_cast<long>(b - a);
        if (colon < b)
            m.valueBytes = std::max(m.valueBytes, b - colon - 1);
    }

    const char* s;
    size_t n;
    CssGuard::Measure m;
    int paren = 0;
    int declarationsInBlock = 0;
};

// Removes comments as the engine does: it looks for the first "/*" of the
// text left so far (strings are not special), then for "*/" after it, and
// erases both with what lies between; erasing can bring a "/" and a "*"
// together into a new opening. The text before the current position holds no
// "/*", so only the last byte written can start one. Returns where a comment
// was left open (the "*" of its opening, in `in`), or npos; `out` receives
// the text without comments and without the open one.
size_t stripComments(const char* in, size_t n, std::string* out) {
    std::string& o = *out;
    o.clear();
    o.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (in[i] == '*' && !o.empty() && o.back() == '/') {
            o.pop_back();
            size_t k = i + 1;
            while (k + 1 < n && !(in[k] == '*' && in[k + 1] == '/'))
                ++k;
            if (k + 1 >= n)
                return i;
            i = k + 1;
            continue;
        }
        o.push_back(in[i]);
    }
    return std::string::npos;
}

size_t cString(const char* css, size_t size) {
    const void* nul = std::memchr(css, '\0', size);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - css) : size;
}


bool startsWith(const std::string& s, size_t at, const char* word) {
    return s.compare(at, std::strlen(word), word) == 0;
}

// Longer media queries than this are no query a book means; they are not
// handed to the parser, so settling stays linear in the sheet.
constexpr size_t kMaxMediaBytes = 512;

bool mediaSound(const std::string& media) {
    return media.size() <= kMaxMediaBytes && CssGuard::mediaParses(media);
}

// Whether the engine would throw on (or read before) the @media rule at `at`
// of `css`, were it to start a rule there; `stop` is the first '{' or ';'
// after it.
bool mediaRuleFails(const std::string& css, size_t at, size_t stop) {
    if (stop == std::string::npos || css[stop] != '{')
        return false; // no block: the engine skips it
    if (stop - at - 6 > kMaxMediaBytes)
        return true;
    std::string media = css.substr(at + 6, stop - at - 6);
    litehtml::trim(media);
    return !mediaSound(media);
}

bool importRuleFails(const std::string& css, size_t at, size_t stop) {
    size_t end = stop;
    if (end != std::string::npos && css[end] == '{') {
        // The rule runs to the brace that closes this one.
        int depth = 0;
        size_t k = end;
        for (; k < css.size() && k - at <= kMaxMediaBytes; ++k) {
            if (css[k] == '{')
                ++depth;
            else if (css[k] == '}' && --depth == 0)
                break;
        }
        if (k >= css.size() || k - at > kMaxMediaBytes)
            return true;
        end = k;
    }
    const size_t length = end == std::string::npos ? css.size() - at : end - at + 1;
    if (length > kMaxMediaBytes)
        return true;
    std::string rest = css.substr(at + 7, length - 7);
    if (rest.empty())
        return true; // the engine would read before the start of an empty string
    if (rest.back() == ';')
        rest.pop_back();
    litehtml::trim(rest);
    litehtml::string_vector tokens;
    litehtml::split_string(rest, tokens, " ", "", "(\"");
    std::string media;
    for (size_t i = 1; i < tokens.size(); ++i)
        media += (i > 1 ? " " : "") + tokens[i];
    return !media.empty() && !mediaSound(media);
}

// Every "@media" and "@import" that the engine would throw on, were its walk
// over the sheet to start a rule there (it may, from inside what looks like a
// selector), becomes "@-media" or "@-import": an unknown rule, skipped with
// its block just as far, which is what a malformed query means: not applied.
// Returns how many (the sheet changed unless `dryRun`).
int settleMedia(std::string& css, bool dryRun) {
    std::vector<size_t> failing;
    size_t stop = 0;
    bool stopKnown = false;
    for (size_t at = css.find('@'); at != std::string::npos; at = css.find('@', at + 1)) {
        const bool media = startsWith(css, at, "@media");
        if (!media && !startsWith(css, at, "@import"))
            continue;
        if (!stopKnown || (stop != std::string::npos && stop < at)) {
            stop = css.find_first_of("{;", at);
            stopKnown = true;
        }
        if (media ? mediaRuleFails(css, at, stop) : importRuleFails(css, at, stop))
            failing.push_back(at);
    }
    if (!dryRun && !failing.empty()) {
        std::string out;
        out.reserve(css.size() + failing.size());
        size_t from = 0;
        for (size_t at : failing) {
            out.append(css, from, at + 1 - from);
            out.push_back('-');
            from = at + 1;
        }
        out.append(css, from, std::string::npos);
        css.swap(out);
    }
    return static_cast<int>(failing.size());
}

} // namespace

std::string CssGuard::settle(const char* css, size_t size) {
    std::string out;
    stripComments(css, cString(css, size), &out);
    if (const int changed = settleMedia(out, false))
        TF_LOG(LOG_WARN, "style sheet: " << changed << " malformed media queries apply nowhere");
    return out;
}

bool CssGuard::needsSettling(const char* css, size_t size) {
    const size_t n = cString(css, size);
    if (n < size)
        return true;
    std::string scratch;
    return stripComments(css, n, &scratch) != std::string::npos || settleMedia(scratch, true) > 0;
}

bool CssGuard::mediaParses(const std::string& media) {
    // The parser itself is the test: what it builds does not outlive the call.
    try {
        litehtml::media_query_list::create_from_string(media, litehtml::document::ptr());
        return true;
    } catch (...) {
        return false;
    }
}

std::string CssGuard::settleMediaList(const std::string& media) {
    if (mediaParses(media))
        return media;
    TF_LOG(LOG_WARN, "malformed media query applies nowhere: \"" << media.substr(0, 80) << '"');
    return "not all"; // what a malformed query means: a medium that never applies
}

CssGuard::Measure CssGuard::measure(const char* css, size_t size) {
    return Scan(css, size).run(false);
}

CssGuard::Measure CssGuard::measureDeclarations(const char* css, size_t size) {
    return Scan(css, size).run(true);
}

bool CssGuard::admit(std::string& css, Budget* budget) {
    css = settle(css);
    const Measure m = measure(css);
    if (!m.sound()) {
        TF_LOG(LOG_WARN, "style sheet refused (" << m.bytes << " bytes, blocks " << m.blockDepth << " deep, brackets "
                                                 << m.parenDepth << " deep, " << m.selectorParts
                                                 << " parts in a selector, " << m.declarations
                                                 << " declarations in a block, a value of " << m.valueBytes
                                                 << " bytes)");
        return false;
    }
    if (!budget)
        return true;
    const long long cost = m.cost() * std::max(budget->elements, 1L);
    if (budget->used + cost > kMaxPageCost) {
        TF_LOG(LOG_WARN, "style sheet refused: " << m.selectors << " selectors and " << m.declarationBytes
                                                 << " bytes of declarations for a page of " << budget->elements
                                                 << " elements");
        return false;
    }
    budget->used += cost;
    return true;
}

} // namespace tf
