#include "ContentsTree.h"

#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_set>

#include "HtmlWindow.h"
#include "src/ContentsPosition.h"
#include "utility/URI.h"

namespace tf {

namespace {

constexpr int kLineRole = Qt::UserRole;
constexpr int kFollowDelayMs = 60;

} // namespace

ContentsTree::ContentsTree(QWidget* parent) : QWidget(parent) {
    setObjectName("contentsTree");
    m_filter = new QLineEdit(this);
    m_filter->setObjectName("contentsFilter");
    m_filter->setPlaceholderText("Filter contents");
    m_filter->setClearButtonEnabled(true);
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName("contentsList");
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setUniformRowHeights(true);
    // Long labels end in an ellipsis (the whole label is the line's tool tip).
    m_tree->setTextElideMode(Qt::ElideRight);
    m_tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tree->setIndentation(14);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(m_filter);
    layout->addWidget(m_tree, 1);

    m_followTimer = new QTimer(this);
    m_followTimer->setSingleShot(true);
    m_followTimer->setInterval(kFollowDelayMs);
    connect(m_followTimer, &QTimer::timeout, this, &ContentsTree::follow);

    connect(m_filter, &QLineEdit::textChanged, this, &ContentsTree::applyFilter);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item)
            emit lineChosen(item->data(0, kLineRole).toInt());
    });
    connect(m_tree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (item)
            emit lineChosen(item->data(0, kLineRole).toInt());
    });
}

ContentsTree::~ContentsTree() = default;

void ContentsTree::setBook(const pair_list_t& toc, const std::vector<unsigned>& depths, const pair_list_t& spine) {
    clear();
    const QSignalBlocker blocker(m_tree);
    m_position = std::make_unique<ContentsPosition>(toc, spine);
    // The last item at each depth: a line hangs under the last one less deep.
    std::vector<QTreeWidgetItem*> parents;
    QList<QTreeWidgetItem*> top;
    m_items.reserve(toc.size());
    for (size_t i = 0; i < toc.size(); ++i) {
        const std::string& text = toc[i].second;
        const QString label = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        unsigned depth = std::min(i < depths.size() ? depths[i] : 0u, kMaxDepth);
        // A line cannot be deeper than one below the line before it.
        depth = std::min(depth, static_cast<unsigned>(parents.size()));
        parents.resize(depth);
        auto* item = depth == 0 ? new QTreeWidgetItem() : new QTreeWidgetItem(parents.back());
        item->setText(0, label);
        item->setToolTip(0, label);
        item->setData(0, kLineRole, static_cast<int>(i));
        if (depth == 0)
            top.append(item);
        parents.push_back(item);
        m_items.push_back(item);
    }
    m_tree->addTopLevelItems(top);
    applyFilter();
    // Not now: the caller may hold the reader's lock, and following takes the page's.
    m_followTimer->start();
}

void ContentsTree::clear() {
    const QSignalBlocker blocker(m_tree);
    m_tree->clear();
    m_items.clear();
    m_position.reset();
    m_chapter = m_section = -1;
    m_anchorsOf.reset();
    m_anchors.clear();
}

QString ContentsTree::label(int line) const {
    QTreeWidgetItem* item = itemOf(line);
    return item ? item->text(0) : QString();
}

int ContentsTree::depth(int line) const {
    int depth = 0;
    for (QTreeWidgetItem* item = itemOf(line); item && item->parent(); item = item->parent())
        ++depth;
    return depth;
}

QTreeWidgetItem* ContentsTree::itemOf(int line) const {
    return line >= 0 && line < count() ? m_items[static_cast<size_t>(line)] : nullptr;
}

int ContentsTree::currentLine() const {
    QTreeWidgetItem* item = m_tree->currentItem();
    return item ? item->data(0, kLineRole).toInt() : -1;
}

void ContentsTree::setCurrentLine(int line) {
    if (QTreeWidgetItem* item = itemOf(line))
        m_tree->setCurrentItem(item);
}

