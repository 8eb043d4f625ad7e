#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>
#include <map>
#include <utility>

namespace tf {

// Painted pieces of the document, so that scrolling repaints by copying
// pixels instead of walking the engine's tree again. Tiles are fixed
// rectangles of the document; they are dropped when what they show changes
// (layout, zoom, marks, hover) and the least recently used go when the cache
// holds more than its byte budget. Window thread only.
class TileCache {
public:
    static constexpr int kWidth = 512;
    static constexpr int kHeight = 256;

    explicit TileCache(size_t maxBytes = 48u * 1024 * 1024);

    // The document rectangle of the tile at (column, row).
    static QRect tileRect(int column, int row);
    // The columns and rows of the tiles that cover `documentRect`.
    static void tileSpan(const QRect& documentRect, int& firstColumn, int& lastColumn, int& firstRow, int& lastRow);

    // The tile painted at this device pixel ratio, or null. A new ratio drops every tile.
    const QImage* find(int column, int row, qreal devicePixelRatio);
    void insert(int column, int row, qreal devicePixelRatio, const QImage& image);
    // Drops the tiles that overlap `documentRect`.
    void invalidate(const QRect& documentRect);
    void clear();
    size_t count() const { return m_tiles.size(); }

private:
    struct Tile {
        QImage image;
        uint64_t lastUse = 0;
    };
    void setRatio(qreal devicePixelRatio);

    std::map<std::pair<int, int>, Tile> m_tiles;
    size_t m_maxBytes;
    size_t m_bytes = 0;
    uint64_t m_clock = 0;
    qreal m_ratio = 0;
};

} // namespace tf
