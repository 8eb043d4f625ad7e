#include "readers/FB2Reader.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <iconv.h>
#include <sstream>
#include <unordered_set>
#include <vector>

#include <rapidxml/rapidxml.hpp>

#include "readers/FB2Repair.h"
#include "readers/xhtml/XmlDoc.h"
#include "readers/xhtml/XmlNodeRef.h"
#include "utility/File.h"
#include "utility/String.h"
#include "utility/ZipFile.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

using Node = rapidxml::xml_node<char>;
using Attr = rapidxml::xml_attribute<char>;

std::string name_of(const Node* node) {
    return std::string(node->name(), node->name_size());
}

std::string name_of(const Attr* attr) {
    return std::string(attr->name(), attr->name_size());
}

bool is_element(const Node* node) {
    return node && node->type() == rapidxml::node_element;
}

// "name" alone, or "prefix:name" for one of the given non-empty prefixes.
bool name_matches(const std::string& actual, const std::string& name, const std::string& prefix1,
                  const std::string& prefix2) {
    if (actual == name)
        return true;
    for (const std::string* prefix : {&prefix1, &prefix2}) {
        if (!prefix->empty() && actual.size() == prefix->size() + 1 + name.size() &&
            actual.compare(0, prefix->size(), *prefix) == 0 && actual[prefix->size()] == ':' &&
            actual.compare(prefix->size() + 1, std::string::npos, name) == 0)
            return true;
    }
    return false;
}

std::string local_name(const std::string& name) {
    size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

// Attribute value by name, ASCII case ignored.
std::string attribute_of(const Node* node, const std::string& name) {
    for (const Attr* a = node->first_attribute(); a; a = a->next_attribute()) {
        if (str2lower(name_of(a)) == str2lower(name))
            return std::string(a->value(), a->value_size());
    }
    return "";
}



// The parser accepts names with bytes that would break the page's markup.
std::string safe_name(std::string name) {
    for (char& c : name) {
        if (c == '<' || c == '>' || c == '&' || c == '"' || c == '\'' || c == '=' || c == '/')
            c = '_';
    }
    return name;
}

bool is_zip(const std::string& bytes) {
    return bytes.size() >= 4 && bytes[0] == 'P' && bytes[1] == 'K' &&
           ((bytes[2] == 3 && bytes[3] == 4) || (bytes[2] == 5 && bytes[3] == 6));
}

// iconv from `encoding` to UTF-8; bytes the source encoding does not define
// become U+FFFD. False when iconv does not know the encoding.
bool convert_to_utf8(const std::string& encoding, const std::string& in, std::string& out) {
    iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    out.reserve(in.size() * 2);
    std::vector<char> buffer(64 * 1024);
    // The input goes in windows: a book that is mostly invalid in its declared
    // encoding restarts the conversion at every byte, and each call must not
    // cost the whole rest of the book.
    const size_t kWindow = 4 * 1024;
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    while (true) {
        char* dst = buffer.data();
        size_t dst_left = buffer.size();
        if (src_left == 0) {
            // Closing shift sequence of a stateful encoding.
            const size_t rc = iconv(cd, nullptr, nullptr, &dst, &dst_left);
            const int error = errno;
            out.append(buffer.data(), buffer.size() - dst_left);
            if (rc == static_cast<size_t>(-1) && error == E2BIG)
                continue;
            break;
        }
        const size_t window = std::min(src_left, kWindow);
        size_t window_left = window;
        const size_t rc = iconv(cd, &src, &window_left, &dst, &dst_left);
        const int error = errno;
        src_left -= window - window_left;
        out.append(buffer.data(), buffer.size() - dst_left);
        if (rc != static_cast<size_t>(-1) || error == E2BIG)
            continue;
        // A sequence cut by the window's end completes in the next window.
        if (error == EINVAL && window_left < window && src_left > window_left)
            continue;
        // EILSEQ or EINVAL: a byte that means nothing in this encoding, or a cut sequence.
        out += "\xEF\xBF\xBD";
        ++src;
        --src_left;
    }
    iconv_close(cd);
    return true;
}

// The encoding named by the XML declaration at the start of `text`, read the
// way the XML document reads it; "" without one.
std::string declared_encoding(const std::string& text) {
    const size_t start = text.find("<?xml");
    if (start == std::string::npos || start > 16)
        return "";
    const size_t end = text.find("?>", start);
    if (end == std::string::npos || end > 1024)
        return "";
    const XmlDoc declaration(text.substr(start, end + 2 - start) + "<x/>");
    return declaration.encoding();
}

// Rewrites the encoding named by the XML declaration at the start of `text`.
void redeclare_encoding(std::string& text, const std::string& encoding) {
    size_t start = text.find("<?xml");
    if (start == std::string::npos || start > 16)
        return;
    size_t end = text.find("?>", start);
    size_t key = text.find("encoding", start);
    if (end == std::string::npos || key == std::string::npos || key > end)
        return;
    size_t quote = text.find_first_of("\"'", key);
    if (quote == std::string::npos || quote > end)
        return;
    size_t close = text.find(text[quote], quote + 1);
    if (close == std::string::npos || close > end)
        return;
    text.replace(quote + 1, close - quote - 1, encoding);
}

// FictionBook names that an HTML parser takes for its own elements and would
// swallow ("title" and "style" read their content as raw text), with the
// page's stand-in for each.
const char* html_stand_in(const std::string& local, const char** css_class) {
    if (local == "title") {
        *css_class = "title";
        return "div";
    }
    if (local == "style") {
        *css_class = "style";
        return "span";
    }
    *css_class = nullptr;
    return nullptr;
}

} // namespace

