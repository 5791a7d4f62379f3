#include "store/Schema.h"

#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace zvrd {
namespace {

const char* const kSiteRuleColumns[] = {"id",
                                        "site_name",
                                        "site_url",
                                        "charset",
                                        "search_page_url_format",
                                        "search_page_result_regional",
                                        "search_page_novel_name",
                                        "search_page_novel_author",
                                        "search_page_latest_chapter",
                                        "search_page_info_page_url",
                                        "info_page_novel_sort",
                                        "info_page_novel_name",
                                        "info_page_novel_author",
                                        "info_page_novel_state",
                                        "info_page_novel_intro",
                                        "info_page_latest_chapter",
                                        "info_page_directory_page_url",
                                        "directory_page_regional",
                                        "directory_page_chapter_name_and_url",
                                        "chapter_page_chapter_content",
                                        "replace_rule"};

QString siteRuleCreate() {
    QString sql = QStringLiteral("CREATE TABLE site_rule (id INTEGER PRIMARY KEY");
    for (const QString& column : siteRuleColumns().mid(1))
        sql += QStringLiteral(", ") + column + QStringLiteral(" TEXT");
    return sql + QLatin1Char(')');
}

const char* const kLatestReadCreate =
    "CREATE TABLE latest_read (id INTEGER PRIMARY KEY, target_site TEXT, novel_name TEXT, "
    "novel_author TEXT, latest_chapter TEXT, info_page_url TEXT)";

void createIfMissing(SqliteDatabase& db, const char* table, const QString& create) {
    if (!db.tableExists(QLatin1String(table)))
        db.exec(create);
}

// One row per thing. Files written before these keys existed may hold duplicates (two openings
// of one novel at once); they are removed in the same transaction that makes the key: the
// lowest id is kept, and of a chapter's rows the downloaded one.
struct UniqueKey {
    const char* index;
    const char* oldIndex; // the plain index it replaces
    const char* table;
    const char* columns;
    const char* keepFirst; // order in which the row to keep comes first
};

void makeUnique(SqliteDatabase& db, const UniqueKey& key) {
    if (db.integerValue(QStringLiteral("select count(*) from sqlite_master where type = 'index' "
                                       "and name = ?1"),
                        {QString::fromLatin1(key.index)}) > 0)
        return;
    const QString table = QLatin1String(key.table);
    const QString columns = QLatin1String(key.columns);
    // Each group's row that comes first in keepFirst order stays.
    db.exec(QStringLiteral("delete from %1 where id not in (select id from (select id, "
                           "row_number() over (partition by %2 order by %3) as rank from %1) "
                           "where rank = 1)")
                .arg(table, columns, QLatin1String(key.keepFirst)));
    db.exec(QStringLiteral("drop index if exists %1").arg(QLatin1String(key.oldIndex)));
    db.exec(QStringLiteral("create unique index %1 on %2(%3)")
                .arg(QLatin1String(key.index), table, columns));
}

// ---- zvrd.db --------------------------------------------------------------------------------

// Any layout from before versions (the original design's, or one of this program before it
// stamped its files): the spec's tables with every column, one row per recent read, the stamp
// of the shipped rules.
void ruleLayout1(SqliteDatabase& db) {
    createIfMissing(db, "site_rule", siteRuleCreate());
    // A rule table made by hand may lack columns; every rule is read by column name.
    const QStringList present = db.stringValues(QStringLiteral("select name from "
                                                               "pragma_table_info('site_rule')"));
    for (const QString& column : siteRuleColumns()) {
        if (!present.contains(column, Qt::CaseInsensitive))
            db.exec(QStringLiteral("alter table site_rule add column %1 TEXT").arg(column));
    }
    createIfMissing(db, "latest_read", QString::fromLatin1(kLatestReadCreate));
    makeUnique(db, {"latest_read_novel", "latest_read_site_name", "latest_read",
                    "target_site, novel_name", "id"});
    createIfMissing(db, "shipped_rules",
                    QStringLiteral("CREATE TABLE shipped_rules (version INTEGER)"));
}

// Where each shipped rule went and what it was when it went there, so that a newer shipped set
// replaces only rows the user left as they were. The version stamp is cleared: the next start
// reads the shipped set once more and claims the rows still exactly as shipped.
void ruleLayout2(SqliteDatabase& db) {
    db.exec(QStringLiteral("CREATE TABLE shipped_rule_row (shipped_id INTEGER PRIMARY KEY, "
                           "site_id INTEGER, fingerprint TEXT)"));
    db.exec(QStringLiteral("delete from shipped_rules"));
}

// latest_read ids only grow (AUTOINCREMENT): a removed novel's id is never handed to the next
// one, which would otherwise show rows a download stored under it meanwhile. The sequence starts
// above every id in use anywhere, also in novel_info.db (rows left by an earlier removal).
void ruleLayout3(SqliteDatabase& db, int64_t highestNovelId) {
    const QString sql = db.stringValue(
        QStringLiteral("select sql from sqlite_master where type='table' and name='latest_read'"));
    if (!sql.contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive)) {
        // Further columns a table may have are kept with their declared types.
        QString columns;
        QStringList names;
        for (auto table = db.query(QStringLiteral("select name,type from "
                                                  "pragma_table_info('latest_read') where "
                                                  "name<>'id' order by cid"));
             !table->atEnd(); table->next()) {
            names.append(QLatin1Char('"') + table->fieldAsString(0) + QLatin1Char('"'));
            columns +=
                QStringLiteral(", ") + names.back() + QLatin1Char(' ') + table->fieldAsString(1);
        }
        const QString list = QStringLiteral("id,") + names.join(QLatin1Char(','));
        db.exec(QStringLiteral("CREATE TABLE latest_read_new (id INTEGER PRIMARY KEY "
                               "AUTOINCREMENT%1)")
                    .arg(columns));
        db.exec(
            QStringLiteral("insert into latest_read_new(%1) select %1 from latest_read").arg(list));
        db.exec(QStringLiteral("drop table latest_read"));
        db.exec(QStringLiteral("alter table latest_read_new rename to latest_read"));
        db.exec(QStringLiteral(
            "create unique index latest_read_novel on latest_read(target_site, novel_name)"));
    }
    const int64_t highest =
        std::max(highestNovelId,
                 db.integerValue(QStringLiteral("select coalesce(max(id),0) from latest_read")));
    db.exec(QStringLiteral("delete from sqlite_sequence where name='latest_read'"));
    db.exec(QStringLiteral("insert into sqlite_sequence(name,seq) values('latest_read',?1)"),
            {highest});
}

