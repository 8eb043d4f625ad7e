#include "src/ChapterPieces.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "src/PagePrefix.h"

namespace tf {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Deeper than this, a page is cut nowhere: reopening so much would outweigh a piece.
constexpr size_t kMaxReopened = 64;

// The end of the first "</head>" (any case), or 0 when there is none.
size_t headEnd(const std::string& s) {
    for (size_t at = s.find("</"); at != std::string::npos; at = s.find("</", at + 2)) {
        static const char kHead[] = "head";
        size_t k = 0;
        while (k < 4 && at + 2 + k < s.size() && lower(s[at + 2 + k]) == kHead[k])
            ++k;
        // "</head>" or "</head >", not "</header>".
        const size_t after = at + 6;
        if (k == 4 && after < s.size() && (s[after] == '>' || std::isspace(static_cast<unsigned char>(s[after])))) {
            const size_t close = s.find('>', at);
            return close == std::string::npos ? 0 : close + 1;
        }
    }
    return 0;
}

} // namespace

ChapterPieces::ChapterPieces(std::shared_ptr<const std::string> html, size_t budget)
    : m_html(html ? std::move(html) : std::make_shared<const std::string>()) {
    const std::string& s = *m_html;
    const size_t head = headEnd(s);
    m_head = s.substr(0, head);
    Piece current;
    const bool lookahead = PagePrefix::looksAhead(s);
    if (!lookahead && s.size() >= 2 * budget) {
        PagePrefix::cutPoints(s, [&](size_t end, const std::vector<PagePrefix::OpenTag>& open) {
            if (end < head || end - current.begin < budget || s.size() - end < budget / 2 ||
                open.size() > kMaxReopened)
                return true;
            std::string reopen;
            for (const PagePrefix::OpenTag& tag : open)
                if (tag.begin >= head)
                    reopen.append(s, tag.begin, tag.end - tag.begin);
            // Every window starting here repeats these tags.
            if (reopen.size() > budget / 4)
                return true;
            current.end = end;
            m_pieces.push_back(current);
            current = Piece();
            current.begin = end;
            current.reopen = std::move(reopen);
            return true;
        });
    }
    current.end = s.size();
    m_pieces.push_back(current);
}

const std::string& ChapterPieces::html() const {
    return *m_html;
}

namespace {

// An empty block of a given height that no style of a book is written for.
std::string space(int height, const std::string& mark) {
    return "<orinel-space" + mark + " style=\"display:block;height:" + std::to_string(std::max(0, height)) +
           "px;margin:0;padding:0;border:0\"></orinel-space>";
}

} // namespace

std::string ChapterPieces::window(size_t first, size_t last, bool marked, int above, int below) const {
    if (first > last || last >= m_pieces.size())
        return std::string();
    const std::string& s = *m_html;
    const Piece& a = m_pieces[first];
    const Piece& b = m_pieces[last];
    std::string out;
    out.reserve(m_head.size() + a.reopen.size() + (b.end - a.begin) + 40 * (last - first) + 300);
    if (first > 0) {
        out += m_head;
        out += a.reopen;
        if (above > 0)
            out += space(above, "");
    }
    size_t from = a.begin;
    for (size_t i = first == 0 ? 1 : first; marked && i <= last; ++i) {
        // The name of the piece's first start tag ends where its mark goes.
        size_t at = m_pieces[i].begin;
        size_t name = std::string::npos;
        while ((at = s.find('<', at)) != std::string::npos && at < m_pieces[i].end) {
            if (at + 1 < s.size() && std::isalpha(static_cast<unsigned char>(s[at + 1]))) {
                name = at + 1;
                while (name < s.size() && !std::isspace(static_cast<unsigned char>(s[name])) && s[name] != '/' &&
                       s[name] != '>')
                    ++name;
                break;
            }
            ++at;
        }
        if (name == std::string::npos || name >= m_pieces[i].end)
            continue;
        out.append(s, from, name - from);
        out += ' ';
        out += kMark;
        out += "=\"" + std::to_string(i) + "\"";
        from = name;
    }
    if (!marked && below <= 0) {
        out.append(s, from, b.end - from);
        return out;
    }
    // After the chapter's end the parser still places it in the body.
    out.append(s, from, b.end - from);
    out += space(below, marked ? std::string(" ") + kMark + "=\"" + std::to_string(last + 1) + "\"" : std::string());
    return out;
}

std::vector<std::pair<size_t, int>> ChapterPieces::tops(const litehtml::document::ptr& doc) {
    std::vector<std::pair<size_t, int>> out;
    if (!doc || !doc->root())
        return out;
    for (const litehtml::element::ptr& el : doc->root()->select_all(std::string("[") + kMark + "]")) {
        const char* value = el->get_attr(kMark);
        if (!value)
            continue;
        char* end = nullptr;
        const unsigned long piece = std::strtoul(value, &end, 10);
        if (end != value)
            out.emplace_back(static_cast<size_t>(piece), el->get_placement().y);
    }
    std::sort(out.begin(), out.end());
    return out;
}

size_t ChapterPieces::pieceAt(size_t at) const {
    const auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), at,
                                     [](size_t value, const Piece& p) { return value < p.end; });
    if (it == m_pieces.end())
        return m_pieces.empty() ? 0 : m_pieces.size() - 1;
    return static_cast<size_t>(it - m_pieces.begin());
}

size_t ChapterPieces::pieceOfId(const std::string& id) const {
    const std::string& s = *m_html;
    if (!PagePrefix::holdsId(s, id, s.size()))
        return m_pieces.size();
    // The first piece by whose end the element has started.
    size_t lo = 0, hi = m_pieces.size() - 1;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (PagePrefix::holdsId(s, id, m_pieces[mid].end))
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

} // namespace tf
