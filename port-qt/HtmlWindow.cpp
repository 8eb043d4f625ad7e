#include "HtmlWindow.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QThread>
#include <QMetaMethod>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <tuple>

#include "Connector.h"
#include "DisplayList.h"
#include "EmbeddedFonts.h"
#include "FollowingPage.h"
#include "ImageCache.h"
#include "TextSearch.h"
#include "TileCache.h"
#include "src/DataHelper.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

// Delay before a resized view lays its page out again at the new width.
constexpr int kRelayoutDelayMs = 120;
// The selection follows the pointer this many runs around the anchor run.
constexpr int kSelectionReach = 300;

QRect toRect(const litehtml::position& p) {
    return QRect(p.x, p.y, p.width, p.height);
}

bool startsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::char_traits<char>::length(prefix);
    return text.size() >= n && str2lower(text.substr(0, n)) == prefix;
}

} // namespace

HtmlWindow::HtmlWindow(QWidget* parent)
    : QAbstractScrollArea(parent),
      BookWidget(kDefaultFontSize, "Serif"),
      m_images(new ImageCache),
      m_fonts(new EmbeddedFonts),
      m_tiles(new TileCache),
      m_search(new TextSearch) {
    TF_LOG(LOG_INFO, "this=" << static_cast<void*>(this));
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Base, m_pageColor);
    viewport()->setPalette(pal);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(kLineStep);
    horizontalScrollBar()->setSingleStep(kLineStep);
    m_dpiY = logicalDpiY() > 0 ? logicalDpiY() : 96;

    m_relayoutTimer = new QTimer(this);
    m_relayoutTimer->setSingleShot(true);
    m_relayoutTimer->setInterval(kRelayoutDelayMs);
    connect(m_relayoutTimer, &QTimer::timeout, this, [this]() {
        if (m_fixedWidth.load() > 0 || !has_document())
            return;
        const int width = m_clientWidth.load();
        if (width == m_lastLayoutWidth.load())
            return;
        // Laying a long page out again here would freeze the window for seconds.
        if (!isHomePageShown() && !current_address().empty() &&
            isSignalConnected(QMetaMethod::fromSignal(&HtmlWindow::relayoutRequested))) {
            emit relayoutRequested();
            return;
        }
        render(width);
    });
    updateClientSize();
}

HtmlWindow::~HtmlWindow() {
    TF_LOG(LOG_INFO, "");
    // The engine frees its fonts through this view: the documents go first.
    release_document();
    m_following.reset();
    m_waitingFollowing.reset();
    m_arrivedFollowing.reset();
    m_images->clear();
}

// ---- threads ------------------------------------------------------------------

bool HtmlWindow::onWindowThread() const {
    return QThread::currentThread() == thread();
}

void HtmlWindow::onWindowThread(std::function<void()> fn) {
    if (onWindowThread())
        fn();
    else
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

// ---- the main window's side -------------------------------------------------------

void HtmlWindow::set_frame(Connector* frame) {
    m_frame = frame;
}

void HtmlWindow::setContentProvider(ContentProvider provider) {
    m_contentProvider = std::move(provider);
}

void HtmlWindow::load_home_page(const std::string& html) {
    m_loadingHomePage = true;
    load_string(html, String("./"));
    m_loadingHomePage = false;
}

bool HtmlWindow::isHomePageShown() const {
    auto lock = lockDocument();
    auto home = m_homePage.lock();
    return home && home == m_html;
}

std::string HtmlWindow::callParentService(const std::string& name, URI* data) {
    if (name == "get.content" && m_contentProvider)
        return m_contentProvider(data);
    return std::string();
}

void HtmlWindow::loadUriAsync(const String& address) {
    onWindowThread([this, address]() { emit loadRequested(address); });
}

void HtmlWindow::queueTask(const std::string& name, const String& param) {
    // A saved position belongs to the page loaded after it was queued, not to
    // the page still on screen.
    if (name == "scroll.set")
        m_scrollTaskGeneration = m_docGeneration.load();
    BookWidget::queueTask(name, param);
}

void HtmlWindow::finishTask(const std::string& name, const String& param) {
    if (name == "open.uri") {
        emit loadRequested(param);
        setScrollPosition(0);
    } else if (name == "remove.file") {
        emit removeFileRequested(param.str());
    } else if (name == "remove.file.all") {
        emit removeAllRequested();
    } else if (name == "scroll.set") {
        setScrollPosition(std::atoi(param.str().c_str()));
        viewport()->update();
    } else if (name == "open.external") {
        const std::string url = param.str();
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size()))));
    }
}

