#pragma once

#include <string>

#include <litehtml.h>
#include <el_image.h>

namespace tf {

// The engine's image element for `img` and `image` tags, with the source also
// taken from a link attribute: "src" first, then "xlink:href", then any
// attribute whose name ends in ":href". FictionBook files bind the link
// namespace to prefixes of their own (`l:href`), so the prefix cannot be fixed.
// An `image` also takes a plain "href": inside SVG the HTML parser hands
// "xlink:href" over under that name (and SVG 2 writes it so).
class el_href_image : public litehtml::el_image {
public:
    explicit el_href_image(const std::shared_ptr<litehtml::document>& doc);

    void parse_attributes() override;

    // The picture reference the attributes name, "" when none does.
    static std::string source_of(const litehtml::string_map& attributes, bool plainHref);
};

} // namespace tf
