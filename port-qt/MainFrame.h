#pragma once

#include <atomic>

#include <QMainWindow>
#include <QRect>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Connector.h"
#include "LoadWorker.h"
#include "readers/BaseReader.h"
#include "src/ThemeStyle.h"
#include "utility/String.h"

class QAction;
class QComboBox;
class QLabel;
class QProgressBar;
class QSplitter;
class QTimer;
class QToolBar;

namespace tf {

class ContentsTree;
class DataHelper;
class HtmlWindow;
class NotePopup;
class ReadingTracker;
class SearchBox;
class Settings;
class WholeBookSearch;
class URI;

// The reader's one top-level window: tool bar, contents panel beside the
// document view, status bar with status text, progress bar and search box;
// the hot keys, full screen, and the whole book workflow (open, load on the
// background worker, restore the reading position, fill the contents panel,
// record the book in the library, the home page, close).
//
// Threads: everything here runs on the window thread except the loads, which
// run one at a time on `worker`; what a load has to tell the window reaches it
// as a queued call.
class MainFrame : public QMainWindow, public Connector {
    Q_OBJECT
public:
    // Command ids (the tool bar's buttons send the same ones).
    enum Command {
        CMD_COPY = 201,
        CMD_FILE_OPEN = 40001,
        CMD_FILE_CLOSE = 40002,
        CMD_TOGGLE_PANEL = 40003,
        CMD_CHAPTER_PREV = 40004,
        CMD_CHAPTER_NEXT = 40005,
        CMD_FILE_EXIT = 40006,
        CMD_ZOOM_IN = 40007,
        CMD_ZOOM_OUT = 40008,
        CMD_ZOOM_FULL = 40009,
        CMD_GO_START = 40010,
        CMD_GO_END = 40011,
        CMD_SEARCH = 40012,
        CMD_PREFERENCES = 40013,
        CMD_APP_ABOUT = 50001,
    };

    static const char* const kTitle;
    static const char* const kReady;
    // Follows the title in the status bar while a damaged book is open.
    static const char* const kDamaged;

    explicit MainFrame(QWidget* parent = nullptr);
    ~MainFrame() override;

    // ---- commands and keys ------------------------------------------------

    // Runs the command with that id; false for an unknown id.
    bool onCommand(int id);
    // The tool bar action of a command (null for ids without a button).
    QAction* action(int id) const;
    void processKey(QKeyEvent& event) override;

    void onSetStatus(const String& text);
    QString statusText() const;

    bool isFullScr() const { return fullScreen; }
    void setFullScrOn();
    void setFullScrOff();

    void onZoomIn();
    void onZoomOut();
    void onZoomFull();
    void onChapterNext();
    void onChapterPrev();
    void onGoStart();
    void onGoEnd();
    void onTogglePanel();
    void onResizePanel();
    // The contents panel's share of the split bar in percent (0: collapsed).
    int getBarPosition() const;
    void setBarPosition(int percent);
    void onAppAbout();
    void onFileExit();
    // Back to the default font size (Ctrl+0).
    void onZoomReset();

    // ---- reading style and remembered settings ---------------------------

    void onPreferences();
    // Applies a theme and text layout to the view, the window and the page
    // shown, and remembers it.
    void setReadingStyle(const ThemeStyle& style);
    const ThemeStyle& getReadingStyle() const { return readingStyle; }
    QComboBox* getThemeChooser() const { return themeChooser; }
    Settings* getSettings() const { return settings.get(); }
    // Writes the window's geometry and the panel's state to the settings.
    void saveSettings();

    // ---- book workflow ----------------------------------------------------

    // The first activation: opens the library and shows the home page. Later calls do nothing.
    void onActivate();
    // Asks for a book file and opens the first one chosen.
    void onFileOpen();
    // Opens a book file as if it had been chosen in the dialog (command line, drops).
    void openBook(const QString& path);
    // A book handed over by another start of the reader: opened unless it is
    // the open one (which keeps its page); the window comes to the front.
    void openFromOutside(const QString& path);
    // Loads an address on the worker; returns at once.
    void loadURI(const String& address);
    // The view's first paint after a book file was opened.
    void onFileLoad();
    void onProgress(int value);
    void onChapterOpen();
    void onHomePage();
    void onDeleteEntry(const std::string& path);
    void onDeleteAll();
    // The bytes behind a content:// address: the placeholder cover, whatever the address.
    std::string getContent(const URI* address) const;
    void onFileClose();
    void clearPanel();

    // ---- search -----------------------------------------------------------

    void onSearch();
    // Ctrl+Shift+F: the search box for the whole book (again: hides it).
    void onBookSearch();
    // One search step; Shift in `event` searches backwards.
    void doSearch(QKeyEvent* event);

    // ---- seams for tests and the entry point -------------------------------

    // Answers the Yes/No questions (true: Yes) instead of a message box.
    using Question = std::function<bool(const QString& title, const QString& text)>;
    void setQuestionHandler(Question handler);
    // Chooses the book files instead of the open-file dialog (empty: cancelled).
    using FileChooser = std::function<QStringList()>;
    void setFileChooser(FileChooser chooser);