// The reader's own limits for a site's server (host:port as the limiter names it): the user's
// settings, apart from the rules, so that a newer rule never takes them and an edited limit
// never keeps a rule from being updated.
void ruleLayout4(SqliteDatabase& db) {
    db.exec(QStringLiteral("CREATE TABLE speed_limit (site TEXT PRIMARY KEY, in_flight INTEGER, "
                           "spacing_ms INTEGER, adapt INTEGER)"));
}

// Sites that split chapters and lists over pages, and lists that repeat links: optional
// patterns of the next page's address and whether a repeated address keeps only its last
// place. A rule without a row here reads as the design's rules do.
void ruleLayout5(SqliteDatabase& db) {
    db.exec(QStringLiteral("CREATE TABLE site_page_rule (site_id INTEGER PRIMARY KEY, "
                           "chapter_next_page TEXT, directory_next_page TEXT, "
                           "distinct_links INTEGER)"));
}

// What a site is sent with each request (a rule's: User-Agent, Referer, further header lines),
// and the cookie the reader pasted for a site's host: the user's, apart from the rules, so that
// it never travels with a rule file.
void ruleLayout6(SqliteDatabase& db) {
    db.exec(QStringLiteral("CREATE TABLE site_request_header (site_id INTEGER PRIMARY KEY, "
                           "user_agent TEXT, referer TEXT, referer_from_link INTEGER, "
                           "extra_headers TEXT)"));
    db.exec(QStringLiteral("CREATE TABLE request_cookie (site TEXT PRIMARY KEY, cookie TEXT)"));
}

