// Chapter-list extraction: the siluke.tw list (1781 links) and a generated 5,000-link page of
// about 1 MB, with PCRE2's JIT on (arg 1) and off (arg 0).
#include "rules/Extractors.h"
#include "rules/PatternNotation.h"

#include <QDir>
#include <QFile>
#include <benchmark/benchmark.h>

using namespace zvrd;

namespace {

SiteRule silukeRule() {
    SiteRule r;
    r.directoryRegion = QStringLiteral("<div class=\"booklist\">(.+?)</div>");
    r.directoryChapterNameAndUrl =
        QStringLiteral("<li><a style=\"[^\"]*\" href=\"(.+?)\">(.+?)</a></li>");
    return r;
}

QString silukePage() {
    QFile f(
        QStringLiteral(ZVRD_SOURCE_DIR "/../shared/realsites/siluke.tw/directory_ny10354.html"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString generatedPage() {
    QString html =
        QStringLiteral("<html><head><title>目录</title></head><body><div id=\"list\"><dl>\r\n");
    for (int i = 1; i <= 5000; ++i) {
        html +=
            QStringLiteral(
                "<dd><a href=\"/book/123456/%1.html\" title=\"第%2章 风起云涌之卷又一章节标题\">"
                "第%2章 风起云涌之卷又一章节标题（求收藏求推荐）</a></dd>\r\n")
                .arg(7000000 + i)
                .arg(i);
    }
    html += QStringLiteral("</dl></div></body></html>");
    return html;
}

SiteRule generatedRule() {
    SiteRule r;
    r.directoryRegion = QStringLiteral("<div id=\"list\">(.+?)</div>");
    r.directoryChapterNameAndUrl =
        QStringLiteral("<dd><a href=\"(.+?)\" title=\"[^\"]*\">(.+?)</a></dd>");
    return r;
}

void run(benchmark::State& state, const QString& page, const SiteRule& rule, int expected) {
    Regex::setJitEnabled(state.range(0) != 0);
    if (page.isEmpty()) {
        state.SkipWithError("page not found");
        return;
    }
    const QString url = QStringLiteral("http://www.example.com/book/123456/");
    for (auto _ : state) {
        const ChapterList dir = extractDirectoryPage(page, url, rule);
        if (dir.count != expected)
            state.SkipWithError("wrong chapter count");
        benchmark::DoNotOptimize(dir.count);
    }
    const double mb = static_cast<double>(page.toUtf8().size()) / 1e6;
    state.counters["MB"] = mb;
    state.counters["MB/s"] = benchmark::Counter(mb, benchmark::Counter::kIsIterationInvariantRate);
    Regex::setJitEnabled(true);
}

void BM_SilukeDirectory(benchmark::State& state) {
    static const QString page = silukePage();
    run(state, page, silukeRule(), 1781);
}
BENCHMARK(BM_SilukeDirectory)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_Generated5000Links(benchmark::State& state) {
    static const QString page = generatedPage();
    run(state, page, generatedRule(), 5000);
}
BENCHMARK(BM_Generated5000Links)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