void HtmlWindow::runLinkTasks() {
    processTask("open.uri");
    processTask("remove.file");
    processTask("remove.file.all");
    processTask("open.external");
}

void HtmlWindow::on_anchor_click(const litehtml::tchar_t* url, const litehtml::element::ptr& el) {
    const std::string href = url ? url : "";
    TF_LOG(LOG_INFO, "url='" << href << "'");
    if (href.empty())
        return;
    if (isHomePageShown()) {
        // Book paths in the home page are percent-encoded; the library reads its own links.
        std::string path;
        switch (DataHelper::readHomeLink(href, path)) {
        case DataHelper::LINK_OPEN:
            queueTask("open.uri", String(path));
            break;
        case DataHelper::LINK_REMOVE:
            queueTask("remove.file", String(path));
            break;
        case DataHelper::LINK_REMOVE_ALL:
            queueTask("remove.file.all", String());
            break;
        case DataHelper::LINK_NONE:
            break;
        }
        return;
    }
    // Commands belong to the home page; in a book they would let the book
    // remove entries from the user's library.
    if (startsWithNoCase(href, "cmd:")) {
        TF_LOG(LOG_WARN, "command link outside the home page ignored: " << href);
        return;
    }
    if (startsWithNoCase(href, "http:") || startsWithNoCase(href, "https:") || startsWithNoCase(href, "mailto:")) {
        queueTask("open.external", String(href));
        return;
    }
    if (m_linkFilter && m_linkFilter(href, el))
        return;
    if (href[0] == '#') {
        // A note in the same page, or in a FictionBook in the entry that holds it.
        queueTask("open.uri", fragmentAddress(href));
        return;
    }
    queueTask("open.uri", resolve(String(href)));
}

// ---- layout and geometry ----------------------------------------------------------

void HtmlWindow::updateClientSize() {
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    m_clientWidth = std::max(1, contentsRect().width() - extent);
    m_clientHeight = std::max(1, viewport()->height());
}

int HtmlWindow::client_width() {
    const int fixed = m_fixedWidth.load();
    const int width = fixed > 0 ? fixed : m_clientWidth.load();
    // Called by the layout of every load: remember the width it uses.
    m_lastLayoutWidth = width;
    return width;
}

void HtmlWindow::setFixedClientSize(const QSize& size) {
    m_fixedWidth = size.isValid() && size.width() > 0 ? size.width() : 0;
    m_fixedHeight = size.isValid() && size.height() > 0 ? size.height() : 0;
    if (onWindowThread())
        updateScrollBars();
}

void HtmlWindow::render(int width) {
    m_lastLayoutWidth = width;
    Renderer::render(width);
}

void HtmlWindow::scheduleRelayout() {
    if (m_fixedWidth.load() == 0)
        m_relayoutTimer->start();
}

void HtmlWindow::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    TF_LOG(LOG_DEBUG, "****** w=" << event->size().width() << "x" << event->size().height());
    updateClientSize();
    updateScrollBars();
    if (has_document() && m_fixedWidth.load() == 0 && m_clientWidth.load() != m_lastLayoutWidth.load())
        scheduleRelayout();
}

void HtmlWindow::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange) {
        m_dpiY = logicalDpiY() > 0 ? logicalDpiY() : 96;
        updateClientSize();
    }
}

