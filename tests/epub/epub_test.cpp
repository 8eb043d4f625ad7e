#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "readers/BaseReader.h"
#include "readers/EPUBReader.h"
#include "readers/xhtml/XmlDoc.h"

using tf::EPUBReader;

namespace {

const char* const kChapter = "<?xml version=\"1.0\"?><html><body><p>text</p></body></html>";

std::string container_xml(const std::string& opfPath) {
    return "<?xml version=\"1.0\"?>\n"
           "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
           "  <rootfiles>\n"
           "    <rootfile full-path=\"" +
           opfPath +
           "\" media-type=\"application/oebps-package+xml\"/>\n"
           "  </rootfiles>\n"
           "</container>\n";
}

std::string ncx_xml(const std::string& navMap) {
    return "<?xml version=\"1.0\"?>\n<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\">\n<navMap>\n" + navMap +
           "</navMap>\n</ncx>\n";
}

std::string nav_point(const std::string& id, const std::string& label, const std::string& src,
                      const std::string& children = "") {
    return "<navPoint id=\"" + id + "\" playOrder=\"1\"><navLabel><text>" + label + "</text></navLabel><content src=\"" +
           src + "\"/>" + children + "</navPoint>\n";
}

// A small package; each part can be replaced by a test.
struct Package {
    std::string mimetype = "application/epub+zip";
    std::string opfPath = "OEBPS/content.opf";
    std::string uniqueId = "uid";
    std::string metadata = "<dc:title>Book</dc:title><dc:identifier id=\"uid\">book-1</dc:identifier>";
    std::string manifest = "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>"
                           "<item id=\"c1\" href=\"ch1.xhtml\" media-type=\"application/xhtml+xml\"/>"
                           "<item id=\"c2\" href=\"ch2.xhtml\" media-type=\"application/xhtml+xml\"/>"
                           "<item id=\"c3\" href=\"ch3.xhtml\" media-type=\"application/xhtml+xml\"/>";
    std::string spineAttrs = " toc=\"ncx\"";
    std::string spine = "<itemref idref=\"c1\"/><itemref idref=\"c2\"/><itemref idref=\"c3\"/>";
    bool withContainer = true;
    std::vector<ZipMember> members = {
        {"OEBPS/toc.ncx", ncx_xml(nav_point("n1", "One", "ch1.xhtml") + nav_point("n2", "Two", "ch2.xhtml"))},
        {"OEBPS/ch1.xhtml", kChapter},
        {"OEBPS/ch2.xhtml", kChapter},
        {"OEBPS/ch3.xhtml", kChapter},
    };

    std::string opf() const {
        return "<?xml version=\"1.0\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" unique-identifier=\"" +
               uniqueId + "\" version=\"2.0\">\n<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n" +
               metadata + "\n</metadata>\n<manifest>\n" + manifest + "\n</manifest>\n<spine" + spineAttrs +
               ">\n" + spine + "\n</spine>\n</package>\n";
    }

    std::vector<ZipMember> zip() const {
        std::vector<ZipMember> out;
        if (!mimetype.empty())
            out.push_back({"mimetype", mimetype, tf::ZipEntry::kStored});
        if (withContainer)
            out.push_back({"META-INF/container.xml", container_xml(opfPath)});
        out.push_back({opfPath, opf()});
        for (const ZipMember& m : members)
            out.push_back(m);
        return out;
    }

    void replace(const std::string& name, const std::string& data) {
        for (ZipMember& m : members)
            if (m.name == name)
                m.data = data;
    }
    void drop(const std::string& name) {
        for (size_t i = 0; i < members.size(); ++i)
            if (members[i].name == name)
                members.erase(members.begin() + static_cast<long>(i));
    }
};

// The package written to a temporary file and opened by a reader.
struct Book {
    TempDir dir;
    std::string path;
    EPUBReader reader;
    bool parsed = false;
    std::string log;  // stderr while opening and parsing

    explicit Book(const std::vector<ZipMember>& members) {
        path = dir.path + "/book.epub";
        EXPECT_TRUE(write_zip(path, members));
        testing::internal::CaptureStderr();
        parsed = reader.open(path) && reader.parse();
        log = testing::internal::GetCapturedStderr();
    }
    explicit Book(const Package& package) : Book(package.zip()) {}

    // The entry, and the log lines fetching it wrote.
    std::string fetch(const std::string& name, std::string* fetchLog = nullptr, std::string out = "") {
        testing::internal::CaptureStderr();
        reader.get_entry(name, out);
        std::string lines = testing::internal::GetCapturedStderr();
        if (fetchLog)
            *fetchLog = lines;
        return out;
    }
};

std::vector<std::string> firsts(const tf::pair_list_t& pairs) {
    std::vector<std::string> out;
    for (const auto& p : pairs)
        out.push_back(p.first);
    return out;
}

bool parses_as_xml(const std::string& page) {
    tf::XmlDoc doc(page);
    return doc.root_node() && !doc.root_node()->isEmpty();
}

} // namespace

