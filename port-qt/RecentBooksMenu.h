#pragma once

#include <QMenu>
#include <QString>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tf {

// The drop-down under the Open button: the library's last kCount books,
// newest first, asked for afresh each time it opens. Each line is the book's
// title (its file name when it has none) with the path as tool tip; a book
// whose file is gone is shown but cannot be chosen. Choosing a line emits
// bookChosen with the book's path. Window thread only.
class RecentBooksMenu : public QMenu {
    Q_OBJECT
public:
    static constexpr int kCount = 10;
    static constexpr int kMaxLabel = 60; // characters before the title is cut with an ellipsis

    // (path bytes, UTF-8 title) of the books to list, newest first.
    using Source = std::function<std::vector<std::pair<std::string, std::string>>()>;

    RecentBooksMenu(Source source, QWidget* parent = nullptr);

    // Lists the books again (done by itself before the menu shows).
    void refresh();

signals:
    void bookChosen(const QString& path);

private:
    Source source;
};

} // namespace tf
