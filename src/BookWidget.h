#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "engine-additions/TextRange.h"
#include "readers/BaseReader.h"
#include "src/Renderer.h"
#include "src/task_t.h"

namespace tf {

// The renderer as the view of an open book: what every internal address
// means, the open reader, zoom, chapter stepping, the cover page, a queue of
// named tasks for the window, and the text range on which selection and
// search work. Still abstract: drawing, measuring and the window services are
// the window's view's (it also implements the engine's container callbacks).
//
// Threads: the loader thread looks content up, loads and queues "scroll.set";
// the window thread paints, runs tasks and reads the reader. The reader is
// guarded by lockReader(), the tasks by a lock of their own that is never held
// while a task runs, the book flag and font size are atomic, and the text
// range lives under the document lock (lockDocument()). Lock order: document,
// then reader; never take the document lock while holding the reader's.
//
// The window's view: paints through draw_document(); in draw_text fills the
// highlight when isMarkedDrawnRun(pos); queues the loader-thread hooks
// (on_progress, on_document_size, on_redraw, move2id) to its own thread; and
// calls release_document() in its destructor.
class BookWidget : public Renderer {
public:
    static constexpr int kMinFontSize = 8;
    static constexpr int kMaxFontSize = 40;
    static constexpr int kFontStep = 2;

    BookWidget(int fontSize, const std::string& fontName);
    ~BookWidget() override;

    int get_default_font_size() const override;
    const litehtml::tchar_t* get_default_font_name() const override;

    String uri_content(const String& address, std::string& out) override;
    // A book file named as the page to show is opened.
    String page_content(const String& address, std::string& out, bool& openedBook) override;
    void load_string(const std::string& html, const String& root) override;

    // Reloads the current address through loadUriAsync (after a zoom).
    virtual void load_refresh();
    // Zoom by one step within 8..40 px; the new size, or -1 with no open book.
    virtual int makeFontBigger();
    virtual int makeFontSmaller();
    // No bounds (a restored reading position); returns the size.
    virtual int setFontSize(int size);
    virtual int resetFontSize();
    // Loads the open book's cover page (the current address stays).
    virtual void showCoverPage();
    // Loads the next / previous reading-order entry through loadUriAsync.
    virtual void stepChapterNext();
    virtual void stepChapterPrev();
    // A service of the main window; "get.content" answers the bytes of a content:// address.
    virtual std::string callParentService(const std::string& name, URI* data) = 0;
    // Runs every pending task of that name, oldest first, each at most once.
    virtual void processTask(const std::string& name);
    virtual void queueTask(const std::string& name, const String& param);
    // Performs one task on the window thread (may start a new load).
    virtual void finishTask(const std::string& name, const String& param) = 0;
    // Recognises "data64:" + mime + ":" + base64 and decodes it.
    virtual bool isDataBase64Encoded(const std::string& text, std::string& mime, std::string& data);
    // A reader exists and reports itself open.
    virtual bool isBookOpen();
    // Loads an address off the window thread.
    virtual void loadUriAsync(const String& address) = 0;
    // Registers the open book's fonts; called with the reader lock held.
    virtual void loadEmbeddedFonts() = 0;
    // Appends every visible text run of the shown document; returns the range size.
    virtual int createTextRange();
    // Unmarks and discards the text range.
    virtual void clearTextRange();

    // What the window asks of the open book. Each takes the reader lock inside
    // and answers ""/false when no book is open, so no caller holds the reader.
    // A single page's reader does not report itself open; the file name and
    // the contents are answered for it too where `anyReader` says so.
    struct Contents {
        std::string title;
        pair_list_t toc;
        std::vector<unsigned> depths;
        pair_list_t spine;
        // Opened from a mended copy of a damaged file.
        bool damaged = false;
    };
    std::string bookFilename(bool anyReader = false) const;
    std::string bookTitle() const;
    // The format word of the open reader ("epub", "fb2", "html").
    std::string bookType() const;
    bool bookContents(Contents& out, bool anyReader = false) const;
    // The entry after (or before) `entry` in reading order; "" at either end.
    std::string neighbourEntry(const std::string& entry, bool forward) const;
    // The name of the entry that holds the element with this id; "" when none.
    std::string entryOfId(const std::string& id) const;
    // The content of an entry (a page's markup, a picture's bytes) into `out`;
    // false when no book is open or the entry is empty.
    bool bookEntry(const std::string& name, std::string& out) const;
    // Title, cover entry name and the cover's bytes of the book open under
    // `filename`; false when another book (or none) is open by now.
    bool bookCover(const std::string& filename, std::string& title, std::string& coverEntry,
                   std::string& data) const;

    // Why the last book file a load tried to open was refused, in words ("" after a success).
    std::string openError() const;
    // The open reader (may be null); hold lockReader() while using it.
    BaseReader* getReader();
    std::unique_lock<std::recursive_mutex> lockReader() const;
    // A load opened a book file and the window has not announced it yet.
    bool isBook() const;
    // Reads and clears the book flag in one step (the window, when it announces the book).
    bool takeBookLoaded();
    // The address a link to "#id" in the shown page leads to: the page itself
    // with the fragment, or in a FictionBook the entry that holds the id.
    String fragmentAddress(const std::string& fragment);
    // Where in which book the view stands: scheme "epub"/"fb2", entry the chapter.
    bool GetInfoUri(std::string& entry, std::string& scheme);
    // Runs the pending tasks named like the task last passed to processTask.
    static void callThread(BookWidget* widget);
    size_t pendingTaskCount() const;

    // Text range access. Hold lockDocument() across calls that must agree
    // with each other; the records stay valid until the next document change.
    const text_range_t& textRange() const { return m_textRange; }
    size_t textRangeSize() const;
    // Marks or unmarks the runs first..last (inclusive, clipped to the range).
    void markRuns(size_t first, size_t last, bool marked);
    bool isRunMarked(size_t index) const;
    // Index of the last run whose box contains the document point, or -1.
    int runAt(int x, int y) const;
    // The text of the marked runs in range order (UTF-8).
    std::string markedText() const;
    // For draw_text: whether the run drawn at `drawn` (view coordinates of the
    // paint in progress) is marked. The engine's draw_text carries no flag.
    bool isMarkedDrawnRun(const litehtml::position& drawn) const;

protected:
    void on_document_changed() override;
    bool is_well_formed(const std::string& html) const override;
    // The reader for a format word ("epub", "fb2", "html"); the factory's by default.
    virtual BaseReader* createReader(const std::string& format);

private:
    using BoxKey = std::tuple<int, int, int, int>;
    static BoxKey keyOf(const litehtml::position& pos);
    void setMarked(TextNode& node, bool marked);
    void clearTextRangeLocked();
    String openBook(const URI& uri, int type, std::string& out, const String& folder, bool& opened);
    String fetchEntry(const std::string& name, std::string& out, const String& root, const String& address);
    void runTasks(const std::string& name);
    void stepChapter(bool forward);

    std::atomic<int> m_fontSize;
    const int m_defaultFontSize;
    std::atomic<bool> m_bookLoaded{false};
    const std::string m_fontName;

    mutable std::recursive_mutex m_readerMutex;
    std::unique_ptr<BaseReader> m_reader;
    std::string m_openError; // under the reader lock

    mutable std::mutex m_taskMutex;
    std::string m_task;
    std::vector<task_t> m_tasks;

    // Under the document lock.
    text_range_t m_textRange;
    std::map<BoxKey, int> m_markedBoxes;
};

} // namespace tf
