#include "readers/BaseReader.h"

#include <stdexcept>

#include "readers/EPUBReader.h"
#include "readers/FB2Reader.h"
#include "readers/HTMLReader.h"
#include "utility/text.h"

namespace tf {

std::string BaseReader::default_title() {
    return "untitled_" + std::to_string(filename.size());
}

std::string BaseReader::default_coverpage() {
    // Two virtual calls on purpose: the concrete reader's title as heading and as text.
    std::string page = "<html><body><h1>";
    page += xml_escape(get_title());
    page += "</h1><p>";
    page += xml_escape(get_title());
    page += "</p></body></html>";
    return page;
}

BaseReader* BaseReader::create(const std::string& format) {
    if (format == "epub")
        return new EPUBReader();
    if (format == "fb2")
        return new FB2Reader();
    if (format == "html")
        return new HTMLReader();
    throw std::invalid_argument("incorrect format name");
}

std::unique_ptr<BaseReader> BaseReader::create_smart(const std::string& format) {
    return std::unique_ptr<BaseReader>(create(format));
}

} // namespace tf
