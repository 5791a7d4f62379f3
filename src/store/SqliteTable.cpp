#include "store/SqliteTable.h"

#include <QFileInfo>
#include <QUrl>

#include <atomic>
#include <map>
#include <sqlite3.h>
#include <unistd.h>

namespace zvrd {
namespace {

// Mended: the design set no busy timeout, so a statement meeting another connection's lock
// failed at once and a downloaded chapter could be lost. Every connection now waits for another
// process's write for up to 30 s (threads of this process queue before they write, see
// NovelLibrary), long enough for a busy machine.
constexpr int kBusyTimeoutMs = 30000;

QString fromUtf16(const void* text) {
    return text ? QString::fromUtf16(static_cast<const char16_t*>(text)) : QString();
}

} // namespace

std::unique_lock<std::mutex> lockForWriting(const QString& fileName) {
    static std::mutex registryLock;
    static std::map<QString, std::unique_ptr<std::mutex>> locks;
    const QString key = QFileInfo(fileName).absoluteFilePath();
    std::mutex* lock = nullptr;
    {
        std::lock_guard guard(registryLock);
        auto& slot = locks[key];
        if (!slot)
            slot = std::make_unique<std::mutex>();
        lock = slot.get();
    }
    return std::unique_lock<std::mutex>(*lock);
}

SqliteException::SqliteException(const QString& message)
    : std::runtime_error(message.toStdString()), m_message(message) {}

void SqliteCloser::operator()(sqlite3* db) const {
    // close_v2 defers the close until every statement made on the connection is finalised.
    sqlite3_close_v2(db);
}

void SqliteFinalizer::operator()(sqlite3_stmt* stmt) const {
    sqlite3_finalize(stmt);
}

// ---------------------------------------------------------------------------------------------
// SqliteDatabase

namespace {

std::atomic<bool> gReadOnly{false};

// The read-only form of a file's name: a URI with mode=ro, immutable for a file of another
// account that has no write-ahead log beside it (then nothing at all is created next to it).
QByteArray readOnlyUri(const QString& fileName) {
    const QFileInfo file(fileName);
    const bool foreign = file.exists() && file.ownerId() != ::geteuid();
    const bool immutable = foreign && !QFileInfo::exists(fileName + QStringLiteral("-wal"));
    return QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded() +
           (immutable ? "?mode=ro&immutable=1" : "?mode=ro");
}

} // namespace

void setReadOnlyAccess(bool readOnly) {
    gReadOnly = readOnly;
}

bool readOnlyAccess() {
    return gReadOnly;
}

SqliteDatabase::SqliteDatabase(const QString& fileName, Purpose purpose) {
    const bool memory = fileName == QLatin1String(":memory:");
    if (gReadOnly && !memory && purpose == Purpose::Writing)
        throw SqliteException(QStringLiteral("Failed to open database \"") + fileName +
                              QStringLiteral("\" : opened read-only"));
    sqlite3* handle = nullptr;
    const int rc = gReadOnly && !memory
                       ? sqlite3_open_v2(readOnlyUri(fileName).constData(), &handle,
                                         SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr)
                       : sqlite3_open16(fileName.utf16(), &handle);
    m_db.reset(handle);
    if (rc != SQLITE_OK) {
        const QString engineMsg =
            m_db ? fromUtf16(sqlite3_errmsg16(m_db.get())) : QStringLiteral("unknown error");
        throw SqliteException(QStringLiteral("Failed to open database \"") + fileName +
                              QStringLiteral("\" : ") + engineMsg);
    }
    sqlite3_busy_timeout(m_db.get(), kBusyTimeoutMs);
}

SqliteDatabase::~SqliteDatabase() {
    if (m_inTransaction) {
        try {
            rollback();
        } catch (...) {
            // The connection closes regardless; the engine rolls back what is left open.
        }
    }
}

int32_t SqliteDatabase::rowsChanged() const {
    return sqlite3_changes(m_db.get());
}

void SqliteDatabase::throwEngineError(const QString& message, const QString& sql) const {
    const int code = sqlite3_errcode(m_db.get());
    if (code == SQLITE_OK)
        throw SqliteException(message);
    const QString engineMsg = fromUtf16(sqlite3_errmsg16(m_db.get()));
    throw SqliteException(message + QStringLiteral(".\rError [") + QString::number(code) +
                          QStringLiteral("]: ") + QString::fromUtf8(sqlite3_errstr(code)) +
                          QStringLiteral(".\r\"") + sql + QStringLiteral("\": ") + engineMsg);
}

void SqliteDatabase::bindAll(sqlite3_stmt* statement, const SqlArgs& args, const QString& sql) {
    int index = 1;
    for (const SqlValue& value : args) {
        int rc = SQLITE_OK;
        if (const auto* number = std::get_if<int64_t>(&value)) {
            rc = sqlite3_bind_int64(statement, index, *number);
        } else if (const auto* text = std::get_if<QString>(&value)) {
            // The engine copies the text, so the caller's may go before the statement runs.
            rc = sqlite3_bind_text16(statement, index, text->utf16(),
                                     static_cast<int>(text->size() * 2), SQLITE_TRANSIENT);
        } else {
            rc = sqlite3_bind_null(statement, index);
        }
        if (rc != SQLITE_OK)
            throwEngineError(QStringLiteral("Could not bind a value to SQL statement"), sql);
        ++index;
    }
}

SqliteStatement SqliteDatabase::statement(const QString& sql, const SqlArgs& args) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare16_v2(m_db.get(), sql.utf16(), -1, &raw, nullptr);
    SqliteStatement stmt(raw);
    if (rc != SQLITE_OK)
        throwEngineError(QStringLiteral("Error executing SQL"), sql);
    if (!stmt)
        throwEngineError(QStringLiteral("Could not prepare SQL statement"), sql);
    bindAll(stmt.get(), args, sql);
    return stmt;
}

