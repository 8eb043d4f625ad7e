#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tf {

// One table-of-contents entry.
struct type_navmap {
    std::string id;
    std::string play;
    std::string label;
    std::string src;    // the entry name, possibly with a "#" fragment
    uint32_t depth = 0; // 0 for top-level entries

    void print() const {
        std::printf("id=%s, play=%s, label=\"%s\", src=\"%s\"\n", id.c_str(), play.c_str(), label.c_str(),
                    src.c_str());
    }
};

} // namespace tf
