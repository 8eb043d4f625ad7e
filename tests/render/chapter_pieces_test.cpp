// A long chapter cut into pieces: where it is cut, what a piece reopens, and
// a few neighbouring pieces laid out as a page of their own matching the
// whole chapter's layout.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "TestView.h"
#include "src/EntryText.h"
#include "src/ChapterPieces.h"
#include "src/ChapterStrip.h"

using test::TestView;
using tf::ChapterPieces;

namespace {

std::string paragraphs(int from, int n) {
    std::string out;
    for (int i = from; i < from + n; ++i)
        out += "<p>Paragraph " + std::to_string(i) + " has a few words in it, enough to wrap once or twice.</p>\n";
    return out;
}

std::shared_ptr<const std::string> shared(std::string html) {
    return std::make_shared<const std::string>(std::move(html));
}

} // namespace

TEST(ChapterPieces, PiecesCoverTheChapterAndReopenWhatIsOpen) {
    const std::string head = "<?xml version='1.0'?><html xmlns='x'><head><style>p { margin: 1em 0 }</style></head>";
    const std::string html = head + "<body class='b'><div id='c' class='chapter'><section>" + paragraphs(0, 200) +
                             "</section></div></body></html>";
    const ChapterPieces pieces(shared(html), 2000);
    ASSERT_GT(pieces.size(), 3u);
    EXPECT_EQ(pieces.piece(0).begin, 0u);
    EXPECT_EQ(pieces.piece(pieces.size() - 1).end, html.size());
    for (size_t i = 1; i < pieces.size(); ++i) {
        const ChapterPieces::Piece& p = pieces.piece(i);
        EXPECT_EQ(p.begin, pieces.piece(i - 1).end);
        EXPECT_EQ(html.compare(p.begin - 4, 4, "</p>"), 0) << "cut after a block: " << i;
        EXPECT_EQ(p.reopen, "<body class='b'><div id='c' class='chapter'><section>");
        if (i + 1 < pieces.size()) {
            EXPECT_GE(p.end - p.begin, 2000u);
        }
        EXPECT_EQ(pieces.pieceAt(p.begin), i);
        EXPECT_EQ(pieces.pieceAt(p.begin - 1), i - 1);
    }
    EXPECT_EQ(pieces.window(0, 0), html.substr(0, pieces.piece(0).end));
    const std::string middle = pieces.window(2, 3);
    EXPECT_EQ(middle, head + pieces.piece(2).reopen +
                          html.substr(pieces.piece(2).begin, pieces.piece(3).end - pieces.piece(2).begin));
    EXPECT_EQ(pieces.window(3, 2), "");
    EXPECT_EQ(pieces.window(0, pieces.size()), "");

    // A page without a head: "</header>" is no end of one, and nothing of the body is repeated.
    const std::string headless =
        "<html><body><header>Title words</header>" + paragraphs(0, 200) + "</body></html>";
    const ChapterPieces bare(shared(headless), 2000);
    ASSERT_GT(bare.size(), 3u);
    EXPECT_EQ(bare.window(2, 2).find("Title words"), std::string::npos);
    EXPECT_EQ(bare.piece(2).reopen, "<html><body>");

    // Where an element starts: the piece whose markup holds its id.
    const size_t at = html.find("<p>Paragraph 150 ");
    const std::string withId = html.substr(0, at) + "<p id='p150'>" + html.substr(at + 3);
    const ChapterPieces again(shared(withId), 2000);
    EXPECT_EQ(again.pieceOfId("p150"), again.pieceAt(at));
    EXPECT_EQ(again.pieceOfId("c"), 0u);
    EXPECT_EQ(again.pieceOfId("none"), again.size());
}

