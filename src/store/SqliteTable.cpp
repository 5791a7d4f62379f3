#include "store/SqliteTable.h"

#include "store/SqliteErrorText.h"

#include <QLocale>
#include <sqlite3.h>

namespace zvrd {
namespace {

// Mended: the design set no busy timeout, so a statement meeting another connection's lock
// failed at once and a downloaded chapter could be lost. Every connection now waits up to 5 s.
constexpr int kBusyTimeoutMs = 5000;

QString FromUtf16(const void* text) {
    return text ? QString::fromUtf16(static_cast<const char16_t*>(text)) : QString();
}

QString FromUtf16(const void* text, int bytes) {
    if (!text || bytes <= 0)
        return QString();
    return QString(reinterpret_cast<const QChar*>(text), bytes / 2);
}

// Upper-cases ASCII letters only, as the column names of a fully fetched table are kept.
QString AsciiUpper(const QString& text) {
    QString result = text;
    for (QChar& c : result) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 32);
    }
    return result;
}

QString FloatText(double value) {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

int SystemCompare(void*, int len1, const void* buf1, int len2, const void* buf2) {
    const QString a = FromUtf16(buf1, len1);
    const QString b = FromUtf16(buf2, len2);
    const int r = QString::localeAwareCompare(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

struct BackupFinisher {
    void operator()(sqlite3_backup* backup) const { sqlite3_backup_finish(backup); }
};

// Frees the parameter queue whichever way the binding step is left.
struct QueueClearer {
    std::vector<TSQliteParam>& queue;
    ~QueueClearer() { queue.clear(); }
};

} // namespace

ESQLiteException::ESQLiteException(const QString& message)
    : std::runtime_error(message.toStdString()), fMessage(message) {}

void SqliteCloser::operator()(sqlite3* db) const {
    // close_v2 defers the close until every statement made on the connection is finalised.
    sqlite3_close_v2(db);
}

void SqliteFinalizer::operator()(sqlite3_stmt* stmt) const {
    sqlite3_finalize(stmt);
}

// ---------------------------------------------------------------------------------------------
// TSQLiteDatabase

TSQLiteDatabase::TSQLiteDatabase(const QString& FileName) {
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open16(FileName.utf16(), &handle);
    fDB.reset(handle);
    if (rc != SQLITE_OK) {
        if (fDB) {
            const QString engineMsg = FromUtf16(sqlite3_errmsg16(fDB.get()));
            throw ESQLiteException(QStringLiteral("Failed to open database \"") + FileName +
                                   QStringLiteral("\" : ") + engineMsg);
        }
        throw ESQLiteException(QStringLiteral("Failed to open database \"") + FileName +
                               QStringLiteral("\" : unknown error"));
    }
    sqlite3_busy_timeout(fDB.get(), kBusyTimeoutMs);
}

TSQLiteDatabase::~TSQLiteDatabase() {
    if (fInTrans) {
        try {
            Rollback();
        } catch (...) {
            // The connection closes regardless; the engine rolls back what is left open.
        }
    }
}

int32_t TSQLiteDatabase::RowsChanged() const {
    return sqlite3_changes(fDB.get());
}

void TSQLiteDatabase::RaiseEngineError(const QString& Msg, const QString& SQL) const {
    const int code = sqlite3_errcode(fDB.get());
    if (code == SQLITE_OK)
        throw ESQLiteException(Msg);
    const QString engineMsg = FromUtf16(sqlite3_errmsg16(fDB.get()));
    throw ESQLiteException(Msg + QStringLiteral(".\rError [") + QString::number(code) +
                           QStringLiteral("]: ") + SQLiteErrorText(code) + QStringLiteral(".\r\"") +
                           SQL + QStringLiteral("\": ") + engineMsg);
}

void TSQLiteDatabase::NotifyQuery(const QString& SQL) {
    if (FOnQuery)
        FOnQuery(this, SQL);
}

void TSQLiteDatabase::BindParams(sqlite3_stmt* Stmt) {
    QueueClearer clearer{fParams};
    for (const TSQliteParam& param : fParams) {
        const int index = sqlite3_bind_parameter_index(Stmt, param.name.toUtf8().constData());
        if (index == 0)
            continue;
        switch (param.valuetype) {
        case 1:
            sqlite3_bind_int64(Stmt, index, param.valueinteger);
            break;
        case 2:
            sqlite3_bind_double(Stmt, index, param.valuefloat);
            break;
        case 3:
            sqlite3_bind_text16(Stmt, index, param.valuedata.utf16(),
                                static_cast<int>(param.valuedata.size() * 2), SQLITE_TRANSIENT);
            break;
        case 5:
            sqlite3_bind_null(Stmt, index);
            break;
        default:
            break;
        }
    }
}

SqliteStatement TSQLiteDatabase::Prepare(const QString& SQL, bool v2) {
    sqlite3_stmt* raw = nullptr;
    const int rc = v2 ? sqlite3_prepare16_v2(fDB.get(), SQL.utf16(), -1, &raw, nullptr)
                      : sqlite3_prepare16(fDB.get(), SQL.utf16(), -1, &raw, nullptr);
    SqliteStatement stmt(raw);
    if (rc != SQLITE_OK || !stmt) {
        // A queue meant for a statement that never ran must not reach the next one.
        fParams.clear();
        if (rc != SQLITE_OK)
            RaiseEngineError(QStringLiteral("Error executing SQL"), SQL);
        RaiseEngineError(QStringLiteral("Could not prepare SQL statement"), SQL);
    }
    return stmt;
}

void TSQLiteDatabase::ExecSQL(const QString& SQL) {
    SqliteStatement stmt = Prepare(SQL);
    NotifyQuery(SQL);
    BindParams(stmt.get());
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
        sqlite3_reset(stmt.get());
        RaiseEngineError(QStringLiteral("Error executing SQL statement"), SQL);
    }
}

void TSQLiteDatabase::ExecScript(const QString& Script) {
    const char16_t* rest = reinterpret_cast<const char16_t*>(Script.utf16());
    while (rest && *rest) {
        sqlite3_stmt* raw = nullptr;
        const void* tail = nullptr;
        const int rc = sqlite3_prepare16_v2(fDB.get(), rest, -1, &raw, &tail);
        SqliteStatement stmt(raw);
        const QString text = tail ? QString(reinterpret_cast<const QChar*>(rest),
                                            static_cast<const char16_t*>(tail) - rest)
                                  : QString::fromUtf16(rest);
        if (rc != SQLITE_OK)
            RaiseEngineError(QStringLiteral("Error executing SQL"), text.trimmed());
        rest = static_cast<const char16_t*>(tail);
        if (!stmt)
            continue; // white space or a comment between statements
        NotifyQuery(text);
        while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        }
        if (sqlite3_reset(stmt.get()) != SQLITE_OK)
            RaiseEngineError(QStringLiteral("Error executing SQL statement"), text.trimmed());
    }
}

