// store: the novel library (recent reads in zvrd.db, chapter lists and chapters in novel_info.db).
// Every function opens its own connection in AppFolder() and closes it before returning;
// failures leave as ESQLiteException.
#pragma once

#include "core/NovelRecords.h"

#include <QString>
#include <cstdint>

namespace zvrd {

QString RuleDatabasePath();  // AppFolder() + "zvrd.db"
QString NovelDatabasePath(); // AppFolder() + "novel_info.db"

// Creates every missing table (and its indexes) of zvrd.db and novel_info.db; existing tables and
// rows are left as they are. Called once at program start.
void CreateMissingTables();

bool HasLatestRead(const QString& siteName, const QString& novelName);
bool AddLatestRead(const QString& siteName, const QString& novelName, const QString& author,
                   const QString& latestChapter, const QString& infoPageUrl);
int32_t GetLatestReadId(const QString& siteName, const QString& novelName);
TInfoPageData GetLatestReadInfo(const QString& siteName, const QString& novelName);

bool HasDirectory(int32_t novelId);
bool AddDirectoryItem(int32_t novelId, int32_t chapterIndex, const QString& chapterName,
                      const QString& chapterUrl);
// Stores a whole chapter list in one transaction: all of it or nothing.
bool AddDirectory(int32_t novelId, const TDirectoryPageData& directory);
TDirectoryPageData LoadDirectory(int32_t novelId);
int32_t GetDirectoryCount(int32_t novelId);

bool HasChapters(int32_t novelId);
bool SaveChapter(int32_t novelId, int32_t chapterIndex, int32_t chapterType, int32_t isDownload,
                 const QString& content);

} // namespace zvrd
