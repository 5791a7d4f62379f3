#include "export/NovelExport.h"

#include "export/ExportParts.h"

namespace zvrd {

ExportResult exportNovel(const QString& siteName, const QString& novelName,
                         const ExportOptions& options) {
    ExportResult result;
    NovelPlan plan = planNovel(siteName, novelName);
    plan.script = options.script;
    plan.info.name = inScript(plan.info.name, plan.script);
    plan.info.author = inScript(plan.info.author, plan.script);
    for (ChapterPlan& chapter : plan.chapters)
        chapter.name = inScript(chapter.name, plan.script);
    if (plan.novelId < 0) {
        result.kind = ExportResult::Kind::UnknownNovel;
        return result;
    }
    result.chapters = static_cast<int32_t>(plan.chapters.size());
    result.missing = plan.missing;
    if (plan.missing > 0 && !options.allowMissing) {
        result.kind = ExportResult::Kind::MissingChapters;
        return result;
    }
    result.error = options.format == ExportFormat::Epub
                       ? writeEpub(plan, options.fileName)
                       : writeText(plan, options.fileName, options.encoding);
    result.kind = result.error.isEmpty() ? ExportResult::Kind::Written : ExportResult::Kind::Failed;
    return result;
}

QString exportStatusText(const ExportResult& result, const QString& novelName,
                         const QString& fileName) {
    switch (result.kind) {
    case ExportResult::Kind::Written:
        return result.missing > 0 ? QStringLiteral("已导出《%1》到 %2，共 %3 个章节，其中 %4 "
                                                   "个尚未下载的章节以占位文字代替。")
                                        .arg(novelName, fileName)
                                        .arg(result.chapters)
                                        .arg(result.missing)
                                  : QStringLiteral("已导出《%1》到 %2，共 %3 个章节。")
                                        .arg(novelName, fileName)
                                        .arg(result.chapters);
    case ExportResult::Kind::UnknownNovel:
        return QStringLiteral("《%1》不在书架上。").arg(novelName);
    case ExportResult::Kind::MissingChapters:
        return QStringLiteral("《%1》还有 %2 个章节尚未下载，未导出。")
            .arg(novelName)
            .arg(result.missing);
    case ExportResult::Kind::Failed:
        break;
    }
    return QStringLiteral("导出失败：%1").arg(result.error);
}

QString missingChaptersQuestion(int32_t missing) {
    return QStringLiteral("还有 %1 个章节尚未下载。仍要导出，并以占位文字代替这些章节吗？")
        .arg(missing);
}

} // namespace zvrd
