// The directory worker and the chapter worker against the local test web server, with the novel
// store in a temporary data folder and a fake surface.
#include "core/AppFolder.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/FakeSurface.h"
#include "support/TempAppFolder.h"
#include "support/TestSiteSuite.h"
#include "workers/ChapterThread.h"
#include "workers/DirectoryThread.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <mutex>

using namespace zvrd;

namespace {

class NovelWorkersTest : public test::TestSiteSuite {
protected:
    static void SetUpTestSuite() {
        TestSiteSuite::SetUpTestSuite();
        ExtractTemplates();
    }
    void SetUp() override {
        ASSERT_TRUE(ImportRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"),
                                     site->BaseUrl()));
    }

    static TInfoPageData GbkInfo(int id) {
        const TRuleInfo rule = FindRuleBySiteName(LoadRuleInfoList(), QStringLiteral("书海阁"));
        return ParseInfoPage(site->BaseUrl() + QStringLiteral("/gbk/book/%1/").arg(id), rule);
    }

    // Opens a novel as a double-click would and waits for the directory worker; records the
    // bulk download's starts (chapter index) and batch waits (-1).
    QList<int> Open(const TInfoPageData& info, const QString& siteName, bool fetch = false) {
        QList<int> events;
        std::mutex lock;
        auto* worker = new TDirectoryThread(info, siteName, surface, fetch,
                                            TWorkerThread::Ownership::Held, [&](int e) {
                                                std::lock_guard guard(lock);
                                                events << e;
                                            });
        worker->Join();
        delete worker;
        return events;
    }

    void RunChapter(int ruleId, int novelId, int index, const QString& bookDir, const QString& name,
                    const QString& chapterName, const QString& url, bool display) {
        auto* worker = new TChapterThread(ruleId, novelId, index, bookDir, name, chapterName, url,
                                          display, surface, TWorkerThread::Ownership::Held);
        worker->Join();
        delete worker;
    }

    static int64_t Value(const QString& sql) {
        TSQLiteDatabase db(NovelDatabasePath());
        return db.GetTableValue(sql);
    }

    static QString Text(const QString& sql) {
        TSQLiteDatabase db(NovelDatabasePath());
        return db.GetTableString(sql);
    }

    test::TempAppFolder folder;
    std::shared_ptr<test::FakeSurface> surface = std::make_shared<test::FakeSurface>();
};

