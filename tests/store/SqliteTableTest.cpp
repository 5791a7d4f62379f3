// The access layer on real database files: cell readers, error texts, bound values, prepared
// statements, transactions and lock waiting.
#include "store/SqliteTable.h"
#include "support/TempDataFolder.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

using namespace zvrd;

namespace {

// Runs fn and returns the message of the SqliteException it raised ("" when none).
template <typename Fn> QString errorOf(Fn&& fn) {
    try {
        fn();
    } catch (const SqliteException& e) {
        return e.message();
    }
    return QString();
}

class SqliteTableTest : public ::testing::Test {
protected:
    test::TempDataFolder folder;
    QString dbPath = folder.file(QStringLiteral("t.db"));
};

TEST_F(SqliteTableTest, OpeningAMissingFileCreatesAnEmptyDatabaseWhoseTablesAreMissing) {
    ASSERT_FALSE(QFile::exists(dbPath));
    SqliteDatabase db(dbPath);
    EXPECT_TRUE(QFile::exists(dbPath));
    EXPECT_EQ(errorOf([&] { db.query(QStringLiteral("select * from latest_read")); }),
              QStringLiteral("Error executing SQL.\rError [1]: SQL logic error.\r"
                             "\"select * from latest_read\": no such table: latest_read"));
    // The connection stays usable after a failure.
    db.exec(QStringLiteral("create table t(a)"));
    EXPECT_TRUE(db.tableExists(QStringLiteral("T")));
    EXPECT_FALSE(db.tableExists(QStringLiteral("it's")));
}

TEST_F(SqliteTableTest, OpeningAFolderAsDatabaseFailsWithTheEngineMessage) {
    const QString msg =
        errorOf([&] { SqliteDatabase db(folder.file(QStringLiteral("no/such/dir/x.db"))); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("Failed to open database \"") +
                               folder.file(QStringLiteral("no/such/dir/x.db")) +
                               QStringLiteral("\" : ")))
        << msg.toStdString();
}

TEST_F(SqliteTableTest, EmptyResultIsAtEofAndRefusesCells) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table t(id INTEGER, name TEXT)"));
    auto table = db.query(QStringLiteral("select id from t"));
    EXPECT_TRUE(table->atEnd());
    EXPECT_EQ(table->count(), 0u);
    EXPECT_FALSE(table->next());
    EXPECT_EQ(errorOf([&] { table->fieldAsString(0); }), QStringLiteral("Table is at End of File"));
    EXPECT_EQ(errorOf([&] { table->fieldAsInteger(0); }),
              QStringLiteral("Table is at End of File"));
    auto cursor = db.cursor(QStringLiteral("select id from t"));
    EXPECT_TRUE(cursor->atEnd());
    EXPECT_FALSE(errorOf([&] { cursor->fieldAsString(0); }).isEmpty());
}

TEST_F(SqliteTableTest, FieldIndexIgnoresCaseAndFindsTheFirstOfTwoEqualNames) {
    SqliteDatabase db(dbPath);
    auto table = db.query(QStringLiteral("select 1 as id, 2 as Id, 3 as name"));
    EXPECT_EQ(table->fieldIndex(QStringLiteral("iD")), 0);
    EXPECT_EQ(table->fieldIndex(QStringLiteral("NAME")), 2);
    EXPECT_EQ(errorOf([&] { table->fieldIndex(QStringLiteral("nothing")); }),
              QStringLiteral("Field not found in dataset: nothing"));
}

// A column without a declared type takes each value's kind from the value: a NULL first row
// does not blank the rest.
TEST_F(SqliteTableTest, ColumnsWithoutATypeReadEachValueByItsOwnKind) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table u(a, b)"));
    db.exec(QStringLiteral("insert into u values(NULL, NULL), ('text', 7), (2.5, x'4142')"));
    auto t = db.query(QStringLiteral("select * from u"));
    EXPECT_TRUE(t->fieldIsNull(0));
    t->next();
    EXPECT_EQ(t->fieldAsString(0), QStringLiteral("text"));
    EXPECT_EQ(t->fieldAsInteger(1), 7);
    t->next();
    EXPECT_EQ(t->fieldAsString(0), QStringLiteral("2.5"));
    EXPECT_EQ(t->fieldAsString(1), QStringLiteral("AB"));
}

TEST_F(SqliteTableTest, NullReadsAsEmptyTextOrZero) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table n(a INTEGER, b TEXT, c REAL)"));
    db.exec(QStringLiteral("insert into n values(NULL, NULL, NULL)"));
    auto t = db.query(QStringLiteral("select a, b, c, NULL as e from n"));
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(t->fieldAsString(i), QString()) << i;
        EXPECT_TRUE(t->fieldIsNull(i)) << i;
        EXPECT_EQ(t->fieldAsInteger(i), 0) << i;
    }
}