void HtmlWindow::on_document_size(int width, int height) {
    std::vector<std::string> firstPictures;
    {
        // Recorded here, on the thread that laid the page out, so that the
        // window thread only replays.
        auto lock = lockDocument();
        if (m_html && (!m_display || m_display->document != m_html.get()))
            recordDisplayList();
        if (m_display && !onWindowThread())
            firstPictures = picturesIn(QRect(0, 0, std::max(width, 1), 2 * std::max(pageSizeHint(), 1)));
    }
    // The pictures of the first pages are decoded here too; the rest when they are first drawn.
    for (const std::string& key : firstPictures)
        m_images->decode(key);
    const unsigned generation = m_docGeneration.load();
    // The entry and layout of this page, for the page that may follow it.
    URI shown;
    const std::string member = current_uri(shown) ? shown.member().str() : std::string();
    const std::string key = layoutKey(member, m_lastLayoutWidth.load());
    onWindowThread([this, width, height, generation, key, member]() {
        const int oldEnd = m_docSize.height();
        const int before = scrollPosition();
        const bool followed = m_following != nullptr;
        m_shownKey = isHomePageShown() ? std::string() : key;
        if (m_following && m_following->key != m_shownKey)
            m_following.reset();
        if (!m_following && m_waitingFollowing && m_waitingFollowing->key == m_shownKey) {
            m_following = std::move(m_waitingFollowing);
            m_followingReached = false;
        }
        if (followed || m_following)
            m_tilesStale = true;
        // Reading flowed into this page: the view goes on from where it was.
        int flowTo = -1;
        if (m_flow.active && m_flow.member == member) {
            m_flow.active = false;
            flowTo = std::max(0, m_flow.forward ? (followed ? before - oldEnd : 0) : height - m_flow.delta);
        } else if (member != m_shownMember) {
            m_flow.active = false; // another page took its place
        }
        m_shownMember = member;
        m_docSize = QSize(width, height);
        m_sizedGeneration = std::max(m_sizedGeneration, generation);
        // The view's place is the old page's until it is moved along: no window is asked for meanwhile.
        m_windowArriving = true;
        updateScrollBars();
        if (flowTo >= 0) {
            setScrollPosition(flowTo);
        } else if (m_windowShiftGeneration.load() == generation && generation == m_docGeneration.load()) {
            m_windowShiftGeneration = 0;
            setScrollPosition(scrollPosition() + m_windowShift.load());
        }
        m_windowArriving = false;
        checkFollowing();
        // A window shown for a place (a link, a match, a saved place) is scrolled
        // there by whoever asked for it; one that followed the reader is checked again.
        WindowSpan span;
        if (window_span(span) && !span.placed)
            QTimer::singleShot(0, this, [this] { checkWindow(); });
        // Laid out while the view changed its width: lay out again.
        if (m_fixedWidth.load() == 0 && m_lastLayoutWidth.load() != m_clientWidth.load())
            scheduleRelayout();
    });
}

void HtmlWindow::on_redraw() {
    onWindowThread([this]() { viewport()->update(); });
}

void HtmlWindow::on_progress(int percent) {
    onWindowThread([this, percent]() { emit progressChanged(percent); });
}

void HtmlWindow::move2id(int y) {
    TF_LOG(LOG_INFO, "ypos=" << y);
    onWindowThread([this, y]() {
        setScrollPosition(y);
        viewport()->update();
    });
}

void HtmlWindow::on_document_changed() {
    BookWidget::on_document_changed();
    m_display.reset();
    ++m_docGeneration;
    m_tilesStale = true;
    if (m_loadingHomePage && onWindowThread())
        m_homePage = m_html;
}

void HtmlWindow::updateScrollBars() {
    const int pageH = m_fixedHeight.load() > 0 ? m_fixedHeight.load() : viewport()->height();
    const int pageW = m_fixedWidth.load() > 0 ? m_fixedWidth.load() : viewport()->width();
    verticalScrollBar()->setPageStep(std::max(1, pageH));
    const int following = m_following ? m_following->height : 0;
    verticalScrollBar()->setRange(0, std::max(0, m_docSize.height() + following - pageH));
    horizontalScrollBar()->setPageStep(std::max(1, pageW));
    horizontalScrollBar()->setRange(0, std::max(0, m_docSize.width() - pageW));
}

int HtmlWindow::first_screen_height() const {
    // Loads on this thread (pictures, tests) are waited for whole anyway.
    return onWindowThread() || m_fixedHeight.load() > 0 ? 0 : pageSizeHint();
}

bool HtmlWindow::load_superseded() const {
    return m_superseded && m_superseded();
}

int HtmlWindow::pageSizeHint() const {
    const int fixed = m_fixedHeight.load();
    return fixed > 0 ? fixed : m_clientHeight.load();
}

std::vector<std::string> HtmlWindow::picturesIn(const QRect& rect) {
    std::vector<std::string> keys;
    auto lock = lockDocument();
    if (!m_display)
        return keys;
    for (int i : m_display->itemsIn(rect)) {
        const DisplayList::Item& item = m_display->item(i);
        if (item.kind != DisplayList::Background)
            continue;
        const litehtml::background_paint& bg = m_display->background(item);
        if (!bg.image.empty())
            keys.push_back(resolveReference(bg.image.c_str(), bg.baseurl.c_str()).str());
    }
    return keys;
}

QSize HtmlWindow::documentSize() const {
    auto lock = lockDocument();
    if (!m_html)
        return QSize();
    return QSize(m_html->width(), m_html->height());
}

// ---- scrolling ----------------------------------------------------------------------

int HtmlWindow::scrollPosition() const {
    return verticalScrollBar()->value();
}

