#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace tf {

// Writes a painted page as an 8-bit RGB PNG, fast: Qt's own writer tries
// every row filter on every row and spends more time on a page than laying
// it out. Here each row is filtered with "up" (text and flat colour compress
// well with it), zlib runs at its fastest level, and the image is cut into
// bands deflated on parallel threads and joined into one stream. Alpha is
// dropped: pages are painted on an opaque background.
class PngWriter {
public:
    // The PNG file's bytes; empty for a null image or when zlib fails.
    // `threads` 0 picks one per core (for large enough images).
    static QByteArray encode(const QImage& image, int threads = 0);

    // Encodes and writes `path`; on failure says why in `error`.
    static bool write(const QImage& image, const QString& path, QString* error = nullptr);
};

} // namespace tf
