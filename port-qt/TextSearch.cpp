#include "TextSearch.h"

#include <QChar>

namespace tf {

namespace {

constexpr char32_t kSeparator = U'\n';

} // namespace

char32_t TextSearch::decodeUtf8(const std::string& s, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + extra >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += extra + 1;
    return cp;
}

char32_t TextSearch::fold(char32_t c) {
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
    return QChar::toCaseFolded(c);
}

bool TextSearch::isSpace(char32_t c) {
    return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == U'\f' || (c >= 0x80 && QChar::isSpace(c));
}

const litehtml::element* TextSearch::blockOf(const litehtml::element::ptr& run) {
    litehtml::element::ptr el = run ? run->parent() : nullptr;
    while (el) {
        const auto display = el->get_display();
        if (display != litehtml::display_inline && display != litehtml::display_inline_text)
            return el.get();
        el = el->parent();
    }
    return nullptr;
}

bool TextSearch::startsNewLine(const TextNode& previous, const TextNode& run) {
    return run.pos.y > previous.pos.y && run.pos.x < previous.pos.x + previous.pos.width;
}

std::string TextSearch::markedText(const text_range_t& runs) {
    std::string out;
    const TextNode* previous = nullptr;
    const litehtml::element* block = nullptr;
    for (const auto& run : runs) {
        if (!run.marked)
            continue;
        const std::string text = run_text(run);
        const litehtml::element* b = blockOf(run.element);
        if (previous) {
            const bool spaced = !out.empty() && (out.back() == ' ' || out.back() == '\n');
            if (b != block)
                out += '\n';
            else if (!spaced && startsNewLine(*previous, run) && !text.empty() && text[0] != ' ')
                out += ' ';
        }
        out += text;
        previous = &run;
        block = b;
    }
    return out;
}

std::u32string TextSearch::normalize(const std::string& utf8) {
    std::u32string out;
    bool space = true; // drops leading white space
    for (size_t i = 0; i < utf8.size();) {
        const char32_t c = decodeUtf8(utf8, i);
        if (isSpace(c)) {
            if (!space)
                out.push_back(U' ');
            space = true;
            continue;
        }
        out.push_back(fold(c));
        space = false;
    }
    if (!out.empty() && out.back() == U' ')
        out.pop_back();
    return out;
}

bool TextSearch::indexed(const text_range_t& runs, const void* document) const {
    return document == m_document && runs.size() == m_runCount &&
           (runs.empty() ? nullptr : runs.front().element.get()) == m_firstElement;
}

void TextSearch::reset() {
    m_text.clear();
    m_run.clear();
    m_byte.clear();
    m_document = nullptr;
    m_runCount = 0;
    m_firstElement = nullptr;
    current = Match();
    currentKeyword.clear();
}

void TextSearch::index(const text_range_t& runs, const void* document) {
    if (indexed(runs, document))
        return;
    reset();
    m_document = document;
    m_runCount = runs.size();
    m_firstElement = runs.empty() ? nullptr : runs.front().element.get();

    const litehtml::element* block = nullptr;
    bool space = true;
    for (size_t r = 0; r < runs.size(); ++r) {
        const litehtml::element* b = blockOf(runs[r].element);
        if (r > 0 && b != block) {
            m_text.push_back(kSeparator);
            m_run.push_back(-1);
            m_byte.push_back(0);
            space = true;
        }
        block = b;
        // A new line without a space run before it (a <br>) still parts two words.
        if (r > 0 && !space && startsNewLine(runs[r - 1], runs[r])) {
            m_text.push_back(U' ');
            m_run.push_back(static_cast<int>(r - 1));
            m_byte.push_back(static_cast<int>(run_text(runs[r - 1]).size()));
            space = true;
        }
        const std::string text = run_text(runs[r]);
        for (size_t i = 0; i < text.size();) {
            const int at = static_cast<int>(i);
            const char32_t c = decodeUtf8(text, i);
            if (isSpace(c)) {
                if (!space) {
                    m_text.push_back(U' ');
                    m_run.push_back(static_cast<int>(r));
                    m_byte.push_back(at);
                }
                space = true;
                continue;
            }
            m_text.push_back(fold(c));
            m_run.push_back(static_cast<int>(r));
            m_byte.push_back(at);
            space = false;
        }
    }
}

TextSearch::Match TextSearch::matchAt(size_t position, size_t length) const {
    Match m;
    if (position == std::u32string::npos || length == 0 || position + length > m_text.size())
        return m;
    m.firstRun = m_run[position];
    m.lastRun = m_run[position + length - 1];
    m.offset = m_byte[position];
    m.position = static_cast<int>(position);
    if (m.firstRun < 0 || m.lastRun < 0)
        return Match();
    return m;
}

TextSearch::Match TextSearch::find(const std::u32string& keyword, long from, bool backward) const {
    if (keyword.empty() || m_text.size() < keyword.size())
        return Match();
    const size_t n = keyword.size();
    if (!backward) {
        size_t start = from < 0 ? 0 : static_cast<size_t>(from);
        size_t pos = start < m_text.size() ? m_text.find(keyword, start) : std::u32string::npos;
        if (pos == std::u32string::npos)
            pos = m_text.find(keyword, 0);
        return matchAt(pos, n);
    }
    size_t pos = std::u32string::npos;
    if (from >= 0)
        pos = m_text.rfind(keyword, static_cast<size_t>(from));
    if (pos == std::u32string::npos)
        pos = m_text.rfind(keyword);
    return matchAt(pos, n);
}

TextSearch::Match TextSearch::next(const std::u32string& keyword, const Match& at, bool backward) const {
    if (!at.valid())
        return find(keyword, backward ? -1 : 0, backward);
    if (backward)
        return find(keyword, at.position > 0 ? at.position - 1 : -1, true);
    return find(keyword, at.position + 1, false);
}

} // namespace tf
