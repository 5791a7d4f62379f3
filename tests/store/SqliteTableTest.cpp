// The access layer on real database files: column kinds, cell readers, error texts, parameters,
// prepared statements, transactions, backup, collations and lock waiting.
#include "store/SqliteTable.h"
#include "store/SqliteErrorText.h"
#include "support/TempAppFolder.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

using namespace zvrd;

namespace {

// Runs fn and returns the message of the ESQLiteException it raised ("" when none).
template <typename Fn> QString ErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const ESQLiteException& e) {
        return e.Message();
    }
    return QString();
}

class SqliteTableTest : public ::testing::Test {
protected:
    test::TempAppFolder folder;
    QString dbPath = folder.File(QStringLiteral("t.db"));
};

TEST_F(SqliteTableTest, OpeningAMissingFileCreatesAnEmptyDatabaseWhoseTablesAreMissing) {
    ASSERT_FALSE(QFile::exists(dbPath));
    TSQLiteDatabase db(dbPath);
    EXPECT_TRUE(QFile::exists(dbPath));
    EXPECT_EQ(ErrorOf([&] { db.GetTable(QStringLiteral("select * from latest_read")); }),
              QStringLiteral("Error executing SQL.\rError [1]: SQL error or missing database.\r"
                             "\"select * from latest_read\": no such table: latest_read"));
    // The connection stays usable after a failure.
    db.ExecSQL(QStringLiteral("create table t(a)"));
    EXPECT_TRUE(db.TableExists(QStringLiteral("T")));
}

TEST_F(SqliteTableTest, OpeningAFolderAsDatabaseFailsWithTheEngineMessage) {
    const QString msg =
        ErrorOf([&] { TSQLiteDatabase db(folder.File(QStringLiteral("no/such/dir/x.db"))); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("Failed to open database \"") +
                               folder.File(QStringLiteral("no/such/dir/x.db")) +
                               QStringLiteral("\" : ")))
        << msg.toStdString();
}

TEST_F(SqliteTableTest, EmptyResultIsAtEofAndRefusesCellsAndFieldNames) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(QStringLiteral("create table t(id INTEGER, name TEXT)"));
    auto table = db.GetTable(QStringLiteral("select id from t"));
    EXPECT_TRUE(table->Eof());
    EXPECT_EQ(table->Count(), 0u);
    EXPECT_EQ(table->ColCount(), 0u);
    EXPECT_FALSE(table->Next());
    EXPECT_EQ(table->CountResult(), 0);
    EXPECT_EQ(ErrorOf([&] { table->FieldAsString(0); }), QStringLiteral("Table is at End of File"));
    EXPECT_EQ(ErrorOf([&] { table->FieldAsInteger(0); }),
              QStringLiteral("Table is at End of File"));
    EXPECT_EQ(ErrorOf([&] { table->GetFieldIndex(QStringLiteral("id")); }),
              QStringLiteral("Field id Not found. Empty dataset"));
}

TEST_F(SqliteTableTest, FieldIndexIgnoresCaseAndFindsTheFirstOfTwoEqualNames) {
    TSQLiteDatabase db(dbPath);
    auto table = db.GetTable(QStringLiteral("select 1 as id, 2 as Id, 3 as name"));
    EXPECT_EQ(table->GetFieldIndex(QStringLiteral("iD")), 0);
    EXPECT_EQ(table->GetFieldIndex(QStringLiteral("NAME")), 2);
    EXPECT_EQ(table->Columns(2), QStringLiteral("NAME"));
    EXPECT_EQ(ErrorOf([&] { table->GetFieldIndex(QStringLiteral("nothing")); }),
              QStringLiteral("Field not found in dataset: nothing"));
}

