#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "corpus.h"
#include "readers/xhtml/XmlDoc.h"
#include "readers/xhtml/XmlNodeRef.h"
#include "utility/String.h"
#include "utility/text.h"

using tf::XmlDoc;
using tf::XmlNodeRef;

namespace {

// Parses `text` and returns what the parse wrote to the standard error stream.
std::unique_ptr<XmlDoc> parse(const std::string& text, std::string* log = nullptr) {
    testing::internal::CaptureStderr();
    std::unique_ptr<XmlDoc> doc(new XmlDoc(text));
    std::string err = testing::internal::GetCapturedStderr();
    if (log)
        *log = err;
    return doc;
}

bool logged_parse_error(const std::string& log) {
    return log.rfind("ERROR: [", 0) == 0 && log.find("] XmlDoc(): Error parsing xml string (") != std::string::npos &&
           log.find('\n') == log.size() - 1;
}

std::string nested(int depth, const std::string& open = "<a>", const std::string& close = "</a>") {
    std::string text;
    text.reserve(static_cast<size_t>(depth) * (open.size() + close.size()));
    for (int i = 0; i < depth; ++i)
        text += open;
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

// The tree's content without the white space printing adds: element names with their
// attributes (last first), and the trimmed texts, in document order.
std::string content(const XmlNodeRef& node) {
    if (node.name().empty()) {
        std::string t = node.text();
        t = tf::trim(t);
        return t.empty() ? std::string() : "[" + t + "]";
    }
    std::string out = "<" + node.name();
    for (std::string a = node.next_attribute(""); !a.empty(); a = node.next_attribute(a))
        out += " " + a + "=" + node.attribute(a);
    out += ">";
    for (int i = 0; i < node.elements(); ++i) {
        XmlNodeRef child(node.getDocument());
        node.child(child, i);
        out += content(child);
    }
    return out + "</>";
}

} // namespace

// ---- Parsing, root and declaration ----

TEST(XmlDocParse, RootIsTheDocumentElement) {
    enum Root { Null, Empty, Element };
    struct Case {
        const char* text;
        Root root;
        const char* name;
        const char* encoding;
        bool error;
    };
    const std::vector<Case> cases = {
        {"<?xml version='1.0'?><a x='1'><b/></a>", Element, "a", "", false},
        {"<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<FictionBook/>", Element, "FictionBook",
         "windows-1251", false},
        // No declaration: still the element (valid OPF and FictionBook files look like this).
        {"<a><b/></a>", Element, "a", "", false},
        {"\xEF\xBB\xBF<package version=\"2.0\"/>", Element, "package", "", false},
        {"<!-- note --><!DOCTYPE html>\n<html><body/></html>", Element, "html", "", false},
        {"<?xml version='1.0'?><?xml-stylesheet href='a.css'?><!-- c --><root/>", Element, "root", "", false},
        // The encoding comes from the declaration only, never from the element.
        {"<a encoding='koi8-r'/>", Element, "a", "", false},
        {"  <?xml version='1.0' encoding='UTF-8' ?>  ", Empty, "", "UTF-8", false},
        {"", Null, "", "", false},
        {"   \n ", Null, "", "", false},
        {"<a>", Null, "", "", true},
        {"plain text", Null, "", "", true},
        {"<a x=1/>", Null, "", "", true},
        {"<a><b></a>", Null, "", "", true},
        {"<?xml version='1.0' encoding='UTF-8'?><a></a><", Null, "", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string log;
        auto doc = parse(c.text, &log);
        EXPECT_EQ(c.error, logged_parse_error(log)) << log;
        if (!c.error) {
            EXPECT_EQ(log, "");
        }
        EXPECT_EQ(doc->encoding(), c.encoding);
        XmlNodeRef* root = doc->root_node();
        switch (c.root) {
        case Null:
            EXPECT_EQ(root, nullptr);
            break;
        case Empty:
            ASSERT_NE(root, nullptr);
            EXPECT_TRUE(root->isEmpty());
            break;
        case Element:
            ASSERT_NE(root, nullptr);
            ASSERT_FALSE(root->isEmpty());
            EXPECT_EQ(root->name(), c.name);
            EXPECT_EQ(root->getDocument(), doc.get());
            break;
        }
    }
}

TEST(XmlDocParse, FailedDocumentAnswersEmpty) {
    auto doc = parse("<a><b>");
    XmlNodeRef out(doc.get());
    EXPECT_FALSE(doc->child(out, "b"));
    EXPECT_FALSE(doc->child(out, 0));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(doc->str(), "");
    int w = 5, h = 5;
    EXPECT_FALSE(doc->hasFixedViewPort(&w, &h));
    EXPECT_EQ(w, -1);
    EXPECT_EQ(h, -1);
}

TEST(XmlDocParse, TranslatesReferencesInItsOwnCopy) {
    const std::string text = "<a t=\"&lt;&#x41;&#233;&quot;\">x &amp; y<b/>z</a>";
    const std::string before = text;
    auto doc = parse(text);
    EXPECT_EQ(text, before);
    XmlNodeRef* root = doc->root_node();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->attribute("t"), "<A\xC3\xA9\"");
    EXPECT_EQ(root->text(), "x & y"); // the first text child only
    XmlNodeRef last(doc.get());
    ASSERT_TRUE(root->child(last, 2));
    EXPECT_EQ(last.text(), "z");
    EXPECT_EQ(last.name(), "");
}

// ---- Children and names ----

TEST(XmlNodeRefChildren, IndentationMakesNoNodesButTextDoes) {
    auto doc = parse("<?xml version=\"1.0\"?>\n<a>\n <b/>\n <c/>\n</a>");
    XmlNodeRef* a = doc->root_node();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->elements(), 2);
    EXPECT_EQ(a->text(), "");
    XmlNodeRef out(doc.get());
    ASSERT_TRUE(a->child(out, 1));
    EXPECT_EQ(out.name(), "c");
    out.setXmlSource(nullptr);
    ASSERT_TRUE(a->child(out, "c"));
    EXPECT_EQ(out.name(), "c");
    // Out of range leaves the output as it was.
    EXPECT_FALSE(a->child(out, 2));
    EXPECT_FALSE(a->child(out, -1));
    EXPECT_FALSE(a->child(out, "d"));
    EXPECT_EQ(out.name(), "c");

