#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "corpus.h"
#include "readers/EPUBReader.h"

using tf::EPUBReader;

namespace {

struct SoundBook {
    const char* file;
    const char* title;      // the package's dc:title
    bool hasToc;            // an NCX or a navigation document
    size_t spineLength;
};

// Read from each package document by hand.
const SoundBook kSoundBooks[] = {
    {"epub2-pg11-alice.epub", "Alice's Adventures in Wonderland", true, 15},
    {"epub2-pg1342-pride-and-prejudice-illustrated.epub", "Pride and Prejudice", true, 15},
    {"epub2-pg1661-sherlock-holmes.epub", "The Adventures of Sherlock Holmes", true, 15},
    {"epub3-idpf-linear-algebra-mathml.epub", "A First Course in Linear Algebra", true, 94},
    {"epub3-idpf-moby-dick.epub", "Moby-Dick", true, 144},
    {"epub3-idpf-regime-anticancer-arabic.epub", "Le Vrai R\xC3\xA9gime anti-cancer", true, 3},
    {"epub3-idpf-svg-in-spine.epub", "SVG in Spine", true, 6},
    {"epub3-idpf-wasteland-otf-obf.epub", "The Waste Land", true, 1},
    {"epub3-se-devils-dictionary.epub", "The Devil\xE2\x80\x99s Dictionary", true, 32},
};

std::vector<std::string> manifest_epubs() {
    std::ifstream in(corpus_path("MANIFEST.tsv"));
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        std::string file = line.substr(0, line.find('\t'));
        if (file.size() > 5 && file.compare(file.size() - 5, 5, ".epub") == 0)
            out.push_back(file);
    }
    return out;
}

bool is_broken(const std::string& file) {
    return file.rfind("broken-made-", 0) == 0;
}

std::string without_fragment(const std::string& src) {
    return src.substr(0, src.find('#'));
}

struct Fetch {
    std::string bytes;
    std::string log;
};

Fetch fetch(EPUBReader& reader, const std::string& name) {
    Fetch f;
    testing::internal::CaptureStderr();
    reader.get_entry(name, f.bytes);
    f.log = testing::internal::GetCapturedStderr();
    return f;
}

} // namespace

TEST(EpubCorpus, EveryBookIsCovered) {
    std::set<std::string> known;
    for (const SoundBook& b : kSoundBooks)
        known.insert(b.file);
    std::vector<std::string> files = manifest_epubs();
    ASSERT_FALSE(files.empty()) << "no corpus at " << corpus_path("");
    for (const std::string& file : files)
        if (!is_broken(file)) {
            EXPECT_EQ(known.count(file), 1u) << file << " has no expectations here";
        }
}

TEST(EpubCorpus, SoundBooksOpenParseAndServeTheirSpineAndContents) {
    for (const SoundBook& b : kSoundBooks) {
        SCOPED_TRACE(b.file);
        EPUBReader reader;
        ASSERT_TRUE(reader.open(corpus_path(b.file)));
        testing::internal::CaptureStderr();
        bool parsed = reader.parse();
        std::string log = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(parsed) << log;
        EXPECT_EQ(reader.get_title(), b.title);

        tf::pair_list_t spine = reader.spine();
        EXPECT_EQ(spine.size(), b.spineLength);
        for (const auto& item : spine) {
            Fetch f = fetch(reader, item.first);
            EXPECT_FALSE(f.bytes.empty()) << item.first << "\n" << f.log;
        }
        // Stepping walks the whole spine.
        size_t steps = 0;
        for (std::string name = reader.entry_name_next(""); !name.empty(); name = reader.entry_name_next(name))
            ++steps;
        EXPECT_EQ(steps, spine.size());

        tf::pair_list_t toc = reader.toc();
        EXPECT_EQ(!toc.empty(), b.hasToc);
        for (const auto& entry : toc) {
            EXPECT_FALSE(entry.second.empty()) << entry.first;
            Fetch f = fetch(reader, without_fragment(entry.first));
            EXPECT_FALSE(f.bytes.empty()) << entry.first << "\n" << f.log;
        }

        std::string cover;
        testing::internal::CaptureStderr();
        std::string page = reader.cover_page(cover);
        testing::internal::GetCapturedStderr();
        EXPECT_FALSE(page.empty());
        if (!cover.empty()) {
            EXPECT_FALSE(fetch(reader, cover).bytes.empty()) << cover;
        }

        for (const std::string& font : reader.get_font_entries())
            EXPECT_EQ(fetch(reader, font).bytes.substr(0, 4), "OTTO") << font;
        reader.close();
        EXPECT_FALSE(reader.isOpen());
    }
}