void TSQLiteDatabase::ExecSQL(TSQLiteQuery& Query) {
    if (!Query.Statement)
        return;
    sqlite3_stmt* stmt = Query.Statement.get();
    if (sqlite3_step(stmt) != SQLITE_DONE) {
        sqlite3_reset(stmt);
        RaiseEngineError(QStringLiteral("Error executing prepared SQL statement"), Query.SQL);
    }
    sqlite3_reset(stmt);
}

TSQLiteQuery TSQLiteDatabase::PrepareSQL(const QString& SQL) {
    SqliteStatement stmt = Prepare(SQL, /*v2=*/false);
    NotifyQuery(SQL);
    return TSQLiteQuery{SQL, std::shared_ptr<sqlite3_stmt>(stmt.release(), SqliteFinalizer())};
}

void TSQLiteDatabase::BindSQL(const TSQLiteQuery& Query, int Index, int32_t Value) {
    if (!Query.Statement)
        RaiseEngineError(QStringLiteral("Could not bind integer to prepared SQL statement"),
                         Query.SQL);
    sqlite3_bind_int(Query.Statement.get(), Index, Value);
}

void TSQLiteDatabase::BindSQL(const TSQLiteQuery& Query, int Index, const QString& Value) {
    if (!Query.Statement)
        RaiseEngineError(QStringLiteral("Could not bind string to prepared SQL statement"),
                         Query.SQL);
    // The engine copies the text: binding without a copy left a dangling pointer whenever the
    // caller's text went away before the statement ran.
    sqlite3_bind_text16(Query.Statement.get(), Index, Value.utf16(),
                        static_cast<int>(Value.size() * 2), SQLITE_TRANSIENT);
}

