#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "fb2_test_support.h"
#include "readers/BaseReader.h"
#include "readers/FB2Reader.h"
#include "readers/xhtml/XmlDoc.h"
#include "utility/text.h"

namespace {

const char kHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
    "xmlns:l=\"http://www.w3.org/1999/xlink\">\n";

const char kDescription[] =
    " <description><title-info><book-title>Tom &amp; Jerry</book-title>\n"
    "  <coverpage><image l:href=\"#cover.png\"/></coverpage></title-info></description>\n";

const char kBody[] =
    " <body>\n"
    "  <title><p>Part One</p></title>\n"
    "  <epigraph><p>Quote</p><text-author>Someone</text-author></epigraph>\n"
    "  <section><title><p>Chapter 1</p></title>\n"
    "   <p><emphasis>Bold</emphasis> <strong>words</strong> and<emphasis>joined</emphasis></p>\n"
    "   <empty-line/>\n"
    "   <poem><stanza><v>Line one</v><v>Line two</v></stanza></poem>\n"
    "   <image l:href=\"#pic.png\"/>\n"
    "   <p>a &lt; b &amp; c &#8212; d</p>\n"
    "   <p>x<style name=\"s\">styled</style>y</p>\n"
    "  </section>\n"
    " </body>\n"
    " <body name=\"notes\"><section id=\"n1\"><p>Note text</p></section></body>\n";

const char kBinaries[] =
    " <binary id=\"cover.png\" content-type=\"image/png\">iVBORw0K\nGgo=</binary>\n"
    " <binary id=\"pic.png\" content-type=\"image/jpeg\">/9j/4AAQ</binary>\n";

std::string book(const std::string& description = kDescription, const std::string& body = kBody,
                 const std::string& binaries = kBinaries) {
    return kHead + description + body + binaries + "</FictionBook>\n";
}

// Opens and parses `bytes` saved as a file in `tmp`; failures are test failures.
std::unique_ptr<tf::FB2Reader> open_book(const TempDir& tmp, const std::string& bytes,
                                         const std::string& name = "book.fb2") {
    const std::string path = tmp.path + "/" + name;
    write_bytes(path, bytes);
    std::unique_ptr<tf::FB2Reader> reader(new tf::FB2Reader());
    testing::internal::CaptureStderr();
    bool opened = reader->open(path);
    bool parsed = opened && reader->parse();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(opened && parsed) << log;
    return reader;
}

std::string body_page(tf::BaseReader& reader) {
    std::string out;
    EXPECT_EQ(reader.get_entry("home", out), "html");
    return out;
}

struct Logged {
    std::string result;
    std::string log;
};

template <class F>
Logged logged(F f) {
    testing::internal::CaptureStderr();
    std::string result = f();
    return {result, testing::internal::GetCapturedStderr()};
}

} // namespace

TEST(FB2Reader, EntriesAndStepping) {
    TempDir tmp;
    auto reader = open_book(tmp, book());
    EXPECT_EQ(reader->get_type(), "fb2");
    EXPECT_TRUE(reader->isOpen());
    EXPECT_EQ(reader->get_filename(), tmp.path + "/book.fb2");
    EXPECT_EQ(reader->get_title(), "Tom & Jerry");
    // The main body's one section, then the notes body.
    const tf::pair_list_t spine{{"section-1", ""}, {"notes", ""}};
    EXPECT_EQ(reader->spine(), spine);
    const tf::pair_list_t toc{{"section-1#fb2-section-1", "Chapter 1"}, {"notes", "notes"}};
    EXPECT_EQ(reader->toc(), toc);
    EXPECT_EQ(reader->entry_name_next(""), "section-1");
    EXPECT_EQ(reader->entry_name_next("section-1"), "notes");
    EXPECT_EQ(reader->entry_name_next("notes"), "");
    EXPECT_EQ(reader->entry_name_prev("notes"), "section-1");
    EXPECT_EQ(reader->entry_name_prev("section-1"), "");
    EXPECT_EQ(reader->entry_name_prev(""), "");
    // A position stored under the old single entry stands for the first.
    EXPECT_EQ(reader->entry_name_next("home"), "notes");
    EXPECT_TRUE(reader->get_font_entries().empty());

    reader->close();
    EXPECT_FALSE(reader->isOpen());
    EXPECT_EQ(reader->get_filename(), tmp.path + "/book.fb2");
    // After close nothing is served from the released tree.
    std::string out;
    EXPECT_EQ(reader->get_entry("#pic.png", out), "html");
    EXPECT_NE(out.find("<body></body>"), std::string::npos) << out;
}

