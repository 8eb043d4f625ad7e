#pragma once

#include <QImage>
#include <QString>

namespace tf {

// A book's thumbnail for file managers: its cover picture, or, where the book
// has none (or it cannot be decoded), its first page laid out as the reader
// shows it. The picture fits a square of `size` pixels, is never enlarged and
// is opaque (transparent parts on white).
//
// Opens the book with its own reader and view; it touches no library and
// writes no file. The format comes from the file name's ending; a name
// without a known one is recognised by its first bytes (EPUB or FictionBook).
// The page fallback needs a QApplication on the calling thread.
class BookThumbnail {
public:
    static constexpr int kMaxSize = 4096;
    // The page the fallback lays out before scaling it down.
    static constexpr int kPageWidth = 600;
    static constexpr int kPageHeight = 800;

    // The thumbnail; a null image, with the reason in `why`, when the book
    // cannot be read or shows nothing. `size` outside 1..kMaxSize fails.
    static QImage make(const QString& path, int size, QString* why = nullptr);

    // `image` scaled to fit size x size (never enlarged), drawn on white.
    static QImage fit(const QImage& image, int size);
};

} // namespace tf
