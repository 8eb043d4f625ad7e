#include "src/TextAnchorMap.h"

#include <algorithm>

#include <utf8proc.h>

#include "utility/FoldedText.h"

namespace tf {

namespace {

// A run missing from this far ahead is taken for text the page adds.
constexpr size_t kLookAhead = 4096;
// After this many runs in a row without a place, the text hidden by style is
// looked past: the next runs together are sought in all of the rest.
constexpr int kLostRuns = 6;

char32_t lower(char32_t c) {
    if (c < 0x80)
        return (c >= U'A' && c <= U'Z') ? c + 32 : c;
    return static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c)));
}

bool sameAt(const std::u32string& text, size_t at, const std::u32string& word) {
    if (at + word.size() > text.size())
        return false;
    for (size_t k = 0; k < word.size(); ++k) {
        if (text[at + k] != word[k] && lower(text[at + k]) != lower(word[k]))
            return false;
    }
    return true;
}

size_t findFrom(const std::u32string& text, size_t from, size_t limit, const std::u32string& word) {
    const size_t end = std::min(text.size(), limit);
    for (size_t at = from; at + word.size() <= end; ++at) {
        if (sameAt(text, at, word))
            return at;
    }
    return std::u32string::npos;
}

bool blank(const std::u32string& word) {
    for (char32_t c : word) {
        if (!FoldedText::isSpace(c))
            return false;
    }
    return true;
}

} // namespace

void TextAnchorMap::build(const std::u32string& text, const text_range_t& runs, size_t from) {
    m_runs.clear();
    m_wordRuns = 0;
    std::vector<std::u32string> words(runs.size());
    for (size_t i = 0; i < runs.size(); ++i)
        words[i] = FoldedText::decode(run_text(runs[i]));
    size_t cursor = std::min(from, text.size());
    int lost = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        const std::u32string& word = words[i];
        if (word.empty() || blank(word))
            continue;
        ++m_wordRuns;
        size_t at = findFrom(text, cursor, cursor + kLookAhead + word.size(), word);
        if (at == std::u32string::npos && ++lost >= kLostRuns) {
            // Look for this run and the next few together, anywhere further on.
            std::u32string phrase = word;
            size_t k = i + 1;
            for (int n = 0; k < runs.size() && n < 6; ++k) {
                if (words[k].empty() || blank(words[k]))
                    continue;
                phrase += words[k];
                ++n;
            }
            // The text has spaces between the runs' words: compare without them.
            size_t pos = cursor;
            while (pos < text.size()) {
                size_t t = pos, w = 0;
                while (t < text.size() && w < phrase.size()) {
                    if (FoldedText::isSpace(text[t])) {
                        ++t;
                        continue;
                    }
                    if (text[t] != phrase[w] && lower(text[t]) != lower(phrase[w]))
                        break;
                    ++t;
                    ++w;
                }
                if (w == phrase.size()) {
                    at = pos;
                    break;
                }
                ++pos;
            }
            if (at == std::u32string::npos) {
                lost = 0;
                continue; // not in the text at all: generated
            }
        }
        if (at == std::u32string::npos)
            continue;
        lost = 0;
        cursor = at + word.size();
        Run run;
        run.offset = static_cast<long>(at);
        run.length = static_cast<long>(word.size());
        run.index = static_cast<int>(i);
        run.top = runs[i].pos.y;
        run.bottom = runs[i].pos.y + runs[i].pos.height;
        m_runs.push_back(run);
    }
}

long TextAnchorMap::offsetAt(int y) const {
    // Runs are in text order; a line's runs share their height, and what lies
    // lower in the text lies lower on the page except for floats: the first in
    // text order whose box reaches below y.
    for (const Run& run : m_runs) {
        if (run.bottom > y)
            return run.offset;
    }
    return -1;
}

int TextAnchorMap::topOf(long offset) const {
    auto it = std::lower_bound(m_runs.begin(), m_runs.end(), offset,
                               [](const Run& run, long value) { return run.offset + run.length <= value; });
    return it == m_runs.end() ? -1 : it->top;
}

std::pair<int, int> TextAnchorMap::runsOf(long offset, long length) const {
    auto it = std::lower_bound(m_runs.begin(), m_runs.end(), offset,
                               [](const Run& run, long value) { return run.offset + run.length <= value; });
    if (it == m_runs.end() || it->offset >= offset + std::max(1L, length))
        return {-1, -1};
    int first = it->index, last = it->index;
    for (; it != m_runs.end() && it->offset < offset + std::max(1L, length); ++it)
        last = it->index;
    return {first, last};
}

} // namespace tf
