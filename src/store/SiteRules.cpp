#include "store/SiteRules.h"

#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"

#include <QHash>
#include <QUrl>

#include <sqlite3.h>

#include <cstring>
#include <optional>

namespace zvrd {
namespace {

QString columnList() {
    return siteRuleColumns().join(QLatin1Char(','));
}

// A row of site_rule: its id and the other 20 values as stored (NULL kept apart from '').
struct RuleRow {
    int64_t id = 0;
    SqlArgs values;
    QString text(int column) const {
        const auto* t = std::get_if<QString>(&values[static_cast<size_t>(column - 1)]);
        return t ? *t : QString();
    }
};

constexpr int kSiteNameColumn = 1;
constexpr int kSiteUrlColumn = 2;

QList<RuleRow> readRows(SqliteDatabase& db) {
    QList<RuleRow> rows;
    auto table = db.query(QStringLiteral("select %1 from site_rule order by id").arg(columnList()));
    for (; !table->atEnd(); table->next()) {
        RuleRow row;
        row.id = table->fieldAsInteger(0);
        for (uint32_t c = 1; c < table->columnCount(); ++c)
            row.values.push_back(table->value(c));
        rows.append(row);
    }
    return rows;
}

// What a row says, whatever its id: equal rows have equal fingerprints.
QString fingerprint(const RuleRow& row) {
    QByteArray bytes;
    for (const SqlValue& value : row.values) {
        if (const auto* i = std::get_if<int64_t>(&value)) {
            bytes += 'i' + QByteArray::number(*i);
        } else if (const auto* t = std::get_if<QString>(&value)) {
            const QByteArray utf8 = t->toUtf8();
            bytes += 't' + QByteArray::number(utf8.size()) + ':' + utf8;
        } else {
            bytes += 'n';
        }
        bytes += '\n';
    }
    return fingerprintOf(bytes);
}

// A site's address without scheme, letter case of the host or a final "/": http and https,
// "www.x.com" and "WWW.x.com/" are one site.
QString addressKey(const QString& siteUrl) {
    const QUrl url(siteUrl.trimmed());
    if (!url.isValid() || url.host().isEmpty())
        return siteUrl.trimmed().toLower();
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return url.host().toLower() +
           (url.port() > 0 ? QLatin1Char(':') + QString::number(url.port()) : QString()) + path;
}

void writeRow(SqliteDatabase& db, int64_t id, const RuleRow& row) {
    QStringList marks;
    for (int i = 1; i <= siteRuleColumns().size(); ++i)
        marks.append(QLatin1Char('?') + QString::number(i));
    SqlArgs args{id};
    args.insert(args.end(), row.values.begin(), row.values.end());
    // A table made by hand may have no key that a replace would go by.
    db.exec(QStringLiteral("delete from site_rule where id=?1"), {id});
    db.exec(QStringLiteral("insert into site_rule(%1) values(%2)")
                .arg(columnList(), marks.join(QLatin1Char(','))),
            args);
}

int64_t freeId(SqliteDatabase& db) {
    return db.integerValue(QStringLiteral("select coalesce(max(id),0)+1 from site_rule"));
}

// ---- reading a rule file --------------------------------------------------------------------

// Rows a file inserts without an id are numbered after this one, so they can be told from rows
// that name their id.
constexpr int64_t kUnnamedIdBase = int64_t(1) << 62;

struct ScriptGuard {
    bool skip = false;    // the statement is one to pass over (a CREATE of a known table, BEGIN)
    bool refused = false; // it does something a rule file may not
};

int authorize(void* data, int action, const char* first, const char*, const char* database,
              const char*) {
    auto* guard = static_cast<ScriptGuard*>(data);
    if (guard->skip)
        return SQLITE_OK; // a statement passed over never runs
    const bool main = database && std::strcmp(database, "main") == 0;
    const QString table = QString::fromUtf8(first ? first : "");
    switch (action) {
    case SQLITE_INSERT:
        // A CREATE is first asked as a row of the schema table; the CREATE itself is asked next.
        if (main && table == QLatin1String("sqlite_master"))
            return SQLITE_OK;
        [[fallthrough]];
    case SQLITE_UPDATE: // the DO UPDATE of an upsert; a plain UPDATE is refused before
        if (main && isRuleTable(table))
            return SQLITE_OK;
        break;
    case SQLITE_READ:
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
        return SQLITE_OK;
    case SQLITE_CREATE_TABLE:
        if (main && isLibraryTable(table)) {
            guard->skip = true;
            return SQLITE_OK;
        }
        break;
    case SQLITE_TRANSACTION:
        guard->skip = true; // the whole file is one transaction anyway
        return SQLITE_OK;
    default:
        break;
    }
    guard->refused = true;
    return SQLITE_DENY;
}

QString firstWord(const QString& statement) {
    QString text = statement.trimmed();
    // Comments before the statement belong to it.
    for (;;) {
        if (text.startsWith(QLatin1String("--"))) {
            const qsizetype end = text.indexOf(QLatin1Char('\n'));
            text = end < 0 ? QString() : text.mid(end + 1).trimmed();
        } else if (text.startsWith(QLatin1String("/*"))) {
            const qsizetype end = text.indexOf(QLatin1String("*/"));
            text = end < 0 ? QString() : text.mid(end + 2).trimmed();
        } else {
            break;
        }
    }
    qsizetype end = 0;
    while (end < text.size() && text[end].isLetter())
        ++end;
    return text.left(end).toUpper();
}

QString shown(const QString& statement) {
    QString text = statement.simplified();
    return text.size() > 200 ? text.left(200) + QStringLiteral("……") : text;
}

[[noreturn]] void refuse(const QString& statement) {
    throw SqliteException(QStringLiteral("规则文件只能添加或替换站点规则，不能执行这条语句：%1")
                              .arg(shown(statement)));
}

[[noreturn]] void fail(sqlite3* db, const QString& statement) {
    throw SqliteException(QStringLiteral("规则文件中的这条语句不能执行：%1（%2）")
                              .arg(shown(statement), QString::fromUtf8(sqlite3_errmsg(db))));
}

// The script cut into whole statements, as the engine reads them (a ";" inside a text or a
// comment ends nothing).
QStringList statements(const QString& script) {
    QStringList list;
    qsizetype start = 0;
    qsizetype semicolon = script.indexOf(QLatin1Char(';'));
    while (semicolon >= 0) {
        const QString candidate = script.mid(start, semicolon + 1 - start);
        if (sqlite3_complete16(candidate.utf16())) {
            list.append(candidate);
            start = semicolon + 1;
        }
        semicolon = script.indexOf(QLatin1Char(';'), semicolon + 1);
    }
    if (!script.mid(start).trimmed().isEmpty())
        list.append(script.mid(start));
    return list;
}

// The rows the script inserts, read in a scratch database: the script sees no library table and
// can reach nothing outside it.
QList<RuleRow> runRuleScript(const QString& script) {
    SqliteDatabase scratch(QStringLiteral(":memory:"));
    createRuleTables(scratch);
    scratch.exec(QStringLiteral("insert into site_rule(id) values(?1)"), {kUnnamedIdBase});
    ScriptGuard guard;
    sqlite3_set_authorizer(scratch.handle(), authorize, &guard);
    for (const QString& text : statements(script)) {
        guard = ScriptGuard();
        sqlite3_stmt* raw = nullptr;
        const int rc = sqlite3_prepare16_v2(scratch.handle(), text.utf16(),
                                            static_cast<int>(text.size() * 2), &raw, nullptr);
        SqliteStatement stmt(raw);
        if (guard.refused)
            refuse(text);
        if (guard.skip)
            continue; // also when it failed: "table site_rule already exists"
        if (rc != SQLITE_OK)
            fail(scratch.handle(), text);
        if (!stmt)
            continue; // only white space or comments
        const QString word = firstWord(text);
        if (word != QLatin1String("INSERT") && word != QLatin1String("REPLACE"))
            refuse(text);
        while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        }
        if (sqlite3_reset(stmt.get()) != SQLITE_OK)
            fail(scratch.handle(), text);
    }
    sqlite3_set_authorizer(scratch.handle(), nullptr, nullptr);
    scratch.exec(QStringLiteral("delete from site_rule where id=?1"), {kUnnamedIdBase});
    return readRows(scratch);
}

struct Stamp {
    int64_t siteId = 0;
    std::optional<QString> fingerprint; // none: the user's own rule for that site
};

QHash<int64_t, Stamp> readStamps(SqliteDatabase& db) {
    QHash<int64_t, Stamp> stamps;
    auto table =
        db.query(QStringLiteral("select shipped_id,site_id,fingerprint from shipped_rule_row"));
    for (; !table->atEnd(); table->next()) {
        Stamp stamp;
        stamp.siteId = table->fieldAsInteger(1);
        if (!table->fieldIsNull(2))
            stamp.fingerprint = table->fieldAsString(2);
        stamps.insert(table->fieldAsInteger(0), stamp);
    }
    return stamps;
}

void writeStamp(SqliteDatabase& db, int64_t shippedId, const Stamp& stamp) {
    db.exec(
        QStringLiteral("insert or replace into shipped_rule_row(shipped_id,site_id,"
                       "fingerprint) values(?1,?2,?3)"),
        {shippedId, stamp.siteId, stamp.fingerprint ? SqlValue(*stamp.fingerprint) : SqlValue()});
}

} // namespace