TEST_F(SqliteTableTest, ColumnKindsFollowDeclaredTypeExactlyOrTheFirstValue) {
    TSQLiteDatabase db(dbPath);
    // The declared type is compared exactly, letter case counting. The engine itself reports its
    // standard names (INTEGER, INT, REAL, TEXT, BLOB) upper-cased however they were written, so a
    // lower-case spelling shows on the other names: "numeric" here is text.
    db.ExecSQL(QStringLiteral("create table k(a INTEGER, b numeric, c REAL, d TEXT, e BLOB, "
                              "f VARCHAR(20), g BOOLEAN, h NUMERIC, i boolean, j Double)"));
    db.ExecSQL(QStringLiteral(
        "insert into k values(42, 43, -2.75, 'txt', x'414243', 'v', 1, 1.5, 1, 2.5)"));
    auto t = db.GetTable(QStringLiteral("select * from k"));
    EXPECT_EQ(t->ColumnKind(0), TSQLiteTable::KindInteger);
    EXPECT_EQ(t->ColumnKind(1), TSQLiteTable::KindText); // lower-case "numeric" is text
    EXPECT_EQ(t->ColumnKind(2), TSQLiteTable::KindFloat);
    EXPECT_EQ(t->ColumnKind(3), TSQLiteTable::KindText);
    EXPECT_EQ(t->ColumnKind(4), TSQLiteTable::KindBlob);
    EXPECT_EQ(t->ColumnKind(5), TSQLiteTable::KindText);
    EXPECT_EQ(t->ColumnKind(6), TSQLiteTable::KindInteger);
    EXPECT_EQ(t->ColumnKind(7), TSQLiteTable::KindFloat);
    EXPECT_EQ(t->ColumnKind(8), TSQLiteTable::KindText);
    EXPECT_EQ(t->ColumnKind(9), TSQLiteTable::KindText);
    EXPECT_EQ(t->FieldAsString(9), QStringLiteral("2.5"));

    EXPECT_EQ(t->FieldAsInteger(0), 42);
    EXPECT_EQ(t->FieldAsString(0), QStringLiteral("42"));
    EXPECT_EQ(t->FieldAsString(1), QStringLiteral("43"));
    EXPECT_EQ(ErrorOf([&] { t->FieldAsInteger(1); }),
              QStringLiteral("Not an integer or numeric field"));
    EXPECT_EQ(t->FieldAsInteger(2), -2); // truncated toward zero
    EXPECT_DOUBLE_EQ(t->FieldAsDouble(2), -2.75);
    EXPECT_EQ(t->FieldAsString(2), QStringLiteral("-2.75"));
    EXPECT_EQ(t->FieldAsString(4), QStringLiteral("ABC"));
    ASSERT_NE(t->FieldAsBlob(4), nullptr);
    EXPECT_EQ(*t->FieldAsBlob(4), QByteArray("ABC"));
    EXPECT_EQ(ErrorOf([&] { t->FieldAsBlob(3); }), QStringLiteral("Not a Blob field"));
    EXPECT_EQ(ErrorOf([&] { t->FieldAsDouble(3); }),
              QStringLiteral("Not an integer or numeric field"));
}

TEST_F(SqliteTableTest, CountStarTakesItsKindFromTheValueAlsoWhenZero) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(
        QStringLiteral("create table novel_directory(id INTEGER PRIMARY KEY, novel_id INTEGER)"));
    auto zero = db.GetTable(
        QStringLiteral("select count(*) as total from novel_directory where novel_id=1"));
    const auto col = static_cast<uint32_t>(zero->GetFieldIndex(QStringLiteral("TOTAL")));
    EXPECT_EQ(zero->ColumnKind(col), TSQLiteTable::KindInteger);
    EXPECT_EQ(zero->FieldAsInteger(col), 0);
    EXPECT_EQ(zero->FieldAsString(col), QStringLiteral("0"));
    db.ExecSQL(QStringLiteral("insert into novel_directory(novel_id) values(1),(1),(2)"));
    auto two = db.GetTable(
        QStringLiteral("select count(*) as total from novel_directory where novel_id=1"));
    EXPECT_EQ(two->FieldAsInteger(0), 2);
    EXPECT_EQ(two->CountResult(), 2);
}

