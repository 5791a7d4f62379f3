// The search workers against the local test web server, reporting to a fake surface.
#include "workers/SearchWorkers.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/FakeSurface.h"
#include "support/TempDataFolder.h"
#include "support/TestSiteSuite.h"
#include "workers/GatedSurface.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace zvrd;

namespace {

TEST(EncodeSearchUrlTest, KeywordBytesAreGbk) {
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://a.com/s.php?key=测试&t=1")),
              QStringLiteral("http://a.com/s.php?key=%B2%E2%CA%D4&t=1"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://a.com/s?q=小说 名")),
              QStringLiteral("http://a.com/s?q=%D0%A1%CB%B5%20%C3%FB"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://a.com/搜索/测试.php")),
              QStringLiteral("http://a.com/%CB%D1%CB%F7/%B2%E2%CA%D4.php"));
}

TEST(EncodeSearchUrlTest, PortsUserInformationFragmentsAndPercentSigns) {
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://a.com:80/s?q=1")),
              QStringLiteral("http://a.com/s?q=1"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("https://a.com:443/s")),
              QStringLiteral("https://a.com/s"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("HTTP://a.com:80/")), QStringLiteral("HTTP://a.com/"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://a.com:8080/s")),
              QStringLiteral("http://a.com:8080/s"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://user:pw@a.com/p/d.html#frag")),
              QStringLiteral("http://a.com/p/d.html"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://a.com/s?q=%D6%D0&x=a+b")),
              QStringLiteral("http://a.com/s?q=%25D6%25D0&x=a+b"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://a.com/a+b c.htm")),
              QStringLiteral("http://a.com/a%2Bb%20c.htm"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://a.com\\b\\c.htm?x=\\")),
              QStringLiteral("http://a.com/b/c.htm?x=%5C"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http:\\\\a.com\\b")),
              QString()); // no "://" once normalised
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http://a.com")), QStringLiteral("http://a.com/"));
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("no scheme here")), QString());
    EXPECT_EQ(encodeSearchUrl(QStringLiteral("http:///path")), QString());
}

TEST(RoundedSecondsTest, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(roundedSeconds(2500), 2);
    EXPECT_EQ(roundedSeconds(2501), 3);
    EXPECT_EQ(roundedSeconds(3500), 4);
    EXPECT_EQ(roundedSeconds(1500), 2);
    EXPECT_EQ(roundedSeconds(499), 0);
    EXPECT_EQ(roundedSeconds(500), 0);
    EXPECT_EQ(roundedSeconds(0), 0);
    EXPECT_EQ(roundedSeconds(4294967295u), 4294967);
}

class SearchWorkersTest : public test::TestSiteSuite {
protected:
    void SetUp() override {
        ASSERT_TRUE(importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"),
                                     site->baseUrl()));
    }

    // A copy of demo rule `from` under a new id, name and search address.
    static void copyRule(int from, int id, const QString& name, const QString& searchFormat) {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(
            QStringLiteral("insert into site_rule select ?1, ?2, site_url, charset, ?3, "
                           "search_page_result_regional, search_page_novel_name, "
                           "search_page_novel_author, search_page_latest_chapter, "
                           "search_page_info_page_url, info_page_novel_sort, "
                           "info_page_novel_name, info_page_novel_author, "
                           "info_page_novel_state, info_page_novel_intro, "
                           "info_page_latest_chapter, info_page_directory_page_url, "
                           "directory_page_regional, directory_page_chapter_name_and_url, "
                           "chapter_page_chapter_content, replace_rule from site_rule where id=?4"),
            {id, name, searchFormat, from});
    }

    // Keeps the demo rules as templates 101 (GBK site) and 102 (UTF-8 site) only.
    static void clearRules() {
        copyRule(901, 101, QStringLiteral("模板甲"), QString());
        copyRule(902, 102, QStringLiteral("模板乙"), QString());
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("delete from site_rule where id not in (101, 102)"));
    }

    void select(const QByteArray& value) {
        QFile f(folder.file(QStringLiteral("config.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[target_site]\r\nselected=" + value + "\r\n");
    }

    // Runs a whole search and waits for it.
    static void search(const QString& name, std::shared_ptr<WindowSurface> surface) {
        auto* search = new SearchCoordinator(name, std::move(surface), Worker::Ownership::Held);
        search->join();
        delete search;
    }

    static QStringList sitesSearched(const QStringList& statuses) {
        QStringList sites;
        for (const QString& s : statuses) {
            if (s.startsWith(QStringLiteral("正在从目标站「")))
                sites << s.mid(7, s.indexOf(QStringLiteral("」")) - 7);
        }
        return sites;
    }

    test::TempDataFolder folder;
    std::shared_ptr<test::FakeSurface> surface = std::make_shared<test::FakeSurface>();
};

TEST_F(SearchWorkersTest, SelectedSitesRunInRuleOrder) {
    clearRules();
    const QString format = site->baseUrl() + QStringLiteral("/gbk/search?q={KEY}");
    copyRule(101, 1, QStringLiteral("一"), format);
    copyRule(101, 2, QStringLiteral("二"), format);
    copyRule(101, 3, QStringLiteral("三"), format);
    select("3,1,");
    search(QStringLiteral("修仙"), surface);
    EXPECT_EQ(sitesSearched(surface->statuses()),
              (QStringList{QStringLiteral("一"), QStringLiteral("三")}));
    EXPECT_EQ(surface->rows().size(), 4u);

    auto second = std::make_shared<test::FakeSurface>();
    select("1, 2");
    search(QStringLiteral("修仙"), second);
    EXPECT_EQ(sitesSearched(second->statuses()), QStringList{QStringLiteral("一")});
}

TEST_F(SearchWorkersTest, ListsAndARelativeRedirectMakeNumberedRowsAndASummary) {
    clearRules();
    // Two results, none, and one by a 302 whose Location is relative.
    copyRule(101, 1, QStringLiteral("列表"),
             site->baseUrl() + QStringLiteral("/gbk/search?q={KEY}"));
    copyRule(101, 2, QStringLiteral("空"),
             site->baseUrl() + QStringLiteral("/gbk/search?q={KEY}无此书"));
    copyRule(102, 3, QStringLiteral("跳转"),
             site->baseUrl() + QStringLiteral("/fault/redirect?to=../utf8/book/3/&k={KEY}"));
    select("1,2,3,");
    search(QStringLiteral("修仙"), surface);
    const auto rows = surface->rows();
    ASSERT_EQ(rows.size(), 3u);
    QStringList numbers;
    for (const auto& row : rows)
        numbers << row[0];
    EXPECT_EQ(numbers,
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    bool redirected = false;
    for (const auto& row : rows) {
        if (row[1] == QStringLiteral("跳转")) {
            redirected = true;
            EXPECT_EQ(row[2], QStringLiteral("大道朝天"));
            EXPECT_EQ(row[5], site->baseUrl() + QStringLiteral("/utf8/book/3/"));
        }
    }
    EXPECT_TRUE(redirected);
    const QStringList statuses = surface->statuses();
    EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(), [](const QString& s) {
        return s.startsWith(
            QStringLiteral("目标站「空」搜索完成，从该目标站共搜索到 0 本小说。还有 "));
    }));
    EXPECT_TRUE(
        surface->lastStatus().startsWith(QStringLiteral("搜索完成，共搜索到 3 本小说，用时 ")))
        << surface->lastStatus().toStdString();
    EXPECT_TRUE(surface->lastStatus().endsWith(QStringLiteral(" 秒。")));
}

// The 302's header is the answer: a body that stalls after it does not hold the search.
TEST_F(SearchWorkersTest, AStalledRedirectIsUsedAtOnce) {
    clearRules();
    copyRule(102, 1, QStringLiteral("跳转"),
             site->baseUrl() +
                 QStringLiteral("/fault/stall-redirect?to=../utf8/book/3/&ms=8000&k={KEY}"));
    select("1,");
    QElapsedTimer clock;
    clock.start();
    search(QStringLiteral("大道朝天"), surface);
    EXPECT_LT(clock.elapsed(), 5000);
    ASSERT_EQ(surface->rows().size(), 1u);
    EXPECT_EQ(surface->rows()[0][2], QStringLiteral("大道朝天"));
}

TEST_F(SearchWorkersTest, RemainingSitesNeverGoUpAndA301SiteIsNeverCounted) {
    clearRules();
    copyRule(101, 1, QStringLiteral("甲"), site->baseUrl() + QStringLiteral("/gbk/search?q={KEY}"));
    copyRule(101, 2, QStringLiteral("乙"),
             site->baseUrl() + QStringLiteral("/fault/status/301?q={KEY}"));
    copyRule(101, 3, QStringLiteral("丙"), site->baseUrl() + QStringLiteral("/gbk/search?q={KEY}"));
    select("1,2,3,");
    search(QStringLiteral("剑来"), surface); // 302 on 甲 and 丙: one row each
    QList<int> remaining;
    for (const QString& s : surface->statuses()) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("还有 (\\d+) 个目标站点正在搜索")).match(s);
        if (m.hasMatch())
            remaining << m.captured(1).toInt();
    }
    EXPECT_EQ(remaining, (QList<int>{2, 1})); // the 301 site is still "searching" at the end
    EXPECT_FALSE(
        surface->statuses().join(QString()).contains(QStringLiteral("目标站「乙」搜索完成")));
    EXPECT_EQ(surface->rows().size(), 2u);
}

TEST_F(SearchWorkersTest, NoRulesOrNoSelectionSayWhy) {
    select("");
    search(QStringLiteral("修仙"), surface);
    EXPECT_EQ(surface->statuses(),
              QStringList{QStringLiteral("您未选择目标站，请在目标站设置中进行选择！")});
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("delete from site_rule"));
    }
    select("1,2,");
    auto empty = std::make_shared<test::FakeSurface>();
    search(QStringLiteral("修仙"), empty);
    EXPECT_EQ(empty->statuses(),
              QStringList{QStringLiteral("从数据库中没有提取到采集规则，请检查 zvrd.db 文件！")});
    EXPECT_TRUE(empty->rows().empty());
}