FB2Reader::FB2Reader() : entry_name("home") {}

FB2Reader::~FB2Reader() {
    close();
}

const char* FB2Reader::page_style() {
    return "div.title{display:block;font-weight:bold;font-size:1.4em;text-align:center;"
           "margin:1em 0 0.6em 0;}"
           "section div.title{font-size:1.25em;}"
           "section section div.title{font-size:1.1em;}"
           "div.title p{text-indent:0;margin:0.2em 0;}"
           "subtitle{display:block;font-weight:bold;text-align:center;margin:0.8em 0;}"
           "section{display:block;}"
           "emphasis{font-style:italic;}"
           "strong{font-weight:bold;}"
           "strikethrough{text-decoration:line-through;}"
           "code{font-family:monospace;}"
           "empty-line{display:block;height:1em;}"
           "poem{display:block;margin:1em 0 1em 2em;}"
           "stanza{display:block;margin:0.6em 0;}"
           "v{display:block;}"
           "epigraph{display:block;margin:0.6em 0 0.6em 30%;font-style:italic;}"
           "cite{display:block;margin:0.6em 2em;}"
           "annotation{display:block;margin:0.6em 2em;}"
           "text-author{display:block;text-align:right;font-style:italic;}"
           "date{display:block;text-align:right;}";
}

bool FB2Reader::open(std::string path) {
    // A reader opened twice must not keep the first book's tree or page.
    close();
    ns_prefix.clear();
    fb_prefix.clear();
    damaged = false;

    std::string refusal;
    if (!read_book(path, refusal)) {
        if (!refusal.empty())
            TF_LOG(LOG_ERROR, refusal);
        return false;
    }
    // The book is parsed once and its bytes are handed to the document, not copied.
    content_size = content.size();
    doc.reset(new XmlDoc(std::move(content)));
    content.clear();
    root = doc->root_node();
    if (!root || root->isEmpty()) {
        // Not well-formed: read again and mend what the damage allows (the
        // strict parse consumed the bytes; a sound book never pays for a copy).
        root = nullptr;
        doc.reset();
        if (!read_book(path, refusal)) {
            if (!refusal.empty())
                TF_LOG(LOG_ERROR, refusal);
            return false;
        }
        FB2Repair::Report report;
        std::string repaired = FB2Repair::repair(content, &report);
        content.clear();
        if (report.sawRoot) {
            content_size = repaired.size();
            doc.reset(new XmlDoc(std::move(repaired)));
            root = doc->root_node();
        }
        if (root && !root->isEmpty()) {
            damaged = true;
            TF_LOG(LOG_WARN, "damaged FictionBook file, shown as far as readable: "
                                 << path << " (" << report.droppedInstructions << " stray instructions, "
                                 << report.escapedAmpersands << " bare '&', " << report.escapedBrackets
                                 << " bare '<', " << report.droppedEndTags << " unmatched end tags, "
                                 << report.closedElements << " elements left open)");
        }
    }
    if (!root || root->isEmpty()) {
        TF_LOG(LOG_ERROR, "invalid FictionBook file: " << path);
        return false;
    }
    std::string root_name = name_of(root->getNode());
    if (root_name != "FictionBook") {
        size_t colon = root_name.find(':');
        if (colon == std::string::npos || root_name.substr(colon + 1) != "FictionBook") {
            TF_LOG(LOG_ERROR, "invalid FictionBook file: " << path);
            root = nullptr;  // parse() must not read another format's tree
            return false;
        }
        fb_prefix = root_name.substr(0, colon);
    }
    // The first "xmlns:" declaration in document order decides.
    for (const Attr* a = root->getNode()->first_attribute(); a; a = a->next_attribute()) {
        std::string name = name_of(a);
        if (name.size() > 6 && name.compare(0, 6, "xmlns:") == 0) {
            ns_prefix = name.substr(6);
            break;
        }
    }
    filename = path;
    return true;
}

