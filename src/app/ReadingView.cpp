// The reading page's look and the window around it: 阅读设置, the font size from the keyboard,
// full screen.
#include "app/MainWindow.h"

#include "app/PageView.h"
#include "app/ReadingSettingsDialog.h"
#include "core/DataFolder.h"
#include "pages/PageRenderer.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/OpenNovelWorker.h"

#include <QFile>
#include <QKeySequence>
#include <QRegularExpression>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWebEngineScript>

namespace zvrd {

void MainWindow::buildReadingShortcuts() {
    const auto add = [this](const QKeySequence& keys, auto&& action) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    add(QKeySequence::ZoomIn, [this] { changeFontSize(2); });
    add(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { changeFontSize(2); });
    add(QKeySequence::ZoomOut, [this] { changeFontSize(-2); });
    add(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { changeFontSize(0); });
    add(QKeySequence(Qt::Key_F11), [this] { setReadingFullScreen(!isFullScreen()); });
    add(QKeySequence(Qt::Key_Escape), [this] {
        if (isFullScreen())
            setReadingFullScreen(false);
    });
}

void MainWindow::takeReaderMessage(const QString& message) {
    const QStringList pieces = message.split(QLatin1Char('#'));
    if (pieces.size() == 2 && pieces[0] == QLatin1String("reading_size")) {
        changeFontSize(pieces[1].toInt() > 0 ? 2 : -2);
        return;
    }
    if (pieces.size() != 4)
        return;
    try {
        recordReadingPlace(pieces[1].toInt(), pieces[2].toInt(), pieces[3].toInt());
    } catch (const SqliteException&) {
        // A place not kept costs a scroll next time; the reading goes on.
    }
}

void MainWindow::applyReadingStyle(const ReadingSettings& settings) {
    if (!writeReadingStyleSheet(settings)) {
        setStatusText(QStringLiteral("无法写入阅读样式：%1").arg(templateFolder()));
        return;
    }
    // The page shown takes the new stylesheet where it is, without reloading.
    m_pageView->page()->runJavaScript(
        QStringLiteral("for (const l of document.querySelectorAll('link[rel=stylesheet]'))"
                       " l.href = l.href.split('?')[0] + '?' + Date.now();"),
        QWebEngineScript::ApplicationWorld);
}

void MainWindow::showReadingSettings() {
    const ReadingSettings kept = readingSettings();
    ReadingSettingsDialog dialog(
        kept, [this](const ReadingSettings& shown) { applyReadingStyle(shown); }, this);
    if (dialog.exec() != QDialog::Accepted) {
        applyReadingStyle(kept);
        return;
    }
    keepReadingSettings(dialog.settings());
}

void MainWindow::keepReadingSettings(const ReadingSettings& settings) {
    const bool newScript = settings.script != readingSettings().script;
    applyReadingStyle(settings);
    if (!saveReadingSettings(settings))
        showError(QStringLiteral("无法写入配置文件：%1")
                      .arg(dataFolder() + QStringLiteral("config.ini")));
    // The page shown is drawn again in the new script.
    if (!newScript)
        return;
    const QString shown = m_pageView->url().fileName();
    if (shown == QLatin1String("content_page.htm") && m_shownChapter.first >= 0) {
        bool cancel = false;
        handleNavigation(chapterLink(m_shownChapter.first, m_shownChapter.second), cancel);
    } else if (shown == QLatin1String("directory_page.htm")) {
        redrawShownDirectory();
    }
}

void MainWindow::redrawShownDirectory() {
    // The table of contents names its novel in its 换源 link.
    QFile page(m_pageView->url().toLocalFile());
    if (!page.open(QIODevice::ReadOnly))
        return;
    static const QRegularExpression link(QStringLiteral("directory_switch#(\\d+)"));
    const QRegularExpressionMatch found = link.match(QString::fromUtf8(page.readAll()));
    if (!found.hasMatch())
        return;
    try {
        if (redrawDirectoryPage(found.captured(1).toInt()))
            m_pageView->reload();
    } catch (const SqliteException&) {
        // Shown in the old script until it is opened again.
    }
}

void MainWindow::changeFontSize(int step) {
    ReadingSettings settings = readingSettings();
    settings.fontSize = step == 0 ? ReadingSettings().fontSize : settings.fontSize + step;
    settings = boundedSettings(settings);
    keepReadingSettings(settings);
    setStatusText(QStringLiteral("字号：%1 像素").arg(settings.fontSize));
}

void MainWindow::setReadingFullScreen(bool on) {
    m_toolBar->setVisible(!on);
    statusBar()->setVisible(!on);
    if (on)
        showFullScreen();
    else
        showNormal();
}

} // namespace zvrd
