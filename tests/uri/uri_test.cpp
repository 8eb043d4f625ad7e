#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "TempDir.h"
#include "utility/File.h"
#include "utility/URI.h"
#include "utility/text.h"

using tf::String;
using tf::URI;

namespace {

struct ParseCase {
    const char* address;
    const char* protocol;
    const char* path;
    const char* hash;
    const char* query;
    std::map<std::string, std::string> params;
    int rtype;
};

std::map<std::string, std::string> narrow(const std::map<String, String>& params) {
    std::map<std::string, std::string> out;
    for (const auto& p : params)
        out[p.first.str()] = p.second.str();
    return out;
}

} // namespace

TEST(URIParse, SplitsAddressIntoParts) {
    const std::vector<ParseCase> cases = {
        {"epub://OEBPS/Text/ch1.xhtml#sec2", "epub", "OEBPS/Text/ch1.xhtml", "sec2", "", {}, URI::RT_HTML},
        {"cmd://delete?file=D:\\books\\a.epub", "cmd", "delete", "", "file=D:\\books\\a.epub",
         {{"file", "D:\\books\\a.epub"}}, URI::RT_UNKNOWN},
        {"cmd://delete_all", "cmd", "delete_all", "", "", {}, URI::RT_UNKNOWN},
        {"D:\\books\\novel.EPUB", "file", "D:\\books\\novel.EPUB", "", "", {}, URI::RT_EPUB},
        {"", "file", "", "", "", {}, URI::RT_UNKNOWN},
        // The fragment is cut first: its "?" starts no query.
        {"epub://a.xhtml?x=1#f?y", "epub", "a.xhtml", "f?y", "x=1", {{"x", "1"}}, URI::RT_HTML},
        // Blanks trimmed, empty pieces dropped, pieces without exactly one value ignored.
        {"cmd://x?a = 1 & b=2&&c", "cmd", "x", "", "a = 1 & b=2&&c", {{"a", "1"}, {"b", "2"}}, URI::RT_UNKNOWN},
        {"cmd://x?a==1", "cmd", "x", "", "a==1", {{"a", "1"}}, URI::RT_UNKNOWN},
        {"cmd://x?a=1=2&=3", "cmd", "x", "", "a=1=2&=3", {}, URI::RT_UNKNOWN},
        // A later parameter of the same name wins; nothing is percent-decoded.
        {"cmd://x?k=1&k=%41", "cmd", "x", "", "k=1&k=%41", {{"k", "%41"}}, URI::RT_UNKNOWN},
        {"fb2://#img1.png", "fb2", "", "img1.png", "", {}, URI::RT_UNKNOWN},
        {"epub://", "epub", "", "", "", {}, URI::RT_UNKNOWN},
        // A "#" before the scheme's end leaves the path running to the end.
        {"a#b://c.css", "a#b", "c.css", "b://c.css", "", {}, URI::RT_CSS},
        {"epub://OEBPS/IMG.JPG", "epub", "OEBPS/IMG.JPG", "", "", {}, URI::RT_JPG},
        {"epub://x.png?size=2", "epub", "x.png", "", "size=2", {{"size", "2"}}, URI::RT_PNG},
        {"epub://x.png#top", "epub", "x.png", "top", "", {}, URI::RT_PNG},
        {"/books/tale.fb2.zip", "file", "/books/tale.fb2.zip", "", "", {}, URI::RT_FB2},
        {"/books/book.epub3", "file", "/books/book.epub3", "", "", {}, URI::RT_EPUB},
        // Byte-exact narrowing of the scheme.
        {"\xE9p://x", "\xE9p", "x", "", "", {}, URI::RT_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        URI uri{String(c.address)};
        EXPECT_EQ(uri.m_uri, String(c.address));
        EXPECT_EQ(uri.m_protocol, c.protocol);
        EXPECT_EQ(uri.m_path.str(), c.path);
        EXPECT_EQ(uri.m_hash.str(), c.hash);
        EXPECT_EQ(uri.m_query.str(), c.query);
        EXPECT_EQ(narrow(uri.m_params), c.params);
        EXPECT_EQ(uri.rtype(), c.rtype);
        EXPECT_EQ(uri.empty(), std::string(c.path).empty());
        EXPECT_TRUE(uri.is(c.protocol));
    }
}

TEST(URIParse, DefaultIsAllEmpty) {
    URI uri;
    EXPECT_TRUE(uri.m_protocol.empty());
    EXPECT_TRUE(uri.m_uri.empty());
    EXPECT_TRUE(uri.empty());
    EXPECT_FALSE(uri.is("file"));
    EXPECT_TRUE(uri.is(""));
}

TEST(URIParse, ResourceTypesByEnding) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"a.html", URI::RT_HTML}, {"a.XHTML", URI::RT_HTML}, {"a.htm", URI::RT_HTML},
        {"a.css", URI::RT_CSS},   {"a.xml", URI::RT_XML},    {"a.svg", URI::RT_SVG},
        {"a.epub", URI::RT_EPUB}, {"a.fb2", URI::RT_FB2},    {"a.FB2.ZIP", URI::RT_FB2},
        {"a.jpeg", URI::RT_JPG},  {"a.gif", URI::RT_GIF},    {"a.bmp", URI::RT_BMP},
        {"a.zip", URI::RT_UNKNOWN}, {"a.html.bak", URI::RT_UNKNOWN}, {"html", URI::RT_UNKNOWN},
        // Query and fragment play no part.
        {"a.txt?f=b.png", URI::RT_UNKNOWN}, {"a.txt#b.png", URI::RT_UNKNOWN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(URI(String(c.first)).rtype(), c.second) << c.first;
}