bool FB2Reader::read_book(const std::string& path, std::string& refusal) {
    // Read whole, so no larger than the largest archive member read whole.
    const File file{String(path)};
    const long size = file.isDirectory() ? 0 : file.getSize();
    if (size > static_cast<long>(ZipEntry::kMaxEntrySize)) {
        std::ostringstream why;
        why << "file too large: " << path << " (" << size << " bytes, limit " << ZipEntry::kMaxEntrySize << ")";
        refusal = why.str();
        return false;
    }
    content.clear();
    file_get_contents(path, content);
    if (content.empty()) {
        refusal = "empty file: " + path;
        return false;
    }
    if (is_zip(content) && !unzip(path))
        return false;

    // The declared encoding is read from the declaration alone. A declaration
    // that lies is common: UTF-8 text declared as a single-byte encoding, or
    // single-byte text (nearly always windows-1251) declared as UTF-8 or not
    // at all. Valid UTF-8 beyond ASCII is no accident, so it wins.
    const std::string declared = declared_encoding(content);
    const std::string lower = str2lower(declared);
    const bool declaredUtf8 = declared.empty() || lower == "utf-8" || lower == "utf8";
    const bool wide = lower.compare(0, 6, "utf-16") == 0 || lower.compare(0, 6, "utf-32") == 0 ||
                      lower.compare(0, 3, "ucs") == 0;
    if (!declaredUtf8 && !wide && FB2Repair::hasNonAscii(content) && FB2Repair::isUtf8(content)) {
        TF_LOG(LOG_WARN, "declared " << declared << " but the text is UTF-8: " << path);
        redeclare_encoding(content, "UTF-8");
        damaged = true;
    } else if (!declaredUtf8) {
        to_utf8(declared);
    } else if (FB2Repair::mostlyNotUtf8(content)) {
        TF_LOG(LOG_WARN, "declared " << (declared.empty() ? std::string("no encoding") : declared)
                                     << " but the text is no UTF-8; read as windows-1251: " << path);
        to_utf8("windows-1251");
        damaged = true;
    }
    return true;
}

bool FB2Reader::unzip(const std::string& path) {
    ZipFile zip(ZipEntry::ZIP_READ);
    if (!zip.open(path)) {
        TF_LOG(LOG_ERROR, "cannot open zip archive: " << path << " (" << zip.getLastError() << ")");
        content.clear();
        return false;
    }
    zip.parse();
    std::vector<std::string> books;
    for (const std::string& name : zip.getNames()) {
        std::string lower = str2lower(name);
        size_t slash = lower.rfind('/');
        std::string base = slash == std::string::npos ? lower : lower.substr(slash + 1);
        // Skip the resource-fork copies that macOS archivers add beside the book.
        if (!endsWith(lower, ".fb2") || beginsWith(lower, "__macosx/") || beginsWith(base, "._"))
            continue;
        books.push_back(name);
    }
    if (books.size() != 1) {
        TF_LOG(LOG_ERROR, "zip archive holds " << books.size() << " .fb2 members, expected one: " << path);
        content.clear();
        return false;
    }
    std::string member;
    if (zip.getEntryData(books[0], member) <= 0 || member.empty()) {
        TF_LOG(LOG_ERROR, "cannot read " << books[0] << " from zip archive: " << path);
        content.clear();
        return false;
    }
    content.swap(member);
    return true;
}

bool FB2Reader::to_utf8(const std::string& declared) {
    std::string converted;
    if (!convert_to_utf8(declared, content, converted)) {
        // The text stays as it is: readable in part rather than not at all.
        TF_LOG(LOG_ERROR, "unknown encoding, text left as it is: " << declared);
        return false;
    }
    redeclare_encoding(converted, "UTF-8");
    content.swap(converted);
    return true;
}

std::unique_ptr<XmlNodeRef> FB2Reader::child(XmlNodeRef* parent, const std::string& name) {
    Node* found = nullptr;
    if (parent && !parent->isEmpty()) {
        for (Node* n = parent->getNode()->first_node(); n; n = n->next_sibling()) {
            if (is_element(n) && name_matches(name_of(n), name, ns_prefix, fb_prefix)) {
                found = n;
                break;
            }
        }
    }
    std::unique_ptr<XmlNodeRef> ref(new XmlNodeRef(doc.get()));
    if (found)
        ref->setXmlSource(found);
    return ref;
}

