#pragma once

#include <map>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tf {

// A thin wrapper around one SQLite connection. It knows no table of its own:
// callers hand it complete statements. Failures are false results and log lines.
//
// The connection is opened in serialized mode, so one store may be shared by
// the window thread and a loader thread; a busy timeout lets a second program
// instance wait for a lock instead of failing.
class DataStore {
public:
    // One result row: column name -> text (NULL reads as "").
    typedef std::map<std::string, std::string> Row;
    typedef std::vector<Row> Rows;

    // A value bound to one "?" of a statement, so that no value is ever
    // spliced into SQL text.
    class Value {
    public:
        Value(const std::string& text) : m_text(text), m_isText(true) {}
        Value(const char* text) : m_text(text ? text : ""), m_isText(true) {}
        Value(int number) : m_number(number) {}
        Value(long long number) : m_number(number) {}

        bool isText() const { return m_isText; }
        const std::string& text() const { return m_text; }
        long long number() const { return m_number; }

    private:
        std::string m_text;
        long long m_number = 0;
        bool m_isText = false;
    };
    typedef std::vector<Value> Values;

    // How long a statement waits for another connection's lock.
    static constexpr int kBusyTimeoutMs = 5000;

    DataStore();
    // Opens (creating when missing) the database file at `path` (bytes).
    explicit DataStore(const std::string& path);
    virtual ~DataStore();

    DataStore(const DataStore&) = delete;
    DataStore& operator=(const DataStore&) = delete;

    // True while a connection is open.
    bool isOpen() const { return db != nullptr; }

    // Prepares the first statement of `sql`; the caller finalizes it.
    bool query(const std::string& sql, sqlite3_stmt** statement);
    // Runs one statement that returns no rows; "IF NOT EXISTS" on an existing table succeeds.
    bool createTable(const std::string& sql);
    // Runs one query and appends its rows. A statement that does not prepare
    // gives true and no rows (the failure is logged).
    bool getQuery(const std::string& sql, Rows& rows);
    bool getQuery(const std::string& sql, const Values& values, Rows& rows);
    bool deleteById(const std::string& table, int id);
    // Runs every statement of `sql`. Only for program-made text without values.
    bool save(const std::string& sql);
    // Runs the first statement of `sql` with `values` bound to its "?" in order.
    // Failures are logged, except a constraint violation (such as a UNIQUE
    // column refusing a known value), which the caller expects.
    // `executed`, when given, receives the statement with the values filled in.
    bool save(const std::string& sql, const Values& values, std::string* executed = nullptr);
    void print(const Rows& rows);

    // Closes the connection; later calls fail as on a store without a file.
    void close();

private:
    bool prepare(const std::string& sql, const Values& values, sqlite3_stmt** statement);

    sqlite3* db = nullptr;
};

} // namespace tf
