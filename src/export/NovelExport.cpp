#include "export/NovelExport.h"

#include "net/WebFetch.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace zvrd {
namespace {

constexpr int32_t kPictureChapter = 1;

// ---- chapter text --------------------------------------------------------------------------

const QHash<QString, QChar>& namedEntities() {
    static const QHash<QString, QChar> entities = {
        {QStringLiteral("nbsp"), QChar(0x00A0)},   {QStringLiteral("amp"), QChar('&')},
        {QStringLiteral("lt"), QChar('<')},        {QStringLiteral("gt"), QChar('>')},
        {QStringLiteral("quot"), QChar('"')},      {QStringLiteral("apos"), QChar('\'')},
        {QStringLiteral("hellip"), QChar(0x2026)}, {QStringLiteral("mdash"), QChar(0x2014)},
        {QStringLiteral("ndash"), QChar(0x2013)},  {QStringLiteral("ldquo"), QChar(0x201C)},
        {QStringLiteral("rdquo"), QChar(0x201D)},  {QStringLiteral("lsquo"), QChar(0x2018)},
        {QStringLiteral("rsquo"), QChar(0x2019)},  {QStringLiteral("middot"), QChar(0x00B7)},
        {QStringLiteral("emsp"), QChar(0x2003)},   {QStringLiteral("ensp"), QChar(0x2002)},
        {QStringLiteral("thinsp"), QChar(0x2009)}, {QStringLiteral("copy"), QChar(0x00A9)},
    };
    return entities;
}

// A character XML 1.0 can hold and a reader should show (C0 and C1 controls other than tab and
// line feed, noncharacters and lone surrogates are not).
bool keepable(char32_t c) {
    if (c == '\t' || c == '\n')
        return true;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        return false;
    if (c >= 0xD800 && c <= 0xDFFF)
        return false;
    if ((c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE)
        return false;
    return c <= 0x10FFFF;
}

void appendCodePoint(QString& out, char32_t c) {
    if (!keepable(c))
        return;
    if (c >= 0x10000)
        out.append(QChar::highSurrogate(c)).append(QChar::lowSurrogate(c));
    else
        out.append(QChar(static_cast<char16_t>(c)));
}

// Character references decoded; an unknown one stays as written (and is escaped later).
QString decodeReferences(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('&')) {
            out.append(c);
            continue;
        }
        const qsizetype end = text.indexOf(QLatin1Char(';'), i + 1);
        if (end < 0 || end - i > 12) {
            out.append(c);
            continue;
        }
        const QString name = text.mid(i + 1, end - i - 1);
        bool ok = false;
        char32_t code = 0;
        if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#X")))
            code = name.mid(2).toUInt(&ok, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt(&ok, 10);
        if (ok) {
            appendCodePoint(out, code);
            i = end;
            continue;
        }
        const auto it = namedEntities().constFind(name);
        if (it == namedEntities().constEnd()) {
            out.append(c);
            continue;
        }
        out.append(*it);
        i = end;
    }
    return out;
}

QString withoutUnkeepable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            appendCodePoint(out, QChar::surrogateToUcs4(c, text[i + 1]));
            ++i;
            continue;
        }
        appendCodePoint(out, c.unicode());
    }
    return out;
}

// A name fit for a title: one line, nothing XML cannot hold, never empty.
QString cleanName(const QString& name, const QString& fallback) {
    QString clean = withoutUnkeepable(name).simplified();
    return clean.isEmpty() ? fallback : clean;
}

QString chapterFallbackName(int32_t index) {
    return QStringLiteral("第 %1 章").arg(index + 1);
}

const QString& missingText() {
    static const QString text = QStringLiteral("（本章尚未下载）");
    return text;
}

// ---- the stored novel ------------------------------------------------------------------------

struct Picture {
    QString path;      // the stored file
    QString mediaType; // empty: not a type every reader shows, left out
    QString entry;     // its name inside the book
};

struct ChapterPlan {
    QString name;
    bool stored = false;
    bool picture = false;
    std::vector<Picture> pictures;
};

struct NovelPlan {
    int32_t novelId = -1;
    NovelInfo info;
    QString siteName;
    std::vector<ChapterPlan> chapters;
    int32_t missing = 0;
};

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

// Everything but the chapters' text: names, which are stored, the picture files.
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
class ChapterReader {
public:
    explicit ChapterReader(int32_t novelId)
        : m_db(novelDatabasePath()),
          m_rows(m_db.cursor(QStringLiteral("select chapter_id,chapter_content from novel_chapter "
                                            "where novel_id=%1 and is_download<>0 and "
                                            "chapter_type<>%2 order by chapter_id")
                                 .arg(novelId)
                                 .arg(kPictureChapter))),
          m_novelId(novelId) {}

