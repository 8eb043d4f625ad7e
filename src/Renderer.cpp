#include "src/Renderer.h"

#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <limits>
#include <utility>

#include "engine-additions/element_factory.h"
#include "src/ChapterPieces.h"
#include "src/ChapterStrip.h"
#include "src/CssGuard.h"
#include "src/EntryText.h"
#include "src/HtmlGuard.h"
#include "src/PageBuild.h"
#include "src/PagePrefix.h"
#include "src/master_css.h"
#include "utility/File.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

// Markup a preview starts from: a screenful of text with its tags, several times over.
constexpr size_t kPrefixBudget = 16 * 1024;
// A long chapter's pieces: a few screens of text each (an eighth of the
// size from which chapters are windowed, at most), laid out five at a time.
constexpr size_t kPieceBytes = 24 * 1024;
constexpr size_t kWindowPieces = 5;
// A page following the shown one that cannot be cut is built whole up to this size only.
constexpr size_t kFollowerWhole = 256 * 1024;

} // namespace

// A long chapter shown a window at a time. Its pieces, their text offsets and
// address do not change; the strip and the window shown are the loader's.
struct Renderer::Windowed {
    ChapterPieces pieces;
    std::vector<long> textStarts; // per piece, and the end
    String root;
    std::string member; // the chapter's address without its fragment
    ChapterStrip strip;
    int width = 0;
    size_t first = 0, last = 0;
    bool shown = false;
    std::vector<std::pair<size_t, int>> tops; // of the window shown (ChapterPieces::tops)

    // Where each piece's text starts in the chapter's, counted piece by piece
    // (a block boundary between two pieces may count one character less).
    void countText() {
        if (!textStarts.empty())
            return;
        long text = 0;
        for (size_t i = 0; i < pieces.size(); ++i) {
            textStarts.push_back(text);
            text += static_cast<long>(EntryText::extract(pieces.window(i, i)).size());
        }
        textStarts.push_back(text);
    }

    // What a piece's height is estimated from: its text, not its markup
    // (MathML or SVG may be most of a chapter's bytes), and its markup a
    // little (pictures, tables and empty blocks take room too).
    std::vector<size_t> weights() const {
        std::vector<size_t> out;
        const std::string& html = pieces.html();
        for (size_t i = 0; i < pieces.size(); ++i) {
            const ChapterPieces::Piece& p = pieces.piece(i);
            out.push_back(PagePrefix::textSize(html, p.begin, p.end) + (p.end - p.begin) / 16);
        }
        return out;
    }

    size_t pieceOfText(long offset) {
        countText();
        const auto it = std::upper_bound(textStarts.begin(), textStarts.end(), offset);
        const size_t k = it == textStarts.begin() ? 0 : static_cast<size_t>(it - textStarts.begin()) - 1;
        return std::min(k, pieces.size() - 1);
    }
};

Renderer::Renderer() : mDocRoot("./") {
    m_context.load_master_stylesheet(default_style_sheet().c_str());
}

Renderer::~Renderer() {
    TF_LOG(LOG_INFO, "");
    if (m_html) {
        // The engine frees its fonts through the view, whose parts are gone
        // already (and its fonts with them): the page lets the view go first.
        TF_LOG(LOG_ERROR, "document still held: the view must call release_document() in its destructor");
        if (auto* page = dynamic_cast<PageBuild*>(m_html->container()))
            page->detach();
        else
            new litehtml::document::ptr(std::move(m_html)); // not ours: freeing it would call into a dead view
        m_html.reset();
    }
}

std::string Renderer::default_style_sheet() {
    std::string css;
    file_get_contents("./master.css", css);
    if (css.empty())
        return kMasterCss;
    // A sheet from disk is read by the engine's parser like a book's.
    return CssGuard::settle(css);
}

std::shared_ptr<litehtml::element> Renderer::create_element(const litehtml::tchar_t* tag_name,
                                                            const litehtml::string_map& /*attributes*/,
                                                            const std::shared_ptr<litehtml::document>& doc) {
    return create_added_element(tag_name, doc);
}

String Renderer::make_path(const String& path, const String& base) {
    String root = document_root();
    if (root.empty())
        return path;
    if (path.size() >= 5 && path.compare(0, 5, L"data:") == 0)
        return path;
    return URI::realpath(path, root, base);
}

