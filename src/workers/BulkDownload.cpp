#include "workers/OpenNovelWorker.h"

#include "core/DataFolder.h"
#include "net/SiteLimiter.h"
#include "net/WebFetch.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/BoundedRunner.h"
#include "workers/ChapterWorker.h"

#include <QTime>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace zvrd {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::atomic<int64_t> gRefusalPatienceMs{
    std::chrono::duration_cast<milliseconds>(SiteLimiter::kMaxPause).count()};

// A page that held nothing while its neighbours held chapters is asked for this many times in
// all before it counts as failed: a chapter that really is empty must not come back forever.
constexpr int kEmptyPageTries = 3;

// How often a table of contents shown during a download is drawn again.
constexpr milliseconds kRedrawEvery{2000};

// A shorter wait is not worth a word (the next chapter starts before it could be read).
constexpr milliseconds kWorthSaying{500};

// What the progress shows while its site makes the download wait (short: it stands beside the
// counts); empty when it does not.
QString waitingNote(const SiteLimiter& limiter) {
    const milliseconds paused = limiter.pausedFor();
    if (paused >= kWorthSaying)
        return QStringLiteral("等待 %1 秒")
            .arg(std::chrono::ceil<std::chrono::seconds>(paused).count());
    const milliseconds spacing = limiter.spacing();
    if (spacing >= milliseconds(1000))
        return QStringLiteral("放慢：约 %1 秒一章")
            .arg(QString::number(static_cast<double>(spacing.count()) / 1000.0, 'f', 1));
    return QString();
}

// The status text when a wait begins.
QString waitingText(const SiteLimiter& limiter) {
    const milliseconds paused = limiter.pausedFor();
    return QStringLiteral("目标站要求等待 %1 秒（到 %2），稍后继续下载……")
        .arg(std::chrono::ceil<std::chrono::seconds>(paused).count())
        .arg(QTime::currentTime()
                 .addMSecs(static_cast<int>(paused.count()))
                 .toString(QStringLiteral("HH:mm:ss")));
}

} // namespace

void setRefusalPatience(milliseconds patience) {
    gRefusalPatienceMs = patience.count();
}

