// The directory worker and the chapter worker against the local test web server, with the novel
// store in a temporary data folder and a fake surface.
#include "TestSite.h"
#include "core/DataFolder.h"
#include "net/HttpLibrary.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/DemoSitesSuite.h"
#include "support/FakeSurface.h"
#include "support/TempDataFolder.h"
#include "workers/ChapterWorker.h"
#include "workers/LibraryWorkers.h"
#include "workers/OpenNovelWorker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace zvrd::test {
using testsite::Answer;
using testsite::demoChapterName;
} // namespace zvrd::test

using namespace zvrd;

namespace {

class NovelWorkersTest : public test::DemoSitesSuite {
protected:
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
        {
            // A chapter is stored only for a novel that is recorded.
            SqliteDatabase db(ruleDatabasePath());
            for (const QString& recorded :
                 {name, name + QLatin1Char('#') + QString::number(novelId)})
                db.exec(QStringLiteral("insert or ignore into latest_read(id,target_site,"
                                       "novel_name) values(?1,(select site_name from site_rule "
                                       "where id=?2),?3)"),
                        {novelId, ruleId, recorded});
        }
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

// A novel opened before shows its stored list at once, then reads only the site's chapter list
// again (from the address it kept), with nothing to download when nothing is new.
TEST_F(NovelWorkersTest, ANovelOpenedBeforeReadsOnlyItsListAgain) {
    open(gbkInfo(2), QStringLiteral("书海阁"));
    auto again = std::make_shared<test::FakeSurface>();
    surface = again;
    const NovelInfo stored = recentReadInfo(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    const int before = site->requestCount();
    const auto events = open(stored, QStringLiteral("书海阁"));
    EXPECT_EQ(site->requestCount(), before + 1);
    EXPECT_TRUE(events.isEmpty());
    ASSERT_EQ(again->statuses().size(), 2);
    EXPECT_TRUE(again->statuses()[0].startsWith(
        QStringLiteral("成功提取到小说目录，共有 7 个章节， 用时 ")));
    EXPECT_EQ(again->lastStatus(), QStringLiteral("目录已是最新，没有新章节。"));
}

// A serial that grows between two openings: the new chapters are appended and downloaded, the
// stored rows keep their index and id; one that shrinks below half changes nothing.
TEST_F(NovelWorkersTest, AGrowingNovelGetsItsNewChaptersAndAShrunkenListChangesNothing) {
    open(gbkInfo(2), QStringLiteral("书海阁"));
    const QString rows = QStringLiteral(
        "select group_concat(id || ':' || chapter_index || ':' || chapter_name, ',') from "
        "(select * from novel_directory order by chapter_index)");
    const QString before = text(rows);
    const NovelInfo stored = recentReadInfo(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    site->setChapterCount(QStringLiteral("gbk"), 2, 9);
    surface = std::make_shared<test::FakeSurface>();
    const auto events = open(stored, QStringLiteral("书海阁"));
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].first, 7);
    EXPECT_EQ(events[1].first, 8);
    EXPECT_TRUE(text(rows).startsWith(before + QLatin1Char(',')));
    const ChapterList list = loadChapterList(1);
    ASSERT_EQ(list.count, 9);
    EXPECT_EQ(list.names[8], test::demoChapterName(9));
    EXPECT_TRUE(chaptersToDownload(1, 9).isEmpty());
    const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    EXPECT_TRUE(surface->statuses().contains(QStringLiteral("目录已更新，发现 2 个新章节。")));
    EXPECT_TRUE(surface->events().contains(QStringLiteral("reload:") + book +
                                           QStringLiteral("directory_page.htm")));
    EXPECT_TRUE(readTextFile(book + QStringLiteral("directory_page.htm"))
                    .contains(test::demoChapterName(9)));

    site->setChapterCount(QStringLiteral("gbk"), 2, 4);
    surface = std::make_shared<test::FakeSurface>();
    open(stored, QStringLiteral("书海阁"));
    site->setChapterCount(QStringLiteral("gbk"), 2, 7);
    EXPECT_EQ(chapterCount(1), 9);
    EXPECT_EQ(surface->lastStatus(),
              QStringLiteral("目标站目录只有 4 个章节，不足已存 9 个章节的一半，目录未更新。"));
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
    // The stored chapter and the six the site has besides.
    ASSERT_EQ(events.size(), 7);
    EXPECT_EQ(events.first().first, 0);
    EXPECT_EQ(value(QStringLiteral(
                  "select count(*) from novel_chapter where novel_id=1 and is_download=1")),
              7);
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

// A site that is down, slow or answers with an anti-bot page gives no name: nothing is stored,
// so no nameless novel appears among the recent reads or is reused by the next failure.
TEST_F(NovelWorkersTest, AnInformationPageThatFailsStoresNothing) {
    site->setPage(QStringLiteral("anti-bot.html"), "<html>请稍候，正在验证您的浏览器</html>");
    for (const QString& address :
         {site->baseUrl() + QStringLiteral("/fault/status/503"),
          site->pageUrl(QStringLiteral("anti-bot.html")), QStringLiteral("http://127.0.0.1:1/")}) {
        NovelInfo info;
        info.infoPageUrl = address;
        surface = std::make_shared<test::FakeSurface>();
        open(info, QStringLiteral("书海阁"), /*fetch=*/true);
        EXPECT_EQ(surface->lastStatus(), kInfoPageUnreadable) << address.toStdString();
        EXPECT_EQ(surface->events().last(), QStringLiteral("ShowResultList"));
    }
    SqliteDatabase db(ruleDatabasePath());
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from latest_read")), 0);
}

// Two openings of one novel at once (two double-clicks): one record, one list, one row per
// chapter, and the chapters are fetched once.
TEST_F(NovelWorkersTest, OpeningOneNovelTwiceAtOnceStoresItOnce) {
    const NovelInfo info = gbkInfo(3);
    auto* first = new OpenNovelWorker(info, QStringLiteral("书海阁"), surface, false,
                                      Worker::Ownership::Held);
    auto* second = new OpenNovelWorker(info, QStringLiteral("书海阁"), surface, false,
                                       Worker::Ownership::Held);
    first->join();
    second->join();
    delete first;
    delete second;
    EXPECT_EQ(SqliteDatabase(ruleDatabasePath())
                  .integerValue(QStringLiteral("select count(*) from latest_read")),
              1);
    EXPECT_EQ(chapterCount(1), 20);
    EXPECT_EQ(value(QStringLiteral("select count(*) from novel_chapter")), 20);
    EXPECT_TRUE(chaptersToDownload(1, 20).isEmpty());
}

// A download cut short, or chapters that failed, are completed by the next opening.
TEST_F(NovelWorkersTest, TheNextOpeningDownloadsWhatIsMissingOrFailed) {
    open(gbkInfo(3), QStringLiteral("书海阁"));
    SqliteDatabase(novelDatabasePath())
        .exec(QStringLiteral("delete from novel_chapter where chapter_id in (3, 17)"));
    SqliteDatabase(novelDatabasePath())
        .exec(QStringLiteral("update novel_chapter set chapter_type=-1,is_download=0,"
                             "chapter_content='' where chapter_id=18"));
    const auto events = open(recentReadInfo(QStringLiteral("书海阁"), QStringLiteral("剑来")),
                             QStringLiteral("书海阁"));
    QList<int> started;
    for (const auto& [index, inFlight] : events)
        started << index;
    EXPECT_EQ(started, (QList<int>{3, 17, 18}));
    EXPECT_TRUE(chaptersToDownload(1, 20).isEmpty());
    EXPECT_EQ(surface->lastStatus(), QStringLiteral("所有章节已下载完成"));
}

// Chapters that cannot be stored are counted: the last status says how many, never "all".
TEST_F(NovelWorkersTest, FailedChaptersAreCountedInTheLastStatus) {
    SqliteDatabase(novelDatabasePath())
        .exec(QStringLiteral("create trigger no_second before insert on novel_chapter when "
                             "new.chapter_id = 1 and new.is_download = 1 "
                             "begin select raise(abort, 'disk full'); end"));
    open(gbkInfo(2), QStringLiteral("书海阁"));
    EXPECT_EQ(surface->lastStatus(), downloadIncompleteText(6, 1));
    const QStringList errors = surface->statuses().filter(QStringLiteral("任务出错："));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("disk full")));
    EXPECT_EQ(value(QStringLiteral("select is_download from novel_chapter where chapter_id=1")), 0);
}

// The sliding window: while one chapter's answer hangs, the other slots go on; a batch would
// have waited for it before the 21st start (then it is never seen held at the 22nd).
TEST_F(NovelWorkersTest, ASlowChapterDoesNotHoldTheOtherSlots) {
    site->holdChapter(1, 2);
    bool heldAtTheTwentySecondStart = false;
    auto* worker = new OpenNovelWorker(gbkInfo(1), QStringLiteral("书海阁"), surface, false,
                                       Worker::Ownership::Held, [&](int index, int inFlight) {
                                           EXPECT_LE(inFlight, OpenNovelWorker::kWindowSize);
                                           if (index == 21) {
                                               QElapsedTimer waited;
                                               waited.start();
                                               while (!site->isHeld() && waited.elapsed() < 2000)
                                                   sleepMs(10);
                                               heldAtTheTwentySecondStart = site->isHeld();
                                               site->releaseHeld();
                                           }
                                       });
    worker->join();
    delete worker;
    site->releaseHeld();
    EXPECT_TRUE(heldAtTheTwentySecondStart);
    EXPECT_TRUE(chaptersToDownload(1, 45).isEmpty());
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
    saveChapter(7, 0, ChapterKind::Text, 1, QStringLiteral("<p>已存的正文</p>"));
    const int before = site->requestCount();
    runChapter(901, 7, 0, book, QStringLiteral("书"), QStringLiteral("第一章"),
               site->baseUrl() + QStringLiteral("/x"), false);
    EXPECT_TRUE(surface->events().isEmpty());
    runChapter(901, 7, 0, book, QStringLiteral("书"), QStringLiteral("第一章"),
               site->baseUrl() + QStringLiteral("/x"), true);
    EXPECT_EQ(site->requestCount(), before);
    EXPECT_EQ(surface->statuses(), QStringList{QStringLiteral("当前章节： 「第一章」")});
    EXPECT_EQ(surface->navigations(), QStringList{book + QStringLiteral("content_page.htm")});
    EXPECT_TRUE(readTextFile(book + QStringLiteral("content_page.htm"))
                    .contains(QStringLiteral("<p>已存的正文</p>")));
}

TEST_F(NovelWorkersTest, ATextChapterIsCleanedStoredAndShown) {
    const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("剑来"));
    runChapter(901, 3, 1, book, QStringLiteral("剑来"), QStringLiteral("第2章 初入宗门"),
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
    runChapter(901, 1, 3, book, QStringLiteral("凡人修仙传"), QStringLiteral("第4章 神秘小瓶"),
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
    runChapter(901, 3, 4, book, QStringLiteral("剑来"), QStringLiteral("第5章"), missing, true);
    EXPECT_EQ(surface->statuses(),
              QStringList{QStringLiteral("提取小说章节页正文失败，章节名称：第5章， 目标页面：") +
                          missing});
    EXPECT_TRUE(surface->navigations().isEmpty());
    // Offline, the connection is named, not the rule.
    runChapter(901, 3, 4, book, QStringLiteral("剑来"), QStringLiteral("第5章"),
               QStringLiteral("http://127.0.0.1:1/gbk/book/3/5.html"), true);
    EXPECT_EQ(surface->statuses().last(),
              QStringLiteral(
                  "无法连接目标站（没有应答或超时），章节「第5章」未能下载，请检查网络后重试。"));
    EXPECT_EQ(value(QStringLiteral(
                  "select chapter_type from novel_chapter where novel_id=3 and chapter_id=4")),
              -1);
    EXPECT_EQ(value(QStringLiteral(
                  "select is_download from novel_chapter where novel_id=3 and chapter_id=4")),
              0);

    runChapter(901, 3, 4, book, QStringLiteral("剑来"), QStringLiteral("第5章"),
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
    runChapter(901, 5, 0, bookFolder(QStringLiteral("书海阁"), QStringLiteral("坏图")),
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

// A time-out, 429 or 5xx is tried twice more; 404 is final.
TEST_F(NovelWorkersTest, ChapterFetchesAreRetriedOnlyWhenAnotherTryMayHelp) {
    const QByteArray chapter = "<div id=\"content\">第一段正文</div>";
    struct Case {
        QList<int> statuses;
        int requests;
        bool stored;
    };
    int n = 0;
    for (const Case& c : {Case{{503, 503, 200}, 3, true}, Case{{429, 200}, 2, true},
                          Case{{500, 502, 504, 200}, 3, false}, Case{{404, 200}, 1, false}}) {
        const QString name = QStringLiteral("retry-%1.html").arg(++n);
        QList<test::Answer> answers;
        for (int status : c.statuses)
            answers.append({status == 200 ? chapter : QByteArray("busy"), status, {}, 0, {}});
        site->setAnswers(name, answers);
        runChapter(901, 20 + n, 0, bookFolder(QStringLiteral("书海阁"), QStringLiteral("重试")),
                   QStringLiteral("重试"), QStringLiteral("第1章"), site->pageUrl(name), false);
        EXPECT_EQ(site->pageRequests(name), c.requests) << name.toStdString();
        EXPECT_EQ(value(QStringLiteral("select is_download from novel_chapter where novel_id=%1")
                            .arg(20 + n)),
                  c.stored ? 1 : 0)
            << name.toStdString();
    }
}

// At most 64 MiB of decoded bytes are written, whatever the encoding or announced length: a
// gzip bomb and an endless body both fail the chapter and leave no file.
TEST_F(NovelWorkersTest, PicturesStopAt64MiBOfDecodedBytes) {
    int n = 0;
    for (const char* picture : {"/fault/gzip-bomb.png", "/fault/endless.png"}) {
        const QString name = QStringLiteral("bomb-%1.html").arg(++n);
        site->setPage(name, QByteArray("<div id=\"content\"><img src=\"") + picture + "\"></div>");
        const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("炸弹"));
        runChapter(901, 30 + n, 0, book, QStringLiteral("炸弹"), QStringLiteral("第1章"),
                   site->pageUrl(name), false);
        EXPECT_EQ(value(QStringLiteral("select chapter_type from novel_chapter where novel_id=%1")
                            .arg(30 + n)),
                  -1)
            << picture;
        EXPECT_TRUE(QDir(book + QStringLiteral("pic")).isEmpty()) << picture;
    }
}

// A name of 86 Chinese characters (258 bytes) is longer than a file name may be: its folder is
// cut, and the novel opens and reads.
TEST_F(NovelWorkersTest, ANovelWithAVeryLongNameOpensAndReads) {
    NovelInfo info = gbkInfo(2);
    info.name = QString(86, QChar(0x4E66)); // 书 × 86
    open(info, QStringLiteral("书海阁"));
    const QString book = bookFolder(QStringLiteral("书海阁"), info.name);
    EXPECT_TRUE(QFile::exists(book + QStringLiteral("directory_page.htm")));
    EXPECT_EQ(surface->lastStatus(), QStringLiteral("所有章节已下载完成"));
    runChapter(901, 1, 0, book, info.name, QStringLiteral("第1章 山村少年"),
               site->baseUrl() + QStringLiteral("/gbk/book/2/1.html"), true);
    EXPECT_EQ(surface->navigations().last(), book + QStringLiteral("content_page.htm"));
    EXPECT_TRUE(QFile::exists(book + QStringLiteral("content_page.htm")));
}

TEST(PictureFileNameTest, TheExtensionCannotLeaveThePictureFolder) {
    EXPECT_EQ(pictureFileName(QStringLiteral("/b/pic/"), 12, 0, QStringLiteral("http://a/x.jpg")),
              QStringLiteral("/b/pic/12_0.jpg"));
    EXPECT_EQ(pictureFileName(QStringLiteral("/b/pic/"), 3, 1,
                              QStringLiteral("http://a/p.x?/../../../etc/evil")),
              QStringLiteral("/b/pic/3_1._etc_evil"));
}

// 检查更新: the novel whose site grew gets its new chapters stored and downloaded; a site that
// cannot be reached fails alone, a list cut short changes nothing, and the summary names each
// with its reason.
TEST_F(NovelWorkersTest, AnUpdateCheckFetchesNewChaptersAndASiteThatIsDownFailsAlone) {
    open(gbkInfo(2), QStringLiteral("书海阁"));
    open(gbkInfo(3), QStringLiteral("书海阁"));
    site->setChapterCount(QStringLiteral("gbk"), 3, 4); // 4 of 20 stored: not to be trusted
    const SiteRule utf8 = findRuleBySiteName(loadSiteRules(), QStringLiteral("云中书库"));
    open(parseInfoPage(site->baseUrl() + QStringLiteral("/utf8/book/3/"), utf8),
         QStringLiteral("云中书库"));
    const int32_t down = recentReadId(QStringLiteral("云中书库"), QStringLiteral("大道朝天"));
    setDirectoryPageUrl(down, QStringLiteral("http://127.0.0.1:1/utf8/book/3/index.html"));
    site->setChapterCount(QStringLiteral("gbk"), 2, 9);

    surface = std::make_shared<test::FakeSurface>();
    LibraryUpdateWorker check(surface, Worker::Ownership::Held);
    check.join();
    site->setChapterCount(QStringLiteral("gbk"), 2, 7);
    site->setChapterCount(QStringLiteral("gbk"), 3, 20);
    const QList<NovelUpdate> results = check.results();
    ASSERT_EQ(results.size(), 3);
    for (const NovelUpdate& update : results) {
        const bool grown = update.novelName == QStringLiteral("修仙归来");
        EXPECT_EQ(update.added, grown ? 2 : 0) << update.novelName.toStdString();
        EXPECT_EQ(update.failure, grown ? QString()
                                  : update.novelName == QStringLiteral("剑来")
                                      ? QStringLiteral("目录过短")
                                      : QStringLiteral("无法读取"))
            << update.novelName.toStdString();
        EXPECT_FALSE(update.error);
    }
    const int32_t grown = recentReadId(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    EXPECT_EQ(chapterCount(grown), 9);
    EXPECT_TRUE(chaptersToDownload(grown, 9).isEmpty());
    EXPECT_EQ(chapterCount(down), 9);
    EXPECT_EQ(surface->lastStatus(),
              QStringLiteral("检查更新完成：1 本小说有更新，共 2 个新章节，1 "
                             "本小说的目标站无法读取：《大道朝天》，1 本小说的目标站目录不足"
                             "已存章节的一半（目录未更新）：《剑来》。"));
    EXPECT_EQ(chapterCount(recentReadId(QStringLiteral("书海阁"), QStringLiteral("剑来"))), 20);
    EXPECT_EQ(surface->progress().back(), (std::array<int, 3>{0, 0, 0}));
}

// A site whose chapter pages hang is given up after a few unanswered requests: the rest of its
// chapters, of every novel of the check, are not asked for and wait for the next opening.
TEST_F(NovelWorkersTest, AnUpdateCheckGivesUpOnASiteThatStopsAnswering) {
    site->setAnswers(QStringLiteral("hang"), {{"<div id=\"content\">x</div>", 200, {}, 2000, {}}});
    for (const int novel : {2, 3}) {
        open(gbkInfo(novel), QStringLiteral("书海阁"));
        const int32_t id = recentReadId(QStringLiteral("书海阁"), gbkInfo(novel).name);
        QByteArray list = "<div id=\"list\">";
        for (const QString& url : loadChapterList(id).urls)
            list += "<dd><a href=\"" + url.toUtf8() + "\">c</a></dd>";
        for (int c = 0; c < 10; ++c)
            list += "<dd><a href=\"" + site->pageUrl(QStringLiteral("hang")).toUtf8() +
                    "?n=" + QByteArray::number(novel * 100 + c) + "\">新</a></dd>";
        const QString page = QStringLiteral("list-%1").arg(novel);
        site->setAnswers(page, {{list + "</div>", 200, {}, 0, {}}});
        setDirectoryPageUrl(id, site->pageUrl(page));
    }
    http_set_timeouts(10000, 300, 60000);
    surface = std::make_shared<test::FakeSurface>();
    LibraryUpdateWorker check(surface, Worker::Ownership::Held);
    check.join();
    http_set_timeouts(10000, 30000, 60000);
    // Without giving up: three tries of each of the 20 chapters.
    EXPECT_LE(site->pageRequests(QStringLiteral("hang")), 20);
    for (const NovelUpdate& update : check.results()) {
        EXPECT_EQ(update.added, 10) << update.novelName.toStdString();
        EXPECT_EQ(update.notStored, 10) << update.novelName.toStdString();
        EXPECT_TRUE(update.deferred) << update.novelName.toStdString();
    }
    // Left missing, not stored as failed: the next opening fetches them.
    EXPECT_EQ(value(QStringLiteral("select count(*) from novel_chapter where is_download=0")), 0);
    EXPECT_TRUE(surface->lastStatus().contains(QStringLiteral("多次没有应答")))
        << surface->lastStatus().toStdString();
}

// Each check remembers the list page it found unchanged; what it remembers must never hide a
// change: a grown list, or stored rows that went missing since.
TEST_F(NovelWorkersTest, RepeatedChecksSeeEveryChangeOfTheList) {
    open(gbkInfo(2), QStringLiteral("书海阁"));
    const int32_t id = recentReadId(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    const struct {
        const char* change;
        std::function<void()> make;
        int added;
        int stored;
    } steps[] = {
        {"first check", [] {}, 0, 7},
        {"nothing changed", [] {}, 0, 7},
        {"the site grew", [&] { site->setChapterCount(QStringLiteral("gbk"), 2, 9); }, 2, 9},
        {"a stored row went missing",
         [&] {
             SqliteDatabase db(novelDatabasePath());
             db.exec(QStringLiteral("delete from novel_directory where novel_id=%1 and "
                                    "chapter_index=8")
                         .arg(id));
         },
         1, 9},
    };
    for (const auto& step : steps) {
        step.make();
        LibraryUpdateWorker check(std::make_shared<test::FakeSurface>(), Worker::Ownership::Held);
        check.join();
        ASSERT_EQ(check.results().size(), 1);
        EXPECT_EQ(check.results()[0].added, step.added) << step.change;
        EXPECT_EQ(chapterCount(id), step.stored) << step.change;
    }
    site->setChapterCount(QStringLiteral("gbk"), 2, 7);
}

// 删除 while the novel's chapters come down: the download stops first, then nothing of the novel
// is left (rows, folder), and the other novel is untouched.
TEST_F(NovelWorkersTest, RemovingANovelWhileItDownloadsLeavesNothingOfIt) {
    open(gbkInfo(2), QStringLiteral("书海阁"));
    const int32_t kept = recentReadId(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    const QString keptFolder = bookFolder(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    auto counts = [](int32_t id) {
        return value(QStringLiteral("select (select count(*) from novel_directory where "
                                    "novel_id=%1)+(select count(*) from novel_chapter where "
                                    "novel_id=%1)+(select count(*) from novel_source where "
                                    "novel_id=%1)+(select count(*) from reading_progress where "
                                    "novel_id=%1)")
                         .arg(id));
    };
    const int64_t keptRows = counts(kept);

    site->holdChapter(1, 6);
    auto worker = std::make_unique<OpenNovelWorker>(gbkInfo(1), QStringLiteral("书海阁"), surface,
                                                    false, Worker::Ownership::Held);
    while (!site->isHeld())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int32_t removedId = recentReadId(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传"));
    bool removed = false;
    std::thread remover(
        [&] { removed = removeNovel(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传")); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    site->releaseHeld();
    remover.join();
    worker->join();

    EXPECT_TRUE(removed);
    EXPECT_EQ(recentReadId(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传")), -1);
    EXPECT_EQ(counts(removedId), 0);
    EXPECT_FALSE(
        QFileInfo::exists(bookFolder(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传"))));
    EXPECT_EQ(counts(kept), keptRows);
    EXPECT_TRUE(QFileInfo::exists(keptFolder + QStringLiteral("directory_page.htm")));
    EXPECT_FALSE(removeNovel(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传")));
}

} // namespace
