// Test support: runs epubcheck (Debian's package installs a .jar, started here through java so
// that no binfmt registration is needed). A missing epubcheck is a failure, never a skip.
#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace zvrd::test {

struct EpubcheckRun {
    bool clean = false; // exit 0, no error and no warning
    QString output;
};

inline EpubcheckRun runEpubcheck(const QString& book) {
    EpubcheckRun run;
    const QString found = QStandardPaths::findExecutable(QStringLiteral("epubcheck"));
    if (found.isEmpty()) {
        run.output = QStringLiteral("epubcheck is not installed (scripts/setup installs it)");
        return run;
    }
    const QString target = QFileInfo(found).canonicalFilePath();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (target.endsWith(QLatin1String(".jar")))
        process.start(QStringLiteral("java"), {QStringLiteral("-jar"), target, book});
    else
        process.start(found, {book});
    if (!process.waitForFinished(180000)) {
        run.output = QStringLiteral("epubcheck did not finish: ") + process.errorString();
        return run;
    }
    run.output = QString::fromUtf8(process.readAll());
    run.clean = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 &&
                run.output.contains(QLatin1String("0 fatals / 0 errors / 0 warnings"));
    return run;
}

} // namespace zvrd::test
