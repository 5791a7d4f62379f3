// Export from the window: where the book goes, what it is named, and the question about
// chapters not stored yet.
#include "app/MainWindow.h"

#include "core/DataFolder.h"
#include "core/IniFile.h"
#include "export/NovelExport.h"
#include "pages/ReadingStyle.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/LibraryWorkers.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace zvrd {

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

} // namespace zvrd
