// The shipped rules (data/site_rules.sql) against the saved pages of real sites, served by the
// local test web server at the paths their own links use.
#include "TestSite.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "support/TempDataFolder.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace zvrd;

namespace {

// The text with scripts, tags, entities and all white space removed, as the page facts count it.
QString bare(QString html) {
    html.remove(QRegularExpression(QStringLiteral("<script.*?</script>"),
                                   QRegularExpression::DotMatchesEverythingOption));
    html.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    html.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    html.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    html.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    html.remove(QRegularExpression(QStringLiteral("[\\s\\x{3000}\\x{00a0}]")));
    return html;
}

class RealSitesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QString dir = testsite::defaultRealSitesDir();
        if (dir.isEmpty())
            return;
        testsite::Options options;
        options.realSitesDir = dir;
        site = new testsite::TestSite(options);
    }
    static void TearDownTestSuite() {
        delete site;
        site = nullptr;
    }

    void SetUp() override {
        if (!site)
            GTEST_SKIP() << "../shared/realsites is absent: the saved real pages cannot be served";
        ASSERT_TRUE(importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/site_rules.sql")));
        rules = loadSiteRules();
    }

    SiteRule ruleNamed(const char* name) const {
        const SiteRule rule = findRuleBySiteName(rules, QString::fromUtf8(name));
        EXPECT_FALSE(rule.id.isEmpty()) << name;
        return rule;
    }

    static QString url(const char* host, const char* path) {
        return site->realSiteUrl(QLatin1String(host)) + QLatin1String(path);
    }

    // Info fields, chapter count, first and last chapter, and the chapter page at link `link`.
    void checkSite(const char* ruleName, const char* host, const char* listPath, const char* name,
                   const char* author, const char* latest, int count, int link = 0,
                   const char* chapterPath = nullptr, const char* starts = nullptr) {
        const SiteRule rule = ruleNamed(ruleName);
        const NovelInfo info = parseInfoPage(url(host, listPath), rule);
        EXPECT_TRUE(info.matched) << ruleName;
        EXPECT_EQ(info.name, QString::fromUtf8(name));
        EXPECT_EQ(info.author, QString::fromUtf8(author));
        EXPECT_EQ(info.latestChapter, QString::fromUtf8(latest));
        const ChapterList dir = parseDirectoryPage(info.directoryPageUrl, rule);
        EXPECT_EQ(dir.count, count) << ruleName;
        ASSERT_EQ(dir.urls.size(), count);
        if (!chapterPath)
            return;
        const QString chapterUrl = dir.urls[link - 1];
        EXPECT_TRUE(chapterUrl.endsWith(QString::fromUtf8(chapterPath)))
            << chapterUrl.toStdString();
        const QString text = parseChapterContent(rule, url(host, chapterPath));
        EXPECT_TRUE(bare(text).startsWith(QString::fromUtf8(starts)))
            << ruleName << ": " << bare(text).left(40).toStdString();
        EXPECT_TRUE(imageUrls(text).isEmpty());
    }

    static testsite::TestSite* site;
    test::TempDataFolder folder;
    SiteRuleList rules;
};
testsite::TestSite* RealSitesTest::site = nullptr;

TEST_F(RealSitesTest, BiqugeComTw) {
    checkSite("笔趣阁", "biquge.com.tw", "/17_17275/", "主神崛起", "文抄公", "第八百二十章 波及",
              821, 4, "/17_17275/7633258.html", "“主神殿开启！请轮回者做好准备！”机械、");
    const ChapterList dir =
        parseDirectoryPage(url("biquge.com.tw", "/17_17275/"), ruleNamed("笔趣阁"));
    EXPECT_EQ(dir.names.first(), QStringLiteral("第一章 穿越（新书求支持，求推荐！求收藏！）"));
    EXPECT_EQ(dir.urls.first(), url("biquge.com.tw", "/17_17275/7633255.html"));
}

