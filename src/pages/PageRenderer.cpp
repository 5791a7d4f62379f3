#include "pages/PageRenderer.h"

#include "core/AppFolder.h"
#include "core/Text.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStringDecoder>

namespace zvrd {
namespace {

QString ResourcePath(const QString& fileName) {
    return QStringLiteral(":/templates/") + fileName;
}

// A name from a web page as one safe folder name.
QString SafeFolderName(const QString& name) {
    QString safe = name;
    for (QChar& c : safe) {
        if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('_');
    }
    if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String(".."))
        return QStringLiteral("_");
    return safe;
}

// The value as the body of a JavaScript string literal: quotes, backslashes, line ends and
// "<" escaped, so the script reads back exactly the value and nothing closes the script early.
QString JsStringBody(const QString& value) {
    QString out;
    out.reserve(value.size() + 8);
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\'':
            out += QStringLiteral("\\'");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '<':
            out += QStringLiteral("\\u003C");
            break;
        case '>':
            out += QStringLiteral("\\u003E");
            break;
        case '&':
            out += QStringLiteral("\\u0026");
            break;
        case 0x2028:
            out += QStringLiteral("\\u2028");
            break;
        case 0x2029:
            out += QStringLiteral("\\u2029");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

QString NewNonce() {
    QString nonce;
    for (int i = 0; i < 4; ++i)
        nonce += QString::number(QRandomGenerator::system()->generate(), 36);
    return nonce;
}

// Fills placeholder inside the page's own key script with the JavaScript form of value and
// every other occurrence with value as it is.
void ReplaceOutsideAndInsideScript(QString& page, const QString& placeholder, const QString& value,
                                   const QString& scriptStart) {
    const qsizetype start = page.indexOf(scriptStart);
    const qsizetype end = start < 0 ? -1 : page.indexOf(QLatin1String("</script>"), start);
    if (start < 0 || end < 0) {
        page.replace(placeholder, value);
        return;
    }
    QString before = page.left(start);
    QString script = page.mid(start, end - start);
    QString after = page.mid(end);
    before.replace(placeholder, value);
    script.replace(placeholder, JsStringBody(value));
    after.replace(placeholder, value);
    page = before + script + after;
}

} // namespace

EPageFileError::EPageFileError(const QString& message)
    : std::runtime_error(message.toStdString()) {}

const QStringList& TemplateFileNames() {
    static const QStringList names = {QStringLiteral("wait.htm"), QStringLiteral("loading.gif"),
                                      QStringLiteral("directory_page.htm"),
                                      QStringLiteral("content_page.htm")};
    return names;
}

QStringList ExtractTemplates() {
    QStringList failed;
    const QString folder = TempFolder();
    for (const QString& name : TemplateFileNames()) {
        QFile resource(ResourcePath(name));
        QSaveFile file(folder + name);
        if (!resource.open(QIODevice::ReadOnly) || !file.open(QIODevice::WriteOnly) ||
            file.write(resource.readAll()) != resource.size() || !file.commit())
            failed << folder + name;
    }
    return failed;
}

QString BookFolder(const QString& siteName, const QString& novelName) {
    return AppFolder() + QStringLiteral("book/") + SafeFolderName(siteName) + QLatin1Char('/') +
           SafeFolderName(TrimControl(novelName)) + QLatin1Char('/');
}

QString ReadTextFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EPageFileError(
            QStringLiteral("Cannot open file \"%1\": %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EPageFileError(
            QStringLiteral("Cannot read file \"%1\": %2").arg(fileName, file.errorString()));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder decode(QStringDecoder::Utf16LE);
        return decode(bytes.mid(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder decode(QStringDecoder::Utf16BE);
        return decode(bytes.mid(2));
    }
    return QString::fromUtf8(bytes);
}

void WriteTextFile(const QString& text, const QString& fileName) {
    // Written whole under a temporary name, then renamed: a reader never sees half a page.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw EPageFileError(
            QStringLiteral("Cannot create file \"%1\": %2").arg(fileName, file.errorString()));
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw EPageFileError(
            QStringLiteral("Cannot write file \"%1\": %2").arg(fileName, file.errorString()));
}

bool WritePage(const QString& page, const QString& folder, const QString& fileName) {
    if (!QDir().mkpath(folder))
        return false;
    try {
        WriteTextFile(page, folder + fileName);
    } catch (const EPageFileError&) {
        return false;
    }
    return true;
}

QString ChapterLink(int32_t novelId, int32_t chapterIndex) {
    return QStringLiteral("directory_info#%1#%2").arg(novelId).arg(chapterIndex);
}

QString DirectoryRows(int32_t novelId, const QStringList& chapterNames) {
    QString rows;
    for (qsizetype i = 0; i < chapterNames.size(); ++i) {
        const QString cell =
            QStringLiteral("<td height=\"30\" style=\"padding-left:50px;\"><a href=\"") +
            ChapterLink(novelId, static_cast<int32_t>(i)) + QStringLiteral("\">") +
            chapterNames[i] + QStringLiteral("</a></td>");
        if (i % 2 == 0)
            rows += QStringLiteral("<tr>") + cell;
        else
            rows += cell + QStringLiteral("</tr>");
    }
    if (chapterNames.size() % 2 == 1)
        rows += QStringLiteral("<td></td></tr>");
    return rows;
}

QString SiteLine(const QString& siteName, const QString& siteUrl, const QString& infoPageUrl) {
    return QStringLiteral("目标站 ： ") + siteName + QStringLiteral("  网址 ： <a href=\"") +
           siteUrl + QStringLiteral("\">") + siteUrl +
           QStringLiteral("</a> 小说URL地址 ： <a href=\"") + infoPageUrl + QStringLiteral("\">") +
           infoPageUrl + QStringLiteral("</a> ");
}

QString RenderDirectoryPage(int32_t novelId, const QStringList& chapterNames,
                            const QString& novelName, const QString& siteName,
                            const QString& siteUrl, const QString& infoPageUrl) {
    QString page = ReadTextFile(TempFolder() + QStringLiteral("directory_page.htm"));
    page.replace(QStringLiteral("{NovelName}"), novelName);
    page.replace(QStringLiteral("{Contents}"), DirectoryRows(novelId, chapterNames));
    page.replace(QStringLiteral("{SiteInfo}"), SiteLine(siteName, siteUrl, infoPageUrl));
    return page;
}

QString PrevChapterUrl(int32_t novelId, int32_t chapterIndex, const QString& bookFolder) {
    if (chapterIndex == 0)
        return bookFolder + QStringLiteral("directory_page.htm");
    return ChapterLink(novelId, chapterIndex - 1);
}

QString NextChapterUrl(int32_t novelId, int32_t chapterIndex, int32_t chapterCount,
                       const QString& bookFolder) {
    if (chapterCount == chapterIndex + 1)
        return bookFolder + QStringLiteral("directory_page.htm");
    return ChapterLink(novelId, chapterIndex + 1);
}

QString RenderContentPage(int32_t novelId, int32_t chapterIndex, int32_t chapterCount,
                          const QString& bookFolder, const QString& novelName,
                          const QString& chapterName, const QString& chapterHtml) {
    QString page = ReadTextFile(TempFolder() + QStringLiteral("content_page.htm"));
    // The nonce goes in first, so a "{Nonce}" inside the chapter text stays literal.
    const QString nonce = NewNonce();
    page.replace(QStringLiteral("{Nonce}"), nonce);
    page.replace(QStringLiteral("{NovelName}"), novelName);
    page.replace(QStringLiteral("{ChapterName}"), chapterName);
    page.replace(QStringLiteral("{ChapterContent}"), chapterHtml);
    const QString scriptStart = QStringLiteral("<script type=\"text/javascript\" nonce=\"") + nonce;
    ReplaceOutsideAndInsideScript(page, QStringLiteral("{PrevChapterUrl}"),
                                  PrevChapterUrl(novelId, chapterIndex, bookFolder), scriptStart);
    ReplaceOutsideAndInsideScript(page, QStringLiteral("{NextChapterUrl}"),
                                  NextChapterUrl(novelId, chapterIndex, chapterCount, bookFolder),
                                  scriptStart);
    return page;
}

QString PictureChapterHtml(const QString& storedPictures) {
    QString html;
    for (const QString& path : storedPictures.split(QLatin1Char('|'), Qt::SkipEmptyParts))
        html += QStringLiteral("<div style=\"text-align:center\"><img src=\"") + path +
                QStringLiteral("\" border=\"0\"></div><br />");
    return html;
}

} // namespace zvrd
