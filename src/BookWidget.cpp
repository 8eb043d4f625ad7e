#include "src/BookWidget.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <utility>

#include "readers/xhtml/XmlDoc.h"
#include "src/HtmlGuard.h"
#include "utility/File.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

// The root a style sheet, picture or plain file gets: its folder, written as
// URI::parent writes it ("content:/" for "content://cover.png").
String parentOf(const URI& uri) {
    String folder = uri.folder();
    if (folder.endsWith(String("://")))
        folder.pop_back();
    return folder;
}

bool isPicture(int type) {
    return type == URI::RT_JPG || type == URI::RT_PNG || type == URI::RT_GIF;
}

} // namespace

BookWidget::BookWidget(int fontSize, const std::string& fontName)
    : m_fontSize(fontSize), m_defaultFontSize(fontSize), m_fontName(fontName) {}

BookWidget::~BookWidget() {
    auto lock = lockDocument();
    clearTextRangeLocked();
}

int BookWidget::get_default_font_size() const {
    return m_fontSize.load();
}

const litehtml::tchar_t* BookWidget::get_default_font_name() const {
    return m_fontName.c_str();
}

std::string BookWidget::openError() const {
    auto lock = lockReader();
    return m_openError;
}

BaseReader* BookWidget::getReader() {
    auto lock = lockReader();
    return m_reader.get();
}

std::unique_lock<std::recursive_mutex> BookWidget::lockReader() const {
    return std::unique_lock<std::recursive_mutex>(m_readerMutex);
}

bool BookWidget::isBook() const {
    return m_bookLoaded.load();
}

bool BookWidget::takeBookLoaded() {
    return m_bookLoaded.exchange(false);
}

bool BookWidget::isBookOpen() {
    auto lock = lockReader();
    return m_reader && m_reader->isOpen();
}

// ---- what the window asks of the book -----------------------------------------

std::string BookWidget::bookFilename(bool anyReader) const {
    auto lock = lockReader();
    return m_reader && (anyReader || m_reader->isOpen()) ? m_reader->get_filename() : std::string();
}

std::string BookWidget::bookTitle() const {
    auto lock = lockReader();
    return m_reader && m_reader->isOpen() ? m_reader->get_title() : std::string();
}

std::string BookWidget::bookType() const {
    auto lock = lockReader();
    return m_reader && m_reader->isOpen() ? m_reader->get_type() : std::string();
}

bool BookWidget::bookContents(Contents& out, bool anyReader) const {
    auto lock = lockReader();
    if (!m_reader || !(anyReader || m_reader->isOpen()))
        return false;
    out.title = m_reader->get_title();
    out.toc = m_reader->toc();
    out.depths = m_reader->toc_depths();
    out.spine = m_reader->spine();
    out.damaged = m_reader->is_damaged();
    return true;
}

std::string BookWidget::neighbourEntry(const std::string& entry, bool forward) const {
    auto lock = lockReader();
    if (!m_reader || !m_reader->isOpen())
        return std::string();
    return forward ? m_reader->entry_name_next(entry) : m_reader->entry_name_prev(entry);
}

std::string BookWidget::entryOfId(const std::string& id) const {
    auto lock = lockReader();
    if (!m_reader || !m_reader->isOpen())
        return std::string();
    return m_reader->entry_name_of_id(id);
}

bool BookWidget::bookEntry(const std::string& name, std::string& out) const {
    out.clear();
    auto lock = lockReader();
    if (!m_reader || !m_reader->isOpen())
        return false;
    // Readers hand a page back as the result and other members through `out`.
    std::string page = m_reader->get_entry(name, out);
    if (out.empty())
        out.swap(page);
    return !out.empty();
}

bool BookWidget::bookCover(const std::string& filename, std::string& title, std::string& coverEntry,
                           std::string& data) const {
    auto lock = lockReader();
    if (!m_reader || !m_reader->isOpen() || m_reader->get_filename() != filename)
        return false;
    title = m_reader->get_title();
    m_reader->cover_page(coverEntry);
    if (!coverEntry.empty())
        m_reader->get_entry(coverEntry, data);
    return true;
}

// ---- content lookup --------------------------------------------------------

BaseReader* BookWidget::createReader(const std::string& format) {
    return BaseReader::create(format);
}

