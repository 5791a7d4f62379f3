// The commands that turn clicks into reading: search, opening a novel from the result list,
// following a chapter link in the page view, and listing the recent reads.
#include "app/MainWindow.h"

#include "app/PageView.h"
#include "core/DataFolder.h"
#include "core/IniFile.h"
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

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
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

void MainWindow::listRecentReads() {
    forgetShownChapter();
    supersedeSearch();
    showResultList();
    clearResults();
    setBookshelfColumns(true);
    try {
        // The bookshelf: the most recently read first, with what is stored, what is new since
        // the last chapter read, and where the reader stopped.
        for (const ShelfEntry& entry : bookshelf()) {
            const int row = m_resultList->rowCount();
            m_resultList->insertRow(row);
            const QString cells[] = {QString::number(row + 1),
                                     entry.siteName,
                                     entry.novelName,
                                     entry.author,
                                     QStringLiteral("%1 / %2").arg(entry.stored).arg(entry.total),
                                     entry.newChapters > 0 ? QString::number(entry.newChapters)
                                                           : QString(),
                                     entry.lastReadName};
            for (int c = 0; c < 7; ++c)
                m_resultList->setItem(row, c, new QTableWidgetItem(cells[c]));
            // What 换源 left behind stays in the library, and is named here.
            if (!entry.sitesLeft.isEmpty())
                m_resultList->item(row, 1)->setToolTip(
                    QStringLiteral("其他站：%1（已下载的章节仍保留）")
                        .arg(entry.sitesLeft.join(QStringLiteral("、"))));
            // Why the last update check of it failed, in its own words.
            QStringList tip;
            if (!entry.failureText.isEmpty())
                tip << QStringLiteral("上次检查更新：%1").arg(entry.failureText);
            if (const QString mark = entry.sourceMark(); !mark.isEmpty()) {
                QTableWidgetItem* item = m_resultList->item(row, 6);
                item->setText(QStringLiteral("【%1】%2").arg(mark, item->text()));
                tip << QStringLiteral("右键选“换源…”换到其他目标站");
            }
            if (!tip.isEmpty())
                m_resultList->item(row, 6)->setToolTip(tip.join(QLatin1Char('\n')));
        }
    } catch (const SqliteException& e) {
        showError(e.message());
    }
}

void MainWindow::checkForNewChapters() {
    if (m_checkingUpdates) {
        setStatusText(QStringLiteral("正在检查更新，请稍候……"));
        return;
    }
    m_checkingUpdates = true;
    auto* worker = new LibraryUpdateWorker(surface());
    connect(worker, &QObject::destroyed, this, [this] {
        m_checkingUpdates = false;
        if (m_bookshelf)
            listRecentReads(); // the new-chapter counts changed
    });
}

void MainWindow::showRowMenu(const QPoint& position) {
    const int row = m_resultList->rowAt(position.y());
    if (!m_bookshelf || row < 0)
        return;
    QMenu menu(this);
    QAction* switchSite = menu.addAction(QStringLiteral("换源…"));
    menu.addSeparator();
    QAction* epub = menu.addAction(QStringLiteral("导出 EPUB…"));
    QAction* text = menu.addAction(QStringLiteral("导出 TXT…"));
    menu.addSeparator();
    QAction* remove = menu.addAction(QStringLiteral("删除"));
    QAction* chosen = menu.exec(m_resultList->viewport()->mapToGlobal(position));
    if (chosen == remove) {
        removeNovelOfRow(row);
    } else if (chosen == switchSite && m_resultList->item(row, 1) && m_resultList->item(row, 2)) {
        startSourceSwitch(m_resultList->item(row, 1)->text(), m_resultList->item(row, 2)->text());
    } else if ((chosen == epub || chosen == text) && m_resultList->item(row, 1) &&
               m_resultList->item(row, 2)) {
        startExport(m_resultList->item(row, 1)->text(), m_resultList->item(row, 2)->text(),
                    chosen == epub ? ExportFormat::Epub : ExportFormat::Text);
    }
}

namespace {

void exportTo(std::shared_ptr<WindowSurface> surface, const QString& siteName,
              const QString& novelName, const ExportOptions& options,
              const std::function<bool(const QString&)>& confirm) {
    exportNovelInBackground(siteName, novelName, options, surface, [=](const ExportResult& result) {
        if (result.kind != ExportResult::Kind::MissingChapters)
            return;
        if (!confirm(missingChaptersQuestion(result.missing))) {
            // Said only now: while the question is open nothing is decided yet.
            surface->setStatusText(exportStatusText(result, novelName, options.fileName));
            return;
        }
        ExportOptions allowing = options;
        allowing.allowMissing = true;
        exportTo(surface, siteName, novelName, allowing, confirm);
    });
}

// The folder an export is proposed in: the last one used while it exists, else the documents
// folder when there is one, else home (never the folder the program was started in).
QString exportFolder(const QString& last) {
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last + QLatin1Char('/');
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents + QLatin1Char('/');
    return QDir::homePath() + QLatin1Char('/');
}

// The novel's name; with its site when the shelf holds the novel on another site too, so that
// the two copies do not take each other's file.
QString exportFileName(const QString& siteName, const QString& novelName, ExportFormat format) {
    QString base = novelName;
    try {
        for (const ShelfEntry& entry : bookshelf(false)) {
            if (entry.novelName == novelName && entry.siteName != siteName) {
                base += QStringLiteral("（%1）").arg(siteName);
                break;
            }
        }
    } catch (const SqliteException&) {
        // The plain name, then.
    }
    base.replace(QLatin1Char('/'), QLatin1Char('_'));
    return base + (format == ExportFormat::Epub ? QStringLiteral(".epub") : QStringLiteral(".txt"));
}

} // namespace

void MainWindow::startExport(const QString& siteName, const QString& novelName,
                             ExportFormat format) {
    const bool epub = format == ExportFormat::Epub;
    const QString config = dataFolder() + QStringLiteral("config.ini");
    const QString file = m_chooseExportFile(
        exportFolder(readIniValue(config, QStringLiteral("export"), QStringLiteral("folder"))) +
            exportFileName(siteName, novelName, format),
        epub ? QStringLiteral("EPUB 电子书 (*.epub)") : QStringLiteral("文本文件 (*.txt)"));
    if (file.isEmpty())
        return;
    // The next export starts where this one went; a folder not remembered costs one click.
    writeIniValue(config, QStringLiteral("export"), QStringLiteral("folder"),
                  QFileInfo(file).absolutePath());
    ExportOptions options;
    options.format = format;
    options.script = readingSettings().script; // the book as the reader reads it
    options.fileName = file;
    exportTo(surface(), siteName, novelName, options, m_confirm);
}

void MainWindow::removeNovelOfRow(int row) {
    const QTableWidgetItem* siteItem = m_resultList->item(row, 1);
    const QTableWidgetItem* nameItem = m_resultList->item(row, 2);
    if (!m_bookshelf || !siteItem || !nameItem)
        return;
    const QString site = siteItem->text();
    const QString name = nameItem->text();
    if (!m_confirm(QStringLiteral(
                       "确定要删除《%1》（%2）吗？\n它的目录、已下载的章节和本地文件都将被删除。")
                       .arg(name, site)))
        return;
    setStatusText(QStringLiteral("正在删除《%1》……").arg(name));
    // On a thread of its own: a download of the novel is stopped first, and it reports to this
    // window while it stops.
    removeNovelInBackground(site, name, surface(), [this](bool) {
        if (m_bookshelf)
            listRecentReads();
    });
}

void MainWindow::chooseTargetSites() {
    runSiteSelectionDialog(this);
}

} // namespace zvrd
