// The four extractors against pages served by the local test web server.
#include "rules/Extractors.h"
#include "rules/PatternNotation.h"
#include "support/QtPrinters.h"
#include "support/TestSiteSuite.h"

#include <gtest/gtest.h>

using namespace zvrd;

namespace {

class ExtractorsTest : public test::TestSiteSuite {
protected:
    // Serves html under a fresh name and returns its address.
    static QString Serve(const QString& html, int status = 200) {
        const QString name = QStringLiteral("page%1.html").arg(++counter);
        site->SetPage(name, html.toUtf8(), status);
        return site->PageUrl(name);
    }

    static TRuleInfo SearchRule() {
        TRuleInfo r;
        r.strCharset = QStringLiteral("utf-8");
        r.strSearchPageResultRegional = QStringLiteral("<ul>(.+?)</ul>");
        r.strSearchPageNovelName = QStringLiteral("<b>(.+?)</b>");
        r.strSearchPageNovelAuthor = QStringLiteral("<i>(.+?)</i>");
        r.strSearchPageLatestChapter = QStringLiteral("<u>(.+?)</u>");
        r.strSearchPageInfoPageUrl = QStringLiteral("<a href=\"(.+?)\">");
        return r;
    }

    static TRuleInfo InfoRule() {
        TRuleInfo r;
        r.strInfoPageNovelName = QStringLiteral("<h1>(.+?)</h1>");
        r.strInfoPageNovelAuthor = QStringLiteral("<em>(.+?)</em>");
        r.strInfoPageLatestChapter = QStringLiteral("<u>(.+?)</u>");
        r.strInfoPageDirectoryPageUrl = QStringLiteral("<a id=\"d\" href=\"(.*?)\">");
        r.strInfoPageNovelSort = QStringLiteral("<h1>(.+?)</h1>");
        r.strInfoPageNovelState = QStringLiteral("<h1>(.+?)</h1>");
        r.strInfoPageNovelIntro = QStringLiteral("<h1>(.+?)</h1>");
        return r;
    }

    static TRuleInfo DirectoryRule(const QString& chapters) {
        TRuleInfo r;
        r.strDirectoryPageRegional = QStringLiteral("<div id=\"list\">(.+?)</div>");
        r.strDirectoryPageChapterNameAndUrl = chapters;
        return r;
    }

