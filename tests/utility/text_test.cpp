#include <gtest/gtest.h>

#include "utility/String.h"
#include "utility/text.h"

using tf::String;

TEST(StringTest, ByteExactConversionsRoundTrip) {
    EXPECT_EQ(String("abc").str(), "abc");
    String e(std::string("\xC3\xA9"));
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0], 0xC3);
    EXPECT_EQ(e[1], 0xA9);
    EXPECT_EQ(e.str(), "\xC3\xA9");
    EXPECT_TRUE(String(static_cast<const char*>(nullptr)).empty());
    EXPECT_EQ(String(std::string("ab\0cd", 5)).str(), "ab");
}

TEST(StringTest, NarrowingAbove255UsesReplacementByte) {
    String s(L"a\u0416b");
    EXPECT_EQ(s.str(), std::string("a") + String::kNarrowReplacement + "b");
}

TEST(StringTest, Utf8DecodingAndEncoding) {
    struct Case {
        std::string bytes;
        std::wstring wide;
    } cases[] = {
        {"\xC3\xA9", L"\u00E9"},
        {"a\xE2\x82\xAC", L"a\u20AC"},
        {"\xF0\x9F\x98\x80", L"\U0001F600"},
        {"\xFF", L"\uFFFD"},                 // invalid lead byte
        {"\xC3", L"\uFFFD"},                 // truncated sequence
        {"\xC0\xAF", L"\uFFFD\uFFFD"},       // overlong form
        {"\xED\xA0\x80x", L"\uFFFDx"},       // surrogate
        {"\xE2\x82" "a", L"\uFFFDa"},        // continuation missing
    };
    for (const auto& c : cases) {
        String w = String::utf2wide(c.bytes.data(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(static_cast<std::wstring>(w), c.wide) << c.bytes;
    }
    EXPECT_EQ(String(L"a\u00E9\u20AC\U0001F600").utf8(), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_TRUE(String::utf2wide(nullptr, 4).empty());
}

TEST(StringTest, WideHelpers) {
    String latin(std::string("\xC4" "B"));
    EXPECT_EQ(latin.lc(), String(std::string("\xC4" "b")));
    EXPECT_EQ(String("aB1").uc(), String("AB1"));
    EXPECT_EQ(String("\t x\r\n").trim(), String("x"));
    EXPECT_TRUE(String("abc").endsWith(String("bc")));
    EXPECT_FALSE(String("c").endsWith(String("abc")));
    EXPECT_EQ(String("abcdef").substring(2, 10), String("cdef"));
    EXPECT_THROW(String("ab").substring(5, 1), std::out_of_range);
    EXPECT_EQ(String("a,b").find(L"b", 0), 2u);
}

TEST(TextTest, ExplodeAtOneCharacter) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a,,b", {"a", "b"}},
        {" a , b ", {"a", "b"}},
        {"a, ,b", {"a", "", "b"}},
        {"", {}},
        {"  x  ", {"x"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tf::explode(c.text, ','), c.pieces) << c.text;
        std::vector<std::string> wide;
        for (const String& s : String(c.text).explode(L','))
            wide.push_back(s.str());
        EXPECT_EQ(wide, c.pieces) << c.text;
    }
}

TEST(TextTest, ExplodeAtSeveralBytes) {
    std::vector<std::string> out;
    tf::explode2(" a :: b ", "::", out);
    EXPECT_EQ(out, (std::vector<std::string>{"a", "b "}));
    out.clear();
    tf::explode2("::x", "::", out);
    EXPECT_EQ(out, (std::vector<std::string>{"", "x"}));
}

TEST(TextTest, TrimOnlySixWhiteSpaceCharacters) {
    std::string t = "\t x\r\n";
    EXPECT_EQ(tf::trim(t), "x");
    EXPECT_EQ(t, "\t x");  // trimmed at its end in place
    std::string nbsp = "\xA0x";
    EXPECT_EQ(tf::trim(nbsp), "\xA0x");
    std::string l = "  a ";
    EXPECT_EQ(tf::ltrim(l), "a ");
    EXPECT_EQ(l, "a ");
    std::string r = " a  ";
    EXPECT_EQ(tf::rtrim(r), " a");
}

TEST(TextTest, ShortifyAndBase64) {
    EXPECT_EQ(tf::shortify("abcdefghij", 4), "ab..ij");
    EXPECT_EQ(tf::shortify("abcdefghij", 5), "ab..ij");
    EXPECT_EQ(tf::shortify("abc", 3), "abc");
    EXPECT_EQ(tf::base64_decode("QQ=="), "A");
    EXPECT_EQ(tf::base64_decode("QU\nJD"), "ABC");
    EXPECT_EQ(tf::base64_decode(""), "");
    EXPECT_EQ(tf::base64_decode("Q"), "");  // incomplete group dropped
    EXPECT_EQ(tf::base64_decode("QUJ=D"), "ABC");
}

TEST(TextTest, SmallHelpers) {
    EXPECT_EQ(tf::str2lower("AbC\xC4"), "abc\xC4");
    EXPECT_EQ(tf::str2int("  -42abc", 16), -42);
    EXPECT_EQ(tf::str2int("x", 10), 0);
    EXPECT_EQ(tf::str2int("99999999999999999999", 10), 2147483647);
    EXPECT_TRUE(tf::beginsWith("abc", "ab"));
    EXPECT_TRUE(tf::beginsWith("abc", ""));
    EXPECT_FALSE(tf::beginsWith("a", "ab"));
    EXPECT_TRUE(tf::endsWith("abc", "bc"));
    EXPECT_FALSE(tf::endsWith("c", "abc"));
    EXPECT_EQ(tf::str_replace("aaa", "a", "ba"), "bababa");
    EXPECT_EQ(tf::str_replace("abc", "", "x"), "abc");
    EXPECT_EQ(tf::ReplaceAll("a.b.c", ".", "::"), "a::b::c");
    EXPECT_EQ(tf::str2safe("a'b #c/d e"), "a_b__c_d_e");
    EXPECT_EQ(tf::str2id(""), 2166136261u);
    EXPECT_EQ(tf::str2id("a"), 3826002220u);
    EXPECT_EQ(tf::url_encode("a b/\xC3\xBC"), "a%20b/%C3%BC");
    EXPECT_EQ(tf::url_encode("\t"), "%09");
    EXPECT_EQ(tf::url_decode(tf::url_encode("/x/#?&%'\xC3\xBC.epub")), "/x/#?&%'\xC3\xBC.epub");
    EXPECT_EQ(tf::url_decode("100%"), "100%");
}

TEST(TextTest, XmlEscape) {
    EXPECT_EQ(tf::xml_escape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
    EXPECT_EQ(tf::xml_escape("\"q'", false), "\"q'");
    EXPECT_EQ(tf::xml_escape(std::string("x\x01\ty\x1F", 5)), "x \ty ");
    EXPECT_EQ(tf::xml_escape("\xC3\xA9"), "\xC3\xA9");
}

TEST(TextTest, IsNumeric) {
    int sign = 1;
    EXPECT_TRUE(tf::is_numeric("-12.5", &sign));
    EXPECT_EQ(sign, -1);
    EXPECT_FALSE(tf::is_numeric("-12"));
    EXPECT_FALSE(tf::is_numeric(""));
    EXPECT_FALSE(tf::is_numeric("-", &sign));
    EXPECT_FALSE(tf::is_numeric("1a"));
    sign = 1;
    EXPECT_TRUE(tf::is_numeric("3", &sign));
    EXPECT_EQ(sign, 1);
}
