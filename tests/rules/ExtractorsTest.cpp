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
    static QString serve(const QString& html, int status = 200) {
        const QString name = QStringLiteral("page%1.html").arg(++counter);
        site->setPage(name, html.toUtf8(), status);
        return site->pageUrl(name);
    }

    static SiteRule searchRule() {
        SiteRule r;
        r.charset = QStringLiteral("utf-8");
        r.searchResultRegion = QStringLiteral("<ul>(.+?)</ul>");
        r.searchNovelName = QStringLiteral("<b>(.+?)</b>");
        r.searchNovelAuthor = QStringLiteral("<i>(.+?)</i>");
        r.searchLatestChapter = QStringLiteral("<u>(.+?)</u>");
        r.searchInfoPageUrl = QStringLiteral("<a href=\"(.+?)\">");
        return r;
    }

    static SiteRule infoRule() {
        SiteRule r;
        r.infoNovelName = QStringLiteral("<h1>(.+?)</h1>");
        r.infoNovelAuthor = QStringLiteral("<em>(.+?)</em>");
        r.infoLatestChapter = QStringLiteral("<u>(.+?)</u>");
        r.infoDirectoryPageUrl = QStringLiteral("<a id=\"d\" href=\"(.*?)\">");
        r.infoNovelSort = QStringLiteral("<h1>(.+?)</h1>");
        r.infoNovelState = QStringLiteral("<h1>(.+?)</h1>");
        r.infoNovelIntro = QStringLiteral("<h1>(.+?)</h1>");
        return r;
    }

    static SiteRule directoryRule(const QString& chapters) {
        SiteRule r;
        r.directoryRegion = QStringLiteral("<div id=\"list\">(.+?)</div>");
        r.directoryChapterNameAndUrl = chapters;
        return r;
    }

    static int counter;
};
int ExtractorsTest::counter = 0;

// ---- search pages --------------------------------------------------------------------------

TEST_F(ExtractorsTest, SearchPageListsEveryNovelTrimmedAndResolved) {
    const QString url = serve(QStringLiteral(
        "<p>outside <b>not me</b></p><ul>"
        "<li><a href=\"/book/1/\"><b> \r\n 凡人修仙传\t</b></a><i> 忘语 </i><u>第1章\u3000</u></li>"
        "<li><a href=\"http://other.host/book/2/\"><b>剑来</b></a><i>烽火</i><u>第2章</u></li>"
        "<li><a href=\"/book/1/\"><b>凡人修仙传</b></a><i>忘语</i><u>第1章</u></li>"
        "</ul>"));
    const SearchResults data = parseSearchPage(url, searchRule());
    ASSERT_EQ(data.count, 3);
    EXPECT_EQ(data.names, (QStringList{QStringLiteral("凡人修仙传"), QStringLiteral("剑来"),
                                       QStringLiteral("凡人修仙传")}));
    EXPECT_EQ(data.authors[0], QStringLiteral("忘语"));
    EXPECT_EQ(data.latestChapters[0], QStringLiteral("第1章\u3000")); // full-width space stays
    EXPECT_EQ(data.infoPageUrls[0], site->baseUrl() + QStringLiteral("/book/1/"));
    EXPECT_EQ(data.infoPageUrls[1], QStringLiteral("http://other.host/book/2/"));
    EXPECT_EQ(data.infoPageUrls[2], data.infoPageUrls[0]);
}

TEST_F(ExtractorsTest, SearchPageFailuresGiveZero) {
    const SiteRule rule = searchRule();
    EXPECT_EQ(
        parseSearchPage(
            serve(QStringLiteral("<ul><b>a</b><i>b</i><u>c</u><a href=\"d\"></ul>"), 404), rule)
            .count,
        0);
    EXPECT_EQ(parseSearchPage(serve(QString()), rule).count, 0);
    EXPECT_EQ(parseSearchPage(
                  serve(QStringLiteral("<ol><b>a</b><i>b</i><u>c</u><a href=\"d\"></ol>")), rule)
                  .count,
              0);
    EXPECT_EQ(parseSearchPage(QStringLiteral("http://127.0.0.1:1/"), rule).count, 0);

    // Names found, authors not: zero although names were collected.
    const SearchResults noAuthor =
        parseSearchPage(serve(QStringLiteral("<ul><b>a</b><u>c</u><a href=\"d\"></ul>")), rule);
    EXPECT_EQ(noAuthor.count, 0);

    // Three of everything but two addresses: zero and every list emptied.
    const SearchResults unequal =
        parseSearchPage(serve(QStringLiteral(
                            "<ul><b>1</b><i>1</i><u>1</u><a href=\"1\">"
                            "<b>2</b><i>2</i><u>2</u><a href=\"2\"><b>3</b><i>3</i><u>3</u></ul>")),
                        rule);
    EXPECT_EQ(unequal.count, 0);
    EXPECT_TRUE(unequal.names.isEmpty());
    EXPECT_TRUE(unequal.authors.isEmpty());
    EXPECT_TRUE(unequal.latestChapters.isEmpty());
    EXPECT_TRUE(unequal.infoPageUrls.isEmpty());

    // A region whose group 1 is empty holds nothing.
    SiteRule emptyRegion = rule;
    emptyRegion.searchResultRegion = QStringLiteral("<ul>()");
    EXPECT_EQ(
        parseSearchPage(serve(QStringLiteral("<ul><b>a</b><i>b</i><u>c</u><a href=\"d\"></ul>")),
                        emptyRegion)
            .count,
        0);
}