    // The stored HTML of a text chapter; asked in increasing order, an earlier one is read on
    // its own.
    QString html(int32_t index) {
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

private:
    SqliteDatabase m_db;
    std::unique_ptr<SqliteCursor> m_rows; // declared after m_db: the statement goes first
    int32_t m_novelId;
};

// ---- EPUB ------------------------------------------------------------------------------------

const char* const kXhtmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
                               "<html xmlns=\"http://www.w3.org/1999/xhtml\" "
                               "xmlns:epub=\"http://www.idpf.org/2007/ops\" xml:lang=\"zh\" "
                               "lang=\"zh\">\n<head>\n<title>";

QString chapterEntry(size_t index) {
    return QStringLiteral("text/c%1.xhtml").arg(index + 1, 5, 10, QLatin1Char('0'));
}

QString xhtmlHead(const QString& title, const QString& cssPath) {
    return QString::fromLatin1(kXhtmlHead) + title.toHtmlEscaped() +
           QStringLiteral("</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"") +
           cssPath + QStringLiteral("\"/>\n</head>\n<body>\n");
}

const QString& xhtmlTail() {
    static const QString tail = QStringLiteral("</body>\n</html>\n");
    return tail;
}

QByteArray xhtmlPage(const QString& title, const QString& cssPath, const QString& body) {
    return (xhtmlHead(title, cssPath) + body + xhtmlTail()).toUtf8();
}

// A document made in pieces while it is written: fixed text, or one line per chapter. The
// package, the NCX and the navigation document grow with the chapter count; made this way, no
// one of them is ever whole in memory.
struct DocumentPart {
    DocumentPart(QString text) : fixed(std::move(text)) {}
    DocumentPart(size_t lines, std::function<QString(size_t)> make)
        : count(lines), line(std::move(make)) {}
    QString fixed;
    size_t count = 0;
    std::function<QString(size_t)> line; // when set: count lines, line(0) .. line(count - 1)
};
using Document = std::vector<DocumentPart>;

class EpubBook {
public:
    EpubBook(const NovelPlan& plan, ChapterReader& reader) : m_plan(plan), m_reader(reader) {
        m_identifier =
            QStringLiteral("urn:uuid:") +
            bookIdentifier(plan.siteName, plan.info.infoPageUrl).toString(QUuid::WithoutBraces);
        m_title = cleanName(plan.info.name, QStringLiteral("无题"));
        m_author = cleanName(plan.info.author, QString());
        m_site = cleanName(plan.siteName, QString());
    }

    QByteArray chapter(size_t index) const {
        const ChapterPlan& chapter = m_plan.chapters[index];
        const QString name = cleanName(chapter.name, chapterFallbackName(int32_t(index)));
        QString body = QStringLiteral("<section epub:type=\"chapter\">\n<h2>") +
                       name.toHtmlEscaped() + QStringLiteral("</h2>\n");
        if (!chapter.stored) {
            body +=
                QStringLiteral("<p class=\"missing\">") + missingText() + QStringLiteral("</p>\n");
        } else if (chapter.picture) {
            for (const Picture& picture : chapter.pictures) {
                if (picture.entry.isEmpty())
                    body += QStringLiteral("<p class=\"missing\">（图片缺失）</p>\n");
                else
                    body += QStringLiteral("<div class=\"picture\"><img src=\"../") +
                            picture.entry + QStringLiteral("\" alt=\"") + name.toHtmlEscaped() +
                            QStringLiteral("\"/></div>\n");
            }
        } else {
            for (const QString& paragraph :
                 chapterParagraphs(m_reader.html(static_cast<int32_t>(index))))
                body +=
                    QStringLiteral("<p>") + paragraph.toHtmlEscaped() + QStringLiteral("</p>\n");
        }
        body += QStringLiteral("</section>\n");
        return xhtmlPage(name, QStringLiteral("../style.css"), body);
    }

    QByteArray titlePage() const {
        QString body = QStringLiteral("<section epub:type=\"titlepage\" class=\"title\">\n<h1>") +
                       m_title.toHtmlEscaped() + QStringLiteral("</h1>\n");
        if (!m_author.isEmpty())
            body += QStringLiteral("<p class=\"author\">") + m_author.toHtmlEscaped() +
                    QStringLiteral("</p>\n");
        body += QStringLiteral("<p class=\"site\">") + m_site.toHtmlEscaped() +
                QStringLiteral("</p>\n");
        body += QStringLiteral("</section>\n");
        return xhtmlPage(m_title, QStringLiteral("style.css"), body);
    }

    Document navigation() const {
        return {{xhtmlHead(QStringLiteral("目录"), QStringLiteral("style.css")) +
                 QStringLiteral("<nav epub:type=\"toc\" id=\"toc\">\n<h1>目录</h1>\n<ol>\n"
                                "<li><a href=\"title.xhtml\">") +
                 m_title.toHtmlEscaped() + QStringLiteral("</a></li>\n")},
                {m_plan.chapters.size(),
                 [this](size_t i) {
                     return QStringLiteral("<li><a href=\"") + chapterEntry(i) +
                            QStringLiteral("\">") + chapterName(i).toHtmlEscaped() +
                            QStringLiteral("</a></li>\n");
                 }},
                {QStringLiteral("</ol>\n</nav>\n") + xhtmlTail()}};
    }

    Document ncx() const {
        auto point = [](size_t order, const QString& label, const QString& src) {
            return QStringLiteral("<navPoint id=\"n%1\" playOrder=\"%1\"><navLabel><text>")
                       .arg(order) +
                   label.toHtmlEscaped() + QStringLiteral("</text></navLabel><content src=\"") +
                   src + QStringLiteral("\"/></navPoint>\n");
        };
        return {{QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ncx "
                                "xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" "
                                "xml:lang=\"zh\">\n<head>\n<meta name=\"dtb:uid\" content=\"") +
                 m_identifier +
                 QStringLiteral("\"/>\n<meta name=\"dtb:depth\" content=\"1\"/>\n<meta "
                                "name=\"dtb:totalPageCount\" content=\"0\"/>\n<meta "
                                "name=\"dtb:maxPageNumber\" content=\"0\"/>\n</head>\n"
                                "<docTitle><text>") +
                 m_title.toHtmlEscaped() + QStringLiteral("</text></docTitle>\n<navMap>\n") +
                 point(1, m_title, QStringLiteral("title.xhtml"))},
                {m_plan.chapters.size(),
                 [this, point](size_t i) { return point(i + 2, chapterName(i), chapterEntry(i)); }},
                {QStringLiteral("</navMap>\n</ncx>\n")}};
    }

    Document package() const {
        QString head =
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package "
                           "xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
                           "unique-identifier=\"book-id\" xml:lang=\"zh\">\n<metadata "
                           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<dc:identifier "
                           "id=\"book-id\">") +
            m_identifier + QStringLiteral("</dc:identifier>\n<dc:title>") +
            m_title.toHtmlEscaped() + QStringLiteral("</dc:title>\n");
        if (!m_author.isEmpty())
            head += QStringLiteral("<dc:creator>") + m_author.toHtmlEscaped() +
                    QStringLiteral("</dc:creator>\n");
        head += QStringLiteral("<dc:language>zh</dc:language>\n");
        if (!m_site.isEmpty())
            head += QStringLiteral("<dc:publisher>") + m_site.toHtmlEscaped() +
                    QStringLiteral("</dc:publisher>\n");
        head +=
            QStringLiteral("<meta property=\"dcterms:modified\">") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")) +
            QStringLiteral("</meta>\n</metadata>\n<manifest>\n"
                           "<item id=\"nav\" href=\"nav.xhtml\" "
                           "media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
                           "<item id=\"ncx\" href=\"toc.ncx\" "
                           "media-type=\"application/x-dtbncx+xml\"/>\n"
                           "<item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>\n"
                           "<item id=\"title\" href=\"title.xhtml\" "
                           "media-type=\"application/xhtml+xml\"/>\n");
        auto items = [this](size_t i) {
            QString lines = QStringLiteral("<item id=\"c%1\" href=\"").arg(i + 1) +
                            chapterEntry(i) +
                            QStringLiteral("\" media-type=\"application/xhtml+xml\"/>\n");
            for (const Picture& picture : m_plan.chapters[i].pictures) {
                if (!picture.entry.isEmpty())
                    lines += QStringLiteral("<item id=\"") + pictureId(picture) +
                             QStringLiteral("\" href=\"") + picture.entry +
                             QStringLiteral("\" media-type=\"") + picture.mediaType +
                             QStringLiteral("\"/>\n");
            }
            return lines;
        };
        return {{head},
                {m_plan.chapters.size(), items},
                {QStringLiteral("</manifest>\n<spine toc=\"ncx\">\n<itemref idref=\"title\"/>\n")},
                {m_plan.chapters.size(),
                 [](size_t i) { return QStringLiteral("<itemref idref=\"c%1\"/>\n").arg(i + 1); }},
                {QStringLiteral("</spine>\n</package>\n")}};
    }