TEST(EpubPackage, ReadsMetadataManifestSpineAndNestedNcx) {
    Package p;
    p.mimetype = "application/epub+zip\n";
    p.metadata = "<dc:title>First</dc:title><dc:creator>Ann</dc:creator><dc:title>Last</dc:title>"
                 "<meta name=\"generator\" content=\"gen\"/>";
    p.manifest += "<item id=\"sp\" href=\"my%20chapter.xhtml\" media-type=\"application/xhtml+xml\"/>"
                  "<item id=\"sl\" href=\"a%2Fb.xhtml\" media-type=\"application/xhtml+xml\"/>";
    p.replace("OEBPS/toc.ncx",
              ncx_xml(nav_point("a", "A", "ch1.xhtml#s2", nav_point("a1", "A1", "ch2.xhtml") +
                                                              nav_point("a2", "A2", "ch2.xhtml#x")) +
                      nav_point("b", "B", "ch3.xhtml")));
    Book book(p);
    ASSERT_TRUE(book.parsed) << book.log;
    EXPECT_EQ(book.log.find("WARN"), std::string::npos) << book.log;

    EXPECT_EQ(book.reader.get_title(), "Last");
    EXPECT_EQ(book.reader.metadata["dc:title"], "First");
    EXPECT_EQ(book.reader.metadata["dc:creator"], "Ann");
    EXPECT_EQ(book.reader.metadata["generator"], "gen");
    EXPECT_EQ(book.reader.opf_folder, "OEBPS/");
    EXPECT_EQ(book.reader.manifest_items.count("OEBPS/my chapter.xhtml"), 1u);
    EXPECT_EQ(book.reader.manifest_items.count("OEBPS/a%2Fb.xhtml"), 1u);
    EXPECT_EQ(book.reader.entry_name_of_id("c2"), "OEBPS/ch2.xhtml");
    EXPECT_EQ(book.reader.entry_name_of_id("nope"), "");

    EXPECT_EQ(firsts(book.reader.spine()),
              (std::vector<std::string>{"OEBPS/ch1.xhtml", "OEBPS/ch2.xhtml", "OEBPS/ch3.xhtml"}));
    tf::pair_list_t toc = book.reader.toc();
    ASSERT_EQ(toc.size(), 4u);
    EXPECT_EQ(toc[0], std::make_pair(std::string("OEBPS/ch1.xhtml#s2"), std::string("A")));
    EXPECT_EQ(toc[1].second, "A1");
    EXPECT_EQ(toc[2].second, "A2");
    EXPECT_EQ(toc[3].second, "B");
    std::vector<uint32_t> depths;
    for (const auto& nav : book.reader.navmap_items)
        depths.push_back(nav.depth);
    EXPECT_EQ(depths, (std::vector<uint32_t>{0, 1, 1, 0}));
}

TEST(EpubPackage, PackageAtRootWarnsAboutMimetypeAndReadsOldWrapper) {
    Package p;
    p.opfPath = "content.opf";
    p.mimetype = "application/zip";
    p.metadata = "<dc-metadata><dc:title>Old</dc:title></dc-metadata>"
                 "<x-metadata><meta name=\"cover\" content=\"c1\"/></x-metadata>";
    p.members = {{"toc.ncx", ncx_xml(nav_point("n", "N", "ch1.xhtml"))}, {"ch1.xhtml", kChapter},
                 {"ch2.xhtml", kChapter}, {"ch3.xhtml", kChapter}};
    Book book(p);
    ASSERT_TRUE(book.parsed) << book.log;
    EXPECT_NE(book.log.find("Wrong mimetype for epub: \"application/zip\""), std::string::npos) << book.log;
    EXPECT_EQ(book.reader.opf_folder, "");
    EXPECT_EQ(book.reader.get_title(), "Old");
    EXPECT_EQ(book.reader.cover_item.href, "ch1.xhtml");
    EXPECT_EQ(firsts(book.reader.toc()), (std::vector<std::string>{"ch1.xhtml"}));

    Package noMime;
    noMime.mimetype.clear();
    Book second(noMime);
    EXPECT_TRUE(second.parsed);
    EXPECT_NE(second.log.find("EPUB do not have mimetype entry"), std::string::npos);
}

