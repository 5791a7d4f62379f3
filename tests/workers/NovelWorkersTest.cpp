// The directory worker and the chapter worker against the local test web server, with the novel
// store in a temporary data folder and a fake surface.
#include "core/DataFolder.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/FakeSurface.h"
#include "support/TempDataFolder.h"
#include "support/TestSiteSuite.h"
#include "workers/ChapterWorker.h"
#include "workers/OpenNovelWorker.h"

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
        extractTemplates();
    }
    void SetUp() override {
        ASSERT_TRUE(importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"),
                                     site->baseUrl()));
    }

    static NovelInfo gbkInfo(int id) {
        const SiteRule rule = findRuleBySiteName(loadSiteRules(), QStringLiteral("书海阁"));
        return parseInfoPage(site->baseUrl() + QStringLiteral("/gbk/book/%1/").arg(id), rule);
    }

    // Opens a novel as a double-click would and waits for the directory worker; records the
    // bulk download's starts: chapter index and chapters in flight after the start.
    QList<std::pair<int, int>> open(const NovelInfo& info, const QString& siteName,
                                    bool fetch = false) {
        QList<std::pair<int, int>> events;
        std::mutex lock;
        auto* worker = new OpenNovelWorker(info, siteName, surface, fetch, Worker::Ownership::Held,
                                           [&](int index, int inFlight) {
                                               std::lock_guard guard(lock);
                                               events.append({index, inFlight});
                                           });
        worker->join();
        delete worker;
        return events;
    }

    void runChapter(int ruleId, int novelId, int index, const QString& bookDir, const QString& name,
                    const QString& chapterName, const QString& url, bool display) {
        auto* worker = new ChapterWorker(ruleId, novelId, index, bookDir, name, chapterName, url,
                                         display, surface, Worker::Ownership::Held);
        worker->join();
        delete worker;
    }

    static int64_t value(const QString& sql) {
        SqliteDatabase db(novelDatabasePath());
        return db.integerValue(sql);
    }

    static QString text(const QString& sql) {
        SqliteDatabase db(novelDatabasePath());
        return db.stringValue(sql);
    }

    test::TempDataFolder folder;
    std::shared_ptr<test::FakeSurface> surface = std::make_shared<test::FakeSurface>();
};

// The bulk download starts every chapter in order, never has more than 20 in flight, and
// stores each chapter once.
TEST_F(NovelWorkersTest, BulkDownloadKeepsAtMost20InFlightAndStoresEveryChapterOnce) {
    for (const auto& [novel, chapters] : {std::pair{2, 7}, std::pair{3, 20}, std::pair{1, 45}}) {
        const QList<std::pair<int, int>> events = open(gbkInfo(novel), QStringLiteral("书海阁"));
        ASSERT_EQ(events.size(), chapters);
        for (int i = 0; i < chapters; ++i) {
            EXPECT_EQ(events[i].first, i);
            EXPECT_GE(events[i].second, 1);
            EXPECT_LE(events[i].second, OpenNovelWorker::kWindowSize);
        }
        const int id = recentReadId(QStringLiteral("书海阁"), gbkInfo(novel).name);
        EXPECT_EQ(
            value(QStringLiteral("select count(*) from novel_chapter where novel_id=%1").arg(id)),
            chapters);
        EXPECT_EQ(value(QStringLiteral("select count(distinct chapter_id) from novel_chapter where "
                                       "novel_id=%1 and is_download=1")
                            .arg(id)),
                  chapters);
        EXPECT_EQ(chapterCount(id), chapters);
        EXPECT_EQ(surface->lastStatus(), QStringLiteral("所有章节已下载完成"));
        // The progress ends counting every chapter, then is hidden.
        const auto progress = surface->progress();
        ASSERT_GE(progress.size(), 2u);
        EXPECT_EQ(progress[progress.size() - 2], (std::array<int, 3>{chapters, 0, chapters}));
        EXPECT_EQ(progress.back(), (std::array<int, 3>{0, 0, 0}));
    }
    // The picture chapter of the 45-chapter novel came down as two files.
    const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传"));
    EXPECT_TRUE(QFile::exists(book + QStringLiteral("pic/3_0.png")));
    EXPECT_TRUE(QFile::exists(book + QStringLiteral("pic/3_1.png")));
}

