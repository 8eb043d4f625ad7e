#pragma once

#include <QLineEdit>
#include <QPointer>

class QAction;
class QKeyEvent;

namespace tf {

// The keyword box in the status bar. Enter asks the main window for the next
// occurrence, Shift+Enter for the previous one; Escape and Ctrl+F hide it.
// Two toggles at its end: "Whole book" (search every chapter, not the page;
// also Ctrl+Shift+F in the box) and "Exact" (case and accents count).
class SearchBox : public QLineEdit {
    Q_OBJECT
public:
    explicit SearchBox(QWidget* parent = nullptr);

    // The widget that gets the keyboard focus when the box hides (null: the parent).
    void setFocusable(QWidget* widget);
    QWidget* getFocusable() const { return focusable; }

    // Shows the box and gives it the focus (no-op when shown).
    void show();
    // Empties and hides the box and hands the focus on (no-op when hidden).
    void hide();
    // Hides (and forgets the search position) or shows; true when now shown.
    bool toggle();

    // Where the next search starts: the position of the last match plus one, 0 for a new search.
    int searchPos = 0;

    QSize sizeHint() const override;

    bool wholeBook() const;
    void setWholeBook(bool on);
    bool exact() const;
    void setExact(bool on);
    QAction* wholeBookAction() const { return m_wholeBook; }
    QAction* exactAction() const { return m_exact; }

signals:
    // Enter or Return pressed in the box; the event tells Shift apart.
    void Enter(QKeyEvent* event);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPointer<QWidget> focusable;
    QAction* m_wholeBook = nullptr;
    QAction* m_exact = nullptr;
};

} // namespace tf
