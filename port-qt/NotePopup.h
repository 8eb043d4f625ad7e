#pragma once

#include <QFrame>
#include <QRect>

#include <litehtml.h>

#include <string>

#include "utility/String.h"

class QImage;
class QPushButton;
class QUrl;
class QTextBrowser;

namespace tf {

class HtmlWindow;
class URI;

// A footnote shown next to its link instead of a jump. The view offers every
// link of a book page it follows (offer()); links the book marks as note
// references, and short superscript marks ("3", "[a]") that lead further into
// the book to something that is neither a heading nor a contents line, open
// the pop-up with the note's element (from whichever entry holds it),
// pictures scaled to its width and links working. "Go to note" jumps there as
// a plain link would; Escape or a click outside closes it. Window thread only.
class NotePopup : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 420;
    static constexpr int kMaxHeight = 320;

    explicit NotePopup(HtmlWindow* view);

    // For the view's link handling (the page's lock is held): true when the
    // link `href` of element `el` is a note, which then shows once the click is over.
    bool offer(const std::string& href, const litehtml::element::ptr& el);

    // Shows the note at `address` (an internal address with a fragment) beside
    // `linkBox` (document coordinates of the view); false, with nothing shown,
    // when the note cannot be found there.
    bool showNote(const String& address, const QRect& linkBox);

    // The note's address, and the markup shown.
    String address() const { return m_address; }
    QString noteHtml() const { return m_html; }
    QTextBrowser* textView() const;
    QPushButton* goButton() const { return m_go; }

signals:
    // An address to load as a link click would (the note itself, or a link inside it).
    void goTo(const tf::String& address);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    class NoteText;

    // The address a link of the page shown leads to.
    String targetOf(const std::string& href) const;
    // A reference inside the note, resolved against the entry holding it.
    String resolveInNote(const std::string& href) const;
    QImage picture(const std::string& src) const;
    bool leadsFurther(const URI& target, int linkY) const;
    void follow(const QUrl& url);

    HtmlWindow* m_view;
    NoteText* m_text = nullptr;
    QPushButton* m_go = nullptr;
    String m_address;
    QString m_html;
    std::string m_entry;   // the entry holding the note
    std::string m_scheme;  // "epub", "fb2", ...
};

} // namespace tf
