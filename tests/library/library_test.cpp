#include <gtest/gtest.h>

#include <FreeImage.h>
#include <rapidxml/rapidxml.hpp>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "src/DataHelper.h"
#include "src/ReadingPositions.h"
#include "utility/DataStore.h"
#include "utility/File.h"

using tf::DataHelper;
using tf::DataStore;
using tf::String;

namespace {

// Paths and titles reach the catalogue widened byte by byte.
String S(const std::string& bytes) {
    return String(bytes);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// One book cell of the home page, with the markup already decoded.
struct Cell {
    std::string cover, title, shownPath, open, remove;
    int links = 0;
};

// The home page read as XML: a page that does not parse fails the test.
struct HomePage {
    std::vector<std::vector<Cell>> rows;
    bool removeAll = false;
    std::string heading, intro;

    std::vector<Cell> cells() const {
        std::vector<Cell> all;
        for (const auto& row : rows)
            all.insert(all.end(), row.begin(), row.end());
        return all;
    }
};

std::string attr(rapidxml::xml_node<>* node, const char* name) {
    rapidxml::xml_attribute<>* a = node ? node->first_attribute(name) : nullptr;
    return a ? std::string(a->value(), a->value_size()) : std::string();
}

std::string text(rapidxml::xml_node<>* node) {
    return node ? std::string(node->value(), node->value_size()) : std::string();
}

HomePage parse_home(const std::string& page) {
    HomePage home;
    std::vector<char> buffer(page.begin(), page.end());
    buffer.push_back('\0');
    rapidxml::xml_document<> doc;
    try {
        doc.parse<0>(buffer.data());
    } catch (const rapidxml::parse_error& e) {
        ADD_FAILURE() << "home page is not well-formed: " << e.what() << "\n" << page;
        return home;
    }
    rapidxml::xml_node<>* html = doc.first_node("html");
    EXPECT_NE(html, nullptr);
    if (!html)
        return home;
    EXPECT_EQ(attr(html, "xmlns"), "http://www.w3.org/1999/xhtml");
    EXPECT_EQ(attr(html, "xml:lang"), "en");
    rapidxml::xml_node<>* body = html->first_node("body");
    home.heading = text(body->first_node("h2"));
    home.intro = text(body->first_node("p"));
    rapidxml::xml_node<>* table = body->first_node("table");
    EXPECT_NE(table, nullptr);
    for (auto* tr = table->first_node(); tr; tr = tr->next_sibling()) {
        EXPECT_EQ(std::string(tr->name()), "tr");
        auto* td = tr->first_node("td");
        if (td && td->first_node("a")) {
            // The "Remove All" row, which comes after every book.
            EXPECT_FALSE(home.removeAll);
            home.removeAll = true;
            EXPECT_EQ(text(td->first_node("a")), "Remove All");
            EXPECT_EQ(attr(td->first_node("a"), "href"), "cmd://delete_all");
            EXPECT_EQ(tr->next_sibling(), nullptr);
            continue;
        }
        std::vector<Cell> row;
        for (; td; td = td->next_sibling("td")) {
            Cell cell;
            EXPECT_EQ(attr(td, "style"), "padding:10px;");
            EXPECT_EQ(attr(td->first_node("img"), "alt"), "cover image");
            cell.cover = attr(td->first_node("img"), "src");
            auto* p = td->first_node("p");
            cell.title = text(p->first_node("strong"));
            cell.shownPath = text(p->first_node("i"));
            for (auto* a = p->first_node("a"); a; a = a->next_sibling("a")) {
                ++cell.links;
                if (text(a) == "Open")
                    cell.open = attr(a, "href");
                else if (text(a) == "Remove")
                    cell.remove = attr(a, "href");
            }
            row.push_back(cell);
        }
        home.rows.push_back(row);
    }
    return home;
}

// A picture encoded in memory by FreeImage, so tests need no picture files.
std::string make_picture(FREE_IMAGE_FORMAT format, int width, int height) {
    FIBITMAP* dib = FreeImage_Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, y);
        for (int x = 0; x < width; ++x) {
            line[x * 3 + 0] = static_cast<BYTE>(x);
            line[x * 3 + 1] = static_cast<BYTE>(y);
            line[x * 3 + 2] = 200;
        }
    }
    FIMEMORY* memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(format, dib, memory);
    BYTE* bytes = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &bytes, &size);
    std::string out(reinterpret_cast<char*>(bytes), size);
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(dib);
    return out;
}

