#include "workers/OpenNovelWorker.h"

#include "core/DataFolder.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "workers/ChapterWorker.h"

#include <chrono>
#include <thread>
#include <vector>

namespace zvrd {

OpenNovelWorker::OpenNovelWorker(const NovelInfo& novel, const QString& siteName,
                                 std::shared_ptr<WindowSurface> surface, bool fetchInfoPage,
                                 Ownership ownership, std::function<void(int)> bulkObserver)
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

void OpenNovelWorker::run() {
    const uint32_t start = tickCount();
    if (m_fetchInfoPage)
        m_novel = parseInfoPage(m_novel.infoPageUrl, m_rule);
    const QString& site = m_rule.siteName;
    const QString& name = m_novel.name;

    if (!recordRecentRead())
        return;
    const int32_t novelId = recentReadId(site, name);
    if (novelId == -1) {
        report(QStringLiteral("无法从数据库读取小说信息，请检查zvrd.db文件。"));
        return;
    }

    ChapterList list;
    if (hasChapterList(novelId)) {
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
    }

    const QString page =
        renderDirectoryPage(novelId, list.names, name, site, m_rule.siteUrl, m_novel.infoPageUrl);
    const QString bookDir = bookFolder(site, name);
    if (!writePage(page, bookDir, QStringLiteral("directory_page.htm"))) {
        report(QStringLiteral("无法向本地磁盘写入小说目录页面，任务中止！。"));
        m_surface->showResultList();
        return;
    }
    m_surface->navigatePageView(bookDir + QStringLiteral("directory_page.htm"));
    report(QStringLiteral("成功提取到小说目录，共有 %1 个章节， 用时 %2 秒。")
               .arg(list.count)
               .arg(roundedSeconds(tickCount() - start)));

    // Second pass over the records.
    if (!recordRecentRead())
        return;
    if (!hasChapterList(novelId))
        storeChapterList(novelId, list);

    if (hasChapters(novelId))
        return; // the bulk download runs only while no chapter row of the novel exists
    bulkDownload(novelId, bookDir, list);
}

void OpenNovelWorker::bulkDownload(int32_t novelId, const QString& bookDir,
                                   const ChapterList& list) {
    report(QStringLiteral("开始下载小说章节……"));
    const int32_t ruleId = m_rule.id.toInt();
    std::vector<std::unique_ptr<ChapterWorker>> batch;
    batch.reserve(kBatchSize);
    auto waitForSlots = [&] {
        for (auto& worker : batch)
            worker->join();
        batch.clear();
        if (m_bulkObserver)
            m_bulkObserver(-1);
    };
    for (int32_t j = 0; j < list.count; ++j) {
        report(QStringLiteral("正在下载章节「%1」……").arg(list.names[j]));
        // The 50 ms count from this start, so the time spent starting is not added to them.
        const auto nextStart =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartPauseMs);
        batch.push_back(std::make_unique<ChapterWorker>(ruleId, novelId, j, bookDir, m_novel.name,
                                                        list.names[j], list.urls[j], false,
                                                        m_surface, Ownership::Held));
        if (m_bulkObserver)
            m_bulkObserver(j);
        if ((j + 1) % kBatchSize == 0) {
            waitForSlots();
            sleepMs(kStartPauseMs); // a whole pause after a batch
        } else {
            std::this_thread::sleep_until(nextStart);
        }
    }
    if (!batch.empty())
        waitForSlots();
    report(QStringLiteral("所有章节已下载完成"));
}

} // namespace zvrd
