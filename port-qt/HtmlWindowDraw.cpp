// The engine's container on QPainter: fonts, text, pictures, backgrounds,
// borders, list markers, clipping and the content lookups of layout.

#include "HtmlWindow.h"

#include <QByteArray>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "DisplayList.h"
#include "EmbeddedFonts.h"
#include "FontHandle.h"
#include "ImageCache.h"
#include "src/CssGuard.h"
#include "src/PageBuild.h"
#include "utility/File.h"
#include "utility/Image.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

constexpr int kMinFontPixels = 1;
constexpr int kMaxFontPixels = 1000;

// During a draw the engine's drawing context is the list being recorded.
DisplayList* listOf(litehtml::uint_ptr hdc) {
    return reinterpret_cast<DisplayList*>(hdc);
}

FontHandle* fontOf(litehtml::uint_ptr font) {
    return reinterpret_cast<FontHandle*>(font);
}

QRect toRect(const litehtml::position& p) {
    return QRect(p.x, p.y, p.width, p.height);
}

QColor toColor(const litehtml::web_color& c) {
    return QColor(c.red, c.green, c.blue, c.alpha);
}

bool hasRadius(const litehtml::border_radiuses& r) {
    return r.top_left_x > 0 || r.top_left_y > 0 || r.top_right_x > 0 || r.top_right_y > 0 || r.bottom_right_x > 0 ||
           r.bottom_right_y > 0 || r.bottom_left_x > 0 || r.bottom_left_y > 0;
}

// A rectangle with a radius of its own at every corner.
QPainterPath roundedPath(const QRectF& r, const litehtml::border_radiuses& radius) {
    auto clampX = [&](int v) { return std::min<qreal>(std::max(v, 0), r.width() / 2); };
    auto clampY = [&](int v) { return std::min<qreal>(std::max(v, 0), r.height() / 2); };
    const qreal tlx = clampX(radius.top_left_x), tly = clampY(radius.top_left_y);
    const qreal trx = clampX(radius.top_right_x), try_ = clampY(radius.top_right_y);
    const qreal brx = clampX(radius.bottom_right_x), bry = clampY(radius.bottom_right_y);
    const qreal blx = clampX(radius.bottom_left_x), bly = clampY(radius.bottom_left_y);
    QPainterPath path;
    path.moveTo(r.left() + tlx, r.top());
    path.lineTo(r.right() - trx, r.top());
    if (trx > 0 && try_ > 0)
        path.arcTo(QRectF(r.right() - 2 * trx, r.top(), 2 * trx, 2 * try_), 90, -90);
    path.lineTo(r.right(), r.bottom() - bry);
    if (brx > 0 && bry > 0)
        path.arcTo(QRectF(r.right() - 2 * brx, r.bottom() - 2 * bry, 2 * brx, 2 * bry), 0, -90);
    path.lineTo(r.left() + blx, r.bottom());
    if (blx > 0 && bly > 0)
        path.arcTo(QRectF(r.left(), r.bottom() - 2 * bly, 2 * blx, 2 * bly), 270, -90);
    path.lineTo(r.left(), r.top() + tly);
    if (tlx > 0 && tly > 0)
        path.arcTo(QRectF(r.left(), r.top(), 2 * tlx, 2 * tly), 180, -90);
    path.closeSubpath();
    return path;
}

bool drawn(const litehtml::border& b) {
    return b.width > 0 && b.style != litehtml::border_style_none && b.style != litehtml::border_style_hidden;
}

// Decodes the payload of a "data:" address; false when it is not one.
bool decodeDataUrl(const std::string& url, std::string& mime, std::string& data) {
    if (url.size() < 5 || str2lower(url.substr(0, 5)) != "data:")
        return false;
    const size_t comma = url.find(',');
    if (comma == std::string::npos)
        return false;
    std::string header = url.substr(5, comma - 5);
    const bool base64 = header.size() >= 7 && str2lower(header.substr(header.size() - 7)) == ";base64";
    mime = str2lower(header.substr(0, header.find(';')));
    data = base64 ? base64_decode(url.substr(comma + 1)) : url_decode(url.substr(comma + 1));
    return true;
}

} // namespace

