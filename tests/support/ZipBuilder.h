#pragma once

#include <string>
#include <vector>

#include "utility/ZipFile.h"

// One member of a zip archive built in a test.
struct ZipMember {
    std::string name;
    std::string data;
    int method = tf::ZipEntry::kDeflated;  // or tf::ZipEntry::kStored
};

// Writes a zip archive at `path` with the members in the given order
// (a repeated name is written twice). Returns whether every step succeeded.
inline bool write_zip(const std::string& path, const std::vector<ZipMember>& members) {
    tf::ZipFile zip(tf::ZipEntry::ZIP_WRITE);
    if (!zip.open(path))
        return false;
    bool ok = true;
    for (const ZipMember& m : members)
        ok = zip.putEntryData(m.name, m.data, m.method) && ok;
    zip.close();
    return ok;
}