void HtmlWindow::setScrollPosition(int y) {
    verticalScrollBar()->setValue(std::clamp(y, 0, verticalScrollBar()->maximum()));
}

int HtmlWindow::maxScrollPosition() const {
    return verticalScrollBar()->maximum();
}

int HtmlWindow::pageSize() const {
    return m_fixedHeight.load() > 0 ? m_fixedHeight.load() : viewport()->height();
}

QPoint HtmlWindow::scrollOffset() const {
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

QPoint HtmlWindow::toDocument(const QPoint& viewportPoint) const {
    return viewportPoint + scrollOffset();
}

void HtmlWindow::scrollContentsBy(int dx, int dy) {
    // The pixels on screen move along; only the strip scrolled in is painted.
    viewport()->scroll(dx, dy);
    if (dy != 0) {
        checkWindow();
        checkFollowing();
    }
}

size_t HtmlWindow::window_threshold() const {
    // Chapters from this size are laid out a few pieces at a time in an
    // interactive view; a picture (fixed size) or a load on this thread is whole.
    constexpr size_t kWindowed = 256 * 1024;
    return onWindowThread() || m_fixedHeight.load() > 0 ? 0 : kWindowed;
}

void HtmlWindow::on_window_shift(int dy) {
    // For the page just shown: taken with its size, before anything asks where the reader is.
    m_windowShift = dy;
    m_windowShiftGeneration = m_docGeneration.load();
}

void HtmlWindow::checkWindow() {
    WindowSpan span;
    if (m_windowArriving || !window_span(span))
        return;
    const int y = scrollPosition();
    const int page = std::max(1, pageSize());
    // A screen of room left before an edge with pieces beyond it.
    if ((span.above && y < span.top + page) || (span.below && y + 2 * page > span.bottom))
        emit windowWanted(y + page / 2, -1);
}

void HtmlWindow::wantWindowAtText(long offset) {
    WindowSpan span;
    if (offset >= 0 && window_span(span))
        emit windowWanted(-1, offset);
}

// ---- the following page ------------------------------------------------------------------

std::string HtmlWindow::layoutKey(const std::string& member, int width) const {
    if (member.empty())
        return std::string();
    return member + '\n' + std::to_string(width) + '\n' + std::to_string(get_default_font_size()) + '\n' +
           std::to_string(std::hash<std::string>()(user_style()));
}

void HtmlWindow::buildFollowing(const String& address, const String& follows) {
    // The build measures the layout width as a page load does; the shown page's stays on record.
    const int shownWidth = m_lastLayoutWidth.load();
    const int width = client_width();
    litehtml::document::ptr doc = build_follower(address, 2 * std::max(1, pageSizeHint()));
    int expected = width;
    m_lastLayoutWidth.compare_exchange_strong(expected, shownWidth);
    if (!doc)
        return;
    auto page = std::make_shared<FollowingPage>();
    page->address = address;
    page->key = layoutKey(URI(follows).member().str(), width);
    page->height = doc->height();
    {
        auto lock = lockDocument();
        page->list = recordList(doc, false);
    }
    page->doc = std::move(doc);
    TF_LOG(LOG_DEBUG, "following page " << address.str() << ": " << page->height << " px");
    // Handed over through a slot of the view, not inside the queued call: the
    // page's fonts are freed through the view, so it must not outlive it.
    {
        std::lock_guard<std::mutex> lock(m_arrivedMutex);
        m_arrivedFollowing = std::move(page);
    }
    onWindowThread([this] {
        std::shared_ptr<FollowingPage> arrived;
        {
            std::lock_guard<std::mutex> lock(m_arrivedMutex);
            arrived = std::move(m_arrivedFollowing);
        }
        if (arrived)
            setFollowing(std::move(arrived));
    });
}

void HtmlWindow::setFollowing(std::shared_ptr<FollowingPage> page) {
    if (page->key.empty() || page->key != m_shownKey || isHomePageShown()) {
        // Built ahead for a page still on its way (reading flowed back into it).
        m_waitingFollowing = std::move(page);
        return;
    }
    m_following = std::move(page);
    m_followingReached = false;
    m_tilesStale = true;
    updateScrollBars();
    viewport()->update();
    checkFollowing();
}

void HtmlWindow::checkFollowing() {
    if (!m_following || m_followingReached || m_windowArriving || scrollPosition() < m_docSize.height())
        return;
    m_followingReached = true;
    emit followingReached(m_following->address);
}

String HtmlWindow::followingAddress() const {
    return m_following ? m_following->address : String();
}

int HtmlWindow::followingTop() const {
    return m_following ? m_docSize.height() : -1;
}

int HtmlWindow::pageEndPosition() const {
    return std::min(maxScrollPosition(), std::max(0, m_docSize.height() - pageSize()));
}

void HtmlWindow::expectFlow(const String& address, bool forward, int delta) {
    m_flow.active = true;
    m_flow.member = URI(address).member().str();
    m_flow.forward = forward;
    m_flow.delta = std::max(0, delta);
}

bool HtmlWindow::flowPending() const {
    return m_flow.active;
}

void HtmlWindow::cancelFlow(const String& address) {
    if (address.empty() || URI(address).member().str() == m_flow.member)
        m_flow.active = false;
}

// ---- painting -------------------------------------------------------------------------

QImage HtmlWindow::paintedImage(const QRect& docRect, qreal dpr) {
    QImage image(docRect.size() * dpr, QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(m_pageColor);
    QPainter imagePainter(&image);
    paintDocument(imagePainter, docRect);
    return image;
}

void HtmlWindow::paintDocument(QPainter& painter, const QRect& docRect) {
    auto lock = lockDocument();
    if (!m_html)
        return;
    if (!m_display || m_display->document != m_html.get())
        recordDisplayList();
    replay(painter, *m_display, docRect);
    // The top of the next chapter, right below this one's end.
    const int top = m_docSize.height();
    if (m_following && docRect.bottom() >= top)
        replay(painter, *m_following->list, docRect.translated(0, -top), false);
}

void HtmlWindow::paintEvent(QPaintEvent* event) {
    TF_LOG(LOG_DEBUG, "this=" << static_cast<void*>(this));
    const QRect exposed = event->rect();
    const QPoint offset = scrollOffset();
    const qreal dpr = viewport()->devicePixelRatioF();
    const unsigned generation = m_docGeneration.load();
    const bool firstPaint = generation != m_paintedGeneration && has_document();
    // Reported after this paint, not from inside it: a receiver may change widgets.
    if (firstPaint)
        QMetaObject::invokeMethod(this, [this]() { emit progressChanged(90); }, Qt::QueuedConnection);

    bool painted = false;
    {
        QPainter painter(viewport());
        auto lock = lockDocument();
        if (m_html) {
            if (m_paintedGeneration != m_docGeneration.load() || m_tilesStale.exchange(false)) {
                m_tiles->clear();
                m_paintedGeneration = m_docGeneration.load();
            }
            const QRect area = exposed.translated(offset);
            if (m_tilesEnabled) {
                int c0, c1, r0, r1;
                TileCache::tileSpan(area, c0, c1, r0, r1);
                for (int r = r0; r <= r1; ++r) {
                    for (int c = c0; c <= c1; ++c) {
                        const QRect tileRect = TileCache::tileRect(c, r);
                        const QImage* cached = m_tiles->find(c, r, dpr);
                        if (cached) {
                            painter.drawImage(tileRect.topLeft() - offset, *cached);
                            continue;
                        }
                        const QRect part = tileRect.intersected(area);
                        if (part.height() * 2 < tileRect.height()) {
                            // A strip scrolled in: painting just the strip costs less
                            // than the whole tile; the tile is made when more is asked.
                            painter.drawImage(part.topLeft() - offset, paintedImage(part, dpr));
                            continue;
                        }
                        QImage tile = paintedImage(tileRect, dpr);
                        painter.drawImage(tileRect.topLeft() - offset, tile);
                        m_tiles->insert(c, r, dpr, tile);
                    }
                }
            } else {
                painter.fillRect(exposed, m_pageColor);
                painter.setClipRect(exposed);
                painter.translate(exposed.topLeft());
                paintDocument(painter, area);
            }
            painted = true;
        } else {
            painter.fillRect(exposed, m_pageColor);
        }
    }
    if (!painted)
        return;
    if (firstPaint)
        QMetaObject::invokeMethod(this, [this]() { emit progressChanged(0); }, Qt::QueuedConnection);
    if (takeBookLoaded())
        QMetaObject::invokeMethod(this, [this]() { emit bookLoaded(); }, Qt::QueuedConnection);
    // A restored reading position applies once its page has been painted with
    // its scroll range; the scroll itself waits until this paint is over.
    if (m_sizedGeneration > m_scrollTaskGeneration.load() && pendingTaskCount() > 0)
        QMetaObject::invokeMethod(this, [this]() {
            if (m_sizedGeneration > m_scrollTaskGeneration.load())
                processTask("scroll.set");
        }, Qt::QueuedConnection);
}

QImage HtmlWindow::renderImage(const QRect& documentRect, qreal devicePixelRatio) {
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QImage image(documentRect.size() * dpr, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(dpr);
    image.fill(m_pageColor);
    QPainter painter(&image);
    paintDocument(painter, documentRect);
    return image;
}

std::string HtmlWindow::paintedText(const QRect& documentRect) {
    auto lock = lockDocument();
    if (!m_html || documentRect.isEmpty())
        return std::string();
    if (!m_display || m_display->document != m_html.get())
        recordDisplayList();
    // The runs painted in the rectangle and not hidden by a clip.
    std::set<std::tuple<int, int, int, int>> boxes;
    for (int i : m_display->itemsIn(documentRect)) {
        const DisplayList::Item& item = m_display->item(i);
        const QRect box = toRect(item.pos);
        if (item.kind != DisplayList::Text || !box.intersects(documentRect))
            continue;
        if (item.clip >= 0 && !box.intersects(m_display->visibleArea(item.clip)))
            continue;
        boxes.emplace(box.x(), box.y(), box.width(), box.height());
    }
    text_range_t runs;
    create_range(m_html, runs);
    std::string out, line;
    const litehtml::element* block = nullptr;
    const TextNode* previous = nullptr;
    bool first = true;
    auto endLine = [&]() {
        tf::trim(line);
        if (!line.empty()) {
            out += line;
            out += '\n';
        }
        line.clear();
    };
    for (const auto& run : runs) {
        if (!boxes.count(std::make_tuple(run.pos.x, run.pos.y, run.pos.width, run.pos.height)))
            continue;
        const litehtml::element* b = TextSearch::blockOf(run.element);
        if (!first && b != block)
            endLine();
        else if (previous && TextSearch::startsNewLine(*previous, run) && !line.empty() && line.back() != ' ')
            line += ' '; // a line break between two words
        first = false;
        block = b;
        previous = &run;
        for (char c : run_text(run)) {
            const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
            if (space) {
                if (!line.empty() && line.back() != ' ')
                    line += ' ';
            } else {
                line += c;
            }
        }
    }
    endLine();
    return out;
}

size_t HtmlWindow::imageCacheSize() const {
    return m_images->count();
}

void HtmlWindow::dropTiles() {
    m_tiles->clear();
    viewport()->update();
}

void HtmlWindow::setTileCacheEnabled(bool enabled) {
    m_tilesEnabled = enabled;
    dropTiles();
}

void HtmlWindow::restyled() {
    // Hover or press changed styles: what the engine draws changed in m_redrawBoxes.
    auto lock = lockDocument();
    m_display.reset();
    for (const auto& box : m_redrawBoxes)
        invalidateDocumentRect(toRect(box));
}

void HtmlWindow::invalidateDocumentRect(const QRect& rect) {
    if (rect.isEmpty())
        return;
    if (!onWindowThread()) {
        m_tilesStale = true;
        return;
    }
    const QRect grown = rect.adjusted(-2, -2, 2, 2);
    m_tiles->invalidate(grown);
    viewport()->update(grown.translated(-scrollOffset()));
}

QRect HtmlWindow::runsBox(int first, int last) const {
    auto lock = lockDocument();
    const auto& runs = textRange();
    QRect box;
    if (runs.empty())
        return box;
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(runs.size()) - 1);
    for (int i = first; i <= last; ++i)
        box = box.united(toRect(runs[static_cast<size_t>(i)].pos));
    return box;
}

void HtmlWindow::invalidateRuns(int first, int last) {
    invalidateDocumentRect(runsBox(first, last));
}

QRect HtmlWindow::unmarkAll() {
    auto lock = lockDocument();
    const auto& runs = textRange();
    QRect box;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].marked) {
            box = box.united(toRect(runs[i].pos));
            markRuns(i, i, false);
        }
    }
    return box;
}