    auto mixed = parse("<a>\nx <b/>\n</a>");
    XmlNodeRef* m = mixed->root_node();
    ASSERT_EQ(m->elements(), 2);
    XmlNodeRef text(mixed.get());
    ASSERT_TRUE(m->child(text, 0));
    EXPECT_EQ(text.text(), "\nx ");
    EXPECT_EQ(text.name(), "");
    EXPECT_TRUE(m->child(text, 1));
    EXPECT_EQ(text.name(), "b");
}

TEST(XmlNodeRefChildren, PrefixedNamesMatchWhicheverComesFirst) {
    auto doc = parse("<p><x/><opf:metadata id='1'/><metadata id='2'/></p>");
    XmlNodeRef out(doc.get());
    ASSERT_TRUE(doc->child(out, "metadata", "opf"));
    EXPECT_EQ(out.attribute("id"), "1");
    ASSERT_TRUE(doc->child(out, "metadata", ""));
    EXPECT_EQ(out.attribute("id"), "2");
    auto plain_first = parse("<p><metadata id='2'/><opf:metadata id='1'/></p>");
    ASSERT_TRUE(plain_first->child(out, "metadata", "opf"));
    EXPECT_EQ(out.attribute("id"), "2");
    // Names are compared byte for byte.
    EXPECT_FALSE(doc->child(out, "METADATA", "opf"));
    EXPECT_FALSE(doc->child(out, "meta"));
}

TEST(XmlNodeRefChildren, ChildCanRepointItsOwnReference) {
    auto doc = parse("<a><b><c>deep</c></b></a>");
    XmlNodeRef ref = *doc->root_node();
    ASSERT_TRUE(ref.child(ref, 0));
    ASSERT_TRUE(ref.child(ref, "c"));
    EXPECT_EQ(ref.text(), "deep");
}

