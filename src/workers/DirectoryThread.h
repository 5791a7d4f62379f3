// workers: opening a novel: recorded among the recent reads, its chapter list taken from the
// store or the site (and stored), the table of contents shown, and, the first time, every
// chapter downloaded in the background in batches of 20.
#pragma once

#include "core/NovelRecords.h"
#include "rules/RuleSet.h"
#include "workers/WindowSurface.h"
#include "workers/WorkerThread.h"

#include <functional>
#include <memory>

namespace zvrd {

class TDirectoryThread : public TWorkerThread {
    Q_OBJECT
public:
    // Loads the rules and picks the one named strSiteName on the caller's thread, then starts.
    // With fetchInfoPage the information page at InfoPageData.strInfoPageUrl is read first, on
    // the worker's thread (a novel not opened before).
    // bulkObserver (for tests) is called with the chapter index after each bulk-download worker
    // is started and with -1 after each wait for a batch.
    TDirectoryThread(const TInfoPageData& InfoPageData, const QString& strSiteName,
                     std::shared_ptr<WindowSurface> surface, bool fetchInfoPage = false,
                     Ownership ownership = Ownership::Detached,
                     std::function<void(int)> bulkObserver = {});

    // Bulk download: at most this many chapter workers at a time, one started every pause.
    static constexpr int kBatchSize = 20;
    static constexpr int kStartPauseMs = 50;

protected:
    void Execute() override;

private:
    void Report(const QString& text);
    bool RecordRecentRead();
    void StoreDirectory(int32_t novelId, const TDirectoryPageData& list);
    void BulkDownload(int32_t novelId, const QString& bookDir, const TDirectoryPageData& list);

    QString _strStatusText;
    TRuleInfo _RuleInfo;
    TInfoPageData _InfoPageData;
    QString _strSiteName;
    bool fFetchInfoPage;
    std::shared_ptr<WindowSurface> fSurface;
    std::function<void(int)> fObserver;
};

} // namespace zvrd
