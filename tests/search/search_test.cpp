// Whole-book search: folding, extraction, offsets, and counts on real books
// checked against a count made another way (tags stripped, forms counted).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "corpus.h"
#include "readers/BaseReader.h"
#include "src/BookSearch.h"
#include "src/BookTextCache.h"
#include "src/EntryText.h"
#include "utility/FoldedText.h"

using namespace tf;

namespace {

std::u32string U(const std::string& s) {
    return FoldedText::decode(s);
}

size_t countHits(const std::string& markup, const std::string& phrase,
                 FoldedText::Mode mode = FoldedText::LOOSE) {
    BookSearch::Options options;
    options.mode = mode;
    return BookSearch::find(EntryText::extract(markup), FoldedText::query(phrase, mode), 0, options).size();
}

// Every hit covers text that folds to the query itself.
void expectHitsCoverQuery(const std::u32string& text, const std::vector<BookSearch::Hit>& hits,
                          const std::u32string& query, FoldedText::Mode mode) {
    for (const auto& hit : hits) {
        ASSERT_LE(hit.offset + hit.length, text.size());
        const FoldedText covered(text.substr(hit.offset, hit.length), mode);
        EXPECT_EQ(covered.text(), query) << "at " << hit.offset;
        EXPECT_EQ(FoldedText::encode(text, hit.offset, hit.offset + hit.length), hit.match);
    }
}

} // namespace

TEST(FoldedText, QueriesOverSmallPages) {
    struct Case {
        const char* markup;
        const char* phrase;
        FoldedText::Mode mode;
        size_t count;
    };
    const Case cases[] = {
        // accents and case
        {"<p>Natásha and NATASHA and natasha</p>", "natasha", FoldedText::LOOSE, 3},
        {"<p>Natásha and NATASHA and natasha</p>", "Natásha", FoldedText::LOOSE, 3},
        {"<p>Natásha and NATASHA and natasha</p>", "Natásha", FoldedText::EXACT, 1},
        {"<p>Nata\xcc\x81sha (decomposed)</p>", "Natásha", FoldedText::EXACT, 1},
        {"<p>CAFÉ, café, Cafe</p>", "cafe", FoldedText::LOOSE, 3},
        {"<p>CAFÉ, café, Cafe</p>", "café", FoldedText::EXACT, 1},
        // sharp s, ligatures, typographic apostrophes
        {"<p>Straße STRASSE strasse</p>", "strasse", FoldedText::LOOSE, 3},
        {"<p>Straße</p>", "STRASSE", FoldedText::EXACT, 0},
        {"<p>e\xef\xac\x83 cient</p>", "effi", FoldedText::LOOSE, 1},
        {"<p>don’t and don't</p>", "don't", FoldedText::LOOSE, 2},
        // white space, inline elements, blocks
        {"<p>the  white\n\t whale</p>", "white whale", FoldedText::LOOSE, 1},
        {"<p>the <em>white</em> <b>wh</b>ale</p>", "white whale", FoldedText::LOOSE, 1},
        {"<p>the white</p><p>whale</p>", "white whale", FoldedText::LOOSE, 0},
        {"<p>the white<br/>whale</p>", "white whale", FoldedText::LOOSE, 1},
        {"<p>soft\xc2\xadhyphen</p>", "softhyphen", FoldedText::LOOSE, 1},
        {"<p>non\xc2\xa0" "breaking</p>", "non breaking", FoldedText::EXACT, 1},
        // what is not read
        {"<html><head><title>whale</title><style>p.whale{}</style></head><body><p>whale</p>"
         "<script>var whale;</script></body></html>",
         "whale", FoldedText::LOOSE, 1},
        // Cyrillic: ё folds to е, й stays apart from и
        {"<p>Ёлка, ёлка и ЕЛКА</p>", "елка", FoldedText::LOOSE, 3},
        {"<p>мой мои МОЙ</p>", "мой", FoldedText::LOOSE, 2},
        {"<p>Наташа НАТАША наташа</p>", "Наташа", FoldedText::EXACT, 1},
        // Japanese: voicing marks make other kana; a ruby reading is not text
        {"<p>がっこう かっこう ガッコウ</p>", "がっこう", FoldedText::LOOSE, 1},
        {"<p><ruby>漢<rt>かん</rt>字<rt>じ</rt></ruby>を書く。漢字</p>", "漢字", FoldedText::LOOSE, 2},
        {"<p>ｶﾀｶﾅ and カタカナ</p>", "カタカナ", FoldedText::LOOSE, 2},
        // Hebrew: points do not matter loosely, they do exactly
        {"<p dir=\"rtl\">שָׁלוֹם שלום</p>", "שלום", FoldedText::LOOSE, 2},
        {"<p dir=\"rtl\">שָׁלוֹם שלום</p>", "שלום", FoldedText::EXACT, 1},
        // nothing to look for
        {"<p>whale</p>", "   ", FoldedText::LOOSE, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(countHits(c.markup, c.phrase, c.mode), c.count) << c.markup << " / " << c.phrase;
}

TEST(FoldedText, OffsetsMapBackToTheSource) {
    struct Case {
        const char* markup;
        const char* phrase;
        size_t offset, length;
        const char* match;
    };
    const Case cases[] = {
        {"<p>Die Straße hier</p>", "strasse", 4, 6, "Straße"},
        {"<p>Die Straße hier</p>", "hier", 11, 4, "hier"},
        {"<p>ab Nata\xcc\x81sha cd</p>", "natasha", 3, 8, "Nata\xcc\x81sha"},
        {"<p>x  <i>white</i>\n   whale y</p>", "white whale", 2, 11, "white whale"},
        {"<p>日本語のテキスト</p>", "テキスト", 4, 4, "テキスト"},
        {"<p>e\xef\xac\x83" "cient</p>", "efficient", 0, 7, "e\xef\xac\x83" "cient"},
    };
    for (const Case& c : cases) {
        const std::u32string text = EntryText::extract(c.markup);
        const auto hits = BookSearch::find(text, FoldedText::query(c.phrase, FoldedText::LOOSE), 3, {});
        ASSERT_EQ(hits.size(), 1u) << c.markup;
        EXPECT_EQ(hits[0].entry, 3u);
        EXPECT_EQ(hits[0].offset, c.offset) << c.markup;
        EXPECT_EQ(hits[0].length, c.length) << c.markup;
        EXPECT_EQ(hits[0].match, c.match) << c.markup;
    }
}

TEST(FoldedText, ContextIsOnOneLineAndBounded) {
    const std::string markup = "<p>" + std::string(100, 'a') + " needle " + std::string(100, 'b') + "</p><p>next</p>";
    BookSearch::Options options;
    options.context = 10;
    const auto hits = BookSearch::find(EntryText::extract(markup), U("needle"), 0, options);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].before, "aaaaaaaaa ");
    EXPECT_EQ(hits[0].after, " bbbbbbbbb");
    const auto end = BookSearch::find(U("needle\nnext"), U("needle"), 0, options);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].after, " next");
}

