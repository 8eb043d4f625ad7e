// Reading comfort in the real window, offscreen: themes (also through
// orinel-render --theme), line width, zoom by Ctrl+wheel and keys, settings
// that survive a restart, the window title, and the reasons given when a book
// cannot be opened.

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QImage>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QSplitter>
#include <QWheelEvent>
#include <QtTest>

#include "MainFrameTestSupport.h"
#include "PreferencesDialog.h"
#include "Settings.h"
#include "ZipBuilder.h"
#include "src/ThemeStyle.h"

using test::Session;
using test::waitFor;
using tf::ThemeStyle;

namespace {

const char* const kAlice = "epub2-pg11-alice.epub";

std::string book(const char* name) {
    return QFileInfo(QString::fromStdString(corpus_path(name))).canonicalFilePath().toStdString();
}

uint32_t rgbOf(QRgb pixel) {
    return static_cast<uint32_t>(pixel) & 0xFFFFFFu;
}

// A page whose own sheet paints dark text on white boxes, as many books do.
const char* const kStyledPage =
    "<html><head><title>Styled</title><style>p.x { color: #000000; background-color: #ffffff }"
    " div.box { background-color: #ffffff; border: 2px solid #000000; color: #111111 }</style></head><body>"
    "<h1>Heading</h1><p class='x'>The quick brown fox jumps over the lazy dog again and again and again, "
    "and once more over the lazy dog.</p><div class='box'>Boxed words with <a href='#x'>a link</a></div>"
    "<p>Plain words in the page's own colour, long enough to fill a few lines of text in the column "
    "that the reader lays out in the middle of the page for comfortable reading.</p></body></html>";

// The largest contrast of any pixel in `rect` against the page colour, and
// the share of pixels that stay pure white.
struct Ink {
    double contrast = 1.0;
    double whiteShare = 0.0;
    int left = -1, right = -1;  // columns holding anything but the page colour
};

Ink inkOf(const QImage& image, const QRect& rect, uint32_t page) {
    Ink ink;
    long white = 0, all = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const uint32_t rgb = rgbOf(image.pixel(x, y));
            ++all;
            if (rgb == 0xFFFFFF)
                ++white;
            if (rgb == page)
                continue;
            ink.contrast = std::max(ink.contrast, ThemeStyle::contrast(rgb, page));
            if (ink.left < 0 || x < ink.left)
                ink.left = x;
            ink.right = std::max(ink.right, x);
        }
    }
    ink.whiteShare = all ? double(white) / all : 0.0;
    return ink;
}

struct Run {
    int code = -1;
    QImage image;
};

Run render(const QStringList& args, const QString& out) {
    QProcess p;
    p.setProgram(ORINEL_RENDER_BIN);
    p.setArguments(args + QStringList{"-o", out});
    p.start();
    Run r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.image = QImage(out);
    return r;
}

// The smallest book files, one for each reason a book cannot open.
std::string container() {
    return "<?xml version=\"1.0\"?><container version=\"1.0\" "
           "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
           "full-path=\"content.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>";
}

std::string opf() {
    return "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\" "
           "unique-identifier=\"id\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>Locked"
           "</dc:title><dc:identifier id=\"id\">x</dc:identifier></metadata><manifest><item id=\"c\" "
           "href=\"c.xhtml\" media-type=\"application/xhtml+xml\"/></manifest><spine><itemref idref=\"c\"/>"
           "</spine></package>";
}

} // namespace

class ReadingTest : public QObject {
    Q_OBJECT
private slots:
    void renderThemesColourThePageReadably_data();
    void renderThemesColourThePageReadably();
    void windowFollowsTheTheme();
    void lineWidthBoundsTheTextColumn();
    void ctrlWheelAndKeysZoom();
    void settingsSurviveARestart();
    void preferencesDialogShowsAndReturnsTheChoices();
    void titleNamesTheBookOrTheProgram();
    void eachOpenFailureSaysWhy();
};

void ReadingTest::renderThemesColourThePageReadably_data() {
    QTest::addColumn<QString>("theme");
    QTest::addColumn<int>("theme_id");
    QTest::newRow("light") << "light" << int(ThemeStyle::THEME_LIGHT);
    QTest::newRow("sepia") << "sepia" << int(ThemeStyle::THEME_SEPIA);
    QTest::newRow("dark") << "dark" << int(ThemeStyle::THEME_DARK);
}

