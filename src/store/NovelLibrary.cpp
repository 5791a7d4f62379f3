#include "store/NovelLibrary.h"

#include "core/DataFolder.h"
#include "store/SqliteTable.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace zvrd {
namespace {

// Text values are bound as parameters rather than spliced between double quotes, so a name
// holding a quote, or equal to a column name, is stored and found like any other.
void bindSiteAndName(SqliteDatabase& db, const QString& siteName, const QString& novelName) {
    db.addParamText(QStringLiteral(":site"), siteName);
    db.addParamText(QStringLiteral(":name"), novelName);
}

QString decimal(int32_t value) {
    return QString::number(value);
}

// The count a "select count(*) as column ..." query gives on novel_info.db; 0 without a row.
int64_t countOf(const QString& sql, const QString& column) {
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(sql);
    if (table->atEnd())
        return 0;
    return table->fieldAsInteger(static_cast<uint32_t>(table->fieldIndex(column)));
}

} // namespace

QString ruleDatabasePath() {
    return dataFolder() + QStringLiteral("zvrd.db");
}

QString novelDatabasePath() {
    return dataFolder() + QStringLiteral("novel_info.db");
}

namespace {

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

constexpr UniqueKey kRecentReadKey{"latest_read_novel", "latest_read_site_name", "latest_read",
                                   "target_site, novel_name", "id"};
constexpr UniqueKey kChapterListKey{"novel_directory_chapter", "novel_directory_novel_chapter",
                                    "novel_directory", "novel_id, chapter_index", "id"};
constexpr UniqueKey kChapterKey{"novel_chapter_chapter", "novel_chapter_novel_chapter",
                                "novel_chapter", "novel_id, chapter_id",
                                "(is_download = 1) desc, id"};

bool indexExists(SqliteDatabase& db, const char* name) {
    db.addParamText(QStringLiteral(":name"), QLatin1String(name));
    return !db.query(QStringLiteral(
                         "select name from sqlite_master where type = 'index' and name = :name"))
                ->atEnd();
}

void makeUnique(SqliteDatabase& db, const UniqueKey& key) {
    if (indexExists(db, key.index))
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

// Readers never wait for the writer, and the writer never waits for readers.
void useWriteAheadLog(SqliteDatabase& db) {
    db.query(QStringLiteral("PRAGMA journal_mode=WAL"));
}

struct TableSpec {
    const char* name;
    const char* create;
};

// Creates the missing tables of one database file and makes its unique keys, in one transaction.
void prepareDatabase(const QString& path, std::initializer_list<TableSpec> tables,
                     std::initializer_list<const UniqueKey*> keys) {
    SqliteWriter db(path);
    useWriteAheadLog(db);
    db.beginTransaction();
    for (const TableSpec& table : tables) {
        if (!db.tableExists(QLatin1String(table.name)))
            db.exec(QString::fromLatin1(table.create));
    }
    for (const UniqueKey* key : keys)
        makeUnique(db, *key);
    db.commit();
}

} // namespace

void createMissingTables() {
    prepareDatabase(
        ruleDatabasePath(),
        {{"site_rule",
          "CREATE TABLE site_rule (id INTEGER PRIMARY KEY, site_name TEXT, site_url TEXT, "
          "charset TEXT, search_page_url_format TEXT, search_page_result_regional TEXT, "
          "search_page_novel_name TEXT, search_page_novel_author TEXT, "
          "search_page_latest_chapter TEXT, search_page_info_page_url TEXT, "
          "info_page_novel_sort TEXT, info_page_novel_name TEXT, "
          "info_page_novel_author TEXT, info_page_novel_state TEXT, "
          "info_page_novel_intro TEXT, info_page_latest_chapter TEXT, "
          "info_page_directory_page_url TEXT, directory_page_regional TEXT, "
          "directory_page_chapter_name_and_url TEXT, chapter_page_chapter_content TEXT, "
          "replace_rule TEXT)"},
         {"latest_read",
          "CREATE TABLE latest_read (id INTEGER PRIMARY KEY, target_site TEXT, "
          "novel_name TEXT, novel_author TEXT, latest_chapter TEXT, info_page_url TEXT)"}},
        {&kRecentReadKey});
    prepareDatabase(
        novelDatabasePath(),
        {{"novel_directory",
          "CREATE TABLE novel_directory (id INTEGER PRIMARY KEY, novel_id INTEGER, "
          "chapter_index INTEGER, chapter_name TEXT, chapter_url TEXT)"},
         {"novel_chapter", "CREATE TABLE novel_chapter (id INTEGER PRIMARY KEY, novel_id INTEGER, "
                           "chapter_id INTEGER, chapter_type INTEGER, is_download INTEGER, "
                           "chapter_content TEXT)"},
         // Where each novel's chapter list is read again (the spec's tables keep only the
         // information page).
         {"novel_source", "CREATE TABLE novel_source (novel_id INTEGER PRIMARY KEY, "
                          "directory_page_url TEXT)"},
         {"reading_progress",
          "CREATE TABLE reading_progress (novel_id INTEGER PRIMARY KEY, chapter_index INTEGER, "
          "read_time INTEGER, chapter_count INTEGER)"},
         // What the last update check found unchanged (see rememberListSeen).
         {"chapter_list_seen",
          "CREATE TABLE chapter_list_seen (novel_id INTEGER PRIMARY KEY, chapter_count INTEGER, "
          "page_fingerprint TEXT, list_fingerprint TEXT)"}},
        {&kChapterListKey, &kChapterKey});
}

KeepDatabasesOpen::KeepDatabasesOpen() {
    for (const QString& path : {ruleDatabasePath(), novelDatabasePath()}) {
        m_kept.push_back(std::make_unique<SqliteDatabase>(path));
        m_kept.back()->query(QStringLiteral("select count(*) from sqlite_master"));
    }
}

KeepDatabasesOpen::~KeepDatabasesOpen() = default;

bool hasRecentRead(const QString& siteName, const QString& novelName) {
    SqliteDatabase db(ruleDatabasePath());
    bindSiteAndName(db, siteName, novelName);
    auto table = db.query(
        QStringLiteral("select id from latest_read where target_site=:site and novel_name=:name"));
    return !table->atEnd();
}

bool addRecentRead(const QString& siteName, const QString& novelName, const QString& author,
                   const QString& latestChapter, const QString& infoPageUrl) {
    if (novelName.isEmpty())
        return false; // a page that gave no name is no novel
    SqliteWriter db(ruleDatabasePath());
    bindSiteAndName(db, siteName, novelName);
    db.addParamText(QStringLiteral(":author"), author);
    db.addParamText(QStringLiteral(":latest"), latestChapter);
    db.addParamText(QStringLiteral(":url"), infoPageUrl);
    // Check and insert in one statement: two openings at once end with one row.
    db.exec(QStringLiteral("insert or ignore into latest_read(target_site,novel_name,novel_author,"
                           "latest_chapter,info_page_url) "
                           "values(:site,:name,:author,:latest,:url)"));
    if (db.rowsChanged() > 0)
        return true;
    bindSiteAndName(db, siteName, novelName);
    return !db.query(QStringLiteral(
                         "select id from latest_read where target_site=:site and novel_name=:name"))
                ->atEnd();
}

int32_t recentReadId(const QString& siteName, const QString& novelName) {
    SqliteDatabase db(ruleDatabasePath());
    bindSiteAndName(db, siteName, novelName);
    auto table = db.query(
        QStringLiteral("select id from latest_read where target_site=:site and novel_name=:name"));
    if (table->atEnd())
        return -1;
    return table->fieldAsString(static_cast<uint32_t>(table->fieldIndex(QStringLiteral("id"))))
        .toInt();
}

NovelInfo recentReadInfo(const QString& siteName, const QString& novelName) {
    NovelInfo info;
    SqliteDatabase db(ruleDatabasePath());
    bindSiteAndName(db, siteName, novelName);
    auto table = db.query(
        QStringLiteral("select * from latest_read where target_site=:site and novel_name=:name"));
    if (table->atEnd())
        return info;
    auto field = [&](const char* column) {
        return table->fieldAsString(
            static_cast<uint32_t>(table->fieldIndex(QLatin1String(column))));
    };
    info.name = novelName;
    info.author = field("novel_author");
    info.latestChapter = field("latest_chapter");
    info.infoPageUrl = field("info_page_url");
    return info;
}

bool hasChapterList(int32_t novelId) {
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(QStringLiteral("select id from novel_directory where novel_id=") +
                          decimal(novelId) + QStringLiteral(" limit 1"));
    return !table->atEnd();
}

bool addChapterListItem(int32_t novelId, int32_t chapterIndex, const QString& chapterName,
                        const QString& chapterUrl) {
    SqliteWriter db(novelDatabasePath());
    db.addParamText(QStringLiteral(":name"), chapterName);
    db.addParamText(QStringLiteral(":url"), chapterUrl);
    db.exec(QStringLiteral("insert or ignore into novel_directory(novel_id,chapter_index,"
                           "chapter_name,chapter_url) values(") +
            decimal(novelId) + QLatin1Char(',') + decimal(chapterIndex) +
            QStringLiteral(",:name,:url)"));
    return db.rowsChanged() > 0;
}

bool addChapterList(int32_t novelId, const ChapterList& directory) {
    const qsizetype count =
        std::min<qsizetype>({static_cast<qsizetype>(std::max(directory.count, 0)),
                             directory.names.size(), directory.urls.size()});
    SqliteWriter db(novelDatabasePath());
    db.beginTransaction(); // rolled back by the connection's destructor if anything below fails
    // A list stored meanwhile by another opening of the same novel stays as it is.
    SqliteQuery insert = db.prepare(QStringLiteral(
        "insert or ignore into novel_directory(novel_id,chapter_index,chapter_name,chapter_url) "
        "values(?1,?2,?3,?4)"));
    int64_t stored = 0;
    for (qsizetype i = 0; i < count; ++i) {
        db.bind(insert, 1, novelId);
        db.bind(insert, 2, static_cast<int32_t>(i));
        db.bind(insert, 3, directory.names[i]);
        db.bind(insert, 4, directory.urls[i]);
        db.exec(insert);
        stored += db.rowsChanged();
    }
    db.release(insert);
    if (stored < count)
        stored = db.integerValue(
            QStringLiteral("select count(*) from novel_directory where novel_id=") +
            decimal(novelId) + QStringLiteral(" and chapter_index<") + QString::number(count));
    db.commit();
    return stored == count;
}

ChapterList loadChapterList(int32_t novelId) {
    ChapterList directory;
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(
        QStringLiteral("select chapter_name,chapter_url from novel_directory where novel_id=") +
        decimal(novelId) + QStringLiteral(" order by chapter_index"));
    if (table->atEnd())
        return directory;
    const auto nameCol = static_cast<uint32_t>(table->fieldIndex(QStringLiteral("chapter_name")));
    const auto urlCol = static_cast<uint32_t>(table->fieldIndex(QStringLiteral("chapter_url")));
    directory.names.reserve(table->count());
    directory.urls.reserve(table->count());
    while (!table->atEnd()) {
        directory.count += 1;
        directory.names.append(table->fieldAsString(nameCol));
        directory.urls.append(table->fieldAsString(urlCol));
        table->next();
    }
    return directory;
}

int32_t chapterCount(int32_t novelId) {
    return static_cast<int32_t>(
        countOf(QStringLiteral("select count(*) as total from novel_directory where novel_id=") +
                    decimal(novelId),
                QStringLiteral("total")));
}

bool hasChapters(int32_t novelId) {
    return countOf(QStringLiteral(
                       "select count(*) as record_count from novel_chapter where novel_id=") +
                       decimal(novelId),
                   QStringLiteral("record_count")) > 0;
}

bool saveChapter(int32_t novelId, int32_t chapterIndex, int32_t chapterType, int32_t isDownload,
                 const QString& content) {
    SqliteWriter db(novelDatabasePath());
    // The content is bound, so it is stored exactly as given, quotes included. One statement
    // inserts or updates, so two workers of one chapter leave one row. Mended: a failed attempt
    // never replaces a downloaded chapter (a slower failing worker of the same chapter would
    // otherwise throw away what another one stored).
    db.addParamText(QStringLiteral(":content"), content);
    db.exec(QStringLiteral("insert into novel_chapter(novel_id,chapter_id,chapter_type,"
                           "is_download,chapter_content) values(%1,%2,%3,%4,:content) "
                           "on conflict(novel_id,chapter_id) do update set "
                           "chapter_type=excluded.chapter_type,is_download=excluded.is_download,"
                           "chapter_content=excluded.chapter_content "
                           "where excluded.is_download<>0 or novel_chapter.is_download=0")
                .arg(novelId)
                .arg(chapterIndex)
                .arg(chapterType)
                .arg(isDownload));
    return db.rowsChanged() > 0;
}

void setDirectoryPageUrl(int32_t novelId, const QString& url) {
    SqliteWriter db(novelDatabasePath());
    db.addParamText(QStringLiteral(":url"), url);
    db.exec(QStringLiteral("insert into novel_source(novel_id,directory_page_url) values(%1,:url) "
                           "on conflict(novel_id) do update set "
                           "directory_page_url=excluded.directory_page_url")
                .arg(novelId));
}

QString directoryPageUrl(int32_t novelId) {
    SqliteDatabase db(novelDatabasePath());
    return db.stringValue(
        QStringLiteral("select directory_page_url from novel_source where novel_id=%1")
            .arg(novelId));
}

QString fingerprintOf(QByteArrayView bytes) {
    // Two seeds make 128 bits: an accidental match is out of the question, and it runs at memory
    // speed where a cryptographic hash of a list page cost a third of a millisecond.
    return QStringLiteral("%1-%2-%3")
        .arg(bytes.size())
        .arg(qHashBits(bytes.data(), static_cast<size_t>(bytes.size()), 1), 16, 16,
             QLatin1Char('0'))
        .arg(qHashBits(bytes.data(), static_cast<size_t>(bytes.size()), 2), 16, 16,
             QLatin1Char('0'));
}

QString chapterListFingerprint(const ChapterList& list) {
    QByteArray addresses;
    for (const QString& url : list.urls) {
        addresses.append(url.toUtf8());
        addresses.append('\n');
    }
    return fingerprintOf(addresses);
}

StoredListState storedListState(int32_t novelId) {
    StoredListState state;
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(
        QStringLiteral("select (select count(*) from novel_directory where novel_id=%1),"
                       "(select directory_page_url from novel_source where novel_id=%1),"
                       "s.page_fingerprint,s.list_fingerprint,coalesce(s.chapter_count,-1) "
                       "from (select 1) left join chapter_list_seen s on s.novel_id=%1")
            .arg(novelId));
    if (table->atEnd())
        return state;
    state.count = static_cast<int32_t>(table->fieldAsInteger(0));
    state.directoryPageUrl = table->fieldAsString(1);
    state.seen.page = table->fieldAsString(2);
    state.seen.list = table->fieldAsString(3);
    state.seenCount = static_cast<int32_t>(table->fieldAsInteger(4));
    return state;
}

namespace {

void markListSeen(SqliteDatabase& db, int32_t novelId, const ListSeen& seen) {
    db.addParamText(QStringLiteral(":page"), seen.page);
    db.addParamText(QStringLiteral(":list"), seen.list);
    db.exec(QStringLiteral("insert into chapter_list_seen(novel_id,chapter_count,"
                           "page_fingerprint,list_fingerprint) values(%1,(select count(*) from "
                           "novel_directory where novel_id=%1),:page,:list) on conflict(novel_id) "
                           "do update set chapter_count=excluded.chapter_count,"
                           "page_fingerprint=excluded.page_fingerprint,"
                           "list_fingerprint=excluded.list_fingerprint")
                .arg(novelId));
}

} // namespace

void rememberListSeen(int32_t novelId, const ListSeen& seen) {
    SqliteWriter db(novelDatabasePath());
    markListSeen(db, novelId, seen);
}

ChapterList newChapters(const ChapterList& stored, const ChapterList& site) {
    const QSet<QString> known(stored.urls.begin(), stored.urls.end());
    ChapterList added;
    const qsizetype count = std::min(site.names.size(), site.urls.size());
    for (qsizetype i = 0; i < count; ++i) {
        if (known.contains(site.urls[i]))
            continue;
        added.names.append(site.names[i]);
        added.urls.append(site.urls[i]);
    }
    added.count = static_cast<int32_t>(added.names.size());
    return added;
}

int32_t appendChapters(int32_t novelId, const ChapterList& added, const ListSeen* seen,
                       ChapterList* stored) {
    SqliteWriter db(novelDatabasePath());
    db.beginTransaction();
    // Two refreshes of one novel at once append each new chapter once: addresses stored
    // meanwhile are skipped inside this transaction.
    QStringList storedUrls;
    db.stringValues(
        QStringLiteral("select chapter_url from novel_directory where novel_id=%1").arg(novelId),
        storedUrls);
    QSet<QString> known(storedUrls.begin(), storedUrls.end());
    // After the last stored index, whatever another opening stored meanwhile.
    int32_t next = static_cast<int32_t>(db.integerValue(
        QStringLiteral("select coalesce(max(chapter_index)+1,0) from novel_directory where "
                       "novel_id=%1")
            .arg(novelId)));
    SqliteQuery insert = db.prepare(QStringLiteral(
        "insert or ignore into novel_directory(novel_id,chapter_index,chapter_name,chapter_url) "
        "values(?1,?2,?3,?4)"));
    int32_t appended = 0;
    QStringList appendedNames;
    QStringList appendedUrls;
    for (qsizetype i = 0; i < added.names.size() && i < added.urls.size(); ++i) {
        if (known.contains(added.urls[i]))
            continue;
        known.insert(added.urls[i]);
        db.bind(insert, 1, novelId);
        db.bind(insert, 2, next + appended);
        db.bind(insert, 3, added.names[i]);
        db.bind(insert, 4, added.urls[i]);
        db.exec(insert);
        if (db.rowsChanged() == 0)
            continue;
        ++appended;
        appendedNames.append(added.names[i]);
        appendedUrls.append(added.urls[i]);
    }
    db.release(insert);
    if (seen)
        markListSeen(db, novelId, *seen);
    db.commit();
    // The caller's copy is the whole stored list when it has as many rows as the file had and
    // they run 0..next-1 without a gap: then it only needs what was just appended.
    if (stored && stored->count == next && storedUrls.size() == next) {
        stored->names += appendedNames;
        stored->urls += appendedUrls;
        stored->count += appended;
    } else if (stored) {
        *stored = loadChapterList(novelId);
    }
    return appended;
}

QList<int32_t> chaptersToDownload(int32_t novelId, int32_t count) {
    std::vector<bool> stored(static_cast<size_t>(std::max(count, 0)), false);
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(
        QStringLiteral("select chapter_id from novel_chapter where novel_id=%1 and is_download<>0")
            .arg(novelId));
    for (; !table->atEnd(); table->next()) {
        const int64_t index = table->fieldAsInteger(0);
        if (index >= 0 && index < count)
            stored[static_cast<size_t>(index)] = true;
    }
    QList<int32_t> missing;
    for (int32_t i = 0; i < count; ++i) {
        if (!stored[static_cast<size_t>(i)])
            missing.append(i);
    }
    return missing;
}

namespace {

int64_t nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

void recordOpening(int32_t novelId) {
    SqliteWriter db(novelDatabasePath());
    // A first opening counts the list as it is, so only chapters that come later are new.
    db.exec(QStringLiteral("insert into reading_progress(novel_id,chapter_index,read_time,"
                           "chapter_count) values(%1,-1,%2,(select count(*) from novel_directory "
                           "where novel_id=%1)) on conflict(novel_id) do update set "
                           "read_time=excluded.read_time")
                .arg(novelId)
                .arg(nowMs()));
}

void recordReading(int32_t novelId, int32_t chapterIndex) {
    SqliteWriter db(novelDatabasePath());
    db.exec(QStringLiteral("insert into reading_progress(novel_id,chapter_index,read_time,"
                           "chapter_count) values(%1,%2,%3,(select count(*) from novel_directory "
                           "where novel_id=%1)) on conflict(novel_id) do update set "
                           "chapter_index=excluded.chapter_index,read_time=excluded.read_time,"
                           "chapter_count=excluded.chapter_count")
                .arg(novelId)
                .arg(chapterIndex)
                .arg(nowMs()));
}

int32_t lastReadChapter(int32_t novelId) {
    SqliteDatabase db(novelDatabasePath());
    auto table =
        db.query(QStringLiteral("select chapter_index from reading_progress where novel_id=%1")
                     .arg(novelId));
    return table->atEnd() ? -1 : static_cast<int32_t>(table->fieldAsInteger(0));
}

QList<ShelfEntry> bookshelf(bool withCounts) {
    QList<ShelfEntry> shelf;
    {
        SqliteDatabase db(ruleDatabasePath());
        auto table = db.query(QStringLiteral("select id,target_site,novel_name,novel_author,"
                                             "latest_chapter,info_page_url from latest_read"));
        for (; !table->atEnd(); table->next()) {
            ShelfEntry entry;
            entry.novelId = static_cast<int32_t>(table->fieldAsInteger(0));
            entry.siteName = table->fieldAsString(1);
            entry.novelName = table->fieldAsString(2);
            entry.author = table->fieldAsString(3);
            entry.latestChapter = table->fieldAsString(4);
            entry.infoPageUrl = table->fieldAsString(5);
            shelf.append(entry);
        }
    }
    QHash<int32_t, int64_t> readTime;
    QHash<int32_t, int32_t> countAtRead;
    {
        SqliteDatabase db(novelDatabasePath());
        QHash<int32_t, ShelfEntry*> byId;
        for (ShelfEntry& entry : shelf)
            byId.insert(entry.novelId, &entry);
        auto each = [&](const QString& sql, auto&& take) {
            for (auto table = db.query(sql); !table->atEnd(); table->next()) {
                if (ShelfEntry* entry = byId.value(static_cast<int32_t>(table->fieldAsInteger(0))))
                    take(*entry, *table);
            }
        };
        if (withCounts) {
            each(QStringLiteral("select novel_id,count(*) from novel_directory group by novel_id"),
                 [](ShelfEntry& e, SqliteTable& t) {
                     e.total = static_cast<int32_t>(t.fieldAsInteger(1));
                 });
            each(QStringLiteral("select novel_id,count(*) from novel_chapter where is_download<>0 "
                                "group by novel_id"),
                 [](ShelfEntry& e, SqliteTable& t) {
                     e.stored = static_cast<int32_t>(t.fieldAsInteger(1));
                 });
        }
        each(QStringLiteral("select p.novel_id,p.chapter_index,p.read_time,p.chapter_count,"
                            "d.chapter_name from reading_progress p left join novel_directory d "
                            "on d.novel_id=p.novel_id and d.chapter_index=p.chapter_index"),
             [&](ShelfEntry& e, SqliteTable& t) {
                 e.lastRead = static_cast<int32_t>(t.fieldAsInteger(1));
                 readTime.insert(e.novelId, t.fieldAsInteger(2));
                 countAtRead.insert(e.novelId, static_cast<int32_t>(t.fieldAsInteger(3)));
                 e.lastReadName = t.fieldAsString(4);
             });
        for (ShelfEntry& entry : shelf) {
            if (withCounts && countAtRead.contains(entry.novelId))
                entry.newChapters = std::max(0, entry.total - countAtRead.value(entry.novelId));
        }
    }
    // The most recent first; novels never opened since this table exists by their age.
    std::stable_sort(shelf.begin(), shelf.end(), [&](const ShelfEntry& a, const ShelfEntry& b) {
        const int64_t ta = readTime.value(a.novelId, 0);
        const int64_t tb = readTime.value(b.novelId, 0);
        return ta != tb ? ta > tb : a.novelId > b.novelId;
    });
    return shelf;
}

void removeNovelRows(int32_t novelId) {
    {
        // The chapters go first: a latest_read row left by a crash between the two transactions
        // only means the novel's list is read again at its next opening.
        SqliteWriter db(novelDatabasePath());
        db.beginTransaction();
        for (const char* table : {"novel_directory", "novel_chapter", "novel_source",
                                  "reading_progress", "chapter_list_seen"})
            db.exec(QStringLiteral("delete from %1 where novel_id=%2")
                        .arg(QLatin1String(table))
                        .arg(novelId));
        db.commit();
    }
    SqliteWriter db(ruleDatabasePath());
    db.beginTransaction();
    db.exec(QStringLiteral("delete from latest_read where id=%1").arg(novelId));
    db.commit();
}

} // namespace zvrd
