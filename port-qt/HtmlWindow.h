#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "src/BookWidget.h"
#include "src/ThemeStyle.h"
#include "utility/String.h"
#include "utility/URI.h"

class QPainter;
class QTimer;

namespace tf {

class Connector;
class DisplayList;
class EmbeddedFonts;
struct FollowingPage;
class ImageCache;
class TextSearch;
class TileCache;

// The document view: a scroll area that is at the same time the book widget.
// It implements the engine's container on QPainter (fonts, text, pictures,
// backgrounds, borders, list markers, clipping, the audio player picture) and
// the view's interaction: painting, scrolling, selection, copying, links,
// tasks and keyword search.
//
// Threads: loads (load_uri, showCoverPage, ...) run on the main window's
// loader thread. The container calls of layout are safe there; every widget
// operation they ask for (scroll range, repaint, progress, scroll requests)
// is queued to the window thread. Everything else is called on the window
// thread.
//
// What the main window connects:
//  - loadRequested(address)     -> its loadURI: start a load off the window
//                                  thread (chapter steps, zoom reloads, links)
//  - bookLoaded()               -> its onFileLoad: the first paint after a
//                                  book file was opened
//  - progressChanged(percent)   -> its onProgress (30, 40, 80 while loading;
//                                  90 and 0 around the first paint of a page)
//  - removeFileRequested(path)  -> its onDeleteEntry (a home-page "Remove")
//  - removeAllRequested()       -> its onDeleteAll (a home-page "Remove All")
//  - setContentProvider(...)    -> its getContent, for "content://" addresses
//  - set_frame(connector)       -> its processKey, for every key pressed here
// It shows the library's home page with load_home_page() (not load_string):
// "cmd://" links are honoured only on that page. When the view's width
// changes it lays the page out again by itself, a moment after the resize.
class HtmlWindow : public QAbstractScrollArea, public BookWidget {
    Q_OBJECT
public:
    // Highlight of selected and found text.
    static constexpr QRgb kMarkColor = 0xFFFFFF96;
    static constexpr int kDefaultFontSize = 20;
    static constexpr int kLineStep = 20;

    explicit HtmlWindow(QWidget* parent = nullptr);
    ~HtmlWindow() override;

    // ---- the main window's side ----------------------------------------

    // Keys pressed in the view go to `frame` (null: the scroll area's own keys).
    void set_frame(Connector* frame);
    Connector* frame() const { return m_frame; }

    // Answers the "get.content" service (the bytes behind a content:// address).
    // May be called on the loader thread.
    using ContentProvider = std::function<std::string(const URI* address)>;
    void setContentProvider(ContentProvider provider);

    // Shows the library's generated home page (laid out on this thread). While
    // it is shown, its links are read with DataHelper::readHomeLink: "Open"
    // loads a book, "Remove" and "Remove All" ask the main window.
    // The reader's theme and text layout for the pages built from now on, and
    // the page colour around them (the caller reloads the page shown).
    void setReadingStyle(const ThemeStyle& style);
    QColor pageColor() const { return m_pageColor; }

    // Asked first about every link of a book page that leads inside the book;
    // true when it has taken the click (a note shown in a pop-up). Runs with the page's lock held.
    using LinkFilter = std::function<bool(const std::string& href, const litehtml::element::ptr& el)>;
    void setLinkFilter(LinkFilter filter) { m_linkFilter = std::move(filter); }

    // Asked between the two steps of showing a long page (its first screen,
    // then the whole): true when a newer load waits, so the rest is not built.
    // Called on the loader thread; set it before the first load.
    void setLoadSuperseded(std::function<bool()> check) { m_superseded = std::move(check); }

    void load_home_page(const std::string& html);
    // The home page is the document on screen.
    bool isHomePageShown() const;

    // Lays the shown document out again at `width` and refreshes.
    void render(int width) override;
    // The width available for layout: the client width less a vertical scroll bar.
    int client_width() override;
    // Frees the picture cache and closes the open reader; the page stays.
    void close() override;
    // Scrolls to a document height (queued when called off the window thread).
    void move2id(int y) override;
    void on_progress(int percent) override;

    // ---- selection ----------------------------------------------------------

    // Appends the text of the marked runs (selection or search match).
    void selected_text(String& out) const;
    QString selectedText() const;
    // Puts the selected text on the clipboard and clears the selection.
    void copySelection();

