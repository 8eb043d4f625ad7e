// A long chapter cut into pieces: where it is cut, what a piece reopens, and
// a few neighbouring pieces laid out as a page of their own matching the
// whole chapter's layout.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "TestView.h"
#include "src/ChapterPieces.h"

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
    TestView whole;
    whole.width = 500;
    whole.load_string(html, "");
    const auto all = whole.paint();
    ASSERT_FALSE(all.empty());

    const struct {
        size_t first, last;
    } windows[] = {{0, 1}, {1, 3}, {pieces.size() - 2, pieces.size() - 1}};
    for (const auto& w : windows) {
        TestView part;
        part.width = 500;
        part.load_string(pieces.window(w.first, w.last), "");
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
    }
}
