// A long chapter as a reader meets it in the main window: the time from
// asking for the largest chapter of the corpus (2 MB of XHTML with MathML) to
// its first paint, against a small chapter of the same book asked for the same
// way (the reference); then one wheel step (3 lines) at a time from its top to
// its end, each step timed; the process's peak resident memory; then on
// across its end into the next chapter.
//
//   bench_long_chapter [RUNS [BOOK [ENTRY [SMALL_ENTRY]]]]   (QT_QPA_PLATFORM=offscreen)

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QImage>
#include <QScrollBar>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "HtmlWindow.h"
#include "MainFrame.h"
#include "PaintWatch.h"
#include "bench/bench_util.h"
#include "tests/support/TempDir.h"

namespace {


// From asking the window for `entry` until a paint of it has finished.
double firstPaint(tf::MainFrame& frame, const std::string& entry) {
    tf::HtmlWindow* view = frame.getView();
    const tf::String address("epub://" + entry);
    bench::PaintWatch watch(view->viewport(), [view, &address] {
        tf::URI shown;
        return view->has_document() && view->current_uri(shown) && shown.m_uri == address;
    });
    const auto start = bench::Clock::now();
    frame.loadURI(address);
    const bool ok = bench::PaintWatch::spin([&watch] { return watch.painted; });
    return ok ? bench::ms(watch.paintedAt - start) : -1;
}

struct Steps {
    std::vector<double> ms;
    const void* lastDocument = nullptr;
    int documents = 0; // pages shown while scrolling (windows of a long chapter)
    double p95() const {
        std::vector<double> v = ms;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * 95 / 100)];
    }
    double max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

// One wheel step at a time from the top to the end, as far as the scroll
// range reaches (it may grow while the chapter is still being laid out).
Steps scrollThrough(tf::MainFrame& frame) {
    tf::HtmlWindow* view = frame.getView();
    Steps steps;
    const int step = 3 * view->verticalScrollBar()->singleStep();
    view->setScrollPosition(0);
    QApplication::processEvents();
    QElapsedTimer timer;
    int stuck = 0;
    while (stuck < 25) {
        const int before = view->scrollPosition();
        timer.start();
        // This chapter only: the next one's top is painted below its end.
        view->setScrollPosition(std::min(before + step, std::max(before, view->pageEndPosition())));
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        steps.ms.push_back(timer.nsecsElapsed() / 1e6);
        // A reader's pace, not the machine's: what the loader builds meanwhile
        // (a long chapter's next window) is there before the next step.
        while (frame.busy())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        {
            auto lock = view->lockDocument();
            if (view->document().get() != steps.lastDocument) {
                steps.lastDocument = view->document().get();
                ++steps.documents;
            }
        }
        if (view->scrollPosition() == before) {
            // At the end of what is laid out: give the loader a moment.
            steps.ms.pop_back();
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
            ++stuck;
        }
    }
    return steps;
}

// Wheel steps on from the chapter's end into the next chapter, painted below
// it: each step timed, and the time from the step that takes the top of the
// view past the end until that chapter is the page shown.
struct Crossing {
    std::vector<double> ms;
    double becamePage = -1;
    bool sameScreen = false; // what the crossing step showed stayed on screen
};