String Renderer::resolve(const String& ref) {
    const String root = document_root();
    return root.empty() ? ref : URI::resolve(ref, root);
}

String Renderer::uri_content(const String& address, std::string& out) {
    URI uri(address);
    file_get_contents(uri.m_path.str(), out);
    return uri.parent(File::separator);
}

bool Renderer::is_well_formed(const std::string& /*html*/) const {
    return false;
}

String Renderer::page_content(const String& address, std::string& out, bool& /*openedBook*/) {
    return uri_content(address, out);
}

void Renderer::import_page_css(PageBuild& /*page*/, litehtml::tstring& text, const litehtml::tstring& url,
                               litehtml::tstring& baseurl) {
    import_css(text, url, baseurl);
}

void Renderer::link_page_css(PageBuild& /*page*/, const std::shared_ptr<litehtml::document>& doc,
                             const litehtml::element::ptr& el) {
    link(doc, el);
}

int Renderer::find_anchor(const std::string& id) const {
    if (id.empty())
        return -1;
    auto lock = lockDocument();
    if (!m_html || !m_html->root())
        return -1;
    // A walk rather than a "#id" selector: ids with dots, colons or brackets
    // are common in books and mean something else in a selector.
    std::vector<litehtml::element::ptr> stack{m_html->root()};
    while (!stack.empty()) {
        auto el = std::move(stack.back());
        stack.pop_back();
        const char* value = el->get_attr("id");
        if (value && id == value)
            return el->get_placement().y;
        for (size_t i = el->get_children_count(); i-- > 0;)
            if (auto child = el->get_child(static_cast<int>(i)))
                stack.push_back(std::move(child));
    }
    return -1;
}

bool Renderer::load_uri(const String& address) {
    return load_uri(address, true);
}

bool Renderer::load_uri(const String& address, bool firstScreenFirst) {
    auto uri = std::make_unique<URI>(address);
    const std::string fragment = uri->m_hash.str();

    bool samePage = false, partial = false;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        // The same entry however its name is spelled ("a%20b" or "a b").
        samePage = mUri && mUri->member() == uri->member();
        partial = m_partial;
    }
    // Only the top of the page is laid out (the rest was not built, a newer
    // request came first): the fragment may lie below it, so build it whole.
    if (samePage && !fragment.empty() && !partial) {
        int y = find_anchor(fragment);
        // In a piece of a long chapter that is not laid out now.
        if (y < 0 && move_window_to_id(fragment))
            y = find_anchor(fragment);
        if (y >= 0)
            move2id(y);
        return false;
    }

    bool openedBook = false;
    std::string content;
    String root = page_content(uri->m_uri, content, openedBook);
    if (root.empty())
        return openedBook;

    if (content.empty()) {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        mUri = std::move(uri);
        return openedBook;
    }

    load_string(content, root, uri, firstScreenFirst && !samePage);
    if (uri) {
        // A page that was not shown still moves the view on to the address.
        std::lock_guard<std::mutex> lock(m_stateMutex);
        mUri = std::move(uri);
    }
    if (!fragment.empty()) {
        int y = find_anchor(fragment);
        if (y >= 0)
            move2id(y);
    }
    return openedBook;
}

void Renderer::load_string(const std::string& html, const String& root) {
    std::unique_ptr<URI> noAddress;
    load_string(html, root, noAddress, false);
}

