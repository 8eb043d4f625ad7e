#include "NotePopup.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "HtmlWindow.h"
#include "src/NoteExtract.h"
#include "utility/URI.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

std::string attribute(const litehtml::element::ptr& el, const char* name) {
    const char* value = el ? el->get_attr(name) : nullptr;
    return value ? value : "";
}

std::string tagOf(const litehtml::element::ptr& el) {
    const char* tag = el ? el->get_tagName() : nullptr;
    return tag ? str2lower(tag) : "";
}

bool hasChildTag(const litehtml::element::ptr& el, const char* tag) {
    for (int i = 0; el && i < static_cast<int>(el->get_children_count()); ++i)
        if (tagOf(el->get_child(i)) == tag)
            return true;
    return false;
}

// Where a link is drawn: an inline element has no box of its own, its words do.
litehtml::position boxOf(const litehtml::element::ptr& el) {
    litehtml::position box = el ? el->get_placement() : litehtml::position();
    if (!el || (box.width > 0 && box.height > 0))
        return box;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool any = false;
    std::vector<litehtml::element::ptr> stack{el};
    for (size_t visited = 0; !stack.empty() && visited < 4096; ++visited) {
        auto e = std::move(stack.back());
        stack.pop_back();
        const litehtml::position p = e->get_placement();
        if (e->get_children_count() == 0 && p.width > 0 && p.height > 0) {
            left = any ? std::min(left, p.x) : p.x;
            top = any ? std::min(top, p.y) : p.y;
            right = any ? std::max(right, p.x + p.width) : p.x + p.width;
            bottom = any ? std::max(bottom, p.y + p.height) : p.y + p.height;
            any = true;
        }
        for (size_t i = e->get_children_count(); i-- > 0;)
            if (auto child = e->get_child(static_cast<int>(i)))
                stack.push_back(std::move(child));
    }
    return any ? litehtml::position(left, top, right - left, bottom - top) : box;
}

// The entry part of an address.
std::string entryOf(const URI& uri) {
    return uri.member().str();
}

} // namespace

// The note's text: pictures come from the book, scaled to the pop-up's width.
class NotePopup::NoteText : public QTextBrowser {
public:
    NoteText(NotePopup* popup) : QTextBrowser(popup), m_popup(popup) {}

    QVariant loadResource(int type, const QUrl& name) override {
        if (type != QTextDocument::ImageResource)
            return QTextBrowser::loadResource(type, name);
        QImage image = m_popup->picture(name.toString(QUrl::FullyEncoded).toStdString());
        const int width = std::max(40, viewport()->width() - 2 * static_cast<int>(document()->documentMargin()));
        if (!image.isNull() && image.width() > width)
            image = image.scaledToWidth(width, Qt::SmoothTransformation);
        if (image.isNull())
            return QTextBrowser::loadResource(type, name);
        return image;
    }

private:
    NotePopup* m_popup;
};

NotePopup::NotePopup(HtmlWindow* view) : QFrame(view, Qt::Popup), m_view(view) {
    setObjectName("notePopup");
    // A window of its own that still takes the theme's colours from the reader's window.
    setAttribute(Qt::WA_WindowPropagation);
    setFrameShape(QFrame::StyledPanel);
    m_text = new NoteText(this);
    m_text->setObjectName("noteText");
    m_text->setOpenLinks(false);
    m_text->setFrameShape(QFrame::NoFrame);
    m_go = new QPushButton("Go to note", this);
    m_go->setObjectName("goToNote");
    m_go->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_go);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_text, 1);
    layout->addLayout(buttons);

    connect(m_go, &QPushButton::clicked, this, [this] {
        const String address = m_address;
        close();
        emit goTo(address);
    });
    connect(m_text, &QTextBrowser::anchorClicked, this, &NotePopup::follow);
}

QTextBrowser* NotePopup::textView() const {
    return m_text;
}

String NotePopup::targetOf(const std::string& href) const {
    // As a plain click would go (a FictionBook's note id leads to the entry holding it).
    if (href[0] == '#')
        return m_view->fragmentAddress(href);
    return m_view->resolve(String(href));
}

bool NotePopup::leadsFurther(const URI& target, int linkY) const {
    URI shown;
    if (!m_view->current_uri(shown))
        return false;
    const std::string entry = entryOf(target), fragment = target.m_hash.str();
    BookWidget::Contents book;
    if (!m_view->bookContents(book))
        return false;
    // A contents line is a place to go, not a note.
    for (const auto& line : book.toc) {
        const size_t hash = line.first.find('#');
        if (hash != std::string::npos && line.first.substr(hash + 1) == fragment &&
            URI::memberName(line.first.substr(0, hash)) == entry)
            return false;
    }
    if (entry == entryOf(shown))
        return m_view->find_anchor(fragment) > linkY;
    int here = -1, there = -1, index = 0;
    for (const auto& item : book.spine) {
        if (item.first == entryOf(shown))
            here = index;
        if (item.first == entry)
            there = index;
        ++index;
    }
    // An entry outside the reading order (a notes file) counts as further on.
    return there < 0 || there > here;
}

