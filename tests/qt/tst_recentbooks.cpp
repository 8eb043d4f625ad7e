// The Open button's drop-down: the library's last ten books, newest first;
// a line opens its book, a book whose file is gone cannot be chosen.

#include <QAction>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include "MainFrameTestSupport.h"
#include "RecentBooksMenu.h"

using test::Session;

namespace {

std::string book(const char* name) {
    return QFileInfo(QString::fromStdString(corpus_path(name))).absoluteFilePath().toStdString();
}

} // namespace

class TestRecentBooks : public QObject {
    Q_OBJECT

private slots:
    void openButtonListsTheLastTenBooks() {
        Session s;
        QVERIFY(s.exposed);
        auto* button = qobject_cast<QToolButton*>(
            s.frame->getToolSet()->widgetForAction(s.frame->action(tf::MainFrame::CMD_FILE_OPEN)));
        QVERIFY(button);
        QCOMPARE(button->popupMode(), QToolButton::MenuButtonPopup);
        auto* menu = qobject_cast<tf::RecentBooksMenu*>(button->menu());
        QVERIFY(menu);

        // An empty library: one line that says so and does nothing.
        menu->refresh();
        QCOMPARE(menu->actions().size(), 1);
        QVERIFY(!menu->actions()[0]->isEnabled());

        tf::DataHelper* library = s.frame->getLibrary();
        const std::string holmes = book("epub2-pg1661-sherlock-holmes.epub");
        const std::string alice = book("epub2-pg11-alice.epub");
        QVERIFY(library->addNewFile(tf::String(holmes), tf::String("Holmes & Watson"), tf::String("")));
        for (int i = 0; i < 9; ++i)
            QVERIFY(library->addNewFile(tf::String("/gone/" + std::to_string(i) + ".epub"),
                                        tf::String("Gone " + std::to_string(i)), tf::String("")));
        QVERIFY(library->addNewFile(tf::String(alice), tf::String(""), tf::String("")));

        menu->refresh();
        const QList<QAction*> lines = menu->actions();
        QCOMPARE(lines.size(), tf::RecentBooksMenu::kCount);
        // Newest first; a book without a title shows its file name.
        QCOMPARE(lines[0]->text(), QString("epub2-pg11-alice.epub"));
        QVERIFY(lines[0]->isEnabled());
        for (int i = 1; i < 10; ++i) {
            QCOMPARE(lines[i]->text(), QString("Gone %1").arg(9 - i));
            QVERIFY(!lines[i]->isEnabled());
        }
        // The eleventh book, Holmes, is not listed.
        for (QAction* line : lines)
            QVERIFY(!line->toolTip().contains("holmes"));

        // With Alice removed, Holmes is the tenth.
        library->removeFile(tf::String(alice));
        menu->refresh();
        QCOMPARE(menu->actions().size(), tf::RecentBooksMenu::kCount);
        QAction* last = menu->actions().back();
        // "&" is shown as it is, not taken for a shortcut mark.
        QCOMPARE(last->text(), QString("Holmes && Watson"));
        QCOMPARE(last->toolTip(), QString::fromStdString(holmes));
        last->trigger();
        QVERIFY(s.waitLoaded(holmes));
    }
};

QTEST_MAIN(TestRecentBooks)
#include "tst_recentbooks.moc"
