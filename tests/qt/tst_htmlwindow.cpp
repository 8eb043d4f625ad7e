// The document view offscreen: what a reader sees on the painted page, and
// what selection, links, tasks, search and closing do.

#include <QClipboard>
#include <QDesktopServices>
#include <QFontInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QtTest>

#include "Connector.h"
#include "FontHandle.h"
#include "HtmlWindow.h"
#include "ViewTestTools.h"
#include "corpus.h"

using namespace viewtest;

Q_DECLARE_METATYPE(tf::String)
Q_DECLARE_METATYPE(std::string)

namespace {

const QColor kMark = QColor::fromRgba(tf::HtmlWindow::kMarkColor);

// Receives the addresses handed to the user's browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

class KeyCatcher : public tf::Connector {
public:
    std::vector<int> keys;
    void processKey(QKeyEvent& event) override { keys.push_back(event.key()); }
};

// A view on screen (offscreen platform) of a fixed size.
struct ShownView {
    tf::HtmlWindow view;
    ShownView(int w = 700, int h = 500) {
        view.resize(w, h);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
};

void sendMouse(QWidget* viewport, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(pos), QPointF(viewport->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &event);
}

// A rectangle of logical viewport pixels in a grabbed image (device pixels on a scaled screen).
QRect devicePixels(const QImage& image, const QRect& logical) {
    const qreal r = image.devicePixelRatio();
    return QRect(QPoint(qRound(logical.x() * r), qRound(logical.y() * r)),
                 QSize(qRound(logical.width() * r), qRound(logical.height() * r)));
}

void click(tf::HtmlWindow& view, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    sendMouse(view.viewport(), QEvent::MouseButtonPress, pos, button, button);
    sendMouse(view.viewport(), QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}

QPoint viewportPoint(tf::HtmlWindow& view, const QRect& docBox) {
    return docBox.center() - QPoint(view.horizontalScrollBar()->value(), view.verticalScrollBar()->value());
}

// The middle of the first run reading `word`, in viewport coordinates (inline
// elements such as links have no box of their own; their runs do).
QPoint wordPoint(tf::HtmlWindow& view, const std::string& word) {
    const QRect box = runBox(view, runIndex(view, word));
    if (box.isEmpty())
        qWarning("no run \"%s\" on the page", word.c_str());
    return viewportPoint(view, box);
}

std::string paragraphs(int count, const std::string& word) {
    std::string html;
    for (int i = 0; i < count; ++i)
        html += "<p>Paragraph " + std::to_string(i) + " says " + word + " again and again.</p>";
    return html;
}

} // namespace

class TestHtmlWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qRegisterMetaType<tf::String>();
        qRegisterMetaType<std::string>();
    }

    // ---- what the page shows ------------------------------------------------------

    void corpusChapterIsNotBlankAndRunsAreInkedInsideTheirBoxes() {
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(800, 1000));
        const std::string book = corpus_path("epub2-pg11-alice.epub");
        QVERIFY(view.load_uri(tf::String(book)));
        std::string chapter;
        {
            auto lock = view.lockReader();
            chapter = view.getReader()->spine().at(2).first;
        }
        view.load_uri(tf::String("epub://" + chapter));
        const QImage page = view.renderImage(QRect(0, 0, 800, 1000));
        QVERIFY(ink(page, page.rect()) > 20000);

