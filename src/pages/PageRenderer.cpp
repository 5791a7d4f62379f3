#include "pages/PageRenderer.h"

#include "pages/ReadingStyle.h"

#include "core/DataFolder.h"
#include "core/Text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStringDecoder>
#include <QUrl>

namespace zvrd {
namespace {

QString resourcePath(const QString& fileName) {
    return QStringLiteral(":/templates/") + fileName;
}

// A folder name cut to the file system's limit: at most this many UTF-8 bytes, cut at a
// character boundary and followed by a short hash of the whole name, so two long names that
// share their beginning still get two folders.
constexpr qsizetype kMaxFolderNameBytes = 200;

QString shortenedFolderName(const QString& name) {
    const QByteArray utf8 = name.toUtf8();
    if (utf8.size() <= kMaxFolderNameBytes)
        return name;
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(utf8, QCryptographicHash::Sha1).toHex().left(8));
    const qsizetype room = kMaxFolderNameBytes - 1 - hash.size();
    QString kept;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < name.size();) {
        const qsizetype len =
            (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) ? 2
                                                                                               : 1;
        const qsizetype size = name.mid(i, len).toUtf8().size();
        if (bytes + size > room)
            break;
        kept += name.mid(i, len);
        bytes += size;
        i += len;
    }
    return kept + QLatin1Char('~') + hash;
}

// A name from a web page as one safe folder name.
QString safeFolderName(const QString& name) {
    QString safe = name;
    for (QChar& c : safe) {
        if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('_');
    }
    if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String(".."))
        return QStringLiteral("_");
    return shortenedFolderName(safe);
}

// The value as the body of a JavaScript string literal: quotes, backslashes, line ends and
// "<" escaped, so the script reads back exactly the value and nothing closes the script early.
QString jsStringBody(const QString& value) {
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

QString newNonce() {
    QString nonce;
    for (int i = 0; i < 4; ++i)
        nonce += QString::number(QRandomGenerator::system()->generate(), 36);
    return nonce;
}

// The template with every "{Name}" placeholder of values replaced in one pass over the template
// text, so text that came from a web page is never searched for placeholders again. Inside the
// region [scriptBegin, scriptEnd) of the template a placeholder gets its JavaScript form.
QString fillTemplate(const QString& page, const QList<std::pair<QString, QString>>& values,
                     qsizetype scriptBegin = -1, qsizetype scriptEnd = -1) {
    QString out;
    out.reserve(page.size() + 4096);
    qsizetype from = 0;
    for (;;) {
        const qsizetype open = page.indexOf(QLatin1Char('{'), from);
        if (open < 0)
            break;
        const qsizetype close = page.indexOf(QLatin1Char('}'), open + 1);
        if (close < 0)
            break;
        const QStringView name = QStringView(page).mid(open, close - open + 1);
        const QString* value = nullptr;
        for (const auto& [placeholder, text] : values) {
            if (name == placeholder) {
                value = &text;
                break;
            }
        }
        if (!value) {
            out += QStringView(page).mid(from, open + 1 - from);
            from = open + 1;
            continue;
        }
        out += QStringView(page).mid(from, open - from);
        out += (open >= scriptBegin && open < scriptEnd) ? jsStringBody(*value) : *value;
        from = close + 1;
    }
    out += QStringView(page).mid(from);
    return out;
}

} // namespace

PageFileError::PageFileError(const QString& message) : std::runtime_error(message.toStdString()) {}

const QStringList& templateFileNames() {
    static const QStringList names = {QStringLiteral("wait.htm"), QStringLiteral("loading.gif"),
                                      QStringLiteral("directory_page.htm"),
                                      QStringLiteral("content_page.htm")};
    return names;
}

QStringList extractTemplates() {
    QStringList failed;
    const QString folder = templateFolder();
    for (const QString& name : templateFileNames()) {
        QFile resource(resourcePath(name));
        QSaveFile file(folder + name);
        if (!resource.open(QIODevice::ReadOnly) || !file.open(QIODevice::WriteOnly) ||
            file.write(resource.readAll()) != resource.size() || !file.commit())
            failed << folder + name;
    }
    if (!writeReadingStyleSheet(readingSettings()))
        failed << folder + QStringLiteral("reading.css");
    return failed;
}

