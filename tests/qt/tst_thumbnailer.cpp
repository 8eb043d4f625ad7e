// orinel-render --thumbnail as a file manager runs it: every sound corpus book
// gives a PNG no larger than the asked size that shows something; damaged
// books fail with a status other than 0 and leave no file, or give a picture;
// and no run touches the library.

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QHash>
#include <QTemporaryDir>
#include <QtTest>

#include "ZipBuilder.h"
#include "corpus.h"
#include "utility/text.h"

namespace {

struct Run {
    int code = -1;
    bool crashed = false;
    QString errors;
};

// Whether a library (its folder or database) exists anywhere below `dir`.
// Other files may appear there (a font cache, say) without harm.
bool holdsALibrary(const QString& dir) {
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = QFileInfo(it.next()).fileName();
        if (name == "OrinelReader" || name.startsWith("data.db"))
            return true;
    }
    return false;
}

// Runs the thumbnailer with a fresh data folder and home; `untouched` says
// whether neither holds a library afterwards.
Run thumbnail(const QStringList& args, bool* untouched = nullptr) {
    QTemporaryDir data, home;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", data.path());
    env.insert("HOME", home.path());
    // A file manager's session names a platform the sandboxed thumbnailer cannot reach.
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    p.setProcessEnvironment(env);
    p.setProgram(ORINEL_RENDER_BIN);
    p.setArguments(QStringList{"--thumbnail"} + args);
    p.start();
    Run r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        r.crashed = true;
        return r;
    }
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.code = p.exitCode();
    r.errors = QString::fromUtf8(p.readAllStandardError());
    if (untouched) {
        *untouched = !holdsALibrary(data.path()) && !holdsALibrary(home.path());
    }
    return r;
}

QString corpus(const QString& name) {
    return QString::fromStdString(corpus_path(name.toStdString()));
}

QStringList corpusBooks(bool damaged) {
    QStringList out;
    const QDir dir(corpus(""));
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        if (name == "MANIFEST.tsv" || name == "README.md")
            continue;
        if (name.startsWith("broken-") == damaged)
            out << name;
    }
    return out;
}

// A picture that shows something: more than one colour, and not all but a
// few pixels of the most common one.
bool showsSomething(const QImage& image) {
    QHash<QRgb, int> counts;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            ++counts[row[x]];
    }
    int most = 0;
    for (int n : counts)
        most = std::max(most, n);
    const int pixels = rgb.width() * rgb.height();
    return counts.size() > 1 && most < pixels - pixels / 100;
}

} // namespace

class TestThumbnailer : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void everySoundBookGivesAPicture_data() {
        QTest::addColumn<QString>("book");
        QTest::addColumn<int>("size");
        const QStringList books = corpusBooks(false);
        QVERIFY(books.size() >= 10);
        // Each book at one of the freedesktop sizes (normal, large); every
        // cover of the corpus is larger than both.
        for (int i = 0; i < books.size(); ++i)
            QTest::newRow(qPrintable(books[i])) << corpus(books[i]) << (i % 2 ? 256 : 128);

