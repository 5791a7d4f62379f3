#include "export/ExportParts.h"
#include "export/NovelExport.h"

#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QFile>

namespace zvrd {
namespace {

constexpr int32_t kPictureChapter = 1;

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
    SqliteDatabase db(novelDatabasePath());
    auto rows =
        db.cursor(QStringLiteral("select chapter_id,chapter_type,case when chapter_type=%1 then "
                                 "chapter_content end from novel_chapter where novel_id=%2 and "
                                 "is_download<>0")
                      .arg(kPictureChapter)
                      .arg(plan.novelId));
    for (; !rows->atEnd(); rows->next()) {
        const int64_t index = rows->fieldAsInteger(0);
        if (index < 0 || index >= list.count)
            continue;
        ChapterPlan& chapter = plan.chapters[static_cast<size_t>(index)];
        chapter.stored = true;
        chapter.picture = rows->fieldAsInteger(1) == kPictureChapter;
        if (!chapter.picture)
            continue;
        const QStringList files =
            rows->fieldAsString(2).split(QLatin1Char('|'), Qt::SkipEmptyParts);
        for (qsizetype n = 0; n < files.size(); ++n) {
            Picture picture;
            picture.path = files[n];
            picture.mediaType = mediaTypeOfFile(picture.path);
            if (!picture.mediaType.isEmpty())
                picture.entry = QStringLiteral("images/p%1_%2.%3")
                                    .arg(index + 1, 5, 10, QLatin1Char('0'))
                                    .arg(n)
                                    .arg(extensionFor(picture.mediaType));
            chapter.pictures.push_back(picture);
        }
    }
    for (const ChapterPlan& chapter : plan.chapters)
        plan.missing += chapter.stored ? 0 : 1;
    return plan;
}

// The stored chapters in index order, read through one statement (one read transaction: the
// book is one moment of the library, whatever a download stores meanwhile).
ChapterReader::ChapterReader(int32_t novelId)
    : m_db(novelDatabasePath()),
      m_rows(m_db.cursor(QStringLiteral("select chapter_id,chapter_content from novel_chapter "
                                        "where novel_id=%1 and is_download<>0 and "
                                        "chapter_type<>%2 order by chapter_id")
                             .arg(novelId)
                             .arg(kPictureChapter))),
      m_novelId(novelId) {}

QString ChapterReader::html(int32_t index) {
    while (!m_rows->atEnd() && m_rows->fieldAsInteger(0) < index)
        m_rows->next();
    if (!m_rows->atEnd() && m_rows->fieldAsInteger(0) == index)
        return m_rows->fieldAsString(1);
    SqliteDatabase db(novelDatabasePath());
    return db.stringValue(QStringLiteral("select chapter_content from novel_chapter where "
                                         "novel_id=%1 and chapter_id=%2")
                              .arg(m_novelId)
                              .arg(index));
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
