#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <litehtml.h>

namespace tf {

// A long chapter as a strip of pieces: its markup cut at the ends of blocks
// where a cut changes nothing before it (PagePrefix), each piece a stretch of
// at least `budget` bytes. A few neighbouring pieces make a page of their own
// (window()): the chapter's head, the elements open where the first piece
// starts reopened as written, then the pieces; the parser closes what is left
// open. Such a page lays the pieces out as the whole chapter does, shifted by
// a constant, except where a style looks at what precedes the first piece
// (":first-child", "h1 + p") or numbers it (no cut inside a numbered list).
//
// Markup that cannot be cut (tag soup, a style sheet in the body, a style
// that looks ahead) is one piece.
class ChapterPieces {
public:
    struct Piece {
        size_t begin = 0; // bytes of the chapter's markup
        size_t end = 0;
        std::string reopen; // start tags of the elements open at `begin`, outermost first
    };

    ChapterPieces() = default;
    ChapterPieces(std::shared_ptr<const std::string> html, size_t budget);

    const std::string& html() const;

    size_t size() const { return m_pieces.size(); }
    const Piece& piece(size_t i) const { return m_pieces[i]; }

    // Pieces [first, last] as a page; "" when first > last or last >= size().
    // `marked`: the first start tag of each piece carries the piece's number
    // (kMark), which changes nothing in its layout, and an empty block after
    // the last one carries last + 1, so that where each piece starts and the
    // window ends can be read from the laid-out page (tops()). `above` and
    // `below`: empty space before the first piece and after the last, standing
    // in for the pieces left out.
    std::string window(size_t first, size_t last, bool marked = false, int above = 0, int below = 0) const;
    // Piece number and top (document y) of each marked piece start in a laid-out window.
    static std::vector<std::pair<size_t, int>> tops(const litehtml::document::ptr& doc);
    static constexpr const char* kMark = "data-orinel-piece";
    // The piece that holds byte `at` of the markup (the last one past its end).
    size_t pieceAt(size_t at) const;
    // The piece where the element with this id starts; size() when none does.
    size_t pieceOfId(const std::string& id) const;

private:
    std::shared_ptr<const std::string> m_html = std::make_shared<const std::string>();
    std::string m_head; // what precedes the body's content and is not reopened: up to "</head>"
    std::vector<Piece> m_pieces;
};

} // namespace tf
