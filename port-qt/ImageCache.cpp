#include "ImageCache.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "utility/Image.h"
#include "utility/log.h"

namespace tf {

namespace {

// The size an SVG asks for: its width and height, else its view box, else the
// size a replaced element gets without one.
QSize svgSize(QSvgRenderer& renderer) {
    QSize size = renderer.defaultSize();
    if (size.width() > 0 && size.height() > 0)
        return size;
    QSizeF box = renderer.viewBoxF().size();
    if (box.width() > 0 && box.height() > 0)
        return box.toSize().expandedTo(QSize(1, 1));
    return QSize(300, 150);
}

// The size the root element of an SVG declares, in whole pixels: width and
// height in pixels, or else a view box. Reading it costs next to nothing,
// where the renderer parses the whole picture (decoding the pictures inside
// it) only to tell the size. False for anything else (other units,
// percentages, no root), which the renderer is left to work out.
bool declaredSvgSize(const QByteArray& svg, QSize& size) {
    QXmlStreamReader xml(svg);
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
    }
    if (xml.tokenType() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("svg"))
        return false;
    const QXmlStreamAttributes attributes = xml.attributes();
    auto pixels = [&attributes](const char* name, double& out) {
        QString value = attributes.value(QLatin1String(name)).toString().trimmed();
        if (value.endsWith(QLatin1String("px")))
            value.chop(2);
        bool ok = false;
        out = value.toDouble(&ok);
        return ok && out > 0;
    };
    const bool hasWidth = attributes.hasAttribute(QLatin1String("width"));
    const bool hasHeight = attributes.hasAttribute(QLatin1String("height"));
    double w = 0, h = 0;
    if (hasWidth || hasHeight) {
        // The renderer drops the fraction of a declared size and rounds a view box.
        if (!pixels("width", w) || !pixels("height", h))
            return false;
        w = std::floor(w);
        h = std::floor(h);
        if (w < 1 || h < 1)
            return false;
    } else {
        const QStringList box = attributes.value(QLatin1String("viewBox"))
                                    .toString()
                                    .split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
        bool okW = false, okH = false;
        if (box.size() != 4)
            return false;
        w = box[2].toDouble(&okW);
        h = box[3].toDouble(&okH);
        if (!okW || !okH || w <= 0 || h <= 0)
            return false;
    }
    // Beyond any real picture (and beyond an int): left to the renderer.
    if (w > 1e7 || h > 1e7)
        return false;
    size = QSize(qRound(w), qRound(h));
    return !size.isEmpty();
}

// `pixels` shrunk (keeping its proportions) so that no side exceeds the limit.
QSize bounded(QSize pixels) {
    const int side = std::max(pixels.width(), pixels.height());
    if (side <= ImageCache::kMaxSide)
        return pixels;
    return pixels.scaled(ImageCache::kMaxSide, ImageCache::kMaxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

} // namespace

bool ImageCache::looksLikeSvg(const std::string& bytes) {
    size_t i = 0;
    // A byte-order mark and white space may come first.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        i = 3;
    while (i < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[i])))
        ++i;
    if (bytes.compare(i, 4, "<svg") == 0)
        return true;
    if (bytes.compare(i, 5, "<?xml") != 0 && bytes.compare(i, 4, "<!--") != 0 && bytes.compare(i, 9, "<!DOCTYPE") != 0)
        return false;
    // An XML prologue: an SVG root must follow soon.
    return bytes.find("<svg", i) != std::string::npos &&
           bytes.find("<svg", i) < std::min<size_t>(bytes.size(), 4096);
}

QImage ImageCache::decodeRaster(const std::string& bytes, int freeImageFormat) {
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX))
        return QImage();
    std::vector<unsigned char> data(bytes.begin(), bytes.end());
    Image picture(data.data(), static_cast<int>(data.size()), static_cast<FREE_IMAGE_FORMAT>(freeImageFormat));
    if (picture.isEmpty())
        return QImage();
    std::vector<uint8_t> pixels;
    int w = 0, h = 0;
    if (!picture.toRGBA32(pixels, w, h) || w <= 0 || h <= 0)
        return QImage();
    QImage argb(w, h, QImage::Format_ARGB32);
    if (argb.isNull())
        return argb;
    for (int y = 0; y < h; ++y)
        std::memcpy(argb.scanLine(y), pixels.data() + static_cast<size_t>(y) * w * 4, static_cast<size_t>(w) * 4);
    // Premultiplied pixels are what the painter blends fastest.
    return argb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

bool ImageCache::contains(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.count(key) != 0;
}

