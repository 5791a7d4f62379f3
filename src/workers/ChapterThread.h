// workers: one chapter into the novel store (downloaded and cleaned, or its pictures fetched)
// and, when asked, shown as the chapter page.
#pragma once

#include "workers/WindowSurface.h"
#include "workers/WorkerThread.h"

#include <memory>

namespace zvrd {

class TChapterThread : public TWorkerThread {
    Q_OBJECT
public:
    // Starts at once. From the reading navigation: detached, display on; from the bulk download:
    // held, display off.
    TChapterThread(int32_t RuleId, int32_t NovelId, int32_t ChapterIndex, const QString& strBookDir,
                   const QString& strNovelName, const QString& strChapterName,
                   const QString& strChapterUrl, bool isDisplayChapter,
                   std::shared_ptr<WindowSurface> surface, Ownership ownership);

protected:
    void Execute() override;

private:
    void Report(const QString& text);
    void SaveFailed();
    // Downloads the chapter; false when it failed (the failed row is stored and reported).
    bool Download(QString* chapterHtml);

    QString _strStatusText;
    QString _strNovelName;
    QString _strChapterName;
    QString _strChapterUrl;
    QString _strBookDir;
    int32_t _RuleId;
    int32_t _NovelId;
    int32_t _ChapterIndex;
    bool _isDisplayChapter;
    std::shared_ptr<WindowSurface> fSurface;
};

// The local file of picture n of a chapter: folder + index + "_" + n + "." + extension of the
// address, the extension made safe as a file name (no "/" or control character).
QString PictureFileName(const QString& picFolder, int32_t chapterIndex, int n,
                        const QString& resolvedUrl);

} // namespace zvrd