TEST(ChapterPieces, MarkupThatCannotBeCutIsOnePiece) {
    const std::string body = paragraphs(0, 300);
    const struct {
        const char* name;
        std::string html;
    } cases[] = {
        {"short", "<html><body>" + paragraphs(0, 5) + "</body></html>"},
        {"a style that looks ahead", "<html><head><style>p:last-child{margin:0}</style></head><body>" + body +
                                         "</body></html>"},
        {"a sheet at the end of the body", "<html><body>" + body + "<style>p{color:red}</style></body></html>"},
        {"one numbered list", "<html><body><ol>" + body + "</ol></body></html>"},
        {"an unclosed comment", "<html><body><!-- " + body},
        {"nested deeper than is worth reopening",
         "<html><body>" + [] { std::string d; for (int i = 0; i < 100; ++i) d += "<div class='level'>"; return d; }() +
             body + "</body></html>"},
    };
    for (const auto& c : cases) {
        const ChapterPieces pieces(shared(c.html), 2000);
        EXPECT_EQ(pieces.size(), 1u) << c.name;
        EXPECT_EQ(pieces.window(0, 0), c.html) << c.name;
    }
}

// The point of the pieces: a page of a few of them lays out as the chapter
// does there, so the view can show the chapter a few pieces at a time.
TEST(ChapterPieces, AWindowLaysOutLikeTheWholeChapter) {
    const std::string html = "<html><head><style>h2 { margin: 2em 0 1em } .x { margin-left: 3em }</style></head>"
                             "<body><div class='x'><h2>One</h2>" + paragraphs(0, 150) +
                             "<blockquote><p>Quoted words</p></blockquote>" + paragraphs(150, 150) +
                             "<h2>Two</h2>" + paragraphs(300, 150) + "</div></body></html>";
    const ChapterPieces pieces(shared(html), 4000);
    ASSERT_GE(pieces.size(), 5u);
    // Marked, so that where each piece starts can be compared: marks change nothing.
    TestView whole, plain;
    whole.width = plain.width = 500;
    whole.load_string(pieces.window(0, pieces.size() - 1, true), "");
    plain.load_string(html, "");
    const auto all = whole.paint();
    ASSERT_FALSE(all.empty());
    const auto unmarked = plain.paint();
    ASSERT_EQ(unmarked.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i)
        ASSERT_TRUE(unmarked[i].text == all[i].text && unmarked[i].pos.y == all[i].pos.y) << i;
    // Marks on pieces 1..n-1 and the end (n).
    const auto wholeTops = ChapterPieces::tops(whole.document());
    ASSERT_EQ(wholeTops.size(), pieces.size());
    for (size_t i = 0; i < wholeTops.size(); ++i) {
        EXPECT_EQ(wholeTops[i].first, i + 1);
        EXPECT_GT(wholeTops[i].second, i == 0 ? 0 : wholeTops[i - 1].second);
    }

    const struct {
        size_t first, last;
    } windows[] = {{0, 1}, {1, 3}, {pieces.size() - 2, pieces.size() - 1}};
    for (const auto& w : windows) {
        TestView part;
        part.width = 500;
        part.load_string(pieces.window(w.first, w.last, true), "");
        const auto runs = part.paint();
        ASSERT_FALSE(runs.empty());
        // The window's first runs in the whole layout (paragraphs are numbered).
        const size_t probe = std::min<size_t>(12, runs.size());
        size_t start = 0;
        for (; start + probe <= all.size(); ++start) {
            size_t k = 0;
            while (k < probe && all[start + k].text == runs[k].text && all[start + k].pos.x == runs[k].pos.x)
                ++k;
            if (k == probe)
                break;
        }
        ASSERT_LT(start, all.size());
        const int dy = all[start].pos.y - runs[0].pos.y;
        ASSERT_LE(start + runs.size(), all.size());
        for (size_t i = 0; i < runs.size(); ++i) {
            const auto& a = all[start + i];
            ASSERT_EQ(runs[i].text, a.text) << "window " << w.first << "-" << w.last << " run " << i;
            ASSERT_EQ(runs[i].pos.x, a.pos.x) << "run " << i;
            ASSERT_EQ(runs[i].pos.y + dy, a.pos.y) << "run " << i << " " << a.text;
        }
        if (w.first == 0) {
            EXPECT_EQ(dy, 0);
        }
        // Each piece starts where it does in the whole chapter.
        // (The window's own end lies after its last block's bottom margin.)
        const auto partTops = ChapterPieces::tops(part.document());
        ASSERT_EQ(partTops.size(), w.last - w.first + (w.first > 0 ? 2 : 1));
        for (const auto& top : partTops) {
            if (top.first > w.last && w.last + 1 < pieces.size())
                continue;
            ASSERT_GE(top.first, w.first == 0 ? 1 : w.first);
            EXPECT_EQ(top.second + dy, wholeTops[top.first - 1].second) << "piece " << top.first;
        }
    }
}

