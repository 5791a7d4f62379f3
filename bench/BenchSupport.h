// What the network benchmarks share: the test web server as its own process (so that its work
// is not counted as the reader's), the process's CPU clock, and a main with HTTP and Qt set up.
#pragma once

#include "net/HttpLibrary.h"
#include "store/SqliteTable.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

// User and system CPU seconds of the whole process, every thread included.
inline double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline int runBenchmarks(int argc, char** argv) {
    zvrd::http_global_init();
    {
        QCoreApplication app(argc, argv);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    zvrd::http_global_cleanup();
    return 0;
}

class BenchServer {
public:
    BenchServer(int port, const QStringList& options) {
        m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/zvrd-testsite"),
                        QStringList{QStringLiteral("--port"), QString::number(port),
                                    QStringLiteral("--realsites"), QString()} +
                            options);
        m_ok = m_process.waitForStarted() && m_process.waitForReadyRead(5000);
        m_base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    }
    ~BenchServer() {
        m_process.kill();
        m_process.waitForFinished();
    }
    BenchServer(const BenchServer&) = delete;
    BenchServer& operator=(const BenchServer&) = delete;
    bool ok() const { return m_ok; }
    QString base() const { return m_base; }

private:
    QProcess m_process;
    bool m_ok = false;
    QString m_base;
};

// A copy of the demo rule 901 (书海阁) at id, named name, its addresses moved from the server at
// from to the one at to.
inline void addDemoRuleCopy(zvrd::SqliteDatabase& db, int id, const QString& name,
                            const QString& from, const QString& to) {
    db.exec(QStringLiteral("create temp table copy as select * from site_rule where id=901"));
    db.exec(QStringLiteral("update copy set id=?1, site_name=?2, site_url=replace(site_url,?3,?4), "
                           "search_page_url_format=replace(search_page_url_format,?3,?4)"),
            {int64_t{id}, name, from, to});
    db.exec(QStringLiteral("insert into site_rule select * from copy"));
    db.exec(QStringLiteral("drop table copy"));
}
