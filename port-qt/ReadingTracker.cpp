#include "ReadingTracker.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

#include "HtmlWindow.h"
#include "src/BookTextCache.h"
#include "src/DataHelper.h"
#include "utility/log.h"

namespace tf {

namespace {

// How far before a window's estimated text start its runs are looked for.
constexpr long kWindowSlack = 256;

} // namespace

ReadingTracker::ReadingTracker(HtmlWindow* view, QObject* parent) : QObject(parent), m_view(view) {
    m_label = new QLabel();
    m_label->setObjectName("progressLabel");
    m_label->setTextFormat(Qt::PlainText);
    m_label->setVisible(false);

    m_idle = new QTimer(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(kIdleSaveMs);
    connect(m_idle, &QTimer::timeout, this, [this] { saveNow(false); });

    QScrollBar* bar = m_view->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, &ReadingTracker::onScrolled);
    connect(bar, &QScrollBar::rangeChanged, this, &ReadingTracker::onRangeChanged);
    // 0 after the first paint of every page: a new document or layout.
    connect(m_view, &HtmlWindow::progressChanged, this, [this](int percent) {
        if (percent == 0)
            scheduleCheck();
    });
    // The session ends (logout) or the program quits: keep the place.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this, [this] { saveNow(false); });
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { saveNow(false); });
    }
}

ReadingTracker::~ReadingTracker() {
    if (m_cancelMeasure)
        *m_cancelMeasure = true;
    m_measurer.stop();
    if (m_label && !m_label->parent())
        delete m_label;
}

void ReadingTracker::setLibrary(DataHelper* library) {
    m_library = library;
    m_positions = library ? std::make_unique<ReadingPositions>(*library) : nullptr;
}

// ---- the open book ------------------------------------------------------------

void ReadingTracker::bookOpened() {
    const std::string filename = m_view->bookFilename();
    if (filename.empty())
        return;
    if (m_book && m_book->book() == filename)
        return;
    // An anchor the loader expects for this book stays.
    ReadingPositions::Anchor pending;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        pending = m_pending;
    }
    bookClosed();
    expectAnchor(pending);
    m_book = std::shared_ptr<BookTextCache>(BookTextCache::open(filename));
    if (!m_book)
        return;
    measure();
    scheduleCheck();
}

void ReadingTracker::bookClosed() {
    if (m_cancelMeasure)
        *m_cancelMeasure = true;
    m_cancelMeasure.reset();
    ++m_bookGeneration;
    m_extracting = -1;
    m_waitTop = -1;
    m_book.reset();
    m_lengths.clear();
    m_map.clear();
    m_mapKey = LayoutKey();
    m_mapEntry = -1;
    m_last = ReadingPositions::Anchor();
    m_lastEntry = -1;
    m_moved = false;
    m_saved = SavedState();
    m_idle->stop();
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pending = ReadingPositions::Anchor();
    }
    m_label->setVisible(false);
}

void ReadingTracker::measure() {
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_cancelMeasure = cancel;
    std::shared_ptr<BookTextCache> book = m_book;
    const unsigned generation = m_bookGeneration;
    // The entry a saved place waits for first: its map is needed as soon as it is laid out.
    long first = -1;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        if (m_pending.valid())
            first = book->indexOf(m_pending.entry);
    }
    m_measurer.post([this, book, cancel, generation, first] {
        if (first >= 0)
            book->text(static_cast<size_t>(first));
        for (size_t i = 0; i < book->entryCount(); ++i) {
            if (*cancel)
                return;
            book->text(i);
        }
        std::vector<long> lengths = book->lengths();
        QMetaObject::invokeMethod(
            this,
            [this, generation, lengths] {
                if (generation != m_bookGeneration)
                    return; // another book by now
                m_lengths = lengths;
                updateStatus();
            },
            Qt::QueuedConnection);
    });
}

long ReadingTracker::currentEntry() const {
    if (!m_book)
        return -1;
    std::string entry, scheme;
    if (m_view->GetInfoUri(entry, scheme))
        return entry.empty() ? -1 : m_book->indexOf(entry);
    // A single page is the book's one entry.
    if (m_book->entryCount() == 1 && m_book->entryName(0).empty() &&
        m_view->current_address().str() == m_book->book())
        return 0;
    return -1;
}

// ---- layouts ----------------------------------------------------------------------

ReadingTracker::LayoutKey ReadingTracker::layoutKey() const {
    LayoutKey key;
    auto lock = m_view->lockDocument();
    const auto doc = m_view->document();
    if (doc) {
        key.document = doc.get();
        key.width = doc->width();
        key.height = doc->height();
    }
    return key;
}

