#pragma once

#include <string>

namespace tf {

// One item of an EPUB package manifest.
struct type_menifest_item {
    std::string id;
    std::string href;          // cleaned, relative to the package document's folder
    std::string path;          // the archive member name
    std::string media_type;
    std::string media_overlay; // id of its overlay item, "" when none
    std::string properties;    // EPUB 3 "properties" ("nav", "cover-image" ...)
};

} // namespace tf