void Renderer::load_string(const std::string& html, const String& givenRoot, std::unique_ptr<URI>& address,
                          bool firstScreenFirst) {
    // Only markup whose tags nest as written may be cut for a preview: tag
    // soup may be rebuilt by the parser from what follows.
    const bool wellFormed = is_well_formed(html);
    TF_LOG(LOG_INFO, "str=" << html.size() << ", mDocRoot=" << givenRoot.str());
    if (html.empty())
        return;

    // References in the page resolve against its own root, not against the
    // one of the page still shown.
    const String root = givenRoot.empty() ? document_root() : givenRoot;

    on_progress(30);
    const std::string userCss = user_style();
    auto build = [this, &userCss, &root](const std::string& text) { return build_page(text, root, userCss); };
    litehtml::document::ptr doc;
    const int preview = m_previewHeight.load();

    // A long chapter: a window of its pieces around the place asked for. Its
    // top needs no cutting first: that waits until its first screen is shown.
    const long wantedOffset = address ? m_wantedOffset.exchange(-1) : -1;
    const size_t threshold = preview > 0 || !address ? 0 : window_threshold();
    // (A chapter whose style looks ahead is one piece: cut() gives none.)
    const bool longChapter = threshold > 0 && wellFormed && html.size() >= threshold;
    const std::string fragment = address ? address->m_hash.str() : std::string();
    const std::string member = address ? address->member().str() : std::string();
    const std::shared_ptr<Windowed> before = windowed();
    const bool again = before && before->member == member && before->shown;
    auto cut = [&]() -> std::shared_ptr<Windowed> {
        auto w = std::make_shared<Windowed>();
        w->pieces = ChapterPieces(std::make_shared<const std::string>(html), std::min(kPieceBytes, threshold / 8));
        if (w->pieces.size() <= kWindowPieces)
            return nullptr;
        w->strip = ChapterStrip(w->weights());
        w->root = root;
        w->member = member;
        TF_LOG(LOG_INFO, "a long chapter in " << w->pieces.size() << " pieces");
        return w;
    };
    std::shared_ptr<Windowed> chapter;
    size_t centre = 0;
    if (longChapter && (!fragment.empty() || wantedOffset >= 0 || again)) {
        chapter = cut();
        if (chapter && !fragment.empty() && chapter->pieces.pieceOfId(fragment) < chapter->pieces.size())
            centre = chapter->pieces.pieceOfId(fragment);
        else if (chapter && wantedOffset >= 0)
            centre = chapter->pieceOfText(wantedOffset);
        else if (chapter && again)
            centre = (before->first + before->last) / 2; // the same chapter again: where the reader is
    }
    if (chapter && centre > 1) {
        if (show_window(chapter, centre, true, address)) {
            on_progress(80);
            return;
        }
        chapter.reset();
    }

    // A page new to an interactive view: its first screen now, the rest after.
    const int screen = preview > 0 || !firstScreenFirst ? 0 : first_screen_height();
    // A picture keeps a margin of a whole page below what it shows; a screen
    // that is replaced by the whole page a moment later needs less.
    const int wanted = preview > 0 ? 2 * preview : screen + screen / 4;
    litehtml::document::ptr prefix;
    size_t prefixEnd = 0;
    if (wanted > 0 && wellFormed)
        prefix = build_prefix(html, root, userCss, wanted, prefixEnd);
    // A place asked for below the prefix would be shown only after a jump.
    if (prefix && screen > 0 && address && !address->m_hash.empty() &&
        !PagePrefix::holdsId(html, address->m_hash.str(), prefixEnd))
        prefix.reset();
    if (prefix && preview > 0) {
        doc = prefix;
        on_progress(40);
    } else if (prefix) {
        // The scroll range reaches the estimated end of the page at once, so the
        // reader's place does not move when the rest arrives. Text, not
        // markup, fills lines: MathML or SVG may be most of a page's bytes.
        const double shown = static_cast<double>(std::max<size_t>(1, PagePrefix::textSize(html, prefixEnd)));
        const double whole = static_cast<double>(PagePrefix::textSize(html, html.size()));
        const double scaled = std::min(prefix->height() * whole / shown, 1e8); // a page of text, not of tags
        const int estimate = std::max(prefix->height(), static_cast<int>(scaled));
        TF_LOG(LOG_INFO, "first screen from " << prefixEnd << " of " << html.size() << " bytes");
        const std::string fragment = address ? address->m_hash.str() : std::string();
        publish(prefix, root, prefix->width(), estimate, true, address);
        prefix.reset();
        if (!fragment.empty()) {
            const int y = find_anchor(fragment);
            if (y >= 0)
                move2id(y);
        }
        if (load_superseded()) {
            on_progress(80);
            return;
        }
    }
    if (!doc && longChapter && !chapter)
        chapter = cut();
    if (!doc && chapter && show_window(chapter, centre, true, address)) {
        on_progress(80);
        return;
    }
    if (!doc) {
        doc = build(html);
        on_progress(40);
        if (doc)
            doc->render(client_width());
    }
    int width = 0, height = 0;
    if (doc) {
        width = doc->width();
        height = doc->height();
    }
    on_progress(80);
    if (!doc)
        return;
    publish(std::move(doc), root, width, height, false, address);
}

