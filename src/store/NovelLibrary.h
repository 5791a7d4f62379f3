// store: the novel library (recent reads in zvrd.db, chapter lists and chapters in novel_info.db).
// Every function opens its own connection in dataFolder() and closes it before returning;
// failures leave as SqliteException.
#pragma once

#include "core/NovelRecords.h"

#include <QList>
#include <QString>
#include <cstdint>

namespace zvrd {

QString ruleDatabasePath();  // dataFolder() + "zvrd.db"
QString novelDatabasePath(); // dataFolder() + "novel_info.db"

// Creates every missing table of zvrd.db and novel_info.db, switches both to write-ahead logging
// and makes sure each novel, chapter-list entry and chapter has one row (unique keys; duplicates
// left by older versions are removed first, in the same transaction). Existing tables and their
// other rows are left as they are. Called once at program start.
void createMissingTables();

// Writes wait for other writers of this process (lockForWriting) and check-then-insert is one
// statement, so opening one novel twice at once leaves one record, one list, one row per chapter.
bool hasRecentRead(const QString& siteName, const QString& novelName);
// True when the novel is recorded (now or before); false for an empty name.
bool addRecentRead(const QString& siteName, const QString& novelName, const QString& author,
                   const QString& latestChapter, const QString& infoPageUrl);
int32_t recentReadId(const QString& siteName, const QString& novelName);
NovelInfo recentReadInfo(const QString& siteName, const QString& novelName);

bool hasChapterList(int32_t novelId);
bool addChapterListItem(int32_t novelId, int32_t chapterIndex, const QString& chapterName,
                        const QString& chapterUrl);
// Stores a whole chapter list in one transaction: all of it or nothing. True when the novel has
// every entry afterwards (also when another opening stored them first).
bool addChapterList(int32_t novelId, const ChapterList& directory);
ChapterList loadChapterList(int32_t novelId);
int32_t chapterCount(int32_t novelId);

bool hasChapters(int32_t novelId);
// Stores one chapter's outcome; a failure (isDownload 0) never replaces a downloaded chapter.
bool saveChapter(int32_t novelId, int32_t chapterIndex, int32_t chapterType, int32_t isDownload,
                 const QString& content);
// The address a novel's chapter list is read from again (the novel_source table).
void setDirectoryPageUrl(int32_t novelId, const QString& url);
QString directoryPageUrl(int32_t novelId);
// The chapters of the site's list whose address the stored list does not have, in site order.
ChapterList newChapters(const ChapterList& stored, const ChapterList& site);
// Appends chapters after the last stored index, in one transaction; stored rows keep their index
// and id. Returns how many were added.
int32_t appendChapters(int32_t novelId, const ChapterList& added);

// The indexes below count whose chapter is not downloaded (no row, or a failed one), ascending.
QList<int32_t> chaptersToDownload(int32_t novelId, int32_t count);

// Reading progress (the reading_progress table): the last chapter read, when the novel was last
// opened or read, and how many chapters its list had when a chapter was last read, so that the
// bookshelf can count the chapters that came since.
void recordOpening(int32_t novelId);
void recordReading(int32_t novelId, int32_t chapterIndex);
// -1 when no chapter of the novel was read yet.
int32_t lastReadChapter(int32_t novelId);

// One novel on the bookshelf.
struct ShelfEntry {
    int32_t novelId = -1;
    QString siteName;
    QString novelName;
    QString author;
    QString latestChapter;
    QString infoPageUrl;
    int32_t stored = 0;      // chapters downloaded
    int32_t total = 0;       // chapters in the list
    int32_t newChapters = 0; // chapters added since a chapter was last read (or the first opening)
    int32_t lastRead = -1;   // index of the last chapter read, -1 for none
    QString lastReadName;
};
// Every recorded novel, the most recently opened or read first.
QList<ShelfEntry> bookshelf();

// Removes every row of the novel: chapter list, chapters, list address and reading progress from
// novel_info.db in one transaction, then its latest_read row in another.
void removeNovelRows(int32_t novelId);

} // namespace zvrd
