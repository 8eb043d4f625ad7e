#pragma once

#include <string>
#include <utility>
#include <vector>

#include <FreeImage.h>

#include "utility/String.h"

namespace tf {

class DataStore;

// The reader's library: the per-user data folder, the database "data.db" with
// its table `files`, one folder per book title holding "cover.png", the saved
// reading positions, and the generated home page.
//
// Every value reaches SQL as a bound parameter. When the database cannot be
// opened or is damaged, the failure is logged once, the file is left alone and
// every operation fails quietly: the program reads books without a library.
//
// The connection is shared: fetchReadState may run on a loader thread while
// the window thread uses the other operations.
class DataHelper {
public:
    static const String APPDIR;
    // A thumbnail wider than this many times its height shows nothing useful and
    // would cost a large bitmap for a banner-shaped picture.
    static constexpr int kMaxThumbnailAspect = 8;

    // What a followed link of the home page asks for (see readHomeLink).
    enum HomeLink { LINK_NONE, LINK_OPEN, LINK_REMOVE, LINK_REMOVE_ALL };

    // Opens or creates the data folder, the database and its table.
    DataHelper();
    virtual ~DataHelper();

    DataHelper(const DataHelper&) = delete;
    DataHelper& operator=(const DataHelper&) = delete;

    // False when the database could not be opened or set up.
    bool isAvailable() const { return available; }
    const String& getRoot() const { return root; }
    // The connection, for the tables kept beside `files` (ReadingPositions).
    DataStore* getStore() const { return available ? store : nullptr; }

    // The XHTML home page: the 100 most recently recorded books, newest first.
    // Book paths in its links are percent-encoded; see readHomeLink.
    std::string getHomePage();

    // The `limit` most recently recorded books, newest first, as (file path,
    // title), both the stored bytes; empty without a library.
    std::vector<std::pair<std::string, std::string>> recentBooks(int limit = 10);

    // Records a book; false (and nothing changed) for a book already recorded.
    // A cover path where no file exists is stored as "".
    bool addNewFile(const String& filename, const String& title, const String& cover);
    bool removeFile(const String& filename);
    bool removeFileAll();
    // The saved chapter address, scroll position and font size of a book;
    // false, outputs untouched, for an unknown book or one never closed.
    bool fetchReadState(const String& filename, String& address, int& position, int& zoom);
    // Saves the reading state of a recorded book. Refuses (false) an empty
    // address, the bare "epub://" and an address equal to the file name.
    bool saveReadState(const String& filename, const String& address, int position, int zoom);

    // The book's folder (root/MD5 hex digest of the title's bytes), made when missing.
    std::string createBookDirectory(const std::string& title);
    // Writes a cover thumbnail `height` pixels high as a 24-bit PNG to `path`,
    // unless a file is there already (then true). FIF_UNKNOWN, or a format the
    // bytes turn out not to be, decodes by the bytes themselves.
    bool iconFromData(FREE_IMAGE_FORMAT format, const unsigned char* data, int length, int height,
                      const String& path);
    // Writes `data` to directory/name; the path written, or "" when the name is
    // not a plain file name or the file cannot be written.
    std::string addNewFont(const String& directory, const String& name, const std::string& data);

    // Reads a link followed on the home page. The view calls this for every
    // link clicked while the home page is shown, instead of parsing it as an
    // address (book paths in the page are percent-encoded, so "#", "?", "&"
    // and spaces in them survive):
    //  - "cmd://delete?file=..." -> LINK_REMOVE, `path` = the decoded book path;
    //  - "cmd://delete_all"      -> LINK_REMOVE_ALL;
    //  - any other "cmd://" address, or "delete" without a file -> LINK_NONE;
    //  - anything else (an "Open" link) -> LINK_OPEN, `path` = the decoded book path,
    //    to be opened as it is.
    static HomeLink readHomeLink(const std::string& href, std::string& path);

private:
    DataStore* store = nullptr;
    String root;
    bool available = false;
};

} // namespace tf