litehtml::document::ptr Renderer::build_follower(const String& address, int height) {
    const URI uri(address);
    if (!uri.is("epub") && !uri.is("fb2"))
        return litehtml::document::ptr();
    bool openedBook = false;
    std::string html;
    const String root = page_content(uri.m_uri, html, openedBook);
    if (root.empty() || html.empty() || openedBook)
        return litehtml::document::ptr();
    const std::string css = user_style();
    size_t end = 0;
    litehtml::document::ptr doc;
    if (is_well_formed(html))
        doc = build_prefix(html, root, css, std::max(1, height), end);
    if (!doc) {
        if (html.size() > kFollowerWhole) {
            TF_LOG(LOG_INFO, "the page that follows cannot be cut (" << html.size() << " bytes): not shown ahead");
            return doc;
        }
        doc = build_page(html, root, css);
        if (doc)
            doc->render(client_width());
    }
    return doc;
}

litehtml::document::ptr Renderer::build_prefix(const std::string& html, const String& root,
                                               const std::string& userCss, int wanted, size_t& prefixEnd) {
    litehtml::document::ptr prefix;
    prefixEnd = 0;
    if (html.size() < 2 * kPrefixBudget || PagePrefix::looksAhead(html))
        return prefix;
    // The top of a long page from a prefix that lays out at least the
    // height wanted; a longer one when it falls short.
    size_t budget = kPrefixBudget;
    while (!prefix && 2 * budget <= html.size()) {
        const size_t end = PagePrefix::cut(html, budget);
        if (end >= html.size())
            break;
        litehtml::document::ptr built = build_page(html.substr(0, end), root, userCss);
        if (!built || !static_cast<PageBuild*>(built->container())->sheetsSound())
            break;
        built->render(client_width());
        TF_LOG(LOG_DEBUG, "prefix of " << end << " bytes: " << built->height() << " px");
        if (built->height() >= wanted) {
            prefix = built;
            prefixEnd = end;
            break;
        }
        // Short of it: the next try reaches the height by this one's bytes per pixel, with a margin.
        const double need = 1.25 * wanted * static_cast<double>(end) / std::max(1, built->height());
        budget = std::max(2 * budget, std::min(4 * budget, static_cast<size_t>(need)));
    }
    return prefix;
}

litehtml::document::ptr Renderer::build_page(const std::string& text, const String& root, const std::string& userCss) {
    // A page nested or broken beyond what the parser and the engine build in
    // bounded time and memory is built from a bounded copy.
    std::string bounded;
    HtmlGuard::Measure page;
    const bool rewritten = HtmlGuard::bound(text, bounded, &page);
    if (rewritten)
        TF_LOG(LOG_WARN, "page beyond the engine's limits (size, nesting, errors or style; "
                             << text.size() << " bytes); showing a bounded copy");
    // Style sheets the page links share one budget with its own.
    auto container = std::make_unique<PageBuild>(*this, root, page.elements, page.elements * page.styleCost);
    // The reader's sheet is ours and small; it has no at-rules, so it needs no document.
    litehtml::css user;
    if (!userCss.empty()) {
        user.parse_stylesheet(userCss.c_str(), "", litehtml::document::ptr(), litehtml::media_query_list::ptr());
        user.sort_selectors();
    }
    // The style sheet guard settles what the engine is known to throw on;
    // whatever else it throws on costs this page, not the program.
    try {
        return PageBuild::build(std::move(container), rewritten ? bounded : text, &m_context,
                                userCss.empty() ? nullptr : &user);
    } catch (const std::exception& e) {
        TF_LOG(LOG_ERROR, "page could not be built: " << e.what());
        return litehtml::document::ptr();
    }
}

void Renderer::publish(litehtml::document::ptr doc, const String& root, int width, int height, bool partial,
                       std::unique_ptr<URI>& address, std::shared_ptr<Windowed> window, int shift,
                       bool placed) {
    const bool isWindow = window != nullptr;
    litehtml::document::ptr old;
    {
        auto docLock = lockDocument();
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            if (!root.empty())
                mDocRoot = root;
            if (address)
                mUri = std::move(address);
            m_partial = partial;
            m_windowed = std::move(window);
            m_span = WindowSpan();
            if (m_windowed) {
                const Windowed& w = *m_windowed;
                m_spanPieces = {w.first, w.last};
                m_span.above = w.first > 0;
                m_span.below = w.last + 1 < w.pieces.size();
                m_span.textStart = w.textStarts[w.first];
                m_span.textEnd = w.textStarts[w.last + 1];
                m_span.placed = placed;
                placeSpan(doc, height);
            }
        }
        old = std::move(m_html);
        m_html = std::move(doc);
        on_document_changed();
        if (shift != 0)
            on_window_shift(shift);
    }
    // The old document frees its fonts through the view; no lock needed for that.
    old.reset();
