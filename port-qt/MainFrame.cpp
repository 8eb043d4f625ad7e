#include "MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <cstdlib>
#include <iostream>

#include "AboutDialog.h"
#include "ContentsTree.h"
#include "HitMarker.h"
#include "HtmlWindow.h"
#include "ImageCache.h"
#include "NotePopup.h"
#include "PngWriter.h"
#include "PreferencesDialog.h"
#include "ReadingTracker.h"
#include "RecentBooksMenu.h"
#include "SearchBox.h"
#include "Settings.h"
#include "ThemePalette.h"
#include "WholeBookSearch.h"
#include "src/BookSearch.h"
#include "src/BookTextCache.h"
#include "src/DataHelper.h"
#include "src/TextAnchorMap.h"
#include "utility/File.h"
#include "utility/Image.h"
#include "utility/URI.h"
#include "utility/log.h"

// The resources live in a static library: pull them in explicitly.
static void initOrinelResources() {
    Q_INIT_RESOURCE(orinel);
}

namespace tf {

const char* const MainFrame::kTitle = "Orinel Reader";
const char* const MainFrame::kReady = "Orinel Reader - Ready";
const char* const MainFrame::kDamaged = " (damaged file: shown as far as readable)";

namespace {

constexpr int kThumbnailHeight = 120;

// The picture library decodes no SVG: such covers are drawn by Qt's renderer.
void svgThumbnail(const std::string& svg, int height, const String& path) {
    const std::string bytes = path.str();
    const QString file = QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (QFileInfo::exists(file))
        return;
    const QImage image = ImageCache::svgOnWhite(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())), height,
                                                DataHelper::kMaxThumbnailAspect * height);
    QString why;
    if (image.isNull())
        TF_LOG(LOG_WARN, "The cover picture could not be decoded for " << path.str());
    else if (!PngWriter::write(image, file, &why))
        TF_LOG(LOG_WARN, "Could not write the thumbnail " << path.str() << ": " << why.toStdString());
}

struct CommandInfo {
    int id;
    void (MainFrame::*handler)();
    const char* text;
    const char* themeIcon; // freedesktop icon name, "" for our own picture only
    const char* icon;      // our own picture
};

// The tool bar, in the order of its buttons.
const CommandInfo kToolCommands[] = {
    {MainFrame::CMD_FILE_OPEN, &MainFrame::onFileOpen, "Open", "document-open", ":/icons/open.svg"},
    {MainFrame::CMD_FILE_CLOSE, &MainFrame::onFileClose, "Close", "window-close", ":/icons/close.svg"},
    {MainFrame::CMD_TOGGLE_PANEL, &MainFrame::onTogglePanel, "Table of Contents", "", ":/icons/panel.svg"},
    {MainFrame::CMD_CHAPTER_PREV, &MainFrame::onChapterPrev, "Previous chapter", "go-previous",
     ":/icons/chapter-prev.svg"},
    {MainFrame::CMD_CHAPTER_NEXT, &MainFrame::onChapterNext, "Next chapter", "go-next", ":/icons/chapter-next.svg"},
    {MainFrame::CMD_GO_START, &MainFrame::onGoStart, "Start of the chapter", "go-top", ":/icons/go-start.svg"},
    {MainFrame::CMD_GO_END, &MainFrame::onGoEnd, "End of the chapter", "go-bottom", ":/icons/go-end.svg"},
    {MainFrame::CMD_SEARCH, &MainFrame::onSearch, "Search", "edit-find", ":/icons/search.svg"},
    {MainFrame::CMD_ZOOM_IN, &MainFrame::onZoomIn, "Zoom in", "zoom-in", ":/icons/zoom-in.svg"},
    {MainFrame::CMD_ZOOM_OUT, &MainFrame::onZoomOut, "Zoom out", "zoom-out", ":/icons/zoom-out.svg"},
    {MainFrame::CMD_ZOOM_FULL, &MainFrame::onZoomFull, "Full screen", "view-fullscreen", ":/icons/fullscreen.svg"},
    {MainFrame::CMD_PREFERENCES, &MainFrame::onPreferences, "Preferences", "preferences-system",
     ":/icons/preferences.svg"},
    {MainFrame::CMD_APP_ABOUT, &MainFrame::onAppAbout, "About", "help-about", ":/icons/about.svg"},
};

// Every address whose lookup opens a book file rather than a page of the open one.
bool opensBook(const String& address) {
    URI uri(address);
    if (!uri.is("file"))
        return false;
    switch (uri.rtype()) {
    case URI::RT_EPUB:
    case URI::RT_FB2:
    case URI::RT_HTML:
    case URI::RT_SVG:
        return true;
    default:
        return false;
    }
}

QIcon commandIcon(const CommandInfo& command) {
    QIcon own(command.icon);
    if (command.themeIcon[0] && QIcon::hasThemeIcon(command.themeIcon))
        return QIcon::fromTheme(command.themeIcon, own);
    return own;
}

} // namespace

// ---- construction -----------------------------------------------------------

