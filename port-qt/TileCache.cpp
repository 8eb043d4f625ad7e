#include "TileCache.h"

#include <cmath>

namespace tf {

namespace {

int floorDiv(int value, int divisor) {
    return static_cast<int>(std::floor(static_cast<double>(value) / divisor));
}

} // namespace

TileCache::TileCache(size_t maxBytes) : m_maxBytes(maxBytes) {}

QRect TileCache::tileRect(int column, int row) {
    return QRect(column * kWidth, row * kHeight, kWidth, kHeight);
}

void TileCache::tileSpan(const QRect& r, int& firstColumn, int& lastColumn, int& firstRow, int& lastRow) {
    firstColumn = floorDiv(r.left(), kWidth);
    lastColumn = floorDiv(r.right(), kWidth);
    firstRow = floorDiv(r.top(), kHeight);
    lastRow = floorDiv(r.bottom(), kHeight);
}

void TileCache::setRatio(qreal devicePixelRatio) {
    if (devicePixelRatio != m_ratio) {
        clear();
        m_ratio = devicePixelRatio;
    }
}

const QImage* TileCache::find(int column, int row, qreal devicePixelRatio) {
    setRatio(devicePixelRatio);
    auto it = m_tiles.find({column, row});
    if (it == m_tiles.end())
        return nullptr;
    it->second.lastUse = ++m_clock;
    return &it->second.image;
}

void TileCache::insert(int column, int row, qreal devicePixelRatio, const QImage& image) {
    setRatio(devicePixelRatio);
    const size_t bytes = static_cast<size_t>(image.sizeInBytes());
    auto key = std::make_pair(column, row);
    auto it = m_tiles.find(key);
    if (it != m_tiles.end()) {
        m_bytes -= static_cast<size_t>(it->second.image.sizeInBytes());
        m_tiles.erase(it);
    }
    // Room for the new tile: the least recently used go first.
    while (!m_tiles.empty() && m_bytes + bytes > m_maxBytes) {
        auto oldest = m_tiles.begin();
        for (auto t = m_tiles.begin(); t != m_tiles.end(); ++t)
            if (t->second.lastUse < oldest->second.lastUse)
                oldest = t;
        m_bytes -= static_cast<size_t>(oldest->second.image.sizeInBytes());
        m_tiles.erase(oldest);
    }
    m_tiles[key] = Tile{image, ++m_clock};
    m_bytes += bytes;
}

void TileCache::invalidate(const QRect& documentRect) {
    if (documentRect.isEmpty() || m_tiles.empty())
        return;
    int c0, c1, r0, r1;
    tileSpan(documentRect, c0, c1, r0, r1);
    for (auto it = m_tiles.begin(); it != m_tiles.end();) {
        const int c = it->first.first, r = it->first.second;
        if (c >= c0 && c <= c1 && r >= r0 && r <= r1) {
            m_bytes -= static_cast<size_t>(it->second.image.sizeInBytes());
            it = m_tiles.erase(it);
        } else {
            ++it;
        }
    }
}

void TileCache::clear() {
    m_tiles.clear();
    m_bytes = 0;
}

} // namespace tf
