// The bulk download against sites that push back: refusals are deferred and fetched again,
// failed only past the patience; a site's own ceiling holds after a restart and for every job
// of the site together.
#include "TestSite.h"
#include "net/SiteLimiter.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/DemoSitesSuite.h"
#include "support/FakeSurface.h"
#include "support/TempDataFolder.h"
#include "workers/ChapterWorker.h"
#include "workers/OpenNovelWorker.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace zvrd;
using namespace std::chrono_literals;

namespace {

class PolitenessTest : public test::DemoSitesSuite {
protected:
    void SetUp() override {
        DemoSitesSuite::SetUp();
        rule = findRuleBySiteName(loadSiteRules(), QStringLiteral("书海阁"));
    }
    void TearDown() override {
        site->setRateLimit(0, 0);
        site->setUnavailable(0);
        site->setLatencyMs(0);
        setRefusalPatience(SiteLimiter::kMaxPause);
    }

    NovelInfo info(int id) const {
        return parseInfoPage(site->baseUrl() + QStringLiteral("/gbk/book/%1/").arg(id), rule);
    }
    static std::unique_ptr<OpenNovelWorker> open(const NovelInfo& novel,
                                                 std::shared_ptr<test::FakeSurface> surface) {
        return std::make_unique<OpenNovelWorker>(
            novel, QStringLiteral("书海阁"), std::move(surface), false, Worker::Ownership::Held);
    }
    static int64_t count(const QString& sql) {
        SqliteDatabase db(novelDatabasePath());
        return db.integerValue(sql);
    }

    test::TempDataFolder folder;
    SiteRule rule;
    std::shared_ptr<test::FakeSurface> surface = std::make_shared<test::FakeSurface>();
};

// A site that counts its readers' requests answers 429 with Retry-After: the download waits as
// asked and stores every chapter, nothing stored as failed on the way. A wait of seconds is
// named in the status and beside the progress.
TEST_F(PolitenessTest, ARateLimitedSiteMakesTheDownloadWaitNotFail) {
    const struct {
        int novel;
        double perSecond; // a Retry-After of 1 s at 10/s, of 2 s at 0.5/s
        int chapters;
        bool waitNamed;
    } cases[] = {{1, 10, 45, false}, {2, 0.5, 7, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.novel);
        const NovelInfo novel = info(c.novel);
        const int refusedBefore = site->refusedCount();
        site->setRateLimit(c.perSecond, 2);
        const auto worker = open(novel, surface);
        worker->join();
        site->setRateLimit(0, 0);
        EXPECT_EQ(worker->chaptersNotStored(), 0);
        EXPECT_GT(site->refusedCount(), refusedBefore);
        EXPECT_EQ(count(QStringLiteral("select count(*) from novel_chapter where novel_id=%1 and "
                                       "is_download=1")
                            .arg(recentReadId(rule.siteName, novel.name))),
                  c.chapters);
        EXPECT_EQ(surface->lastStatus(), QStringLiteral("所有章节已下载完成"));
        if (!c.waitNamed)
            continue;
        EXPECT_FALSE(surface->statuses().filter(QStringLiteral("目标站要求等待")).isEmpty());
        EXPECT_FALSE(surface->events().filter(QStringLiteral("note:等待")).isEmpty());
    }
}

// 503s for a while: the refused chapters come again later and are stored. A site that keeps
// refusing past the patience gets its chapters stored as failed, and the status says why.
TEST_F(PolitenessTest, RefusedChaptersComeAgainAndFailOnlyPastThePatience) {
    setSiteSpeed(rule, 20, 10, false); // no adapting: the test is about the chapters
    const struct {
        int refusals;
        std::chrono::milliseconds patience;
        int notStored;
    } cases[] = {{5, SiteLimiter::kMaxPause, 0}, {1000, 0ms, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusals);
        const NovelInfo novel = info(2);
        open(novel, surface)->join(); // stored whole, then its chapters taken away
        const int32_t id = recentReadId(rule.siteName, novel.name);
        SqliteDatabase(novelDatabasePath())
            .exec(QStringLiteral("delete from novel_chapter where novel_id=?1"), {id});
        setRefusalPatience(c.patience);
        site->setUnavailable(c.refusals);
        const auto worker = open(novel, surface);
        worker->join();
        site->setUnavailable(0);
        EXPECT_EQ(worker->chaptersNotStored(), c.notStored);
        EXPECT_EQ(count(QStringLiteral("select count(*) from novel_chapter where novel_id=%1 and "
                                       "is_download=0")
                            .arg(id)),
                  c.notStored);
        EXPECT_EQ(surface->lastStatus(), c.notStored == 0 ? QStringLiteral("所有章节已下载完成")
                                                          : siteKeptRefusingText(0, c.notStored));
    }
}

// A page that answers 200 with no chapter while the site's other pages held chapters is a
// refusal in disguise: left for later and the site slowed down; on the last try it fails.
TEST_F(PolitenessTest, AnEmptyPageAmongGoodOnesCountsAsPushback) {
    const NovelInfo novel = info(2);
    open(novel, surface)->join();
    const int32_t id = recentReadId(rule.siteName, novel.name);
    site->setPage(QStringLiteral("banned"), "<html><body>\xe8\xae\xbf\xe9\x97\xae\xe8\xbf\x87\xe5"
                                            "\xbf\xab</body></html>");
    const QString page = site->pageUrl(QStringLiteral("banned"));
    const auto limiter = SiteLimiter::of(page);
    for (const bool mayDefer : {true, false}) {
        SqliteDatabase(novelDatabasePath())
            .exec(QStringLiteral("delete from novel_chapter where novel_id=?1 and chapter_id=0"),
                  {id});
        auto answers = std::make_shared<SiteAnswers>();
        answers->noteMatched();
        const int before = limiter->inFlightLimit();
        ChapterWorker worker(rule.id.toInt(), id, 0, bookFolder(rule.siteName, novel.name),
                             novel.name, QStringLiteral("第一章"), page, false, surface,
                             Worker::Ownership::Held, {}, answers, Deferral{true, mayDefer});
        worker.join();
        EXPECT_EQ(worker.outcome(), mayDefer ? ChapterOutcome::Unmatched : ChapterOutcome::Failed);
        EXPECT_EQ(limiter->inFlightLimit(), mayDefer ? before / 2 : before);
        // Nothing stored while it may come again; a failed row after the last try.
        EXPECT_EQ(count(QStringLiteral("select count(*) from novel_chapter where novel_id=%1 and "
                                       "chapter_id=0 and is_download=0")
                            .arg(id)),
                  mayDefer ? 0 : 1);
    }
}

// The reader's own ceiling is read again by a new program (here: limiters started afresh) and
// holds for two novels of the site downloading at once.
TEST_F(PolitenessTest, ASitesOwnCeilingHoldsAfterARestartForEveryJobTogether) {
    const NovelInfo first = info(3);
    const NovelInfo second = info(1);
    setSiteSpeed(rule, 2, 20, true);
    SiteLimiter::resetAll();
    site->setLatencyMs(30);
    site->resetMostAtOnce();
    {
        const auto a = open(first, surface);
        const auto b = open(second, std::make_shared<test::FakeSurface>());
        a->join();
        b->join();
        EXPECT_EQ(a->chaptersNotStored() + b->chaptersNotStored(), 0);
    }
    EXPECT_LE(site->mostAtOnce(), 2);
    EXPECT_GE(site->mostAtOnce(), 1);
    EXPECT_EQ(SiteLimiter::of(first.infoPageUrl)->ceiling().inFlight, 2);
}

} // namespace