// ---- selection -------------------------------------------------------------------------

void HtmlWindow::clearTextRange() {
    QRect marked;
    {
        auto lock = lockDocument();
        marked = unmarkAll();
        BookWidget::clearTextRange();
        m_search->current = TextSearch::Match();
    }
    invalidateDocumentRect(marked);
}

void HtmlWindow::selected_text(String& out) const {
    std::string text;
    {
        auto lock = lockDocument();
        text = TextSearch::markedText(textRange());
    }
    out += String::utf2wide(text.data(), static_cast<int>(text.size()));
}

QString HtmlWindow::selectedText() const {
    std::string text;
    {
        auto lock = lockDocument();
        text = TextSearch::markedText(textRange());
    }
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void HtmlWindow::copySelection() {
    const QString text = selectedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
    clearTextRange();
    viewport()->update();
}

void HtmlWindow::showCopyMenu(const QPoint& globalPos) {
    QMenu menu(this);
    QAction* copy = menu.addAction(tr("Copy"));
    // The menu's bottom edge at the pointer.
    QAction* chosen = menu.exec(globalPos - QPoint(0, menu.sizeHint().height()));
    if (chosen == copy)
        copySelection();
}

void HtmlWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const QPoint doc = toDocument(pos);
    bool showMenu = false;
    {
        auto lock = lockDocument();
        if (!m_html) {
            TF_LOG(LOG_WARN, "m_html is null");
            return;
        }
        m_selStart = m_selEnd = m_anchor = -1;
        if (event->button() == Qt::LeftButton) {
            if (textRangeSize() > 0)
                clearTextRange();
            createTextRange();
            m_anchor = runAt(doc.x(), doc.y());
        } else if (event->button() == Qt::RightButton && textRangeSize() > 0) {
            showMenu = true;
        }
        if (!showMenu) {
            m_pressPoint = pos;
            m_redrawBoxes.clear();
            if (m_html->on_lbutton_down(doc.x(), doc.y(), pos.x(), pos.y(), m_redrawBoxes))
                restyled();
        }
    }
    if (showMenu)
        showCopyMenu(event->globalPosition().toPoint());
    event->accept();
}

void HtmlWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const QPoint doc = toDocument(pos);
    auto lock = lockDocument();
    if (!m_html) {
        TF_LOG(LOG_DEBUG, "m_html=null");
        return;
    }
    if ((event->buttons() & Qt::LeftButton) && m_anchor != -1) {
        const int count = static_cast<int>(textRangeSize());
        const int lo = std::max(0, m_anchor - kSelectionReach);
        const int hi = std::min(count, m_anchor + kSelectionReach);
        const int oldFirst = std::min(m_selStart, m_selEnd), oldLast = std::max(m_selStart, m_selEnd);
        if (hi > lo)
            markRuns(static_cast<size_t>(lo), static_cast<size_t>(hi - 1), false);
        const auto& runs = textRange();
        for (int i = lo; i < hi; ++i) {
            if (runs[static_cast<size_t>(i)].pos.is_point_inside(doc.x(), doc.y())) {
                m_selEnd = i;
                if (m_selStart == -1)
                    m_selStart = i;
            }
        }
        if (count > 0 && m_selStart != -1) {
            const int first = std::min(m_selStart, m_selEnd), last = std::max(m_selStart, m_selEnd);
            markRuns(static_cast<size_t>(first), static_cast<size_t>(last), true);
            QRect changed = runsBox(first, last);
            if (oldFirst >= 0)
                changed = changed.united(runsBox(oldFirst, oldLast));
            invalidateDocumentRect(changed);
            if (pos != m_pressPoint)
                return; // no hover while selecting
        }
    }
    m_redrawBoxes.clear();
    if (m_html->on_mouse_over(doc.x(), doc.y(), pos.x(), pos.y(), m_redrawBoxes))
        restyled();
}

