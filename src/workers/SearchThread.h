// workers: the search of one novel name on every selected site at once: a coordinator,
// TSearchThread, and one TSearchWordThread per site.
#pragma once

#include "core/NovelRecords.h"
#include "rules/Extractors.h"
#include "workers/WindowSurface.h"
#include "workers/WorkerThread.h"

#include <memory>
#include <mutex>

namespace zvrd {

// The search address with the keyword in place, percent-encoded: path and document with GBK
// bytes, the query likewise but keeping "=", "&" and "+", the space as %20; the user
// information and the fragment dropped, a default port dropped. Empty when the address has no
// "://" or no host.
QString EncodeSearchUrl(const QString& address);

// The state one search shares between its coordinator and its site workers.
struct TSearchState {
    std::mutex SearchLock;
    int32_t SearchSitesTotal = 0;
    int32_t SearchSitesFinished = 0; // changed only under SearchLock
    uint32_t SearchStartTick = 0;
};

class TSearchThread : public TWorkerThread {
    Q_OBJECT
public:
    // Starts at once. surface must outlive the search (the window, or a gate the caller keeps).
    TSearchThread(const QString& strNovelName, std::shared_ptr<WindowSurface> surface,
                  Ownership ownership = Ownership::Detached);

protected:
    void Execute() override;

private:
    QString _strNovelName;
    QString _strStatusText;
    std::shared_ptr<WindowSurface> fSurface;
};

class TSearchWordThread : public TWorkerThread {
    Q_OBJECT
public:
    TSearchWordThread(const QString& strNovelName, const TRuleInfo& RuleInfo,
                      std::shared_ptr<TSearchState> state, std::shared_ptr<WindowSurface> surface);

protected:
    void Execute() override;

private:
    void Report(const QString& text);

    QString _strNovelName;
    TRuleInfo _RuleInfo;
    TSearchPageData _SearchPageData;
    TInfoPageData _InfoPageData;
    QString _strStatusText;
    std::shared_ptr<TSearchState> fState;
    std::shared_ptr<WindowSurface> fSurface;
};

} // namespace zvrd