namespace {

// Whether any text below `top` is more than white space (no recursion: the
// tree may be deep).
bool has_text(const Node* top) {
    const Node* n = top->first_node();
    while (n && n != top) {
        if (n->type() == rapidxml::node_data || n->type() == rapidxml::node_cdata) {
            for (size_t i = 0; i < n->value_size(); ++i) {
                const char c = n->value()[i];
                if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                    return true;
            }
        }
        if (n->first_node()) {
            n = n->first_node();
            continue;
        }
        while (n != top && !n->next_sibling())
            n = n->parent();
        if (n == top)
            break;
        n = n->next_sibling();
    }
    return false;
}

} // namespace

bool FB2Reader::parse() {
    body.reset();
    description.reset();
    clear_entries();
    if (!root || root->isEmpty()) {
        TF_LOG(LOG_ERROR, "no FictionBook file open");
        return false;
    }
    description = child(root, "description");
    if (description->isEmpty()) {
        // Books from some libraries have none; their body is still readable.
        TF_LOG(LOG_WARN, "no description element found");
    }
    // The main body is the one without a name ("notes" and "comments" are named).
    Node* first = nullptr;
    Node* main = nullptr;
    for (Node* n = root->getNode()->first_node(); n; n = n->next_sibling()) {
        if (!is_element(n) || !name_matches(name_of(n), "body", ns_prefix, fb_prefix))
            continue;
        if (!first)
            first = n;
        if (!n->first_attribute("name")) {
            main = n;
            break;
        }
    }
    if (!first) {
        TF_LOG(LOG_ERROR, "no body element found");
        return false;
    }
    if (damaged && !has_text(main ? main : first)) {
        TF_LOG(LOG_ERROR, "damaged FictionBook file with no readable text: " << filename);
        return false;
    }
    body.reset(new XmlNodeRef(doc.get()));
    body->setXmlSource(main ? main : first);
    build_entries();
    return true;
}

void FB2Reader::clear_entries() {
    entries.clear();
    entries_by_name.clear();
    id_entries.clear();
    generated_ids.clear();
    contents.clear();
    contents_depths.clear();
    first_in_contents = false;
    main_title.clear();
    cached_name.clear();
    cached_page.clear();
}

bool FB2Reader::is_section(const Node* node) const {
    return is_element(node) && name_matches(name_of(node), "section", ns_prefix, fb_prefix);
}

namespace {

// Pre-order over the nodes below `top`, without recursion: a book's nesting
// depth is not to be trusted. `enter(n)` says whether to go into n's
// children; `leave(n)` follows the last child of a node that was gone into.
template <class Enter, class Leave>
void walk_below(const Node* top, Enter enter, Leave leave) {
    const Node* n = top ? top->first_node() : nullptr;
    while (n) {
        if (enter(n) && n->first_node()) {
            n = n->first_node();
            continue;
        }
        while (n && !n->next_sibling()) {
            n = n->parent();
            if (!n || n == top) {
                n = nullptr;
                break;
            }
            leave(n);
        }
        if (n)
            n = n->next_sibling();
    }
}

// What a node adds to a page's markup, its children aside.
size_t own_cost(const Node* n) {
    if (!is_element(n))
        return n->value_size();
    size_t cost = 2 * n->name_size() + 5;
    for (const Attr* a = n->first_attribute(); a; a = a->next_attribute())
        cost += a->name_size() + a->value_size() + 4;
    return cost;
}

bool has_element_child(const Node* n) {
    for (const Node* c = n->first_node(); c; c = c->next_sibling())
        if (is_element(c))
            return true;
    return false;
}

// Letters, digits, "-" and "_" of a body's name: it becomes part of addresses.
std::string address_safe(const std::string& name) {
    std::string out;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '-' || c == '_')
            out += c;
    }
    return out.substr(0, 64);
}

std::string collapse_space(const std::string& text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (is_space(c)) {
            space = !out.empty();
            continue;
        }
        if (space)
            out += ' ';
        space = false;
        out += c;
    }
    return out;
}

// Where a node starts in the book's text: elements by their name, text by its value.
const char* source_start(const Node* n) {
    return is_element(n) ? n->name() : n->value();
}

// Sections inside sections are cut no deeper than this.
constexpr int kMaxCutDepth = 32;

