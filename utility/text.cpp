#include "utility/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <b64/cdecode.h>
}

namespace tf {

bool is_space(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

std::vector<std::string> explode(const std::string& text, const char& separator) {
    std::vector<std::string> out;
    std::string piece;
    for (char c : text) {
        if (c == separator) {
            if (!piece.empty())
                out.push_back(trim(piece));
            piece.clear();
        } else {
            piece.push_back(c);
        }
    }
    if (!piece.empty())
        out.push_back(trim(piece));
    return out;
}

std::string rtrim(std::string& text) {
    size_t e = text.size();
    while (e > 0 && is_space(text[e - 1]))
        --e;
    text.erase(e);
    return text;
}

std::string ltrim(std::string& text) {
    size_t b = 0;
    while (b < text.size() && is_space(text[b]))
        ++b;
    text.erase(0, b);
    return text;
}

std::string trim(std::string& text) {
    rtrim(text);
    std::string copy = text;
    return ltrim(copy);
}

std::string str2lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

int str2int(const char* text, int /*base*/) {
    if (!text)
        return 0;
    // atoi rules without its undefined behaviour on overflow: clamp instead.
    while (*text == ' ' || (*text >= 9 && *text <= 13))
        ++text;
    bool neg = false;
    if (*text == '+' || *text == '-')
        neg = (*text++ == '-');
    long long v = 0;
    while (*text >= '0' && *text <= '9') {
        v = v * 10 + (*text++ - '0');
        if (v > 2147483648LL)
            v = 2147483648LL;
    }
    if (neg)
        v = -v;
    if (v > 2147483647LL)
        v = 2147483647LL;
    return static_cast<int>(v);
}

void file_get_contents(std::string path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return;
    std::string data;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, n);
    std::fclose(f);
    out.swap(data);
}

long file_put_contents(std::string path, unsigned char* data, long length) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return -1;
    long written = 0;
    if (length > 0 && data)
        written = static_cast<long>(std::fwrite(data, 1, static_cast<size_t>(length), f));
    bool ok = std::fclose(f) == 0;
    // A short write (full disk) is a failure, not a success.
    if (!ok || written != (length > 0 ? length : 0))
        return -1;
    return length;
}

std::string shortify(std::string text, unsigned limit) {
    if (text.size() <= limit)
        return text;
    unsigned h = limit / 2;
    return text.substr(0, h) + ".." + text.substr(text.size() - h);
}

std::string base64_decode(std::string text) {
    // Keep only alphabet characters: the decoder then never sees '=' or breaks.
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
            c == '/')
            clean.push_back(c);
    }
    std::string out(clean.size(), '\0');
    base64_decodestate state;
    base64_init_decodestate(&state);
    int n = base64_decode_block(clean.data(), static_cast<int>(clean.size()), &out[0], &state);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

bool beginsWith(std::string text, const char* prefix) {
    if (!prefix)
        return true;
    size_t n = std::strlen(prefix);
    return n <= text.size() && text.compare(0, n, prefix) == 0;
}

bool endsWith(std::string text, const char* suffix) {
    if (!suffix)
        return true;
    size_t n = std::strlen(suffix);
    return n <= text.size() && text.compare(text.size() - n, n, suffix) == 0;
}

std::string ReplaceAll(std::string subject, const std::string& search, const std::string& replacement) {
    if (search.empty())
        return subject;  // would never end otherwise
    size_t pos = 0;
    while ((pos = subject.find(search, pos)) != std::string::npos) {
        subject.replace(pos, search.size(), replacement);
        pos += replacement.size();
    }
    return subject;
}

std::string str_replace(std::string subject, const std::string& search, const std::string& replacement) {
    if (search.empty() || subject.empty())
        return subject;
    return ReplaceAll(std::move(subject), search, replacement);
}

void explode2(std::string text, std::string separator, std::vector<std::string>& out) {
    if (separator.empty()) {
        out.push_back(ltrim(text));
        return;
    }
    for (;;) {
        size_t pos = text.find(separator);
        if (pos == std::string::npos) {
            out.push_back(ltrim(text));
            return;
        }
        std::string part = text.substr(0, pos);
        out.push_back(trim(part));
        text.erase(0, pos + separator.size());
    }
}

bool is_numeric(const std::string& text, int* sign) {
    if (text.empty())
        return false;
    size_t i = 0;
    bool negative = false;
    if (text[0] == '-') {
        if (!sign)
            return false;
        negative = true;
        i = 1;
    }
    if (i >= text.size())
        return false;
    for (; i < text.size(); ++i)
        if (!((text[i] >= '0' && text[i] <= '9') || text[i] == '.'))
            return false;
    if (negative)
        *sign = -1;
    return true;
}

std::string str2safe(std::string text) {
    for (char& c : text)
        if (c == '\'' || c == '#' || c == '/' || c == '"' || c == ' ')
            c = '_';
    return text;
}

uint32_t str2id(std::string text) {
    uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

std::string url_encode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || c == '.' || c == '~' || c == '/') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

void xml_escape_into(std::string& out, const char* text, size_t size, bool quotes) {
    for (size_t i = 0; i < size; ++i) {
        char c = text[i];
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += quotes ? "&quot;" : "\""; break;
        case '\'': out += quotes ? "&#39;" : "'"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                out.push_back(' ');
            else
                out.push_back(c);
        }
    }
}

std::string xml_escape(const std::string& text, bool quotes) {
    std::string out;
    out.reserve(text.size());
    xml_escape_into(out, text.data(), text.size(), quotes);
    return out;
}

static int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string url_decode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
            hex_value(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

} // namespace tf