        // A zipped FictionBook and an EPUB whose name does not tell its format.
        const std::string fb2 = corpus_path("fb2-fbe-script-description-cp1251.fb2");
        const std::string zipped = m_dir.filePath("book.fb2.zip").toStdString();
        std::string text;
        tf::file_get_contents(fb2, text);
        QVERIFY(!text.empty());
        QVERIFY(write_zip(zipped, {{"book.fb2", text}}));
        QTest::newRow("zipped FictionBook") << QString::fromStdString(zipped) << 128;
        const QString nameless = m_dir.filePath("download-1234");
        QVERIFY(QFile::copy(corpus("epub2-pg11-alice.epub"), nameless));
        QTest::newRow("EPUB without ending") << nameless << 256;
    }
    void everySoundBookGivesAPicture() {
        QFETCH(QString, book);
        QFETCH(int, size);
        const QString out = m_dir.filePath(QFileInfo(book).fileName() + ".png");
        bool untouched = false;
        const Run r = thumbnail({QString::number(size), book, out}, &untouched);
        QVERIFY2(!r.crashed && r.code == 0, qPrintable(r.errors.right(2000)));
        QVERIFY2(untouched, "the thumbnailer made a library");
        QImage image;
        QVERIFY(image.load(out, "PNG"));
        QVERIFY2(image.width() <= size && image.height() <= size,
                 qPrintable(QString("%1x%2 for %3").arg(image.width()).arg(image.height()).arg(size)));
        // Covers and pages are larger than these sizes: the longer side is filled.
        QCOMPARE(std::max(image.width(), image.height()), size);
        QVERIFY2(showsSomething(image), "a blank picture");
    }

    void damagedBooksFailOrGiveAPicture() {
        const QStringList books = corpusBooks(true);
        QVERIFY(!books.isEmpty());
        for (const QString& name : books) {
            const QString out = m_dir.filePath(name + ".png");
            const Run r = thumbnail({"128", corpus(name), out});
            QVERIFY2(!r.crashed, qPrintable(name));
            if (r.code != 0) {
                QVERIFY2(!QFile::exists(out), qPrintable(name + ": a failed run left a file"));
                QVERIFY2(r.errors.contains("orinel-render: no thumbnail for"), qPrintable(r.errors.right(500)));
                continue;
            }
            QImage image;
            QVERIFY2(image.load(out, "PNG"), qPrintable(name));
            QVERIFY(image.width() <= 128 && image.height() <= 128);
            QVERIFY2(showsSomething(image), qPrintable(name));
        }
        // Nothing at all can be read from a zip without its directory.
        const QString cut = m_dir.filePath("cut.png");
        QVERIFY(thumbnail({"128", corpus("broken-made-truncated-pg1661.epub"), cut}).code != 0);
        QVERIFY(!QFile::exists(cut));
    }

    void badRequestsFail_data() {
        QTest::addColumn<QStringList>("args");
        const QString book = corpus("epub2-pg11-alice.epub");
        const QString out = m_dir.filePath("bad.png");
        QTest::newRow("size 0") << QStringList{"0", book, out};
        QTest::newRow("size too large") << QStringList{"5000", book, out};
        QTest::newRow("size not a number") << QStringList{"big", book, out};
        QTest::newRow("no output") << QStringList{"128", book};
        QTest::newRow("missing book") << QStringList{"128", m_dir.filePath("none.epub"), out};
        QTest::newRow("not a book") << QStringList{"128", corpus("MANIFEST.tsv"), out};
        QTest::newRow("folder") << QStringList{"128", m_dir.path(), out};
        QTest::newRow("unwritable output") << QStringList{"128", book, m_dir.filePath("no/such/dir/x.png")};
    }
    void badRequestsFail() {
        QFETCH(QStringList, args);
        const Run r = thumbnail(args);
        QVERIFY(!r.crashed);
        QVERIFY(r.code != 0);
        QVERIFY(!QFile::exists(m_dir.filePath("bad.png")));
    }

    void smallCoversAreNotEnlarged() {
        // An FB2 whose cover is a 20x30 picture.
        QImage small(20, 30, QImage::Format_RGB32);
        small.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(small.save(&buffer, "PNG"));
        const QByteArray fb2 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
                               "xmlns:l=\"http://www.w3.org/1999/xlink\"><description><title-info>"
                               "<book-title>Small</book-title><coverpage><image l:href=\"#c.png\"/></coverpage>"
                               "</title-info></description><body><section><p>Text</p></section></body>"
                               "<binary id=\"c.png\" content-type=\"image/png\">" +
                               png.toBase64() + "</binary></FictionBook>";
        QFile file(m_dir.filePath("small.fb2"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(fb2);
        file.close();
        const QString out = m_dir.filePath("small.png");
        QCOMPARE(thumbnail({"256", file.fileName(), out}).code, 0);
        QImage image;
        QVERIFY(image.load(out, "PNG"));
        QCOMPARE(image.size(), QSize(20, 30));
        QCOMPARE(image.pixel(10, 15), qRgb(255, 0, 0));
    }
};

QTEST_GUILESS_MAIN(TestThumbnailer)
#include "tst_thumbnailer.moc"