TEST(ChapterStrip, WindowsAroundAPlace) {
    const tf::ChapterStrip strip(std::vector<size_t>(6, 1000));
    const struct {
        size_t piece, count, first, last;
    } cases[] = {{0, 3, 0, 2}, {1, 3, 0, 2}, {3, 3, 2, 4}, {5, 3, 3, 5}, {9, 3, 3, 5}, {2, 9, 0, 5}, {2, 0, 2, 2}};
    for (const auto& c : cases) {
        const auto w = strip.windowAround(c.piece, c.count);
        EXPECT_EQ(w.first, c.first) << c.piece << "/" << c.count;
        EXPECT_EQ(w.second, c.last) << c.piece << "/" << c.count;
    }
    EXPECT_EQ(tf::ChapterStrip().windowAround(3, 3), std::make_pair(size_t(0), size_t(0)));
}

// Scrolling a chapter through windows: estimates from the pieces measured so
// far, then the strip's tops and height as the whole chapter's layout has them.
TEST(ChapterStrip, MeasuredWindowsGiveTheWholeChaptersTops) {
    const std::string html = "<html><head><style>h2 { margin: 2em 0 1em }</style></head><body><div>" +
                             paragraphs(0, 200) + "<h2>Two</h2>" + paragraphs(200, 200) + "</div></body></html>";
    const ChapterPieces pieces(shared(html), 3000);
    ASSERT_GE(pieces.size(), 6u);
    TestView whole;
    whole.width = 500;
    whole.load_string(pieces.window(0, pieces.size() - 1, true), "");
    const auto wholeTops = ChapterPieces::tops(whole.document());
    const int wholeHeight = whole.document()->height();

    std::vector<size_t> bytes;
    for (size_t i = 0; i < pieces.size(); ++i)
        bytes.push_back(pieces.piece(i).end - pieces.piece(i).begin);
    tf::ChapterStrip strip(bytes);
    ASSERT_FALSE(strip.isMeasured(0));
    for (size_t p = 0; p < pieces.size(); ++p) {
        const auto w = strip.windowAround(p, 3);
        TestView part;
        part.width = 500;
        part.load_string(pieces.window(w.first, w.second, true), "");
        strip.measured(w.first, w.second, ChapterPieces::tops(part.document()), part.document()->height());
        if (p == 0) {
            // Pieces not laid out yet are estimated at what the measured ones took per byte.
            const size_t k = pieces.size() - 1;
            EXPECT_FALSE(strip.isMeasured(k));
            const double perByte = static_cast<double>(strip.top(3)) / static_cast<double>(pieces.piece(3).begin);
            EXPECT_NEAR(strip.pieceHeight(k), perByte * static_cast<double>(bytes[k]), 2.0);
        }
    }
    for (size_t i = 0; i < pieces.size(); ++i)
        ASSERT_TRUE(strip.isMeasured(i)) << i;
    for (const auto& t : wholeTops)
        EXPECT_EQ(strip.top(t.first), t.second) << "piece " << t.first;
    EXPECT_EQ(strip.height(), wholeTops.back().second);
    EXPECT_LE(wholeHeight - strip.height(), 40) << "the chapter's end is its last block's, before the page's margin";
    EXPECT_EQ(strip.pieceAt(0), 0u);
    EXPECT_EQ(strip.pieceAt(wholeTops[2].second), 3u);
    EXPECT_EQ(strip.pieceAt(wholeTops[2].second - 1), 2u);
    EXPECT_EQ(strip.pieceAt(wholeHeight + 100), pieces.size() - 1);
}