TEST_F(ExtractorsTest, EachSearchStageChoosesItsOwnAlternative) {
    SiteRule rule = searchRule();
    rule.searchNovelName = QStringLiteral("<strong>(.+?)</strong>|<b>(.+?)</b>");
    const SearchResults data = parseSearchPage(
        serve(QStringLiteral("<ul><b>名</b><i>作</i><u>章</u><a href=\"x.html\"></ul>")), rule);
    ASSERT_EQ(data.count, 1);
    EXPECT_EQ(data.names[0], QStringLiteral("名"));
}

TEST_F(ExtractorsTest, SearchOnTheDemoSitesFindsItsNovels) {
    SiteRule gbk = searchRule();
    gbk.charset = QStringLiteral("gbk");
    gbk.searchResultRegion = QStringLiteral("<table id=\"results\">(.+?)</table>");
    gbk.searchNovelName = QStringLiteral("<td class=\"name\"><a href=\"[^\"]*\">(.+?)</a>");
    gbk.searchNovelAuthor = QStringLiteral("<td class=\"author\">(.+?)</td>");
    gbk.searchLatestChapter = QStringLiteral("<td class=\"latest\"><a href=\"[^\"]*\">(.+?)</a>");
    gbk.searchInfoPageUrl = QStringLiteral("<td class=\"name\"><a href=\"(.+?)\">");
    const SearchResults data =
        parseSearchPage(site->baseUrl() + QStringLiteral("/gbk/search?q=%D0%DE%CF%C9"), gbk);
    ASSERT_EQ(data.count, 2);
    EXPECT_EQ(data.names[1], QStringLiteral("修仙归来"));
    EXPECT_EQ(data.authors[1], QStringLiteral("老鹰吃小鸡"));
    EXPECT_EQ(data.infoPageUrls[1], site->baseUrl() + QStringLiteral("/gbk/book/2/"));
}

// ---- information pages ---------------------------------------------------------------------

TEST_F(ExtractorsTest, InfoPageFieldsAreFoundIndependently) {
    const QString url = serve(
        QStringLiteral("<h1> 剑来 </h1><u>第二十章</u><a id=\"d\" href=\"list.html\">目录</a>"));
    const NovelInfo info = parseInfoPage(url, infoRule());
    EXPECT_FALSE(info.matched); // the author pattern found nothing
    EXPECT_EQ(info.infoPageUrl, url);
    EXPECT_EQ(info.name, QStringLiteral("剑来"));
    EXPECT_EQ(info.author, QString());
    EXPECT_EQ(info.latestChapter, QStringLiteral("第二十章"));
    EXPECT_EQ(info.directoryPageUrl, site->baseUrl() + QStringLiteral("/custom/list.html"));
    EXPECT_TRUE(info.sort.isEmpty());
    EXPECT_TRUE(info.state.isEmpty());
    EXPECT_TRUE(info.intro.isEmpty());
}

TEST_F(ExtractorsTest, InfoPageDirectoryAddressResolution) {
    const SiteRule rule = infoRule();
    const QString body = QStringLiteral("<h1>n</h1><em>a</em><u>l</u><a id=\"d\" href=\"%1\">");
    const QString own = serve(body.arg(QString()));
    const NovelInfo self = parseInfoPage(own, rule);
    EXPECT_TRUE(self.matched);
    EXPECT_EQ(self.directoryPageUrl, own); // an empty group is the page itself
    EXPECT_EQ(parseInfoPage(serve(body.arg(QStringLiteral("/dir/1/"))), rule).directoryPageUrl,
              site->baseUrl() + QStringLiteral("/dir/1/"));
}