TEST(URIParams, GetStringAndGetInt) {
    URI uri(String("cmd://x?n=42&neg=-7&word=abc&lead=12px&empty= "));
    EXPECT_EQ(uri.getString(String("word")).str(), "abc");
    EXPECT_EQ(uri.getString(String("missing")).str(), "");
    EXPECT_EQ(uri.getInt(String("n"), -1), 42);
    EXPECT_EQ(uri.getInt(String("neg"), 0), -7);
    EXPECT_EQ(uri.getInt(String("word"), 5), 0); // non-empty: converted, not the fallback
    EXPECT_EQ(uri.getInt(String("lead"), 0), 12);
    EXPECT_EQ(uri.getInt(String("empty"), 9), 9);
    EXPECT_EQ(uri.getInt(String("missing"), 9), 9);
}

TEST(URICompare, ComparesPathsOnly) {
    URI a(String("epub://x.html#one")), b(String("file://x.html?q=1")), c(String("epub://y.html"));
    EXPECT_FALSE(a.compare(&b));
    EXPECT_TRUE(a.compare(&c));
    EXPECT_FALSE(a.compare(nullptr));
}

TEST(URIStr, ListsFieldsThenParameters) {
    URI uri(String("cmd://delete?b=2&a=1#h"));
    EXPECT_EQ(uri.str(),
              "[m_uri=\"cmd://delete?b=2&a=1#h\", m_protocol=\"cmd\", m_query=\"b=2&a=1\", "
              "m_hash=\"h\", m_path=\"delete\"]\na=1\nb=2\n");
}

