#pragma once

#include <map>
#include <mutex>
#include <string>

namespace tf {

class DataHelper;
class DataStore;

// Where the reader stands in each book as a text anchor, in the library's
// table `positions` beside `files`: the reading-order entry, the character
// offset (code point of the entry's EntryText) of the first visible text, and
// the share of the book read in percent. The anchor survives a new zoom,
// window width or style, which the pixel offset in `files` does not.
//
// save() writes the designed reading state (DataHelper::saveReadState) and the
// anchor in one transaction, so the two never disagree.
//
// Threads: any; saves are serialised by a lock of their own and the library's
// connection is shared (DataStore).
class ReadingPositions {
public:
    struct Anchor {
        std::string entry; // the entry name as the reader knows it
        long offset = -1;  // characters of the entry's text before the first visible one
        int percent = -1;  // share of the book's text before it, 0..100; -1 unknown
        bool valid() const { return offset >= 0; }
    };

    // Creates the table when missing; false (logged) when it cannot.
    static bool createTable(DataStore& store);
    // Drops a book's anchor (with the book); `filename` as recorded (bytes).
    static bool forget(DataStore& store, const std::string& filename);
    static bool forgetAll(DataStore& store);
    // Percent read per recorded file name, for books with a known share.
    static std::map<std::string, int> percentages(DataStore& store);

    explicit ReadingPositions(DataHelper& library);

    // One transaction: the designed columns of `files` and the anchor. False,
    // nothing changed, when the library refuses the state (see saveReadState).
    bool save(const std::string& filename, const std::string& address, int position, int zoom, const Anchor& anchor);
    // The saved anchor of a book; false when there is none.
    bool fetch(const std::string& filename, Anchor& anchor);

private:
    DataHelper& m_library;
    std::mutex m_mutex;
};

} // namespace tf
