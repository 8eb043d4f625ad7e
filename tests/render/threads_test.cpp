// The loader thread against the window thread. Run under ThreadSanitizer by
// scripts/tsan-tests (the suite name is its filter).

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TestView.h"

using test::TestView;

namespace {

std::string wordsPage(const std::string& word, int count) {
    std::string body;
    for (int i = 0; i < count; ++i)
        body += "<p>" + word + " " + word + "</p>";
    return "<html><body>" + body + "</body></html>";
}

test::FakeBook twoChapters() {
    test::FakeBook book;
    book.entries = {{"OEBPS/a.xhtml", wordsPage("alpha", 30)}, {"OEBPS/b.xhtml", wordsPage("beta", 30)}};
    book.spine = {"OEBPS/a.xhtml", "OEBPS/b.xhtml"};
    return book;
}

} // namespace

// Every paint, range and root seen by the window thread belongs to one document.
TEST(RenderThreads, DocumentSwapIsAtomicForPaintingAndRanges) {
    TestView view;
    const std::string a = wordsPage("alpha", 40), b = wordsPage("beta", 40);
    view.load_string(a, "rootA");
    std::atomic<bool> done{false};
    std::thread loader([&] {
        for (int i = 0; i < 40; ++i)
            view.load_string(i % 2 ? a : b, tf::String(i % 2 ? "rootA" : "rootB"));
        done = true;
    });
    int rounds = 0;
    while (!done || rounds == 0) {
        std::set<std::string> words;
        for (const auto& t : view.paint())
            if (t.text != " ")
                words.insert(t.text);
        EXPECT_EQ(words.size(), 1u);

        auto lock = view.lockDocument();
        tf::String root = view.document_root();
        view.createTextRange();
        view.markRuns(0, 2, true);
        std::string first = view.markedText().substr(0, 4);
        EXPECT_EQ(first == "alph" ? tf::String("rootA") : tf::String("rootB"), root) << first;
        lock.unlock();
        view.clearTextRange();
        view.make_path(tf::String("x.png"), tf::String("/"));
        ++rounds;
    }
    loader.join();
    EXPECT_GT(rounds, 0);
}

TEST(RenderThreads, ReaderBookFlagAndAddressShared) {
    TestView view;
    view.books["epub"] = twoChapters();
    std::atomic<bool> done{false};
    std::atomic<int> notOwn{0};
    std::thread loader([&] {
        for (int i = 0; i < 12; ++i) {
            // Each load learns about its own opening, whatever the window did to the flag.
            if (!view.load_uri(tf::String("/books/novel.epub")))
                ++notOwn;
            view.showCoverPage();
            view.load_uri(tf::String("epub://OEBPS/a.xhtml"));
            view.load_uri(tf::String("epub://OEBPS/b.xhtml#x"));
            view.queueTask("scroll.set", tf::String(std::to_string(i)));
        }
        done = true;
    });
    int announced = 0;
    while (!done) {
        if (view.takeBookLoaded()) {
            auto lock = view.lockReader();
            if (auto* reader = view.getReader())
                reader->get_title();
            ++announced;
        }
        view.paint();
        view.processTask("scroll.set");
        view.isBookOpen();
        std::string entry, scheme;
        view.GetInfoUri(entry, scheme);
        view.stepChapterNext();
        view.makeFontBigger();
        view.current_address();
    }
    loader.join();
    view.processTask("scroll.set");
    EXPECT_EQ(notOwn.load(), 0);
    EXPECT_LE(announced, 12);
    std::lock_guard<std::mutex> lock(view.mutex);
    EXPECT_EQ(view.tasks.size(), 12u);
}

TEST(RenderThreads, TasksQueuedOnOneThreadRunOnceInOrderOnTheOther) {
    TestView view;
    const int count = 300;
    std::atomic<bool> done{false};
    std::thread loader([&] {
        for (int i = 0; i < count; ++i)
            view.queueTask("scroll.set", tf::String(std::to_string(i)));
        done = true;
    });
    while (!done)
        view.processTask("scroll.set");
    loader.join();
    view.processTask("scroll.set");
    std::lock_guard<std::mutex> lock(view.mutex);
    ASSERT_EQ(view.tasks.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(view.tasks[i].param, tf::String(std::to_string(i)));
    EXPECT_EQ(view.pendingTaskCount(), 0u);
}
