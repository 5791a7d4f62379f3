// The access layer on real database files: column kinds, cell readers, error texts, parameters,
// prepared statements, transactions, backup, collations and lock waiting.
#include "store/SqliteTable.h"
#include "store/SqliteErrorText.h"
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
              QStringLiteral("Error executing SQL.\rError [1]: SQL error or missing database.\r"
                             "\"select * from latest_read\": no such table: latest_read"));
    // The connection stays usable after a failure.
    db.exec(QStringLiteral("create table t(a)"));
    EXPECT_TRUE(db.tableExists(QStringLiteral("T")));
}

TEST_F(SqliteTableTest, OpeningAFolderAsDatabaseFailsWithTheEngineMessage) {
    const QString msg =
        errorOf([&] { SqliteDatabase db(folder.file(QStringLiteral("no/such/dir/x.db"))); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("Failed to open database \"") +
                               folder.file(QStringLiteral("no/such/dir/x.db")) +
                               QStringLiteral("\" : ")))
        << msg.toStdString();
}

TEST_F(SqliteTableTest, EmptyResultIsAtEofAndRefusesCellsAndFieldNames) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table t(id INTEGER, name TEXT)"));
    auto table = db.query(QStringLiteral("select id from t"));
    EXPECT_TRUE(table->atEnd());
    EXPECT_EQ(table->count(), 0u);
    EXPECT_EQ(table->columnCount(), 0u);
    EXPECT_FALSE(table->next());
    EXPECT_EQ(table->countResult(), 0);
    EXPECT_EQ(errorOf([&] { table->fieldAsString(0); }), QStringLiteral("Table is at End of File"));
    EXPECT_EQ(errorOf([&] { table->fieldAsInteger(0); }),
              QStringLiteral("Table is at End of File"));
    EXPECT_EQ(errorOf([&] { table->fieldIndex(QStringLiteral("id")); }),
              QStringLiteral("Field id Not found. Empty dataset"));
}

