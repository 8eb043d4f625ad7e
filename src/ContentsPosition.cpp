#include "src/ContentsPosition.h"

#include <unordered_map>

#include "utility/URI.h"

namespace tf {

namespace {

// Contents and pages may spell an entry with "%20" and kin, or with "../", where the other does not.
std::string normal(const std::string& entry) {
    return URI::memberName(entry);
}

} // namespace

void ContentsPosition::split(const std::string& target, std::string& entry, std::string& fragment) {
    const size_t hash = target.find('#');
    entry = normal(target.substr(0, hash));
    fragment = hash == std::string::npos ? std::string() : target.substr(hash + 1);
}

ContentsPosition::ContentsPosition(const pair_list_t& toc, const pair_list_t& spine) {
    std::unordered_map<std::string, int> index;
    for (const auto& item : spine) {
        m_spine.push_back(normal(item.first));
        index.emplace(m_spine.back(), static_cast<int>(m_spine.size()) - 1);
    }
    m_lines.reserve(toc.size());
    for (const auto& item : toc) {
        Line line;
        split(item.first, line.entry, line.fragment);
        auto it = index.find(line.entry);
        line.spineIndex = it == index.end() ? -1 : it->second;
        m_lines.push_back(std::move(line));
    }
}

std::vector<std::string> ContentsPosition::fragmentsOf(const std::string& shown) const {
    const std::string entry = normal(shown);
    std::vector<std::string> out;
    for (const Line& line : m_lines)
        if (line.entry == entry && !line.fragment.empty())
            out.push_back(line.fragment);
    return out;
}

int ContentsPosition::spineIndexOf(const std::string& entry) const {
    for (size_t i = 0; i < m_spine.size(); ++i)
        if (m_spine[i] == entry)
            return static_cast<int>(i);
    return -1;
}

ContentsPosition::Place ContentsPosition::placeOf(const std::string& shown, int top,
                                                  const std::function<int(const std::string&)>& anchorY) const {
    Place place;
    const std::string entry = normal(shown);
    // The chapter: the first line naming the entry shown.
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].entry == entry) {
            place.chapter = static_cast<int>(i);
            break;
        }
    }
    if (place.chapter < 0) {
        // An entry the contents skip belongs to the nearest named one before it.
        const int here = spineIndexOf(entry);
        int best = -1;
        for (size_t i = 0; here >= 0 && i < m_lines.size(); ++i) {
            const int at = m_lines[i].spineIndex;
            if (at >= 0 && at <= here && (best < 0 || at > m_lines[static_cast<size_t>(best)].spineIndex))
                best = static_cast<int>(i);
        }
        place.chapter = place.section = best;
        return place;
    }
    place.section = place.chapter;
    // The section: the last line into this entry whose anchor starts above the page's top.
    int sectionY = -1;
    for (size_t i = static_cast<size_t>(place.chapter); i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (line.entry != entry || line.fragment.empty())
            continue;
        const int y = anchorY ? anchorY(line.fragment) : -1;
        if (y >= 0 && y <= top && y >= sectionY) {
            sectionY = y;
            place.section = static_cast<int>(i);
        }
    }
    return place;
}

} // namespace tf
