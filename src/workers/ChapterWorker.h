// workers: one chapter into the novel store (downloaded and cleaned, or its pictures fetched)
// and, when asked, shown as the chapter page.
#pragma once

#include "workers/WindowSurface.h"
#include "workers/Worker.h"

#include <memory>

namespace zvrd {

class ChapterWorker : public Worker {
    Q_OBJECT
public:
    // Starts at once. From the reading navigation: detached, display on; from the bulk download:
    // held, display off.
    ChapterWorker(int32_t ruleId, int32_t novelId, int32_t chapterIndex, const QString& bookDir,
                  const QString& novelName, const QString& chapterName, const QString& chapterUrl,
                  bool displayChapter, std::shared_ptr<WindowSurface> surface, Ownership ownership);

protected:
    void run() override;

private:
    void report(const QString& text);
    void saveFailed();
    // Downloads the chapter; false when it failed (the failed row is stored and reported).
    bool download(QString* chapterHtml);

    QString m_statusText;
    QString m_novelName;
    QString m_chapterName;
    QString m_chapterUrl;
    QString m_bookDir;
    int32_t m_ruleId;
    int32_t m_novelId;
    int32_t m_chapterIndex;
    bool m_displayChapter;
    std::shared_ptr<WindowSurface> m_surface;
};

// The local file of picture n of a chapter: folder + index + "_" + n + "." + extension of the
// address, the extension made safe as a file name (no "/" or control character).
QString pictureFileName(const QString& picFolder, int32_t chapterIndex, int n,
                        const QString& resolvedUrl);

} // namespace zvrd