// The bulk download's batches: a wait after every 20th start and one for a partial last batch.
TEST_F(NovelWorkersTest, BulkDownloadWaitsBatchByBatchAndStoresEveryChapterOnce) {
    struct Case {
        int novel;
        int chapters;
        QList<int> waitsAfter;
    };
    for (const Case& c : {Case{2, 7, {6}}, Case{3, 20, {19}}, Case{1, 45, {19, 39, 44}}}) {
        const QList<int> events = Open(GbkInfo(c.novel), QStringLiteral("书海阁"));
        QList<int> waitsAfter;
        int started = 0;
        for (int i = 0; i < events.size(); ++i) {
            if (events[i] == -1)
                waitsAfter << events[i - 1];
            else
                EXPECT_EQ(events[i], started++);
        }
        EXPECT_EQ(started, c.chapters);
        EXPECT_EQ(waitsAfter, c.waitsAfter) << "novel of " << c.chapters;
        const int id = GetLatestReadId(QStringLiteral("书海阁"), GbkInfo(c.novel).strNovelName);
        EXPECT_EQ(
            Value(QStringLiteral("select count(*) from novel_chapter where novel_id=%1").arg(id)),
            c.chapters);
        EXPECT_EQ(Value(QStringLiteral("select count(distinct chapter_id) from novel_chapter where "
                                       "novel_id=%1 and is_download=1")
                            .arg(id)),
                  c.chapters);
        EXPECT_EQ(GetDirectoryCount(id), c.chapters);
        EXPECT_EQ(surface->LastStatus(), QStringLiteral("所有章节已下载完成"));
    }
    // The picture chapter of the 45-chapter novel came down as two files.
    const QString book = BookFolder(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传"));
    EXPECT_TRUE(QFile::exists(book + QStringLiteral("pic/3_0.png")));
    EXPECT_TRUE(QFile::exists(book + QStringLiteral("pic/3_1.png")));
}

TEST_F(NovelWorkersTest, OpeningShowsTheDirectoryPageAndReportsTheCount) {
    const TInfoPageData info = GbkInfo(2);
    Open(info, QStringLiteral("书海阁"));
    const QString book = BookFolder(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    const QStringList statuses = surface->Statuses();
    ASSERT_GE(statuses.size(), 3);
    EXPECT_EQ(statuses[0], QStringLiteral("正在从目标站「书海阁」提取小说目录，请稍候……"));
    EXPECT_TRUE(
        statuses[1].startsWith(QStringLiteral("成功提取到小说目录，共有 7 个章节， 用时 ")));
    EXPECT_EQ(statuses[2], QStringLiteral("开始下载小说章节……"));
    EXPECT_EQ(surface->Navigations().first(), book + QStringLiteral("directory_page.htm"));
    const QString page = ReadTextFile(book + QStringLiteral("directory_page.htm"));
    EXPECT_TRUE(page.contains(QStringLiteral("<a href=\"directory_info#1#6\">第7章 长春功</a>")));
    const TInfoPageData stored =
        GetLatestReadInfo(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    EXPECT_EQ(stored.strNovelAuthor, QStringLiteral("老鹰吃小鸡"));
    EXPECT_EQ(stored.strInfoPageUrl, info.strInfoPageUrl);
}

TEST_F(NovelWorkersTest, ANovelOpenedBeforeWithChaptersFetchesNothing) {
    Open(GbkInfo(2), QStringLiteral("书海阁"));
    auto again = std::make_shared<test::FakeSurface>();
    surface = again;
    const TInfoPageData stored =
        GetLatestReadInfo(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    const int before = site->RequestCount();
    const QList<int> events = Open(stored, QStringLiteral("书海阁"));
    EXPECT_EQ(site->RequestCount(), before);
    EXPECT_TRUE(events.isEmpty());
    ASSERT_EQ(again->Statuses().size(), 1);
    EXPECT_TRUE(again->LastStatus().startsWith(
        QStringLiteral("成功提取到小说目录，共有 7 个章节， 用时 ")));
}

TEST_F(NovelWorkersTest, AStoredListWithoutChaptersDownloadsThemAgain) {
    const TInfoPageData info = GbkInfo(2);
    AddLatestRead(QStringLiteral("书海阁"), info.strNovelName, info.strNovelAuthor,
                  info.strLatestChapter, info.strInfoPageUrl);
    TDirectoryPageData list;
    list.Num = 1;
    list.slChapterNameList << QStringLiteral("第1章 山村少年");
    list.slChapterUrlList << site->BaseUrl() + QStringLiteral("/gbk/book/2/1.html");
    AddDirectory(1, list);
    const QList<int> events = Open(GetLatestReadInfo(QStringLiteral("书海阁"), info.strNovelName),
                                   QStringLiteral("书海阁"));
    EXPECT_EQ(events, (QList<int>{0, -1}));
    EXPECT_EQ(Value(QStringLiteral(
                  "select count(*) from novel_chapter where novel_id=1 and is_download=1")),
              1);
}

TEST_F(NovelWorkersTest, ANovelWhoseListWasNeverStoredReadsItsInformationPageAgain) {
    const TInfoPageData info = GbkInfo(3);
    AddLatestRead(QStringLiteral("书海阁"), info.strNovelName, info.strNovelAuthor,
                  info.strLatestChapter, info.strInfoPageUrl);
    const TInfoPageData stored = GetLatestReadInfo(QStringLiteral("书海阁"), info.strNovelName);
    ASSERT_TRUE(stored.strDirectoryPageUrl.isEmpty());
    Open(stored, QStringLiteral("书海阁"));
    EXPECT_EQ(GetDirectoryCount(1), 20);
}

TEST_F(NovelWorkersTest, AFirstOpeningReadsTheInformationPageOnTheWorker) {
    TInfoPageData info;
    info.strInfoPageUrl = site->BaseUrl() + QStringLiteral("/utf8/book/3/");
    Open(info, QStringLiteral("云中书库"), /*fetch=*/true);
    EXPECT_EQ(GetLatestReadId(QStringLiteral("云中书库"), QStringLiteral("大道朝天")), 1);
    EXPECT_EQ(GetDirectoryCount(1), 9);
}

TEST_F(NovelWorkersTest, MissingListAddressOrUnknownSiteEndsWithTheFailureText) {
    TInfoPageData info;
    info.strNovelName = QStringLiteral("无目录");
    info.strInfoPageUrl = site->BaseUrl() + QStringLiteral("/nothing/");
    Open(info, QStringLiteral("书海阁"));
    EXPECT_TRUE(HasLatestRead(QStringLiteral("书海阁"), QStringLiteral("无目录")));
    EXPECT_EQ(surface->LastStatus(), QStringLiteral("无法从小说目录页提取小说目录，任务已中止！"));
    EXPECT_EQ(surface->Events().last(), QStringLiteral("ShowResultList"));

    auto unknown = std::make_shared<test::FakeSurface>();
    surface = unknown;
    Open(GbkInfo(2), QStringLiteral("没有这个站"));
    EXPECT_TRUE(
        HasLatestRead(QString(), QStringLiteral("修仙归来"))); // recorded under an empty site name
    EXPECT_EQ(unknown->LastStatus(), QStringLiteral("无法从小说目录页提取小说目录，任务已中止！"));
}

// ---- chapter worker ------------------------------------------------------------------------

TEST_F(NovelWorkersTest, AStoredChapterIsNeverFetchedAgain) {
    const QString book = BookFolder(QStringLiteral("书海阁"), QStringLiteral("书"));
    SaveChapter(7, 0, 0, 1, QStringLiteral("<p>已存的正文</p>"));
    const int before = site->RequestCount();
    RunChapter(1, 7, 0, book, QStringLiteral("书"), QStringLiteral("第一章"),
               site->BaseUrl() + QStringLiteral("/x"), false);
    EXPECT_TRUE(surface->Events().isEmpty());
    RunChapter(1, 7, 0, book, QStringLiteral("书"), QStringLiteral("第一章"),
               site->BaseUrl() + QStringLiteral("/x"), true);
    EXPECT_EQ(site->RequestCount(), before);
    EXPECT_EQ(surface->Statuses(), QStringList{QStringLiteral("当前章节： 「第一章」")});
    EXPECT_EQ(surface->Navigations(), QStringList{book + QStringLiteral("content_page.htm")});
    EXPECT_TRUE(ReadTextFile(book + QStringLiteral("content_page.htm"))
                    .contains(QStringLiteral("<p>已存的正文</p>")));
}

TEST_F(NovelWorkersTest, ATextChapterIsCleanedStoredAndShown) {
    const QString book = BookFolder(QStringLiteral("书海阁"), QStringLiteral("剑来"));
    RunChapter(1, 3, 1, book, QStringLiteral("剑来"), QStringLiteral("第2章 初入宗门"),
               site->BaseUrl() + QStringLiteral("/gbk/book/3/2.html"), true);
    EXPECT_EQ(surface->Statuses(),
              (QStringList{QStringLiteral("成功下载一个章节：「第2章 初入宗门」"),
                           QStringLiteral("当前章节： 「第2章 初入宗门」")}));
    const QString stored = Text(QStringLiteral(
        "select chapter_content from novel_chapter where novel_id=3 and chapter_id=1"));
    EXPECT_TRUE(stored.contains(QStringLiteral("《剑来》第2章正文开始。")));
    EXPECT_FALSE(stored.contains(QStringLiteral("书海阁"))); // the site's junk is removed
    EXPECT_EQ(Value(QStringLiteral(
                  "select chapter_type from novel_chapter where novel_id=3 and chapter_id=1")),
              0);
    EXPECT_TRUE(ReadTextFile(book + QStringLiteral("content_page.htm")).contains(stored));
}

TEST_F(NovelWorkersTest, APictureChapterKeepsItsPicturesAsFiles) {
    const QString book = BookFolder(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传"));
    RunChapter(1, 1, 3, book, QStringLiteral("凡人修仙传"), QStringLiteral("第4章 神秘小瓶"),
               site->BaseUrl() + QStringLiteral("/gbk/book/1/4.html"), true);
    const QString files =
        book + QStringLiteral("pic/3_0.png|") + book + QStringLiteral("pic/3_1.png");
    EXPECT_EQ(Text(QStringLiteral(
                  "select chapter_content from novel_chapter where novel_id=1 and chapter_id=3")),
              files);
    EXPECT_EQ(Value(QStringLiteral(
                  "select chapter_type from novel_chapter where novel_id=1 and chapter_id=3")),
              1);
    QFile png(book + QStringLiteral("pic/3_1.png"));
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    EXPECT_TRUE(png.readAll().startsWith("\x89PNG"));
    EXPECT_TRUE(ReadTextFile(book + QStringLiteral("content_page.htm"))
                    .contains(PictureChapterHtml(files)));
    EXPECT_TRUE(surface->Statuses().contains(
        QStringLiteral("正在下载图片章节： %1/gbk/pic/1-4-1.png").arg(site->BaseUrl())));
}

TEST_F(NovelWorkersTest, AFailedChapterIsStoredAsFailedAndFetchedAgainLater) {
    const QString book = BookFolder(QStringLiteral("书海阁"), QStringLiteral("剑来"));
    const QString missing = site->BaseUrl() + QStringLiteral("/gbk/book/3/999.html");
    RunChapter(1, 3, 4, book, QStringLiteral("剑来"), QStringLiteral("第5章"), missing, true);
    EXPECT_EQ(surface->Statuses(),
              QStringList{QStringLiteral("提取小说章节页正文失败，章节名称：第5章， 目标页面：") +
                          missing});
    EXPECT_TRUE(surface->Navigations().isEmpty());
    EXPECT_EQ(Value(QStringLiteral(
                  "select chapter_type from novel_chapter where novel_id=3 and chapter_id=4")),
              -1);
    EXPECT_EQ(Value(QStringLiteral(
                  "select is_download from novel_chapter where novel_id=3 and chapter_id=4")),
              0);

    RunChapter(1, 3, 4, book, QStringLiteral("剑来"), QStringLiteral("第5章"),
               site->BaseUrl() + QStringLiteral("/gbk/book/3/5.html"), false);
    EXPECT_EQ(Value(QStringLiteral(
                  "select is_download from novel_chapter where novel_id=3 and chapter_id=4")),
              1);
    EXPECT_EQ(Value(QStringLiteral("select count(*) from novel_chapter where novel_id=3")), 1);
}

TEST_F(NovelWorkersTest, APictureThatCannotBeDownloadedFailsTheChapter) {
    site->SetPage(
        QStringLiteral("broken-picture.html"),
        QStringLiteral("<div id=\"content\"><img src=\"/gbk/pic/none.png\"></div>").toUtf8());
    const QString url = site->PageUrl(QStringLiteral("broken-picture.html"));
    RunChapter(1, 5, 0, BookFolder(QStringLiteral("书海阁"), QStringLiteral("坏图")),
               QStringLiteral("坏图"), QStringLiteral("第1章"), url, true);
    EXPECT_EQ(surface->LastStatus(),
              QStringLiteral("图片章节下载失败，章节地址： %1，请重试！").arg(url));
    EXPECT_EQ(Value(QStringLiteral("select chapter_type from novel_chapter where novel_id=5")), -1);
}

TEST_F(NovelWorkersTest, AnUnknownRuleIdFailsTheChapter) {
    RunChapter(99, 6, 0, BookFolder(QStringLiteral("x"), QStringLiteral("y")), QStringLiteral("y"),
               QStringLiteral("第1章"), site->BaseUrl() + QStringLiteral("/gbk/book/3/1.html"),
               true);
    EXPECT_EQ(surface->Statuses(),
              QStringList{QStringLiteral("无法从小说章节页提取章节内容，任务已中止！")});
    EXPECT_EQ(Value(QStringLiteral("select is_download from novel_chapter where novel_id=6")), 0);
}

TEST(PictureFileNameTest, TheExtensionCannotLeaveThePictureFolder) {
    EXPECT_EQ(PictureFileName(QStringLiteral("/b/pic/"), 12, 0, QStringLiteral("http://a/x.jpg")),
              QStringLiteral("/b/pic/12_0.jpg"));
    EXPECT_EQ(PictureFileName(QStringLiteral("/b/pic/"), 3, 1,
                              QStringLiteral("http://a/p.x?/../../../etc/evil")),
              QStringLiteral("/b/pic/3_1._etc_evil"));
}

} // namespace