const unsigned char* bytes_of(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

struct Library : ::testing::Test {
    TempDir tmp;
    std::string root = tmp.path + "/OrinelReader";

    void SetUp() override { ::setenv("XDG_DATA_HOME", tmp.path.c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    // The database as a second connection sees it.
    DataStore::Rows rows(const std::string& sql) {
        DataStore store(root + "/data.db");
        DataStore::Rows out;
        store.getQuery(sql, out);
        return out;
    }
};

} // namespace

TEST_F(Library, FirstStartCreatesTheTableLaterStartsReuseIt) {
    {
        DataHelper library;
        ASSERT_TRUE(library.isAvailable());
        EXPECT_EQ(library.getRoot().str(), root);
        EXPECT_TRUE(exists(root + "/data.db"));
        ASSERT_TRUE(library.addNewFile(S("/books/a.epub"), S("A"), S("")));
    }
    std::vector<std::string> columns;
    for (const auto& row : rows("PRAGMA table_info(files)"))
        columns.push_back(row.at("name"));
    EXPECT_EQ(columns, (std::vector<std::string>{"id", "filename", "format", "cover", "title", "read_uri",
                                                 "read_pos", "zoom_level", "created"}));

    DataHelper again;
    ASSERT_TRUE(again.isAvailable());
    auto cells = parse_home(again.getHomePage()).cells();
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0].title, "A");
}

TEST_F(Library, HomePageWithOneBookIsExactlyAsLaidOut) {
    DataHelper library;
    const std::string empty =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\">\n"
        "<body><h2>Orinel Reader for eBooks</h2><p>EPUB, HTML, FB2</p>"
        "<table border=\"0\" style=\"width:95%\">\n";
    EXPECT_EQ(library.getHomePage(), empty + "</table></body></html>");

    ASSERT_TRUE(library.addNewFile(S("/books/novel.epub"), S("Novel"), S("")));
    EXPECT_EQ(library.getHomePage(),
              empty +
                  "<tr><td style=\"padding:10px;\"><img alt=\"cover image\" src=\"content://cover.png\" />"
                  "<p><strong>Novel</strong><br/><i>/books/novel.epub</i>"
                  "<br/><a href=\"/books/novel.epub\">Open</a> | "
                  "<a href=\"cmd://delete?file=/books/novel.epub\">Remove</a></p></td></tr>"
                  "<tr><td><a href=\"cmd://delete_all\">Remove All</a></td></tr>"
                  "</table></body></html>");
}

