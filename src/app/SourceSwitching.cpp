// 换源 in the window: the bookshelf's row menu and the link atop a table of contents look for
// the novel on the other selected sites, the reader picks one, and the novel opens there at the
// carried place.
#include "app/MainWindow.h"

#include "app/SourceSwitchDialog.h"
#include "core/DataFolder.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/LibraryWorkers.h"
#include "workers/OpenNovelWorker.h"

namespace zvrd {

int MainWindow::askSourceOf(const QString& novelName, const QList<SourceCandidate>& found) {
    if (m_sourceChooser)
        return m_sourceChooser(novelName, found);
    SourceSwitchDialog dialog(novelName, found, this);
    return dialog.exec() == QDialog::Accepted ? dialog.chosen() : -1;
}

void MainWindow::startSourceSwitch(const QString& siteName, const QString& novelName) {
    int32_t novelId = -1;
    NovelInfo novel;
    try {
        novelId = recentReadId(siteName, novelName);
        novel = recentReadInfo(siteName, novelName);
    } catch (const SqliteException& e) {
        showError(e.message());
        return;
    }
    if (novelId < 0)
        return;
    setStatusText(QStringLiteral("正在其他目标站查找《%1》……").arg(novelName));
    auto found = std::make_shared<QList<SourceCandidate>>();
    new WindowTask(surface(), [=, this] {
        *found = findOtherSources(novelId, siteName, novelName, novel.author);
        const QString text = found->isEmpty()
                                 ? QStringLiteral("其他目标站都没有找到《%1》。").arg(novelName)
                                 : QStringLiteral("在 %1 个其他目标站找到《%2》。")
                                       .arg(found->size())
                                       .arg(novelName);
        return WindowTask::Outcome{text, [=, this] {
                                       if (!found->isEmpty())
                                           switchToChosenSource(novelId, novelName, *found);
                                   }};
    });
}

void MainWindow::switchToChosenSource(int32_t novelId, const QString& novelName,
                                      const QList<SourceCandidate>& found) {
    const int row = askSourceOf(novelName, found);
    if (row < 0 || row >= found.size())
        return;
    const SourceCandidate to = found[row];
    auto outcome = std::make_shared<SwitchOutcome>();
    setStatusText(QStringLiteral("正在换到「%1」……").arg(to.siteName));
    new WindowTask(surface(), [=, this] {
        *outcome = switchSource(novelId, to);
        return WindowTask::Outcome{outcome->statusText, [=, this] {
                                       if (outcome->novelId >= 0)
                                           openSwitchedNovel(*outcome, to.siteName);
                                   }};
    });
}

void MainWindow::openSwitchedNovel(const SwitchOutcome& outcome, const QString& siteName) {
    // A place that could not be kept is said where it cannot be missed.
    if (outcome.how == CarriedPlace::How::Clamped || outcome.how == CarriedPlace::How::Nothing)
        m_messageBox(outcome.statusText);
    try {
        const RecentReadName novel = recentReadName(outcome.novelId);
        NovelInfo info;
        {
            std::lock_guard lock(appMutex());
            info = recentReadInfo(siteName, novel.novelName);
        }
        showWaitPage();
        new OpenNovelWorker(info, siteName, surface(), false);
    } catch (const SqliteException& e) {
        showError(e.message());
    }
}

} // namespace zvrd