// ---- fonts and text ------------------------------------------------------------------

litehtml::uint_ptr HtmlWindow::create_font(const litehtml::tchar_t* faceName, int size, int weight,
                                           litehtml::font_style italic, unsigned int decoration,
                                           litehtml::font_metrics* fm) {
    QStringList families = m_fonts->apply(FontHandle::families(faceName ? faceName : ""));
    if (families.isEmpty())
        families << QString::fromUtf8(get_default_font_name());
    QFont font;
    font.setFamilies(families);
    // A generic family anywhere in the list tells the matcher what to fall back to.
    for (const QString& family : FontHandle::families(faceName ? faceName : "")) {
        QFont::StyleHint hint;
        if (FontHandle::styleHint(family, hint) ||
            FontHandle::styleHint(family == QLatin1String("Sans Serif") ? QStringLiteral("sans-serif") : family,
                                  hint)) {
            font.setStyleHint(hint);
            break;
        }
    }
    font.setPixelSize(std::clamp(size, kMinFontPixels, kMaxFontPixels));
    font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
    font.setItalic(italic == litehtml::fontStyleItalic);
    font.setUnderline((decoration & litehtml::font_decoration_underline) != 0);
    font.setStrikeOut((decoration & litehtml::font_decoration_linethrough) != 0);
    font.setOverline((decoration & litehtml::font_decoration_overline) != 0);

    auto* handle = new FontHandle(font);
    if (fm) {
        // The true ascent and descent: the engine puts each run's top at its
        // line's baseline less the ascent, and draw_text puts the baseline back.
        fm->ascent = handle->ascent();
        fm->descent = handle->descent();
        fm->height = handle->ascent() + handle->descent();
        fm->x_height = size;
    }
    return reinterpret_cast<litehtml::uint_ptr>(handle);
}

void HtmlWindow::delete_font(litehtml::uint_ptr hFont) {
    delete fontOf(hFont);
}

int HtmlWindow::text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) {
    FontHandle* font = fontOf(hFont);
    return font ? font->width(text) : 0;
}

int HtmlWindow::pt_to_px(int pt) const {
    return pt * m_dpiY.load() / 72;
}

void HtmlWindow::transform_text(litehtml::tstring& text, litehtml::text_transform tt) {
    if (text.empty() || tt == litehtml::text_transform_none)
        return;
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    switch (tt) {
    case litehtml::text_transform_uppercase:
        s = s.toUpper();
        break;
    case litehtml::text_transform_lowercase:
        s = s.toLower();
        break;
    case litehtml::text_transform_capitalize:
        for (int i = 0; i < s.size(); ++i) {
            if (s[i].isLetter()) {
                s.replace(i, 1, s.mid(i, 1).toUpper());
                break;
            }
        }
        break;
    default:
        return;
    }
    const QByteArray utf8 = s.toUtf8();
    text.assign(utf8.constData(), static_cast<size_t>(utf8.size()));
}

void HtmlWindow::loadEmbeddedFonts() {
    auto lock = lockReader();
    BaseReader* reader = getReader();
    m_fonts->clear();
    if (!reader)
        return;
    for (const std::string& name : reader->get_font_entries()) {
        std::string data;
        reader->get_entry(name, data);
        if (data.empty())
            continue;
        const QStringList families = m_fonts->add(name, QByteArray(data.data(), static_cast<qsizetype>(data.size())));
        if (families.isEmpty())
            TF_LOG(LOG_WARN, "font not usable: " << name);
        else
            TF_LOG(LOG_INFO, "font " << name << ": " << families.join(", ").toStdString());
    }
}

// ---- pictures -------------------------------------------------------------------------

