#include "export/ExportParts.h"
#include "export/NovelExport.h"

#include "core/ChineseScript.h"
#include "net/WebFetch.h"

#include <QFileInfo>
#include <QSaveFile>

namespace zvrd {

QString writeText(const NovelPlan& plan, const QString& fileName, TextEncoding encoding) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    auto put = [&](const QString& text) {
        const QByteArray bytes = encoding == TextEncoding::Gbk ? encodeGbk(text) : text.toUtf8();
        return file.write(bytes) == bytes.size();
    };
    QString head = cleanName(plan.info.name, QStringLiteral("无题")) + QLatin1Char('\n');
    if (const QString author = cleanName(plan.info.author, QString()); !author.isEmpty())
        head += QStringLiteral("作者：") + author + QLatin1Char('\n');
    bool ok = put(head);
    StoredTextReader reader(plan.novelId);
    for (size_t i = 0; ok && i < plan.chapters.size(); ++i) {
        const ChapterPlan& chapter = plan.chapters[i];
        QString text = QStringLiteral("\n\n") +
                       cleanName(chapter.name, chapterFallbackName(static_cast<int32_t>(i))) +
                       QLatin1Char('\n');
        if (!chapter.stored) {
            text += QLatin1Char('\n') + missingText() + QLatin1Char('\n');
        } else if (chapter.picture) {
            QStringList names;
            for (const Picture& picture : chapter.pictures)
                names.append(QFileInfo(picture.path).fileName());
            text += QStringLiteral("\n[图片] ") + names.join(QLatin1Char(' ')) + QLatin1Char('\n');
        } else {
            for (const QString& paragraph :
                 chapterParagraphs(inScript(reader.html(static_cast<int32_t>(i)), plan.script)))
                text += QLatin1Char('\n') + paragraph + QLatin1Char('\n');
        }
        ok = put(text);
    }
    if (!ok) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}

} // namespace zvrd
