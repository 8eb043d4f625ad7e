#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "corpus.h"
#include "utility/ZipFile.h"
#include "utility/text.h"

using tf::ZipEntry;
using tf::ZipFile;

namespace {

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

std::string read_file(const std::string& path) {
    std::string s;
    tf::file_get_contents(path, s);
    return s;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Sets a 32-bit field in every local header (PK\3\4) and every central
// directory record (PK\1\2) of an archive.
void patch_headers(std::string& zip, unsigned local_offset, unsigned central_offset, uint32_t value) {
    auto put = [&](size_t at) {
        for (int i = 0; i < 4; ++i)
            zip[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    for (size_t p = zip.find("PK\3\4"); p != std::string::npos; p = zip.find("PK\3\4", p + 4))
        put(p + local_offset);
    for (size_t p = zip.find("PK\1\2"); p != std::string::npos; p = zip.find("PK\1\2", p + 4))
        put(p + central_offset);
}
constexpr unsigned kLocalCrc = 14, kCentralCrc = 16;
constexpr unsigned kLocalSize = 22, kCentralSize = 24;

class ZipTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path(const std::string& name) const { return dir.path + "/" + name; }

    // Writes the members to `name` and opens and lists it in `zip`.
    void build(ZipFile& zip, const std::vector<ZipMember>& members, const std::string& name = "t.zip") {
        ASSERT_TRUE(write_zip(path(name), members));
        ASSERT_TRUE(zip.open(path(name))) << zip.getLastError();
        ASSERT_TRUE(zip.parse());
    }
};

TEST_F(ZipTest, OpenFailuresExplainThemselves) {
    write_file(path("text.zip"), "this is not a zip archive");
    ASSERT_TRUE(write_zip(path("empty.zip"), {}));
    // minizip refuses an empty archive whose end record sits at offset 0 when opening;
    // behind a few leading bytes (as in a self-extractor) it opens and has no first entry.
    write_file(path("stub-empty.zip"), "stub" + read_file(path("empty.zip")));
    struct Case {
        std::string file;
        std::string error;
    } cases[] = {
        {path("text.zip"), "cannot open file: " + path("text.zip")},
        {path("missing.zip"), "cannot open file: " + path("missing.zip")},
        {corpus_path("broken-made-truncated-pg1661.epub"),
         "cannot open file: " + corpus_path("broken-made-truncated-pg1661.epub")},
        {path("empty.zip"), "cannot open file: " + path("empty.zip")},
        {path("stub-empty.zip"), "cannot read first entry"},
    };
    for (const auto& c : cases) {
        ZipFile zip;
        EXPECT_FALSE(zip.open(c.file)) << c.file;
        EXPECT_FALSE(zip.isOpen());
        EXPECT_EQ(zip.getLastError(), c.error);
    }
}

TEST_F(ZipTest, ListsMembersByExactName) {
    ZipFile zip;
    build(zip, {{"mimetype", "application/epub+zip", ZipEntry::kStored},
                {"META-INF/container.xml", "<container/>"},
                {"OEBPS/a.xhtml", "<html/>"},
                {"OEBPS/", ""},
                {"OEBPS.v2/IMG.JPG", "x"}});
    const std::vector<std::string> expected = {"mimetype", "META-INF/container.xml", "OEBPS/a.xhtml",
                                               "OEBPS/", "OEBPS.v2/IMG.JPG"};
    EXPECT_EQ(zip.getNames(), expected);
    EXPECT_EQ(zip.getCount(), 5u);
    EXPECT_EQ(zip.getMode(), ZipEntry::ZIP_READ);

    struct Case {
        const char* name;
        bool empty;
        const char* type;
    } cases[] = {
        {"OEBPS/a.xhtml", false, ".xhtml"},
        {"oebps/a.xhtml", true, ""},  // names are case-sensitive
        {"mimetype", false, ""},
        {"META-INF/container.xml", false, ".xml"},
        {"OEBPS.v2/IMG.JPG", false, ".jpg"},
        {"OEBPS/", false, ""},
    };
    for (const auto& c : cases) {
        ZipEntry* e = zip.getEntry(c.name);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->isEmpty(), c.empty) << c.name;
        EXPECT_EQ(e->entryType(), c.type) << c.name;
        if (!c.empty) {
            EXPECT_EQ(e->getName(), c.name);
            EXPECT_EQ(e->getZipFile(), &zip);
        }
    }
    EXPECT_EQ(zip.getEntry("OEBPS/")->getSize(), 0u);
    EXPECT_EQ(zip.getEntry("mimetype")->getSize(), 20u);
    EXPECT_EQ(zip.getEntry("mimetype")->getSizeCompressed(), 20u);  // stored
    EXPECT_EQ(zip.getEntry("OEBPS/a.xhtml")->getFilePos(), 2u);
}

TEST_F(ZipTest, MissingNamesGiveTheSameEmptyEntryAndPointersStayValid) {
    ZipFile zip;
    build(zip, {{"a.txt", "alpha"}, {"b.txt", "beta"}});
    ZipEntry* a = zip.getEntry("a.txt");
    ZipEntry* missing = zip.getEntry("nope");
    EXPECT_TRUE(missing->isEmpty());
    EXPECT_EQ(missing->getZipFile(), nullptr);
    EXPECT_EQ(zip.getEntry("nope"), missing);
    for (int i = 0; i < 1000; ++i)
        zip.getEntry("missing-" + std::to_string(i));
    EXPECT_EQ(zip.getEntry("a.txt"), a);
    EXPECT_EQ(a->getName(), "a.txt");
    EXPECT_EQ(zip.getNames().size(), 2u);  // lookups do not add names
    std::string out;
    EXPECT_EQ(zip.getEntryData("a.txt", out), 5);
    EXPECT_EQ(out, "alpha");
}

TEST_F(ZipTest, ReadsExactBytesOfStoredAndDeflatedMembers) {
    const std::string big = random_bytes(300 * 1024, 1);  // several read chunks
    const std::string text = std::string(200000, 'a') + std::string("\0zero\0", 6);
    struct Case {
        const char* name;
        std::string data;
        int method;
    } cases[] = {
        {"big.bin", big, ZipEntry::kStored},
        {"big.z", big, ZipEntry::kDeflated},
        {"text.txt", text, ZipEntry::kDeflated},
        {"empty.txt", "", ZipEntry::kDeflated},
        {"one", "1", ZipEntry::kStored},
    };
    std::vector<ZipMember> members;
    for (const auto& c : cases)
        members.push_back({c.name, c.data, c.method});
    ZipFile zip;
    build(zip, members);
    for (const auto& c : cases) {
        ZipEntry* e = zip.getEntry(c.name);
        EXPECT_EQ(e->getSize(), c.data.size()) << c.name;
        for (int round = 0; round < 2; ++round) {
            std::string out = "old";
            ASSERT_TRUE(e->open()) << e->getLastError();
            EXPECT_EQ(e->read(out), static_cast<int>(c.data.size())) << c.name;
            EXPECT_EQ(out, c.data) << c.name;
            EXPECT_EQ(e->close(), UNZ_OK);
        }
        std::string whole;
        EXPECT_EQ(zip.getEntryData(c.name, whole), static_cast<long>(c.data.size()));
        EXPECT_EQ(whole, c.data) << c.name;
    }
}

TEST_F(ZipTest, ReadsInPiecesThroughACallerBuffer) {
    const std::string data = random_bytes(10000, 2);
    ZipFile zip;
    build(zip, {{"d", data}});
    ZipEntry* e = zip.getEntry("d");
    ASSERT_TRUE(e->open());
    unsigned char buf[333];
    unsigned char* p = buf;
    std::string got;
    int n;
    while ((n = e->read(&p, sizeof buf)) > 0)
        got.append(reinterpret_cast<char*>(buf), n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(got, data);
    EXPECT_EQ(e->close(), UNZ_OK);
    EXPECT_EQ(e->close(), 0);  // nothing open any more
}

TEST_F(ZipTest, OpeningAnotherMemberEndsThePreviousRead) {
    ZipFile zip;
    build(zip, {{"a", std::string(5000, 'a')}, {"b", std::string(7000, 'b')}});
    ZipEntry* a = zip.getEntry("a");
    ZipEntry* b = zip.getEntry("b");
    ASSERT_TRUE(a->open());
    ASSERT_TRUE(b->open());
    std::string out = "untouched";
    EXPECT_LT(a->read(out), 0);  // never b's bytes under a's name
    EXPECT_EQ(out, "untouched");
    EXPECT_EQ(a->close(), 0);    // and closing a leaves b open
    EXPECT_EQ(b->read(out), 7000);
    EXPECT_EQ(out, std::string(7000, 'b'));
    EXPECT_EQ(b->close(), UNZ_OK);
}

TEST_F(ZipTest, MissingMemberReportsAnEmptyLineAndKeepsOutput) {
    ZipFile zip;
    build(zip, {{"a", "x"}});
    std::string out = "keep";
    testing::internal::CaptureStdout();
    long n = zip.getEntryData("absent", out);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n");
    EXPECT_EQ(n, 0);
    EXPECT_EQ(out, "keep");
}

TEST_F(ZipTest, LaterDuplicateReplacesEarlier) {
    ZipFile zip;
    build(zip, {{"dup", "first"}, {"other", "o"}, {"dup", "second"}});
    EXPECT_EQ(zip.getNames(), (std::vector<std::string>{"dup", "other", "dup"}));
    std::string out;
    EXPECT_EQ(zip.getEntryData("dup", out), 6);
    EXPECT_EQ(out, "second");
}

TEST_F(ZipTest, LongNamesAreCutTo255Bytes) {
    const std::string exact(255, 'e');
    const std::string longer = std::string(250, 'l') + "/chapter-one.xhtml";  // 268 bytes
    ZipFile zip;
    build(zip, {{exact, "exact"}, {longer, "long"}});
    EXPECT_EQ(zip.getNames()[0], exact);
    ASSERT_EQ(zip.getNames()[1].size(), 255u);
    EXPECT_EQ(zip.getNames()[1], longer.substr(0, 255));
    std::string out;
    EXPECT_EQ(zip.getEntryData(longer.substr(0, 255), out), 4);
    EXPECT_EQ(out, "long");
    EXPECT_TRUE(zip.getEntry(longer)->isEmpty());
}

TEST_F(ZipTest, DamagedMembersFailWithoutData) {
    const std::string data = std::string(3000, 'x') + "tail";
    struct Case {
        const char* what;
        int method;
        unsigned local, central;
        uint32_t value;
        const char* logged;
    } cases[] = {
        {"wrong crc, stored", ZipEntry::kStored, kLocalCrc, kCentralCrc, 0x12345678, "CRC"},
        {"wrong crc, deflated", ZipEntry::kDeflated, kLocalCrc, kCentralCrc, 0x12345678, "CRC"},
        {"claims more than it has, stored", ZipEntry::kStored, kLocalSize, kCentralSize, 5000, "ends early"},
        {"claims more than it has, deflated", ZipEntry::kDeflated, kLocalSize, kCentralSize, 200u << 20,
         "ends early"},
        {"claims gigabytes", ZipEntry::kDeflated, kLocalSize, kCentralSize, 0xF0000000u, "too large"},
        {"claims just over the limit", ZipEntry::kStored, kLocalSize, kCentralSize,
         static_cast<uint32_t>(ZipEntry::kMaxEntrySize + 1), "too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(write_zip(path("good.zip"), {{"m", data, c.method}}));
        std::string bytes = read_file(path("good.zip"));
        patch_headers(bytes, c.local, c.central, c.value);
        write_file(path("bad.zip"), bytes);

        ZipFile zip;
        ASSERT_TRUE(zip.open(path("bad.zip")));
        zip.parse();
        ZipEntry* e = zip.getEntry("m");
        ASSERT_FALSE(e->isEmpty());
        std::string out = "untouched";
        testing::internal::CaptureStderr();
        ASSERT_TRUE(e->open());
        EXPECT_LT(e->read(out), 0);
        e->close();
        EXPECT_EQ(zip.getEntryData("m", out), 0);
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(out, "untouched");
        EXPECT_NE(log.find("ERROR: "), std::string::npos) << log;
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    }
}

TEST_F(ZipTest, CorpusBookWithCorruptChapterFailsOnlyThatMember) {
    ZipFile good, bad;
    ASSERT_TRUE(good.open(corpus_path("epub2-pg11-alice.epub")));
    ASSERT_TRUE(bad.open(corpus_path("broken-made-bad-crc-pg11.epub")));
    good.parse();
    bad.parse();
    ASSERT_EQ(good.getNames(), bad.getNames());
    int failed = 0;
    testing::internal::CaptureStderr();
    for (const std::string& name : good.getNames()) {
        std::string a, b;
        long n = good.getEntryData(name, a);
        EXPECT_EQ(n, static_cast<long>(good.getEntry(name)->getSize())) << name;
        if (bad.getEntryData(name, b) == 0 && n > 0)
            ++failed;
        else
            EXPECT_EQ(a, b) << name;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(failed, 1);
}

TEST_F(ZipTest, ClosingForgetsMembersAndStaleCopiesFailToOpen) {
    ZipFile zip;
    build(zip, {{"a", "alpha"}});
    ZipEntry copy = *zip.getEntry("a");
    zip.close();
    EXPECT_FALSE(zip.isOpen());
    EXPECT_TRUE(zip.getNames().empty());
    EXPECT_FALSE(copy.open());
    EXPECT_EQ(copy.getLastError(), "unzGoToFilePos failed");
    EXPECT_TRUE(zip.getEntry("a")->isEmpty());
}

TEST_F(ZipTest, PrintListsMembersWithSizes) {
    ZipFile zip;
    build(zip, {{"mimetype", "application/epub+zip"}, {"OEBPS/", ""}});
    testing::internal::CaptureStdout();
    zip.print();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "(0) mimetype=20\n(1) OEBPS/=0\n");
}

TEST_F(ZipTest, EntriesWrittenPieceByPiece) {
    {
        ZipFile zip(ZipEntry::ZIP_WRITE);
        ASSERT_TRUE(zip.open(path("w.zip")));
        ZipEntry* e = zip.createEntry("chapter.xhtml", ZipEntry::kStored);
        ASSERT_NE(e, nullptr);
        EXPECT_FALSE(e->write("early"));  // not open yet
        ASSERT_TRUE(e->open());
        EXPECT_TRUE(e->write("<html>"));
        EXPECT_TRUE(e->write(std::string("\0", 1)));
        EXPECT_TRUE(e->write("</html>"));
        EXPECT_EQ(e->getSize(), 14u);
        EXPECT_EQ(e->close(), ZIP_OK);
        EXPECT_TRUE(zip.putEntryData("b", "bee"));
        zip.close();
    }
    ZipFile reader;
    ASSERT_TRUE(reader.open(path("w.zip")));
    reader.parse();
    EXPECT_EQ(reader.getNames(), (std::vector<std::string>{"chapter.xhtml", "b"}));
    std::string out;
    EXPECT_EQ(reader.getEntryData("chapter.xhtml", out), 14);
    EXPECT_EQ(out, std::string("<html>\0</html>", 14));
    EXPECT_EQ(reader.getEntry("chapter.xhtml")->getSizeCompressed(), 14u);

    ZipFile readOnly;
    EXPECT_EQ(readOnly.createEntry("x"), nullptr);  // reading mode cannot add members
    ZipFile cannot(ZipEntry::ZIP_WRITE);
    EXPECT_FALSE(cannot.open(path("no/such/dir/w.zip")));
    EXPECT_EQ(cannot.getLastError(), "cannot open file: " + path("no/such/dir/w.zip"));
}

}  // namespace