TEST_F(NovelWorkersTest, OpeningShowsTheDirectoryPageAndReportsTheCount) {
    const NovelInfo info = gbkInfo(2);
    open(info, QStringLiteral("书海阁"));
    const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    const QStringList statuses = surface->statuses();
    ASSERT_GE(statuses.size(), 3);
    EXPECT_EQ(statuses[0], QStringLiteral("正在从目标站「书海阁」提取小说目录，请稍候……"));
    EXPECT_TRUE(
        statuses[1].startsWith(QStringLiteral("成功提取到小说目录，共有 7 个章节， 用时 ")));
    EXPECT_EQ(statuses[2], QStringLiteral("开始下载小说章节……"));
    EXPECT_EQ(surface->navigations().first(), book + QStringLiteral("directory_page.htm"));
    const QString page = readTextFile(book + QStringLiteral("directory_page.htm"));
    EXPECT_TRUE(page.contains(QStringLiteral("<a href=\"directory_info#1#6\">第7章 长春功</a>")));
    const NovelInfo stored = recentReadInfo(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    EXPECT_EQ(stored.author, QStringLiteral("老鹰吃小鸡"));
    EXPECT_EQ(stored.infoPageUrl, info.infoPageUrl);
}

TEST_F(NovelWorkersTest, ANovelOpenedBeforeWithChaptersFetchesNothing) {
    open(gbkInfo(2), QStringLiteral("书海阁"));
    auto again = std::make_shared<test::FakeSurface>();
    surface = again;
    const NovelInfo stored = recentReadInfo(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    const int before = site->requestCount();
    const auto events = open(stored, QStringLiteral("书海阁"));
    EXPECT_EQ(site->requestCount(), before);
    EXPECT_TRUE(events.isEmpty());
    ASSERT_EQ(again->statuses().size(), 1);
    EXPECT_TRUE(again->lastStatus().startsWith(
        QStringLiteral("成功提取到小说目录，共有 7 个章节， 用时 ")));
}

TEST_F(NovelWorkersTest, AStoredListWithoutChaptersDownloadsThemAgain) {
    const NovelInfo info = gbkInfo(2);
    addRecentRead(QStringLiteral("书海阁"), info.name, info.author, info.latestChapter,
                  info.infoPageUrl);
    ChapterList list;
    list.count = 1;
    list.names << QStringLiteral("第1章 山村少年");
    list.urls << site->baseUrl() + QStringLiteral("/gbk/book/2/1.html");
    addChapterList(1, list);
    const auto events =
        open(recentReadInfo(QStringLiteral("书海阁"), info.name), QStringLiteral("书海阁"));
    EXPECT_EQ(events, (QList<std::pair<int, int>>{{0, 1}}));
    EXPECT_EQ(value(QStringLiteral(
                  "select count(*) from novel_chapter where novel_id=1 and is_download=1")),
              1);
}

TEST_F(NovelWorkersTest, ANovelWhoseListWasNeverStoredReadsItsInformationPageAgain) {
    const NovelInfo info = gbkInfo(3);
    addRecentRead(QStringLiteral("书海阁"), info.name, info.author, info.latestChapter,
                  info.infoPageUrl);
    const NovelInfo stored = recentReadInfo(QStringLiteral("书海阁"), info.name);
    ASSERT_TRUE(stored.directoryPageUrl.isEmpty());
    open(stored, QStringLiteral("书海阁"));
    EXPECT_EQ(chapterCount(1), 20);
}

TEST_F(NovelWorkersTest, AFirstOpeningReadsTheInformationPageOnTheWorker) {
    NovelInfo info;
    info.infoPageUrl = site->baseUrl() + QStringLiteral("/utf8/book/3/");
    open(info, QStringLiteral("云中书库"), /*fetch=*/true);
    EXPECT_EQ(recentReadId(QStringLiteral("云中书库"), QStringLiteral("大道朝天")), 1);
    EXPECT_EQ(chapterCount(1), 9);
}

TEST_F(NovelWorkersTest, MissingListAddressOrUnknownSiteEndsWithTheFailureText) {
    NovelInfo info;
    info.name = QStringLiteral("无目录");
    info.infoPageUrl = site->baseUrl() + QStringLiteral("/nothing/");
    open(info, QStringLiteral("书海阁"));
    EXPECT_TRUE(hasRecentRead(QStringLiteral("书海阁"), QStringLiteral("无目录")));
    EXPECT_EQ(surface->lastStatus(), QStringLiteral("无法从小说目录页提取小说目录，任务已中止！"));
    EXPECT_EQ(surface->events().last(), QStringLiteral("ShowResultList"));

    auto unknown = std::make_shared<test::FakeSurface>();
    surface = unknown;
    open(gbkInfo(2), QStringLiteral("没有这个站"));
    EXPECT_TRUE(
        hasRecentRead(QString(), QStringLiteral("修仙归来"))); // recorded under an empty site name
    EXPECT_EQ(unknown->lastStatus(), QStringLiteral("无法从小说目录页提取小说目录，任务已中止！"));
}

// ---- chapter worker ------------------------------------------------------------------------

TEST_F(NovelWorkersTest, AStoredChapterIsNeverFetchedAgain) {
    const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("书"));
    saveChapter(7, 0, 0, 1, QStringLiteral("<p>已存的正文</p>"));
    const int before = site->requestCount();
    runChapter(1, 7, 0, book, QStringLiteral("书"), QStringLiteral("第一章"),
               site->baseUrl() + QStringLiteral("/x"), false);
    EXPECT_TRUE(surface->events().isEmpty());
    runChapter(1, 7, 0, book, QStringLiteral("书"), QStringLiteral("第一章"),
               site->baseUrl() + QStringLiteral("/x"), true);
    EXPECT_EQ(site->requestCount(), before);
    EXPECT_EQ(surface->statuses(), QStringList{QStringLiteral("当前章节： 「第一章」")});
    EXPECT_EQ(surface->navigations(), QStringList{book + QStringLiteral("content_page.htm")});
    EXPECT_TRUE(readTextFile(book + QStringLiteral("content_page.htm"))
                    .contains(QStringLiteral("<p>已存的正文</p>")));
}

TEST_F(NovelWorkersTest, ATextChapterIsCleanedStoredAndShown) {
    const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("剑来"));
    runChapter(1, 3, 1, book, QStringLiteral("剑来"), QStringLiteral("第2章 初入宗门"),
               site->baseUrl() + QStringLiteral("/gbk/book/3/2.html"), true);
    EXPECT_EQ(surface->statuses(),
              (QStringList{QStringLiteral("成功下载一个章节：「第2章 初入宗门」"),
                           QStringLiteral("当前章节： 「第2章 初入宗门」")}));
    const QString stored = text(QStringLiteral(
        "select chapter_content from novel_chapter where novel_id=3 and chapter_id=1"));
    EXPECT_TRUE(stored.contains(QStringLiteral("《剑来》第2章正文开始。")));
    EXPECT_FALSE(stored.contains(QStringLiteral("书海阁"))); // the site's junk is removed
    EXPECT_EQ(value(QStringLiteral(
                  "select chapter_type from novel_chapter where novel_id=3 and chapter_id=1")),
              0);
    EXPECT_TRUE(readTextFile(book + QStringLiteral("content_page.htm")).contains(stored));
}

