// Every sound EPUB and FictionBook of the corpus through the view the way
// orinel-render shows it: the cover page and every reading-order entry lay
// out and paint a page that is not blank.

#include <QDir>
#include <QtTest>

#include "ViewTestTools.h"
#include "corpus.h"

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
            QVERIFY2(ink(view.renderImage(page), page) > 50, qPrintable(where + " is blank"));
        }
    }
};

QTEST_MAIN(TestCorpusRender)
#include "tst_corpusrender.moc"
