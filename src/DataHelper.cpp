#include "src/DataHelper.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <iostream>
#include <unistd.h>

#include <openssl/evp.h>

#include "src/ReadingPositions.h"
#include "utility/DataStore.h"
#include "utility/File.h"
#include "utility/Image.h"
#include "utility/URI.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

const String DataHelper::APPDIR = String("OrinelReader");

namespace {

const char* const kCreateFiles =
    "CREATE TABLE  IF NOT EXISTS \"files\" (\n"
    "\t\"id\"\tINTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "\t\"filename\"\tTEXT UNIQUE,\n"
    "\t\"format\"\tTEXT,\n"
    "\t\"cover\"\tTEXT,\n"
    "\t\"title\"\tTEXT,\n"
    "\t\"read_uri\"\tTEXT,\n"
    "\t\"read_pos\"\tINTEGER,\n"
    "\t\"zoom_level\"\tINTEGER,\n"
    "\t\"created\"\tINTEGER\n"
    ")";

const char* const kInsertFile = "INSERT INTO files (filename, title, cover) VALUES(?, ?, ?)";
const char* const kDeleteFile = "DELETE FROM files WHERE filename=?";
const char* const kDeleteAll = "DELETE FROM files WHERE 1";
const char* const kSelectState = "SELECT read_uri, read_pos, zoom_level FROM files WHERE filename=?";
const char* const kUpdateState = "UPDATE files SET read_uri=?, read_pos=?, zoom_level=? WHERE filename = ?";
const char* const kSelectHome =
    "SELECT id, filename, cover, title, format\t\t\t\t\t\t\t\t FROM files ORDER BY id DESC LIMIT 100";
const char* const kSelectRecent = "SELECT filename, title FROM files ORDER BY id DESC LIMIT ?";

const char* const kCmdPrefix = "cmd://";
const char* const kPlaceholderCover = "content://cover.png";

// Paths and titles arrive widened byte by byte, and str() gives the bytes
// back. A text holding code units above 255 was never bytes: it goes in as
// UTF-8 rather than with those units replaced.
std::string to_bytes(const String& text) {
    for (wchar_t c : text) {
        if (static_cast<unsigned long>(c) > 255)
            return text.utf8();
    }
    return text.str();
}

std::string md5_hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) {
        TF_LOG(LOG_ERROR, "MD5 digest failed");
        return std::string();
    }
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 15]);
    }
    return out;
}


bool is_utf8_continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// shortify() that never cuts a UTF-8 character in two: the head ends and the
// tail starts on character boundaries, so either may come out a little shorter.
std::string shorten(const std::string& text, unsigned limit) {
    if (text.size() <= limit)
        return text;
    size_t half = limit / 2;
    size_t head = half;
    while (head > 0 && is_utf8_continuation(text[head]))
        --head;
    size_t tail = text.size() - half;
    while (tail < text.size() && is_utf8_continuation(text[tail]))
        ++tail;
    return text.substr(0, head) + ".." + text.substr(tail);
}

const std::string& column(const DataStore::Row& row, const char* name) {
    static const std::string none;
    auto it = row.find(name);
    return it == row.end() ? none : it->second;
}

} // namespace

DataHelper::DataHelper() : root(String(File::home() + File::separator + APPDIR)) {
    File folder(root);
    if (!folder.exist() && !folder.makedir())
        TF_LOG(LOG_ERROR, "Could not create the data folder: " << root.str());

    std::string path = String(root + File::separator + String("data.db")).str();
    store = new DataStore(path);
    available = store->isOpen() && store->createTable(kCreateFiles);
    if (available)
        ReadingPositions::createTable(*store);
    if (!available) {
        // Closing keeps SQLite from ever writing to a file it could not read.
        store->close();
        TF_LOG(LOG_ERROR, "The library is not available, books open without it: " << path);
    }
}

DataHelper::~DataHelper() {
    delete store;
}