void TSQLiteDatabase::ReleaseSQL(TSQLiteQuery& Query) {
    if (!Query.Statement)
        RaiseEngineError(QStringLiteral("Could not release prepared SQL statement"), Query.SQL);
    Query.Statement.reset();
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::GetTable(const QString& SQL) {
    return std::make_unique<TSQLiteTable>(*this, SQL);
}

std::unique_ptr<TSQLiteUniTable> TSQLiteDatabase::GetUniTable(const QString& SQL) {
    return std::make_unique<TSQLiteUniTable>(*this, SQL);
}

int64_t TSQLiteDatabase::GetTableValue(const QString& SQL) {
    TSQLiteUniTable table(*this, SQL);
    return table.Eof() ? 0 : table.FieldAsInteger(0);
}

QString TSQLiteDatabase::GetTableString(const QString& SQL) {
    TSQLiteUniTable table(*this, SQL);
    return table.Eof() ? QString() : table.FieldAsString(0);
}

void TSQLiteDatabase::GetTableStrings(const QString& SQL, QStringList& Value) {
    Value.clear();
    TSQLiteUniTable table(*this, SQL);
    while (!table.Eof()) {
        Value.append(table.FieldAsString(0));
        table.Next();
    }
}

void TSQLiteDatabase::UpdateBlob(const QString& SQL, const QByteArray& BlobData) {
    if (!SQL.contains(QLatin1Char('?')))
        RaiseEngineError(QStringLiteral("SQL must include a ? parameter"), SQL);
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare16_v2(fDB.get(), SQL.utf16(), -1, &raw, nullptr);
    SqliteStatement stmt(raw);
    if (rc != SQLITE_OK || !stmt)
        RaiseEngineError(QStringLiteral("Could not prepare SQL statement"), SQL);
    NotifyQuery(SQL);
    const auto size = static_cast<sqlite3_uint64>(BlobData.size());
    void* buffer = sqlite3_malloc64(size > 0 ? size : 1);
    if (!buffer)
        throw ESQLiteException(QStringLiteral("Error getting memory to save blob"));
    if (size > 0)
        memcpy(buffer, BlobData.constData(), size);
    // The engine takes the buffer and frees it with sqlite3_free, also when binding fails.
    if (sqlite3_bind_blob64(stmt.get(), 1, buffer, size, sqlite3_free) != SQLITE_OK)
        RaiseEngineError(QStringLiteral("Error binding blob to database"), SQL);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
        sqlite3_reset(stmt.get());
        RaiseEngineError(QStringLiteral("Error executing SQL statement"), SQL);
    }
}

void TSQLiteDatabase::BeginTransaction() {
    if (fInTrans)
        throw ESQLiteException(QStringLiteral("Transaction already open"));
    ExecSQL(QStringLiteral("BEGIN TRANSACTION"));
    fInTrans = true;
}

void TSQLiteDatabase::Commit() {
    ExecSQL(QStringLiteral("COMMIT"));
    fInTrans = false;
}