    static QByteArray style() {
        return QByteArrayLiteral("body { margin: 0 5%; line-height: 1.6; }\n"
                                 "h1, h2 { text-align: center; }\n"
                                 "p { text-indent: 2em; margin: 0.4em 0; }\n"
                                 "p.author, p.site { text-align: center; text-indent: 0; }\n"
                                 "p.missing { color: #888; }\n"
                                 "div.picture { text-align: center; }\n"
                                 "div.picture img { max-width: 100%; }\n");
    }

private:
    QString chapterName(size_t i) const {
        return cleanName(m_plan.chapters[i].name, chapterFallbackName(static_cast<int32_t>(i)));
    }

    static QString pictureId(const Picture& picture) {
        return QFileInfo(picture.entry).completeBaseName();
    }

    const NovelPlan& m_plan;
    ChapterReader& m_reader;
    QString m_identifier;
    QString m_title;
    QString m_author;
    QString m_site;
};

struct ZipDiscarder {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscarder>;

// One entry whose bytes are made when libzip writes it (all of them at zip_close, one after
// another), piece by piece, so a book of any length holds one chapter, or one piece of an
// index document, in memory at a time.
class LazyEntry {
public:
    // Gives the next piece; false when there is none left.
    using Pieces = std::function<bool(QByteArray& piece)>;
    // Starts the pieces from the beginning (libzip may open an entry more than once).
    using Start = std::function<Pieces()>;
    explicit LazyEntry(Start start) : m_start(std::move(start)) { zip_error_init(&m_error); }
    ~LazyEntry() { zip_error_fini(&m_error); }

