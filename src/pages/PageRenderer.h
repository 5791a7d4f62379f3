// pages: the four page templates (Qt resources), rendering of the table-of-contents and chapter
// pages, the book folder and UTF-8 text files; depends on core and Qt Core only.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <stdexcept>

namespace zvrd {

// A template or page file that cannot be read or written.
class PageFileError : public std::runtime_error {
public:
    explicit PageFileError(const QString& message);
};

// The template files written into templateFolder(), in writing order.
const QStringList& templateFileNames();

// Writes the four templates byte for byte into templateFolder(), overwriting older files. Returns
// the names of the files that could not be written (empty when all were).
QStringList extractTemplates();

// dataFolder() + "book/" + site + "/" + novel name without leading and trailing blanks and control
// characters + "/". Names are made safe: "/" and control characters become "_", and an empty
// name, "." or ".." becomes "_", so nothing from a web page writes outside book/.
QString bookFolder(const QString& siteName, const QString& novelName);
// Removes the novel's book folder and everything in it; nothing outside book/SITE/NOVEL is ever
// touched. True when the folder is gone (or never was).
bool removeBookFolder(const QString& siteName, const QString& novelName);

// The whole text of a file: UTF-8, or the encoding its byte-order mark names (UTF-8, UTF-16 LE
// or BE, the mark itself dropped). Throws PageFileError when it cannot be read.
QString readTextFile(const QString& fileName);
// Creates or truncates the file and writes the UTF-8 byte-order mark and the text. Creates no
// folder. Throws PageFileError on failure.
void writeTextFile(const QString& text, const QString& fileName);

// Creates folder (with its parents) and writes the page into it as fileName; false on failure.
bool writePage(const QString& page, const QString& folder, const QString& fileName);

// The chapter link: "directory_info#" + novel id + "#" + chapter index.
QString chapterLink(int32_t novelId, int32_t chapterIndex);

// What a table of contents marks for its reader: the last chapter read (-1: none) and the
// chapters not stored yet (shown muted).
struct ReadingMarks {
    int32_t lastRead = -1;
    QSet<int32_t> notStored;
};

// "{Contents}": two chapters per row.
QString directoryRows(int32_t novelId, const QStringList& chapterNames,
                      const ReadingMarks& marks = {});
// "{Continue}": a link to the last chapter read, empty when none was read.
QString continueLink(int32_t novelId, const QStringList& chapterNames, int32_t lastRead);
// The links at the top of a table of contents: 换源 (directory_switch#ID) and export
// (directory_export#FORMAT#ID).
QString exportLinks(int32_t novelId);
// "{SiteInfo}".
QString siteLine(const QString& siteName, const QString& siteUrl, const QString& infoPageUrl);

// The directory page from templateFolder()'s "directory_page.htm".
QString renderDirectoryPage(int32_t novelId, const QStringList& chapterNames,
                            const QString& novelName, const QString& siteName,
                            const QString& siteUrl, const QString& infoPageUrl,
                            const ReadingMarks& marks = {});

// A local file as a file: URL, every character that could end an attribute, start a query or
// fragment, or be read as an escape percent-encoded: safe in a link, a picture and a script.
QString fileUrl(const QString& path);

// The values of "{PrevChapterUrl}" and "{NextChapterUrl}": a chapter link, or at the ends the
// table of contents as a file: URL.
QString prevChapterUrl(int32_t novelId, int32_t chapterIndex, const QString& bookFolder);
QString nextChapterUrl(int32_t novelId, int32_t chapterIndex, int32_t chapterCount,
                       const QString& bookFolder);

// The content page from templateFolder()'s "content_page.htm". Only the page's own key script may
// run: it carries a fresh nonce that the page's Content-Security-Policy names, so scripts that
// arrive inside the chapter text or a name do not run. The page opens startAt ten thousandths
// into its text, and tells where its reader is (reading_place#NOVEL#INDEX#POSITION, a moment
// after each scroll, as a console message of its own).
QString renderContentPage(int32_t novelId, int32_t chapterIndex, int32_t chapterCount,
                          const QString& bookFolder, const QString& novelName,
                          const QString& chapterName, const QString& chapterHtml,
                          int32_t startAt = 0);

// The markup of a picture chapter from its stored list of picture files joined by "|".
QString pictureChapterHtml(const QString& storedPictures);

} // namespace zvrd
