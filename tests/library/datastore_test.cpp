#include <gtest/gtest.h>

#include <chrono>
#include <iterator>
#include <sqlite3.h>
#include <string>
#include <thread>

#include "TempDir.h"
#include "utility/DataStore.h"

using tf::DataStore;

namespace {

struct StoreFixture : ::testing::Test {
    TempDir tmp;
    std::string path = tmp.path + "/test.db";
    DataStore store{path};

    void SetUp() override {
        ASSERT_TRUE(store.isOpen());
        ASSERT_TRUE(store.createTable("CREATE TABLE IF NOT EXISTS t (id INTEGER PRIMARY KEY, a TEXT, b TEXT)"));
    }
    size_t count() {
        DataStore::Rows rows;
        store.getQuery("SELECT id FROM t", rows);
        return rows.size();
    }
};

} // namespace

TEST_F(StoreFixture, QueriesAppendRowsAndReadNullAsEmpty) {
    ASSERT_TRUE(store.save("INSERT INTO t (a) VALUES('x')"));
    DataStore::Rows rows;
    ASSERT_TRUE(store.getQuery("SELECT a, b, a || '!' AS a FROM t", rows));
    ASSERT_EQ(rows.size(), 1u);
    // NULL is present as ""; a later column of the same name replaces the earlier one.
    EXPECT_EQ(rows[0], (DataStore::Row{{"a", "x!"}, {"b", ""}}));

    ASSERT_TRUE(store.getQuery("SELECT a FROM t WHERE a = 'none'", rows));
    EXPECT_EQ(rows.size(), 1u);
    ASSERT_TRUE(store.getQuery("SELECT a FROM t", rows));
    EXPECT_EQ(rows.size(), 2u);

    // A statement that does not prepare gives true and no rows.
    EXPECT_TRUE(store.getQuery("SELECT nothing FROM nowhere", rows));
    EXPECT_EQ(rows.size(), 2u);
}

TEST_F(StoreFixture, SaveRunsEveryStatementQueryOnlyTheFirst) {
    const std::string two = "INSERT INTO t (a) VALUES('1'); INSERT INTO t (a) VALUES('2')";
    ASSERT_TRUE(store.save(two));
    EXPECT_EQ(count(), 2u);

    sqlite3_stmt* statement = nullptr;
    ASSERT_TRUE(store.query(two, &statement));
    EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
    sqlite3_finalize(statement);
    EXPECT_EQ(count(), 3u);

    EXPECT_FALSE(store.save("INSERT INTO nowhere VALUES(1)"));
    EXPECT_FALSE(store.query("NOT SQL", &statement));
    EXPECT_EQ(statement, nullptr);
}

TEST_F(StoreFixture, CreateTableTwiceAndDeleteById) {
    EXPECT_TRUE(store.createTable("CREATE TABLE IF NOT EXISTS t (id INTEGER PRIMARY KEY, a TEXT, b TEXT)"));
    EXPECT_FALSE(store.createTable("CREATE TABLE t (id INTEGER)"));
    EXPECT_FALSE(store.createTable("NOT SQL"));

    ASSERT_TRUE(store.save("INSERT INTO t (id, a) VALUES(7, 'x'); INSERT INTO t (id, a) VALUES(8, 'y')"));
    EXPECT_TRUE(store.deleteById("t", 7));
    DataStore::Rows rows;
    store.getQuery("SELECT id FROM t", rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("id"), "8");
    EXPECT_FALSE(store.deleteById("nowhere", 8));
}

// Values that would end a quoted literal, or that a double-quoted literal
// would take for a column name, must be stored and matched as themselves.
TEST_F(StoreFixture, BoundValuesRoundTripAndNeverMatchAsColumns) {
    const std::string values[] = {"a",        "b",           "id",    "it's",
                                  "say \"x\"", "x'); DELETE FROM t; --", "Grüße, 日本",
                                  std::string("nul\0byte", 8)};
    for (const std::string& v : values)
        ASSERT_TRUE(store.save("INSERT INTO t (a, b) VALUES(?, ?)", {v, v})) << v;
    ASSERT_EQ(count(), std::size(values));

    for (const std::string& v : values) {
        DataStore::Rows rows;
        ASSERT_TRUE(store.getQuery("SELECT a, b FROM t WHERE a=?", {v}, rows));
        ASSERT_EQ(rows.size(), 1u) << v;
        EXPECT_EQ(rows[0].at("b"), v);
    }

    std::string executed;
    ASSERT_TRUE(store.save("DELETE FROM t WHERE a=?", {"a"}, &executed));
    EXPECT_EQ(executed, "DELETE FROM t WHERE a='a'");
    EXPECT_EQ(count(), std::size(values) - 1);

    // Integers bind as integers; a count that does not fit the statement is refused.
    DataStore::Rows rows;
    store.getQuery("SELECT typeof(?) AS type, ? + 1 AS next", {42, 41}, rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (DataStore::Row{{"next", "42"}, {"type", "integer"}}));
    EXPECT_FALSE(store.save("UPDATE t SET b=? WHERE a=?", {1}));
    EXPECT_FALSE(store.save("UPDATE t SET b=1", {"extra"}));
}

TEST(DataStore, WithoutAConnectionEveryOperationFails) {
    TempDir tmp;
    DataStore none;
    DataStore unopenable(tmp.path + "/missing/folder/test.db");
    for (DataStore* store : {&none, &unopenable}) {
        EXPECT_FALSE(store->isOpen());
        sqlite3_stmt* statement = nullptr;
        EXPECT_FALSE(store->query("SELECT 1", &statement));
        EXPECT_FALSE(store->createTable("CREATE TABLE IF NOT EXISTS t (a)"));
        DataStore::Rows rows;
        EXPECT_TRUE(store->getQuery("SELECT 1", rows));
        EXPECT_TRUE(rows.empty());
        EXPECT_FALSE(store->deleteById("t", 1));
        EXPECT_FALSE(store->save("SELECT 1"));
        EXPECT_FALSE(store->save("SELECT ?", {1}));
    }
}

// A second program instance holding a write lock makes statements wait, not fail.
TEST_F(StoreFixture, WaitsForAnotherConnectionsLock) {
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; INSERT INTO t (a) VALUES('other')", nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(store.save("INSERT INTO t (a) VALUES(?)", {"mine"}));
    EXPECT_TRUE(store.save("INSERT INTO t (a) VALUES('again')"));
    auto waited = std::chrono::steady_clock::now() - start;
    release.join();
    sqlite3_close(other);
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_EQ(count(), 3u);
}

TEST_F(StoreFixture, OneConnectionServesTwoThreads) {
    const int n = 50;
    auto work = [this](const char* who, int* failures) {
        for (int i = 0; i < n; ++i) {
            if (!store.save("INSERT INTO t (a, b) VALUES(?, ?)", {who, i}))
                ++*failures;
            DataStore::Rows rows;
            store.getQuery("SELECT b FROM t WHERE a=? ORDER BY id DESC LIMIT 1", {who}, rows);
            if (rows.size() != 1 || rows[0].at("b") != std::to_string(i))
                ++*failures;
        }
    };
    int failuresA = 0, failuresB = 0;
    std::thread a(work, "a", &failuresA);
    work("b", &failuresB);
    a.join();
    EXPECT_EQ(failuresA, 0);
    EXPECT_EQ(failuresB, 0);
    EXPECT_EQ(count(), 2u * n);
}