#ifdef __GLIBC__
    // A window of a long chapter replaces another every few screens: what the
    // old one held goes back to the system rather than waiting in the heap.
    if (isWindow)
        malloc_trim(0);
#endif
    on_document_size(width, height);
    on_redraw();
}

void Renderer::set_user_style(const std::string& css) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_userStyle = css;
}

std::string Renderer::user_style() const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_userStyle;
}

void Renderer::render(int width) {
    TF_LOG(LOG_INFO, "max_width=" << width);
    int w = 0, h = 0;
    {
        auto lock = lockDocument();
        if (!m_html)
            return;
        m_html->render(width);
        w = m_html->width();
        h = m_html->height();
        {
            std::lock_guard<std::mutex> state(m_stateMutex);
            // Where the window's pieces lie now; the next window is measured anew at this width.
            if (m_windowed)
                placeSpan(m_html, h);
        }
        on_document_changed();
    }
    on_progress(80);
    on_document_size(w, h);
    on_redraw();
    TF_LOG(LOG_INFO, "** render end **" << w << "x" << h);
}

void Renderer::move2id(int y) {
    TF_LOG(LOG_INFO, "ypos=\"" << y << "\"");
}

void Renderer::on_progress(int /*percent*/) {}

void Renderer::on_document_size(int /*width*/, int /*height*/) {}

void Renderer::on_redraw() {}

String Renderer::document_root() const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return mDocRoot;
}

void Renderer::close() {}

bool Renderer::draw_document(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) {
    auto lock = lockDocument();
    if (!m_html)
        return false;
    m_drawOrigin = litehtml::position(x, y, 0, 0);
    m_html->draw(hdc, x, y, clip);
    return true;
}

litehtml::position Renderer::draw_origin() const {
    auto lock = lockDocument();
    return m_drawOrigin;
}

std::unique_lock<std::recursive_mutex> Renderer::lockDocument() const {
    return std::unique_lock<std::recursive_mutex>(m_docMutex);
}

litehtml::document::ptr Renderer::document() const {
    auto lock = lockDocument();
    return m_html;
}

void Renderer::placeSpan(const litehtml::document::ptr& doc, int height) {
    // The marks of the window's first piece and of its end; the page's top and bottom without them.
    m_span.top = 0;
    m_span.bottom = height;
    for (const auto& top : ChapterPieces::tops(doc)) {
        if (top.first == m_spanPieces.first)
            m_span.top = top.second;
        else if (top.first == m_spanPieces.second + 1)
            m_span.bottom = top.second;
    }
}

std::shared_ptr<Renderer::Windowed> Renderer::windowed() const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_windowed;
}

bool Renderer::window_span(WindowSpan& span) const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (!m_windowed)
        return false;
    span = m_span;
    return true;
}