TEST_F(SqliteTableTest, ExecSqlCountsRowsAndRefusesEmptyOrRowYieldingStatements) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table t(a)"));
    db.exec(QStringLiteral("insert into t values(1)"));
    EXPECT_EQ(db.rowsChanged(), 1);
    auto viaTable = db.query(QStringLiteral("insert into t values(2)"));
    EXPECT_TRUE(viaTable->atEnd());
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from t")), 2);

    EXPECT_EQ(errorOf([&] { db.exec(QString()); }),
              QStringLiteral("Could not prepare SQL statement"));
    EXPECT_EQ(errorOf([&] { db.exec(QStringLiteral("  -- only a comment")); }),
              QStringLiteral("Could not prepare SQL statement"));
    EXPECT_EQ(errorOf([&] { db.query(QStringLiteral(" ")); }),
              QStringLiteral("Could not prepare SQL statement"));
    EXPECT_TRUE(errorOf([&] {
                    db.exec(QStringLiteral("select * from t"));
                }).startsWith(QStringLiteral("Error executing SQL statement")));
    const QString syntax = errorOf([&] { db.exec(QStringLiteral("insert into")); });
    EXPECT_TRUE(syntax.startsWith(
        QStringLiteral("Error executing SQL.\rError [1]: SQL logic error.\r\"insert into\": ")))
        << syntax.toStdString();
    // Only the first statement of a text runs.
    db.exec(QStringLiteral("insert into t values(3); insert into t values(4)"));
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from t")), 3);
}

TEST_F(SqliteTableTest, ConstraintFailureWhileSteppingIsReported) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table u(a UNIQUE)"));
    db.exec(QStringLiteral("insert into u values(1)"));
    const QString msg = errorOf([&] { db.exec(QStringLiteral("insert into u values(1)")); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("Error executing SQL statement.\rError [19]: "
                                              "constraint failed.\r")))
        << msg.toStdString();
}

// Values are bound, never spliced: a quote, a very large number and NULL come back exactly.
TEST_F(SqliteTableTest, BoundValuesAndPreparedStatementsStoreValuesExactly) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table p(i, t, n)"));
    db.exec(QStringLiteral("insert into p values(?1, ?2, ?3)"),
            {int64_t(1234567890123), QStringLiteral("he said \"hi\" 'x' 你好"), SqlValue()});
    auto t = db.query(QStringLiteral("select i, t, n from p where t = ?1"),
                      {QStringLiteral("he said \"hi\" 'x' 你好")});
    ASSERT_FALSE(t->atEnd());
    EXPECT_EQ(t->fieldAsInteger(0), 1234567890123LL);
    EXPECT_TRUE(t->fieldIsNull(2));
    // A prepared statement runs again with new values; the texts it was given may go at once.
    SqlitePrepared insert(db, QStringLiteral("insert into p(i, t) values(?1, ?2)"));
    for (int i = 0; i < 3; ++i)
        insert.run({i, QStringLiteral("row ") + QString::number(i)});
    EXPECT_EQ(
        db.stringValues(QStringLiteral("select t from p where i < 3 order by i")),
        (QStringList{QStringLiteral("row 0"), QStringLiteral("row 1"), QStringLiteral("row 2")}));
    EXPECT_TRUE(errorOf([&] {
                    insert.run({1, 2, 3});
                }).startsWith(QStringLiteral("Could not bind a value to SQL statement")));
}

TEST_F(SqliteTableTest, TransactionsRollBackWhenTheConnectionGoesWithOneOpen) {
    {
        SqliteDatabase db(dbPath);
        db.exec(QStringLiteral("create table t(a)"));
        db.beginTransaction();
        EXPECT_TRUE(db.inTransaction());
        EXPECT_EQ(errorOf([&] { db.beginTransaction(); }),
                  QStringLiteral("Transaction already open"));
        db.exec(QStringLiteral("insert into t values(1)"));
    }
    SqliteDatabase db(dbPath);
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from t")), 0);
    db.beginTransaction();
    db.exec(QStringLiteral("insert into t values(2)"));
    db.commit();
    EXPECT_FALSE(db.inTransaction());
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from t")), 1);
}

TEST_F(SqliteTableTest, CursorWalksForwardAndReadsLiveCells) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table u(a INTEGER, b TEXT)"));
    db.exec(QStringLiteral("insert into u values(1, 'one'), (2, NULL)"));
    auto u = db.cursor(QStringLiteral("select a, b from u where a >= ?1 order by a"), {1});
    ASSERT_FALSE(u->atEnd());
    EXPECT_EQ(u->fieldAsString(1), QStringLiteral("one"));
    EXPECT_TRUE(u->next());
    EXPECT_EQ(u->fieldAsInteger(0), 2);
    EXPECT_EQ(u->fieldAsString(1), QString());
    EXPECT_FALSE(u->next());
    EXPECT_TRUE(u->atEnd());
    EXPECT_EQ(db.integerValue(QStringLiteral("select a from u where a > 5")), 0);
}

TEST_F(SqliteTableTest, ALockedDatabaseFailsAtOnceWithoutTimeoutAndWaitsWithTheDefault) {
    SqliteDatabase holder(dbPath);
    holder.exec(QStringLiteral("create table t(a)"));
    SqliteDatabase other(dbPath);
    other.query(QStringLiteral("select * from t")); // schema is known before the lock
    holder.exec(QStringLiteral("BEGIN EXCLUSIVE"));
    holder.exec(QStringLiteral("insert into t values(1)"));

    sqlite3_busy_timeout(other.handle(), 0);
    const QString msg = errorOf([&] { other.exec(QStringLiteral("insert into t values(2)")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("Error [5]: database is locked.\r")))
        << msg.toStdString();

    // A connection with the default timeout waits for the lock to go instead of failing.
    SqliteDatabase waiting(dbPath);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        holder.exec(QStringLiteral("COMMIT"));
    });
    EXPECT_EQ(errorOf([&] { waiting.exec(QStringLiteral("insert into t values(3)")); }), QString());
    release.join();
    EXPECT_EQ(waiting.integerValue(QStringLiteral("select count(*) from t")), 2);
}

} // namespace
