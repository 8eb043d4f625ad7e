#pragma once

// Helpers for the document view's tests: pages written to a temporary
// folder, elements found by id, and what a reader sees in a painted image.

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QRect>

#include <fstream>
#include <string>
#include <vector>

#include "HtmlWindow.h"
#include "TempDir.h"
#include "engine-additions/TextRange.h"

namespace viewtest {

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string pngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

inline QImage solid(int w, int h, QColor color) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// Writes `html` as page.html into `dir` and opens it the way the reader does.
inline std::string loadPage(tf::HtmlWindow& view, const TempDir& dir, const std::string& html,
                            const std::string& name = "page.html") {
    const std::string path = dir.path + "/" + name;
    writeFile(path, html);
    view.load_uri(tf::String(path));
    return path;
}

inline bool near(QRgb a, QColor b, int tolerance) {
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance &&
           std::abs(qBlue(a) - b.blue()) <= tolerance;
}

// Pixels of `rect` (image coordinates) that are not (nearly) white.
inline int ink(const QImage& image, const QRect& rect) {
    int count = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (!near(image.pixel(x, y), Qt::white, 40))
                ++count;
    return count;
}

inline int countColor(const QImage& image, const QRect& rect, QColor color, int tolerance = 12) {
    int count = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (near(image.pixel(x, y), color, tolerance))
                ++count;
    return count;
}

inline litehtml::element::ptr elementById(const litehtml::element::ptr& root, const std::string& id) {
    if (!root)
        return nullptr;
    std::vector<litehtml::element::ptr> stack{root};
    while (!stack.empty()) {
        auto el = stack.back();
        stack.pop_back();
        const char* value = el->get_attr("id");
        if (value && id == value)
            return el;
        for (size_t i = 0; i < el->get_children_count(); ++i)
            stack.push_back(el->get_child(static_cast<int>(i)));
    }
    return nullptr;
}

// The document box of the element with that id (empty when there is none).
inline QRect boxOf(tf::HtmlWindow& view, const std::string& id) {
    auto lock = view.lockDocument();
    auto doc = view.document();
    auto el = doc ? elementById(doc->root(), id) : nullptr;
    if (!el)
        return QRect();
    const litehtml::position p = el->get_placement();
    return QRect(p.x, p.y, p.width, p.height);
}

inline QRect toRect(const litehtml::position& p) {
    return QRect(p.x, p.y, p.width, p.height);
}

// Index in the view's text range of the first run whose text is `word` (from `from` on), or -1.
inline int runIndex(tf::HtmlWindow& view, const std::string& word, int from = 0) {
    auto lock = view.lockDocument();
    if (view.textRangeSize() == 0)
        view.createTextRange();
    const auto& runs = view.textRange();
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < runs.size(); ++i)
        if (tf::run_text(runs[i]) == word)
            return static_cast<int>(i);
    return -1;
}

inline QRect runBox(tf::HtmlWindow& view, int index) {
    auto lock = view.lockDocument();
    const auto& runs = view.textRange();
    if (index < 0 || static_cast<size_t>(index) >= runs.size())
        return QRect();
    return toRect(runs[static_cast<size_t>(index)].pos);
}

inline std::vector<int> markedRuns(tf::HtmlWindow& view) {
    auto lock = view.lockDocument();
    std::vector<int> out;
    const auto& runs = view.textRange();
    for (size_t i = 0; i < runs.size(); ++i)
        if (runs[i].marked)
            out.push_back(static_cast<int>(i));
    return out;
}

} // namespace viewtest
