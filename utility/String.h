#pragma once

#include <string>
#include <vector>

namespace tf {

// Wide text for file names, addresses and window text.
// Conversions from and to byte strings are byte-exact: byte b <-> code unit b.
// Only utf2wide() decodes UTF-8.
class String : public std::wstring {
public:
    // Byte used by str() for code units that have no byte of the same value (> 255).
    static constexpr char kNarrowReplacement = '?';

    String() = default;
    String(const char* text);
    String(const std::string& text);
    String(const std::wstring& text) : std::wstring(text) {}
    String(const wchar_t* text) : std::wstring(text ? text : L"") {}
    String(std::wstring::const_iterator first, std::wstring::const_iterator last)
        : std::wstring(first, last) {}

    // Byte-exact narrowing; ends at the first zero code unit.
    std::string str() const;
    // Decodes `length` bytes of UTF-8; malformed sequences become U+FFFD.
    static String utf2wide(const char* text, int length);
    // Encodes as UTF-8 (the inverse of utf2wide, for text shown to or typed by the user).
    std::string utf8() const;

    size_type find(const std::wstring& needle, unsigned start = 0) const;
    String substring(unsigned start, unsigned count = static_cast<unsigned>(-1)) const;
    bool endsWith(const String& suffix) const;
    String lc() const;
    String uc() const;
    String trim() const;
    std::vector<String> explode(wchar_t separator) const;
    void print() const;
};

} // namespace tf