String HtmlWindow::resolveReference(const char* src, const char* baseurl) {
    const String ref(src ? src : "");
    // A style sheet's own folder when the engine names one, the page's root otherwise.
    return baseurl && *baseurl ? URI::resolve(ref, String(baseurl)) : resolve(ref);
}

QByteArray HtmlWindow::inlineSvgPictures(const std::string& svg, const String& folder) {
    // Pictures an SVG names by a relative address are read here and put into
    // it as data addresses: the SVG renderer has no way to fetch them.
    static const QRegularExpression image(
        R"((<image\b[^>]*?\b(?:xlink:)?href\s*=\s*)(["'])([^"']*)\2)",
        QRegularExpression::CaseInsensitiveOption);
    constexpr int kMaxPictures = 64;
    const QString text = QString::fromUtf8(svg.data(), static_cast<qsizetype>(svg.size()));
    QString out;
    qsizetype done = 0;
    int count = 0;
    auto it = image.globalMatch(text);
    while (it.hasNext() && count < kMaxPictures) {
        const QRegularExpressionMatch m = it.next();
        const QString ref = m.captured(3).trimmed();
        if (ref.isEmpty() || ref.startsWith(QLatin1String("data:"), Qt::CaseInsensitive) ||
            ref.startsWith(QLatin1Char('#')) || ref.contains(QLatin1String("://")))
            continue;
        const QByteArray refBytes = ref.toUtf8();
        const String path =
            URI::resolve(String(std::string(refBytes.constData(), static_cast<size_t>(refBytes.size()))), folder);
        std::string bytes;
        uri_content(path, bytes);
        if (bytes.empty())
            continue;
        const QString lower = ref.toLower();
        const char* mime = lower.endsWith(".png")                                 ? "image/png"
                           : lower.endsWith(".gif")                               ? "image/gif"
                           : lower.endsWith(".jpg") || lower.endsWith(".jpeg")    ? "image/jpeg"
                           : lower.endsWith(".svg")                               ? "image/svg+xml"
                                                                                  : "application/octet-stream";
        out += text.mid(done, m.capturedStart(3) - done);
        out += QLatin1String("data:") + QLatin1String(mime) + QLatin1String(";base64,");
        out += QString::fromLatin1(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64());
        done = m.capturedEnd(3);
        ++count;
    }
    if (count == 0)
        return QByteArray(svg.data(), static_cast<qsizetype>(svg.size()));
    out += text.mid(done);
    return out.toUtf8();
}

void HtmlWindow::load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool /*redraw_on_ready*/) {
    if (!src || !*src)
        return;
    const String path = resolveReference(src, baseurl);
    const std::string key = path.str();
    if (m_images->contains(key))
        return;

    std::string data, mime;
    if (!decodeDataUrl(key, mime, data))
        uri_content(path, data);
    if (data.empty()) {
        m_images->insertFailure(key);
        return;
    }
    std::string decoded;
    if (isDataBase64Encoded(data, mime, decoded))
        data.swap(decoded);

    bool svg = mime == "image/svg+xml";
    int format = Image::getTypeFromMimeType(mime);
    if (format == FIF_UNKNOWN && !svg) {
        format = Image::getType(path);
        svg = URI(path).rtype() == URI::RT_SVG;
    }
    if (svg || ImageCache::looksLikeSvg(data)) {
        const QByteArray source = key.compare(0, 5, "data:") == 0
                                      ? QByteArray(data.data(), static_cast<qsizetype>(data.size()))
                                      : inlineSvgPictures(data, URI(path).folder());
        if (!m_images->insertSvg(key, source))
            TF_LOG(LOG_WARN, "not a usable SVG picture: " << shortify(key, 80));
        return;
    }
    // Layout needs the size only: decoding waits until the picture is drawn.
    if (m_images->insertEncoded(key, data, format))
        return;
    QImage image = ImageCache::decodeRaster(data, format);
    if (image.isNull() && format != FIF_UNKNOWN)
        image = ImageCache::decodeRaster(data, FIF_UNKNOWN); // the name may lie about the format
    if (image.isNull())
        TF_LOG(LOG_WARN, "not a usable picture: " << shortify(key, 80));
    m_images->insert(key, image);
}

