// store: the SQLite access layer (connection, fully fetched and forward-only result sets);
// depends on core and SQLite only, never on net, rules, pages or widgets.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zvrd {

// Every failure of the access layer; the message is its only payload.
class ESQLiteException : public std::runtime_error {
public:
    explicit ESQLiteException(const QString& message);
    QString Message() const { return fMessage; }

private:
    QString fMessage;
};

struct SqliteCloser {
    void operator()(sqlite3* db) const;
};
struct SqliteFinalizer {
    void operator()(sqlite3_stmt* stmt) const;
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// One queued named parameter; valuetype 1 integer, 2 float, 3 text, 5 null.
struct TSQliteParam {
    QString name;
    int32_t valuetype = 0;
    int64_t valueinteger = 0;
    double valuefloat = 0;
    QString valuedata;
};

// A prepared statement; the statement is finalised by ReleaseSQL, or when the last copy goes.
struct TSQLiteQuery {
    QString SQL;
    std::shared_ptr<sqlite3_stmt> Statement;
};

class TSQLiteDatabase;
class TSQLiteTable;
class TSQLiteUniTable;

using THookQuery = std::function<void(TSQLiteDatabase* sender, const QString& sql)>;
using TCollateXCompare = int (*)(void* userData, int buf1Len, const void* buf1, int buf2Len,
                                 const void* buf2);

class TSQLiteDatabase {
public:
    explicit TSQLiteDatabase(const QString& FileName);
    ~TSQLiteDatabase();
    TSQLiteDatabase(const TSQLiteDatabase&) = delete;
    TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

    sqlite3* DB() const { return fDB.get(); }
    bool IsTransactionOpen() const { return fInTrans; }
    int32_t RowsChanged() const;
    bool Synchronised() const { return fSync; }
    void SetSynchronised(bool value);
    const THookQuery& OnQuery() const { return FOnQuery; }
    void SetOnQuery(THookQuery hook) { FOnQuery = std::move(hook); }

    void ExecSQL(const QString& SQL);
    void ExecSQL(TSQLiteQuery& Query);
    // Runs every statement of a script in turn (ExecSQL runs only the first); for rule imports.
    void ExecScript(const QString& Script);
    TSQLiteQuery PrepareSQL(const QString& SQL);
    void BindSQL(const TSQLiteQuery& Query, int Index, int32_t Value);
    void BindSQL(const TSQLiteQuery& Query, int Index, const QString& Value);
    void ReleaseSQL(TSQLiteQuery& Query);

    std::unique_ptr<TSQLiteTable> GetTable(const QString& SQL);
    std::unique_ptr<TSQLiteUniTable> GetUniTable(const QString& SQL);
    int64_t GetTableValue(const QString& SQL);
    QString GetTableString(const QString& SQL);
    void GetTableStrings(const QString& SQL, QStringList& Value);
    void UpdateBlob(const QString& SQL, const QByteArray& BlobData);

    void BeginTransaction();
    void Commit();
    void Rollback();
    bool TableExists(const QString& TableName);
    int64_t GetLastInsertRowID() const;
    int64_t GetLastChangedRows() const;
    void SetTimeout(int32_t Value);
    static QString Version();
    int32_t Backup(TSQLiteDatabase& TargetDB, const QString& targetName, const QString& sourceName);
    int32_t Backup(TSQLiteDatabase& TargetDB);
    void AddCustomCollate(const QString& name, TCollateXCompare xCompare);
    void AddSystemCollate();

    void ParamsClear();
    void AddParamInt(const QString& name, int64_t value);
    void AddParamFloat(const QString& name, double value);
    void AddParamText(const QString& name, const QString& value);
    void AddParamNull(const QString& name);