TEST_F(SqliteTableTest, NullReadsAsEmptyTextOrZero) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(QStringLiteral("create table n(a INTEGER, b TEXT, c REAL, d BLOB)"));
    db.ExecSQL(QStringLiteral("insert into n values(NULL, NULL, NULL, x'')"));
    auto t = db.GetTable(QStringLiteral("select a, b, c, d, NULL as e from n"));
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(t->FieldAsString(i), QString()) << i;
        EXPECT_TRUE(t->FieldIsNull(i)) << i; // an empty blob is an absent cell too
    }
    EXPECT_EQ(t->FieldAsInteger(0), 0);
    EXPECT_EQ(t->FieldAsDouble(2), 0.0);
    EXPECT_EQ(t->Fields(0), QStringLiteral("0"));
    EXPECT_EQ(t->Fields(1), QString());
    EXPECT_EQ(t->FieldAsBlob(3), nullptr);
    EXPECT_EQ(t->ColumnKind(4), TSQLiteTable::KindNull);
}

TEST_F(SqliteTableTest, RowNavigation) {
    TSQLiteDatabase db(dbPath);
    auto t = db.GetTable(QStringLiteral("select 1 union all select 2 union all select 3"));
    ASSERT_EQ(t->Count(), 3u);
    EXPECT_TRUE(t->Bof());
    EXPECT_FALSE(t->Previous());
    EXPECT_TRUE(t->Next());
    EXPECT_TRUE(t->Next());
    EXPECT_TRUE(t->IsLastRow());
    EXPECT_EQ(t->FieldAsInteger(0), 3);
    EXPECT_TRUE(t->Next()); // reaching EOF still answers True
    EXPECT_TRUE(t->Eof());
    EXPECT_FALSE(t->Next());
    EXPECT_EQ(t->Row(), 3u);
    EXPECT_TRUE(t->MoveFirst());
    EXPECT_EQ(t->FieldAsInteger(0), 1);
    EXPECT_TRUE(t->MoveLast());
    EXPECT_EQ(t->FieldAsInteger(0), 3);
    EXPECT_TRUE(t->MoveTo(1));
    EXPECT_EQ(t->FieldAsInteger(0), 2);
    EXPECT_FALSE(t->MoveTo(3));
    EXPECT_EQ(t->Row(), 1u);
}

TEST_F(SqliteTableTest, ExecSqlCountsRowsAndRefusesEmptyOrRowYieldingStatements) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(QStringLiteral("create table t(a)"));
    db.ExecSQL(QStringLiteral("insert into t values(1)"));
    EXPECT_EQ(db.RowsChanged(), 1);
    EXPECT_EQ(db.GetLastInsertRowID(), 1);
    auto viaTable = db.GetTable(QStringLiteral("insert into t values(2)"));
    EXPECT_TRUE(viaTable->Eof());
    EXPECT_EQ(db.GetTableValue(QStringLiteral("select count(*) from t")), 2);

    EXPECT_EQ(ErrorOf([&] { db.ExecSQL(QString()); }),
              QStringLiteral("Could not prepare SQL statement"));
    EXPECT_EQ(ErrorOf([&] { db.ExecSQL(QStringLiteral("  -- only a comment")); }),
              QStringLiteral("Could not prepare SQL statement"));
    EXPECT_EQ(ErrorOf([&] { db.GetTable(QStringLiteral(" ")); }),
              QStringLiteral("Could not prepare SQL statement"));
    EXPECT_TRUE(ErrorOf([&] {
                    db.ExecSQL(QStringLiteral("select * from t"));
                }).startsWith(QStringLiteral("Error executing SQL statement")));
    const QString syntax = ErrorOf([&] { db.ExecSQL(QStringLiteral("insert into")); });
    EXPECT_TRUE(syntax.startsWith(QStringLiteral(
        "Error executing SQL.\rError [1]: SQL error or missing database.\r\"insert into\": ")))
        << syntax.toStdString();
    // Only the first statement of a text runs.
    db.ExecSQL(QStringLiteral("insert into t values(3); insert into t values(4)"));
    EXPECT_EQ(db.GetTableValue(QStringLiteral("select count(*) from t")), 3);
}