void SqliteDatabase::exec(const QString& sql, const SqlArgs& args) {
    SqliteStatement stmt = statement(sql, args);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
        sqlite3_reset(stmt.get());
        throwEngineError(QStringLiteral("Error executing SQL statement"), sql);
    }
}

SqlitePrepared::SqlitePrepared(SqliteDatabase& db, const QString& sql)
    : m_db(db), m_sql(sql), m_statement(db.statement(sql, {})) {}

void SqlitePrepared::run(const SqlArgs& args) {
    sqlite3_stmt* stmt = m_statement.get();
    sqlite3_reset(stmt);
    m_db.bindAll(stmt, args, m_sql);
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE)
        m_db.throwEngineError(QStringLiteral("Error executing prepared SQL statement"), m_sql);
}

std::unique_ptr<SqliteTable> SqliteDatabase::query(const QString& sql, const SqlArgs& args) {
    return std::make_unique<SqliteTable>(*this, sql, args);
}

std::unique_ptr<SqliteCursor> SqliteDatabase::cursor(const QString& sql, const SqlArgs& args) {
    return std::make_unique<SqliteCursor>(*this, sql, args);
}

int64_t SqliteDatabase::integerValue(const QString& sql, const SqlArgs& args) {
    SqliteCursor table(*this, sql, args);
    return table.atEnd() ? 0 : table.fieldAsInteger(0);
}

QString SqliteDatabase::stringValue(const QString& sql, const SqlArgs& args) {
    SqliteCursor table(*this, sql, args);
    return table.atEnd() ? QString() : table.fieldAsString(0);
}

QStringList SqliteDatabase::stringValues(const QString& sql, const SqlArgs& args) {
    QStringList values;
    for (SqliteCursor table(*this, sql, args); !table.atEnd(); table.next())
        values.append(table.fieldAsString(0));
    return values;
}

void SqliteDatabase::beginTransaction() {
    if (m_inTransaction)
        throw SqliteException(QStringLiteral("Transaction already open"));
    // Every transaction here writes: taking the write lock at the start means a reader never has
    // to be upgraded to a writer, which SQLite refuses at once (no busy wait) when another
    // connection writes.
    exec(QStringLiteral("BEGIN IMMEDIATE"));
    m_inTransaction = true;
}

void SqliteDatabase::commit() {
    exec(QStringLiteral("COMMIT"));
    m_inTransaction = false;
}

void SqliteDatabase::rollback() {
    exec(QStringLiteral("ROLLBACK"));
    m_inTransaction = false;
}

bool SqliteDatabase::tableExists(const QString& tableName) {
    return integerValue(QStringLiteral("select count(*) from sqlite_master where type = 'table' "
                                       "and lower(name) = lower(?1)"),
                        {tableName}) > 0;
}

// ---------------------------------------------------------------------------------------------
// SqliteTable

