#pragma once

#include <QRect>

#include <string>
#include <vector>

#include <litehtml.h>

namespace tf {

// What the engine draws for one laid-out document, recorded once in document
// coordinates: text runs, backgrounds, borders, list markers, audio players
// and the clip each of them is drawn under, in the engine's painting order.
// The engine walks its whole element tree on every draw, which costs tens of
// milliseconds on a long chapter; a recorded list is indexed by bands of the
// page, so painting a region replays only what lies in it.
class DisplayList {
public:
    enum Kind { Text, Background, Borders, Marker, Audio };

    struct Clip {
        QRect rect;
        litehtml::border_radiuses radius;
        bool rounded = false;
        int parent = -1; // the clip this one lies inside, -1 for none
    };

    struct Item {
        Kind kind = Text;
        int clip = -1;     // innermost clip, -1 for none
        QRect bounds;      // where the item may paint
        int index = 0;     // into the kind's own table (text: offset into the text buffer)
        int length = 0;    // text bytes
        litehtml::uint_ptr font = 0;
        litehtml::web_color color;
        litehtml::position pos;
    };

    struct MarkerData {
        litehtml::list_marker marker;
        std::string baseurl;
    };

    static constexpr int kBand = 512;

    // ---- recording (the engine's drawing callbacks) ----
    void addText(const char* text, litehtml::uint_ptr font, const litehtml::web_color& color,
                 const litehtml::position& pos);
    void addBackground(const litehtml::background_paint& bg);
    void addBorders(const litehtml::borders& borders, const litehtml::position& pos);
    void addMarker(const litehtml::list_marker& marker);
    void addAudio(const litehtml::position& pos);
    void pushClip(const litehtml::position& pos, const litehtml::border_radiuses& radius, bool validX, bool validY);
    void popClip();
    // Builds the band index; no more recording after this.
    void finish();

    // ---- replaying ----
    // Indices of the items that may paint inside `rect`, in painting order.
    std::vector<int> itemsIn(const QRect& rect) const;
    const Item& item(int i) const { return m_items[static_cast<size_t>(i)]; }
    const Clip& clip(int i) const { return m_clips[static_cast<size_t>(i)]; }
    // The rectangle an item can show through (all of its clips), or null when unclipped.
    QRect visibleArea(int clip) const;
    std::string text(const Item& item) const { return m_text.substr(static_cast<size_t>(item.index), item.length); }
    const char* textData(const Item& item) const { return m_text.data() + item.index; }
    const litehtml::background_paint& background(const Item& item) const {
        return m_backgrounds[static_cast<size_t>(item.index)];
    }
    const litehtml::borders& borders(const Item& item) const { return m_borders[static_cast<size_t>(item.index)]; }
    const MarkerData& marker(const Item& item) const { return m_markers[static_cast<size_t>(item.index)]; }
    size_t size() const { return m_items.size(); }

    // The document this list was recorded from (compared, never used).
    const void* document = nullptr;

private:
    void add(Item item);

    std::vector<Item> m_items;
    std::string m_text;
    std::vector<litehtml::background_paint> m_backgrounds;
    std::vector<litehtml::borders> m_borders;
    std::vector<MarkerData> m_markers;
    std::vector<Clip> m_clips;
    std::vector<int> m_clipStack;
    std::vector<std::vector<int>> m_bands;
    int m_firstBand = 0;
};

} // namespace tf
