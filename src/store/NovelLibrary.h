// store: the novel library (recent reads in zvrd.db, chapter lists and chapters in novel_info.db).
// Every function opens its own connection in dataFolder() and closes it before returning;
// failures leave as SqliteException.
#pragma once

#include "core/NovelRecords.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

namespace zvrd {

QString ruleDatabasePath();  // dataFolder() + "zvrd.db"
QString novelDatabasePath(); // dataFolder() + "novel_info.db"

class SqliteDatabase;
// While one lives, an idle connection to each database file stays open. SQLite tears the
// write-ahead log down whenever the last connection to a file closes and builds it again at the
// next opening; in a loop of short queries (an update check, a bulk download) that cost more
// than the queries.
class KeepDatabasesOpen {
public:
    KeepDatabasesOpen();
    ~KeepDatabasesOpen();
    KeepDatabasesOpen(const KeepDatabasesOpen&) = delete;
    KeepDatabasesOpen& operator=(const KeepDatabasesOpen&) = delete;

private:
    std::vector<std::unique_ptr<SqliteDatabase>> m_kept;
};

// Writes wait for other writers of this process (lockForWriting) and check-then-insert is one
// statement, so opening one novel twice at once leaves one record, one list, one row per chapter.
bool hasRecentRead(const QString& siteName, const QString& novelName);
// True when the novel is recorded (now or before); false for an empty name.
bool addRecentRead(const QString& siteName, const QString& novelName, const QString& author,
                   const QString& latestChapter, const QString& infoPageUrl);
int32_t recentReadId(const QString& siteName, const QString& novelName);
NovelInfo recentReadInfo(const QString& siteName, const QString& novelName);
// The site and name of a recorded novel; both empty when the id is not recorded.
struct RecentReadName {
    QString siteName;
    QString novelName;
};
RecentReadName recentReadName(int32_t novelId);

bool hasChapterList(int32_t novelId);
bool addChapterListItem(int32_t novelId, int32_t chapterIndex, const QString& chapterName,
                        const QString& chapterUrl);
// Stores a whole chapter list in one transaction: all of it or nothing. True when the novel has
// every entry afterwards (also when another opening stored them first).
bool addChapterList(int32_t novelId, const ChapterList& directory);
ChapterList loadChapterList(int32_t novelId);
// One entry of a stored chapter list; both empty when there is none at that index.
struct ChapterEntry {
    QString name;
    QString url;
};
ChapterEntry chapterEntry(int32_t novelId, int32_t chapterIndex);
int32_t chapterCount(int32_t novelId);

bool hasChapters(int32_t novelId);
// Stores one chapter's outcome; a failure (isDownload 0) never replaces a downloaded chapter.
bool saveChapter(int32_t novelId, int32_t chapterIndex, ChapterKind kind, int32_t isDownload,
                 const QString& content);
// True when the chapter is stored (a failed attempt is not).
bool isChapterDownloaded(int32_t novelId, int32_t chapterIndex);
// A stored chapter's row; found false when the chapter has none.
struct StoredChapter {
    bool found = false;
    ChapterKind kind = ChapterKind::Failed;
    QString content;
};
StoredChapter storedChapter(int32_t novelId, int32_t chapterIndex);
// Every downloaded chapter of a novel, ascending, without the text of text chapters (a picture
// chapter's content is its file list, which is short).
struct DownloadedChapter {
    int32_t index = 0;
    ChapterKind kind = ChapterKind::Text;
    QString pictures;
};
QList<DownloadedChapter> downloadedChapters(int32_t novelId);
// The stored text chapters of a novel in index order, read through one statement (one read
// transaction: what is read is one moment of the library, whatever a download stores meanwhile).
class StoredTextReader {
public:
    explicit StoredTextReader(int32_t novelId);
    ~StoredTextReader();
    StoredTextReader(const StoredTextReader&) = delete;
    StoredTextReader& operator=(const StoredTextReader&) = delete;
    // The stored HTML of a chapter; asked in increasing order, an earlier one is read on its own.
    QString html(int32_t index);

private:
    struct Rows;
    std::unique_ptr<Rows> m_rows;
    int32_t m_novelId;
};

// The address a novel's chapter list is read from again (the novel_source table).
void setDirectoryPageUrl(int32_t novelId, const QString& url);
QString directoryPageUrl(int32_t novelId);
// What the last check of a novel's list found to hold nothing the stored list lacks: the list
// page as it came (with the rule that read it), and the addresses it gave, as fingerprints.
struct ListSeen {
    QString page;
    QString list;
};
// A fingerprint of bytes, for telling "the same as last time" quickly; not for security.
QString fingerprintOf(QByteArrayView bytes);
// The fingerprint of a list's addresses in their order.
QString chapterListFingerprint(const ChapterList& list);

// What checking a novel's list needs from the library, read in one query: the stored count, the
// list address, and what the last check saw, with the stored count it left.
struct StoredListState {
    int32_t count = 0;
    QString directoryPageUrl;
    ListSeen seen;
    int32_t seenCount = -1;
    // A site list of this page or list fingerprint cannot hold a chapter the stored list lacks.
    bool pageSeen(const QString& fingerprint) const { return matches(seen.page, fingerprint); }
    bool listSeen(const QString& fingerprint) const { return matches(seen.list, fingerprint); }

private:
    bool matches(const QString& seenValue, const QString& fingerprint) const {
        return seenCount == count && !seenValue.isEmpty() && seenValue == fingerprint;
    }
};
StoredListState storedListState(int32_t novelId);
// Remembers that the stored list, as it is now, holds every chapter of the site's list seen, so
// that the next check of an unchanged page or list need not compare them again.
void rememberListSeen(int32_t novelId, const ListSeen& seen);
// The chapters of the site's list whose address the stored list does not have, in site order.
ChapterList newChapters(const ChapterList& stored, const ChapterList& site);
// The stored chapters at indexes 0 .. urls.size() - 1 take these addresses (a site that moved its
// chapters to new ones); index, name and stored text stay. One transaction.
void moveChapterAddresses(int32_t novelId, const QStringList& urls);
// Appends chapters after the last stored index, in one transaction; stored rows keep their index
// and id; with seen, the site list they came from is remembered in the same transaction (see
// rememberListSeen). With stored (the caller's copy of the stored list), it is the stored list
// afterwards. Returns how many were added.
int32_t appendChapters(int32_t novelId, const ChapterList& added, const ListSeen* seen = nullptr,
                       ChapterList* stored = nullptr);

// The indexes below count whose chapter is not downloaded (no row, or a failed one), ascending.
QList<int32_t> chaptersToDownload(int32_t novelId, int32_t count);

// Reading progress (the reading_progress table): the last chapter read, when the novel was last
// opened or read, and how many chapters its list had when a chapter was last read, so that the
// bookshelf can count the chapters that came since.
void recordOpening(int32_t novelId);
void recordReading(int32_t novelId, int32_t chapterIndex);
// Where in a chapter the reader was, in ten thousandths of its text (0: its top); one place per
// novel, that of the chapter read last.
void recordReadingPlace(int32_t novelId, int32_t chapterIndex, int32_t position);
int32_t readingPlace(int32_t novelId, int32_t chapterIndex);
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
    QStringList sitesLeft;    // sites the reader left for this one (换源), the latest first
    int32_t failedChecks = 0; // update checks in a row that could not read its site
    QString failure;          // why the last one failed, short (目录过短, 无法读取, ...)
    QString failureText;      // and as its status said it
    QString otherSite;        // a site seen listing more of it, with how many
    int32_t otherChapters = 0;
    // "目标站" and the reason after three failed checks (目标站无法读取, 目标站目录过短),
    // "其他站有更新" when another site lists more chapters than the library holds (with
    // counts); empty otherwise.
    QString sourceMark() const;
};
// Every recorded novel, the most recently opened or read first; without counts, stored, total
// and newChapters stay 0 (counting every library's chapters is most of what it costs).
QList<ShelfEntry> bookshelf(bool withCounts = true);

// True while the novel is recorded; a download of a novel removed meanwhile (by this program or
// another) stops at this.
bool isRecordedNovel(int32_t novelId);
// Removing a novel goes in this order: its latest_read row first (so that any download of it,
// in any process, stops storing), then every row of it in novel_info.db, in one transaction.
// Its id is never handed out again (latest_read ids only grow).
void removeRecentRead(int32_t novelId);
void removeNovelRows(int32_t novelId);

} // namespace zvrd
