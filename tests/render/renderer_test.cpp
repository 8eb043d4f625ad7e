#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

#include "TempDir.h"
#include "TestView.h"
#include "engine-additions/el_audio.h"
#include "utility/text.h"

using test::TestView;

namespace {

void write_file(const std::string& path, const std::string& bytes) {
    tf::file_put_contents(path, reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                          static_cast<long>(bytes.size()));
}

// Runs `body` with the working directory switched to `dir`.
template <class F>
void in_directory(const std::string& dir, F body) {
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    body();
    ASSERT_EQ(chdir(old), 0);
}

const char* kPage = "<html><head><title>T</title></head><body>"
                    "<p id='one'>ab cd</p><audio src='x.ogg'></audio><p id='two.2'>ef</p></body></html>";

} // namespace

TEST(DefaultStyleSheet, PadsTheDocumentAndSizesAudioAsInlineBlock) {
    TempDir empty; // no master.css here
    in_directory(empty.path, [] {
        TestView view;
        view.load_string(kPage, "./");
        auto doc = view.document();
        ASSERT_TRUE(doc);
        auto html = doc->root();
        EXPECT_EQ(html->padding_left(), 30);
        EXPECT_EQ(html->padding_top(), 30);
        auto audio = test::find_tag(html, "audio");
        ASSERT_TRUE(audio);
        EXPECT_EQ(audio->get_display(), litehtml::display_inline_block);
        EXPECT_EQ(audio->get_position().width, 150);
        EXPECT_EQ(audio->get_position().height, 25);
        EXPECT_FALSE(view.paintedText().find("T") != std::string::npos) << "the head is not shown";
        std::lock_guard<std::mutex> lock(view.mutex);
        ASSERT_EQ(view.players.size(), 1u);
        EXPECT_EQ(view.players[0].width, 150);
    });
}

TEST(DefaultStyleSheet, NonEmptyMasterCssReplacesItWhole) {
    TempDir dir;
    write_file(dir.path + "/master.css", "html { display: block; padding: 7px } p { display: block }");
    in_directory(dir.path, [] {
        TestView view;
        view.load_string(kPage, "./");
        auto html = view.document()->root();
        EXPECT_EQ(html->padding_left(), 7);
        auto p = test::find_tag(html, "p");
        ASSERT_TRUE(p);
        EXPECT_EQ(p->margin_top(), 0) << "no built-in rule for p is left";
    });
    TempDir emptyFile;
    write_file(emptyFile.path + "/master.css", "");
    in_directory(emptyFile.path, [] {
        TestView view;
        view.load_string(kPage, "./");
        EXPECT_EQ(view.document()->root()->padding_left(), 30) << "an empty file does not count";
    });
}

TEST(LoadString, EmptyTextChangesNothing) {
    TestView view;
    view.load_string(kPage, "epub://OEBPS");
    auto before = view.document();
    testing::internal::CaptureStderr();
    view.load_string("", "x");
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(view.document(), before);
    EXPECT_EQ(view.document_root(), tf::String("epub://OEBPS"));
    EXPECT_NE(log.find("load_string(): str=0, mDocRoot=x"), std::string::npos) << log;
}

TEST(LoadString, BuildsLaysOutThenShowsAndReports) {
    TestView view;
    view.width = 400;
    view.load_string(kPage, "");
    EXPECT_EQ(view.document_root(), tf::String("./")) << "an empty root keeps the current one";
    EXPECT_EQ(view.current_address(), tf::String()) << "a direct load sets no address";
    std::lock_guard<std::mutex> lock(view.mutex);
    EXPECT_EQ(view.progress, (std::vector<int>{30, 40, 80}));
    ASSERT_EQ(view.sizes.size(), 1u);
    EXPECT_GT(view.sizes[0].second, 0);
    EXPECT_EQ(view.redraws, 1);
}

TEST(MakePath, ResolvesAgainstTheRoot) {
    struct Case {
        const char* root;
        const char* path;
        const char* expected;
    } cases[] = {
        {"epub://OEBPS/Text", "../Images/a.jpg", "epub://OEBPS/Images/a.jpg"},
        {"epub://", "a.png", "epub://a.png"},
        {"epub://OEBPS/Text", "data:image/png;base64,AAAA", "data:image/png;base64,AAAA"},
        {"epub://OEBPS/Text", "/abs/a.png", "/abs/a.png"},
        {"fb2://", "#pic", "fb2://#pic"},
        {".", "a/b.png", "a/b.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        TestView view;
        view.load_string("<p>x</p>", c.root);
        ASSERT_EQ(view.document_root(), tf::String(c.root));
        EXPECT_EQ(view.make_path(tf::String(c.path), tf::String("/")), tf::String(c.expected));
    }
}

TEST(LoadUri, RejectedAddressKeepsDocumentAndAddress) {
    TempDir dir;
    write_file(dir.path + "/page.xml", "<html><body><p>kept</p></body></html>");
    TestView view;
    view.load_uri(tf::String(dir.path + "/page.xml"));
    auto before = view.document();
    ASSERT_TRUE(before);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(view.load_uri(tf::String("cmd://delete_all")));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("invalid uri to get: cmd://delete_all"), std::string::npos) << log;
    EXPECT_EQ(view.document(), before);
    EXPECT_EQ(view.current_address(), tf::String(dir.path + "/page.xml"));
    EXPECT_EQ(view.document_root(), tf::String(dir.path));
}

