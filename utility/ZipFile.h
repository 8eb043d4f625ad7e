#pragma once

#include <map>
#include <string>
#include <vector>

#include "utility/ZipEntry.h"

namespace tf {

// A zip archive listed once (open + parse); members are read on request
// through their ZipEntry. With ZIP_WRITE it creates a new archive instead.
// Not thread-safe: the archive has a single current member.
class ZipFile {
public:
    explicit ZipFile(ZipEntry::zip_mode mode = ZipEntry::ZIP_READ);
    virtual ~ZipFile();
    ZipFile(const ZipFile&) = delete;
    ZipFile& operator=(const ZipFile&) = delete;

    // Reading: opens an existing archive and moves to its first member.
    // Writing: creates (replaces) the archive file.
    bool open(std::string path);
    bool isOpen() const { return m_isOpen; }
    ZipEntry::zip_mode getMode() const { return m_mode; }
    const std::string& getLastError() const { return m_lastError; }

    // Lists every member; call once after open(). Returns true.
    bool parse();
    // Member names in directory order (a repeated name appears each time).
    const std::vector<std::string>& getNames() const { return m_names; }
    // Member count from the archive's global information.
    unsigned long getCount() const { return m_count; }

    // The entry stored under exactly `name`; for a name the archive lacks, an
    // empty entry that is kept, so the same pointer comes back next time.
    // Pointers stay valid until close().
    ZipEntry* getEntry(std::string name);
    // Reads the whole member into `out`; the number of bytes, 0 on failure
    // (`out` is then left as it was).
    long getEntryData(std::string name, std::string& out);
    // One line per member to the standard output: "(number) name=size".
    void print();

    // Writing: a new member to be filled with open/write/close of the entry.
    ZipEntry* createEntry(const std::string& name, int method = ZipEntry::kDeflated);
    // Writing: a whole member in one call.
    bool putEntryData(const std::string& name, const std::string& data,
                      int method = ZipEntry::kDeflated);

    // Closes the archive and forgets its members.
    void close();

    // The minizip handle (unzFile or zipFile by mode); null when closed.
    void* getHandle() const { return m_handle; }

protected:
    unsigned long m_count = 0;
    std::vector<std::string> m_names;
    void* m_handle = nullptr;
    ZipEntry::zip_mode m_mode;
    std::map<std::string, ZipEntry> m_entries;
    std::string m_lastError;
    bool m_isOpen = false;

private:
    friend class ZipEntry;
    // Hands out the ticket of a member being opened; see ZipEntry::m_ticket.
    unsigned long nextTicket() { return m_currentTicket = ++m_lastTicket; }
    unsigned long m_lastTicket = 0;
    unsigned long m_currentTicket = 0;
};

} // namespace tf
