#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "utility/FoldedText.h"

namespace tf {

class BookTextCache;

// Finds a phrase in the whole book, entry by entry in reading order, on the
// texts of a BookTextCache (matching as FoldedText folds: loose by default).
// Offsets and lengths count characters (code points) of the entry's text.
class BookSearch {
public:
    struct Hit {
        size_t entry = 0;  // reading-order index (0-based)
        size_t offset = 0; // first character of the match in the entry's text
        size_t length = 0; // characters of the entry's text the match covers
        // UTF-8 context: up to `context` characters before and after, on one line.
        std::string before, match, after;
    };
    struct Options {
        FoldedText::Mode mode = FoldedText::LOOSE;
        size_t context = 40;
        // A thread of its own reads the entries ahead while the search goes
        // on (the parser's work dominates; entries already read cost nothing).
        bool readAhead = true;
    };
    // Called once per entry searched, with that entry's hits (maybe none),
    // on the searching thread; false stops the search.
    using EntryDone = std::function<bool(size_t entry, std::vector<Hit>& hits)>;

    // Searches every entry in order (or until `cancel` turns true or `done`
    // answers false), on the calling thread; the reading ahead ends with it.
    // False when stopped before the end.
    static bool run(BookTextCache& book, const std::string& phrase, const Options& options, const EntryDone& done,
                    const std::atomic<bool>* cancel = nullptr);

    // Every match of the folded `query` (FoldedText::query) in `text`, not overlapping.
    static std::vector<Hit> find(const std::u32string& text, const std::u32string& query, size_t entry,
                                 const Options& options);
};

} // namespace tf