// Chapters of a fake package: the second has its anchor far down the page.
class Fragments : public testing::Test {
protected:
    void SetUp() override {
        test::FakeBook book;
        std::string filler;
        for (int i = 0; i < 40; ++i)
            filler += "<p>line</p>";
        book.entries["OEBPS/a.xhtml"] = "<html><body><p id='top'>a</p>" + filler + "<p id='deep'>here</p></body></html>";
        book.entries["OEBPS/b.xhtml"] = "<html><body>" + filler + "<h2 id='sec.2'>two</h2></body></html>";
        book.spine = {"OEBPS/a.xhtml", "OEBPS/b.xhtml"};
        view.books["epub"] = book;
        ASSERT_TRUE(view.load_uri(tf::String("/books/x.epub")));
        view.load_uri(tf::String("epub://OEBPS/a.xhtml"));
        ASSERT_TRUE(view.document());
    }
    std::vector<int> moves() {
        std::lock_guard<std::mutex> lock(view.mutex);
        return std::exchange(view.moves, {});
    }
    TestView view;
};

TEST_F(Fragments, SameChapterJumpsWithoutLoading) {
    auto shown = view.document();
    int deep = view.find_anchor("deep");
    ASSERT_GT(deep, 400);
    EXPECT_FALSE(view.load_uri(tf::String("epub://OEBPS/a.xhtml#deep")));
    EXPECT_EQ(view.document(), shown);
    EXPECT_EQ(moves(), std::vector<int>{deep});
    EXPECT_EQ(view.current_address(), tf::String("epub://OEBPS/a.xhtml"));

    view.load_uri(tf::String("epub://OEBPS/a.xhtml#missing"));
    EXPECT_EQ(view.document(), shown);
    EXPECT_TRUE(moves().empty());

    view.load_uri(tf::String("epub://OEBPS/a.xhtml"));
    EXPECT_NE(view.document(), shown) << "without a fragment the chapter is loaded again";
}

TEST_F(Fragments, OtherChapterScrollsToTheFragmentAfterLoading) {
    moves();
    view.load_uri(tf::String("epub://OEBPS/b.xhtml#sec.2"));
    EXPECT_EQ(view.current_address(), tf::String("epub://OEBPS/b.xhtml#sec.2"));
    int y = view.find_anchor("sec.2");
    ASSERT_GT(y, 400);
    EXPECT_EQ(moves(), std::vector<int>{y});
}

TEST(LoadUri, ResourcesOfTheNewPageResolveAgainstItsOwnFolder) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir.path + "/sub").c_str(), 0755), 0);
    write_file(dir.path + "/sub/pic.png", "PIC:40x30");
    write_file(dir.path + "/sub/page.xml", "<html><body><img src='pic.png'/></body></html>");
    TestView view;
    view.load_string("<p>old</p>", "/elsewhere");
    view.load_uri(tf::String(dir.path + "/sub/page.xml"));
    auto img = test::find_tag(view.document()->root(), "img");
    ASSERT_TRUE(img);
    EXPECT_EQ(img->get_position().width, 40);
    EXPECT_EQ(img->get_position().height, 30);
    EXPECT_EQ(view.document_root(), tf::String(dir.path + "/sub"));
}

TEST(LoadString, APageKeepsItsOwnContainerAfterTheNextIsShown) {
    // A page still held (a paint, a search in progress) when the next one is
    // shown paints with its own folder, not with the folder shown now.
    TestView view;
    const std::string page = "<div style=\"background-image: url(bg.png); width: 20px; height: 20px\"></div>";
    view.load_string(page, "/one/");
    const litehtml::document::ptr first = view.document();
    ASSERT_TRUE(first);
    view.load_string(page, "/two/");
    ASSERT_NE(view.document(), first);
    auto drawn = [&view] {
        std::lock_guard<std::mutex> lock(view.mutex);
        return std::exchange(view.backgrounds, {});
    };
    view.paint();
    EXPECT_EQ(drawn(), std::vector<std::string>{"/two/bg.png"});
    litehtml::position clip(0, 0, 1000, 1000);
    first->draw(0, 0, 0, &clip);
    EXPECT_EQ(drawn(), std::vector<std::string>{"/one/bg.png"});
}

TEST(LoadString, AViewThatForgetsItsPageStillFreesIt) {
    auto view = std::make_unique<TestView>();
    view->releaseOnDestroy = false;
    view->load_string("<p>some <b>words</b> in two fonts</p>", "/one/");
    std::weak_ptr<litehtml::document> page = view->document();
    ASSERT_FALSE(page.expired());
    testing::internal::CaptureStderr();
    view.reset();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(page.expired()) << "the page was kept alive";
    EXPECT_NE(log.find("document still held"), std::string::npos) << log;
}
