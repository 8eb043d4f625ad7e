// Time to open and parse the largest EPUB of the corpus, and to fetch all of its
// spine documents afterwards.
//
//   bench_epub_open [runs] [book.epub]    (default 7 runs; medians are printed)
//
// The reader's log lines go to the standard error stream; send it to /dev/null.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "readers/EPUBReader.h"
#include "bench/bench_util.h"
#include "utility/File.h"
#include "utility/text.h"

namespace {

using bench::Clock;
using bench::median;
using bench::ms_since;

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::string path = argc > 2 ? argv[2] : bench::largest_corpus_book(".epub");
    if (path.empty()) {
        std::fprintf(stdout, "no EPUB found in the corpus\n");
        return 1;
    }

    std::vector<double> open_parse, fetch_spine, first_to_last;
    size_t spine_size = 0, toc_size = 0, bytes = 0;
    for (int run = 0; run < runs; ++run) {
        tf::EPUBReader reader;
        Clock::time_point start = Clock::now();
        if (!reader.open(path) || !reader.parse()) {
            std::fprintf(stdout, "cannot open or parse %s\n", path.c_str());
            return 1;
        }
        open_parse.push_back(ms_since(start));

        start = Clock::now();
        tf::pair_list_t spine = reader.spine();
        bytes = 0;
        for (const auto& item : spine) {
            std::string out;
            reader.get_entry(item.first, out);
            bytes += out.size();
        }
        fetch_spine.push_back(ms_since(start));

        // Stepping chapter by chapter, as the reader's next-chapter key does.
        start = Clock::now();
        for (std::string name = reader.entry_name_next(""); !name.empty(); name = reader.entry_name_next(name)) {
        }
        first_to_last.push_back(ms_since(start));

        spine_size = spine.size();
        toc_size = reader.toc().size();
        reader.close();
    }

    long size = tf::File(tf::String(path)).getSize();
    std::fprintf(stdout, "book: %s (%ld bytes; %zu spine documents, %zu bytes of them; %zu contents entries)\n",
                 path.c_str(), size, spine_size, bytes, toc_size);
    std::fprintf(stdout, "runs: %d\n", runs);
    std::fprintf(stdout, "open + parse:             median %.2f ms (min %.2f, max %.2f)\n", median(open_parse),
                 *std::min_element(open_parse.begin(), open_parse.end()),
                 *std::max_element(open_parse.begin(), open_parse.end()));
    std::fprintf(stdout, "fetch every spine entry:  median %.2f ms\n", median(fetch_spine));
    std::fprintf(stdout, "step first to last:       median %.2f ms\n", median(first_to_last));
    return 0;
}
