#include "workers/OpenNovelWorker.h"

#include "core/DataFolder.h"
#include "net/WebFetch.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/ChapterWorker.h"

#include <QSet>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace zvrd {

OpenNovelWorker::OpenNovelWorker(const NovelInfo& novel, const QString& siteName,
                                 std::shared_ptr<WindowSurface> surface, bool fetchInfoPage,
                                 Ownership ownership, BulkObserver bulkObserver)
    : Worker(ownership), m_novel(novel), m_siteName(siteName), m_fetchInfoPage(fetchInfoPage),
      m_surface(std::move(surface)), m_bulkObserver(std::move(bulkObserver)) {
    m_rule = findRuleBySiteName(loadSiteRules(), m_siteName);
    start();
}

void OpenNovelWorker::report(const QString& text) {
    m_statusText = text;
    m_surface->setStatusText(m_statusText);
}

bool OpenNovelWorker::recordRecentRead() {
    const QString& site = m_rule.siteName;
    const QString& name = m_novel.name;
    if (hasRecentRead(site, name))
        return true;
    report(QStringLiteral("正在从目标站「%1」提取小说目录，请稍候……").arg(site));
    if (addRecentRead(site, name, m_novel.author, m_novel.latestChapter, m_novel.infoPageUrl))
        return true;
    report(QStringLiteral("无法保存小说信息到数据库，请检查zvrd.db文件。"));
    return false;
}

void OpenNovelWorker::storeChapterList(int32_t novelId, const ChapterList& list) {
    // All of the list or nothing: a half-stored list would be read back as the whole list.
    addChapterList(novelId, list);
}

void OpenNovelWorker::reportError(const QString& text) {
    m_surface->setProgress(0, 0, 0);
    report(errorStatusText(text));
}

void OpenNovelWorker::run() {
    const uint32_t start = tickCount();
    if (m_fetchInfoPage)
        m_novel = parseInfoPage(m_novel.infoPageUrl, m_rule);
    const QString& site = m_rule.siteName;
    const QString& name = m_novel.name;
    if (name.isEmpty()) {
        // Site down, too slow or an anti-bot page: nothing is stored for a page without a name.
        report(kInfoPageUnreadable);
        m_surface->showResultList();
        return;
    }

    if (!recordRecentRead())
        return;
    const int32_t novelId = recentReadId(site, name);
    if (novelId == -1) {
        report(QStringLiteral("无法从数据库读取小说信息，请检查zvrd.db文件。"));
        return;
    }

    ChapterList list;
    const bool storedBefore = hasChapterList(novelId);
    if (storedBefore) {
        list = loadChapterList(novelId);
        if (list.count == 0) {
            report(QStringLiteral("无法数据库中提取小说目录，任务已中止！"));
            m_surface->showResultList();
            return;
        }
    } else {
        QString directoryUrl = m_novel.directoryPageUrl;
        // A novel opened before whose list was never stored: its stored record has no list
        // address, so the information page is read again for it.
        if (directoryUrl.isEmpty() && !m_novel.infoPageUrl.isEmpty())
            directoryUrl = parseInfoPage(m_novel.infoPageUrl, m_rule).directoryPageUrl;
        list = parseDirectoryPage(directoryUrl, m_rule);
        if (list.count == 0) {
            report(QStringLiteral("无法从小说目录页提取小说目录，任务已中止！"));
            m_surface->showResultList();
            return;
        }
        storeChapterList(novelId, list);
        setDirectoryPageUrl(novelId, directoryUrl);
    }

    const QString bookDir = bookFolder(site, name);
    if (!writeDirectoryPage(novelId, m_rule, m_novel, list, bookDir)) {
        report(QStringLiteral("无法向本地磁盘写入小说目录页面，任务中止！。"));
        m_surface->showResultList();
        return;
    }
    m_surface->navigatePageView(bookDir + QStringLiteral("directory_page.htm"));
    m_opened = true;
    report(QStringLiteral("成功提取到小说目录，共有 %1 个章节， 用时 %2 秒。")
               .arg(list.count)
               .arg(roundedSeconds(tickCount() - start)));

    // Second pass over the records.
    if (!recordRecentRead())
        return;
    if (!hasChapterList(novelId))
        storeChapterList(novelId, list);
    recordOpening(novelId);

    const std::unique_ptr<DownloadClaim> claim = DownloadClaim::take(novelId);
    if (!claim)
        return; // this novel is already being refreshed and downloaded in this process
    // A serial goes on: the stored list, shown at once, is compared with the site's.
    if (storedBefore) {
        const RefreshOutcome outcome = refreshChapterList(novelId, m_rule, m_novel, &list);
        if (outcome.kind == RefreshOutcome::Kind::Added &&
            writeDirectoryPage(novelId, m_rule, m_novel, list, bookDir))
            m_surface->reloadPageView(bookDir + QStringLiteral("directory_page.htm"));
        report(refreshStatusText(outcome));
    }

    // Every chapter not stored yet (never tried, failed, or cut short by a quit or a crash) is
    // downloaded, at every opening, until the novel is complete.
    const QList<int32_t> missing = chaptersToDownload(novelId, list.count);
    m_notStored = static_cast<int>(missing.size());
    if (missing.isEmpty())
        return;
    m_notStored = downloadChapters(m_rule, novelId, name, bookDir, list, missing, *m_surface,
                                   *claim, true, m_bulkObserver);
    // The table of contents no longer shows the chapters that came down as missing.
    if (!claim->cancelled() && writeDirectoryPage(novelId, m_rule, m_novel, list, bookDir))
        m_surface->reloadPageView(bookDir + QStringLiteral("directory_page.htm"));
}

