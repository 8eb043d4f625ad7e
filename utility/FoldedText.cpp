#include "utility/FoldedText.h"

#include <utf8proc.h>

namespace tf {

namespace {

// Marks that only accent a letter in readers' eyes; others (kana voicing,
// Indic vowel signs, ...) make a letter of their own and stay.
bool droppableMark(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
           (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE20 && c <= 0xFE2F) ||
           (c >= 0x0591 && c <= 0x05BD) || c == 0x05BF || c == 0x05C1 || c == 0x05C2 || c == 0x05C4 ||
           c == 0x05C5 || c == 0x05C7 || (c >= 0x0610 && c <= 0x061A) || (c >= 0x064B && c <= 0x065F) ||
           c == 0x0670;
}

char32_t plainPunctuation(char32_t c) {
    switch (c) {
    case 0x2018: case 0x2019: case 0x201A: case 0x201B: case 0x02BC: case 0x2032:
        return U'\'';
    case 0x201C: case 0x201D: case 0x201E: case 0x201F: case 0x2033:
        return U'"';
    default:
        return c;
    }
}

} // namespace

bool FoldedText::isSpace(char32_t c) {
    if (c == U' ' || c == U'\n' || c == U'\t' || c == U'\r' || c == U'\f')
        return true;
    if (c < 0x80)
        return false;
    return c == 0x85 || c == 0x2028 || c == 0x2029 ||
           utf8proc_category(static_cast<utf8proc_int32_t>(c)) == UTF8PROC_CATEGORY_ZS;
}

FoldedText::FoldedText(const std::u32string& source, Mode mode) : m_sourceSize(source.size()) {
    m_text.reserve(source.size());
    m_origin.reserve(source.size());
    const auto options = static_cast<utf8proc_option_t>(
        mode == EXACT ? (UTF8PROC_DECOMPOSE | UTF8PROC_IGNORE)
                      : (UTF8PROC_DECOMPOSE | UTF8PROC_COMPAT | UTF8PROC_CASEFOLD | UTF8PROC_IGNORE));
    char32_t pending = 0; // the space or line break a white-space run becomes
    uint32_t pendingOrigin = 0;
    auto emit = [this](char32_t c, size_t origin) {
        m_text.push_back(c);
        m_origin.push_back(static_cast<uint32_t>(origin));
    };
    for (size_t i = 0; i < source.size(); ++i) {
        char32_t c = source[i];
        if (isSpace(c)) {
            if (!pending)
                pendingOrigin = static_cast<uint32_t>(i);
            if (c == U'\n' || c == 0x2028 || c == 0x2029)
                pending = U'\n';
            else if (!pending)
                pending = U' ';
            continue;
        }
        if (c < 0x80) {
            if (pending) {
                emit(pending, pendingOrigin);
                pending = 0;
            }
            if (mode == LOOSE && c >= U'A' && c <= U'Z')
                c += U'a' - U'A';
            emit(c, i);
            continue;
        }
        if (mode == LOOSE) {
            c = plainPunctuation(c);
            // The short i is a letter of its own, not an accented i.
            if (c == 0x0419 || c == 0x0439) {
                if (pending) {
                    emit(pending, pendingOrigin);
                    pending = 0;
                }
                emit(0x0439, i);
                continue;
            }
        }
        utf8proc_int32_t parts[32];
        int boundclass = 0;
        utf8proc_ssize_t n = utf8proc_decompose_char(static_cast<utf8proc_int32_t>(c), parts, 32, options, &boundclass);
        if (n < 0 || n > 32) {
            parts[0] = static_cast<utf8proc_int32_t>(c);
            n = 1;
        }
        for (utf8proc_ssize_t k = 0; k < n; ++k) {
            const char32_t part = static_cast<char32_t>(parts[k]);
            if (mode == LOOSE && droppableMark(part))
                continue;
            if (isSpace(part)) { // a compatibility form of a space
                if (!pending) {
                    pendingOrigin = static_cast<uint32_t>(i);
                    pending = U' ';
                }
                continue;
            }
            if (pending) {
                emit(pending, pendingOrigin);
                pending = 0;
            }
            emit(part, i);
        }
    }
    if (pending)
        emit(pending, pendingOrigin);
}

size_t FoldedText::sourceOffset(size_t i) const {
    return i < m_origin.size() ? m_origin[i] : m_sourceSize;
}

size_t FoldedText::sourceEnd(size_t j) const {
    if (j == 0)
        return sourceOffset(0);
    if (j > m_origin.size())
        return m_sourceSize;
    return m_origin[j - 1] + 1;
}

std::u32string FoldedText::query(const std::string& utf8, Mode mode) {
    FoldedText folded(decode(utf8), mode);
    std::u32string q = folded.m_text;
    for (char32_t& c : q) {
        if (c == U'\n')
            c = U' ';
    }
    const size_t first = q.find_first_not_of(U' ');
    if (first == std::u32string::npos)
        return std::u32string();
    const size_t last = q.find_last_not_of(U' ');
    return q.substr(first, last - first + 1);
}

std::u32string FoldedText::decode(const std::string& utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
    const auto size = static_cast<utf8proc_ssize_t>(utf8.size());
    utf8proc_ssize_t i = 0;
    while (i < size) {
        if (bytes[i] < 0x80) {
            out.push_back(bytes[i++]);
            continue;
        }
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(bytes + i, size - i, &cp);
        if (n <= 0 || cp < 0) {
            out.push_back(0xFFFD);
            ++i;
        } else {
            out.push_back(static_cast<char32_t>(cp));
            i += n;
        }
    }
    return out;
}

void FoldedText::append(std::string& out, char32_t c) {
    utf8proc_uint8_t buf[4];
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    const utf8proc_ssize_t n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), buf);
    out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
}

std::string FoldedText::encode(const std::u32string& text, size_t from, size_t to) {
    std::string out;
    if (to > text.size())
        to = text.size();
    for (size_t i = from; i < to; ++i)
        append(out, text[i]);
    return out;
}

} // namespace tf