TEST(FB2Reader, PicturesInTheirTextForm) {
    TempDir tmp;
    auto reader = open_book(tmp, book());
    std::string out = "before";
    EXPECT_EQ(reader->get_entry("#cover.png", out), "image/png");
    EXPECT_EQ(out, "data64:image/png:iVBORw0K\nGgo=");  // the stored text, line break and all
    EXPECT_EQ(tf::base64_decode(out.substr(out.find(':', 7) + 1)), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(reader->get_entry("#pic.png", out), "image/jpeg");
    EXPECT_EQ(out, "data64:image/jpeg:/9j/4AAQ");

    // Names that are not a binary reference get the body page.
    const std::string page = body_page(*reader);
    for (const char* name : {"pic.png", "home", "", "#", "#missing", "#cover"}) {
        SCOPED_TRACE(name);
        std::string entry;
        EXPECT_EQ(reader->get_entry(name, entry), "html");
        EXPECT_EQ(entry, page);
    }
}

TEST(FB2Reader, BodyPageIsWellFormedAndReadsAsHtml) {
    TempDir tmp;
    auto reader = open_book(tmp, book());
    const std::string page = body_page(*reader);

    EXPECT_EQ(page.rfind("<html xmlns:xlink=\"http://www.w3.org/1999/xlink\"><head><style type=\"text/css\">", 0),
              0u)
        << page.substr(0, 200);
    EXPECT_NE(page.find(tf::FB2Reader::page_style()), std::string::npos);
    EXPECT_EQ(page.substr(page.size() - 14), "</body></html>");

    tf::XmlDoc doc(page);
    const rapidxml::xml_node<char>* body = page_body(doc);
    ASSERT_NE(body, nullptr) << page;
    std::string text;
    collect_text(body, text);
    EXPECT_EQ(without_space(text), without_space("Part One Quote Someone Chapter 1 Bold words andjoined Line one "
                                                 "Line two a < b & c \xE2\x80\x94 d xstyledy"));
    EXPECT_EQ(page.find("Note text"), std::string::npos);  // notes are not the main body

    // Markup that the engine's HTML parser reads as the book means it.
    EXPECT_NE(page.find("<emphasis>Bold</emphasis> <strong>words</strong> and<emphasis>joined</emphasis>"),
              std::string::npos);
    EXPECT_NE(page.find("<div class=\"title\"><p>Chapter 1</p></div>"), std::string::npos);
    EXPECT_NE(page.find("<empty-line></empty-line>"), std::string::npos);
    EXPECT_NE(page.find("<image xlink:href=\"#pic.png\"></image>"), std::string::npos);
    EXPECT_NE(page.find("a &lt; b &amp; c"), std::string::npos);
    EXPECT_NE(page.find("x<span class=\"style\" name=\"s\">styled</span>y"), std::string::npos);

    HtmlView view = html_view(page);
    EXPECT_EQ(view.raw_text_elements, 0);
    EXPECT_EQ(view.nonempty_empty_lines, 0);
    EXPECT_EQ(without_space(view.text), without_space(text));
}

TEST(FB2Reader, PageStyleGivesFictionBookElementsTheirLook) {
    const std::string style = tf::FB2Reader::page_style();
    EXPECT_EQ(style.find("display:none"), std::string::npos);
    for (const char* rule : {"div.title{display:block;font-weight:bold;", "emphasis{font-style:italic;}",
                             "empty-line{display:block;height:1em;}", "v{display:block;}",
                             "stanza{display:block;", "epigraph{display:block;margin:",
                             "cite{display:block;margin:", "text-author{display:block;text-align:right;"}) {
        EXPECT_NE(style.find(rule), std::string::npos) << rule;
    }
    // It sits in a style element of a page that must stay XML.
    EXPECT_EQ(style.find_first_of("<&"), std::string::npos);
}

TEST(FB2Reader, BodyPageIsBuiltOnceAndDroppedWithTheBook) {
    TempDir tmp;
    auto reader = open_book(tmp, book());
    const std::string first = body_page(*reader);
    EXPECT_EQ(body_page(*reader), first);

    // Reopening with another book serves that book's page, not the cached one.
    const std::string other = tmp.path + "/other.fb2";
    write_bytes(other, book(kDescription, "<body><p>Second book</p></body>"));
    ASSERT_TRUE(reader->open(other));
    ASSERT_TRUE(reader->parse());
    const std::string second = body_page(*reader);
    EXPECT_NE(second.find("<p>Second book</p>"), std::string::npos);
    EXPECT_EQ(second.find("Chapter 1"), std::string::npos);
}

TEST(FB2Reader, CoverPageFromTheDescription) {
    TempDir tmp;
    auto reader = open_book(tmp, book());
    std::string cover = "unchanged";
    const std::string page = reader->cover_page(cover);
    EXPECT_EQ(cover, "#cover.png");
    EXPECT_EQ(page,
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<html><head><title>Tom &amp; Jerry</title></head>"
              "<body><image style=\"height:500px\" xlink:href=\"#cover.png\" /></body></html>");
    tf::XmlDoc doc(page);
    ASSERT_NE(doc.root_node(), nullptr);
    EXPECT_EQ(doc.root_node()->name(), "html");
}

TEST(FB2Reader, TitleAndCoverFallBack) {
    struct Case {
        const char* what;
        std::string description;
        std::string title;          // "" for default_title()
        std::string title_log;      // WARN line of get_title, "" for none
        std::string cover_log;      // WARN line of cover_page
    } cases[] = {
        {"no description", "", "", "get_title(): no title-info element found",
         "cover_page(): no title-info element found"},
        {"no title-info", "<description><document-info/></description>", "",
         "get_title(): no title-info element found", "cover_page(): no title-info element found"},
        {"no book-title", "<description><title-info><coverpage><image l:href=\"#missing\"/></coverpage>"
                          "</title-info></description>",
         "", "get_title(): no book-title element found", "cover_page(): cover image not found: #missing"},
        {"empty title, annotation text",
         "<description><title-info><book-title></book-title><annotation>About &lt;it&gt;</annotation>"
         "<coverpage/></title-info></description>",
         "About <it>", "", "cover_page(): no image element found"},
        {"empty title and annotation",
         "<description><title-info><book-title/><annotation><p>Para</p></annotation></title-info>"
         "</description>",
         "", "", "cover_page(): no coverpage element found"},
        {"image without reference",
         "<description><title-info><book-title>T</book-title><coverpage><image/></coverpage></title-info>"
         "</description>",
         "T", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        auto reader = open_book(tmp, book(c.description));
        const std::string expected_title = c.title.empty() ? reader->default_title() : c.title;

        Logged title = logged([&] { return reader->get_title(); });
        EXPECT_EQ(title.result, expected_title);
        if (c.title_log.empty())
            EXPECT_EQ(title.log, "");
        else
            EXPECT_NE(title.log.find("WARN : "), std::string::npos) << title.log;
        EXPECT_NE(title.log.find(c.title_log), std::string::npos) << title.log;

        std::string cover = "unchanged";
        Logged page = logged([&] { return reader->cover_page(cover); });
        EXPECT_EQ(cover, "unchanged");
        const std::string shown = tf::ReplaceAll(tf::ReplaceAll(expected_title, "<", "&lt;"), ">", "&gt;");
        EXPECT_EQ(page.result, "<html><body><h1>" + shown + "</h1><p>" + shown + "</p></body></html>");
        EXPECT_NE(page.log.find(c.cover_log), std::string::npos) << page.log;
        // The generic page is XML too.
        tf::XmlDoc doc(page.result);
        ASSERT_NE(doc.root_node(), nullptr);
        EXPECT_FALSE(doc.root_node()->isEmpty());
    }
}

TEST(FB2Reader, DefaultTitleCountsPathBytes) {
    TempDir tmp;
    auto reader = open_book(tmp, book(""), "a.fb2");
    const std::string path = tmp.path + "/a.fb2";
    testing::internal::CaptureStderr();
    EXPECT_EQ(reader->get_title(), "untitled_" + std::to_string(path.size()));
    testing::internal::GetCapturedStderr();
}

TEST(FB2Reader, WithoutDescriptionTheBodyStillOpens) {
    TempDir tmp;
    const std::string path = tmp.path + "/plain.fb2";
    write_bytes(path, book(""));
    tf::FB2Reader reader;
    ASSERT_TRUE(reader.open(path));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(reader.parse());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("WARN : "), std::string::npos) << log;
    EXPECT_NE(log.find("parse(): no description element found"), std::string::npos) << log;
    EXPECT_NE(body_page(reader).find("Chapter 1"), std::string::npos);
}

TEST(FB2Reader, RefusedFiles) {
    TempDir tmp;
    const std::string good = book();
    struct Case {
        const char* name;
        std::string bytes;  // not written when "missing"
        const char* open_log;  // "" when open succeeds
        const char* parse_log;
    } cases[] = {
        {"missing", "", "open(): empty file: ", ""},
        {"empty", "", "open(): empty file: ", ""},
        {"not-xml", "just some text", "open(): invalid FictionBook file: ", ""},
        // A cut book opens as far as it is readable (FB2Damaged); cut before its body it has nothing to show.
        {"cut-before-the-body", good.substr(0, good.find(" <body")), "", "parse(): no body element found"},
        {"html", "<?xml version=\"1.0\"?><html><body/></html>", "open(): invalid FictionBook file: ", ""},
        {"no-body", book(kDescription, ""), "", "parse(): no body element found"},
        {"binary-body", "<?xml version=\"1.0\"?><FictionBook><binary id=\"body\"/></FictionBook>", "",
         "parse(): no body element found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tmp.path + "/" + c.name + ".fb2";
        if (std::string(c.name) != "missing")
            write_bytes(path, c.bytes);
        tf::FB2Reader reader;
        testing::internal::CaptureStderr();
        bool opened = reader.open(path);
        bool parsed = opened && reader.parse();
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(parsed);
        EXPECT_EQ(opened, std::string(c.open_log).empty());
        const std::string expected = std::string(c.open_log).empty() ? c.parse_log : c.open_log + path;
        EXPECT_NE(log.find("ERROR: "), std::string::npos) << log;
        EXPECT_NE(log.find(expected), std::string::npos) << log;
        // Queries on a refused book answer without touching a tree.
        testing::internal::CaptureStderr();
        std::string out, cover;
        reader.get_entry("#cover.png", out);
        reader.cover_page(cover);
        reader.get_title();
        EXPECT_FALSE(reader.parse());
        testing::internal::GetCapturedStderr();
    }
}

TEST(FB2Reader, HalfABookOpensAsFarAsItGoes) {
    TempDir tmp;
    const std::string good = book();
    const std::string path = tmp.path + "/half.fb2";
    write_bytes(path, good.substr(0, good.find("<poem>")));
    tf::FB2Reader reader;
    testing::internal::CaptureStderr();
    const bool ok = reader.open(path) && reader.parse();
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ok) << log;
    EXPECT_TRUE(reader.is_damaged());
    EXPECT_NE(log.find("WARN : "), std::string::npos) << log;
    EXPECT_EQ(reader.get_title(), "Tom & Jerry");
    const std::string page = body_page(reader);
    EXPECT_NE(page.find("Chapter 1"), std::string::npos) << page;
    EXPECT_NE(page.find("<emphasis>Bold</emphasis> <strong>words</strong>"), std::string::npos) << page;
    EXPECT_EQ(page.find("Line one"), std::string::npos) << page;
}

TEST(FB2Reader, DocumentWithoutDeclarationOpens) {
    TempDir tmp;
    std::string bytes = book();
    bytes.erase(0, bytes.find('\n') + 1);
    auto reader = open_book(tmp, bytes);
    EXPECT_EQ(reader->get_title(), "Tom & Jerry");
}

TEST(FB2Reader, NamespacePrefixes) {
    TempDir tmp;
    // The first xmlns: declaration names the prefix tried for the cover reference.
    {
        auto reader = open_book(tmp,
                                "<?xml version=\"1.0\"?><FictionBook xmlns=\"urn:fb2\" xmlns:q=\"urn:q\" "
                                "xmlns:x=\"http://www.w3.org/1999/xlink\"><description><title-info>"
                                "<book-title>T</book-title><coverpage><image x:href=\"#c\"/></coverpage>"
                                "</title-info></description><body><p>b</p></body>"
                                "<binary id=\"c\" content-type=\"image/gif\">R0lG</binary></FictionBook>",
                                "x.fb2");
        std::string cover;
        reader->cover_page(cover);
        EXPECT_EQ(cover, "#c");
    }
    // A book that writes its own elements with a prefix.
    {
        auto reader = open_book(tmp,
                                "<?xml version=\"1.0\"?><fb:FictionBook xmlns:fb=\"http://www.gribuser.ru/xml/"
                                "fictionbook/2.0\" xmlns:xlink=\"http://www.w3.org/1999/xlink\">"
                                "<fb:description><fb:title-info><fb:book-title>Prefixed</fb:book-title>"
                                "<fb:coverpage><fb:image xlink:href=\"#c\"/></fb:coverpage></fb:title-info>"
                                "</fb:description><fb:body><fb:section><fb:title><fb:p>Head</fb:p></fb:title>"
                                "<fb:p>Text <fb:emphasis>it</fb:emphasis></fb:p></fb:section></fb:body>"
                                "<fb:binary id=\"c\" content-type=\"image/gif\">R0lG</fb:binary>"
                                "</fb:FictionBook>",
                                "fb.fb2");
        EXPECT_EQ(reader->get_title(), "Prefixed");
        std::string cover, out;
        reader->cover_page(cover);
        EXPECT_EQ(cover, "#c");
        EXPECT_EQ(reader->get_entry("#c", out), "image/gif");
        EXPECT_EQ(out, "data64:image/gif:R0lG");
        const std::string page = body_page(*reader);
        EXPECT_NE(page.find("<section><div class=\"title\"><p>Head</p></div><p>Text <emphasis>it</emphasis></p>"
                            "</section>"),
                  std::string::npos)
            << page;
    }
}

TEST(FB2Reader, MainBodyIsFoundWhateverItsAttributes) {
    TempDir tmp;
    // A main body with attributes, a notes body first, and a binary without id.
    auto reader = open_book(tmp, book(kDescription,
                                      "<body name=\"notes\"><p>Note</p></body>"
                                      "<body xml:lang=\"en\"><p>Main text</p></body>",
                                      "<binary content-type=\"image/png\">AAAA</binary>"));
    std::string out;
    EXPECT_EQ(reader->get_entry("#", out), "html");
    EXPECT_NE(out.find("<body><p>Main text</p></body>"), std::string::npos) << out;
    EXPECT_EQ(out.find("Note"), std::string::npos);
}

TEST(FB2Reader, OtherEncodingsBecomeUtf8) {
    // "Книга" and "Текст": windows-1251 and KOI8-R bytes, then the UTF-8 we expect.
    struct Case {
        const char* encoding;
        std::string title;
        std::string text;
    } cases[] = {
        {"windows-1251", "\xCA\xED\xE8\xE3\xE0", "\xD2\xE5\xEA\xF1\xF2"},
        {"KOI8-R", "\xEB\xCE\xC9\xC7\xC1", "\xF4\xC5\xCB\xD3\xD4"},
    };
    const std::string title_utf8 = "\xD0\x9A\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB0";
    const std::string text_utf8 = "\xD0\xA2\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        TempDir tmp;
        auto reader = open_book(tmp, std::string("<?xml version=\"1.0\" encoding=\"") + c.encoding +
                                         "\"?>\r\n<FictionBook><description><title-info><book-title>" +
                                         c.title + "</book-title></title-info></description><body><p>" + c.text +
                                         " &#8212; <emphasis>x</emphasis> <strong>y</strong></p></body>"
                                         "</FictionBook>");
        EXPECT_EQ(reader->get_title(), title_utf8);
        const std::string page = body_page(*reader);
        // Numeric references and the blank between two inline elements survive the conversion.
        EXPECT_NE(page.find("<p>" + text_utf8 + " \xE2\x80\x94 <emphasis>x</emphasis> <strong>y</strong></p>"),
                  std::string::npos)
            << page;
    }
}

