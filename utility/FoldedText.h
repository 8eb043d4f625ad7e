#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tf {

// A text made ready for matching, with a map from every folded code point
// back to the code point of the source it came from.
//
// Loose (the default): Unicode case folding and compatibility decomposition
// (utf8proc), accents of Latin, Greek, Cyrillic, Hebrew and Arabic letters
// dropped ("Natásha" -> "natasha", "Straße" -> "strasse"), typographic
// apostrophes and quotes as their plain forms. Marks that make a different
// letter elsewhere stay (Japanese voicing marks, Indic vowel signs, the
// Cyrillic short i). Exact: canonical decomposition only, so case and accents
// count but precomposed and decomposed forms still match.
// Both modes: invisible characters (soft hyphens, zero-width spaces) are
// dropped, and a run of white space becomes one space, or one line break when
// the run holds one: the source's line breaks part blocks, and a query never
// matches across them.
class FoldedText {
public:
    enum Mode { LOOSE, EXACT };

    FoldedText() = default;
    FoldedText(const std::u32string& source, Mode mode);

    const std::u32string& text() const { return m_text; }
    size_t size() const { return m_text.size(); }
    // The source code point that folded position `i` came from (the source's
    // size for i == size()).
    size_t sourceOffset(size_t i) const;
    // The end (one past) in the source of folded positions [i, j): whole source code points.
    size_t sourceEnd(size_t j) const;

    // A query as it is matched: folded like the text, white space trimmed and
    // collapsed to single spaces. Empty when nothing is left.
    static std::u32string query(const std::string& utf8, Mode mode);

    // UTF-8 <-> code points. Malformed bytes decode as U+FFFD, one per byte.
    static std::u32string decode(const std::string& utf8);
    static std::string encode(const std::u32string& text, size_t from = 0, size_t to = std::u32string::npos);
    static void append(std::string& out, char32_t c);

    // The white space of both modes (HTML's own plus Unicode spaces).
    static bool isSpace(char32_t c);

private:
    std::u32string m_text;
    std::vector<uint32_t> m_origin;
    size_t m_sourceSize = 0;
};

} // namespace tf