TEST_F(RealSitesTest, NineNineNineWx) {
    checkSite("999文学", "999wx.com", "/Html/Book/29/29041/Index.shtml", "沧浪之水", "阎真",
              "92、悬浮一族", 93);
    const QString text = parseChapterContent(
        ruleNamed("999文学"), url("999wx.com", "/Html/Book/32/32372/11226626.shtml"));
    EXPECT_TRUE(bare(text).startsWith(QStringLiteral("正午，一棵香樟树孤零零地站在蜿蜒的小路旁")));
    // The copy protection's quotes around single characters are gone.
    EXPECT_TRUE(text.contains(QStringLiteral("胡义把背上的步枪转到胸前")));
    EXPECT_FALSE(text.contains(QStringLiteral("‘")));
}

TEST_F(RealSitesTest, BiqugeInfo) {
    checkSite("笔趣阁info", "biquge.info", "/74_74132/", "我师兄实在太稳健了", "言归正传",
              "【阅后迟焚】请假一天", 687, 1, "/74_74132/14482860.html",
              "噹——噹——悠扬的钟声在云间来回飘荡，作");
    // What the site sometimes answers instead of the list: nothing, and no crash.
    const SiteRule rule = ruleNamed("笔趣阁info");
    EXPECT_EQ(parseDirectoryPage(url("biquge.info", "/antibot/74_74132/"), rule).count, 0);
    EXPECT_FALSE(parseInfoPage(url("biquge.info", "/antibot/74_74132/"), rule).matched);
}

TEST_F(RealSitesTest, SilukeTw) {
    checkSite("思路客", "siluke.tw", "/ny10354/", "全职高手", "蝴蝶蓝", "最后一次上传,完本感言。",
              1781, 6, "/ny10354/6071439.html", "“卡卡卡，嗒嗒……”");
}

TEST_F(RealSitesTest, ShuqugeSkipsTheRepeatedLatestLinks) {
    checkSite("书趣阁", "shuquge.com", "/txt/30668/index.html", "修真聊天群", "圣骑士的传说(书坊)",
              "第1817章 只是两朵相似的花", 1866);
    const ChapterList dir =
        parseDirectoryPage(url("shuquge.com", "/txt/30668/index.html"), ruleNamed("书趣阁"));
    EXPECT_EQ(dir.names.first(), QStringLiteral("本书第一个书友群。"));
}

TEST_F(RealSitesTest, QidianProtocolRelativeLinks) {
    checkSite("起点中文网", "qidian.com", "/info/1009704712", "牧神记", "宅猪", "第十三章 敲死",
              14);
    const ChapterList dir =
        parseDirectoryPage(url("qidian.com", "/info/1009704712"), ruleNamed("起点中文网"));
    EXPECT_EQ(
        dir.urls[2],
        QStringLiteral(
            "http://read.qidian.com/chapter/rCo0cx0UxW08kjk6dUsm_A2/8yNI9L7ye4tMs5iq0oQwLQ2"));
    const QString text = parseChapterContent(
        ruleNamed("起点中文网"),
        url("qidian.com", "/chapter/rCo0cx0UxW08kjk6dUsm_A2/8yNI9L7ye4tMs5iq0oQwLQ2"));
    EXPECT_TRUE(bare(text).startsWith(QStringLiteral("司婆婆拉着他兴冲冲的往村里走，笑道：“别")));
}

TEST_F(RealSitesTest, XbiqugeSearchPage) {
    const SearchResults data =
        parseSearchPage(url("m.xbiquge.tw", "/modules/article/search.php?searchkey=%B7%B2%C8%CB"),
                        ruleNamed("笔趣阁手机版"));
    ASSERT_EQ(data.count, 14);
    EXPECT_EQ(data.names[0], QStringLiteral("掌门师叔不可能是凡人"));
    EXPECT_EQ(data.authors[0], QStringLiteral("混沌冬瓜精"));
    EXPECT_EQ(data.infoPageUrls[0], QStringLiteral("https://m.xbiquge.tw/book/55681/"));
    for (const QString& url : data.infoPageUrls)
        EXPECT_TRUE(url.startsWith(QStringLiteral("https://m.xbiquge.tw/book/")))
            << url.toStdString();
}

} // namespace
