// Whole-book search of a common word: time to the first result and to all
// results, each run on a freshly opened book (no texts cached yet), against
// a reference run that only reads every spine entry's bytes from the book;
// and the same search again on the opened book (its texts kept).
//
//   bench_book_search [runs] [word] [alone]   (default 5 runs of "the"; medians are printed;
//                                              "alone": without the thread that reads ahead)
//
// Targets: first result <= 100 ms; all results <= 1 s for Moby-Dick and <= 3 s
// for the linear-algebra book. The reader's log lines go to the standard error
// stream; send it to /dev/null.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "readers/BaseReader.h"
#include "src/BookSearch.h"
#include "src/BookTextCache.h"

namespace {

using bench::Clock;
using bench::median;
using bench::ms_since;

struct Target {
    const char* book;
    double firstMs, allMs;
};

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string word = argc > 2 ? argv[2] : "the";
    // "alone": no reading ahead on a second thread.
    tf::BookSearch::Options options;
    options.readAhead = !(argc > 3 && std::string(argv[3]) == "alone");
    const Target targets[] = {
        {"epub3-idpf-moby-dick.epub", 100, 1000},
        {"epub3-idpf-linear-algebra-mathml.epub", 100, 3000},
    };
    std::printf("%-40s %8s %9s %9s %9s %9s %9s %6s\n", "book", "matches", "read ms", "first ms", "all ms", "all/read",
                "again ms", "ok");
    bool allOk = true;
    for (const Target& target : targets) {
        const std::string path = corpus_path(target.book);
        std::vector<double> read, first, all, again;
        size_t matches = 0;
        for (int run = 0; run < runs; ++run) {
            // Reference: the entries' bytes only.
            {
                std::unique_ptr<tf::BaseReader> reader = tf::BaseReader::create_smart("epub");
                if (!reader->open(path) || !reader->parse()) {
                    std::printf("cannot open %s\n", path.c_str());
                    return 1;
                }
                const Clock::time_point start = Clock::now();
                size_t bytes = 0;
                for (const auto& item : reader->spine()) {
                    std::string out;
                    reader->get_entry(item.first, out);
                    bytes += out.size();
                }
                read.push_back(ms_since(start));
                if (bytes == 0)
                    return 1;
            }
            const Clock::time_point start = Clock::now();
            std::unique_ptr<tf::BookTextCache> book = tf::BookTextCache::open(path);
            if (!book)
                return 1;
            double firstAt = -1;
            matches = 0;
            tf::BookSearch::run(*book, word, options, [&](size_t, std::vector<tf::BookSearch::Hit>& hits) {
                if (!hits.empty() && firstAt < 0)
                    firstAt = ms_since(start);
                matches += hits.size();
                return true;
            });
            all.push_back(ms_since(start));
            first.push_back(firstAt);
            // The same book searched again: its texts are kept.
            const Clock::time_point second = Clock::now();
            tf::BookSearch::run(*book, word, options, [](size_t, std::vector<tf::BookSearch::Hit>&) { return true; });
            again.push_back(ms_since(second));
        }
        const double f = median(first), a = median(all), r = median(read);
        const bool ok = f <= target.firstMs && a <= target.allMs;
        allOk = allOk && ok;
        std::printf("%-40s %8zu %9.1f %9.1f %9.1f %9.2f %9.1f %6s\n", target.book, matches, r, f, a,
                    r > 0 ? a / r : 0.0, median(again), ok ? "yes" : "NO");
    }
    std::printf("targets: first <= 100 ms; all <= 1000 ms (Moby-Dick), <= 3000 ms (linear algebra)\n");
    return allOk ? 0 : 2;
}
