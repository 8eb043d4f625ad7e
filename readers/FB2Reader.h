#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include <rapidxml/rapidxml.hpp>

#include "readers/BaseReader.h"

namespace tf {

class XmlDoc;
class XmlNodeRef;

// A FictionBook 2 file (plain, or the only ".fb2" member of a zip archive)
// presented as a book with one entry, "home": the main body as an HTML page.
// Pictures are served by their reference ("#" + binary id) in the text form
// "data64:" + content type + ":" + base64 text.
class FB2Reader : public BaseReader {
public:
    FB2Reader();
    ~FB2Reader() override;
    FB2Reader(const FB2Reader&) = delete;
    FB2Reader& operator=(const FB2Reader&) = delete;

    bool open(std::string path) override;
    std::string get_type() override { return "fb2"; }
    bool parse() override;
    pair_list_t toc() override;
    pair_list_t spine() override;
    std::string get_title() override;
    // A picture for "#" + id of a binary (result: its content type); anything
    // else gets the body page (result: "html").
    std::string get_entry(std::string name, std::string& out) override;
    std::string entry_name_next(std::string name) override;
    std::string entry_name_prev(std::string name) override;
    std::string cover_page(std::string& cover_entry) override;
    name_list_t get_font_entries() override { return {}; }
    void close() override;
    bool isOpen() override { return !content.empty(); }

    // The style sheet the body page carries in its head.
    static const char* page_style();

private:
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
    void build_page();

    std::unique_ptr<XmlDoc> doc;
    XmlNodeRef* root = nullptr;  // owned by doc
    std::unique_ptr<XmlNodeRef> body;
    std::unique_ptr<XmlNodeRef> description;
    const std::string entry_name;
    std::string content;
    // Prefix of the first "xmlns:" declaration of the root (normally the XLink one).
    std::string ns_prefix;
    // Prefix of the root element itself ("fb" for <fb:FictionBook>), "" when plain.
    std::string fb_prefix;
    // The body page, built once per opened book.
    std::string page;
    bool page_built = false;
    // Binary elements by id, gathered on the first lookup: a page shows each
    // of its pictures, and a book may hold thousands.
    std::unordered_map<std::string, const rapidxml::xml_node<char>*> binaries;
    bool binaries_indexed = false;
};

} // namespace tf
