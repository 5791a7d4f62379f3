// The commands that turn clicks into reading: search, opening a novel from the result list,
// following a chapter link in the page view.
#include "app/MainWindow.h"

#include "app/PageView.h"
#include "core/DataFolder.h"
#include "export/NovelExport.h"
#include "pages/PageRenderer.h"
#include "pages/ReadingStyle.h"
#include "rules/Extractors.h"
#include "sites/SiteSelectionDialog.h"
#include "store/NovelLibrary.h"
#include "store/SiteRules.h"
#include "store/SqliteTable.h"
#include "workers/GatedSurface.h"
#include "workers/LibraryWorkers.h"
#include "workers/OpenNovelWorker.h"
#include "workers/SearchWorkers.h"

#include <QMessageBox>
#include <QTableWidget>
#include <QTimer>

namespace zvrd {

namespace {

constexpr uint32_t kChapterLinkPauseMs = 3000;

} // namespace

void MainWindow::showError(const QString& text) {
    QMessageBox::critical(this, windowTitle(), text);
}

void MainWindow::supersedeSearch() {
    // Rows and texts of the search before stop reaching the window from here on.
    if (m_searchGate)
        m_searchGate->close();
    m_searchGate.reset();
}

void MainWindow::startSearchCoordinator(const QString& name) {
    m_searchGate = std::make_shared<GatedSurface>(*this);
    new SearchCoordinator(name, m_searchGate);
}

void MainWindow::openSelectedNovel() {
    const int row = m_resultList->currentRow();
    if (row < 0 || m_resultList->selectedItems().isEmpty())
        return;
    auto cell = [&](int column) {
        const QTableWidgetItem* item = m_resultList->item(row, column);
        return item ? item->text() : QString();
    };
    const QString site = cell(1);
    const QString name = cell(2);
    // The previous novel's last words do not belong to this one.
    setStatusText(QString());
    setProgress(0, 0, 0);
    showWaitPage();
    try {
        NovelInfo info;
        bool fetch = false;
        if (hasRecentRead(site, name)) {
            std::lock_guard lock(appMutex());
            info = recentReadInfo(site, name);
        } else {
            // Read on the directory worker's thread, so the window stays responsive.
            info.infoPageUrl = cell(5);
            fetch = true;
        }
        new OpenNovelWorker(info, site, surface(), fetch);
    } catch (const SqliteException& e) {
        showError(e.message());
    }
}

void MainWindow::handleNavigation(const QString& url, bool& cancel) {
    if (url.endsWith(QLatin1String("/directory_page.htm")))
        forgetShownChapter();
    // The export links at the top of a table of contents: directory_export#FORMAT#NOVEL_ID.
    if (const qsizetype at = url.lastIndexOf(QLatin1String("directory_export#")); at >= 0) {
        cancel = true;
        const QStringList pieces = url.mid(at).split(QLatin1Char('#'));
        if (pieces.size() != 3)
            return;
        try {
            const RecentReadName novel = recentReadName(pieces[2].toInt());
            if (!novel.novelName.isEmpty())
                startExport(novel.siteName, novel.novelName,
                            pieces[1] == QLatin1String("txt") ? ExportFormat::Text
                                                              : ExportFormat::Epub);
        } catch (const SqliteException& e) {
            showError(e.message());
        }
        return;
    }
    // 阅读设置 at the foot of a chapter page; the dialog opens once the navigation is decided.
    if (url.endsWith(QLatin1String("reading_settings#"))) {
        cancel = true;
        QTimer::singleShot(0, this, &MainWindow::showReadingSettings);
        return;
    }
    // 换源 atop a table of contents: directory_switch#NOVEL_ID.
    if (const qsizetype at = url.lastIndexOf(QLatin1String("directory_switch#")); at >= 0) {
        cancel = true;
        try {
            const RecentReadName novel = recentReadName(url.mid(at + 17).toInt());
            if (!novel.novelName.isEmpty())
                startSourceSwitch(novel.siteName, novel.novelName);
        } catch (const SqliteException& e) {
            showError(e.message());
        }
        return;
    }
    if (!url.contains(QLatin1String("directory_info")))
        return;
    // The link names no real page: it is cancelled whatever happens below.
    cancel = true;
    // The link is the last part of the address: a book folder named with "#" (or with
    // "directory_info" in it) does not change how it splits.
    const qsizetype link = url.lastIndexOf(QLatin1String("directory_info#"));
    const QStringList pieces = (link < 0 ? url : url.mid(link)).split(QLatin1Char('#'));
    if (pieces.size() != 3)
        return;
    try {
        const int32_t novelId = pieces[1].toInt();
        const int32_t index = pieces[2].toInt();
        const RecentReadName novel = recentReadName(novelId);
        const QString& siteName = novel.siteName;
        const QString& novelName = novel.novelName;
        // A stored chapter opens at once. One that must come from the site waits a moment
        // after the last one only while a download from that site runs, and says so.
        const bool stored = isChapterDownloaded(novelId, index);
        if (!stored && m_tickCounter() - m_lastChapterLinkTick < kChapterLinkPauseMs &&
            siteIsDownloading(siteName)) {
            setStatusText(
                QStringLiteral("目标站正在下载本书的章节，请稍等片刻再翻到未下载的章节。"));
            return;
        }
        QString bookDir;
        QString ruleId;
        if (!siteName.isEmpty() && !novelName.isEmpty()) {
            bookDir = bookFolder(siteName, novelName);
            ruleId = siteRuleId(siteName);
        }
        const ChapterEntry chapter = chapterEntry(novelId, index);
        const QString& chapterName = chapter.name;
        const QString& chapterUrl = chapter.url;
        if (!ruleId.isEmpty() && !bookDir.isEmpty() && !chapterName.isEmpty() &&
            !chapterUrl.isEmpty()) {
            setStatusText(QStringLiteral("正在下载章节「%1」……").arg(chapterName));
            m_shownChapter = {novelId, index};
            m_chapterStarter(ruleId.toInt(), novelId, index, bookDir, novelName, chapterName,
                             chapterUrl);
        }
        if (!stored)
            m_lastChapterLinkTick = m_tickCounter();
    } catch (const SqliteException& e) {
        showError(e.message());
    }
}

bool MainWindow::siteIsDownloading(const QString& siteName) const {
    for (const int32_t novelId : DownloadClaim::heldInThisProcess()) {
        if (recentReadName(novelId).siteName == siteName)
            return true;
    }
    return false;
}

void MainWindow::chooseTargetSites() {
    runSiteSelectionDialog(this);
}

} // namespace zvrd
