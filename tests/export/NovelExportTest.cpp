#include "export/NovelExport.h"
#include "PictureData.h"
#include "core/DataFolder.h"
#include "net/WebFetch.h"
#include "pages/PageRenderer.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"
#include "support/Epubcheck.h"
#include "support/TempDataFolder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <zip.h>

using namespace zvrd;

namespace {

constexpr ChapterKind kText = ChapterKind::Text;
constexpr ChapterKind kPicture = ChapterKind::Picture;
constexpr ChapterKind kFailed = ChapterKind::Failed;

const QString kSite = QStringLiteral("书海阁");

// The bytes of one entry of a zip file; empty when it is not there.
QByteArray zipEntry(const QString& book, const QString& name) {
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(book).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return QByteArray();
    QByteArray bytes;
    zip_stat_t st;
    if (zip_stat(archive, name.toUtf8().constData(), 0, &st) == 0) {
        if (zip_file_t* file = zip_fopen(archive, name.toUtf8().constData(), 0)) {
            bytes.resize(static_cast<qsizetype>(st.size));
            const zip_int64_t n = zip_fread(file, bytes.data(), st.size);
            bytes.resize(n < 0 ? 0 : static_cast<qsizetype>(n));
            zip_fclose(file);
        }
    }
    zip_discard(archive);
    return bytes;
}

QStringList matches(const QString& text, const QString& pattern) {
    QStringList found;
    for (const auto& m : QRegularExpression(pattern).globalMatch(text))
        found.append(m.captured(1));
    return found;
}

class NovelExportTest : public ::testing::Test {
protected:
    void SetUp() override { prepareLibrary(); }

    // A novel with the given chapter contents (type, content), named 第i章 "i".
    int32_t addNovel(const QString& name,
                     const std::vector<std::pair<ChapterKind, QString>>& chapters,
                     const QString& author = QStringLiteral("作者甲")) {
        addRecentRead(kSite, name, author, QString(),
                      QStringLiteral("http://example.com/book/") + name);
        const int32_t id = recentReadId(kSite, name);
        ChapterList list;
        for (size_t i = 0; i < chapters.size(); ++i) {
            list.names.append(QStringLiteral("第%1章 \"起\" <初>").arg(i + 1));
            list.urls.append(QStringLiteral("http://example.com/c/%1.html").arg(i));
        }
        list.count = static_cast<int32_t>(chapters.size());
        addChapterList(id, list);
        for (size_t i = 0; i < chapters.size(); ++i) {
            const auto& [type, content] = chapters[i];
            saveChapter(id, static_cast<int32_t>(i), type, type == kFailed ? 0 : 1, content);
        }
        return id;
    }

