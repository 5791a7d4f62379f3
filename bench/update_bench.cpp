// 检查更新 over a library of 100 novels spread over 5 sites (five test web servers, each its own
// process, 50 ms added to every answer), each novel's stored list one chapter behind a
// 2,000-chapter list on its site (or level with it), checked before (as any check but the first
// leaves it) or never. Side by side: the wall time against the ideal schedule under the
// politeness rules (20 novels per site one after another, one answer of 50 ms and more each, the
// sites in parallel) and against the floor (the same pages fetched by four lanes and nothing else
// done, since at most 4 sites are checked at once), and the CPU per novel with the CPU of fetching
// its list page under the same load subtracted.
#include "BenchSupport.h"
#include "core/DataFolder.h"
#include "net/HttpLibrary.h"
#include "net/WebFetch.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"
#include "workers/HeadlessSurface.h"
#include "workers/LibraryWorkers.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace zvrd;

namespace {

constexpr int kSites = 5;
constexpr int kNovelsPerSite = 20;
constexpr int kChapters = 2000;

QString siteName(int k) {
    return QStringLiteral("书海阁%1").arg(k);
}

void BM_UpdateCheck100Novels(benchmark::State& state) {
    std::vector<std::unique_ptr<BenchServer>> servers;
    for (int k = 0; k < kSites; ++k) {
        servers.push_back(std::make_unique<BenchServer>(
            18401 + k, QStringList{QStringLiteral("--latency"), QStringLiteral("50")}));
        if (!servers.back()->ok()) {
            state.SkipWithError("a test web server did not start");
            return;
        }
        fetchHtml(servers.back()->base() +
                      QStringLiteral("/fault/grow?site=gbk&novel=5&chapters=%1").arg(kChapters),
                  QString());
    }
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    extractTemplates();

    double wallSeconds = 0;
    double idealSeconds = 0;
    double cpuMsPerNovel = 0;
    double fetchCpuMs = 0;
    double floorSeconds = 0;
    int added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir data;
        setDataFolder(data.path());
        prepareLibrary();
        importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"),
                         servers[0]->base());
        {
            SqliteDatabase db(ruleDatabasePath());
            for (int k = 0; k < kSites; ++k) {
                addDemoRuleCopy(db, 1000 + k, siteName(k), servers[0]->base(), servers[k]->base());
            }
        }
        const SiteRule rule = findRuleBySiteName(loadSiteRules(), siteName(0));
        const QString listPath = QStringLiteral("/gbk/book/5/list.html");
        ChapterList list = parseDirectoryPage(servers[0]->base() + listPath, rule);
        for (int64_t behind = 0; behind < state.range(0); ++behind) {
            list.count -= 1;
            list.names.removeLast();
            list.urls.removeLast();
        }
        for (int k = 0; k < kSites; ++k) {
            ChapterList own = list;
            for (QString& url : own.urls)
                url.replace(servers[0]->base(), servers[k]->base());
            for (int n = 0; n < kNovelsPerSite; ++n) {
                const QString name = QStringLiteral("万古长卷%1").arg(n);
                addRecentRead(siteName(k), name, QString(), QString(),
                              servers[k]->base() + QStringLiteral("/gbk/book/5/"));
                const int32_t id = recentReadId(siteName(k), name);
                addChapterList(id, own);
                setDirectoryPageUrl(id, servers[k]->base() + listPath);
            }
        }
        const auto growTo = [&](int chapters) {
            for (const auto& server : servers)
                fetchHtml(
                    server->base() +
                        QStringLiteral("/fault/grow?site=gbk&novel=5&chapters=%1").arg(chapters),
                    QString());
        };
        if (state.range(1) != 0) {
            // A check the day before, while the sites' lists were as the stored ones.
            growTo(kChapters - static_cast<int>(state.range(0)));
            LibraryUpdateWorker(std::make_shared<HeadlessSurface>(), Worker::Ownership::Held,
                                QString(), QString(), false)
                .join();
            growTo(kChapters);
        }
        if (state.range(1) == 2) {
            // Pages that changed elsewhere since (a rotating advertisement, a visitor count).
            SqliteDatabase db(novelDatabasePath());
            db.exec(QStringLiteral("update chapter_list_seen set page_fingerprint='changed'"));
        }
        // The floor: the same 100 list pages fetched by four lanes, no two on one site at once,
        // and nothing else done: its wall time, and the CPU of fetching.
        const double floorCpuBefore = cpuSeconds();
        const auto floorStart = std::chrono::steady_clock::now();
        {
            std::vector<std::thread> lanes;
            for (int t = 0; t < LibraryUpdateWorker::kParallelSites; ++t)
                lanes.emplace_back([&, t] {
                    const int perLane =
                        kSites * kNovelsPerSite / LibraryUpdateWorker::kParallelSites;
                    for (int j = 0; j < perLane; ++j)
                        fetchPage(servers[(t + j) % kSites]->base() + listPath,
                                  QStringLiteral("gbk"));
                });
            for (std::thread& lane : lanes)
                lane.join();
        }
        floorSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - floorStart).count();
        fetchCpuMs = (cpuSeconds() - floorCpuBefore) * 1000.0 / (kSites * kNovelsPerSite);
        // One answer alone, for the ideal schedule.
        const auto answerStart = std::chrono::steady_clock::now();
        const int samples = 10;
        for (int i = 0; i < samples; ++i)
            fetchPage(servers[1]->base() + listPath, QStringLiteral("gbk"));
        const double answerSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - answerStart).count() /
            samples;
        state.ResumeTiming();

        auto surface = std::make_shared<HeadlessSurface>();
        const double cpuBefore = cpuSeconds();
        const auto started = std::chrono::steady_clock::now();
        LibraryUpdateWorker check(surface, Worker::Ownership::Held, QString(), QString(), false);
        check.join();
        wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        cpuMsPerNovel = (cpuSeconds() - cpuBefore) * 1000.0 / (kSites * kNovelsPerSite);
        idealSeconds = kNovelsPerSite * answerSeconds;
        added = 0;
        for (const NovelUpdate& update : check.results())
            added += update.added;
        if (added != kSites * kNovelsPerSite * state.range(0))
            state.SkipWithError("not every novel found its new chapter");
        setDataFolder(QString());
    }
    static const char* const kHistory[] = {", first check", ", checked before",
                                           ", checked before, pages changed elsewhere"};
    state.SetLabel(std::string(state.range(0) > 0 ? "one new chapter per novel" : "nothing new") +
                   kHistory[state.range(1)]);
    state.counters["wall_s"] = wallSeconds;
    state.counters["ideal_s"] = idealSeconds;
    state.counters["x_ideal"] = wallSeconds / idealSeconds;
    state.counters["floor_s"] = floorSeconds;
    state.counters["x_floor"] = wallSeconds / floorSeconds;
    state.counters["cpu_ms/novel"] = cpuMsPerNovel;
    state.counters["fetch_cpu_ms"] = fetchCpuMs;
    state.counters["cpu_ms/novel_no_fetch"] = cpuMsPerNovel - fetchCpuMs;
    state.counters["new_chapters"] = added;
}
// state.range(0): chapters each stored list is behind the site's; state.range(1): 0 the library
// was never checked, 1 it was, 2 it was but every list page changed outside its list since.
BENCHMARK(BM_UpdateCheck100Novels)
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv);
}