MainFrame::MainFrame(QWidget* parent) : QMainWindow(parent) {
    initOrinelResources();
    setObjectName("mainFrame");
    setWindowTitle(kTitle);
    setAcceptDrops(true);

    toolSet = new QToolBar("Tools", this);
    toolSet->setObjectName("toolSet");
    toolSet->setMovable(false);
    toolSet->setFloatable(false);
    toolSet->setIconSize(QSize(32, 32));
    toolSet->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolSet->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, toolSet);

    QStatusBar* status = statusBar();
    status->setObjectName("statusBar");
    status->setSizeGripEnabled(true);

    searchBox = new SearchBox(status);
    searchBox->setObjectName("searchBox");
    searchBox->setFocusable(this);
    statusLabel = new QLabel("Orinel Reader", status);
    statusLabel->setObjectName("statusLabel");
    statusLabel->setTextFormat(Qt::PlainText);
    statusLabel->setMinimumWidth(50);
    progressBar = new QProgressBar(status);
    progressBar->setObjectName("progressBar");
    progressBar->setRange(0, 100);
    progressBar->setFixedSize(180, 18);
    progressBar->setTextVisible(false);

    status->addWidget(searchBox);
    status->addWidget(statusLabel, 1);
    status->addPermanentWidget(progressBar);
    // Hidden after being added: the status bar shows what it gets unless told otherwise.
    searchBox->QWidget::setVisible(false);
    progressBar->setVisible(false);
    // As high as with the search box shown, so showing it does not shrink the page.
    status->setMinimumHeight(status->sizeHint().height() +
                             std::max(0, searchBox->sizeHint().height() - statusLabel->sizeHint().height()));
    statusBase = statusLabel->text();

    pendingUri = String("./");

    splitBar = new QSplitter(Qt::Horizontal, this);
    splitBar->setObjectName("splitBar");
    splitBar->setChildrenCollapsible(true);
    contentsTree = new ContentsTree(splitBar);
    view = new HtmlWindow(splitBar);
    view->setObjectName("view");
    view->set_frame(this);
    view->setContentProvider([this](const URI* address) { return getContent(address); });
    splitBar->addWidget(contentsTree);
    splitBar->addWidget(view);
    splitBar->setStretchFactor(0, 0);
    splitBar->setStretchFactor(1, 1);
    setCentralWidget(splitBar);

    createActions();
    // The Open button's drop-down: the library's last books.
    auto* recent = new RecentBooksMenu(
        [this]() -> std::vector<std::pair<std::string, std::string>> {
            if (!library)
                return {};
            return library->recentBooks(RecentBooksMenu::kCount);
        },
        this);
    connect(recent, &RecentBooksMenu::bookChosen, this, &MainFrame::openBook);
    if (auto* open = qobject_cast<QToolButton*>(toolSet->widgetForAction(action(CMD_FILE_OPEN)))) {
        open->setMenu(recent);
        open->setPopupMode(QToolButton::MenuButtonPopup);
    }

    tracker = new ReadingTracker(view, this);
    status->addPermanentWidget(tracker->progressLabel());
    bookSearch = new WholeBookSearch(this, view, tracker);
    connect(bookSearch, &WholeBookSearch::openRequested, this, [this](const String& address) { loadURI(address); });

    // Moving the bar re-lays out the page; a drag sends many moves, one layout follows.
    relayoutTimer = new QTimer(this);
    relayoutTimer->setSingleShot(true);
    relayoutTimer->setInterval(40);
    connect(relayoutTimer, &QTimer::timeout, this, &MainFrame::onResizePanel);
    connect(splitBar, &QSplitter::splitterMoved, relayoutTimer, qOverload<>(&QTimer::start));
    connect(splitBar, &QSplitter::splitterMoved, this, [this] {
        if (splitBar->sizes().value(0) > 0)
            panelWidth = splitBar->sizes().value(0);
    });

    connect(contentsTree, &ContentsTree::lineChosen, this, &MainFrame::onChapterOpen);
    contentsTree->watch(view);
    notePopup = new NotePopup(view);
    view->setLinkFilter([this](const std::string& href, const litehtml::element::ptr& el) {
        return notePopup->offer(href, el);
    });
    // "Go to note" and links inside a note go where a plain link would.
    connect(notePopup, &NotePopup::goTo, this, [this](const String& address) {
        view->queueTask("open.uri", address);
        view->processTask("open.uri");
    });
    connect(searchBox, &SearchBox::Enter, this, &MainFrame::doSearch);

    connect(view, &HtmlWindow::loadRequested, this, [this](const String& address) { loadURI(address); });
    connect(view, &HtmlWindow::relayoutRequested, this, [this] { reloadAtNewSize(); });
    view->setLoadSuperseded([this] { return worker.hasPending(); });
    connect(view, &HtmlWindow::bookLoaded, this, &MainFrame::onFileLoad);
    connect(view, &HtmlWindow::progressChanged, this, &MainFrame::onProgress);
    connect(view, &HtmlWindow::removeFileRequested, this, &MainFrame::onDeleteEntry);
    connect(view, &HtmlWindow::removeAllRequested, this, &MainFrame::onDeleteAll);
    connect(view, &HtmlWindow::flowRequested, this, [this](bool forward) {
        // A wheel turn's worth of the chapter before comes into sight.
        flowOn(forward, QApplication::wheelScrollLines() * HtmlWindow::kLineStep);
    });
    connect(view, &HtmlWindow::followingReached, this, &MainFrame::flowInto);
    connect(view, &HtmlWindow::windowWanted, this, [this](int y, long text) { requestWindow(y, text); });
    connect(view, &HtmlWindow::zoomRequested, this, [this](int steps) {
        // One reload for the whole turn of the wheel.
        bool changed = false;
        for (int i = 0; i < std::abs(steps) && i < 8; ++i)
            changed = (steps > 0 ? view->makeFontBigger() : view->makeFontSmaller()) > 0 || changed;
        if (changed)
            reloadAtNewSize();
    });

    resize(800, 650);
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    setBarPosition(0);
    restoreSettings();
}

MainFrame::~MainFrame() {
    saveSettings();
    worker.stop();
    recorder.stop();
    // They follow the view: gone before it (and after the loads that use them).
    delete bookSearch;
    delete tracker;
}

