#include "store/NovelLibrary.h"

#include "store/Schema.h"

#include "core/DataFolder.h"
#include "store/SqliteTable.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace zvrd {
namespace {

// The count a "select count(*) as column ..." query gives on novel_info.db; 0 without a row.
int64_t countOf(const QString& sql, const QString& column, int32_t novelId) {
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(sql, {novelId});
    if (table->atEnd())
        return 0;
    return table->fieldAsInteger(static_cast<uint32_t>(table->fieldIndex(column)));
}

const QString kRecentReadIdSql =
    QStringLiteral("select id from latest_read where target_site=?1 and novel_name=?2");
const QString kInsertListEntrySql = QStringLiteral(
    "insert or ignore into novel_directory(novel_id,chapter_index,chapter_name,chapter_url) "
    "values(?1,?2,?3,?4)");

} // namespace

QString ruleDatabasePath() {
    return dataFolder() + QStringLiteral("zvrd.db");
}

QString novelDatabasePath() {
    return dataFolder() + QStringLiteral("novel_info.db");
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
    return !db.query(kRecentReadIdSql, {siteName, novelName})->atEnd();
}

bool addRecentRead(const QString& siteName, const QString& novelName, const QString& author,
                   const QString& latestChapter, const QString& infoPageUrl) {
    if (novelName.isEmpty())
        return false; // a page that gave no name is no novel
    SqliteWriter db(ruleDatabasePath());
    // Check and insert in one statement: two openings at once end with one row.
    db.exec(QStringLiteral("insert or ignore into latest_read(target_site,novel_name,novel_author,"
                           "latest_chapter,info_page_url) values(?1,?2,?3,?4,?5)"),
            {siteName, novelName, author, latestChapter, infoPageUrl});
    if (db.rowsChanged() > 0)
        return true;
    return !db.query(kRecentReadIdSql, {siteName, novelName})->atEnd();
}

int32_t recentReadId(const QString& siteName, const QString& novelName) {
    SqliteDatabase db(ruleDatabasePath());
    auto table = db.query(kRecentReadIdSql, {siteName, novelName});
    if (table->atEnd())
        return -1;
    return table->fieldAsString(static_cast<uint32_t>(table->fieldIndex(QStringLiteral("id"))))
        .toInt();
}