TEST_F(Library, HomePageRowsOfThreeNewestFirstAtMostHundred) {
    struct Case {
        int books;
        std::vector<size_t> rowSizes;
    };
    const Case cases[] = {
        {0, {}},
        {3, {3}},
        {4, {3, 1}},
        {150, std::vector<size_t>(33, 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.books);
        DataHelper library;
        ASSERT_TRUE(library.removeFileAll());
        for (int i = 0; i < c.books; ++i)
            ASSERT_TRUE(library.addNewFile(S("/b/" + std::to_string(i) + ".epub"), S("Book " + std::to_string(i)),
                                           S("")));
        HomePage home = parse_home(library.getHomePage());
        EXPECT_EQ(home.heading, "Orinel Reader for eBooks");
        EXPECT_EQ(home.intro, "EPUB, HTML, FB2");
        std::vector<size_t> sizes;
        for (const auto& row : home.rows)
            sizes.push_back(row.size());
        std::vector<size_t> expected = c.rowSizes;
        if (c.books == 150)
            expected.push_back(1);  // 100 books: 33 full rows and one of 1
        EXPECT_EQ(sizes, expected);
        EXPECT_EQ(home.removeAll, c.books > 0);

        auto cells = home.cells();
        for (size_t i = 0; i < cells.size(); ++i) {
            EXPECT_EQ(cells[i].title, "Book " + std::to_string(c.books - 1 - i));
            EXPECT_EQ(cells[i].cover, "content://cover.png");
            EXPECT_EQ(cells[i].links, 2);
        }
    }
}

TEST_F(Library, LongTitlesAndPathsAreShortenedOnCharacterBoundaries) {
    DataHelper library;
    const std::string title = std::string(50, 'a') + std::string(50, 'b') + std::string(50, 'c');
    const std::string path = "/" + std::string(14, 'p') + "/" + std::string(24, 'q');  // 40 bytes
    ASSERT_TRUE(library.addNewFile(S(path), S(title), S("")));
    // "x" + 60 two-byte letters: plain byte cuts would split a letter at both ends.
    std::string cyrillic = "x";
    for (int i = 0; i < 60; ++i)
        cyrillic += "\xD1\x8F";  // я
    ASSERT_TRUE(library.addNewFile(S("/r.fb2"), S(cyrillic), S("")));

    auto cells = parse_home(library.getHomePage()).cells();
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_EQ(cells[1].title, std::string(50, 'a') + ".." + std::string(50, 'c'));
    EXPECT_EQ(cells[1].shownPath, path.substr(0, 12) + ".." + path.substr(28));
    EXPECT_EQ(cells[1].open, path);  // links keep the whole path

    std::string head = "x";
    for (int i = 0; i < 24; ++i)
        head += "\xD1\x8F";
    std::string tail;
    for (int i = 0; i < 25; ++i)
        tail += "\xD1\x8F";
    EXPECT_EQ(cells[0].title, head + ".." + tail);
}

// Titles and paths with characters that mean something in SQL, XML or an
// address: stored, shown, opened and removed as themselves.
TEST_F(Library, AwkwardTitlesAndPathsRoundTrip) {
    struct Book {
        std::string path, title;
    };
    const Book books[] = {
        {"/b/it's \"quoted\".epub", "It's a \"title\""},
        {"/b/a#b?c=d&e=f.fb2", "Tom & Jerry <b>bold</b>"},
        {"title", "filename"},
        {"/b/x\"; DELETE FROM files; --.epub", "x'); DELETE FROM files; --"},
        {"/b/100% sure.epub", "<a href=\"cmd://delete_all\">Remove All</a>"},
        {"/b/Grüße/日本語 книга.epub", "Война и мир — 日本語"},
        {"/b/&amp;.html", "&lt;&#39;"},
    };
    DataHelper library;
    for (const Book& b : books)
        ASSERT_TRUE(library.addNewFile(S(b.path), S(b.title), S(""))) << b.path;

    HomePage home = parse_home(library.getHomePage());
    EXPECT_TRUE(home.removeAll);
    auto cells = home.cells();
    ASSERT_EQ(cells.size(), std::size(books));
    for (size_t i = 0; i < cells.size(); ++i) {
        const Book& b = books[std::size(books) - 1 - i];
        SCOPED_TRACE(b.path);
        const Cell& cell = cells[i];
        EXPECT_EQ(cell.title, b.title);
        EXPECT_EQ(cell.links, 2);
        if (b.path.size() <= 25) {
            EXPECT_EQ(cell.shownPath, b.path);
        }
        // Nothing in the links that an address parser would cut or split at.
        EXPECT_EQ(cell.open.find_first_of("#?& \"'"), std::string::npos) << cell.open;
        EXPECT_EQ(cell.remove.find_first_of("#& \"'"), std::string::npos) << cell.remove;

        std::string opened, removed;
        EXPECT_EQ(DataHelper::readHomeLink(cell.open, opened), DataHelper::LINK_OPEN);
        EXPECT_EQ(opened, b.path);
        EXPECT_EQ(DataHelper::readHomeLink(cell.remove, removed), DataHelper::LINK_REMOVE);
        EXPECT_EQ(removed, b.path);

        const String address = S("epub://OEBPS/" + b.title + ".xhtml#" + b.path);
        ASSERT_TRUE(library.saveReadState(S(opened), address, 17, 20));
        String got;
        int position = 0, zoom = 0;
        ASSERT_TRUE(library.fetchReadState(S(opened), got, position, zoom));
        EXPECT_EQ(got, address);
        EXPECT_EQ(position, 17);
        EXPECT_EQ(zoom, 20);
    }

    // Removing through each book's own link takes exactly that book.
    for (size_t i = 0; i < cells.size(); ++i) {
        std::string path;
        DataHelper::readHomeLink(cells[i].remove, path);
        ASSERT_TRUE(library.removeFile(S(path)));
        EXPECT_EQ(parse_home(library.getHomePage()).cells().size(), cells.size() - 1 - i) << path;
    }
}

TEST(HomeLink, CommandsAndOpenLinksAreDecoded) {
    struct Case {
        const char* href;
        DataHelper::HomeLink link;
        const char* path;
    };
    const Case cases[] = {
        {"cmd://delete_all", DataHelper::LINK_REMOVE_ALL, ""},
        {"cmd://delete?file=%2Fa%23b%3F.epub", DataHelper::LINK_REMOVE, "/a#b?.epub"},
        {"cmd://delete?x=1&file=/a.epub", DataHelper::LINK_REMOVE, "/a.epub"},
        {"cmd://delete", DataHelper::LINK_NONE, ""},
        {"cmd://delete?file=", DataHelper::LINK_NONE, ""},
        {"cmd://delete?name=/a.epub", DataHelper::LINK_NONE, ""},
        {"cmd://format?file=/a.epub", DataHelper::LINK_NONE, ""},
        {"/books/My%20Book%20%26%20Co.epub", DataHelper::LINK_OPEN, "/books/My Book & Co.epub"},
        {"/books/plain.epub", DataHelper::LINK_OPEN, "/books/plain.epub"},
        {"", DataHelper::LINK_NONE, ""},
    };
    for (const Case& c : cases) {
        std::string path;
        EXPECT_EQ(DataHelper::readHomeLink(c.href, path), c.link) << c.href;
        EXPECT_EQ(path, c.path) << c.href;
    }
}

TEST_F(Library, ReadStateRules) {
    DataHelper library;
    const String book = S("/books/a.epub");
    ASSERT_TRUE(library.addNewFile(book, S("A"), S("")));

    String address = S("unchanged");
    int position = -1, zoom = -1;
    // Recorded but never closed, and not recorded at all: nothing found, outputs untouched.
    EXPECT_FALSE(library.fetchReadState(book, address, position, zoom));
    EXPECT_FALSE(library.fetchReadState(S("/books/unknown.epub"), address, position, zoom));
    EXPECT_EQ(address, S("unchanged"));
    EXPECT_EQ(position, -1);
    EXPECT_EQ(zoom, -1);

    for (const String& refused : {S(""), S("epub://"), book}) {
        EXPECT_FALSE(library.saveReadState(book, refused, 5, 5)) << refused.str();
        EXPECT_FALSE(library.fetchReadState(book, address, position, zoom));
    }

    ASSERT_TRUE(library.saveReadState(book, S("epub://OEBPS/ch2.xhtml"), 1200, 18));
    ASSERT_TRUE(library.fetchReadState(book, address, position, zoom));
    EXPECT_EQ(address, S("epub://OEBPS/ch2.xhtml"));
    EXPECT_EQ(position, 1200);
    EXPECT_EQ(zoom, 18);

    // A book not in the table: the update succeeds and records nothing.
    EXPECT_TRUE(library.saveReadState(S("/books/unknown.epub"), S("epub://x.xhtml"), 1, 1));
    EXPECT_EQ(rows("SELECT id FROM files").size(), 1u);

    // Numbers that are no numbers read as 0.
    {
        DataStore store(root + "/data.db");
        ASSERT_TRUE(store.save("UPDATE files SET read_pos='top', zoom_level=NULL"));
    }
    ASSERT_TRUE(library.fetchReadState(book, address, position, zoom));
    EXPECT_EQ(position, 0);
    EXPECT_EQ(zoom, 0);
}

TEST_F(Library, RecordingAKnownBookAgainKeepsItsRowAndState) {
    DataHelper library;
    const String book = S("/books/a.epub");
    ASSERT_TRUE(library.addNewFile(book, S("First"), S("")));
    ASSERT_TRUE(library.addNewFile(S("/books/b.epub"), S("Second"), S("")));
    ASSERT_TRUE(library.saveReadState(book, S("epub://ch3.xhtml"), 300, 22));
    auto before = rows("SELECT * FROM files ORDER BY id");

    EXPECT_FALSE(library.addNewFile(book, S("Renamed"), S("")));
    EXPECT_EQ(rows("SELECT * FROM files ORDER BY id"), before);
    String address;
    int position = 0, zoom = 0;
    ASSERT_TRUE(library.fetchReadState(book, address, position, zoom));
    EXPECT_EQ(position, 300);
    EXPECT_EQ(zoom, 22);
    EXPECT_FALSE(library.addNewFile(S(""), S("No file"), S("")));
}

TEST_F(Library, RecentBooksAreTheLastRecordedNewestFirst) {
    DataHelper library;
    EXPECT_TRUE(library.recentBooks(10).empty());
    // Paths are bytes as the file system has them; titles UTF-8.
    const std::string odd = "/b/caf\xc3\xa9 & \xff.fb2";
    ASSERT_TRUE(library.addNewFile(S(odd), S("Caf\xc3\xa9"), S("")));
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(library.addNewFile(S("/b/" + std::to_string(i) + ".epub"), S("Book " + std::to_string(i)), S("")));
    // Recorded again: it keeps its place.
    EXPECT_FALSE(library.addNewFile(S(odd), S("Again"), S("")));

    const auto recent = library.recentBooks(10);
    ASSERT_EQ(recent.size(), 10u);
    for (size_t i = 0; i < recent.size(); ++i) {
        EXPECT_EQ(recent[i].first, "/b/" + std::to_string(11 - i) + ".epub");
        EXPECT_EQ(recent[i].second, "Book " + std::to_string(11 - i));
    }
    const auto all = library.recentBooks(20);
    ASSERT_EQ(all.size(), 13u);
    EXPECT_EQ(all.back(), std::make_pair(odd, std::string("Caf\xc3\xa9")));
    EXPECT_TRUE(library.recentBooks(0).empty());
    EXPECT_TRUE(library.recentBooks(-1).empty());
}

TEST_F(Library, CoverPathIsKeptOnlyWhenTheFileExists) {
    DataHelper library;
    std::string dir = library.createBookDirectory("With cover");
    std::string cover = dir + "/cover.png";
    write_file(cover, make_picture(FIF_PNG, 10, 10));
    ASSERT_TRUE(library.addNewFile(S("/b/1.epub"), S("With cover"), S(cover)));
    ASSERT_TRUE(library.addNewFile(S("/b/2.epub"), S("Without"), S(dir + "/missing.png")));
    auto cells = parse_home(library.getHomePage()).cells();
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_EQ(cells[0].cover, "content://cover.png");
    EXPECT_EQ(cells[1].cover, cover);
    EXPECT_EQ(rows("SELECT cover FROM files WHERE id=2")[0].at("cover"), "");
}

TEST_F(Library, BookDirectoryIsNamedByTheTitlesDigest) {
    DataHelper library;
    EXPECT_EQ(library.createBookDirectory("abc"), root + "/900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(library.createBookDirectory(""), root + "/d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_TRUE(tf::File(S(root + "/900150983cd24fb0d6963f7d28e17f72")).isDirectory());
    EXPECT_EQ(library.createBookDirectory("abc"), root + "/900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(Library, ThumbnailsAre120PixelsHigh24BitPngs) {
    struct Case {
        const char* what;
        FREE_IMAGE_FORMAT given;
        FREE_IMAGE_FORMAT encoded;
    };
    const Case cases[] = {
        {"named format", FIF_JPEG, FIF_JPEG},
        {"name without extension", FIF_UNKNOWN, FIF_JPEG},
        {"png by its bytes", FIF_UNKNOWN, FIF_PNG},
        {"wrong extension", FIF_PNG, FIF_JPEG},
        {"palette gif", FIF_GIF, FIF_GIF},
    };
    DataHelper library;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string picture;
        if (c.encoded == FIF_GIF) {
            FIBITMAP* dib = FreeImage_Allocate(300, 400, 8);
            FIMEMORY* memory = FreeImage_OpenMemory();
            FreeImage_SaveToMemory(FIF_GIF, dib, memory);
            BYTE* bytes = nullptr;
            DWORD size = 0;
            FreeImage_AcquireMemory(memory, &bytes, &size);
            picture.assign(reinterpret_cast<char*>(bytes), size);
            FreeImage_CloseMemory(memory);
            FreeImage_Unload(dib);
        } else {
            picture = make_picture(c.encoded, 300, 400);
        }
        std::string path = library.createBookDirectory(c.what) + "/cover.png";
        ASSERT_TRUE(library.iconFromData(c.given, bytes_of(picture), static_cast<int>(picture.size()), 120,
                                         S(path)));
        FIBITMAP* written = FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), 0);
        ASSERT_NE(written, nullptr);
        EXPECT_EQ(FreeImage_GetFileType(path.c_str(), 0), FIF_PNG);
        EXPECT_EQ(FreeImage_GetBPP(written), 24u);
        EXPECT_EQ(FreeImage_GetHeight(written), 120u);
        EXPECT_EQ(FreeImage_GetWidth(written), 90u);
        FreeImage_Unload(written);
    }
}

