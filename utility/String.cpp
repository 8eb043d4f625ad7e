#include "utility/String.h"

#include <cstdio>
#include <iostream>

#include "utility/text.h"

namespace tf {

String::String(const char* text) {
    if (!text)
        return;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        push_back(static_cast<wchar_t>(*p));
}

String::String(const std::string& text) {
    reserve(text.size());
    for (unsigned char c : text) {
        if (c == 0)
            break;
        push_back(static_cast<wchar_t>(c));
    }
}

std::string String::str() const {
    std::string out;
    out.reserve(size());
    for (wchar_t c : *this) {
        if (c == 0)
            break;
        unsigned long u = static_cast<unsigned long>(c);
        out.push_back(u <= 255 ? static_cast<char>(u) : kNarrowReplacement);
    }
    return out;
}

String String::utf2wide(const char* text, int length) {
    String out;
    if (!text || length <= 0)
        return out;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    size_t n = static_cast<size_t>(length);
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c < 0x80) {
            out.push_back(static_cast<wchar_t>(c));
            ++i;
            continue;
        }
        int extra;
        unsigned long cp;
        unsigned long min;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1; cp = c & 0x1F; min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2; cp = c & 0x0F; min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3; cp = c & 0x07; min = 0x10000;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= static_cast<size_t>(extra) && i + j < n; ++j) {
            unsigned char cc = s[i + j];
            if ((cc & 0xC0) != 0x80)
                break;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (j != static_cast<size_t>(extra) + 1 || cp < min || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            // One replacement for the lead byte and the continuation bytes read with it.
            out.push_back(0xFFFD);
            i += j;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += j;
    }
    return out;
}

std::string String::utf8() const {
    std::string out;
    out.reserve(size());
    for (wchar_t wc : *this) {
        unsigned long c = static_cast<unsigned long>(wc);
        if (c == 0)
            break;
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

String::size_type String::find(const std::wstring& needle, unsigned start) const {
    return std::wstring::find(needle, start);
}

String String::substring(unsigned start, unsigned count) const {
    return String(substr(start, count));
}

bool String::endsWith(const String& suffix) const {
    if (suffix.size() > size())
        return false;
    return compare(size() - suffix.size(), suffix.size(), suffix) == 0;
}

String String::lc() const {
    String out(*this);
    for (wchar_t& c : out)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return out;
}

String String::uc() const {
    String out(*this);
    for (wchar_t& c : out)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return out;
}

static bool is_wspace(wchar_t c) {
    return c == L' ' || (c >= 9 && c <= 13);
}

String String::trim() const {
    size_type b = 0, e = size();
    while (b < e && is_wspace((*this)[b]))
        ++b;
    while (e > b && is_wspace((*this)[e - 1]))
        --e;
    return String(substr(b, e - b));
}

std::vector<String> String::explode(wchar_t separator) const {
    std::vector<String> out;
    String piece;
    for (wchar_t c : *this) {
        if (c == separator) {
            if (!piece.empty())
                out.push_back(piece.trim());
            piece.clear();
        } else {
            piece.push_back(c);
        }
    }
    if (!piece.empty())
        out.push_back(piece.trim());
    return out;
}

void String::print() const {
    // Mixing wide and narrow output on one stream is undefined in C; print UTF-8.
    std::cout << utf8() << std::endl;
}

} // namespace tf