// The health check: a rule's own check entry (the word it searches, or the information page it
// starts from where the rule has no search), which travels with the rule; and the last result of
// each step of each site's check, the reader's own (with the site address it was found at, so a
// rule moved to another id or replaced by another site's never inherits it).
void ruleLayout7(SqliteDatabase& db) {
    db.exec(QStringLiteral("CREATE TABLE site_check (site_id INTEGER PRIMARY KEY, keyword TEXT, "
                           "info_page_url TEXT)"));
    db.exec(QStringLiteral("CREATE TABLE check_result (site_id INTEGER, step INTEGER, "
                           "site_url TEXT, checked_at INTEGER, outcome INTEGER, reason TEXT, "
                           "field TEXT, elapsed_ms INTEGER, last_ok_at INTEGER, "
                           "PRIMARY KEY (site_id, step))"));
}

// 换源: a novel the reader left for the same novel on another site (where it went, the chapter
// last read and where that place was carried, so that switching back restores it), and what
// the library knows of a novel's sources (update checks failed in a row, a site seen listing
// more of it).
void ruleLayout8(SqliteDatabase& db) {
    db.exec(QStringLiteral("CREATE TABLE novel_switch (novel_id INTEGER PRIMARY KEY, "
                           "moved_to INTEGER, from_index INTEGER, to_index INTEGER, "
                           "switched_at INTEGER)"));
    db.exec(QStringLiteral("CREATE TABLE novel_source_state (novel_id INTEGER PRIMARY KEY, "
                           "failed_checks INTEGER, other_site TEXT, other_chapters INTEGER)"));
}

// Why a novel's last update check failed: a short reason (目录过短, 无法读取, ...) and the
// status text that said it; empty once a check goes through.
void ruleLayout9(SqliteDatabase& db) {
    db.exec(QStringLiteral("ALTER TABLE novel_source_state ADD COLUMN failure TEXT"));
    db.exec(QStringLiteral("ALTER TABLE novel_source_state ADD COLUMN failure_text TEXT"));
}

// The highest novel id novel_info.db holds rows of; 0 for none.
int64_t highestStoredNovelId() {
    SqliteDatabase db(novelDatabasePath());
    int64_t highest = 0;
    for (const char* table : {"novel_directory", "novel_chapter", "novel_source",
                              "reading_progress", "chapter_list_seen", "reading_place"}) {
        if (db.tableExists(QLatin1String(table)))
            highest = std::max(
                highest, db.integerValue(QStringLiteral("select coalesce(max(novel_id),0) from %1")
                                             .arg(QLatin1String(table))));
    }
    return highest;
}

// ---- novel_info.db --------------------------------------------------------------------------

void novelLayout1(SqliteDatabase& db) {
    createIfMissing(db, "novel_directory",
                    QStringLiteral("CREATE TABLE novel_directory (id INTEGER PRIMARY KEY, "
                                   "novel_id INTEGER, chapter_index INTEGER, chapter_name TEXT, "
                                   "chapter_url TEXT)"));
    createIfMissing(db, "novel_chapter",
                    QStringLiteral("CREATE TABLE novel_chapter (id INTEGER PRIMARY KEY, "
                                   "novel_id INTEGER, chapter_id INTEGER, chapter_type INTEGER, "
                                   "is_download INTEGER, chapter_content TEXT)"));
    // Where each novel's chapter list is read again (the spec's tables keep only the
    // information page).
    createIfMissing(db, "novel_source",
                    QStringLiteral("CREATE TABLE novel_source (novel_id INTEGER PRIMARY KEY, "
                                   "directory_page_url TEXT)"));
    createIfMissing(db, "reading_progress",
                    QStringLiteral("CREATE TABLE reading_progress (novel_id INTEGER PRIMARY KEY, "
                                   "chapter_index INTEGER, read_time INTEGER, "
                                   "chapter_count INTEGER)"));
    // What the last update check found unchanged (see rememberListSeen).
    createIfMissing(db, "chapter_list_seen",
                    QStringLiteral("CREATE TABLE chapter_list_seen (novel_id INTEGER PRIMARY KEY, "
                                   "chapter_count INTEGER, page_fingerprint TEXT, "
                                   "list_fingerprint TEXT)"));
    makeUnique(db, {"novel_directory_chapter", "novel_directory_novel_chapter", "novel_directory",
                    "novel_id, chapter_index", "id"});
    makeUnique(db, {"novel_chapter_chapter", "novel_chapter_novel_chapter", "novel_chapter",
                    "novel_id, chapter_id", "(is_download = 1) desc, id"});
}