    QString picture(const QString& fileName, const QByteArray& bytes) {
        const QString path = folder.file(fileName);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    ExportResult exportAs(const QString& name, ExportFormat format, const QString& file,
                          bool allowMissing = false, TextEncoding encoding = TextEncoding::Utf8) {
        ExportOptions options;
        options.format = format;
        options.fileName = file;
        options.allowMissing = allowMissing;
        options.encoding = encoding;
        return exportNovel(kSite, name, options);
    }

    test::TempDataFolder folder;
};

TEST(ChapterParagraphsTest, SiteMarkupBecomesPlainParagraphs) {
    const struct {
        const char* html;
        QStringList paragraphs;
    } cases[] = {
        {"第一段<br/>第二段<br><br />第三段", {"第一段", "第二段", "第三段"}},
        {"<p>未闭合<p>又一段</P><div class=\"x\">块</div>", {"未闭合", "又一段", "块"}},
        {"正文<script>document.write('<p>广告</p>')</script>后文<style>p{}</style>", {"正文后文"}},
        {"a&nbsp;&amp;&lt;b&gt;&#20013;&#x6587;&unknown;", {"a\u00A0&<b>中文&unknown;"}},
        {"数学 a < b && c > d", {"数学 a < b && c > d"}},
        {"控制\x01字符\x1b[0m\x7f与\xef\xbf\xbe", {"控制字符[0m与"}},
        {"<!-- 注释 <p> -->\r\n　　缩进的段落　\r\n\r\n", {"缩进的段落"}},
        {"<a href=\"x\" onclick=\"evil()\">链接</a><img src=x>", {"链接"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(chapterParagraphs(QString::fromUtf8(c.html)), c.paragraphs) << c.html;
}

TEST(PictureMediaTypeTest, TheFirstBytesDecide) {
    EXPECT_EQ(pictureMediaType(QByteArray("\x89PNG\r\n\x1a\n....", 12)), "image/png");
    EXPECT_EQ(pictureMediaType(QByteArray("\xff\xd8\xff\xe0", 4)), "image/jpeg");
    EXPECT_EQ(pictureMediaType(QByteArray("GIF89a")), "image/gif");
    EXPECT_EQ(pictureMediaType(QByteArray("RIFF\0\0\0\0WEBP", 12)), QString());
    EXPECT_EQ(pictureMediaType(QByteArray("<html>")), QString());
}

// A 2,000-chapter novel with hostile text and names, pictures of three kinds (one a GIF named
// .png, one not a picture at all) and a missing chapter: the book passes epubcheck without a
// warning, and its reading order is the chapter order.
TEST_F(NovelExportTest, ALongHostileNovelIsAValidBookInChapterOrder) {
    const QByteArray png(reinterpret_cast<const char*>(testsite::kPicturePng0),
                         sizeof(testsite::kPicturePng0));
    const QByteArray gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01"
                         "\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;",
                         43);
    std::vector<std::pair<ChapterKind, QString>> chapters;
    for (int i = 0; i < 2000; ++i)
        chapters.emplace_back(kText, QStringLiteral("第%1章的正文。<br/>第二段&nbsp;<p>三").arg(i));
    chapters[1] = {kText, QStringLiteral("<script>alert('x')</script><p>一<p>二&nbsp;&copy;\x01"
                                         "<iframe src=//evil></iframe><br>]]>&lt;/p&gt;")};
    chapters[2] = {kPicture, picture(QStringLiteral("a.png"), png) + QLatin1Char('|') +
                                 picture(QStringLiteral("b.png"), gif) + QLatin1Char('|') +
                                 picture(QStringLiteral("c.jpg"), "not a picture")};
    chapters[3] = {kFailed, QString()};
    addNovel(QStringLiteral("名字\"带<引号>&符号"), chapters, QString());
    const QString book = folder.file(QStringLiteral("long.epub"));

    EXPECT_EQ(exportAs(QStringLiteral("名字\"带<引号>&符号"), ExportFormat::Epub, book).kind,
              ExportResult::Kind::MissingChapters);
    EXPECT_FALSE(QFile::exists(book));
    const ExportResult result =
        exportAs(QStringLiteral("名字\"带<引号>&符号"), ExportFormat::Epub, book, true);
    ASSERT_EQ(result.kind, ExportResult::Kind::Written) << result.error.toStdString();
    EXPECT_EQ(result.missing, 1);

    const test::EpubcheckRun check = test::runEpubcheck(book);
    EXPECT_TRUE(check.clean) << check.output.toStdString();

    const QString opf = QString::fromUtf8(zipEntry(book, QStringLiteral("OEBPS/content.opf")));
    const QStringList spine = matches(opf, QStringLiteral("<itemref idref=\"([^\"]+)\""));
    ASSERT_EQ(spine.size(), 2001);
    for (int i = 0; i < 2000; i += 397)
        EXPECT_EQ(spine[i + 1], QStringLiteral("c%1").arg(i + 1));
    const QString picturePage =
        QString::fromUtf8(zipEntry(book, QStringLiteral("OEBPS/text/c00003.xhtml")));
    EXPECT_EQ(matches(opf, QStringLiteral("media-type=\"(image/[a-z]+)\"")),
              (QStringList{"image/png", "image/gif"}));
    EXPECT_EQ(picturePage.count(QStringLiteral("<img ")), 2);
    EXPECT_TRUE(picturePage.contains(QStringLiteral("（图片缺失）")));
    const QString hostile =
        QString::fromUtf8(zipEntry(book, QStringLiteral("OEBPS/text/c00002.xhtml")));
    EXPECT_FALSE(hostile.contains(QStringLiteral("alert")));
    EXPECT_FALSE(hostile.contains(QStringLiteral("iframe")));
    EXPECT_TRUE(hostile.contains(QStringLiteral("<p>二\u00A0©</p>"))) << hostile.toStdString();
}

// Text export: every stored chapter's paragraphs in order, placeholders for missing ones only
// when allowed; GBK on request, with "?" for each character GBK lacks; the identifier of a book
// stays the same from one export to the next.
TEST_F(NovelExportTest, TextHoldsEveryChapterInOrderAndTheBookKeepsItsIdentifier) {
    const int32_t id =
        addNovel(QStringLiteral("凡人"), {{kText, QStringLiteral("甲一<br>甲二")},
                                          {kText, QStringLiteral("<p>乙一</p><p>한국어😀乙二</p>")},
                                          {kText, QStringLiteral("丙一&nbsp;")}});
    const QString txt = folder.file(QStringLiteral("凡人.txt"));
    ASSERT_EQ(exportAs(QStringLiteral("凡人"), ExportFormat::Text, txt).kind,
              ExportResult::Kind::Written);
    QFile file(txt);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    const QString text = QString::fromUtf8(bytes);
    EXPECT_TRUE(text.startsWith(QStringLiteral("凡人\n作者：作者甲\n")));
    // In the database's order, each chapter's name and then its paragraphs.
    qsizetype at = 0;
    SqliteDatabase db(novelDatabasePath());
    auto rows = db.query(QStringLiteral("select d.chapter_name,c.chapter_content from "
                                        "novel_directory d join novel_chapter c on "
                                        "c.novel_id=d.novel_id and c.chapter_id=d.chapter_index "
                                        "where d.novel_id=%1 order by d.chapter_index")
                             .arg(id));
    int chapters = 0;
    for (; !rows->atEnd(); rows->next(), ++chapters) {
        for (const QString& piece :
             QStringList{rows->fieldAsString(0)} + chapterParagraphs(rows->fieldAsString(1))) {
            const qsizetype next = text.indexOf(QLatin1Char('\n') + piece + QLatin1Char('\n'), at);
            ASSERT_GE(next, at) << piece.toStdString();
            at = next + 1;
        }
    }
    EXPECT_EQ(chapters, 3);

    const QString gbk = folder.file(QStringLiteral("凡人.gbk.txt"));
    ASSERT_EQ(
        exportAs(QStringLiteral("凡人"), ExportFormat::Text, gbk, false, TextEncoding::Gbk).kind,
        ExportResult::Kind::Written);
    QFile gbkFile(gbk);
    ASSERT_TRUE(gbkFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(decodeGbk(gbkFile.readAll()).contains(QStringLiteral("\n????乙二\n")));

    const QString first = folder.file(QStringLiteral("1.epub"));
    const QString second = folder.file(QStringLiteral("2.epub"));
    ASSERT_EQ(exportAs(QStringLiteral("凡人"), ExportFormat::Epub, first).kind,
              ExportResult::Kind::Written);
    ASSERT_EQ(exportAs(QStringLiteral("凡人"), ExportFormat::Epub, second).kind,
              ExportResult::Kind::Written);
    const QString pattern = QStringLiteral("<dc:identifier id=\"book-id\">([^<]+)<");
    const QStringList one =
        matches(QString::fromUtf8(zipEntry(first, QStringLiteral("OEBPS/content.opf"))), pattern);
    ASSERT_EQ(one.size(), 1);
    EXPECT_TRUE(one[0].startsWith(QStringLiteral("urn:uuid:")));
    EXPECT_EQ(one, matches(QString::fromUtf8(zipEntry(second, QStringLiteral("OEBPS/content.opf"))),
                           pattern));
}

// A book in traditional characters, made from the chapters as stored, which stay as they were.
TEST_F(NovelExportTest, TheBookIsInTheChosenScript) {
    const int32_t id =
        addNovel(QStringLiteral("这本书"), {{kText, QStringLiteral("<p>悠扬的钟声</p>")}});
    ExportOptions options;
    options.format = ExportFormat::Text;
    options.fileName = folder.file(QStringLiteral("book.txt"));
    options.script = ChineseScript::Traditional;
    ASSERT_EQ(exportNovel(kSite, QStringLiteral("这本书"), options).kind,
              ExportResult::Kind::Written);
    QFile file(options.fileName);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral("這本書\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\n悠揚的鐘聲\n")));
    EXPECT_EQ(storedChapter(id, 0).content, QStringLiteral("<p>悠扬的钟声</p>"));
}

// A target that cannot be written leaves nothing: no book, no half-written temporary file, and
// a file that stood there before stays as it was.
TEST_F(NovelExportTest, AFailedExportLeavesNoFile) {
    addNovel(QStringLiteral("凡人"), {{kText, QStringLiteral("正文")}});
    const QString folderTarget = folder.file(QStringLiteral("a-folder"));
    ASSERT_TRUE(QDir().mkpath(folderTarget + QStringLiteral("/inside")));
    for (const ExportFormat format : {ExportFormat::Epub, ExportFormat::Text}) {
        for (const QString& target :
             {folder.file(QStringLiteral("no/such/folder/book")), folderTarget}) {
            const ExportResult result = exportAs(QStringLiteral("凡人"), format, target);
            EXPECT_EQ(result.kind, ExportResult::Kind::Failed) << target.toStdString();
            EXPECT_FALSE(result.error.isEmpty());
        }
    }
    EXPECT_TRUE(QFileInfo(folderTarget).isDir());
    EXPECT_FALSE(QFileInfo::exists(folder.file(QStringLiteral("no"))));
    const QStringList left = QDir(folder.path()).entryList(QDir::Files);
    for (const QString& name : left)
        EXPECT_TRUE(name.endsWith(QLatin1String(".db")) || name.contains(QLatin1String(".db-")))
            << name.toStdString();
    EXPECT_EQ(exportAs(QStringLiteral("没有这本"), ExportFormat::Epub,
                       folder.file(QStringLiteral("x.epub")))
                  .kind,
              ExportResult::Kind::UnknownNovel);
}

// Picture chapters store absolute paths. A library copied to another data folder (the original
// gone) still shows its pictures and exports them, from the copy.
TEST_F(NovelExportTest, ACopiedLibraryShowsAndExportsItsPictureChapters) {
    const QString pic = QStringLiteral("book/书海阁/凡人/pic/");
    ASSERT_TRUE(QDir().mkpath(folder.file(pic)));
    const QByteArray png(reinterpret_cast<const char*>(testsite::kPicturePng0),
                         sizeof(testsite::kPicturePng0));
    const QString stored = picture(pic + QStringLiteral("0_0.png"), png);
    addNovel(QStringLiteral("凡人"), {{kPicture, stored}});

    QTemporaryDir copy;
    ASSERT_TRUE(QDir().mkpath(copy.filePath(pic)));
    for (const QString& name : {QStringLiteral("zvrd.db"), QStringLiteral("novel_info.db"),
                                pic + QStringLiteral("0_0.png")})
        ASSERT_TRUE(QFile::copy(folder.file(name), copy.filePath(name)));
    ASSERT_TRUE(QDir(folder.file(QStringLiteral("book"))).removeRecursively());
    setDataFolder(copy.path());
    const QString moved = copy.filePath(pic + QStringLiteral("0_0.png"));
    EXPECT_EQ(storedPicturePath(stored), moved);
    EXPECT_TRUE(pictureChapterHtml(stored).contains(fileUrl(moved)));
    const QString book = copy.filePath(QStringLiteral("凡人.epub"));
    const ExportResult result = exportAs(QStringLiteral("凡人"), ExportFormat::Epub, book);
    ASSERT_EQ(result.kind, ExportResult::Kind::Written) << result.error.toStdString();
    EXPECT_EQ(zipEntry(book, QStringLiteral("OEBPS/images/p00001_0.png")), png);
    // Paths outside a book folder, or leading out of one, are left as they are.
    for (const QString& other : {QStringLiteral("/elsewhere/pic/0_0.png"),
                                 QStringLiteral("/old/book/书海阁/../pic/0_0.png")})
        EXPECT_EQ(storedPicturePath(other), other);
    setDataFolder(folder.path());
}

} // namespace
