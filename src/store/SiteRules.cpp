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

// The tables a site's rule lives in: site_rule (keyed by id) and every per-site table of the
// library, site_* keyed by site_id, with their columns as the library has them now.
struct RuleTable {
    QString name;
    QString key;
    QStringList columns; // the key first
};
using RuleTables = QList<RuleTable>;

RuleTables ruleTables(SqliteDatabase& db) {
    RuleTables tables;
    tables.append({QStringLiteral("site_rule"), QStringLiteral("id"), siteRuleColumns()});
    for (const QString& name : db.stringValues(QStringLiteral(
             "select m.name from sqlite_master m where m.type='table' and m.name like 'site\\_%' "
             "escape '\\' and m.name<>'site_rule' and exists (select 1 from "
             "pragma_table_info(m.name) where name='site_id') order by m.name"))) {
        QStringList columns{QStringLiteral("site_id")};
        for (const QString& column : db.stringValues(
                 QStringLiteral("select name from pragma_table_info(?1) where name<>'site_id'"),
                 {name}))
            columns.append(column);
        tables.append({name, QStringLiteral("site_id"), columns});
    }
    return tables;
}

bool isRuleTable(const RuleTables& tables, const QString& name) {
    for (const RuleTable& table : tables) {
        if (table.name.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString quoted(const QStringList& columns) {
    QStringList names;
    for (const QString& column : columns)
        names.append(QLatin1Char('"') + column + QLatin1Char('"'));
    return names.join(QLatin1Char(','));
}

// One site's rule: its id and, for each rule table that has a row for it, that row's other
// values as stored (NULL kept apart from '').
struct RuleRow {
    int64_t id = 0;
    QHash<QString, SqlArgs> values;
    QString text(int column) const {
        const SqlArgs rule = values.value(QStringLiteral("site_rule"));
        const auto* t = column - 1 < static_cast<int>(rule.size())
                            ? std::get_if<QString>(&rule[static_cast<size_t>(column - 1)])
                            : nullptr;
        return t ? *t : QString();
    }
};

constexpr int kSiteNameColumn = 1;
constexpr int kSiteUrlColumn = 2;

QList<RuleRow> readRows(SqliteDatabase& db, const RuleTables& tables) {
    QList<RuleRow> rows;
    QHash<int64_t, qsizetype> at;
    for (const RuleTable& table : tables) {
        auto result = db.query(QStringLiteral("select %1 from \"%2\" order by \"%3\"")
                                   .arg(quoted(table.columns), table.name, table.key));
        for (; !result->atEnd(); result->next()) {
            const int64_t id = result->fieldAsInteger(0);
            SqlArgs values;
            for (uint32_t c = 1; c < result->columnCount(); ++c)
                values.push_back(result->value(c));
            if (table.name == QLatin1String("site_rule")) {
                at.insert(id, rows.size());
                rows.append(RuleRow{id, {}});
            } else if (!at.contains(id)) {
                continue; // a row of no site
            }
            rows[at.value(id)].values.insert(table.name, values);
        }
    }
    return rows;
}

// What a site's rule says, whatever its id: equal rules have equal fingerprints.
QString fingerprint(const RuleRow& row, const RuleTables& tables) {
    QByteArray bytes;
    for (const RuleTable& table : tables) {
        if (!row.values.contains(table.name))
            continue;
        bytes += table.name.toUtf8() + '\n';
        for (const SqlValue& value : row.values.value(table.name)) {
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

void writeRow(SqliteDatabase& db, const RuleTables& tables, int64_t id, const RuleRow& row) {
    for (const RuleTable& table : tables) {
        // A table made by hand may have no key that a replace would go by.
        db.exec(QStringLiteral("delete from \"%1\" where \"%2\"=?1").arg(table.name, table.key),
                {id});
        if (!row.values.contains(table.name))
            continue;
        QStringList marks;
        for (qsizetype i = 1; i <= table.columns.size(); ++i)
            marks.append(QLatin1Char('?') + QString::number(i));
        SqlArgs args{id};
        const SqlArgs& values = row.values[table.name];
        args.insert(args.end(), values.begin(), values.end());
        args.resize(static_cast<size_t>(table.columns.size()));
        db.exec(QStringLiteral("insert into \"%1\"(%2) values(%3)")
                    .arg(table.name, quoted(table.columns), marks.join(QLatin1Char(','))),
                args);
    }
}

void moveRow(SqliteDatabase& db, const RuleTables& tables, int64_t from, int64_t to) {
    for (const RuleTable& table : tables)
        db.exec(QStringLiteral("update \"%1\" set \"%2\"=?1 where \"%2\"=?2")
                    .arg(table.name, table.key),
                {to, from});
}

int64_t freeId(SqliteDatabase& db) {
    return db.integerValue(QStringLiteral("select coalesce(max(id),0)+1 from site_rule"));
}

// ---- reading a rule file --------------------------------------------------------------------

// Rows a file inserts without an id are numbered after this one, so they can be told from rows
// that name their id.
constexpr int64_t kUnnamedIdBase = int64_t(1) << 62;

struct ScriptGuard {
    const RuleTables* tables = nullptr;
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
        if (main && isRuleTable(*guard->tables, table))
            return SQLITE_OK;
        break;
    case SQLITE_READ:
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
        return SQLITE_OK;
    case SQLITE_CREATE_TABLE:
        // Files written for the original design make the tables they fill.
        if (main && (isRuleTable(*guard->tables, table) ||
                     table.compare(QLatin1String("latest_read"), Qt::CaseInsensitive) == 0)) {
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

// The rows the script inserts, read in a scratch database made like the library's rule tables:
// the script sees no other table and can reach nothing outside it.
QList<RuleRow> runRuleScript(const QString& script, SqliteDatabase& library,
                             const RuleTables& tables) {
    SqliteDatabase scratch(QStringLiteral(":memory:"));
    for (const RuleTable& table : tables)
        scratch.exec(library.stringValue(
            QStringLiteral("select sql from sqlite_master where type='table' and name=?1"),
            {table.name}));
    scratch.exec(QStringLiteral("insert into site_rule(id) values(?1)"), {kUnnamedIdBase});
    ScriptGuard guard;
    sqlite3_set_authorizer(scratch.handle(), authorize, &guard);
    static const QStringList allowed = {QString(),
                                        QStringLiteral("INSERT"),
                                        QStringLiteral("REPLACE"),
                                        QStringLiteral("CREATE"),
                                        QStringLiteral("BEGIN"),
                                        QStringLiteral("COMMIT"),
                                        QStringLiteral("END")};
    for (const QString& text : statements(script)) {
        const QString word = firstWord(text);
        if (!allowed.contains(word))
            refuse(text);
        guard = ScriptGuard{&tables};
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
        if (word != QLatin1String("INSERT") && word != QLatin1String("REPLACE"))
            refuse(text);
        while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        }
        if (sqlite3_reset(stmt.get()) != SQLITE_OK)
            fail(scratch.handle(), text);
    }
    sqlite3_set_authorizer(scratch.handle(), nullptr, nullptr);
    scratch.exec(QStringLiteral("delete from site_rule where id=?1"), {kUnnamedIdBase});
    for (const RuleTable& table : tables.mid(1)) {
        if (scratch.integerValue(QStringLiteral("select count(*) from \"%1\" where site_id not in "
                                                "(select id from site_rule)")
                                     .arg(table.name)) > 0)
            throw SqliteException(
                QStringLiteral("规则文件中表 %1 有不属于任何站点的行。").arg(table.name));
    }
    return readRows(scratch, tables);
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

QList<SitePagingRow> sitePagingRows() {
    SqliteDatabase db(ruleDatabasePath());
    QList<SitePagingRow> rows;
    if (!db.tableExists(QStringLiteral("site_page_rule")))
        return rows;
    for (auto table = db.query(QStringLiteral("select site_id,chapter_next_page,"
                                              "directory_next_page,distinct_links from "
                                              "site_page_rule"));
         !table->atEnd(); table->next())
        rows.append({table->fieldAsString(0), table->fieldAsString(1), table->fieldAsString(2),
                     table->fieldAsInteger(3) != 0});
    return rows;
}

void setSitePaging(const SitePagingRow& row) {
    SqliteWriter db(ruleDatabasePath());
    if (row.chapterNextPage.isEmpty() && row.directoryNextPage.isEmpty() && !row.distinctLinks) {
        db.exec(QStringLiteral("delete from site_page_rule where site_id=?1"), {row.siteId});
        return;
    }
    db.exec(QStringLiteral("insert or replace into site_page_rule(site_id,chapter_next_page,"
                           "directory_next_page,distinct_links) values(?1,?2,?3,?4)"),
            {row.siteId, row.chapterNextPage, row.directoryNextPage,
             int64_t{row.distinctLinks ? 1 : 0}});
}

QList<SiteHeaderRow> siteHeaderRows() {
    SqliteDatabase db(ruleDatabasePath());
    QList<SiteHeaderRow> rows;
    if (!db.tableExists(QStringLiteral("site_request_header")))
        return rows;
    for (auto table = db.query(QStringLiteral("select site_id,user_agent,referer,"
                                              "referer_from_link,extra_headers from "
                                              "site_request_header"));
         !table->atEnd(); table->next())
        rows.append({table->fieldAsString(0), table->fieldAsString(1), table->fieldAsString(2),
                     table->fieldAsInteger(3) != 0, table->fieldAsString(4)});
    return rows;
}

void setSiteHeaderRow(const SiteHeaderRow& row) {
    SqliteWriter db(ruleDatabasePath());
    if (row.userAgent.isEmpty() && row.referer.isEmpty() && !row.refererFromLink &&
        row.extraHeaders.trimmed().isEmpty()) {
        db.exec(QStringLiteral("delete from site_request_header where site_id=?1"), {row.siteId});
        return;
    }
    db.exec(QStringLiteral("insert or replace into site_request_header(site_id,user_agent,"
                           "referer,referer_from_link,extra_headers) values(?1,?2,?3,?4,?5)"),
            {row.siteId, row.userAgent, row.referer, int64_t{row.refererFromLink ? 1 : 0},
             row.extraHeaders});
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
    SqliteWriter db(ruleDatabasePath());
    const RuleTables tables = ruleTables(db);
    const QList<RuleRow> shipped = runRuleScript(script, db, tables);
    RuleFileResult result;
    result.rows = static_cast<int>(shipped.size());
    db.beginTransaction();
    QHash<int64_t, Stamp> stamps = readStamps(db);
    QHash<int64_t, RuleRow> library;
    for (const RuleRow& row : readRows(db, tables))
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
    const RuleTables siteRuleOnly{tables.first()};
    for (const RuleRow& row : shipped) {
        const QString print = fingerprint(row, tables);
        if (stamps.contains(row.id)) {
            Stamp stamp = stamps.value(row.id);
            if (!stamp.fingerprint || !library.contains(stamp.siteId))
                continue; // the user's own rule, or one the user removed
            const QString now = fingerprint(library.value(stamp.siteId), tables);
            if (now == print || now == *stamp.fingerprint) {
                if (now != print)
                    writeRow(db, tables, stamp.siteId, row);
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
            if (fingerprint(*owner, tables) == print) {
                stamp.fingerprint = print;
            } else if (owner->values.size() == 1 && owner->id == row.id &&
                       fingerprint(*owner, siteRuleOnly) == fingerprint(row, siteRuleOnly)) {
                // A release before per-site tables shipped this very row; the set now adds
                // rows of those tables to it.
                writeRow(db, tables, owner->id, row);
                stamp.fingerprint = print;
            }
            writeStamp(db, row.id, stamp);
            continue;
        }
        const int64_t id = library.contains(row.id) ? freeId(db) : row.id;
        writeRow(db, tables, id, row);
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
    SqliteWriter db(ruleDatabasePath());
    const RuleTables tables = ruleTables(db);
    const QList<RuleRow> imported = runRuleScript(script, db, tables);
    RuleFileResult result;
    result.rows = static_cast<int>(imported.size());
    db.beginTransaction();
    QHash<int64_t, int64_t> shippedAt; // site id -> shipped id, for rows still the shipped rule
    const QHash<int64_t, Stamp> stamps = readStamps(db);
    for (auto it = stamps.begin(); it != stamps.end(); ++it) {
        if (it->fingerprint)
            shippedAt.insert(it->siteId, it.key());
    }
    for (const RuleRow& row : imported) {
        if (row.id > kUnnamedIdBase) {
            writeRow(db, tables, freeId(db), row);
            continue;
        }
        if (shippedAt.contains(row.id) &&
            db.integerValue(QStringLiteral("select count(*) from site_rule where id=?1"),
                            {row.id}) > 0) {
            // The shipped rule makes room; the selection follows it (see movedIds).
            const int64_t to = freeId(db);
            moveRow(db, tables, row.id, to);
            const int64_t shippedId = shippedAt.take(row.id);
            Stamp stamp = stamps.value(shippedId);
            stamp.siteId = to;
            writeStamp(db, shippedId, stamp);
            result.movedIds.append({QString::number(row.id), QString::number(to)});
        }
        writeRow(db, tables, row.id, row);
    }
    db.commit();
    return result;
}

} // namespace zvrd
