// orinel-render as a user runs it: pages as PNG files, the printed text,
// contents and book facts, and one clear error line for every bad input.

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QtTest>

#include <functional>
#include <memory>

#include "ViewTestTools.h"
#include "corpus.h"
#include "readers/EPUBReader.h"
#include "readers/xhtml/XmlDoc.h"
#include "utility/text.h"
#include "src/BookSearch.h"
#include "src/BookTextCache.h"

using namespace viewtest;

namespace {

struct Run {
    int code = -1;
    bool crashed = false;
    QString out;
    QStringList errors; // stderr lines from the program itself (not log lines)
};

Run render(const QStringList& args) {
    QProcess p;
    p.setProgram(ORINEL_RENDER_BIN);
    p.setArguments(args);
    p.start();
    Run r;
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
        r.crashed = true;
        return r;
    }
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    for (const QString& line : QString::fromUtf8(p.readAllStandardError()).split('\n'))
        if (line.startsWith("orinel-render:"))
            r.errors << line;
    return r;
}

QString book(const char* name) {
    return QString::fromStdString(corpus_path(name));
}

// Words parted by any white space (no-break spaces too: the plain-text
// conversion of the source turns them into spaces).
QStringList words(const QString& text) {
    static const QRegularExpression space("\\s+", QRegularExpression::UseUnicodePropertiesOption);
    return text.split(space, Qt::SkipEmptyParts);
}

} // namespace

