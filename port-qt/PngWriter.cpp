#include "PngWriter.h"

#include <QSaveFile>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace tf {

namespace {

// Rows per band at least: below that a thread costs more than it saves.
constexpr int kMinBandRows = 128;
constexpr int kMaxThreads = 8;
// IDAT chunks are cut at this size; the format allows 2 GiB, readers like less.
constexpr size_t kMaxChunk = size_t(1) << 20;

// One horizontal band of the image, deflated on its own: a raw deflate stream
// that ends on a byte boundary (sync flush) unless it is the last band, so the
// bands can simply be concatenated.
struct Band {
    int first = 0;
    int last = 0;
    std::vector<unsigned char> out;
    uLong adler = 1;
    uLong rawSize = 0;
    bool ok = false;
};

void deflateBand(const QImage& image, Band& band, bool final) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    const int width = image.width();
    const size_t rowBytes = 1 + 3 * static_cast<size_t>(width);
    std::vector<unsigned char> row(rowBytes);
    band.out.resize(std::max<size_t>(1 << 16, rowBytes * static_cast<size_t>(band.last - band.first) / 8));
    size_t used = 0;
    bool ok = true;
    for (int y = band.first; y < band.last && ok; ++y) {
        // Filter "up": each byte minus the byte above it (the first row has none).
        const auto* cur = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        const auto* above = y > 0 ? reinterpret_cast<const QRgb*>(image.constScanLine(y - 1)) : nullptr;
        unsigned char* o = row.data();
        *o++ = 2;
        for (int x = 0; x < width; ++x) {
            const QRgb c = cur[x];
            const QRgb a = above ? above[x] : 0;
            *o++ = static_cast<unsigned char>(qRed(c) - qRed(a));
            *o++ = static_cast<unsigned char>(qGreen(c) - qGreen(a));
            *o++ = static_cast<unsigned char>(qBlue(c) - qBlue(a));
        }
        band.adler = adler32(band.adler, row.data(), static_cast<uInt>(rowBytes));
        band.rawSize += static_cast<uLong>(rowBytes);

        const bool lastRow = y + 1 == band.last;
        const int flush = !lastRow ? Z_NO_FLUSH : final ? Z_FINISH : Z_SYNC_FLUSH;
        z.next_in = row.data();
        z.avail_in = static_cast<uInt>(rowBytes);
        int rc = Z_OK;
        do {
            if (band.out.size() - used < (1 << 15))
                band.out.resize(band.out.size() * 2);
            const size_t room = std::min<size_t>(band.out.size() - used, 1u << 30);
            z.next_out = band.out.data() + used;
            z.avail_out = static_cast<uInt>(room);
            rc = deflate(&z, flush);
            used += room - z.avail_out;
            // Finishing with room left and no end: zlib cannot go on; stop rather than spin.
            if (rc == Z_STREAM_ERROR || (flush == Z_FINISH && rc == Z_BUF_ERROR && z.avail_out > 0)) {
                ok = false;
                break;
            }
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    }
    deflateEnd(&z);
    band.out.resize(used);
    band.ok = ok;
}

void put32(QByteArray& out, uint32_t v) {
    const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    out.append(bytes, 4);
}

void putChunk(QByteArray& out, const char type[4], const unsigned char* data, size_t size) {
    put32(out, static_cast<uint32_t>(size));
    out.append(type, 4);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    if (size) {
        out.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
        crc = crc32(crc, data, static_cast<uInt>(size));
    }
    put32(out, static_cast<uint32_t>(crc));
}

} // namespace

QByteArray PngWriter::encode(const QImage& source, int threads) {
    if (source.isNull() || source.width() <= 0 || source.height() <= 0)
        return QByteArray();
    QImage image = source;
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return QByteArray();

    const int height = image.height();
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::clamp(std::min(threads, height / kMinBandRows), 1, kMaxThreads);

    std::vector<Band> bands(static_cast<size_t>(threads));
    for (int i = 0; i < threads; ++i) {
        bands[static_cast<size_t>(i)].first = static_cast<int>(static_cast<long long>(height) * i / threads);
        bands[static_cast<size_t>(i)].last = static_cast<int>(static_cast<long long>(height) * (i + 1) / threads);
    }
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back(deflateBand, std::cref(image), std::ref(bands[static_cast<size_t>(i)]), i + 1 == threads);
    deflateBand(image, bands[0], threads == 1);
    for (std::thread& t : workers)
        t.join();

    // One zlib stream: header, the bands' deflate data, the checksum of all rows.
    std::vector<unsigned char> stream{0x78, 0x01};
    uLong adler = 1;
    for (const Band& band : bands) {
        if (!band.ok)
            return QByteArray();
        stream.insert(stream.end(), band.out.begin(), band.out.end());
        adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.rawSize));
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        stream.push_back(static_cast<unsigned char>(adler >> shift));

    QByteArray png;
    png.reserve(static_cast<qsizetype>(stream.size() + 64 + stream.size() / kMaxChunk * 12));
    png.append("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    put32(header, static_cast<uint32_t>(image.width()));
    put32(header, static_cast<uint32_t>(height));
    header.append("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB, deflate, adaptive filters, no interlace
    putChunk(png, "IHDR", reinterpret_cast<const unsigned char*>(header.constData()), 13);
    for (size_t at = 0; at < stream.size(); at += kMaxChunk)
        putChunk(png, "IDAT", stream.data() + at, std::min(kMaxChunk, stream.size() - at));
    putChunk(png, "IEND", nullptr, 0);
    return png;
}

bool PngWriter::write(const QImage& image, const QString& path, QString* error) {
    const QByteArray png = encode(image);
    if (png.isEmpty()) {
        if (error)
            *error = QStringLiteral("the image could not be encoded");
        return false;
    }
    QSaveFile file(path);
    file.setDirectWriteFallback(true); // /dev/stdout and the like
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace tf