NovelInfo recentReadInfo(const QString& siteName, const QString& novelName) {
    NovelInfo info;
    SqliteDatabase db(ruleDatabasePath());
    auto table =
        db.query(QStringLiteral("select * from latest_read where target_site=?1 and novel_name=?2"),
                 {siteName, novelName});
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

RecentReadName recentReadName(int32_t novelId) {
    SqliteDatabase db(ruleDatabasePath());
    auto novel = db.query(
        QStringLiteral("select target_site,novel_name from latest_read where id=?1"), {novelId});
    if (novel->atEnd())
        return {};
    return {novel->fieldAsString(0), novel->fieldAsString(1)};
}

bool hasChapterList(int32_t novelId) {
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(
        QStringLiteral("select id from novel_directory where novel_id=?1 limit 1"), {novelId});
    return !table->atEnd();
}

bool addChapterListItem(int32_t novelId, int32_t chapterIndex, const QString& chapterName,
                        const QString& chapterUrl) {
    SqliteWriter db(novelDatabasePath());
    db.exec(QStringLiteral("insert or ignore into novel_directory(novel_id,chapter_index,"
                           "chapter_name,chapter_url) values(?1,?2,?3,?4)"),
            {novelId, chapterIndex, chapterName, chapterUrl});
    return db.rowsChanged() > 0;
}

bool addChapterList(int32_t novelId, const ChapterList& directory) {
    const qsizetype count =
        std::min<qsizetype>({static_cast<qsizetype>(std::max(directory.count, 0)),
                             directory.names.size(), directory.urls.size()});
    SqliteWriter db(novelDatabasePath());
    db.beginTransaction(); // rolled back by the connection's destructor if anything below fails
    // A list stored meanwhile by another opening of the same novel stays as it is.
    SqlitePrepared insert(db, kInsertListEntrySql);
    int64_t stored = 0;
    for (qsizetype i = 0; i < count; ++i) {
        insert.run({novelId, i, directory.names[i], directory.urls[i]});
        stored += db.rowsChanged();
    }
    if (stored < count)
        stored = db.integerValue(QStringLiteral("select count(*) from novel_directory where "
                                                "novel_id=?1 and chapter_index<?2"),
                                 {novelId, count});
    db.commit();
    return stored == count;
}

ChapterList loadChapterList(int32_t novelId) {
    ChapterList directory;
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(QStringLiteral("select chapter_name,chapter_url from novel_directory "
                                         "where novel_id=?1 order by chapter_index"),
                          {novelId});
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

ChapterEntry chapterEntry(int32_t novelId, int32_t chapterIndex) {
    SqliteDatabase db(novelDatabasePath());
    auto chapter = db.query(QStringLiteral("select chapter_name,chapter_url from novel_directory "
                                           "where novel_id=?1 and chapter_index=?2"),
                            {novelId, chapterIndex});
    if (chapter->atEnd())
        return {};
    return {chapter->fieldAsString(0), chapter->fieldAsString(1)};
}

int32_t chapterCount(int32_t novelId) {
    return static_cast<int32_t>(
        countOf(QStringLiteral("select count(*) as total from novel_directory where novel_id=?1"),
                QStringLiteral("total"), novelId));
}

bool hasChapters(int32_t novelId) {
    return countOf(QStringLiteral(
                       "select count(*) as record_count from novel_chapter where novel_id=?1"),
                   QStringLiteral("record_count"), novelId) > 0;
}

bool saveChapter(int32_t novelId, int32_t chapterIndex, ChapterKind kind, int32_t isDownload,
                 const QString& content) {
    SqliteWriter db(novelDatabasePath());
    // The content is bound, so it is stored exactly as given, quotes included. One statement
    // inserts or updates, so two workers of one chapter leave one row. Mended: a failed attempt
    // never replaces a downloaded chapter (a slower failing worker of the same chapter would
    // otherwise throw away what another one stored).
    db.exec(QStringLiteral("insert into novel_chapter(novel_id,chapter_id,chapter_type,"
                           "is_download,chapter_content) values(?1,?2,?3,?4,?5) "
                           "on conflict(novel_id,chapter_id) do update set "
                           "chapter_type=excluded.chapter_type,is_download=excluded.is_download,"
                           "chapter_content=excluded.chapter_content "
                           "where excluded.is_download<>0 or novel_chapter.is_download=0"),
            {novelId, chapterIndex, static_cast<int64_t>(kind), isDownload, content});
    return db.rowsChanged() > 0;
}

bool isChapterDownloaded(int32_t novelId, int32_t chapterIndex) {
    SqliteDatabase db(novelDatabasePath());
    return db.integerValue(QStringLiteral("select is_download from novel_chapter where "
                                          "novel_id=?1 and chapter_id=?2"),
                           {novelId, chapterIndex}) != 0;
}

StoredChapter storedChapter(int32_t novelId, int32_t chapterIndex) {
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(QStringLiteral("select chapter_type,chapter_content from novel_chapter "
                                         "where novel_id=?1 and chapter_id=?2"),
                          {novelId, chapterIndex});
    StoredChapter chapter;
    if (table->atEnd())
        return chapter;
    chapter.found = true;
    chapter.kind = static_cast<ChapterKind>(table->fieldAsInteger(0));
    chapter.content = table->fieldAsString(1);
    return chapter;
}

QList<DownloadedChapter> downloadedChapters(int32_t novelId) {
    SqliteDatabase db(novelDatabasePath());
    QList<DownloadedChapter> chapters;
    auto rows = db.cursor(QStringLiteral("select chapter_id,chapter_type,case when chapter_type=?2 "
                                         "then chapter_content end from novel_chapter where "
                                         "novel_id=?1 and is_download<>0 order by chapter_id"),
                          {novelId, static_cast<int64_t>(ChapterKind::Picture)});
    for (; !rows->atEnd(); rows->next())
        chapters.append({static_cast<int32_t>(rows->fieldAsInteger(0)),
                         static_cast<ChapterKind>(rows->fieldAsInteger(1)),
                         rows->fieldAsString(2)});
    return chapters;
}

struct StoredTextReader::Rows {
    explicit Rows(int32_t novelId)
        : db(novelDatabasePath()),
          cursor(db.cursor(QStringLiteral("select chapter_id,chapter_content from novel_chapter "
                                          "where novel_id=?1 and is_download<>0 and "
                                          "chapter_type<>?2 order by chapter_id"),
                           {novelId, static_cast<int64_t>(ChapterKind::Picture)})) {}
    SqliteDatabase db;
    std::unique_ptr<SqliteCursor> cursor; // declared after db: the statement goes first
};

StoredTextReader::StoredTextReader(int32_t novelId)
    : m_rows(std::make_unique<Rows>(novelId)), m_novelId(novelId) {}

StoredTextReader::~StoredTextReader() = default;

QString StoredTextReader::html(int32_t index) {
    SqliteCursor& rows = *m_rows->cursor;
    while (!rows.atEnd() && rows.fieldAsInteger(0) < index)
        rows.next();
    if (!rows.atEnd() && rows.fieldAsInteger(0) == index)
        return rows.fieldAsString(1);
    SqliteDatabase db(novelDatabasePath());
    return db.stringValue(QStringLiteral("select chapter_content from novel_chapter where "
                                         "novel_id=?1 and chapter_id=?2"),
                          {m_novelId, index});
}

void setDirectoryPageUrl(int32_t novelId, const QString& url) {
    SqliteWriter db(novelDatabasePath());
    db.exec(QStringLiteral("insert into novel_source(novel_id,directory_page_url) values(?1,?2) "
                           "on conflict(novel_id) do update set "
                           "directory_page_url=excluded.directory_page_url"),
            {novelId, url});
}

QString directoryPageUrl(int32_t novelId) {
    SqliteDatabase db(novelDatabasePath());
    return db.stringValue(
        QStringLiteral("select directory_page_url from novel_source where novel_id=?1"), {novelId});
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
        QStringLiteral("select (select count(*) from novel_directory where novel_id=?1),"
                       "(select directory_page_url from novel_source where novel_id=?1),"
                       "s.page_fingerprint,s.list_fingerprint,coalesce(s.chapter_count,-1) "
                       "from (select 1) left join chapter_list_seen s on s.novel_id=?1"),
        {novelId});
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
    db.exec(QStringLiteral("insert into chapter_list_seen(novel_id,chapter_count,"
                           "page_fingerprint,list_fingerprint) values(?1,(select count(*) from "
                           "novel_directory where novel_id=?1),?2,?3) on conflict(novel_id) "
                           "do update set chapter_count=excluded.chapter_count,"
                           "page_fingerprint=excluded.page_fingerprint,"
                           "list_fingerprint=excluded.list_fingerprint"),
            {novelId, seen.page, seen.list});
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

void moveChapterAddresses(int32_t novelId, const QStringList& urls) {
    SqliteWriter db(novelDatabasePath());
    db.beginTransaction();
    SqlitePrepared update(db, QStringLiteral("update novel_directory set chapter_url=?1 where "
                                             "novel_id=?2 and chapter_index=?3"));
    for (qsizetype i = 0; i < urls.size(); ++i)
        update.run({urls[i], int64_t{novelId}, int64_t{i}});
    db.commit();
}

int32_t appendChapters(int32_t novelId, const ChapterList& added, const ListSeen* seen,
                       ChapterList* stored) {
    SqliteWriter db(novelDatabasePath());
    db.beginTransaction();
    // Two refreshes of one novel at once append each new chapter once: addresses stored
    // meanwhile are skipped inside this transaction.
    const QStringList storedUrls = db.stringValues(
        QStringLiteral("select chapter_url from novel_directory where novel_id=?1"), {novelId});
    QSet<QString> known(storedUrls.begin(), storedUrls.end());
    // After the last stored index, whatever another opening stored meanwhile.
    int32_t next = static_cast<int32_t>(db.integerValue(
        QStringLiteral("select coalesce(max(chapter_index)+1,0) from novel_directory where "
                       "novel_id=?1"),
        {novelId}));
    SqlitePrepared insert(db, kInsertListEntrySql);
    int32_t appended = 0;
    QStringList appendedNames;
    QStringList appendedUrls;
    for (qsizetype i = 0; i < added.names.size() && i < added.urls.size(); ++i) {
        if (known.contains(added.urls[i]))
            continue;
        known.insert(added.urls[i]);
        insert.run({novelId, next + appended, added.names[i], added.urls[i]});
        if (db.rowsChanged() == 0)
            continue;
        ++appended;
        appendedNames.append(added.names[i]);
        appendedUrls.append(added.urls[i]);
    }
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
        QStringLiteral("select chapter_id from novel_chapter where novel_id=?1 and is_download<>0"),
        {novelId});
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
                           "chapter_count) values(?1,-1,?2,(select count(*) from novel_directory "
                           "where novel_id=?1)) on conflict(novel_id) do update set "
                           "read_time=excluded.read_time"),
            {novelId, nowMs()});
}