// Packages that cannot be read are refused with an ERROR line, never read through.
TEST(EpubPackage, MalformedPackagesAreRefusedWithAnError) {
    struct Case {
        const char* what;
        std::function<void(Package&)> spoil;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"no container", [](Package& p) { p.withContainer = false; }, "EPUB do not have container entry"},
        {"container not xml",
         [](Package& p) {
             p.withContainer = false;
             p.members.push_back({"META-INF/container.xml", "<container><rootfiles>"});
         },
         "container does not parse"},
        {"container without rootfile",
         [](Package& p) {
             p.withContainer = false;
             p.members.push_back({"META-INF/container.xml", "<?xml version=\"1.0\"?><container><rootfiles>"
                                                            "</rootfiles></container>"});
         },
         "container names no rootfile"},
        {"rootfile without full-path",
         [](Package& p) {
             p.withContainer = false;
             p.members.push_back({"META-INF/container.xml", "<container><rootfiles><rootfile/></rootfiles>"
                                                            "</container>"});
         },
         "container names no rootfile"},
        {"container with text only",
         [](Package& p) {
             p.withContainer = false;
             p.members.push_back({"META-INF/container.xml", "just text"});
         },
         "container does not parse"},
        {"package document missing",
         [](Package& p) {
             p.withContainer = false;
             p.members.push_back({"META-INF/container.xml", container_xml("OEBPS/missing.opf")});
         },
         "package document not found: 'OEBPS/missing.opf'"},
        {"package document not xml",
         [](Package& p) {
             p.opfPath = "OEBPS/other.opf";
             p.withContainer = false;
             p.members.push_back({"META-INF/container.xml", container_xml("OEBPS/bad.opf")});
             p.members.push_back({"OEBPS/bad.opf", "<package><metadata>"});
         },
         "package document does not parse"},
        {"ncx missing", [](Package& p) { p.drop("OEBPS/toc.ncx"); }, "ncx file not found: 'OEBPS/toc.ncx'"},
        {"ncx not xml", [](Package& p) { p.replace("OEBPS/toc.ncx", "<ncx><navMap>"); }, "ncx file does not parse"},
        {"navPoint without content",
         [](Package& p) {
             p.replace("OEBPS/toc.ncx", ncx_xml("<navPoint id=\"bad\"><navLabel><text>x</text></navLabel>"
                                                "</navPoint>"));
         },
         "navPoint without content: id='bad'"},
        {"nested navPoint without content",
         [](Package& p) {
             p.replace("OEBPS/toc.ncx",
                       ncx_xml(nav_point("a", "A", "ch1.xhtml", "<navPoint id=\"inner\"/>")));
         },
         "navPoint without content: id='inner'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Package p;
        c.spoil(p);
        Book book(p);
        EXPECT_FALSE(book.parsed);
        EXPECT_NE(book.log.find("ERROR: "), std::string::npos) << book.log;
        EXPECT_NE(book.log.find(c.message), std::string::npos) << book.log;
    }
}

TEST(EpubPackage, LenientWhereTheBookStaysReadable) {
    // No declarations anywhere, navMap opening with navInfo, manifest and spine with stray text.
    Package p;
    p.withContainer = false;
    p.members.push_back({"META-INF/container.xml",
                         "<container><rootfiles><rootfile full-path=\"OEBPS/content.opf\"/></rootfiles></container>"});
    p.replace("OEBPS/toc.ncx", "<ncx><navMap><navInfo><text>info</text></navInfo><navLabel><text>l</text>"
                               "</navLabel>" +
                                   nav_point("n1", "One", "ch1.xhtml") + "</navMap></ncx>");
    p.spine = "text <itemref idref=\"c1\"/> more <itemref idref=\"c2\"/>";
    Book book(p);
    ASSERT_TRUE(book.parsed) << book.log;
    EXPECT_EQ(firsts(book.reader.toc()), (std::vector<std::string>{"OEBPS/ch1.xhtml"}));
    EXPECT_EQ(book.reader.spine_ids, (std::vector<std::string>{"c1", "c2"}));

    // Without any table of contents the book still opens, with an empty contents list.
    Package bare;
    bare.spineAttrs.clear();
    bare.manifest = "<item href=\"ch1.xhtml\" media-type=\"application/xhtml+xml\"/>"
                    "<item id=\"c1\" href=\"ch1.xhtml\" media-type=\"application/xhtml+xml\"/>";
    bare.spine = "<itemref idref=\"c1\"/>";
    Book noToc(bare);
    ASSERT_TRUE(noToc.parsed);
    EXPECT_NE(noToc.log.find("no ncx file found"), std::string::npos);
    EXPECT_TRUE(noToc.reader.toc().empty());
    // An item without id is not taken for the missing toc id.
    EXPECT_TRUE(noToc.reader.ncx_item.href.empty());
}

