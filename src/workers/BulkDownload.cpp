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

int downloadChapters(const SiteRule& rule, int32_t novelId, const QString& novelName,
                     const QString& bookDir, const ChapterList& list, const QList<int32_t>& missing,
                     WindowSurface& surface, const DownloadClaim& claim, bool showProgress,
                     const BulkObserver& observer, std::shared_ptr<SiteTimeouts> timeouts) {
    if (!timeouts)
        timeouts = std::make_shared<SiteTimeouts>();
    auto report = [&](const QString& text) {
        if (showProgress)
            surface.setStatusText(text);
    };
    auto progress = [&](int stored, int failed, int total) {
        if (showProgress)
            surface.setProgress(stored, failed, total);
    };
    // The chapter workers report through this surface; they share it with the caller.
    std::shared_ptr<WindowSurface> workerSurface(std::shared_ptr<void>(), &surface);
    const KeepDatabasesOpen keep;
    report(QStringLiteral("开始下载小说章节……"));
    const int32_t ruleId = rule.id.toInt();
    const int total = list.count;
    const int storedBefore = total - static_cast<int>(missing.size());

    // The sliding window: at most kWindowSize chapters in flight, starts at least kStartPauseMs
    // apart, the next start as soon as a slot is free.
    std::mutex lock;
    std::condition_variable changed;
    int inFlight = 0;
    int stored = 0;
    int failed = 0;
    std::vector<int32_t> finished;
    std::map<int32_t, std::unique_ptr<ChapterWorker>> running;
    auto onDone = [&](int32_t index, ChapterOutcome outcome) {
        std::lock_guard guard(lock);
        --inFlight;
        if (outcome == ChapterOutcome::Removed)
            claim.markRemoved(); // removed meanwhile, maybe by another program: no more starts
        else if (outcome == ChapterOutcome::Failed)
            ++failed;
        else if (outcome != ChapterOutcome::Deferred) // a deferred one waits for the next opening
            ++stored;
        finished.push_back(index);
        changed.notify_all();
    };
    // Deletes the workers that have ended; each is joined first (it is past its last step).
    auto reap = [&](std::unique_lock<std::mutex>& guard) {
        std::vector<int32_t> done;
        done.swap(finished);
        const int storedNow = stored;
        const int failedNow = failed;
        guard.unlock();
        for (const int32_t index : done) {
            auto it = running.find(index);
            if (it == running.end())
                continue;
            it->second->join();
            running.erase(it);
        }
        if (!done.empty())
            progress(storedBefore + storedNow, failedNow, total);
        guard.lock();
    };

    progress(storedBefore, 0, total);
    auto nextStart = std::chrono::steady_clock::now();
    for (const int32_t j : missing) {
        if (claim.cancelled())
            break; // the novel is being removed
        if (timeouts->givenUp())
            break; // the site stopped answering: the rest waits for the next opening
        {
            std::unique_lock guard(lock);
            for (;;) {
                reap(guard);
                if (inFlight < OpenNovelWorker::kWindowSize)
                    break;
                changed.wait(guard, [&] { return !finished.empty(); });
            }
        }
        std::this_thread::sleep_until(nextStart);
        report(QStringLiteral("正在下载章节「%1」……").arg(list.names[j]));
        nextStart = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(OpenNovelWorker::kStartPauseMs);
        int inFlightNow = 0;
        {
            std::lock_guard guard(lock);
            inFlightNow = ++inFlight;
        }
        running[j] = std::make_unique<ChapterWorker>(
            ruleId, novelId, j, bookDir, novelName, list.names[j], list.urls[j], false,
            workerSurface, Worker::Ownership::Held, onDone, timeouts);
        if (observer)
            observer(j, inFlightNow);
    }
    {
        std::unique_lock guard(lock);
        for (;;) {
            reap(guard);
            // Workers that ended while reap() ran unlocked are still to be counted.
            if (inFlight == 0 && finished.empty())
                break;
            changed.wait(guard, [&] { return !finished.empty(); });
        }
    }
    running.clear();

    // The outcome as the store has it: a chapter whose row could not be written counts as failed.
    int notStored = failed;
    try {
        notStored = static_cast<int>(chaptersToDownload(novelId, total).size());
    } catch (const SqliteException&) {
        // A full disk can refuse even this read: then the workers' own count stands.
    }
    progress(0, 0, 0);
    if (claim.cancelled())
        return notStored;
    if (notStored == 0)
        report(QStringLiteral("所有章节已下载完成"));
    else if (timeouts->givenUp())
        report(siteStoppedAnsweringText(notStored));
    else
        report(downloadIncompleteText(total - notStored, notStored));
    return notStored;
}

QString siteStoppedAnsweringText(int left) {
    return QStringLiteral("目标站多次没有应答，%1 个章节留待下次打开本书时下载。").arg(left);
}

QString downloadIncompleteText(int stored, int failed) {
    return QStringLiteral("已存储 %1 个章节，%2 个章节下载失败，重新打开本书可继续下载。")
        .arg(stored)
        .arg(failed);
}

} // namespace zvrd
