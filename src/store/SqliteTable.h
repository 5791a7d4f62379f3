// store: the SQLite access layer (connection, fully fetched and forward-only result sets);
// depends on core and SQLite only, never on net, rules, pages or widgets.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
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

// One queued named parameter; type 1 integer, 2 float, 3 text, 5 null.
struct SqliteParam {
    QString name;
    int32_t type = 0;
    int64_t integer = 0;
    double real = 0;
    QString text;
};

// A prepared statement; the statement is finalised by release, or when the last copy goes.
struct SqliteQuery {
    QString sql;
    std::shared_ptr<sqlite3_stmt> statement;
};

class SqliteDatabase;

// Serialises this process's writes to one database file (by absolute path): threads queue here,
// without a time limit, instead of meeting each other's locks inside SQLite, where a busy wait
// on a slow machine can run out and a chapter would be lost. Other processes are met by
// BEGIN IMMEDIATE and the busy timeout.
std::unique_lock<std::mutex> lockForWriting(const QString& fileName);
class SqliteTable;
class SqliteCursor;

using QueryHook = std::function<void(SqliteDatabase* sender, const QString& sql)>;
using CollationCompare = int (*)(void* userData, int buf1Len, const void* buf1, int buf2Len,
                                 const void* buf2);

class SqliteDatabase {
public:
    explicit SqliteDatabase(const QString& fileName);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    sqlite3* handle() const { return m_db.get(); }
    bool inTransaction() const { return m_inTransaction; }
    int32_t rowsChanged() const;
    bool isSynchronous() const { return m_synchronous; }
    void setSynchronous(bool value);
    const QueryHook& queryHook() const { return m_queryHook; }
    void setQueryHook(QueryHook hook) { m_queryHook = std::move(hook); }

    void exec(const QString& sql);
    void exec(SqliteQuery& query);
    // Runs every statement of a script in turn (exec runs only the first); for rule imports.
    void execScript(const QString& script);
    SqliteQuery prepare(const QString& sql);
    void bind(const SqliteQuery& query, int index, int32_t value);
    void bind(const SqliteQuery& query, int index, const QString& value);
    void release(SqliteQuery& query);

    std::unique_ptr<SqliteTable> query(const QString& sql);
    std::unique_ptr<SqliteCursor> cursor(const QString& sql);
    int64_t integerValue(const QString& sql);
    QString stringValue(const QString& sql);
    void stringValues(const QString& sql, QStringList& value);
    void updateBlob(const QString& sql, const QByteArray& blob);

    void beginTransaction();
    void commit();
    void rollback();
    bool tableExists(const QString& tableName);
    int64_t lastInsertRowId() const;
    int64_t totalChanges() const;
    void setBusyTimeout(int32_t value);
    static QString version();
    int32_t backup(SqliteDatabase& target, const QString& targetName, const QString& sourceName);
    int32_t backup(SqliteDatabase& target);
    void addCollation(const QString& name, CollationCompare xCompare);
    void addSystemCollation();

    void clearParams();
    void addParamInt(const QString& name, int64_t value);
    void addParamFloat(const QString& name, double value);
    void addParamText(const QString& name, const QString& value);
    void addParamNull(const QString& name);

    // For the result-set classes.
    [[noreturn]] void throwEngineError(const QString& message, const QString& sql) const;
    void notifyQuery(const QString& sql);
    void bindParams(sqlite3_stmt* statement);
    SqliteStatement prepareStatement(const QString& sql, bool v2 = true);

private:
    SqliteHandle m_db;
    bool m_inTransaction = false;
    bool m_synchronous = false;
    std::vector<SqliteParam> m_params;
    QueryHook m_queryHook;
};

struct WriteLockHolder {
    std::unique_lock<std::mutex> lock;
};

// A connection for writing: it is opened only once this process's other writers of the file are
// done (lockForWriting), and the lock is released after the connection is closed.
class SqliteWriter : private WriteLockHolder, public SqliteDatabase {
public:
    explicit SqliteWriter(const QString& fileName)
        : WriteLockHolder{lockForWriting(fileName)}, SqliteDatabase(fileName) {}
};

// A result read completely at construction; holds no engine resource afterwards.
class SqliteTable {
public:
    using Cell = std::variant<std::monostate, int64_t, double, QString, QByteArray>;
    enum Kind : int32_t {
        KindInteger = 1,
        KindFloat = 2,
        KindText = 3,
        KindBlob = 4,
        KindNull = 5
    };

    SqliteTable(SqliteDatabase& db, const QString& sql);

    bool atEnd() const { return m_row >= m_rowCount; }
    bool atStart() const { return m_row == 0; }
    bool isLastRow() const { return m_rowCount == m_row + 1; }
    uint32_t columnCount() const { return m_columnCount; }
    uint32_t rowCount() const { return m_rowCount; }
    uint32_t row() const { return m_row; }
    uint32_t count() const { return m_rowCount; }
    int64_t countResult() const;

    bool next();
    bool previous();
    bool first();
    bool last();
    bool seek(uint32_t position);

    int32_t fieldIndex(const QString& fieldName) const;
    QString field(uint32_t column) const;
    QString fieldByName(const QString& fieldName) const;
    QString columnName(uint32_t column) const;
    int32_t columnKind(uint32_t column) const;

    QString fieldAsString(uint32_t column) const;
    int64_t fieldAsInteger(uint32_t column) const;
    double fieldAsDouble(uint32_t column) const;
    bool fieldIsNull(uint32_t column) const;
    const QByteArray* fieldAsBlob(uint32_t column) const;
    QString fieldAsBlobText(uint32_t column) const;

private:
    const Cell& currentCell(uint32_t column) const;

    std::vector<Cell> m_results;
    uint32_t m_rowCount = 0;
    uint32_t m_columnCount = 0;
    QStringList m_columns;
    std::vector<int32_t> m_columnKinds;
    std::vector<bool> m_declared;
    uint32_t m_row = 0;
};

// A forward-only cursor over a live statement; free it before its connection.
class SqliteCursor {
public:
    SqliteCursor(SqliteDatabase& db, const QString& sql);

    bool atEnd() const { return m_atEnd; }
    uint32_t columnCount() const { return m_columnCount; }
    uint32_t row() const { return m_row; }
    bool next();

    int32_t fieldIndex(const QString& fieldName) const;
    QString field(uint32_t column) const { return fieldAsString(column); }
    QString fieldByName(const QString& fieldName) const;
    QString columnName(uint32_t column) const;

    QString fieldAsString(uint32_t column) const;
    int64_t fieldAsInteger(uint32_t column) const;
    double fieldAsDouble(uint32_t column) const;
    bool fieldIsNull(uint32_t column) const;
    std::unique_ptr<QByteArray> fieldAsBlob(uint32_t column) const;
    const void* fieldAsBlobPtr(uint32_t column, int32_t& byteCount) const;
    QString fieldAsBlobText(uint32_t column) const;

private:
    int checkedColumn(uint32_t column) const;

    uint32_t m_columnCount = 0;
    QStringList m_columns;
    uint32_t m_row = 0;
    bool m_atEnd = false;
    SqliteStatement m_statement;
    SqliteDatabase& m_db;
    QString m_sql;
};

} // namespace zvrd