// Chooses where entries start inside one body: before each top-level section
// of the main body, before each subsection of a section too large to be one
// entry, and between paragraphs where a run would pass the bound.
struct Cutter {
    const std::function<bool(const Node*)>& section_test;
    size_t bound;
    const Node* body;
    const char* body_end;
    size_t acc = 0;
    bool has_section = false;
    std::vector<const Node*> cuts;

    Cutter(const std::function<bool(const Node*)>& test, size_t bound_, const Node* body_, const char* end)
        : section_test(test), bound(bound_), body(body_), body_end(end) {}

    // The node's markup as the book writes it: from its start to where the
    // next node after it starts (the tree is parsed in place, in order).
    size_t size_of(const Node* c) const {
        const char* start = source_start(c);
        for (const Node* n = c; n && n != body; n = n->parent()) {
            if (const Node* next = n->next_sibling())
                return span(start, source_start(next));
        }
        return span(start, body_end);
    }

    static size_t span(const char* from, const char* to) {
        return from && to && to > from ? static_cast<size_t>(to - from) : 0;
    }

    void cut_before(const Node* n) {
        // A cut before a first child is the cut before its parent: the parent's
        // start tag and id then go with the entry that shows its content.
        while (n->parent() && n->parent() != body && !n->previous_sibling())
            n = n->parent();
        if (cuts.empty() || cuts.back() != n)
            cuts.push_back(n);
        acc = 0;
        has_section = false;
    }

    void sequence(const Node* first, bool by_sections, int depth) {
        for (const Node* c = first; c; c = c->next_sibling()) {
            const size_t size = size_of(c);
            const bool section = section_test(c);
            const bool descend = section && size > bound && has_element_child(c) && depth < kMaxCutDepth;
            if (acc > 0 && ((by_sections && section && has_section) || (!descend && acc + size > bound)))
                cut_before(c);
            if (descend) {
                acc += own_cost(c);
                has_section = false;
                sequence(c->first_node(), true, depth + 1);
                has_section = true;
            } else {
                acc += size;
                has_section = has_section || section;
            }
        }
    }
};

} // namespace

void FB2Reader::build_entries() {
    const Node* main = body && !body->isEmpty() ? body->getNode() : nullptr;
    if (!main)
        return;
    std::vector<const Node*> bodies{main};
    for (const Node* n = root->getNode()->first_node(); n; n = n->next_sibling()) {
        if (n != main && is_element(n) && name_matches(name_of(n), "body", ns_prefix, fb_prefix) && n->first_node())
            bodies.push_back(n);
    }
    int body_number = 0;
    for (const Node* b : bodies) {
        ++body_number;
        std::string base;
        if (b != main) {
            base = address_safe(attribute_of(b, "name"));
            if (base.empty() || base == "home" || beginsWith(base, "section-"))
                base = "body-" + std::to_string(body_number);
            if (entries_by_name.count(base))
                base += "-" + std::to_string(body_number);
        }
        cut_body(b, b == main, base);
    }
    // Ids first, then contents: an id made up for a section must not be one
    // that the book uses further on.
    for (size_t i = 0; i < entries.size();) {
        size_t j = i;
        while (j < entries.size() && entries[j].body == entries[i].body)
            ++j;
        index_body(entries[i].body, i, j - i, false, nullptr);
        i = j;
    }
    int section_count = 0;
    for (size_t i = 0; i < entries.size();) {
        size_t j = i;
        while (j < entries.size() && entries[j].body == entries[i].body)
            ++j;
        index_body(entries[i].body, i, j - i, true, &section_count);
        i = j;
    }
}

