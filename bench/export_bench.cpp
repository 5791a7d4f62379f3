// Exporting a stored 2,000-chapter novel (about 6 MB of chapter text) to EPUB and to TXT, side by
// side with the floor: the same chapter bytes copied out of the database into a file. For each,
// the time and the peak memory above what the process held before it started.
#include "core/DataFolder.h"
#include "export/NovelExport.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <string>

using namespace zvrd;

namespace {

constexpr int kChapters = 2000;
const QString kSite = QStringLiteral("书海阁");
const QString kNovel = QStringLiteral("万古长卷");

// kB of a line of /proc/self/status ("VmRSS", "VmHWM").
long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

// Starts a new peak: the kernel sets the high-water mark back to what is resident now.
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Library {
    QTemporaryDir dir;
    qint64 textBytes = 0;
    Library() {
        setDataFolder(dir.path());
        prepareLibrary();
        addRecentRead(kSite, kNovel, QStringLiteral("作者"), QString(),
                      QStringLiteral("http://example.com/book/1/"));
        const int32_t id = recentReadId(kSite, kNovel);
        ChapterList list;
        for (int i = 0; i < kChapters; ++i) {
            list.names.append(QStringLiteral("第%1章 风起云涌").arg(i + 1));
            list.urls.append(QStringLiteral("http://example.com/book/1/%1.html").arg(i));
        }
        list.count = kChapters;
        addChapterList(id, list);
        // About 3 KB of text per chapter, in the markup sites send: paragraphs and <br />.
        QString paragraph = QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;");
        for (int k = 0; k < 6; ++k)
            paragraph += QStringLiteral("山风吹过村口的老槐树，落叶打着旋儿飘进了院子。");
        paragraph += QStringLiteral("<br /><br />");
        SqliteWriter db(novelDatabasePath());
        db.beginTransaction();
        SqlitePrepared insert(
            db, QStringLiteral("insert into novel_chapter(novel_id,chapter_id,chapter_type,"
                               "is_download,chapter_content) values(?1,?2,0,1,?3)"));
        for (int i = 0; i < kChapters; ++i) {
            const QString content = paragraph.repeated(7) + QString::number(i);
            textBytes += content.toUtf8().size();
            insert.run({id, i, content});
        }
        db.commit();
    }
    ~Library() { setDataFolder(QString()); }
};

void report(benchmark::State& state, double seconds, long baseKb, const QString& file) {
    state.counters["seconds"] = seconds;
    state.counters["peak_MB_above_base"] = static_cast<double>(statusKb("VmHWM") - baseKb) / 1024;
    state.counters["file_MB"] = static_cast<double>(QFile(file).size()) / (1 << 20);
}

// The floor: the chapter bytes read out in order and written to a file, nothing else done.
void BM_CopyOutOfTheDatabase(benchmark::State& state) {
    Library library;
    const QString file = library.dir.filePath(QStringLiteral("copy.bin"));
    for (auto _ : state) {
        const long base = statusKb("VmRSS");
        resetPeak();
        const auto start = std::chrono::steady_clock::now();
        {
            QFile out(file);
            if (!out.open(QIODevice::WriteOnly))
                state.SkipWithError("cannot write");
            SqliteDatabase db(novelDatabasePath());
            auto rows = db.cursor(QStringLiteral("select chapter_content from novel_chapter where "
                                                 "novel_id=%1 order by chapter_id")
                                      .arg(recentReadId(kSite, kNovel)));
            for (; !rows->atEnd(); rows->next())
                out.write(rows->fieldAsString(0).toUtf8());
        }
        report(state,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
               base, file);
    }
    state.counters["text_MB"] = static_cast<double>(library.textBytes) / (1 << 20);
}

void BM_Export(benchmark::State& state) {
    Library library;
    const bool epub = state.range(0) != 0;
    const QString file =
        library.dir.filePath(epub ? QStringLiteral("book.epub") : QStringLiteral("book.txt"));
    ExportOptions options;
    options.format = epub ? ExportFormat::Epub : ExportFormat::Text;
    options.fileName = file;
    for (auto _ : state) {
        const long base = statusKb("VmRSS");
        resetPeak();
        const auto start = std::chrono::steady_clock::now();
        if (exportNovel(kSite, kNovel, options).kind != ExportResult::Kind::Written)
            state.SkipWithError("the export failed");
        report(state,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
               base, file);
    }
    state.SetLabel(epub ? "EPUB" : "TXT");
}

BENCHMARK(BM_CopyOutOfTheDatabase)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Export)->Arg(1)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
