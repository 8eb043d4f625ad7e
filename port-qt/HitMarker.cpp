#include "HitMarker.h"

#include <algorithm>

#include "HtmlWindow.h"
#include "ReadingTracker.h"
#include "utility/log.h"

namespace tf {

HitMarker::HitMarker(HtmlWindow* view, ReadingTracker* tracker, QObject* parent)
    : QObject(parent), m_view(view), m_tracker(tracker) {
    connect(m_tracker, &ReadingTracker::layoutChanged, this, &HitMarker::onLayoutChanged);
}

void HitMarker::show(size_t entry, size_t offset, size_t length, int tag) {
    m_entry = entry;
    m_offset = offset;
    m_length = length;
    m_tag = tag;
    m_wanted = true;
    m_askedWindow = false;
    // Only the top of a long chapter is shown yet (the mark would go with it
    // when the whole page replaces it), or another chapter: marked when it comes.
    m_pending = m_tracker->currentEntry() != static_cast<long>(entry) || m_view->is_partial();
    if (!m_pending)
        mark(true);
}

void HitMarker::forget() {
    m_wanted = false;
    m_pending = false;
}

void HitMarker::onLayoutChanged() {
    if (!m_wanted || m_tracker->currentEntry() != static_cast<long>(m_entry) || m_view->is_partial())
        return;
    if (m_pending) {
        m_pending = false;
        mark(true);
        return;
    }
    // A new build of the page came without the mark: where the reader is now, if it is there.
    for (size_t i = 0, n = m_view->textRangeSize(); i < n; ++i)
        if (m_view->isRunMarked(i))
            return;
    mark(false);
}

void HitMarker::mark(bool reveal) {
    const TextAnchorMap* map = m_tracker->currentMap();
    if (!map) {
        if (reveal)
            TF_LOG(LOG_WARN, "the page on screen is no chapter of the book; the match cannot be shown");
        return;
    }
    const auto runs = map->runsOf(static_cast<long>(m_offset), static_cast<long>(m_length));
    if (runs.first < 0) {
        if (!reveal)
            return;
        Renderer::WindowSpan span;
        if (!m_askedWindow && m_view->window_span(span)) {
            // In a piece of a long chapter that is not laid out now: marked when its window comes.
            m_askedWindow = true;
            m_pending = true;
            m_view->wantWindowAtText(static_cast<long>(m_offset));
            return;
        }
        TF_LOG(LOG_WARN, "the match at " << m_offset << " of chapter " << m_entry + 1 << " is not on the page");
        return;
    }
    m_view->clearSearch();
    m_view->clearTextRange();
    m_view->createTextRange();
    m_view->markRuns(static_cast<size_t>(runs.first), static_cast<size_t>(runs.second), true);
    int top = -1, bottom = -1;
    {
        auto lock = m_view->lockDocument();
        const auto& range = m_view->textRange();
        if (static_cast<size_t>(runs.second) < range.size()) {
            top = range[static_cast<size_t>(runs.first)].pos.y;
            bottom = range[static_cast<size_t>(runs.second)].pos.y + range[static_cast<size_t>(runs.second)].pos.height;
        }
    }
    const int page = m_view->pageSize();
    const int y = m_view->scrollPosition();
    if (reveal && top >= 0 && (top < y || bottom > y + page))
        m_view->setScrollPosition(std::max(0, top - page / 3));
    m_view->dropTiles();
    m_view->viewport()->update();
    emit marked(m_tag);
}

} // namespace tf
