// Chapter steps, zooms and contents picks as fast as keys can go while the
// window paints: loads and paints meet on the view without a crash, and the
// window ends on the chapter the last request asked for. Also run under
// ThreadSanitizer (scripts/tsan-tests).

#include "ContentsTree.h"

#include "MainFrameTestSupport.h"
#include "utility/URI.h"

using test::Session;

class MainFrameStressTest : public QObject {
    Q_OBJECT
private slots:
    void stepsChaptersQuicklyWhilePainting();
    void closesWhileALoadRuns();
};

void MainFrameStressTest::stepsChaptersQuicklyWhilePainting() {
    Session s;
    const std::string path = QFileInfo(QString::fromStdString(corpus_path("epub3-idpf-moby-dick.epub")))
                                 .absoluteFilePath()
                                 .toStdString();
    const test::BookFacts facts = test::readBook("epub", path);
    QVERIFY(facts.spine.size() > 40);
    QVERIFY(s.open(path));

    // Forward 30 chapters, back 10, with paints, scrolls and zooms in between.
    int expected = -1;
    for (int i = 0; i < 40; ++i) {
        const bool back = i >= 30;
        QTest::keyClick(s.view(), back ? Qt::Key_Left : Qt::Key_Right, Qt::ControlModifier);
        expected += back ? -1 : 1;
        s.view()->viewport()->repaint();
        if (i % 5 == 0)
            QTest::keyClick(s.view(), Qt::Key_Down);
        if (i % 9 == 0)
            QTest::keyClick(s.view(), i % 2 ? Qt::Key_Down : Qt::Key_Up, Qt::ControlModifier);
        QApplication::processEvents();
    }
    QVERIFY(s.waitAddress(test::epubAddress(facts.spine[static_cast<size_t>(expected)].first)));
    QVERIFY(s.view()->documentSize().height() > 0);

    // Contents picks in a burst: the last one wins.
    tf::ContentsTree* list = s.frame->getContentsTree();
    QVERIFY(list->count() > 10);
    for (int row = 0; row < 10; ++row) {
        list->setCurrentLine(row);
        s.view()->viewport()->repaint();
    }
    const tf::URI target(test::epubAddress(facts.toc[9].first));
    QVERIFY(test::waitFor([&] {
        return s.settled() && tf::URI(s.view()->current_address()).m_path == target.m_path;
    }));
}

void MainFrameStressTest::closesWhileALoadRuns() {
    for (int round = 0; round < 3; ++round) {
        Session s;
        const std::string path = QFileInfo(QString::fromStdString(corpus_path("epub3-idpf-moby-dick.epub")))
                                     .absoluteFilePath()
                                     .toStdString();
        QVERIFY(s.open(path));
        for (int i = 0; i <= round; ++i)
            QTest::keyClick(s.view(), Qt::Key_Right, Qt::ControlModifier);
        if (round == 1) {
            // The book's Close waits for the load, then shows the home page for good.
            s.frame->onFileClose();
            QVERIFY(s.waitSettled());
            QVERIFY(s.view()->isHomePageShown());
        }
        // Otherwise the window goes while the chapter is still loading.
    }
}

QTEST_MAIN(MainFrameStressTest)
#include "tst_mainframe_stress.moc"