TEST_F(SqliteTableTest, FieldIndexIgnoresCaseAndFindsTheFirstOfTwoEqualNames) {
    SqliteDatabase db(dbPath);
    auto table = db.query(QStringLiteral("select 1 as id, 2 as Id, 3 as name"));
    EXPECT_EQ(table->fieldIndex(QStringLiteral("iD")), 0);
    EXPECT_EQ(table->fieldIndex(QStringLiteral("NAME")), 2);
    EXPECT_EQ(table->columnName(2), QStringLiteral("NAME"));
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

TEST_F(SqliteTableTest, ColumnKindsFollowDeclaredTypeExactlyOrTheFirstValue) {
    SqliteDatabase db(dbPath);
    // The declared type is compared exactly, letter case counting. The engine itself reports its
    // standard names (INTEGER, INT, REAL, TEXT, BLOB) upper-cased however they were written, so a
    // lower-case spelling shows on the other names: "numeric" here is text.
    db.exec(QStringLiteral("create table k(a INTEGER, b numeric, c REAL, d TEXT, e BLOB, "
                           "f VARCHAR(20), g BOOLEAN, h NUMERIC, i boolean, j Double)"));
    db.exec(QStringLiteral(
        "insert into k values(42, 43, -2.75, 'txt', x'414243', 'v', 1, 1.5, 1, 2.5)"));
    auto t = db.query(QStringLiteral("select * from k"));
    EXPECT_EQ(t->columnKind(0), SqliteTable::KindInteger);
    EXPECT_EQ(t->columnKind(1), SqliteTable::KindText); // lower-case "numeric" is text
    EXPECT_EQ(t->columnKind(2), SqliteTable::KindFloat);
    EXPECT_EQ(t->columnKind(3), SqliteTable::KindText);
    EXPECT_EQ(t->columnKind(4), SqliteTable::KindBlob);
    EXPECT_EQ(t->columnKind(5), SqliteTable::KindText);
    EXPECT_EQ(t->columnKind(6), SqliteTable::KindInteger);
    EXPECT_EQ(t->columnKind(7), SqliteTable::KindFloat);
    EXPECT_EQ(t->columnKind(8), SqliteTable::KindText);
    EXPECT_EQ(t->columnKind(9), SqliteTable::KindText);
    EXPECT_EQ(t->fieldAsString(9), QStringLiteral("2.5"));

    EXPECT_EQ(t->fieldAsInteger(0), 42);
    EXPECT_EQ(t->fieldAsString(0), QStringLiteral("42"));
    EXPECT_EQ(t->fieldAsString(1), QStringLiteral("43"));
    EXPECT_EQ(errorOf([&] { t->fieldAsInteger(1); }),
              QStringLiteral("Not an integer or numeric field"));
    EXPECT_EQ(t->fieldAsInteger(2), -2); // truncated toward zero
    EXPECT_DOUBLE_EQ(t->fieldAsDouble(2), -2.75);
    EXPECT_EQ(t->fieldAsString(2), QStringLiteral("-2.75"));
    EXPECT_EQ(t->fieldAsString(4), QStringLiteral("ABC"));
    ASSERT_NE(t->fieldAsBlob(4), nullptr);
    EXPECT_EQ(*t->fieldAsBlob(4), QByteArray("ABC"));
    EXPECT_EQ(errorOf([&] { t->fieldAsBlob(3); }), QStringLiteral("Not a Blob field"));
    EXPECT_EQ(errorOf([&] { t->fieldAsDouble(3); }),
              QStringLiteral("Not an integer or numeric field"));
}

TEST_F(SqliteTableTest, CountStarTakesItsKindFromTheValueAlsoWhenZero) {
    SqliteDatabase db(dbPath);
    db.exec(
        QStringLiteral("create table novel_directory(id INTEGER PRIMARY KEY, novel_id INTEGER)"));
    auto zero =
        db.query(QStringLiteral("select count(*) as total from novel_directory where novel_id=1"));
    const auto col = static_cast<uint32_t>(zero->fieldIndex(QStringLiteral("TOTAL")));
    EXPECT_EQ(zero->columnKind(col), SqliteTable::KindInteger);
    EXPECT_EQ(zero->fieldAsInteger(col), 0);
    EXPECT_EQ(zero->fieldAsString(col), QStringLiteral("0"));
    db.exec(QStringLiteral("insert into novel_directory(novel_id) values(1),(1),(2)"));
    auto two =
        db.query(QStringLiteral("select count(*) as total from novel_directory where novel_id=1"));
    EXPECT_EQ(two->fieldAsInteger(0), 2);
    EXPECT_EQ(two->countResult(), 2);
}

TEST_F(SqliteTableTest, NullReadsAsEmptyTextOrZero) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table n(a INTEGER, b TEXT, c REAL, d BLOB)"));
    db.exec(QStringLiteral("insert into n values(NULL, NULL, NULL, x'')"));
    auto t = db.query(QStringLiteral("select a, b, c, d, NULL as e from n"));
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(t->fieldAsString(i), QString()) << i;
        EXPECT_TRUE(t->fieldIsNull(i)) << i; // an empty blob is an absent cell too
    }
    EXPECT_EQ(t->fieldAsInteger(0), 0);
    EXPECT_EQ(t->fieldAsDouble(2), 0.0);
    EXPECT_EQ(t->field(0), QStringLiteral("0"));
    EXPECT_EQ(t->field(1), QString());
    EXPECT_EQ(t->fieldAsBlob(3), nullptr);
    EXPECT_EQ(t->columnKind(4), SqliteTable::KindNull);
}

TEST_F(SqliteTableTest, RowNavigation) {
    SqliteDatabase db(dbPath);
    auto t = db.query(QStringLiteral("select 1 union all select 2 union all select 3"));
    ASSERT_EQ(t->count(), 3u);
    EXPECT_TRUE(t->atStart());
    EXPECT_FALSE(t->previous());
    EXPECT_TRUE(t->next());
    EXPECT_TRUE(t->next());
    EXPECT_TRUE(t->isLastRow());
    EXPECT_EQ(t->fieldAsInteger(0), 3);
    EXPECT_TRUE(t->next()); // reaching EOF still answers True
    EXPECT_TRUE(t->atEnd());
    EXPECT_FALSE(t->next());
    EXPECT_EQ(t->row(), 3u);
    EXPECT_TRUE(t->first());
    EXPECT_EQ(t->fieldAsInteger(0), 1);
    EXPECT_TRUE(t->last());
    EXPECT_EQ(t->fieldAsInteger(0), 3);
    EXPECT_TRUE(t->seek(1));
    EXPECT_EQ(t->fieldAsInteger(0), 2);
    EXPECT_FALSE(t->seek(3));
    EXPECT_EQ(t->row(), 1u);
}

TEST_F(SqliteTableTest, ExecSqlCountsRowsAndRefusesEmptyOrRowYieldingStatements) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table t(a)"));
    db.exec(QStringLiteral("insert into t values(1)"));
    EXPECT_EQ(db.rowsChanged(), 1);
    EXPECT_EQ(db.lastInsertRowId(), 1);
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
    EXPECT_TRUE(syntax.startsWith(QStringLiteral(
        "Error executing SQL.\rError [1]: SQL error or missing database.\r\"insert into\": ")))
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
                                              "Abort due to contraint violation.\r")))
        << msg.toStdString();
}

