#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LoadWorker.h"
#include "src/ReadingPositions.h"
#include "src/TextAnchorMap.h"

#include <QLabel>
class QTimer;

namespace tf {

class BookTextCache;
class DataHelper;
class HtmlWindow;

// Follows where the reader stands in the open book: the text anchor at the
// top of the view (entry and character offset, see ReadingPositions), the
// "Chapter X of N · Y %" of the status bar, and saving the reading state
// about two seconds after reading stops moving (and on request: close, exit,
// signals, session end). A new layout of the entry on screen (another width,
// a zoom) keeps the same text at the top; a restored position goes to its
// anchor once its entry is laid out.
//
// It also keeps the open book's text cache (BookTextCache, on a reader of its
// own) and measures every entry's text on a background worker, for the
// percentages and for the whole-book search.
//
// Threads: everything runs on the window thread except expectAnchor and
// fetchAnchor (the loader's) and the measuring job, whose result is handed
// to the window thread whole and dropped when the book has changed meanwhile.
class ReadingTracker : public QObject {
    Q_OBJECT
public:
    static constexpr int kIdleSaveMs = 2000;

    explicit ReadingTracker(HtmlWindow* view, QObject* parent = nullptr);
    ~ReadingTracker() override;

    // The library to save into (null: nothing is saved).
    void setLibrary(DataHelper* library);
    // The status bar's progress text; hidden while no book entry is shown.
    QLabel* progressLabel() const { return m_label; }

    // The view's first paint of a newly opened book / the book was closed.
    void bookOpened();
    void bookClosed();
    std::shared_ptr<BookTextCache> book() const { return m_book; }

    // Reading-order index of the entry on screen, -1 when none.
    long currentEntry() const;
    // The runs of the layout on screen against its entry's text (built when
    // the layout is new); null when the page is no entry of the open book.
    const TextAnchorMap* currentMap();
    // Where the top of the view is now (invalid when not in a book entry).
    ReadingPositions::Anchor anchorNow();
    // The share of the book's text before the top of the view, -1 unknown.
    int percentNow();
    QString progressText() const;

    // Saves the reading state (the designed columns and the anchor) in one
    // transaction. Without `force` only when it changed since the last save.
    bool saveNow(bool force = false);

    // Loader thread: the anchor saved for a book (false: none) ...
    bool fetchAnchor(const std::string& filename, ReadingPositions::Anchor& anchor);
    // ... and the anchor to show once its entry is laid out.
    void expectAnchor(const ReadingPositions::Anchor& anchor);
    // The next layout of the entry on screen (a zoom) keeps the text at the top.
    void keepPlace();

signals:
    // A new layout was taken in (after any anchor was applied).
    void layoutChanged();
    // The saved state changed (tests watch this).
    void saved();

private:
    struct LayoutKey {
        const void* document = nullptr;
        int width = -1, height = -1;
        bool operator==(const LayoutKey& o) const {
            return document == o.document && width == o.width && height == o.height;
        }
    };
    struct SavedState {
        std::string address;
        int position = -1, zoom = -1;
        std::string entry;
        long offset = -1;
        bool operator==(const SavedState& o) const {
            return address == o.address && position == o.position && zoom == o.zoom && entry == o.entry &&
                   offset == o.offset;
        }
    };

    LayoutKey layoutKey() const;
    void scheduleCheck();
    void checkLayout();
    void onScrolled();
    void onRangeChanged();
    void buildMap(long entry);
    void updateStatus();
    void measure();
    // The text of `entry` extracted off the window thread; the layout is checked again then.
    void extractThenCheck(long entry);

    HtmlWindow* m_view;
    QPointer<QLabel> m_label; // the status bar owns it once added there
    QTimer* m_idle = nullptr;
    DataHelper* m_library = nullptr;
    std::unique_ptr<ReadingPositions> m_positions;

    std::shared_ptr<BookTextCache> m_book;
    std::vector<long> m_lengths; // per entry; empty until measured
    unsigned m_bookGeneration = 0;
    std::shared_ptr<std::atomic<bool>> m_cancelMeasure;

    TextAnchorMap m_map;
    LayoutKey m_mapKey;
    long m_mapEntry = -1;
    bool m_checkQueued = false;
    bool m_keepPlace = false;
    int m_pendingTop = -1;
    long m_extracting = -1; // the entry whose text is being extracted for the map
    int m_waitTop = -1;     // the scroll position when the map began to wait for it

    ReadingPositions::Anchor m_last; // at the top of the view, kept current while scrolling
    long m_lastEntry = -1;
    bool m_moved = false;
    SavedState m_saved;

    std::mutex m_pendingMutex;
    ReadingPositions::Anchor m_pending;

    // Declared last: stopped first.
    LoadWorker m_measurer;
    LoadWorker m_extractor;
};

} // namespace tf
