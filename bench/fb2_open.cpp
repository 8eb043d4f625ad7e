// Time to open and parse a FictionBook and build its body page: the largest book of
// the corpus, and ~20 MB books made from it and from the windows-1251 book (main body
// and pictures repeated).
//
//   bench_fb2_open [runs]     (default 7 runs; medians are printed)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "readers/FB2Reader.h"
#include "bench/bench_util.h"
#include "utility/File.h"
#include "utility/text.h"

namespace {

using bench::Clock;
using bench::median;
using bench::ms_since;

// The book with its main body repeated and its binaries copied under new ids until it
// reaches `target` bytes.
std::string synthesise(const std::string& src, size_t target) {
    size_t open = src.find("<body");
    size_t inner_start = open == std::string::npos ? open : src.find('>', open) + 1;
    size_t close = src.find("</body>", inner_start);
    size_t bin_start = src.find("<binary", close);
    size_t bin_end = src.rfind("</binary>");
    if (open == std::string::npos || close == std::string::npos || bin_start == std::string::npos ||
        bin_end == std::string::npos)
        return "";
    bin_end += 9;
    const std::string inner = src.substr(inner_start, close - inner_start);
    const std::string binaries = src.substr(bin_start, bin_end - bin_start);
    size_t copies = target / (inner.size() + binaries.size()) + 1;

    std::string out = src.substr(0, close);
    for (size_t i = 1; i < copies; ++i)
        out += inner;
    out += src.substr(close, bin_start - close);
    out += binaries;
    for (size_t i = 1; i < copies; ++i)
        out += tf::ReplaceAll(binaries, "id=\"", "id=\"copy" + std::to_string(i) + "_");
    out += src.substr(bin_end);
    return out;
}

struct Timing {
    std::vector<double> open_parse, first_page, second_page, picture;
    size_t page_bytes = 0;
};

bool run(const std::string& path, int runs, Timing& t) {
    for (int i = 0; i < runs; ++i) {
        tf::FB2Reader reader;
        auto start = Clock::now();
        if (!reader.open(path) || !reader.parse())
            return false;
        t.open_parse.push_back(ms_since(start));

        std::string page;
        start = Clock::now();
        reader.get_entry("home", page);
        t.first_page.push_back(ms_since(start));
        t.page_bytes = page.size();

        start = Clock::now();
        reader.get_entry("home", page);
        t.second_page.push_back(ms_since(start));

        std::string cover, picture;
        reader.cover_page(cover);
        start = Clock::now();
        reader.get_entry(cover, picture);
        t.picture.push_back(ms_since(start));
    }
    return true;
}

void report(const char* what, const std::string& path, long size, const Timing& t) {
    std::printf("%s: %s (%.1f MB, body page %.0f KB)\n", what, path.c_str(), size / 1048576.0,
                t.page_bytes / 1024.0);
    std::printf("  open+parse           %8.3f ms\n", median(t.open_parse));
    std::printf("  first body page      %8.3f ms\n", median(t.first_page));
    std::printf("  open+parse+page      %8.3f ms\n", median(t.open_parse) + median(t.first_page));
    std::printf("  body page again      %8.3f ms\n", median(t.second_page));
    std::printf("  cover picture        %8.3f ms\n", median(t.picture));
}

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::string largest = bench::largest_corpus_book(".fb2");
    if (largest.empty()) {
        std::fprintf(stderr, "no FictionBook in the corpus\n");
        return 1;
    }
    std::printf("medians of %d runs\n", runs);

    Timing corpus;
    if (!run(largest, runs, corpus)) {
        std::fprintf(stderr, "cannot open %s\n", largest.c_str());
        return 1;
    }
    report("largest corpus book", largest, tf::File(tf::String(largest)).getSize(), corpus);

    // The same book grown to ~20 MB, and a windows-1251 book grown alike (re-encoding cost).
    bool ok = true;
    for (const std::string& base : {largest, corpus_path("fb2-fbe-script-description-cp1251.fb2")}) {
        std::string src;
        tf::file_get_contents(base, src);
        const std::string big = synthesise(src, 20u * 1024 * 1024);
        char dir[] = "/tmp/orinel-bench-XXXXXX";
        if (big.empty() || !mkdtemp(dir)) {
            std::fprintf(stderr, "cannot make a synthetic book from %s\n", base.c_str());
            return 1;
        }
        const std::string path = std::string(dir) + "/synthetic.fb2";
        tf::file_put_contents(path, reinterpret_cast<unsigned char*>(const_cast<char*>(big.data())),
                              static_cast<long>(big.size()));
        Timing synthetic;
        if (run(path, runs, synthetic)) {
            report(("synthetic book from " + tf::File(tf::String(base)).getName().str()).c_str(), path,
                   static_cast<long>(big.size()), synthetic);
        } else {
            std::fprintf(stderr, "cannot open the synthetic book from %s\n", base.c_str());
            ok = false;
        }
        std::remove(path.c_str());
        rmdir(dir);
    }
    return ok ? 0 : 1;
}