SqliteTable::SqliteTable(SqliteDatabase& db, const QString& sql, const SqlArgs& args) {
    SqliteStatement stmt = db.statement(sql, args);
    sqlite3_stmt* s = stmt.get();
    m_columnCount = static_cast<uint32_t>(sqlite3_column_count(s));
    for (uint32_t c = 0; c < m_columnCount; ++c)
        m_columns.append(fromUtf16(sqlite3_column_name16(s, static_cast<int>(c))));
    for (;;) {
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW) {
            sqlite3_reset(s);
            db.throwEngineError(QStringLiteral("Could not retrieve data"), sql);
        }
        ++m_rowCount;
        for (uint32_t c = 0; c < m_columnCount; ++c) {
            const int ci = static_cast<int>(c);
            switch (sqlite3_column_type(s, ci)) {
            case SQLITE_NULL:
                m_results.emplace_back();
                break;
            case SQLITE_INTEGER:
                m_results.emplace_back(static_cast<int64_t>(sqlite3_column_int64(s, ci)));
                break;
            case SQLITE_BLOB: // read as UTF-8 text, as the engine would convert it
                m_results.emplace_back(
                    QString::fromUtf8(static_cast<const char*>(sqlite3_column_blob(s, ci)),
                                      sqlite3_column_bytes(s, ci)));
                break;
            default:
                m_results.emplace_back(fromUtf16(sqlite3_column_text16(s, ci)));
                break;
            }
        }
    }
}

bool SqliteTable::next() {
    if (atEnd())
        return false;
    ++m_row;
    return true;
}

int32_t SqliteTable::fieldIndex(const QString& fieldName) const {
    for (qsizetype i = 0; i < m_columns.size(); ++i) {
        if (QString::compare(m_columns[i], fieldName, Qt::CaseInsensitive) == 0)
            return static_cast<int32_t>(i);
    }
    throw SqliteException(QStringLiteral("Field not found in dataset: ") + fieldName);
}

const SqlValue& SqliteTable::currentCell(uint32_t column) const {
    if (atEnd())
        throw SqliteException(QStringLiteral("Table is at End of File"));
    if (column >= m_columnCount)
        throw SqliteException(QStringLiteral("Column index out of range: ") +
                              QString::number(column));
    return m_results[static_cast<size_t>(m_row) * m_columnCount + column];
}

QString SqliteTable::fieldAsString(uint32_t column) const {
    const SqlValue& cell = currentCell(column);
    if (const auto* i = std::get_if<int64_t>(&cell))
        return QString::number(*i);
    if (const auto* t = std::get_if<QString>(&cell))
        return *t;
    return QString();
}

int64_t SqliteTable::fieldAsInteger(uint32_t column) const {
    const SqlValue& cell = currentCell(column);
    if (const auto* i = std::get_if<int64_t>(&cell))
        return *i;
    if (const auto* t = std::get_if<QString>(&cell))
        return static_cast<int64_t>(t->toDouble());
    return 0;
}

bool SqliteTable::fieldIsNull(uint32_t column) const {
    return std::holds_alternative<std::monostate>(currentCell(column));
}

// ---------------------------------------------------------------------------------------------
// SqliteCursor

SqliteCursor::SqliteCursor(SqliteDatabase& db, const QString& sql, const SqlArgs& args)
    : m_statement(db.statement(sql, args)), m_db(db), m_sql(sql) {
    m_columnCount = static_cast<uint32_t>(sqlite3_column_count(m_statement.get()));
    next();
}

bool SqliteCursor::next() {
    m_atEnd = true;
    const int rc = sqlite3_step(m_statement.get());
    if (rc == SQLITE_ROW) {
        m_atEnd = false;
    } else if (rc != SQLITE_DONE) {
        sqlite3_reset(m_statement.get());
        m_db.throwEngineError(QStringLiteral("Could not retrieve data"), m_sql);
    }
    return !m_atEnd;
}

int SqliteCursor::checkedColumn(uint32_t column) const {
    if (m_atEnd || column >= m_columnCount)
        throw SqliteException(QStringLiteral("Column index out of range: ") +
                              QString::number(column));
    return static_cast<int>(column);
}

QString SqliteCursor::fieldAsString(uint32_t column) const {
    return fromUtf16(sqlite3_column_text16(m_statement.get(), checkedColumn(column)));
}

int64_t SqliteCursor::fieldAsInteger(uint32_t column) const {
    return sqlite3_column_int64(m_statement.get(), checkedColumn(column));
}

} // namespace zvrd
