// Damaged FictionBooks as real collections hold them open as far as they can
// be read; a file that is no XML at all is still refused.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "TempDir.h"

#include "fb2_test_support.h"
#include "readers/FB2Reader.h"
#include "readers/FB2Repair.h"
#include "readers/xhtml/XmlDoc.h"

using tf::FB2Repair;

namespace {

std::string fixture(const std::string& name) {
    return std::string(ORINEL_FIXTURES_DIR) + "/fb2/" + name;
}

struct Opened {
    bool opened = false;
    bool parsed = false;
    std::string log;
    std::string page;  // the first entry
    std::string title;
};

Opened openFile(tf::FB2Reader& reader, const std::string& path) {
    Opened o;
    testing::internal::CaptureStderr();
    o.opened = reader.open(path);
    o.parsed = o.opened && reader.parse();
    if (o.parsed) {
        reader.get_entry("home", o.page);
        o.title = reader.get_title();
    }
    o.log = testing::internal::GetCapturedStderr();
    return o;
}

} // namespace

TEST(FB2Damaged, FixturesOpenWithTheirText) {
    struct Case {
        const char* file;
        std::vector<std::string> texts;  // in the first entry's page
        std::string title;
        std::string warning;
    } cases[] = {
        {"stray-instruction.fb2",
         {"Ulugh Beg (1394 - 1449) built an observatory.", "After the stray mark the text goes on."},
         "Chronicle",
         "damaged FictionBook file, shown as far as readable: "},
        {"bare-ampersand.fb2",
         {"Smith &amp; Sons sold AT&amp;T shares &amp;c. at 5 &lt; 6.", "1998 &amp; later.", "after."},
         "Tom & Jerry",
         "damaged FictionBook file, shown as far as readable: "},
        {"cut-end.fb2", {"The first chapter is whole."}, "Cut short",
         "damaged FictionBook file, shown as far as readable: "},
        {"declared-1251-is-utf8.fb2",
         {"\xD0\xA2\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82 \xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8."},
         "\xD0\x9A\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB0",
         "declared windows-1251 but the text is UTF-8"},
        {"declared-utf8-is-1251.fb2",
         {"\xD0\xA2\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82 \xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8."},
         "\xD0\x9A\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB0",
         "declared UTF-8 but the text is no UTF-8; read as windows-1251"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        tf::FB2Reader reader;
        const Opened o = openFile(reader, fixture(c.file));
        ASSERT_TRUE(o.opened && o.parsed) << o.log;
        EXPECT_TRUE(reader.is_damaged());
        EXPECT_EQ(o.title, c.title);
        for (const std::string& text : c.texts)
            EXPECT_NE(o.page.find(text), std::string::npos) << text << "\n" << o.page;
        EXPECT_NE(o.log.find("WARN : "), std::string::npos) << o.log;
        EXPECT_NE(o.log.find(c.warning), std::string::npos) << o.log;
        // What is shown is a page the XML parser takes, like any other.
        tf::XmlDoc doc(o.page);
        EXPECT_NE(page_body(doc), nullptr) << o.page;
    }
}

TEST(FB2Damaged, StructureSurvivesTheRepair) {
    tf::FB2Reader reader;
    const Opened o = openFile(reader, fixture("stray-instruction.fb2"));
    ASSERT_TRUE(o.parsed) << o.log;
    // The notes body and its section are still there, as an entry of their own.
    const tf::pair_list_t spine = reader.spine();
    ASSERT_EQ(spine.size(), 2u);
    std::string notes;
    reader.get_entry(spine[1].first, notes);
    EXPECT_NE(notes.find("A note."), std::string::npos) << notes;
    EXPECT_EQ(reader.entry_name_of_id("n1"), spine[1].first);

    // The cut book keeps its whole first chapter and what stands of the second.
    tf::FB2Reader cut;
    const Opened c = openFile(cut, fixture("cut-end.fb2"));
    ASSERT_TRUE(c.parsed) << c.log;
    std::string all;
    for (const auto& entry : cut.spine()) {
        std::string page;
        cut.get_entry(entry.first, page);
        all += page;
    }
    EXPECT_NE(all.find("The second chapter stops in the mid"), std::string::npos) << all;
}

TEST(FB2Damaged, WhatHoldsNoReadableTextIsStillRefused) {
    struct Case {
        const char* name;
        std::string path;
        std::string error;
    } cases[] = {
        {"plain text", fixture("not-xml.fb2"), "invalid FictionBook file: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tf::FB2Reader reader;
        const Opened o = openFile(reader, c.path);
        EXPECT_FALSE(o.parsed);
        EXPECT_NE(o.log.find("ERROR: "), std::string::npos) << o.log;
        EXPECT_NE(o.log.find(c.error + c.path), std::string::npos) << o.log;
    }
}

TEST(FB2Damaged, SoundBooksAreNotMarked) {
    tf::FB2Reader reader;
    TempDir tmp;
    const std::string path = tmp.path + "/sound.fb2";
    write_bytes(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><FictionBook><description><title-info>"
                      "<book-title>Fine</book-title></title-info></description><body><p>fine</p></body></FictionBook>");
    const Opened o = openFile(reader, path);
    ASSERT_TRUE(o.parsed) << o.log;
    EXPECT_FALSE(reader.is_damaged());
    EXPECT_EQ(o.log.find("WARN : "), std::string::npos) << o.log;
}

TEST(FB2Repair, RewritesDamageIntoWellFormedXml) {
    struct Case {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"sound", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a x=\"1\"><b>t</b></a>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a x=\"1\"><b>t</b></a>"},
        {"damaged declaration", "<?xml version=1.0 encoding=?><a>t", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>t</a>"},
        {"stray <?>", "<a>(1390<?> - 1443)</a>", "<a>(1390 - 1443)</a>"},
        {"instruction in the body", "<a>x<?php echo 1; ?>y</a>", "<a>xy</a>"},
        {"bare &", "<a>A & B &amp; C &#65; &#xZZ; &#0;</a>",
         "<a>A &amp; B &amp; C &#65; &amp;#xZZ; &amp;#0;</a>"},
        {"bare <", "<a>1 < 2 <3</a>", "<a>1 &lt; 2 &lt;3</a>"},
        {"cut end", "<a><b>text<c", "<a><b>text<c></c></b></a>"},
        {"cut in an attribute", "<a><b x=\"1", "<a><b x=\"1\"></b></a>"},
        {"end tag closes what is open inside", "<a><b><c>t</a>", "<a><b><c>t</c></b></a>"},
        {"unmatched end tag", "<a>x</b>y</a>", "<a>xy</a>"},
        {"attributes re-quoted, repeats dropped", "<a x=1 y='q\"' x=\"2\" z>t</a>",
         "<a x=\"1\" y=\"q&quot;\" z=\"\">t</a>"},
        {"nothing after the root", "<a>t</a><b>u</b> junk", "<a>t</a>"},
        {"text before the root", "junk<a>t</a>", "<a>t</a>"},
        {"comments and CDATA kept", "<a><!-- c --><![CDATA[<x>]]></a>", "<a><!-- c --><![CDATA[<x>]]></a>"},
        {"open comment at the cut", "<a>t<!-- never", "<a>t</a>"},
        {"document type dropped", "<!DOCTYPE a><a/>", "<a/>"},
        {"NUL bytes dropped", std::string("<a>x\0y</a>", 10), "<a>xy</a>"},
        {"no markup", "just text", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = FB2Repair::repair(c.in);
        EXPECT_EQ(out, c.out);
        if (!out.empty()) {
            testing::internal::CaptureStderr();
            tf::XmlDoc doc(out + "");
            testing::internal::GetCapturedStderr();
            EXPECT_NE(doc.root_node(), nullptr) << out;
        }
    }
}

TEST(FB2Repair, CostStaysLinear) {
    // Inputs that would make a naive search start over at every tag.
    const std::vector<std::string> inputs = {
        "<a>" + std::string(200000, '\0') ,
        "<a>" + [] { std::string s; for (int i = 0; i < 100000; ++i) s += "<b x=\"1 "; return s; }(),
        "<a>" + [] { std::string s; for (int i = 0; i < 100000; ++i) s += "<?p "; return s; }(),
        "<a>" + [] { std::string s; for (int i = 0; i < 100000; ++i) s += "<b y='"; return s; }(),
    };
    for (const std::string& in : inputs) {
        const auto start = std::chrono::steady_clock::now();
        FB2Repair::repair(in);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
    }
}

TEST(FB2Repair, TellsUtf8FromSingleByteText) {
    const std::string utf8 = "\xD0\x9A\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB0";
    const std::string cp1251 = "\xCA\xED\xE8\xE3\xE0";
    EXPECT_TRUE(FB2Repair::isUtf8(utf8));
    EXPECT_FALSE(FB2Repair::isUtf8(cp1251));
    EXPECT_TRUE(FB2Repair::isUtf8("plain"));
    EXPECT_FALSE(FB2Repair::hasNonAscii("plain"));
    EXPECT_TRUE(FB2Repair::mostlyNotUtf8(cp1251));
    // One broken character in UTF-8 text does not make it single-byte text.
    EXPECT_FALSE(FB2Repair::mostlyNotUtf8(utf8 + "\xFF" + utf8));
}
