#pragma once

#include <QObject>

#include <cstddef>

namespace tf {

class HtmlWindow;
class ReadingTracker;

// Marks a stretch of a chapter's text in the view (a search match): the runs
// that show it, scrolled into view. When the chapter is not on screen yet, or
// only its top is, or it is a long chapter whose window shown does not hold
// the stretch (the window holding it is asked for), the mark waits for the
// layout that has it. A new build of the chapter (another width, a window
// that follows the reader) gets the mark again where it stands, without
// moving the view there. One mark at a time; window thread only.
class HitMarker : public QObject {
    Q_OBJECT
public:
    HitMarker(HtmlWindow* view, ReadingTracker* tracker, QObject* parent);

    // Marks characters [offset, offset + length) of entry `entry`'s text (as
    // EntryText has it) now or as soon as a layout has them; `tag` comes back with marked().
    void show(size_t entry, size_t offset, size_t length, int tag);
    // No mark is wanted any more.
    void forget();

signals:
    void marked(int tag);

private:
    void onLayoutChanged();
    // `reveal`: scrolled into view, and the window holding it asked for.
    void mark(bool reveal);

    HtmlWindow* m_view;
    ReadingTracker* m_tracker;
    size_t m_entry = 0, m_offset = 0, m_length = 0;
    int m_tag = -1;
    bool m_wanted = false;  // a mark is to be shown
    bool m_pending = false; // ... and waits for a layout that has it
    bool m_askedWindow = false;
};

} // namespace tf