void HtmlWindow::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const QPoint doc = toDocument(pos);
    {
        auto lock = lockDocument();
        if (!m_html) {
            TF_LOG(LOG_DEBUG, "m_html=null");
            return;
        }
        m_redrawBoxes.clear();
        // A selecting drag skips hover: tell the engine where the pointer is
        // now, so that a drag begun on a link and let go elsewhere follows nothing.
        if (m_html->on_mouse_over(doc.x(), doc.y(), pos.x(), pos.y(), m_redrawBoxes))
            restyled();
        m_redrawBoxes.clear();
        // A release over a link makes the engine call on_anchor_click, which only queues a task.
        if (m_html->on_lbutton_up(doc.x(), doc.y(), pos.x(), pos.y(), m_redrawBoxes))
            restyled();
        // A click without movement removes the selection; a drag keeps it for "Copy".
        if (pos == m_pressPoint)
            clearTextRange();
        m_anchor = -1;
    }
    // Unlocked: a task may start a load.
    runLinkTasks();
    event->accept();
}

void HtmlWindow::keyPressEvent(QKeyEvent* event) {
    if (m_frame)
        m_frame->processKey(*event);
    else
        QAbstractScrollArea::keyPressEvent(event);
}

// ---- search -----------------------------------------------------------------------------

