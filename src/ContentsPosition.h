#pragma once

#include <functional>
#include <string>
#include <vector>

#include "readers/BaseReader.h"

namespace tf {

// Which lines of a book's contents describe the place being read: the line
// of the chapter (the reading-order entry shown) and, where the contents
// point inside that entry, the line of the section whose start has scrolled
// past the top of the page. Entries the contents do not name count as part
// of the last named entry before them in the reading order.
//
// Built once per book from its contents and reading order; answers in time
// linear in the contents. Holds no reference to the reader.
class ContentsPosition {
public:
    // (target, label) lines as BaseReader::toc() gives them; (entry, companion)
    // per reading-order entry as BaseReader::spine() gives them.
    ContentsPosition(const pair_list_t& toc, const pair_list_t& spine);

    struct Place {
        int chapter = -1;  // -1: no line describes it
        int section = -1;  // the deepest line inside the chapter, or the chapter's own line
    };

    // `entry` is the entry shown, `top` the document height at the top of the
    // page; `anchorY` answers the document height of an id in the page shown (-1: none).
    Place placeOf(const std::string& entry, int top, const std::function<int(const std::string&)>& anchorY) const;

    // The fragments the contents point at inside `entry` (ids to look up in its page).
    std::vector<std::string> fragmentsOf(const std::string& entry) const;

    // The entry name and the fragment of a contents target ("a/b.xhtml#c").
    static void split(const std::string& target, std::string& entry, std::string& fragment);

private:
    struct Line {
        std::string entry;
        std::string fragment;
        int spineIndex;  // -1 when the entry is not in the reading order
    };
    std::vector<Line> m_lines;
    std::vector<std::string> m_spine;
    int spineIndexOf(const std::string& entry) const;
};

} // namespace tf