void TSQLiteDatabase::Rollback() {
    ExecSQL(QStringLiteral("ROLLBACK"));
    fInTrans = false;
}

bool TSQLiteDatabase::TableExists(const QString& TableName) {
    // The name is bound, not spliced, so a quote in it cannot break the statement.
    AddParamText(QStringLiteral(":name"), TableName.toLower());
    auto table = GetTable(QStringLiteral(
        "select [sql] from sqlite_master where [type] = 'table' and lower(name) = :name "));
    return !table->Eof();
}

int64_t TSQLiteDatabase::GetLastInsertRowID() const {
    return sqlite3_last_insert_rowid(fDB.get());
}

int64_t TSQLiteDatabase::GetLastChangedRows() const {
    return sqlite3_total_changes(fDB.get());
}

void TSQLiteDatabase::SetTimeout(int32_t Value) {
    sqlite3_busy_timeout(fDB.get(), Value);
}

void TSQLiteDatabase::SetSynchronised(bool value) {
    if (value == fSync)
        return;
    ExecSQL(value ? QStringLiteral("PRAGMA synchronous = ON;")
                  : QStringLiteral("PRAGMA synchronous = OFF;"));
    fSync = value;
}

QString TSQLiteDatabase::Version() {
    return QString::fromUtf8(sqlite3_libversion());
}

int32_t TSQLiteDatabase::Backup(TSQLiteDatabase& TargetDB, const QString& targetName,
                                const QString& sourceName) {
    std::unique_ptr<sqlite3_backup, BackupFinisher> backup(
        sqlite3_backup_init(TargetDB.DB(), targetName.toUtf8().constData(), fDB.get(),
                            sourceName.toUtf8().constData()));
    if (!backup)
        throw ESQLiteException(QStringLiteral("Could not initialize backup"));
    return sqlite3_backup_step(backup.get(), -1);
}

int32_t TSQLiteDatabase::Backup(TSQLiteDatabase& TargetDB) {
    return Backup(TargetDB, QStringLiteral("main"), QStringLiteral("main"));
}

void TSQLiteDatabase::AddCustomCollate(const QString& name, TCollateXCompare xCompare) {
    sqlite3_create_collation(fDB.get(), name.toUtf8().constData(), SQLITE_UTF8, nullptr, xCompare);
}

void TSQLiteDatabase::AddSystemCollate() {
    sqlite3_create_collation16(fDB.get(), u"SYSTEM", SQLITE_UTF16, nullptr, SystemCompare);
}

void TSQLiteDatabase::ParamsClear() {
    fParams.clear();
}

void TSQLiteDatabase::AddParamInt(const QString& name, int64_t value) {
    TSQliteParam p;
    p.name = name;
    p.valuetype = 1;
    p.valueinteger = value;
    fParams.push_back(std::move(p));
}

void TSQLiteDatabase::AddParamFloat(const QString& name, double value) {
    TSQliteParam p;
    p.name = name;
    p.valuetype = 2;
    p.valuefloat = value;
    fParams.push_back(std::move(p));
}

void TSQLiteDatabase::AddParamText(const QString& name, const QString& value) {
    TSQliteParam p;
    p.name = name;
    p.valuetype = 3;
    p.valuedata = value;
    fParams.push_back(std::move(p));
}

void TSQLiteDatabase::AddParamNull(const QString& name) {
    TSQliteParam p;
    p.name = name;
    p.valuetype = 5;
    fParams.push_back(std::move(p));
}

// ---------------------------------------------------------------------------------------------
// TSQLiteTable

namespace {

int32_t KindOfDeclaredType(const QString& decl) {
    if (decl == QLatin1String("INTEGER") || decl == QLatin1String("BOOLEAN"))
        return TSQLiteTable::KindInteger;
    if (decl == QLatin1String("NUMERIC") || decl == QLatin1String("FLOAT") ||
        decl == QLatin1String("DOUBLE") || decl == QLatin1String("REAL"))
        return TSQLiteTable::KindFloat;
    if (decl == QLatin1String("BLOB"))
        return TSQLiteTable::KindBlob;
    return TSQLiteTable::KindText;
}

} // namespace