void ReadingTracker::scheduleCheck() {
    if (m_checkQueued)
        return;
    m_checkQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_checkQueued = false;
        checkLayout();
    });
}

void ReadingTracker::buildMap(long entry) {
    m_map.clear();
    m_mapEntry = entry;
    if (!m_book || entry < 0)
        return;
    QElapsedTimer timer;
    timer.start();
    const BookTextCache::Text text = m_book->text(static_cast<size_t>(entry));
    {
        // The runs hold the page's elements: they go before the lock does, so
        // a page replaced meanwhile is freed by the loader, never here.
        auto lock = m_view->lockDocument();
        text_range_t runs;
        if (const auto doc = m_view->document())
            create_range(doc, runs);
        // A window of a long chapter: its runs start about where its text does
        // (a little before: the offsets of its pieces are counted piece by piece).
        Renderer::WindowSpan span;
        size_t from = 0;
        if (m_view->window_span(span) && span.textStart > kWindowSlack)
            from = static_cast<size_t>(span.textStart - kWindowSlack);
        m_map.build(*text, runs, from);
    }
    TF_LOG(LOG_DEBUG, "entry " << entry + 1 << ": " << m_map.runs().size() << " of " << m_map.wordRuns()
                                << " runs placed in its text in " << timer.elapsed() << " ms");
}

void ReadingTracker::checkLayout() {
    const LayoutKey key = layoutKey();
    if (key == m_mapKey)
        return;
    const bool sameDocument = key.document && key.document == m_mapKey.document;
    const long entry = currentEntry();
    if (m_book && entry >= 0 && !m_book->cached(static_cast<size_t>(entry))) {
        // Extracting a long chapter's text takes longer than showing its first
        // screen: no map (and no place saved from it) until the text is there.
        m_map.clear();
        m_mapEntry = -1;
        m_pendingTop = -1;
        if (m_extracting != entry)
            m_waitTop = m_view->scrollPosition();
        extractThenCheck(entry);
        return;
    }
    // The reader scrolled while the text was extracted: the view is where they want it.
    const bool movedMeanwhile = m_waitTop >= 0 && m_waitTop != m_view->scrollPosition();
    m_waitTop = -1;
    m_mapKey = key;
    buildMap(entry);
    m_pendingTop = -1;

    ReadingPositions::Anchor target;
    bool restored = false;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        if (m_pending.valid() && entry >= 0 && m_book->entryName(static_cast<size_t>(entry)) == m_pending.entry) {
            target = m_pending;
            m_pending = ReadingPositions::Anchor();
            restored = true;
        } else if (entry >= 0) {
            m_pending = ReadingPositions::Anchor(); // the reader went elsewhere first
        }
    }
    if (!target.valid() && !movedMeanwhile && (sameDocument || m_keepPlace) && m_last.valid() && entry >= 0 &&
        entry == m_lastEntry)
        target = m_last;
    m_keepPlace = false;
    // A place in a piece of a long chapter that the window shown does not hold:
    // the window there is asked for, and the place waits for it.
    Renderer::WindowSpan span;
    const auto& placed = m_map.runs();
    if (target.valid() && restored && m_view->window_span(span) && !placed.empty() &&
        (target.offset < placed.front().offset || target.offset >= placed.back().offset + placed.back().length)) {
        {
            std::lock_guard<std::mutex> lock(m_pendingMutex);
            m_pending = target;
        }
        m_view->wantWindowAtText(target.offset);
        target = ReadingPositions::Anchor();
    }
    if (target.valid()) {
        const int top = m_map.topOf(target.offset);
        if (top >= 0) {
            // The scroll range may follow the layout a moment later.
            if (top > m_view->maxScrollPosition())
                m_pendingTop = top;
            m_view->setScrollPosition(top);
        }
    }
    emit layoutChanged();
    onScrolled();
    // Back where the library has it: nothing to save until the reader moves.
    if (restored) {
        m_moved = false;
        m_idle->stop();
    }
}

void ReadingTracker::extractThenCheck(long entry) {
    if (m_extracting == entry)
        return;
    m_extracting = entry;
    std::shared_ptr<BookTextCache> book = m_book;
    const unsigned generation = m_bookGeneration;
    m_extractor.post([this, book, entry, generation] {
        book->text(static_cast<size_t>(entry));
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation != m_bookGeneration)
                    return;
                m_extracting = -1;
                scheduleCheck();
            },
            Qt::QueuedConnection);
    });
}

