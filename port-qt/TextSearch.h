#pragma once

#include <string>
#include <vector>

#include "engine-additions/TextRange.h"

namespace tf {

// The text of a page's runs as one case-folded sequence of code points, on
// which keywords are found in document order. Runs of white space count as one
// space, so a phrase matches across the space runs between its words; the
// runs of two different blocks are kept apart, so no match joins the end of
// one paragraph to the start of the next.
class TextSearch {
public:
    struct Match {
        int firstRun = -1; // text range index of the first run of the match
        int lastRun = -1;  // ... and of its last run
        int offset = -1;   // byte offset of the match in its first run
        int position = -1; // where it starts in the folded text
        bool valid() const { return firstRun >= 0; }
    };

    // Indexes `runs` of `document`; nothing to do when it was indexed already.
    // Re-indexing forgets the current match.
    void index(const text_range_t& runs, const void* document);
    bool indexed(const text_range_t& runs, const void* document) const;
    void reset();

    // The keyword as the text is indexed: UTF-8 decoded, white space collapsed
    // and trimmed, case-folded. Empty when nothing but white space.
    static std::u32string normalize(const std::string& utf8);
    // The first occurrence at or after `from` (backwards: the last one at or
    // before it), wrapping round the page; an invalid match when there is none.
    Match find(const std::u32string& keyword, long from, bool backward) const;
    // The next occurrence after `current` (backwards: before it), wrapping.
    Match next(const std::u32string& keyword, const Match& current, bool backward) const;

    // `run` begins a new line after `previous` (it starts further down, back to the left).
    static bool startsNewLine(const TextNode& previous, const TextNode& run);
    // The text of the marked runs in document order: blocks on lines of their
    // own, and a space where a line break parts two words without a space run.
    static std::string markedText(const text_range_t& runs);
    // The block (the nearest ancestor that is not inline) a run belongs to.
    static const litehtml::element* blockOf(const litehtml::element::ptr& run);
    // Decodes one code point of UTF-8 at `i` and advances `i`; U+FFFD for a malformed sequence.
    static char32_t decodeUtf8(const std::string& text, size_t& i);
    static char32_t fold(char32_t c);
    static bool isSpace(char32_t c);

    // The current match (what the view shows marked).
    Match current;
    std::u32string currentKeyword;

private:
    Match matchAt(size_t position, size_t length) const;

    std::u32string m_text;
    std::vector<int> m_run;  // per code point of m_text: its run, -1 for a block separator
    std::vector<int> m_byte; // per code point: its byte offset in the run
    const void* m_document = nullptr;
    size_t m_runCount = 0;
    const litehtml::element* m_firstElement = nullptr;
};

} // namespace tf
