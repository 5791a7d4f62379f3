// Bulk download of a 1,000-chapter novel from the local test web server (a separate process)
// with 50 ms added to every answer, and once more with every 20th chapter's answer taking 2 s
// longer: chapters per second against the politeness cap (one start every 50 ms: 20 per second),
// for the sliding window of the reader and, side by side, for the old design's batches of 20
// (each batch waited for as a whole, a 50 ms pause after it).
#include "BenchSupport.h"
#include "core/DataFolder.h"
#include "net/HttpLibrary.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "workers/ChapterWorker.h"
#include "workers/HeadlessSurface.h"
#include "workers/OpenNovelWorker.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

using namespace zvrd;

namespace {

constexpr int kChapters = 1000;
constexpr double kCapPerSecond = 20.0;
const QString kSite = QStringLiteral("书海阁");

// The old design's bulk download, kept here only to be measured: batches of 20 chapter workers
// started 50 ms apart, each batch waited for as a whole, a 50 ms pause after it.
void downloadInBatches(int32_t novelId, const QString& bookDir, const ChapterList& list,
                       int32_t ruleId, std::shared_ptr<WindowSurface> surface) {
    std::vector<std::unique_ptr<ChapterWorker>> batch;
    for (int32_t j = 0; j < list.count; ++j) {
        const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        batch.push_back(std::make_unique<ChapterWorker>(ruleId, novelId, j, bookDir, QString(),
                                                        list.names[j], list.urls[j], false, surface,
                                                        Worker::Ownership::Held));
        if ((j + 1) % 20 == 0) {
            for (auto& worker : batch)
                worker->join();
            batch.clear();
            sleepMs(50);
        } else {
            std::this_thread::sleep_until(next);
        }
    }
    for (auto& worker : batch)
        worker->join();
}

// state.range(0): 1 sliding window, 0 batches; state.range(1): ms added to every 20th chapter.
void BM_BulkDownload1000Chapters(benchmark::State& state) {
    const bool window = state.range(0) == 1;
    const int slowMs = static_cast<int>(state.range(1));
    BenchServer server(18391 + static_cast<int>(state.range(0)) * 2 + (slowMs > 0 ? 1 : 0),
                       {QStringLiteral("--latency"), QStringLiteral("50"),
                        QStringLiteral("--slow-every"), QString::number(slowMs > 0 ? 20 : 0),
                        QStringLiteral("--slow-ms"), QString::number(slowMs)});
    if (!server.ok()) {
        state.SkipWithError("the test web server did not start");
        return;
    }
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    extractTemplates();
    double chaptersPerSecond = 0;
    double cpuMsPerChapter = 0;
    for (auto _ : state) {
        QTemporaryDir data;
        setDataFolder(data.path());
        importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"), server.base());
        const SiteRule rule = findRuleBySiteName(loadSiteRules(), kSite);
        const NovelInfo info = parseInfoPage(server.base() + QStringLiteral("/gbk/book/5/"), rule);
        auto surface = std::make_shared<HeadlessSurface>();
        const double cpuBefore = cpuSeconds();
        auto started = std::chrono::steady_clock::now();
        if (window) {
            auto worker = std::make_unique<OpenNovelWorker>(
                info, kSite, surface, false, Worker::Ownership::Held, [&](int index, int) {
                    if (index == 0)
                        started = std::chrono::steady_clock::now();
                });
            worker->join();
        } else {
            addRecentRead(kSite, info.name, info.author, info.latestChapter, info.infoPageUrl);
            const ChapterList list = parseDirectoryPage(info.directoryPageUrl, rule);
            addChapterList(1, list);
            started = std::chrono::steady_clock::now();
            downloadInBatches(1, bookFolder(kSite, info.name), list, rule.id.toInt(), surface);
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!chaptersToDownload(1, kChapters).isEmpty())
            state.SkipWithError("the download did not complete");
        chaptersPerSecond = kChapters / seconds;
        cpuMsPerChapter = (cpuSeconds() - cpuBefore) * 1000.0 / kChapters;
        setDataFolder(QString());
    }
    state.SetLabel(std::string(window ? "sliding window" : "batches of 20") +
                   (slowMs > 0 ? ", every 20th answer +2 s" : ", 50 ms per answer"));
    state.counters["chapters/s"] = chaptersPerSecond;
    state.counters["%_of_cap"] = 100.0 * chaptersPerSecond / kCapPerSecond;
    state.counters["cpu_ms/chapter"] = cpuMsPerChapter;
}
BENCHMARK(BM_BulkDownload1000Chapters)
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 2000})
    ->Args({0, 2000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv);
}
