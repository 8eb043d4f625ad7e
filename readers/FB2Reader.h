#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <rapidxml/rapidxml.hpp>

#include "readers/BaseReader.h"

namespace tf {

class XmlDoc;
class XmlNodeRef;

// A FictionBook 2 file (plain, or the only ".fb2" member of a zip archive)
// presented as a book of entries, each an HTML page: one per top-level
// section of the main body ("section-K"; what stands before the first section
// goes with the first), then the further bodies (notes, comments) under their
// names. A section larger than kEntryBound is cut at its subsections, and
// where it has none between paragraphs ("section-K.2", ...), so an entry's
// cost follows its own size. The XML is parsed once per opened book; a page
// is built when asked for. Pictures are served by their reference ("#" +
// binary id) in the text form "data64:" + content type + ":" + base64 text.
// Any name that is no entry ("home", the single entry of older versions)
// stands for the first entry.
class FB2Reader : public BaseReader {
public:
    // Markup bytes an entry is cut down to where the book's structure allows
    // (a single paragraph larger than this stays whole). Layout costs about
    // 1.5-2 ms and 0.1 MB per KiB of FictionBook markup: 128 KiB keeps a whole
    // entry near 150 ms, while ordinary chapters (20-100 KiB) stay whole.
    static constexpr size_t kEntryBound = 128 * 1024;

    FB2Reader();
    ~FB2Reader() override;
    FB2Reader(const FB2Reader&) = delete;
    FB2Reader& operator=(const FB2Reader&) = delete;

    bool open(std::string path) override;
    std::string get_type() override { return "fb2"; }
    bool parse() override;
    // One line per titled section at any depth, and one per further body.
    pair_list_t toc() override;
    std::vector<unsigned> toc_depths() override;
    pair_list_t spine() override;
    std::string get_title() override;
    // A picture for "#" + id of a binary, also behind an entry name
    // ("section-2#pic"; result: its content type); otherwise the page of the
    // entry named before any "#" (result: "html").
    std::string get_entry(std::string name, std::string& out) override;
    std::string entry_name_next(std::string name) override;
    std::string entry_name_prev(std::string name) override;
    // The entry holding the element with this id; "" when no element has it.
    std::string entry_name_of_id(std::string id) override;
    std::string cover_page(std::string& cover_entry) override;
    name_list_t get_font_entries() override { return {}; }
    void close() override;
    // The file's bytes were read (they live on in the parsed document).
    bool isOpen() override { return content_size > 0; }

    // The file was not well-formed (or its declared encoding lied) and was
    // mended: what is shown is as much as could be read.
    bool is_damaged() const override { return damaged; }

    // The style sheet the body page carries in its head.
    static const char* page_style();

private:
    // Reads the book's bytes into `content` (the only ".fb2" member of a zip
    // archive) as UTF-8, whatever the declaration says. False when there is
    // no book to read: `refusal` then says why, unless a log line did.
    bool read_book(const std::string& path, std::string& refusal);
    // Replaces `content` by the only ".fb2" member when it holds a zip archive.
    bool unzip(const std::string& path);
    // Re-encodes `content` from the declared encoding to UTF-8 (the XML document's own
    // copy would print the tree again and lose or add white space in the text).
    // False, with `content` unchanged, when iconv does not know the encoding.
    bool to_utf8(const std::string& declared);
    // The first child element of `parent` named `name`, plain or with one of the
    // book's prefixes; empty when none.
    std::unique_ptr<XmlNodeRef> child(XmlNodeRef* parent, const std::string& name);
    bool get_binary(const std::string& name, std::string& out, std::string& type);
    // The binary element with this id (the first when ids repeat); null when none.
    const rapidxml::xml_node<char>* find_binary(const std::string& id);
    // The cover image's reference; "" with the reason in `missing` when the
    // description names none.
    std::string cover_reference(const char** missing);
    // One entry: the document-order range from `start` up to `end` (exclusive;
    // null for the end of `body`), inside one body.
    struct Entry {
        std::string name;
        const rapidxml::xml_node<char>* body = nullptr;
        const rapidxml::xml_node<char>* start = nullptr;
        const rapidxml::xml_node<char>* end = nullptr;
    };
    void build_entries();
    void clear_entries();
    void cut_body(const rapidxml::xml_node<char>* body, bool main, const std::string& base);
    void index_body(const rapidxml::xml_node<char>* body, size_t first_entry, size_t entry_count, bool main,
                    int* section_count);
    size_t entry_index(const std::string& name) const;
    std::string build_page(const Entry& entry);
    std::string tag_of(const rapidxml::xml_node<char>* element, const char** css_class) const;
    bool is_section(const rapidxml::xml_node<char>* node) const;

    std::unique_ptr<XmlDoc> doc;
    XmlNodeRef* root = nullptr;  // owned by doc
    std::unique_ptr<XmlNodeRef> body;
    std::unique_ptr<XmlNodeRef> description;
    const std::string entry_name;
    std::string content;
    size_t content_size = 0;
    bool damaged = false;
    // Prefix of the first "xmlns:" declaration of the root (normally the XLink one).
    std::string ns_prefix;
    // Prefix of the root element itself ("fb" for <fb:FictionBook>), "" when plain.
    std::string fb_prefix;
    std::vector<Entry> entries;
    std::unordered_map<std::string, size_t> entries_by_name;
    // Every element id of the bodies, with the entry that holds it (the first
    // when ids repeat).
    std::unordered_map<std::string, size_t> id_entries;
    // Ids given to titled sections without one, so contents can point at them.
    std::unordered_map<const rapidxml::xml_node<char>*, std::string> generated_ids;
    pair_list_t contents;
    std::vector<unsigned> contents_depths;
    // Whether a contents line points into the first entry; the main body's title.
    bool first_in_contents = false;
    std::string main_title;
    // The page built last: a zoom or a note link asks for the same entry again.
    std::string cached_name;
    std::string cached_page;
    // Binary elements by id, gathered on the first lookup: a page shows each
    // of its pictures, and a book may hold thousands.
    std::unordered_map<std::string, const rapidxml::xml_node<char>*> binaries;
    bool binaries_indexed = false;
};

} // namespace tf
