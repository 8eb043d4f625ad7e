#include "src/ChapterStrip.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tf {

ChapterStrip::ChapterStrip(std::vector<size_t> bytes) {
    m_pieces.reserve(bytes.size());
    for (size_t b : bytes) {
        Piece p;
        p.bytes = b;
        m_pieces.push_back(p);
    }
}

void ChapterStrip::measured(size_t first, size_t last, const std::vector<std::pair<size_t, int>>& tops, int height) {
    if (first > last || last >= m_pieces.size() || height < 0)
        return;
    // Starts of the window's pieces as marked; unmarked ones (no start tag to
    // carry a mark) stay unknown, and the page's top and bottom stand in for
    // the first piece's start and the end.
    const size_t n = last - first + 2;
    std::vector<int> start(n, -1);
    std::vector<bool> marked(n, false);
    for (const auto& t : tops)
        if (t.first >= first && t.first <= last + 1 && t.second >= 0 && t.second <= height) {
            start[t.first - first] = t.second;
            marked[t.first - first] = true;
        }
    if (start[0] < 0)
        start[0] = 0;
    if (start[n - 1] < 0)
        start[n - 1] = height;
    for (size_t i = first; i <= last; ++i) {
        const int from = start[i - first];
        const int to = start[i - first + 1];
        if (from < 0 || to < from)
            continue;
        // Between two marks (or the chapter's own top and end) is exactly the
        // piece; what the page adds at its ends counts only until then.
        const bool fromExact = marked[i - first] || i == 0;
        const bool toExact = i < last ? marked[i - first + 1] : i + 1 == m_pieces.size();
        const int quality = fromExact && toExact ? 2 : 1;
        Piece& p = m_pieces[i];
        if (quality >= p.quality) {
            p.height = to - from;
            p.quality = quality;
        }
    }
    double px = 0, bytes = 0;
    for (const Piece& p : m_pieces)
        if (p.quality > 0) {
            px += p.height;
            bytes += static_cast<double>(p.bytes);
        }
    if (bytes > 0 && px > 0) {
        m_pxPerByte = px / bytes;
        m_measured = true;
    }
}

int ChapterStrip::pieceHeight(size_t i) const {
    if (i >= m_pieces.size())
        return 0;
    const Piece& p = m_pieces[i];
    if (p.quality > 0)
        return p.height;
    const double estimate = std::ceil(static_cast<double>(p.bytes) * m_pxPerByte);
    return static_cast<int>(std::min<double>(estimate, std::numeric_limits<int>::max() / 4));
}

int ChapterStrip::top(size_t i) const {
    long long y = 0;
    for (size_t k = 0; k < i && k < m_pieces.size(); ++k)
        y += pieceHeight(k);
    return static_cast<int>(std::min<long long>(y, std::numeric_limits<int>::max()));
}

size_t ChapterStrip::pieceAt(int y) const {
    if (m_pieces.empty())
        return 0;
    long long top = 0;
    for (size_t k = 0; k < m_pieces.size(); ++k) {
        top += pieceHeight(k);
        if (y < top)
            return k;
    }
    return m_pieces.size() - 1;
}

std::pair<size_t, size_t> ChapterStrip::windowAround(size_t p, size_t count) const {
    if (m_pieces.empty())
        return {0, 0};
    count = std::max<size_t>(1, std::min(count, m_pieces.size()));
    p = std::min(p, m_pieces.size() - 1);
    size_t first = p >= count / 2 ? p - count / 2 : 0;
    first = std::min(first, m_pieces.size() - count);
    return {first, first + count - 1};
}

} // namespace tf
