// Storing and loading a 5,000-chapter list: one transaction against one statement per row.
#include "core/DataFolder.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace zvrd;

namespace {

constexpr int kChapters = 5000;

ChapterList makeDirectory() {
    ChapterList dir;
    for (int i = 0; i < kChapters; ++i) {
        dir.names.append(QStringLiteral("第%1章 风起云涌").arg(i + 1));
        dir.urls.append(
            QStringLiteral("https://www.example.com/book/12345/%1.html").arg(7000000 + i));
    }
    dir.count = kChapters;
    return dir;
}

// Each iteration stores the list under a fresh novel id in a fresh data folder.
struct Folder {
    QTemporaryDir dir;
    Folder() {
        setDataFolder(dir.path());
        prepareLibrary();
    }
    ~Folder() { setDataFolder(QString()); }
};

void BM_StoreOneTransaction(benchmark::State& state) {
    const ChapterList dir = makeDirectory();
    Folder folder;
    int32_t novelId = 0;
    for (auto _ : state) {
        if (!addChapterList(++novelId, dir))
            state.SkipWithError("AddDirectory failed");
    }
    state.counters["chapters/s"] =
        benchmark::Counter(static_cast<double>(kChapters) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StoreOneTransaction)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_StoreRowByRow(benchmark::State& state) {
    const ChapterList dir = makeDirectory();
    Folder folder;
    int32_t novelId = 0;
    for (auto _ : state) {
        ++novelId;
        for (int i = 0; i < dir.count; ++i)
            addChapterListItem(novelId, i, dir.names[i], dir.urls[i]);
    }
}
BENCHMARK(BM_StoreRowByRow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_LoadDirectory(benchmark::State& state) {
    Folder folder;
    addChapterList(1, makeDirectory());
    for (auto _ : state) {
        const ChapterList back = loadChapterList(1);
        if (back.count != kChapters)
            state.SkipWithError("LoadDirectory lost chapters");
        benchmark::DoNotOptimize(back.count);
    }
}
BENCHMARK(BM_LoadDirectory)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
