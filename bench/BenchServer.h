// The test web server as its own process for a benchmark, so that its work is not counted as the
// reader's.
#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

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