void FB2Reader::cut_body(const Node* b, bool main, const std::string& base) {
    // Where the body's markup ends: the start of what follows it, else the
    // end of its last text.
    const char* body_end = nullptr;
    if (const Node* next = b->next_sibling()) {
        body_end = source_start(next);
    } else {
        const Node* last = b;
        // rapidxml leaves last_node() undefined where there is no child.
        while (last->first_node())
            last = last->last_node();
        if (last != b)
            body_end = source_start(last) + (is_element(last) ? last->name_size() : last->value_size());
    }
    const std::function<bool(const Node*)> section_test = [this](const Node* n) { return is_section(n); };
    Cutter cutter(section_test, kEntryBound, b, body_end);
    // Top-level sections of the main body are entries of their own, however small.
    cutter.sequence(b->first_node(), main, 0);

    std::vector<const Node*> starts{b->first_node()};
    for (const Node* cut : cutter.cuts)
        if (cut != starts.front())
            starts.push_back(cut);

    // Main body entries are named by their top-level section, the pieces of a
    // cut one numbered after it.
    std::unordered_map<const Node*, int> top_index;
    if (main) {
        int count = 0;
        for (const Node* c = b->first_node(); c; c = c->next_sibling()) {
            if (is_section(c))
                ++count;
            top_index[c] = std::max(count, 1);
        }
    }
    std::unordered_map<int, int> pieces;
    for (size_t i = 0; i < starts.size(); ++i) {
        Entry entry;
        entry.body = b;
        entry.start = starts[i];
        entry.end = i + 1 < starts.size() ? starts[i + 1] : nullptr;
        int key = 0;
        std::string name = base;
        if (main) {
            const Node* top = entry.start;
            while (top && top->parent() != b)
                top = top->parent();
            auto it = top_index.find(top);
            key = it == top_index.end() ? 1 : it->second;
            name = "section-" + std::to_string(key);
        }
        const int piece = ++pieces[key];
        if (piece > 1)
            name += "." + std::to_string(piece);
        entry.name = name;
        entries_by_name.emplace(name, entries.size());
        entries.push_back(std::move(entry));
    }
}

void FB2Reader::index_body(const Node* b, size_t first_entry, size_t entry_count, bool contents_pass,
                           int* section_count) {
    size_t current = first_entry;
    const size_t last = first_entry + entry_count;
    const bool main = body && b == body->getNode();
    unsigned depth = main ? 0 : 1;

    auto title_text = [this](const Node* section) {
        for (const Node* c = section->first_node(); c; c = c->next_sibling()) {
            if (!is_element(c) || !name_matches(name_of(c), "title", ns_prefix, fb_prefix))
                continue;
            std::string text;
            walk_below(
                c,
                [&](const Node* n) {
                    if (is_element(n)) {
                        text += ' ';
                        return true;
                    }
                    text.append(n->value(), n->value_size());
                    return false;
                },
                [](const Node*) {});
            return collapse_space(text);
        }
        return std::string();
    };

    if (contents_pass && !main) {
        // A further body is one contents line, its sections nested under it.
        std::string label = title_text(b);
        if (label.empty())
            label = attribute_of(b, "name");
        if (label.empty())
            label = entries[first_entry].name;
        contents.emplace_back(entries[first_entry].name, label);
        contents_depths.push_back(0);
    }

    // Depth is the number of sections around a line, titled or not: books
    // nest chapters in untitled sections to mean a level, so depths may skip.
    walk_below(
        b,
        [&](const Node* n) {
            while (current + 1 < last && n == entries[current + 1].start)
                ++current;
            if (!is_element(n))
                return false;
            if (!contents_pass) {
                const std::string id = attribute_of(n, "id");
                if (!id.empty())
                    id_entries.emplace(id, current);
                return true;
            }
            if (!is_section(n))
                return true;
            ++*section_count;
            const std::string label = title_text(n);
            if (!label.empty()) {
                std::string address = entries[current].name;
                if (n != entries[current].start) {
                    std::string id = attribute_of(n, "id");
                    if (id.empty()) {
                        id = "fb2-section-" + std::to_string(*section_count);
                        while (id_entries.count(id))
                            id += "_";
                        id_entries.emplace(id, current);
                        generated_ids.emplace(n, id);
                    }
                    address += "#" + id;
                }
                contents.emplace_back(address, label);
                contents_depths.push_back(depth);
                if (main && current == 0)
                    first_in_contents = true;
            }
            if (n->first_node())
                ++depth;
            return true;
        },
        [&](const Node* n) {
            if (contents_pass && is_section(n) && depth > 0)
                --depth;
        });
    if (contents_pass && main)
        main_title = title_text(b);
}

pair_list_t FB2Reader::toc() {
    // The start of the text is always in the contents, even where its first
    // section has no title.
    if (!first_in_contents && !entries.empty()) {
        pair_list_t out{{entries.front().name, main_title.empty() ? get_title() : main_title}};
        out.insert(out.end(), contents.begin(), contents.end());
        return out;
    }
    return contents;
}

std::vector<unsigned> FB2Reader::toc_depths() {
    if (!first_in_contents && !entries.empty()) {
        std::vector<unsigned> out{0u};
        out.insert(out.end(), contents_depths.begin(), contents_depths.end());
        return out;
    }
    return contents_depths;
}

pair_list_t FB2Reader::spine() {
    pair_list_t out;
    out.reserve(entries.size());
    for (const Entry& entry : entries)
        out.emplace_back(entry.name, "");
    return out;
}

size_t FB2Reader::entry_index(const std::string& name) const {
    auto it = entries_by_name.find(name);
    return it == entries_by_name.end() ? 0 : it->second;
}