String BookWidget::openBook(const URI& uri, int type, std::string& out, const String& folder, bool& opened) {
    const char* format = type == URI::RT_EPUB ? "epub" : type == URI::RT_FB2 ? "fb2" : "html";
    const std::string path = uri.m_path.str();
    auto lock = lockReader();
    if (m_reader) {
        m_reader->close();
        m_reader.reset();
    }
    m_openError.clear();
    try {
        m_reader.reset(createReader(format));
    } catch (const std::exception& e) {
        TF_LOG(LOG_ERROR, "no reader for " << format << ": " << e.what());
        return folder;
    }
    if (!m_reader)
        return folder;
    // A file its reader refuses is no book: it must not be announced or recorded as one.
    if (!m_reader->open(path)) {
        const File file{String(path)};
        // Whatever the format, a file that is not there to read says so first.
        if (!file.exist() || file.isDirectory() || !std::ifstream(path, std::ios::binary).good())
            m_openError = "The file is missing or cannot be read.";
        else
            m_openError = m_reader->last_error();
        if (m_openError.empty())
            m_openError = type == URI::RT_FB2 ? "The file is not a FictionBook." : "The file cannot be read.";
        m_reader->close();
        return folder;
    }
    if (!m_reader->parse()) {
        m_openError = m_reader->last_error();
        if (m_openError.empty())
            m_openError = "The book has no readable body.";
        // An archive that opened but holds no book must not pass for an open book.
        m_reader->close();
        return folder;
    }
    m_bookLoaded = true;
    opened = true;
    switch (type) {
    case URI::RT_EPUB:
        loadEmbeddedFonts();
        return String("epub://");
    case URI::RT_FB2:
        return String("fb2://");
    default: {
        // HTML and SVG files are their own cover page.
        std::string coverEntry;
        out = m_reader->cover_page(coverEntry);
        return folder;
    }
    }
}

String BookWidget::fetchEntry(const std::string& name, std::string& out, const String& root, const String& address) {
    auto lock = lockReader();
    if (!m_reader) {
        TF_LOG(LOG_ERROR, "no book file is open: " << address.str());
        return String();
    }
    m_reader->get_entry(name, out);
    return root;
}

String BookWidget::page_content(const String& address, std::string& out, bool& openedBook) {
    URI uri(address);
    const int type = uri.rtype();
    // Only the page a load asks for opens a book; a style sheet or picture
    // reference inside a page never replaces the open book.
    if (uri.is("file") &&
        (type == URI::RT_HTML || type == URI::RT_FB2 || type == URI::RT_SVG || type == URI::RT_EPUB)) {
        TF_LOG(LOG_INFO, "uri=\"" << shortify(address.str(), 40) << "\"");
        return openBook(uri, type, out, parentOf(uri), openedBook);
    }
    return uri_content(address, out);
}

String BookWidget::uri_content(const String& address, std::string& out) {
    TF_LOG(LOG_INFO, "uri=\"" << shortify(address.str(), 40) << "\"");
    URI uri(address);
    const int type = uri.rtype();
    const std::string path = uri.m_path.str();

    if (uri.is("file")) {
        const String folder = parentOf(uri);
        switch (type) {
        case URI::RT_CSS:
        case URI::RT_XML:
        case URI::RT_JPG:
        case URI::RT_PNG:
        case URI::RT_GIF:
            file_get_contents(path, out);
            return folder;
        default:
            break;
        }
    } else if (uri.is("epub")) {
        if (type == URI::RT_HTML || type == URI::RT_SVG) {
            // SVG documents may stand in the reading order as chapters.
            return fetchEntry(path, out, uri.folder(), address);
        }
        if (type == URI::RT_CSS || isPicture(type))
            return fetchEntry(path, out, parentOf(uri), address);
    } else if (uri.is("fb2")) {
        // "fb2://#pic" is a picture, "fb2://section-2#note" an entry (and a
        // place in it); the reader tells a picture behind an entry's name.
        const std::string hash = uri.m_hash.str();
        return fetchEntry(hash.empty() ? path : path + "#" + hash, out, String("fb2://"), address);
    } else if (uri.is("content")) {
        out = callParentService("get.content", &uri);
        return parentOf(uri);
    }
    TF_LOG(LOG_ERROR, "invalid uri to get: " << address.str());
    return String();
}

void BookWidget::load_string(const std::string& html, const String& root) {
    // The text range goes with the document it points into, at the swap.
    Renderer::load_string(html, root);
}

