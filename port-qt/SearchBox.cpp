#include "SearchBox.h"

#include <algorithm>

#include <QAction>
#include <QFont>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>

namespace tf {

namespace {

// A toggle's picture: its short label, framed while it is on.
QIcon toggleIcon(const QString& label, bool on) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (on) {
        painter.setPen(QPen(QColor(40, 90, 200), 2));
        painter.setBrush(QColor(40, 90, 200, 50));
        painter.drawRoundedRect(QRectF(1, 1, 30, 30), 5, 5);
    }
    QFont font;
    font.setPixelSize(label.size() > 2 ? 11 : 15);
    font.setBold(on);
    painter.setFont(font);
    painter.setPen(on ? QColor(20, 50, 140) : QColor(110, 110, 110));
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, label);
    return QIcon(pixmap);
}

QAction* makeToggle(SearchBox* box, const QString& label, const QString& tip, const char* name) {
    auto* action = new QAction(toggleIcon(label, false), tip, box);
    action->setObjectName(name);
    action->setCheckable(true);
    action->setToolTip(tip);
    QObject::connect(action, &QAction::toggled, box,
                     [action, label](bool on) { action->setIcon(toggleIcon(label, on)); });
    box->addAction(action, QLineEdit::TrailingPosition);
    return action;
}

} // namespace

SearchBox::SearchBox(QWidget* parent) : QLineEdit(parent) {
    setPlaceholderText(tr("Search"));
    setClearButtonEnabled(false);
    m_exact = makeToggle(this, "Aa", tr("Exact: case and accents must match"), "searchExact");
    m_wholeBook = makeToggle(this, "All", tr("Whole book: search every chapter (Ctrl+Shift+F)"), "searchWholeBook");
    QWidget::setVisible(false);
}

bool SearchBox::wholeBook() const {
    return m_wholeBook->isChecked();
}

void SearchBox::setWholeBook(bool on) {
    m_wholeBook->setChecked(on);
}

bool SearchBox::exact() const {
    return m_exact->isChecked();
}

void SearchBox::setExact(bool on) {
    m_exact->setChecked(on);
}

void SearchBox::setFocusable(QWidget* widget) {
    focusable = widget;
}

void SearchBox::show() {
    if (isVisible())
        return;
    QWidget::setVisible(true);
    setFocus(Qt::ShortcutFocusReason);
    if (parentWidget())
        parentWidget()->updateGeometry();
}

void SearchBox::hide() {
    if (!isVisible())
        return;
    setText(QString());
    QWidget::setVisible(false);
    QWidget* next = focusable ? focusable.data() : parentWidget();
    if (next)
        next->setFocus(Qt::OtherFocusReason);
    if (parentWidget())
        parentWidget()->updateGeometry();
}

bool SearchBox::toggle() {
    if (isVisible()) {
        hide();
        searchPos = 0;
        return false;
    }
    show();
    return true;
}

QSize SearchBox::sizeHint() const {
    QSize hint = QLineEdit::sizeHint();
    return QSize(std::max(hint.width(), 220), hint.height());
}

void SearchBox::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Escape:
        hide();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit Enter(event);
        event->accept();
        return;
    case Qt::Key_A:
        if (ctrl) {
            selectAll();
            event->accept();
            return;
        }
        break;
    case Qt::Key_F:
        if (ctrl && (event->modifiers() & Qt::ShiftModifier) && !wholeBook()) {
            setWholeBook(true);
            event->accept();
            return;
        }
        if (ctrl) {
            hide();
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace tf
