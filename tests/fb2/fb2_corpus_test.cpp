// Every FictionBook of the shared corpus, and damaged copies made from them.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "corpus.h"
#include "fb2_test_support.h"
#include "readers/BaseReader.h"
#include "readers/FB2Reader.h"
#include "readers/xhtml/XmlDoc.h"
#include "utility/text.h"

namespace {

using Node = rapidxml::xml_node<char>;

const char* const kBooks[] = {
    "fb2-fb2cng-_Test.fb2",
    "fb2-fb2document-_Test_1-en.fb2",
    "fb2-fbe-script-description-cp1251.fb2",
    "fb2-wolnelektury-asnyk-no-description.fb2",
};

std::string read(const std::string& path) {
    std::string bytes;
    tf::file_get_contents(path, bytes);
    return bytes;
}

// The book read independently of the reader: the whole file through the XML
// document's own UTF-8 copy.
struct Source {
    std::unique_ptr<tf::XmlDoc> doc;
    const Node* root = nullptr;
    std::string body_text;    // all text of the main body
    std::string all_text;     // the main body's text, then that of the other bodies in order
    std::vector<std::string> top_titles;  // text of each titled top-level section of the main body
    std::string title;        // description/title-info/book-title, "" when absent
    std::string cover;        // coverpage image reference, "" when absent
    std::vector<std::pair<std::string, std::string>> binaries;  // id, content-type
};

std::string href_of(const Node* node) {
    for (const rapidxml::xml_attribute<char>* a = node->first_attribute(); a; a = a->next_attribute()) {
        std::string name(a->name(), a->name_size());
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ":href") == 0)
            return std::string(a->value(), a->value_size());
    }
    return "";
}

Source load_source(const std::string& bytes) {
    Source s;
    s.doc.reset(new tf::XmlDoc(bytes));
    std::string encoding = tf::str2lower(s.doc->encoding());
    if (!encoding.empty() && encoding != "utf-8")
        s.doc.reset(s.doc->copy("utf-8"));
    if (!s.doc || !s.doc->root_node() || s.doc->root_node()->isEmpty())
        return s;
    s.root = s.doc->root_node()->getNode();
    const Node* main = nullptr;
    for (const Node* n = s.root->first_node(); n; n = n->next_sibling()) {
        std::string name(n->name(), n->name_size());
        if (name == "body" && !n->first_attribute("name") && !main) {
            main = n;
            collect_text(n, s.body_text);
            for (const Node* c = n->first_node(); c; c = c->next_sibling()) {
                const Node* title = std::string(c->name(), c->name_size()) == "section" ? c->first_node("title")
                                                                                        : nullptr;
                std::string text;
                if (title)
                    collect_text(title, text);
                if (!without_space(text).empty())
                    s.top_titles.push_back(text);
            }
        }
        if (name == "binary")
            s.binaries.emplace_back(n->first_attribute("id")->value(), n->first_attribute("content-type")->value());
        if (name == "description") {
            const Node* info = n->first_node("title-info");
            const Node* title = info ? info->first_node("book-title") : nullptr;
            if (title)
                s.title = title->value();
            const Node* coverpage = info ? info->first_node("coverpage") : nullptr;
            const Node* image = coverpage ? coverpage->first_node("image") : nullptr;
            if (image)
                s.cover = href_of(image);
        }
    }
    s.all_text = s.body_text;
    for (const Node* n = s.root->first_node(); n; n = n->next_sibling())
        if (n != main && std::string(n->name(), n->name_size()) == "body")
            collect_text(n, s.all_text);
    return s;
}

bool looks_like_picture(const std::string& bytes) {
    return bytes.rfind("\x89PNG", 0) == 0 || bytes.rfind("\xFF\xD8", 0) == 0 || bytes.rfind("GIF8", 0) == 0;
}

