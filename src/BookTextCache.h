#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tf {

class BaseReader;

// The extracted text (EntryText) of each reading-order entry of one opened
// book, made on first use and kept while the book stays open. The markup is
// fetched through a function the owner supplies, so the cache works on the
// view's reader as well as on a reader of its own.
//
// Threads: every operation may be called from any thread. Extraction runs
// outside the cache's lock, so threads extract different entries in parallel;
// a thread asking for an entry another one is extracting waits for that
// result. Texts are handed out as shared pointers and stay valid after the
// cache drops them.
class BookTextCache {
public:
    // The markup of an entry by its name; false when it cannot be read.
    using Fetch = std::function<bool(const std::string& entry, std::string& markup)>;
    using Text = std::shared_ptr<const std::u32string>;

    // `entries`: the book's reading order (spine entry names).
    BookTextCache(std::string book, std::vector<std::string> entries, Fetch fetch);

    // A cache on a reader (of its own, not shared) opened on `path` (bytes);
    // null when the file is no book we can read.
    static std::unique_ptr<BookTextCache> open(const std::string& path);
    // The fetch function reading entries from `reader`: the markup of its
    // entry, or the whole page from a single-file reader.
    static bool fetchFrom(BaseReader& reader, const std::string& entry, std::string& markup);

    const std::string& book() const { return m_book; }
    size_t entryCount() const { return m_entries.size(); }
    const std::string& entryName(size_t index) const { return m_entries.at(index); }
    // The reading-order index of an entry name, -1 when it is none.
    long indexOf(const std::string& entry) const;

    // The text of entry `index` (empty for an entry that cannot be read or an index out of range).
    Text text(size_t index);
    // The text when extracted already, else null (never extracts).
    Text cached(size_t index) const;
    // The length in characters of every entry, -1 for those not yet extracted.
    std::vector<long> lengths() const;

private:
    const std::string m_book;
    const std::vector<std::string> m_entries;
    Fetch m_fetch;
    std::unique_ptr<BaseReader> m_ownReader;
    mutable std::mutex m_mutex;
    std::condition_variable m_extracted;
    std::vector<Text> m_texts;
    std::vector<bool> m_busy; // being extracted by some thread
    std::mutex m_fetchMutex; // a reader is not safe to share between threads
};

} // namespace tf
