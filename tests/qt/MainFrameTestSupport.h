#pragma once

// Helpers for the tests that drive the real main window offscreen: a fresh
// library folder per test, questions answered by the test, and waits for the
// background loads and the paints that follow them.

#include <QApplication>
#include <QElapsedTimer>
#include "ContentsTree.h"
#include "ReadingTracker.h"
#include <QDebug>
#include <QTest>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HtmlWindow.h"
#include "MainFrame.h"
#include "TempDir.h"
#include "corpus.h"
#include "readers/BaseReader.h"
#include "src/DataHelper.h"
#include "utility/String.h"

namespace test {

// Polls `done` while the event loop runs; false after `ms` milliseconds.
inline bool waitFor(const std::function<bool()>& done, int ms = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// The table of contents and reading order of a book, read without the window.
struct BookFacts {
    std::string title;
    tf::pair_list_t toc;
    tf::pair_list_t spine;
};

inline BookFacts readBook(const std::string& format, const std::string& path) {
    BookFacts facts;
    std::unique_ptr<tf::BaseReader> reader(tf::BaseReader::create(format));
    if (reader && reader->open(path) && reader->parse()) {
        facts.title = reader->get_title();
        facts.toc = reader->toc();
        facts.spine = reader->spine();
        reader->close();
    }
    return facts;
}

// A main window over its own empty library, shown and activated.
class Session {
public:
    // The settings live in `configHome` ("": a fresh folder of the session's own).
    explicit Session(const std::string& configHome = std::string()) {
        // The library lives in $XDG_DATA_HOME; each session gets a fresh one.
        setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (configHome.empty() ? dir.path + "/config" : configHome).c_str(), 1);
        frame = std::make_unique<tf::MainFrame>();
        frame->setQuestionHandler([this](const QString& title, const QString& text) {
            questions.push_back(title + "|" + text);
            return answer;
        });
        frame->show();
        frame->activateWindow();
        exposed = QTest::qWaitForWindowExposed(frame.get());
        waitFor([this] { return frame->isActivated() && view()->isHomePageShown(); });
    }
    ~Session() {
        // Closing with a book open would ask; the tests that care have asked already.
        frame->setQuestionHandler([](const QString&, const QString&) { return true; });
        frame.reset();
    }

    tf::HtmlWindow* view() const { return frame->getView(); }

    // Opens a corpus book as if chosen in the dialog and waits until its
    // first page is painted and the window has taken it in.
    bool open(const std::string& path) {
        frame->openBook(QString::fromStdString(path));
        return waitLoaded(path);
    }
    bool waitLoaded(const std::string& path) {
        bool ok = waitFor([this, path] {
            if (frame->busy() || view()->isHomePageShown() || !view()->has_document())
                return false;
            // The window has read the book's contents on its first paint.
            return view()->isBookOpen() && openFile() == path && !view()->isBook() && settled();
        });
        if (!ok)
            qWarning() << "not loaded:" << frame->busy() << view()->isHomePageShown()
                       << view()->has_document() << view()->isBookOpen() << openFile().c_str() << view()->isBook()
                       << view()->pendingTaskCount();
        return ok;
    }
    // No load is under way and the last page has been painted.
    bool settled() {
        if (frame->busy())
            return false;
        view()->viewport()->repaint();
        QApplication::processEvents();
        // A page shown but not painted yet has not been placed by the tracker
        // (a kept or saved place): place it now, as its first paint would,
        // before the test moves the view itself.
        frame->getTracker()->currentMap();
        return !frame->busy() && !view()->isBook() && view()->pendingTaskCount() == 0;
    }
    bool waitSettled() {
        return waitFor([this] { return settled(); });
    }
    // Waits until the view shows `address` with nothing left to do.
    bool waitAddress(const tf::String& address) {
        return waitFor([this, address] { return settled() && view()->current_address() == address; });
    }
    std::string openFile() {
        auto lock = view()->lockReader();
        tf::BaseReader* reader = view()->getReader();
        return reader ? reader->get_filename() : std::string();
    }
    std::string homePage() { return frame->getLibrary()->getHomePage(); }

    TempDir dir;
    std::unique_ptr<tf::MainFrame> frame;
    std::vector<QString> questions;
    bool answer = true;
    bool exposed = false;
};

inline tf::String epubAddress(const std::string& entry) {
    return tf::String("epub://" + entry);
}

} // namespace test