// Pages are read where their redirects land (at most 5 hops, http and https only), and their
// relative links belong to that address; the novel keeps the address it was found under.
TEST_F(ExtractorsTest, PagesBehindRedirectsAreReadWhereTheyLanded) {
    const QString target =
        serve(QStringLiteral("<h1>n</h1><em>a</em><u>l</u><a id=\"d\" href=\"list/\">"
                             "<div id=\"list\"><a href=\"7.html\">七</a></div>"));
    const QString path = target.mid(site->baseUrl().size());
    const struct {
        QString via;
        bool read;
    } cases[] = {
        {QStringLiteral("/fault/redirect?to=") + path, true},
        {QStringLiteral("/fault/hops/4?to=") + path, true},  // 5 redirects
        {QStringLiteral("/fault/hops/5?to=") + path, false}, // 6
        {QStringLiteral("/fault/redirect?to=file:///etc/passwd"), false},
    };
    const QString folder = target.left(target.lastIndexOf(QLatin1Char('/')) + 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.via.toStdString());
        const QString address = site->baseUrl() + c.via;
        const NovelInfo info = parseInfoPage(address, infoRule());
        EXPECT_EQ(info.matched, c.read);
        EXPECT_EQ(info.infoPageUrl, address);
        const ChapterList list = parseDirectoryPage(
            address, directoryRule(QStringLiteral("<a href=\"(.+?)\">(.+?)</a>")));
        EXPECT_EQ(list.count, c.read ? 1 : 0);
        SiteRule chapter;
        chapter.chapterContent = QStringLiteral("<div id=\"list\">(.+?)</div>");
        EXPECT_EQ(parseChapterContent(chapter, address).isEmpty(), !c.read);
        if (!c.read)
            continue;
        EXPECT_EQ(info.directoryPageUrl, folder + QStringLiteral("list/"));
        EXPECT_EQ(list.urls.value(0), folder + QStringLiteral("7.html"));
        EXPECT_EQ(list.pageUrl, target);
    }
}

// ---- chapter lists -------------------------------------------------------------------------

TEST(GroupOrderTest, TwoMarkersAfterHrefMeanAddressFirst) {
    EXPECT_TRUE(isAddressFirst(QStringLiteral("<a href=\"(.+?)\">(.+?)</a>")));
    EXPECT_TRUE(isAddressFirst(QStringLiteral("<a HREF=\"(.+?)\">(.+?)</a>")));
    EXPECT_TRUE(isAddressFirst(QStringLiteral("<a hReF=\"(.+?)\">(.+?)</a>")));
    EXPECT_TRUE(
        isAddressFirst(QStringLiteral("<a link=\"(.+?)\">(.+?)</a>"))); // no href: whole piece
    EXPECT_FALSE(isAddressFirst(QStringLiteral("<a title=\"(.+?)\" href=\"(.+?)\">")));
    EXPECT_FALSE(isAddressFirst(QStringLiteral("<a href=\"(.+?)\" t=\"(.+?)\">(.+?)</a>")));
    EXPECT_FALSE(isAddressFirst(QStringLiteral("<a href=\"([^\"]+)\">(.+?)</a>")));
    EXPECT_FALSE(isAddressFirst(QStringLiteral("(.+?)(.+?) href=\"x\"")));
}

TEST_F(ExtractorsTest, ChapterListGroupOrderFollowsTheHrefRule) {
    const QString url = serve(
        QStringLiteral("<div id=\"list\"><dd title=\"第一章\"><a href=\"1.html\">第一章</a></dd>"
                       "<dd title=\"第二章\"><a href=\"/b/2.html\">第二章</a></dd></div>"));
    const ChapterList addressFirst =
        parseDirectoryPage(url, directoryRule(QStringLiteral("<a href=\"(.+?)\">(.+?)</a>")));
    ASSERT_EQ(addressFirst.count, 2);
    EXPECT_EQ(addressFirst.names,
              (QStringList{QStringLiteral("第一章"), QStringLiteral("第二章")}));
    EXPECT_EQ(addressFirst.urls, (QStringList{site->baseUrl() + QStringLiteral("/custom/1.html"),
                                              site->baseUrl() + QStringLiteral("/b/2.html")}));

    const ChapterList nameFirst = parseDirectoryPage(
        url, directoryRule(QStringLiteral("<dd title=\"(.+?)\"><a href=\"(.+?)\">")));
    EXPECT_EQ(nameFirst.names, addressFirst.names);
    EXPECT_EQ(nameFirst.urls, addressFirst.urls);

    // Three markers after href: name first, the third group ignored.
    const ChapterList three =
        parseDirectoryPage(url, directoryRule(QStringLiteral("<a href=\"(.+?)\">(.+?)(.+?)</a>")));
    ASSERT_EQ(three.count, 2);
    EXPECT_EQ(three.names[0], QStringLiteral("1.html"));
}

