#include "store/NovelLibrary.h"

#include "core/DataFolder.h"
#include "store/SqliteTable.h"

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

void createMissingTables() {
    {
        SqliteDatabase db(ruleDatabasePath());
        if (!db.tableExists(QStringLiteral("site_rule"))) {
            db.exec(QStringLiteral(
                "CREATE TABLE site_rule (id INTEGER PRIMARY KEY, site_name TEXT, site_url TEXT, "
                "charset TEXT, search_page_url_format TEXT, search_page_result_regional TEXT, "
                "search_page_novel_name TEXT, search_page_novel_author TEXT, "
                "search_page_latest_chapter TEXT, search_page_info_page_url TEXT, "
                "info_page_novel_sort TEXT, info_page_novel_name TEXT, "
                "info_page_novel_author TEXT, info_page_novel_state TEXT, "
                "info_page_novel_intro TEXT, info_page_latest_chapter TEXT, "
                "info_page_directory_page_url TEXT, directory_page_regional TEXT, "
                "directory_page_chapter_name_and_url TEXT, chapter_page_chapter_content TEXT, "
                "replace_rule TEXT)"));
        }
        if (!db.tableExists(QStringLiteral("latest_read"))) {
            db.beginTransaction();
            db.exec(QStringLiteral(
                "CREATE TABLE latest_read (id INTEGER PRIMARY KEY, target_site TEXT, "
                "novel_name TEXT, novel_author TEXT, latest_chapter TEXT, info_page_url TEXT)"));
            db.exec(QStringLiteral("CREATE INDEX latest_read_site_name ON "
                                   "latest_read(target_site, novel_name)"));
            db.commit();
        }
    }
    SqliteDatabase db(novelDatabasePath());
    if (!db.tableExists(QStringLiteral("novel_directory"))) {
        db.beginTransaction();
        db.exec(QStringLiteral(
            "CREATE TABLE novel_directory (id INTEGER PRIMARY KEY, novel_id INTEGER, "
            "chapter_index INTEGER, chapter_name TEXT, chapter_url TEXT)"));
        db.exec(QStringLiteral("CREATE INDEX novel_directory_novel_chapter ON "
                               "novel_directory(novel_id, chapter_index)"));
        db.commit();
    }
    if (!db.tableExists(QStringLiteral("novel_chapter"))) {
        db.beginTransaction();
        db.exec(
            QStringLiteral("CREATE TABLE novel_chapter (id INTEGER PRIMARY KEY, novel_id INTEGER, "
                           "chapter_id INTEGER, chapter_type INTEGER, is_download INTEGER, "
                           "chapter_content TEXT)"));
        db.exec(QStringLiteral("CREATE INDEX novel_chapter_novel_chapter ON "
                               "novel_chapter(novel_id, chapter_id)"));
        db.commit();
    }
}

bool hasRecentRead(const QString& siteName, const QString& novelName) {
    SqliteDatabase db(ruleDatabasePath());
    bindSiteAndName(db, siteName, novelName);
    auto table = db.query(
        QStringLiteral("select id from latest_read where target_site=:site and novel_name=:name"));
    return !table->atEnd();
}

bool addRecentRead(const QString& siteName, const QString& novelName, const QString& author,
                   const QString& latestChapter, const QString& infoPageUrl) {
    SqliteDatabase db(ruleDatabasePath());
    bindSiteAndName(db, siteName, novelName);
    db.addParamText(QStringLiteral(":author"), author);
    db.addParamText(QStringLiteral(":latest"), latestChapter);
    db.addParamText(QStringLiteral(":url"), infoPageUrl);
    db.exec(QStringLiteral("insert into latest_read(target_site,novel_name,novel_author,"
                           "latest_chapter,info_page_url) "
                           "values(:site,:name,:author,:latest,:url)"));
    return db.rowsChanged() > 0;
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
    SqliteDatabase db(novelDatabasePath());
    db.addParamText(QStringLiteral(":name"), chapterName);
    db.addParamText(QStringLiteral(":url"), chapterUrl);
    db.exec(QStringLiteral("insert into novel_directory(novel_id,chapter_index,chapter_name,"
                           "chapter_url) values(") +
            decimal(novelId) + QLatin1Char(',') + decimal(chapterIndex) +
            QStringLiteral(",:name,:url)"));
    return db.rowsChanged() > 0;
}

bool addChapterList(int32_t novelId, const ChapterList& directory) {
    const qsizetype count =
        std::min<qsizetype>({static_cast<qsizetype>(std::max(directory.count, 0)),
                             directory.names.size(), directory.urls.size()});
    SqliteDatabase db(novelDatabasePath());
    db.beginTransaction(); // rolled back by the connection's destructor if anything below fails
    SqliteQuery insert = db.prepare(QStringLiteral(
        "insert into novel_directory(novel_id,chapter_index,chapter_name,chapter_url) "
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
    SqliteDatabase db(novelDatabasePath());
    const QString where = QStringLiteral(" where novel_id=") + decimal(novelId) +
                          QStringLiteral(" and chapter_id=") + decimal(chapterIndex);
    const bool exists = !db.query(QStringLiteral("select id from novel_chapter") + where)->atEnd();
    // The content is bound, so it is stored exactly as given, quotes included.
    db.addParamText(QStringLiteral(":content"), content);
    if (!exists) {
        db.exec(QStringLiteral("insert into novel_chapter(novel_id,chapter_id,chapter_type,"
                               "is_download,chapter_content) values(") +
                decimal(novelId) + QLatin1Char(',') + decimal(chapterIndex) + QLatin1Char(',') +
                decimal(chapterType) + QLatin1Char(',') + decimal(isDownload) +
                QStringLiteral(",:content)"));
    } else {
        db.exec(QStringLiteral("update novel_chapter set chapter_type=") + decimal(chapterType) +
                QStringLiteral(",is_download=") + decimal(isDownload) +
                QStringLiteral(",chapter_content=:content") + where);
    }
    return db.rowsChanged() > 0;
}

} // namespace zvrd