void MainFrame::createActions() {
    for (const CommandInfo& command : kToolCommands) {
        auto* act = new QAction(commandIcon(command), command.text, this);
        act->setObjectName(QString("cmd%1").arg(command.id));
        act->setData(command.id);
        auto handler = command.handler;
        connect(act, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        toolSet->addAction(act);
        actions[command.id] = act;
    }
    themeChooser = new QComboBox(toolSet);
    themeChooser->setObjectName("themeChooser");
    themeChooser->setToolTip("Theme");
    themeChooser->setFocusPolicy(Qt::NoFocus);
    themeChooser->addItem("Light", ThemeStyle::THEME_LIGHT);
    themeChooser->addItem("Sepia", ThemeStyle::THEME_SEPIA);
    themeChooser->addItem("Dark", ThemeStyle::THEME_DARK);
    toolSet->addWidget(themeChooser);
    connect(themeChooser, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        ThemeStyle style = readingStyle;
        style.theme = static_cast<ThemeStyle::Theme>(themeChooser->itemData(index).toInt());
        setReadingStyle(style);
    });
}

QAction* MainFrame::action(int id) const {
    auto it = actions.find(id);
    return it == actions.end() ? nullptr : it->second;
}

bool MainFrame::onCommand(int id) {
    if (id == CMD_COPY) {
        String text;
        view->selected_text(text);
        view->clearTextRange();
        QGuiApplication::clipboard()->setText(QString::fromStdWString(text));
        return true;
    }
    if (id == CMD_FILE_EXIT) {
        onFileExit();
        return true;
    }
    for (const CommandInfo& command : kToolCommands) {
        if (command.id == id) {
            (this->*command.handler)();
            return true;
        }
    }
    return false;
}

// ---- status, questions --------------------------------------------------------

void MainFrame::onSetStatus(const String& text) {
    statusBase = QString::fromStdWString(text);
    statusLabel->setText(statusBase);
}

QString MainFrame::statusText() const {
    return statusLabel->text();
}

void MainFrame::restoreStatus() {
    statusLabel->setText(statusBase);
}

void MainFrame::setQuestionHandler(Question handler) {
    questionHandler = std::move(handler);
}

void MainFrame::setFileChooser(FileChooser chooser) {
    fileChooser = std::move(chooser);
}