TEST(EpubNavigation, Epub3NavDocumentFillsTheContentsWithoutNcx) {
    Package p;
    p.spineAttrs.clear();
    p.manifest = "<item id=\"nav\" href=\"nav/toc.xhtml\" properties=\"scripted nav\" "
                 "media-type=\"application/xhtml+xml\"/>"
                 "<item id=\"c1\" href=\"ch1.xhtml\" media-type=\"application/xhtml+xml\"/>";
    p.spine = "<itemref idref=\"c1\"/>";
    p.members = {
        {"OEBPS/ch1.xhtml", kChapter},
        {"OEBPS/nav/toc.xhtml",
         "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\" "
         "xmlns:epub=\"http://www.idpf.org/2007/ops\"><body>"
         "<nav epub:type=\"landmarks\"><ol><li><a href=\"../ch1.xhtml\">Landmark</a></li></ol></nav>"
         "<section><nav epub:type=\"frontmatter toc\"><h1>Contents</h1><ol>"
         "<li id=\"l1\"><a href=\"../ch1.xhtml\">  Chapter <span>One</span>\n </a>"
         "<ol><li><a href=\"../ch1.xhtml#s1\">Part 1</a><ol><li><a href=\"#self\">Deep</a></li></ol></li></ol></li>"
         "<li><span>Heading only</span><ol><li><a href=\"../ch1.xhtml#s2\">Under heading</a></li></ol></li>"
         "<li><a href=\"http://example.org/\">Remote</a></li>"
         "</ol></nav></section></body></html>"},
    };
    Book book(p);
    ASSERT_TRUE(book.parsed) << book.log;
    tf::pair_list_t toc = book.reader.toc();
    tf::pair_list_t expected = {
        {"OEBPS/nav/../ch1.xhtml", "Chapter One"},
        {"OEBPS/nav/../ch1.xhtml#s1", "Part 1"},
        {"OEBPS/nav/toc.xhtml#self", "Deep"},
        {"OEBPS/nav/../ch1.xhtml#s2", "Under heading"},
    };
    EXPECT_EQ(toc, expected);
    std::vector<uint32_t> depths;
    for (const auto& nav : book.reader.navmap_items)
        depths.push_back(nav.depth);
    EXPECT_EQ(depths, (std::vector<uint32_t>{0, 1, 2, 1}));
    // The contents' targets are fetchable as they are.
    EXPECT_EQ(book.fetch("OEBPS/nav/../ch1.xhtml"), kChapter);
}

TEST(EpubNavigation, NcxWinsOverNavDocumentAndBrokenNavKeepsBookOpen) {
    Package p;
    p.manifest += "<item id=\"nav\" href=\"nav.xhtml\" properties=\"nav\" media-type=\"application/xhtml+xml\"/>";
    p.members.push_back({"OEBPS/nav.xhtml", "<html><body><nav epub:type=\"toc\"><ol><li><a href=\"ch3.xhtml\">Nav"
                                            "</a></li></ol></nav></body></html>"});
    Book withNcx(p);
    ASSERT_TRUE(withNcx.parsed);
    EXPECT_EQ(firsts(withNcx.reader.toc()), (std::vector<std::string>{"OEBPS/ch1.xhtml", "OEBPS/ch2.xhtml"}));

    p.spineAttrs.clear();
    p.replace("OEBPS/nav.xhtml", "<html><body><nav>");
    Book broken(p);
    EXPECT_TRUE(broken.parsed);
    EXPECT_TRUE(broken.reader.toc().empty());
    EXPECT_NE(broken.log.find("navigation document does not parse"), std::string::npos) << broken.log;
}

TEST(EpubEntries, MemberNamesAsRealBooksWriteThem) {
    Package p;
    p.opfPath = "OEBPS/Text/content.opf";
    p.spineAttrs.clear();
    p.manifest = "<item id=\"c1\" href=\"Caf%C3%A9.xhtml\" media-type=\"application/xhtml+xml\"/>"
                 "<item id=\"c2\" href=\"./my%20ch.xhtml\" media-type=\"application/xhtml+xml\"/>"
                 "<item id=\"img\" href=\"../Images/a.jpg\" media-type=\"image/jpeg\"/>"
                 "<item id=\"c3\" href=\"100%25.xhtml\" media-type=\"application/xhtml+xml\"/>";
    p.spine = "<itemref idref=\"c1\"/><itemref idref=\"c2\"/><itemref idref=\"c3\"/>";
    p.members = {
        {"OEBPS/Text/Caf\xC3\xA9.xhtml", "cafe"},
        {"OEBPS/Text/my ch.xhtml", "space"},
        {"OEBPS/Images/a.jpg", "jpeg"},
        {"OEBPS/Text/100%25.xhtml", "exact percent"},
        {"OEBPS/Text/100%.xhtml", "decoded percent"},
    };
    Book book(p);
    ASSERT_TRUE(book.parsed) << book.log;

    struct Case {
        std::string name, bytes;
    };
    const std::vector<Case> cases = {
        {"OEBPS/Text/Caf%C3%A9.xhtml", "cafe"},
        {"OEBPS/Text/Caf\xC3\xA9.xhtml", "cafe"},
        {"OEBPS/Text/my%20ch.xhtml", "space"},
        {"OEBPS/Text/my ch.xhtml", "space"},
        {"OEBPS/Text/./my ch.xhtml", "space"},
        {"OEBPS/Text/../Images/a.jpg", "jpeg"},
        {"OEBPS/Text/../../OEBPS/Images/./a.jpg", "jpeg"},
        {"../OEBPS//Images/a.jpg", "jpeg"},  // climbing above the root stops there
        {"OEBPS/Text/100%25.xhtml", "exact percent"},  // the exact name wins over its decoding
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out;
        EXPECT_EQ(book.reader.get_entry(c.name, out), c.bytes);
        EXPECT_EQ(out, c.bytes);
    }

    std::string lines;
    EXPECT_EQ(book.fetch("OEBPS/Text/no%20such.xhtml", &lines, "kept"), "kept");
    EXPECT_NE(lines.find("ERROR: "), std::string::npos);
    EXPECT_NE(lines.find("not found entry='OEBPS/Text/no such.xhtml'"), std::string::npos) << lines;
    EXPECT_EQ(book.fetch("", &lines, "kept"), "kept");

    // The spine hands out the archive's own names, and stepping follows them.
    EXPECT_EQ(firsts(book.reader.spine()),
              (std::vector<std::string>{"OEBPS/Text/Caf\xC3\xA9.xhtml", "OEBPS/Text/my ch.xhtml",
                                        "OEBPS/Text/100%25.xhtml"}));
    EXPECT_EQ(book.reader.entry_name_next(""), "OEBPS/Text/Caf\xC3\xA9.xhtml");
    EXPECT_EQ(book.reader.entry_name_next("OEBPS/Text/Caf\xC3\xA9.xhtml"), "OEBPS/Text/my ch.xhtml");
    EXPECT_EQ(book.reader.entry_name_prev("OEBPS/Text/my ch.xhtml"), "OEBPS/Text/Caf\xC3\xA9.xhtml");
}

