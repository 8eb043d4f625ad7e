#include "utility/ZipFile.h"

#include <cstdio>
#include <iostream>

namespace tf {

ZipFile::ZipFile(ZipEntry::zip_mode mode) : m_mode(mode) {}

ZipFile::~ZipFile() { close(); }

bool ZipFile::open(std::string path) {
    close();
    if (m_mode == ZipEntry::ZIP_WRITE) {
        m_handle = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
        if (!m_handle) {
            m_lastError = "cannot open file: " + path;
            return false;
        }
        m_count = 0;
        m_isOpen = true;
        return true;
    }
    m_handle = unzOpen64(path.c_str());
    if (!m_handle) {
        m_lastError = "cannot open file: " + path;
        return false;
    }
    if (unzGoToFirstFile(m_handle) != UNZ_OK) {
        unzClose(m_handle);
        m_handle = nullptr;
        m_lastError = "cannot read first entry";
        return false;
    }
    unz_global_info info{};
    unzGetGlobalInfo(m_handle, &info);
    m_count = info.number_entry;
    m_isOpen = true;
    return true;
}

bool ZipFile::parse() {
    if (!m_isOpen || m_mode != ZipEntry::ZIP_READ)
        return true;
    m_names.clear();
    if (unzGoToFirstFile(m_handle) != UNZ_OK)
        return true;
    do {
        ZipEntry entry(this);
        if (entry.isEmpty())
            continue;
        // Assign into the existing node, if any, so pointers handed out stay valid.
        m_entries[entry.getName()] = entry;
        m_names.push_back(entry.getName());
    } while (unzGoToNextFile(m_handle) == UNZ_OK);
    return true;
}

ZipEntry* ZipFile::getEntry(std::string name) { return &m_entries[name]; }

long ZipFile::getEntryData(std::string name, std::string& out) {
    ZipEntry entry = *getEntry(name);
    if (entry.isEmpty() || !entry.open()) {
        std::cout << entry.getLastError() << std::endl;
        return 0;
    }
    std::string data;
    int got = entry.read(data);
    int closed = entry.close();
    if (got < 0 || closed != UNZ_OK)
        return 0;
    out.swap(data);
    return got;
}

void ZipFile::print() {
    for (size_t i = 0; i < m_names.size(); ++i) {
        const ZipEntry& entry = m_entries[m_names[i]];
        std::printf("(%ld) %s=%ld\n", static_cast<long>(i), m_names[i].c_str(),
                    static_cast<long>(entry.getSize()));
    }
    std::fflush(stdout);
}

ZipEntry* ZipFile::createEntry(const std::string& name, int method) {
    if (m_mode != ZipEntry::ZIP_WRITE || !m_isOpen)
        return nullptr;
    ZipEntry& entry = m_entries[name];
    entry = ZipEntry(this, name, method);
    m_names.push_back(name);
    ++m_count;
    return &entry;
}

bool ZipFile::putEntryData(const std::string& name, const std::string& data, int method) {
    ZipEntry* entry = createEntry(name, method);
    if (!entry || !entry->open())
        return false;
    bool written = entry->write(data);
    return entry->close() == ZIP_OK && written;
}

void ZipFile::close() {
    if (m_isOpen && m_handle) {
        if (m_mode == ZipEntry::ZIP_WRITE)
            zipClose(m_handle, nullptr);
        else
            unzClose(m_handle);
    }
    m_handle = nullptr;
    m_isOpen = false;
    m_currentTicket = 0;
    m_names.clear();
    m_entries.clear();
}

} // namespace tf