QString refreshStatusText(const RefreshOutcome& outcome) {
    switch (outcome.kind) {
    case RefreshOutcome::Kind::NoStoredList:
        return QStringLiteral("本书还没有目录，打开它即可读取。");
    case RefreshOutcome::Kind::Unreachable:
        return QStringLiteral("无法从目标站读取最新目录，目录未更新。");
    case RefreshOutcome::Kind::TooShort:
        return QStringLiteral("目标站目录只有 %1 个章节，不足已存 %2 个章节的一半，目录未更新。")
            .arg(outcome.siteCount)
            .arg(outcome.storedCount);
    case RefreshOutcome::Kind::UpToDate:
        return QStringLiteral("目录已是最新，没有新章节。");
    case RefreshOutcome::Kind::Added:
        break;
    }
    return QStringLiteral("目录已更新，发现 %1 个新章节。").arg(outcome.added);
}

RefreshOutcome refreshChapterList(int32_t novelId, const SiteRule& rule, const NovelInfo& novel,
                                  ChapterList* list) {
    RefreshOutcome outcome;
    const StoredListState state = storedListState(novelId);
    outcome.storedCount = state.count;
    if (state.count == 0) {
        outcome.kind = RefreshOutcome::Kind::NoStoredList;
        return outcome;
    }
    QString url = state.directoryPageUrl;
    if (url.isEmpty())
        url = novel.directoryPageUrl;
    if (url.isEmpty() && !novel.infoPageUrl.isEmpty())
        url = parseInfoPage(novel.infoPageUrl, rule).directoryPageUrl;
    if (url.isEmpty())
        return outcome;
    const FetchedBytes page = fetchPageBytes(url);
    if (page.status != 200 || page.body.isEmpty())
        return outcome;
    // Most checks of a library find most list pages as they were: those need not even be read.
    ListSeen seen;
    seen.page = fingerprintOf((rule.charset + QChar(0) + rule.directoryRegion + QChar(0) +
                               rule.directoryChapterNameAndUrl + QChar(0) + url + QChar(0))
                                  .toUtf8() +
                              page.body);
    if (state.pageSeen(seen.page)) {
        outcome.kind = RefreshOutcome::Kind::UpToDate;
        outcome.siteCount = state.count;
        return outcome;
    }
    const ChapterList site = extractDirectoryPage(decodeBody(page.body, rule.charset), url, rule);
    outcome.siteCount = site.count;
    if (site.count == 0)
        return outcome;
    // A list far shorter than the stored one is a broken rule or an anti-bot page, not the
    // novel: nothing changes.
    if (site.count * 2 < state.count) {
        outcome.kind = RefreshOutcome::Kind::TooShort;
        return outcome;
    }
    if (url != state.directoryPageUrl)
        setDirectoryPageUrl(novelId, url);
    outcome.kind = RefreshOutcome::Kind::UpToDate;
    seen.list = chapterListFingerprint(site);
    const bool listSeen = state.listSeen(seen.list);
    ChapterList stored;
    ChapterList& compared = list ? *list : stored;
    if (!listSeen && compared.count != state.count)
        compared = loadChapterList(novelId);
    const ChapterList added = listSeen ? ChapterList() : newChapters(compared, site);
    if (added.count > 0)
        outcome.added = appendChapters(novelId, added, &seen, &compared);
    else
        rememberListSeen(novelId, seen);
    if (outcome.added > 0)
        outcome.kind = RefreshOutcome::Kind::Added;
    return outcome;
}