void ReadingTest::renderThemesColourThePageReadably() {
    QFETCH(QString, theme);
    QFETCH(int, theme_id);
    TempDir dir;
    const std::string page = dir.write("styled.html", kStyledPage);
    const Run run = render({"--theme", theme, "--width", "800", "--height", "500", QString::fromStdString(page)},
                           QString::fromStdString(dir.path + "/page.png"));
    QCOMPARE(run.code, 0);
    QVERIFY(!run.image.isNull());
    const ThemeStyle::Colours colours = ThemeStyle::colours(ThemeStyle::Theme(theme_id));
    // The page, corners included, is the theme's colour.
    QCOMPARE(rgbOf(run.image.pixel(1, 1)), colours.page);
    QCOMPARE(rgbOf(run.image.pixel(run.image.width() - 2, run.image.height() - 2)), colours.page);
    const Ink ink = inkOf(run.image, run.image.rect(), colours.page);
    // Text stands out at least as much as the guidelines ask of body text.
    QVERIFY2(ink.contrast >= 4.5, qPrintable(QString::number(ink.contrast)));
    // The book's white boxes do not stay white on a tinted page.
    if (theme_id != ThemeStyle::THEME_LIGHT)
        QVERIFY2(ink.whiteShare < 0.001, qPrintable(QString::number(ink.whiteShare)));
    else
        QVERIFY(ink.whiteShare > 0.5);
    // The theme's text colour itself is what most of the ink is drawn in.
    QVERIFY(ThemeStyle::contrast(colours.text, colours.page) >= 7.0);
    QVERIFY(ThemeStyle::contrast(colours.link, colours.page) >= 4.5);
}

void ReadingTest::windowFollowsTheTheme() {
    Session s;
    QVERIFY(s.exposed);
    QComboBox* chooser = s.frame->getThemeChooser();
    QVERIFY(chooser);
    QCOMPARE(chooser->currentData().toInt(), int(ThemeStyle::THEME_LIGHT));
    const QColor lightWindow = s.frame->palette().color(QPalette::Window);

    // Chosen on the tool bar, as a user does.
    chooser->setCurrentIndex(chooser->findData(ThemeStyle::THEME_DARK));
    emit chooser->activated(chooser->currentIndex());
    QCOMPARE(s.frame->getReadingStyle().theme, ThemeStyle::THEME_DARK);
    QVERIFY(waitFor([&] { return s.settled() && s.view()->isHomePageShown(); }));
    const uint32_t dark = ThemeStyle::colours(ThemeStyle::THEME_DARK).page;
    QCOMPARE(rgbOf(s.view()->pageColor().rgb()), dark);
    const QImage home = s.view()->renderImage(QRect(0, 0, 400, 300));
    QCOMPARE(rgbOf(home.pixel(2, 2)), dark);
    QVERIFY(s.frame->palette().color(QPalette::Window).lightness() < 80);
    QVERIFY(s.frame->palette().color(QPalette::WindowText).lightness() > 180);

    // A book opened now is dark too, and back to light restores the desktop's palette.
    QVERIFY(s.open(book(kAlice)));
    QCOMPARE(rgbOf(s.view()->renderImage(QRect(0, 0, 200, 200)).pixel(1, 1)), dark);
    ThemeStyle light = s.frame->getReadingStyle();
    light.theme = ThemeStyle::THEME_LIGHT;
    s.frame->setReadingStyle(light);
    QCOMPARE(s.frame->palette().color(QPalette::Window), lightWindow);
    QCOMPARE(chooser->currentData().toInt(), int(ThemeStyle::THEME_LIGHT));
    QVERIFY(s.waitSettled());
    QCOMPARE(rgbOf(s.view()->renderImage(QRect(0, 0, 200, 200)).pixel(1, 1)), 0xFFFFFFu);
}