QList<QStringList> siteRuleRows() {
    SqliteDatabase db(ruleDatabasePath());
    auto table = db.query(QStringLiteral("select * from site_rule"));
    QList<QStringList> rows;
    if (table->atEnd())
        return rows;
    std::vector<uint32_t> index;
    for (const QString& column : siteRuleColumns())
        index.push_back(static_cast<uint32_t>(table->fieldIndex(column)));
    rows.reserve(table->count());
    for (; !table->atEnd(); table->next()) {
        QStringList row;
        row.reserve(static_cast<qsizetype>(index.size()));
        for (const uint32_t column : index)
            row.append(table->fieldAsString(column));
        rows.append(row);
    }
    return rows;
}

QList<SiteEntry> siteEntries() {
    SqliteDatabase db(ruleDatabasePath());
    QList<SiteEntry> sites;
    for (auto table = db.query(QStringLiteral("select id,site_name,site_url from site_rule"));
         !table->atEnd(); table->next())
        sites.append({table->fieldAsString(0), table->fieldAsString(1), table->fieldAsString(2)});
    return sites;
}

QString siteRuleId(const QString& siteName) {
    SqliteDatabase db(ruleDatabasePath());
    return db.stringValue(QStringLiteral("select id from site_rule where site_name=?1"),
                          {siteName});
}