TEST(SqliteErrorTextTest, KnownAndUnknownCodes) {
    EXPECT_EQ(sqliteErrorText(0), QStringLiteral("Successful result"));
    EXPECT_EQ(sqliteErrorText(5), QStringLiteral("The database file is locked"));
    EXPECT_EQ(sqliteErrorText(26), QStringLiteral("File opened that is not a database file"));
    EXPECT_EQ(sqliteErrorText(100), QStringLiteral("sqlite3_step() has another row ready"));
    EXPECT_EQ(sqliteErrorText(101), QStringLiteral("sqlite3_step() has finished executing"));
    EXPECT_EQ(sqliteErrorText(27), QStringLiteral("Unknown SQLite Error Code \"27\""));
    EXPECT_EQ(sqliteErrorText(-1), QStringLiteral("Unknown SQLite Error Code \"-1\""));
}

TEST_F(SqliteTableTest, ParameterQueueAppliesToTheNextStatementOnly) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table p(i, f, t, n)"));
    db.addParamInt(QStringLiteral(":i"), 1234567890123LL);
    db.addParamFloat(QStringLiteral(":f"), 0.5);
    db.addParamText(QStringLiteral(":t"), QStringLiteral("he said \"hi\" 你好"));
    db.addParamNull(QStringLiteral(":n"));
    db.addParamText(QStringLiteral(":unused"), QStringLiteral("skipped silently"));
    db.exec(QStringLiteral("insert into p values(:i, :f, :t, :n)"));
    auto t = db.query(QStringLiteral("select i, f, t, n from p"));
    EXPECT_EQ(t->fieldAsInteger(0), 1234567890123LL);
    EXPECT_DOUBLE_EQ(t->fieldAsDouble(1), 0.5);
    EXPECT_EQ(t->fieldAsString(2), QStringLiteral("he said \"hi\" 你好"));
    EXPECT_TRUE(t->fieldIsNull(3));
    // The queue was emptied: an unbound parameter is NULL in the next statement.
    db.exec(QStringLiteral("insert into p(t) values(:t)"));
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from p where t is null")), 1);
    // A statement that fails to prepare does not pass its queue on.
    db.addParamText(QStringLiteral(":t"), QStringLiteral("stale"));
    EXPECT_FALSE(
        errorOf([&] { db.exec(QStringLiteral("insert into nowhere values(:t)")); }).isEmpty());
    db.exec(QStringLiteral("insert into p(t) values(:t)"));
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from p where t = 'stale'")), 0);
    db.addParamText(QStringLiteral(":t"), QStringLiteral("x"));
    db.clearParams();
    db.exec(QStringLiteral("insert into p(t) values(:t)"));
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from p where t = 'x'")), 0);
}

TEST_F(SqliteTableTest, PreparedStatementsRunRepeatedlyAndOwnTheirText) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table q(a INTEGER, b TEXT)"));
    SqliteQuery q = db.prepare(QStringLiteral("insert into q values(?1, ?2)"));
    for (int i = 0; i < 3; ++i) {
        db.bind(q, 1, i);
        db.bind(q, 2, QStringLiteral("row ") + QString::number(i)); // a temporary text
        db.exec(q);
    }
    db.release(q);
    QStringList values;
    db.stringValues(QStringLiteral("select b from q order by a"), values);
    EXPECT_EQ(values, (QStringList{QStringLiteral("row 0"), QStringLiteral("row 1"),
                                   QStringLiteral("row 2")}));
    EXPECT_EQ(errorOf([&] { db.release(q); }),
              QStringLiteral("Could not release prepared SQL statement"));
    EXPECT_EQ(errorOf([&] { db.bind(q, 1, 5); }),
              QStringLiteral("Could not bind integer to prepared SQL statement"));
    EXPECT_EQ(errorOf([&] { db.bind(q, 1, QStringLiteral("x")); }),
              QStringLiteral("Could not bind string to prepared SQL statement"));
    db.exec(q); // no statement: nothing happens
    EXPECT_EQ(db.stringValue(QStringLiteral("select b from q where a = 7")), QString());
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

TEST_F(SqliteTableTest, UniTableWalksForwardAndReadsLiveCells) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table u(a INTEGER, b TEXT, c BLOB)"));
    db.exec(QStringLiteral("insert into u values(1, 'one', x'00ff'), (2, NULL, NULL)"));
    auto u = db.cursor(QStringLiteral("select a, b, c from u order by a"));
    ASSERT_FALSE(u->atEnd());
    EXPECT_EQ(u->row(), 1u);
    EXPECT_EQ(u->fieldIndex(QStringLiteral("B")), 1);
    EXPECT_EQ(u->fieldByName(QStringLiteral("b")), QStringLiteral("one"));
    auto blob = u->fieldAsBlob(2);
    ASSERT_TRUE(blob);
    EXPECT_EQ(*blob, QByteArray("\x00\xff", 2));
    EXPECT_TRUE(u->next());
    EXPECT_TRUE(u->fieldIsNull(1));
    EXPECT_EQ(u->fieldAsBlob(2), nullptr);
    EXPECT_FALSE(u->next());
    EXPECT_TRUE(u->atEnd());
    EXPECT_EQ(errorOf([&] { u->fieldIndex(QStringLiteral("zz")); }),
              QStringLiteral("Field not found in dataset: zz"));
    EXPECT_EQ(db.integerValue(QStringLiteral("select a from u where a > 5")), 0);
}