    // ---- search -------------------------------------------------------------

    // Finds `keyword` (UTF-8; case and runs of white space do not matter, a
    // phrase may span several runs), marks every run of the match and scrolls
    // it into view. `start` 0 starts a new search at the top of the page (or,
    // backwards, at its end); any other value goes on from the current match
    // to the next one in document order (backwards: the previous one),
    // wrapping around. Returns the byte offset of the match in its first run,
    // or -1 when the page holds none (the marks are then cleared).
    int search_text(const std::string& keyword, unsigned start, bool backward = false);
    // Drops the search state and its marks.
    void clearSearch();

    // ---- scrolling ------------------------------------------------------------

    int scrollPosition() const;
    void setScrollPosition(int y); // clamped to 0..maxScrollPosition()
    int maxScrollPosition() const;
    // Height of the visible part of the page.
    int pageSize() const;
    // Laid-out size of the shown document.
    QSize documentSize() const;

    // ---- drawing without a screen (tests, thumbnails, orinel-render) ----------

    // Lays out at size.width() and reports size.height() as the client height,
    // whatever the widget's own size; an empty size follows the widget again.
    void setFixedClientSize(const QSize& size);
    // Paints `documentRect` of the shown document (document coordinates) into
    // an image of that size at the given device pixel ratio; white without a document.
    QImage renderImage(const QRect& documentRect, qreal devicePixelRatio = 1.0);
    // The text of the runs painted inside `documentRect`, in document order,
    // one line per block (UTF-8).
    std::string paintedText(const QRect& documentRect);
    // Pictures held by the cache (decoded and failed addresses).
    size_t imageCacheSize() const;
    // Drops every cached tile, so the next paint draws from the document.
    void dropTiles();
    // Whether painting keeps tiles (on by default).
    void setTileCacheEnabled(bool enabled);

    // ---- engine container ---------------------------------------------------

    litehtml::uint_ptr create_font(const litehtml::tchar_t* faceName, int size, int weight,
                                   litehtml::font_style italic, unsigned int decoration,
                                   litehtml::font_metrics* fm) override;
    void delete_font(litehtml::uint_ptr hFont) override;
    int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) override;
    void draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                   litehtml::web_color color, const litehtml::position& pos) override;
    int pt_to_px(int pt) const override;
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override;
    void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool redraw_on_ready) override;
    void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, litehtml::size& sz) override;
    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override;
    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& draw_pos,
                      bool root) override;
    void draw_audio_player(litehtml::uint_ptr hdc, const litehtml::position& pos) override;
    void set_caption(const litehtml::tchar_t* caption) override;
    void set_base_url(const litehtml::tchar_t* base_url) override;
    void link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) override;
    void on_anchor_click(const litehtml::tchar_t* url, const litehtml::element::ptr& el) override;
    void set_cursor(const litehtml::tchar_t* cursor) override;
    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override;
    void import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) override;
    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                  bool valid_y) override;
    void del_clip() override;
    void get_client_rect(litehtml::position& client) const override;
    void get_media_features(litehtml::media_features& media) const override;
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override;
    // Style sheets for a page being built: each read once, within its budget.
    void import_page_css(PageBuild& page, litehtml::tstring& text, const litehtml::tstring& url,
                         litehtml::tstring& baseurl) override;
    void link_page_css(PageBuild& page, const std::shared_ptr<litehtml::document>& doc,
                       const litehtml::element::ptr& el) override;

    // ---- book widget ----------------------------------------------------------

    String uri_content(const String& address, std::string& out) override;
    // An SVG document asked for as a page is shown as the picture of one.
    String page_content(const String& address, std::string& out, bool& openedBook) override;
    std::string callParentService(const std::string& name, URI* data) override;
    void finishTask(const std::string& name, const String& param) override;
    void queueTask(const std::string& name, const String& param) override;
    void loadUriAsync(const String& address) override;
    void loadEmbeddedFonts() override;
    // Unmarks and discards the text range (and repaints what was marked).
    void clearTextRange() override;
    // Asks for the window of the long chapter shown that holds text offset
    // `offset` (a saved place, a match); nothing comes when it is shown already.
    void wantWindowAtText(long offset);

    // ---- reading that flows on into the next chapter ----------------------------

    // Loader thread: builds the top of the book entry `address` to be painted
    // below the page of entry address `follows` (FollowingPage) and hands it
    // to the window thread, where it joins that page (now, or when it is shown).
    void buildFollowing(const String& address, const String& follows);
    // The entry painted below the shown page, or "" (window thread).
    String followingAddress() const;
    // Page y where it begins (the shown page's height), -1 without one.
    int followingTop() const;
    // The scroll position that shows the last screen of the page itself.
    int pageEndPosition() const;
    // The next page of entry `address` shown continues the reading: forward,
    // the view keeps showing what it shows (it was painted below the old page);
    // backward, the view stands `delta` px above the new page's end, where the
    // old page now follows it (window thread).
    void expectFlow(const String& address, bool forward, int delta);
    // A flow is expected and its page not shown yet.
    bool flowPending() const;
    // The flow expected (into `address`, when not "") will not come: another
    // load took its place, or it failed.
    void cancelFlow(const String& address = String());

