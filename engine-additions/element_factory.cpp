#include "engine-additions/element_factory.h"

#include <cstring>

#include "engine-additions/el_audio.h"
#include "engine-additions/el_href_image.h"

namespace tf {

std::shared_ptr<litehtml::element> create_added_element(const char* tag_name,
                                                        const std::shared_ptr<litehtml::document>& doc) {
    if (!tag_name || !doc)
        return nullptr;
    if (!std::strcmp(tag_name, "audio"))
        return std::make_shared<el_audio>(doc);
    // The HTML parser renames `image` to `img` outside SVG; both need the link attributes.
    if (!std::strcmp(tag_name, "img") || !std::strcmp(tag_name, "image"))
        return std::make_shared<el_href_image>(doc);
    return nullptr;
}

} // namespace tf