    static zip_int64_t callback(void* state, void* data, zip_uint64_t length,
                                zip_source_cmd_t command) {
        auto* self = static_cast<LazyEntry*>(state);
        try {
            return self->handle(data, length, command);
        } catch (...) {
            zip_error_set(&self->m_error, ZIP_ER_READ, 0);
            return -1;
        }
    }

private:
    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            m_pieces = m_start();
            m_bytes.clear();
            m_offset = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            while (m_offset == m_bytes.size()) {
                m_offset = 0;
                if (!m_pieces || !m_pieces(m_bytes)) {
                    m_bytes.clear();
                    return 0;
                }
            }
            const auto left = static_cast<zip_uint64_t>(m_bytes.size() - m_offset);
            const zip_uint64_t n = std::min(left, length);
            std::memcpy(data, m_bytes.constData() + m_offset, n);
            m_offset += static_cast<qsizetype>(n);
            return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_CLOSE:
            m_pieces = nullptr;
            m_bytes = QByteArray();
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->mtime = std::time(nullptr);
            st->valid |= ZIP_STAT_MTIME;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&m_error, data, length);
        case ZIP_SOURCE_FREE:
            delete this;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ,
                                                  ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&m_error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    Start m_start;
    Pieces m_pieces;
    QByteArray m_bytes;
    qsizetype m_offset = 0;
    zip_error_t m_error;
};

// An entry made whole at once (a chapter, the title page).
LazyEntry::Start whole(std::function<QByteArray()> make) {
    return [make] {
        return LazyEntry::Pieces([make, done = false](QByteArray& piece) mutable {
            if (done)
                return false;
            piece = make();
            done = true;
            return true;
        });
    };
}

// An entry made of a document's parts, some 16,000 characters at a time.
LazyEntry::Start pieces(Document document) {
    return [document] {
        return LazyEntry::Pieces(
            [document, part = size_t(0), line = size_t(0)](QByteArray& piece) mutable {
                QString text;
                while (part < document.size() && text.size() < 16384) {
                    const DocumentPart& current = document[part];
                    if (current.line && line < current.count) {
                        text += current.line(line++);
                        continue;
                    }
                    if (!current.line)
                        text += current.fixed;
                    ++part;
                    line = 0;
                }
                if (text.isEmpty())
                    return false;
                piece = text.toUtf8();
                return true;
            });
    };
}

QString zipErrorText(zip_t* archive) {
    return QString::fromLocal8Bit(zip_strerror(archive));
}

// Adds an entry; false (with the archive's error) when libzip refuses it.
bool addEntry(zip_t* archive, const QString& name, zip_source_t* source, bool compress) {
    if (!source)
        return false;
    const zip_int64_t index =
        zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        return false;
    }
    return zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                    compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) == 0;
}

