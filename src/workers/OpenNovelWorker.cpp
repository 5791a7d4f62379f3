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
namespace {

const QString kNovelRemoved = QStringLiteral("本书已被移除，下载已停止。");

} // namespace

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
        list = parseDirectoryPage(directoryUrl, m_rule, m_novel.infoPageUrl);
        if (list.count == 0) {
            report(QStringLiteral("无法从小说目录页提取小说目录，任务已中止！"));
            m_surface->showResultList();
            return;
        }
        storeChapterList(novelId, list);
        // Where the list moved to is where a later check reads it.
        setDirectoryPageUrl(novelId, list.pageUrl.isEmpty() ? directoryUrl : list.pageUrl);
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

    bool elsewhere = false;
    std::unique_ptr<DownloadClaim> claim = DownloadClaim::take(novelId, &elsewhere);
    if (!claim && elsewhere) {
        // One download per novel, also across programs: this one goes on when the other ends.
        report(QStringLiteral("本书正在另一个程序中下载，等它完成后继续……"));
        claim = DownloadClaim::takeWhenFree(novelId);
    }
    if (!claim)
        return; // this novel is already being refreshed and downloaded in this process
    if (!isRecordedNovel(novelId)) {
        report(kNovelRemoved);
        return;
    }
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
    if (claim->cancelled() && !isRecordedNovel(novelId)) {
        report(kNovelRemoved);
        return;
    }
    // The table of contents no longer shows the chapters that came down as missing.
    if (!claim->cancelled() && writeDirectoryPage(novelId, m_rule, m_novel, list, bookDir))
        m_surface->reloadPageView(bookDir + QStringLiteral("directory_page.htm"));
}

} // namespace zvrd