// Checks one "data64:" entry against the binary it comes from.
void expect_picture(tf::BaseReader& reader, const std::string& ref, const std::string& type) {
    SCOPED_TRACE(ref);
    std::string out;
    EXPECT_EQ(reader.get_entry(ref, out), type);
    const std::string prefix = "data64:" + type + ":";
    ASSERT_EQ(out.compare(0, prefix.size(), prefix), 0) << out.substr(0, 60);
    const std::string decoded = tf::base64_decode(out.substr(prefix.size()));
    EXPECT_FALSE(decoded.empty());
    // The corpus holds deliberately damaged pictures; all others must be real ones.
    if (ref.find("broken") == std::string::npos && ref.find("-bad") == std::string::npos) {
        EXPECT_TRUE(looks_like_picture(decoded)) << ref;
    }
}

std::vector<std::string> page_image_refs(const Node* body) {
    std::vector<std::string> refs;
    std::vector<const Node*> stack{body};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        for (const Node* c = n->first_node(); c; c = c->next_sibling()) {
            if (c->type() != rapidxml::node_element)
                continue;
            if (std::string(c->name()) == "image")
                refs.push_back(c->first_attribute("xlink:href") ? c->first_attribute("xlink:href")->value() : "");
            stack.push_back(c);
        }
    }
    return refs;
}

} // namespace

TEST(FB2Corpus, EveryBookOpensWithItsTextTitleAndPictures) {
    for (const char* name : kBooks) {
        SCOPED_TRACE(name);
        const std::string path = corpus_path(name);
        const Source source = load_source(read(path));
        ASSERT_NE(source.root, nullptr);
        ASSERT_FALSE(source.body_text.empty());

        std::unique_ptr<tf::BaseReader> reader = tf::BaseReader::create_smart("fb2");
        testing::internal::CaptureStderr();
        ASSERT_TRUE(reader->open(path));
        ASSERT_TRUE(reader->parse());
        std::string title = reader->get_title();
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
        EXPECT_EQ(title, source.title.empty() ? reader->default_title() : source.title);

        // Every body is shown: the entries' pages together hold all of the
        // book's text, in order; nothing lost, nothing added but white space.
        const tf::pair_list_t spine = reader->spine();
        ASSERT_FALSE(spine.empty());
        std::string text, view_text;
        std::vector<std::string> refs;
        for (const auto& entry : spine) {
            SCOPED_TRACE(entry.first);
            std::string page;
            EXPECT_EQ(reader->get_entry(entry.first, page), "html");
            tf::XmlDoc doc(page);
            const Node* body = page_body(doc);
            ASSERT_NE(body, nullptr) << page.substr(0, 300);
            collect_text(body, text);
            HtmlView view = html_view(page);
            view_text += view.text;
            EXPECT_EQ(view.raw_text_elements, 0);
            EXPECT_EQ(view.nonempty_empty_lines, 0);
            for (const std::string& ref : page_image_refs(body))
                refs.push_back(ref);
        }
        EXPECT_EQ(without_space(text), without_space(source.all_text));
        EXPECT_EQ(without_space(view_text), without_space(source.all_text));
        // A contents line, at the top level, for every titled top-level section.
        const tf::pair_list_t toc = reader->toc();
        const std::vector<unsigned> depths = reader->toc_depths();
        ASSERT_EQ(toc.size(), depths.size());
        std::set<std::string> top_labels;
        for (size_t i = 0; i < toc.size(); ++i)
            if (depths[i] == 0)
                top_labels.insert(without_space(toc[i].second));
        for (const std::string& title : source.top_titles)
            EXPECT_TRUE(top_labels.count(without_space(title))) << title;

        // The old single entry's name opens the first entry.
        std::string home, first;
        reader->get_entry("home", home);
        reader->get_entry(spine.front().first, first);
        EXPECT_EQ(home, first);

        // Every binary, and every picture the page shows, comes out as decodable text.
        std::set<std::string> ids;
        for (const auto& binary : source.binaries) {
            expect_picture(*reader, "#" + binary.first, binary.second);
            ids.insert("#" + binary.first);
        }
        for (const std::string& ref : refs) {
            EXPECT_EQ(ref.rfind("#", 0), 0u) << ref;
            EXPECT_TRUE(ids.count(ref)) << ref;
        }

        std::string cover;
        testing::internal::CaptureStderr();
        const std::string cover_page = reader->cover_page(cover);
        testing::internal::GetCapturedStderr();
        tf::XmlDoc cover_doc(cover_page);
        ASSERT_NE(cover_doc.root_node(), nullptr);
        EXPECT_FALSE(cover_doc.root_node()->isEmpty());
        EXPECT_EQ(cover, source.cover);
        if (!source.cover.empty()) {
            EXPECT_NE(cover_page.find("xlink:href=\"" + source.cover + "\""), std::string::npos);
        }
        reader->close();
    }
}