TEST(EpubEntries, SteppingThroughTheSpine) {
    Package p;
    p.manifest += "<item id=\"gone\" href=\"gone.xhtml\" media-type=\"application/xhtml+xml\"/>";
    p.spine = "<itemref idref=\"c1\"/><itemref idref=\"nowhere\"/><itemref idref=\"c2\"/>"
              "<itemref idref=\"gone\"/><itemref idref=\"c3\"/>";
    Book book(p);
    ASSERT_TRUE(book.parsed);
    EPUBReader& r = book.reader;
    const std::string c1 = "OEBPS/ch1.xhtml", c2 = "OEBPS/ch2.xhtml", c3 = "OEBPS/ch3.xhtml";

    testing::internal::CaptureStdout();
    EXPECT_EQ(r.entry_name_next(""), c1);
    EXPECT_EQ(r.entry_name_prev(""), c1);
    EXPECT_EQ(r.entry_name_prev(c1), "");
    // A spine id without manifest item is stepped over, both ways.
    EXPECT_EQ(r.entry_name_next(c1), c2);
    EXPECT_EQ(r.entry_name_prev(c2), c1);
    // A member the archive lacks keeps its place: stepping reaches it and goes on past it.
    EXPECT_EQ(r.entry_name_next(c2), "OEBPS/gone.xhtml");
    EXPECT_EQ(r.entry_name_next("OEBPS/gone.xhtml"), c3);
    EXPECT_EQ(r.entry_name_next(c3), "");
    EXPECT_EQ(r.entry_name_next(c1 + "#s2"), "");
    EXPECT_EQ(r.entry_name_next("OEBPS/other.xhtml"), "");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("err: no entry in manifest for spine-id"), std::string::npos);

    tf::pair_list_t spine = r.spine();
    ASSERT_EQ(spine.size(), 5u);
    EXPECT_EQ(spine[1], std::make_pair(std::string(), std::string()));
    EXPECT_EQ(spine[3].first, "OEBPS/gone.xhtml");
    std::string lines;
    EXPECT_EQ(book.fetch(spine[3].first, &lines), "");
    EXPECT_NE(lines.find("not found entry='OEBPS/gone.xhtml'"), std::string::npos);
}

TEST(EpubEntries, MediaOverlayIsTheSpineCompanion) {
    Package p;
    p.manifest = "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>"
                 "<item id=\"c1\" href=\"ch1.xhtml\" media-overlay=\"mo\" media-type=\"application/xhtml+xml\"/>"
                 "<item id=\"mo\" href=\"ch1.smil\" media-type=\"application/smil+xml\"/>"
                 "<item id=\"c2\" href=\"ch2.xhtml\" media-type=\"application/xhtml+xml\"/>";
    p.spine = "<itemref idref=\"c1\"/><itemref idref=\"c2\"/>";
    p.members.push_back({"OEBPS/ch1.smil", "<smil/>"});
    Book book(p);
    ASSERT_TRUE(book.parsed);
    tf::pair_list_t expected = {{"OEBPS/ch1.xhtml", "OEBPS/ch1.smil"}, {"OEBPS/ch2.xhtml", ""}};
    EXPECT_EQ(book.reader.spine(), expected);
}

