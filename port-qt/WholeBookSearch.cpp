#include "WholeBookSearch.h"

#include <QDockWidget>
#include <QMainWindow>
#include <QScrollBar>

#include <algorithm>

#include "BookSearchPanel.h"
#include "HtmlWindow.h"
#include "HitMarker.h"
#include "ReadingTracker.h"
#include "src/BookTextCache.h"
#include "utility/URI.h"
#include "utility/log.h"

namespace tf {

WholeBookSearch::WholeBookSearch(QMainWindow* window, HtmlWindow* view, ReadingTracker* tracker)
    : QObject(window), m_view(view), m_tracker(tracker) {
    m_panel = new BookSearchPanel();
    m_dock = new QDockWidget("Search results", window);
    m_dock->setObjectName("bookSearchDock");
    m_dock->setWidget(m_panel);
    m_dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    window->addDockWidget(Qt::RightDockWidgetArea, m_dock);
    m_dock->hide();
    connect(m_panel, &BookSearchPanel::picked, this, &WholeBookSearch::pick);
    m_marker = new HitMarker(view, tracker, this);
    connect(m_marker, &HitMarker::marked, this, [this](int index) {
        if (index >= 0)
            emit marked(index);
    });
}

WholeBookSearch::~WholeBookSearch() {
    if (m_cancel)
        *m_cancel = true;
    m_worker.stop();
}

void WholeBookSearch::bookOpened() {
    // Results of the book before point into it, not into this one.
    start(QString(), false);
    m_dock->hide();
    m_titles.clear();
    std::shared_ptr<BookTextCache> book = m_tracker->book();
    if (!book)
        return;
    m_titles.assign(book->entryCount(), QString());
    BookWidget::Contents contents;
    m_view->bookContents(contents, true);
    for (const auto& line : contents.toc) {
        const std::string target = line.first.substr(0, line.first.find('#'));
        const long index = book->indexOf(target);
        if (index >= 0 && m_titles[static_cast<size_t>(index)].isEmpty())
            m_titles[static_cast<size_t>(index)] = QString::fromUtf8(line.second.data(), static_cast<qsizetype>(line.second.size())).simplified();
    }
    // An entry without a contents line belongs to the chapter before it.
    for (size_t i = 1; i < m_titles.size(); ++i) {
        if (m_titles[i].isEmpty())
            m_titles[i] = m_titles[i - 1];
    }
}

void WholeBookSearch::bookClosed() {
    start(QString(), false);
    m_titles.clear();
    m_dock->hide();
}

QString WholeBookSearch::titleOf(size_t entry) const {
    const QString chapter = QString("Chapter %1").arg(entry + 1);
    if (entry >= m_titles.size() || m_titles[entry].isEmpty())
        return chapter;
    return m_titles[entry];
}

void WholeBookSearch::enter(const QString& phrase, bool exact, bool backward) {
    if (phrase.trimmed() == m_phrase && exact == m_exact && !m_hits.empty()) {
        step(backward ? -1 : 1);
        return;
    }
    start(phrase, exact);
}

void WholeBookSearch::start(const QString& phrase, bool exact) {
    m_phrase = phrase.trimmed();
    m_exact = exact;
    if (m_cancel)
        *m_cancel = true;
    m_worker.cancelPending();
    ++m_generation;
    m_hits.clear();
    m_chaptersWithHits = 0;
    m_current = -1;
    m_marker->forget();
    m_panel->clear();
    m_finished = true;
    if (phrase.trimmed().isEmpty())
        return;
    m_dock->show();
    std::shared_ptr<BookTextCache> book = m_tracker->book();
    if (!book) {
        m_panel->setSummary(m_view->isBookOpen() ? "The text of this book cannot be read" : "No book is open");
        return;
    }
    m_finished = false;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_cancel = cancel;
    const unsigned generation = m_generation;
    const std::string text = phrase.toUtf8().toStdString();
    BookSearch::Options options;
    options.mode = exact ? FoldedText::EXACT : FoldedText::LOOSE;
    m_panel->setSummary(QString("Searching for \u201c%1\u201d \u2026").arg(phrase.trimmed()));
    TF_LOG(LOG_INFO, "searching the whole book for \"" << text << "\"");
    m_worker.post([this, book, text, options, cancel, generation] {
        const bool complete = BookSearch::run(
            *book, text, options,
            [this, generation, &cancel](size_t, std::vector<BookSearch::Hit>& hits) {
                if (!hits.empty())
                    QMetaObject::invokeMethod(
                        this, [this, generation, found = std::move(hits)]() mutable { takeHits(generation, std::move(found)); },
                        Qt::QueuedConnection);
                return !*cancel;
            },
            cancel.get());
        QMetaObject::invokeMethod(this, [this, generation, complete] { finish(generation, complete); },
                                  Qt::QueuedConnection);
    });
}

void WholeBookSearch::takeHits(unsigned generation, std::vector<BookSearch::Hit> hits) {
    if (generation != m_generation)
        return; // a search given up since
    ++m_chaptersWithHits;
    for (BookSearch::Hit& hit : hits) {
        m_panel->addHit(titleOf(hit.entry), hit);
        m_hits.push_back(std::move(hit));
    }
    updateSummary();
}

void WholeBookSearch::finish(unsigned generation, bool complete) {
    if (generation != m_generation)
        return;
    m_finished = true;
    if (!complete)
        return;
    updateSummary();
    TF_LOG(LOG_INFO, "the whole-book search found " << m_hits.size() << " matches");
}

void WholeBookSearch::updateSummary() {
    QString text;
    if (m_hits.empty())
        text = m_finished ? QString("Not found in this book") : QString("Searching \u2026");
    else
        text = QString("%1 %2 in %3 %4")
                   .arg(m_hits.size())
                   .arg(m_hits.size() == 1 ? "match" : "matches")
                   .arg(m_chaptersWithHits)
                   .arg(m_chaptersWithHits == 1 ? "chapter" : "chapters");
    if (!m_finished)
        text += QString(" \u2026");
    m_panel->setSummary(text);
}

void WholeBookSearch::pick(int index) {
    if (index < 0 || index >= static_cast<int>(m_hits.size()))
        return;
    m_current = index;
    m_panel->setCurrentRow(index);
    const BookSearch::Hit& hit = m_hits[static_cast<size_t>(index)];
    m_marker->show(hit.entry, hit.offset, hit.length, index);
    if (m_tracker->currentEntry() == static_cast<long>(hit.entry))
        return;
    std::shared_ptr<BookTextCache> book = m_tracker->book();
    const std::string type = m_view->bookType();
    if (type.empty() || !book)
        return;
    m_view->setScrollPosition(0);
    emit openRequested(URI::entryAddress(type, book->entryName(hit.entry)));
}

bool WholeBookSearch::step(int direction) {
    const int n = static_cast<int>(m_hits.size());
    if (n == 0)
        return false;
    int next;
    if (m_current < 0)
        next = direction >= 0 ? 0 : n - 1;
    else
        next = ((m_current + (direction >= 0 ? 1 : -1)) % n + n) % n;
    pick(next);
    return true;
}

} // namespace tf
