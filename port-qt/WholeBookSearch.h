#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

#include "LoadWorker.h"
#include "src/BookSearch.h"
#include "utility/String.h"

class QDockWidget;
class QMainWindow;

namespace tf {

class BookSearchPanel;
class HitMarker;
class HtmlWindow;
class ReadingTracker;

// Searching the whole open book: runs BookSearch on a worker of its own over
// the tracker's text cache, shows the matches in a BookSearchPanel (docked in
// the window) as each chapter is searched, opens the chapter of a picked
// result and marks exactly that occurrence, and steps through all matches
// across chapters (F3, Shift+F3).
//
// Threads: the search runs on the worker; each chapter's matches are handed
// to the window thread whole, tagged with the search they belong to, and
// dropped there when a newer search (or another book) has begun meanwhile.
class WholeBookSearch : public QObject {
    Q_OBJECT
public:
    WholeBookSearch(QMainWindow* window, HtmlWindow* view, ReadingTracker* tracker);
    ~WholeBookSearch() override;

    // The open book changed (titles of its chapters) / was closed.
    void bookOpened();
    void bookClosed();

    // Starts a new search (an empty phrase only clears the results).
    void start(const QString& phrase, bool exact);
    // Enter in the search box: a new phrase or mode starts a search; the same
    // one again goes to the next match (backward: the previous one).
    void enter(const QString& phrase, bool exact, bool backward);
    // Shows the result `index` (reading order, from 0).
    void pick(int index);
    // The next (+1) or previous (-1) match across chapters, wrapping; false when there is none.
    bool step(int direction);

    BookSearchPanel* panel() const { return m_panel; }
    QDockWidget* dock() const { return m_dock; }
    const std::vector<BookSearch::Hit>& hits() const { return m_hits; }
    int current() const { return m_current; }
    // No chapter is still being searched.
    bool finished() const { return m_finished; }
    // What marks a result in the view (the page search of a long chapter uses it too).
    HitMarker* marker() const { return m_marker; }

signals:
    // Load this address (a chapter of the open book) in the view.
    void openRequested(const tf::String& address);
    // The result `index` is marked in the view.
    void marked(int index);

private:
    void takeHits(unsigned generation, std::vector<BookSearch::Hit> hits);
    void finish(unsigned generation, bool complete);
    QString titleOf(size_t entry) const;
    void updateSummary();

    HtmlWindow* m_view;
    ReadingTracker* m_tracker;
    BookSearchPanel* m_panel = nullptr;
    QDockWidget* m_dock = nullptr;

    std::vector<QString> m_titles; // per entry
    QString m_phrase;
    bool m_exact = false;
    std::vector<BookSearch::Hit> m_hits;
    size_t m_chaptersWithHits = 0;
    int m_current = -1;
    HitMarker* m_marker = nullptr; // the result picked, marked in the view
    unsigned m_generation = 0;
    bool m_finished = true;
    std::shared_ptr<std::atomic<bool>> m_cancel;

    // Declared last: stopped first.
    LoadWorker m_worker;
};

} // namespace tf
