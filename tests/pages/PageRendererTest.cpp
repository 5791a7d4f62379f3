// Templates, rendering, the book folder and text files.
#include "pages/PageRenderer.h"
#include "core/DataFolder.h"
#include "pages/ReadingStyle.h"
#include "support/TempDataFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zvrd;

namespace {

QByteArray bytes(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class PageRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A private temporary folder, so the test does not race other programs' templates.
        ASSERT_TRUE(temp.isValid());
        qputenv("TMPDIR", temp.path().toUtf8());
        ASSERT_TRUE(extractTemplates().isEmpty());
    }
    void TearDown() override { qunsetenv("TMPDIR"); }

    QTemporaryDir temp;
    test::TempDataFolder folder;
};

TEST_F(PageRendererTest, TemplatesAreWrittenOverOlderFilesByteForByte) {
    QFile old(templateFolder() + QStringLiteral("content_page.htm"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older template");
    old.close();
    ASSERT_TRUE(extractTemplates().isEmpty());
    for (const QString& name : templateFileNames()) {
        const QByteArray written = bytes(templateFolder() + name);
        EXPECT_EQ(written, bytes(QStringLiteral(":/templates/") + name)) << name.toStdString();
        EXPECT_FALSE(written.isEmpty());
        if (!name.endsWith(QLatin1String(".htm")))
            continue;
        EXPECT_FALSE(written.startsWith("\xEF\xBB\xBF")) << "no BOM in " << name.toStdString();
        EXPECT_TRUE(written.contains("charset=utf-8"));
        EXPECT_EQ(written.count("\n"), written.count("\r\n")) << "CR LF line ends";
    }
    const QByteArray content = bytes(templateFolder() + QStringLiteral("content_page.htm"));
    // The two rows of links and the key script (arrows, and paging past either end).
    EXPECT_EQ(content.count("{PrevChapterUrl}"), 4);
    EXPECT_EQ(content.count("{NextChapterUrl}"), 4);
}

TEST_F(PageRendererTest, TheLoadingPictureIsALoopingProgressBar) {
    QImageReader reader(templateFolder() + QStringLiteral("loading.gif"));
    EXPECT_EQ(reader.format(), QByteArray("gif"));
    EXPECT_EQ(reader.size(), QSize(280, 13));
    EXPECT_EQ(reader.imageCount(), 39);
    for (int frame = 0; frame < 39; ++frame)
        EXPECT_FALSE(reader.read().isNull()) << frame;
    // The application extension that makes it loop endlessly (a loop count of 0).
    EXPECT_TRUE(bytes(templateFolder() + QStringLiteral("loading.gif"))
                    .contains(QByteArray("NETSCAPE2.0\x03\x01\x00\x00", 16)));
}

TEST_F(PageRendererTest, ATemplateThatCannotBeWrittenIsNamed) {
    // A temporary "folder" that is a file: nothing can be written into it, even by root.
    const QString notAFolder = temp.filePath(QStringLiteral("plain-file"));
    QFile file(notAFolder);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("TMPDIR", notAFolder.toUtf8());
    qunsetenv("XDG_RUNTIME_DIR"); // the templates' folder is made under TMPDIR then
    const QStringList failed = extractTemplates();
    EXPECT_EQ(failed.size(), 5); // the four templates and the reading stylesheet
    EXPECT_TRUE(failed.first().endsWith(QStringLiteral("wait.htm")));
    EXPECT_TRUE(failed.last().endsWith(QStringLiteral("reading.css")));
}

TEST(DirectoryRowsTest, TwoChaptersPerRow) {
    EXPECT_EQ(directoryRows(5, {QStringLiteral("甲")}),
              QStringLiteral("<tr><td height=\"30\" style=\"padding-left:50px;\"><a "
                             "href=\"directory_info#5#0\">甲</a></td>"
                             "<td></td></tr>"));
    EXPECT_EQ(directoryRows(5, {QStringLiteral("甲"), QStringLiteral("乙")}),
              QStringLiteral("<tr><td height=\"30\" style=\"padding-left:50px;\"><a "
                             "href=\"directory_info#5#0\">甲</a></td>"
                             "<td height=\"30\" style=\"padding-left:50px;\"><a "
                             "href=\"directory_info#5#1\">乙</a></td></tr>"));
    EXPECT_EQ(
        directoryRows(5, {QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("<b>&丙")}),
        directoryRows(5, {QStringLiteral("甲"), QStringLiteral("乙")}) +
            QStringLiteral("<tr><td height=\"30\" style=\"padding-left:50px;\"><a "
                           "href=\"directory_info#5#2\"><b>&丙</a></td>"
                           "<td></td></tr>"));
    EXPECT_EQ(directoryRows(5, {}), QString());
}

// The reader's marks: the last chapter read is highlighted and offered as 继续阅读 at the top;
// chapters not stored yet are muted.
TEST_F(PageRendererTest, TheLastChapterReadIsMarkedAndMissingOnesMuted) {
    const QStringList names = {QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙")};
    ReadingMarks marks;
    marks.lastRead = 1;
    marks.notStored = {1, 2};
    const QString rows = directoryRows(5, names, marks);
    EXPECT_TRUE(rows.contains(QStringLiteral("<td height=\"30\" style=\"padding-left:50px;\"><a "
                                             "href=\"directory_info#5#0\">甲</a></td>")));
    EXPECT_TRUE(rows.contains(
        QStringLiteral("class=\"last-read not-stored\"><a href=\"directory_info#5#1\">乙</a> <span "
                       "class=\"mark\">（上次读到这里）</span></td>")));
    EXPECT_TRUE(rows.contains(
        QStringLiteral("class=\"not-stored\"><a href=\"directory_info#5#2\">丙</a></td>")));
    EXPECT_EQ(continueLink(5, names, 1),
              QStringLiteral("<a class=\"continue\" href=\"directory_info#5#1\">继续阅读：乙</a>"));
    for (const int32_t none : {-1, 3})
        EXPECT_EQ(continueLink(5, names, none), QString());
    const QString page = renderDirectoryPage(5, names, QStringLiteral("书"), QStringLiteral("站"),
                                             QString(), QString(), marks);
    EXPECT_TRUE(page.contains(continueLink(5, names, 1) + QStringLiteral("&nbsp;")));
    EXPECT_FALSE(renderDirectoryPage(5, names, QStringLiteral("书"), QStringLiteral("站"),
                                     QString(), QString())
                     .contains(QStringLiteral("继续阅读")));
}

TEST(SiteLineTest, ExactFormat) {
    EXPECT_EQ(siteLine(QStringLiteral("书海阁"), QStringLiteral("http://s/"),
                       QStringLiteral("http://s/b/1/")),
              QStringLiteral(
                  "目标站 ： 书海阁  网址 ： <a href=\"http://s/\">http://s/</a> 小说URL地址 ： "
                  "<a href=\"http://s/b/1/\">http://s/b/1/</a> "));
}

TEST(ChapterLinksTest, FirstAndLastChapterPointAtTheDirectoryPage) {
    const QString book = QStringLiteral("/data/book/站/书/");
    // The ends lead to the table of contents as a file: URL, safe in any attribute or script.
    const QString directory =
        QStringLiteral("file:///data/book/%E7%AB%99/%E4%B9%A6/directory_page.htm");
    EXPECT_EQ(prevChapterUrl(4, 0, book), directory);
    EXPECT_EQ(prevChapterUrl(4, 3, book), QStringLiteral("directory_info#4#2"));
    EXPECT_EQ(nextChapterUrl(4, 3, 10, book), QStringLiteral("directory_info#4#4"));
    EXPECT_EQ(nextChapterUrl(4, 9, 10, book), directory);
    EXPECT_EQ(nextChapterUrl(4, 0, 1, book), directory);
    EXPECT_EQ(nextChapterUrl(4, 5, 0, book), QStringLiteral("directory_info#4#6"));
}

TEST_F(PageRendererTest, ContentPageFillsEveryPlaceholderInOrder) {
    const QString book = folder.path() + QStringLiteral("book/站 名/\"引\"号/");
    const QString page =
        renderContentPage(4, 0, 10, book, QStringLiteral(" 书 "), QStringLiteral("第一章 <开始>"),
                          QStringLiteral("<p>正文 {PrevChapterUrl} {Nonce}</p>"));
    EXPECT_FALSE(page.contains(QStringLiteral("{NovelName}")));
    EXPECT_FALSE(page.contains(QStringLiteral("{ChapterName}")));
    EXPECT_EQ(page.count(QStringLiteral("{PrevChapterUrl}")), 1); // the one of the chapter text
    EXPECT_FALSE(page.contains(QStringLiteral("{NextChapterUrl}")));
    EXPECT_TRUE(page.contains(QStringLiteral("<span class=\"STYLE5\"> 书 </span>")));
    EXPECT_TRUE(page.contains(QStringLiteral("第一章 <开始>")));
    // Placeholders are filled in one pass over the template: those inside the chapter text
    // stay literal.
    EXPECT_TRUE(page.contains(QStringLiteral("<p>正文 {PrevChapterUrl} {Nonce}</p>")));
    EXPECT_TRUE(page.contains(QStringLiteral("<a href=\"directory_info#4#1\">下一章</a>")));
    const QString directory = fileUrl(book + QStringLiteral("directory_page.htm"));
    EXPECT_FALSE(directory.contains(QLatin1Char('"')));
    EXPECT_EQ(page.count(QStringLiteral("href=\"") + directory + QStringLiteral("\">上一章")), 2);
    EXPECT_TRUE(page.contains(QStringLiteral("if (key == 37) document.location = \"") + directory +
                              QStringLiteral("\";")));
    EXPECT_TRUE(page.contains(
        QStringLiteral("if (key == 39) document.location = \"directory_info#4#1\";")));
}

TEST_F(PageRendererTest, EachRenderingHasItsOwnNonce) {
    const QString a = renderContentPage(1, 1, 3, folder.path(), QStringLiteral("n"),
                                        QStringLiteral("c"), QString());
    const QString b = renderContentPage(1, 1, 3, folder.path(), QStringLiteral("n"),
                                        QStringLiteral("c"), QString());
    const QRegularExpression nonce(QStringLiteral("script-src 'nonce-([0-9a-z]+)'"));
    const QString na = nonce.match(a).captured(1);
    EXPECT_GE(na.size(), 16);
    EXPECT_NE(na, nonce.match(b).captured(1));
    EXPECT_TRUE(a.contains(QStringLiteral("nonce=\"") + na + QLatin1Char('"')));
}

TEST_F(PageRendererTest, DirectoryPageFillsNameRowsAndSiteLine) {
    const QString page = renderDirectoryPage(
        3, {QStringLiteral("甲"), QStringLiteral("乙")}, QStringLiteral(" 书 "),
        QStringLiteral("站"), QStringLiteral("http://s/"), QStringLiteral("http://s/b/"));
    EXPECT_TRUE(page.contains(directoryRows(3, {QStringLiteral("甲"), QStringLiteral("乙")})));
    EXPECT_TRUE(page.contains(siteLine(QStringLiteral("站"), QStringLiteral("http://s/"),
                                       QStringLiteral("http://s/b/"))));
    EXPECT_TRUE(page.contains(QStringLiteral("<span class=\"STYLE5\"> 书 </span>")));
    EXPECT_FALSE(page.contains(QRegularExpression(QStringLiteral("\\{[A-Za-z]+\\}"))));
}

// Text from a web page is never expanded as a template: a novel named after the placeholders.
TEST_F(PageRendererTest, PlaceholdersInSiteTextStayLiteral) {
    const QString name = QStringLiteral("{Contents}{SiteInfo}{NovelName}");
    const QString page = renderDirectoryPage(
        3, {QStringLiteral("甲"), QStringLiteral("乙")}, name, QStringLiteral("{NovelName}"),
        QStringLiteral("http://s/"), QStringLiteral("http://s/b/"));
    EXPECT_EQ(page.count(directoryRows(3, {QStringLiteral("甲"), QStringLiteral("乙")})), 1);
    EXPECT_TRUE(page.contains(QStringLiteral("<span class=\"STYLE5\">") + name));
    EXPECT_EQ(page.count(QStringLiteral("目标站 ： ")), 1);
}

TEST_F(PageRendererTest, MissingTemplatesRaise) {
    QFile::remove(templateFolder() + QStringLiteral("content_page.htm"));
    EXPECT_THROW(renderContentPage(1, 0, 1, folder.path(), QString(), QString(), QString()),
                 PageFileError);
}

TEST(PictureMarkupTest, OneCentredPicturePerStoredFile) {
    EXPECT_EQ(pictureChapterHtml(QString()), QString());
    EXPECT_EQ(pictureChapterHtml(QStringLiteral("/b/pic/3_0.png|/b/pic/3_1.jpg")),
              QStringLiteral("<div style=\"text-align:center\"><img src=\"file:///b/pic/3_0.png\" "
                             "border=\"0\"></div><br />"
                             "<div style=\"text-align:center\"><img src=\"file:///b/pic/3_1.jpg\" "
                             "border=\"0\"></div><br "
                             "/>"));
    EXPECT_EQ(pictureChapterHtml(QStringLiteral("/b/a\"#?%/3_0.png")),
              QStringLiteral("<div style=\"text-align:center\"><img src=\"file:///b/a%22%23%3F%25/"
                             "3_0.png\" border=\"0\"></div><br />"));
}

TEST(BookFolderTest, NamesFromWebPagesStayInsideTheBookFolder) {
    test::TempDataFolder folder;
    const QString root = folder.path() + QStringLiteral("book/");
    EXPECT_EQ(bookFolder(QStringLiteral("站"), QStringLiteral("  书名\t\r\n")),
              root + QStringLiteral("站/书名/"));
    EXPECT_EQ(bookFolder(QStringLiteral("站"), QStringLiteral(" 书 名 ")),
              root + QStringLiteral("站/书 名/"));
    EXPECT_EQ(bookFolder(QStringLiteral("a/b"), QStringLiteral("../../etc")),
              root + QStringLiteral("a_b/.._.._etc/"));
    EXPECT_EQ(bookFolder(QStringLiteral(".."), QStringLiteral("..")),
              root + QStringLiteral("_/_/"));
    EXPECT_EQ(bookFolder(QString(), QStringLiteral("   ")), root + QStringLiteral("_/_/"));
    EXPECT_EQ(bookFolder(QStringLiteral("站"), QStringLiteral(".")),
              root + QStringLiteral("站/_/"));
    EXPECT_EQ(bookFolder(QStringLiteral("站"), QStringLiteral("a\x01"
                                                              "b")),
              root + QStringLiteral("站/a_b/"));
}

// Removing a novel's folder takes that folder only: a book folder that is a link to somewhere
// else is refused and what it points at stays.
TEST(BookFolderTest, RemovalStaysInsideTheBookFolder) {
    test::TempDataFolder folder;
    QTemporaryDir outside;
    QFile keep(outside.filePath(QStringLiteral("keep.txt")));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.close();
    ASSERT_TRUE(writePage(QStringLiteral("x"),
                          bookFolder(QStringLiteral("站"), QStringLiteral("甲")),
                          QStringLiteral("directory_page.htm")));
    ASSERT_TRUE(QDir().mkpath(folder.path() + QStringLiteral("book/站")));
    ASSERT_TRUE(QFile::link(outside.path(), folder.path() + QStringLiteral("book/站/乙")));

    EXPECT_FALSE(removeBookFolder(QStringLiteral("站"), QStringLiteral("乙")));
    EXPECT_TRUE(QFile::exists(outside.filePath(QStringLiteral("keep.txt"))));
    EXPECT_TRUE(removeBookFolder(QStringLiteral("站"), QStringLiteral("甲")));
    EXPECT_FALSE(QFileInfo::exists(bookFolder(QStringLiteral("站"), QStringLiteral("甲"))));
    EXPECT_TRUE(QFileInfo::exists(folder.path() + QStringLiteral("book/站")));
    EXPECT_TRUE(removeBookFolder(QStringLiteral("站"), QStringLiteral("丙"))); // never made
}

// Names longer than a file name may be are cut at a character boundary, with a hash of the
// whole name, so two long names never share a folder.
TEST(BookFolderTest, LongNamesAreCutWithAHashOfTheWholeName) {
    test::TempDataFolder folder;
    const QString root = folder.path() + QStringLiteral("book/站/");
    const QString a = QString(86, QChar(0x4E66)) + QStringLiteral("甲");
    const QString b = QString(86, QChar(0x4E66)) + QStringLiteral("乙");
    const QString folderA = bookFolder(QStringLiteral("站"), a).mid(root.size()).chopped(1);
    const QString folderB = bookFolder(QStringLiteral("站"), b).mid(root.size()).chopped(1);
    EXPECT_LE(folderA.toUtf8().size(), 200);
    EXPECT_TRUE(folderA.startsWith(QString(60, QChar(0x4E66))));
    EXPECT_NE(folderA, folderB);
    EXPECT_EQ(bookFolder(QStringLiteral("站"), a), bookFolder(QStringLiteral("站"), a));
    // 66 characters (198 bytes) still fit and stay as they are.
    EXPECT_EQ(bookFolder(QStringLiteral("站"), QString(66, QChar(0x4E66))),
              root + QString(66, QChar(0x4E66)) + QLatin1Char('/'));
    EXPECT_TRUE(QDir().mkpath(bookFolder(QStringLiteral("站"), a)));
}

TEST(TextFileTest, WrittenWithBomAndReadBackByBom) {
    test::TempDataFolder folder;
    const QString file = folder.file(QStringLiteral("page.htm"));
    writeTextFile(QStringLiteral("正文\r\nline"), file);
    EXPECT_EQ(bytes(file), QByteArray("\xEF\xBB\xBF") + QStringLiteral("正文\r\nline").toUtf8());
    EXPECT_EQ(readTextFile(file), QStringLiteral("正文\r\nline"));
    writeTextFile(QStringLiteral("短"), file); // truncates
    EXPECT_EQ(readTextFile(file), QStringLiteral("短"));

    QFile le(folder.file(QStringLiteral("le.txt")));
    ASSERT_TRUE(le.open(QIODevice::WriteOnly));
    le.write(QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(u"中文"), 4));
    le.close();
    EXPECT_EQ(readTextFile(le.fileName()), QStringLiteral("中文"));
    QFile be(folder.file(QStringLiteral("be.txt")));
    ASSERT_TRUE(be.open(QIODevice::WriteOnly));
    be.write(QByteArray("\xFE\xFF\x4E\x2D", 4));
    be.close();
    EXPECT_EQ(readTextFile(be.fileName()), QStringLiteral("中"));

    EXPECT_THROW(
        writeTextFile(QStringLiteral("x"), folder.file(QStringLiteral("no/folder/page.htm"))),
        PageFileError);
    EXPECT_FALSE(QDir(folder.file(QStringLiteral("no"))).exists());
    EXPECT_THROW(readTextFile(folder.file(QStringLiteral("missing.htm"))), PageFileError);
}

} // namespace

// 简繁: a real chapter shown in traditional characters, a traditional one in simplified; the
// page shows the script chosen, made from the text as stored.
TEST_F(PageRendererTest, ChaptersAreShownInTheChosenScript) {
    QFile real(QStringLiteral(ZVRD_SOURCE_DIR
                              "/../shared/realsites/biquge.info/chapter_74_74132_14482860.html"));
    if (real.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromUtf8(real.readAll());
        ASSERT_TRUE(text.contains(QStringLiteral("悠扬的钟声在云间来回飘荡")));
        EXPECT_TRUE(inScript(text, ChineseScript::Traditional)
                        .contains(QStringLiteral("悠揚的鐘聲在雲間來回飄蕩")));
    }
    EXPECT_EQ(inScript(QStringLiteral("悠揚的鐘聲在雲間來回飄蕩"), ChineseScript::Simplified),
              QStringLiteral("悠扬的钟声在云间来回飘荡"));
    ReadingSettings settings;
    settings.script = ChineseScript::Traditional;
    ASSERT_TRUE(saveReadingSettings(settings));
    ASSERT_EQ(readingSettings().script, ChineseScript::Traditional);
    const QString stored = QStringLiteral("<p>这是第一章的正文。</p>");
    const QString page = renderContentPage(1, 0, 3, folder.path(), QStringLiteral("书"),
                                           QStringLiteral("第一章 开始"), stored);
    EXPECT_TRUE(page.contains(QStringLiteral("<p>這是第一章的正文。</p>")));
    EXPECT_TRUE(page.contains(QStringLiteral("第一章 開始")));
}