TSQLiteTable::TSQLiteTable(TSQLiteDatabase& DB, const QString& SQL) {
    SqliteStatement stmt = DB.Prepare(SQL);
    DB.NotifyQuery(SQL);
    DB.BindParams(stmt.get());
    sqlite3_stmt* s = stmt.get();
    for (;;) {
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_DONE)
            break;
        if (rc == SQLITE_BUSY)
            throw ESQLiteException(QStringLiteral("Could not prepare SQL statement"));
        if (rc != SQLITE_ROW) {
            sqlite3_reset(s);
            DB.RaiseEngineError(QStringLiteral("Could not retrieve data"), SQL);
        }
        ++fRowCount;
        if (fRowCount == 1) {
            fColCount = static_cast<uint32_t>(sqlite3_column_count(s));
            for (uint32_t c = 0; c < fColCount; ++c) {
                const int ci = static_cast<int>(c);
                fCols.append(AsciiUpper(FromUtf16(sqlite3_column_name16(s, ci))));
                const void* decl = sqlite3_column_decltype16(s, ci);
                fColTypes.push_back(decl ? KindOfDeclaredType(FromUtf16(decl))
                                         : static_cast<int32_t>(sqlite3_column_type(s, ci)));
            }
        }
        for (uint32_t c = 0; c < fColCount; ++c) {
            const int ci = static_cast<int>(c);
            if (sqlite3_column_type(s, ci) == SQLITE_NULL) {
                fResults.emplace_back();
                continue;
            }
            switch (fColTypes[c]) {
            case KindInteger:
                fResults.emplace_back(static_cast<int64_t>(sqlite3_column_int64(s, ci)));
                break;
            case KindFloat:
                fResults.emplace_back(sqlite3_column_double(s, ci));
                break;
            case KindBlob: {
                const int bytes = sqlite3_column_bytes(s, ci);
                const void* data = sqlite3_column_blob(s, ci);
                if (bytes > 0 && data)
                    fResults.emplace_back(QByteArray(static_cast<const char*>(data), bytes));
                else
                    fResults.emplace_back();
                break;
            }
            default:
                fResults.emplace_back(FromUtf16(sqlite3_column_text16(s, ci)));
                break;
            }
        }
    }
    fRow = 0;
}

bool TSQLiteTable::Next() {
    if (Eof())
        return false;
    ++fRow;
    return true;
}

bool TSQLiteTable::Previous() {
    if (Bof())
        return false;
    --fRow;
    return true;
}

bool TSQLiteTable::MoveFirst() {
    if (fRowCount == 0)
        return false;
    fRow = 0;
    return true;
}

bool TSQLiteTable::MoveLast() {
    if (fRowCount == 0)
        return false;
    fRow = fRowCount - 1;
    return true;
}

bool TSQLiteTable::MoveTo(uint32_t position) {
    if (fRowCount == 0 || position >= fRowCount)
        return false;
    fRow = position;
    return true;
}

