#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempDir.h"
#include "TestView.h"
#include "utility/text.h"

using test::TestView;

namespace {

void write_file(const std::string& path, const std::string& bytes) {
    tf::file_put_contents(path, reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                          static_cast<long>(bytes.size()));
}

test::FakeBook epubBook() {
    test::FakeBook book;
    book.entries = {
        {"OEBPS/Text/ch1.xhtml", "<html><body><p>one</p></body></html>"},
        {"OEBPS/Text/ch2.xhtml", "<html><body><p>two</p></body></html>"},
        {"top.xhtml", "<html><body><p>top</p></body></html>"},
        {"OEBPS/style.css", "p { color: red }"},
        {"OEBPS/img/a.png", "PIC:1x1"},
        {"OEBPS/img/a.jpg", "PIC:2x2"},
        {"OEBPS/img/a.gif", "PIC:3x3"},
        {"OEBPS/img/a.bmp", "PIC:4x4"},
        {"OEBPS/page.svg", "<svg xmlns='http://www.w3.org/2000/svg'/>"},
    };
    book.spine = {"OEBPS/Text/ch1.xhtml", "OEBPS/Text/ch2.xhtml"};
    return book;
}

test::FakeBook fb2Book() {
    test::FakeBook book;
    book.type = "fb2";
    book.entries = {{"home", "<html><body><p>body</p></body></html>"},
                    {"notes", "<html><body><p id=\"n1\">note</p></body></html>"},
                    {"#pic", "data64:image/png:UElDOjZ4Nw=="},
                    {"anything#pic", "data64:image/png:UElDOjZ4Nw=="}};
    book.spine = {"home", "notes"};
    book.ids = {{"n1", "notes"}};
    return book;
}

// A view with the fake EPUB open (cover page not shown).
struct EpubView : TestView {
    EpubView() {
        books["epub"] = epubBook();
        books["fb2"] = fb2Book();
        opened = load_uri(tf::String("/books/novel.epub"));
    }
    bool opened = false;
};

} // namespace

TEST(ContentLookup, EveryKindOfAddress) {
    TempDir dir;
    write_file(dir.path + "/s.css", "css bytes");
    write_file(dir.path + "/d.xml", "xml bytes");
    write_file(dir.path + "/p.png", "png bytes");
    const std::string sep = "/";
    struct Case {
        std::string address;
        std::string root;   // "" = refused
        std::string out;
        std::string log;    // expected in the log when not empty
    } cases[] = {
        {"epub://OEBPS/Text/ch1.xhtml", "epub://OEBPS/Text", "<html><body><p>one</p></body></html>", ""},
        {"epub://OEBPS/Text/ch1.xhtml#a/b", "epub://OEBPS/Text", "<html><body><p>one</p></body></html>", ""},
        {"epub://top.xhtml", "epub://", "<html><body><p>top</p></body></html>", ""},
        {"epub://OEBPS/style.css", "epub://OEBPS", "p { color: red }", ""},
        {"epub://OEBPS/img/a.png", "epub://OEBPS/img", "PIC:1x1", ""},
        {"epub://OEBPS/img/a.jpg", "epub://OEBPS/img", "PIC:2x2", ""},
        {"epub://OEBPS/img/a.gif", "epub://OEBPS/img", "PIC:3x3", ""},
        {"epub://OEBPS/page.svg", "epub://OEBPS", "<svg xmlns='http://www.w3.org/2000/svg'/>", ""},
        {"epub://OEBPS/img/a.bmp", "", "", "invalid uri to get: epub://OEBPS/img/a.bmp"},
        {"content://cover.png", "content:/", "PIC:95x120", ""},
        {dir.path + "/s.css", dir.path, "css bytes", ""},
        {dir.path + "/d.xml", dir.path, "xml bytes", ""},
        {dir.path + "/p.png", dir.path, "png bytes", ""},
        {dir.path + "/p.bmp", "", "", "invalid uri to get: "},
        {"cmd://delete_all", "", "", "invalid uri to get: cmd://delete_all"},
        // A picture or style sheet reference never opens (and so replaces) a book.
        {dir.path + "/other.epub", "", "", "invalid uri to get: "},
        {dir.path + "/other.html", "", "", "invalid uri to get: "},
    };
    EpubView view;
    ASSERT_TRUE(view.opened);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        std::string out;
        testing::internal::CaptureStderr();
        tf::String root = view.uri_content(tf::String(c.address), out);
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(root, tf::String(c.root));
        EXPECT_EQ(out, c.out);
        if (!c.log.empty()) {
            EXPECT_NE(log.find(c.log), std::string::npos) << log;
        }
    }
    {
        auto lock = view.lockReader();
        EXPECT_EQ(view.getReader()->get_type(), "epub") << "the book stayed open";
    }

    // FictionBook addresses: the entry's name, with the fragment where there is
    // one (the reader tells a picture behind it); "#pic" alone is a picture.
    ASSERT_TRUE(view.load_uri(tf::String("/books/tale.fb2")));
    const std::pair<const char*, const char*> fb2[] = {
        {"fb2://home", "<html><body><p>body</p></body></html>"},
        {"fb2://#pic", "data64:image/png:UElDOjZ4Nw=="},
        {"fb2://anything#pic", "data64:image/png:UElDOjZ4Nw=="},
    };
    for (const auto& c : fb2) {
        SCOPED_TRACE(c.first);
        std::string out;
        EXPECT_EQ(view.uri_content(tf::String(c.first), out), tf::String("fb2://"));
        EXPECT_EQ(out, c.second);
    }
}

