#include "workers/DirectoryThread.h"

#include "core/AppFolder.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "workers/ChapterThread.h"

#include <chrono>
#include <thread>
#include <vector>

namespace zvrd {

TDirectoryThread::TDirectoryThread(const TInfoPageData& InfoPageData, const QString& strSiteName,
                                   std::shared_ptr<WindowSurface> surface, bool fetchInfoPage,
                                   Ownership ownership, std::function<void(int)> bulkObserver)
    : TWorkerThread(ownership), _InfoPageData(InfoPageData), _strSiteName(strSiteName),
      fFetchInfoPage(fetchInfoPage), fSurface(std::move(surface)),
      fObserver(std::move(bulkObserver)) {
    _RuleInfo = FindRuleBySiteName(LoadRuleInfoList(), _strSiteName);
    Begin();
}

void TDirectoryThread::Report(const QString& text) {
    _strStatusText = text;
    fSurface->SetStatusText(_strStatusText);
}

bool TDirectoryThread::RecordRecentRead() {
    const QString& site = _RuleInfo.strSiteName;
    const QString& name = _InfoPageData.strNovelName;
    if (HasLatestRead(site, name))
        return true;
    Report(QStringLiteral("正在从目标站「%1」提取小说目录，请稍候……").arg(site));
    if (AddLatestRead(site, name, _InfoPageData.strNovelAuthor, _InfoPageData.strLatestChapter,
                      _InfoPageData.strInfoPageUrl))
        return true;
    Report(QStringLiteral("无法保存小说信息到数据库，请检查zvrd.db文件。"));
    return false;
}

void TDirectoryThread::StoreDirectory(int32_t novelId, const TDirectoryPageData& list) {
    // All of the list or nothing: a half-stored list would be read back as the whole list.
    AddDirectory(novelId, list);
}

void TDirectoryThread::Execute() {
    const uint32_t start = TickCount();
    if (fFetchInfoPage)
        _InfoPageData = ParseInfoPage(_InfoPageData.strInfoPageUrl, _RuleInfo);
    const QString& site = _RuleInfo.strSiteName;
    const QString& name = _InfoPageData.strNovelName;

    if (!RecordRecentRead())
        return;
    const int32_t novelId = GetLatestReadId(site, name);
    if (novelId == -1) {
        Report(QStringLiteral("无法从数据库读取小说信息，请检查zvrd.db文件。"));
        return;
    }

    TDirectoryPageData list;
    if (HasDirectory(novelId)) {
        list = LoadDirectory(novelId);
        if (list.Num == 0) {
            Report(QStringLiteral("无法数据库中提取小说目录，任务已中止！"));
            fSurface->ShowResultList();
            return;
        }
    } else {
        QString directoryUrl = _InfoPageData.strDirectoryPageUrl;
        // A novel opened before whose list was never stored: its stored record has no list
        // address, so the information page is read again for it.
        if (directoryUrl.isEmpty() && !_InfoPageData.strInfoPageUrl.isEmpty())
            directoryUrl =
                ParseInfoPage(_InfoPageData.strInfoPageUrl, _RuleInfo).strDirectoryPageUrl;
        list = ParseDirectoryPage(directoryUrl, _RuleInfo);
        if (list.Num == 0) {
            Report(QStringLiteral("无法从小说目录页提取小说目录，任务已中止！"));
            fSurface->ShowResultList();
            return;
        }
        StoreDirectory(novelId, list);
    }

    const QString page = RenderDirectoryPage(novelId, list.slChapterNameList, name, site,
                                             _RuleInfo.strSiteUrl, _InfoPageData.strInfoPageUrl);
    const QString bookDir = BookFolder(site, name);
    if (!WritePage(page, bookDir, QStringLiteral("directory_page.htm"))) {
        Report(QStringLiteral("无法向本地磁盘写入小说目录页面，任务中止！。"));
        fSurface->ShowResultList();
        return;
    }
    fSurface->NavigatePageView(bookDir + QStringLiteral("directory_page.htm"));
    Report(QStringLiteral("成功提取到小说目录，共有 %1 个章节， 用时 %2 秒。")
               .arg(list.Num)
               .arg(RoundedSeconds(TickCount() - start)));

    // Second pass over the records.
    if (!RecordRecentRead())
        return;
    if (!HasDirectory(novelId))
        StoreDirectory(novelId, list);

    if (HasChapters(novelId))
        return; // the bulk download runs only while no chapter row of the novel exists
    BulkDownload(novelId, bookDir, list);
}

void TDirectoryThread::BulkDownload(int32_t novelId, const QString& bookDir,
                                    const TDirectoryPageData& list) {
    Report(QStringLiteral("开始下载小说章节……"));
    const int32_t ruleId = _RuleInfo.strId.toInt();
    std::vector<std::unique_ptr<TChapterThread>> batch;
    batch.reserve(kBatchSize);
    auto waitForSlots = [&] {
        for (auto& worker : batch)
            worker->Join();
        batch.clear();
        if (fObserver)
            fObserver(-1);
    };
    for (int32_t j = 0; j < list.Num; ++j) {
        Report(QStringLiteral("正在下载章节「%1」……").arg(list.slChapterNameList[j]));
        // The 50 ms count from this start, so the time spent starting is not added to them.
        const auto nextStart =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartPauseMs);
        batch.push_back(std::make_unique<TChapterThread>(
            ruleId, novelId, j, bookDir, _InfoPageData.strNovelName, list.slChapterNameList[j],
            list.slChapterUrlList[j], false, fSurface, Ownership::Held));
        if (fObserver)
            fObserver(j);
        if ((j + 1) % kBatchSize == 0) {
            waitForSlots();
            SleepMs(kStartPauseMs); // a whole pause after a batch
        } else {
            std::this_thread::sleep_until(nextStart);
        }
    }
    if (!batch.empty())
        waitForSlots();
    Report(QStringLiteral("所有章节已下载完成"));
}

} // namespace zvrd