TEST(EntryText, DeepNestingIsWalkedWithoutRecursion) {
    std::string markup;
    for (int i = 0; i < 100000; ++i)
        markup += "<span>";
    markup += "deep";
    EXPECT_EQ(countHits(markup, "deep"), 1u);
}

namespace {

// Another way to the count: hidden elements cut out and tags dropped by
// plain string scanning, entities left as they are, the spelled forms
// counted as bytes.
size_t independentCount(const std::string& markup, const std::vector<std::string>& forms) {
    std::string text = markup;
    const size_t body = text.find("<body");
    if (body != std::string::npos)
        text.erase(0, body);
    for (const char* hidden : {"script", "style", "title"}) {
        const std::string open = std::string("<") + hidden, close = std::string("</") + hidden + ">";
        for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
            const size_t end = text.find(close, at);
            text.erase(at, end == std::string::npos ? std::string::npos : end + close.size() - at);
        }
    }
    std::string plain;
    bool inTag = false;
    for (char c : text) {
        if (c == '<')
            inTag = true;
        else if (c == '>')
            inTag = false;
        else if (!inTag)
            plain += c;
    }
    size_t count = 0;
    for (const std::string& form : forms) {
        for (size_t at = plain.find(form); at != std::string::npos; at = plain.find(form, at + form.size()))
            ++count;
    }
    return count;
}

} // namespace

