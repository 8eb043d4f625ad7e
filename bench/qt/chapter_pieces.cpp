// The largest chapter of the corpus laid out whole, against the same chapter
// laid out a window of pieces at a time (ChapterPieces), window after window
// to its end, as a reader scrolling through it would have it built. Prints the
// time per layout and the process's peak resident memory; run once per mode,
// since the peak is the process's own.
//
//   bench_chapter_pieces whole|pieces [PIECE_KB [WINDOW [BOOK [ENTRY]]]]   (QT_QPA_PLATFORM=offscreen)

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "HtmlWindow.h"
#include "bench/bench_util.h"
#include "src/ChapterPieces.h"
#include "src/ChapterStrip.h"

int main(int argc, char** argv) {
    if (argc < 2 || (std::strcmp(argv[1], "whole") != 0 && std::strcmp(argv[1], "pieces") != 0)) {
        std::fprintf(stderr, "usage: %s whole|pieces [PIECE_KB [WINDOW [BOOK [ENTRY]]]]\n", argv[0]);
        return 2;
    }
    const bool whole = std::strcmp(argv[1], "whole") == 0;
    const size_t pieceKb = argc > 2 ? static_cast<size_t>(std::max(1, std::atoi(argv[2]))) : 64;
    const size_t window = argc > 3 ? static_cast<size_t>(std::max(1, std::atoi(argv[3]))) : 3;
    const std::string book = argc > 4 ? argv[4] : corpus_path("epub3-idpf-linear-algebra-mathml.epub");
    const std::string entry = argc > 5 ? argv[5] : "EPUB/xhtml/fcla-xml-2.30li58.xhtml";

    QApplication app(argc, argv);
    tf::HtmlWindow view;
    view.setFixedClientSize(QSize(800, 1000));
    view.load_uri(tf::String(book));
    auto html = std::make_shared<std::string>();
    if (!view.bookEntry(entry, *html) || html->empty()) {
        std::fprintf(stderr, "%s: no entry %s\n", book.c_str(), entry.c_str());
        return 1;
    }
    const tf::String root("epub://" + entry.substr(0, entry.rfind('/')));
    const double before = bench::memoryMb("VmRSS");

    if (whole) {
        const auto start = bench::Clock::now();
        view.load_string(*html, root);
        const double ms = bench::ms(bench::Clock::now() - start);
        std::printf("whole chapter: %zu KB, height %d px, layout %.0f ms, peak RSS %.0f MB (%.0f MB before)\n",
                    html->size() / 1024, view.document() ? view.document()->height() : -1, ms, bench::memoryMb("VmHWM"),
                    before);
        return 0;
    }
    const tf::ChapterPieces pieces(html, pieceKb * 1024);
    std::vector<size_t> bytes;
    for (size_t i = 0; i < pieces.size(); ++i)
        bytes.push_back(pieces.piece(i).end - pieces.piece(i).begin);
    tf::ChapterStrip strip(bytes);
    double slowest = 0, total = 0;
    int height = 0, builds = 0;
    // Windows of `window` pieces, each starting a piece after the last one's start.
    for (size_t first = 0; first < pieces.size(); ++first) {
        const size_t last = std::min(pieces.size() - 1, first + window - 1);
        const auto start = bench::Clock::now();
        view.load_string(pieces.window(first, last, true), root);
        const double ms = bench::ms(bench::Clock::now() - start);
        slowest = std::max(slowest, ms);
        total += ms;
        ++builds;
        if (auto lock = view.lockDocument(); view.document()) {
            height = std::max(height, view.document()->height());
            strip.measured(first, last, tf::ChapterPieces::tops(view.document()), view.document()->height());
        }
        if (last + 1 == pieces.size())
            break;
    }
    std::printf("%zu pieces of >= %zu KB, windows of %zu: %d layouts, %.0f ms each on average, slowest %.0f ms, "
                "tallest %d px, the chapter %d px, peak RSS %.0f MB (%.0f MB before)\n",
                pieces.size(), pieceKb, window, builds, total / builds, slowest, height, strip.height(),
                bench::memoryMb("VmHWM"), before);
    return 0;
}
