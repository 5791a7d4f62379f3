#include "store/SqliteTable.h"

#include "store/SqliteErrorText.h"

#include <QFileInfo>
#include <QLocale>
#include <map>
#include <sqlite3.h>

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

QString fromUtf16(const void* text, int bytes) {
    if (!text || bytes <= 0)
        return QString();
    return QString(reinterpret_cast<const QChar*>(text), bytes / 2);
}

// Upper-cases ASCII letters only, as the column names of a fully fetched table are kept.
QString asciiUpper(const QString& text) {
    QString result = text;
    for (QChar& c : result) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 32);
    }
    return result;
}

QString floatText(double value) {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

int systemCompare(void*, int len1, const void* buf1, int len2, const void* buf2) {
    const QString a = fromUtf16(buf1, len1);
    const QString b = fromUtf16(buf2, len2);
    const int r = QString::localeAwareCompare(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

struct BackupFinisher {
    void operator()(sqlite3_backup* backup) const { sqlite3_backup_finish(backup); }
};

// Frees the parameter queue whichever way the binding step is left.
struct QueueClearer {
    std::vector<SqliteParam>& queue;
    ~QueueClearer() { queue.clear(); }
};

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

SqliteDatabase::SqliteDatabase(const QString& fileName) {
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open16(fileName.utf16(), &handle);
    m_db.reset(handle);
    if (rc != SQLITE_OK) {
        if (m_db) {
            const QString engineMsg = fromUtf16(sqlite3_errmsg16(m_db.get()));
            throw SqliteException(QStringLiteral("Failed to open database \"") + fileName +
                                  QStringLiteral("\" : ") + engineMsg);
        }
        throw SqliteException(QStringLiteral("Failed to open database \"") + fileName +
                              QStringLiteral("\" : unknown error"));
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
                          QStringLiteral("]: ") + sqliteErrorText(code) + QStringLiteral(".\r\"") +
                          sql + QStringLiteral("\": ") + engineMsg);
}

void SqliteDatabase::notifyQuery(const QString& sql) {
    if (m_queryHook)
        m_queryHook(this, sql);
}

void SqliteDatabase::bindParams(sqlite3_stmt* statement) {
    QueueClearer clearer{m_params};
    for (const SqliteParam& param : m_params) {
        const int index = sqlite3_bind_parameter_index(statement, param.name.toUtf8().constData());
        if (index == 0)
            continue;
        switch (param.type) {
        case 1:
            sqlite3_bind_int64(statement, index, param.integer);
            break;
        case 2:
            sqlite3_bind_double(statement, index, param.real);
            break;
        case 3:
            sqlite3_bind_text16(statement, index, param.text.utf16(),
                                static_cast<int>(param.text.size() * 2), SQLITE_TRANSIENT);
            break;
        case 5:
            sqlite3_bind_null(statement, index);
            break;
        default:
            break;
        }
    }
}

SqliteStatement SqliteDatabase::prepareStatement(const QString& sql, bool v2) {
    sqlite3_stmt* raw = nullptr;
    const int rc = v2 ? sqlite3_prepare16_v2(m_db.get(), sql.utf16(), -1, &raw, nullptr)
                      : sqlite3_prepare16(m_db.get(), sql.utf16(), -1, &raw, nullptr);
    SqliteStatement stmt(raw);
    if (rc != SQLITE_OK || !stmt) {
        // A queue meant for a statement that never ran must not reach the next one.
        m_params.clear();
        if (rc != SQLITE_OK)
            throwEngineError(QStringLiteral("Error executing SQL"), sql);
        throwEngineError(QStringLiteral("Could not prepare SQL statement"), sql);
    }
    return stmt;
}

void SqliteDatabase::exec(const QString& sql) {
    SqliteStatement stmt = prepareStatement(sql);
    notifyQuery(sql);
    bindParams(stmt.get());
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
        sqlite3_reset(stmt.get());
        throwEngineError(QStringLiteral("Error executing SQL statement"), sql);
    }
}

void SqliteDatabase::execScript(const QString& script) {
    const char16_t* rest = reinterpret_cast<const char16_t*>(script.utf16());
    while (rest && *rest) {
        sqlite3_stmt* raw = nullptr;
        const void* tail = nullptr;
        const int rc = sqlite3_prepare16_v2(m_db.get(), rest, -1, &raw, &tail);
        SqliteStatement stmt(raw);
        const QString text = tail ? QString(reinterpret_cast<const QChar*>(rest),
                                            static_cast<const char16_t*>(tail) - rest)
                                  : QString::fromUtf16(rest);
        if (rc != SQLITE_OK)
            throwEngineError(QStringLiteral("Error executing SQL"), text.trimmed());
        rest = static_cast<const char16_t*>(tail);
        if (!stmt)
            continue; // white space or a comment between statements
        notifyQuery(text);
        while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        }
        if (sqlite3_reset(stmt.get()) != SQLITE_OK)
            throwEngineError(QStringLiteral("Error executing SQL statement"), text.trimmed());
    }
}

void SqliteDatabase::exec(SqliteQuery& query) {
    if (!query.statement)
        return;
    sqlite3_stmt* stmt = query.statement.get();
    if (sqlite3_step(stmt) != SQLITE_DONE) {
        sqlite3_reset(stmt);
        throwEngineError(QStringLiteral("Error executing prepared SQL statement"), query.sql);
    }
    sqlite3_reset(stmt);
}

SqliteQuery SqliteDatabase::prepare(const QString& sql) {
    SqliteStatement stmt = prepareStatement(sql, /*v2=*/false);
    notifyQuery(sql);
    return SqliteQuery{sql, std::shared_ptr<sqlite3_stmt>(stmt.release(), SqliteFinalizer())};
}

void SqliteDatabase::bind(const SqliteQuery& query, int index, int32_t value) {
    if (!query.statement)
        throwEngineError(QStringLiteral("Could not bind integer to prepared SQL statement"),
                         query.sql);
    sqlite3_bind_int(query.statement.get(), index, value);
}

void SqliteDatabase::bind(const SqliteQuery& query, int index, const QString& value) {
    if (!query.statement)
        throwEngineError(QStringLiteral("Could not bind string to prepared SQL statement"),
                         query.sql);
    // The engine copies the text: binding without a copy left a dangling pointer whenever the
    // caller's text went away before the statement ran.
    sqlite3_bind_text16(query.statement.get(), index, value.utf16(),
                        static_cast<int>(value.size() * 2), SQLITE_TRANSIENT);
}

void SqliteDatabase::release(SqliteQuery& query) {
    if (!query.statement)
        throwEngineError(QStringLiteral("Could not release prepared SQL statement"), query.sql);
    query.statement.reset();
}

std::unique_ptr<SqliteTable> SqliteDatabase::query(const QString& sql) {
    return std::make_unique<SqliteTable>(*this, sql);
}

std::unique_ptr<SqliteCursor> SqliteDatabase::cursor(const QString& sql) {
    return std::make_unique<SqliteCursor>(*this, sql);
}

int64_t SqliteDatabase::integerValue(const QString& sql) {
    SqliteCursor table(*this, sql);
    return table.atEnd() ? 0 : table.fieldAsInteger(0);
}

QString SqliteDatabase::stringValue(const QString& sql) {
    SqliteCursor table(*this, sql);
    return table.atEnd() ? QString() : table.fieldAsString(0);
}

void SqliteDatabase::stringValues(const QString& sql, QStringList& value) {
    value.clear();
    SqliteCursor table(*this, sql);
    while (!table.atEnd()) {
        value.append(table.fieldAsString(0));
        table.next();
    }
}

void SqliteDatabase::updateBlob(const QString& sql, const QByteArray& blob) {
    if (!sql.contains(QLatin1Char('?')))
        throwEngineError(QStringLiteral("SQL must include a ? parameter"), sql);
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare16_v2(m_db.get(), sql.utf16(), -1, &raw, nullptr);
    SqliteStatement stmt(raw);
    if (rc != SQLITE_OK || !stmt)
        throwEngineError(QStringLiteral("Could not prepare SQL statement"), sql);
    notifyQuery(sql);
    const auto size = static_cast<sqlite3_uint64>(blob.size());
    void* buffer = sqlite3_malloc64(size > 0 ? size : 1);
    if (!buffer)
        throw SqliteException(QStringLiteral("Error getting memory to save blob"));
    if (size > 0)
        memcpy(buffer, blob.constData(), size);
    // The engine takes the buffer and frees it with sqlite3_free, also when binding fails.
    if (sqlite3_bind_blob64(stmt.get(), 1, buffer, size, sqlite3_free) != SQLITE_OK)
        throwEngineError(QStringLiteral("Error binding blob to database"), sql);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
        sqlite3_reset(stmt.get());
        throwEngineError(QStringLiteral("Error executing SQL statement"), sql);
    }
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
    // The name is bound, not spliced, so a quote in it cannot break the statement.
    addParamText(QStringLiteral(":name"), tableName.toLower());
    auto table = query(QStringLiteral(
        "select [sql] from sqlite_master where [type] = 'table' and lower(name) = :name "));
    return !table->atEnd();
}