TEST_F(NovelWorkersTest, APictureChapterKeepsItsPicturesAsFiles) {
    const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传"));
    runChapter(1, 1, 3, book, QStringLiteral("凡人修仙传"), QStringLiteral("第4章 神秘小瓶"),
               site->baseUrl() + QStringLiteral("/gbk/book/1/4.html"), true);
    const QString files =
        book + QStringLiteral("pic/3_0.png|") + book + QStringLiteral("pic/3_1.png");
    EXPECT_EQ(text(QStringLiteral(
                  "select chapter_content from novel_chapter where novel_id=1 and chapter_id=3")),
              files);
    EXPECT_EQ(value(QStringLiteral(
                  "select chapter_type from novel_chapter where novel_id=1 and chapter_id=3")),
              1);
    QFile png(book + QStringLiteral("pic/3_1.png"));
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    EXPECT_TRUE(png.readAll().startsWith("\x89PNG"));
    EXPECT_TRUE(readTextFile(book + QStringLiteral("content_page.htm"))
                    .contains(pictureChapterHtml(files)));
    EXPECT_TRUE(surface->statuses().contains(
        QStringLiteral("正在下载图片章节： %1/gbk/pic/1-4-1.png").arg(site->baseUrl())));
}

TEST_F(NovelWorkersTest, AFailedChapterIsStoredAsFailedAndFetchedAgainLater) {
    const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("剑来"));
    const QString missing = site->baseUrl() + QStringLiteral("/gbk/book/3/999.html");
    runChapter(1, 3, 4, book, QStringLiteral("剑来"), QStringLiteral("第5章"), missing, true);
    EXPECT_EQ(surface->statuses(),
              QStringList{QStringLiteral("提取小说章节页正文失败，章节名称：第5章， 目标页面：") +
                          missing});
    EXPECT_TRUE(surface->navigations().isEmpty());
    EXPECT_EQ(value(QStringLiteral(
                  "select chapter_type from novel_chapter where novel_id=3 and chapter_id=4")),
              -1);
    EXPECT_EQ(value(QStringLiteral(
                  "select is_download from novel_chapter where novel_id=3 and chapter_id=4")),
              0);

    runChapter(1, 3, 4, book, QStringLiteral("剑来"), QStringLiteral("第5章"),
               site->baseUrl() + QStringLiteral("/gbk/book/3/5.html"), false);
    EXPECT_EQ(value(QStringLiteral(
                  "select is_download from novel_chapter where novel_id=3 and chapter_id=4")),
              1);
    EXPECT_EQ(value(QStringLiteral("select count(*) from novel_chapter where novel_id=3")), 1);
}

