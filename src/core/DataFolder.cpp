#include "core/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <chrono>

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

} // namespace

QString dataFolder() {
    {
        std::lock_guard lock(folderLock());
        if (!folderOverride().isEmpty())
            return folderOverride();
    }
    if (QCoreApplication::instance())
        return withSlash(QCoreApplication::applicationDirPath());
    return withSlash(QDir::currentPath());
}

void setDataFolder(const QString& folder) {
    std::lock_guard lock(folderLock());
    folderOverride() = folder.isEmpty() ? QString() : withSlash(QDir(folder).absolutePath());
}

QString tempFolder() {
    // Qt answers an empty path for a TMPDIR that does not exist; never let that become "/".
    QString temp = QDir::tempPath();
    if (temp.isEmpty())
        temp = QStringLiteral("/tmp");
    const QString canonical = QFileInfo(temp).canonicalFilePath();
    return withSlash(canonical.isEmpty() ? temp : canonical);
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