bool MainFrame::ask(const QString& title, const QString& text) {
    if (questionHandler)
        return questionHandler(title, text);
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

// ---- keys ---------------------------------------------------------------------

void MainFrame::keyPressEvent(QKeyEvent* event) {
    processKey(*event);
    if (!event->isAccepted())
        QMainWindow::keyPressEvent(event);
}

void MainFrame::processKey(QKeyEvent& event) {
    const int key = event.key();
    const bool ctrl = event.modifiers() & Qt::ControlModifier;
    event.accept();

    if (key == Qt::Key_F11) {
        if (fullScreen)
            setFullScrOff();
        else
            setFullScrOn();
        return;
    }
    if (key == Qt::Key_Escape) {
        if (searchBox->isVisible()) {
            // Only out of sight: the keyword stays for the next Ctrl+F.
            searchBox->QWidget::setVisible(false);
            restoreStatus();
        } else if (fullScreen) {
            setFullScrOff();
        } else {
            view->setFocus(Qt::OtherFocusReason);
        }
        return;
    }

    const int y = view->scrollPosition();
    const int page = view->pageSize();
    const int maximum = view->maxScrollPosition();
    switch (key) {
    case Qt::Key_Left:
        if (ctrl) {
            onChapterPrev();
        } else {
            view->horizontalScrollBar()->setValue(0);
            view->setScrollPosition(std::max(y - page, 0));
        }
        return;
    case Qt::Key_Right:
        if (ctrl) {
            onChapterNext();
        } else {
            view->horizontalScrollBar()->setValue(0);
            // Up to the chapter's last screen; on into the next one only from there.
            const int end = view->pageEndPosition();
            view->setScrollPosition(std::min(y + page, y < end ? end : maximum));
        }
        return;
    case Qt::Key_Up:
        if (ctrl)
            onZoomIn();
        else if (maximum > 0)
            view->setScrollPosition(y - HtmlWindow::kLineStep);
        return;
    case Qt::Key_Down:
        if (ctrl)
            onZoomOut();
        else if (maximum > 0)
            view->setScrollPosition(y + HtmlWindow::kLineStep);
        return;
    case Qt::Key_PageDown:
        pageStep(true);
        return;
    case Qt::Key_PageUp:
        pageStep(false);
        return;
    case Qt::Key_Space:
        if (ctrl)
            break;
        pageStep(!(event.modifiers() & Qt::ShiftModifier));
        return;
    case Qt::Key_Home:
        view->setScrollPosition(0);
        return;
    case Qt::Key_End:
        view->setScrollPosition(view->pageEndPosition());
        return;
    case Qt::Key_F:
        if (ctrl && (event.modifiers() & Qt::ShiftModifier)) {
            onBookSearch();
            return;
        }
        if (ctrl) {
            onSearch();
            return;
        }
        break;
    case Qt::Key_F3:
        bookSearch->step((event.modifiers() & Qt::ShiftModifier) ? -1 : 1);
        return;
    case Qt::Key_T:
        if (ctrl) {
            onTogglePanel();
            return;
        }
        break;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        if (ctrl) {
            onZoomIn();
            return;
        }
        break;
    case Qt::Key_Minus:
        if (ctrl) {
            onZoomOut();
            return;
        }
        break;
    case Qt::Key_0:
        if (ctrl) {
            onZoomReset();
            return;
        }
        break;
    default:
        break;
    }
    event.ignore();
}

// ---- full screen ------------------------------------------------------------------

void MainFrame::setFullScrOn() {
    if (fullScreen)
        return;
    savedBounds = geometry();
    savedState = windowState();
    showFullScreen();
    fullScreen = true;
}

void MainFrame::setFullScrOff() {
    if (!fullScreen)
        return;
    setWindowState(savedState & ~Qt::WindowFullScreen);
    if (!(savedState & (Qt::WindowMaximized | Qt::WindowMinimized)))
        setGeometry(savedBounds);
    fullScreen = false;
}

// ---- view commands -------------------------------------------------------------------

void MainFrame::onZoomIn() {
    if (view->makeFontBigger() > 0)
        reloadAtNewSize();
}

void MainFrame::onZoomOut() {
    if (view->makeFontSmaller() > 0)
        reloadAtNewSize();
}

void MainFrame::onZoomReset() {
    if (!view->isBookOpen() || view->get_default_font_size() == HtmlWindow::kDefaultFontSize)
        return;
    view->resetFontSize();
    reloadAtNewSize();
}

void MainFrame::reloadAtNewSize() {
    tracker->keepPlace();
    if (!worker.busy()) {
        view->load_refresh();
        return;
    }
    // A chapter still on its way is the page to show at the new size; reloading
    // the page on screen instead would drop it. A book being opened lays out
    // its first page at the size current by then.
    if (!opensBook(pendingUri))
        loadURI(pendingUri);
}

void MainFrame::onZoomFull() {
    if (fullScreen)
        setFullScrOff();
    else
        setFullScrOn();
    // The view lays the page out again at its new width when it is resized.
}

void MainFrame::onChapterNext() {
    stepChapter(true);
}

void MainFrame::onChapterPrev() {
    stepChapter(false);
}

void MainFrame::stepChapter(bool forward, bool atEnd, int flowBack) {
    const bool busy = worker.busy();
    if (!atEnd) {
        view->setScrollPosition(0);
        if (!busy) {
            if (forward)
                view->stepChapterNext();
            else
                view->stepChapterPrev();
            return;
        }
    }
    // Steps pressed faster than pages load count from the chapter asked for
    // last, not from the one still on screen: two presses go two chapters on.
    URI from(busy ? pendingUri : view->current_address());
    if (!from.is("epub") && !from.is("fb2"))
        return; // a book is being opened (or its cover is shown): no chapter to count from
    const std::string entry = view->neighbourEntry(from.member().str(), forward);
    if (entry.empty())
        return;
    LoadRequest request;
    request.address = URI::entryAddress(from.m_protocol, entry);
    request.atEnd = atEnd;
    if (flowBack >= 0) {
        // The chapter left goes on below the end of this one, as it stood.
        request.following = URI::entryAddress(from.m_protocol, from.member().str());
        view->expectFlow(request.address, false, flowBack);
    }
    pendingUri = request.address;
    post(request);
}

void MainFrame::pageStep(bool forward) {
    const int y = view->scrollPosition();
    const int maximum = view->maxScrollPosition();
    // A line of the screen left behind stays in sight.
    const int step = std::max(HtmlWindow::kLineStep, view->pageSize() - HtmlWindow::kLineStep);
    if (forward ? y < maximum : y > 0) {
        view->setScrollPosition(forward ? std::min(y + step, maximum) : std::max(y - step, 0));
        return;
    }
    flowOn(forward, step);
}

void MainFrame::flowOn(bool forward, int delta) {
    if (!view->isBookOpen() || view->isHomePageShown() || view->flowPending())
        return;
    if (!forward) {
        stepChapter(false, true, delta);
        return;
    }
    // The next chapter stands below the page whole and in sight: it becomes the page.
    const String next = view->followingAddress();
    if (!next.empty())
        flowInto(next);
    else
        stepChapter(true);
}

void MainFrame::flowInto(const String& address) {
    if (!view->isBookOpen() || view->isHomePageShown() || view->flowPending())
        return;
    LoadRequest request;
    request.address = address;
    request.flow = true;
    view->expectFlow(address, true, 0);
    pendingUri = address;
    post(request);
}

void MainFrame::buildFollowing(MainFrame* frame) {
    HtmlWindow* view = frame->view;
    URI shown;
    frame->followingOwed = false;
    // A newer job waits: a load gives its page its own, a window job builds this one.
    if (frame->worker.hasPending()) {
        frame->followingOwed = true;
        return;
    }
    if (!view->current_uri(shown) || (!shown.is("epub") && !shown.is("fb2")))
        return;
    const std::string entry = view->neighbourEntry(shown.member().str(), true);
    if (!entry.empty())
        view->buildFollowing(URI::entryAddress(shown.m_protocol, entry), shown.m_uri);
}

void MainFrame::onGoStart() {
    if (!view->isBookOpen())
        return;
    view->horizontalScrollBar()->setValue(0);
    view->setScrollPosition(0);
    view->viewport()->update();
}

void MainFrame::onGoEnd() {
    if (!view->isBookOpen())
        return;
    view->horizontalScrollBar()->setValue(0);
    view->setScrollPosition(view->pageEndPosition());
    view->viewport()->update();
}

int MainFrame::getBarPosition() const {
    const QList<int> sizes = splitBar->sizes();
    if (sizes.size() < 2 || sizes[0] <= 0)
        return 0;
    const int total = sizes[0] + sizes[1];
    if (total <= 0)
        return 0;
    return std::max(1, (sizes[0] * 100 + total / 2) / total);
}

void MainFrame::setBarPosition(int percent) {
    percent = std::clamp(percent, 0, 100);
    int total = splitBar->width();
    if (total <= 0)
        total = 100;
    const int first = total * percent / 100;
    splitBar->setSizes({first, total - first});
}

void MainFrame::onTogglePanel() {
    showPanel(getBarPosition() == 0);
    onResizePanel();
}

void MainFrame::showPanel(bool shown) {
    panelPending = false;
    if (!shown) {
        if (splitBar->sizes().value(0) > 0)
            panelWidth = splitBar->sizes().value(0);
        setBarPosition(0);
        return;
    }
    const int total = splitBar->width();
    // The width it had when last shown, while it leaves the page most of the window.
    if (panelWidth > 0 && total > 0 && panelWidth < total * 3 / 4)
        splitBar->setSizes({panelWidth, total - panelWidth});
    else
        setBarPosition(20);
}

void MainFrame::onResizePanel() {
    relayoutTimer->stop();
    view->render(view->client_width());
    // The next chapter below the page is built again at the new width.
    if (view->isBookOpen() && !worker.busy())
        worker.post([this] { buildFollowing(this); });
}

void MainFrame::onAppAbout() {
    AboutDialog dialog(this);
    dialog.exec();
}

void MainFrame::onFileExit() {
    if (!ask("Warning", "The application is working.\nDo you really want to close it?"))
        return;
    // The open book keeps its place, as when the window is closed.
    waitForLoads();
    saveReadingState();
    QCoreApplication::exit(0);
}

// ---- window events ------------------------------------------------------------------

void MainFrame::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        onActivate();
    QMainWindow::changeEvent(event);
}

void MainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Without a window manager a window may never become active.
    QTimer::singleShot(0, this, &MainFrame::onActivate);
    // The panel's width in pixels needs the window's final width.
    if (panelPending)
        QTimer::singleShot(0, this, [this] {
            if (!panelPending)
                return;
            panelPending = false;
            showPanel(true);
            onResizePanel();
        });
}

void MainFrame::closeEvent(QCloseEvent* event) {
    if (view->isBookOpen()) {
        if (!ask("Warning", "Reader has opened items.\nDo you really want to close it?")) {
            event->ignore();
            return;
        }
        waitForLoads();
        saveReadingState();
    }
    saveSettings();
    event->accept();
}

// ---- reading style and settings --------------------------------------------------------

void MainFrame::restoreSettings() {
    settings = std::make_unique<Settings>();
    panelWidth = settings->panelWidth();
    const QByteArray geometry = settings->windowGeometry();
    if (!geometry.isEmpty() && !restoreGeometry(geometry))
        TF_LOG(LOG_WARN, "the remembered window geometry was not usable");
    const QByteArray state = settings->windowState();
    if (!state.isEmpty())
        restoreState(state);
    panelPending = settings->panelShown();
    const ThemeStyle style = settings->readingStyle();
    readingStyle = style;
    view->setReadingStyle(style);
    setPalette(ThemePalette::make(style.theme, QApplication::palette()));
    themeChooser->setCurrentIndex(themeChooser->findData(style.theme));
}

void MainFrame::saveSettings() {
    if (!settings)
        return;
    // Full screen is not a place to come back to: the window as it was before stays remembered.
    if (!fullScreen)
        settings->setWindow(saveGeometry(), saveState());
    const int width = splitBar->sizes().value(0);
    settings->setPanel(width > 0 || panelPending, width > 0 ? width : panelWidth);
}

void MainFrame::setReadingStyle(const ThemeStyle& style) {
    const bool changed = style != readingStyle;
    readingStyle = style;
    {
        const QSignalBlocker blocker(themeChooser);
        themeChooser->setCurrentIndex(themeChooser->findData(style.theme));
    }
    if (settings)
        settings->setReadingStyle(style);
    if (!changed)
        return;
    TF_LOG(LOG_INFO, "theme " << ThemeStyle::themeName(style.theme) << ", line width "
                              << ThemeStyle::widthName(style.lineWidth));
    view->setReadingStyle(style);
    setPalette(ThemePalette::make(style.theme, QApplication::palette()));
    // The page shown is built again with the new sheet.
    if (view->isHomePageShown())
        onHomePage();
    else if (view->isBookOpen())
        reloadAtNewSize();
    else if (!bookPath.empty() && view->current_address() == bookPath)
        loadURI(bookPath); // a single page file: read again, as nothing else holds its markup
}

void MainFrame::onPreferences() {
    PreferencesDialog dialog(readingStyle, this);
    if (dialog.exec() == QDialog::Accepted)
        setReadingStyle(dialog.style());
}

void MainFrame::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* data = event->mimeData();
    if (data && data->hasUrls() && !data->urls().isEmpty() && data->urls().first().isLocalFile())
        event->acceptProposedAction();
}

void MainFrame::dropEvent(QDropEvent* event) {
    const QMimeData* data = event->mimeData();
    if (!data || !data->hasUrls())
        return;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            openBook(url.toLocalFile());
            return;
        }
    }
}

// ---- book workflow ----------------------------------------------------------------------

String MainFrame::pathToString(const QString& path) {
    return String(QFile::encodeName(path).toStdString());
}

void MainFrame::onActivate() {
    if (activated)
        return;
    activated = true;
    library = std::make_unique<DataHelper>();
    tracker->setLibrary(library.get());
    onSetStatus(String(kReady));
    onHomePage();
}

void MainFrame::onHomePage() {
    view->resetFontSize();
    view->load_home_page(library ? library->getHomePage() : std::string());
}

void MainFrame::onFileOpen() {
    std::cout << "onFileOpen" << std::endl;
    QStringList files;
    if (fileChooser) {
        files = fileChooser();
    } else {
        files = QFileDialog::getOpenFileNames(this, "Open file", QString(),
                                              "Ebook files (*.epub *.fb2 *.fb2.zip *.html *.htm *.xhtml);;All (*)");
    }
    if (files.isEmpty())
        return;
    openBook(files.first());
}