TEST_F(SqliteTableTest, UpdateBlobNeedsAPlaceholderAndStoresTheBytes) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table b(id INTEGER, data BLOB)"));
    db.exec(QStringLiteral("insert into b values(1, NULL)"));
    EXPECT_TRUE(errorOf([&] {
                    db.updateBlob(QStringLiteral("update b set data = 1"), "x");
                }).startsWith(QStringLiteral("SQL must include a ? parameter")));
    const QByteArray bytes("\x01\x02\x00\x03", 4);
    db.updateBlob(QStringLiteral("update b set data = ? where id = 1"), bytes);
    auto t = db.query(QStringLiteral("select data from b"));
    ASSERT_NE(t->fieldAsBlob(0), nullptr);
    EXPECT_EQ(*t->fieldAsBlob(0), bytes);
}

TEST_F(SqliteTableTest, BackupCopiesTheWholeDatabase) {
    SqliteDatabase source(dbPath);
    source.exec(QStringLiteral("create table t(a)"));
    source.exec(QStringLiteral("insert into t values('kept')"));
    SqliteDatabase target(folder.file(QStringLiteral("copy.db")));
    EXPECT_EQ(source.backup(target), SQLITE_DONE);
    EXPECT_EQ(target.stringValue(QStringLiteral("select a from t")), QStringLiteral("kept"));
    EXPECT_EQ(
        errorOf([&] { source.backup(target, QStringLiteral("main"), QStringLiteral("nosuch")); }),
        QStringLiteral("Could not initialize backup"));
}

TEST_F(SqliteTableTest, CollationsOrderRows) {
    SqliteDatabase db(dbPath);
    db.exec(QStringLiteral("create table c(name TEXT)"));
    db.exec(QStringLiteral("insert into c values('b'), ('a'), ('c')"));
    db.addSystemCollation();
    QStringList rows;
    db.stringValues(QStringLiteral("select name from c order by name collate SYSTEM"), rows);
    EXPECT_EQ(rows, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    db.addCollation(QStringLiteral("REVERSE"),
                    [](void*, int l1, const void* b1, int l2, const void* b2) {
                        const int r = memcmp(b1, b2, static_cast<size_t>(std::min(l1, l2)));
                        return r != 0 ? -r : l2 - l1;
                    });
    db.stringValues(QStringLiteral("select name from c order by name collate REVERSE"), rows);
    EXPECT_EQ(rows, (QStringList{QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a")}));
}

TEST_F(SqliteTableTest, QueryHookSynchronisedAndVersion) {
    SqliteDatabase db(dbPath);
    QStringList seen;
    db.setQueryHook([&](SqliteDatabase* sender, const QString& sql) {
        EXPECT_EQ(sender, &db);
        seen.append(sql);
    });
    db.setSynchronous(false); // unchanged: no statement
    db.setSynchronous(true);
    db.setSynchronous(true);
    EXPECT_EQ(seen, QStringList{QStringLiteral("PRAGMA synchronous = ON;")});
    EXPECT_TRUE(db.isSynchronous());
    EXPECT_TRUE(SqliteDatabase::version().startsWith(QStringLiteral("3.")));
    EXPECT_FALSE(db.tableExists(QStringLiteral("it's")));
}

TEST_F(SqliteTableTest, ALockedDatabaseFailsAtOnceWithoutTimeoutAndWaitsWithTheDefault) {
    SqliteDatabase holder(dbPath);
    holder.exec(QStringLiteral("create table t(a)"));
    SqliteDatabase other(dbPath);
    other.query(QStringLiteral("select * from t")); // schema is known before the lock
    holder.exec(QStringLiteral("BEGIN EXCLUSIVE"));
    holder.exec(QStringLiteral("insert into t values(1)"));

    other.setBusyTimeout(0);
    EXPECT_EQ(errorOf([&] { other.query(QStringLiteral("select * from t")); }),
              QStringLiteral("Could not prepare SQL statement"));
    const QString msg = errorOf([&] { other.exec(QStringLiteral("insert into t values(2)")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("Error [5]: The database file is locked.\r")))
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
