#include "RecentBooksMenu.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>

namespace tf {

RecentBooksMenu::RecentBooksMenu(Source source, QWidget* parent)
    : QMenu("Recent books", parent), source(std::move(source)) {
    setObjectName("recentBooks");
    setToolTipsVisible(true);
    connect(this, &QMenu::aboutToShow, this, &RecentBooksMenu::refresh);
}

void RecentBooksMenu::refresh() {
    clear();
    std::vector<std::pair<std::string, std::string>> books;
    if (source)
        books = source();
    if (books.size() > static_cast<size_t>(kCount))
        books.resize(kCount);
    for (const auto& book : books) {
        // Paths are the file system's bytes, titles UTF-8.
        const QString path = QFile::decodeName(QByteArray::fromStdString(book.first));
        QString label = QString::fromUtf8(book.second.data(), static_cast<qsizetype>(book.second.size())).simplified();
        if (label.isEmpty())
            label = QFileInfo(path).fileName();
        if (label.size() > kMaxLabel)
            label = label.left(kMaxLabel - 1) + QChar(0x2026);
        // "&" would mark a shortcut letter.
        QAction* act = addAction(label.replace('&', "&&"));
        act->setToolTip(path);
        act->setData(path);
        act->setEnabled(QFileInfo(path).isFile());
        connect(act, &QAction::triggered, this, [this, path] { emit bookChosen(path); });
    }
    if (books.empty())
        addAction("No books opened yet")->setEnabled(false);
}

} // namespace tf
