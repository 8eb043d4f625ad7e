#include "DisplayList.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tf {

namespace {

constexpr int kFar = 1 << 24;

QRect toRect(const litehtml::position& p) {
    return QRect(p.x, p.y, p.width, p.height);
}

int bandOf(int y) {
    return static_cast<int>(std::floor(static_cast<double>(y) / DisplayList::kBand));
}

} // namespace

void DisplayList::add(Item item) {
    item.clip = m_clipStack.empty() ? -1 : m_clipStack.back();
    if (item.clip >= 0)
        item.bounds = item.bounds.intersected(visibleArea(item.clip));
    if (item.bounds.isEmpty())
        return; // nothing of it can show
    m_items.push_back(item);
}

void DisplayList::addText(const char* text, litehtml::uint_ptr font, const litehtml::web_color& color,
                          const litehtml::position& pos) {
    if (!text || !*text)
        return;
    Item item;
    item.kind = Text;
    item.index = static_cast<int>(m_text.size());
    item.length = static_cast<int>(std::strlen(text));
    item.font = font;
    item.color = color;
    item.pos = pos;
    // Glyphs may reach a little outside their run's box (italics, accents).
    item.bounds = toRect(pos).adjusted(-pos.height / 2 - 2, -pos.height / 2 - 2, pos.height / 2 + 2, pos.height / 2 + 2);
    m_text.append(text, static_cast<size_t>(item.length));
    add(item);
}

void DisplayList::addBackground(const litehtml::background_paint& bg) {
    Item item;
    item.kind = Background;
    item.index = static_cast<int>(m_backgrounds.size());
    item.bounds = toRect(bg.clip_box);
    m_backgrounds.push_back(bg);
    add(item);
}

void DisplayList::addBorders(const litehtml::borders& borders, const litehtml::position& pos) {
    Item item;
    item.kind = Borders;
    item.index = static_cast<int>(m_borders.size());
    item.pos = pos;
    item.bounds = toRect(pos).adjusted(-1, -1, 1, 1);
    m_borders.push_back(borders);
    add(item);
}

void DisplayList::addMarker(const litehtml::list_marker& marker) {
    Item item;
    item.kind = Marker;
    item.index = static_cast<int>(m_markers.size());
    item.pos = marker.pos;
    item.bounds = toRect(marker.pos).adjusted(-1, -1, 1, 1);
    MarkerData copy{marker, marker.baseurl ? marker.baseurl : ""};
    copy.marker.baseurl = nullptr; // the copy's own string is used instead
    m_markers.push_back(std::move(copy));
    add(item);
}

void DisplayList::addAudio(const litehtml::position& pos) {
    Item item;
    item.kind = Audio;
    item.pos = pos;
    item.bounds = toRect(pos).adjusted(-1, -1, 1, 1);
    add(item);
}

void DisplayList::pushClip(const litehtml::position& pos, const litehtml::border_radiuses& radius, bool validX,
                           bool validY) {
    Clip clip;
    clip.rect = toRect(pos);
    if (!validX)
        clip.rect = QRect(-kFar, clip.rect.top(), 2 * kFar, clip.rect.height());
    if (!validY)
        clip.rect = QRect(clip.rect.left(), -kFar, clip.rect.width(), 2 * kFar);
    clip.radius = radius;
    clip.rounded = validX && validY &&
                   (radius.top_left_x > 0 || radius.top_left_y > 0 || radius.top_right_x > 0 ||
                    radius.top_right_y > 0 || radius.bottom_right_x > 0 || radius.bottom_right_y > 0 ||
                    radius.bottom_left_x > 0 || radius.bottom_left_y > 0);
    clip.parent = m_clipStack.empty() ? -1 : m_clipStack.back();
    m_clips.push_back(clip);
    m_clipStack.push_back(static_cast<int>(m_clips.size()) - 1);
}

void DisplayList::popClip() {
    if (!m_clipStack.empty())
        m_clipStack.pop_back();
}

QRect DisplayList::visibleArea(int clip) const {
    QRect area(-kFar, -kFar, 2 * kFar, 2 * kFar);
    for (int c = clip; c >= 0; c = m_clips[static_cast<size_t>(c)].parent)
        area = area.intersected(m_clips[static_cast<size_t>(c)].rect);
    return area;
}

void DisplayList::finish() {
    m_clipStack.clear();
    m_bands.clear();
    if (m_items.empty())
        return;
    int top = bandOf(m_items.front().bounds.top()), bottom = top;
    for (const Item& item : m_items) {
        top = std::min(top, bandOf(item.bounds.top()));
        bottom = std::max(bottom, bandOf(item.bounds.bottom()));
    }
    m_firstBand = top;
    m_bands.resize(static_cast<size_t>(bottom - top + 1));
    for (size_t i = 0; i < m_items.size(); ++i) {
        const QRect& b = m_items[i].bounds;
        for (int band = bandOf(b.top()); band <= bandOf(b.bottom()); ++band)
            m_bands[static_cast<size_t>(band - m_firstBand)].push_back(static_cast<int>(i));
    }
}

std::vector<int> DisplayList::itemsIn(const QRect& rect) const {
    std::vector<int> out;
    if (m_bands.empty() || rect.isEmpty())
        return out;
    const int first = std::max(bandOf(rect.top()) - m_firstBand, 0);
    const int last = std::min(bandOf(rect.bottom()) - m_firstBand, static_cast<int>(m_bands.size()) - 1);
    for (int band = first; band <= last; ++band)
        for (int i : m_bands[static_cast<size_t>(band)])
            if (m_items[static_cast<size_t>(i)].bounds.intersects(rect))
                out.push_back(i);
    if (last > first) {
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }
    return out;
}

} // namespace tf