TEST(FB2Reader, UnknownOrBrokenEncoding) {
    TempDir tmp;
    // iconv does not know it: the book still opens, with a log line.
    const std::string path = tmp.path + "/odd.fb2";
    write_bytes(path, "<?xml version=\"1.0\" encoding=\"x-no-such\"?><FictionBook><body><p>ok</p></body>"
                      "</FictionBook>");
    tf::FB2Reader reader;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(reader.open(path));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ERROR: "), std::string::npos) << log;
    EXPECT_NE(log.find("x-no-such"), std::string::npos) << log;
    ASSERT_TRUE(reader.parse());
    EXPECT_NE(body_page(reader).find("<p>ok</p>"), std::string::npos);

    // Bytes that mean nothing in the declared encoding become U+FFFD, not a cut text.
    auto shift_jis = open_book(tmp, "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><FictionBook><body><p>a\x81"
                                    "b\x82</p></body></FictionBook>",
                               "sjis.fb2");
    const std::string page = body_page(*shift_jis);
    EXPECT_NE(page.find("<p>a"), std::string::npos) << page;
    EXPECT_NE(page.find("\xEF\xBF\xBD"), std::string::npos) << page;
    EXPECT_NE(page.find("</p>"), std::string::npos) << page;
}

TEST(FB2Reader, DamagedPicturesAndMarkupNeverBreakThePage) {
    TempDir tmp;
    const std::string garbage = "%%%not*base64!!\n\x01\x02";
    auto reader = open_book(tmp, book(kDescription,
                                      "<body><p a=\"&quot;&lt;\">q\"<a l:href=\"#n\" xlink:href=\"#m\">n</a></p>"
                                      "<image l:href=\"#gone\"/></body>",
                                      "<binary id=\"bad\" content-type=\"image/png\">" + garbage + "</binary>"
                                      "<binary id=\"empty\" content-type=\"image/png\"></binary>"));
    std::string out;
    EXPECT_EQ(reader->get_entry("#bad", out), "image/png");
    EXPECT_EQ(out, "data64:image/png:" + garbage);
    tf::base64_decode(out.substr(17));  // must not crash
    EXPECT_EQ(reader->get_entry("#empty", out), "image/png");
    EXPECT_EQ(out, "data64:image/png:");

    const std::string page = body_page(*reader);
    EXPECT_NE(page.find("<p a=\"&quot;&lt;\">q\"<a href=\"#n\">n</a></p>"), std::string::npos) << page;
    tf::XmlDoc doc(page);
    EXPECT_NE(page_body(doc), nullptr);
}