std::string DataHelper::getHomePage() {
    DataStore::Rows rows;
    std::map<std::string, int> percentRead;
    if (available) {
        store->getQuery(kSelectHome, rows);
        percentRead = ReadingPositions::percentages(*store);
    }

    std::string page;
    page.reserve(512 + rows.size() * 512);
    page += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";
    page += "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\">\n";
    page += "<body><h2>Orinel Reader for eBooks</h2><p>EPUB, HTML, FB2</p>";
    page += "<table border=\"0\" style=\"width:95%\">\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        const DataStore::Row& row = rows[i];
        const std::string& filename = column(row, "filename");
        const std::string& cover = column(row, "cover");
        // url_encode leaves only letters, digits and "-_.~/%", which need no XML escaping.
        std::string link = url_encode(filename);

        if (i % 3 == 0)
            page += "<tr>";
        page += "<td style=\"padding:10px;\">";
        page += "<img alt=\"cover image\" src=\"";
        page += xml_escape(cover.empty() ? std::string(kPlaceholderCover) : cover);
        page += "\" />";
        page += "<p><strong>";
        page += xml_escape(shorten(column(row, "title"), 100));
        page += "</strong>";
        page += "<br/><i>";
        page += xml_escape(shorten(filename, 25));
        page += "</i>";
        if (percentRead.count(filename))
            page += "<br/>" + std::to_string(percentRead[filename]) + " % read";
        page += "<br/><a href=\"" + link + "\">Open</a> | <a href=\"cmd://delete?file=" + link +
                "\">Remove</a></p>";
        page += "</td>";
        if ((i + 1) % 3 == 0)
            page += "</tr>\n";
    }
    if (rows.size() % 3 != 0)
        page += "</tr>";
    if (!rows.empty())
        page += "<tr><td><a href=\"cmd://delete_all\">Remove All</a></td></tr>";
    page += "</table></body></html>";
    return page;
}

std::vector<std::pair<std::string, std::string>> DataHelper::recentBooks(int limit) {
    std::vector<std::pair<std::string, std::string>> books;
    DataStore::Rows rows;
    if (!available || limit <= 0 || !store->getQuery(kSelectRecent, {limit}, rows))
        return books;
    for (const DataStore::Row& row : rows)
        books.emplace_back(column(row, "filename"), column(row, "title"));
    return books;
}

bool DataHelper::addNewFile(const String& filename, const String& title, const String& cover) {
    if (!available)
        return false;
    std::string name = to_bytes(filename);
    if (name.empty()) {
        TF_LOG(LOG_ERROR, "A book without a file name is not recorded");
        return false;
    }
    std::string coverPath = File(cover).exist() ? to_bytes(cover) : std::string();
    return store->save(kInsertFile, {name, to_bytes(title), coverPath});
}

bool DataHelper::removeFile(const String& filename) {
    return available && store->save(kDeleteFile, {to_bytes(filename)}) &&
           ReadingPositions::forget(*store, to_bytes(filename));
}

bool DataHelper::removeFileAll() {
    return available && store->save(kDeleteAll, {}) && ReadingPositions::forgetAll(*store);
}

bool DataHelper::fetchReadState(const String& filename, String& address, int& position, int& zoom) {
    if (!available)
        return false;
    DataStore::Rows rows;
    store->getQuery(kSelectState, {to_bytes(filename)}, rows);
    if (rows.empty())
        return false;
    const DataStore::Row& row = rows.front();
    const std::string& uri = column(row, "read_uri");
    if (uri.empty())
        return false;
    address = String(uri);
    position = str2int(column(row, "read_pos").c_str());
    zoom = str2int(column(row, "zoom_level").c_str());
    return true;
}

bool DataHelper::saveReadState(const String& filename, const String& address, int position, int zoom) {
    if (address.empty() || address == String("epub://") || address == filename)
        return false;
    if (!available)
        return false;
    std::string executed;
    bool ok = store->save(kUpdateState, {to_bytes(address), position, zoom, to_bytes(filename)}, &executed);
    std::cout << executed << '\n' << "saveReadState=" << (ok ? 1 : 0) << std::endl;
    return ok;
}