TEST(FB2Corpus, BookWithoutDescription) {
    const std::string path = corpus_path("fb2-wolnelektury-asnyk-no-description.fb2");
    std::unique_ptr<tf::BaseReader> reader = tf::BaseReader::create_smart("fb2");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader->open(path));
    ASSERT_TRUE(reader->parse());
    const std::string title = reader->get_title();
    std::string cover = "none";
    const std::string cover_page = reader->cover_page(cover);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(title, "untitled_" + std::to_string(path.size()));
    EXPECT_EQ(cover_page, "<html><body><h1>" + title + "</h1><p>" + title + "</p></body></html>");
    EXPECT_EQ(cover, "none");
    for (const char* line : {"WARN : ", "parse(): no description element found", "get_title(): no title-info element found",
                             "cover_page(): no title-info element found"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    std::string page;
    reader->get_entry("", page);
    EXPECT_NE(page.find("<stanza><v>Między nami nic nie było!</v>"), std::string::npos) << page;
    // The notes body is an entry of its own.
    EXPECT_EQ(page.find("przypis edytorski"), std::string::npos);
    ASSERT_EQ(reader->spine().size(), 2u);
    reader->get_entry(reader->spine()[1].first, page);
    EXPECT_NE(page.find("przypis edytorski"), std::string::npos) << page;
}

TEST(FB2Corpus, Windows1251Book) {
    std::unique_ptr<tf::BaseReader> reader = tf::BaseReader::create_smart("fb2");
    ASSERT_TRUE(reader->open(corpus_path("fb2-fbe-script-description-cp1251.fb2")));
    ASSERT_TRUE(reader->parse());
    EXPECT_EQ(reader->get_title(), "Скрипт «Изменить дескрипшен» v.1.1 (описание)");
    // Its first top-level section is a picture, the second opens its own entry.
    std::string page;
    reader->get_entry("section-1", page);
    EXPECT_NE(page.find("<image xlink:href=\"#i_001.png\"></image>"), std::string::npos);
    EXPECT_EQ(page.find("КРАТКОЕ ОПИСАНИЕ"), std::string::npos);
    reader->get_entry("section-2", page);
    EXPECT_NE(page.find("<div class=\"title\"><p>КРАТКОЕ ОПИСАНИЕ</p></div>"), std::string::npos);
    std::string cover;
    reader->cover_page(cover);
    EXPECT_EQ(cover, "#cover.jpg");
}

TEST(FB2Corpus, ZippedCopyOpensLikeTheBook) {
    TempDir tmp;
    for (const char* name : kBooks) {
        SCOPED_TRACE(name);
        const std::string bytes = read(corpus_path(name));
        const std::string zipped = tmp.path + "/" + name + ".zip";
        ASSERT_TRUE(write_zip(zipped, {{std::string("books/") + name, bytes}}));

        std::unique_ptr<tf::BaseReader> plain = tf::BaseReader::create_smart("fb2");
        std::unique_ptr<tf::BaseReader> packed = tf::BaseReader::create_smart("fb2");
        testing::internal::CaptureStderr();
        ASSERT_TRUE(plain->open(corpus_path(name)) && plain->parse());
        ASSERT_TRUE(packed->open(zipped) && packed->parse());
        EXPECT_EQ(packed->get_filename(), zipped);
        std::string a, b;
        plain->get_entry("", a);
        packed->get_entry("", b);
        EXPECT_EQ(a, b);
        std::string plain_cover, packed_cover;
        plain->cover_page(plain_cover);
        packed->cover_page(packed_cover);
        EXPECT_EQ(plain_cover, packed_cover);
        const std::string plain_title = plain->get_title();
        testing::internal::GetCapturedStderr();
        if (std::string(name).find("no-description") == std::string::npos) {
            EXPECT_EQ(packed->get_title(), plain_title);
        }
    }
}

// Damaged copies: cut short, pictures removed, pictures garbled. Refused with a log line
// or opened; never a crash (also under the sanitizers).
TEST(FB2Corpus, DamagedCopiesNeverCrash) {
    TempDir tmp;
    for (const char* name : kBooks) {
        SCOPED_TRACE(name);
        const std::string bytes = read(corpus_path(name));

        for (int percent : {1, 10, 50, 90, 99}) {
            SCOPED_TRACE(percent);
            const std::string path = tmp.path + "/cut.fb2";
            write_bytes(path, bytes.substr(0, bytes.size() * percent / 100));
            tf::FB2Reader reader;
            testing::internal::CaptureStderr();
            bool ok = reader.open(path) && reader.parse();
            std::string page;
            if (ok)
                reader.get_entry(reader.spine().at(0).first, page);
            std::string log = testing::internal::GetCapturedStderr();
            // A cut book shows what stands of it, marked damaged; one cut
            // before any text of its body is refused.
            if (ok) {
                EXPECT_TRUE(reader.is_damaged());
                EXPECT_NE(log.find("WARN : "), std::string::npos) << log;
                EXPECT_NE(page.find("</body>"), std::string::npos);
            } else {
                EXPECT_NE(log.find("ERROR: "), std::string::npos) << log;
            }
            if (percent >= 50 && bytes.find("<body") < bytes.size() / 4) {
                EXPECT_TRUE(ok) << log;
            }
        }

        // Without its binaries the book opens; its pictures and cover are simply not there.
        std::string stripped = bytes;
        for (size_t at; (at = stripped.find("<binary")) != std::string::npos;) {
            size_t end = stripped.find("</binary>", at);
            ASSERT_NE(end, std::string::npos);
            stripped.erase(at, end + 9 - at);
        }
        const std::string no_pictures = tmp.path + "/no-pictures.fb2";
        write_bytes(no_pictures, stripped);
        tf::FB2Reader reader;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(reader.open(no_pictures) && reader.parse());
        std::string cover = "none", out;
        const std::string cover_page = reader.cover_page(cover);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(cover, "none");
        EXPECT_EQ(cover_page.rfind("<html><body><h1>", 0), 0u);
        EXPECT_EQ(reader.get_entry("#cover.jpg", out), "html");

        // Garbled base64 is handed out as stored; decoding it is harmless.
        std::string garbled = bytes;
        for (size_t at = 0; (at = garbled.find("<binary", at)) != std::string::npos;) {
            size_t start = garbled.find('>', at) + 1;
            size_t end = garbled.find('<', start);
            for (size_t i = start; i < end; i += 7)
                garbled[i] = (i % 3) ? '*' : '=';
            at = start;
        }
        const std::string bad_pictures = tmp.path + "/bad-pictures.fb2";
        write_bytes(bad_pictures, garbled);
        tf::FB2Reader damaged;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(damaged.open(bad_pictures) && damaged.parse());
        testing::internal::GetCapturedStderr();
        const Source source = load_source(garbled);
        for (const auto& binary : source.binaries) {
            std::string data;
            EXPECT_EQ(damaged.get_entry("#" + binary.first, data), binary.second);
            tf::base64_decode(data.substr(data.find(':', 7) + 1));
        }
    }
}
