#include <gtest/gtest.h>

#include <stdexcept>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "TempDir.h"
#include "corpus.h"
#include "readers/BaseReader.h"
#include "readers/HTMLReader.h"
#include "utility/text.h"

namespace {

std::string write_file(const std::string& path, const std::string& bytes) {
    tf::file_put_contents(path, reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                          static_cast<long>(bytes.size()));
    return path;
}

} // namespace

TEST(ReaderFactory, KnownWordsGiveTheirReader) {
    for (const char* word : {"fb2", "html"}) {
        SCOPED_TRACE(word);
        std::unique_ptr<tf::BaseReader> smart = tf::BaseReader::create_smart(word);
        ASSERT_TRUE(smart);
        EXPECT_EQ(smart->get_type(), word);
        tf::BaseReader* raw = tf::BaseReader::create(word);
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(raw->get_type(), word);
        delete raw;
    }
}

TEST(ReaderFactory, UnknownWordsThrow) {
    for (const char* word : {"", "HTML", "Fb2", "txt", "html "}) {
        SCOPED_TRACE(word);
        try {
            delete tf::BaseReader::create(word);
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "incorrect format name");
        }
        EXPECT_THROW(tf::BaseReader::create_smart(word), std::invalid_argument);
    }
}

TEST(HTMLReader, OpenedDocumentIsItsOwnSinglePage) {
    TempDir tmp;
    const std::string page = "<html><body><p>Hello</p></body></html>";
    const std::string path = write_file(tmp.path + "/page.html", page);

    tf::HTMLReader reader;
    ASSERT_TRUE(reader.open(path));
    EXPECT_TRUE(reader.parse());
    EXPECT_EQ(reader.get_filename(), path);
    // Neither a title nor a heading: the file's name.
    EXPECT_EQ(reader.get_title(), "page.html");

    std::string out = "keep";
    EXPECT_EQ(reader.get_entry("anything", out), page);
    EXPECT_EQ(reader.get_entry("", out), page);
    EXPECT_EQ(out, "keep");
    std::string cover = "cover";
    EXPECT_EQ(reader.cover_page(cover), page);
    EXPECT_EQ(cover, "cover");

    EXPECT_TRUE(reader.spine().empty());
    EXPECT_TRUE(reader.toc().empty());
    EXPECT_TRUE(reader.get_font_entries().empty());
    for (const char* name : {"", "page.html", "x"}) {
        EXPECT_EQ(reader.entry_name_next(name), "");
        EXPECT_EQ(reader.entry_name_prev(name), "");
    }
    // A plain document is never reported as an open book.
    EXPECT_FALSE(reader.isOpen());
    reader.close();
    EXPECT_EQ(reader.get_entry("", out), page);
    EXPECT_EQ(reader.get_filename(), path);
}

TEST(HTMLReader, DefaultPagesAndTitle) {
    TempDir tmp;
    tf::HTMLReader reader;
    EXPECT_EQ(reader.default_title(), "untitled_0");
    EXPECT_EQ(reader.default_coverpage(),
              "<html><body><h1>Html document</h1><p>Html document</p></body></html>");
    const std::string path = write_file(tmp.path + "/a.htm", "<p>x</p>");
    ASSERT_TRUE(reader.open(path));
    EXPECT_EQ(reader.default_title(), "untitled_" + std::to_string(path.size()));
}

TEST(HTMLReader, TitleFromTitleElementThenFirstHeadingThenFileName) {
    TempDir tmp;
    struct Case {
        const char* markup;
        const char* title;
    } cases[] = {
        {"<html><head><title> The\n  Raven </title></head><body><h1>Heading</h1></body></html>", "The Raven"},
        {"<html><head><title>  </title></head><body><p>x</p><h2>Second <i>level</i></h2><h1>One</h1></body></html>",
         "Second level"},
        {"<?xml version='1.0'?><html xmlns='http://www.w3.org/1999/xhtml'><body><div><h3>Deep &amp; late</h3></div>"
         "</body></html>",
         "Deep & late"},
        {"<p>No title at all</p>", "book file.html"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.markup);
        tf::HTMLReader reader;
        ASSERT_TRUE(reader.open(write_file(tmp.path + "/book file.html", c.markup)));
        EXPECT_EQ(reader.get_title(), c.title);
        EXPECT_EQ(reader.last_error(), "");
    }
    // A failed open says why in words.
    tf::HTMLReader reader;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reader.open(tmp.path + "/missing.html"));
    EXPECT_EQ(reader.last_error(), "The file is missing.");
    EXPECT_FALSE(reader.open(write_file(tmp.path + "/empty.html", "")));
    EXPECT_EQ(reader.last_error(), "The file is empty or cannot be read.");
    testing::internal::GetCapturedStderr();
}

TEST(HTMLReader, MissingOrEmptyFileFailsWithLogLine) {
    TempDir tmp;
    const std::string empty = write_file(tmp.path + "/empty.html", "");
    const std::string good = write_file(tmp.path + "/good.html", "<p>good</p>");
    struct Case {
        std::string path;
        std::string message;
    } cases[] = {
        {tmp.path + "/missing.html", "file do not exist:" + tmp.path + "/missing.html"},
        {empty, "file is empty:" + empty},
        {tmp.path, "file is empty:" + tmp.path},  // a folder reads as nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        tf::HTMLReader reader;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(reader.open(c.path));
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("ERROR: "), std::string::npos) << log;
        EXPECT_NE(log.find("open(): " + c.message), std::string::npos) << log;
        EXPECT_EQ(reader.get_filename(), "");
    }

    // A failed second open keeps the first file's name and never serves stale bytes
    // under the new one.
    tf::HTMLReader reader;
    ASSERT_TRUE(reader.open(good));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reader.open(empty));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(reader.get_filename(), good);
    std::string out;
    EXPECT_EQ(reader.get_entry("", out), "");
}

TEST(HTMLReader, UnreadableFileIsNotTakenForThePreviousOne) {
    // A socket exists, yet fopen refuses it (even for root).
    TempDir tmp;
    const std::string unreadable = tmp.path + "/socket";
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(unreadable.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, unreadable.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    const std::string good = write_file(tmp.path + "/good.html", "<p>good</p>");
    tf::HTMLReader reader;
    ASSERT_TRUE(reader.open(good));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reader.open(unreadable));
    std::string log = testing::internal::GetCapturedStderr();
    ::close(fd);
    EXPECT_NE(log.find("file is empty:" + unreadable), std::string::npos) << log;
    EXPECT_EQ(reader.get_filename(), good);
    std::string out;
    EXPECT_EQ(reader.get_entry("", out), "");
}

// Every single-page document of the corpus opens through the factory and is served whole.
TEST(HTMLReaderCorpus, XhtmlAndSvgOpenWhole) {
    for (const char* name : {"xhtml-se-devils-dictionary-a.xhtml", "svg-idpf-Tsuru_wiki-1b.svg"}) {
        SCOPED_TRACE(name);
        const std::string path = corpus_path(name);
        std::string bytes;
        tf::file_get_contents(path, bytes);
        ASSERT_FALSE(bytes.empty());

        std::unique_ptr<tf::BaseReader> reader = tf::BaseReader::create_smart("html");
        ASSERT_TRUE(reader->open(path));
        ASSERT_TRUE(reader->parse());
        std::string cover;
        EXPECT_EQ(reader->cover_page(cover), bytes);
        EXPECT_EQ(cover, "");
        std::string out;
        EXPECT_EQ(reader->get_entry("", out), bytes);
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(reader->get_filename(), path);
    }
}
