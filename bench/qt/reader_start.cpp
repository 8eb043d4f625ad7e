// How long the reader keeps the user waiting, in the same process and run:
//  1. start-up: constructing and showing the main window until the library's
//     home page has been painted (empty library, then 100 recorded books),
//     against an empty QMainWindow shown and painted (the toolkit's floor);
//     and once cold, with the application object and the first window of the
//     process (what a user waits for after the program is loaded);
//  2. choosing a book: from openBook (what the dialog calls) until the book's
//     first page has been painted, against the view alone loading the same
//     book and painting it on the calling thread (no window, no library).
//
//   bench_reader_start [RUNS]     (QT_QPA_PLATFORM=offscreen by default)

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HtmlWindow.h"
#include "MainFrame.h"
#include "PaintWatch.h"
#include "bench/bench_util.h"
#include "src/DataHelper.h"
#include "tests/support/TempDir.h"

namespace {


std::string absolute(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
}

// Main window from construction to its painted home page.
double startWindow() {
    const auto start = bench::Clock::now();
    tf::MainFrame frame;
    bench::PaintWatch watch(frame.getView()->viewport(),
                     [&frame] { return frame.isActivated() && frame.getView()->isHomePageShown(); });
    frame.show();
    const bool ok = bench::PaintWatch::spin([&watch] { return watch.painted; });
    frame.hide();
    return ok ? bench::ms(watch.paintedAt - start) : -1;
}

// An empty main window with a label, shown and painted.
double startEmptyWindow() {
    const auto start = bench::Clock::now();
    QMainWindow window;
    auto* label = new QLabel("Orinel Reader", &window);
    window.setCentralWidget(label);
    window.resize(800, 650);
    bench::PaintWatch watch(label, [] { return true; });
    window.show();
    const bool ok = bench::PaintWatch::spin([&watch] { return watch.painted; });
    window.hide();
    return ok ? bench::ms(watch.paintedAt - start) : -1;
}

// openBook until the book's own page is on screen.
double openInWindow(const std::string& book) {
    tf::MainFrame frame;
    frame.show();
    if (!bench::PaintWatch::spin([&frame] { return frame.isActivated() && frame.getView()->isHomePageShown(); }))
        return -1;
    tf::HtmlWindow* view = frame.getView();
    const tf::String path(book);
    bench::PaintWatch watch(view->viewport(), [view, &path] {
        return !view->isHomePageShown() && view->has_document() && view->current_address() == path;
    });
    const auto start = bench::Clock::now();
    frame.openBook(QString::fromStdString(book));
    const bool ok = bench::PaintWatch::spin([&watch] { return watch.painted; });
    const double elapsed = bench::ms(watch.paintedAt - start);
    frame.waitForLoads();
    QCoreApplication::processEvents(); // the library records the book after the paint
    return ok ? elapsed : -1;
}

// The view alone: load the book and its first page on this thread, paint once.
double openInView(const std::string& book) {
    tf::HtmlWindow view;
    view.resize(780, 560);
    view.show();
    bench::PaintWatch::spin([&view] { return view.isVisible(); });
    QCoreApplication::processEvents();
    const auto start = bench::Clock::now();
    view.load_uri(tf::String(book));
    view.showCoverPage();
    QCoreApplication::processEvents(); // the scroll range, queued by the layout
    view.viewport()->repaint();
    return bench::ms_since(start);
}

void report(const char* what, const std::vector<double>& ours, const std::vector<double>& reference) {
    const double a = bench::median(ours), b = bench::median(reference);
    std::printf("%-44s %9.1f ms   reference %9.1f ms   ratio %5.2f\n", what, a, b, b > 0 ? a / b : 0.0);
}

// Records `count` books that share one real thumbnail.
void fillLibrary(int count) {
    tf::DataHelper library;
    const std::string alice = absolute(corpus_path("epub2-pg11-alice.epub"));
    const std::string cover = library.createBookDirectory("bench cover") + "/cover.png";
    // A picture the home page will scale: the placeholder of the reader itself.
    tf::MainFrame frame;
    const std::string png = frame.getContent(nullptr);
    library.iconFromData(FIF_PNG, reinterpret_cast<const unsigned char*>(png.data()), static_cast<int>(png.size()),
                         120, tf::String(cover));
    for (int i = 0; i < count; ++i)
        library.addNewFile(tf::String(alice + ".copy" + std::to_string(i)), tf::String("Book " + std::to_string(i)),
                           tf::String(cover));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    TempDir data;
    setenv("XDG_DATA_HOME", data.path.c_str(), 1);
    const auto processStart = bench::Clock::now();
    QApplication app(argc, argv);
    const double appReady = bench::ms_since(processStart);

    std::printf("median of %d runs each\n", runs);
    {
        // The first window of the process also loads the platform plugin, fonts and icons.
        const double cold = startWindow();
        std::printf("%-44s %9.1f ms   (application object %.1f ms + first window %.1f ms)\n",
                    "cold start to home page, new library", appReady + cold, appReady, cold);
        startEmptyWindow();
        std::vector<double> ours, reference;
        for (int i = 0; i < runs; ++i) {
            ours.push_back(startWindow());
            reference.push_back(startEmptyWindow());
        }
        report("start-up to home page, empty library", ours, reference);
        fillLibrary(100);
        ours.clear();
        reference.clear();
        for (int i = 0; i < runs; ++i) {
            ours.push_back(startWindow());
            reference.push_back(startEmptyWindow());
        }
        report("start-up to home page, 100 books", ours, reference);
    }

    const char* books[] = {
        "epub2-pg11-alice.epub",
        "epub2-pg1661-sherlock-holmes.epub",
        "epub2-pg1342-pride-and-prejudice-illustrated.epub",
        "epub3-idpf-moby-dick.epub",
        "epub3-se-devils-dictionary.epub",
        "fb2-fb2cng-_Test.fb2",
        "fb2-fb2document-_Test_1-en.fb2",
    };
    for (const char* name : books) {
        const std::string path = absolute(corpus_path(name));
        std::vector<double> ours, reference;
        openInView(path);
        for (int i = 0; i < runs; ++i) {
            // A fresh library each time: the book opens on its cover, as the first time.
            TempDir fresh;
            setenv("XDG_DATA_HOME", fresh.path.c_str(), 1);
            ours.push_back(openInWindow(path));
            reference.push_back(openInView(path));
        }
        report((std::string("open to first page: ") + name).substr(0, 44).c_str(), ours, reference);
    }
    return 0;
}