TEST_F(Library, ThumbnailAlreadyThereStaysAndUndecodableCoversWriteNothing) {
    DataHelper library;
    std::string dir = library.createBookDirectory("Book");
    std::string path = dir + "/cover.png";
    write_file(path, "first thumbnail");
    std::string picture = make_picture(FIF_JPEG, 50, 50);
    EXPECT_TRUE(library.iconFromData(FIF_JPEG, bytes_of(picture), static_cast<int>(picture.size()), 120, S(path)));
    EXPECT_EQ(read_file(path), "first thumbnail");

    const std::string garbage = "this is no picture at all";
    std::string other = library.createBookDirectory("Other") + "/cover.png";
    EXPECT_FALSE(library.iconFromData(FIF_UNKNOWN, bytes_of(garbage), static_cast<int>(garbage.size()), 120,
                                      S(other)));
    EXPECT_FALSE(library.iconFromData(FIF_JPEG, nullptr, 0, 120, S(other)));
    EXPECT_FALSE(library.iconFromData(FIF_JPEG, bytes_of(picture), static_cast<int>(picture.size()), 0, S(other)));
    std::string unwritable = root + "/no/such/folder/cover.png";
    EXPECT_FALSE(library.iconFromData(FIF_JPEG, bytes_of(picture), static_cast<int>(picture.size()), 120,
                                      S(unwritable)));
    // Nothing left behind, not even a partial file.
    std::vector<tf::File> left = tf::File(S(library.createBookDirectory("Other"))).list();
    EXPECT_EQ(left.size(), 2u);  // "." and ".."

    // A banner-shaped picture gets a thumbnail of bounded width.
    std::string banner = make_picture(FIF_PNG, 4000, 10);
    std::string wide = library.createBookDirectory("Banner") + "/cover.png";
    ASSERT_TRUE(library.iconFromData(FIF_PNG, bytes_of(banner), static_cast<int>(banner.size()), 120, S(wide)));
    FIBITMAP* written = FreeImage_Load(FIF_PNG, wide.c_str(), 0);
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(FreeImage_GetHeight(written), 120u);
    EXPECT_LE(FreeImage_GetWidth(written), 960u);
    FreeImage_Unload(written);
}