TEST(ContentLookup, PackageAddressWithoutBookIsRefused) {
    TestView view;
    std::string out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(view.uri_content(tf::String("epub://OEBPS/a.xhtml"), out), tf::String());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("no book file is open: epub://OEBPS/a.xhtml"), std::string::npos) << log;
}

TEST(OpenBook, EachBookTypeThroughLoadUri) {
    TempDir dir;
    write_file(dir.path + "/page.html", "<html><body><p>plain page</p></body></html>");
    write_file(dir.path + "/pic.svg", "<svg xmlns='http://www.w3.org/2000/svg'><text>drawing</text></svg>");
    struct Case {
        std::string address;
        bool opens;        // the fake book file opens and parses
        bool opened;       // load_uri's answer and the book flag
        std::string type;  // reader type afterwards
        std::string shown; // text painted afterwards ("" = the page before)
        int fontLoads;
    } cases[] = {
        {dir.path + "/page.html", true, true, "html", "plain page", 0},
        {dir.path + "/pic.svg", true, true, "html", "drawing", 0},
        {"/books/novel.epub", true, true, "epub", "before", 1},
        {"/books/bad.epub", false, false, "epub", "before", 0},
        {"/books/tale.fb2", true, true, "fb2", "before", 0},
        {"/books/tale.fb2.zip", true, true, "fb2", "before", 0},
        // A file its reader refuses is no book, whatever its kind.
        {"/books/bad.fb2", false, false, "fb2", "before", 0},
        {dir.path + "/missing.html", true, false, "html", "before", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        TestView view;
        view.books["epub"] = epubBook();
        view.books["epub"].openOk = c.opens;
        view.books["fb2"] = fb2Book();
        view.books["fb2"].parseOk = c.opens;
        view.load_string("<p>before</p>", "./");
        EXPECT_EQ(view.load_uri(tf::String(c.address)), c.opened);
        EXPECT_EQ(view.isBook(), c.opened);
        {
            auto lock = view.lockReader();
            ASSERT_NE(view.getReader(), nullptr);
            EXPECT_EQ(view.getReader()->get_type(), c.type);
        }
        EXPECT_EQ(view.paintedText(), c.shown);
        EXPECT_EQ(view.fontLoads, c.fontLoads);
        EXPECT_EQ(view.current_address(), tf::String(c.address));
    }
}

TEST(OpenBook, NewBookClosesAndReplacesThePrevious) {
    EpubView view;
    view.journal.clear();
    view.load_uri(tf::String("/books/tale.fb2"));
    ASSERT_FALSE(view.journal.empty());
    EXPECT_EQ(view.journal.front(), "close");
    auto lock = view.lockReader();
    EXPECT_EQ(view.getReader()->get_type(), "fb2");
}

TEST(BookFlag, LoadReportsItsOwnOpeningEvenWhenTheFlagIsTaken) {
    EpubView view;
    EXPECT_TRUE(view.opened);
    EXPECT_TRUE(view.takeBookLoaded());
    EXPECT_FALSE(view.isBook());
    EXPECT_FALSE(view.load_uri(tf::String("epub://OEBPS/Text/ch1.xhtml"))) << "a chapter opens no book";
    view.showCoverPage();
    EXPECT_EQ(view.paintedText(), "Cover page") << "the cover does not depend on the flag";
}

TEST(Zoom, StepsWithinBounds) {
    struct Case {
        int start;
        bool bigger;
        int expected;
    } cases[] = {{38, true, 40}, {40, true, 40}, {20, true, 22}, {9, false, 8}, {8, false, 8}, {20, false, 18}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        EpubView view;
        EXPECT_EQ(view.setFontSize(c.start), c.start);
        EXPECT_EQ(c.bigger ? view.makeFontBigger() : view.makeFontSmaller(), c.expected);
        EXPECT_EQ(view.get_default_font_size(), c.expected);
    }
    EpubView view;
    view.setFontSize(3);
    EXPECT_EQ(view.get_default_font_size(), 3) << "setFontSize has no bounds";
    EXPECT_EQ(view.resetFontSize(), 20);
}

TEST(Zoom, RefusedWithoutAnOpenBook) {
    TempDir dir;
    write_file(dir.path + "/page.html", "<p>x</p>");
    TestView view;
    view.load_uri(tf::String(dir.path + "/page.html")); // the HTML reader never reports itself open
    testing::internal::CaptureStderr();
    EXPECT_EQ(view.makeFontBigger(), -1);
    EXPECT_EQ(view.makeFontSmaller(), -1);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("makeFontBigger(): no book file is open"), std::string::npos) << log;
    EXPECT_NE(log.find("makeFontSmaller(): no book file is open"), std::string::npos) << log;
    EXPECT_EQ(view.get_default_font_size(), 20);
}