Crossing scrollAcross(tf::MainFrame& frame) {
    tf::HtmlWindow* view = frame.getView();
    Crossing out;
    const int step = 3 * view->verticalScrollBar()->singleStep();
    const tf::String first = view->current_address();
    if (!bench::PaintWatch::spin([view] { return !view->followingAddress().empty(); }, 30000))
        return out;
    QElapsedTimer timer, crossed;
    QImage atCrossing;
    for (int i = 0; i < 200 && view->current_address() == first; ++i) {
        const int before = view->scrollPosition();
        timer.start();
        view->setScrollPosition(before + step);
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        out.ms.push_back(timer.nsecsElapsed() / 1e6);
        if (view->flowPending() && !crossed.isValid()) {
            crossed.start();
            atCrossing = view->viewport()->grab().toImage();
            bench::PaintWatch::spin([view, &first] { return view->current_address() != first; }, 30000);
            out.becamePage = crossed.nsecsElapsed() / 1e6;
            QApplication::processEvents();
            out.sameScreen = view->viewport()->grab().toImage() == atCrossing;
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string book = QFileInfo(QString::fromStdString(
                                           argc > 2 ? argv[2] : corpus_path("epub3-idpf-linear-algebra-mathml.epub")))
                                 .absoluteFilePath()
                                 .toStdString();
    const std::string entry = argc > 3 ? argv[3] : "EPUB/xhtml/fcla-xml-2.30li58.xhtml";
    const std::string small = argc > 4 ? argv[4] : "EPUB/xhtml/fcla-xml-2.30li3.xhtml";
    TempDir data;
    setenv("XDG_DATA_HOME", data.path.c_str(), 1);
    setenv("XDG_CONFIG_HOME", data.path.c_str(), 1);
    QApplication app(argc, argv);

    tf::MainFrame frame;
    frame.resize(900, 1000);
    frame.show();
    if (!bench::PaintWatch::spin([&frame] { return frame.isActivated() && frame.getView()->isHomePageShown(); }, 120000)) {
        std::fprintf(stderr, "the home page did not appear\n");
        return 1;
    }
    frame.openBook(QString::fromStdString(book));
    bench::PaintWatch::spin([&frame] { return frame.getView()->isBookOpen() && !frame.getView()->isHomePageShown(); }, 120000);
    frame.waitForLoads();
    QApplication::processEvents();
    if (!frame.getView()->isBookOpen()) {
        std::fprintf(stderr, "cannot open %s\n", book.c_str());
        return 1;
    }
    const double baseMb = bench::memoryMb("VmRSS");

    std::vector<double> ours, reference;
    for (int i = 0; i < runs; ++i) {
        reference.push_back(firstPaint(frame, small));
        frame.waitForLoads();
        ours.push_back(firstPaint(frame, entry));
        frame.waitForLoads();
        QApplication::processEvents();
    }
    const double a = bench::median(ours), b = bench::median(reference);
    std::printf("%-46s %9.1f ms   reference (small chapter) %7.1f ms   ratio %6.2f\n",
                "ask for the long chapter to its first paint", a, b, b > 0 ? a / b : 0.0);

    // A long chapter is laid out a window of pieces at a time; the scroll bar spans all of it.
    const QSize size = frame.getView()->documentSize();
    std::printf("%-46s %6d x %d px laid out, %d px on the scroll bar, %d px visible\n", "the long chapter",
                size.width(), size.height(), frame.getView()->maxScrollPosition() + frame.getView()->pageSize(),
                frame.getView()->pageSize());
    const Steps steps = scrollThrough(frame);
    std::printf("%-46s %9zu steps   median %.2f ms   p95 %.2f ms   max %.2f ms\n", "scroll end to end, wheel steps",
                steps.ms.size(), bench::median(steps.ms), steps.p95(), steps.max());
    std::printf("%-46s %9d    (the chapter now %d px tall)\n", "pages shown while scrolling", steps.documents,
                frame.getView()->documentSize().height());
    std::printf("%-46s %9.0f MB   (book open, before the chapter: %.0f MB; at the end: %.0f MB)\n",
                "peak resident memory of the process", bench::memoryMb("VmHWM"), baseMb, bench::memoryMb("VmRSS"));
    const Crossing across = scrollAcross(frame);
    std::printf("%-46s %9zu steps   max %.2f ms   next chapter the page %.1f ms after the crossing; screen %s\n",
                "on into the next chapter, wheel steps", across.ms.size(),
                across.ms.empty() ? 0.0 : *std::max_element(across.ms.begin(), across.ms.end()), across.becamePage,
                across.sameScreen ? "unchanged" : "CHANGED");
    return 0;
}