TEST(FB2Reader, DeepNestingIsPrintedWithoutRecursion) {
    TempDir tmp;
    std::string body = "<body>";
    const int depth = 400;
    for (int i = 0; i < depth; ++i)
        body += "<section>";
    body += "<p>deep</p>";
    for (int i = 0; i < depth; ++i)
        body += "</section>";
    body += "<p>after</p></body>";
    auto reader = open_book(tmp, book(kDescription, body));
    const std::string page = body_page(*reader);
    std::string expected = "<body>";
    for (int i = 0; i < depth; ++i)
        expected += "<section>";
    expected += "<p>deep</p>";
    for (int i = 0; i < depth; ++i)
        expected += "</section>";
    expected += "<p>after</p></body>";
    EXPECT_NE(page.find(expected), std::string::npos);

    // Deeper than the XML parser allows: refused, not crashed.
    std::string deeper = "<body>";
    for (int i = 0; i < 100000; ++i)
        deeper += "<section>";
    const std::string path = tmp.path + "/deep.fb2";
    write_bytes(path, book(kDescription, deeper));
    tf::FB2Reader refused;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(refused.open(path));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("invalid FictionBook file: " + path), std::string::npos) << log;
}

TEST(FB2Reader, ZippedBooks) {
    TempDir tmp;
    const std::string good = book();
    struct Case {
        const char* name;
        std::vector<ZipMember> members;
        bool opens;
        const char* log;
    } cases[] = {
        {"one.fb2.zip", {{"book.fb2", good}}, true, ""},
        {"stored.fb2.zip", {{"dir/Book.FB2", good, tf::ZipEntry::kStored}}, true, ""},
        {"mac.fb2.zip", {{"__MACOSX/._book.fb2", "junk"}, {"._x.fb2", "junk"}, {"book.fb2", good}, {"a.txt", "t"}},
         true, ""},
        {"named-plain.fb2", {{"book.fb2", good}}, true, ""},  // found by its bytes, not its name
        {"none.fb2.zip", {{"book.txt", good}}, false, "zip archive holds 0 .fb2 members, expected one: "},
        {"two.fb2.zip", {{"a.fb2", good}, {"b.fb2", good}}, false, "zip archive holds 2 .fb2 members, expected one: "},
        {"empty-member.fb2.zip", {{"book.fb2", ""}}, false, "cannot read book.fb2 from zip archive: "},
        {"not-fb2.fb2.zip", {{"book.fb2", "<html/>"}}, false, "invalid FictionBook file: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tmp.path + "/" + c.name;
        ASSERT_TRUE(write_zip(path, c.members));
        tf::FB2Reader reader;
        testing::internal::CaptureStderr();
        bool ok = reader.open(path) && reader.parse();
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok, c.opens) << log;
        if (c.opens) {
            EXPECT_EQ(reader.get_title(), "Tom & Jerry");
            EXPECT_EQ(reader.get_filename(), path);
            std::string out;
            EXPECT_EQ(reader.get_entry("#cover.png", out), "image/png");
            EXPECT_NE(body_page(reader).find("Chapter 1"), std::string::npos);
        } else {
            EXPECT_NE(log.find(std::string(c.log) + path), std::string::npos) << log;
        }
    }

    // A cut archive (no central directory) is refused with a log line.
    const std::string whole = tmp.path + "/whole.zip";
    ASSERT_TRUE(write_zip(whole, {{"book.fb2", good}}));
    std::string bytes;
    tf::file_get_contents(whole, bytes);
    const std::string cut = tmp.path + "/cut.fb2.zip";
    write_bytes(cut, bytes.substr(0, bytes.size() * 2 / 3));
    tf::FB2Reader reader;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reader.open(cut));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ERROR: "), std::string::npos) << log;
    EXPECT_NE(log.find(cut), std::string::npos) << log;
}

TEST(FB2Reader, ThroughTheFactory) {
    TempDir tmp;
    const std::string path = tmp.path + "/f.fb2";
    write_bytes(path, book());
    std::unique_ptr<tf::BaseReader> reader = tf::BaseReader::create_smart("fb2");
    ASSERT_TRUE(reader->open(path));
    ASSERT_TRUE(reader->parse());
    EXPECT_EQ(reader->get_title(), "Tom & Jerry");
    std::string cover;
    EXPECT_NE(reader->cover_page(cover).find("xlink:href=\"#cover.png\""), std::string::npos);
    EXPECT_EQ(cover, "#cover.png");
}