void ReadingTest::lineWidthBoundsTheTextColumn() {
    TempDir dir;
    const std::string page = dir.write("styled.html", kStyledPage);
    const int width = 1600;
    const char* names[] = {"narrow", "medium", "wide", "full"};
    int previous = 0;
    for (int i = 0; i < 4; ++i) {
        const QString name = names[i];
        const Run run = render({"--theme", "light", "--line-width", name, "--width", QString::number(width),
                                "--height", "400", "--font-size", "20", QString::fromStdString(page)},
                               QString::fromStdString(dir.path + "/" + names[i] + ".png"));
        QCOMPARE(run.code, 0);
        // The heading's and paragraphs' ink; the page colour is white here.
        const Ink ink = inkOf(run.image, run.image.rect(), 0xFFFFFF);
        QVERIFY(ink.left >= 0);
        const int column = ink.right - ink.left + 1;
        const int em = ThemeStyle::widthEm(ThemeStyle::LineWidth(i));
        if (em > 0) {
            QVERIFY2(column <= em * 20, qPrintable(name + ": " + QString::number(column)));
            // Centred: as much room on the left as on the right, give or take a ragged line end.
            QVERIFY2(std::abs(ink.left - (width - 1 - ink.right)) <= 3 * 20,
                     qPrintable(name + QString(": %1..%2").arg(ink.left).arg(ink.right)));
        } else {
            QVERIFY2(column > width - 200, qPrintable(QString::number(column)));
        }
        QVERIFY2(column > previous, qPrintable(name));
        previous = column;
    }
}

void ReadingTest::ctrlWheelAndKeysZoom() {
    Session s;
    QVERIFY(s.open(book(kAlice)));
    QWidget* viewport = s.view()->viewport();
    const int start = s.view()->get_default_font_size();
    QCOMPARE(start, tf::HtmlWindow::kDefaultFontSize);
    const QPointF at(50, 50);
    auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
        QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
    };
    wheel(120, Qt::ControlModifier);
    QCOMPARE(s.view()->get_default_font_size(), start + tf::BookWidget::kFontStep);
    QVERIFY(s.waitSettled());
    // Half notches add up; a plain wheel scrolls and leaves the size alone.
    wheel(-60, Qt::ControlModifier);
    QCOMPARE(s.view()->get_default_font_size(), start + tf::BookWidget::kFontStep);
    wheel(-60, Qt::ControlModifier);
    QCOMPARE(s.view()->get_default_font_size(), start);
    QVERIFY(s.waitSettled());
    wheel(-120, Qt::NoModifier);
    QCOMPARE(s.view()->get_default_font_size(), start);

    struct Key {
        Qt::Key key;
        int size;
    } keys[] = {{Qt::Key_Equal, start + 2}, {Qt::Key_Plus, start + 4}, {Qt::Key_Minus, start + 2},
                {Qt::Key_Plus, start + 4}, {Qt::Key_0, start}};
    for (const Key& k : keys) {
        QTest::keyClick(s.view(), k.key, Qt::ControlModifier);
        QCOMPARE(s.view()->get_default_font_size(), k.size);
        QVERIFY(s.waitSettled());
    }
    // The page was laid out again at the size: the text at 28 px runs longer than at 20.
    const int normal = s.view()->documentSize().height();
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(s.view(), Qt::Key_Equal, Qt::ControlModifier);
    QVERIFY(waitFor([&] { return s.settled() && s.view()->documentSize().height() > normal; }));
}

void ReadingTest::settingsSurviveARestart() {
    TempDir config;
    ThemeStyle chosen;
    chosen.theme = ThemeStyle::THEME_SEPIA;
    chosen.lineWidth = ThemeStyle::WIDTH_NARROW;
    chosen.margin = 50;
    chosen.lineSpacing = 150;
    chosen.fontFamily = "DejaVu Sans";
    chosen.overrideBook = true;
    {
        Session first(config.path);
        QVERIFY(first.exposed);
        QCOMPARE(first.frame->getReadingStyle(), ThemeStyle());
        first.frame->setReadingStyle(chosen);
        first.frame->resize(930, 610);
        first.frame->onTogglePanel();
        QSplitter* bar = first.frame->getSplitBar();
        bar->setSizes({240, bar->width() - 240});
        QVERIFY(first.waitSettled());
        QVERIFY(first.frame->getSettings()->fileName().startsWith(QString::fromStdString(config.path)));
    }
    QVERIFY(QFileInfo::exists(QString::fromStdString(config.path + "/OrinelReader/settings.conf")));
    {
        Session second(config.path);
        QVERIFY(second.exposed);
        QCOMPARE(second.frame->getReadingStyle(), chosen);
        QCOMPARE(second.frame->size(), QSize(930, 610));
        QCOMPARE(second.frame->getThemeChooser()->currentData().toInt(), int(ThemeStyle::THEME_SEPIA));
        QCOMPARE(rgbOf(second.view()->pageColor().rgb()), ThemeStyle::colours(ThemeStyle::THEME_SEPIA).page);
        QVERIFY(second.frame->getBarPosition() > 0);
        QVERIFY(std::abs(second.frame->getSplitBar()->sizes().value(0) - 240) <= 2);
        // Hidden now, hidden after the next start; its width is kept for when it comes back.
        second.frame->onTogglePanel();
        QCOMPARE(second.frame->getBarPosition(), 0);
    }
    {
        Session third(config.path);
        QCOMPARE(third.frame->getBarPosition(), 0);
        third.frame->onTogglePanel();
        QVERIFY(std::abs(third.frame->getSplitBar()->sizes().value(0) - 240) <= 2);
    }
}