void ReadingTracker::onRangeChanged() {
    if (m_pendingTop >= 0 && layoutKey() == m_mapKey) {
        const int top = m_pendingTop;
        if (top <= m_view->maxScrollPosition())
            m_pendingTop = -1;
        m_view->setScrollPosition(top);
    }
    scheduleCheck();
}

const TextAnchorMap* ReadingTracker::currentMap() {
    if (!(layoutKey() == m_mapKey))
        checkLayout();
    return m_mapEntry >= 0 ? &m_map : nullptr;
}

// ---- where the reader is -------------------------------------------------------------

ReadingPositions::Anchor ReadingTracker::anchorNow() {
    ReadingPositions::Anchor anchor;
    const TextAnchorMap* map = currentMap();
    if (!map || map->empty() || m_mapEntry < 0)
        return anchor;
    anchor.entry = m_book->entryName(static_cast<size_t>(m_mapEntry));
    anchor.offset = map->offsetAt(m_view->scrollPosition());
    if (anchor.offset < 0) // below the last text: the end of the entry
        anchor.offset = static_cast<long>(m_book->text(static_cast<size_t>(m_mapEntry))->size());
    anchor.percent = percentNow();
    return anchor;
}

int ReadingTracker::percentNow() {
    if (m_mapEntry < 0 || m_lengths.empty() || !m_last.valid())
        return -1;
    long before = 0, total = 0;
    for (size_t i = 0; i < m_lengths.size(); ++i) {
        const long n = std::max(0L, m_lengths[i]);
        if (static_cast<long>(i) < m_mapEntry)
            before += n;
        total += n;
    }
    if (total <= 0)
        return -1;
    before += std::min(m_last.offset, std::max(0L, m_lengths[static_cast<size_t>(m_mapEntry)]));
    return static_cast<int>(before * 100 / total);
}

QString ReadingTracker::progressText() const {
    return m_label && !m_label->isHidden() ? m_label->text() : QString();
}

void ReadingTracker::onScrolled() {
    if (!m_book)
        return;
    if (!(layoutKey() == m_mapKey)) {
        scheduleCheck(); // a layout not taken in yet: the old map would misplace the anchor
        return;
    }
    if (m_mapEntry < 0) {
        updateStatus();
        return;
    }
    ReadingPositions::Anchor anchor;
    anchor.entry = m_book->entryName(static_cast<size_t>(m_mapEntry));
    anchor.offset = m_map.offsetAt(m_view->scrollPosition());
    if (anchor.offset < 0)
        anchor.offset = m_map.empty() ? 0 : m_map.runs().back().offset;
    if (!(anchor.offset == m_last.offset && m_mapEntry == m_lastEntry)) {
        m_last = anchor;
        m_lastEntry = m_mapEntry;
        m_moved = true;
    }
    if (m_moved && m_positions)
        m_idle->start();
    updateStatus();
}

void ReadingTracker::updateStatus() {
    if (!m_book || m_mapEntry < 0) {
        m_label->setVisible(false);
        return;
    }
    QString text = QString("Chapter %1 of %2").arg(m_mapEntry + 1).arg(m_book->entryCount());
    const int percent = percentNow();
    if (percent >= 0)
        text += QString::fromUtf8(" \u00b7 %1 %").arg(percent);
    m_label->setText(text);
    m_label->setVisible(true);
}

// ---- saving -----------------------------------------------------------------------

bool ReadingTracker::saveNow(bool force) {
    m_idle->stop();
    if (!m_positions || !m_view->isBookOpen())
        return false;
    const std::string filename = m_view->bookFilename();
    if (filename.empty())
        return false;
    if (!(layoutKey() == m_mapKey))
        checkLayout();
    SavedState state;
    state.address = m_view->current_address().str();
    state.position = m_view->scrollPosition();
    state.zoom = m_view->get_default_font_size();
    ReadingPositions::Anchor anchor;
    if (m_mapEntry >= 0 && m_last.valid() && m_lastEntry == m_mapEntry) {
        anchor = m_last;
        anchor.percent = percentNow();
    }
    state.entry = anchor.entry;
    state.offset = anchor.offset;
    if (!force && state == m_saved)
        return false;
    const bool ok = m_positions->save(filename, state.address, state.position, state.zoom, anchor);
    if (ok) {
        m_saved = state;
        m_moved = false;
        emit saved();
    }
    return ok;
}

bool ReadingTracker::fetchAnchor(const std::string& filename, ReadingPositions::Anchor& anchor) {
    return m_positions && m_positions->fetch(filename, anchor);
}

void ReadingTracker::expectAnchor(const ReadingPositions::Anchor& anchor) {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_pending = anchor;
}

void ReadingTracker::keepPlace() {
    m_keepPlace = true;
}

} // namespace tf
