// workers: looking after the whole library: checking every novel's site for new chapters, and
// removing a novel with everything stored of it.
#pragma once

#include <algorithm>

#include "export/NovelExport.h"
#include "workers/WindowSurface.h"
#include "workers/Worker.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

namespace zvrd {

// What one novel's update check found.
struct NovelUpdate {
    // Of the new chapters, those stored.
    int32_t storedNew() const { return std::max(0, added - notStored); }
    QString siteName;
    QString novelName;
    int32_t added = 0;     // new chapters in the list
    int32_t notStored = 0; // chapters the check tried to download and could not store
    bool failed = false;   // the site could not be read, or its list was too short to trust
    QString failure; // why, short: 无法读取, 目录过短, 没有规则 (empty when not failed)
    bool deferred = false; // the site stopped answering: chapters left for the next opening
    bool error = false;    // a database, pattern or file error
    QString status;        // the status text of the check
    QString siteCheck;     // the site's last health check when it failed (目录失效, ...)
};

// Checks every novel of the library (or the one named) for new chapters: one novel at a time per
// site, at most kParallelSites sites at once, started at least kStartPauseMs apart (a
// BoundedRunner); every request goes through its site's limiter.
// New chapters are stored and downloaded like at an opening; a progress bar counts the novels.
class LibraryUpdateWorker : public Worker {
    Q_OBJECT
public:
    static constexpr int kParallelSites = 4;
    static constexpr int kStartPauseMs = 50;

    LibraryUpdateWorker(std::shared_ptr<WindowSurface> surface,
                        Ownership ownership = Ownership::Detached,
                        const QString& siteName = QString(), const QString& novelName = QString(),
                        bool downloadNew = true);

    // After join(): one entry per novel checked, in library order.
    QList<NovelUpdate> results() const;

protected:
    void run() override;
    void reportError(const QString& text) override;

private:
    std::shared_ptr<WindowSurface> m_surface;
    QString m_siteName;
    QString m_novelName;
    bool m_downloadNew;
    mutable std::mutex m_lock;
    QList<NovelUpdate> m_results;
};

struct SiteCheckResult;
// What a novel's update status adds when its site failed its last health check.
QString siteCheckNote(const SiteCheckResult& check);
// The summary of an update check.
QString updateSummaryText(const QList<NovelUpdate>& results);

// Stops a running download of the novel, then removes its rows from every table and its book
// folder (only that folder, inside the data folder's book/). False when it is not recorded.
bool removeNovel(const QString& siteName, const QString& novelName);

// A task of the window's on a thread of its own (it may wait for a download to stop, or take a
// while): work runs there and gives the status text to show and what runs afterwards on the
// window's thread.
class WindowTask : public Worker {
    Q_OBJECT
public:
    struct Outcome {
        QString status;
        std::function<void()> then;
    };
    WindowTask(std::shared_ptr<WindowSurface> surface, std::function<Outcome()> work,
               Ownership ownership = Ownership::Detached);

protected:
    void run() override;
    void reportError(const QString& text) override;

private:
    std::shared_ptr<WindowSurface> m_surface;
    std::function<Outcome()> m_work;
};

// removeNovel as a window task; done gets the outcome on the window's thread.
void removeNovelInBackground(const QString& siteName, const QString& novelName,
                             std::shared_ptr<WindowSurface> surface,
                             std::function<void(bool)> done);
// exportNovel as a window task; done gets the result on the window's thread (a refusal for
// missing chapters included, so that the window can ask and try again).
void exportNovelInBackground(const QString& siteName, const QString& novelName,
                             const ExportOptions& options, std::shared_ptr<WindowSurface> surface,
                             std::function<void(const ExportResult&)> done);

} // namespace zvrd
