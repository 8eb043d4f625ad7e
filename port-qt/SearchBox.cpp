#include "SearchBox.h"

#include <algorithm>

#include <QKeyEvent>

namespace tf {

SearchBox::SearchBox(QWidget* parent) : QLineEdit(parent) {
    setPlaceholderText(tr("Search"));
    setClearButtonEnabled(false);
    QWidget::setVisible(false);
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
    return QSize(std::max(hint.width(), 150), hint.height());
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