TEST_F(NovelWorkersTest, APictureThatCannotBeDownloadedFailsTheChapter) {
    site->setPage(
        QStringLiteral("broken-picture.html"),
        QStringLiteral("<div id=\"content\"><img src=\"/gbk/pic/none.png\"></div>").toUtf8());
    const QString url = site->pageUrl(QStringLiteral("broken-picture.html"));
    runChapter(1, 5, 0, bookFolder(QStringLiteral("书海阁"), QStringLiteral("坏图")),
               QStringLiteral("坏图"), QStringLiteral("第1章"), url, true);
    EXPECT_EQ(surface->lastStatus(),
              QStringLiteral("图片章节下载失败，章节地址： %1，请重试！").arg(url));
    EXPECT_EQ(value(QStringLiteral("select chapter_type from novel_chapter where novel_id=5")), -1);
}

TEST_F(NovelWorkersTest, AnUnknownRuleIdFailsTheChapter) {
    runChapter(99, 6, 0, bookFolder(QStringLiteral("x"), QStringLiteral("y")), QStringLiteral("y"),
               QStringLiteral("第1章"), site->baseUrl() + QStringLiteral("/gbk/book/3/1.html"),
               true);
    EXPECT_EQ(surface->statuses(),
              QStringList{QStringLiteral("无法从小说章节页提取章节内容，任务已中止！")});
    EXPECT_EQ(value(QStringLiteral("select is_download from novel_chapter where novel_id=6")), 0);
}

TEST(PictureFileNameTest, TheExtensionCannotLeaveThePictureFolder) {
    EXPECT_EQ(pictureFileName(QStringLiteral("/b/pic/"), 12, 0, QStringLiteral("http://a/x.jpg")),
              QStringLiteral("/b/pic/12_0.jpg"));
    EXPECT_EQ(pictureFileName(QStringLiteral("/b/pic/"), 3, 1,
                              QStringLiteral("http://a/p.x?/../../../etc/evil")),
              QStringLiteral("/b/pic/3_1._etc_evil"));
}

} // namespace
