// The reading page's look and the window around it: 阅读设置, the font size from the keyboard,
// full screen.
#include "app/MainWindow.h"

#include "app/PageView.h"
#include "app/ReadingSettingsDialog.h"
#include "core/DataFolder.h"
#include "pages/PageRenderer.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QKeySequence>
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

void MainWindow::keepReadingPlace(const QString& place) {
    const QStringList pieces = place.split(QLatin1Char('#'));
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
    // The chapter shown is drawn again in the new script; a table of contents at its next
    // opening.
    if (newScript && m_shownChapter.first >= 0 &&
        m_pageView->url().fileName() == QLatin1String("content_page.htm")) {
        bool cancel = false;
        handleNavigation(chapterLink(m_shownChapter.first, m_shownChapter.second), cancel);
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