bool NotePopup::offer(const std::string& href, const litehtml::element::ptr& el) {
    if (href.empty() || !m_view->isBookOpen())
        return false;
    const URI target(targetOf(href));
    if (target.m_hash.empty() || !(target.is("epub") || target.is("fb2")))
        return false;
    const bool marked =
        NoteExtract::markedAsNote(attribute(el, "epub:type"), attribute(el, "role"), attribute(el, "type"));
    const litehtml::position box = boxOf(el);
    if (!marked) {
        const bool superscript = tagOf(el ? el->parent() : nullptr) == "sup" || hasChildTag(el, "sup");
        litehtml::tstring text;
        if (el)
            el->get_text(text);
        if (!superscript || !NoteExtract::shortMark(text) || !leadsFurther(target, box.y))
            return false;
    }
    const String address = target.m_uri;
    const QRect linkBox(box.x, box.y, box.width, box.height);
    // After the click: the page's lock is held now, and the note's page is read under the reader's.
    QTimer::singleShot(0, this, [this, address, linkBox] {
        if (!showNote(address, linkBox)) {
            TF_LOG(LOG_INFO, "no note to show at " << address.str() << "; following the link");
            emit goTo(address);
        }
    });
    return true;
}

bool NotePopup::showNote(const String& address, const QRect& linkBox) {
    const URI uri(address);
    const std::string id = uri.m_hash.str();
    std::string entry = entryOf(uri);
    // The markup is read under the reader's lock; parsing it waits for nobody.
    auto fetch = [this](const std::string& name, bool byId) {
        const std::string holder = byId ? m_view->entryOfId(name) : name;
        std::string out;
        if (holder.empty() || !m_view->bookEntry(holder, out))
            return std::make_pair(std::string(), std::string());
        return std::make_pair(holder, out);
    };
    NoteExtract::Note note = NoteExtract::extract(fetch(entry, false).second, id);
    if (!note.found) {
        // The id may live in another entry than the link names.
        const auto other = fetch(id, true);
        if (!other.first.empty() && other.first != entry) {
            entry = other.first;
            note = NoteExtract::extract(other.second, id);
        }
    }
    if (!note.found || note.heading || note.html.empty())
        return false;
    // "Go to note" goes where the note was found.
    m_address = entry == entryOf(uri) ? address : String(URI::entryAddress(uri.m_protocol, entry) + String("#" + id));
    m_entry = entry;
    m_scheme = uri.m_protocol;
    m_html = QString::fromUtf8(note.html.data(), static_cast<qsizetype>(note.html.size()));

    const int width = std::min(kWidth, std::max(200, m_view->viewport()->width() - 20));
    setFixedWidth(width);
    // A little smaller than the page's text, as notes are printed.
    QFont font = m_text->font();
    font.setPixelSize(std::max(11, m_view->get_default_font_size() * 4 / 5));
    m_text->document()->setDefaultFont(font);
    m_text->document()->setTextWidth(width - 30);
    m_text->setHtml(m_html);
    m_text->document()->adjustSize();
    const int textHeight = static_cast<int>(m_text->document()->size().height()) + 8;
    const int height = std::min(kMaxHeight, textHeight + m_go->sizeHint().height() + 24);
    setFixedHeight(height);

    // Below the link, or above it when the screen ends too soon; within the screen sideways.
    const QPoint offset(m_view->horizontalScrollBar()->value(), m_view->scrollPosition());
    const QRect onView = linkBox.translated(-offset);
    QPoint at = m_view->viewport()->mapToGlobal(QPoint(onView.left(), onView.bottom() + 4));
    const QScreen* screen = m_view->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect(at, QSize(width, height));
    if (at.y() + height > area.bottom())
        at.setY(m_view->viewport()->mapToGlobal(QPoint(0, onView.top() - height - 4)).y());
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width)));
    at.setY(std::max(at.y(), area.top()));
    move(at);
    show();
    m_text->setFocus(Qt::PopupFocusReason);
    TF_LOG(LOG_INFO, "note " << id << " from " << entry << " (" << note.html.size() << " bytes)");
    return true;
}

QImage NotePopup::picture(const std::string& src) const {
    std::string bytes;
    if (src.compare(0, 5, "data:") == 0) {
        const size_t comma = src.find(',');
        if (comma == std::string::npos || src.find(";base64") > comma)
            return QImage();
        return QImage::fromData(QByteArray::fromBase64(QByteArray::fromStdString(src.substr(comma + 1))));
    }
    // FictionBook pictures are named by their id ("#pic"), whichever entry shows them.
    std::string name = src;
    if (m_scheme != "fb2" || src.empty() || src[0] != '#')
        name = URI(resolveInNote(src)).member().str();
    if (!m_view->bookEntry(name, bytes))
        return QImage();
    std::string mime, decoded;
    if (m_view->isDataBase64Encoded(bytes, mime, decoded))
        bytes.swap(decoded);
    return QImage::fromData(QByteArray::fromStdString(bytes));
}

String NotePopup::resolveInNote(const std::string& href) const {
    const URI here(URI::entryAddress(m_scheme, m_entry));
    if (!href.empty() && href[0] == '#')
        return String(here.m_uri + String(href));
    return URI::resolve(String(href), here.folder());
}

void NotePopup::follow(const QUrl& url) {
    const std::string href = url.toString(QUrl::FullyEncoded).toStdString();
    close();
    if (url.scheme() == "http" || url.scheme() == "https" || url.scheme() == "mailto") {
        QDesktopServices::openUrl(url);
        return;
    }
    if (href.empty())
        return;
    emit goTo(resolveInNote(href));
}

void NotePopup::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        event->accept();
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace tf