QString bookFolder(const QString& siteName, const QString& novelName) {
    return dataFolder() + QStringLiteral("book/") + safeFolderName(siteName) + QLatin1Char('/') +
           safeFolderName(trimControl(novelName)) + QLatin1Char('/');
}

bool removeBookFolder(const QString& siteName, const QString& novelName) {
    const QString root = QDir(dataFolder() + QStringLiteral("book")).canonicalPath();
    const QFileInfo folder(bookFolder(siteName, novelName));
    if (!folder.exists())
        return true;
    // Only a folder two levels inside book/, also after links are resolved: never the book
    // folder itself, a site's folder or anything outside.
    const QString path = folder.canonicalFilePath();
    if (root.isEmpty() || !path.startsWith(root + QLatin1Char('/')) ||
        QStringView(path).mid(root.size() + 1).count(QLatin1Char('/')) != 1 || folder.isSymLink())
        return false;
    return QDir(path).removeRecursively();
}

QString readTextFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw PageFileError(
            QStringLiteral("Cannot open file \"%1\": %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw PageFileError(
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

void writeTextFile(const QString& text, const QString& fileName) {
    // Written whole under a temporary name, then renamed: a reader never sees half a page.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw PageFileError(
            QStringLiteral("Cannot create file \"%1\": %2").arg(fileName, file.errorString()));
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw PageFileError(
            QStringLiteral("Cannot write file \"%1\": %2").arg(fileName, file.errorString()));
}

bool writePage(const QString& page, const QString& folder, const QString& fileName) {
    if (!QDir().mkpath(folder))
        return false;
    try {
        writeTextFile(page, folder + fileName);
    } catch (const PageFileError&) {
        return false;
    }
    return true;
}

QString chapterLink(int32_t novelId, int32_t chapterIndex) {
    return QStringLiteral("directory_info#%1#%2").arg(novelId).arg(chapterIndex);
}

QString directoryRows(int32_t novelId, const QStringList& chapterNames, const ReadingMarks& marks) {
    QString rows;
    for (qsizetype i = 0; i < chapterNames.size(); ++i) {
        const auto index = static_cast<int32_t>(i);
        const bool lastRead = index == marks.lastRead;
        const bool notStored = marks.notStored.contains(index);
        const QString cls = lastRead && notStored
                                ? QStringLiteral(" class=\"last-read not-stored\"")
                            : lastRead  ? QStringLiteral(" class=\"last-read\"")
                            : notStored ? QStringLiteral(" class=\"not-stored\"")
                                        : QString();
        const QString cell =
            QStringLiteral("<td height=\"30\" style=\"padding-left:50px;\"") + cls +
            QStringLiteral("><a href=\"") + chapterLink(novelId, index) + QStringLiteral("\">") +
            chapterNames[i] + QStringLiteral("</a>") +
            (lastRead ? QStringLiteral(" <span class=\"mark\">（上次读到这里）</span>")
                      : QString()) +
            QStringLiteral("</td>");
        if (i % 2 == 0)
            rows += QStringLiteral("<tr>") + cell;
        else
            rows += cell + QStringLiteral("</tr>");
    }
    if (chapterNames.size() % 2 == 1)
        rows += QStringLiteral("<td></td></tr>");
    return rows;
}

QString continueLink(int32_t novelId, const QStringList& chapterNames, int32_t lastRead) {
    if (lastRead < 0 || lastRead >= chapterNames.size())
        return QString();
    return QStringLiteral("<a class=\"continue\" href=\"") + chapterLink(novelId, lastRead) +
           QStringLiteral("\">继续阅读：") + chapterNames[lastRead] + QStringLiteral("</a>");
}

QString exportLinks(int32_t novelId) {
    return QStringLiteral("<a class=\"export\" href=\"directory_switch#%1\">换源…</a>&nbsp;&nbsp;"
                          "<a class=\"export\" href=\"directory_export#epub#%1\">导出 EPUB…</a>"
                          "&nbsp;&nbsp;<a class=\"export\" href=\"directory_export#txt#%1\">"
                          "导出 TXT…</a>")
        .arg(novelId);
}

QString siteLine(const QString& siteName, const QString& siteUrl, const QString& infoPageUrl) {
    // Addresses from a rule or a page stay inside their attribute.
    const QString site = siteUrl.toHtmlEscaped();
    const QString info = infoPageUrl.toHtmlEscaped();
    return QStringLiteral("目标站 ： ") + siteName + QStringLiteral("  网址 ： <a href=\"") + site +
           QStringLiteral("\">") + site + QStringLiteral("</a> 小说URL地址 ： <a href=\"") + info +
           QStringLiteral("\">") + info + QStringLiteral("</a> ");
}

QString renderDirectoryPage(int32_t novelId, const QStringList& chapterNames,
                            const QString& novelName, const QString& siteName,
                            const QString& siteUrl, const QString& infoPageUrl,
                            const ReadingMarks& marks) {
    const QString page = readTextFile(templateFolder() + QStringLiteral("directory_page.htm"));
    const ChineseScript script = readingSettings().script;
    return fillTemplate(page,
                        {{QStringLiteral("{NovelName}"), inScript(novelName, script)},
                         {QStringLiteral("{StyleSheet}"), readingStyleSheetUrl()},
                         {QStringLiteral("{Continue}"),
                          continueLink(novelId, inScript(chapterNames, script), marks.lastRead)},
                         {QStringLiteral("{Export}"), exportLinks(novelId)},
                         {QStringLiteral("{Contents}"),
                          directoryRows(novelId, inScript(chapterNames, script), marks)},
                         {QStringLiteral("{SiteInfo}"), siteLine(siteName, siteUrl, infoPageUrl)}});
}

QString fileUrl(const QString& path) {
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

QString prevChapterUrl(int32_t novelId, int32_t chapterIndex, const QString& bookFolder) {
    if (chapterIndex == 0)
        return fileUrl(bookFolder + QStringLiteral("directory_page.htm"));
    return chapterLink(novelId, chapterIndex - 1);
}

QString nextChapterUrl(int32_t novelId, int32_t chapterIndex, int32_t chapterCount,
                       const QString& bookFolder) {
    if (chapterCount == chapterIndex + 1)
        return fileUrl(bookFolder + QStringLiteral("directory_page.htm"));
    return chapterLink(novelId, chapterIndex + 1);
}

QString renderContentPage(int32_t novelId, int32_t chapterIndex, int32_t chapterCount,
                          const QString& bookFolder, const QString& novelName,
                          const QString& chapterName, const QString& chapterHtml, int32_t startAt) {
    const QString page = readTextFile(templateFolder() + QStringLiteral("content_page.htm"));
    // The page's own key script is the template's script that carries the nonce placeholder.
    const qsizetype scriptBegin =
        page.indexOf(QStringLiteral("<script type=\"text/javascript\" nonce=\"{Nonce}\""));
    const qsizetype scriptEnd =
        scriptBegin < 0 ? -1 : page.indexOf(QLatin1String("</script>"), scriptBegin);
    const QString nonce = newNonce();
    const ChineseScript script = readingSettings().script;
    return fillTemplate(
        page,
        {{QStringLiteral("{Nonce}"), nonce},
         {QStringLiteral("{StyleSheet}"), readingStyleSheetUrl()},
         {QStringLiteral("{Place}"), QStringLiteral("%1#%2").arg(novelId).arg(chapterIndex)},
         {QStringLiteral("{StartAt}"), QString::number(startAt)},
         {QStringLiteral("{NovelName}"), inScript(novelName, script)},
         {QStringLiteral("{ChapterName}"), inScript(chapterName, script)},
         {QStringLiteral("{ChapterContent}"), inScript(chapterHtml, script)},
         {QStringLiteral("{PrevChapterUrl}"), prevChapterUrl(novelId, chapterIndex, bookFolder)},
         {QStringLiteral("{NextChapterUrl}"),
          nextChapterUrl(novelId, chapterIndex, chapterCount, bookFolder)}},
        scriptBegin, scriptEnd < 0 ? -1 : scriptEnd);
}

QString pictureChapterHtml(const QString& storedPictures) {
    QString html;
    for (const QString& path : storedPictures.split(QLatin1Char('|'), Qt::SkipEmptyParts))
        html += QStringLiteral("<div style=\"text-align:center\"><img src=\"") +
                fileUrl(storedPicturePath(path)) + QStringLiteral("\" border=\"0\"></div><br />");
    return html;
}

} // namespace zvrd