void HtmlWindow::clearSearch() {
    QRect marked;
    {
        auto lock = lockDocument();
        marked = unmarkAll();
        m_search->current = TextSearch::Match();
        m_search->currentKeyword.clear();
    }
    invalidateDocumentRect(marked);
}

int HtmlWindow::search_text(const std::string& keyword, unsigned start, bool backward) {
    const std::u32string key = TextSearch::normalize(keyword);
    TextSearch::Match match;
    {
        auto lock = lockDocument();
        invalidateDocumentRect(unmarkAll());
        if (!m_html || key.empty()) {
            m_search->current = TextSearch::Match();
            return -1;
        }
        if (textRangeSize() == 0)
            createTextRange();
        m_search->index(textRange(), m_html.get());
        const bool goOn = start != 0 && m_search->current.valid() && m_search->currentKeyword == key;
        match = goOn ? m_search->next(key, m_search->current, backward)
                     : m_search->find(key, backward ? -1 : 0, backward);
        m_search->current = match;
        m_search->currentKeyword = key;
        if (!match.valid())
            return -1;
        markRuns(static_cast<size_t>(match.firstRun), static_cast<size_t>(match.lastRun), true);
        invalidateRuns(match.firstRun, match.lastRun);
    }
    scrollToRuns(match.firstRun, match.lastRun);
    viewport()->update();
    return match.offset;
}

void HtmlWindow::scrollToRuns(int firstRun, int lastRun) {
    QRect box, reference;
    {
        auto lock = lockDocument();
        const auto& runs = textRange();
        if (firstRun < 0 || static_cast<size_t>(lastRun) >= runs.size())
            return;
        box = runsBox(firstRun, lastRun);
        // The run before the match shows a little of what leads to it.
        reference = toRect(runs[static_cast<size_t>(firstRun > 0 ? firstRun - 1 : firstRun)].pos);
    }
    const int top = scrollPosition();
    const int bottom = top + pageSize();
    if (box.top() < top || box.bottom() >= bottom)
        setScrollPosition(std::min(reference.top(), box.top()));
    const int left = horizontalScrollBar()->value();
    const int right = left + viewport()->width();
    if (box.left() < left || box.right() >= right)
        horizontalScrollBar()->setValue(box.right() < viewport()->width() ? 0 : box.left());
}

// ---- closing -----------------------------------------------------------------------------

void HtmlWindow::close() {
    m_images->clear();
    {
        auto lock = lockReader();
        if (BaseReader* reader = getReader())
            reader->close();
    }
    Renderer::close();
    if (onWindowThread())
        dropTiles();
    else
        m_tilesStale = true;
    // The book's next chapter goes with it.
    onWindowThread([this] {
        m_following.reset();
        m_waitingFollowing.reset();
        m_flow = Flow();
        m_shownMember.clear();
        updateScrollBars();
    });
}

// ---- reading style -----------------------------------------------------------------------

void HtmlWindow::setReadingStyle(const ThemeStyle& style) {
    set_user_style(style.css());
    m_pageColor = QColor::fromRgb(style.colours().page);
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Base, m_pageColor);
    viewport()->setPalette(pal);
    dropTiles();
    viewport()->update();
}

void HtmlWindow::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        const int delta = event->angleDelta().y();
        const bool atEdge = delta < 0 ? scrollPosition() >= maxScrollPosition() : delta > 0 && scrollPosition() <= 0;
        if (!atEdge || isHomePageShown() || !isSignalConnected(QMetaMethod::fromSignal(&HtmlWindow::flowRequested))) {
            m_flowWheel = 0;
            QAbstractScrollArea::wheelEvent(event);
            return;
        }
        // Two notches on at an end of the page, so that the turn that reached it does not flow on as well.
        if ((m_flowWheel < 0) != (delta < 0))
            m_flowWheel = 0;
        m_flowWheel += delta;
        if (std::abs(m_flowWheel) >= 2 * QWheelEvent::DefaultDeltasPerStep) {
            const bool forward = m_flowWheel < 0;
            m_flowWheel = 0;
            emit flowRequested(forward);
        }
        event->accept();
        return;
    }
    // Touch pads send fractions of a notch; they add up to whole steps.
    m_zoomWheel += event->angleDelta().y();
    const int steps = m_zoomWheel / QWheelEvent::DefaultDeltasPerStep;
    m_zoomWheel -= steps * QWheelEvent::DefaultDeltasPerStep;
    if (steps != 0)
        emit zoomRequested(steps);
    event->accept();
}

} // namespace tf