bool BookWidget::is_well_formed(const std::string& html) const {
    // A page too large to show whole is cut by the renderer; parsing all of it
    // here only for this check would cost several times its size.
    if (html.empty() || html.size() > HtmlGuard::kMaxBytes)
        return false;
    XmlDoc doc(html);
    if (doc.root_node())
        return true;
    TF_LOG(LOG_ERROR, "content is not a valid xhtml file");
    return false;
}

// ---- zoom -------------------------------------------------------------------

int BookWidget::makeFontBigger() {
    if (!isBookOpen()) {
        TF_LOG(LOG_ERROR, "no book file is open");
        return -1;
    }
    int size = std::min(m_fontSize.load() + kFontStep, kMaxFontSize);
    m_fontSize = size;
    return size;
}

int BookWidget::makeFontSmaller() {
    if (!isBookOpen()) {
        TF_LOG(LOG_ERROR, "no book file is open");
        return -1;
    }
    int size = std::max(m_fontSize.load() - kFontStep, kMinFontSize);
    m_fontSize = size;
    return size;
}

int BookWidget::setFontSize(int size) {
    m_fontSize = size;
    return size;
}

int BookWidget::resetFontSize() {
    m_fontSize = m_defaultFontSize;
    return m_defaultFontSize;
}

void BookWidget::load_refresh() {
    URI shown;
    if (!current_uri(shown) || shown.m_uri.empty())
        return;
    // The page itself: with its fragment the load would only scroll the page
    // on screen instead of building it anew.
    std::string address = shown.m_uri.str();
    const std::string fragment = shown.m_hash.str();
    if (!fragment.empty() && address.size() > fragment.size() &&
        address.compare(address.size() - fragment.size() - 1, std::string::npos, "#" + fragment) == 0)
        address.resize(address.size() - fragment.size() - 1);
    loadUriAsync(String(address));
}

// ---- position in the book ---------------------------------------------------

bool BookWidget::GetInfoUri(std::string& entry, std::string& scheme) {
    URI uri;
    if (!current_uri(uri))
        return false;
    const int type = uri.rtype();
    if (uri.is("file") && type == URI::RT_EPUB) {
        scheme = "epub";
        return true;
    }
    if (uri.is("file") && type == URI::RT_FB2) {
        scheme = "fb2";
        return true;
    }
    if (uri.is("epub") && (type == URI::RT_HTML || type == URI::RT_SVG)) {
        scheme = "epub";
        entry = uri.member().str();
        return true;
    }
    if (uri.is("fb2")) {
        // With the entry, stepping on from the book's last entry ends there.
        scheme = "fb2";
        entry = uri.member().str();
        return true;
    }
    return false;
}

String BookWidget::fragmentAddress(const std::string& fragment) {
    String address = current_address();
    const size_t hash = address.find(L"#");
    if (hash != String::npos)
        address = String(address.substr(0, hash));
    const std::string id = !fragment.empty() && fragment[0] == '#' ? fragment.substr(1) : fragment;
    // A FictionBook's notes live in entries of their own, all in one id space.
    if (URI(address).is("fb2") && !id.empty()) {
        auto lock = lockReader();
        const std::string entry = m_reader ? m_reader->entry_name_of_id(id) : std::string();
        if (!entry.empty())
            return String(URI::entryAddress("fb2", entry) + String("#" + id));
    }
    return String(address + String("#" + id));
}

void BookWidget::stepChapter(bool forward) {
    std::string entry, scheme;
    if (!GetInfoUri(entry, scheme))
        return;
    const std::string answer = neighbourEntry(entry, forward);
    if (!answer.empty())
        loadUriAsync(URI::entryAddress(scheme, answer));
}

void BookWidget::stepChapterNext() {
    TF_LOG(LOG_INFO, "");
    stepChapter(true);
}

void BookWidget::stepChapterPrev() {
    TF_LOG(LOG_INFO, "");
    stepChapter(false);
}

void BookWidget::showCoverPage() {
    std::string type, cover;
    {
        auto lock = lockReader();
        // Not tied to the book flag: the window may announce the book (and
        // clear the flag) before the loader gets here.
        if (!m_reader || !m_reader->isOpen()) {
            TF_LOG(LOG_ERROR, "no book file is open: ");
            return;
        }
        type = m_reader->get_type();
        std::string coverEntry;
        cover = m_reader->cover_page(coverEntry);
    }
    load_string(cover, String(type + "://"));
}

