#include "readers/EPUBReader.h"

#include <exception>

#include "utility/log.h"

namespace tf {

EPUBReader::EPUBReader() : EPUB(ZipEntry::ZIP_READ), BaseReader() {}

EPUBReader::~EPUBReader() = default;

bool EPUBReader::open(std::string path) {
    m_readError.clear();
    if (!ZipFile::open(path)) {
        TF_LOG(LOG_ERROR, "cannot open epub: " << getLastError());
        return set_error("The file is not a zip archive.");
    }
    filename = path;
    return true;
}

bool EPUBReader::parse() {
    m_readError.clear();
    if (!EPUB::parse())
        return set_error("The book has no package document.");
    // Content under a cipher we cannot undo (DRM) would only show as noise.
    for (const auto& chapter : spine()) {
        if (!chapter.first.empty() && obfuscation(chapter.first) == OBF_UNKNOWN) {
            TF_LOG(LOG_ERROR, "content document encrypted with " << encrypted[chapter.first] << ": '"
                                                                 << chapter.first << "'");
            return set_error("The book is encrypted (DRM).");
        }
    }
    return true;
}

pair_list_t EPUBReader::toc() {
    return EPUB::toc();
}

std::vector<unsigned> EPUBReader::toc_depths() {
    std::vector<unsigned> out;
    out.reserve(navmap_items.size());
    for (const type_navmap& nav : navmap_items)
        out.push_back(nav.depth);
    return out;
}

pair_list_t EPUBReader::spine() {
    pair_list_t out;
    out.reserve(spine_ids.size());
    for (const std::string& id : spine_ids) {
        ZipEntry* entry = nullptr;
        type_menifest_item item;
        if (!getEntryById(id, entry, item)) {
            out.emplace_back("", "");
            continue;
        }
        ZipEntry* overlayEntry = nullptr;
        type_menifest_item overlay;
        std::string overlayName;
        if (!item.media_overlay.empty() && getEntryById(item.media_overlay, overlayEntry, overlay))
            overlayName = memberName(overlay);
        out.emplace_back(memberName(item), overlayName);
    }
    return out;
}

name_list_t EPUBReader::fonts() {
    return font_paths;
}

std::string EPUBReader::get_title() {
    return m_title;
}

std::string EPUBReader::get_entry(std::string name, std::string& out) {
    ZipEntry* entry = findEntry(name);
    if (!entry) {
        TF_LOG(LOG_ERROR, "not found entry='" << clean(name) << "'");
        return "";
    }
    std::string data;
    if (!readEntry(entry, data))
        return "";
    out.swap(data);
    return out;
}

std::string EPUBReader::entry_name_next(std::string name) {
    return nextEntry(name);
}

std::string EPUBReader::entry_name_prev(std::string name) {
    return prevEntry(name);
}

std::string EPUBReader::entry_name_of_id(std::string id) {
    std::string name;
    getEntryNameById(id, name);
    return name;
}

std::string EPUBReader::cover_page(std::string& cover_entry) {
    TF_LOG(LOG_INFO, "entry='" << cover_entry << "'");
    try {
        return coverpage(cover_entry);
    } catch (const std::exception&) {
        return "";
    }
}

name_list_t EPUBReader::get_font_entries() {
    name_list_t out;
    for (const std::string& name : getNames()) {
        if (name.size() <= 4)
            continue;
        const std::string ext = name.substr(name.size() - 4);
        if (ext != ".ttf" && ext != ".TTF" && ext != ".otf" && ext != ".OTF")
            continue;
        if (obfuscation(name) == OBF_UNKNOWN) {
            TF_LOG(LOG_WARN, "font skipped, encrypted with " << encrypted[name] << ": '" << name << "'");
            continue;
        }
        out.push_back(name);
    }
    return out;
}

void EPUBReader::close() {
    EPUB::close();
}

bool EPUBReader::isOpen() {
    return ZipFile::isOpen();
}

} // namespace tf