void HtmlWindow::get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, litehtml::size& sz) {
    if (!src || !*src)
        return;
    const std::string key = resolveReference(src, baseurl).str();
    if (!m_images->contains(key))
        load_image(src, baseurl, false);
    QSize size;
    if (m_images->size(key, size)) {
        sz.width = size.width();
        sz.height = size.height();
    }
}


// ---- drawing: the engine's calls are recorded, painting replays them ---------------

void HtmlWindow::draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                           litehtml::web_color color, const litehtml::position& pos) {
    if (DisplayList* list = listOf(hdc))
        list->addText(text, hFont, color, pos);
}

void HtmlWindow::draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) {
    if (DisplayList* list = listOf(hdc))
        list->addBackground(bg);
}

void HtmlWindow::draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) {
    if (DisplayList* list = listOf(hdc))
        list->addMarker(marker);
}

void HtmlWindow::draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders,
                              const litehtml::position& draw_pos, bool /*root*/) {
    if (DisplayList* list = listOf(hdc))
        list->addBorders(borders, draw_pos);
}

void HtmlWindow::draw_audio_player(litehtml::uint_ptr hdc, const litehtml::position& pos) {
    if (DisplayList* list = listOf(hdc))
        list->addAudio(pos);
}

void HtmlWindow::set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                          bool valid_y) {
    m_clips.push_back(pos);
    if (m_recording)
        m_recording->pushClip(pos, bdr_radius, valid_x, valid_y);
}

void HtmlWindow::del_clip() {
    if (!m_clips.empty())
        m_clips.pop_back();
    if (m_recording)
        m_recording->popClip();
}

void HtmlWindow::recordDisplayList() {
    m_display = recordList(m_html, true);
}

std::unique_ptr<DisplayList> HtmlWindow::recordList(const litehtml::document::ptr& doc, bool shown) {
    auto list = std::make_unique<DisplayList>();
    list->document = doc.get();
    m_recording = list.get();
    m_clips.clear();
    // Everything the engine would draw anywhere: the clip is the whole plane.
    constexpr int kFar = 1 << 24;
    const litehtml::position everything(-kFar, -kFar, 2 * kFar, 2 * kFar);
    if (shown)
        draw_document(reinterpret_cast<litehtml::uint_ptr>(list.get()), 0, 0, &everything);
    else
        doc->draw(reinterpret_cast<litehtml::uint_ptr>(list.get()), 0, 0, &everything);
    m_recording = nullptr;
    m_clips.clear();
    list->finish();
    return list;
}

void HtmlWindow::applyClip(QPainter& painter, const DisplayList& list, int clip) {
    for (int c = clip; c >= 0; c = list.clip(c).parent) {
        const DisplayList::Clip& area = list.clip(c);
        if (area.rounded) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setClipPath(roundedPath(QRectF(area.rect), area.radius), Qt::IntersectClip);
        } else {
            painter.setClipRect(area.rect, Qt::IntersectClip);
        }
    }
}

