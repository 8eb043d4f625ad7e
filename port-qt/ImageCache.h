#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tf {

// The view's pictures, keyed by resolved address. Each entry keeps the
// decoded original (or, for SVG, its source) and a few copies scaled to the
// sizes it was drawn at, so every drawing scales from the original at most
// once per size. An entry may record a failure, so a missing or broken
// picture is not fetched again until the cache is cleared.
//
// Layout (loader thread) adds and measures, painting (window thread) draws:
// every operation takes the cache's lock.
class ImageCache {
public:
    // Largest side a picture is drawn at, in device pixels; larger boxes are
    // drawn from a copy of this size, stretched.
    static constexpr int kMaxSide = 8192;
    // Scaled copies kept per picture.
    static constexpr size_t kCopiesPerImage = 4;

    ImageCache() = default;
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    // True when the key has an entry (a picture or a recorded failure).
    bool contains(const std::string& key) const;
    void insert(const std::string& key, const QImage& image);
    // A raster picture kept encoded until it is first drawn (or decode() is
    // asked): layout needs its size only, read from the header. False (a
    // failure recorded) when the header gives no size; the caller may then
    // decode the bytes itself.
    bool insertEncoded(const std::string& key, std::string bytes, int freeImageFormat);
    // Decodes the picture now if it is still encoded (a loader prepares the
    // pictures of the first page this way).
    void decode(const std::string& key);
    // An SVG picture drawn from its source at every size; false (a failure
    // recorded) when the source does not parse.
    bool insertSvg(const std::string& key, const QByteArray& svg);
    void insertFailure(const std::string& key);

    // The picture's own size; false when there is no usable picture.
    bool size(const std::string& key, QSize& out) const;
    // The picture at exactly `pixels` device pixels (a null image when none).
    QImage scaled(const std::string& key, const QSize& pixels);

    void clear();
    size_t count() const;

    // Decodes raster picture bytes through FreeImage with the given format
    // (a FREE_IMAGE_FORMAT value; unknown lets the bytes decide). A null image
    // for bytes that are no picture.
    static QImage decodeRaster(const std::string& bytes, int freeImageFormat);
    static bool looksLikeSvg(const std::string& bytes);
    // An SVG picture drawn on white, `height` pixels high and no wider than
    // `maxWidth` (for thumbnails); null when it does not render.
    static QImage svgOnWhite(const QByteArray& svg, int height, int maxWidth);

private:
    struct Entry {
        std::string encoded; // raster bytes not decoded yet
        int format = -1;
        QImage original;
        QByteArray svg;
        QSize size;
        std::list<QImage> copies; // most recently used first
        bool failed = false;
    };

    static QImage renderSvg(const QByteArray& svg, const QSize& pixels);
    // The decoded original of `entry` (decoding it on first use); null when it cannot be decoded.
    QImage original(const std::shared_ptr<Entry>& entry);

    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<Entry>> m_entries;
};

} // namespace tf