std::string FB2Reader::entry_name_next(std::string name) {
    if (entries.empty())
        return "";
    if (name.empty())
        return entries.front().name;
    const size_t i = entry_index(name.substr(0, name.find('#')));
    return i + 1 < entries.size() ? entries[i + 1].name : "";
}

std::string FB2Reader::entry_name_prev(std::string name) {
    if (entries.empty() || name.empty())
        return "";
    const size_t i = entry_index(name.substr(0, name.find('#')));
    return i > 0 ? entries[i - 1].name : "";
}

std::string FB2Reader::entry_name_of_id(std::string id) {
    auto it = id_entries.find(id);
    return it == id_entries.end() ? "" : entries[it->second].name;
}

std::string FB2Reader::get_title() {
    std::unique_ptr<XmlNodeRef> title_info = child(description.get(), "title-info");
    if (title_info->isEmpty()) {
        TF_LOG(LOG_WARN, "no title-info element found");
        return default_title();
    }
    std::unique_ptr<XmlNodeRef> book_title = child(title_info.get(), "book-title");
    if (book_title->isEmpty()) {
        TF_LOG(LOG_WARN, "no book-title element found");
        return default_title();
    }
    Node* node = book_title->getNode();
    std::string text(node->value(), node->value_size());
    if (!text.empty())
        return text;
    std::unique_ptr<XmlNodeRef> annotation = child(title_info.get(), "annotation");
    if (!annotation->isEmpty()) {
        node = annotation->getNode();
        text.assign(node->value(), node->value_size());
        if (!text.empty())
            return text;
    }
    return default_title();
}

const rapidxml::xml_node<char>* FB2Reader::find_binary(const std::string& id) {
    if (!binaries_indexed) {
        binaries_indexed = true;
        binaries.clear();
        if (root && !root->isEmpty()) {
            for (Node* n = root->getNode()->first_node(); n; n = n->next_sibling()) {
                if (is_element(n) && name_matches(name_of(n), "binary", "", fb_prefix))
                    binaries.emplace(attribute_of(n, "id"), n);
            }
        }
    }
    auto it = binaries.find(id);
    return it == binaries.end() ? nullptr : it->second;
}

bool FB2Reader::get_binary(const std::string& name, std::string& out, std::string& type) {
    // An empty id never matches: "#" alone names the first entry.
    if (name.size() < 2 || name[0] != '#' || !root || root->isEmpty())
        return false;
    const Node* n = find_binary(name.substr(1));
    if (!n)
        return false;
    type = attribute_of(n, "content-type");
    out = "data64:" + type + ":";
    out.append(n->value(), n->value_size());
    return true;
}

std::string FB2Reader::get_entry(std::string name, std::string& out) {
    std::string type;
    const size_t hash = name.find('#');
    if (hash != std::string::npos && get_binary(name.substr(hash), out, type))
        return type;
    if (entries.empty()) {
        out = "<html><body></body></html>";
        return "html";
    }
    const Entry& entry = entries[entry_index(name.substr(0, hash))];
    if (cached_name != entry.name) {
        cached_page = build_page(entry);
        cached_name = entry.name;
    }
    out = cached_page;
    return "html";
}

std::string FB2Reader::tag_of(const Node* element, const char** css_class) const {
    std::string name = name_of(element);
    if (!fb_prefix.empty() && name.size() > fb_prefix.size() + 1 &&
        name.compare(0, fb_prefix.size(), fb_prefix) == 0 && name[fb_prefix.size()] == ':')
        name.erase(0, fb_prefix.size() + 1);
    if (const char* stand_in = html_stand_in(name, css_class))
        return std::string(stand_in);
    return safe_name(name);
}