    static int counter;
};
int ExtractorsTest::counter = 0;

// ---- search pages --------------------------------------------------------------------------

TEST_F(ExtractorsTest, SearchPageListsEveryNovelTrimmedAndResolved) {
    const QString url = Serve(QStringLiteral(
        "<p>outside <b>not me</b></p><ul>"
        "<li><a href=\"/book/1/\"><b> \r\n 凡人修仙传\t</b></a><i> 忘语 </i><u>第1章\u3000</u></li>"
        "<li><a href=\"http://other.host/book/2/\"><b>剑来</b></a><i>烽火</i><u>第2章</u></li>"
        "<li><a href=\"/book/1/\"><b>凡人修仙传</b></a><i>忘语</i><u>第1章</u></li>"
        "</ul>"));
    const TSearchPageData data = ParseSearchPage(url, SearchRule());
    ASSERT_EQ(data.Num, 3);
    EXPECT_EQ(data.slNovelNameList,
              (QStringList{QStringLiteral("凡人修仙传"), QStringLiteral("剑来"),
                           QStringLiteral("凡人修仙传")}));
    EXPECT_EQ(data.slNovelAuthorList[0], QStringLiteral("忘语"));
    EXPECT_EQ(data.slLatestChapterList[0], QStringLiteral("第1章\u3000")); // full-width space stays
    EXPECT_EQ(data.slNovelInfoPageUrlList[0], site->BaseUrl() + QStringLiteral("/book/1/"));
    EXPECT_EQ(data.slNovelInfoPageUrlList[1], QStringLiteral("http://other.host/book/2/"));
    EXPECT_EQ(data.slNovelInfoPageUrlList[2], data.slNovelInfoPageUrlList[0]);
}

TEST_F(ExtractorsTest, SearchPageFailuresGiveZero) {
    const TRuleInfo rule = SearchRule();
    EXPECT_EQ(
        ParseSearchPage(
            Serve(QStringLiteral("<ul><b>a</b><i>b</i><u>c</u><a href=\"d\"></ul>"), 404), rule)
            .Num,
        0);
    EXPECT_EQ(ParseSearchPage(Serve(QString()), rule).Num, 0);
    EXPECT_EQ(ParseSearchPage(
                  Serve(QStringLiteral("<ol><b>a</b><i>b</i><u>c</u><a href=\"d\"></ol>")), rule)
                  .Num,
              0);
    EXPECT_EQ(ParseSearchPage(QStringLiteral("http://127.0.0.1:1/"), rule).Num, 0);

    // Names found, authors not: zero although names were collected.
    const TSearchPageData noAuthor =
        ParseSearchPage(Serve(QStringLiteral("<ul><b>a</b><u>c</u><a href=\"d\"></ul>")), rule);
    EXPECT_EQ(noAuthor.Num, 0);

    // Three of everything but two addresses: zero and every list emptied.
    const TSearchPageData unequal =
        ParseSearchPage(Serve(QStringLiteral(
                            "<ul><b>1</b><i>1</i><u>1</u><a href=\"1\">"
                            "<b>2</b><i>2</i><u>2</u><a href=\"2\"><b>3</b><i>3</i><u>3</u></ul>")),
                        rule);
    EXPECT_EQ(unequal.Num, 0);
    EXPECT_TRUE(unequal.slNovelNameList.isEmpty());
    EXPECT_TRUE(unequal.slNovelAuthorList.isEmpty());
    EXPECT_TRUE(unequal.slLatestChapterList.isEmpty());
    EXPECT_TRUE(unequal.slNovelInfoPageUrlList.isEmpty());

    // A region whose group 1 is empty holds nothing.
    TRuleInfo emptyRegion = rule;
    emptyRegion.strSearchPageResultRegional = QStringLiteral("<ul>()");
    EXPECT_EQ(
        ParseSearchPage(Serve(QStringLiteral("<ul><b>a</b><i>b</i><u>c</u><a href=\"d\"></ul>")),
                        emptyRegion)
            .Num,
        0);
}

TEST_F(ExtractorsTest, EachSearchStageChoosesItsOwnAlternative) {
    TRuleInfo rule = SearchRule();
    rule.strSearchPageNovelName = QStringLiteral("<strong>(.+?)</strong>|<b>(.+?)</b>");
    const TSearchPageData data = ParseSearchPage(
        Serve(QStringLiteral("<ul><b>名</b><i>作</i><u>章</u><a href=\"x.html\"></ul>")), rule);
    ASSERT_EQ(data.Num, 1);
    EXPECT_EQ(data.slNovelNameList[0], QStringLiteral("名"));
}

TEST_F(ExtractorsTest, SearchOnTheDemoSitesFindsItsNovels) {
    TRuleInfo gbk = SearchRule();
    gbk.strCharset = QStringLiteral("gbk");
    gbk.strSearchPageResultRegional = QStringLiteral("<table id=\"results\">(.+?)</table>");
    gbk.strSearchPageNovelName = QStringLiteral("<td class=\"name\"><a href=\"[^\"]*\">(.+?)</a>");
    gbk.strSearchPageNovelAuthor = QStringLiteral("<td class=\"author\">(.+?)</td>");
    gbk.strSearchPageLatestChapter =
        QStringLiteral("<td class=\"latest\"><a href=\"[^\"]*\">(.+?)</a>");
    gbk.strSearchPageInfoPageUrl = QStringLiteral("<td class=\"name\"><a href=\"(.+?)\">");
    const TSearchPageData data =
        ParseSearchPage(site->BaseUrl() + QStringLiteral("/gbk/search?q=%D0%DE%CF%C9"), gbk);
    ASSERT_EQ(data.Num, 2);
    EXPECT_EQ(data.slNovelNameList[1], QStringLiteral("修仙归来"));
    EXPECT_EQ(data.slNovelAuthorList[1], QStringLiteral("老鹰吃小鸡"));
    EXPECT_EQ(data.slNovelInfoPageUrlList[1], site->BaseUrl() + QStringLiteral("/gbk/book/2/"));
}

// ---- information pages ---------------------------------------------------------------------

TEST_F(ExtractorsTest, InfoPageFieldsAreFoundIndependently) {
    const QString url = Serve(
        QStringLiteral("<h1> 剑来 </h1><u>第二十章</u><a id=\"d\" href=\"list.html\">目录</a>"));
    const TInfoPageData info = ParseInfoPage(url, InfoRule());
    EXPECT_FALSE(info.isMatch); // the author pattern found nothing
    EXPECT_EQ(info.strInfoPageUrl, url);
    EXPECT_EQ(info.strNovelName, QStringLiteral("剑来"));
    EXPECT_EQ(info.strNovelAuthor, QString());
    EXPECT_EQ(info.strLatestChapter, QStringLiteral("第二十章"));
    EXPECT_EQ(info.strDirectoryPageUrl, site->BaseUrl() + QStringLiteral("/custom/list.html"));
    EXPECT_TRUE(info.strNovelSort.isEmpty());
    EXPECT_TRUE(info.strNovelState.isEmpty());
    EXPECT_TRUE(info.strNovelIntro.isEmpty());
}

TEST_F(ExtractorsTest, InfoPageDirectoryAddressResolution) {
    const TRuleInfo rule = InfoRule();
    const QString body = QStringLiteral("<h1>n</h1><em>a</em><u>l</u><a id=\"d\" href=\"%1\">");
    const QString own = Serve(body.arg(QString()));
    const TInfoPageData self = ParseInfoPage(own, rule);
    EXPECT_TRUE(self.isMatch);
    EXPECT_EQ(self.strDirectoryPageUrl, own); // an empty group is the page itself
    EXPECT_EQ(ParseInfoPage(Serve(body.arg(QStringLiteral("/dir/1/"))), rule).strDirectoryPageUrl,
              site->BaseUrl() + QStringLiteral("/dir/1/"));
}

TEST_F(ExtractorsTest, InfoPageThatRedirectsIsNoMatch) {
    const QString name = QStringLiteral("moved.html");
    site->SetPage(name, QByteArray("<h1>n</h1><em>a</em><u>l</u><a id=\"d\" href=\"x\">"), 302,
                  QStringLiteral("/gbk/book/1/"));
    const TInfoPageData info = ParseInfoPage(site->PageUrl(name), InfoRule());
    EXPECT_FALSE(info.isMatch);
    EXPECT_EQ(info.strInfoPageUrl, site->PageUrl(name));
    EXPECT_TRUE(info.strNovelName.isEmpty());
    EXPECT_TRUE(info.strDirectoryPageUrl.isEmpty());
}

// ---- chapter lists -------------------------------------------------------------------------

TEST(GroupOrderTest, TwoMarkersAfterHrefMeanAddressFirst) {
    EXPECT_TRUE(IsAddressFirst(QStringLiteral("<a href=\"(.+?)\">(.+?)</a>")));
    EXPECT_TRUE(IsAddressFirst(QStringLiteral("<a HREF=\"(.+?)\">(.+?)</a>")));
    EXPECT_TRUE(IsAddressFirst(QStringLiteral("<a hReF=\"(.+?)\">(.+?)</a>")));
    EXPECT_TRUE(
        IsAddressFirst(QStringLiteral("<a link=\"(.+?)\">(.+?)</a>"))); // no href: whole piece
    EXPECT_FALSE(IsAddressFirst(QStringLiteral("<a title=\"(.+?)\" href=\"(.+?)\">")));
    EXPECT_FALSE(IsAddressFirst(QStringLiteral("<a href=\"(.+?)\" t=\"(.+?)\">(.+?)</a>")));
    EXPECT_FALSE(IsAddressFirst(QStringLiteral("<a href=\"([^\"]+)\">(.+?)</a>")));
    EXPECT_FALSE(IsAddressFirst(QStringLiteral("(.+?)(.+?) href=\"x\"")));
}

TEST_F(ExtractorsTest, ChapterListGroupOrderFollowsTheHrefRule) {
    const QString url = Serve(
        QStringLiteral("<div id=\"list\"><dd title=\"第一章\"><a href=\"1.html\">第一章</a></dd>"
                       "<dd title=\"第二章\"><a href=\"/b/2.html\">第二章</a></dd></div>"));
    const TDirectoryPageData addressFirst =
        ParseDirectoryPage(url, DirectoryRule(QStringLiteral("<a href=\"(.+?)\">(.+?)</a>")));
    ASSERT_EQ(addressFirst.Num, 2);
    EXPECT_EQ(addressFirst.slChapterNameList,
              (QStringList{QStringLiteral("第一章"), QStringLiteral("第二章")}));
    EXPECT_EQ(addressFirst.slChapterUrlList,
              (QStringList{site->BaseUrl() + QStringLiteral("/custom/1.html"),
                           site->BaseUrl() + QStringLiteral("/b/2.html")}));

    const TDirectoryPageData nameFirst = ParseDirectoryPage(
        url, DirectoryRule(QStringLiteral("<dd title=\"(.+?)\"><a href=\"(.+?)\">")));
    EXPECT_EQ(nameFirst.slChapterNameList, addressFirst.slChapterNameList);
    EXPECT_EQ(nameFirst.slChapterUrlList, addressFirst.slChapterUrlList);

    // Three markers after href: name first, the third group ignored.
    const TDirectoryPageData three =
        ParseDirectoryPage(url, DirectoryRule(QStringLiteral("<a href=\"(.+?)\">(.+?)(.+?)</a>")));
    ASSERT_EQ(three.Num, 2);
    EXPECT_EQ(three.slChapterNameList[0], QStringLiteral("1.html"));
}

TEST_F(ExtractorsTest, OnlyTheFirstMatchingChapterAlternativeContributes) {
    const QString url = Serve(QStringLiteral(
        "<div id=\"list\"><li t=\"甲\"><a href=\"1.html\">甲</a></li>"
        "<dd><a href=\"2.html\">乙</a></dd><dd><a href=\"2.html\">乙</a></dd></div>"));
    const TDirectoryPageData dir = ParseDirectoryPage(
        url,
        DirectoryRule(QStringLiteral("<p href=\"(.+?)\">(.+?)</p>|<dd><a href=\"(.+?)\">(.+?)</a>|"
                                     "<li t=\"(.+?)\"><a href=\"(.+?)\">")));
    ASSERT_EQ(dir.Num, 2); // duplicates stay
    EXPECT_EQ(dir.slChapterNameList, (QStringList{QStringLiteral("乙"), QStringLiteral("乙")}));
}

TEST_F(ExtractorsTest, ChapterListFailuresGiveZero) {
    const TRuleInfo rule = DirectoryRule(QStringLiteral("<a href=\"(.+?)\">(.+?)</a>"));
    EXPECT_EQ(ParseDirectoryPage(
                  Serve(QStringLiteral("<div id=\"list\"><a href=\"1\">1</a></div>"), 404), rule)
                  .Num,
              0);
    EXPECT_EQ(ParseDirectoryPage(Serve(QStringLiteral("<a href=\"1\">1</a>")), rule).Num, 0);
    EXPECT_EQ(ParseDirectoryPage(Serve(QStringLiteral("<div id=\"list\">nothing</div>")), rule).Num,
              0);
    EXPECT_EQ(ParseDirectoryPage(QString(), rule).Num, 0);
    // One group only: the address is missing and resolves to the list page itself.
    const QString url = Serve(QStringLiteral("<div id=\"list\"><b>甲</b></div>"));
    const TDirectoryPageData oneGroup =
        ParseDirectoryPage(url, DirectoryRule(QStringLiteral("<b>(.+?)</b>")));
    ASSERT_EQ(oneGroup.Num, 1);
    EXPECT_EQ(oneGroup.slChapterNameList[0], QStringLiteral("甲"));
    EXPECT_EQ(oneGroup.slChapterUrlList[0], url);
}

// ---- chapter text --------------------------------------------------------------------------

TEST_F(ExtractorsTest, ChapterTextIsTheFirstMatchCleanedByTheRemovalList) {
    TRuleInfo rule;
    rule.strChapterPageChapterContent = QStringLiteral("<div id=\"c\">(.+?)</div>");
    const QString url = Serve(
        QStringLiteral("<div id=\"c\">  第一段【广告】<br/>第二段<script>x()</script></div><div "
                       "id=\"c\">second</div>"));
    EXPECT_EQ(ParseChapterContent(rule, url),
              QStringLiteral("  第一段【广告】<br/>第二段<script>x()</script>"));
    rule.strReplaceRule = QStringLiteral("【广告】|<script>.*?</script>");
    EXPECT_EQ(ParseChapterContent(rule, url), QStringLiteral("  第一段<br/>第二段"));
    rule.strReplaceRule = QStringLiteral(".+");
    EXPECT_EQ(ParseChapterContent(rule, url), QString());
    rule.strReplaceRule.clear();
    EXPECT_EQ(ParseChapterContent(rule, Serve(QStringLiteral("<div id=\"c\">x</div>"), 500)),
              QString());
    rule.strChapterPageChapterContent = QStringLiteral("<p>(.+?)</p>");
    EXPECT_EQ(ParseChapterContent(rule, url), QString());
    rule.strChapterPageChapterContent = QStringLiteral("<p>(.+?)</p>|(unclosed");
    EXPECT_THROW(ParseChapterContent(rule, url), ERegexException);
}

TEST(ImageUrlsTest, TheFixedPictureTagPattern) {
    struct Case {
        const char* html;
        QStringList expected;
    };
    const Case cases[] = {
        {"<img src=\"a/1.png\"><IMG SRC=\"b.png\"><img SRC=\"c.png\">",
         {QStringLiteral("a/1.png")}},
        {"<img src='s.jpg'/> <img src=u.gif> <img  src = \" d.png\" >",
         {QStringLiteral("s.jpg"), QStringLiteral("u.gif"), QStringLiteral("d.png")}},
        {"<img src=\"pic.JPG\">", {QStringLiteral("pic.")}},
        {"<img src=\"/p/1.png?v=2\">", {QStringLiteral("/p/1.png")}},
        {"<img src=\"/p/1.png?v=2.1\">", {QStringLiteral("/p/1.png?v=2.")}},
        {"<img data-src=\"lazy.png\" src=\"real.png\">", {QStringLiteral("lazy.png")}},
        {"<img src=\"nodot\"><img alt=x>", {}},
        {"text only, no pictures", {}},
        {"<img src=\"same.png\"><img src=\"same.png\">",
         {QStringLiteral("same.png"), QStringLiteral("same.png")}},
        {"<img\nsrc=\"multi.png\">", {QStringLiteral("multi.png")}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetImageUrls(QString::fromUtf8(c.html)), c.expected) << c.html;
}

} // namespace
