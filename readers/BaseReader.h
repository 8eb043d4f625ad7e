#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tf {

using pair_list_t = std::vector<std::pair<std::string, std::string>>;
using name_list_t = std::vector<std::string>;

// The interface every book format is read through. Text crossing it is bytes
// (UTF-8 paths and titles, entry names as stored in the book, raw entry bytes).
class BaseReader {
public:
    virtual ~BaseReader() = default;

    virtual bool open(std::string path) = 0;
    virtual std::string get_type() = 0;
    virtual bool parse() = 0;
    // (entry address, label) in reading order.
    virtual pair_list_t toc() = 0;
    // The nesting depth of each toc() line, in the same order (0 = top level).
    virtual std::vector<unsigned> toc_depths() { return std::vector<unsigned>(toc().size(), 0u); }
    // (entry name, companion entry name) per content document.
    virtual pair_list_t spine() = 0;
    virtual name_list_t fonts() { return {}; }
    virtual std::string get_title() = 0;
    virtual std::string get_filename() { return filename; }
    // Writes the entry into `out` (HTMLReader returns the document instead).
    virtual std::string get_entry(std::string name, std::string& out) = 0;
    virtual std::string entry_name_next(std::string /*name*/) { return ""; }
    virtual std::string entry_name_prev(std::string /*name*/) { return ""; }
    virtual std::string entry_name_of_id(std::string /*id*/) { return ""; }
    // A whole HTML page to show first; `cover_entry` receives the cover's entry name when found.
    virtual std::string cover_page(std::string& cover_entry) = 0;
    virtual name_list_t get_font_entries() = 0;
    virtual void close() = 0;
    virtual bool isOpen() { return false; }
    // The book was damaged and is shown as far as it could be read.
    virtual bool is_damaged() const { return false; }
    virtual std::string default_coverpage();

    std::string default_title();

    // Why the last open() or parse() failed, in words for the user; "" when
    // the reader did not say (the details are in the log either way).
    const std::string& last_error() const { return m_readError; }

    // "epub", "fb2" or "html"; anything else throws std::invalid_argument("incorrect format name").
    static BaseReader* create(const std::string& format);
    static std::unique_ptr<BaseReader> create_smart(const std::string& format);

protected:
    // Records the reason for last_error(); returns false, for `return set_error(...)`.
    bool set_error(std::string why) {
        m_readError = std::move(why);
        return false;
    }

    std::string filename;
    std::string m_readError;
};

} // namespace tf