    HtmlWindow* getView() const { return view; }
    ContentsTree* getContentsTree() const { return contentsTree; }
    NotePopup* getNotePopup() const { return notePopup; }
    QProgressBar* getProgressBar() const { return progressBar; }
    SearchBox* getSearchBox() const { return searchBox; }
    QSplitter* getSplitBar() const { return splitBar; }
    QToolBar* getToolSet() const { return toolSet; }
    DataHelper* getLibrary() const { return library.get(); }
    LoadWorker& getWorker() { return worker; }
    ReadingTracker* getTracker() const { return tracker; }
    WholeBookSearch* getBookSearch() const { return bookSearch; }
    bool isActivated() const { return activated; }
    int getChapterCount() const { return chapterCount; }
    const pair_list_t& getTocEntries() const { return tocEntries; }
    const String& getBookPath() const { return bookPath; }
    // Drops a load still waiting and blocks until the running one and the
    // recording of a book are done.
    void waitForLoads();
    // A load or a recording is waiting or running.
    bool busy() const;

    // A path as the view takes it: its bytes, widened one by one.
    static String pathToString(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct LoadRequest {
        String address;
        // The open book's own file again (a zoom on its cover page): no restore.
        bool refresh = false;
        // Chosen by the user (dialog, command line, drop): say so when it fails.
        bool chosen = false;
        // Shown from its end (reading flowed back into it from the next one).
        bool atEnd = false;
        // Shown where reading flowed into it (HtmlWindow::expectFlow): whole at once, no restore.
        bool flow = false;
        // The page that follows it, built first (reading flowed back from it): "" for none.
        String following;
    };

    // The loader: runs on the worker thread.
    static void callThread(MainFrame* frame, const LoadRequest& request);
    static void showPage(MainFrame* frame, const LoadRequest& request);
    // Records the open book (chosen by the user from `path`) in the library
    // with its cover thumbnail; on the recorder, after the book's first paint.
    static void recordBook(HtmlWindow* view, DataHelper* library, const String& path);

    // Runs `fn` on the window thread, in posting order; callable from any thread.
    // The calls wait in a list of our own and only a wake-up goes through Qt's
    // event queue, so their data is handed over under a lock.
    void postToWindow(std::function<void()> fn);
    Q_INVOKABLE void runPosted();

    void createActions();
    // The next or previous entry of the reading order; `atEnd` shows it from its end.
    // `flowBack`: reading flows back into the previous one, the view `flowBack` px above its end.
    void stepChapter(bool forward, bool atEnd = false, int flowBack = -1);
    // A screen on, or back, keeping a line in sight: on into the next chapter
    // painted below the page, and before the start back into the previous one.
    void pageStep(bool forward);
    // `delta`: how far back the view goes into the previous chapter from its end.
    void flowOn(bool forward, int delta);
    // The top of the view has passed into the next chapter painted below the page.
    void flowInto(const String& address);
    // Loader thread: builds the top of the chapter after the one shown, to be painted below it.
    static void buildFollowing(MainFrame* frame);
    // The view wants the window of its long chapter around page y `y` (or
    // around text offset `text`, when not negative) laid out: one job on the
    // loader at a time, which takes the latest place wanted when it runs.
    void requestWindow(int y, long text = -1);
    // The page search (Ctrl+F) in a long chapter shown a window at a time.
    void searchLongChapter(const std::string& keyword, bool backward);
    void post(const LoadRequest& request);
    void reloadAtNewSize();
    bool ask(const QString& title, const QString& text);
    // Saves the open book's chapter, scroll position and font size; false when nothing was saved.
    bool saveReadingState();
    // The file path of the open book (bytes widened), or "".
    String openBookFile();
    void loadFailed(const String& address);
    void showProgress(int value);
    void restoreStatus();

    void restoreSettings();
    void showPanel(bool shown);

    // The child widgets belong to the window.
    ContentsTree* contentsTree = nullptr;
    NotePopup* notePopup = nullptr;
    QToolBar* toolSet = nullptr;
    QProgressBar* progressBar = nullptr;
    SearchBox* searchBox = nullptr;
    QSplitter* splitBar = nullptr;
    QLabel* statusLabel = nullptr;
    String pendingUri;
    String bookPath;
    HtmlWindow* view = nullptr;
    bool activated = false;
    int tocIndex = 0;
    int chapterCount = 0;
    std::unique_ptr<DataHelper> library;
    pair_list_t tocEntries;
    pair_list_t spineEntries;
    QRect savedBounds;
    Qt::WindowStates savedState;
    bool fullScreen = false;
    std::unique_ptr<Settings> settings;
    ThemeStyle readingStyle;
    QComboBox* themeChooser = nullptr;
    // The panel's width in pixels when last shown (0: never).
    int panelWidth = 0;
    // The panel was shown when the window was last closed: shown again once laid out.
    bool panelPending = false;

    std::mutex postedMutex;
    std::vector<std::function<void()>> posted;

    std::map<int, QAction*> actions;
    QTimer* relayoutTimer = nullptr;
    int pendingProgress = 0;
    bool progressQueued = false;
    // The status text of the workflow, shown again after a search message.
    QString statusBase;
    // Where the reader is: progress text, text anchors, saving when reading pauses.
    ReadingTracker* tracker = nullptr;
    WholeBookSearch* bookSearch = nullptr;
    Question questionHandler;
    FileChooser fileChooser;
    // Declared last: stopped and joined first, while everything a load uses still exists.
    // The recorder makes the cover thumbnails; a book replaced before its turn is not recorded.
    LoadWorker recorder;
    LoadWorker worker;
    std::atomic<int> windowY{0};
    std::atomic<long> windowText{-1};
    std::atomic<bool> windowJob{false};
    // The next chapter's top was not built for the page shown (a job waited): a window job builds it.
    std::atomic<bool> followingOwed{false};
    // The page search's match in a long chapter.
    struct {
        bool valid = false;
        long entry = -1;
        std::u32string query;
        size_t offset = 0;
    } pageSearch;
};

} // namespace tf
