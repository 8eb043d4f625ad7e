#include "engine-additions/el_href_image.h"

namespace tf {

namespace {

bool endsWithHref(const std::string& name) {
    static const std::string suffix = ":href";
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

el_href_image::el_href_image(const std::shared_ptr<litehtml::document>& doc) : litehtml::el_image(doc) {}

std::string el_href_image::source_of(const litehtml::string_map& attributes, bool plainHref) {
    auto it = attributes.find("src");
    if (it != attributes.end() && !it->second.empty())
        return it->second;
    it = attributes.find("xlink:href");
    if (it != attributes.end() && !it->second.empty())
        return it->second;
    for (const auto& attr : attributes)
        if (endsWithHref(attr.first) && !attr.second.empty())
            return attr.second;
    if (plainHref) {
        it = attributes.find("href");
        if (it != attributes.end())
            return it->second;
    }
    return "";
}

void el_href_image::parse_attributes() {
    // The engine's element reads "src" only; hand it the link as "src".
    const char* src = get_attr("src");
    if (!src || !*src) {
        const char* tag = get_tagName();
        std::string found = source_of(m_attrs, tag && std::string(tag) == "image");
        if (!found.empty())
            set_attr("src", found.c_str());
    }
    litehtml::el_image::parse_attributes();
}

} // namespace tf