void HtmlWindow::replay(QPainter& painter, const DisplayList& list, const QRect& docRect, bool marks) {
    m_paintDpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    painter.save();
    painter.translate(-docRect.topLeft());
    int activeClip = -1;
    bool clipped = false;
    const FontHandle* lastFont = nullptr;
    for (int i : list.itemsIn(docRect)) {
        const DisplayList::Item& item = list.item(i);
        if (item.clip != activeClip) {
            if (clipped)
                painter.restore();
            clipped = false;
            lastFont = nullptr;
            activeClip = item.clip;
            if (activeClip >= 0) {
                painter.save();
                clipped = true;
                applyClip(painter, list, activeClip);
            }
        }
        switch (item.kind) {
        case DisplayList::Text: {
            FontHandle* font = fontOf(item.font);
            if (!font)
                break;
            // Recorded at the origin (0, 0): document boxes are drawn boxes.
            if (marks && isMarkedDrawnRun(item.pos))
                painter.fillRect(toRect(item.pos), QColor::fromRgba(kMarkColor));
            if (font != lastFont) {
                painter.setFont(font->font());
                lastFont = font;
            }
            painter.setPen(item.color.alpha == 0 ? QColor(Qt::black)
                                                 : QColor(item.color.red, item.color.green, item.color.blue));
            // No length limit on the conversion: a long URL or CJK line is one run.
            painter.drawText(QPointF(item.pos.x, item.pos.y + font->ascent()),
                             QString::fromUtf8(list.textData(item), item.length));
            break;
        }
        case DisplayList::Background:
            paintBackground(painter, list.background(item));
            lastFont = nullptr;
            break;
        case DisplayList::Borders:
            paintBorders(painter, list.borders(item), item.pos);
            break;
        case DisplayList::Marker:
            paintMarker(painter, list.marker(item).marker, list.marker(item).baseurl.c_str());
            break;
        case DisplayList::Audio:
            paintAudio(painter, item.pos);
            break;
        }
    }
    if (clipped)
        painter.restore();
    painter.restore();
}

void HtmlWindow::paintBackground(QPainter& p, const litehtml::background_paint& bg) {
    QPainter* painter = &p;
    const QRect clip = toRect(bg.clip_box);
    if (clip.isEmpty())
        return;
    painter->save();
    if (hasRadius(bg.border_radius)) {
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setClipPath(roundedPath(QRectF(toRect(bg.border_box)), bg.border_radius), Qt::IntersectClip);
    }
    if (bg.color.alpha)
        painter->fillRect(clip, toColor(bg.color));
    if (!bg.image.empty()) {
        const std::string key = resolveReference(bg.image.c_str(), bg.baseurl.c_str()).str();
        QSize natural;
        if (m_images->size(key, natural)) {
            QSize size(bg.image_size.width, bg.image_size.height);
            if (size.width() <= 0 || size.height() <= 0)
                size = clip.size(); // no size from the engine: the box
            const QSize pixels(std::max(1, qRound(size.width() * m_paintDpr)),
                               std::max(1, qRound(size.height() * m_paintDpr)));
            QImage image = m_images->scaled(key, pixels);
            if (!image.isNull()) {
                const QRect first(bg.position_x, bg.position_y, size.width(), size.height());
                painter->setClipRect(clip, Qt::IntersectClip);
                if (bg.repeat == litehtml::background_repeat_no_repeat) {
                    painter->drawImage(first, image);
                } else {
                    QRect area = clip;
                    if (bg.repeat == litehtml::background_repeat_repeat_x)
                        area = QRect(clip.left(), first.top(), clip.width(), first.height()).intersected(clip);
                    else if (bg.repeat == litehtml::background_repeat_repeat_y)
                        area = QRect(first.left(), clip.top(), first.width(), clip.height()).intersected(clip);
                    if (!area.isEmpty()) {
                        QPixmap tile = QPixmap::fromImage(image);
                        tile.setDevicePixelRatio(static_cast<qreal>(image.width()) / size.width());
                        auto phase = [](int from, int origin, int step) {
                            int d = (from - origin) % step;
                            return d < 0 ? d + step : d;
                        };
                        painter->drawTiledPixmap(area, tile,
                                                 QPointF(phase(area.left(), first.left(), size.width()),
                                                         phase(area.top(), first.top(), size.height())));
                    }
                }
            }
        }
    }
    painter->restore();
}