class TestOrinelRender : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString out(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void coverAndChapterArePagesOfTheAskedSize_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QSize>("size");
        QTest::newRow("cover, defaults") << QStringList{} << QSize(800, 1000);
        QTest::newRow("chapter, other size") << QStringList{"--chapter", "3", "--width", "600", "--height", "700"}
                                             << QSize(600, 700);
        QTest::newRow("entry by name") << QStringList{"--entry", "OEBPS/8860606395858576540_11-h-2.htm.html"}
                                       << QSize(800, 1000);
        QTest::newRow("bigger font") << QStringList{"--chapter", "2", "--font-size", "32"} << QSize(800, 1000);
    }

    void coverAndChapterArePagesOfTheAskedSize() {
        QFETCH(QStringList, args);
        QFETCH(QSize, size);
        const QString png = out("page.png");
        QFile::remove(png);
        const Run r = render(args + QStringList{"-o", png, book("epub2-pg11-alice.epub")});
        QVERIFY(!r.crashed);
        QCOMPARE(r.code, 0);
        QVERIFY(r.errors.isEmpty());
        const QImage image(png);
        QCOMPARE(image.size(), size);
        QVERIFY(ink(image, image.rect()) > 2000);
    }

    void fullChapterHoldsEveryWordOfIt() {
        std::string source, entry;
        {
            tf::EPUBReader reader;
            QVERIFY(reader.open(corpus_path("epub2-pg11-alice.epub")) && reader.parse());
            entry = reader.spine().at(2).first;
            reader.get_entry(entry, source);
        }
        const QString html = QString::fromStdString(source);
        const QString body = html.mid(html.indexOf("<body"));
        const QStringList expected = words(QTextDocumentFragment::fromHtml(body).toPlainText());
        QVERIFY(expected.size() > 1000);

        const QString png = out("full.png");
        const Run r = render({"--chapter", "3", "--full", "--text", "-o", png, book("epub2-pg11-alice.epub")});
        QCOMPARE(r.code, 0);
        QCOMPARE(words(r.out), expected);
        const QImage image(png);
        QCOMPARE(image.width(), 800);
        QVERIFY(image.height() > 4000);
        // The end of the chapter is painted too.
        QVERIFY(ink(image, QRect(0, image.height() - 1500, 800, 1500)) > 1000);
        // Without --full only the first page's text.
        const Run page = render({"--chapter", "3", "--text", book("epub2-pg11-alice.epub")});
        QVERIFY(words(page.out).size() < expected.size() / 2);
        QCOMPARE(words(page.out), expected.mid(0, words(page.out).size()));
    }

    // Every body of every sound corpus FictionBook is painted across its
    // entries; the words come from the file read on its own.
    void everyFictionBookBodyIsPaintedAcrossItsEntries() {
        for (const char* name : {"fb2-fb2cng-_Test.fb2", "fb2-fb2document-_Test_1-en.fb2",
                                 "fb2-fbe-script-description-cp1251.fb2", "fb2-wolnelektury-asnyk-no-description.fb2"}) {
            std::string bytes;
            tf::file_get_contents(corpus_path(name), bytes);
            std::unique_ptr<tf::XmlDoc> doc(new tf::XmlDoc(bytes));
            const std::string encoding = tf::str2lower(doc->encoding());
            if (!encoding.empty() && encoding != "utf-8") {
                // Decoded as it stands (the document's own copy would print it anew, indented).
                QStringDecoder decode(encoding.c_str());
                QVERIFY(decode.isValid());
                const QString text = decode(QByteArray::fromStdString(bytes));
                doc.reset(new tf::XmlDoc(text.toStdString()));
            }
            QVERIFY(doc && doc->root_node() && !doc->root_node()->isEmpty());
            // Text as the book writes it: inline elements join their
            // neighbours, everything else stands apart.
            QString source;
            std::function<void(const rapidxml::xml_node<char>*)> collect = [&](const rapidxml::xml_node<char>* n) {
                for (auto* c = n->first_node(); c; c = c->next_sibling()) {
                    if (c->type() == rapidxml::node_data || c->type() == rapidxml::node_cdata) {
                        source += QString::fromUtf8(c->value(), int(c->value_size()));
                        continue;
                    }
                    const QString tag = QString::fromUtf8(c->name(), int(c->name_size()));
                    static const QStringList inlines{"emphasis", "strong", "a", "strikethrough", "sub",
                                                     "sup",      "code",   "style"};
                    const bool block = !inlines.contains(tag);
                    if (block)
                        source += ' ';
                    collect(c);
                    if (block)
                        source += ' ';
                }
            };
            for (auto* n = doc->root_node()->getNode()->first_node(); n; n = n->next_sibling())
                if (std::string(n->name(), n->name_size()) == "body")
                    collect(n);

            const Run info = render({"--info", book(name)});
            QCOMPARE(info.code, 0);
            const QRegularExpressionMatch spine = QRegularExpression("spine: (\\d+)").match(info.out);
            QVERIFY(spine.hasMatch());
            QString painted;
            for (int n = 1; n <= spine.captured(1).toInt(); ++n) {
                // Wide enough for the widest table (nine columns) to stand whole.
                const Run page = render(
                    {"--chapter", QString::number(n), "--full", "--width", "1600", "--text", book(name)});
                QCOMPARE(page.code, 0);
                painted += page.out + " ";
            }
            // Words are compared as the page joins them: runs split at element
            // edges may join differently, so whole words are looked up.
            QHash<QString, int> shown;
            for (const QString& word : words(painted))
                ++shown[word];
            int found = 0;
            const QStringList wanted = words(source);
            QStringList missing;
            for (const QString& word : wanted) {
                if (shown.value(word) > 0) {
                    --shown[word];
                    ++found;
                } else if (missing.size() < 20) {
                    missing << word;
                }
            }
            const double recall = wanted.isEmpty() ? 0 : double(found) / wanted.size();
            QVERIFY2(recall >= 0.995, qPrintable(QString("%1: %2 of %3 words painted; not: %4")
                                                     .arg(name)
                                                     .arg(found)
                                                     .arg(wanted.size())
                                                     .arg(missing.join(' '))));
        }
    }

    void infoAndContents() {
        const Run r = render({"--info", "--toc", book("epub2-pg11-alice.epub")});
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 4);
        QCOMPARE(lines.at(0), QString("title: Alice's Adventures in Wonderland"));
        QCOMPARE(lines.at(1), QString("format: epub"));
        QCOMPARE(lines.at(2), QString("spine: 15"));
        QCOMPARE(lines.at(3), QString("contents: 16"));
        const QStringList toc = lines.mid(4);
        QCOMPARE(toc.size(), 16);
        QCOMPARE(toc.at(3).split('\t').mid(0, 2), (QStringList{"0", "CHAPTER I. Down the Rabbit-Hole"}));

        // A FictionBook: an entry per top-level section and further body,
        // contents nested, each entry rendered by its number.
        const Run fb2 = render({"--info", "--toc", book("fb2-fb2cng-_Test.fb2")});
        QCOMPARE(fb2.code, 0);
        QVERIFY(fb2.out.contains("format: fb2\n"));
        const QStringList fb2Lines = fb2.out.split('\n', Qt::SkipEmptyParts);
        const int entries = fb2Lines.at(2).mid(QString("spine: ").size()).toInt();
        QVERIFY2(entries > 3, qPrintable(fb2Lines.at(2)));
        int deepest = 0;
        for (const QString& line : fb2Lines.mid(4))
            deepest = std::max(deepest, line.split('\t').at(0).toInt());
        QVERIFY(deepest > 1);
        QVERIFY(fb2.out.contains("\tnotes\n"));
        const Run last = render({"--chapter", QString::number(entries), "--text", book("fb2-fb2cng-_Test.fb2")});
        QCOMPARE(last.code, 0);
        QVERIFY(!last.out.trimmed().isEmpty());
        QCOMPARE(render({"--chapter", QString::number(entries + 1), "--text", book("fb2-fb2cng-_Test.fb2")}).code, 5);
    }

    void searchPrintsEveryMatchInReadingOrder() {
        const Run r = render({"--search", "White  WHALE", book("epub3-idpf-moby-dick.epub")});
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        std::unique_ptr<tf::BookTextCache> text = tf::BookTextCache::open(corpus_path("epub3-idpf-moby-dick.epub"));
        QVERIFY(text);
        size_t expected = 0;
        tf::BookSearch::run(*text, "white whale", {}, [&](size_t, std::vector<tf::BookSearch::Hit>& hits) {
            expected += hits.size();
            return true;
        });
        QVERIFY(expected > 50);
        QCOMPARE(static_cast<size_t>(lines.size()), expected);
        static const QRegularExpression form("^(\\d+)\t(\\d+)\t([^\t]*white whale[^\t]*)$",
                                             QRegularExpression::CaseInsensitiveOption);
        long lastEntry = 0, lastOffset = -1;
        for (const QString& line : lines) {
            const auto m = form.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            const long entry = m.captured(1).toLong(), offset = m.captured(2).toLong();
            QVERIFY(entry > lastEntry || (entry == lastEntry && offset > lastOffset));
            lastEntry = entry;
            lastOffset = offset;
        }
        // The entry number is the one --chapter shows.
        const QString first = lines.first().section('\t', 0, 0);
        const Run page = render({"--chapter", first, "--full", "--text", book("epub3-idpf-moby-dick.epub")});
        QCOMPARE(page.code, 0);
        QVERIFY(words(page.out).join(' ').contains("white whale", Qt::CaseInsensitive));

        const Run none = render({"--search", "zzqx no such phrase", book("epub3-idpf-moby-dick.epub")});
        QCOMPARE(none.code, 0);
        QVERIFY(none.out.isEmpty());
        const Run exact = render({"--search", "White Whale", "--exact", book("epub3-idpf-moby-dick.epub")});
        QCOMPARE(exact.code, 0);
        QVERIFY(exact.out.split('\n', Qt::SkipEmptyParts).size() < lines.size());
        const Run single = render({"--search", "abasement", book("xhtml-se-devils-dictionary-a.xhtml")});
        QCOMPARE(single.code, 0);
        QVERIFY(single.out.startsWith("1\t"));
        QVERIFY(render({"--search", "x", book("broken-made-truncated-pg1661.epub")}).code != 0);
    }

    void singleFilesAreTheirOwnPage_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("svg") << book("svg-idpf-Tsuru_wiki-1b.svg");
        QTest::newRow("xhtml") << book("xhtml-se-devils-dictionary-a.xhtml");
    }

    void singleFilesAreTheirOwnPage() {
        QFETCH(QString, file);
        const QString png = out("single.png");
        QFile::remove(png);
        const Run r = render({"-o", png, file});
        QCOMPARE(r.code, 0);
        QVERIFY(ink(QImage(png), QRect(0, 0, 800, 1000)) > 2000);
        QCOMPARE(render({"--chapter", "1", "-o", png, file}).code, 0);
        QVERIFY(render({"--chapter", "2", "-o", png, file}).code != 0);
    }

    void badInputEndsWithOneClearError_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        const QString png = out("never.png");
        QTest::newRow("missing file") << QStringList{"-o", png, "/nonexistent/book.epub"} << "no such file";
        QTest::newRow("not a book") << QStringList{"-o", png, QString(ORINEL_SOURCE_DIR) + "/CMakeLists.txt"}
                                    << "not a book";
        QTest::newRow("truncated zip") << QStringList{"-o", png, book("broken-made-truncated-pg1661.epub")}
                                       << "cannot open";
        QTest::newRow("no container") << QStringList{"-o", png, book("broken-made-no-container-pg11.epub")}
                                       << "cannot open";
        QTest::newRow("chapter 0") << QStringList{"--chapter", "0", "-o", png, book("epub2-pg11-alice.epub")}
                                   << "no such chapter";
        QTest::newRow("chapter past the end")
            << QStringList{"--chapter", "16", "-o", png, book("epub2-pg11-alice.epub")} << "no such chapter";
        QTest::newRow("unknown entry") << QStringList{"--entry", "OEBPS/nothing.html", "-o", png,
                                                      book("epub2-pg11-alice.epub")}
                                       << "cannot show entry";
        QTest::newRow("bad width") << QStringList{"--width", "wide", "-o", png, book("epub2-pg11-alice.epub")}
                                   << "--width";
        QTest::newRow("unknown theme") << QStringList{"--theme", "purple", "-o", png, book("epub2-pg11-alice.epub")}
                                       << "--theme wants light, sepia or dark";
        QTest::newRow("unknown line width")
            << QStringList{"--line-width", "huge", "-o", png, book("epub2-pg11-alice.epub")}
            << "--line-width wants narrow, medium, wide or full";
        QTest::newRow("no output") << QStringList{book("epub2-pg11-alice.epub")} << "no output";
        QTest::newRow("no book") << QStringList{"-o", png} << "BOOK";
        QTest::newRow("both chapter and entry")
            << QStringList{"--chapter", "1", "--entry", "x", "-o", png, book("epub2-pg11-alice.epub")} << "exclude";
        QTest::newRow("unknown option") << QStringList{"--colour", "-o", png, book("epub2-pg11-alice.epub")}
                                        << "colour";
    }

    void badInputEndsWithOneClearError() {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        QFile::remove(out("never.png"));
        const Run r = render(args);
        QVERIFY(!r.crashed);
        QVERIFY(r.code != 0);
        QCOMPARE(r.errors.size(), 1);
        QVERIFY2(r.errors.front().contains(says), qPrintable(r.errors.front()));
        QVERIFY(!QFile::exists(out("never.png")));
    }

    void damagedBooksShowWhatIsSoundAndRefuseTheRest_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("bad CRC in a chapter") << book("broken-made-bad-crc-pg11.epub");
        QTest::newRow("chapter missing from the zip") << book("broken-made-missing-spine-doc-pg1661.epub");
    }

    void damagedBooksShowWhatIsSoundAndRefuseTheRest() {
        QFETCH(QString, file);
        const QString png = out("damaged.png");
        QCOMPARE(render({"-o", png, file}).code, 0);
        int refused = 0;
        for (int n = 1; n <= 15; ++n) {
            QFile::remove(png);
            const Run r = render({"--chapter", QString::number(n), "-o", png, file});
            QVERIFY(!r.crashed);
            if (r.code == 0) {
                QVERIFY(ink(QImage(png), QRect(0, 0, 800, 1000)) > 0);
            } else {
                ++refused;
                QCOMPARE(r.errors.size(), 1);
                QVERIFY(!QFile::exists(png));
            }
        }
        QCOMPARE(refused, 1);
    }
};

QTEST_MAIN(TestOrinelRender)
#include "tst_orinelrender.moc"
