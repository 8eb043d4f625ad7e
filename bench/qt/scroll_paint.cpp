// The cost of one scroll step on screen: the view scrolls through the largest
// chapter of the corpus by one mouse-wheel step (3 lines) at a time and
// repaints; each repaint is timed. Run once with the tile cache and once
// painting every step from the document.
//
//   bench_scroll_paint [BOOK [ENTRY]]    (QT_QPA_PLATFORM=offscreen; QT_SCALE_FACTOR=2 for a high-DPI screen)

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "HtmlWindow.h"

namespace {

struct Figures {
    double median = 0, p95 = 0, max = 0, mean = 0;
    size_t steps = 0;
};

// One scroll step as the window does it: the scroll bar moves, the pixels on
// screen move along and the strip scrolled in is painted. With `whole`, the
// whole viewport is painted on every step instead (the worst case: a repaint
// after the page changed).
Figures measure(tf::HtmlWindow& view, bool tiles, int step, bool whole) {
    view.setTileCacheEnabled(tiles);
    view.setScrollPosition(0);
    view.viewport()->repaint();
    QApplication::processEvents();
    std::vector<double> ms;
    QElapsedTimer timer;
    const int max = view.maxScrollPosition();
    for (int y = step; y <= max; y += step) {
        timer.start();
        view.setScrollPosition(y);
        if (whole)
            view.viewport()->repaint();
        else
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    Figures f;
    if (ms.empty())
        return f;
    f.steps = ms.size();
    double sum = 0;
    for (double v : ms)
        sum += v;
    f.mean = sum / ms.size();
    std::sort(ms.begin(), ms.end());
    f.median = ms[ms.size() / 2];
    f.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    f.max = ms.back();
    return f;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string book = argc > 1 ? argv[1]
                                      : std::string(ORINEL_SOURCE_DIR) +
                                            "/../shared/corpus/epub3-idpf-linear-algebra-mathml.epub";
    const std::string entry = argc > 2 ? argv[2] : "EPUB/xhtml/fcla-xml-2.30li58.xhtml";

    tf::HtmlWindow view;
    view.resize(820, 1000);
    view.show();
    QElapsedTimer load;
    load.start();
    if (!view.load_uri(tf::String(book))) {
        std::fprintf(stderr, "cannot open %s\n", book.c_str());
        return 1;
    }
    view.load_uri(tf::String("epub://" + entry));
    const double loadMs = load.nsecsElapsed() / 1e6;
    QApplication::processEvents();
    const QSize doc = view.documentSize();
    const int step = 3 * view.verticalScrollBar()->singleStep();

    std::printf("chapter %s: %d x %d px, %d px visible, laid out in %.0f ms, device pixel ratio %.1f\n", entry.c_str(),
                doc.width(), doc.height(), view.pageSize(), loadMs, view.viewport()->devicePixelRatioF());
    std::printf("%-40s %6s %9s %9s %9s %9s\n", "per scroll step of 3 lines", "steps", "median", "mean", "p95", "max");
    for (bool whole : {false, true}) {
        for (bool tiles : {true, false}) {
            const Figures f = measure(view, tiles, step, whole);
            const std::string what = std::string(whole ? "whole viewport" : "scroll") + ", " +
                                     (tiles ? "tile cache" : "replayed from the display list");
            std::printf("%-40s %6zu %6.2f ms %6.2f ms %6.2f ms %6.2f ms\n", what.c_str(), f.steps, f.median, f.mean,
                        f.p95, f.max);
        }
    }
    return 0;
}
