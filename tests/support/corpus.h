#pragma once

#include <string>

// Path of a book in the shared corpus, which lies beside the repository.
inline std::string corpus_path(const std::string& name) {
    return std::string(ORINEL_SOURCE_DIR) + "/../shared/corpus/" + name;
}