bool Renderer::show_window(const std::shared_ptr<Windowed>& w, size_t piece, bool force,
                           std::unique_ptr<URI>& address, bool placed) {
    const bool initial = force;
    w->countText();
    const int width = client_width();
    if (width != w->width) {
        // Heights measured at another width say nothing about this one.
        w->strip = ChapterStrip(w->weights());
        w->width = width;
        force = true;
    }
    const auto range = w->strip.windowAround(piece, kWindowPieces);
    if (!force && w->shown && range.first == w->first && range.second == w->last)
        return false;
    const size_t first = range.first, last = range.second;
    const std::string css = user_style();
    if (first > 0 && !w->strip.anyMeasured()) {
        // Nothing measured yet to say how far down the window starts: a first
        // layout of it measures its pieces, the second stands where they say.
        litehtml::document::ptr probe = build_page(w->pieces.window(first, last, true), w->root, css);
        if (!probe || !static_cast<PageBuild*>(probe->container())->sheetsSound())
            return false;
        probe->render(width);
        w->strip.measured(first, last, ChapterPieces::tops(probe), probe->height());
    }
    const int above = first > 0 ? w->strip.top(first) : 0;
    litehtml::document::ptr doc = build_page(w->pieces.window(first, last, true, above), w->root, css);
    if (!doc)
        return false;
    if (!static_cast<PageBuild*>(doc->container())->sheetsSound()) {
        TF_LOG(LOG_INFO, "a style sheet of the chapter looks ahead: laid out whole");
        return false;
    }
    doc->render(width);
    std::vector<std::pair<size_t, int>> before = std::move(w->tops);
    w->tops = ChapterPieces::tops(doc);
    w->strip.measured(first, last, w->tops, doc->height());
    // A piece in both windows, the nearest to the one asked for: how far it
    // moved on the page, so that the view moves along and the reader's text stays put.
    int shift = 0;
    if (!initial && w->shown) {
        size_t best = std::numeric_limits<size_t>::max();
        for (const auto& now : w->tops)
            for (const auto& then : before)
                if (now.first == then.first && now.first >= first && now.first <= last) {
                    const size_t distance = now.first > piece ? now.first - piece : piece - now.first;
                    if (distance < best) {
                        best = distance;
                        shift = now.second - then.second;
                    }
                }
    }
    // A newer page took the chapter's place meanwhile.
    if (!initial && windowed() != w)
        return false;
    w->first = first;
    w->last = last;
    w->shown = true;
    TF_LOG(LOG_DEBUG, "pieces " << first + 1 << "-" << last + 1 << " of " << w->pieces.size() << ": "
                                 << doc->height() << " px");
    // The page reaches the chapter's estimated end: the pieces below take
    // that room on the scroll bar.
    int end = doc->height();
    for (const auto& top : w->tops)
        if (top.first == last + 1)
            end = top.second;
    const long long rest = static_cast<long long>(w->strip.height()) - w->strip.top(last + 1);
    const long long total = std::max<long long>(doc->height(), end + std::max(0LL, rest));
    const int height = static_cast<int>(std::min<long long>(total, 1 << 30));
    const int docWidth = doc->width();
    publish(std::move(doc), w->root, docWidth, height, false, address, w, shift, placed);
    return true;
}

bool Renderer::move_window(int y) {
    const std::shared_ptr<Windowed> w = windowed();
    if (!w)
        return false;
    // Inside the window shown its own marks say which piece it is; outside it the strip's estimate.
    size_t piece = w->strip.pieceAt(y);
    if (w->shown && !w->tops.empty() && y >= 0) {
        size_t inside = w->first;
        bool below = false;
        for (const auto& top : w->tops) {
            if (top.second > y)
                break;
            if (top.first > w->last)
                below = true;
            else
                inside = top.first;
        }
        const int start = w->tops.front().first == w->first ? w->tops.front().second : 0;
        if (y >= start && !below)
            piece = inside;
        else if (y < start && w->first > 0)
            piece = std::min(piece, w->first - 1);
        else if (below)
            piece = std::max(piece, std::min(w->pieces.size() - 1, w->last + 1));
    }
    std::unique_ptr<URI> none;
    return show_window(w, piece, false, none, false);
}

bool Renderer::move_window_to_text(long offset) {
    const std::shared_ptr<Windowed> w = windowed();
    if (!w || offset < 0)
        return false;
    std::unique_ptr<URI> none;
    return show_window(w, w->pieceOfText(offset), false, none);
}

bool Renderer::move_window_to_id(const std::string& id) {
    const std::shared_ptr<Windowed> w = windowed();
    if (!w)
        return false;
    const size_t piece = w->pieces.pieceOfId(id);
    if (piece >= w->pieces.size())
        return false;
    std::unique_ptr<URI> none;
    return show_window(w, piece, false, none);
}

bool Renderer::is_partial() const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_partial;
}

bool Renderer::has_document() const {
    auto lock = lockDocument();
    return m_html != nullptr;
}

void Renderer::release_document() {
    litehtml::document::ptr old;
    {
        auto lock = lockDocument();
        old = std::move(m_html);
        on_document_changed();
    }
}

String Renderer::current_address() const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return mUri ? mUri->m_uri : String();
}

bool Renderer::current_uri(URI& out) const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (!mUri)
        return false;
    out = *mUri;
    return true;
}

} // namespace tf