TEST_F(SqliteTableTest, ConstraintFailureWhileSteppingIsReported) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(QStringLiteral("create table u(a UNIQUE)"));
    db.ExecSQL(QStringLiteral("insert into u values(1)"));
    const QString msg = ErrorOf([&] { db.ExecSQL(QStringLiteral("insert into u values(1)")); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("Error executing SQL statement.\rError [19]: "
                                              "Abort due to contraint violation.\r")))
        << msg.toStdString();
}

TEST(SqliteErrorTextTest, KnownAndUnknownCodes) {
    EXPECT_EQ(SQLiteErrorText(0), QStringLiteral("Successful result"));
    EXPECT_EQ(SQLiteErrorText(5), QStringLiteral("The database file is locked"));
    EXPECT_EQ(SQLiteErrorText(26), QStringLiteral("File opened that is not a database file"));
    EXPECT_EQ(SQLiteErrorText(100), QStringLiteral("sqlite3_step() has another row ready"));
    EXPECT_EQ(SQLiteErrorText(101), QStringLiteral("sqlite3_step() has finished executing"));
    EXPECT_EQ(SQLiteErrorText(27), QStringLiteral("Unknown SQLite Error Code \"27\""));
    EXPECT_EQ(SQLiteErrorText(-1), QStringLiteral("Unknown SQLite Error Code \"-1\""));
}

TEST_F(SqliteTableTest, ParameterQueueAppliesToTheNextStatementOnly) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(QStringLiteral("create table p(i, f, t, n)"));
    db.AddParamInt(QStringLiteral(":i"), 1234567890123LL);
    db.AddParamFloat(QStringLiteral(":f"), 0.5);
    db.AddParamText(QStringLiteral(":t"), QStringLiteral("he said \"hi\" 你好"));
    db.AddParamNull(QStringLiteral(":n"));
    db.AddParamText(QStringLiteral(":unused"), QStringLiteral("skipped silently"));
    db.ExecSQL(QStringLiteral("insert into p values(:i, :f, :t, :n)"));
    auto t = db.GetTable(QStringLiteral("select i, f, t, n from p"));
    EXPECT_EQ(t->FieldAsInteger(0), 1234567890123LL);
    EXPECT_DOUBLE_EQ(t->FieldAsDouble(1), 0.5);
    EXPECT_EQ(t->FieldAsString(2), QStringLiteral("he said \"hi\" 你好"));
    EXPECT_TRUE(t->FieldIsNull(3));
    // The queue was emptied: an unbound parameter is NULL in the next statement.
    db.ExecSQL(QStringLiteral("insert into p(t) values(:t)"));
    EXPECT_EQ(db.GetTableValue(QStringLiteral("select count(*) from p where t is null")), 1);
    // A statement that fails to prepare does not pass its queue on.
    db.AddParamText(QStringLiteral(":t"), QStringLiteral("stale"));
    EXPECT_FALSE(
        ErrorOf([&] { db.ExecSQL(QStringLiteral("insert into nowhere values(:t)")); }).isEmpty());
    db.ExecSQL(QStringLiteral("insert into p(t) values(:t)"));
    EXPECT_EQ(db.GetTableValue(QStringLiteral("select count(*) from p where t = 'stale'")), 0);
    db.AddParamText(QStringLiteral(":t"), QStringLiteral("x"));
    db.ParamsClear();
    db.ExecSQL(QStringLiteral("insert into p(t) values(:t)"));
    EXPECT_EQ(db.GetTableValue(QStringLiteral("select count(*) from p where t = 'x'")), 0);
}

