#pragma once

#include <string>

#include <minizip/unzip.h>
#include <minizip/zip.h>

namespace tf {

class ZipFile;

// One member of a zip archive. Entries are plain values: copies refer to the
// same archive (not owned) and read the member again on request.
class ZipEntry {
public:
    enum zip_mode { ZIP_READ = 0, ZIP_WRITE = 1 };

    // Compression methods for members being written.
    static constexpr int kStored = 0;
    static constexpr int kDeflated = Z_DEFLATED;

    // Longest member name kept; longer names are cut.
    static constexpr unsigned kMaxNameLength = 255;
    // Largest member read as a whole; the archive's own size claims are not trusted beyond this.
    static constexpr unsigned long kMaxEntrySize = 256ul * 1024 * 1024;

    // An empty entry: no archive, no name.
    ZipEntry();
    // The archive's current member (reading).
    explicit ZipEntry(ZipFile* archive);
    // A new member to be written into `archive` (opened with ZIP_WRITE).
    ZipEntry(ZipFile* archive, const std::string& name, int method);
    virtual ~ZipEntry() = default;

    bool isEmpty() const { return m_zipFile == nullptr || m_name.empty(); }
    const std::string& getName() const { return m_name; }
    unsigned long getSize() const { return m_fileInfo.uncompressed_size; }
    unsigned long getSizeCompressed() const { return m_fileInfo.compressed_size; }
    ZipFile* getZipFile() const { return m_zipFile; }
    const std::string& getLastError() const { return m_lastError; }
    zip_mode getMode() const { return m_mode; }
    bool isOpen() const { return m_isOpen; }
    // Member number in the directory, and the offset of its directory record.
    unsigned long getFilePos() const { return m_filePos.num_of_file; }
    unsigned long getFileOffset() const { return m_filePos.pos_in_zip_directory; }
    const unz_file_info& getFileInfo() const { return m_fileInfo; }

    // The extension of the last path segment from its last "." on, ASCII
    // lower-cased (".xhtml"); "" when that segment has no ".".
    std::string entryType() const;

    // Reading: makes this member the archive's current one and opens it.
    // Writing: starts the member in the archive.
    bool open();
    // Reads the rest of the open member (all of it right after open()) into `out`.
    // Returns the number of bytes, or a negative minizip code with `out` untouched:
    // also when the member claims more than kMaxEntrySize, ends before its
    // recorded size, or fails its CRC.
    int read(std::string& out);
    // Reads up to `count` further bytes into the buffer at *buffer; 0 at the end,
    // negative on error.
    int read(unsigned char** buffer, int count);
    // Writing: appends bytes to the open member. Returns whether minizip took them.
    bool write(const void* data, unsigned length);
    bool write(const std::string& data) { return write(data.data(), static_cast<unsigned>(data.size())); }
    // Closes the open member; minizip's result (UNZ_CRCERROR for damaged data
    // read to its end), 0 when nothing was open.
    int close();

private:
    // Whether this entry still owns the archive's single current member.
    bool holdsCurrent() const;

    std::string m_lastError;
    std::string m_name;
    ZipFile* m_zipFile = nullptr;
    unz_file_pos m_filePos{};
    unz_file_info m_fileInfo{};
    zip_mode m_mode = ZIP_READ;
    bool m_isOpen = false;
    int m_method = kDeflated;
    // Which open() of the archive this entry made; a later open of another
    // entry takes the current member away from this one.
    unsigned long m_ticket = 0;
};

} // namespace tf