namespace {

// The page y of "Paragraph n" as painted, -1 when it is not.
int yOf(const std::vector<TestView::DrawnText>& runs, int n) {
    const std::string number = std::to_string(n);
    for (size_t i = 2; i < runs.size(); ++i)
        if (runs[i].text == number && runs[i - 2].text == "Paragraph")
            return runs[i].pos.y;
    return -1;
}

} // namespace

// A long chapter in a view: a window of pieces as its page, as tall as the
// whole chapter, showing each place where the whole layout has it.
TEST(ChapterStrip, AViewShowsALongChapterAWindowAtATime) {
    TempDir dir;
    std::string body;
    for (int i = 0; i < 400; ++i)
        body += "<p id='p" + std::to_string(i) + "'>Paragraph " + std::to_string(i) +
                " has a few words in it, enough to wrap once or twice at this width.</p>\n";
    const std::string file =
        dir.write("long.html", "<html><head><style>p { margin: 0.5em 0 }</style></head><body><div>" + body +
                                   "</div></body></html>");
    TestView whole, view;
    whole.width = view.width = 500;
    view.windowThreshold = 16 * 1024;
    whole.load_uri(tf::String(file));
    view.load_uri(tf::String(file));
    const auto all = whole.paint();
    tf::Renderer::WindowSpan span;
    ASSERT_FALSE(whole.window_span(span));
    ASSERT_TRUE(view.window_span(span));
    EXPECT_FALSE(span.above);
    EXPECT_TRUE(span.below);
    EXPECT_EQ(span.top, 0);
    // As tall as the chapter on the scroll bar, estimated from the pieces laid out.
    const int height = whole.document()->height();
    const auto scrollHeight = [&view] {
        std::lock_guard<std::mutex> lock(view.mutex);
        return view.sizes.empty() ? -1 : view.sizes.back().second;
    };
    EXPECT_NEAR(scrollHeight(), height, height / 4);
    const auto top = view.paint();
    EXPECT_LT(top.size(), all.size() / 2);
    for (int n : {0, 5, 20})
        EXPECT_EQ(yOf(top, n), yOf(all, n)) << n;

    // The window holding a place, with room around it for the reader to scroll.
    const auto holds = [&](int y, const std::string& what) {
        ASSERT_TRUE(view.window_span(span));
        EXPECT_TRUE(span.top <= y && y < span.bottom) << what;
        EXPECT_TRUE(!span.above || y - span.top > 300) << what;
        EXPECT_TRUE(!span.below || span.bottom - y > 300) << what;
        EXPECT_FALSE(view.move_window(y)) << "the window shown holds it already: " << what;
    };
    // Far away, by a place in the text (a saved place, a match).
    const std::u32string text = tf::EntryText::extract(body);
    for (int n : {200, 390, 30}) {
        const std::string words = "Paragraph " + std::to_string(n) + " ";
        const long offset = static_cast<long>(text.find(std::u32string(words.begin(), words.end())));
        ASSERT_GT(offset, 0);
        EXPECT_TRUE(view.move_window_to_text(offset)) << n;
        ASSERT_TRUE(view.window_span(span));
        EXPECT_TRUE(span.textStart <= offset && offset < span.textEnd) << n;
        const int y = yOf(view.paint(), n);
        ASSERT_GE(y, 0) << n;
        holds(y, "paragraph " + std::to_string(n));
    }
    // Scrolling on from the window's bottom and top: the next window takes over there.
    for (bool down : {true, true, false}) {
        ASSERT_TRUE(view.window_span(span));
        const int y = down ? span.bottom - 100 : span.top + 100;
        EXPECT_TRUE(view.move_window(y));
        holds(y, down ? "down" : "up");
    }
    EXPECT_NEAR(scrollHeight(), height, height / 10) << "better known after a few windows";
    view.load_uri(tf::String(file + "#p395"));
    EXPECT_GE(view.find_anchor("p395"), 0);
    EXPECT_GE(yOf(view.paint(), 395), 0);
}