TEST(Tasks, RunOncePerNameInQueueOrder) {
    TestView view;
    view.queueTask("scroll.set", tf::String("100"));
    view.queueTask("open.uri", tf::String("a.html"));
    view.queueTask("scroll.set", tf::String("200"));
    view.processTask("scroll.set");
    view.processTask("scroll.set");
    ASSERT_EQ(view.tasks.size(), 2u);
    EXPECT_EQ(view.tasks[0].param, tf::String("100"));
    EXPECT_EQ(view.tasks[1].param, tf::String("200"));
    EXPECT_EQ(view.pendingTaskCount(), 1u) << "other names keep waiting";
    view.processTask("open.uri");
    ASSERT_EQ(view.tasks.size(), 3u);
    EXPECT_EQ(view.tasks[2].name, "open.uri");
    EXPECT_EQ(view.pendingTaskCount(), 0u);
}

TEST(Tasks, ATaskMayQueueAndRunTasksWhileRunning) {
    TestView view;
    view.onTask = [&view](const TestView::Task& t) {
        if (t.name == "open.uri") {
            view.queueTask("scroll.set", tf::String("0"));
            view.processTask("scroll.set");
        }
    };
    view.queueTask("open.uri", tf::String("x"));
    view.processTask("open.uri");
    ASSERT_EQ(view.tasks.size(), 2u);
    EXPECT_EQ(view.tasks[1].name, "scroll.set");
}

TEST(Tasks, CallThreadRunsTheTaskLastAskedFor) {
    TestView view;
    view.processTask("remove.file");
    view.queueTask("remove.file", tf::String("/b/x.epub"));
    view.queueTask("scroll.set", tf::String("5"));
    tf::BookWidget::callThread(&view);
    ASSERT_EQ(view.tasks.size(), 1u);
    EXPECT_EQ(view.tasks[0].param, tf::String("/b/x.epub"));
}

TEST(Data64, RecognisesAndDecodes) {
    struct Case {
        std::string text;
        bool ok;
        std::string mime;
        std::string data;
    } cases[] = {
        {"data64:", false, "-", "-"},
        {"data64:image/png:aGVsbG8=", true, "image/png", "hello"},
        {"data64:image/jpeg:aGVs\nbG8=", true, "image/jpeg", "hello"},
        {"data64:image/png", false, "-", "-"},
        {"data65:image/png:aGVsbG8=", false, "-", "-"},
        {"", false, "-", "-"},
    };
    TestView view;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string mime = "-", data = "-";
        EXPECT_EQ(view.isDataBase64Encoded(c.text, mime, data), c.ok);
        EXPECT_EQ(mime, c.mime);
        EXPECT_EQ(data, c.data);
    }
}