bool BookWidget::isDataBase64Encoded(const std::string& text, std::string& mime, std::string& data) {
    static const char kPrefix[] = "data64:";
    const size_t prefixLength = sizeof(kPrefix) - 1;
    if (text.size() <= prefixLength || text.compare(0, prefixLength, kPrefix) != 0)
        return false;
    size_t colon = text.find(':', prefixLength);
    if (colon == std::string::npos)
        return false;
    mime = text.substr(prefixLength, colon - prefixLength);
    data = base64_decode(text.substr(colon + 1));
    return true;
}

// ---- tasks ------------------------------------------------------------------

void BookWidget::queueTask(const std::string& name, const String& param) {
    std::lock_guard<std::mutex> lock(m_taskMutex);
    m_tasks.push_back(task_t{name, param, false});
}

void BookWidget::processTask(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(m_taskMutex);
        m_task = name;
    }
    runTasks(name);
}

void BookWidget::callThread(BookWidget* widget) {
    if (!widget)
        return;
    std::string name;
    {
        std::lock_guard<std::mutex> lock(widget->m_taskMutex);
        name = widget->m_task;
    }
    widget->runTasks(name);
}

void BookWidget::runTasks(const std::string& name) {
    std::vector<task_t> due;
    {
        std::lock_guard<std::mutex> lock(m_taskMutex);
        for (auto& task : m_tasks) {
            if (!task.done && task.name == name) {
                task.done = true; // claimed: no other caller runs it again
                due.push_back(task);
            }
        }
        m_tasks.erase(std::remove_if(m_tasks.begin(), m_tasks.end(), [](const task_t& t) { return t.done; }),
                      m_tasks.end());
    }
    // Unlocked: a task may start a load or queue further tasks.
    for (const auto& task : due)
        finishTask(task.name, task.param);
}

size_t BookWidget::pendingTaskCount() const {
    std::lock_guard<std::mutex> lock(m_taskMutex);
    return m_tasks.size();
}

// ---- text range -------------------------------------------------------------

BookWidget::BoxKey BookWidget::keyOf(const litehtml::position& pos) {
    return BoxKey(pos.x, pos.y, pos.width, pos.height);
}

void BookWidget::setMarked(TextNode& node, bool marked) {
    if (node.marked == marked)
        return;
    node.marked = marked;
    const BoxKey key = keyOf(node.pos);
    if (marked) {
        ++m_markedBoxes[key];
    } else {
        auto it = m_markedBoxes.find(key);
        if (it != m_markedBoxes.end() && --it->second <= 0)
            m_markedBoxes.erase(it);
    }
}

int BookWidget::createTextRange() {
    auto lock = lockDocument();
    if (!m_html)
        return static_cast<int>(m_textRange.size());
    return create_range(m_html, m_textRange);
}

void BookWidget::clearTextRangeLocked() {
    m_textRange.clear();
    m_markedBoxes.clear();
}

void BookWidget::clearTextRange() {
    auto lock = lockDocument();
    clearTextRangeLocked();
}

void BookWidget::on_document_changed() {
    clearTextRangeLocked();
}

size_t BookWidget::textRangeSize() const {
    auto lock = lockDocument();
    return m_textRange.size();
}

void BookWidget::markRuns(size_t first, size_t last, bool marked) {
    auto lock = lockDocument();
    if (m_textRange.empty() || first > last || first >= m_textRange.size())
        return;
    last = std::min(last, m_textRange.size() - 1);
    for (size_t i = first; i <= last; ++i)
        setMarked(m_textRange[i], marked);
}

bool BookWidget::isRunMarked(size_t index) const {
    auto lock = lockDocument();
    return index < m_textRange.size() && m_textRange[index].marked;
}

int BookWidget::runAt(int x, int y) const {
    auto lock = lockDocument();
    for (size_t i = m_textRange.size(); i-- > 0;)
        if (m_textRange[i].pos.is_point_inside(x, y))
            return static_cast<int>(i);
    return -1;
}

std::string BookWidget::markedText() const {
    auto lock = lockDocument();
    std::string text;
    for (const auto& node : m_textRange)
        if (node.marked)
            text += run_text(node);
    return text;
}

bool BookWidget::isMarkedDrawnRun(const litehtml::position& drawn) const {
    auto lock = lockDocument();
    if (m_markedBoxes.empty())
        return false;
    const litehtml::position origin = draw_origin();
    litehtml::position box = drawn;
    box.x -= origin.x;
    box.y -= origin.y;
    return m_markedBoxes.count(keyOf(box)) != 0;
}

} // namespace tf