TEST_F(SearchWorkersTest, ANewSearchSupersedesTheRunningOne) {
    clearRules();
    const QByteArray slowPage =
        QStringLiteral(
            "<table id=\"results\"><tr><td class=\"name\"><a href=\"/gbk/book/1/\">慢书</a></td>"
            "<td class=\"author\">慢</td><td class=\"latest\"><a "
            "href=\"x\">第1章</a></td></tr></table>")
            .toUtf8();
    site->setPage(QStringLiteral("slow-search"), slowPage, 200, QString(), 400);
    copyRule(102, 1, QStringLiteral("慢站"),
             site->baseUrl() + QStringLiteral("/custom/slow-search?q={KEY}"));
    {
        // The UTF-8 rule's patterns do not fit a table; give the slow site the GBK site's.
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral(
            "update site_rule set charset='utf-8', search_page_result_regional="
            "'<table id=\"results\">(.+?)</table>', search_page_novel_name="
            "'<td class=\"name\"><a href=\"[^\"]*\">(.+?)</a></td>', "
            "search_page_novel_author='<td class=\"author\">(.+?)</td>', "
            "search_page_latest_chapter='<td class=\"latest\"><a href=\"[^\"]*\">(.+?)</a></td>', "
            "search_page_info_page_url='<td class=\"name\"><a href=\"(.+?)\">' where id=1"));
    }
    copyRule(101, 2, QStringLiteral("快站"),
             site->baseUrl() + QStringLiteral("/gbk/search?q={KEY}"));
    select("1,");
    auto first = std::make_shared<GatedSurface>(*surface);
    auto* running = new SearchCoordinator(QStringLiteral("慢"), first, Worker::Ownership::Held);
    sleepMs(150);
    // What the window does for a new search: close the old gate, clear, start again.
    surface->runOnWindowThread([&] { first->close(); });
    surface->clearResults();
    select("2,");
    search(QStringLiteral("修仙"), std::make_shared<GatedSurface>(*surface));
    running->join();
    delete running;
    const auto rows = surface->rows();
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows)
        EXPECT_EQ(row[1], QStringLiteral("快站"));
    EXPECT_FALSE(surface->statuses().join(QString()).contains(QStringLiteral("慢站」搜索完成")));
    EXPECT_EQ(surface->lastStatus().left(14), QStringLiteral("搜索完成，共搜索到 2 本小"));
}

} // namespace
