#include "utility/DataStore.h"

#include <iostream>
#include <sqlite3.h>

#include "utility/log.h"

namespace tf {

namespace {

// Holds the connection's own mutex, so that the error message read after a
// failure belongs to this statement and not to one run by another thread.
class ConnectionLock {
public:
    explicit ConnectionLock(sqlite3* db) : m_mutex(db ? sqlite3_db_mutex(db) : nullptr) {
        if (m_mutex)
            sqlite3_mutex_enter(m_mutex);
    }
    ~ConnectionLock() {
        if (m_mutex)
            sqlite3_mutex_leave(m_mutex);
    }
    ConnectionLock(const ConnectionLock&) = delete;
    ConnectionLock& operator=(const ConnectionLock&) = delete;

private:
    sqlite3_mutex* m_mutex;
};

std::string error_text(sqlite3* db) {
    const char* message = sqlite3_errmsg(db);
    return message ? message : "";
}

} // namespace

DataStore::DataStore() = default;

DataStore::DataStore(const std::string& path) {
    // The connection is shared by two threads; that is only safe when SQLite has its mutexes.
    if (sqlite3_threadsafe() == 0) {
        TF_LOG(LOG_ERROR, "Failed to open database file: " << path << " (SQLite was built without thread safety)");
        return;
    }
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        TF_LOG(LOG_ERROR, "Failed to open database file: " << path);
        sqlite3_close(db);
        db = nullptr;
        return;
    }
    // A second instance of the program may hold a lock for a moment.
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
}

DataStore::~DataStore() {
    close();
}

void DataStore::close() {
    if (db) {
        sqlite3_close(db);
        db = nullptr;
    }
}

bool DataStore::query(const std::string& sql, sqlite3_stmt** statement) {
    *statement = nullptr;
    if (!db) {
        TF_LOG(LOG_ERROR, "Database not initialized");
        return false;
    }
    ConnectionLock lock(db);
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), statement, nullptr);
    if (rc != SQLITE_OK) {
        TF_LOG(LOG_ERROR, "Error: " << error_text(db));
        sqlite3_finalize(*statement);
        *statement = nullptr;
        return false;
    }
    return true;
}

bool DataStore::prepare(const std::string& sql, const Values& values, sqlite3_stmt** statement) {
    if (!query(sql, statement))
        return false;
    if (!*statement) {
        TF_LOG(LOG_ERROR, "Error: no statement in the text");
        return false;
    }
    int expected = sqlite3_bind_parameter_count(*statement);
    if (expected != static_cast<int>(values.size())) {
        TF_LOG(LOG_ERROR, "Error: the statement takes " << expected << " values, " << values.size() << " given");
        sqlite3_finalize(*statement);
        *statement = nullptr;
        return false;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        const Value& value = values[i];
        int index = static_cast<int>(i) + 1;
        int rc = value.isText() ? sqlite3_bind_text(*statement, index, value.text().data(),
                                                    static_cast<int>(value.text().size()), SQLITE_STATIC)
                                : sqlite3_bind_int64(*statement, index, value.number());
        if (rc != SQLITE_OK) {
            TF_LOG(LOG_ERROR, "Error: " << error_text(db));
            sqlite3_finalize(*statement);
            *statement = nullptr;
            return false;
        }
    }
    return true;
}

bool DataStore::createTable(const std::string& sql) {
    ConnectionLock lock(db);
    sqlite3_stmt* statement = nullptr;
    if (!query(sql, &statement) || !statement) {
        TF_LOG(LOG_ERROR, "Could not create table!: ");
        return false;
    }
    int rc = sqlite3_step(statement);
    std::string error = rc == SQLITE_DONE ? std::string() : error_text(db);
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) {
        TF_LOG(LOG_ERROR, "Could not create table!: " << error);
        return false;
    }
    return true;
}

bool DataStore::getQuery(const std::string& sql, Rows& rows) {
    return getQuery(sql, Values(), rows);
}

bool DataStore::getQuery(const std::string& sql, const Values& values, Rows& rows) {
    ConnectionLock lock(db);
    sqlite3_stmt* statement = nullptr;
    if (!prepare(sql, values, &statement))
        return true;  // logged; the caller sees no rows
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        Row row;
        int count = sqlite3_column_count(statement);
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(statement, i);
            if (!name)
                continue;
            const unsigned char* text = sqlite3_column_text(statement, i);
            int length = sqlite3_column_bytes(statement, i);
            row[name] = text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length))
                             : std::string();
        }
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        TF_LOG(LOG_ERROR, "Error: " << error_text(db));
    sqlite3_finalize(statement);
    return true;
}

bool DataStore::deleteById(const std::string& table, int id) {
    std::string sql = "DELETE FROM " + table + " WHERE id=" + std::to_string(id);
    std::cout << sql << std::endl;
    ConnectionLock lock(db);
    sqlite3_stmt* statement = nullptr;
    if (!query(sql, &statement) || !statement)
        return false;
    int rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE;
}

bool DataStore::save(const std::string& sql) {
    if (!db)
        return false;
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    sqlite3_free(message);
    return rc == SQLITE_OK;
}

bool DataStore::save(const std::string& sql, const Values& values, std::string* executed) {
    ConnectionLock lock(db);
    sqlite3_stmt* statement = nullptr;
    if (!prepare(sql, values, &statement))
        return false;
    if (executed) {
        char* expanded = sqlite3_expanded_sql(statement);
        *executed = expanded ? expanded : sql;
        sqlite3_free(expanded);
    }
    int rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_CONSTRAINT)
        TF_LOG(LOG_ERROR, "Error: " << error_text(db));
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE;
}

void DataStore::print(const Rows& rows) {
    for (const Row& row : rows) {
        for (const auto& entry : row)
            std::cout << '"' << entry.first << "\"=\"" << entry.second << "\", ";
        std::cout << '\n';
    }
    std::cout.flush();
}

} // namespace tf