TEST(Stepping, WalksTheReadingOrder) {
    EpubView view;
    view.stepChapterNext(); // from the book file: the first entry
    view.stepChapterPrev(); // the EPUB rule: also the first entry
    EXPECT_EQ(view.takeAsyncLoads(),
              (std::vector<tf::String>{tf::String("epub://OEBPS/Text/ch1.xhtml"), tf::String("epub://OEBPS/Text/ch1.xhtml")}));
    view.load_uri(tf::String("epub://OEBPS/Text/ch2.xhtml#x"));
    view.stepChapterNext(); // last entry: nothing
    view.stepChapterPrev();
    EXPECT_EQ(view.takeAsyncLoads(), std::vector<tf::String>{tf::String("epub://OEBPS/Text/ch1.xhtml")});

    view.load_uri(tf::String("/books/tale.fb2"));
    view.stepChapterNext();
    EXPECT_EQ(view.takeAsyncLoads(), std::vector<tf::String>{tf::String("fb2://home")});
    view.load_uri(tf::String("fb2://home"));
    EXPECT_EQ(view.paintedText(), "body");
    view.stepChapterNext();
    EXPECT_EQ(view.takeAsyncLoads(), std::vector<tf::String>{tf::String("fb2://notes")});
    view.load_uri(tf::String("fb2://notes"));
    view.stepChapterNext();
    EXPECT_TRUE(view.takeAsyncLoads().empty()) << "the last entry";

    TestView none;
    none.stepChapterNext();
    EXPECT_TRUE(none.takeAsyncLoads().empty());
}

TEST(Links, SamePageFragmentLeadsToTheEntryHoldingTheId) {
    EpubView view;
    view.load_uri(tf::String("/books/tale.fb2"));
    view.load_uri(tf::String("fb2://home#top"));
    struct Case {
        const char* href;
        const char* address;
    } cases[] = {
        {"#n1", "fb2://notes#n1"},       // a note in another entry
        {"#nowhere", "fb2://home#nowhere"},  // no such id: the page itself
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.href);
        EXPECT_EQ(view.fragmentAddress(c.href), tf::String(c.address));
    }
    // Followed, the note's entry is shown.
    view.load_uri(view.fragmentAddress("#n1"));
    EXPECT_EQ(view.paintedText(), "note");

    // Other books keep the page's own address.
    EpubView epub;
    epub.load_uri(tf::String("epub://OEBPS/Text/ch1.xhtml"));
    epub.books["epub"].ids = {{"n1", "OEBPS/Text/ch2.xhtml"}};
    EXPECT_EQ(epub.fragmentAddress("#n1"), tf::String("epub://OEBPS/Text/ch1.xhtml#n1"));
}

TEST(Position, GetInfoUriByAddress) {
    struct Case {
        std::string address;
        bool ok;
        std::string scheme;
        std::string entry;
    } cases[] = {
        {"/b/novel.epub", true, "epub", ""},
        {"/b/tale.fb2", true, "fb2", ""},
        {"epub://OEBPS/Text/ch1.xhtml", true, "epub", "OEBPS/Text/ch1.xhtml"},
        {"epub://OEBPS/page.svg", true, "epub", "OEBPS/page.svg"},
        {"fb2://home", true, "fb2", "home"},
        {"epub://OEBPS/style.css", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EpubView view;
        view.books["epub"].entries["OEBPS/style.css"] = "<p>x</p>";
        view.load_uri(tf::String(c.address));
        std::string entry, scheme;
        EXPECT_EQ(view.GetInfoUri(entry, scheme), c.ok);
        EXPECT_EQ(scheme, c.scheme);
        EXPECT_EQ(entry, c.entry);
    }
    TestView fresh;
    std::string entry, scheme;
    EXPECT_FALSE(fresh.GetInfoUri(entry, scheme));
}

TEST(CoverPage, ShowsTheReadersPageAndKeepsTheAddress) {
    EpubView view;
    view.showCoverPage();
    EXPECT_EQ(view.paintedText(), "Cover page");
    EXPECT_EQ(view.document_root(), tf::String("epub://"));
    EXPECT_EQ(view.current_address(), tf::String("/books/novel.epub"));

    TestView none;
    testing::internal::CaptureStderr();
    none.showCoverPage();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("showCoverPage(): no book file is open: "), std::string::npos) << log;
    EXPECT_FALSE(none.has_document());
}

TEST(Refresh, ReloadsTheCurrentAddress) {
    EpubView view;
    view.load_uri(tf::String("epub://OEBPS/Text/ch2.xhtml"));
    view.takeAsyncLoads();
    view.load_refresh();
    EXPECT_EQ(view.takeAsyncLoads(), std::vector<tf::String>{tf::String("epub://OEBPS/Text/ch2.xhtml")});
    TestView fresh;
    fresh.load_refresh();
    EXPECT_TRUE(fresh.takeAsyncLoads().empty());
}

TEST(LoadString, MalformedXhtmlIsLoggedAndShownAnyway) {
    TestView view;
    testing::internal::CaptureStderr();
    view.load_string("<p>unclosed <b>bold</p>", "./");
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("content is not a valid xhtml file"), std::string::npos) << log;
    EXPECT_EQ(view.paintedText(), "unclosed bold");
}