signals:
    // Load `address` off the window thread (the main window's loadURI).
    void loadRequested(const tf::String& address);
    // The view's width changed under a book page: build it anew at the new
    // width off this thread (the page on screen stays until the new one is
    // shown). Without a receiver the view lays the page out again itself.
    void relayoutRequested();
    // The first paint after a book file was opened (the main window's onFileLoad).
    void bookLoaded();
    void progressChanged(int percent);
    // A home-page "Remove" link: the book file path (bytes, as recorded).
    void removeFileRequested(const std::string& path);
    // A home-page "Remove All" link.
    void removeAllRequested();
    // The wheel turned on past the end (forward) or the start of the page:
    // reading flows into the next or previous chapter. Only sent when received.
    void flowRequested(bool forward);
    // The top of the view has passed into the following page (followingAddress()):
    // reading has flowed on, so that page is the one to show. Sent once per page.
    void followingReached(const tf::String& address);
    // Ctrl+wheel: whole notches, positive for larger text.
    void zoomRequested(int steps);
    // A long chapter laid out a window of pieces at a time: the reader nears
    // an edge of the window shown, so the window around page y `y` is wanted,
    // or the one around text offset `text` when that is not negative (the
    // main window's loader moves it there: move_window, move_window_to_text).
    void windowWanted(int y, long text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    size_t window_threshold() const override;
    void on_window_shift(int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

    void on_document_size(int width, int height) override;
    void on_redraw() override;
    void on_document_changed() override;
    int first_screen_height() const override;
    bool load_superseded() const override;

private:
    // Runs `fn` on the window thread: now when called there, else queued.
    void onWindowThread(std::function<void()> fn);
    bool onWindowThread() const;
    void updateScrollBars();
    void updateClientSize();
    // Paints `docRect` with `painter`, whose origin is the rectangle's top left.
    void paintDocument(QPainter& painter, const QRect& docRect);
    // The document region `docRect` painted into a white image at pixel ratio `dpr`.
    QImage paintedImage(const QRect& docRect, qreal dpr);
    // Lets the engine draw the whole shown document into a new display list.
    void recordDisplayList();
    // What the engine draws for `doc` (the shown document when `shown`); under the document lock.
    std::unique_ptr<DisplayList> recordList(const litehtml::document::ptr& doc, bool shown);
    // `marks`: the shown page's marked runs are highlighted (not on a following page).
    void replay(QPainter& painter, const DisplayList& list, const QRect& docRect, bool marks = true);
    // The entry and layout a page shown now (or one following `member`) is built for.
    std::string layoutKey(const std::string& member, int width) const;
    void setFollowing(std::shared_ptr<FollowingPage> page);
    void checkFollowing();
    static void applyClip(QPainter& painter, const DisplayList& list, int clip);
    void paintBackground(QPainter& painter, const litehtml::background_paint& bg);
    void paintMarker(QPainter& painter, const litehtml::list_marker& marker, const char* baseurl);
    void paintBorders(QPainter& painter, const litehtml::borders& borders, const litehtml::position& pos);
    static void paintAudio(QPainter& painter, const litehtml::position& pos);
    QPoint scrollOffset() const;
    QPoint toDocument(const QPoint& viewportPoint) const;
    // Repaints the document area of `runs` (text range indices first..last).
    void invalidateRuns(int first, int last);
    void invalidateDocumentRect(const QRect& rect);
    // The engine reports changed styles (hover, press) in m_redrawBoxes.
    void restyled();
    void showCopyMenu(const QPoint& globalPos);
    void runLinkTasks();
    // A reference from the document resolved like an image address; `baseurl`
    // is the folder of the style sheet that named it ("" for the page itself).
    String resolveReference(const char* src, const char* baseurl);
    void scrollToRuns(int firstRun, int lastRun);
    // `svg` with the pictures it names by relative address (against `folder`) put in as data.
    QByteArray inlineSvgPictures(const std::string& svg, const String& folder);
    // Reads a style sheet once per document build and notes its @font-face
    // names; `folder` receives the sheet's folder (its base for references).
    bool fetchStyleSheet(PageBuild& page, const String& path, std::string& css, String& folder);
    // Unmarks every run of the range; the bounding box of what was marked.
    QRect unmarkAll();
    QRect runsBox(int first, int last) const;
    void scheduleRelayout();
    // Height of the visible page, readable on any thread.
    int pageSizeHint() const;
    // Cache keys of the pictures painted inside a document rectangle.
    std::vector<std::string> picturesIn(const QRect& rect);

    Connector* m_frame = nullptr;
    QColor m_pageColor{Qt::white};
    int m_zoomWheel = 0; // Ctrl+wheel turned short of a notch
    int m_flowWheel = 0; // the wheel turned on at an end of the page, short of a flow
    LinkFilter m_linkFilter;
    std::function<bool()> m_superseded;
    ContentProvider m_contentProvider;
    std::unique_ptr<ImageCache> m_images;
    std::unique_ptr<EmbeddedFonts> m_fonts;
    std::unique_ptr<TileCache> m_tiles;
    std::unique_ptr<TextSearch> m_search;

    // Mouse and selection (window thread).
    QPoint m_pressPoint;
    std::vector<litehtml::position> m_redrawBoxes;
    int m_selStart = -1;
    int m_selEnd = -1;
    int m_anchor = -1;
    bool m_leftDown = false;

    // Under the document lock: what the engine draws for the shown document,
    // and the list being recorded while the engine draws.
    std::unique_ptr<DisplayList> m_display;
    DisplayList* m_recording = nullptr;
    qreal m_paintDpr = 1.0;

    // Read by layout on the loader thread.
    std::atomic<int> m_clientWidth{0};
    std::atomic<int> m_clientHeight{0};
    std::atomic<int> m_dpiY{96};
    std::atomic<int> m_fixedWidth{0};
    std::atomic<int> m_fixedHeight{0};
    // The width the shown document was last laid out at.
    std::atomic<int> m_lastLayoutWidth{0};
    // Bumped (under the document lock) whenever the shown document or its layout changes.
    std::atomic<unsigned> m_docGeneration{0};
    // The document generation when the last "scroll.set" was queued.
    std::atomic<unsigned> m_scrollTaskGeneration{0};
    std::atomic<bool> m_tilesStale{true};

    // Window thread.
    unsigned m_paintedGeneration = 0;
    // The document generation the scroll range was last set for.
    unsigned m_sizedGeneration = 0;
    QTimer* m_relayoutTimer = nullptr;
    // Asks for the window around the reader's place when they near an edge of
    // the one shown (a long chapter laid out a window at a time).
    void checkWindow();
    std::atomic<int> m_windowShift{0};
    bool m_windowArriving = false; // a page just taken: where the reader goes is still queued
    std::atomic<unsigned> m_windowShiftGeneration{0}; // the page the shift is for
    // Window thread: the page painted below the shown one, one arrived before
    // its page, the key of the page shown, and a flow on its way.
    std::shared_ptr<FollowingPage> m_following;
    std::shared_ptr<FollowingPage> m_waitingFollowing;
    std::mutex m_arrivedMutex;
    std::shared_ptr<FollowingPage> m_arrivedFollowing; // built, on its way to the window thread
    std::string m_shownKey;
    std::string m_shownMember;
    bool m_followingReached = false;
    struct Flow {
        bool active = false;
        std::string member;
        bool forward = true;
        int delta = 0;
    } m_flow;
    bool m_pointerCursor = false;
    QSize m_docSize;
    int m_layoutWidth = 0;
    bool m_tilesEnabled = true;
    std::weak_ptr<litehtml::document> m_homePage;
    std::atomic<bool> m_loadingHomePage{false};
};

} // namespace tf