void MainFrame::openBook(const QString& path) {
    if (path.isEmpty())
        return;
    onActivate(); // the library records the book once it has loaded
    clearPanel();
    bookPath = pathToString(QFileInfo(path).absoluteFilePath());
    loadURI(bookPath);
}

void MainFrame::openFromOutside(const QString& path) {
    if (!path.isEmpty() && pathToString(QFileInfo(path).absoluteFilePath()) != openBookFile())
        openBook(path);
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

String MainFrame::openBookFile() {
    return String(view->bookFilename());
}

bool MainFrame::saveReadingState() {
    if (!library || !view->isBookOpen())
        return false;
    const String filename = openBookFile();
    if (filename.empty())
        return false;
    // The designed columns and the text anchor, in one transaction.
    return tracker->saveNow(true);
}

void MainFrame::loadURI(const String& address) {
    if (QThread::currentThread() != thread()) {
        postToWindow([this, address] { loadURI(address); });
        return;
    }
    LoadRequest request;
    request.address = address;
    request.chosen = !bookPath.empty() && address == bookPath;
    if (opensBook(address) && view->isBookOpen()) {
        if (address == openBookFile()) {
            request.refresh = true;
        } else {
            // Another book takes the open one's place: keep the open one's position first.
            saveReadingState();
        }
    }
    pendingUri = address;
    post(request);
}

void MainFrame::requestWindow(int y, long text) {
    // A place in the text (a saved place, a match) goes before where the view stands meanwhile.
    if (text >= 0)
        windowText = text;
    else
        windowY = y;
    TF_LOG(LOG_DEBUG, "the window of the chapter around " << (text >= 0 ? "text offset " : "y ") << (text >= 0 ? text : y));
    if (windowJob.exchange(true))
        return;
    // A load waits (a chapter step, a new size): it must not be dropped for a
    // window of the page it replaces.
    if (worker.hasPending()) {
        windowJob = false;
        return;
    }
    const String address = view->current_address();
    worker.post([this, address] {
        windowJob = false;
        // A page loaded meanwhile has its own window.
        if (view->current_address() != address)
            return;
        const long offset = windowText.exchange(-1);
        if (offset >= 0)
            view->move_window_to_text(offset);
        else
            view->move_window(windowY.load());
        if (followingOwed)
            buildFollowing(this);
    });
}

void MainFrame::post(const LoadRequest& request) {
    // Any other load takes the place of a flow still on its way.
    if (!request.flow && request.following.empty())
        view->cancelFlow();
    worker.post([this, request] { callThread(this, request); });
    // A window job still waiting was replaced by this load: the next scroll asks again.
    windowJob = false;
}

void MainFrame::callThread(MainFrame* frame, const LoadRequest& request) {
    showPage(frame, request);
    // A flow whose page could not be shown is not waited for.
    if ((request.flow || !request.following.empty()) &&
        URI(frame->view->current_address()).member() != URI(request.address).member())
        frame->postToWindow([frame, address = request.address] { frame->view->cancelFlow(address); });
    // The top of the next chapter, to be painted below this one; a page that
    // reading flowed back into has it already.
    if (request.following.empty())
        buildFollowing(frame);
}

void MainFrame::showPage(MainFrame* frame, const LoadRequest& request) {
    HtmlWindow* view = frame->view;
    DataHelper* library = frame->library.get();

    if (request.atEnd) {
        // The chapter it flows back from first, so that the page arrives with it below.
        if (!request.following.empty())
            view->buildFollowing(request.following, request.address);
        // Whole at once, so its end is there to be shown (a long chapter: its
        // last window); the scroll waits for its size.
        view->want_text_offset(std::numeric_limits<long>::max());
        if (request.following.empty())
            view->queueTask("scroll.set", String(std::to_string(std::numeric_limits<int>::max() / 2)));
        view->load_uri(request.address, false);
        return;
    }
    if (request.flow) {
        // Its top is on screen already, painted below the chapter before.
        view->load_uri(request.address, false);
        return;
    }
    if (request.refresh && (view->bookType() == "epub" || view->bookType() == "fb2")) {
        // The cover page of the open book at a new size or zoom: built from
        // the book as it is open. Opening the file anew would announce it as
        // a new book, and the window would start over its contents, its
        // place and a whole-book search under way.
        view->showCoverPage();
        return;
    }

    if (!view->load_uri(request.address)) {
        if (request.chosen && !view->isBookOpen()) {
            const String address = request.address;
            frame->postToWindow([frame, address] { frame->loadFailed(address); });
        }
        return;
    }
    if (request.refresh) {
        view->showCoverPage();
        return;
    }

    const String filename(view->bookFilename(true));
    if (filename.empty())
        return;
    String address = view->current_address();
    int position = 0;
    int zoom = 0;
    if (library && library->fetchReadState(filename, address, position, zoom)) {
        TF_LOG(LOG_INFO, "restore reading pos: " << address.str());
        if (zoom >= BookWidget::kMinFontSize && zoom <= BookWidget::kMaxFontSize)
            view->setFontSize(zoom);
        // The text anchor holds across zoom, width and style; the pixel offset when there is none.
        ReadingPositions::Anchor anchor;
        if (frame->tracker->fetchAnchor(filename.str(), anchor) && anchor.entry == URI(address).member().str()) {
            frame->tracker->expectAnchor(anchor);
            // A long chapter is laid out around the saved place first.
            view->want_text_offset(anchor.offset);
        }
        else
            view->queueTask("scroll.set", String(std::to_string(position)));
        const auto before = view->document();
        // Whole at once: a first screen from the top would be replaced by the saved place a moment later.
        view->load_uri(address, false);
        // A chapter that is gone from the book: its cover rather than the page of another book.
        if (view->document() == before) {
            TF_LOG(LOG_WARN, "the saved chapter could not be shown: " << address.str());
            view->showCoverPage();
        }
    } else {
        view->showCoverPage();
    }
}

void MainFrame::loadFailed(const String& address) {
    if (address != bookPath)
        return;
    // Nothing of it was recorded; a book opened later from a link must not take its path.
    bookPath.clear();
    // The book it was to replace is closed by now: its page would only mislead.
    if (!view->isBookOpen() && !view->isHomePageShown()) {
        clearPanel();
        chapterCount = 0;
        onHomePage();
    }
    const QString name = QFileInfo(QFile::decodeName(QByteArray::fromStdString(address.str()))).fileName();
    const QString why = QString::fromStdString(view->openError());
    const QString text = why.isEmpty() ? QString("Could not open %1").arg(name)
                                       : QString("Could not open %1: %2").arg(name, why);
    onSetStatus(String(text.toStdWString()));
    if (!view->isBookOpen())
        setWindowTitle(kTitle);
    // Not modal to the program: a test or a second failure does not wait on it.
    auto* box = new QMessageBox(QMessageBox::Warning, "Could not open the book",
                                why.isEmpty() ? text : QString("Could not open %1.\n\n%2").arg(name, why),
                                QMessageBox::Ok, this);
    box->setObjectName("openFailedBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainFrame::onFileLoad() {
    BookWidget::Contents book;
    if (!view->bookContents(book, true))
        return;
    tocEntries = std::move(book.toc);
    spineEntries = std::move(book.spine);
    chapterCount = static_cast<int>(spineEntries.size());

    contentsTree->setBook(tocEntries, book.depths, spineEntries);

    tracker->bookOpened();
    bookSearch->bookOpened();
    const std::string& title = book.title;
    String status = String::utf2wide(title.data(), static_cast<int>(title.size()));
    if (book.damaged)
        status += String(kDamaged);
    onSetStatus(status);
    setWindowTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())).simplified() +
                   QString::fromUtf8(" — ") + kTitle);

    // Only a book chosen by the user is recorded. Decoding and scaling its
    // cover takes a while: that runs on the recorder, not on this thread.
    if (bookPath.empty() || !library)
        return;
    HtmlWindow* shown = view;
    DataHelper* catalogue = library.get();
    const String path = bookPath;
    recorder.post([shown, catalogue, path] { recordBook(shown, catalogue, path); });
}

