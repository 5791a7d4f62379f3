#include "core/ChineseScript.h"
#include "export/ExportParts.h"
#include "export/NovelExport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace zvrd {
namespace {

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
    EpubBook(const NovelPlan& plan, StoredTextReader& reader) : m_plan(plan), m_reader(reader) {
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
            for (const QString& paragraph : chapterParagraphs(
                     inScript(m_reader.html(static_cast<int32_t>(index)), m_plan.script)))
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
    StoredTextReader& m_reader;
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

} // namespace

QString writeEpub(const NovelPlan& plan, const QString& fileName) {
    StoredTextReader reader(plan.novelId);
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

QUuid bookIdentifier(const QString& siteName, const QString& infoPageUrl) {
    static const QUuid urlNamespace(QStringLiteral("6ba7b811-9dad-11d1-80b4-00c04fd430c8"));
    return QUuid::createUuidV5(urlNamespace, siteName + QLatin1Char('\n') + infoPageUrl);
}

} // namespace zvrd