int64_t SqliteDatabase::lastInsertRowId() const {
    return sqlite3_last_insert_rowid(m_db.get());
}

int64_t SqliteDatabase::totalChanges() const {
    return sqlite3_total_changes(m_db.get());
}

void SqliteDatabase::setBusyTimeout(int32_t value) {
    sqlite3_busy_timeout(m_db.get(), value);
}

void SqliteDatabase::setSynchronous(bool value) {
    if (value == m_synchronous)
        return;
    exec(value ? QStringLiteral("PRAGMA synchronous = ON;")
               : QStringLiteral("PRAGMA synchronous = OFF;"));
    m_synchronous = value;
}

QString SqliteDatabase::version() {
    return QString::fromUtf8(sqlite3_libversion());
}

int32_t SqliteDatabase::backup(SqliteDatabase& target, const QString& targetName,
                               const QString& sourceName) {
    std::unique_ptr<sqlite3_backup, BackupFinisher> backup(
        sqlite3_backup_init(target.handle(), targetName.toUtf8().constData(), m_db.get(),
                            sourceName.toUtf8().constData()));
    if (!backup)
        throw SqliteException(QStringLiteral("Could not initialize backup"));
    return sqlite3_backup_step(backup.get(), -1);
}

int32_t SqliteDatabase::backup(SqliteDatabase& target) {
    return backup(target, QStringLiteral("main"), QStringLiteral("main"));
}

