// store: the SQLite access layer (connection, fully fetched and forward-only result sets);
// depends on core and SQLite only, never on net, rules, pages or widgets.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zvrd {

// Every failure of the access layer; the message is its only payload.
class SqliteException : public std::runtime_error {
public:
    explicit SqliteException(const QString& message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

struct SqliteCloser {
    void operator()(sqlite3* db) const;
};
struct SqliteFinalizer {
    void operator()(sqlite3_stmt* stmt) const;
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// A value bound to a statement: NULL, an integer or a text. Values are always bound, never
// spliced into the statement, so a quote in a name is stored like any other character.
using SqlValue = std::variant<std::monostate, int64_t, QString>;
// The values of ?1, ?2, ... in order.
using SqlArgs = std::vector<SqlValue>;

// Serialises this process's writes to one database file (by absolute path): threads queue here,
// without a time limit, instead of meeting each other's locks inside SQLite, where a busy wait
// on a slow machine can run out and a chapter would be lost. Other processes are met by
// BEGIN IMMEDIATE and the busy timeout.
std::unique_lock<std::mutex> lockForWriting(const QString& fileName);

// Commands that only read open every library file read-only: nothing is written, and no file
// is left behind that its owner could trip on. A file of another account is read as it is on
// disk when no write-ahead log stands beside it (SQLite's immutable mode).
void setReadOnlyAccess(bool readOnly);
bool readOnlyAccess();

class SqliteDatabase;
class SqliteTable;
class SqliteCursor;

// A statement prepared once and run many times (a chapter list's rows).
class SqlitePrepared {
public:
    SqlitePrepared(SqliteDatabase& db, const QString& sql);
    void run(const SqlArgs& args);

private:
    SqliteDatabase& m_db;
    QString m_sql;
    SqliteStatement m_statement;
};

class SqliteDatabase {
public:
    enum class Purpose { Reading, Writing };
    explicit SqliteDatabase(const QString& fileName, Purpose purpose = Purpose::Reading);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    sqlite3* handle() const { return m_db.get(); }
    bool inTransaction() const { return m_inTransaction; }
    int32_t rowsChanged() const;

    void exec(const QString& sql, const SqlArgs& args = {});
    std::unique_ptr<SqliteTable> query(const QString& sql, const SqlArgs& args = {});
    std::unique_ptr<SqliteCursor> cursor(const QString& sql, const SqlArgs& args = {});
    // The first column of the first row; 0 or empty without a row.
    int64_t integerValue(const QString& sql, const SqlArgs& args = {});
    QString stringValue(const QString& sql, const SqlArgs& args = {});
    QStringList stringValues(const QString& sql, const SqlArgs& args = {});

    void beginTransaction();
    void commit();
    void rollback();
    bool tableExists(const QString& tableName);

    // For the result-set classes.
    [[noreturn]] void throwEngineError(const QString& message, const QString& sql) const;
    SqliteStatement statement(const QString& sql, const SqlArgs& args);
    void bindAll(sqlite3_stmt* statement, const SqlArgs& args, const QString& sql);

private:
    SqliteHandle m_db;
    bool m_inTransaction = false;
};

struct WriteLockHolder {
    std::unique_lock<std::mutex> lock;
};

// A connection for writing: it is opened only once this process's other writers of the file are
// done (lockForWriting), and the lock is released after the connection is closed.
class SqliteWriter : private WriteLockHolder, public SqliteDatabase {
public:
    explicit SqliteWriter(const QString& fileName)
        : WriteLockHolder{lockForWriting(fileName)}, SqliteDatabase(fileName, Purpose::Writing) {}
};

// A result read completely at construction; holds no engine resource (and no read transaction)
// afterwards.
class SqliteTable {
public:
    SqliteTable(SqliteDatabase& db, const QString& sql, const SqlArgs& args);

    bool atEnd() const { return m_row >= m_rowCount; }
    uint32_t count() const { return m_rowCount; }
    uint32_t columnCount() const { return m_columnCount; }
    bool next();

    // Column names compare without regard to ASCII case.
    int32_t fieldIndex(const QString& fieldName) const;
    QString fieldAsString(uint32_t column) const;
    int64_t fieldAsInteger(uint32_t column) const;
    bool fieldIsNull(uint32_t column) const;
    const SqlValue& value(uint32_t column) const { return currentCell(column); }

private:
    const SqlValue& currentCell(uint32_t column) const;

    std::vector<SqlValue> m_results;
    uint32_t m_rowCount = 0;
    uint32_t m_columnCount = 0;
    QStringList m_columns;
    uint32_t m_row = 0;
};

// A forward-only cursor over a live statement; free it before its connection.
class SqliteCursor {
public:
    SqliteCursor(SqliteDatabase& db, const QString& sql, const SqlArgs& args);

    bool atEnd() const { return m_atEnd; }
    bool next();

    QString fieldAsString(uint32_t column) const;
    int64_t fieldAsInteger(uint32_t column) const;

private:
    int checkedColumn(uint32_t column) const;

    uint32_t m_columnCount = 0;
    bool m_atEnd = false;
    SqliteStatement m_statement;
    SqliteDatabase& m_db;
    QString m_sql;
};

} // namespace zvrd
