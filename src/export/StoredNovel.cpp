#include "export/ExportParts.h"
#include "export/NovelExport.h"

#include "core/DataFolder.h"
#include "store/NovelLibrary.h"

#include <QFile>

namespace zvrd {
namespace {

QString extensionFor(const QString& mediaType) {
    if (mediaType == QLatin1String("image/png"))
        return QStringLiteral("png");
    if (mediaType == QLatin1String("image/jpeg"))
        return QStringLiteral("jpg");
    return QStringLiteral("gif");
}

QString mediaTypeOfFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return pictureMediaType(file.read(16));
}

} // namespace

NovelPlan planNovel(const QString& siteName, const QString& novelName) {
    NovelPlan plan;
    plan.siteName = siteName;
    plan.novelId = recentReadId(siteName, novelName);
    if (plan.novelId < 0)
        return plan;
    plan.info = recentReadInfo(siteName, novelName);
    const ChapterList list = loadChapterList(plan.novelId);
    plan.chapters.resize(static_cast<size_t>(list.count));
    for (int32_t i = 0; i < list.count; ++i)
        plan.chapters[static_cast<size_t>(i)].name = list.names.value(i);
    for (const DownloadedChapter& row : downloadedChapters(plan.novelId)) {
        if (row.index < 0 || row.index >= list.count)
            continue;
        ChapterPlan& chapter = plan.chapters[static_cast<size_t>(row.index)];
        chapter.stored = true;
        chapter.picture = row.kind == ChapterKind::Picture;
        if (!chapter.picture)
            continue;
        const QStringList files = row.pictures.split(QLatin1Char('|'), Qt::SkipEmptyParts);
        for (qsizetype n = 0; n < files.size(); ++n) {
            Picture picture;
            picture.path = storedPicturePath(files[n]);
            picture.mediaType = mediaTypeOfFile(picture.path);
            if (!picture.mediaType.isEmpty())
                picture.entry = QStringLiteral("images/p%1_%2.%3")
                                    .arg(row.index + 1, 5, 10, QLatin1Char('0'))
                                    .arg(n)
                                    .arg(extensionFor(picture.mediaType));
            chapter.pictures.push_back(picture);
        }
    }
    for (const ChapterPlan& chapter : plan.chapters)
        plan.missing += chapter.stored ? 0 : 1;
    return plan;
}

QString pictureMediaType(const QByteArray& firstBytes) {
    if (firstBytes.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("image/png");
    if (firstBytes.startsWith("\xff\xd8\xff"))
        return QStringLiteral("image/jpeg");
    if (firstBytes.startsWith("GIF87a") || firstBytes.startsWith("GIF89a"))
        return QStringLiteral("image/gif");
    return QString();
}

} // namespace zvrd