// ---- Attributes ----

TEST(XmlNodeRefAttributes, LookupIteratesAndSets) {
    auto doc = parse("<e a='1' HRef='x.html' c='3'/>");
    XmlNodeRef* e = doc->root_node();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->attributes(), 3);
    EXPECT_EQ(e->attribute("href"), "x.html");
    EXPECT_EQ(e->attribute("HREF"), "x.html");
    EXPECT_EQ(e->attribute("missing"), "");

    // From the last attribute to the first, then "".
    std::vector<std::string> names;
    for (std::string n = e->next_attribute(""); !n.empty(); n = e->next_attribute(n))
        names.push_back(n);
    EXPECT_EQ(names, (std::vector<std::string>{"c", "HRef", "a"}));
    EXPECT_EQ(e->next_attribute("nope"), "");
    EXPECT_EQ(e->next_attribute("href"), ""); // exact names here

    // setAttribute matches names exactly: "href" is a new attribute beside "HRef".
    e->setAttribute("a", "one");
    e->setAttribute("href", "y.html");
    EXPECT_EQ(e->attributes(), 4);
    EXPECT_EQ(e->attribute("a"), "one");
    EXPECT_EQ(e->attribute("href"), "x.html"); // still the first match ignoring case
    EXPECT_EQ(doc->str(), "<e a=\"one\" HRef=\"x.html\" c=\"3\" href=\"y.html\"/>\n");

    auto bare = parse("<e/>");
    EXPECT_EQ(bare->root_node()->next_attribute(""), "");
    EXPECT_EQ(bare->root_node()->attributes(), 0);
}

// ---- Moving around ----

TEST(XmlNodeRefNavigation, NextSiblingAndParent) {
    auto doc = parse("<r><a/>t<b/></r>");
    XmlNodeRef ref(doc.get());
    ASSERT_TRUE(doc->child(ref, 0));
    std::vector<std::string> seen{ref.name()};
    while (ref.next())
        seen.push_back(ref.name().empty() ? "#" + ref.text() : ref.name());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "#t", "b"}));
    EXPECT_EQ(ref.name(), "b"); // stays on the last one

    ASSERT_TRUE(doc->child(ref, 0));
    std::unique_ptr<XmlNodeRef> sibling(ref.next_sibling());
    ASSERT_NE(sibling, nullptr);
    EXPECT_EQ(sibling->text(), "t");
    ASSERT_TRUE(doc->child(ref, 2));
    std::unique_ptr<XmlNodeRef> none(ref.next_sibling());
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->isEmpty());

    XmlNodeRef up = ref.parent();
    EXPECT_EQ(up.name(), "r");
    EXPECT_EQ(up.elements(), 3);
    EXPECT_EQ(up.parent().getNode(), doc->document()); // above the top level: the document
    EXPECT_TRUE(up.parent().parent().isEmpty());
}

TEST(XmlNodeRefEmpty, EveryOperationAnswersEmpty) {
    auto doc = parse("<a/>");
    XmlNodeRef empty(doc.get());
    XmlNodeRef out(doc.get());
    out.setXmlSource(doc->root_node()->getNode());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.name(), "");
    EXPECT_EQ(empty.text(), "");
    EXPECT_EQ(empty.attribute("x"), "");
    EXPECT_EQ(empty.next_attribute(""), "");
    EXPECT_EQ(empty.attributes(), 0);
    EXPECT_EQ(empty.elements(), 0);
    EXPECT_FALSE(empty.next());
    EXPECT_FALSE(empty.child(out, 0));
    EXPECT_FALSE(empty.child(out, "a"));
    EXPECT_EQ(out.name(), "a");
    std::unique_ptr<XmlNodeRef> sibling(empty.next_sibling());
    EXPECT_TRUE(sibling->isEmpty());
    EXPECT_TRUE(empty.parent().isEmpty());
    empty.setText("t");
    empty.setAttribute("k", "v");
    empty.append(&out);
    empty.remove();
    testing::internal::CaptureStdout();
    empty.dump(3);
    empty.print();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "nodeName=\n");
    // A reference without a document (or a node made elsewhere) changes nothing either.
    XmlNodeRef loose;
    EXPECT_TRUE(loose.isEmpty());
    EXPECT_EQ(loose.getDocument(), nullptr);
    EXPECT_EQ(doc->str(), "<a/>\n");
}

