// 检查更新 over a library of 100 novels spread over 5 sites (five test web servers, each its own
// process, 50 ms added to every answer), each novel's stored list one chapter behind a
// 2,000-chapter list on its site (or level with it). Side by side: the wall time against the ideal
// schedule under the politeness rules (20 novels per site one after another, 50 ms plus one answer
// each, the sites in parallel), and the CPU per novel with the CPU of fetching its list page
// subtracted.
#include "BenchSupport.h"
#include "core/DataFolder.h"
#include "net/HttpLibrary.h"
#include "net/WebFetch.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/HeadlessSurface.h"
#include "workers/LibraryWorkers.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
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
    int added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir data;
        setDataFolder(data.path());
        createMissingTables();
        importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"),
                         servers[0]->base());
        {
            SqliteDatabase db(ruleDatabasePath());
            for (int k = 0; k < kSites; ++k) {
                db.exec(QStringLiteral("create temp table r%1 as select * from site_rule where "
                                       "id=901")
                            .arg(k));
                db.exec(QStringLiteral("update r%1 set id=%2, site_name='%3', "
                                       "site_url=replace(site_url,'%4','%5')")
                            .arg(k)
                            .arg(1000 + k)
                            .arg(siteName(k), servers[0]->base(), servers[k]->base()));
                db.exec(QStringLiteral("insert into site_rule select * from r%1").arg(k));
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
        // One answer of a list page, and the CPU its fetch costs.
        const int samples = 10;
        const double fetchCpuBefore = cpuSeconds();
        const auto fetchStart = std::chrono::steady_clock::now();
        for (int i = 0; i < samples; ++i)
            fetchHtml(servers[1]->base() + listPath, QStringLiteral("gbk"));
        const double answerSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - fetchStart).count() /
            samples;
        fetchCpuMs = (cpuSeconds() - fetchCpuBefore) * 1000.0 / samples;
        state.ResumeTiming();

        auto surface = std::make_shared<HeadlessSurface>();
        const double cpuBefore = cpuSeconds();
        const auto started = std::chrono::steady_clock::now();
        LibraryUpdateWorker check(surface, Worker::Ownership::Held, QString(), QString(), false);
        check.join();
        wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        cpuMsPerNovel = (cpuSeconds() - cpuBefore) * 1000.0 / (kSites * kNovelsPerSite);
        idealSeconds = kNovelsPerSite * (0.050 + answerSeconds);
        added = 0;
        for (const NovelUpdate& update : check.results())
            added += update.added;
        if (added != kSites * kNovelsPerSite * state.range(0))
            state.SkipWithError("not every novel found its new chapter");
        setDataFolder(QString());
    }
    state.SetLabel(state.range(0) > 0 ? "one new chapter per novel" : "nothing new");
    state.counters["wall_s"] = wallSeconds;
    state.counters["ideal_s"] = idealSeconds;
    state.counters["x_ideal"] = wallSeconds / idealSeconds;
    state.counters["cpu_ms/novel"] = cpuMsPerNovel;
    state.counters["fetch_cpu_ms"] = fetchCpuMs;
    state.counters["cpu_ms/novel_no_fetch"] = cpuMsPerNovel - fetchCpuMs;
    state.counters["new_chapters"] = added;
}
// state.range(0): chapters each stored list is behind the site's.
BENCHMARK(BM_UpdateCheck100Novels)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv);
}
