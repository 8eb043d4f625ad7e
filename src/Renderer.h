#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <litehtml.h>

#include "engine-additions/AudioPlayerPainter.h"
#include "utility/String.h"
#include "utility/URI.h"

namespace tf {

class PageBuild;

// The root of the view chain (Renderer <- BookWidget <- the window's view):
// turns an internal address into a laid-out engine document. It draws nothing;
// the drawing and measuring callbacks of the container stay for the view.
//
// Each build of a page has its own container (PageBuild), which keeps what
// belongs to that page and hands drawing and measuring on to the view; the
// document owns it. Nothing of a build waits in the view or in its thread.
//
// Threads: loads (load_uri, load_string) run on a loader thread while the
// window thread paints and handles input. A new document is built and laid
// out completely before it is shown; the swap is one step under the document
// lock, which painting (draw_document) and every reader of m_html take too.
// Lock order: the document lock before the renderer's own state lock.
class Renderer : public litehtml::document_container, public AudioPlayerPainter {
public:
    Renderer();
    virtual ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // The additions to the engine ("audio", "img"/"image"); views keep this one.
    std::shared_ptr<litehtml::element> create_element(const litehtml::tchar_t* tag_name,
                                                      const litehtml::string_map& attributes,
                                                      const std::shared_ptr<litehtml::document>& doc) override;

    // `path` resolved against the document root, joined with `base`.
    virtual String make_path(const String& path, const String& base);
    // Fills `out` with the content behind `address`; returns the document root
    // for it, "" when nothing can be delivered. Base version: a local file.
    virtual String uri_content(const String& address, std::string& out);
    // Shows the content behind an address, or scrolls to an element of the
    // current document when only the fragment differs. After a full load of an
    // address with a fragment, scrolls to that element too. Returns whether
    // this very load opened a book file (the loader's answer; the window may
    // clear the book flag at any time).
    virtual bool load_uri(const String& address);
    // The same; with `firstScreenFirst`, a long page new to the view is shown
    // in two steps when the view asks for it (first_screen_height): its top
    // at once from a prefix of its markup, then the whole page in its place.
    // Reloads of the address shown and positions the prefix does not reach
    // (a fragment below it) are always built whole.
    bool load_uri(const String& address, bool firstScreenFirst);
    // Builds and lays out a document from UTF-8 HTML with the given root ("" keeps
    // the current root) and shows it. Empty text changes nothing.
    virtual void load_string(const std::string& html, const String& root);
    // Only the first `px` pixels of the pages loaded from now on will be
    // looked at (a page rendered once to a picture): a long page is laid out
    // from a prefix of its markup that reaches well below them, when cutting
    // it there changes nothing above. 0 (the default) lays out whole pages.
    void set_preview_height(int px) { m_previewHeight = px > 0 ? px : 0; }
    // A style sheet applied after the book's own to every page built from now
    // on (the reader's theme and layout); "" for none. Any thread.
    void set_user_style(const std::string& css);
    std::string user_style() const;
    // Scroll request to a document height; may come from the loader thread.
    virtual void move2id(int y);
    // Lays the shown document out again at `width` (after a zoom-free resize).
    virtual void render(int width);
    // Progress report (30, 40 while building, 80 after layout); any thread.
    virtual void on_progress(int percent);
    // Width available for layout; called on the loader thread.
    virtual int client_width() = 0;
    // The current document root.
    virtual String document_root() const;
    virtual void close();

    // Loader-thread requests to the widget; the window's view queues them to
    // its own thread. The laid-out size of the document just shown or re-laid out:
    virtual void on_document_size(int width, int height);
    // The shown document changed: repaint.
    virtual void on_redraw();

    // `ref` from the shown document resolved against its root by
    // URI::resolve. Image cache keys come from here (a page being built
    // resolves its own: PageBuild).
    String resolve(const String& ref);

    // The engine's style sheet requests of a page being built (<link> and
    // @import reach import_css, other links link): the view fetches them with
    // the page's own state. By default the plain container calls.
    virtual void import_page_css(PageBuild& page, litehtml::tstring& text, const litehtml::tstring& url,
                                 litehtml::tstring& baseurl);
    virtual void link_page_css(PageBuild& page, const std::shared_ptr<litehtml::document>& doc,
                               const litehtml::element::ptr& el);

    // Paints the shown document; false when there is none.
    bool draw_document(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip);
    // The origin of the paint in progress (drawn box = document box + origin).
    litehtml::position draw_origin() const;

    // Hold this while using m_html (mouse calls, searches); recursive.
    std::unique_lock<std::recursive_mutex> lockDocument() const;
    // The shown document, or null; take lockDocument() before using it.
    litehtml::document::ptr document() const;
    bool has_document() const;

    // Elements whose "id" equals `id` in the shown document: the document height of the first, or -1.
    int find_anchor(const std::string& id) const;

    // The shown document is the top of its page only: the whole page follows
    // (or a newer load replaces it). Marks made on it would go with it.
    bool is_partial() const;