void ReadingTest::preferencesDialogShowsAndReturnsTheChoices() {
    ThemeStyle given;
    given.theme = ThemeStyle::THEME_DARK;
    given.lineWidth = ThemeStyle::WIDTH_WIDE;
    given.margin = 12;
    given.lineSpacing = 150;
    given.fontFamily = "No Such Family Installed";
    tf::PreferencesDialog dialog(given);
    // What it shows is what it was given, a family unknown to the system included.
    QCOMPARE(dialog.style(), given);
    QCOMPARE(dialog.themeBox()->currentText(), QString("Dark"));
    QCOMPARE(dialog.widthBox()->currentText(), QString("Wide"));
    dialog.themeBox()->setCurrentIndex(dialog.themeBox()->findData(ThemeStyle::THEME_SEPIA));
    dialog.widthBox()->setCurrentIndex(dialog.widthBox()->findData(ThemeStyle::WIDTH_FULL));
    dialog.marginBox()->setValue(1000);
    dialog.spacingBox()->setCurrentIndex(0);
    dialog.fontBox()->setCurrentIndex(0);
    dialog.overrideBox()->setChecked(true);
    const ThemeStyle chosen = dialog.style();
    QCOMPARE(chosen.theme, ThemeStyle::THEME_SEPIA);
    QCOMPARE(chosen.lineWidth, ThemeStyle::WIDTH_FULL);
    QCOMPARE(chosen.margin, ThemeStyle::kMaxMargin);
    QCOMPARE(chosen.lineSpacing, 0);
    QCOMPARE(chosen.fontFamily, std::string());
    QVERIFY(chosen.overrideBook);

    // Values edited by hand in the settings file read as the defaults.
    TempDir config;
    setenv("XDG_CONFIG_HOME", config.path.c_str(), 1);
    tf::Settings settings;
    settings.setReadingStyle(given);
    {
        QSettings raw(settings.fileName(), QSettings::IniFormat);
        raw.setValue("reading/theme", "purple");
        raw.setValue("reading/margin", -5);
        raw.setValue("reading/lineSpacing", 9999);
        raw.setValue("panel/width", "wide");
    }
    const ThemeStyle read = settings.readingStyle();
    QCOMPARE(read.theme, ThemeStyle::THEME_LIGHT);
    QCOMPARE(read.margin, ThemeStyle::kDefaultMargin);
    QCOMPARE(read.lineSpacing, 0);
    QCOMPARE(read.lineWidth, ThemeStyle::WIDTH_WIDE);
    QCOMPARE(settings.panelWidth(), 0);
}