TEST_F(ExtractorsTest, OnlyTheFirstMatchingChapterAlternativeContributes) {
    const QString url = serve(QStringLiteral(
        "<div id=\"list\"><li t=\"甲\"><a href=\"1.html\">甲</a></li>"
        "<dd><a href=\"2.html\">乙</a></dd><dd><a href=\"2.html\">乙</a></dd></div>"));
    const ChapterList dir = parseDirectoryPage(
        url,
        directoryRule(QStringLiteral("<p href=\"(.+?)\">(.+?)</p>|<dd><a href=\"(.+?)\">(.+?)</a>|"
                                     "<li t=\"(.+?)\"><a href=\"(.+?)\">")));
    ASSERT_EQ(dir.count, 2); // duplicates stay
    EXPECT_EQ(dir.names, (QStringList{QStringLiteral("乙"), QStringLiteral("乙")}));
}

TEST_F(ExtractorsTest, ChapterListFailuresGiveZero) {
    const SiteRule rule = directoryRule(QStringLiteral("<a href=\"(.+?)\">(.+?)</a>"));
    EXPECT_EQ(parseDirectoryPage(
                  serve(QStringLiteral("<div id=\"list\"><a href=\"1\">1</a></div>"), 404), rule)
                  .count,
              0);
    EXPECT_EQ(parseDirectoryPage(serve(QStringLiteral("<a href=\"1\">1</a>")), rule).count, 0);
    EXPECT_EQ(
        parseDirectoryPage(serve(QStringLiteral("<div id=\"list\">nothing</div>")), rule).count, 0);
    EXPECT_EQ(parseDirectoryPage(QString(), rule).count, 0);
    // One group only: the address is missing and resolves to the list page itself.
    const QString url = serve(QStringLiteral("<div id=\"list\"><b>甲</b></div>"));
    const ChapterList oneGroup =
        parseDirectoryPage(url, directoryRule(QStringLiteral("<b>(.+?)</b>")));
    ASSERT_EQ(oneGroup.count, 1);
    EXPECT_EQ(oneGroup.names[0], QStringLiteral("甲"));
    EXPECT_EQ(oneGroup.urls[0], url);
}

// A pattern that backtracks hard on every item of a 31,000-item list: PCRE2's limit bounds each
// match, not the page, so only the page's budget ends it; the page counts as no match and the
// error says why.
TEST_F(ExtractorsTest, ASlowPatternStopsAtThePageBudget) {
    QString list = QStringLiteral("<div id=\"list\">");
    for (int i = 0; i < 31000; ++i)
        list += QStringLiteral("<a href=\"%1.html\">%2</a>").arg(i).arg(QString(22, u'a'));
    list += QStringLiteral("</div>");
    SiteRule rule = directoryRule(QStringLiteral("<a href=\"([^\"]+)\">(?:(?:a+)+x)?(a+)</a>"));
    rule.siteName = QStringLiteral("慢站");
    try {
        extractDirectoryPage(list, QStringLiteral("http://s/"), rule);
        FAIL() << "no budget";
    } catch (const RegexException& e) {
        EXPECT_EQ(e.message(), patternTooSlowText(QStringLiteral("慢站")));
    }
    // The budget belongs to one page: the next page matches as usual.
    EXPECT_EQ(
        extractDirectoryPage(QStringLiteral("<div id=\"list\"><a href=\"1.html\">aa</a></div>"),
                             QStringLiteral("http://s/"), rule)
            .count,
        1);
}

// ---- chapter text --------------------------------------------------------------------------

TEST_F(ExtractorsTest, ChapterTextIsTheFirstMatchCleanedByTheRemovalList) {
    SiteRule rule;
    rule.chapterContent = QStringLiteral("<div id=\"c\">(.+?)</div>");
    const QString url = serve(
        QStringLiteral("<div id=\"c\">  第一段【广告】<br/>第二段<script>x()</script></div><div "
                       "id=\"c\">second</div>"));
    EXPECT_EQ(parseChapterContent(rule, url),
              QStringLiteral("  第一段【广告】<br/>第二段<script>x()</script>"));
    rule.replaceRule = QStringLiteral("【广告】|<script>.*?</script>");
    EXPECT_EQ(parseChapterContent(rule, url), QStringLiteral("  第一段<br/>第二段"));
    rule.replaceRule = QStringLiteral(".+");
    EXPECT_EQ(parseChapterContent(rule, url), QString());
    rule.replaceRule.clear();
    EXPECT_EQ(parseChapterContent(rule, serve(QStringLiteral("<div id=\"c\">x</div>"), 500)),
              QString());
    rule.chapterContent = QStringLiteral("<p>(.+?)</p>");
    EXPECT_EQ(parseChapterContent(rule, url), QString());
    rule.chapterContent = QStringLiteral("<p>(.+?)</p>|(unclosed");
    EXPECT_THROW(parseChapterContent(rule, url), RegexException);
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
        EXPECT_EQ(imageUrls(QString::fromUtf8(c.html)), c.expected) << c.html;
}

} // namespace
