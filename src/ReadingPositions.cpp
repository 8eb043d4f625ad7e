#include "src/ReadingPositions.h"

#include <cstdlib>

#include "src/DataHelper.h"
#include "utility/DataStore.h"
#include "utility/String.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

const char* const kCreate =
    "CREATE TABLE IF NOT EXISTS \"positions\" (\n"
    "\t\"filename\"\tTEXT PRIMARY KEY,\n"
    "\t\"entry\"\tTEXT,\n"
    "\t\"char_offset\"\tINTEGER,\n"
    "\t\"percent\"\tINTEGER,\n"
    "\t\"saved\"\tINTEGER\n"
    ")";
const char* const kUpsert =
    "INSERT OR REPLACE INTO positions (filename, entry, char_offset, percent, saved) "
    "VALUES(?, ?, ?, ?, strftime('%s','now'))";
const char* const kSelect = "SELECT entry, char_offset, percent FROM positions WHERE filename=?";
const char* const kPercentages = "SELECT filename, percent FROM positions WHERE percent >= 0";
const char* const kDelete = "DELETE FROM positions WHERE filename=?";
const char* const kDeleteAll = "DELETE FROM positions WHERE 1";

const std::string& column(const DataStore::Row& row, const char* name) {
    static const std::string none;
    auto it = row.find(name);
    return it == row.end() ? none : it->second;
}

} // namespace

bool ReadingPositions::createTable(DataStore& store) {
    if (!store.createTable(kCreate)) {
        TF_LOG(LOG_ERROR, "The table of reading positions could not be made; positions are kept in pixels only");
        return false;
    }
    return true;
}

bool ReadingPositions::forget(DataStore& store, const std::string& filename) {
    return store.save(kDelete, {filename});
}

bool ReadingPositions::forgetAll(DataStore& store) {
    return store.save(kDeleteAll, {});
}

std::map<std::string, int> ReadingPositions::percentages(DataStore& store) {
    std::map<std::string, int> out;
    DataStore::Rows rows;
    store.getQuery(kPercentages, {}, rows);
    for (const auto& row : rows)
        out[column(row, "filename")] = str2int(column(row, "percent").c_str());
    return out;
}

ReadingPositions::ReadingPositions(DataHelper& library) : m_library(library) {}

bool ReadingPositions::save(const std::string& filename, const std::string& address, int position, int zoom,
                            const Anchor& anchor) {
    DataStore* store = m_library.getStore();
    if (!store || !m_library.isAvailable())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!store->save("BEGIN IMMEDIATE")) {
        TF_LOG(LOG_WARN, "the reading position of " << filename << " waits: the library is busy");
        return false;
    }
    bool ok = m_library.saveReadState(String(filename), String(address), position, zoom);
    if (ok && anchor.valid()) {
        // A share not known yet (the book's text still being measured) keeps the one saved before.
        int percent = anchor.percent;
        if (percent < 0) {
            DataStore::Rows rows;
            store->getQuery(kSelect, {filename}, rows);
            if (!rows.empty() && !column(rows.front(), "percent").empty())
                percent = str2int(column(rows.front(), "percent").c_str());
        }
        ok = store->save(kUpsert, {filename, anchor.entry, static_cast<long long>(anchor.offset), percent});
    }
    if (!store->save(ok ? "COMMIT" : "ROLLBACK")) {
        TF_LOG(LOG_ERROR, "the reading position of " << filename << " could not be written");
        store->save("ROLLBACK");
        return false;
    }
    return ok;
}

bool ReadingPositions::fetch(const std::string& filename, Anchor& anchor) {
    DataStore* store = m_library.getStore();
    if (!store || !m_library.isAvailable())
        return false;
    DataStore::Rows rows;
    store->getQuery(kSelect, {filename}, rows);
    if (rows.empty() || column(rows.front(), "char_offset").empty())
        return false;
    anchor.entry = column(rows.front(), "entry");
    anchor.offset = std::strtol(column(rows.front(), "char_offset").c_str(), nullptr, 10);
    anchor.percent = str2int(column(rows.front(), "percent").c_str());
    return anchor.offset >= 0;
}

} // namespace tf
