// workers: opening a novel: recorded among the recent reads, its chapter list taken from the
// store or the site (and stored), the table of contents shown, and, the first time, every
// chapter downloaded in the background in batches of 20.
#pragma once

#include "core/NovelRecords.h"
#include "rules/RuleSet.h"
#include "workers/WindowSurface.h"
#include "workers/Worker.h"

#include <functional>
#include <memory>

namespace zvrd {

class OpenNovelWorker : public Worker {
    Q_OBJECT
public:
    // Loads the rules and picks the one named siteName on the caller's thread, then starts.
    // With fetchInfoPage the information page at novel.infoPageUrl is read first, on
    // the worker's thread (a novel not opened before).
    // bulkObserver (for tests) is called with the chapter index after each bulk-download worker
    // is started and with -1 after each wait for a batch.
    OpenNovelWorker(const NovelInfo& novel, const QString& siteName,
                    std::shared_ptr<WindowSurface> surface, bool fetchInfoPage = false,
                    Ownership ownership = Ownership::Detached,
                    std::function<void(int)> bulkObserver = {});

    // Bulk download: at most this many chapter workers at a time, one started every pause.
    static constexpr int kBatchSize = 20;
    static constexpr int kStartPauseMs = 50;

protected:
    void run() override;

private:
    void report(const QString& text);
    bool recordRecentRead();
    void storeChapterList(int32_t novelId, const ChapterList& list);
    void bulkDownload(int32_t novelId, const QString& bookDir, const ChapterList& list);

    QString m_statusText;
    SiteRule m_rule;
    NovelInfo m_novel;
    QString m_siteName;
    bool m_fetchInfoPage;
    std::shared_ptr<WindowSurface> m_surface;
    std::function<void(int)> m_bulkObserver;
};

} // namespace zvrd