        view.createTextRange();
        int words = 0, inked = 0;
        {
            auto lock = view.lockDocument();
            for (const auto& run : view.textRange()) {
                const std::string text = tf::run_text(run);
                const QRect box = toRect(run.pos);
                if (text.find_first_not_of(" \n\t") == std::string::npos || !page.rect().contains(box))
                    continue;
                ++words;
                if (ink(page, box) > 0)
                    ++inked;
            }
        }
        QVERIFY(words > 100);
        QCOMPARE(inked, words);
    }

    void previewBuiltAgainKeepsThePageSheets() {
        // The page starts with a hidden part, so the first prefix lays out too
        // short and the top is built again from a longer one, sheets and all.
        TempDir dir;
        writeFile(dir.path + "/red.css", "p { color: rgb(220, 0, 0) }");
        writeFile(dir.path + "/book.css", "@import \"red.css\";");
        std::string hidden, shown;
        for (int i = 0; i < 500; ++i)
            hidden += "<p>hidden words " + std::to_string(i) + " of the opening</p>";
        for (int i = 0; i < 6000; ++i)
            shown += "<p>shown paragraph " + std::to_string(i) + "</p>";
        const std::string html = "<html><head><link rel='stylesheet' href='book.css'/></head><body>"
                                 "<div style='display:none'>" + hidden + "</div>" + shown + "</body></html>";
        const QRect area(0, 0, 600, 400);
        tf::HtmlWindow whole, top;
        top.set_preview_height(area.height());
        for (tf::HtmlWindow* view : {&whole, &top}) {
            view->setFixedClientSize(area.size());
            loadPage(*view, dir, html);
        }
        QVERIFY2(top.documentSize().height() * 2 < whole.documentSize().height(), qPrintable(QString("%1 of %2 px laid out").arg(top.documentSize().height()).arg(whole.documentSize().height())));
        const QImage page = top.renderImage(area);
        QVERIFY(countColor(page, area, QColor(220, 0, 0), 80) > 50);
        QCOMPARE(page, whole.renderImage(area));
    }

    void malformedMediaQueriesApplyNowhere_data() {
        // The engine's media query parser throws on a lone "("; such a query
        // applies nowhere. The sound one shows that media still count.
        QTest::addColumn<QString>("head");
        QTest::addColumn<bool>("red");
        QTest::newRow("sound @media") << "<style>@media screen { p { color: rgb(220, 0, 0) } }</style>" << true;
        QTest::newRow("@media") << "<style>@media screen and ( { p { color: rgb(220, 0, 0) } }</style>" << false;
        QTest::newRow("nested @media")
            << "<style>@media screen { @media ( { p { color: rgb(220, 0, 0) } } }</style>" << false;
        QTest::newRow("@import media") << "<style>@import url(red.css) screen and (;</style>" << false;
        QTest::newRow("@import media in a linked sheet") << "<link rel='stylesheet' href='imports.css'/>" << false;
        QTest::newRow("link media") << "<link rel='stylesheet' href='red.css' media='screen and ('/>" << false;
        QTest::newRow("link media, bracket as a reference")
            << "<link rel='stylesheet' href='red.css' media='screen and &#40;'/>" << false;
    }

    void malformedMediaQueriesApplyNowhere() {
        QFETCH(QString, head);
        QFETCH(bool, red);
        TempDir dir;
        writeFile(dir.path + "/red.css", "p { color: rgb(220, 0, 0) }");
        writeFile(dir.path + "/imports.css", "@import url(red.css) (;");
        tf::HtmlWindow view;
        const QRect area(0, 0, 600, 200);
        view.setFixedClientSize(area.size());
        loadPage(view, dir, "<html><head>" + head.toStdString() +
                                "</head><body><p>Some words to paint in the page's colour</p></body></html>");
        const QImage page = view.renderImage(area);
        QVERIFY(countColor(page, area, Qt::black, 80) + countColor(page, area, QColor(220, 0, 0), 80) > 50);
        QCOMPARE(countColor(page, area, QColor(220, 0, 0), 80) > 50, red);
    }

    void markedRunShowsTheHighlight() {
        TempDir dir;
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(600, 400));
        loadPage(view, dir, "<html><body><p>alpha beta gamma</p></body></html>");
        const int beta = runIndex(view, "beta");
        const int gamma = runIndex(view, "gamma");
        QVERIFY(beta >= 0 && gamma >= 0);
        view.markRuns(static_cast<size_t>(beta), static_cast<size_t>(beta), true);
        const QImage page = view.renderImage(QRect(0, 0, 600, 400));
        const QRect box = runBox(view, beta);
        QVERIFY(countColor(page, box, kMark) > box.width() * box.height() / 3);
        QCOMPARE(countColor(page, runBox(view, gamma), kMark), 0);
    }

    void picturesAppearAtTheirBoxes_data() {
        QTest::addColumn<QString>("markup");
        QTest::newRow("png file") << "<img id='p' src='red.png' width='120' height='60'/>";
        QTest::newRow("svg file") << "<img id='p' src='red.svg' style='width:120px;height:60px'/>";
        QTest::newRow("data url")
            << QString::fromStdString("<img id='p' width='120' height='60' src='data:image/png;base64," +
                                      QByteArray::fromStdString(pngBytes(solid(4, 4, Qt::red))).toBase64().toStdString() +
                                      "'/>");
        QTest::newRow("content address") << "<img id='p' src='content://cover.png' width='120' height='60'/>";
        QTest::newRow("css background")
            << "<div id='p' style=\"width:120px;height:60px;background-image:url('red.png');"
               "background-size:120px 60px\"></div>";
    }

    void picturesAppearAtTheirBoxes() {
        QFETCH(QString, markup);
        TempDir dir;
        writeFile(dir.path + "/red.png", pngBytes(solid(30, 15, Qt::red)));
        writeFile(dir.path + "/red.svg",
                  "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='20'>"
                  "<rect width='40' height='20' fill='#ff0000'/></svg>");
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(600, 400));
        // The main window's built-in pictures ("get.content").
        view.setContentProvider([](const tf::URI*) { return pngBytes(solid(8, 4, Qt::red)); });
        loadPage(view, dir, "<html><body><p>before</p>" + markup.toStdString() + "<p>after</p></body></html>");
        const QRect box = boxOf(view, "p");
        QVERIFY(!box.isEmpty());
        QCOMPARE(box.size(), QSize(120, 60));
        const QImage page = view.renderImage(QRect(0, 0, 600, 400));
        QVERIFY(countColor(page, box.adjusted(2, 2, -2, -2), Qt::red, 30) == (box.width() - 4) * (box.height() - 4));
        QCOMPARE(countColor(page, QRect(box.right() + 3, box.top(), 20, box.height()), Qt::red, 60), 0);
    }

    void svgPictureTakesTheSizeItDeclares_data() {
        QTest::addColumn<QString>("root");
        QTest::newRow("pixels") << "width='40' height='20'";
        QTest::newRow("px units and fractions") << "width='40.6px' height=' 19.4 '";
        QTest::newRow("view box only") << "viewBox='0 0 64,32'";
        QTest::newRow("view box fractions") << "viewBox='0 0 64.6 31.5'";
        QTest::newRow("size before view box") << "width='30' height='90' viewBox='0 0 10 10'";
        QTest::newRow("other units") << "width='2cm' height='1in'";
        QTest::newRow("percentages") << "width='100%' height='50%' viewBox='0 0 80 40'";
        QTest::newRow("width only") << "width='70' viewBox='0 0 20 10'";
        QTest::newRow("nothing") << "";
        QTest::newRow("absurd size") << "width='1e12' height='1e12' viewBox='0 0 8 8'";
    }

    void svgPictureTakesTheSizeItDeclares() {
        // Whether the size is read from the root element or worked out by the
        // renderer, the box is what the renderer itself would say.
        QFETCH(QString, root);
        const QByteArray svg = "<?xml version='1.0'?><svg xmlns='http://www.w3.org/2000/svg' " + root.toUtf8() +
                               "><rect x='0' y='0' width='5' height='5' fill='red'/></svg>";
        QSvgRenderer renderer(svg);
        QVERIFY(renderer.isValid());
        QSize expected = renderer.defaultSize();
        if (expected.isEmpty())
            expected = renderer.viewBoxF().size().toSize();
        if (expected.isEmpty())
            expected = QSize(300, 150);
        TempDir dir;
        writeFile(dir.path + "/pic.svg", svg.toStdString());
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(600, 400));
        loadPage(view, dir, "<html><body><img id='p' src='pic.svg'/></body></html>");
        QCOMPARE(boxOf(view, "p").size(), expected);
    }

    void pictureDrawnLargeAfterSmallKeepsItsDetail() {
        // A fine checker: scaled down it turns grey; scaled up from the grey copy it would stay grey.
        QImage checker(64, 64, QImage::Format_RGB32);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                checker.setPixel(x, y, ((x / 2 + y / 2) % 2) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        TempDir dir;
        writeFile(dir.path + "/check.png", pngBytes(checker));
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(600, 400));
        loadPage(view, dir,
                 "<html><body><img id='small' src='check.png' style='width:16px;height:16px'/>"
                 "<p>text</p></body></html>");
        view.renderImage(QRect(0, 0, 600, 400));
        loadPage(view, dir,
                 "<html><body><img id='big' src='check.png' style='width:256px;height:256px'/></body></html>",
                 "page2.html");
        const QImage page = view.renderImage(QRect(0, 0, 600, 400));
        const QRect box = boxOf(view, "big");
        QCOMPARE(box.size(), QSize(256, 256));
        int crisp = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                if (qGray(page.pixel(x, y)) < 60 || qGray(page.pixel(x, y)) > 195)
                    ++crisp;
        QVERIFY2(crisp > box.width() * box.height() / 2, qPrintable(QString::number(crisp)));
    }

    void runsOfTwoSizesShareTheirBaseline() {
        TempDir dir;
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(700, 300));
        loadPage(view, dir,
                 "<html><body><p style='font-size:20px'>small <span style='font-size:60px'>BIG</span> "
                 "more <span style='font-size:10px'>tiny</span> end</p></body></html>");
        auto baseline = [&](const char* word) {
            const int i = runIndex(view, word);
            auto lock = view.lockDocument();
            const auto& run = view.textRange().at(static_cast<size_t>(i));
            auto* font = reinterpret_cast<tf::FontHandle*>(run.element->get_font());
            return run.pos.y + font->ascent();
        };
        const int small = baseline("small");
        QCOMPARE(baseline("BIG"), small);
        QCOMPARE(baseline("tiny"), small);
        QCOMPARE(baseline("end"), small);
    }

    void longRunsAreMeasuredAndDrawnWhole() {
        TempDir dir;
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(4000, 300));
        const std::string word = "https://example.org/" + std::string(200, 'w');
        loadPage(view, dir, "<html><body><p>" + word + "</p></body></html>");
        const int i = runIndex(view, word);
        QVERIFY(i >= 0);
        const QRect box = runBox(view, i);
        QVERIFY2(box.width() > 2000, qPrintable(QString::number(box.width())));
        const QImage page = view.renderImage(QRect(0, 0, 4000, 300));
        // Ink at both ends of the run: it was drawn, not dropped.
        QVERIFY(ink(page, QRect(box.left(), box.top(), 60, box.height())) > 0);
        QVERIFY(ink(page, QRect(box.right() - 60, box.top(), 60, box.height())) > 0);
        QVERIFY(view.paintedText(QRect(0, 0, 4000, 300)).find(word) != std::string::npos);
    }

    void listMarkersBordersAndClipsArePainted() {
        TempDir dir;
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(600, 600));
        loadPage(view, dir,
                 "<html><body>"
                 "<ul><li id='disc'>one</li></ul>"
                 "<ol><li id='num'>first</li></ol>"
                 "<div id='thick' style='border:6px solid #00c000; height:20px'>x</div>"
                 "<div id='clip' style='height:20px; overflow:hidden; line-height:20px; font-size:12px'>top<br/>hidden<br/>hidden</div>"
                 "<p id='after' style='margin-top:60px'>after</p>"
                 "</body></html>");
        const QImage page = view.renderImage(QRect(0, 0, 600, 600));
        const QRect disc = boxOf(view, "disc");
        const QRect num = boxOf(view, "num");
        QVERIFY(ink(page, QRect(disc.left() - 30, disc.top(), 28, disc.height())) > 4);
        QVERIFY(ink(page, QRect(num.left() - 30, num.top(), 28, num.height())) > 4);
        const QRect thick = boxOf(view, "thick");
        // The border box: all six pixels of the top border are green, not one.
        const QRect border = thick.adjusted(-6, -6, 6, 6);
        for (int dy = 0; dy < 6; ++dy)
            QVERIFY(near(page.pixel(border.center().x(), border.top() + dy), QColor(0, 192, 0), 30));
        QVERIFY(near(page.pixel(border.center().x(), border.top() + 7), Qt::white, 30));
        const QRect clip = boxOf(view, "clip");
        QCOMPARE(clip.height(), 20);
        QVERIFY(ink(page, clip) > 0);
        QCOMPARE(ink(page, QRect(clip.left(), clip.bottom() + 1, clip.width(), 40)), 0);
        const std::string text = view.paintedText(QRect(0, 0, 600, 600));
        QVERIFY(text.find("top") != std::string::npos);
        QVERIFY(text.find("hidden") == std::string::npos);
    }

    void audioElementShowsThePlayerPicture() {
        TempDir dir;
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(600, 300));
        loadPage(view, dir, "<html><body><audio id='a' src='x.mp3'></audio></body></html>");
        const QRect box = boxOf(view, "a");
        QCOMPARE(box.size(), QSize(150, 25));
        const QImage page = view.renderImage(QRect(0, 0, 600, 300));
        const int mid = box.top() + (box.height() - 2) / 2 + 1;
        QVERIFY(near(page.pixel(box.left() + 60, mid), Qt::yellow, 40));
        QVERIFY(near(page.pixel(box.left() + 60, box.top() + 3), QColor(100, 100, 100), 10));
        QVERIFY(near(page.pixel(box.left() + 13, mid), QColor(200, 200, 255), 30));
    }

    void embeddedFontsAreUsedUnderTheirStyleSheetNames() {
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(800, 1000));
        QVERIFY(view.load_uri(tf::String(corpus_path("epub3-idpf-wasteland-otf-obf.epub"))));
        std::string chapter;
        {
            auto lock = view.lockReader();
            chapter = view.getReader()->spine().at(0).first;
        }
        view.load_uri(tf::String("epub://" + chapter));
        const int i = runIndex(view, "April");
        QVERIFY(i >= 0);
        auto lock = view.lockDocument();
        auto* font = reinterpret_cast<tf::FontHandle*>(view.textRange().at(static_cast<size_t>(i)).element->get_font());
        QCOMPARE(QFontInfo(font->font()).family(), QString("Old Standard TT"));
    }

    void tilesPaintWhatDirectPaintingPaints() {
        TempDir dir;
        ShownView shown(500, 300);
        tf::HtmlWindow& view = shown.view;
        loadPage(view, dir, "<html><body>" + paragraphs(80, "tiles") + "</body></html>");
        view.setScrollPosition(913);
        const QImage tiled = view.viewport()->grab().toImage();
        view.setTileCacheEnabled(false);
        const QImage direct = view.viewport()->grab().toImage();
        QCOMPARE(view.scrollPosition(), 913);
        QVERIFY(ink(direct, direct.rect()) > 1000);
        QCOMPARE(tiled.size(), direct.size());
        // The same page in the same place (glyph edges may blend a little differently).
        int differing = 0;
        for (int y = 0; y < direct.height(); ++y)
            for (int x = 0; x < direct.width(); ++x)
                if (!near(tiled.pixel(x, y), QColor(direct.pixel(x, y)), 60))
                    ++differing;
        QVERIFY2(differing < direct.width() * direct.height() / 200, qPrintable(QString::number(differing)));
    }

    void resizingLaysThePageOutAgain() {
        TempDir dir;
        ShownView shown(700, 400);
        tf::HtmlWindow& view = shown.view;
        loadPage(view, dir, "<html><body>" + paragraphs(20, "wide") + "</body></html>");
        const QSize wide = view.documentSize();
        view.resize(400, 400);
        QTRY_VERIFY(view.documentSize().width() < wide.width());
        QVERIFY(view.documentSize().height() > wide.height()); // narrower lines, more of them
        const QImage page = view.viewport()->grab().toImage();
        QVERIFY(ink(page, page.rect()) > 1000);
    }

    // With a window that builds pages off its thread, a resize asks for the
    // page anew and the page on screen stays as it was until then; a page
    // asked for again drops its fragment, so it is built anew, not scrolled.
    void resizeAndRefreshAskForTheWholePageAgain() {
        TempDir dir;
        ShownView shown(700, 400);
        tf::HtmlWindow& view = shown.view;
        const std::string path = loadPage(view, dir, "<html><body>" + paragraphs(20, "wide") +
                                                         "<p id=\"end\">end</p></body></html>");
        view.load_uri(tf::String(path + "#end"));
        QSignalSpy relayouts(&view, &tf::HtmlWindow::relayoutRequested);
        QSignalSpy loads(&view, &tf::HtmlWindow::loadRequested);
        const auto shownDoc = view.document();
        const QSize wide = view.documentSize();
        view.resize(400, 400);
        QTRY_COMPARE(relayouts.count(), 1);
        QTest::qWait(200);
        QCOMPARE(view.document(), shownDoc);
        QCOMPARE(view.documentSize(), wide);
        view.load_refresh();
        QTRY_COMPARE(loads.count(), 1);
        QCOMPARE(loads.at(0).at(0).value<tf::String>().str(), path);
    }

    // ---- selection and copying -------------------------------------------------------

    void dragSelectsAndCopyYieldsTheText() {
        TempDir dir;
        ShownView shown(400, 400);
        tf::HtmlWindow& view = shown.view;
        loadPage(view, dir,
                 "<html><body><p>The quick brown fox jumps over the lazy dog while the cat watches "
                 "from the fence and the bird sings above them all day long.</p></body></html>");
        const int from = runIndex(view, "quick");
        const int to = runIndex(view, "sings");
        QVERIFY(from >= 0 && to > from);
        const QRect a = runBox(view, from), b = runBox(view, to);
        QVERIFY2(b.top() > a.bottom(), "the drag spans lines");
        QWidget* vp = view.viewport();
        sendMouse(vp, QEvent::MouseButtonPress, viewportPoint(view, a), Qt::LeftButton, Qt::LeftButton);
        sendMouse(vp, QEvent::MouseMove, viewportPoint(view, a), Qt::NoButton, Qt::LeftButton);
        sendMouse(vp, QEvent::MouseMove, viewportPoint(view, b), Qt::NoButton, Qt::LeftButton);
        sendMouse(vp, QEvent::MouseButtonRelease, viewportPoint(view, b), Qt::LeftButton, Qt::NoButton);

        const QString expected = "quick brown fox jumps over the lazy dog while the cat watches from the fence and "
                                 "the bird sings";
        QCOMPARE(view.selectedText(), expected);
        tf::String wide;
        view.selected_text(wide);
        QCOMPARE(QString::fromStdWString(wide), expected);
        // The marks show on the page.
        const QImage page = vp->grab().toImage();
        QVERIFY(countColor(page, devicePixels(page, QRect(viewportPoint(view, a) - QPoint(3, 3), QSize(6, 6))), kMark) > 0);

        view.copySelection();
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        QVERIFY(view.selectedText().isEmpty());
        QVERIFY(markedRuns(view).empty());
    }

    void aPlainClickClearsTheSelection() {
        TempDir dir;
        ShownView shown;
        tf::HtmlWindow& view = shown.view;
        loadPage(view, dir, "<html><body><p>one two three four</p></body></html>");
        view.createTextRange();
        view.markRuns(0, 4, true);
        QVERIFY(!view.selectedText().isEmpty());
        click(view, viewportPoint(view, runBox(view, runIndex(view, "two"))));
        QVERIFY(view.selectedText().isEmpty());
    }

    // ---- links and tasks -----------------------------------------------------------------

    void linkClicksAskTheMainWindowToLoad_data() {
        QTest::addColumn<QString>("href");
        QTest::addColumn<QString>("expected"); // relative to the page's folder; "#" = the page itself
        QTest::newRow("chapter") << "other.html" << "other.html";
        QTest::newRow("chapter with fragment") << "sub/other.html#n2" << "sub/other.html#n2";
        QTest::newRow("same-page note") << "#n5" << "#page#n5";
        QTest::newRow("parent folder") << "../up.html" << "../up.html";
    }

    void linkClicksAskTheMainWindowToLoad() {
        QFETCH(QString, href);
        QFETCH(QString, expected);
        TempDir dir;
        ShownView shown;
        tf::HtmlWindow& view = shown.view;
        QSignalSpy loads(&view, &tf::HtmlWindow::loadRequested);
        const std::string page = loadPage(
            view, dir, "<html><body><p>Go <a id='l' href='" + href.toStdString() + "'>there</a> now</p></body></html>");
        view.setScrollPosition(0);
        click(view, wordPoint(view, "there"));
        QCOMPARE(loads.count(), 1);
        const tf::String address = loads.at(0).at(0).value<tf::String>();
        std::string want = expected.toStdString();
        if (want.rfind("#page", 0) == 0)
            want = page + want.substr(5);
        else if (want.rfind("../", 0) == 0)
            want = dir.path.substr(0, dir.path.rfind('/')) + "/" + want.substr(3);
        else
            want = dir.path + "/" + want;
        QCOMPARE(QString::fromStdString(address.str()), QString::fromStdString(want));
        QCOMPARE(view.pendingTaskCount(), size_t(0));
    }

    void aDragOffTheLinkFollowsNothing() {
        TempDir dir;
        ShownView shown;
        tf::HtmlWindow& view = shown.view;
        QSignalSpy loads(&view, &tf::HtmlWindow::loadRequested);
        loadPage(view, dir, "<html><body><p>Go <a id='l' href='x.html'>there</a> now and later</p></body></html>");
        const QPoint on = wordPoint(view, "there");
        const QPoint off = viewportPoint(view, runBox(view, runIndex(view, "later")));
        sendMouse(view.viewport(), QEvent::MouseButtonPress, on, Qt::LeftButton, Qt::LeftButton);
        sendMouse(view.viewport(), QEvent::MouseMove, off, Qt::NoButton, Qt::LeftButton);
        sendMouse(view.viewport(), QEvent::MouseButtonRelease, off, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(loads.count(), 0);
    }

    void commandLinksWorkOnlyOnTheHomePage() {
        const std::string page = "<html><body><p><a href='cmd://delete_all'>RemoveAll</a></p>"
                                 "<p><a href='cmd://delete?file=%2Fbooks%2Fa%20b%23c.epub'>RemoveOne</a></p>"
                                 "<p><a href='%2Fbooks%2Fa%20b%23c.epub'>OpenOne</a></p>"
                                 "<p><a href='cmd://delete'>RemoveNothing</a></p></body></html>";
        TempDir dir;
        ShownView shown;
        tf::HtmlWindow& view = shown.view;
        QSignalSpy all(&view, &tf::HtmlWindow::removeAllRequested);
        QSignalSpy one(&view, &tf::HtmlWindow::removeFileRequested);
        QSignalSpy loads(&view, &tf::HtmlWindow::loadRequested);

        // In a book: the commands do nothing.
        loadPage(view, dir, page);
        QVERIFY(!view.isHomePageShown());
        click(view, wordPoint(view, "RemoveAll"));
        click(view, wordPoint(view, "RemoveOne"));
        QCOMPARE(all.count(), 0);
        QCOMPARE(one.count(), 0);

        // On the home page they reach the main window, with the path decoded.
        view.load_home_page(page);
        QVERIFY(view.isHomePageShown());
        click(view, wordPoint(view, "RemoveAll"));
        QCOMPARE(all.count(), 1);
        click(view, wordPoint(view, "RemoveOne"));
        QCOMPARE(one.count(), 1);
        QCOMPARE(QString::fromStdString(one.at(0).at(0).value<std::string>()), QString("/books/a b#c.epub"));
        click(view, wordPoint(view, "RemoveNothing"));
        QCOMPARE(one.count(), 1);
        loads.clear();
        click(view, wordPoint(view, "OpenOne"));
        QCOMPARE(loads.count(), 1);
        QCOMPARE(QString::fromStdString(loads.at(0).at(0).value<tf::String>().str()), QString("/books/a b#c.epub"));

        // A page loaded after the home page is no home page.
        loadPage(view, dir, page, "again.html");
        QVERIFY(!view.isHomePageShown());
    }

    void webLinksOpenInTheUsersBrowser() {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("https", &catcher, "open");
        QDesktopServices::setUrlHandler("mailto", &catcher, "open");
        TempDir dir;
        ShownView shown;
        tf::HtmlWindow& view = shown.view;
        QSignalSpy loads(&view, &tf::HtmlWindow::loadRequested);
        loadPage(view, dir,
                 "<html><body><p><a id='w' href='https://example.org/a?b=1'>web</a></p>"
                 "<p><a id='m' href='mailto:someone@example.org'>mail</a></p></body></html>");
        click(view, wordPoint(view, "web"));
        click(view, wordPoint(view, "mail"));
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("mailto");
        QCOMPARE(catcher.urls.size(), 2);
        QCOMPARE(catcher.urls.at(0), QUrl("https://example.org/a?b=1"));
        QCOMPARE(catcher.urls.at(1), QUrl("mailto:someone@example.org"));
        QCOMPARE(loads.count(), 0);
    }

    void savedPositionWaitsForItsOwnPage() {
        TempDir dir;
        ShownView shown(500, 300);
        tf::HtmlWindow& view = shown.view;
        loadPage(view, dir, "<html><body>" + paragraphs(60, "old") + "</body></html>");
        view.viewport()->grab();
        // Queued by the loader before the saved chapter loads: the page on
        // screen repaints meanwhile and must not take it.
        view.queueTask("scroll.set", tf::String("700"));
        view.viewport()->grab();
        QCoreApplication::processEvents();
        QCOMPARE(view.scrollPosition(), 0);
        QCOMPARE(view.pendingTaskCount(), size_t(1));
        loadPage(view, dir, "<html><body>" + paragraphs(60, "new") + "</body></html>", "new.html");
        view.viewport()->grab();
        QTRY_COMPARE(view.scrollPosition(), 700);
        QCOMPARE(view.pendingTaskCount(), size_t(0));
        // Text that is no number scrolls to the top.
        view.queueTask("scroll.set", tf::String("abc"));
        loadPage(view, dir, "<html><body>" + paragraphs(60, "third") + "</body></html>", "third.html");
        view.setScrollPosition(400);
        view.viewport()->grab();
        QTRY_COMPARE(view.scrollPosition(), 0);
    }

    void firstPaintAnnouncesTheBookOnce() {
        ShownView shown;
        tf::HtmlWindow& view = shown.view;
        QSignalSpy announced(&view, &tf::HtmlWindow::bookLoaded);
        QSignalSpy progress(&view, &tf::HtmlWindow::progressChanged);
        QVERIFY(view.load_uri(tf::String(corpus_path("epub2-pg11-alice.epub"))));
        view.showCoverPage();
        view.viewport()->grab();
        view.viewport()->grab();
        QTRY_COMPARE(announced.count(), 1);
        QVERIFY(!view.isBook());
        QTRY_VERIFY(!progress.isEmpty() && progress.last().at(0).toInt() == 0);
        QList<int> values;
        for (const auto& args : progress)
            values << args.at(0).toInt();
        QVERIFY(values.contains(30) && values.contains(80) && values.contains(90));
    }

    void keysGoToTheMainWindow() {
        ShownView shown;
        KeyCatcher keys;
        shown.view.set_frame(&keys);
        QTest::keyClick(&shown.view, Qt::Key_F11);
        QTest::keyClick(&shown.view, Qt::Key_Right, Qt::ControlModifier);
        std::vector<int> pressed;
        for (int key : keys.keys)
            if (key != Qt::Key_Control)
                pressed.push_back(key);
        QCOMPARE(pressed, (std::vector<int>{Qt::Key_F11, Qt::Key_Right}));
    }

    // ---- search ------------------------------------------------------------------------

    void searchGoesToTheNextOccurrenceAndWraps() {
        TempDir dir;
        ShownView shown(500, 300);
        tf::HtmlWindow& view = shown.view;
        loadPage(view, dir,
                 "<html><body><p>A word here.</p>" + paragraphs(40, "filler") +
                     "<p>The Word again.</p>" + paragraphs(40, "filler") + "<p>Last WORD.</p></body></html>");
        const int first = runIndex(view, "word");
        const int second = runIndex(view, "Word");
        const int third = runIndex(view, "WORD.");
        std::vector<int> hits;
        unsigned pos = 0;
        for (int step = 0; step < 4; ++step) {
            const int result = view.search_text("word", pos);
            QCOMPARE(result, 0);
            pos = static_cast<unsigned>(result) + 1;
            const auto marked = markedRuns(view);
            QCOMPARE(marked.size(), size_t(1));
            hits.push_back(marked.front());
            // Scrolled into view.
            const QRect box = runBox(view, marked.front());
            QVERIFY(box.top() >= view.scrollPosition());
            QVERIFY(box.bottom() < view.scrollPosition() + view.pageSize());
        }
        QCOMPARE(hits, (std::vector<int>{first, second, third, first}));
        // Backwards from the first wraps to the last.
        QCOMPARE(view.search_text("word", pos, true), 0);
        QCOMPARE(markedRuns(view), std::vector<int>{third});
        // The highlight is on screen.
        const QImage page = view.viewport()->grab().toImage();
        const QRect around(viewportPoint(view, runBox(view, third)) - QPoint(2, 2), QSize(4, 4));
        QVERIFY(countColor(page, devicePixels(page, around), kMark) > 0);
    }

    void searchMatchesCaseFoldedTextAndPhrases_data() {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("runs"); // the marked runs' texts
        QTest::addColumn<int>("offset");
        QTest::newRow("non-ASCII letters, other case") << "ÉTÉ" << QStringList{"été"} << 0;
        QTest::newRow("Cyrillic") << "москва" << QStringList{"МОСКВА,"} << 0;
        QTest::newRow("inside a run") << "bcd" << QStringList{"abcde."} << 1;
        QTest::newRow("phrase across runs") << "quick  Brown fox" << QStringList{"quick", " ", "brown", " ", "fox,"} << 0;
        QTest::newRow("phrase across inline markup") << "bold text" << QStringList{"bold", " ", "text."} << 0;
        QTest::newRow("not on the page") << "absent" << QStringList{} << -1;
        QTest::newRow("across two paragraphs") << "end start" << QStringList{} << -1;
        QTest::newRow("only white space") << "   " << QStringList{} << -1;
    }

    void searchMatchesCaseFoldedTextAndPhrases() {
        QFETCH(QString, keyword);
        QFETCH(QStringList, runs);
        QFETCH(int, offset);
        TempDir dir;
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(600, 400));
        loadPage(view, dir,
                 "<html><body><p>Un été à МОСКВА, abcde.</p><p>The quick brown fox, some <b>bold</b> text.</p>"
                 "<p>the end</p><p>start here</p></body></html>");
        view.createTextRange();
        view.markRuns(0, 2, true); // an earlier selection goes away
        const QByteArray utf8 = keyword.toUtf8();
        QCOMPARE(view.search_text(std::string(utf8.constData(), static_cast<size_t>(utf8.size())), 0), offset);
        QStringList marked;
        {
            auto lock = view.lockDocument();
            for (int i : markedRuns(view))
                marked << QString::fromStdString(tf::run_text(view.textRange().at(static_cast<size_t>(i))));
        }
        QCOMPARE(marked, runs);
    }

    void searchScrollsToAMatchNearTheEnd() {
        TempDir dir;
        ShownView shown(500, 300);
        tf::HtmlWindow& view = shown.view;
        loadPage(view, dir, "<html><body>" + paragraphs(50, "filler") + "<p>needle</p></body></html>");
        QVERIFY(view.maxScrollPosition() > 1000);
        QCOMPARE(view.search_text("needle", 0), 0);
        const QRect box = runBox(view, markedRuns(view).front());
        QVERIFY(box.top() >= view.scrollPosition());
        QVERIFY(box.bottom() < view.scrollPosition() + view.pageSize());
    }

    // ---- closing -----------------------------------------------------------------------------

    void closeEmptiesTheImageCacheAndClosesTheBook() {
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(800, 1000));
        QVERIFY(view.load_uri(tf::String(corpus_path("epub2-pg11-alice.epub"))));
        view.showCoverPage();
        view.renderImage(QRect(0, 0, 800, 1000));
        QVERIFY(view.imageCacheSize() > 0);
        QVERIFY(view.isBookOpen());
        view.close();
        QCOMPARE(view.imageCacheSize(), size_t(0));
        QVERIFY(!view.isBookOpen());
        QVERIFY(view.has_document()); // the page stays until the next load
    }
};

QTEST_MAIN(TestHtmlWindow)
#include "tst_htmlwindow.moc"