TEST_F(SqliteTableTest, PreparedStatementsRunRepeatedlyAndOwnTheirText) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(QStringLiteral("create table q(a INTEGER, b TEXT)"));
    TSQLiteQuery q = db.PrepareSQL(QStringLiteral("insert into q values(?1, ?2)"));
    for (int i = 0; i < 3; ++i) {
        db.BindSQL(q, 1, i);
        db.BindSQL(q, 2, QStringLiteral("row ") + QString::number(i)); // a temporary text
        db.ExecSQL(q);
    }
    db.ReleaseSQL(q);
    QStringList values;
    db.GetTableStrings(QStringLiteral("select b from q order by a"), values);
    EXPECT_EQ(values, (QStringList{QStringLiteral("row 0"), QStringLiteral("row 1"),
                                   QStringLiteral("row 2")}));
    EXPECT_EQ(ErrorOf([&] { db.ReleaseSQL(q); }),
              QStringLiteral("Could not release prepared SQL statement"));
    EXPECT_EQ(ErrorOf([&] { db.BindSQL(q, 1, 5); }),
              QStringLiteral("Could not bind integer to prepared SQL statement"));
    EXPECT_EQ(ErrorOf([&] { db.BindSQL(q, 1, QStringLiteral("x")); }),
              QStringLiteral("Could not bind string to prepared SQL statement"));
    db.ExecSQL(q); // no statement: nothing happens
    EXPECT_EQ(db.GetTableString(QStringLiteral("select b from q where a = 7")), QString());
}

TEST_F(SqliteTableTest, TransactionsRollBackWhenTheConnectionGoesWithOneOpen) {
    {
        TSQLiteDatabase db(dbPath);
        db.ExecSQL(QStringLiteral("create table t(a)"));
        db.BeginTransaction();
        EXPECT_TRUE(db.IsTransactionOpen());
        EXPECT_EQ(ErrorOf([&] { db.BeginTransaction(); }),
                  QStringLiteral("Transaction already open"));
        db.ExecSQL(QStringLiteral("insert into t values(1)"));
    }
    TSQLiteDatabase db(dbPath);
    EXPECT_EQ(db.GetTableValue(QStringLiteral("select count(*) from t")), 0);
    db.BeginTransaction();
    db.ExecSQL(QStringLiteral("insert into t values(2)"));
    db.Commit();
    EXPECT_FALSE(db.IsTransactionOpen());
    EXPECT_EQ(db.GetTableValue(QStringLiteral("select count(*) from t")), 1);
}

TEST_F(SqliteTableTest, UniTableWalksForwardAndReadsLiveCells) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(QStringLiteral("create table u(a INTEGER, b TEXT, c BLOB)"));
    db.ExecSQL(QStringLiteral("insert into u values(1, 'one', x'00ff'), (2, NULL, NULL)"));
    auto u = db.GetUniTable(QStringLiteral("select a, b, c from u order by a"));
    ASSERT_FALSE(u->Eof());
    EXPECT_EQ(u->Row(), 1u);
    EXPECT_EQ(u->GetFieldIndex(QStringLiteral("B")), 1);
    EXPECT_EQ(u->FieldByName(QStringLiteral("b")), QStringLiteral("one"));
    auto blob = u->FieldAsBlob(2);
    ASSERT_TRUE(blob);
    EXPECT_EQ(*blob, QByteArray("\x00\xff", 2));
    EXPECT_TRUE(u->Next());
    EXPECT_TRUE(u->FieldIsNull(1));
    EXPECT_EQ(u->FieldAsBlob(2), nullptr);
    EXPECT_FALSE(u->Next());
    EXPECT_TRUE(u->Eof());
    EXPECT_EQ(ErrorOf([&] { u->GetFieldIndex(QStringLiteral("zz")); }),
              QStringLiteral("Field not found in dataset: zz"));
    EXPECT_EQ(db.GetTableValue(QStringLiteral("select a from u where a > 5")), 0);
}

TEST_F(SqliteTableTest, UpdateBlobNeedsAPlaceholderAndStoresTheBytes) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(QStringLiteral("create table b(id INTEGER, data BLOB)"));
    db.ExecSQL(QStringLiteral("insert into b values(1, NULL)"));
    EXPECT_TRUE(ErrorOf([&] {
                    db.UpdateBlob(QStringLiteral("update b set data = 1"), "x");
                }).startsWith(QStringLiteral("SQL must include a ? parameter")));
    const QByteArray bytes("\x01\x02\x00\x03", 4);
    db.UpdateBlob(QStringLiteral("update b set data = ? where id = 1"), bytes);
    auto t = db.GetTable(QStringLiteral("select data from b"));
    ASSERT_NE(t->FieldAsBlob(0), nullptr);
    EXPECT_EQ(*t->FieldAsBlob(0), bytes);
}

