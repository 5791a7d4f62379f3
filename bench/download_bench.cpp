// Bulk download of a 200-chapter novel from the local test web server (a separate process) with
// 50 ms added to every answer: chapters per second against the design's cap of one chapter
// worker started every 50 ms (20 per second), and the reader's CPU time per chapter.
#include "core/DataFolder.h"
#include "net/HttpLibrary.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "workers/HeadlessSurface.h"
#include "workers/OpenNovelWorker.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace zvrd;

namespace {

constexpr int kChapters = 200;
constexpr double kCapPerSecond = 20.0;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_BulkDownload200Chapters(benchmark::State& state) {
    const QString port = QStringLiteral("18391");
    QProcess server;
    server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/zvrd-testsite"),
                 {QStringLiteral("--port"), port, QStringLiteral("--latency"), QStringLiteral("50"),
                  QStringLiteral("--realsites"), QString()});
    if (!server.waitForStarted() || !server.waitForReadyRead(5000)) {
        state.SkipWithError("the test web server did not start");
        return;
    }
    const QString base = QStringLiteral("http://127.0.0.1:") + port;
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    extractTemplates();
    double chaptersPerSecond = 0;
    double cpuMsPerChapter = 0;
    for (auto _ : state) {
        QTemporaryDir data;
        setDataFolder(data.path());
        importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"), base);
        const SiteRule rule = findRuleBySiteName(loadSiteRules(), QStringLiteral("书海阁"));
        const NovelInfo info = parseInfoPage(base + QStringLiteral("/gbk/book/4/"), rule);
        auto surface = std::make_shared<HeadlessSurface>();
        uint32_t started = 0;
        const double cpuBefore = cpuSeconds();
        auto worker =
            std::make_unique<OpenNovelWorker>(info, QStringLiteral("书海阁"), surface, false,
                                              Worker::Ownership::Held, [&](int index, int) {
                                                  if (index == 0)
                                                      started = tickCount();
                                              });
        worker->join();
        const double seconds = (tickCount() - started) / 1000.0;
        const int stored = chapterCount(1);
        if (surface->lastStatus() != QStringLiteral("所有章节已下载完成") || stored != kChapters)
            state.SkipWithError("the download did not complete");
        chaptersPerSecond = kChapters / seconds;
        cpuMsPerChapter = (cpuSeconds() - cpuBefore) * 1000.0 / kChapters;
        setDataFolder(QString());
    }
    state.counters["chapters/s"] = chaptersPerSecond;
    state.counters["%_of_cap"] = 100.0 * chaptersPerSecond / kCapPerSecond;
    state.counters["cpu_ms/chapter"] = cpuMsPerChapter;
    server.kill();
    server.waitForFinished();
}
BENCHMARK(BM_BulkDownload200Chapters)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    http_global_init();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    http_global_cleanup();
    return 0;
}