void recordReading(int32_t novelId, int32_t chapterIndex) {
    SqliteWriter db(novelDatabasePath());
    db.exec(QStringLiteral("insert into reading_progress(novel_id,chapter_index,read_time,"
                           "chapter_count) values(?1,?2,?3,(select count(*) from novel_directory "
                           "where novel_id=?1)) on conflict(novel_id) do update set "
                           "chapter_index=excluded.chapter_index,read_time=excluded.read_time,"
                           "chapter_count=excluded.chapter_count"),
            {novelId, chapterIndex, nowMs()});
}

void recordReadingPlace(int32_t novelId, int32_t chapterIndex, int32_t position) {
    SqliteWriter db(novelDatabasePath());
    db.exec(QStringLiteral("insert or replace into reading_place(novel_id,chapter_index,position) "
                           "values(?1,?2,?3)"),
            {novelId, chapterIndex, int64_t{std::clamp(position, 0, 10000)}});
}

int32_t readingPlace(int32_t novelId, int32_t chapterIndex) {
    SqliteDatabase db(novelDatabasePath());
    if (!db.tableExists(QStringLiteral("reading_place")))
        return 0;
    auto table = db.query(QStringLiteral("select position from reading_place where novel_id=?1 "
                                         "and chapter_index=?2"),
                          {novelId, chapterIndex});
    return table->atEnd() ? 0 : static_cast<int32_t>(table->fieldAsInteger(0));
}

