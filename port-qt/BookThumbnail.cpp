#include "BookThumbnail.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <string>

#include "HtmlWindow.h"
#include "ImageCache.h"
#include "readers/BaseReader.h"
#include "utility/URI.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

void setWhy(QString* why, const QString& text) {
    if (why)
        *why = text;
}

std::string bytesOf(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// "epub", "fb2" or "html" from the name; a name without a known ending is
// told by its first bytes. "" when it is none of them.
std::string formatOf(const QString& path) {
    switch (URI(String(bytesOf(path))).rtype()) {
    case URI::RT_EPUB:
        return "epub";
    case URI::RT_FB2:
        return "fb2";
    case URI::RT_HTML:
    case URI::RT_SVG:
        return "html";
    default:
        break;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::string();
    const QByteArray head = file.read(4096);
    // An EPUB's first member is "mimetype", stored, holding the media type.
    if (head.startsWith("PK\x03\x04") && head.indexOf("mimetypeapplication/epub+zip") == 30)
        return "epub";
    // Another zip may hold one FictionBook file; the reader tells.
    if (head.startsWith("PK\x03\x04") || head.contains("FictionBook"))
        return "fb2";
    return std::string();
}

QImage decodePicture(const std::string& bytes, int size) {
    if (ImageCache::looksLikeSvg(bytes)) {
        const QImage drawn = ImageCache::svgOnWhite(QByteArray::fromStdString(bytes), size, size);
        return drawn.isNull() ? drawn : BookThumbnail::fit(drawn, size);
    }
    QByteArray data = QByteArray::fromStdString(bytes);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    // Decoding straight to the small size spares most of a large JPEG's work.
    const QSize natural = reader.size();
    if (natural.isValid() && (natural.width() > size || natural.height() > size))
        reader.setScaledSize(natural.scaled(size, size, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull())
        image = ImageCache::decodeRaster(bytes, -1); // formats Qt has no plug-in for
    return image.isNull() ? image : BookThumbnail::fit(image, size);
}

// The cover picture's bytes, or "" when the book names none or it is a page.
std::string coverPicture(BaseReader& reader, std::string& coverEntry) {
    reader.cover_page(coverEntry);
    if (coverEntry.empty())
        return std::string();
    const int type = URI(String(coverEntry)).rtype();
    if (type == URI::RT_HTML || type == URI::RT_XML)
        return std::string();
    std::string data;
    reader.get_entry(coverEntry, data);
    static const std::string kEmbedded = "data64:";
    if (data.compare(0, kEmbedded.size(), kEmbedded) == 0) {
        const size_t colon = data.find(':', kEmbedded.size());
        data = colon == std::string::npos ? std::string() : base64_decode(data.substr(colon + 1));
    }
    return data;
}

// The first page as the reader lays it out: the cover page when it is a page
// of the book, else the first entry in reading order, else the cover page the
// reader makes up.
QImage firstPage(const QString& path, const std::string& format, const std::string& coverEntry, int size) {
    // The view picks the reader by the name's ending: give it one.
    QString file = path;
    QTemporaryDir linkDir;
    const std::string ending = format == "epub" ? ".epub" : format == "fb2" ? ".fb2" : ".html";
    if (!QFileInfo(path).fileName().endsWith(QString::fromStdString(ending), Qt::CaseInsensitive) &&
        format != "html") {
        if (!linkDir.isValid())
            return QImage();
        file = linkDir.filePath(QString::fromStdString("book" + ending));
        if (!QFile::link(QFileInfo(path).absoluteFilePath(), file))
            return QImage();
    }

    HtmlWindow view;
    view.setFixedClientSize(QSize(BookThumbnail::kPageWidth, BookThumbnail::kPageHeight));
    view.set_preview_height(BookThumbnail::kPageHeight);
    const bool opened = view.load_uri(String(bytesOf(QFileInfo(file).absoluteFilePath())));
    if (format != "html") {
        std::string entry;
        BookWidget::Contents book;
        if (!opened || !view.bookContents(book))
            return QImage();
        const int type = URI(String(coverEntry)).rtype();
        if (!coverEntry.empty() && (type == URI::RT_HTML || type == URI::RT_XML))
            entry = coverEntry;
        else if (!book.spine.empty())
            entry = book.spine.front().first;
        const auto before = view.document();
        if (!entry.empty())
            view.load_uri(URI::entryAddress(format, entry));
        if (view.document() == before)
            view.showCoverPage();
    }
    if (!view.has_document())
        return QImage();
    const QImage page = view.renderImage(QRect(0, 0, BookThumbnail::kPageWidth, BookThumbnail::kPageHeight));
    return page.isNull() ? page : BookThumbnail::fit(page, size);
}

} // namespace

QImage BookThumbnail::fit(const QImage& image, int size) {
    if (image.isNull() || size <= 0)
        return QImage();
    QSize target = image.size();
    if (target.width() > size || target.height() > size)
        target = target.scaled(size, size, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    QImage out(target, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    out.fill(Qt::white);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (target == image.size())
        painter.drawImage(QPoint(0, 0), image);
    else
        painter.drawImage(QRect(QPoint(0, 0), target),
                          image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return out;
}

QImage BookThumbnail::make(const QString& path, int size, QString* why) {
    if (size < 1 || size > kMaxSize) {
        setWhy(why, QString("the size must be from 1 to %1 pixels").arg(kMaxSize));
        return QImage();
    }
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        setWhy(why, "not a readable file");
        return QImage();
    }
    const std::string format = formatOf(path);
    if (format.empty()) {
        setWhy(why, "not an EPUB, FictionBook or HTML book");
        return QImage();
    }

    std::string coverEntry;
    if (format != "html") {
        std::unique_ptr<BaseReader> reader = BaseReader::create_smart(format);
        const std::string file = bytesOf(info.absoluteFilePath());
        if (!reader || !reader->open(file) || !reader->parse()) {
            setWhy(why, QString("not a readable %1 book").arg(format == "epub" ? "EPUB" : "FictionBook"));
            return QImage();
        }
        const std::string picture = coverPicture(*reader, coverEntry);
        if (!picture.empty()) {
            const QImage cover = decodePicture(picture, size);
            if (!cover.isNull())
                return cover;
            TF_LOG(LOG_WARN, "the cover picture " << coverEntry << " cannot be decoded; the first page stands in");
        }
        reader->close();
    }
    const QImage page = firstPage(path, format, coverEntry, size);
    if (page.isNull())
        setWhy(why, "the book shows nothing to draw");
    return page;
}

} // namespace tf