void ContentsTree::watch(HtmlWindow* view) {
    m_view = view;
    // A scroll, and a new page (its scroll range changes with it), move the marks.
    auto later = [this] { m_followTimer->start(); };
    connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this, later);
    connect(view->verticalScrollBar(), &QScrollBar::rangeChanged, this, later);
    connect(view, &HtmlWindow::progressChanged, this, [this, later](int percent) {
        if (percent == 0)
            later();
    });
}

void ContentsTree::follow() {
    int chapter = -1, section = -1;
    URI shown;
    if (m_view && m_position && !m_items.empty() && m_view->isBookOpen() && m_view->current_uri(shown) &&
        (shown.is("epub") || shown.is("fb2"))) {
        const std::string entry = shown.member().str();
        const auto document = m_view->document();
        const int height = m_view->documentSize().height();
        // The ids are looked up in one walk of the page, again only when the page or its layout changes.
        if (m_anchorsOf.lock() != document || m_anchorsEntry != entry + "@" + std::to_string(height)) {
            m_anchors.clear();
            m_anchorsOf = document;
            m_anchorsEntry = entry + "@" + std::to_string(height);
            const std::vector<std::string> wanted = m_position->fragmentsOf(entry);
            if (document && !wanted.empty()) {
                const std::unordered_set<std::string> ids(wanted.begin(), wanted.end());
                auto lock = m_view->lockDocument();
                std::vector<litehtml::element::ptr> stack{document->root()};
                while (!stack.empty()) {
                    auto el = std::move(stack.back());
                    stack.pop_back();
                    if (!el)
                        continue;
                    const char* id = el->get_attr("id");
                    if (id && ids.count(id) && !m_anchors.count(id))
                        m_anchors.emplace(id, el->get_placement().y);
                    for (size_t i = el->get_children_count(); i-- > 0;)
                        stack.push_back(el->get_child(static_cast<int>(i)));
                }
            }
        }
        // A section counts as read from when its start reaches the upper third of the page.
        const int top = m_view->scrollPosition() + m_view->pageSize() / 3;
        const ContentsPosition::Place place = m_position->placeOf(entry, top, [this](const std::string& id) {
            auto it = m_anchors.find(id);
            return it == m_anchors.end() ? -1 : it->second;
        });
        chapter = place.chapter;
        section = place.section;
    }
    if (chapter == m_chapter && section == m_section)
        return;
    mark(m_chapter, false);
    mark(m_section, false);
    m_chapter = chapter;
    m_section = section;
    mark(m_chapter, true);
    mark(m_section, true);
    if (QTreeWidgetItem* item = itemOf(m_section >= 0 ? m_section : m_chapter)) {
        for (QTreeWidgetItem* up = item->parent(); up; up = up->parent())
            up->setExpanded(true);
        if (!item->isHidden())
            m_tree->scrollToItem(item);
        // A line picked earlier must not stay highlighted beside the one being read.
        if (m_tree->currentItem() != item) {
            const QSignalBlocker blocker(m_tree);
            m_tree->setCurrentItem(item);
        }
    }
}

void ContentsTree::mark(int line, bool on) {
    QTreeWidgetItem* item = itemOf(line);
    if (!item)
        return;
    QFont font = item->font(0);
    font.setBold(on);
    item->setFont(0, font);
    // The section being read stands out more than its chapter.
    if (on && line == m_section)
        item->setBackground(0, palette().color(QPalette::Highlight).lighter(170));
    else
        item->setBackground(0, QBrush());
}

void ContentsTree::setFilter(const QString& text) {
    m_filter->setText(text);
}

void ContentsTree::applyFilter() {
    const QString text = m_filter->text().trimmed();
    // Children before parents: a branch stays visible when any line under it matches.
    for (size_t i = m_items.size(); i-- > 0;) {
        QTreeWidgetItem* item = m_items[i];
        bool visible = text.isEmpty() || item->text(0).contains(text, Qt::CaseInsensitive);
        for (int c = 0; !visible && c < item->childCount(); ++c)
            visible = !item->child(c)->isHidden();
        item->setHidden(!visible);
        if (!text.isEmpty() && visible && item->childCount() > 0)
            item->setExpanded(true);
    }
}

} // namespace tf
