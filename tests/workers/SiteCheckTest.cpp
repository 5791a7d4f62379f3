// The health check against a small site made of the test server's own pages: each way a site or
// a rule breaks told apart, and the results kept and compared across checks and restarts.
#include "workers/SiteCheck.h"
#include "TestSite.h"
#include "rules/RuleSet.h"
#include "store/Schema.h"
#include "support/TempDataFolder.h"
#include "support/TestSiteSuite.h"

#include <QUrl>
#include <gtest/gtest.h>

#include <functional>

using namespace zvrd;

namespace {

const QByteArray kChapterText =
    QStringLiteral("　　山风吹过，少年站在村口，望着远处的群山，心中默默记下了师父临走时说的每一"
                   "句话，直到天色渐暗，才转身回家。")
        .toUtf8();

class SiteCheckTest : public test::TestSiteSuite {
protected:
    void SetUp() override {
        prepareLibrary();
        serveHealthySite();
        rule.id = QStringLiteral("1");
        rule.siteName = QStringLiteral("测试站");
        rule.siteUrl = site->baseUrl() + QStringLiteral("/custom/");
        rule.charset = QStringLiteral("utf-8");
        rule.searchUrlFormat =
            site->pageUrl(QStringLiteral("c-search")) + QStringLiteral("?q={KEY}");
        rule.searchResultRegion = QStringLiteral("<ul class=\"r\">(.+?)</ul>");
        rule.searchNovelName = QStringLiteral("<b>(.+?)</b>");
        rule.searchNovelAuthor = QStringLiteral("<i>(.+?)</i>");
        rule.searchLatestChapter = QStringLiteral("<em>(.+?)</em>");
        rule.searchInfoPageUrl = QStringLiteral("<a href=\"(.+?)\">");
        rule.infoNovelName = QStringLiteral("<h1>(.+?)</h1>");
        rule.infoNovelAuthor = QStringLiteral("<p class=\"a\">(.+?)</p>");
        rule.infoLatestChapter = QStringLiteral("<p class=\"l\">(.+?)</p>");
        rule.infoDirectoryPageUrl = QStringLiteral("<a class=\"d\" href=\"(.+?)\">");
        rule.directoryRegion = QStringLiteral("<div id=\"list\">(.+?)</div>");
        rule.directoryChapterNameAndUrl = QStringLiteral("<dd><a href=\"(.+?)\">(.+?)</a></dd>");
        rule.chapterContent = QStringLiteral("<div id=\"content\">(.+?)</div>");
    }

    static void page(const char* name, const QByteArray& body, int status = 200,
                     const QString& location = QString()) {
        site->setPage(QLatin1String(name), body, status, location);
    }
    static void serveHealthySite(const char* latest = "第2章 终") {
        page("c-search", "<ul class=\"r\"><li><b>测试之书</b><i>某人</i><em>第2章 终</em>"
                         "<a href=\"c-info\">进入</a></li></ul>");
        page("c-info", QByteArray("<h1>测试之书</h1><p class=\"a\">某人</p><p class=\"l\">") +
                           latest + "</p><a class=\"d\" href=\"c-list\">目录</a>");
        page("c-list", "<div id=\"list\"><dd><a href=\"c-1\">第1章 始</a></dd>"
                       "<dd><a href=\"c-2\">第2章 终</a></dd></div>");
        page("c-1", "<div id=\"content\">" + kChapterText + "</div>");
        page("c-2", "<div id=\"content\">" + kChapterText + "</div>");
    }

