#include "workers/LibraryWorkers.h"

#include "workers/SiteCheck.h"

#include "pages/PageRenderer.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/NovelSwitch.h"
#include "workers/BoundedRunner.h"
#include "workers/ChapterWorker.h"
#include "workers/OpenNovelWorker.h"

#include <QDateTime>
#include <QHash>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace zvrd {
namespace {

NovelUpdate checkNovel(const ShelfEntry& entry, const SiteRule& rule, WindowSurface& surface,
                       bool downloadNew, const std::shared_ptr<SiteAnswers>& answers) {
    NovelUpdate update;
    update.siteName = entry.siteName;
    update.novelName = entry.novelName;
    if (rule.siteName.isEmpty()) {
        update.failed = true;
        update.failure = QStringLiteral("没有规则");
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
    if (outcome.kind == RefreshOutcome::Kind::Unreachable)
        update.failure = QStringLiteral("无法读取");
    else if (outcome.kind == RefreshOutcome::Kind::TooShort)
        update.failure = QStringLiteral("目录过短");
    update.failed = !update.failure.isEmpty();
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
                                        missing, surface, *claim, false, {}, answers);
    update.deferred = answers->givenUp() && update.notStored > 0;
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

    // One job per site, its novels one after another, so that a site never gets two checks of
    // this run at once; the sites with the most novels first, so that the sites end together.
    std::sort(sites.begin(), sites.end(), [&](const QString& a, const QString& b) {
        return novelsOf.value(a).size() > novelsOf.value(b).size();
    });
    std::mutex countLock;
    int checked = 0;
    int failed = 0;
    // A novel whose site failed its last health check says so: the likely cause of what this
    // check finds.
    const QHash<QString, SiteCheckResult> health = lastChecks(rules);
    auto checkSite = [&](const QString& site) {
        const SiteRule rule = findRuleBySiteName(rules, site);
        const auto siteHealth = health.constFind(rule.id);
        // Shared by the site's novels: one that stops answering is not asked for every chapter
        // of every novel in this run.
        const auto answers = std::make_shared<SiteAnswers>();
        for (const qsizetype i : novelsOf.value(site)) {
            NovelUpdate update;
            try {
                update = checkNovel(shelf[i], rule, *m_surface, m_downloadNew, answers);
            } catch (...) {
                update.siteName = shelf[i].siteName;
                update.novelName = shelf[i].novelName;
                update.failed = true;
                update.error = true;
                update.status = errorStatusText(currentExceptionText());
            }
            if (!update.error)
                recordUpdateCheck(shelf[i].novelId, update.failure, update.status);
            if (siteHealth != health.constEnd() && !siteHealth->ok()) {
                update.siteCheck = siteHealth->status();
                update.status += siteCheckNote(*siteHealth);
            }
            {
                std::lock_guard results(m_lock);
                m_results[i] = update;
            }
            std::lock_guard counts(countLock);
            ++checked;
            failed += update.failed ? 1 : 0;
            // Under the lock, so that the counts shown only grow.
            m_surface->setProgress(checked - failed, failed, total);
        }
    };
    {
        BoundedRunner runner(kParallelSites, std::chrono::milliseconds(kStartPauseMs));
        for (const QString& site : sites)
            runner.run([&checkSite, site] { checkSite(site); });
    }
    m_surface->setProgress(0, 0, 0);
    m_surface->setStatusText(updateSummaryText(results()));
}

QString siteCheckNote(const SiteCheckResult& check) {
    return QStringLiteral("（目标站 %1 检查：%2）")
        .arg(QDateTime::fromSecsSinceEpoch(check.checkedAt).toString(QStringLiteral("MM-dd")),
             check.status());
}

QString updateSummaryText(const QList<NovelUpdate>& results) {
    int updated = 0;
    int stored = 0;
    int notStored = 0;
    int errors = 0;
    int deferred = 0;
    int unhealthy = 0;
    for (const NovelUpdate& update : results) {
        deferred += update.deferred ? 1 : 0;
        // What was stored counts, not what the lists announced.
        updated += update.storedNew() > 0 ? 1 : 0;
        stored += update.storedNew();
        notStored += update.notStored;
        // A database or file error is no unreachable site: it is named on its own.
        errors += update.error ? 1 : 0;
        unhealthy += update.siteCheck.isEmpty() ? 0 : 1;
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
    // Each reason with its novels, so that a list too short to trust is not taken for a dead
    // site.
    for (const auto& [failure, says] :
         {std::pair{QStringLiteral("无法读取"), QStringLiteral("，%1 本小说的目标站无法读取")},
          std::pair{QStringLiteral("目录过短"),
                    QStringLiteral("，%1 本小说的目标站目录不足已存章节的一半（目录未更新）")},
          std::pair{QStringLiteral("没有规则"), QStringLiteral("，%1 本小说没有目标站规则")}}) {
        QStringList names;
        for (const NovelUpdate& update : results) {
            if (update.failed && !update.error && update.failure == failure)
                names << QStringLiteral("《%1》").arg(update.novelName);
        }
        if (names.isEmpty())
            continue;
        text += says.arg(names.size()) + QStringLiteral("：") +
                names.mid(0, 3).join(QStringLiteral("、")) +
                (names.size() > 3 ? QStringLiteral("等") : QString());
    }
    if (errors > 0)
        text += QStringLiteral("，%1 本小说检查出错").arg(errors);
    if (unhealthy > 0)
        text += QStringLiteral("，%1 本小说的目标站上次检查未通过").arg(unhealthy);
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
        // A refusal for missing chapters is a question for the window first (see done).
        const QString status = result.kind == ExportResult::Kind::MissingChapters && done
                                   ? QStringLiteral("《%1》还有 %2 个章节尚未下载。")
                                         .arg(novelName)
                                         .arg(result.missing)
                                   : exportStatusText(result, novelName, options.fileName);
        return WindowTask::Outcome{status, [done, result] {
                                       if (done)
                                           done(result);
                                   }};
    });
}

} // namespace zvrd
