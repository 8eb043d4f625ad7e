#include "BookSearchPanel.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QVBoxLayout>

namespace tf {

namespace {

constexpr int kHtmlRole = Qt::UserRole + 1;

// Draws a row's rich text (QListWidget shows plain text only).
class RichRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        QTextDocument doc;
        setUp(doc, index, option);
        QAbstractTextDocumentLayout::PaintContext context;
        if (option.state & QStyle::State_Selected)
            context.palette.setColor(QPalette::Text, option.palette.color(QPalette::HighlightedText));
        painter->save();
        painter->translate(option.rect.topLeft());
        painter->setClipRect(QRect(QPoint(0, 0), option.rect.size()));
        doc.documentLayout()->draw(painter, context);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QTextDocument doc;
        setUp(doc, index, option);
        return QSize(static_cast<int>(doc.idealWidth()), static_cast<int>(doc.size().height()));
    }

private:
    static void setUp(QTextDocument& doc, const QModelIndex& index, const QStyleOptionViewItem& option) {
        doc.setDefaultFont(option.font);
        doc.setDocumentMargin(3);
        doc.setHtml(index.data(kHtmlRole).toString());
        // One line each for the title and the context, cut at the panel's edge:
        // rows of one height keep a list of thousands of results quick.
        doc.setTextWidth(-1);
    }
};

QString escaped(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toHtmlEscaped();
}

} // namespace

BookSearchPanel::BookSearchPanel(QWidget* parent) : QWidget(parent) {
    setObjectName("bookSearchPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    m_summary = new QLabel(this);
    m_summary->setObjectName("bookSearchSummary");
    m_summary->setTextFormat(Qt::PlainText);
    m_list = new QListWidget(this);
    m_list->setObjectName("bookSearchResults");
    m_list->setItemDelegate(new RichRowDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_summary);
    layout->addWidget(m_list, 1);
    connect(m_list, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { emit picked(m_list->row(item)); });
    connect(m_list, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { emit picked(m_list->row(item)); });
}

void BookSearchPanel::clear() {
    m_list->clear();
    m_summary->clear();
}

void BookSearchPanel::setSummary(const QString& text) {
    m_summary->setText(text);
}

QString BookSearchPanel::summary() const {
    return m_summary->text();
}

void BookSearchPanel::addHit(const QString& chapterTitle, const BookSearch::Hit& hit) {
    const QString html = "<small>" + chapterTitle.toHtmlEscaped() + "</small><br/>" + escaped(hit.before) + "<b>" +
                         escaped(hit.match) + "</b>" + escaped(hit.after);
    auto* item = new QListWidgetItem(m_list);
    // The plain text serves tool tips, accessibility and keyboard search.
    item->setText(chapterTitle + ": " + QString::fromStdString(hit.before + hit.match + hit.after));
    item->setData(kHtmlRole, html);
}

int BookSearchPanel::count() const {
    return m_list->count();
}

void BookSearchPanel::setCurrentRow(int row) {
    const QSignalBlocker blocker(m_list);
    m_list->setCurrentRow(row);
    if (QListWidgetItem* item = m_list->item(row))
        m_list->scrollToItem(item);
}

int BookSearchPanel::currentRow() const {
    return m_list->currentRow();
}

QString BookSearchPanel::rowHtml(int row) const {
    QListWidgetItem* item = m_list->item(row);
    return item ? item->data(kHtmlRole).toString() : QString();
}

} // namespace tf
