#include "core/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <chrono>
#include <map>
#include <memory>

namespace zvrd {
namespace {

std::mutex& folderLock() {
    static std::mutex m;
    return m;
}

QString& folderOverride() {
    static QString folder;
    return folder;
}

QString withSlash(QString path) {
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString executableFolderOr(const QString& given) {
    if (!given.isEmpty())
        return withSlash(given);
    if (QCoreApplication::instance())
        return withSlash(QCoreApplication::applicationDirPath());
    return withSlash(QDir::currentPath());
}

} // namespace

QString dataFolder() {
    {
        std::lock_guard lock(folderLock());
        if (!folderOverride().isEmpty())
            return folderOverride();
    }
    return chooseDataFolder().path;
}

bool isPortable(const QString& executableFolder) {
    return QFileInfo(executableFolderOr(executableFolder) + QStringLiteral("portable")).exists();
}

DataFolderChoice chooseDataFolder(const QString& commandLine, const QString& executableFolder) {
    auto absolute = [](const QString& path) { return withSlash(QDir(path).absolutePath()); };
    if (!commandLine.isEmpty())
        return {absolute(commandLine), QStringLiteral("--data")};
    const QString env = qEnvironmentVariable("ZVRD_DATA");
    if (!env.isEmpty())
        return {absolute(env), QStringLiteral("ZVRD_DATA")};
    if (isPortable(executableFolder))
        return {executableFolderOr(executableFolder), QStringLiteral("portable")};
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return {absolute(base + QStringLiteral("/zvrd")), QStringLiteral("user")};
}

QString prepareDataFolder(const QString& path) {
    if (!QDir().mkpath(path))
        return QStringLiteral("cannot create the data folder %1").arg(path);
    const QFileInfo info(path);
    if (!info.isDir() || !info.isWritable())
        return QStringLiteral("the data folder %1 is not writable").arg(path);
    return QString();
}

void setDataFolder(const QString& folder) {
    std::lock_guard lock(folderLock());
    folderOverride() = folder.isEmpty() ? QString() : withSlash(QDir(folder).absolutePath());
}

QString storedPicturePath(const QString& stored) {
    if (stored.isEmpty() || QFileInfo::exists(stored))
        return stored;
    // .../book/SITE/NOVEL/pic/FILE, also as a library of the Windows design wrote it
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    const QStringList parts = stored.split(separators);
    const qsizetype n = parts.size();
    if (n < 5 || parts[n - 5] != QLatin1String("book") || parts[n - 2] != QLatin1String("pic"))
        return stored;
    for (qsizetype i = n - 4; i < n; ++i) {
        if (parts[i].isEmpty() || parts[i] == QLatin1String(".") || parts[i] == QLatin1String(".."))
            return stored;
    }
    const QString moved = dataFolder() + QStringLiteral("book/") + parts[n - 4] + QLatin1Char('/') +
                          parts[n - 3] + QStringLiteral("/pic/") + parts[n - 1];
    return QFileInfo::exists(moved) ? moved : stored;
}

QString tempFolder() {
    // Qt answers an empty path for a TMPDIR that does not exist; never let that become "/".
    QString temp = QDir::tempPath();
    if (temp.isEmpty())
        temp = QStringLiteral("/tmp");
    const QString canonical = QFileInfo(temp).canonicalFilePath();
    return withSlash(canonical.isEmpty() ? temp : canonical);
}

QString templateFolder() {
    static std::mutex lock;
    static std::map<QString, std::unique_ptr<QTemporaryDir>> folders;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString base =
        !runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable()
            ? withSlash(runtime)
            : tempFolder();
    std::lock_guard guard(lock);
    auto& folder = folders[base];
    if (!folder)
        folder = std::make_unique<QTemporaryDir>(base + QStringLiteral("zvrd-XXXXXX"));
    return folder->isValid() ? withSlash(folder->path()) : base;
}

uint32_t tickCount() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

std::mutex& appMutex() {
    static std::mutex m;
    return m;
}

} // namespace zvrd
