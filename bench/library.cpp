// Start-up cost of the library: open the catalogue (folder, database, table)
// and build the home page, with 100 and with 10,000 recorded books.
//
//   bench_library [runs]      (default 15 runs per size; prints medians in ms)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "src/DataHelper.h"
#include "utility/DataStore.h"
#include "bench/bench_util.h"

namespace {

using bench::Clock;
using bench::median;
using bench::ms;

// Fills the table in one transaction, the way years of reading would have.
bool populate(const std::string& root, int books) {
    tf::DataStore store(root + "/data.db");
    if (!store.save("BEGIN"))
        return false;
    for (int i = 0; i < books; ++i) {
        std::string n = std::to_string(i);
        std::string path = "/home/reader/Books/Author " + n + "/A \"long\" title & more, volume " + n + ".epub";
        std::string title = "The Chronicles of <Something> & Someone's Journey, part " + n;
        std::string cover = root + "/0123456789abcdef0123456789abcdef/cover.png";
        if (!store.save("INSERT INTO files (filename, title, cover, read_uri, read_pos, zoom_level) "
                        "VALUES(?, ?, ?, ?, ?, ?)",
                        {path, title, cover, "epub://OEBPS/Text/chapter" + n + ".xhtml", i, 16}))
            return false;
    }
    return store.save("COMMIT");
}

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    char pattern[] = "/tmp/orinel-bench-library-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string base = pattern;
    int status = 0;

    for (int books : {100, 10000}) {
        std::string home = base + "/" + std::to_string(books);
        std::filesystem::create_directories(home);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        {
            tf::DataHelper first;  // creates the folder and the table
            if (!first.isAvailable()) {
                std::fprintf(stderr, "library not available in %s\n", home.c_str());
                status = 1;
                break;
            }
        }
        if (!populate(home + "/OrinelReader", books)) {
            std::fprintf(stderr, "could not fill the library with %d books\n", books);
            status = 1;
            break;
        }

        std::vector<double> open, page, total;
        size_t pageBytes = 0;
        for (int r = 0; r < runs; ++r) {
            auto t0 = Clock::now();
            tf::DataHelper library;
            auto t1 = Clock::now();
            std::string html = library.getHomePage();
            auto t2 = Clock::now();
            pageBytes = html.size();
            open.push_back(ms(t1 - t0));
            page.push_back(ms(t2 - t1));
            total.push_back(ms(t2 - t0));
        }
        std::printf("books=%-6d runs=%d  open %.3f ms  home page %.3f ms  total %.3f ms (median; page %zu bytes)\n",
                    books, runs, median(open), median(page), median(total), pageBytes);
    }

    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return status;
}