void HtmlWindow::paintMarker(QPainter& p, const litehtml::list_marker& marker, const char* baseurl) {
    QPainter* painter = &p;
    const QRect box = toRect(marker.pos);
    if (!marker.image.empty()) {
        const std::string key = resolveReference(marker.image.c_str(), baseurl).str();
        QSize natural;
        if (m_images->size(key, natural) && !box.isEmpty()) {
            QImage image = m_images->scaled(
                key, QSize(qRound(box.width() * m_paintDpr), qRound(box.height() * m_paintDpr)));
            if (!image.isNull()) {
                painter->drawImage(box, image);
                return;
            }
        }
    }
    if (marker.marker_type == litehtml::list_style_type_none || box.isEmpty())
        return;
    const QColor color = marker.color.alpha == 0 ? QColor(Qt::black) : toColor(marker.color);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    switch (marker.marker_type) {
    case litehtml::list_style_type_circle:
        painter->setPen(QPen(color, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawEllipse(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5));
        break;
    case litehtml::list_style_type_square:
        painter->fillRect(box, color);
        break;
    default:
        // A disc, also for the numbering systems the engine has no text for.
        painter->setPen(Qt::NoPen);
        painter->setBrush(color);
        painter->drawEllipse(QRectF(box));
        break;
    }
    painter->restore();
}

void HtmlWindow::paintBorders(QPainter& p, const litehtml::borders& borders, const litehtml::position& draw_pos) {
    QPainter* painter = &p;
    const QRect box = toRect(draw_pos);
    if (box.isEmpty())
        return;
    const litehtml::border* sides[4] = {&borders.top, &borders.right, &borders.bottom, &borders.left};
    const int top = drawn(borders.top) ? borders.top.width : 0;
    const int right = drawn(borders.right) ? borders.right.width : 0;
    const int bottom = drawn(borders.bottom) ? borders.bottom.width : 0;
    const int left = drawn(borders.left) ? borders.left.width : 0;
    if (!top && !right && !bottom && !left)
        return;

    painter->save();
    // One uniform border with rounded corners: one stroke along the curve.
    const bool uniform = std::all_of(std::begin(sides), std::end(sides), [&](const litehtml::border* s) {
        return s->width == borders.top.width && s->style == borders.top.style && toColor(s->color) == toColor(borders.top.color);
    });
    if (uniform && top > 0 && hasRadius(borders.radius)) {
        painter->setRenderHint(QPainter::Antialiasing);
        QPen pen(toColor(borders.top.color), top);
        if (borders.top.style == litehtml::border_style_dotted)
            pen.setStyle(Qt::DotLine);
        else if (borders.top.style == litehtml::border_style_dashed)
            pen.setStyle(Qt::DashLine);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        const qreal half = top / 2.0;
        painter->drawPath(roundedPath(QRectF(box).adjusted(half, half, -half, -half), borders.radius));
        painter->restore();
        return;
    }

    const int x = box.left(), y = box.top(), r = box.left() + box.width(), b = box.top() + box.height();
    // Each side a trapezoid, so that corners meet on the diagonal.
    const QPolygon shapes[4] = {
        QPolygon({QPoint(x, y), QPoint(r, y), QPoint(r - right, y + top), QPoint(x + left, y + top)}),
        QPolygon({QPoint(r, y), QPoint(r, b), QPoint(r - right, b - bottom), QPoint(r - right, y + top)}),
        QPolygon({QPoint(r, b), QPoint(x, b), QPoint(x + left, b - bottom), QPoint(r - right, b - bottom)}),
        QPolygon({QPoint(x, b), QPoint(x, y), QPoint(x + left, y + top), QPoint(x + left, b - bottom)}),
    };
    const int widths[4] = {top, right, bottom, left};
    for (int i = 0; i < 4; ++i) {
        const litehtml::border& side = *sides[i];
        const int w = widths[i];
        if (w <= 0)
            continue;
        const QColor color = toColor(side.color);
        if (side.style == litehtml::border_style_dotted || side.style == litehtml::border_style_dashed) {
            QPen pen(color, w, side.style == litehtml::border_style_dotted ? Qt::DotLine : Qt::DashLine, Qt::FlatCap);
            painter->setPen(pen);
            const qreal h = w / 2.0;
            switch (i) {
            case 0: painter->drawLine(QPointF(x, y + h), QPointF(r, y + h)); break;
            case 1: painter->drawLine(QPointF(r - h, y), QPointF(r - h, b)); break;
            case 2: painter->drawLine(QPointF(x, b - h), QPointF(r, b - h)); break;
            default: painter->drawLine(QPointF(x + h, y), QPointF(x + h, b)); break;
            }
            continue;
        }
        painter->setPen(Qt::NoPen);
        painter->setBrush(color);
        if (side.style == litehtml::border_style_double && w >= 3) {
            // Two lines of a third each, the outer and the inner one.
            const int t = std::max(1, w / 3);
            QRect outer, inner;
            switch (i) {
            case 0: outer = QRect(x, y, r - x, t); inner = QRect(x + left - t, y + w - t, r - x - left - right + 2 * t, t); break;
            case 1: outer = QRect(r - t, y, t, b - y); inner = QRect(r - w, y + top - t, t, b - y - top - bottom + 2 * t); break;
            case 2: outer = QRect(x, b - t, r - x, t); inner = QRect(x + left - t, b - w, r - x - left - right + 2 * t, t); break;
            default: outer = QRect(x, y, t, b - y); inner = QRect(x + w - t, y + top - t, t, b - y - top - bottom + 2 * t); break;
            }
            painter->fillRect(outer, color);
            painter->fillRect(inner, color);
            continue;
        }
        painter->drawPolygon(shapes[i]);
    }
    painter->restore();
}

void HtmlWindow::paintAudio(QPainter& p, const litehtml::position& pos) {
    QPainter* painter = &p;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(100, 100, 100));
    painter->drawRoundedRect(toRect(pos), 5, 5);
    const int mid = pos.y + (pos.height - 2) / 2 + 1;
    painter->setPen(QPen(QColor(Qt::yellow), 2));
    painter->drawLine(pos.x + 25, mid, pos.x + pos.width - 10, mid);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(200, 200, 255));
    painter->drawEllipse(QRect(pos.x + 8, mid - 5, 10, 10));
    painter->restore();
}