// Where in the last chapter read the reader was: its share of the chapter's text in ten
// thousandths, so that another font size keeps the place.
void novelLayout2(SqliteDatabase& db) {
    db.exec(QStringLiteral("CREATE TABLE reading_place (novel_id INTEGER PRIMARY KEY, "
                           "chapter_index INTEGER, position INTEGER)"));
}

using Step = std::function<void(SqliteDatabase&)>;

// Step i takes a file of layout i to layout i + 1.
void upgrade(const QString& path, const std::vector<Step>& steps) {
    const int current = static_cast<int>(steps.size());
    SqliteWriter db(path);
    // Readers never wait for the writer, and the writer never waits for readers.
    db.stringValue(QStringLiteral("PRAGMA journal_mode=WAL"));
    auto version = [&db] {
        return static_cast<int>(db.integerValue(QStringLiteral("PRAGMA user_version")));
    };
    if (version() >= current)
        return;
    db.beginTransaction();
    // Another program may have upgraded the file meanwhile.
    for (int layout = version(); layout < current; ++layout)
        steps[static_cast<size_t>(layout)](db);
    db.exec(QStringLiteral("PRAGMA user_version = %1").arg(current));
    db.commit();
}

} // namespace

const QStringList& siteRuleColumns() {
    static const QStringList columns = [] {
        QStringList list;
        for (const char* column : kSiteRuleColumns)
            list.append(QLatin1String(column));
        return list;
    }();
    return columns;
}

void prepareLibrary() {
    static_assert(kRuleDatabaseVersion == 9 && kNovelDatabaseVersion == 2,
                  "a new layout needs its upgrade step below");
    const int64_t highestNovelId =
        layoutVersion(ruleDatabasePath()) < 3 ? highestStoredNovelId() : 0;
    upgrade(ruleDatabasePath(),
            {ruleLayout1, ruleLayout2,
             [highestNovelId](SqliteDatabase& db) { ruleLayout3(db, highestNovelId); }, ruleLayout4,
             ruleLayout5, ruleLayout6, ruleLayout7, ruleLayout8, ruleLayout9});
    upgrade(novelDatabasePath(), {novelLayout1, novelLayout2});
}

int layoutVersion(const QString& path) {
    SqliteDatabase db(path);
    return static_cast<int>(db.integerValue(QStringLiteral("PRAGMA user_version")));
}

bool libraryIsCurrent() {
    if (!QFileInfo::exists(ruleDatabasePath()) || !QFileInfo::exists(novelDatabasePath()))
        return false;
    return layoutVersion(ruleDatabasePath()) >= kRuleDatabaseVersion &&
           layoutVersion(novelDatabasePath()) >= kNovelDatabaseVersion;
}

QString libraryOwnershipProblem() {
    for (const QString& path : {ruleDatabasePath(), novelDatabasePath()}) {
        const QFileInfo file(path);
        if (file.exists() && file.ownerId() != ::geteuid())
            return QStringLiteral("数据文件夹中的 %1 属于另一个用户（%2），本程序不会写入它；"
                                  "只读的命令（info、directory、chapter、searchpage、search、"
                                  "export）仍可使用。")
                .arg(file.fileName(), file.owner());
        for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            const QFileInfo log(path + suffix);
            if (log.exists() && log.ownerId() != ::geteuid() && !log.isWritable())
                return QStringLiteral("数据文件夹中的 %1 是另一个用户（%2）留下的，本程序无法写入"
                                      "它。请让该用户关闭本程序，或删除 %1 后重试。")
                    .arg(log.fileName(), log.owner());
        }
    }
    return QString();
}

} // namespace zvrd
