// Storing and loading a 5,000-chapter list: one transaction against one statement per row.
#include "core/AppFolder.h"
#include "store/NovelLibrary.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace zvrd;

namespace {

constexpr int kChapters = 5000;

TDirectoryPageData MakeDirectory() {
    TDirectoryPageData dir;
    for (int i = 0; i < kChapters; ++i) {
        dir.slChapterNameList.append(QStringLiteral("第%1章 风起云涌").arg(i + 1));
        dir.slChapterUrlList.append(
            QStringLiteral("https://www.example.com/book/12345/%1.html").arg(7000000 + i));
    }
    dir.Num = kChapters;
    return dir;
}

// Each iteration stores the list under a fresh novel id in a fresh data folder.
struct Folder {
    QTemporaryDir dir;
    Folder() {
        SetAppFolder(dir.path());
        CreateMissingTables();
    }
    ~Folder() { SetAppFolder(QString()); }
};

void BM_StoreOneTransaction(benchmark::State& state) {
    const TDirectoryPageData dir = MakeDirectory();
    Folder folder;
    int32_t novelId = 0;
    for (auto _ : state) {
        if (!AddDirectory(++novelId, dir))
            state.SkipWithError("AddDirectory failed");
    }
    state.counters["chapters/s"] =
        benchmark::Counter(static_cast<double>(kChapters) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StoreOneTransaction)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_StoreRowByRow(benchmark::State& state) {
    const TDirectoryPageData dir = MakeDirectory();
    Folder folder;
    int32_t novelId = 0;
    for (auto _ : state) {
        ++novelId;
        for (int i = 0; i < dir.Num; ++i)
            AddDirectoryItem(novelId, i, dir.slChapterNameList[i], dir.slChapterUrlList[i]);
    }
}
BENCHMARK(BM_StoreRowByRow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_LoadDirectory(benchmark::State& state) {
    Folder folder;
    AddDirectory(1, MakeDirectory());
    for (auto _ : state) {
        const TDirectoryPageData back = LoadDirectory(1);
        if (back.Num != kChapters)
            state.SkipWithError("LoadDirectory lost chapters");
        benchmark::DoNotOptimize(back.Num);
    }
}
BENCHMARK(BM_LoadDirectory)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
