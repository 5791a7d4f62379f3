// 1,000 chapters from a site that counts its readers' requests (a token bucket of R a second,
// burst R, 429 with Retry-After beyond it, or without one), at R = 20, 5 and 2, one novel and
// two novels of the site at once: wall time against the floor 1000 / R, chapters failed, and the
// share of requests refused, for the reader (one limiter per site, adapting, refused chapters
// deferred) and, side by side, for the fixed window it replaced (20 chapters in flight, one start
// every 50 ms, refused chapters retried after 1 s and 3 s and then stored as failed). The fixed
// window's requests go through the limiter too, adapting off: it keeps a Retry-After, which the
// window before the limiter never did; against a site that sends none it is that window.
#include "BenchSupport.h"
#include "TestSite.h"
#include "core/DataFolder.h"
#include "net/SiteLimiter.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "workers/BoundedRunner.h"
#include "workers/ChapterWorker.h"
#include "workers/HeadlessSurface.h"
#include "workers/OpenNovelWorker.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>

using namespace zvrd;

namespace {

constexpr int kChapters = 1000;
const QString kSite = QStringLiteral("书海阁");

// The fixed window, kept here only to be measured.
void downloadInFixedWindow(int32_t novelId, const QString& bookDir, const ChapterList& list,
                           int32_t ruleId, std::shared_ptr<WindowSurface> surface) {
    BoundedRunner runner(20, std::chrono::milliseconds(50));
    for (int32_t j = 0; j < list.count; ++j)
        runner.start([&, j](std::function<void()> done) {
            return std::make_unique<ChapterWorker>(
                ruleId, novelId, j, bookDir, QString(), list.names[j], list.urls[j], false, surface,
                Worker::Ownership::Held, [done](int32_t, ChapterOutcome) { done(); });
        });
}

// state.range(0): requests a second the site allows; (1): 1 the reader, 0 the fixed window;
// (2): novels downloaded at once (their chapters add up to 1,000); (3): 1 the site sends
// Retry-After, 0 it does not.
void BM_RateLimitedSite(benchmark::State& state) {
    const double perSecond = static_cast<double>(state.range(0));
    const bool reader = state.range(1) == 1;
    const int novels = static_cast<int>(state.range(2));
    const bool retryAfter = state.range(3) == 1;
    testsite::TestSite site;
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    extractTemplates();
    ChapterWorker::setRetryPauses(1000, 3000);
    double wall = 0;
    int failed = 0;
    double refusedShare = 0;
    for (auto _ : state) {
        QTemporaryDir data;
        setDataFolder(data.path());
        SiteLimiter::resetAll();
        importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"), site.baseUrl());
        const SiteRule rule = findRuleBySiteName(loadSiteRules(), kSite);
        if (!reader)
            setSiteSpeed(rule, 20, 50, false);
        std::vector<NovelInfo> infos;
        for (int n = 0; n < novels; ++n) {
            site.setChapterCount(QStringLiteral("gbk"), 5 - n, kChapters / novels);
            infos.push_back(
                parseInfoPage(site.baseUrl() + QStringLiteral("/gbk/book/%1/").arg(5 - n), rule));
        }
        site.setRateLimit(perSecond, static_cast<int>(perSecond), retryAfter);
        const int requestsBefore = site.requestCount();
        const int refusedBefore = site.refusedCount();
        auto surface = std::make_shared<HeadlessSurface>();
        const auto started = std::chrono::steady_clock::now();
        if (reader) {
            std::vector<std::unique_ptr<OpenNovelWorker>> workers;
            for (const NovelInfo& info : infos)
                workers.push_back(std::make_unique<OpenNovelWorker>(info, kSite, surface, false,
                                                                    Worker::Ownership::Held));
            for (const auto& worker : workers)
                worker->join();
        } else {
            BoundedRunner together(novels, std::chrono::milliseconds(0));
            for (int n = 0; n < novels; ++n)
                together.run([&, n] {
                    const NovelInfo& info = infos[static_cast<size_t>(n)];
                    addRecentRead(kSite, info.name, info.author, info.latestChapter,
                                  info.infoPageUrl);
                    const int32_t id = recentReadId(kSite, info.name);
                    const ChapterList list = parseDirectoryPage(info.directoryPageUrl, rule);
                    addChapterList(id, list);
                    downloadInFixedWindow(id, bookFolder(kSite, info.name), list, rule.id.toInt(),
                                          surface);
                });
        }
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        failed = 0;
        for (const NovelInfo& info : infos) {
            const int32_t id = recentReadId(kSite, info.name);
            failed += static_cast<int>(chaptersToDownload(id, kChapters / novels).size());
        }
        refusedShare = 100.0 * (site.refusedCount() - refusedBefore) /
                       std::max(1, site.requestCount() - requestsBefore);
        site.setRateLimit(0, 0);
        setDataFolder(QString());
    }
    state.SetLabel(std::string(reader ? "reader" : "fixed window") +
                   ", R=" + std::to_string(state.range(0)) + "/s, " + std::to_string(novels) +
                   (novels == 1 ? " novel" : " novels") + (retryAfter ? "" : ", no Retry-After"));
    state.counters["wall/floor"] = wall / (kChapters / perSecond);
    state.counters["failed"] = failed;
    state.counters["%_429"] = refusedShare;
}
BENCHMARK(BM_RateLimitedSite)
    ->Args({20, 1, 1, 1})
    ->Args({20, 0, 1, 1})
    ->Args({5, 1, 1, 1})
    ->Args({5, 0, 1, 1})
    ->Args({5, 1, 1, 0})
    ->Args({5, 0, 1, 0})
    ->Args({2, 1, 1, 1})
    ->Args({2, 0, 1, 1})
    ->Args({5, 1, 2, 1})
    ->Args({5, 0, 2, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv);
}