int downloadChapters(const SiteRule& rule, int32_t novelId, const QString& novelName,
                     const QString& bookDir, const ChapterList& list, const QList<int32_t>& missing,
                     WindowSurface& surface, const DownloadClaim& claim, bool showProgress,
                     const BulkObserver& observer, std::shared_ptr<SiteAnswers> answers) {
    if (!answers)
        answers = std::make_shared<SiteAnswers>();
    auto report = [&](const QString& text) {
        if (showProgress)
            surface.setStatusText(text);
    };
    // The chapter workers report through this surface; they share it with the caller.
    std::shared_ptr<WindowSurface> workerSurface(std::shared_ptr<void>(), &surface);
    const KeepDatabasesOpen keep;
    report(QStringLiteral("开始下载小说章节……"));
    const int32_t ruleId = rule.id.toInt();
    const int total = list.count;
    const int storedBefore = total - static_cast<int>(missing.size());
    const milliseconds patience(gRefusalPatienceMs.load());

    // The chapters' site (the first one's: a novel's chapters come from one server).
    const std::shared_ptr<SiteLimiter> limiter =
        SiteLimiter::of(list.urls.value(missing.value(0), rule.siteUrl));

    // Chapters wait here for their start; one the site refused comes back to the end.
    std::mutex lock;
    std::condition_variable changed;
    std::deque<int32_t> pending(missing.begin(), missing.end());
    int running = 0;
    int stored = 0;
    int failed = 0;
    int refusedToTheEnd = 0;
    std::map<int32_t, Clock::time_point> firstRefused;
    std::map<int32_t, int> emptyTries;
    Clock::time_point redrawn = Clock::now();
    int storedAtRedraw = 0;

    // Progress from many threads: never a count older than one shown.
    std::mutex progressLock;
    int shownDone = -1;
    QString shownNote;
    auto progress = [&](int storedNow, int failedNow, const QString& note) {
        if (!showProgress)
            return;
        std::lock_guard guard(progressLock);
        if (storedNow + failedNow < shownDone)
            return;
        if (note != shownNote) {
            // A copy of its own: texts of several threads must not share one buffer here (Qt
            // frees a shared one out of sight of the thread checker).
            shownNote = QString(note.constData(), note.size());
            surface.setProgressNote(note);
        }
        shownDone = storedNow + failedNow;
        surface.setProgress(storedBefore + storedNow, failedNow, total);
    };
    auto onDone = [&](int32_t index, ChapterOutcome outcome) {
        int storedNow = 0;
        int failedNow = 0;
        {
            std::lock_guard guard(lock);
            --running;
            switch (outcome) {
            case ChapterOutcome::Removed:
                claim.markRemoved(); // removed meanwhile, maybe by another program: no more starts
                break;
            case ChapterOutcome::Failed:
                ++failed;
                break;
            case ChapterOutcome::Deferred: // waits for the next opening
                break;
            case ChapterOutcome::Refused:
                firstRefused.try_emplace(index, Clock::now());
                pending.push_back(index);
                break;
            case ChapterOutcome::Unmatched:
                ++emptyTries[index];
                pending.push_back(index);
                break;
            case ChapterOutcome::Stored:
            case ChapterOutcome::AlreadyStored:
                ++stored;
                break;
            }
            storedNow = stored;
            failedNow = failed;
            changed.notify_all();
        }
        progress(storedNow, failedNow, waitingNote(*limiter));
    };
    auto counts = [&] {
        std::lock_guard guard(lock);
        return std::pair{stored, failed};
    };

    BoundedRunner runner(limiter->ceiling().inFlight, milliseconds(0));
    progress(0, 0, QString());
    // While the site asks to wait, the reader sees why and until when, wherever the chapters
    // wait (for their start here, or inside the site's limiter): a watch looks every quarter
    // second until the download ends.
    constexpr milliseconds kLook{250};
    std::mutex watchLock;
    std::condition_variable watchChanged;
    bool watchEnds = false;
    auto stopWatching = [&] {
        {
            std::lock_guard guard(watchLock);
            watchEnds = true;
        }
        watchChanged.notify_all();
    };
    BoundedRunner watch(1, milliseconds(0));
    struct StopWatching {
        const std::function<void()> stop;
        ~StopWatching() { stop(); } // before the watch is waited for, also on an error
    } watchStopper{stopWatching};
    watch.run([&] {
        bool told = false;
        std::unique_lock guard(watchLock);
        while (!watchChanged.wait_for(guard, kLook, [&] { return watchEnds; })) {
            guard.unlock();
            const bool paused = limiter->pausedFor() >= kWorthSaying;
            const auto [storedNow, failedNow] = counts();
            progress(storedNow, failedNow, waitingNote(*limiter));
            if (paused && !told) // once: the progress counts down, a terminal gets one line
                report(waitingText(*limiter));
            told = paused;
            guard.lock();
        }
    });
    for (;;) {
        int32_t j = -1;
        Deferral deferral{true, true};
        {
            std::unique_lock guard(lock);
            changed.wait(guard, [&] { return !pending.empty() || running == 0; });
            if (pending.empty())
                break;
            j = pending.front();
            pending.pop_front();
            const auto refused = firstRefused.find(j);
            if (refused != firstRefused.end() && Clock::now() - refused->second >= patience) {
                deferral.refused = false; // the site kept refusing: this try is the last
                ++refusedToTheEnd;
            }
            deferral.emptyPage = emptyTries[j] + 1 < kEmptyPageTries;
            ++running;
        }
        auto giveBack = [&] {
            std::lock_guard guard(lock);
            --running;
        };
        // Nothing starts while the site asks to wait.
        while (!claim.cancelled() && !answers->givenUp() && limiter->pausedFor() >= kWorthSaying)
            std::this_thread::sleep_for(kLook);
        if (claim.cancelled() || answers->givenUp()) {
            // Being removed, or the site stopped answering: the rest waits for the next opening.
            giveBack();
            break;
        }
        report(QStringLiteral("正在下载章节「%1」……").arg(list.names[j]));
        runner.setAtOnce(limiter->inFlightLimit());
        const int inFlightNow = runner.start([&, j, deferral](std::function<void()> done) {
            return std::make_unique<ChapterWorker>(
                ruleId, novelId, j, bookDir, novelName, list.names[j], list.urls[j], false,
                workerSurface, Worker::Ownership::Held,
                [&, done](int32_t index, ChapterOutcome outcome) {
                    onDone(index, outcome);
                    done();
                },
                answers, deferral);
        });
        if (observer)
            observer(j, inFlightNow);
        // The table of contents shown turns chapters from grey as they come down, not only at
        // the end.
        if (showProgress && Clock::now() - redrawn >= kRedrawEvery) {
            redrawn = Clock::now();
            int storedNow = 0;
            {
                std::lock_guard guard(lock);
                storedNow = stored;
            }
            if (storedNow != storedAtRedraw && redrawDirectoryPage(novelId))
                surface.reloadPageView(bookDir + QStringLiteral("directory_page.htm"));
            storedAtRedraw = storedNow;
        }
    }
    runner.wait();
    stopWatching();
    watch.wait();

    // The outcome as the store has it: a chapter whose row could not be written counts as failed.
    int notStored = failed;
    try {
        notStored = static_cast<int>(chaptersToDownload(novelId, total).size());
    } catch (const SqliteException&) {
        // A full disk can refuse even this read: then the workers' own count stands.
    }
    if (showProgress) {
        surface.setProgressNote(QString());
        surface.setProgress(0, 0, 0);
    }
    if (claim.cancelled())
        return notStored;
    if (notStored == 0)
        report(QStringLiteral("所有章节已下载完成"));
    else if (answers->givenUp())
        report(siteStoppedAnsweringText(notStored));
    else if (refusedToTheEnd > 0)
        report(siteKeptRefusingText(total - notStored, notStored));
    else
        report(downloadIncompleteText(total - notStored, notStored));
    return notStored;
}

QString siteKeptRefusingText(int stored, int failed) {
    return QStringLiteral("目标站一直拒绝访问：已存储 %1 个章节，%2 个章节下载失败，"
                          "稍后重新打开本书可继续下载。")
        .arg(stored)
        .arg(failed);
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