// ---- Printing ----

TEST(XmlDocPrint, StrPrintsTheElementWithTabsAndEscapes) {
    auto doc = parse("<?xml version=\"1.0\"?><a x=\"1&amp;2\" y='q\"'><b>t&lt;</b><c/>tail<d>x<e/></d></a>");
    EXPECT_EQ(doc->str(),
              "<a x=\"1&amp;2\" y='q\"'>\n"
              "\t<b>t&lt;</b>\n"
              "\t<c/>\n"
              "\ttail\n"
              "\t<d>\n"
              "\t\tx\n"
              "\t\t<e/>\n"
              "\t</d>\n"
              "</a>\n");
    // What str() prints parses back to the same content.
    auto again = parse(doc->str());
    ASSERT_NE(again->root_node(), nullptr);
    EXPECT_EQ(content(*again->root_node()), content(*doc->root_node()));
    EXPECT_EQ(content(*doc->root_node()), "<a y=q\" x=1&2><b>[t<]</><c></>[tail]<d>[x]<e></></></>");
}

TEST(XmlDocPrint, DumpWritesTheSubtree) {
    auto doc = parse("<a><b>t</b><c/></a>");
    testing::internal::CaptureStdout();
    doc->dump();
    doc->root_node()->print();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "<a:1>(2)\n"
              "\t<b:1>(1)\n"
              "\t\t<:2>\"t\"\n"
              "\t<c:1>(0)\n"
              "nodeName=a\n");
}

// ---- Changing the tree ----

TEST(XmlDocChange, MakeAppendInsertRemove) {
    auto doc = parse("<r><a/><b/></r>");
    XmlNodeRef* r = doc->root_node();
    {
        std::string name = "x";
        XmlNodeRef x = doc->make_node(name, "");
        name = "changed"; // the node keeps its own copy
        EXPECT_EQ(x.name(), "x");
        EXPECT_EQ(x.parent().getNode(), nullptr);
        EXPECT_FALSE(x.next());
        r->append(&x, 1);
        x.setAttribute("k", "v");
        x.setText("hi");
        EXPECT_EQ(x.elements(), 1);
    }
    EXPECT_EQ(r->elements(), 3); // the reference that changed sees its new child
    EXPECT_EQ(doc->str(), "<r>\n\t<a/>\n\t<x k=\"v\">hi</x>\n\t<b/>\n</r>\n");

    XmlNodeRef tail = doc->make_node("z", "", rapidxml::node_element);
    r->append(&tail); // -1: last
    XmlNodeRef nowhere = doc->make_node("n", "");
    r->append(&nowhere, 10); // no such child: nothing happens
    r->append(&nowhere, -2);
    EXPECT_EQ(r->elements(), 4);
    EXPECT_EQ(nowhere.parent().getNode(), nullptr);

    // Appending an attached node moves it.
    XmlNodeRef a(doc.get());
    ASSERT_TRUE(r->child(a, "a"));
    r->append(&a);
    EXPECT_EQ(doc->str(), "<r>\n\t<x k=\"v\">hi</x>\n\t<b/>\n\t<z/>\n\t<a/>\n</r>\n");

    // A node never goes inside itself or its own subtree.
    XmlNodeRef x(doc.get());
    ASSERT_TRUE(r->child(x, "x"));
    x.append(r);
    x.append(&x);
    EXPECT_EQ(r->parent().getNode(), doc->document());

    x.remove();
    EXPECT_EQ(doc->str(), "<r>\n\t<b/>\n\t<z/>\n\t<a/>\n</r>\n");

    // The document removes only its own top-level nodes.
    XmlNodeRef b(doc.get());
    ASSERT_TRUE(r->child(b, "b"));
    doc->remove(b);
    EXPECT_EQ(b.parent().getNode(), r->getNode());
    doc->remove(*r);
    EXPECT_EQ(doc->str(), "<r>\n\t<b/>\n\t<z/>\n\t<a/>\n</r>\n"); // the root reference keeps its node
    EXPECT_EQ(doc->document()->first_node(), nullptr);
}

