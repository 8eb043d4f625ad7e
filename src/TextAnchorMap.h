#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine-additions/TextRange.h"

namespace tf {

// Where each visible text run of a laid-out entry stands in the entry's
// extracted text (EntryText), and back: the character offset of the first
// text at a height of the page, the height of the text at an offset, and the
// runs that show a stretch of the text.
//
// The runs are aligned with the text in order, comparing letters without
// case (a style may transform it). Runs the text does not hold (generated
// content) are passed over; text the page does not show (hidden by style) is
// skipped in the text. Lookups work on the runs that found their place.
class TextAnchorMap {
public:
    struct Run {
        long offset;  // first character in the entry's text
        long length;  // characters of the run
        int index;    // index in the text range it was built from
        int top, bottom;
    };

    // `runs`: the page's text range in document order (boxes in document coordinates).
    // `from`: where in the text the runs start, about (a window of a long chapter).
    void build(const std::u32string& text, const text_range_t& runs, size_t from = 0);
    void clear() { m_runs.clear(); }
    bool empty() const { return m_runs.empty(); }
    const std::vector<Run>& runs() const { return m_runs; }
    // Runs with text (not only white space) seen by the last build.
    size_t wordRuns() const { return m_wordRuns; }

    // The offset of the first text whose box reaches below `y`; -1 when none.
    long offsetAt(int y) const;
    // The top of the run holding `offset` (or the first one after it); -1 when none.
    int topOf(long offset) const;
    // Text range indices (first, last) of the runs showing [offset, offset + length); (-1, -1) when none.
    std::pair<int, int> runsOf(long offset, long length) const;

private:
    std::vector<Run> m_runs; // ascending offsets
    size_t m_wordRuns = 0;
};

} // namespace tf
