#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempDir.h"
#include "ZipBuilder.h"
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

namespace {

// A real EPUB whose entries are named with "#", "?" and spaces, written
// percent-encoded in the package and in the pages' references.
std::string writeOddNamesEpub(const TempDir& dir) {
    const std::string opf =
        "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\" unique-identifier=\"id\">"
        "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>Odd names</dc:title>"
        "<dc:identifier id=\"id\">odd</dc:identifier></metadata><manifest>"
        "<item id=\"c1\" href=\"Text/ch%231.xhtml\" media-type=\"application/xhtml+xml\"/>"
        "<item id=\"c2\" href=\"Text/what%3F%20now.xhtml\" media-type=\"application/xhtml+xml\"/>"
        "<item id=\"p\" href=\"Images/pic%20%232%3F.png\" media-type=\"image/png\"/>"
        "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>"
        "</manifest><spine toc=\"ncx\"><itemref idref=\"c1\"/><itemref idref=\"c2\"/></spine></package>";
    const std::string ncx =
        "<?xml version=\"1.0\"?><ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\"><navMap>"
        "<navPoint id=\"n1\" playOrder=\"1\"><navLabel><text>One</text></navLabel>"
        "<content src=\"Text/ch%231.xhtml\"/></navPoint></navMap></ncx>";
    const std::string ch1 =
        "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>first page</p>"
        "<img src=\"../Images/pic%20%232%3F.png\"/>"
        "<p><a href=\"what%3F%20now.xhtml#end\">on</a></p></body></html>";
    const std::string ch2 = "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p id=\"end\">second page</p></body></html>";
    const std::string path = dir.path + "/odd.epub";
    const bool written = write_zip(
        path, {{"mimetype", "application/epub+zip", tf::ZipEntry::kStored},
               {"META-INF/container.xml",
                "<?xml version=\"1.0\"?><container version=\"1.0\" "
                "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
                "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
                "</rootfiles></container>"},
               {"OEBPS/content.opf", opf},
               {"OEBPS/toc.ncx", ncx},
               {"OEBPS/Text/ch#1.xhtml", ch1},
               {"OEBPS/Text/what? now.xhtml", ch2},
               {"OEBPS/Images/pic #2?.png", "PIC:40x30"}});
    return written ? path : std::string();
}

} // namespace

TEST(BookAddresses, EntriesNamedWithHashAndQuestionMarkOpenAndShowTheirTargets) {
    TempDir dir;
    const std::string book = writeOddNamesEpub(dir);
    ASSERT_FALSE(book.empty());
    TestView view;  // no fake book: the real EPUB reader
    ASSERT_TRUE(view.load_uri(tf::String(book)));

    tf::BookWidget::Contents contents;
    ASSERT_TRUE(view.bookContents(contents));
    EXPECT_EQ(contents.title, "Odd names");
    ASSERT_EQ(contents.spine.size(), 2u);
    EXPECT_EQ(contents.spine[0].first, "OEBPS/Text/ch#1.xhtml");
    EXPECT_EQ(view.bookFilename(), book);
    EXPECT_EQ(view.bookType(), "epub");
    EXPECT_EQ(view.bookTitle(), "Odd names");
    std::string title, coverEntry, coverBytes;
    EXPECT_FALSE(view.bookCover(dir.path + "/another.epub", title, coverEntry, coverBytes)) << "not the book open";
    EXPECT_TRUE(view.bookCover(book, title, coverEntry, coverBytes));
    EXPECT_EQ(title, "Odd names");

    // The chapter opens under the address made from its entry name, and shows its picture.
    const tf::String first = tf::URI::entryAddress("epub", contents.spine[0].first);
    view.load_uri(first);
    EXPECT_EQ(view.current_address(), first);
    EXPECT_NE(view.paintedText().find("first page"), std::string::npos);
    litehtml::element::ptr img, link;
    {
        auto lock = view.lockDocument();
        ASSERT_TRUE(view.document());
        img = test::find_tag(view.document()->root(), "img");
        link = test::find_tag(view.document()->root(), "a");
        ASSERT_TRUE(img && link);
        EXPECT_EQ(img->get_placement().width, 40);
        EXPECT_EQ(img->get_placement().height, 30);
    }
    EXPECT_EQ(view.images.count("epub://OEBPS/Images/pic %232%3F.png"), 1u);

    std::string entry, scheme;
    ASSERT_TRUE(view.GetInfoUri(entry, scheme));
    EXPECT_EQ(entry, "OEBPS/Text/ch#1.xhtml");
    EXPECT_EQ(view.neighbourEntry(entry, true), "OEBPS/Text/what? now.xhtml");

    // The link leads to the other oddly named entry, at its fragment.
    const tf::String target = view.resolve(tf::String(link->get_attr("href")));
    EXPECT_EQ(target.str(), "epub://OEBPS/Text/what%3F now.xhtml#end");
    view.load_uri(target);
    EXPECT_NE(view.paintedText().find("second page"), std::string::npos);
    tf::URI shown;
    ASSERT_TRUE(view.current_uri(shown));
    EXPECT_EQ(shown.m_hash.str(), "end");
    EXPECT_EQ(shown.member().str(), "OEBPS/Text/what? now.xhtml");
    // The same entry spelled otherwise is the same page: only a scroll, no new build.
    const auto before = view.document();
    view.load_uri(tf::String("epub://OEBPS/Text/what%3F%20now.xhtml#end"));
    EXPECT_EQ(view.document(), before);

    // Stepping back names the first entry by an address that opens it.
    view.stepChapterPrev();
    const auto loads = view.takeAsyncLoads();
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0], first);
}

TEST(BookAddresses, WithoutAnOpenBookTheWindowsQuestionsAnswerNothing) {
    TestView view;
    tf::BookWidget::Contents contents;
    EXPECT_FALSE(view.bookContents(contents));
    EXPECT_EQ(view.bookFilename(), "");
    EXPECT_EQ(view.bookTitle(), "");
    EXPECT_EQ(view.neighbourEntry("a", true), "");
    std::string title, cover, data;
    EXPECT_FALSE(view.bookCover("/books/a.epub", title, cover, data));
}

TEST(BookAddresses, APageOnDiskNamedWithHashAndQuestionMarkShowsItsPicture) {
    TempDir dir;
    write_file(dir.path + "/pic #1?.png", "PIC:20x10");
    const std::string page = dir.path + "/page #1?.html";
    write_file(page, "<html><body><p>on disk</p><img src=\"pic%20%231%3F.png\"/></body></html>");
    TestView view;
    ASSERT_TRUE(view.load_uri(tf::String(page)));
    EXPECT_NE(view.paintedText().find("on disk"), std::string::npos);
    EXPECT_EQ(view.images.count(dir.path + "/pic #1?.png"), 1u);
    auto lock = view.lockDocument();
    ASSERT_TRUE(view.document());
    const auto img = test::find_tag(view.document()->root(), "img");
    ASSERT_TRUE(img);
    EXPECT_EQ(img->get_placement().width, 20);
}