bool addLazy(zip_t* archive, const QString& name, LazyEntry::Start start) {
    auto* entry = new LazyEntry(std::move(start));
    zip_source_t* source = zip_source_function(archive, &LazyEntry::callback, entry);
    if (!source) {
        delete entry;
        return false;
    }
    return addEntry(archive, name, source, true);
}

QString writeEpub(const NovelPlan& plan, const QString& fileName) {
    ChapterReader reader(plan.novelId);
    const EpubBook book(plan, reader);
    int errorCode = 0;
    // libzip writes the archive to a temporary file beside fileName at zip_close and renames it.
    ZipArchive archive(
        zip_open(QFile::encodeName(fileName).constData(), ZIP_CREATE | ZIP_TRUNCATE, &errorCode));
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, errorCode);
        const QString text = QString::fromLocal8Bit(zip_error_strerror(&error));
        zip_error_fini(&error);
        return text;
    }
    zip_t* za = archive.get();
    static const QByteArray mimetype("application/epub+zip");
    bool ok = addEntry(
        za, QStringLiteral("mimetype"),
        zip_source_buffer(za, mimetype.constData(), static_cast<zip_uint64_t>(mimetype.size()), 0),
        false);
    ok =
        ok &&
        addLazy(
            za, QStringLiteral("META-INF/container.xml"), whole([] {
                return QByteArrayLiteral(
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<container version=\"1.0\" "
                    "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n<rootfiles>\n"
                    "<rootfile full-path=\"OEBPS/content.opf\" "
                    "media-type=\"application/oebps-package+xml\"/>\n</rootfiles>\n</container>\n");
            }));
    ok = ok && addLazy(za, QStringLiteral("OEBPS/content.opf"), pieces(book.package()));
    ok = ok && addLazy(za, QStringLiteral("OEBPS/toc.ncx"), pieces(book.ncx()));
    ok = ok && addLazy(za, QStringLiteral("OEBPS/nav.xhtml"), pieces(book.navigation()));
    ok = ok && addLazy(za, QStringLiteral("OEBPS/style.css"), whole(&EpubBook::style));
    ok = ok &&
         addLazy(za, QStringLiteral("OEBPS/title.xhtml"), whole([&] { return book.titlePage(); }));
    for (size_t i = 0; ok && i < plan.chapters.size(); ++i) {
        ok = addLazy(za, QStringLiteral("OEBPS/") + chapterEntry(i),
                     whole([&book, i] { return book.chapter(i); }));
        for (const Picture& picture : plan.chapters[i].pictures) {
            if (ok && !picture.entry.isEmpty())
                ok = addEntry(
                    za, QStringLiteral("OEBPS/") + picture.entry,
                    zip_source_file(za, QFile::encodeName(picture.path).constData(), 0, -1), false);
        }
    }
    if (!ok)
        return zipErrorText(za);
    if (zip_close(za) != 0)
        return zipErrorText(za); // the archive (and its temporary file) go with zip_discard
    archive.release();
    return QString();
}

// ---- plain text ------------------------------------------------------------------------------

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
    ChapterReader reader(plan.novelId);
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
            for (const QString& paragraph : chapterParagraphs(reader.html(static_cast<int32_t>(i))))
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

} // namespace

QStringList chapterParagraphs(const QString& html) {
    static const QRegularExpression dropped(
        QStringLiteral("<(script|style)\\b[^>]*>.*?</\\1\\s*>|<(script|style)\\b[^>]*/?>|"
                       "<!--.*?(-->|$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression breaks(
        QStringLiteral("<\\s*(br|/?p|/?div|/?h[1-6]|/?li|/?tr|/?blockquote)\\b[^<>]*>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[/!?]?[A-Za-z][^<>]*>"));
    QString text = html;
    text.remove(dropped);
    text.replace(breaks, QStringLiteral("\n"));
    text.remove(tags);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text = withoutUnkeepable(decodeReferences(text));
    QStringList paragraphs;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString paragraph = line.trimmed();
        if (!paragraph.isEmpty())
            paragraphs.append(paragraph);
    }
    return paragraphs;
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

QUuid bookIdentifier(const QString& siteName, const QString& infoPageUrl) {
    static const QUuid urlNamespace(QStringLiteral("6ba7b811-9dad-11d1-80b4-00c04fd430c8"));
    return QUuid::createUuidV5(urlNamespace, siteName + QLatin1Char('\n') + infoPageUrl);
}

ExportResult exportNovel(const QString& siteName, const QString& novelName,
                         const ExportOptions& options) {
    ExportResult result;
    const NovelPlan plan = planNovel(siteName, novelName);
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
