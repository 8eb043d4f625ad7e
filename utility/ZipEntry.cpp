#include "utility/ZipEntry.h"

#include <zlib.h>

#include "utility/ZipFile.h"
#include "utility/log.h"

namespace tf {

namespace {
constexpr unsigned kReadChunk = 64 * 1024;
}

ZipEntry::ZipEntry() = default;

ZipEntry::ZipEntry(ZipFile* archive) {
    if (!archive || !archive->getHandle())
        return;
    unzFile handle = archive->getHandle();
    // One byte more than the longest name kept, so the buffer always ends in a zero.
    char name[kMaxNameLength + 1] = {};
    unz_file_info info{};
    if (unzGetCurrentFileInfo(handle, &info, name, kMaxNameLength, nullptr, 0, nullptr, 0) != UNZ_OK)
        return;
    unz_file_pos pos{};
    if (unzGetFilePos(handle, &pos) != UNZ_OK)
        return;
    unsigned long length = info.size_filename < kMaxNameLength ? info.size_filename : kMaxNameLength;
    m_name.assign(name, length);
    m_fileInfo = info;
    m_filePos = pos;
    m_zipFile = archive;
    m_mode = ZIP_READ;
}

ZipEntry::ZipEntry(ZipFile* archive, const std::string& name, int method)
    : m_name(name), m_zipFile(archive), m_mode(ZIP_WRITE), m_method(method) {}

std::string ZipEntry::entryType() const {
    std::string::size_type slash = m_name.rfind('/');
    std::string::size_type dot = m_name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string type = m_name.substr(dot);
    for (char& c : type)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return type;
}

bool ZipEntry::holdsCurrent() const {
    return m_isOpen && m_zipFile && m_zipFile->getHandle() && m_ticket != 0 &&
           m_zipFile->m_currentTicket == m_ticket;
}

bool ZipEntry::open() {
    if (isEmpty() || !m_zipFile->getHandle()) {
        m_lastError = m_mode == ZIP_WRITE ? "zipOpenNewFileInZip failed" : "unzGoToFilePos failed";
        return false;
    }
    if (m_mode == ZIP_WRITE) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = 1980;
        info.tmz_date.tm_mday = 1;
        int level = m_method == kStored ? 0 : Z_DEFAULT_COMPRESSION;
        if (zipOpenNewFileInZip(m_zipFile->getHandle(), m_name.c_str(), &info, nullptr, 0, nullptr,
                                0, nullptr, m_method, level) != ZIP_OK) {
            m_lastError = "zipOpenNewFileInZip failed";
            return false;
        }
        m_fileInfo = unz_file_info{};
        m_fileInfo.compression_method = static_cast<unsigned long>(m_method);
    } else {
        unz_file_pos pos = m_filePos;
        if (unzGoToFilePos(m_zipFile->getHandle(), &pos) != UNZ_OK) {
            m_lastError = "unzGoToFilePos failed";
            return false;
        }
        if (unzOpenCurrentFile(m_zipFile->getHandle()) != UNZ_OK) {
            m_lastError = "unzOpenCurrentFile failed";
            return false;
        }
    }
    m_ticket = m_zipFile->nextTicket();
    m_isOpen = true;
    return true;
}

int ZipEntry::read(std::string& out) {
    if (m_mode != ZIP_READ || !holdsCurrent())
        return UNZ_PARAMERROR;
    unzFile handle = m_zipFile->getHandle();
    unsigned long claimed = getSize();
    if (claimed > kMaxEntrySize) {
        TF_LOG(LOG_ERROR, "zip member too large: " << m_name << " claims " << claimed
                                                   << " bytes, limit " << kMaxEntrySize);
        return UNZ_BADZIPFILE;
    }
    const bool fromStart = unztell64(handle) == 0;
    std::string data;
    // Grow with the data that really arrives, not with the size the archive claims.
    data.reserve(claimed < kReadChunk ? claimed : kReadChunk);
    char chunk[kReadChunk];
    while (data.size() < claimed) {
        unsigned long want = claimed - data.size();
        int got = unzReadCurrentFile(handle, chunk, want < kReadChunk ? static_cast<unsigned>(want) : kReadChunk);
        if (got < 0) {
            TF_LOG(LOG_ERROR, "zip member damaged: " << m_name << " (minizip error " << got << ")");
            return got;
        }
        if (got == 0)
            break;
        data.append(chunk, static_cast<size_t>(got));
    }
    if (fromStart && data.size() != claimed) {
        TF_LOG(LOG_ERROR, "zip member ends early: " << m_name << " has " << data.size() << " of "
                                                   << claimed << " bytes");
        return UNZ_BADZIPFILE;
    }
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // (A fuzzing build reads on: mutated bytes would rarely get past the check.)
    if (fromStart) {
        uLong crc = crc32(0L, Z_NULL, 0);
        // crc32 takes at most 4 GiB per call; members are capped far below that.
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
        if (crc != m_fileInfo.crc) {
            TF_LOG(LOG_ERROR, "zip member fails its CRC check: " << m_name);
            return UNZ_CRCERROR;
        }
    }
#endif
    out.swap(data);
    return static_cast<int>(out.size());
}

int ZipEntry::read(unsigned char** buffer, int count) {
    if (m_mode != ZIP_READ || !holdsCurrent() || !buffer || !*buffer || count < 0)
        return UNZ_PARAMERROR;
    return unzReadCurrentFile(m_zipFile->getHandle(), *buffer, static_cast<unsigned>(count));
}

bool ZipEntry::write(const void* data, unsigned length) {
    if (m_mode != ZIP_WRITE || !holdsCurrent())
        return false;
    if (zipWriteInFileInZip(m_zipFile->getHandle(), data, length) != ZIP_OK)
        return false;
    m_fileInfo.uncompressed_size += length;
    return true;
}

int ZipEntry::close() {
    if (!m_isOpen)
        return 0;
    m_isOpen = false;
    // Another entry has taken the archive's current member since: leave it alone.
    if (!m_zipFile || !m_zipFile->getHandle() || m_zipFile->m_currentTicket != m_ticket)
        return 0;
    m_zipFile->m_currentTicket = 0;
    if (m_mode == ZIP_WRITE)
        return zipCloseFileInZip(m_zipFile->getHandle());
    return unzCloseCurrentFile(m_zipFile->getHandle());
}

} // namespace tf