TEST(EpubCover, CoverPageByKindOfCoverItem) {
    struct Case {
        const char* what;
        std::string metadata, manifest;
        std::vector<ZipMember> members;
        std::string expectedEntry;
        std::string expectedPart;  // a piece of the page
    };
    const std::string meta = "<dc:title>T &amp; U</dc:title><dc:language>en</dc:language><meta name=\"cover\" "
                             "content=\"cov\"/>";
    const std::string plain = "<dc:title>T &amp; U</dc:title><dc:language>en</dc:language>";
    const std::vector<Case> cases = {
        {"xhtml cover page", meta, "<item id=\"cov\" href=\"cover.xhtml\" media-type=\"application/xhtml+xml\"/>",
         {{"OEBPS/cover.xhtml", "<html>cover page</html>"}}, "OEBPS/cover.xhtml", "<html>cover page</html>"},
        {"upper-case jpeg", meta, "<item id=\"cov\" href=\"cover.JPG\" media-type=\"image/jpeg\"/>",
         {{"OEBPS/cover.JPG", "jpeg"}}, "OEBPS/cover.JPG",
         "<body><img style=\"height:500px\" src=\"epub://OEBPS/cover.JPG\" /></body></html>"},
        {"epub 3 cover-image", plain,
         "<item id=\"x\" href=\"img/c.png\" properties=\"cover-image\" media-type=\"image/png\"/>",
         {{"OEBPS/img/c.png", "png"}}, "OEBPS/img/c.png", "src=\"epub://OEBPS/img/c.png\""},
        {"svg cover", meta, "<item id=\"cov\" href=\"c.svg\" media-type=\"image/svg+xml\"/>",
         {{"OEBPS/c.svg", "<svg/>"}}, "OEBPS/c.svg", "<body><img style=\"height:500px\" src=\"epub://OEBPS/c.svg\" /></body>"},
        {"other picture formats are no cover", meta, "<item id=\"cov\" href=\"c.tif\" media-type=\"image/tiff\"/>",
         {{"OEBPS/c.tif", "tiff"}}, "OEBPS/c.tif", "<p>Language: en</p>"},
        {"no cover", plain, "", {}, "", "<h1>T &amp; U</h1><p>Author: </p><p>Publisher: </p><p>Language: en</p>"},
        {"cover member missing", meta, "<item id=\"cov\" href=\"lost.png\" media-type=\"image/png\"/>", {},
         "OEBPS/lost.png", "<p>Author: </p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Package p;
        p.metadata = c.metadata;
        p.manifest += c.manifest;
        for (const ZipMember& m : c.members)
            p.members.push_back(m);
        Book book(p);
        ASSERT_TRUE(book.parsed) << book.log;
        std::string entry = "before";
        testing::internal::CaptureStderr();
        std::string page = book.reader.cover_page(entry);
        std::string lines = testing::internal::GetCapturedStderr();
        EXPECT_NE(lines.find("entry='before'"), std::string::npos);
        EXPECT_EQ(entry, c.expectedEntry);
        EXPECT_NE(page.find(c.expectedPart), std::string::npos) << page;
        // Generated pages must survive the view's XML check, whatever the title holds.
        if (std::string(c.what) != "xhtml cover page") {
            EXPECT_TRUE(parses_as_xml(page)) << page;
        }
    }
}

TEST(EpubFonts, TrueTypeAndOpenTypeMembersAreListed) {
    Package p;
    p.manifest += "<item id=\"f1\" href=\"fonts/a.ttf\" media-type=\"font/truetype\"/>"
                  "<item id=\"f3\" href=\"fonts/c.otf\" media-type=\"font/otf\"/>"
                  "<item id=\"f4\" href=\"fonts/d.OTF\" media-type=\"application/vnd.ms-opentype\"/>";
    for (const char* name : {"OEBPS/fonts/a.ttf", "OEBPS/fonts/b.TTF", "OEBPS/fonts/c.otf", "OEBPS/fonts/d.OTF",
                             "OEBPS/fonts/e.Ttf", ".ttf", "OEBPS/fonts/f.woff", "OEBPS/fonts/g.ttf"})
        p.members.push_back({name, "font"});
    p.members.push_back({"META-INF/encryption.xml",
                         "<?xml version=\"1.0\"?><encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\""
                         " xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\"><enc:EncryptedData><enc:EncryptionMethod "
                         "Algorithm=\"http://www.w3.org/2001/04/xmlenc#aes128-cbc\"/><enc:CipherData>"
                         "<enc:CipherReference URI=\"OEBPS/fonts/g.ttf\"/></enc:CipherData></enc:EncryptedData>"
                         "</encryption>"});
    Book book(p);
    ASSERT_TRUE(book.parsed);
    testing::internal::CaptureStderr();
    tf::name_list_t fonts = book.reader.get_font_entries();
    std::string lines = testing::internal::GetCapturedStderr();
    EXPECT_EQ(fonts, (tf::name_list_t{"OEBPS/fonts/a.ttf", "OEBPS/fonts/b.TTF", "OEBPS/fonts/c.otf",
                                      "OEBPS/fonts/d.OTF"}));
    EXPECT_NE(lines.find("OEBPS/fonts/g.ttf"), std::string::npos) << lines;
    EXPECT_EQ(book.reader.fonts(),
              (tf::name_list_t{"OEBPS/fonts/a.ttf", "OEBPS/fonts/c.otf", "OEBPS/fonts/d.OTF"}));
}

namespace {

std::string font_bytes(size_t size) {
    std::string font = "OTTO";
    for (size_t i = font.size(); i < size; ++i)
        font += static_cast<char>((i * 7 + 3) & 0xFF);
    return font;
}

std::string xor_head(std::string data, const std::string& key, size_t length) {
    for (size_t i = 0; i < data.size() && i < length; ++i)
        data[i] = static_cast<char>(data[i] ^ key[i % key.size()]);
    return data;
}

std::string encryption_xml(const std::string& algorithm, const std::string& uri) {
    return "<?xml version=\"1.0\"?><encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
           "<EncryptedData xmlns=\"http://www.w3.org/2001/04/xmlenc#\"><EncryptionMethod Algorithm=\"" +
           algorithm + "\"/><CipherData><CipherReference URI=\"" + uri +
           "\"/></CipherData></EncryptedData></encryption>";
}

} // namespace

TEST(EpubFonts, ObfuscatedFontsAreRestored) {
    // SHA-1("abc") = a9993e36 4706816a ba3e2571 7850c26c 9cd0d89d; the identifier's white space does not count.
    const std::string idpfKey("\xa9\x99\x3e\x36\x47\x06\x81\x6a\xba\x3e\x25\x71\x78\x50\xc2\x6c\x9c\xd0\xd8\x9d", 20);
    const std::string adobeKey("\x01\x23\x45\x67\x89\xab\xcd\xef\x01\x23\x45\x67\x89\xab\xcd\xef", 16);
    struct Case {
        const char* what;
        std::string identifiers, algorithm, key;
        size_t length;
        size_t fontSize;
    };
    const std::vector<Case> cases = {
        {"idpf", "<dc:identifier id=\"other\">x</dc:identifier><dc:identifier id=\"uid\"> a b\n\tc </dc:identifier>",
         "http://www.idpf.org/2008/embedding", idpfKey, 1040, 3000},
        {"idpf short font", "<dc:identifier id=\"uid\">abc</dc:identifier>", "http://www.idpf.org/2008/embedding",
         idpfKey, 1040, 500},
        {"adobe", "<dc:identifier id=\"uid\">urn:uuid:01234567-89AB-cdef-0123-456789abcdef</dc:identifier>",
         "http://ns.adobe.com/pdf/enc#RC", adobeKey, 1024, 3000},
        {"adobe, identifier pretty-printed",
         "<dc:identifier id=\"uid\">\n    urn:uuid:01234567-89AB-cdef-0123-456789abcdef\n  </dc:identifier>",
         "http://ns.adobe.com/pdf/enc#RC", adobeKey, 1024, 3000},
        {"adobe uuid not the unique id",
         "<dc:identifier id=\"uid\">isbn</dc:identifier>"
         "<dc:identifier>urn:uuid:01234567-89ab-cdef-0123-456789abcdef</dc:identifier>",
         "http://ns.adobe.com/pdf/enc#RC", adobeKey, 1024, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string font = font_bytes(c.fontSize);
        Package p;
        p.metadata = "<dc:title>F</dc:title>" + c.identifiers;
        p.members.push_back({"OEBPS/fonts/My Font.otf", xor_head(font, c.key, c.length)});
        p.members.push_back({"OEBPS/fonts/plain.otf", font});
        p.members.push_back({"META-INF/encryption.xml", encryption_xml(c.algorithm, "OEBPS/fonts/My%20Font.otf")});
        Book book(p);
        ASSERT_TRUE(book.parsed) << book.log;
        EXPECT_EQ(book.reader.get_font_entries(),
                  (tf::name_list_t{"OEBPS/fonts/My Font.otf", "OEBPS/fonts/plain.otf"}));
        EXPECT_EQ(book.fetch("OEBPS/fonts/My Font.otf"), font);
        EXPECT_EQ(book.fetch("OEBPS/fonts/plain.otf"), font);
    }

    // Without an identifier to key it, an obfuscated font cannot be restored and is left out.
    Package p;
    p.metadata = "<dc:title>F</dc:title>";
    p.members.push_back({"OEBPS/f.otf", xor_head(font_bytes(2000), idpfKey, 1040)});
    p.members.push_back({"META-INF/encryption.xml", encryption_xml("http://www.idpf.org/2008/embedding", "OEBPS/f.otf")});
    Book book(p);
    ASSERT_TRUE(book.parsed);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(book.reader.get_font_entries().empty());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("OEBPS/f.otf"), std::string::npos);
}

TEST(EpubReader, LifecycleAndFactory) {
    std::unique_ptr<tf::BaseReader> made = tf::BaseReader::create_smart("epub");
    ASSERT_TRUE(made);
    EXPECT_EQ(made->get_type(), "epub");

    EPUBReader fresh;
    EXPECT_FALSE(fresh.isOpen());
    EXPECT_TRUE(fresh.spine().empty());
    EXPECT_TRUE(fresh.toc().empty());
    EXPECT_TRUE(fresh.get_font_entries().empty());
    EXPECT_EQ(fresh.entry_name_next(""), "");
    EXPECT_EQ(fresh.entry_name_prev(""), "");
    std::string entry;
    EXPECT_NE(fresh.cover_page(entry).find("<p>Author: </p>"), std::string::npos);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(fresh.open("/nonexistent/book.epub"));
    std::string lines = testing::internal::GetCapturedStderr();
    EXPECT_NE(lines.find("ERROR: "), std::string::npos);
    EXPECT_EQ(fresh.get_filename(), "");

    Book book{Package()};
    ASSERT_TRUE(book.parsed);
    EXPECT_TRUE(book.reader.isOpen());
    EXPECT_EQ(book.reader.get_filename(), book.path);
    book.reader.close();
    EXPECT_FALSE(book.reader.isOpen());
    EXPECT_TRUE(book.reader.spine().empty());
    EXPECT_TRUE(book.reader.toc().empty());
    EXPECT_EQ(book.reader.get_title(), "");
    EXPECT_EQ(book.fetch("OEBPS/ch1.xhtml"), "");
}

TEST(EpubPackage, DeepNestingIsBoundedNotFatal) {
    auto nested = [](int levels) {
        std::string open, close;
        for (int i = 0; i < levels; ++i) {
            open += "<navPoint id=\"p" + std::to_string(i) + "\"><content src=\"ch1.xhtml\"/>";
            close += "</navPoint>";
        }
        return open + close;
    };
    Package deep;
    deep.replace("OEBPS/toc.ncx", ncx_xml(nested(200)));
    Book ok(deep);
    ASSERT_TRUE(ok.parsed) << ok.log;
    ASSERT_EQ(ok.reader.navmap_items.size(), 200u);
    EXPECT_EQ(ok.reader.navmap_items.back().depth, 199u);

    // Deeper than the XML layer accepts: the NCX counts as unparsable.
    Package tooDeep;
    tooDeep.replace("OEBPS/toc.ncx", ncx_xml(nested(5000)));
    Book refused(tooDeep);
    EXPECT_FALSE(refused.parsed);
    EXPECT_NE(refused.log.find("ncx file does not parse"), std::string::npos);
}

TEST(EpubPackage, ReferenceResolutionAndDump) {
    tf::EPUB epub;
    EXPECT_EQ(epub.realpath("OEBPS/Text/ch1.xhtml", "../Images/a.jpg"), "OEBPS/Images/a.jpg");
    EXPECT_EQ(epub.realpath("ch1.xhtml", "b.css"), "b.css");
    EXPECT_EQ(epub.realpath("", "x/../y"), "x/../y");
    EXPECT_EQ(tf::EPUB::normalizeURI("a//b/../c/"), "a/c");
    EXPECT_EQ(tf::EPUB::normalizeURI("../a/../../b"), "../../b");

    Book book{Package()};
    ASSERT_TRUE(book.parsed);
    testing::internal::CaptureStdout();
    book.reader.print();
    std::string dump = testing::internal::GetCapturedStdout();
    EXPECT_NE(dump.find("ncx_file:\tOEBPS/toc.ncx\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("m_title:\tBook\n"), std::string::npos);
    EXPECT_NE(dump.find("id=n2, play=1, label=\"Two\", src=\"OEBPS/ch2.xhtml\"\n"), std::string::npos);
}

TEST(EpubReader, SaysInWordsWhyABookCannotOpen) {
    TempDir dir;
    {
        EPUBReader reader;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(reader.open(dir.write("text.epub", "plain text, no archive")));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(reader.last_error(), "The file is not a zip archive.");
    }
    Package noContainer;
    noContainer.withContainer = false;
    Package noPackage;
    noPackage.opfPath = "OEBPS/elsewhere.opf";
    noPackage.withContainer = false;
    noPackage.members.push_back({"META-INF/container.xml", container_xml("OEBPS/content.opf")});
    Package drm;
    drm.members.push_back({"META-INF/encryption.xml", encryption_xml("http://www.w3.org/2001/04/xmlenc#aes128-cbc",
                                                                     "OEBPS/ch2.xhtml")});
    Package fontOnly;
    fontOnly.members.push_back(
        {"META-INF/encryption.xml", encryption_xml("http://www.idpf.org/2008/embedding", "OEBPS/f.otf")});
    struct Case {
        const char* what;
        const Package& package;
        bool opens;
        const char* reason;
    } cases[] = {
        {"no container", noContainer, false, "The book has no package document."},
        {"package missing", noPackage, false, "The book has no package document."},
        {"chapter under a cipher", drm, false, "The book is encrypted (DRM)."},
        {"only a font obfuscated", fontOnly, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Book book(c.package);
        EXPECT_EQ(book.parsed, c.opens) << book.log;
        EXPECT_EQ(book.reader.last_error(), c.reason);
        if (!c.opens) {
            EXPECT_NE(book.log.find("ERROR"), std::string::npos) << book.log;
        }
    }
}
