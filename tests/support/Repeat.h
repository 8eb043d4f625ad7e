#pragma once

#include <string>

// `piece` written `times` times over (large or deeply nested test pages).
inline std::string repeat(const std::string& piece, int times) {
    std::string out;
    out.reserve(piece.size() * static_cast<size_t>(times));
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}