// ---- Re-encoding ----

TEST(XmlDocCopy, SameEncodingOnlyAddsTheDeclaration) {
    auto doc = parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>");
    std::unique_ptr<XmlDoc> same(doc->copy("UTF-8"));
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(same->encoding(), "UTF-8");
    EXPECT_EQ(same->str(), doc->str());
    std::unique_ptr<XmlDoc> unnamed(doc->copy(""));
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->encoding(), "UTF-8");

    // A name that differs byte for byte runs the converter and declares the new name.
    std::unique_ptr<XmlDoc> lower(doc->copy("utf-8"));
    ASSERT_NE(lower, nullptr);
    EXPECT_EQ(lower->encoding(), "utf-8");
    EXPECT_EQ(lower->root_node()->text(), "\xC3\xA9");
}

TEST(XmlDocCopy, ConvertsFromTheDeclaredEncoding) {
    struct Case {
        std::string text;
        const char* target;
        std::string element_text;
    };
    const std::vector<Case> cases = {
        // Cyrillic А Б in windows-1251 and koi8-r.
        {"<?xml version=\"1.0\" encoding=\"windows-1251\"?><p>\xC0\xC1</p>", "utf-8", "\xD0\x90\xD0\x91"},
        {"<?xml version='1.0' encoding='koi8-r'?><p>\xE1\xE2</p>", "UTF-8", "\xD0\x90\xD0\x91"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><p>\xD0\x90\xD0\x91</p>", "windows-1251", "\xC0\xC1"},
        // What the target cannot represent is dropped; the rest survives.
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><p>a\xC3\xA9z\xE2\x82\xAC!</p>", "ASCII", "az!"},
        // Malformed input is dropped as well.
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><p>a\xFF" "b</p>", "utf-8", "ab"},
        // No declaration: XML's default, UTF-8.
        {"<p>\xD0\x90</p>", "windows-1251", "\xC0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto doc = parse(c.text);
        std::unique_ptr<XmlDoc> copy(doc->copy(c.target));
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->encoding(), c.target);
        ASSERT_NE(copy->root_node(), nullptr);
        EXPECT_EQ(copy->root_node()->text(), c.element_text);
    }
}

TEST(XmlDocCopy, LargeGrowthIsConvertedCompletely) {
    // Each ellipsis (one byte in windows-1251) becomes three bytes of UTF-8: far more
    // output than input, and all of it must arrive.
    const int count = 100000;
    const std::string body = "start" + std::string(count, '\x85') + "end";
    auto doc = parse("<?xml version=\"1.0\" encoding=\"windows-1251\"?><p>" + body + "</p>");
    std::unique_ptr<XmlDoc> utf8(doc->copy("UTF-8"));
    ASSERT_NE(utf8, nullptr);
    ASSERT_NE(utf8->root_node(), nullptr);
    const std::string text = utf8->root_node()->text();
    EXPECT_EQ(text.size(), 5 + 3 * static_cast<size_t>(count) + 3);
    EXPECT_EQ(text.substr(5, 3), "\xE2\x80\xA6");
    EXPECT_EQ(text.substr(text.size() - 3), "end");
    std::unique_ptr<XmlDoc> back(utf8->copy("windows-1251"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->str(), doc->str());
}

TEST(XmlDocCopy, DroppedCharactersDoNotEndTheConversion) {
    // glibc may stop after dropping characters and report it as an error midway;
    // everything after that point must still arrive.
    std::string body, expected;
    for (int i = 0; i < 30000; ++i) {
        body += "x\xC3\xA9";
        expected += "x";
    }
    auto doc = parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?><p>" + body + "<q/>end</p>");
    std::unique_ptr<XmlDoc> ascii(doc->copy("ASCII"));
    ASSERT_NE(ascii, nullptr);
    ASSERT_NE(ascii->root_node(), nullptr);
    // Printing indents mixed content; the letters themselves must all be there.
    std::string text = ascii->root_node()->text();
    EXPECT_EQ(tf::trim(text), expected);
    XmlNodeRef end(ascii.get());
    ASSERT_TRUE(ascii->child(end, 2));
    text = end.text();
    EXPECT_EQ(tf::trim(text), "end");
}

TEST(XmlDocCopy, UnknownEncodingFails) {
    auto doc = parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?><p>x</p>");
    testing::internal::CaptureStderr();
    std::unique_ptr<XmlDoc> copy(doc->copy("no-such-encoding"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(err.rfind("iconv_open: ", 0), 0u) << err;

    auto bogus = parse("<?xml version=\"1.0\" encoding=\"bogus-source\"?><p>x</p>");
    testing::internal::CaptureStderr();
    std::unique_ptr<XmlDoc> none(bogus->copy("UTF-8"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(none, nullptr);
}

// ---- Viewport ----

TEST(XmlDocViewport, ReadsMetaViewport) {
    struct Case {
        const char* head;
        int width;
        int height;
        bool fixed;
    };
    const std::vector<Case> cases = {
        {"<meta name='viewport' content='width=600, height=800'/>", 600, 800, true},
        {"<meta name='viewport' content='width=device-width'/>", 0, -1, true},
        {"<meta name='viewport' content='  HEIGHT = 1024 '/>", -1, 1024, true},
        {"<meta name='viewport' content='width=1,height=2'/><meta name='viewport' content='width=3'/>", 3, 2, true},
        {"<meta name='Viewport' content='width=600'/>", -1, -1, false},
        {"<meta name='viewport' content='initial-scale=1'/>", -1, -1, false},
        {"<meta name='viewport' content='width'/>", -1, -1, false},
        {"<title>t</title><meta charset='utf-8'/>", -1, -1, false},
        {"<meta NAME='viewport' CONTENT='width=10'/>", 10, -1, true}, // attribute names ignore case
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head);
        auto doc = parse(std::string("<html><head>") + c.head + "</head><body/></html>");
        int w = 7, h = 7;
        EXPECT_EQ(doc->hasFixedViewPort(&w, &h), c.fixed);
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
    }
    auto headless = parse("<html><body/></html>");
    int w = 7, h = 7;
    EXPECT_FALSE(headless->hasFixedViewPort(&w, &h));
    EXPECT_EQ(w, -1);
    EXPECT_EQ(h, -1);
    EXPECT_FALSE(headless->hasFixedViewPort(nullptr, nullptr));
}

// ---- Nesting depth ----

TEST(XmlDocDepth, DeepNestingIsRefusedQuickly) {
    const auto start = std::chrono::steady_clock::now();
    std::string log;
    auto doc = parse(nested(300000), &log);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(doc->root_node(), nullptr);
    EXPECT_TRUE(logged_parse_error(log)) << log;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 2000);
}

TEST(XmlDocDepth, LimitIsExact) {
    auto at_limit = parse(nested(XmlDoc::kMaxDepth));
    ASSERT_NE(at_limit->root_node(), nullptr);
    // The deepest document accepted also prints and converts.
    EXPECT_NE(at_limit->str().find("<a/>"), std::string::npos);
    std::unique_ptr<XmlDoc> copy(at_limit->copy("ISO-8859-1"));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->root_node(), nullptr);

    std::string log;
    auto over = parse(nested(XmlDoc::kMaxDepth + 1), &log);
    EXPECT_EQ(over->root_node(), nullptr);
    EXPECT_TRUE(logged_parse_error(log));

    // Siblings do not add up: only nesting counts.
    std::string wide = "<r>";
    for (int i = 0; i < 5000; ++i)
        wide += "<p><b>x</b><br/></p>";
    wide += "</r>";
    EXPECT_NE(parse(wide)->root_node(), nullptr);
}

TEST(XmlDocDepth, MarkupHiddenInTextIsNotCounted) {
    const int over = XmlDoc::kMaxDepth + 10;
    std::string many_opens, many_closes;
    for (int i = 0; i < over; ++i) {
        many_opens += "<a>";
        many_closes += "</a>";
    }
    struct Case {
        std::string text;
        bool accepted;
    };
    const std::vector<Case> cases = {
        // Tags inside attribute values, comments, CDATA, processing instructions and the
        // DOCTYPE are text to the parser: they neither deepen...
        {"<r x=\"" + many_opens + "\"/>", true},
        {"<r y='" + many_opens + "'/>", true},
        {"<r><!--" + many_opens + "--></r>", true},
        {"<r><![CDATA[" + many_opens + "]]></r>", true},
        {"<r><?pi " + many_opens + "?></r>", true},
        {"<!DOCTYPE r [ <!ENTITY e '" + many_opens + "'> ]><r/>", true},
        {"<?xml version='1.0' encoding='" + many_opens + "'?><r/>", true},
        // ...nor close elements that are really open.
        {"<r x=\"" + many_closes + "\">" + nested(over) + "</r>", false},
        {many_opens.substr(0, 3 * 10) + "<!--" + many_closes + "-->" + nested(over), false},
        {"<r><![CDATA[" + many_closes + "]]>" + nested(over) + "</r>", false},
        {"<?xml version='1.0' encoding='?>" + many_closes + "'?>" + nested(over), false},
        {"<!DOCTYPE r [" + many_closes + "]>" + nested(over), false},
        // Depth is counted across top-level siblings too.
        {"<a/>" + nested(over), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        auto doc = parse(c.text);
        EXPECT_EQ(doc->root_node() != nullptr, c.accepted);
    }
}

// ---- Real books ----

TEST(XmlDocCorpus, ParsesRealDocuments) {
    struct Case {
        const char* file;
        const char* root;
        const char* encoding;
    };
    const std::vector<Case> cases = {
        {"fb2-fb2cng-_Test.fb2", "FictionBook", "utf-8"},
        {"fb2-fbe-script-description-cp1251.fb2", "FictionBook", "windows-1251"},
        {"fb2-wolnelektury-asnyk-no-description.fb2", "FictionBook", ""},
        {"svg-idpf-Tsuru_wiki-1b.svg", "svg", "UTF-8"},
        {"xhtml-se-devils-dictionary-a.xhtml", "html", "utf-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string text;
        tf::file_get_contents(corpus_path(c.file), text);
        ASSERT_FALSE(text.empty());
        std::string log;
        auto doc = parse(text, &log);
        EXPECT_EQ(log, "");
        ASSERT_NE(doc->root_node(), nullptr);
        EXPECT_EQ(doc->root_node()->name(), c.root);
        EXPECT_EQ(doc->encoding(), c.encoding);
    }
}

TEST(XmlDocCorpus, WindowsCyrillicBookRoundTripsThroughUtf8) {
    std::string text;
    tf::file_get_contents(corpus_path("fb2-fbe-script-description-cp1251.fb2"), text);
    auto doc = parse(text);
    ASSERT_NE(doc->root_node(), nullptr);
    std::unique_ptr<XmlDoc> utf8(doc->copy("utf-8"));
    ASSERT_NE(utf8, nullptr);
    ASSERT_NE(utf8->root_node(), nullptr);
    EXPECT_EQ(utf8->encoding(), "utf-8");
    XmlNodeRef description(utf8.get());
    EXPECT_TRUE(utf8->child(description, "description"));
    // The text is now valid UTF-8 with Cyrillic letters in it...
    const tf::String wide = tf::String::utf2wide(utf8->str().data(), static_cast<int>(utf8->str().size()));
    EXPECT_EQ(wide.find(std::wstring(1, wchar_t(0xFFFD))), std::wstring::npos);
    EXPECT_NE(wide.find(L"\u0420\u0435"), std::wstring::npos); // "Ре"
    // ...and nothing was lost on the way there and back.
    std::unique_ptr<XmlDoc> back(utf8->copy("windows-1251"));
    ASSERT_NE(back, nullptr);
    ASSERT_NE(back->root_node(), nullptr);
    EXPECT_EQ(content(*back->root_node()), content(*doc->root_node()));
}