std::string FB2Reader::build_page(const Entry& entry) {
    std::string html = "<html xmlns:xlink=\"http://www.w3.org/1999/xlink\"><head><style type=\"text/css\">";
    html += page_style();
    html += "</style></head><body>";

    // The sections the entry starts inside stay around it (their style
    // depends on the nesting); their ids went with the entry they start in.
    std::vector<std::string> open;
    {
        std::vector<const Node*> wrappers;
        for (const Node* p = entry.start ? entry.start->parent() : nullptr; p && p != entry.body; p = p->parent())
            wrappers.push_back(p);
        for (auto it = wrappers.rbegin(); it != wrappers.rend(); ++it) {
            const char* css_class = nullptr;
            std::string tag = tag_of(*it, &css_class);
            html += '<' + tag;
            if (css_class)
                html += std::string(" class=\"") + css_class + '"';
            html += '>';
            open.push_back(std::move(tag));
        }
    }

    const Node* n = entry.start;
    while (n && n != entry.end) {
        if (is_element(n)) {
            // The parser drops white space that stands alone between two tags;
            // between two inline elements it separates words, so keep one blank.
            const Node* prev = n->previous_sibling();
            const char* start = n->name();
            if (is_element(prev) && start[-1] == '<' && is_space(start[-2]))
                html += ' ';
            const char* css_class = nullptr;
            std::string tag = tag_of(n, &css_class);
            html += '<';
            html += tag;
            // A set: an element may carry any number of attributes.
            std::unordered_set<std::string> written;
            if (css_class) {
                html += " class=\"";
                html += css_class;
                html += '"';
                written.insert("class");
            }
            auto generated = generated_ids.find(n);
            if (generated != generated_ids.end()) {
                html += " id=\"";
                xml_escape_into(html, generated->second.data(), generated->second.size());
                html += '"';
                written.insert("id");
            }
            for (const Attr* a = n->first_attribute(); a; a = a->next_attribute()) {
                std::string attr = name_of(a);
                // The view knows pictures by "xlink:href" and links by "href",
                // whatever prefix the book bound to XLink.
                if (attr.find(':') != std::string::npos && local_name(attr) == "href")
                    attr = tag == "a" ? "href" : "xlink:href";
                attr = safe_name(attr);
                if (!written.insert(attr).second)
                    continue;
                html += ' ';
                html += attr;
                html += "=\"";
                xml_escape_into(html, a->value(), a->value_size());
                html += '"';
            }
            // Never "<x/>": an HTML parser keeps such an element open.
            html += '>';
            if (n->first_node()) {
                open.push_back(std::move(tag));
                n = n->first_node();
                continue;
            }
            html += "</" + tag + ">";
        } else if (n->type() == rapidxml::node_data || n->type() == rapidxml::node_cdata) {
            xml_escape_into(html, n->value(), n->value_size(), false);
        }
        // Next: the following sibling, or close the parents that have none.
        while (n && !n->next_sibling()) {
            n = n->parent();
            if (!n || n == entry.body || open.empty()) {
                n = nullptr;
                break;
            }
            html += "</" + open.back() + ">";
            open.pop_back();
        }
        if (n)
            n = n->next_sibling();
    }
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        html += "</" + *it + ">";
    html += "</body></html>";
    return html;
}

std::string FB2Reader::cover_reference(const char** missing) {
    std::unique_ptr<XmlNodeRef> title_info = child(description.get(), "title-info");
    if (title_info->isEmpty()) {
        *missing = "no title-info element found";
        return "";
    }
    std::unique_ptr<XmlNodeRef> coverpage = child(title_info.get(), "coverpage");
    if (coverpage->isEmpty()) {
        *missing = "no coverpage element found";
        return "";
    }
    std::unique_ptr<XmlNodeRef> image = child(coverpage.get(), "image");
    if (image->isEmpty()) {
        *missing = "no image element found";
        return "";
    }
    const Node* node = image->getNode();
    std::string ref = attribute_of(node, "xlink:href");
    if (ref.empty() && !ns_prefix.empty())
        ref = attribute_of(node, ns_prefix + ":href");
    // Any other prefix the book bound to XLink.
    for (const Attr* a = node->first_attribute(); a && ref.empty(); a = a->next_attribute()) {
        std::string name = name_of(a);
        if (name.find(':') != std::string::npos && local_name(name) == "href")
            ref.assign(a->value(), a->value_size());
    }
    return ref;
}

std::string FB2Reader::cover_page(std::string& cover_entry) {
    const char* missing = nullptr;
    std::string ref = cover_reference(&missing);
    if (missing)
        TF_LOG(LOG_WARN, missing);
    if (ref.empty())
        return default_coverpage();
    std::string scratch, type;
    if (!get_binary(ref, scratch, type)) {
        // An image page for a picture that is not there would show nothing at all.
        TF_LOG(LOG_WARN, "cover image not found: " << ref);
        return default_coverpage();
    }
    cover_entry = ref;
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<html><head><title>" + xml_escape(get_title()) +
           "</title></head><body><image style=\"height:500px\" xlink:href=\"" + xml_escape(ref) +
           "\" /></body></html>";
}

void FB2Reader::close() {
    binaries.clear();
    binaries_indexed = false;
    body.reset();
    description.reset();
    root = nullptr;
    doc.reset();
    content.clear();
    content_size = 0;
    clear_entries();
}

} // namespace tf