int32_t lastReadChapter(int32_t novelId) {
    SqliteDatabase db(novelDatabasePath());
    auto table = db.query(
        QStringLiteral("select chapter_index from reading_progress where novel_id=?1"), {novelId});
    return table->atEnd() ? -1 : static_cast<int32_t>(table->fieldAsInteger(0));
}

QString ShelfEntry::sourceMark() const {
    // A list too short to trust is no unreachable site: the mark names the reason.
    if (failedChecks >= 3)
        return QStringLiteral("目标站") +
               (failure.isEmpty() ? QStringLiteral("无法读取") : failure);
    if (otherChapters > 0 && total > 0 && otherChapters > total)
        return QStringLiteral("其他站有更新");
    return QString();
}

QList<ShelfEntry> bookshelf(bool withCounts) {
    QList<ShelfEntry> shelf;
    {
        SqliteDatabase db(ruleDatabasePath());
        // A novel left for the same novel on another site is shown as that one's other site,
        // while that one is recorded.
        const bool switched = db.tableExists(QStringLiteral("novel_switch"));
        // A library another account keeps at an older layout lacks the failure reasons.
        const QString reasons = layoutVersion(ruleDatabasePath()) >= 9
                                    ? QStringLiteral("coalesce(s.failure,''),"
                                                     "coalesce(s.failure_text,'')")
                                    : QStringLiteral("'',''");
        auto table = db.query(
            switched
                ? QStringLiteral("select r.id,r.target_site,r.novel_name,r.novel_author,"
                                 "r.latest_chapter,r.info_page_url,coalesce(s.failed_checks,0),"
                                 "coalesce(s.other_site,''),coalesce(s.other_chapters,0),%1 "
                                 "from latest_read r left join novel_source_state s on "
                                 "s.novel_id=r.id where r.id not in (select w.novel_id from "
                                 "novel_switch w join latest_read t on t.id=w.moved_to)")
                      .arg(reasons)
                : QStringLiteral("select id,target_site,novel_name,novel_author,"
                                 "latest_chapter,info_page_url,0,'',0,'','' from latest_read"));
        for (; !table->atEnd(); table->next()) {
            ShelfEntry entry;
            entry.novelId = static_cast<int32_t>(table->fieldAsInteger(0));
            entry.siteName = table->fieldAsString(1);
            entry.novelName = table->fieldAsString(2);
            entry.author = table->fieldAsString(3);
            entry.latestChapter = table->fieldAsString(4);
            entry.infoPageUrl = table->fieldAsString(5);
            entry.failedChecks = static_cast<int32_t>(table->fieldAsInteger(6));
            entry.otherSite = table->fieldAsString(7);
            entry.otherChapters = static_cast<int32_t>(table->fieldAsInteger(8));
            entry.failure = table->fieldAsString(9);
            entry.failureText = table->fieldAsString(10);
            shelf.append(entry);
        }
        if (switched) {
            QHash<int32_t, ShelfEntry*> byId;
            for (ShelfEntry& entry : shelf)
                byId.insert(entry.novelId, &entry);
            for (auto left =
                     db.query(QStringLiteral("select w.moved_to,r.target_site from "
                                             "novel_switch w join latest_read r on "
                                             "r.id=w.novel_id order by w.switched_at desc"));
                 !left->atEnd(); left->next()) {
                if (ShelfEntry* entry = byId.value(static_cast<int32_t>(left->fieldAsInteger(0))))
                    entry->sitesLeft.append(left->fieldAsString(1));
            }
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

bool isRecordedNovel(int32_t novelId) {
    SqliteDatabase db(ruleDatabasePath());
    return db.integerValue(QStringLiteral("select count(*) from latest_read where id=?1"),
                           {novelId}) > 0;
}

void removeRecentRead(int32_t novelId) {
    SqliteWriter db(ruleDatabasePath());
    db.exec(QStringLiteral("delete from latest_read where id=?1"), {novelId});
}

void removeNovelRows(int32_t novelId) {
    // A crash before this leaves rows under an id no novel gets again: they are never shown.
    SqliteWriter db(novelDatabasePath());
    db.beginTransaction();
    for (const char* table : {"novel_directory", "novel_chapter", "novel_source",
                              "reading_progress", "chapter_list_seen", "reading_place"})
        db.exec(QStringLiteral("delete from %1 where novel_id=?1").arg(QLatin1String(table)),
                {novelId});
    db.commit();
}

} // namespace zvrd
