#pragma once

#include <string>

#include "readers/BaseReader.h"
#include "readers/EPUB.h"

namespace tf {

// The reader for EPUB books: the parsed package behind the reader interface.
// Every name it hands out or accepts is an archive member name.
class EPUBReader : public EPUB, public BaseReader {
public:
    EPUBReader();
    ~EPUBReader() override;

    bool open(std::string path) override;
    std::string get_type() override { return "epub"; }
    bool parse() override;
    pair_list_t toc() override;
    std::vector<unsigned> toc_depths() override;
    pair_list_t spine() override;
    name_list_t fonts() override;
    std::string get_title() override;
    std::string get_entry(std::string name, std::string& out) override;
    std::string entry_name_next(std::string name) override;
    std::string entry_name_prev(std::string name) override;
    std::string entry_name_of_id(std::string id) override;
    std::string cover_page(std::string& cover_entry) override;
    // TrueType and OpenType members of the archive, in listing order; fonts
    // encrypted in a way that cannot be undone are left out.
    name_list_t get_font_entries() override;
    void close() override;
    bool isOpen() override;
};

} // namespace tf
