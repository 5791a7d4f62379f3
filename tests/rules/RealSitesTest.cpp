// The shipped rules (data/site_rules.sql) against the saved pages of real sites, served by the
// local test web server at the paths their own links use.
#include "TestSite.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "support/TempAppFolder.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace zvrd;

namespace {

// The text with scripts, tags, entities and all white space removed, as the page facts count it.
QString Bare(QString html) {
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
        const QString dir = testsite::DefaultRealSitesDir();
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
        ASSERT_TRUE(ImportRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/site_rules.sql")));
        rules = LoadRuleInfoList();
    }

    TRuleInfo Rule(const char* name) const {
        const TRuleInfo rule = FindRuleBySiteName(rules, QString::fromUtf8(name));
        EXPECT_FALSE(rule.strId.isEmpty()) << name;
        return rule;
    }

    static QString Url(const char* host, const char* path) {
        return site->RealSiteUrl(QLatin1String(host)) + QLatin1String(path);
    }

    // Info fields, chapter count, first and last chapter, and the chapter page at link `link`.
    void CheckSite(const char* ruleName, const char* host, const char* listPath, const char* name,
                   const char* author, const char* latest, int count, int link = 0,
                   const char* chapterPath = nullptr, const char* starts = nullptr) {
        const TRuleInfo rule = Rule(ruleName);
        const TInfoPageData info = ParseInfoPage(Url(host, listPath), rule);
        EXPECT_TRUE(info.isMatch) << ruleName;
        EXPECT_EQ(info.strNovelName, QString::fromUtf8(name));
        EXPECT_EQ(info.strNovelAuthor, QString::fromUtf8(author));
        EXPECT_EQ(info.strLatestChapter, QString::fromUtf8(latest));
        const TDirectoryPageData dir = ParseDirectoryPage(info.strDirectoryPageUrl, rule);
        EXPECT_EQ(dir.Num, count) << ruleName;
        ASSERT_EQ(dir.slChapterUrlList.size(), count);
        if (!chapterPath)
            return;
        const QString chapterUrl = dir.slChapterUrlList[link - 1];
        EXPECT_TRUE(chapterUrl.endsWith(QString::fromUtf8(chapterPath)))
            << chapterUrl.toStdString();
        const QString text = ParseChapterContent(rule, Url(host, chapterPath));
        EXPECT_TRUE(Bare(text).startsWith(QString::fromUtf8(starts)))
            << ruleName << ": " << Bare(text).left(40).toStdString();
        EXPECT_TRUE(GetImageUrls(text).isEmpty());
    }

    static testsite::TestSite* site;
    test::TempAppFolder folder;
    TRuleInfoList rules;
};
testsite::TestSite* RealSitesTest::site = nullptr;

TEST_F(RealSitesTest, BiqugeComTw) {
    CheckSite("笔趣阁", "biquge.com.tw", "/17_17275/", "主神崛起", "文抄公", "第八百二十章 波及",
              821, 4, "/17_17275/7633258.html", "“主神殿开启！请轮回者做好准备！”机械、");
    const TDirectoryPageData dir =
        ParseDirectoryPage(Url("biquge.com.tw", "/17_17275/"), Rule("笔趣阁"));
    EXPECT_EQ(dir.slChapterNameList.first(),
              QStringLiteral("第一章 穿越（新书求支持，求推荐！求收藏！）"));
    EXPECT_EQ(dir.slChapterUrlList.first(), Url("biquge.com.tw", "/17_17275/7633255.html"));
}

TEST_F(RealSitesTest, NineNineNineWx) {
    CheckSite("999文学", "999wx.com", "/Html/Book/29/29041/Index.shtml", "沧浪之水", "阎真",
              "92、悬浮一族", 93);
    const QString text = ParseChapterContent(
        Rule("999文学"), Url("999wx.com", "/Html/Book/32/32372/11226626.shtml"));
    EXPECT_TRUE(Bare(text).startsWith(QStringLiteral("正午，一棵香樟树孤零零地站在蜿蜒的小路旁")));
    // The copy protection's quotes around single characters are gone.
    EXPECT_TRUE(text.contains(QStringLiteral("胡义把背上的步枪转到胸前")));
    EXPECT_FALSE(text.contains(QStringLiteral("‘")));
}

TEST_F(RealSitesTest, BiqugeInfo) {
    CheckSite("笔趣阁info", "biquge.info", "/74_74132/", "我师兄实在太稳健了", "言归正传",
              "【阅后迟焚】请假一天", 687, 1, "/74_74132/14482860.html",
              "噹——噹——悠扬的钟声在云间来回飘荡，作");
    // What the site sometimes answers instead of the list: nothing, and no crash.
    const TRuleInfo rule = Rule("笔趣阁info");
    EXPECT_EQ(ParseDirectoryPage(Url("biquge.info", "/antibot/74_74132/"), rule).Num, 0);
    EXPECT_FALSE(ParseInfoPage(Url("biquge.info", "/antibot/74_74132/"), rule).isMatch);
}

TEST_F(RealSitesTest, SilukeTw) {
    CheckSite("思路客", "siluke.tw", "/ny10354/", "全职高手", "蝴蝶蓝", "最后一次上传,完本感言。",
              1781, 6, "/ny10354/6071439.html", "“卡卡卡，嗒嗒……”");
}

TEST_F(RealSitesTest, ShuqugeSkipsTheRepeatedLatestLinks) {
    CheckSite("书趣阁", "shuquge.com", "/txt/30668/index.html", "修真聊天群", "圣骑士的传说(书坊)",
              "第1817章 只是两朵相似的花", 1866);
    const TDirectoryPageData dir =
        ParseDirectoryPage(Url("shuquge.com", "/txt/30668/index.html"), Rule("书趣阁"));
    EXPECT_EQ(dir.slChapterNameList.first(), QStringLiteral("本书第一个书友群。"));
}

TEST_F(RealSitesTest, QidianProtocolRelativeLinks) {
    CheckSite("起点中文网", "qidian.com", "/info/1009704712", "牧神记", "宅猪", "第十三章 敲死",
              14);
    const TDirectoryPageData dir =
        ParseDirectoryPage(Url("qidian.com", "/info/1009704712"), Rule("起点中文网"));
    EXPECT_EQ(
        dir.slChapterUrlList[2],
        QStringLiteral(
            "http://read.qidian.com/chapter/rCo0cx0UxW08kjk6dUsm_A2/8yNI9L7ye4tMs5iq0oQwLQ2"));
    const QString text = ParseChapterContent(
        Rule("起点中文网"),
        Url("qidian.com", "/chapter/rCo0cx0UxW08kjk6dUsm_A2/8yNI9L7ye4tMs5iq0oQwLQ2"));
    EXPECT_TRUE(Bare(text).startsWith(QStringLiteral("司婆婆拉着他兴冲冲的往村里走，笑道：“别")));
}

TEST_F(RealSitesTest, XbiqugeSearchPage) {
    const TSearchPageData data =
        ParseSearchPage(Url("m.xbiquge.tw", "/modules/article/search.php?searchkey=%B7%B2%C8%CB"),
                        Rule("笔趣阁手机版"));
    ASSERT_EQ(data.Num, 14);
    EXPECT_EQ(data.slNovelNameList[0], QStringLiteral("掌门师叔不可能是凡人"));
    EXPECT_EQ(data.slNovelAuthorList[0], QStringLiteral("混沌冬瓜精"));
    EXPECT_EQ(data.slNovelInfoPageUrlList[0], QStringLiteral("https://m.xbiquge.tw/book/55681/"));
    for (const QString& url : data.slNovelInfoPageUrlList)
        EXPECT_TRUE(url.startsWith(QStringLiteral("https://m.xbiquge.tw/book/")))
            << url.toStdString();
}

} // namespace