bool writeDirectoryPage(int32_t novelId, const SiteRule& rule, const NovelInfo& novel,
                        const ChapterList& list, const QString& bookDir) {
    ReadingMarks marks;
    marks.lastRead = lastReadChapter(novelId);
    const QList<int32_t> missing = chaptersToDownload(novelId, list.count);
    marks.notStored = QSet<int32_t>(missing.begin(), missing.end());
    const QString page = renderDirectoryPage(novelId, list.names, novel.name, rule.siteName,
                                             rule.siteUrl, novel.infoPageUrl, marks);
    return writePage(page, bookDir, QStringLiteral("directory_page.htm"));
}

int downloadChapters(const SiteRule& rule, int32_t novelId, const QString& novelName,
                     const QString& bookDir, const ChapterList& list, const QList<int32_t>& missing,
                     WindowSurface& surface, const DownloadClaim& claim, bool showProgress,
                     const BulkObserver& observer) {
    auto report = [&](const QString& text) {
        if (showProgress)
            surface.setStatusText(text);
    };
    auto progress = [&](int stored, int failed, int total) {
        if (showProgress)
            surface.setProgress(stored, failed, total);
    };
    // The chapter workers report through this surface; they share it with the caller.
    std::shared_ptr<WindowSurface> workerSurface(std::shared_ptr<void>(), &surface);
    const KeepDatabasesOpen keep;
    report(QStringLiteral("开始下载小说章节……"));
    const int32_t ruleId = rule.id.toInt();
    const int total = list.count;
    const int storedBefore = total - static_cast<int>(missing.size());

    // The sliding window: at most kWindowSize chapters in flight, starts at least kStartPauseMs
    // apart, the next start as soon as a slot is free.
    std::mutex lock;
    std::condition_variable changed;
    int inFlight = 0;
    int stored = 0;
    int failed = 0;
    std::vector<int32_t> finished;
    std::map<int32_t, std::unique_ptr<ChapterWorker>> running;
    auto onDone = [&](int32_t index, ChapterOutcome outcome) {
        std::lock_guard guard(lock);
        --inFlight;
        if (outcome == ChapterOutcome::Failed)
            ++failed;
        else
            ++stored;
        finished.push_back(index);
        changed.notify_all();
    };
    // Deletes the workers that have ended; each is joined first (it is past its last step).
    auto reap = [&](std::unique_lock<std::mutex>& guard) {
        std::vector<int32_t> done;
        done.swap(finished);
        const int storedNow = stored;
        const int failedNow = failed;
        guard.unlock();
        for (const int32_t index : done) {
            auto it = running.find(index);
            if (it == running.end())
                continue;
            it->second->join();
            running.erase(it);
        }
        if (!done.empty())
            progress(storedBefore + storedNow, failedNow, total);
        guard.lock();
    };

    progress(storedBefore, 0, total);
    auto nextStart = std::chrono::steady_clock::now();
    for (const int32_t j : missing) {
        if (claim.cancelled())
            break; // the novel is being removed
        {
            std::unique_lock guard(lock);
            for (;;) {
                reap(guard);
                if (inFlight < OpenNovelWorker::kWindowSize)
                    break;
                changed.wait(guard, [&] { return !finished.empty(); });
            }
        }
        std::this_thread::sleep_until(nextStart);
        report(QStringLiteral("正在下载章节「%1」……").arg(list.names[j]));
        nextStart = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(OpenNovelWorker::kStartPauseMs);
        int inFlightNow = 0;
        {
            std::lock_guard guard(lock);
            inFlightNow = ++inFlight;
        }
        running[j] = std::make_unique<ChapterWorker>(
            ruleId, novelId, j, bookDir, novelName, list.names[j], list.urls[j], false,
            workerSurface, Worker::Ownership::Held, onDone);
        if (observer)
            observer(j, inFlightNow);
    }
    {
        std::unique_lock guard(lock);
        for (;;) {
            reap(guard);
            // Workers that ended while reap() ran unlocked are still to be counted.
            if (inFlight == 0 && finished.empty())
                break;
            changed.wait(guard, [&] { return !finished.empty(); });
        }
    }
    running.clear();

    // The outcome as the store has it: a chapter whose row could not be written counts as failed.
    int notStored = failed;
    try {
        notStored = static_cast<int>(chaptersToDownload(novelId, total).size());
    } catch (const SqliteException&) {
        // A full disk can refuse even this read: then the workers' own count stands.
    }
    progress(0, 0, 0);
    if (claim.cancelled())
        return notStored;
    if (notStored == 0)
        report(QStringLiteral("所有章节已下载完成"));
    else
        report(downloadIncompleteText(total - notStored, notStored));
    return notStored;
}