TEST_F(SqliteTableTest, BackupCopiesTheWholeDatabase) {
    TSQLiteDatabase source(dbPath);
    source.ExecSQL(QStringLiteral("create table t(a)"));
    source.ExecSQL(QStringLiteral("insert into t values('kept')"));
    TSQLiteDatabase target(folder.File(QStringLiteral("copy.db")));
    EXPECT_EQ(source.Backup(target), SQLITE_DONE);
    EXPECT_EQ(target.GetTableString(QStringLiteral("select a from t")), QStringLiteral("kept"));
    EXPECT_EQ(
        ErrorOf([&] { source.Backup(target, QStringLiteral("main"), QStringLiteral("nosuch")); }),
        QStringLiteral("Could not initialize backup"));
}

TEST_F(SqliteTableTest, CollationsOrderRows) {
    TSQLiteDatabase db(dbPath);
    db.ExecSQL(QStringLiteral("create table c(name TEXT)"));
    db.ExecSQL(QStringLiteral("insert into c values('b'), ('a'), ('c')"));
    db.AddSystemCollate();
    QStringList rows;
    db.GetTableStrings(QStringLiteral("select name from c order by name collate SYSTEM"), rows);
    EXPECT_EQ(rows, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    db.AddCustomCollate(QStringLiteral("REVERSE"),
                        [](void*, int l1, const void* b1, int l2, const void* b2) {
                            const int r = memcmp(b1, b2, static_cast<size_t>(std::min(l1, l2)));
                            return r != 0 ? -r : l2 - l1;
                        });
    db.GetTableStrings(QStringLiteral("select name from c order by name collate REVERSE"), rows);
    EXPECT_EQ(rows, (QStringList{QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a")}));
}

TEST_F(SqliteTableTest, QueryHookSynchronisedAndVersion) {
    TSQLiteDatabase db(dbPath);
    QStringList seen;
    db.SetOnQuery([&](TSQLiteDatabase* sender, const QString& sql) {
        EXPECT_EQ(sender, &db);
        seen.append(sql);
    });
    db.SetSynchronised(false); // unchanged: no statement
    db.SetSynchronised(true);
    db.SetSynchronised(true);
    EXPECT_EQ(seen, QStringList{QStringLiteral("PRAGMA synchronous = ON;")});
    EXPECT_TRUE(db.Synchronised());
    EXPECT_TRUE(TSQLiteDatabase::Version().startsWith(QStringLiteral("3.")));
    EXPECT_FALSE(db.TableExists(QStringLiteral("it's")));
}

TEST_F(SqliteTableTest, ALockedDatabaseFailsAtOnceWithoutTimeoutAndWaitsWithTheDefault) {
    TSQLiteDatabase holder(dbPath);
    holder.ExecSQL(QStringLiteral("create table t(a)"));
    TSQLiteDatabase other(dbPath);
    other.GetTable(QStringLiteral("select * from t")); // schema is known before the lock
    holder.ExecSQL(QStringLiteral("BEGIN EXCLUSIVE"));
    holder.ExecSQL(QStringLiteral("insert into t values(1)"));

    other.SetTimeout(0);
    EXPECT_EQ(ErrorOf([&] { other.GetTable(QStringLiteral("select * from t")); }),
              QStringLiteral("Could not prepare SQL statement"));
    const QString msg = ErrorOf([&] { other.ExecSQL(QStringLiteral("insert into t values(2)")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("Error [5]: The database file is locked.\r")))
        << msg.toStdString();

    // A connection with the default timeout waits for the lock to go instead of failing.
    TSQLiteDatabase waiting(dbPath);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        holder.ExecSQL(QStringLiteral("COMMIT"));
    });
    EXPECT_EQ(ErrorOf([&] { waiting.ExecSQL(QStringLiteral("insert into t values(3)")); }),
              QString());
    release.join();
    EXPECT_EQ(waiting.GetTableValue(QStringLiteral("select count(*) from t")), 2);
}

} // namespace