void MainFrame::recordBook(HtmlWindow* view, DataHelper* library, const String& path) {
    if (!library)
        return;
    std::string title, coverEntry, data;
    // Only under its own path: another book may have taken its place meanwhile.
    if (!view->bookCover(path.str(), title, coverEntry, data))
        return;
    std::string mime, decoded;
    FREE_IMAGE_FORMAT format = FIF_UNKNOWN;
    if (view->isDataBase64Encoded(data, mime, decoded)) {
        data.swap(decoded);
        format = Image::getTypeFromMimeType(mime);
    } else {
        format = Image::getType(String(coverEntry));
    }

    const std::string directory = library->createBookDirectory(title);
    String coverPath;
    if (!directory.empty()) {
        coverPath = String(directory) + File::separator + String("cover.png");
        if (ImageCache::looksLikeSvg(data))
            svgThumbnail(data, kThumbnailHeight, coverPath);
        else
            library->iconFromData(format, reinterpret_cast<const unsigned char*>(data.data()),
                                  static_cast<int>(data.size()), kThumbnailHeight, coverPath);
    }
    library->addNewFile(path, String(title), coverPath);
}

void MainFrame::onProgress(int value) {
    if (QThread::currentThread() != thread()) {
        postToWindow([this, value] { onProgress(value); });
        return;
    }
    // The view reports 90 and 0 from inside its paint: showing or hiding a
    // widget there re-lays out the window under the painter (and crashes Qt
    // on scaled screens). The latest value is applied once the paint is over.
    pendingProgress = value;
    if (progressQueued)
        return;
    progressQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            progressQueued = false;
            showProgress(pendingProgress);
        },
        Qt::QueuedConnection);
}

void MainFrame::showProgress(int value) {
    if (value > 0) {
        if (!progressBar->isVisible())
            progressBar->setVisible(true);
        progressBar->setValue(std::min(value, 100));
    } else if (progressBar->isVisible()) {
        progressBar->setVisible(false);
        progressBar->setValue(0);
    }
}

void MainFrame::onChapterOpen() {
    const int index = contentsTree->currentLine();
    if (index >= 0)
        tocIndex = index;
    if (chapterCount == 0 && tocIndex <= 0)
        return;
    if (tocIndex < 0 || tocIndex >= static_cast<int>(tocEntries.size()))
        return;
    const std::string& target = tocEntries[static_cast<size_t>(tocIndex)].first;
    const std::string type = view->bookType();
    if (type.empty())
        return;
    // Entry names are the book's bytes; the view takes addresses byte for byte.
    view->setScrollPosition(0);
    loadURI(String(type + "://" + target));
}

void MainFrame::onDeleteEntry(const std::string& path) {
    if (library)
        library->removeFile(String(path));
    onHomePage();
}

void MainFrame::onDeleteAll() {
    if (!ask("Warning", "Do you really want to remove all books?"))
        return;
    if (library)
        library->removeFileAll();
    onHomePage();
}

