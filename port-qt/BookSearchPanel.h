#pragma once

#include <QWidget>

#include "src/BookSearch.h"

class QLabel;
class QListWidget;

namespace tf {

// The list of whole-book search results: one line per match with the title
// of its chapter and about forty characters of context on either side, the
// match in bold; a summary line above ("12 matches in 3 chapters", "Searching
// ..."). Results are appended as the search finds them. Picking a line
// (click, Enter) sends picked(row); rows count from 0 in the order added.
class BookSearchPanel : public QWidget {
    Q_OBJECT
public:
    explicit BookSearchPanel(QWidget* parent = nullptr);

    void clear();
    void setSummary(const QString& text);
    QString summary() const;
    void addHit(const QString& chapterTitle, const BookSearch::Hit& hit);
    int count() const;
    // Selects a row without sending picked().
    void setCurrentRow(int row);
    int currentRow() const;
    // The rich text of a row (title, context, match in <b>).
    QString rowHtml(int row) const;
    QListWidget* list() const { return m_list; }

signals:
    void picked(int row);

private:
    QLabel* m_summary = nullptr;
    QListWidget* m_list = nullptr;
};

} // namespace tf
