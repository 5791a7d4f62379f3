#include "core/AppFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <chrono>

namespace zvrd {
namespace {

std::mutex& FolderLock() {
    static std::mutex m;
    return m;
}

QString& FolderOverride() {
    static QString folder;
    return folder;
}

QString WithSlash(QString path) {
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

} // namespace

QString AppFolder() {
    {
        std::lock_guard lock(FolderLock());
        if (!FolderOverride().isEmpty())
            return FolderOverride();
    }
    if (QCoreApplication::instance())
        return WithSlash(QCoreApplication::applicationDirPath());
    return WithSlash(QDir::currentPath());
}

void SetAppFolder(const QString& folder) {
    std::lock_guard lock(FolderLock());
    FolderOverride() = folder.isEmpty() ? QString() : WithSlash(QDir(folder).absolutePath());
}

QString TempFolder() {
    // Qt answers an empty path for a TMPDIR that does not exist; never let that become "/".
    QString temp = QDir::tempPath();
    if (temp.isEmpty())
        temp = QStringLiteral("/tmp");
    const QString canonical = QFileInfo(temp).canonicalFilePath();
    return WithSlash(canonical.isEmpty() ? temp : canonical);
}

uint32_t TickCount() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

std::mutex& AppMutex() {
    static std::mutex m;
    return m;
}

} // namespace zvrd
