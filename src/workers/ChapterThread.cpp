#include "workers/ChapterThread.h"

#include "core/AppFolder.h"
#include "net/WebFetch.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QDir>
#include <QFile>

namespace zvrd {
namespace {

constexpr int32_t kTextChapter = 0;
constexpr int32_t kPictureChapter = 1;
constexpr int32_t kFailedChapter = -1;

QString ChapterWhere(int32_t novelId, int32_t chapterIndex) {
    return QStringLiteral(" from novel_chapter where novel_id=%1 and chapter_id=%2")
        .arg(novelId)
        .arg(chapterIndex);
}

} // namespace

QString PictureFileName(const QString& picFolder, int32_t chapterIndex, int n,
                        const QString& resolvedUrl) {
    // The extension comes from a web page: it must not lead out of the picture folder.
    QString ext = GetFileExt(resolvedUrl);
    for (QChar& c : ext) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
            c = QLatin1Char('_');
    }
    return picFolder + QString::number(chapterIndex) + QLatin1Char('_') + QString::number(n) +
           QLatin1Char('.') + ext;
}

TChapterThread::TChapterThread(int32_t RuleId, int32_t NovelId, int32_t ChapterIndex,
                               const QString& strBookDir, const QString& strNovelName,
                               const QString& strChapterName, const QString& strChapterUrl,
                               bool isDisplayChapter, std::shared_ptr<WindowSurface> surface,
                               Ownership ownership)
    : TWorkerThread(ownership), _strNovelName(strNovelName), _strChapterName(strChapterName),
      _strChapterUrl(strChapterUrl), _strBookDir(strBookDir), _RuleId(RuleId), _NovelId(NovelId),
      _ChapterIndex(ChapterIndex), _isDisplayChapter(isDisplayChapter),
      fSurface(std::move(surface)) {
    Begin();
}

void TChapterThread::Report(const QString& text) {
    _strStatusText = text;
    fSurface->SetStatusText(_strStatusText);
}

void TChapterThread::SaveFailed() {
    std::lock_guard lock(AppMutex());
    SaveChapter(_NovelId, _ChapterIndex, kFailedChapter, 0, QString());
}

bool TChapterThread::Download(QString* chapterHtml) {
    TRuleInfoList rules;
    {
        std::lock_guard lock(AppMutex());
        rules = LoadRuleInfoList();
    }
    const TRuleInfo* rule = nullptr;
    for (const TRuleInfo& r : rules) {
        if (r.strId.toInt() == _RuleId) {
            rule = &r;
            break;
        }
    }
    if (!rule) {
        Report(QStringLiteral("无法从小说章节页提取章节内容，任务已中止！"));
        SaveFailed();
        return false;
    }
    const QString content = ParseChapterContent(*rule, _strChapterUrl);
    if (content.isEmpty()) {
        SaveFailed();
        Report(QStringLiteral("提取小说章节页正文失败，章节名称：%1， 目标页面：%2")
                   .arg(_strChapterName, _strChapterUrl));
        return false;
    }
    const QStringList pictures = GetImageUrls(content);
    if (pictures.isEmpty()) {
        std::lock_guard lock(AppMutex());
        SaveChapter(_NovelId, _ChapterIndex, kTextChapter, 1, content);
        *chapterHtml = content;
    } else {
        // A picture chapter: only the pictures are kept.
        const QString picFolder = _strBookDir + QStringLiteral("pic/");
        QDir().mkpath(picFolder);
        QString stored;
        for (int n = 0; n < pictures.size(); ++n) {
            const QString resolved = CombineUrl(_strChapterUrl, pictures[n]);
            const QString file = PictureFileName(picFolder, _ChapterIndex, n, resolved);
            if (QFile::exists(file))
                QFile::remove(file);
            Report(QStringLiteral("正在下载图片章节： %1").arg(resolved));
            if (DownloadFile(resolved, file, 1) != 1) {
                SaveFailed();
                Report(QStringLiteral("图片章节下载失败，章节地址： %1，请重试！")
                           .arg(_strChapterUrl));
                return false;
            }
            if (n > 0)
                stored += QLatin1Char('|');
            stored += file;
        }
        std::lock_guard lock(AppMutex());
        SaveChapter(_NovelId, _ChapterIndex, kPictureChapter, 1, stored);
        *chapterHtml = stored;
    }
    Report(QStringLiteral("成功下载一个章节：「%1」").arg(_strChapterName));
    return true;
}

void TChapterThread::Execute() {
    int64_t downloaded = 0;
    {
        std::lock_guard lock(AppMutex());
        TSQLiteDatabase db(NovelDatabasePath());
        auto table = db.GetTable(QStringLiteral("select is_download") +
                                 ChapterWhere(_NovelId, _ChapterIndex));
        if (!table->Eof())
            downloaded = table->FieldAsString(0).toLongLong();
    }
    QString chapterHtml;
    if (downloaded == 0 && !Download(&chapterHtml))
        return;
    if (!_isDisplayChapter)
        return;

    {
        std::lock_guard lock(AppMutex());
        TSQLiteDatabase db(NovelDatabasePath());
        auto table = db.GetTable(QStringLiteral("select chapter_type,chapter_content") +
                                 ChapterWhere(_NovelId, _ChapterIndex));
        if (!table->Eof()) {
            chapterHtml = table->FieldAsString(1);
            if (table->FieldAsString(0).toInt() == kPictureChapter)
                chapterHtml = PictureChapterHtml(chapterHtml);
        }
    }
    const int32_t count = GetDirectoryCount(_NovelId);
    const QString page = RenderContentPage(_NovelId, _ChapterIndex, count, _strBookDir,
                                           _strNovelName, _strChapterName, chapterHtml);
    const QString file = _strBookDir + QStringLiteral("content_page.htm");
    if (!WritePage(page, _strBookDir, QStringLiteral("content_page.htm"))) {
        Report(QStringLiteral("无法向本地磁盘写入小说目录页面，任务中止！。"));
        fSurface->ShowResultList();
        return;
    }
    Report(QStringLiteral("当前章节： 「%1」").arg(_strChapterName));
    fSurface->NavigatePageView(file);
}

} // namespace zvrd
