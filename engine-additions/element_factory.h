#pragma once

#include <memory>

#include <litehtml.h>

namespace tf {

// The elements this program adds to the engine, answered through the
// container's element-creation hook: "audio" gives an el_audio, "img" and
// "image" an el_href_image. Any other tag gives null, so the engine makes its own.
std::shared_ptr<litehtml::element> create_added_element(const char* tag_name,
                                                        const std::shared_ptr<litehtml::document>& doc);

} // namespace tf