std::string DataHelper::createBookDirectory(const std::string& title) {
    std::string digest = md5_hex(title);
    if (digest.empty())
        return std::string();
    String directory(root + File::separator + String(digest));
    File folder(directory);
    if (!folder.exist() && !folder.makedir())
        TF_LOG(LOG_ERROR, "Could not create the book folder: " << directory.str());
    return directory.str();
}

bool DataHelper::iconFromData(FREE_IMAGE_FORMAT format, const unsigned char* data, int length, int height,
                              const String& path) {
    if (File(path).exist())
        return true;
    std::cout << "fif=" << static_cast<int>(format) << std::endl;
    std::string target = to_bytes(path);
    if (!data || length <= 0 || height <= 0) {
        TF_LOG(LOG_WARN, "No cover picture for " << target);
        return false;
    }
    // FreeImage only reads the bytes.
    unsigned char* bytes = const_cast<unsigned char*>(data);
    Image image(bytes, length, format);
    // Names like "cover" or "COVER.JPG" do not tell the format; a wrong one does not decode.
    if (image.isEmpty() && format != FIF_UNKNOWN)
        image = Image(bytes, length, FIF_UNKNOWN);
    if (image.isEmpty()) {
        TF_LOG(LOG_WARN, "The cover picture could not be decoded for " << target);
        return false;
    }
    double scaledWidth = image.width() * (static_cast<double>(height) / image.height());
    if (scaledWidth > static_cast<double>(DataHelper::kMaxThumbnailAspect) * height)
        image.setSize(DataHelper::kMaxThumbnailAspect * height, height);
    else
        image.setHeight(height);
    if (image.isEmpty()) {
        TF_LOG(LOG_WARN, "The cover picture could not be scaled for " << target);
        return false;
    }
    // Written aside and renamed: a half-written file would pass for a finished
    // thumbnail on every later call.
    std::string partial = target + ".part" + std::to_string(static_cast<long>(::getpid()));
    if (!image.writePNG(partial)) {
        std::remove(partial.c_str());
        TF_LOG(LOG_WARN, "Could not write the thumbnail " << target);
        return false;
    }
    if (std::rename(partial.c_str(), target.c_str()) != 0) {
        std::remove(partial.c_str());
        TF_LOG(LOG_WARN, "Could not write the thumbnail " << target);
        return false;
    }
    return true;
}

std::string DataHelper::addNewFont(const String& directory, const String& name, const std::string& data) {
    std::string file = to_bytes(name);
    // The name comes from a book: it must not lead out of the directory.
    if (file.empty() || file == "." || file == ".." || file.find('/') != std::string::npos ||
        file.find('\\') != std::string::npos) {
        TF_LOG(LOG_ERROR, "Refusing the font file name \"" << file << "\"");
        return std::string();
    }
    std::string path = to_bytes(directory) + "/" + file;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) {
        TF_LOG(LOG_ERROR, "Could not write the font file " << path);
        return std::string();
    }
    return path;
}

DataHelper::HomeLink DataHelper::readHomeLink(const std::string& href, std::string& path) {
    if (href.empty())
        return LINK_NONE;
    if (href.compare(0, std::string(kCmdPrefix).size(), kCmdPrefix) != 0) {
        path = URI::decode(String(href)).str();
        return LINK_OPEN;
    }
    // Parsed as any address: the fragment goes first, the last "file" parameter counts.
    const URI link{String(href)};
    if (link.m_path == String("delete_all"))
        return LINK_REMOVE_ALL;
    const String file = link.getString(String("file"));
    if (link.m_path != String("delete") || file.empty())
        return LINK_NONE;
    path = URI::decode(file).str();
    return LINK_REMOVE;
}

} // namespace tf
