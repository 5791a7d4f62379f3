// store: the novel library (recent reads in zvrd.db, chapter lists and chapters in novel_info.db).
// Every function opens its own connection in dataFolder() and closes it before returning;
// failures leave as SqliteException.
#pragma once

#include "core/NovelRecords.h"

#include <QString>
#include <cstdint>

namespace zvrd {

QString ruleDatabasePath();  // dataFolder() + "zvrd.db"
QString novelDatabasePath(); // dataFolder() + "novel_info.db"

// Creates every missing table (and its indexes) of zvrd.db and novel_info.db; existing tables and
// rows are left as they are. Called once at program start.
void createMissingTables();

bool hasRecentRead(const QString& siteName, const QString& novelName);
bool addRecentRead(const QString& siteName, const QString& novelName, const QString& author,
                   const QString& latestChapter, const QString& infoPageUrl);
int32_t recentReadId(const QString& siteName, const QString& novelName);
NovelInfo recentReadInfo(const QString& siteName, const QString& novelName);

bool hasChapterList(int32_t novelId);
bool addChapterListItem(int32_t novelId, int32_t chapterIndex, const QString& chapterName,
                        const QString& chapterUrl);
// Stores a whole chapter list in one transaction: all of it or nothing.
bool addChapterList(int32_t novelId, const ChapterList& directory);
ChapterList loadChapterList(int32_t novelId);
int32_t chapterCount(int32_t novelId);

bool hasChapters(int32_t novelId);
bool saveChapter(int32_t novelId, int32_t chapterIndex, int32_t chapterType, int32_t isDownload,
                 const QString& content);

} // namespace zvrd
