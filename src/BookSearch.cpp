#include "src/BookSearch.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "src/BookTextCache.h"

namespace tf {

namespace {

// Context on one line: line breaks between blocks show as spaces.
std::string flat(const std::u32string& text, size_t from, size_t to) {
    std::string out;
    for (size_t i = from; i < to; ++i) {
        const char32_t c = text[i];
        FoldedText::append(out, (c == U'\n' || c == U'\t' || c == U'\r') ? U' ' : c);
    }
    return out;
}

} // namespace

std::vector<BookSearch::Hit> BookSearch::find(const std::u32string& text, const std::u32string& query, size_t entry,
                                              const Options& options) {
    std::vector<Hit> hits;
    if (query.empty() || text.empty())
        return hits;
    const FoldedText folded(text, options.mode);
    const std::u32string& hay = folded.text();
    const std::boyer_moore_horspool_searcher<std::u32string::const_iterator> searcher(query.begin(), query.end());
    auto from = hay.begin();
    for (;;) {
        const auto found = std::search(from, hay.end(), searcher);
        if (found == hay.end())
            break;
        const size_t pos = static_cast<size_t>(found - hay.begin());
        Hit hit;
        hit.entry = entry;
        hit.offset = folded.sourceOffset(pos);
        const size_t end = folded.sourceEnd(pos + query.size());
        hit.length = end - hit.offset;
        const size_t start = hit.offset >= options.context ? hit.offset - options.context : 0;
        const size_t stop = std::min(text.size(), end + options.context);
        hit.before = flat(text, start, hit.offset);
        hit.match = flat(text, hit.offset, end);
        hit.after = flat(text, end, stop);
        hits.push_back(std::move(hit));
        from = found + static_cast<std::ptrdiff_t>(query.size());
    }
    return hits;
}

bool BookSearch::run(BookTextCache& book, const std::string& phrase, const Options& options, const EntryDone& done,
                     const std::atomic<bool>* cancel) {
    const std::u32string query = FoldedText::query(phrase, options.mode);
    std::atomic<bool> stop{false};
    std::atomic<size_t> reached{0};
    std::thread ahead;
    if (options.readAhead && !query.empty() && book.entryCount() > 1) {
        ahead = std::thread([&book, &stop, &reached, cancel] {
            for (size_t i = 1; i < book.entryCount(); ++i) {
                if (stop.load() || (cancel && cancel->load()))
                    return;
                // Never more than a few entries ahead: a search given up early reads little.
                while (i > reached.load() + 4 && !stop.load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                if (!book.cached(i))
                    book.text(i);
            }
        });
    }
    bool complete = true;
    for (size_t i = 0; i < book.entryCount(); ++i) {
        reached = i;
        if (cancel && cancel->load()) {
            complete = false;
            break;
        }
        std::vector<Hit> hits;
        if (!query.empty()) {
            const BookTextCache::Text text = book.text(i);
            if (cancel && cancel->load()) {
                complete = false;
                break;
            }
            hits = find(*text, query, i, options);
        }
        if (done && !done(i, hits)) {
            complete = false;
            break;
        }
    }
    stop = true;
    if (ahead.joinable())
        ahead.join();
    return complete;
}

} // namespace tf
