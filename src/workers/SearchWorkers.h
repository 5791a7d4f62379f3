// workers: the search of one novel name on every selected site at once: a coordinator,
// SearchCoordinator, and one SiteSearchWorker per site.
#pragma once

#include "core/NovelRecords.h"
#include "rules/Extractors.h"
#include "workers/WindowSurface.h"
#include "workers/Worker.h"

#include <memory>
#include <mutex>

namespace zvrd {

// The search address with the keyword in place, percent-encoded: path and document with GBK
// bytes, the query likewise but keeping "=", "&" and "+", the space as %20; the user
// information and the fragment dropped, a default port dropped. Empty when the address has no
// "://" or no host.
QString encodeSearchUrl(const QString& address);

// The state one search shares between its coordinator and its site workers.
struct SearchState {
    std::mutex lock;
    int32_t sitesTotal = 0;
    int32_t sitesFinished = 0; // changed only under lock
    uint32_t startTick = 0;
};

class SearchCoordinator : public Worker {
    Q_OBJECT
public:
    // Starts at once. surface must outlive the search (the window, or a gate the caller keeps).
    SearchCoordinator(const QString& novelName, std::shared_ptr<WindowSurface> surface,
                      Ownership ownership = Ownership::Detached);

    // The errors that ended site workers (a pattern that does not compile or is too slow, a
    // database error), in site order; read after join().
    QStringList siteErrors() const;

protected:
    void run() override;
    void reportError(const QString& text) override;

private:
    QString m_novelName;
    QString m_statusText;
    std::shared_ptr<WindowSurface> m_surface;
    QStringList m_siteErrors;
};

class SiteSearchWorker : public Worker {
    Q_OBJECT
public:
    SiteSearchWorker(const QString& novelName, const SiteRule& rule,
                     std::shared_ptr<SearchState> state, std::shared_ptr<WindowSurface> surface);

protected:
    void run() override;
    void reportError(const QString& text) override;

private:
    void report(const QString& text);

    QString m_novelName;
    SiteRule m_rule;
    SearchResults m_results;
    NovelInfo m_novel;
    QString m_statusText;
    std::shared_ptr<SearchState> m_state;
    std::shared_ptr<WindowSurface> m_surface;
};

} // namespace zvrd