// A damaged database or a data folder that cannot be made: the reader goes on
// without a library, and the damaged file is left as it was.
TEST_F(Library, WithoutAUsableDatabaseEverythingFailsQuietly) {
    struct Case {
        const char* what;
        void (*prepare)(const std::string& root);
    };
    const Case cases[] = {
        {"not a database",
         [](const std::string& root) {
             ::mkdir(root.c_str(), 0755);
             write_file(root + "/data.db", std::string(4096, 'x') + "precious bytes");
         }},
        {"data folder is a file", [](const std::string& root) { write_file(root, "a file"); }},
        {"database is a folder",
         [](const std::string& root) {
             ::mkdir(root.c_str(), 0755);
             ::mkdir((root + "/data.db").c_str(), 0755);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir home;
        ::setenv("XDG_DATA_HOME", home.path.c_str(), 1);
        const std::string dataRoot = home.path + "/OrinelReader";
        c.prepare(dataRoot);
        const std::string before = read_file(dataRoot + "/data.db");

        DataHelper library;
        EXPECT_FALSE(library.isAvailable());
        EXPECT_FALSE(library.addNewFile(S("/b/a.epub"), S("A"), S("")));
        EXPECT_FALSE(library.saveReadState(S("/b/a.epub"), S("epub://a.xhtml"), 1, 1));
        String address;
        int position = 0, zoom = 0;
        EXPECT_FALSE(library.fetchReadState(S("/b/a.epub"), address, position, zoom));
        EXPECT_FALSE(library.removeFile(S("/b/a.epub")));
        EXPECT_FALSE(library.removeFileAll());
        HomePage page = parse_home(library.getHomePage());
        EXPECT_EQ(page.heading, "Orinel Reader for eBooks");
        EXPECT_TRUE(page.rows.empty());
        EXPECT_FALSE(page.removeAll);
        EXPECT_EQ(read_file(dataRoot + "/data.db"), before);
    }
}

// Two program instances share one database; a lock held by the other waits.
TEST_F(Library, TwoInstancesShareTheLibrary) {
    DataHelper first;
    DataHelper second;
    ASSERT_TRUE(first.isAvailable() && second.isAvailable());
    ASSERT_TRUE(first.addNewFile(S("/b/a.epub"), S("A"), S("")));
    EXPECT_EQ(parse_home(second.getHomePage()).cells().size(), 1u);

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((root + "/data.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    EXPECT_TRUE(second.saveReadState(S("/b/a.epub"), S("epub://c.xhtml"), 5, 16));
    release.join();
    sqlite3_close(other);
    String address;
    int position = 0, zoom = 0;
    EXPECT_TRUE(first.fetchReadState(S("/b/a.epub"), address, position, zoom));
    EXPECT_EQ(position, 5);
}

// The loader thread reads reading states while the window thread writes.
TEST_F(Library, ReadStateFromALoaderThreadWhileTheWindowWrites) {
    DataHelper library;
    const String book = S("/b/a.epub");
    ASSERT_TRUE(library.addNewFile(book, S("A"), S("")));
    ASSERT_TRUE(library.saveReadState(book, S("epub://0.xhtml"), 0, 0));
    int bad = 0;
    std::thread loader([&] {
        for (int i = 0; i < 50; ++i) {
            String address;
            int position = -1, zoom = -1;
            // Each save writes one row at once: the three values always agree.
            if (!library.fetchReadState(book, address, position, zoom) || position != zoom ||
                address != S("epub://" + std::to_string(position) + ".xhtml"))
                ++bad;
        }
    });
    for (int i = 1; i <= 50; ++i)
        library.saveReadState(book, S("epub://" + std::to_string(i) + ".xhtml"), i, i);
    loader.join();
    EXPECT_EQ(bad, 0);
}

TEST_F(Library, FontsAreWrittenOnlyUnderPlainNames) {
    DataHelper library;
    std::string dir = library.createBookDirectory("Fonts");
    EXPECT_EQ(library.addNewFont(S(dir), S("serif.ttf"), std::string("font\0data", 9)), dir + "/serif.ttf");
    EXPECT_EQ(read_file(dir + "/serif.ttf"), std::string("font\0data", 9));
    for (const char* name : {"", ".", "..", "../escape.ttf", "sub/x.ttf"})
        EXPECT_EQ(library.addNewFont(S(dir), S(name), "x"), "") << name;
    EXPECT_FALSE(exists(root + "/escape.ttf"));
    EXPECT_EQ(library.addNewFont(S(dir + "/missing"), S("a.ttf"), "x"), "");
}

// Text that was never bytes (code units above 255) is kept as UTF-8, not as "?".
TEST_F(Library, WideTextIsStoredAsUtf8) {
    DataHelper library;
    ASSERT_TRUE(library.addNewFile(String(L"/b/\u65e5\u672c.epub"), String(L"\u0412\u043e\u0439\u043d\u0430"), S("")));
    auto cells = parse_home(library.getHomePage()).cells();
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0].title, "\xD0\x92\xD0\xBE\xD0\xB9\xD0\xBD\xD0\xB0");
    std::string path;
    ASSERT_EQ(DataHelper::readHomeLink(cells[0].open, path), DataHelper::LINK_OPEN);
    EXPECT_EQ(path, "/b/\xE6\x97\xA5\xE6\x9C\xAC.epub");
}

TEST_F(Library, AnchorsAreSavedWithTheReadStateInOneTransaction) {
    DataHelper library;
    tf::ReadingPositions positions(library);
    const String book = S("/books/a.epub");
    ASSERT_TRUE(library.addNewFile(book, S("A"), S("")));
    ASSERT_TRUE(library.addNewFile(S("/books/b.epub"), S("B"), S("")));

    tf::ReadingPositions::Anchor anchor;
    anchor.entry = "OEBPS/ch2.xhtml";
    anchor.offset = 4321;
    anchor.percent = 37;
    // A state the library refuses writes no anchor either.
    EXPECT_FALSE(positions.save(book.str(), "epub://", 10, 20, anchor));
    tf::ReadingPositions::Anchor read;
    EXPECT_FALSE(positions.fetch(book.str(), read));

    ASSERT_TRUE(positions.save(book.str(), "epub://OEBPS/ch2.xhtml", 1200, 18, anchor));
    ASSERT_TRUE(positions.fetch(book.str(), read));
    EXPECT_EQ(read.entry, anchor.entry);
    EXPECT_EQ(read.offset, 4321);
    EXPECT_EQ(read.percent, 37);
    String address;
    int position = 0, zoom = 0;
    ASSERT_TRUE(library.fetchReadState(book, address, position, zoom));
    EXPECT_EQ(position, 1200);
    // The designed table keeps its columns; the anchor lives beside it.
    EXPECT_EQ(rows("PRAGMA table_info(files)").size(), 9u);
    EXPECT_EQ(rows("SELECT * FROM positions").size(), 1u);

    // Saving again replaces; the home page tells the share read of that book only.
    anchor.percent = 64;
    ASSERT_TRUE(positions.save(book.str(), "epub://OEBPS/ch3.xhtml", 0, 18, anchor));
    EXPECT_EQ(rows("SELECT * FROM positions").size(), 1u);
    const std::string page = library.getHomePage();
    EXPECT_NE(page.find("64 % read"), std::string::npos);
    EXPECT_EQ(page.find("37 % read"), std::string::npos);
    // A second transaction is possible after the first (none left open); an
    // unknown share keeps the one saved before.
    anchor.percent = -1;
    ASSERT_TRUE(positions.save(book.str(), "epub://OEBPS/ch3.xhtml", 10, 18, anchor));
    ASSERT_TRUE(positions.fetch(book.str(), read));
    EXPECT_EQ(read.percent, 64);

    // Removing the book removes its anchor.
    ASSERT_TRUE(library.removeFile(book));
    EXPECT_FALSE(positions.fetch(book.str(), read));
    EXPECT_EQ(library.getHomePage().find("% read"), std::string::npos);
}