void ImageCache::insert(const std::string& key, const QImage& image) {
    auto entry = std::make_shared<Entry>();
    if (image.isNull()) {
        entry->failed = true;
    } else {
        entry->original = image;
        entry->size = image.size();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries[key] = std::move(entry);
}

bool ImageCache::insertEncoded(const std::string& key, std::string bytes, int freeImageFormat) {
    QByteArray view = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&view);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || static_cast<long long>(size.width()) * size.height() > Image::kMaxPixels)
        return false;
    auto entry = std::make_shared<Entry>();
    entry->encoded = std::move(bytes);
    entry->format = freeImageFormat;
    entry->size = size;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries[key] = std::move(entry);
    return true;
}

QImage ImageCache::original(const std::shared_ptr<Entry>& entry) {
    std::string encoded;
    int format = FIF_UNKNOWN;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (entry->failed)
            return QImage();
        if (!entry->original.isNull() || entry->encoded.empty())
            return entry->original;
        encoded = entry->encoded;
        format = entry->format;
    }
    // Decoded outside the lock: layout may go on meanwhile.
    QImage image = decodeRaster(encoded, format);
    if (image.isNull() && format != FIF_UNKNOWN)
        image = decodeRaster(encoded, FIF_UNKNOWN); // the name may lie about the format
    std::lock_guard<std::mutex> lock(m_mutex);
    if (entry->original.isNull() && !entry->failed) {
        if (image.isNull()) {
            entry->failed = true;
            TF_LOG(LOG_WARN, "picture cannot be decoded");
        } else {
            entry->original = image;
        }
        entry->encoded.clear();
        entry->encoded.shrink_to_fit();
    }
    return entry->original;
}

void ImageCache::decode(const std::string& key) {
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(key);
        if (it == m_entries.end())
            return;
        entry = it->second;
    }
    original(entry);
}

bool ImageCache::insertSvg(const std::string& key, const QByteArray& svg) {
    auto entry = std::make_shared<Entry>();
    // A picture that declares its size is parsed once, when it is drawn.
    if (declaredSvgSize(svg, entry->size)) {
        entry->svg = svg;
    } else {
        QSvgRenderer renderer(svg);
        if (renderer.isValid()) {
            entry->svg = svg;
            entry->size = svgSize(renderer);
        } else {
            entry->failed = true;
        }
    }
    const bool ok = !entry->failed;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries[key] = std::move(entry);
    return ok;
}

void ImageCache::insertFailure(const std::string& key) {
    auto entry = std::make_shared<Entry>();
    entry->failed = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.emplace(key, std::move(entry));
}

bool ImageCache::size(const std::string& key, QSize& out) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end() || it->second->failed)
        return false;
    out = it->second->size;
    return true;
}

QImage ImageCache::renderSvg(const QByteArray& svg, const QSize& pixels) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.fill(Qt::transparent);
    QSvgRenderer renderer(svg);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    return image;
}

QImage ImageCache::svgOnWhite(const QByteArray& svg, int height, int maxWidth) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid() || height <= 0 || maxWidth <= 0)
        return QImage();
    const QSize natural = svgSize(renderer);
    const int width = static_cast<int>(
        std::clamp(static_cast<double>(natural.width()) * height / natural.height(), 1.0, double(maxWidth)));
    QImage image(bounded(QSize(width, height)), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(image.size())));
    return image;
}

QImage ImageCache::scaled(const std::string& key, const QSize& wanted) {
    if (wanted.width() <= 0 || wanted.height() <= 0)
        return QImage();
    const QSize pixels = bounded(wanted);
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(key);
        if (it == m_entries.end() || it->second->failed)
            return QImage();
        entry = it->second;
        if (!entry->original.isNull() && entry->original.size() == pixels)
            return entry->original;
        for (auto copy = entry->copies.begin(); copy != entry->copies.end(); ++copy) {
            if (copy->size() == pixels) {
                entry->copies.splice(entry->copies.begin(), entry->copies, copy);
                return entry->copies.front();
            }
        }
    }
    QImage made;
    if (entry->svg.isEmpty()) {
        const QImage source = original(entry);
        if (source.isNull())
            return source;
        // Scaled outside the lock, always from the original.
        made = source.size() == pixels ? source
                                       : source.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        made = renderSvg(entry->svg, pixels);
    }
    if (made.isNull())
        return made;
    std::lock_guard<std::mutex> lock(m_mutex);
    entry->copies.push_front(made);
    while (entry->copies.size() > kCopiesPerImage)
        entry->copies.pop_back();
    return made;
}

void ImageCache::clear() {
    std::map<std::string, std::shared_ptr<Entry>> old;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        old.swap(m_entries);
    }
}

size_t ImageCache::count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

} // namespace tf