void SqliteDatabase::addCollation(const QString& name, CollationCompare xCompare) {
    sqlite3_create_collation(m_db.get(), name.toUtf8().constData(), SQLITE_UTF8, nullptr, xCompare);
}

void SqliteDatabase::addSystemCollation() {
    sqlite3_create_collation16(m_db.get(), u"SYSTEM", SQLITE_UTF16, nullptr, systemCompare);
}

void SqliteDatabase::clearParams() {
    m_params.clear();
}

void SqliteDatabase::addParamInt(const QString& name, int64_t value) {
    SqliteParam p;
    p.name = name;
    p.type = 1;
    p.integer = value;
    m_params.push_back(std::move(p));
}

void SqliteDatabase::addParamFloat(const QString& name, double value) {
    SqliteParam p;
    p.name = name;
    p.type = 2;
    p.real = value;
    m_params.push_back(std::move(p));
}

void SqliteDatabase::addParamText(const QString& name, const QString& value) {
    SqliteParam p;
    p.name = name;
    p.type = 3;
    p.text = value;
    m_params.push_back(std::move(p));
}

void SqliteDatabase::addParamNull(const QString& name) {
    SqliteParam p;
    p.name = name;
    p.type = 5;
    m_params.push_back(std::move(p));
}

// ---------------------------------------------------------------------------------------------
// SqliteTable