TEST(BookSearch, CorpusCountsAgreeWithAnIndependentCount) {
    struct Case {
        const char* book;
        const char* phrase;
        std::vector<std::string> forms; // every spelling the book uses
        size_t atLeast;
    };
    const Case cases[] = {
        {"epub3-idpf-moby-dick.epub", "whale", {"whale", "Whale", "WHALE"}, 1000},
        {"epub2-pg11-alice.epub", "rabbit", {"rabbit", "Rabbit", "RABBIT"}, 40},
        {"epub2-pg1661-sherlock-holmes.epub", "watson", {"watson", "Watson", "WATSON"}, 50},
        {"fb2-fb2cng-_Test.fb2", "текст", {"текст", "Текст", "ТЕКСТ"}, 10},
        {"epub3-idpf-regime-anticancer-arabic.epub", "السرطان", {"السرطان"}, 5},
    };
    for (const Case& c : cases) {
        std::unique_ptr<BookTextCache> book = BookTextCache::open(corpus_path(c.book));
        ASSERT_TRUE(book) << c.book;
        std::unique_ptr<BaseReader> reader = BaseReader::create_smart(
            std::string(c.book).find(".fb2") != std::string::npos ? "fb2" : "epub");
        ASSERT_TRUE(reader->open(corpus_path(c.book)) && reader->parse());

        const std::u32string query = FoldedText::query(c.phrase, FoldedText::LOOSE);
        size_t total = 0, expected = 0, lastEntry = 0;
        BookSearch::run(*book, c.phrase, {}, [&](size_t entry, std::vector<BookSearch::Hit>& hits) {
            EXPECT_GE(entry, lastEntry);
            lastEntry = entry;
            std::string markup;
            BookTextCache::fetchFrom(*reader, book->entryName(entry), markup);
            const size_t independent = independentCount(markup, c.forms);
            EXPECT_EQ(hits.size(), independent) << c.book << " entry " << entry;
            expectHitsCoverQuery(*book->text(entry), hits, query, FoldedText::LOOSE);
            total += hits.size();
            expected += independent;
            return true;
        });
        EXPECT_EQ(total, expected) << c.book;
        EXPECT_GE(total, c.atLeast) << c.book;
    }
}

TEST(BookSearch, StopsWhenCancelledOrRefused) {
    std::unique_ptr<BookTextCache> book = BookTextCache::open(corpus_path("epub3-idpf-moby-dick.epub"));
    ASSERT_TRUE(book);
    ASSERT_GT(book->entryCount(), 10u);
    size_t seen = 0;
    BookSearch::Options alone;
    alone.readAhead = false; // so that exactly the entries searched are read
    EXPECT_FALSE(BookSearch::run(*book, "whale", alone, [&](size_t, std::vector<BookSearch::Hit>&) { return ++seen < 3; }));
    EXPECT_EQ(seen, 3u);
    std::atomic<bool> cancel{true};
    seen = 0;
    EXPECT_FALSE(BookSearch::run(*book, "whale", {}, [&](size_t, std::vector<BookSearch::Hit>&) { return ++seen; },
                                 &cancel));
    EXPECT_EQ(seen, 0u);
    // The texts stay for the next search: lengths are known for the entries read only.
    const auto lengths = book->lengths();
    EXPECT_EQ(std::count_if(lengths.begin(), lengths.end(), [](long n) { return n >= 0; }), 3);
    EXPECT_EQ(lengths.back(), -1);
}

TEST(BookSearch, OneCacheServesTwoThreadsAlike) {
    // The measuring job and a search share the open book's cache.
    std::unique_ptr<BookTextCache> book = BookTextCache::open(corpus_path("epub2-pg1661-sherlock-holmes.epub"));
    ASSERT_TRUE(book);
    std::vector<size_t> counts[2];
    auto search = [&](int k) {
        BookSearch::run(*book, "holmes", {}, [&](size_t, std::vector<BookSearch::Hit>& hits) {
            counts[k].push_back(hits.size());
            return true;
        });
    };
    std::thread a(search, 0), b(search, 1);
    a.join();
    b.join();
    EXPECT_EQ(counts[0], counts[1]);
    EXPECT_EQ(counts[0].size(), book->entryCount());
    for (long n : book->lengths())
        EXPECT_GE(n, 0);
}
