// The main window on a screen scaled by 2: the window paints its pages and
// its tool bar pictures at twice the pixels instead of blowing them up. (Qt
// crashed here when the window showed its progress bar from inside a paint.)

#include <QAction>
#include <QToolBar>
#include <QWindow>

#include "MainFrameTestSupport.h"

using test::Session;

class MainFrameHiDpiTest : public QObject {
    Q_OBJECT
private slots:
    void paintsPagesAndSharpIconsAtScale2();
};

void MainFrameHiDpiTest::paintsPagesAndSharpIconsAtScale2() {
    Session s;
    QCOMPARE(s.frame->devicePixelRatioF(), 2.0);
    QVERIFY(s.exposed);

    const std::string path =
        QFileInfo(QString::fromStdString(corpus_path("epub2-pg11-alice.epub"))).absoluteFilePath().toStdString();
    QVERIFY(s.open(path));
    QTest::keyClick(s.view(), Qt::Key_Right, Qt::ControlModifier);
    QTest::keyClick(s.view(), Qt::Key_Right, Qt::ControlModifier);
    QVERIFY(s.waitSettled());
    QVERIFY(s.view()->documentSize().height() > 0);
    s.frame->onFileClose();
    QVERIFY(s.waitSettled());
    QVERIFY(s.view()->isHomePageShown());

    // Every tool bar picture is drawn for the scaled screen: 64 device pixels for 32.
    for (QAction* action : s.frame->getToolSet()->actions()) {
        // The theme chooser is a widget on the bar, not a picture.
        if (s.frame->getToolSet()->widgetForAction(action))
            continue;
        const QPixmap pixmap = action->icon().pixmap(QSize(32, 32), s.frame->devicePixelRatioF());
        QCOMPARE(pixmap.devicePixelRatio(), 2.0);
        QCOMPARE(pixmap.size(), QSize(64, 64));
    }
}

int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    MainFrameHiDpiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainframe_hidpi.moc"