    test::TempDataFolder folder;
    SiteRule rule;
};

struct Breakage {
    const char* what;
    std::function<void(SiteRule&)> breakIt;
    CheckStep step;
    CheckOutcome outcome;
    const char* status;
};

// Each way a site fails is named at its step, with the status the dialog shows.
TEST_F(SiteCheckTest, EachFailureIsToldApart) {
    const std::vector<Breakage> cases = {
        {"healthy", [](SiteRule&) {}, CheckStep::LastChapter, CheckOutcome::Ok, "正常"},
        {"down",
         [](SiteRule& r) { r.searchUrlFormat = QStringLiteral("http://127.0.0.1:1/s?q={KEY}"); },
         CheckStep::Search, CheckOutcome::NoAnswer, "无法连接"},
        {"404", [](SiteRule&) { page("c-search", "<p>没有这个页面</p>", 404); }, CheckStep::Search,
         CheckOutcome::HttpStatus, "搜索失效"},
        {"redirected elsewhere",
         [](SiteRule&) {
             page("c-parked", "<p>此域名出售</p>");
             page("c-info", "", 302,
                  QStringLiteral("http://localhost:%1/custom/c-parked").arg(site->port()));
         },
         CheckStep::Info, CheckOutcome::Elsewhere, "信息页失效"},
        {"anti-bot page",
         [](SiteRule&) {
             page("c-list", "<html><body><script>window.location=\"/c-list?k=1\";</script>"
                            "<a href=\"/c-list?k=1\">如果您的页面没有自动跳转，请点击这里</a>"
                            "</body></html>");
         },
         CheckStep::Directory, CheckOutcome::AntiBot, "人机验证"},
        {"captcha with 403",
         [](SiteRule&) {
             page("c-info", "<form id=\"challenge-form\"><div class=\"captcha\"></div></form>",
                  403);
         },
         CheckStep::Info, CheckOutcome::AntiBot, "人机验证"},
        {"short list", [](SiteRule&) { serveHealthySite("第一百章 终"); }, CheckStep::Directory,
         CheckOutcome::ShortList, "目录失效"},
        {"empty chapter",
         [](SiteRule&) { page("c-2", "<div id=\"content\">&nbsp;本章缺失&nbsp;</div>"); },
         CheckStep::LastChapter, CheckOutcome::ShortText, "正文失效"},
        {"broken pattern",
         [](SiteRule& r) { r.directoryChapterNameAndUrl = QStringLiteral("<dd>(.+?"); },
         CheckStep::Directory, CheckOutcome::RuleError, "目录失效"},
    };
    for (const Breakage& c : cases) {
        SCOPED_TRACE(c.what);
        serveHealthySite();
        SiteRule broken = rule;
        c.breakIt(broken);
        const SiteCheckResult result = checkSite(broken);
        ASSERT_EQ(result.steps.size(), kCheckStepCount);
        const CheckStepResult& step = result.steps[static_cast<int>(c.step)];
        EXPECT_EQ(step.outcome, c.outcome) << step.reason.toStdString();
        EXPECT_EQ(result.status(), QString::fromUtf8(c.status));
        // The chain stops at a step that gives nothing to go on; a short list still has
        // chapters to read.
        const CheckOutcome after =
            c.outcome == CheckOutcome::ShortList ? CheckOutcome::Ok : CheckOutcome::Skipped;
        for (int i = static_cast<int>(c.step) + 1; i < kCheckStepCount; ++i)
            EXPECT_EQ(result.steps[i].outcome, after);
        EXPECT_EQ(result.ok(), c.outcome == CheckOutcome::Ok);
    }
}

// Each pattern field broken in turn is named, at the step it belongs to.
TEST_F(SiteCheckTest, TheFieldThatStoppedMatchingIsNamed) {
    const QString nothing = QStringLiteral("<nothing>(.+?)</nothing>");
    const std::vector<std::tuple<QString SiteRule::*, const char*, CheckStep>> fields = {
        {&SiteRule::searchResultRegion, "search_page_result_regional", CheckStep::Search},
        {&SiteRule::searchNovelName, "search_page_novel_name", CheckStep::Search},
        {&SiteRule::searchNovelAuthor, "search_page_novel_author", CheckStep::Search},
        {&SiteRule::searchLatestChapter, "search_page_latest_chapter", CheckStep::Search},
        {&SiteRule::searchInfoPageUrl, "search_page_info_page_url", CheckStep::Search},
        {&SiteRule::infoNovelName, "info_page_novel_name", CheckStep::Info},
        {&SiteRule::infoNovelAuthor, "info_page_novel_author", CheckStep::Info},
        {&SiteRule::infoLatestChapter, "info_page_latest_chapter", CheckStep::Info},
        {&SiteRule::infoDirectoryPageUrl, "info_page_directory_page_url", CheckStep::Info},
        {&SiteRule::directoryRegion, "directory_page_regional", CheckStep::Directory},
        {&SiteRule::directoryChapterNameAndUrl, "directory_page_chapter_name_and_url",
         CheckStep::Directory},
        {&SiteRule::chapterContent, "chapter_page_chapter_content", CheckStep::FirstChapter},
    };
    for (const auto& [member, column, step] : fields) {
        SCOPED_TRACE(column);
        SiteRule broken = rule;
        broken.*member = nothing;
        const CheckStepResult result = checkSite(broken).steps[static_cast<int>(step)];
        EXPECT_EQ(result.outcome, CheckOutcome::Unmatched);
        EXPECT_EQ(result.field, QLatin1String(column));
    }
}

// A step that was ok and fails now says since when; a site that recovers is ok again; the last
// results are read back after a restart, and never given to another site at the same id.
TEST_F(SiteCheckTest, ResultsAreKeptAndCompared) {
    ASSERT_TRUE(checkSite(rule).ok());
    SiteRule broken = rule;
    broken.infoNovelAuthor = QStringLiteral("<p class=\"author\">(.+?)</p>");
    const SiteCheckResult failed = checkSite(broken);
    const CheckStepResult& info = failed.steps[static_cast<int>(CheckStep::Info)];
    EXPECT_GT(info.lastOkAt, 0);
    EXPECT_TRUE(stepReasonText(info).contains(QStringLiteral("上次正常")))
        << info.reason.toStdString();
    EXPECT_TRUE(failed.reason().contains(QStringLiteral("info_page_novel_author")));

    const QHash<QString, SiteCheckResult> kept = lastChecks({rule});
    ASSERT_TRUE(kept.contains(rule.id));
    EXPECT_EQ(kept[rule.id].status(), QStringLiteral("信息页失效"));
    EXPECT_EQ(kept[rule.id].reason(), failed.reason());
    SiteRule other = rule;
    other.siteUrl = QStringLiteral("http://another.example/");
    EXPECT_TRUE(lastChecks({other}).isEmpty());

    const SiteCheckResult recovered = checkSite(rule);
    EXPECT_TRUE(recovered.ok());
    EXPECT_EQ(lastChecks({rule})[rule.id].status(), QStringLiteral("正常"));
}

// Sites checked side by side each hand their result over once, and come back in the rules' order.
TEST_F(SiteCheckTest, SitesAreCheckedSideBySide) {
    SiteRuleList rules;
    for (int i = 1; i <= 4; ++i) {
        SiteRule copy = rule;
        copy.id = QString::number(i);
        copy.siteName = QStringLiteral("站%1").arg(i);
        rules.append(copy);
    }
    QStringList done;
    const QList<SiteCheckResult> results =
        checkSites(rules, QString(), false,
                   [&done](const SiteCheckResult& result) { done.append(result.siteName); });
    ASSERT_EQ(results.size(), 4);
    EXPECT_EQ(done.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(results[i].siteName, rules[i].siteName);
        EXPECT_TRUE(results[i].ok()) << results[i].reason().toStdString();
    }
}

// The shipped rules checked against the saved pages of real sites, served where their links
// point: every step whose page was saved is ok, and the anti-bot answer is told as such.
class RealSiteCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testsite::Options options;
        options.realSitesDir = testsite::defaultRealSitesDir();
        if (!options.realSitesDir.isEmpty())
            site = std::make_unique<testsite::TestSite>(options);
    }
    static void TearDownTestSuite() { site.reset(); }
    void SetUp() override {
        if (!site)
            GTEST_SKIP() << "../shared/realsites is absent";
        prepareLibrary();
        ASSERT_TRUE(importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/site_rules.sql")));
    }
    // The rule as shipped, its check starting from the saved page on the local server.
    static SiteRule local(const char* name, const char* host) {
        SiteRule rule = findRuleBySiteName(loadSiteRules(), QString::fromUtf8(name));
        const QString here = site->realSiteUrl(QLatin1String(host));
        const QUrl shipped(rule.checkInfoPageUrl.isEmpty() ? rule.searchUrlFormat
                                                           : rule.checkInfoPageUrl);
        const QString origin = shipped.scheme() + QStringLiteral("://") + shipped.host();
        rule.checkInfoPageUrl.replace(origin, here);
        rule.searchUrlFormat.replace(origin, here);
        return rule;
    }
    static inline std::unique_ptr<testsite::TestSite> site;
    test::TempDataFolder folder;
};