void ReadingTest::titleNamesTheBookOrTheProgram() {
    Session s;
    QCOMPARE(s.frame->windowTitle(), QString("Orinel Reader"));
    const test::BookFacts facts = test::readBook("epub", book(kAlice));
    QVERIFY(!facts.title.empty());
    QVERIFY(s.open(book(kAlice)));
    QCOMPARE(s.frame->windowTitle(), QString::fromStdString(facts.title) + QString::fromUtf8(" — Orinel Reader"));
    s.frame->onFileClose();
    QCOMPARE(s.frame->windowTitle(), QString("Orinel Reader"));

    TempDir dir;
    const std::string page = dir.write("page.html", kStyledPage);
    s.frame->openBook(QString::fromStdString(page));
    // A single page is not an open book to the view: wait for the window to take it in.
    QVERIFY(waitFor([&] { return s.settled() && s.frame->windowTitle() == QString::fromUtf8("Styled — Orinel Reader"); }));
    // A single page takes a new theme too.
    ThemeStyle dark;
    dark.theme = ThemeStyle::THEME_DARK;
    s.frame->setReadingStyle(dark);
    const uint32_t darkPage = ThemeStyle::colours(ThemeStyle::THEME_DARK).page;
    // Built again: the book's white boxes are gone and the text stands out (the old page kept the boxes).
    QVERIFY(waitFor([&] {
        if (!s.settled() || !s.view()->has_document())
            return false;
        const QImage image = s.view()->renderImage(QRect(0, 0, 600, 300));
        const Ink ink = inkOf(image, image.rect(), darkPage);
        return rgbOf(image.pixel(2, 2)) == darkPage && ink.whiteShare < 0.001 && ink.contrast >= 7.0;
    }, 5000));
    QCOMPARE(s.frame->windowTitle(), QString::fromUtf8("Styled — Orinel Reader"));
}

void ReadingTest::eachOpenFailureSaysWhy() {
    Session s;
    TempDir dir;
    const std::string noZip = dir.write("plain.epub", "This is not an archive at all.");
    const std::string noPackage = dir.path + "/nopackage.epub";
    QVERIFY(write_zip(noPackage, {{"mimetype", "application/epub+zip", tf::ZipEntry::kStored},
                                  {"c.xhtml", "<html><body><p>x</p></body></html>"}}));
    const std::string locked = dir.path + "/locked.epub";
    QVERIFY(write_zip(locked,
                      {{"mimetype", "application/epub+zip", tf::ZipEntry::kStored},
                       {"META-INF/container.xml", container()},
                       {"META-INF/encryption.xml",
                        "<?xml version=\"1.0\"?><encryption "
                        "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><EncryptedData "
                        "xmlns=\"http://www.w3.org/2001/04/xmlenc#\"><EncryptionMethod "
                        "Algorithm=\"http://www.w3.org/2001/04/xmlenc#aes128-cbc\"/><CipherData><CipherReference "
                        "URI=\"c.xhtml\"/></CipherData></EncryptedData></encryption>"},
                       {"content.opf", opf()},
                       {"c.xhtml", "\x13\x87\x02 scrambled bytes"}}));
    const std::string notFb2 = dir.write("page.fb2", "<html><body><p>a web page</p></body></html>");
    const std::string noBody =
        dir.write("nobody.fb2", "<?xml version=\"1.0\"?><FictionBook "
                                "xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\"><description><title-info>"
                                "<book-title>Empty</book-title></title-info></description></FictionBook>");
    struct Case {
        std::string path;
        const char* reason;
    } cases[] = {
        {dir.path + "/missing.epub", "The file is missing or cannot be read."},
        {noZip, "The file is not a zip archive."},
        {noPackage, "The book has no package document."},
        {locked, "The book is encrypted (DRM)."},
        {notFb2, "The file is not a FictionBook."},
        {noBody, "The book has no readable body."},
    };
    for (const Case& c : cases) {
        const QString name = QFileInfo(QString::fromStdString(c.path)).fileName();
        s.frame->openBook(QString::fromStdString(c.path));
        QVERIFY2(waitFor([&] { return s.settled() && s.frame->statusText().startsWith("Could not open " + name); }),
                 qPrintable(name + ": " + s.frame->statusText()));
        QCOMPARE(s.frame->statusText(), QString("Could not open %1: %2").arg(name, c.reason));
        QCOMPARE(s.frame->windowTitle(), QString("Orinel Reader"));
        QMessageBox* box = nullptr;
        QVERIFY(waitFor([&] {
            box = s.frame->findChild<QMessageBox*>("openFailedBox");
            return box && box->isVisible();
        }));
        QVERIFY2(box->text().contains(c.reason), qPrintable(box->text()));
        QVERIFY(box->text().contains(name));
        box->close();
        QVERIFY(waitFor([&] { return !s.frame->findChild<QMessageBox*>("openFailedBox"); }));
    }
}

QTEST_MAIN(ReadingTest)
#include "tst_reading.moc"