TEST(URIParent, CutsAtLastSeparator) {
    struct Case {
        const char* address;
        String separator;
        const char* parent;
    };
    const std::string file_sep = tf::File::separator.str();
    const std::vector<Case> cases = {
        {"epub://OEBPS/Text/ch1.xhtml", String("/"), "epub://OEBPS/Text"},
        {"epub://ch1.xhtml", String("/"), "epub:/"},
        {"ch1.xhtml", String("/"), "."},
        {"", String("/"), "."},
        // Works on the whole address, fragment included.
        {"epub://a/b.xhtml#x/y", String("/"), "epub://a/b.xhtml#x"},
        // Several characters: the last of any of them.
        {"D:\\books/sub\\a.html", String("/\\"), "D:\\books/sub"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(URI(String(c.address)).parent(c.separator).str(), c.parent) << c.address;
    // An empty separator stands for the file separator.
    std::string path = "books" + file_sep + "a.html";
    EXPECT_EQ(URI(String(path)).parent(String()).str(), "books");
}

TEST(URIRealpath, ResolvesAgainstBase) {
    struct Case {
        const char* url;
        const char* base;
        const char* separator;
        const char* result;
    };
    const std::vector<Case> cases = {
        {"../Images/a.jpg", "epub://OEBPS/Text", "/", "epub://OEBPS/Images/a.jpg"},
        {"style.css", "epub://OEBPS/", "/", "epub://OEBPS/style.css"},
        {"a.png", ".", "/", "a.png"},
        {"/a.png", "epub://x", "/", "/a.png"},
        {"other://x/a.png", "epub://x", "/", "other://x/a.png"},
        {"C:\\pics\\a.png", "epub://x", "/", "C:\\pics\\a.png"},
        {"", "epub://x", "/", ""},
        {"a.css", "", "/", "/a.css"},
        {"a.css", "books", "\\", "books\\a.css"},
        {"../../../a.css", "epub://OEBPS/Text", "/", "epub://a.css"},
        {"Text/../a.css", "epub://", "/", "epub://a.css"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(URI::realpath(String(c.url), String(c.base), String(c.separator)).str(), c.result)
            << c.url << " against " << c.base;
    }
    // An empty separator stands for the file separator.
    EXPECT_EQ(URI::realpath(String("a.css"), String("books"), String()),
              String("books") + tf::File::separator + String("a.css"));
}

TEST(URINormalize, ResolvesParentSegments) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"a/b/c/../../d", "a/d"},
        {"epub://x/../y", "epub://y"},
        {"a/..b/c", "a/..b/c"},
        {"a/b..", "a/b.."},
        {"a/./b", "a/./b"}, // nothing to resolve: left as written
        {"epub://OEBPS/Text/../Images/a.jpg", "epub://OEBPS/Images/a.jpg"},
        {"x//../y", "x/y"},
        {"a/b/../../c/d", "c/d"},
        // Never above the scheme's root, which would corrupt the scheme.
        {"epub://../a.jpg", "epub://a.jpg"},
        {"epub://a/../../../b", "epub://b"},
        {"/../a", "/a"},
        {"/a/../b", "/b"},
        {"/..", "/"},
        {"epub://x/..", "epub://"},
        // A relative path may climb out of its folder.
        {"a/../b", "b"},
        {"a/../../b", "../b"},
        {"./../b", "../b"},
        {"../../b", "../../b"},
        {"..", ".."},
        {"x/..", "."},
        {"x/../", "."},
        {"a/b/..", "a/"},
        {"a/./../b", "b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(URI::normalize(String(c.first)).str(), c.second) << c.first;
}

// Every short path over a small alphabet: the result is stable and keeps no ".." that
// could still be resolved. Run under the sanitizers this also shows no read out of range.
TEST(URINormalize, AnyShortPathResolvesCompletely) {
    const char alphabet[] = {'a', '.', '/', ':'};
    std::string path;
    std::vector<int> digits;
    for (size_t length = 0; length <= 8; ++length) {
        digits.assign(length, 0);
        for (;;) {
            path.clear();
            for (int d : digits)
                path.push_back(alphabet[d]);
            const String once = URI::normalize(String(path));
            ASSERT_EQ(URI::normalize(once), once) << path;
            const std::vector<std::string> segments = [&] {
                std::vector<std::string> out;
                std::string s = once.str();
                size_t from = 0;
                for (size_t slash; (slash = s.find('/', from)) != std::string::npos; from = slash + 1)
                    out.push_back(s.substr(from, slash - from));
                out.push_back(s.substr(from));
                return out;
            }();
            for (size_t i = 1; i < segments.size(); ++i) {
                ASSERT_FALSE(segments[i] == ".." && segments[i - 1] != ".." && path.find("/..") != std::string::npos)
                    << path << " -> " << once.str();
            }
            size_t k = 0;
            while (k < length && ++digits[k] == 4)
                digits[k++] = 0;
            if (k == length)
                break;
        }
    }
}

TEST(URIParse, AnExistingFileKeepsHashAndQueryInItsName) {
    TempDir dir;
    const std::string path = dir.path + "/Alice #2?draft.epub";
    ASSERT_EQ(tf::file_put_contents(path, reinterpret_cast<unsigned char*>(const_cast<char*>("x")), 1), 1);
    struct Case {
        std::string address, path, hash, query;
    } cases[] = {
        {path, path, "", ""},
        {path + "#note", path, "note", ""},
        // No such file: the address splits as written.
        {dir.path + "/Bob #2?x.epub", dir.path + "/Bob ", "2?x.epub", ""},
        {dir.path + "/Bob?x.epub", dir.path + "/Bob", "", "x.epub"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const URI uri{String(c.address)};
        EXPECT_EQ(uri.m_protocol, "file");
        EXPECT_EQ(uri.m_path.str(), c.path);
        EXPECT_EQ(uri.m_hash.str(), c.hash);
        EXPECT_EQ(uri.m_query.str(), c.query);
    }
    EXPECT_EQ(URI(String(path)).rtype(), URI::RT_EPUB);
}

TEST(URIResolve, ReferencesFromBooksAndFiles) {
    struct Case {
        const char* ref;
        const char* base;
        const char* expected;
    } cases[] = {
        // Relative references with ./ and ../ in entry folders.
        {"../Images/a.jpg", "epub://OEBPS/Text", "epub://OEBPS/Images/a.jpg"},
        {"./a.png", "epub://OEBPS/Text", "epub://OEBPS/Text/a.png"},
        {"x/./y/../../a.css", "epub://OEBPS", "epub://OEBPS/a.css"},
        {"a.png", "epub://", "epub://a.png"},
        {"a.png", "epub:/", "epub://a.png"},  // a root member's folder as URI::parent writes it
        // Percent-decoding: names come back as stored, "%", "#" and "?" escaped again.
        {"my%20pic.png", "epub://OEBPS", "epub://OEBPS/my pic.png"},
        {"a%23b%3Fc.png", "epub://OEBPS", "epub://OEBPS/a%23b%3Fc.png"},
        {"100%25.xhtml", "epub://", "epub://100%25.xhtml"},
        {"caf%C3%A9.xhtml", "epub://", "epub://caf\xC3\xA9.xhtml"},
        // Fragment and query stay as written; only the path loses its dots.
        {"ch.xhtml#sec/../2", "epub://OEBPS/Text", "epub://OEBPS/Text/ch.xhtml#sec/../2"},
        {"../ch.xhtml?x=1#f?y", "epub://OEBPS/Text", "epub://OEBPS/ch.xhtml?x=1#f?y"},
        {"#pic", "fb2://", "fb2://#pic"},
        // Inside a book "/" is the book's root and ".." stops there, encoded dots too.
        {"/Images/a.png", "epub://OEBPS/Text", "epub://Images/a.png"},
        {"../../../../etc/passwd", "epub://OEBPS/Text", "epub://etc/passwd"},
        {"%2E%2E/%2E%2E/%2E%2E/a.png", "epub://OEBPS/Text", "epub://a.png"},
        // Absolute references: other book addresses made canonical, other schemes as written.
        {"epub://OEBPS/x/../y%20z.png", "epub://Z", "epub://OEBPS/y z.png"},
        {"http://example.com/a/../b.png", "epub://OEBPS", "http://example.com/a/../b.png"},
        {"mailto:someone@example.com", "epub://OEBPS", "mailto:someone@example.com"},
        {"data:image/png;base64,AA/../B", "epub://OEBPS", "data:image/png;base64,AA/../B"},
        {"C:\\books\\a.png", "epub://OEBPS", "C:\\books\\a.png"},
        {"chapter:1.xhtml", "epub://OEBPS", "epub://OEBPS/chapter:1.xhtml"},  // a colon in a name
        {"content://cover.png", "/books", "content://cover.png"},
        {"", "epub://OEBPS", ""},
        // On disk: the file's own name, decoded, with the folder's ".." resolved.
        {"img/a%20b%23c.png", "/books/x", "/books/x/img/a b#c.png"},
        {"../style.css", "/books/x", "/books/style.css"},
        {"/abs/a.png", "/books", "/abs/a.png"},
        {"../../../../a.png", "/books", "/a.png"},
        {"a.png#f", "/books/", "/books/a.png#f"},
        {"a.png", ".", "a.png"},
        {"../a.png", "sub", "a.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ref) + " against " + c.base);
        EXPECT_EQ(URI::resolve(String(c.ref), String(c.base)).str(), c.expected);
    }
}

TEST(URIResolve, EntryNamesSurviveTheRoundTripThroughAnAddress) {
    // An entry name made an address parses back to the same name, whatever it holds.
    const char* names[] = {"OEBPS/Text/ch#1.xhtml", "OEBPS/what?.xhtml", "OEBPS/100%.xhtml",
                           "OEBPS/a%23b.xhtml", "OEBPS/pic #2?.png", "section-3.2"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const URI uri(URI::entryAddress("epub", name));
        EXPECT_EQ(uri.m_protocol, "epub");
        EXPECT_TRUE(uri.m_hash.empty());
        EXPECT_TRUE(uri.m_query.empty());
        EXPECT_EQ(uri.member().str(), name);
        // A reference written next to it in the same folder leads to the same address.
        const std::string file = std::string(name).substr(std::string(name).rfind('/') + 1);
        EXPECT_EQ(URI::resolve(String(tf::url_encode(file)), uri.folder()), uri.m_uri);
    }

    const URI withFragment(URI::entryAddress("epub", "OEBPS/ch#1.xhtml") + String("#note?2"));
    EXPECT_EQ(withFragment.member().str(), "OEBPS/ch#1.xhtml");
    EXPECT_EQ(withFragment.m_hash.str(), "note?2");
    EXPECT_EQ(withFragment.folder().str(), "epub://OEBPS");
    EXPECT_EQ(URI(String("epub://ch1.xhtml#a/b")).folder().str(), "epub://");
    EXPECT_EQ(URI(String("/books/a.html")).folder().str(), "/books");
    EXPECT_EQ(URI(String("a.html")).folder().str(), ".");

    struct Member {
        const char* ref;
        const char* name;
    } members[] = {
        {"OEBPS/Text/../Images/a%20b.png", "OEBPS/Images/a b.png"},
        {"./OEBPS//x.xhtml", "OEBPS/x.xhtml"},
        {"../../x.xhtml", "x.xhtml"},
        {"a%2Fb.xhtml", "a/b.xhtml"},
    };
    for (const Member& m : members)
        EXPECT_EQ(URI::memberName(m.ref), m.name) << m.ref;
}
