#pragma once

#include <string>

#include "readers/BaseReader.h"

namespace tf {

// One HTML, XHTML or SVG file presented as a book of a single page: the
// document is its own cover and its only entry.
class HTMLReader : public BaseReader {
public:
    bool open(std::string path) override;
    std::string get_type() override { return "html"; }
    bool parse() override { return true; }
    pair_list_t toc() override { return {}; }
    pair_list_t spine() override { return {}; }
    // The document's <title>, else its first heading, else the file's name
    // ("Html document" before a file is open).
    std::string get_title() override { return title.empty() ? "Html document" : title; }
    // Returns the whole document whatever the name; `out` is left alone.
    std::string get_entry(std::string name, std::string& out) override;
    std::string cover_page(std::string& cover_entry) override;
    name_list_t get_font_entries() override { return {}; }
    // Nothing to release: the document stays until the reader is destroyed.
    void close() override {}

private:
    std::string content;
    std::string title;
};

} // namespace tf
