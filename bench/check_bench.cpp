// The health check of 10 sites (ten test web servers, each its own process): seven healthy with
// 30 ms added to every answer, one slow (150 ms), one whose rule no longer matches its list, one
// down. Side by side in one run: each site's chain checked alone, and all ten checked at once,
// whose wall time is set against the slowest site's own chain (the floor when they run side by
// side). Every result must be the one the site's shape calls for.
#include "BenchSupport.h"
#include "core/DataFolder.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"
#include "workers/SiteCheck.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

using namespace zvrd;

namespace {

constexpr int kSites = 10;
constexpr int kSlow = 7;
constexpr int kBroken = 8;
constexpr int kDown = 9;

const char* expectedStatus(int k) {
    return k == kBroken ? "目录失效" : k == kDown ? "无法连接" : "正常";
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_CheckTenSites(benchmark::State& state) {
    std::vector<std::unique_ptr<BenchServer>> servers;
    for (int k = 0; k < kDown; ++k) {
        const QString latency = k == kSlow ? QStringLiteral("150") : QStringLiteral("30");
        servers.push_back(std::make_unique<BenchServer>(
            18501 + k, QStringList{QStringLiteral("--latency"), latency}));
        if (!servers.back()->ok()) {
            state.SkipWithError("a test web server did not start");
            return;
        }
    }
    double together = 0;
    double slowestAlone = 0;
    int wrong = 0;
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
                const QString base = k == kDown ? QStringLiteral("http://127.0.0.1:1")
                                                : servers[static_cast<size_t>(k)]->base();
                addDemoRuleCopy(db, 1000 + k, QStringLiteral("站点%1").arg(k), servers[0]->base(),
                                base);
                if (k == kBroken)
                    db.exec(QStringLiteral("update site_rule set "
                                           "directory_page_chapter_name_and_url="
                                           "'<li><a href=\"(.+?)\">(.+?)</a></li>' where id=?1"),
                            {int64_t{1000 + k}});
            }
            db.exec(QStringLiteral("delete from site_rule where id<1000"));
        }
        const SiteRuleList rules = loadSiteRules();
        std::vector<double> alone;
        for (const SiteRule& rule : rules) {
            const auto start = std::chrono::steady_clock::now();
            checkSite(rule);
            alone.push_back(secondsSince(start));
        }
        slowestAlone = *std::max_element(alone.begin(), alone.end());
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        const QList<SiteCheckResult> results = checkSites(rules, QString(), false);
        together = secondsSince(start);

        state.PauseTiming();
        wrong = 0;
        for (int k = 0; k < kSites; ++k) {
            const bool right = results[k].status() == QString::fromUtf8(expectedStatus(k));
            wrong += right ? 0 : 1;
            std::fprintf(stderr, "%s\t%s\t%s\talone %.0f ms\ttogether %d ms\t%s\n",
                         results[k].siteName.toUtf8().constData(),
                         results[k].status().toUtf8().constData(), right ? "right" : "WRONG",
                         alone[static_cast<size_t>(k)] * 1000, results[k].elapsedMs,
                         results[k].reason().toUtf8().constData());
        }
        if (wrong > 0)
            state.SkipWithError("a site's check gave the wrong result");
        setDataFolder(QString());
        state.ResumeTiming();
    }
    state.counters["together_ms"] = together * 1000;
    state.counters["slowest_alone_ms"] = slowestAlone * 1000;
    state.counters["x_slowest"] = together / slowestAlone;
    state.counters["wrong"] = wrong;
}
BENCHMARK(BM_CheckTenSites)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv);
}
