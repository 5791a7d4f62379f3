// The bookshelf (最近阅读): listing it, 检查更新, its row menu and removing a novel from it.
#include "app/MainWindow.h"

#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/LibraryWorkers.h"

#include <QMenu>
#include <QTableWidget>

namespace zvrd {

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

} // namespace zvrd
