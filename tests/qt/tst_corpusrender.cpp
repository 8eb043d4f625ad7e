// Every sound EPUB and FictionBook of the corpus through the view the way
// orinel-render shows it: the cover page and every reading-order entry lay
// out and paint a page that is not blank, and a view that lays out only the
// top of long pages (as orinel-render does) paints that page pixel for pixel.

#include <QDir>
#include <QtTest>
#include <QTemporaryDir>

#include "ViewTestTools.h"
#include "corpus.h"
#include "readers/FB2Reader.h"

using namespace viewtest;

class TestCorpusRender : public QObject {
    Q_OBJECT

private slots:
    void coverAndEveryChapterPaint_data() {
        QTest::addColumn<QString>("file");
        const QDir dir(QString::fromStdString(corpus_path("")));
        for (const QString& name : dir.entryList({"*.epub", "*.fb2"}, QDir::Files, QDir::Name))
            if (!name.startsWith("broken-"))
                QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }

    void coverAndEveryChapterPaint() {
        QFETCH(QString, file);
        tf::HtmlWindow view;
        view.setFixedClientSize(QSize(800, 1000));
        const QRect page(0, 0, 800, 1000);
        QVERIFY(view.load_uri(tf::String(file.toStdString())));
        tf::HtmlWindow top;
        top.setFixedClientSize(page.size());
        top.set_preview_height(page.height());
        QVERIFY(top.load_uri(tf::String(file.toStdString())));
        std::string type;
        tf::pair_list_t spine;
        {
            auto lock = view.lockReader();
            QVERIFY(view.getReader() && view.getReader()->isOpen());
            type = view.getReader()->get_type();
            spine = view.getReader()->spine();
        }
        view.showCoverPage();
        QVERIFY(view.has_document());
        QVERIFY2(ink(view.renderImage(page), page) > 50, "cover page");

        QVERIFY(!spine.empty());
        for (size_t i = 0; i < spine.size(); ++i) {
            const auto before = view.document();
            view.load_uri(tf::String(type + "://" + spine[i].first));
            const QString where = QString("entry %1 (%2)").arg(i + 1).arg(QString::fromStdString(spine[i].first));
            QVERIFY2(view.document() != before, qPrintable(where + " did not load"));
            const QImage whole = view.renderImage(page);
            QVERIFY2(ink(whole, page) > 50, qPrintable(where + " is blank"));

            top.load_uri(tf::String(type + "://" + spine[i].first));
            QVERIFY2(top.renderImage(page) == whole, qPrintable(where + " differs when only its top is laid out"));
            QVERIFY(top.documentSize().height() <= view.documentSize().height());
        }
    }

    void longPageLaidOutFromItsTop() {
        // A FictionBook entry far longer than a screen (one long chapter).
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        std::string chapter;
        for (int i = 0; chapter.size() < tf::FB2Reader::kEntryBound / 2; ++i)
            chapter += "<p>Paragraph " + std::to_string(i) + " of a long chapter, with words enough to wrap a line "
                       "or two at this width and font size.</p>\n";
        const QString file = dir.filePath("long.fb2");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FictionBook><description/><body>"
                   "<section><title><p>One</p></title>" + chapter + "</section></body></FictionBook>")
                      .c_str());
        out.close();
        const QRect page(0, 0, 800, 1000);
        tf::HtmlWindow whole, top;
        top.set_preview_height(page.height());
        for (tf::HtmlWindow* view : {&whole, &top}) {
            view->setFixedClientSize(page.size());
            QVERIFY(view->load_uri(tf::String(file.toStdString())));
            view->load_uri(tf::String("fb2://section-1"));
            QVERIFY(view->has_document());
        }
        QVERIFY2(top.documentSize().height() * 2 < whole.documentSize().height(),
                 qPrintable(QString("%1 of %2 px laid out").arg(top.documentSize().height()).arg(whole.documentSize().height())));
        QVERIFY(top.documentSize().height() >= 2 * page.height());
        QCOMPARE(top.renderImage(page), whole.renderImage(page));
    }
};

QTEST_MAIN(TestCorpusRender)
#include "tst_corpusrender.moc"
