#include "workers/LibraryWorkers.h"

#include "pages/PageRenderer.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "workers/ChapterWorker.h"
#include "workers/OpenNovelWorker.h"

#include <QHash>

#include <chrono>
#include <condition_variable>
#include <thread>
#include <vector>

namespace zvrd {
namespace {

// One lane of the update check: takes the next site and checks its novels one after another,
// so a site never gets two requests of the check at once.
class SiteLane : public Worker {
public:
    explicit SiteLane(std::function<void()> work)
        : Worker(Ownership::Held), m_work(std::move(work)) {
        start();
    }

protected:
    void run() override { m_work(); }

private:
    std::function<void()> m_work;
};

NovelUpdate checkNovel(const ShelfEntry& entry, const SiteRule& rule, WindowSurface& surface,
                       bool downloadNew, const std::shared_ptr<SiteTimeouts>& timeouts) {
    NovelUpdate update;
    update.siteName = entry.siteName;
    update.novelName = entry.novelName;
    if (rule.siteName.isEmpty()) {
        update.failed = true;
        update.status = QStringLiteral("没有目标站「%1」的规则。").arg(entry.siteName);
        return update;
    }
    const std::unique_ptr<DownloadClaim> claim = DownloadClaim::take(entry.novelId);
    if (!claim) {
        update.status = QStringLiteral("本书正在打开，已跳过。");
        return update;
    }
    // The shelf already holds what the library knows of the novel.
    NovelInfo novel;
    novel.name = entry.novelName;
    novel.author = entry.author;
    novel.latestChapter = entry.latestChapter;
    novel.infoPageUrl = entry.infoPageUrl;
    ChapterList list; // loaded by the refresh only when it has to compare the lists
    const RefreshOutcome outcome = refreshChapterList(entry.novelId, rule, novel, &list);
    update.added = outcome.added;
    update.failed = outcome.kind == RefreshOutcome::Kind::Unreachable ||
                    outcome.kind == RefreshOutcome::Kind::TooShort;
    update.status = refreshStatusText(outcome);
    if (update.failed || outcome.kind == RefreshOutcome::Kind::NoStoredList)
        return update;
    const bool added = outcome.kind == RefreshOutcome::Kind::Added;
    // Chapters of earlier downloads that never came down are fetched now as well.
    const QList<int32_t> missing =
        downloadNew ? chaptersToDownload(entry.novelId, outcome.storedCount + outcome.added)
                    : QList<int32_t>();
    if (!added && missing.isEmpty())
        return update;
    if (list.count != outcome.storedCount + outcome.added)
        list = loadChapterList(entry.novelId);
    const QString bookDir = bookFolder(entry.siteName, entry.novelName);
    if (added && writeDirectoryPage(entry.novelId, rule, novel, list, bookDir))
        surface.reloadPageView(bookDir + QStringLiteral("directory_page.htm"));
    if (missing.isEmpty())
        return update;
    update.notStored = downloadChapters(rule, entry.novelId, entry.novelName, bookDir, list,
                                        missing, surface, *claim, false, {}, timeouts);
    update.deferred = timeouts->givenUp() && update.notStored > 0;
    if (update.deferred)
        update.status += siteStoppedAnsweringText(update.notStored);
    else if (update.notStored > 0)
        update.status +=
            QStringLiteral("%1 个章节未能下载，下次打开本书时再试。").arg(update.notStored);
    if (!claim->cancelled() && writeDirectoryPage(entry.novelId, rule, novel, list, bookDir))
        surface.reloadPageView(bookDir + QStringLiteral("directory_page.htm"));
    return update;
}

} // namespace

LibraryUpdateWorker::LibraryUpdateWorker(std::shared_ptr<WindowSurface> surface,
                                         Ownership ownership, const QString& siteName,
                                         const QString& novelName, bool downloadNew)
    : Worker(ownership), m_surface(std::move(surface)), m_siteName(siteName),
      m_novelName(novelName), m_downloadNew(downloadNew) {
    start();
}

QList<NovelUpdate> LibraryUpdateWorker::results() const {
    std::lock_guard guard(m_lock);
    return m_results;
}

void LibraryUpdateWorker::reportError(const QString& text) {
    m_surface->setProgress(0, 0, 0);
    m_surface->setStatusText(errorStatusText(text));
}

void LibraryUpdateWorker::run() {
    const KeepDatabasesOpen keep;
    const SiteRuleList rules = loadSiteRules();
    QList<ShelfEntry> shelf;
    for (const ShelfEntry& entry : bookshelf(false)) {
        if (m_siteName.isEmpty() ||
            (entry.siteName == m_siteName && entry.novelName == m_novelName))
            shelf.append(entry);
    }
    // The sites in the order their first novel comes on the shelf.
    QStringList sites;
    QHash<QString, QList<qsizetype>> novelsOf;
    for (qsizetype i = 0; i < shelf.size(); ++i) {
        if (!novelsOf.contains(shelf[i].siteName))
            sites.append(shelf[i].siteName);
        novelsOf[shelf[i].siteName].append(i);
    }
    {
        std::lock_guard guard(m_lock);
        m_results.clear();
        m_results.resize(shelf.size());
    }
    const int total = static_cast<int>(shelf.size());
    m_surface->setStatusText(QStringLiteral("正在检查 %1 本小说的更新……").arg(total));
    m_surface->setProgress(0, 0, total);

    // One queue per site. A lane takes the free site with the most novels left, so that no
    // site gets two requests at once and the sites end together.
    struct SiteQueue {
        SiteRule rule;
        QList<qsizetype> novels;
        qsizetype next = 0;
        bool busy = false;
        std::chrono::steady_clock::time_point nextStart;
        // Shared by the site's novels: one that stops answering is not asked for every chapter
        // of every novel in this run.
        std::shared_ptr<SiteTimeouts> timeouts;
        qsizetype left() const { return novels.size() - next; }
    };
    std::vector<SiteQueue> queues;
    for (const QString& site : sites)
        queues.push_back({findRuleBySiteName(rules, site),
                          novelsOf.value(site),
                          0,
                          false,
                          {},
                          std::make_shared<SiteTimeouts>()});
    std::mutex laneLock;
    std::condition_variable siteFreed;
    int checked = 0;
    int failed = 0;
    auto lane = [&] {
        std::unique_lock guard(laneLock);
        for (;;) {
            SiteQueue* queue = nullptr;
            bool anyLeft = false;
            for (SiteQueue& candidate : queues) {
                if (candidate.left() == 0)
                    continue;
                anyLeft = true;
                if (!candidate.busy && (!queue || candidate.left() > queue->left()))
                    queue = &candidate;
            }
            if (!anyLeft)
                return;
            if (!queue) {
                siteFreed.wait(guard);
                continue;
            }
            queue->busy = true;
            const qsizetype i = queue->novels[queue->next++];
            const auto startAt = queue->nextStart;
            guard.unlock();
            std::this_thread::sleep_until(startAt);
            const auto started = std::chrono::steady_clock::now();
            NovelUpdate update;
            try {
                update =
                    checkNovel(shelf[i], queue->rule, *m_surface, m_downloadNew, queue->timeouts);
            } catch (...) {
                update.siteName = shelf[i].siteName;
                update.novelName = shelf[i].novelName;
                update.failed = true;
                update.error = true;
                update.status = errorStatusText(currentExceptionText());
            }
            {
                std::lock_guard results(m_lock);
                m_results[i] = update;
            }
            guard.lock();
            queue->nextStart = started + std::chrono::milliseconds(kStartPauseMs);
            queue->busy = false;
            ++checked;
            failed += update.failed ? 1 : 0;
            const int checkedNow = checked;
            const int failedNow = failed;
            siteFreed.notify_all();
            guard.unlock();
            m_surface->setProgress(checkedNow - failedNow, failedNow, total);
            guard.lock();
        }
    };
    {
        std::vector<std::unique_ptr<SiteLane>> lanes;
        const qsizetype count = std::min<qsizetype>(kParallelSites, sites.size());
        for (qsizetype i = 0; i < count; ++i)
            lanes.push_back(std::make_unique<SiteLane>(lane));
        for (const auto& l : lanes)
            l->join();
    }
    m_surface->setProgress(0, 0, 0);
    m_surface->setStatusText(updateSummaryText(results()));
}

QString updateSummaryText(const QList<NovelUpdate>& results) {
    int updated = 0;
    int stored = 0;
    int notStored = 0;
    int failed = 0;
    int errors = 0;
    int deferred = 0;
    for (const NovelUpdate& update : results) {
        deferred += update.deferred ? 1 : 0;
        // What was stored counts, not what the lists announced.
        updated += update.storedNew() > 0 ? 1 : 0;
        stored += update.storedNew();
        notStored += update.notStored;
        // A database or file error is no unreachable site: it is named on its own.
        failed += update.failed && !update.error ? 1 : 0;
        errors += update.error ? 1 : 0;
    }
    QString text = updated == 0 && notStored == 0
                       ? QStringLiteral("检查更新完成：%1 本小说都没有新章节").arg(results.size())
                       : QStringLiteral("检查更新完成：%1 本小说有更新，共 %2 个新章节")
                             .arg(updated)
                             .arg(stored);
    if (notStored > 0)
        text += QStringLiteral("，%1 个章节未能下载").arg(notStored);
    if (deferred > 0)
        text +=
            QStringLiteral("（%1 本小说的目标站多次没有应答，留待下次打开时下载）").arg(deferred);
    if (failed > 0)
        text += QStringLiteral("，%1 本小说的目标站无法读取").arg(failed);
    if (errors > 0)
        text += QStringLiteral("，%1 本小说检查出错").arg(errors);
    return text + QStringLiteral("。");
}

namespace {

// Long enough for the chapters another program has in flight to end (a slow site's time-out
// included); past it the rows go anyway, and what it stores later stays under an id no novel
// gets again.
constexpr int kOtherProgramWaitMs = 90000;

} // namespace

bool removeNovel(const QString& siteName, const QString& novelName) {
    const int32_t novelId = recentReadId(siteName, novelName);
    if (novelId < 0)
        return false;
    // Held while the rows go, so no download of this novel starts or writes meanwhile. A
    // download in another program stops by itself once the record is gone (it checks before
    // every write); its last writes are waited for, then everything else of the novel goes.
    const std::unique_ptr<DownloadClaim> claim = DownloadClaim::takeOver(novelId);
    removeRecentRead(novelId);
    claim->waitForOtherProgram(kOtherProgramWaitMs);
    removeNovelRows(novelId);
    removeBookFolder(siteName, novelName);
    return true;
}

WindowTask::WindowTask(std::shared_ptr<WindowSurface> surface, std::function<Outcome()> work,
                       Ownership ownership)
    : Worker(ownership), m_surface(std::move(surface)), m_work(std::move(work)) {
    start();
}

void WindowTask::run() {
    const Outcome outcome = m_work();
    m_surface->setStatusText(outcome.status);
    if (outcome.then)
        m_surface->runOnWindowThread(outcome.then);
}

void WindowTask::reportError(const QString& text) {
    m_surface->setStatusText(errorStatusText(text));
}

void removeNovelInBackground(const QString& siteName, const QString& novelName,
                             std::shared_ptr<WindowSurface> surface,
                             std::function<void(bool)> done) {
    new WindowTask(std::move(surface), [=] {
        const bool removed = removeNovel(siteName, novelName);
        return WindowTask::Outcome{removed ? QStringLiteral("已删除《%1》。").arg(novelName)
                                           : QStringLiteral("《%1》不在书架上。").arg(novelName),
                                   [done, removed] {
                                       if (done)
                                           done(removed);
                                   }};
    });
}

void exportNovelInBackground(const QString& siteName, const QString& novelName,
                             const ExportOptions& options, std::shared_ptr<WindowSurface> surface,
                             std::function<void(const ExportResult&)> done) {
    new WindowTask(surface, [=] {
        surface->setStatusText(QStringLiteral("正在导出《%1》……").arg(novelName));
        const ExportResult result = exportNovel(siteName, novelName, options);
        return WindowTask::Outcome{exportStatusText(result, novelName, options.fileName),
                                   [done, result] {
                                       if (done)
                                           done(result);
                                   }};
    });
}

} // namespace zvrd