// ---- geometry and the rest of the container ---------------------------------------------

void HtmlWindow::get_client_rect(litehtml::position& client) const {
    const int fixedW = m_fixedWidth.load(), fixedH = m_fixedHeight.load();
    client = litehtml::position(0, 0, fixedW > 0 ? fixedW : m_clientWidth.load(),
                                fixedH > 0 ? fixedH : m_clientHeight.load());
}

void HtmlWindow::get_media_features(litehtml::media_features& media) const {
    litehtml::position client;
    get_client_rect(client);
    media.type = litehtml::media_type_screen;
    media.width = client.width;
    media.height = client.height;
    media.device_width = client.width;
    media.device_height = client.height;
    media.color = 8;
    media.color_index = 256;
    media.monochrome = 0;
    media.resolution = m_dpiY.load();
}

void HtmlWindow::get_language(litehtml::tstring& language, litehtml::tstring& culture) const {
    language = "en";
    culture.clear();
}

void HtmlWindow::set_cursor(const litehtml::tchar_t* cursor) {
    if (QThread::currentThread() != thread())
        return;
    const bool pointer = cursor && std::strcmp(cursor, "pointer") == 0;
    if (pointer == m_pointerCursor)
        return;
    m_pointerCursor = pointer;
    viewport()->setCursor(pointer ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void HtmlWindow::set_caption(const litehtml::tchar_t* /*caption*/) {}

void HtmlWindow::set_base_url(const litehtml::tchar_t* /*base_url*/) {}


// ---- style sheets and content -------------------------------------------------------------

bool HtmlWindow::fetchStyleSheet(PageBuild& page, const String& path, std::string& css, String& folder) {
    if (!page.firstRead(path.str()))
        return false;
    uri_content(path, css);
    page.admitStyleSheet(css, path);
    if (css.empty())
        return false;
    // Pictures and fonts named in the sheet are relative to the sheet, not to the page.
    folder = URI(path).folder();
    for (const auto& face : EmbeddedFonts::fontFaces(css)) {
        const URI font(URI::resolve(String(face.second), folder));
        if (font.is("epub"))
            m_fonts->alias(face.first, font.member().str());
    }
    return true;
}

void HtmlWindow::import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) {
    PageBuild shown(*this, document_root(), 0, 0);
    import_page_css(shown, text, url, baseurl);
}

void HtmlWindow::import_page_css(PageBuild& page, litehtml::tstring& text, const litehtml::tstring& url,
                                 litehtml::tstring& baseurl) {
    // Both <link rel="stylesheet"> (the page's folder) and @import (the importing sheet's folder).
    std::string ref = url;
    trim(ref);
    // @import "x.css" reaches here with its quotes.
    if (ref.size() >= 2 && (ref.front() == '"' || ref.front() == '\'') && ref.back() == ref.front())
        ref = ref.substr(1, ref.size() - 2);
    std::string css;
    String folder;
    if (ref.empty() || !fetchStyleSheet(page, page.resolve(String(ref), baseurl.c_str()), css, folder))
        return;
    text.swap(css);
    baseurl = folder.str();
}

void HtmlWindow::link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) {
    PageBuild shown(*this, document_root(), 0, 0);
    link_page_css(shown, doc, el);
}