namespace {

int32_t kindOfDeclaredType(const QString& decl) {
    if (decl == QLatin1String("INTEGER") || decl == QLatin1String("BOOLEAN"))
        return SqliteTable::KindInteger;
    if (decl == QLatin1String("NUMERIC") || decl == QLatin1String("FLOAT") ||
        decl == QLatin1String("DOUBLE") || decl == QLatin1String("REAL"))
        return SqliteTable::KindFloat;
    if (decl == QLatin1String("BLOB"))
        return SqliteTable::KindBlob;
    return SqliteTable::KindText;
}

} // namespace

SqliteTable::SqliteTable(SqliteDatabase& db, const QString& sql) {
    SqliteStatement stmt = db.prepareStatement(sql);
    db.notifyQuery(sql);
    db.bindParams(stmt.get());
    sqlite3_stmt* s = stmt.get();
    for (;;) {
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_DONE)
            break;
        if (rc == SQLITE_BUSY)
            throw SqliteException(QStringLiteral("Could not prepare SQL statement"));
        if (rc != SQLITE_ROW) {
            sqlite3_reset(s);
            db.throwEngineError(QStringLiteral("Could not retrieve data"), sql);
        }
        ++m_rowCount;
        if (m_rowCount == 1) {
            m_columnCount = static_cast<uint32_t>(sqlite3_column_count(s));
            for (uint32_t c = 0; c < m_columnCount; ++c) {
                const int ci = static_cast<int>(c);
                m_columns.append(asciiUpper(fromUtf16(sqlite3_column_name16(s, ci))));
                const void* decl = sqlite3_column_decltype16(s, ci);
                m_declared.push_back(decl != nullptr);
                m_columnKinds.push_back(decl ? kindOfDeclaredType(fromUtf16(decl))
                                             : static_cast<int32_t>(sqlite3_column_type(s, ci)));
            }
        }
        for (uint32_t c = 0; c < m_columnCount; ++c) {
            const int ci = static_cast<int>(c);
            const int type = sqlite3_column_type(s, ci);
            if (type == SQLITE_NULL) {
                m_results.emplace_back();
                continue;
            }
            // A declared column converts every value to its kind; a column without a declared
            // type (an expression, or a table made without types) keeps each value's own kind.
            switch (m_declared[c] ? m_columnKinds[c] : type) {
            case KindInteger:
                m_results.emplace_back(static_cast<int64_t>(sqlite3_column_int64(s, ci)));
                break;
            case KindFloat:
                m_results.emplace_back(sqlite3_column_double(s, ci));
                break;
            case KindBlob: {
                const int bytes = sqlite3_column_bytes(s, ci);
                const void* data = sqlite3_column_blob(s, ci);
                if (bytes > 0 && data)
                    m_results.emplace_back(QByteArray(static_cast<const char*>(data), bytes));
                else
                    m_results.emplace_back();
                break;
            }
            default:
                m_results.emplace_back(fromUtf16(sqlite3_column_text16(s, ci)));
                break;
            }
        }
    }
    m_row = 0;
}

bool SqliteTable::next() {
    if (atEnd())
        return false;
    ++m_row;
    return true;
}

bool SqliteTable::previous() {
    if (atStart())
        return false;
    --m_row;
    return true;
}

bool SqliteTable::first() {
    if (m_rowCount == 0)
        return false;
    m_row = 0;
    return true;
}

bool SqliteTable::last() {
    if (m_rowCount == 0)
        return false;
    m_row = m_rowCount - 1;
    return true;
}

bool SqliteTable::seek(uint32_t position) {
    if (m_rowCount == 0 || position >= m_rowCount)
        return false;
    m_row = position;
    return true;
}