int32_t TSQLiteTable::GetFieldIndex(const QString& FieldName) const {
    if (fCols.isEmpty())
        throw ESQLiteException(QStringLiteral("Field ") + FieldName +
                               QStringLiteral(" Not found. Empty dataset"));
    const QString wanted = AsciiUpper(FieldName);
    for (qsizetype i = 0; i < fCols.size(); ++i) {
        if (QString::compare(fCols[i], wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int32_t>(i);
    }
    throw ESQLiteException(QStringLiteral("Field not found in dataset: ") + FieldName);
}

QString TSQLiteTable::GetColumns(uint32_t I) const {
    if (I >= static_cast<uint32_t>(fCols.size()))
        throw ESQLiteException(QStringLiteral("Column index out of range: ") + QString::number(I));
    return fCols[static_cast<qsizetype>(I)];
}

int32_t TSQLiteTable::ColumnKind(uint32_t I) const {
    if (I >= fColTypes.size())
        throw ESQLiteException(QStringLiteral("Column index out of range: ") + QString::number(I));
    return fColTypes[I];
}

const TSQLiteTable::Cell& TSQLiteTable::CurrentCell(uint32_t I) const {
    if (Eof())
        throw ESQLiteException(QStringLiteral("Table is at End of File"));
    if (I >= fColCount)
        throw ESQLiteException(QStringLiteral("Column index out of range: ") + QString::number(I));
    return fResults[static_cast<size_t>(fRow) * fColCount + I];
}

QString TSQLiteTable::FieldAsString(uint32_t I) const {
    const Cell& cell = CurrentCell(I);
    if (std::holds_alternative<std::monostate>(cell))
        return QString();
    switch (fColTypes[I]) {
    case KindInteger:
        return QString::number(std::get<int64_t>(cell));
    case KindFloat:
        return FloatText(std::get<double>(cell));
    case KindBlob:
        return QString::fromUtf8(std::get<QByteArray>(cell));
    case KindText:
        return std::get<QString>(cell);
    default:
        return QString();
    }
}

int64_t TSQLiteTable::FieldAsInteger(uint32_t I) const {
    const Cell& cell = CurrentCell(I);
    if (std::holds_alternative<std::monostate>(cell))
        return 0;
    switch (fColTypes[I]) {
    case KindInteger:
        return std::get<int64_t>(cell);
    case KindFloat:
        return static_cast<int64_t>(std::get<double>(cell));
    default:
        throw ESQLiteException(QStringLiteral("Not an integer or numeric field"));
    }
}

double TSQLiteTable::FieldAsDouble(uint32_t I) const {
    const Cell& cell = CurrentCell(I);
    if (std::holds_alternative<std::monostate>(cell))
        return 0;
    switch (fColTypes[I]) {
    case KindInteger:
        return static_cast<double>(std::get<int64_t>(cell));
    case KindFloat:
        return std::get<double>(cell);
    default:
        throw ESQLiteException(QStringLiteral("Not an integer or numeric field"));
    }
}

bool TSQLiteTable::FieldIsNull(uint32_t I) const {
    return std::holds_alternative<std::monostate>(CurrentCell(I));
}

const QByteArray* TSQLiteTable::FieldAsBlob(uint32_t I) const {
    const Cell& cell = CurrentCell(I);
    if (std::holds_alternative<std::monostate>(cell))
        return nullptr;
    if (fColTypes[I] != KindBlob)
        throw ESQLiteException(QStringLiteral("Not a Blob field"));
    return &std::get<QByteArray>(cell);
}

QString TSQLiteTable::FieldAsBlobText(uint32_t I) const {
    const QByteArray* blob = FieldAsBlob(I);
    return blob ? QString::fromUtf8(*blob) : QString();
}

QString TSQLiteTable::GetFields(uint32_t I) const {
    const Cell& cell = CurrentCell(I);
    if (std::holds_alternative<std::monostate>(cell) &&
        (fColTypes[I] == KindInteger || fColTypes[I] == KindFloat))
        return QStringLiteral("0");
    return FieldAsString(I);
}

QString TSQLiteTable::GetFieldByName(const QString& FieldName) const {
    return GetFields(static_cast<uint32_t>(GetFieldIndex(FieldName)));
}

int64_t TSQLiteTable::CountResult() const {
    if (Eof())
        return 0;
    return GetFields(0).toLongLong();
}

// ---------------------------------------------------------------------------------------------
// TSQLiteUniTable

TSQLiteUniTable::TSQLiteUniTable(TSQLiteDatabase& DB, const QString& SQL) : fDB(DB), fSQL(SQL) {
    fStmt = DB.Prepare(SQL);
    DB.NotifyQuery(SQL);
    DB.BindParams(fStmt.get());
    fColCount = static_cast<uint32_t>(sqlite3_column_count(fStmt.get()));
    for (uint32_t c = 0; c < fColCount; ++c)
        fCols.append(FromUtf16(sqlite3_column_name16(fStmt.get(), static_cast<int>(c))).toUpper());
    Next();
}

bool TSQLiteUniTable::Next() {
    fEOF = true;
    const int rc = sqlite3_step(fStmt.get());
    if (rc == SQLITE_ROW) {
        fEOF = false;
        ++fRow;
    } else if (rc != SQLITE_DONE) {
        sqlite3_reset(fStmt.get());
        fDB.RaiseEngineError(QStringLiteral("Could not retrieve data"), fSQL);
    }
    return !fEOF;
}

int32_t TSQLiteUniTable::GetFieldIndex(const QString& FieldName) const {
    if (fCols.isEmpty())
        throw ESQLiteException(QStringLiteral("Field ") + FieldName +
                               QStringLiteral(" Not found. Empty dataset"));
    const QString wanted = FieldName.toUpper();
    for (qsizetype i = 0; i < fCols.size(); ++i) {
        if (QString::compare(fCols[i], wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int32_t>(i);
    }
    throw ESQLiteException(QStringLiteral("Field not found in dataset: ") + FieldName);
}

QString TSQLiteUniTable::FieldByName(const QString& FieldName) const {
    return FieldAsString(static_cast<uint32_t>(GetFieldIndex(FieldName)));
}

QString TSQLiteUniTable::Columns(uint32_t I) const {
    if (I >= static_cast<uint32_t>(fCols.size()))
        throw ESQLiteException(QStringLiteral("Column index out of range: ") + QString::number(I));
    return fCols[static_cast<qsizetype>(I)];
}

int TSQLiteUniTable::Column(uint32_t I) const {
    if (I >= fColCount)
        throw ESQLiteException(QStringLiteral("Column index out of range: ") + QString::number(I));
    return static_cast<int>(I);
}

QString TSQLiteUniTable::FieldAsString(uint32_t I) const {
    return FromUtf16(sqlite3_column_text16(fStmt.get(), Column(I)));
}

int64_t TSQLiteUniTable::FieldAsInteger(uint32_t I) const {
    return sqlite3_column_int64(fStmt.get(), Column(I));
}

double TSQLiteUniTable::FieldAsDouble(uint32_t I) const {
    return sqlite3_column_double(fStmt.get(), Column(I));
}

bool TSQLiteUniTable::FieldIsNull(uint32_t I) const {
    return sqlite3_column_text(fStmt.get(), Column(I)) == nullptr;
}

std::unique_ptr<QByteArray> TSQLiteUniTable::FieldAsBlob(uint32_t I) const {
    const int ci = Column(I);
    const void* data = sqlite3_column_blob(fStmt.get(), ci);
    const int bytes = sqlite3_column_bytes(fStmt.get(), ci);
    if (!data || bytes <= 0)
        return nullptr;
    return std::make_unique<QByteArray>(static_cast<const char*>(data), bytes);
}

const void* TSQLiteUniTable::FieldAsBlobPtr(uint32_t I, int32_t& iNumBytes) const {
    const int ci = Column(I);
    const void* data = sqlite3_column_blob(fStmt.get(), ci);
    iNumBytes = sqlite3_column_bytes(fStmt.get(), ci);
    return data;
}

QString TSQLiteUniTable::FieldAsBlobText(uint32_t I) const {
    int32_t bytes = 0;
    const void* data = FieldAsBlobPtr(I, bytes);
    if (!data || bytes <= 0)
        return QString();
    return QString::fromUtf8(static_cast<const char*>(data), bytes);
}

} // namespace zvrd
