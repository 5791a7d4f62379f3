// workers: opening a novel: recorded among the recent reads, its chapter list taken from the
// store (then compared with the site's for new chapters) or the site (and stored), the table of
// contents shown, and every chapter not stored yet downloaded in the background.
#pragma once

#include "core/NovelRecords.h"
#include "rules/RuleSet.h"
#include "workers/WindowSurface.h"
#include "workers/Worker.h"

#include <atomic>
#include <functional>
#include <memory>

namespace zvrd {

// The status text when the information page gave no name (site down, too slow, an anti-bot page).
inline const QString kInfoPageUnreadable = QStringLiteral("无法从目标站读取小说信息，请稍后重试。");

// The last status text of a bulk download that did not store every chapter.
QString downloadIncompleteText(int stored, int failed);

class OpenNovelWorker : public Worker {
    Q_OBJECT
public:
    // Called with the chapter index and the number of chapters in flight after each start of the
    // bulk download (for tests).
    using BulkObserver = std::function<void(int32_t chapterIndex, int inFlight)>;

    // Loads the rules and picks the one named siteName on the caller's thread, then starts.
    // With fetchInfoPage the information page at novel.infoPageUrl is read first, on
    // the worker's thread (a novel not opened before).
    OpenNovelWorker(const NovelInfo& novel, const QString& siteName,
                    std::shared_ptr<WindowSurface> surface, bool fetchInfoPage = false,
                    Ownership ownership = Ownership::Detached, BulkObserver bulkObserver = {});

    // Bulk download: at most this many chapters of a novel in flight, starts at least the pause
    // apart, the next start as soon as one ends.
    static constexpr int kWindowSize = 20;
    static constexpr int kStartPauseMs = 50;

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
    // Appends the chapters the site's list has and the stored one lacks, shows the table of
    // contents again and says how many came; a list that cannot be read, or is less than half
    // the stored one, changes nothing.
    void refreshChapterList(int32_t novelId, const QString& bookDir, ChapterList* list);
    void bulkDownload(int32_t novelId, const QString& bookDir, const ChapterList& list,
                      const QList<int32_t>& missing);

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

// Held while one worker of this process downloads a novel's chapters, so a second opening of the
// same novel does not fetch every chapter a second time.
class DownloadClaim {
public:
    // Null when the novel is claimed already.
    static std::unique_ptr<DownloadClaim> take(int32_t novelId);
    ~DownloadClaim();
    DownloadClaim(const DownloadClaim&) = delete;
    DownloadClaim& operator=(const DownloadClaim&) = delete;

private:
    explicit DownloadClaim(int32_t novelId) : m_novelId(novelId) {}
    int32_t m_novelId;
};

} // namespace zvrd
