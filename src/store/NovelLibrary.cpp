#include "store/NovelLibrary.h"

#include "core/AppFolder.h"
#include "store/SqliteTable.h"

#include <algorithm>

namespace zvrd {
namespace {

// Text values are bound as parameters rather than spliced between double quotes, so a name
// holding a quote, or equal to a column name, is stored and found like any other.
void BindSiteAndName(TSQLiteDatabase& db, const QString& siteName, const QString& novelName) {
    db.AddParamText(QStringLiteral(":site"), siteName);
    db.AddParamText(QStringLiteral(":name"), novelName);
}

QString Num(int32_t value) {
    return QString::number(value);
}

// The count a "select count(*) as column ..." query gives on novel_info.db; 0 without a row.
int64_t CountOf(const QString& sql, const QString& column) {
    TSQLiteDatabase db(NovelDatabasePath());
    auto table = db.GetTable(sql);
    if (table->Eof())
        return 0;
    return table->FieldAsInteger(static_cast<uint32_t>(table->GetFieldIndex(column)));
}

} // namespace

QString RuleDatabasePath() {
    return AppFolder() + QStringLiteral("zvrd.db");
}

QString NovelDatabasePath() {
    return AppFolder() + QStringLiteral("novel_info.db");
}

void CreateMissingTables() {
    {
        TSQLiteDatabase db(RuleDatabasePath());
        if (!db.TableExists(QStringLiteral("site_rule"))) {
            db.ExecSQL(QStringLiteral(
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
        if (!db.TableExists(QStringLiteral("latest_read"))) {
            db.BeginTransaction();
            db.ExecSQL(QStringLiteral(
                "CREATE TABLE latest_read (id INTEGER PRIMARY KEY, target_site TEXT, "
                "novel_name TEXT, novel_author TEXT, latest_chapter TEXT, info_page_url TEXT)"));
            db.ExecSQL(QStringLiteral("CREATE INDEX latest_read_site_name ON "
                                      "latest_read(target_site, novel_name)"));
            db.Commit();
        }
    }
    TSQLiteDatabase db(NovelDatabasePath());
    if (!db.TableExists(QStringLiteral("novel_directory"))) {
        db.BeginTransaction();
        db.ExecSQL(QStringLiteral(
            "CREATE TABLE novel_directory (id INTEGER PRIMARY KEY, novel_id INTEGER, "
            "chapter_index INTEGER, chapter_name TEXT, chapter_url TEXT)"));
        db.ExecSQL(QStringLiteral("CREATE INDEX novel_directory_novel_chapter ON "
                                  "novel_directory(novel_id, chapter_index)"));
        db.Commit();
    }
    if (!db.TableExists(QStringLiteral("novel_chapter"))) {
        db.BeginTransaction();
        db.ExecSQL(
            QStringLiteral("CREATE TABLE novel_chapter (id INTEGER PRIMARY KEY, novel_id INTEGER, "
                           "chapter_id INTEGER, chapter_type INTEGER, is_download INTEGER, "
                           "chapter_content TEXT)"));
        db.ExecSQL(QStringLiteral("CREATE INDEX novel_chapter_novel_chapter ON "
                                  "novel_chapter(novel_id, chapter_id)"));
        db.Commit();
    }
}

bool HasLatestRead(const QString& siteName, const QString& novelName) {
    TSQLiteDatabase db(RuleDatabasePath());
    BindSiteAndName(db, siteName, novelName);
    auto table = db.GetTable(
        QStringLiteral("select id from latest_read where target_site=:site and novel_name=:name"));
    return !table->Eof();
}

bool AddLatestRead(const QString& siteName, const QString& novelName, const QString& author,
                   const QString& latestChapter, const QString& infoPageUrl) {
    TSQLiteDatabase db(RuleDatabasePath());
    BindSiteAndName(db, siteName, novelName);
    db.AddParamText(QStringLiteral(":author"), author);
    db.AddParamText(QStringLiteral(":latest"), latestChapter);
    db.AddParamText(QStringLiteral(":url"), infoPageUrl);
    db.ExecSQL(QStringLiteral("insert into latest_read(target_site,novel_name,novel_author,"
                              "latest_chapter,info_page_url) "
                              "values(:site,:name,:author,:latest,:url)"));
    return db.RowsChanged() > 0;
}

int32_t GetLatestReadId(const QString& siteName, const QString& novelName) {
    TSQLiteDatabase db(RuleDatabasePath());
    BindSiteAndName(db, siteName, novelName);
    auto table = db.GetTable(
        QStringLiteral("select id from latest_read where target_site=:site and novel_name=:name"));
    if (table->Eof())
        return -1;
    return table->FieldAsString(static_cast<uint32_t>(table->GetFieldIndex(QStringLiteral("id"))))
        .toInt();
}

TInfoPageData GetLatestReadInfo(const QString& siteName, const QString& novelName) {
    TInfoPageData info;
    TSQLiteDatabase db(RuleDatabasePath());
    BindSiteAndName(db, siteName, novelName);
    auto table = db.GetTable(
        QStringLiteral("select * from latest_read where target_site=:site and novel_name=:name"));
    if (table->Eof())
        return info;
    auto field = [&](const char* column) {
        return table->FieldAsString(
            static_cast<uint32_t>(table->GetFieldIndex(QLatin1String(column))));
    };
    info.strNovelName = novelName;
    info.strNovelAuthor = field("novel_author");
    info.strLatestChapter = field("latest_chapter");
    info.strInfoPageUrl = field("info_page_url");
    return info;
}

bool HasDirectory(int32_t novelId) {
    TSQLiteDatabase db(NovelDatabasePath());
    auto table = db.GetTable(QStringLiteral("select id from novel_directory where novel_id=") +
                             Num(novelId) + QStringLiteral(" limit 1"));
    return !table->Eof();
}

bool AddDirectoryItem(int32_t novelId, int32_t chapterIndex, const QString& chapterName,
                      const QString& chapterUrl) {
    TSQLiteDatabase db(NovelDatabasePath());
    db.AddParamText(QStringLiteral(":name"), chapterName);
    db.AddParamText(QStringLiteral(":url"), chapterUrl);
    db.ExecSQL(QStringLiteral("insert into novel_directory(novel_id,chapter_index,chapter_name,"
                              "chapter_url) values(") +
               Num(novelId) + QLatin1Char(',') + Num(chapterIndex) +
               QStringLiteral(",:name,:url)"));
    return db.RowsChanged() > 0;
}

bool AddDirectory(int32_t novelId, const TDirectoryPageData& directory) {
    const qsizetype count = std::min<qsizetype>({static_cast<qsizetype>(std::max(directory.Num, 0)),
                                                 directory.slChapterNameList.size(),
                                                 directory.slChapterUrlList.size()});
    TSQLiteDatabase db(NovelDatabasePath());
    db.BeginTransaction(); // rolled back by the connection's destructor if anything below fails
    TSQLiteQuery insert = db.PrepareSQL(QStringLiteral(
        "insert into novel_directory(novel_id,chapter_index,chapter_name,chapter_url) "
        "values(?1,?2,?3,?4)"));
    int64_t stored = 0;
    for (qsizetype i = 0; i < count; ++i) {
        db.BindSQL(insert, 1, novelId);
        db.BindSQL(insert, 2, static_cast<int32_t>(i));
        db.BindSQL(insert, 3, directory.slChapterNameList[i]);
        db.BindSQL(insert, 4, directory.slChapterUrlList[i]);
        db.ExecSQL(insert);
        stored += db.RowsChanged();
    }
    db.ReleaseSQL(insert);
    db.Commit();
    return stored == count;
}

TDirectoryPageData LoadDirectory(int32_t novelId) {
    TDirectoryPageData directory;
    TSQLiteDatabase db(NovelDatabasePath());
    auto table = db.GetTable(
        QStringLiteral("select chapter_name,chapter_url from novel_directory where novel_id=") +
        Num(novelId) + QStringLiteral(" order by chapter_index"));
    if (table->Eof())
        return directory;
    const auto nameCol =
        static_cast<uint32_t>(table->GetFieldIndex(QStringLiteral("chapter_name")));
    const auto urlCol = static_cast<uint32_t>(table->GetFieldIndex(QStringLiteral("chapter_url")));
    directory.slChapterNameList.reserve(table->Count());
    directory.slChapterUrlList.reserve(table->Count());
    while (!table->Eof()) {
        directory.Num += 1;
        directory.slChapterNameList.append(table->FieldAsString(nameCol));
        directory.slChapterUrlList.append(table->FieldAsString(urlCol));
        table->Next();
    }
    return directory;
}

int32_t GetDirectoryCount(int32_t novelId) {
    return static_cast<int32_t>(
        CountOf(QStringLiteral("select count(*) as total from novel_directory where novel_id=") +
                    Num(novelId),
                QStringLiteral("total")));
}

bool HasChapters(int32_t novelId) {
    return CountOf(QStringLiteral(
                       "select count(*) as record_count from novel_chapter where novel_id=") +
                       Num(novelId),
                   QStringLiteral("record_count")) > 0;
}

bool SaveChapter(int32_t novelId, int32_t chapterIndex, int32_t chapterType, int32_t isDownload,
                 const QString& content) {
    TSQLiteDatabase db(NovelDatabasePath());
    const QString where = QStringLiteral(" where novel_id=") + Num(novelId) +
                          QStringLiteral(" and chapter_id=") + Num(chapterIndex);
    const bool exists = !db.GetTable(QStringLiteral("select id from novel_chapter") + where)->Eof();
    // The content is bound, so it is stored exactly as given, quotes included.
    db.AddParamText(QStringLiteral(":content"), content);
    if (!exists) {
        db.ExecSQL(QStringLiteral("insert into novel_chapter(novel_id,chapter_id,chapter_type,"
                                  "is_download,chapter_content) values(") +
                   Num(novelId) + QLatin1Char(',') + Num(chapterIndex) + QLatin1Char(',') +
                   Num(chapterType) + QLatin1Char(',') + Num(isDownload) +
                   QStringLiteral(",:content)"));
    } else {
        db.ExecSQL(QStringLiteral("update novel_chapter set chapter_type=") + Num(chapterType) +
                   QStringLiteral(",is_download=") + Num(isDownload) +
                   QStringLiteral(",chapter_content=:content") + where);
    }
    return db.RowsChanged() > 0;
}

} // namespace zvrd
