#pragma once

#include <QWidget>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "readers/BaseReader.h"

class QLineEdit;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace litehtml {
class document;
}

namespace tf {

class ContentsPosition;
class HtmlWindow;

// The contents panel: the book's contents as a tree nested by depth, with a
// filter box above it. Lines are counted in the order of the book's contents
// (BaseReader::toc()); choosing one (click, Enter, or setCurrentLine) sends
// lineChosen. It follows the reading position of a view it watches: the
// lines of the chapter and the section being read are marked, their branches
// opened and the section kept in view. Window thread only.
class ContentsTree : public QWidget {
    Q_OBJECT
public:
    // Deeper contents are shown at this depth (books' nesting is untrusted).
    static constexpr unsigned kMaxDepth = 12;

    explicit ContentsTree(QWidget* parent = nullptr);
    ~ContentsTree() override;

    // Fills the tree; `depths` holds the depth of each line (missing: 0), `spine` the reading order.
    void setBook(const pair_list_t& toc, const std::vector<unsigned>& depths, const pair_list_t& spine);
    void clear();

    int count() const { return static_cast<int>(m_items.size()); }
    QString label(int line) const;
    int depth(int line) const;
    QTreeWidgetItem* itemOf(int line) const;
    // The line chosen last, or -1.
    int currentLine() const;
    // Chooses a line as a click does (lineChosen follows).
    void setCurrentLine(int line);

    // Follows `view`: the marks move as it scrolls and shows other pages.
    void watch(HtmlWindow* view);
    // Marks the lines of the place `view` shows now.
    void follow();
    // The marked chapter and section lines (-1: none).
    int readingChapter() const { return m_chapter; }
    int readingSection() const { return m_section; }

    void setFilter(const QString& text);
    QLineEdit* filterBox() const { return m_filter; }
    QTreeWidget* tree() const { return m_tree; }

signals:
    void lineChosen(int line);

private:
    void mark(int line, bool on);
    void applyFilter();

    QLineEdit* m_filter = nullptr;
    QTreeWidget* m_tree = nullptr;
    QTimer* m_followTimer = nullptr;
    HtmlWindow* m_view = nullptr;
    std::vector<QTreeWidgetItem*> m_items;
    std::unique_ptr<ContentsPosition> m_position;
    int m_chapter = -1;
    int m_section = -1;
    // Where the ids the contents point at lie in the page shown, found once per page.
    std::weak_ptr<litehtml::document> m_anchorsOf;
    std::string m_anchorsEntry;
    std::unordered_map<std::string, int> m_anchors;
};

} // namespace tf