int installedShippedVersion() {
    SqliteDatabase db(ruleDatabasePath());
    return static_cast<int>(
        db.integerValue(QStringLiteral("select coalesce(max(version),0) from shipped_rules")));
}

RuleFileResult installShippedRuleScript(const QString& script, int version) {
    const QList<RuleRow> shipped = runRuleScript(script);
    RuleFileResult result;
    result.rows = static_cast<int>(shipped.size());
    SqliteWriter db(ruleDatabasePath());
    db.beginTransaction();
    QHash<int64_t, Stamp> stamps = readStamps(db);
    QHash<int64_t, RuleRow> library;
    for (const RuleRow& row : readRows(db))
        library.insert(row.id, row);
    auto ownerOf = [&](const QString& siteUrl) -> const RuleRow* {
        const QString key = addressKey(siteUrl);
        const RuleRow* owner = nullptr;
        for (const RuleRow& row : library) {
            if (!key.isEmpty() && addressKey(row.text(kSiteUrlColumn)) == key &&
                (!owner || row.id < owner->id))
                owner = &row;
        }
        return owner;
    };
    for (const RuleRow& row : shipped) {
        const QString print = fingerprint(row);
        if (stamps.contains(row.id)) {
            Stamp stamp = stamps.value(row.id);
            if (!stamp.fingerprint || !library.contains(stamp.siteId))
                continue; // the user's own rule, or one the user removed
            const QString now = fingerprint(library.value(stamp.siteId));
            if (now == print || now == *stamp.fingerprint) {
                if (now != print)
                    writeRow(db, stamp.siteId, row);
                stamp.fingerprint = print;
                writeStamp(db, row.id, stamp);
            } else if (print != *stamp.fingerprint) {
                // Named once: the stamp now holds what was offered, so the next set names the
                // site again only when it changes the rule once more.
                result.keptSites.append(library.value(stamp.siteId).text(kSiteNameColumn));
                stamp.fingerprint = print;
                writeStamp(db, row.id, stamp);
            }
            continue;
        }
        if (const RuleRow* owner = ownerOf(row.text(kSiteUrlColumn))) {
            // The user has a rule for this site: it stays theirs, unless it is exactly this one.
            Stamp stamp{owner->id, std::nullopt};
            if (fingerprint(*owner) == print)
                stamp.fingerprint = print;
            writeStamp(db, row.id, stamp);
            continue;
        }
        const int64_t id = library.contains(row.id) ? freeId(db) : row.id;
        writeRow(db, id, row);
        RuleRow placed = row;
        placed.id = id;
        library.insert(id, placed);
        writeStamp(db, row.id, {id, print});
    }
    db.exec(QStringLiteral("delete from shipped_rules"));
    db.exec(QStringLiteral("insert into shipped_rules(version) values(?1)"), {version});
    db.commit();
    return result;
}

RuleFileResult importUserRuleScript(const QString& script) {
    const QList<RuleRow> imported = runRuleScript(script);
    RuleFileResult result;
    result.rows = static_cast<int>(imported.size());
    SqliteWriter db(ruleDatabasePath());
    db.beginTransaction();
    QHash<int64_t, int64_t> shippedAt; // site id -> shipped id, for rows still the shipped rule
    const QHash<int64_t, Stamp> stamps = readStamps(db);
    for (auto it = stamps.begin(); it != stamps.end(); ++it) {
        if (it->fingerprint)
            shippedAt.insert(it->siteId, it.key());
    }
    for (const RuleRow& row : imported) {
        if (row.id > kUnnamedIdBase) {
            writeRow(db, freeId(db), row);
            continue;
        }
        if (shippedAt.contains(row.id) &&
            db.integerValue(QStringLiteral("select count(*) from site_rule where id=?1"),
                            {row.id}) > 0) {
            // The shipped rule makes room; the selection follows it (see movedIds).
            const int64_t to = freeId(db);
            db.exec(QStringLiteral("update site_rule set id=?1 where id=?2"), {to, row.id});
            const int64_t shippedId = shippedAt.take(row.id);
            Stamp stamp = stamps.value(shippedId);
            stamp.siteId = to;
            writeStamp(db, shippedId, stamp);
            result.movedIds.append({QString::number(row.id), QString::number(to)});
        }
        writeRow(db, row.id, row);
    }
    db.commit();
    return result;
}

} // namespace zvrd
