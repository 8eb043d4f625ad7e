// FictionBook files that are large where real books are small: thousands of
// pictures, thousands of attributes, long texts in a multi-byte encoding.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "TempDir.h"
#include "fb2_test_support.h"
#include "readers/FB2Reader.h"
#include "utility/ZipEntry.h"

namespace {

const char kHead[] =
    "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" xmlns:l=\"http://www.w3.org/1999/xlink\">"
    "<description><title-info><book-title>T</book-title></title-info></description>";

std::unique_ptr<tf::FB2Reader> open_book(const TempDir& tmp, const std::string& bytes) {
    const std::string path = tmp.path + "/book.fb2";
    write_bytes(path, bytes);
    std::unique_ptr<tf::FB2Reader> reader(new tf::FB2Reader());
    testing::internal::CaptureStderr();
    const bool ok = reader->open(path) && reader->parse();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(ok) << log;
    return reader;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

TEST(Fb2Limits, EveryOneOfThousandsOfPicturesIsFoundQuickly) {
    // Each picture of a page is fetched by its reference; a scan of all
    // binaries per fetch made a book of 20000 pictures take minutes.
    const int kPictures = 20000;
    std::string body = "<body><section>", binaries;
    for (int i = 0; i < kPictures; ++i) {
        body += "<image l:href=\"#p" + std::to_string(i) + "\"/>";
        binaries += "<binary id=\"p" + std::to_string(i) + "\" content-type=\"image/png\">QUJD" +
                    std::to_string(i) + "</binary>";
    }
    // A repeated id: the first binary of that id is the picture.
    binaries += "<binary id=\"p7\" content-type=\"image/gif\">later</binary>";
    TempDir tmp;
    auto reader = open_book(tmp, kHead + body + "</section></body>" + binaries + "</FictionBook>");

    const auto start = std::chrono::steady_clock::now();
    int found = 0;
    for (int i = 0; i < kPictures; ++i) {
        std::string out;
        const std::string type = reader->get_entry("#p" + std::to_string(i), out);
        found += type == "image/png" && out == "data64:image/png:QUJD" + std::to_string(i);
    }
    EXPECT_EQ(found, kPictures);
    EXPECT_LT(seconds_since(start), 5.0);

    std::string out;
    EXPECT_EQ(reader->get_entry("#p7", out), "image/png");
    EXPECT_EQ(reader->get_entry("#nowhere", out), "html") << "an unknown reference gets the body page";
    // A book opened again forgets the pictures of the first.
    write_bytes(tmp.path + "/book.fb2", std::string(kHead) + "<body><p>x</p></body>"
                                        "<binary id=\"p1\" content-type=\"image/jpeg\">Zm9v</binary></FictionBook>");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader->open(tmp.path + "/book.fb2") && reader->parse());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(reader->get_entry("#p1", out), "image/jpeg");
    EXPECT_EQ(out, "data64:image/jpeg:Zm9v");
    EXPECT_EQ(reader->get_entry("#p2", out), "html");
}

TEST(Fb2Limits, AnElementWithThousandsOfAttributesBuildsItsPageQuickly) {
    const int kAttributes = 100000;
    std::string p = "<p";
    for (int i = 0; i < kAttributes; ++i)
        p += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    // Links bound to two prefixes still give one "xlink:href".
    p += " l:href=\"#one\" xl:href=\"#two\">text</p>";
    TempDir tmp;
    auto reader = open_book(tmp, std::string(kHead) + "<body xmlns:xl=\"http://www.w3.org/1999/xlink\">" + p +
                                     "</body></FictionBook>");
    const auto start = std::chrono::steady_clock::now();
    std::string page;
    reader->get_entry("home", page);
    EXPECT_LT(seconds_since(start), 5.0);
    EXPECT_NE(page.find(" a99999=\"99999\""), std::string::npos);
    const size_t href = page.find("xlink:href=\"#one\"");
    EXPECT_NE(href, std::string::npos);
    EXPECT_EQ(page.find("xlink:href", href + 1), std::string::npos);
}

TEST(Fb2Limits, MultiByteTextConvertsWholeAcrossAnyLength) {
    // EUC-JP text far longer than the converter's steps, at an odd offset so
    // that characters straddle every step boundary.
    std::string utf8;
    for (int i = 0; i < 6000; ++i)
        utf8 += "\xE6\x97\xA5\xE6\x9C\xAC";  // 日本
    iconv_t cd = iconv_open("EUC-JP", "UTF-8");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string euc(utf8.size(), '\0');
    char* in = &utf8[0];
    size_t in_left = utf8.size();
    char* out = &euc[0];
    size_t out_left = euc.size();
    ASSERT_NE(iconv(cd, &in, &in_left, &out, &out_left), static_cast<size_t>(-1));
    iconv_close(cd);
    euc.resize(euc.size() - out_left);

    TempDir tmp;
    auto reader = open_book(tmp, "<?xml version=\"1.0\" encoding=\"EUC-JP\"?>\n" + std::string(kHead) +
                                     "<body><p>x" + euc + "</p></body></FictionBook>");
    std::string page;
    reader->get_entry("home", page);
    EXPECT_NE(page.find("x" + utf8 + "<"), std::string::npos);
    EXPECT_EQ(page.find("\xEF\xBF\xBD"), std::string::npos) << "no replacement character";
}

TEST(Fb2Limits, TextMostlyInvalidInItsDeclaredEncodingOpensInBoundedTime) {
    // UTF-7 reads every byte above 127 as an error; the conversion restarts
    // after each one and must not cost the rest of the book every time. The
    // bytes are no UTF-8 either (UTF-8 text would win over the declaration).
    std::string body;
    for (int i = 0; i < 700000; ++i)
        body += "\xE9\xE9 ";
    TempDir tmp;
    const std::string path = tmp.path + "/book.fb2";
    write_bytes(path, "<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n" + std::string(kHead) + "<body><p>" + body +
                          "</p></body></FictionBook>");
    tf::FB2Reader reader;
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    const bool opened = reader.open(path) && reader.parse();
    std::string page;
    reader.get_entry("home", page);
    testing::internal::GetCapturedStderr();
    EXPECT_LT(seconds_since(start), 10.0);
    if (opened) {
        EXPECT_NE(page.find("\xEF\xBF\xBD"), std::string::npos);
    }
}

TEST(Fb2Limits, AFileLargerThanAnyBookIsRefusedUnread) {
    // Sparse: as large as claimed without taking the disk.
    TempDir tmp;
    const std::string path = tmp.path + "/huge.fb2";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(tf::ZipEntry::kMaxEntrySize) + 1), 0);
    ::close(fd);
    tf::FB2Reader reader;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reader.open(path));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("file too large"), std::string::npos) << log;
    EXPECT_FALSE(reader.isOpen());
}