TEST_F(RealSiteCheckTest, SavedPagesCheckOk) {
    // The steps a site's saved pages cover: its chapters are saved beside its list, or not.
    const std::vector<std::tuple<const char*, const char*, CheckStep>> sites = {
        {"笔趣阁", "biquge.com.tw", CheckStep::LastChapter},
        {"笔趣阁info", "biquge.info", CheckStep::LastChapter},
        {"思路客", "siluke.tw", CheckStep::LastChapter},
        {"999文学", "999wx.com", CheckStep::Directory},
        {"书趣阁", "shuquge.com", CheckStep::Directory},
        {"起点中文网", "qidian.com", CheckStep::Directory},
        {"笔趣阁手机版", "m.xbiquge.tw", CheckStep::Search},
    };
    for (const auto& [name, host, last] : sites) {
        SCOPED_TRACE(name);
        const SiteCheckResult result = checkSite(local(name, host));
        for (int i = 0; i <= static_cast<int>(last); ++i)
            EXPECT_TRUE(result.steps[i].ok()) << result.steps[i].reason.toStdString();
    }
    SiteRule antiBot = local("笔趣阁info", "biquge.info");
    antiBot.checkInfoPageUrl.replace(QStringLiteral("/74_74132/"),
                                     QStringLiteral("/antibot/74_74132/"));
    const SiteCheckResult answered = checkSite(antiBot);
    EXPECT_EQ(answered.steps[static_cast<int>(CheckStep::Info)].outcome, CheckOutcome::AntiBot);
    EXPECT_EQ(answered.status(), QStringLiteral("人机验证"));
}
} // namespace