std::string MainFrame::getContent(const URI* /*address*/) const {
    // Read once; a function-local static is safe to start from any thread.
    static const std::string placeholder = [] {
        QFile file(":/content/no-cover.png");
        if (!file.open(QIODevice::ReadOnly)) {
            TF_LOG(LOG_ERROR, "the placeholder cover is missing from the resources");
            return std::string();
        }
        return file.readAll().toStdString();
    }();
    return placeholder;
}

void MainFrame::onFileClose() {
    if (!view->isBookOpen())
        return;
    // A load still under way would show its page after the home page.
    waitForLoads();
    saveReadingState();
    tracker->bookClosed();
    bookSearch->bookClosed();
    bookPath.clear();
    view->close();
    clearPanel();
    tocEntries.clear();
    spineEntries.clear();
    onHomePage();
    chapterCount = 0;
    setWindowTitle(kTitle);
    onSetStatus(String(kReady));
}

void MainFrame::clearPanel() {
    contentsTree->clear();
}

void MainFrame::postToWindow(std::function<void()> fn) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(postedMutex);
        wake = posted.empty();
        posted.push_back(std::move(fn));
    }
    if (wake)
        QMetaObject::invokeMethod(this, "runPosted", Qt::QueuedConnection);
}

void MainFrame::runPosted() {
    std::vector<std::function<void()>> due;
    {
        std::lock_guard<std::mutex> lock(postedMutex);
        due.swap(posted);
    }
    for (auto& fn : due)
        fn();
}

void MainFrame::waitForLoads() {
    worker.cancelPending();
    windowJob = false; // a window wanted is asked for again by the next scroll
    worker.waitIdle();
    recorder.waitIdle();
}

bool MainFrame::busy() const {
    return worker.busy() || recorder.busy();
}

// ---- search -------------------------------------------------------------------------

void MainFrame::onSearch() {
    if (searchBox->toggle()) {
        searchBox->setWholeBook(false);
        view->clearTextRange();
        view->createTextRange();
    } else {
        view->clearTextRange();
        restoreStatus();
    }
}

void MainFrame::onBookSearch() {
    if (searchBox->isVisible() && searchBox->wholeBook()) {
        onSearch();
        return;
    }
    if (!searchBox->isVisible())
        searchBox->toggle();
    searchBox->setWholeBook(true);
    searchBox->setFocus(Qt::ShortcutFocusReason);
}

void MainFrame::searchLongChapter(const std::string& keyword, bool backward) {
    // Only a window of the chapter is laid out: its text, not the window's, is searched.
    const long entry = tracker->currentEntry();
    std::shared_ptr<BookTextCache> book = tracker->book();
    const BookTextCache::Text chapter = book && entry >= 0 ? book->text(static_cast<size_t>(entry)) : nullptr;
    const std::u32string query = FoldedText::query(keyword, FoldedText::LOOSE);
    BookSearch::Options options;
    options.context = 0;
    const std::vector<BookSearch::Hit> hits =
        chapter ? BookSearch::find(*chapter, query, static_cast<size_t>(entry), options) : std::vector<BookSearch::Hit>();
    if (hits.empty()) {
        pageSearch.valid = false;
        statusLabel->setText(QString("Not found on this page: %1").arg(QString::fromStdString(keyword).trimmed()));
        return;
    }
    // From the match shown (the same words in the same chapter) or from where the reader is.
    const bool goOn = pageSearch.valid && pageSearch.entry == entry && pageSearch.query == query;
    long from = goOn ? static_cast<long>(pageSearch.offset) : 0;
    if (!goOn) {
        const TextAnchorMap* map = tracker->currentMap();
        from = map ? std::max(0L, map->offsetAt(view->scrollPosition())) : 0;
    }
    size_t pick;
    if (!backward) {
        const auto it = std::find_if(hits.begin(), hits.end(), [&](const BookSearch::Hit& hit) {
            return goOn ? static_cast<long>(hit.offset) > from : static_cast<long>(hit.offset) >= from;
        });
        pick = it == hits.end() ? 0 : static_cast<size_t>(it - hits.begin());
    } else {
        pick = hits.size() - 1;
        for (size_t i = hits.size(); i-- > 0;)
            if (static_cast<long>(hits[i].offset) < from) {
                pick = i;
                break;
            }
    }
    pageSearch.valid = true;
    pageSearch.entry = entry;
    pageSearch.query = query;
    pageSearch.offset = hits[pick].offset;
    bookSearch->marker()->show(hits[pick].entry, hits[pick].offset, hits[pick].length, -1);
    restoreStatus();
}

void MainFrame::doSearch(QKeyEvent* event) {
    const bool backward = event && (event->modifiers() & Qt::ShiftModifier);
    const QString text = searchBox->text();
    if (searchBox->wholeBook()) {
        bookSearch->enter(text, searchBox->exact(), backward);
        return;
    }
    const std::string keyword = text.toUtf8().toStdString();
    Renderer::WindowSpan span;
    if (view->window_span(span) && !text.trimmed().isEmpty()) {
        searchLongChapter(keyword, backward);
        return;
    }
    // The page may have changed since the box opened: its runs went with the old one.
    if (view->textRangeSize() == 0)
        view->createTextRange();
    const int result = view->search_text(keyword, static_cast<unsigned>(searchBox->searchPos), backward);
    if (result == -1) {
        searchBox->searchPos = 0;
        if (!text.trimmed().isEmpty())
            statusLabel->setText(QString("Not found on this page: %1").arg(text.trimmed()));
        return;
    }
    searchBox->searchPos = result + 1;
    restoreStatus();
    view->viewport()->update();
}

} // namespace tf
