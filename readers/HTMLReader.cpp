#include "readers/HTMLReader.h"

#include "utility/File.h"
#include "utility/String.h"
#include "utility/ZipEntry.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

bool HTMLReader::open(std::string path) {
    File file{String(path)};
    if (!file.exist()) {
        TF_LOG(LOG_ERROR, "file do not exist:" << path);
        return false;
    }
    // A file that exists but cannot be read must not pass for the previous one.
    content.clear();
    // Read whole, so no larger than the largest archive member read whole.
    const long size = file.isDirectory() ? 0 : file.getSize();
    if (size > static_cast<long>(ZipEntry::kMaxEntrySize)) {
        TF_LOG(LOG_ERROR, "file too large: " << path << " (" << size << " bytes, limit " << ZipEntry::kMaxEntrySize
                                             << ")");
        return false;
    }
    file_get_contents(path, content);
    if (content.empty()) {
        TF_LOG(LOG_ERROR, "file is empty:" << path);
        return false;
    }
    filename = path;
    return true;
}

std::string HTMLReader::get_entry(std::string /*name*/, std::string& /*out*/) {
    return content;
}

std::string HTMLReader::cover_page(std::string& /*cover_entry*/) {
    return content;
}

} // namespace tf