    // For the result-set classes.
    [[noreturn]] void RaiseEngineError(const QString& Msg, const QString& SQL) const;
    void NotifyQuery(const QString& SQL);
    void BindParams(sqlite3_stmt* Stmt);
    SqliteStatement Prepare(const QString& SQL, bool v2 = true);

private:
    SqliteHandle fDB;
    bool fInTrans = false;
    bool fSync = false;
    std::vector<TSQliteParam> fParams;
    THookQuery FOnQuery;
};

// A result read completely at construction; holds no engine resource afterwards.
class TSQLiteTable {
public:
    using Cell = std::variant<std::monostate, int64_t, double, QString, QByteArray>;
    enum Kind : int32_t {
        KindInteger = 1,
        KindFloat = 2,
        KindText = 3,
        KindBlob = 4,
        KindNull = 5
    };

    TSQLiteTable(TSQLiteDatabase& DB, const QString& SQL);

    bool Eof() const { return fRow >= fRowCount; }
    bool Bof() const { return fRow == 0; }
    bool IsLastRow() const { return fRowCount == fRow + 1; }
    uint32_t ColCount() const { return fColCount; }
    uint32_t RowCount() const { return fRowCount; }
    uint32_t Row() const { return fRow; }
    uint32_t Count() const { return fRowCount; }
    int64_t CountResult() const;

    bool Next();
    bool Previous();
    bool MoveFirst();
    bool MoveLast();
    bool MoveTo(uint32_t position);

    int32_t GetFieldIndex(const QString& FieldName) const;
    int32_t FieldIndex(const QString& FieldName) const { return GetFieldIndex(FieldName); }
    QString GetFields(uint32_t I) const;
    QString Fields(uint32_t I) const { return GetFields(I); }
    QString GetFieldByName(const QString& FieldName) const;
    QString FieldByName(const QString& FieldName) const { return GetFieldByName(FieldName); }
    QString GetColumns(uint32_t I) const;
    QString Columns(uint32_t I) const { return GetColumns(I); }
    int32_t ColumnKind(uint32_t I) const;

    QString FieldAsString(uint32_t I) const;
    int64_t FieldAsInteger(uint32_t I) const;
    double FieldAsDouble(uint32_t I) const;
    bool FieldIsNull(uint32_t I) const;
    const QByteArray* FieldAsBlob(uint32_t I) const;
    QString FieldAsBlobText(uint32_t I) const;

private:
    const Cell& CurrentCell(uint32_t I) const;

    std::vector<Cell> fResults;
    uint32_t fRowCount = 0;
    uint32_t fColCount = 0;
    QStringList fCols;
    std::vector<int32_t> fColTypes;
    uint32_t fRow = 0;
};

// A forward-only cursor over a live statement; free it before its connection.
class TSQLiteUniTable {
public:
    TSQLiteUniTable(TSQLiteDatabase& DB, const QString& SQL);

    bool Eof() const { return fEOF; }
    uint32_t ColCount() const { return fColCount; }
    uint32_t Row() const { return fRow; }
    bool Next();

    int32_t GetFieldIndex(const QString& FieldName) const;
    int32_t FieldIndex(const QString& FieldName) const { return GetFieldIndex(FieldName); }
    QString Fields(uint32_t I) const { return FieldAsString(I); }
    QString FieldByName(const QString& FieldName) const;
    QString Columns(uint32_t I) const;

    QString FieldAsString(uint32_t I) const;
    int64_t FieldAsInteger(uint32_t I) const;
    double FieldAsDouble(uint32_t I) const;
    bool FieldIsNull(uint32_t I) const;
    std::unique_ptr<QByteArray> FieldAsBlob(uint32_t I) const;
    const void* FieldAsBlobPtr(uint32_t I, int32_t& iNumBytes) const;
    QString FieldAsBlobText(uint32_t I) const;

private:
    int Column(uint32_t I) const;

    uint32_t fColCount = 0;
    QStringList fCols;
    uint32_t fRow = 0;
    bool fEOF = false;
    SqliteStatement fStmt;
    TSQLiteDatabase& fDB;
    QString fSQL;
};

} // namespace zvrd