void HtmlWindow::link_page_css(PageBuild& page, const std::shared_ptr<litehtml::document>& doc,
                               const litehtml::element::ptr& el) {
    const char* rel = el->get_attr("rel");
    if (!rel || str2lower(std::string(rel).substr(0, 10)) != "stylesheet")
        return;
    const char* href = el->get_attr("href");
    if (!href || !*href)
        return;
    const String path = page.resolve(String(href));
    std::string css;
    String folder;
    if (!fetchStyleSheet(page, path, css, folder)) {
        TF_LOG(LOG_ERROR, "CSS file not found: " << path.str());
        return;
    }
    const char* media = el->get_attr("media");
    doc->add_stylesheet(css.c_str(), folder.str().c_str(), media ? CssGuard::settleMediaList(media).c_str() : nullptr);
}

String HtmlWindow::page_content(const String& address, std::string& out, bool& openedBook) {
    const URI uri(address);
    String root = BookWidget::page_content(address, out, openedBook);
    if (uri.rtype() == URI::RT_SVG && ImageCache::looksLikeSvg(out)) {
        // An SVG document shown as a page: a page that holds it as its picture.
        String key = address;
        const size_t hash = key.find(L"#");
        if (hash != String::npos)
            key = String(key.substr(0, hash));
        const std::string name = key.str();
        m_images->insertSvg(name, inlineSvgPictures(out, URI(key).folder()));
        std::string escaped;
        for (char c : name) {
            switch (c) {
            case '&': escaped += "&amp;"; break;
            case '"': escaped += "&quot;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            default: escaped += c; break;
            }
        }
        out = "<html><head><style>img { max-width: 100%; }</style></head><body><img src=\"" + escaped +
              "\"/></body></html>";
    }
    return root;
}

String HtmlWindow::uri_content(const String& address, std::string& out) {
    URI uri(address);
    // An SVG file named by a page is a picture, not a book to open.
    if (uri.rtype() == URI::RT_SVG && uri.is("file")) {
        file_get_contents(uri.m_path.str(), out);
        return uri.folder();
    }
    return BookWidget::uri_content(address, out);
}

} // namespace tf
