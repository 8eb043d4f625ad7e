#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace tf {

// Where the pieces of a long chapter (ChapterPieces) lie on one strip, the
// chapter as the scroll bar shows it: the heights of the pieces laid out so
// far, estimates for the others from their markup size and what the measured
// ones took per byte, and the window of pieces to lay out around a place.
//
// A window's page measures its inner pieces exactly; the pieces at its ends
// carry the page's own margins, so they count only until an inner (or the
// chapter's own first or last) measure of them comes.
class ChapterStrip {
public:
    ChapterStrip() = default;
    // `bytes[i]`: the markup size of piece i.
    explicit ChapterStrip(std::vector<size_t> bytes);

    size_t size() const { return m_pieces.size(); }
    // A window of pieces [first, last] was laid out `height` px tall, with
    // `tops` the page y of the starts of its pieces (ChapterPieces::tops): those
    // after `first`, and `first` and the end (`last` + 1) where marked; the
    // page's top and bottom stand in for them otherwise.
    void measured(size_t first, size_t last, const std::vector<std::pair<size_t, int>>& tops, int height);
    // Whether any piece has been laid out.
    bool anyMeasured() const { return m_measured; }
    // Whether piece i has been laid out (in any window).
    bool isMeasured(size_t i) const { return i < m_pieces.size() && m_pieces[i].quality > 0; }
    // Height of piece i, measured or estimated.
    int pieceHeight(size_t i) const;
    // Strip y of the top of piece i (size() gives the whole height).
    int top(size_t i) const;
    int height() const { return top(m_pieces.size()); }
    // The piece at strip y (the first or last one beyond the strip).
    size_t pieceAt(int y) const;
    // The `count` pieces around piece `p`, `p` in their middle where the strip allows.
    std::pair<size_t, size_t> windowAround(size_t p, size_t count) const;

private:
    struct Piece {
        size_t bytes = 0;
        int height = 0;
        int quality = 0; // 0 estimated, 1 measured at a window's end, 2 exactly
    };
    std::vector<Piece> m_pieces;
    double m_pxPerByte = 0.02; // until a measure says otherwise
    bool m_measured = false;
};

} // namespace tf