QString downloadIncompleteText(int stored, int failed) {
    return QStringLiteral("已存储 %1 个章节，%2 个章节下载失败，重新打开本书可继续下载。")
        .arg(stored)
        .arg(failed);
}

// ---- one bulk download per novel and process -----------------------------------------------

namespace {

std::mutex gClaimsLock;
std::condition_variable gClaimReleased;
std::set<int32_t> gClaims;
std::multiset<int32_t> gCancelled; // one entry per waiting takeOver

} // namespace

std::unique_ptr<DownloadClaim> DownloadClaim::take(int32_t novelId) {
    std::lock_guard guard(gClaimsLock);
    if (!gClaims.insert(novelId).second)
        return nullptr;
    return std::unique_ptr<DownloadClaim>(new DownloadClaim(novelId));
}

std::unique_ptr<DownloadClaim> DownloadClaim::takeOver(int32_t novelId) {
    std::unique_lock guard(gClaimsLock);
    const auto waiting = gCancelled.insert(novelId);
    gClaimReleased.wait(guard, [&] { return gClaims.count(novelId) == 0; });
    gCancelled.erase(waiting);
    gClaims.insert(novelId);
    return std::unique_ptr<DownloadClaim>(new DownloadClaim(novelId));
}

bool DownloadClaim::cancelled() const {
    std::lock_guard guard(gClaimsLock);
    return gCancelled.count(m_novelId) > 0;
}

DownloadClaim::~DownloadClaim() {
    std::lock_guard guard(gClaimsLock);
    gClaims.erase(m_novelId);
    gClaimReleased.notify_all();
}

} // namespace zvrd