TEST(EpubCorpus, Epub3ContentsFromTheNavigationDocument) {
    EPUBReader reader;
    ASSERT_TRUE(reader.open(corpus_path("epub3-se-devils-dictionary.epub")));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.parse());
    testing::internal::GetCapturedStderr();
    tf::pair_list_t toc = reader.toc();
    ASSERT_EQ(toc.size(), 32u);
    EXPECT_EQ(toc[0], std::make_pair(std::string("epub/text/titlepage.xhtml"), std::string("Titlepage")));
    EXPECT_EQ(toc[4].second, "A");
    EXPECT_EQ(reader.navmap_items[3].depth, 0u);
    EXPECT_EQ(reader.navmap_items[4].depth, 1u);
    // The landmarks nav that follows is not part of the contents.
    EXPECT_EQ(toc.back().second, "Uncopyright");
}

TEST(EpubCorpus, CoverImagePropertyNamesTheCover) {
    EPUBReader reader;
    ASSERT_TRUE(reader.open(corpus_path("epub3-idpf-moby-dick.epub")));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.parse());
    std::string cover;
    std::string page = reader.cover_page(cover);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(cover, "OPS/images/9780316000000.jpg");
    EXPECT_NE(page.find("src=\"epub://OPS/images/9780316000000.jpg\""), std::string::npos) << page;
    EXPECT_EQ(fetch(reader, cover).bytes.substr(0, 3), "\xFF\xD8\xFF");
}

TEST(EpubCorpus, ObfuscatedFontsBecomeOpenTypeAgain) {
    EPUBReader reader;
    ASSERT_TRUE(reader.open(corpus_path("epub3-idpf-wasteland-otf-obf.epub")));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.parse());
    testing::internal::GetCapturedStderr();
    tf::name_list_t fonts = reader.get_font_entries();
    ASSERT_EQ(fonts.size(), 3u);
    for (const std::string& font : fonts) {
        SCOPED_TRACE(font);
        Fetch f = fetch(reader, font);
        ASSERT_GT(f.bytes.size(), 1040u);
        EXPECT_EQ(f.bytes.substr(0, 4), "OTTO");
        // The OpenType table directory behind the header names known tables.
        EXPECT_NE(f.bytes.substr(12, 16 * 12).find("CFF "), std::string::npos);
        EXPECT_EQ(reader.obfuscation(font), tf::EPUB::OBF_IDPF);
    }
}

// Damaged copies never crash: refused with a log line, or opened with the damage
// reported when the damaged member is fetched.
TEST(EpubCorpus, DamagedCopiesAreRefusedOrReportTheirDamage) {
    struct Broken {
        const char* file;
        bool opens, parses;
        const char* message;  // where the damage shows
    };
    const Broken cases[] = {
        {"broken-made-bad-crc-pg11.epub", true, true, "damaged entry='"},
        {"broken-made-missing-spine-doc-pg1661.epub", true, true, "not found entry='"},
        {"broken-made-no-container-pg11.epub", true, false, "EPUB do not have container entry"},
        {"broken-made-truncated-pg1661.epub", false, false, "cannot open epub"},
    };
    std::set<std::string> covered;
    for (const Broken& c : cases) {
        SCOPED_TRACE(c.file);
        covered.insert(c.file);
        EPUBReader reader;
        testing::internal::CaptureStderr();
        bool opened = reader.open(corpus_path(c.file));
        bool parsed = opened && reader.parse();
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(opened, c.opens) << log;
        EXPECT_EQ(parsed, c.parses) << log;
        if (!parsed) {
            EXPECT_NE(log.find("ERROR: "), std::string::npos) << log;
            EXPECT_NE(log.find(c.message), std::string::npos) << log;
            continue;
        }
        size_t failed = 0;
        for (const auto& item : reader.spine()) {
            Fetch f = fetch(reader, item.first);
            if (!f.bytes.empty())
                continue;
            ++failed;
            EXPECT_NE(f.log.find(c.message), std::string::npos) << item.first << "\n" << f.log;
        }
        EXPECT_EQ(failed, 1u);
    }
    for (const std::string& file : manifest_epubs())
        if (is_broken(file)) {
            EXPECT_EQ(covered.count(file), 1u) << file << " has no expectations here";
        }
}