int32_t SqliteTable::fieldIndex(const QString& fieldName) const {
    if (m_columns.isEmpty())
        throw SqliteException(QStringLiteral("Field ") + fieldName +
                              QStringLiteral(" Not found. Empty dataset"));
    const QString wanted = asciiUpper(fieldName);
    for (qsizetype i = 0; i < m_columns.size(); ++i) {
        if (QString::compare(m_columns[i], wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int32_t>(i);
    }
    throw SqliteException(QStringLiteral("Field not found in dataset: ") + fieldName);
}

QString SqliteTable::columnName(uint32_t column) const {
    if (column >= static_cast<uint32_t>(m_columns.size()))
        throw SqliteException(QStringLiteral("Column index out of range: ") +
                              QString::number(column));
    return m_columns[static_cast<qsizetype>(column)];
}

int32_t SqliteTable::columnKind(uint32_t column) const {
    if (column >= m_columnKinds.size())
        throw SqliteException(QStringLiteral("Column index out of range: ") +
                              QString::number(column));
    return m_columnKinds[column];
}

const SqliteTable::Cell& SqliteTable::currentCell(uint32_t column) const {
    if (atEnd())
        throw SqliteException(QStringLiteral("Table is at End of File"));
    if (column >= m_columnCount)
        throw SqliteException(QStringLiteral("Column index out of range: ") +
                              QString::number(column));
    return m_results[static_cast<size_t>(m_row) * m_columnCount + column];
}

// Each accessor goes by the kind of the value held, which is the column's kind for a declared
// column and the value's own for one without a declared type.
QString SqliteTable::fieldAsString(uint32_t column) const {
    const Cell& cell = currentCell(column);
    if (const auto* i = std::get_if<int64_t>(&cell))
        return QString::number(*i);
    if (const auto* d = std::get_if<double>(&cell))
        return floatText(*d);
    if (const auto* b = std::get_if<QByteArray>(&cell))
        return QString::fromUtf8(*b);
    if (const auto* t = std::get_if<QString>(&cell))
        return *t;
    return QString();
}

int64_t SqliteTable::fieldAsInteger(uint32_t column) const {
    const Cell& cell = currentCell(column);
    if (std::holds_alternative<std::monostate>(cell))
        return 0;
    if (const auto* i = std::get_if<int64_t>(&cell))
        return *i;
    if (const auto* d = std::get_if<double>(&cell))
        return static_cast<int64_t>(*d);
    throw SqliteException(QStringLiteral("Not an integer or numeric field"));
}

double SqliteTable::fieldAsDouble(uint32_t column) const {
    const Cell& cell = currentCell(column);
    if (std::holds_alternative<std::monostate>(cell))
        return 0;
    if (const auto* i = std::get_if<int64_t>(&cell))
        return static_cast<double>(*i);
    if (const auto* d = std::get_if<double>(&cell))
        return *d;
    throw SqliteException(QStringLiteral("Not an integer or numeric field"));
}

bool SqliteTable::fieldIsNull(uint32_t column) const {
    return std::holds_alternative<std::monostate>(currentCell(column));
}

const QByteArray* SqliteTable::fieldAsBlob(uint32_t column) const {
    const Cell& cell = currentCell(column);
    if (std::holds_alternative<std::monostate>(cell))
        return nullptr;
    const auto* blob = std::get_if<QByteArray>(&cell);
    if (!blob)
        throw SqliteException(QStringLiteral("Not a Blob field"));
    return blob;
}

QString SqliteTable::fieldAsBlobText(uint32_t column) const {
    const QByteArray* blob = fieldAsBlob(column);
    return blob ? QString::fromUtf8(*blob) : QString();
}

QString SqliteTable::field(uint32_t column) const {
    const Cell& cell = currentCell(column);
    if (std::holds_alternative<std::monostate>(cell) &&
        (m_columnKinds[column] == KindInteger || m_columnKinds[column] == KindFloat))
        return QStringLiteral("0");
    return fieldAsString(column);
}

QString SqliteTable::fieldByName(const QString& fieldName) const {
    return field(static_cast<uint32_t>(fieldIndex(fieldName)));
}

int64_t SqliteTable::countResult() const {
    if (atEnd())
        return 0;
    return field(0).toLongLong();
}

// ---------------------------------------------------------------------------------------------
// SqliteCursor

SqliteCursor::SqliteCursor(SqliteDatabase& db, const QString& sql) : m_db(db), m_sql(sql) {
    m_statement = db.prepareStatement(sql);
    db.notifyQuery(sql);
    db.bindParams(m_statement.get());
    m_columnCount = static_cast<uint32_t>(sqlite3_column_count(m_statement.get()));
    for (uint32_t c = 0; c < m_columnCount; ++c)
        m_columns.append(
            fromUtf16(sqlite3_column_name16(m_statement.get(), static_cast<int>(c))).toUpper());
    next();
}

bool SqliteCursor::next() {
    m_atEnd = true;
    const int rc = sqlite3_step(m_statement.get());
    if (rc == SQLITE_ROW) {
        m_atEnd = false;
        ++m_row;
    } else if (rc != SQLITE_DONE) {
        sqlite3_reset(m_statement.get());
        m_db.throwEngineError(QStringLiteral("Could not retrieve data"), m_sql);
    }
    return !m_atEnd;
}

int32_t SqliteCursor::fieldIndex(const QString& fieldName) const {
    if (m_columns.isEmpty())
        throw SqliteException(QStringLiteral("Field ") + fieldName +
                              QStringLiteral(" Not found. Empty dataset"));
    const QString wanted = fieldName.toUpper();
    for (qsizetype i = 0; i < m_columns.size(); ++i) {
        if (QString::compare(m_columns[i], wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int32_t>(i);
    }
    throw SqliteException(QStringLiteral("Field not found in dataset: ") + fieldName);
}

QString SqliteCursor::fieldByName(const QString& fieldName) const {
    return fieldAsString(static_cast<uint32_t>(fieldIndex(fieldName)));
}

QString SqliteCursor::columnName(uint32_t column) const {
    if (column >= static_cast<uint32_t>(m_columns.size()))
        throw SqliteException(QStringLiteral("Column index out of range: ") +
                              QString::number(column));
    return m_columns[static_cast<qsizetype>(column)];
}

int SqliteCursor::checkedColumn(uint32_t column) const {
    if (column >= m_columnCount)
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

double SqliteCursor::fieldAsDouble(uint32_t column) const {
    return sqlite3_column_double(m_statement.get(), checkedColumn(column));
}

bool SqliteCursor::fieldIsNull(uint32_t column) const {
    return sqlite3_column_text(m_statement.get(), checkedColumn(column)) == nullptr;
}

std::unique_ptr<QByteArray> SqliteCursor::fieldAsBlob(uint32_t column) const {
    const int ci = checkedColumn(column);
    const void* data = sqlite3_column_blob(m_statement.get(), ci);
    const int bytes = sqlite3_column_bytes(m_statement.get(), ci);
    if (!data || bytes <= 0)
        return nullptr;
    return std::make_unique<QByteArray>(static_cast<const char*>(data), bytes);
}

const void* SqliteCursor::fieldAsBlobPtr(uint32_t column, int32_t& byteCount) const {
    const int ci = checkedColumn(column);
    const void* data = sqlite3_column_blob(m_statement.get(), ci);
    byteCount = sqlite3_column_bytes(m_statement.get(), ci);
    return data;
}

QString SqliteCursor::fieldAsBlobText(uint32_t column) const {
    int32_t bytes = 0;
    const void* data = fieldAsBlobPtr(column, bytes);
    if (!data || bytes <= 0)
        return QString();
    return QString::fromUtf8(static_cast<const char*>(data), bytes);
}

} // namespace zvrd
