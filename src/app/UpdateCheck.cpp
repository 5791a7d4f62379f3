#include "app/UpdateCheck.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

namespace zvrd {

bool askToUpdate(int updates) {
    return QMessageBox::question(
               nullptr, QStringLiteral("更新提示"),
               QStringLiteral("检测到程序有 %1 个更新，是否立即更新？").arg(updates),
               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool checkForUpdates(const QString& folder, int timeoutMs, const std::function<bool(int)>& ask) {
    const QString program = folder + QStringLiteral("patchrun");
    if (!QFileInfo(program).isFile())
        return false;
    QProcess check;
    check.start(program, {QStringLiteral("-checkforupdates")});
    if (!check.waitForStarted())
        return false;
    if (!check.waitForFinished(timeoutMs)) {
        // No answer in time counts as none; the check must not outlive start-up.
        check.kill();
        check.waitForFinished(1000);
        return false;
    }
    if (check.exitStatus() != QProcess::NormalExit)
        return false;
    const int updates = check.exitCode();
    if (updates == 0 || !ask(updates))
        return false;
    return QProcess::startDetached(program, {});
}

} // namespace zvrd