    // ---- a long chapter laid out a window of pieces at a time ----
    // A long chapter new to an interactive view (window_threshold) is cut into
    // pieces (ChapterPieces) and a few of them around the reader's place are
    // laid out as its page, with empty space standing in for the others, so
    // that the page is as tall as the chapter (estimated where not laid out
    // yet, ChapterStrip) and memory does not grow with the chapter. The view
    // asks for the window around another place as the reader nears an edge.
    struct WindowSpan {
        int top = 0;          // page y where the laid-out pieces start
        int bottom = 0;       // and end
        bool above = false;   // pieces of the chapter lie above (below) them
        bool below = false;
        long textStart = 0;   // offset of the window's text in the chapter's (EntryText), about
        long textEnd = 0;
        bool placed = true;   // shown for a place asked for (a load, a text offset, an id), not for the view's scroll
    };
    // Whether the page shown is such a window; `span` what it holds.
    bool window_span(WindowSpan& span) const;
    // Loader thread: shows the window of the chapter on screen around page y
    // `y` (or around text offset `offset`, or the element with id `id`) unless
    // the one shown holds it; true when it showed another one.
    bool move_window(int y);
    bool move_window_to_text(long offset);
    bool move_window_to_id(const std::string& id);
    // The next long chapter loaded is shown first around this text offset (a
    // saved place); -1 for its top. Any thread; taken by the next page load.
    void want_text_offset(long offset) { m_wantedOffset = offset; }

    // ---- reading that flows on past a chapter's end ----
    // Loader thread: the top of the book page at `address` (an "epub" or "fb2"
    // entry), built as a page of its own at the layout width but not shown:
    // the view paints it below the end of the page shown, so that reading
    // goes on into it without a break. A long page gives a prefix that lays
    // out at least `height` px; one that cannot be cut is built only when it
    // is small. Null when it cannot be built.
    litehtml::document::ptr build_follower(const String& address, int height);

    // The address shown ("" before the first load through load_uri).
    String current_address() const;
    // A copy of the address shown; false (out untouched) before the first load.
    bool current_uri(URI& out) const;

    // The built-in style sheet, or the whole of a non-empty "./master.css".
    static std::string default_style_sheet();

protected:
    // Called with the document lock held whenever the shown document is
    // replaced or laid out again: boxes taken from it are stale now.
    virtual void on_document_changed() {}
    // Height of the screen a long page is shown on at first, before the rest
    // of it is laid out; 0 (the default) builds every page whole in one step.
    virtual int first_screen_height() const { return 0; }
    // Between the two steps of a page: a newer request waits, so the rest of
    // this one would be shown only to be replaced.
    virtual bool load_superseded() const { return false; }
    // Markup size from which a page new to the view is laid out a window of
    // pieces at a time; 0 (the default) lays out every page whole.
    virtual size_t window_threshold() const { return 0; }
    // The window just shown has the text the reader looks at `dy` px lower on
    // the page than the one before had it (estimates above it changed): the
    // view scrolls along when it takes the new page's size (on_document_size
    // follows). Called with the document lock held, after on_document_changed.
    virtual void on_window_shift(int /*dy*/) {}
    // Destroys the shown document. The most derived view calls it in its
    // destructor: the engine frees its fonts through the view's delete_font.
    void release_document();

    // The page load_uri asks for: the content behind `address` (uri_content
    // by default), which may open a book file (then `openedBook` is set).
    // uri_content serves what pages name: style sheets, pictures, fonts.
    virtual String page_content(const String& address, std::string& out, bool& openedBook);
    // Whether the markup of a page being built is well-formed XML (its tags
    // nest as written), so a prefix of it lays out like its top. Asked once
    // per build; false (the default) builds every page whole.
    virtual bool is_well_formed(const std::string& html) const;

    litehtml::document::ptr m_html;
    litehtml::context m_context;
    std::vector<litehtml::position> m_clips;

private:
    // Builds a page from `html` on this thread and shows it; `address` (may
    // be null) is shown with it, and is moved out once the page is shown.
    void load_string(const std::string& html, const String& root, std::unique_ptr<URI>& address,
                    bool firstScreenFirst);
    struct Windowed;
    // Makes `doc` the shown document, laid out at `width` x `height`, with `address` if any;
    // `windowed` (may be null) when it is a window of that long chapter.
    void publish(litehtml::document::ptr doc, const String& root, int width, int height, bool partial,
                 std::unique_ptr<URI>& address, std::shared_ptr<Windowed> window = nullptr, int shift = 0,
                 bool placed = true);
    // One build of a page from markup (guards, sheets, the reader's style); null when it fails.
    litehtml::document::ptr build_page(const std::string& text, const String& root, const std::string& userCss);
    // A prefix of a long well-formed page, cut after a block, laid out at the layout width and
    // reaching at least `wanted` px; null when there is none. `end` receives its length.
    litehtml::document::ptr build_prefix(const std::string& html, const String& root, const std::string& userCss,
                                         int wanted, size_t& end);
    // Lays out and shows the window of `w` around `piece`; `force` even when it is the one shown.
    // False when it was shown already, or cannot be built (its sheets look ahead).
    // `placed`: for a place asked for, not for where the view is scrolled (WindowSpan::placed).
    bool show_window(const std::shared_ptr<Windowed>& w, size_t piece, bool force, std::unique_ptr<URI>& address,
                     bool placed = true);
    std::shared_ptr<Windowed> windowed() const;
    // m_span's top and bottom from the marks of the window `doc` (m_spanPieces); under m_stateMutex.
    void placeSpan(const litehtml::document::ptr& doc, int height);

    mutable std::recursive_mutex m_docMutex;
    mutable std::mutex m_stateMutex;
    String mDocRoot;
    std::unique_ptr<URI> mUri;
    litehtml::position m_drawOrigin;
    std::atomic<int> m_previewHeight{0};
    std::string m_userStyle; // under m_stateMutex
    bool m_partial = false;  // under m_stateMutex: the shown document is the top of its page only
    std::shared_ptr<Windowed> m_windowed; // under m_stateMutex: the long chapter shown, if windowed
    WindowSpan m_span;                    // under m_stateMutex
    std::pair<size_t, size_t> m_spanPieces; // under m_stateMutex: the window's first and last piece
    std::atomic<long> m_wantedOffset{-1};
};

} // namespace tf
