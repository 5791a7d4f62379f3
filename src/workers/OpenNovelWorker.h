// workers: opening a novel: recorded among the recent reads, its chapter list taken from the
// store (then compared with the site's for new chapters) or the site (and stored), the table of
// contents shown, and every chapter not stored yet downloaded in the background.
#pragma once

#include "core/NovelRecords.h"
#include "rules/RuleSet.h"
#include "workers/WindowSurface.h"
#include "workers/Worker.h"

#include <QLockFile>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace zvrd {

// The status text when the information page gave no name (site down, too slow, an anti-bot page).
inline const QString kInfoPageUnreadable = QStringLiteral("无法从目标站读取小说信息，请稍后重试。");

// Held while one worker of this process refreshes and downloads a novel, so a second opening of
// the same novel does not fetch every chapter a second time, and a removal can stop it first.
class SiteAnswers;

class DownloadClaim {
public:
    // Null when the novel is claimed already, in this process or (then *elsewhere is set)
    // another one.
    static std::unique_ptr<DownloadClaim> take(int32_t novelId, bool* elsewhere = nullptr);
    // Waits for another program's download of the novel to end, then takes the claim; null when
    // the novel is claimed in this process meanwhile, or a removal asks for it.
    static std::unique_ptr<DownloadClaim> takeWhenFree(int32_t novelId);
    // Asks the holder in this process, if any, to stop, waits until it lets go and takes the
    // claim. A holder in another process is waited for by waitForOtherProgram.
    static std::unique_ptr<DownloadClaim> takeOver(int32_t novelId);
    // The novels whose download runs in this process now.
    static QList<int32_t> heldInThisProcess();
    ~DownloadClaim();
    DownloadClaim(const DownloadClaim&) = delete;
    DownloadClaim& operator=(const DownloadClaim&) = delete;

    // True once someone waits in takeOver, or the novel was found removed: the holder stops
    // starting work.
    bool cancelled() const;
    void markRemoved() const { m_removed = true; }
    // Waits up to ms for another program's download of the novel to end (it stops by itself
    // once the novel's record is gone); true when none holds it any more.
    bool waitForOtherProgram(int ms);

private:
    explicit DownloadClaim(int32_t novelId);
    // Null when a thread of this process holds the novel.
    static std::unique_ptr<DownloadClaim> claimInThisProcess(int32_t novelId);
    // The claim across processes: a lock file in the data folder, let go also when its program
    // dies. False when another program holds it.
    bool lockAcrossPrograms(int waitMs);

    int32_t m_novelId;
    std::unique_ptr<QLockFile> m_file;
    bool m_fileHeld = false;
    mutable std::atomic<bool> m_removed{false};
};

// Reading a stored novel's chapter list again.
struct RefreshOutcome {
    enum class Kind { NoStoredList, Unreachable, TooShort, UpToDate, Added };
    Kind kind = Kind::Unreachable;
    int32_t siteCount = 0;
    int32_t storedCount = 0;
    int32_t added = 0;
    int32_t moved = 0; // stored chapters that took the new addresses of a site that moved them
};
QString refreshStatusText(const RefreshOutcome& outcome);

// Appends the chapters the site's list has and the stored one lacks (stored rows keep index and
// id); *list, when given, is the stored list afterwards (one passed empty is filled only when the
// lists had to be compared). A list that cannot be read, or is less
// than half the stored one (a broken rule or an anti-bot page), changes nothing. A site list
// equal to the last one compared is known to hold nothing new without reading the stored list.
RefreshOutcome refreshChapterList(int32_t novelId, const SiteRule& rule, const NovelInfo& novel,
                                  ChapterList* list);

// Writes the table of contents into bookDir, marking the last chapter read and the chapters not
// stored yet; false when it cannot be written.
bool writeDirectoryPage(int32_t novelId, const SiteRule& rule, const NovelInfo& novel,
                        const ChapterList& list, const QString& bookDir);

// Writes the stored novel's table of contents again from what the library holds (in the
// reading script of now); false when the novel or its site is gone or the page cannot be
// written.
bool redrawDirectoryPage(int32_t novelId);

// Downloads the chapters of missing with the bulk download's politeness (see OpenNovelWorker);
// stops starting chapters once the claim is cancelled. With showProgress the status bar follows
// it. Returns how many chapters of the list are not stored afterwards.
using BulkObserver = std::function<void(int32_t chapterIndex, int inFlight)>;
// With answers, a site that stops answering (see SiteAnswers) ends it early: the chapters not
// asked for are left missing, for the next opening; otherwise it has a SiteAnswers of its own.
int downloadChapters(const SiteRule& rule, int32_t novelId, const QString& novelName,
                     const QString& bookDir, const ChapterList& list, const QList<int32_t>& missing,
                     WindowSurface& surface, const DownloadClaim& claim, bool showProgress,
                     const BulkObserver& observer = {}, std::shared_ptr<SiteAnswers> answers = {});
// What a bulk download says of chapters left for the next opening because the site stopped
// answering.
QString siteStoppedAnsweringText(int left);

// The last status text of a bulk download that did not store every chapter.
QString downloadIncompleteText(int stored, int failed);
// The same when the site still refused some chapters after waiting as long as it may ask.
QString siteKeptRefusingText(int stored, int failed);
// How long a bulk download keeps asking for a chapter its site refuses (429, 503) before that
// chapter counts as failed: as long as the longest pause a site may ask for; tests shorten it.
void setRefusalPatience(std::chrono::milliseconds patience);

class OpenNovelWorker : public Worker {
    Q_OBJECT
public:
    // Loads the rules and picks the one named siteName on the caller's thread, then starts.
    // With fetchInfoPage the information page at novel.infoPageUrl is read first, on
    // the worker's thread (a novel not opened before).
    OpenNovelWorker(const NovelInfo& novel, const QString& siteName,
                    std::shared_ptr<WindowSurface> surface, bool fetchInfoPage = false,
                    Ownership ownership = Ownership::Detached, BulkObserver bulkObserver = {});

    // Bulk download: at most this many chapters of a novel in flight (the site's ceiling may be
    // lower; its limiter spaces the starts), the next start as soon as one ends.
    static constexpr int kWindowSize = 20;

    // After join(): whether the table of contents was shown, and how many of its chapters were
    // not stored when the worker ended.
    bool opened() const { return m_opened; }
    int chaptersNotStored() const { return m_notStored; }

protected:
    void run() override;
    void reportError(const QString& text) override;

private:
    void report(const QString& text);
    bool recordRecentRead();
    void storeChapterList(int32_t novelId, const ChapterList& list);

    QString m_statusText;
    SiteRule m_rule;
    NovelInfo m_novel;
    QString m_siteName;
    bool m_fetchInfoPage;
    std::shared_ptr<WindowSurface> m_surface;
    BulkObserver m_bulkObserver;
    std::atomic<bool> m_opened{false};
    std::atomic<int> m_notStored{0};
};

} // namespace zvrd
