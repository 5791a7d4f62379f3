// Site rules from zvrd.db, the selection setting in config.ini, CombineUrl and GetFileExt.
#include "rules/RuleSet.h"
#include "core/IniFile.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/TempAppFolder.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace zvrd;

namespace {

struct CombineCase {
    const char* base;
    const char* relative;
    const char* expected;
};

TEST(CombineUrlTest, ResolvesAsABrowserWould) {
    const CombineCase cases[] = {
        // absolute addresses come back unchanged
        {"http://a.com/b/c.html", "https://x.org/y/z.html", "https://x.org/y/z.html"},
        {"http://a.com/b/c.html", "HTTP://X.org/p?q=1", "HTTP://X.org/p?q=1"},
        // empty: the base itself
        {"http://a.com/b/c.html", "", "http://a.com/b/c.html"},
        {"http://a.com/book/1/", "", "http://a.com/book/1/"},
        // "/" keeps only scheme, host and port
        {"http://a.com:8080/b/c/d.html", "/x/y.html", "http://a.com:8080/x/y.html"},
        // relative: the base's folder
        {"http://a.com/b/c/d.html", "e.html", "http://a.com/b/c/e.html"},
        {"http://a.com/b/c/", "e.html", "http://a.com/b/c/e.html"},
        {"http://a.com", "e.html", "http://a.com/e.html"},
        {"http://a.com/b/c.html?x=1/2", "e.html", "http://a.com/b/e.html"},
        {"http://a.com/b/c/d.html", "../e.html", "http://a.com/b/e.html"},
        {"http://a.com/b/c/d.html", "./../../e.html", "http://a.com/e.html"},
        {"http://a.com/b/", "../../../e.html", "http://a.com/e.html"},
        {"http://a.com/b/c/d.html", "../../pic/1.png", "http://a.com/pic/1.png"},
        // protocol-relative takes the base's scheme
        {"https://book.qidian.com/info/1", "//read.qidian.com/chapter/x",
         "https://read.qidian.com/chapter/x"},
        // query and fragment
        {"http://a.com/b/c.html?old=1", "?new=2", "http://a.com/b/c.html?new=2"},
        {"http://a.com/b/c.html#top", "#end", "http://a.com/b/c.html#end"},
        // unsafe characters are escaped before "?" only, "%" is left alone
        {"http://a.com/b/", "my page.html?q=a b ", "http://a.com/b/my%20page.html?q=a b "},
        {"http://a.com/b/", "x%20y.html", "http://a.com/b/x%20y.html"},
        {"http://a.com/b/", "第1章.html", "http://a.com/b/%E7%AC%AC1%E7%AB%A0.html"},
        {"http://a.com/b/", "a\"b<c>.html#x y", "http://a.com/b/a%22b%3Cc%3E.html#x y"},
        // cannot combine: empty
        {"not an address", "x.html", ""},
        {"", "x.html", ""},
    };
    for (const CombineCase& c : cases) {
        EXPECT_EQ(
            CombineUrl(QString::fromUtf8(c.base), QString::fromUtf8(c.relative)).toStdString(),
            std::string(c.expected))
            << c.base << " + " << c.relative;
    }
}

TEST(CombineUrlTest, ResultsOver2047CharactersAreRefused) {
    const QString base = QStringLiteral("http://a.com/");
    EXPECT_EQ(CombineUrl(base, QString(2047 - base.size(), QLatin1Char('x'))).size(), 2047);
    EXPECT_EQ(CombineUrl(base, QString(2048 - base.size(), QLatin1Char('x'))), QString());
}

TEST(GetFileExtTest, TakesTheTextAfterTheLastDot) {
    EXPECT_EQ(GetFileExt(QStringLiteral("http://a.com/pic/1.2.png")), QStringLiteral("png"));
    EXPECT_EQ(GetFileExt(QStringLiteral("nodot")), QStringLiteral("nodot"));
    EXPECT_EQ(GetFileExt(QStringLiteral("ends.")), QString());
    EXPECT_EQ(GetFileExt(QStringLiteral("a.jpg?v=1")), QStringLiteral("jpg?v=1"));
    EXPECT_EQ(GetFileExt(QStringLiteral("a.JPG")), QStringLiteral("JPG"));
}

class RuleSetTest : public ::testing::Test {
protected:
    void SetUp() override { CreateMissingTables(); }

    static void AddRule(int id, const QString& name, const QString& namePattern = QString()) {
        TSQLiteDatabase db(RuleDatabasePath());
        db.AddParamText(QStringLiteral(":name"), name);
        db.AddParamText(QStringLiteral(":pattern"), namePattern);
        db.ExecSQL(QStringLiteral("insert into site_rule(id, site_name, info_page_novel_name) "
                                  "values(%1, :name, :pattern)")
                       .arg(id));
    }

    static QStringList Ids(const TRuleInfoList& rules) {
        QStringList ids;
        for (const TRuleInfo& r : rules)
            ids << r.strId;
        return ids;
    }

    void WriteConfig(const QByteArray& text) {
        QFile f(folder.File(QStringLiteral("config.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    test::TempAppFolder folder;
};

TEST_F(RuleSetTest, LoadsEveryRuleInTableOrderWithNullsAsEmptyText) {
    EXPECT_TRUE(LoadRuleInfoList().isEmpty());
    AddRule(3, QStringLiteral("三"), QStringLiteral("<h1>(.+?)</h1>"));
    AddRule(1, QStringLiteral("一"));
    const TRuleInfoList rules = LoadRuleInfoList();
    ASSERT_EQ(rules.size(), 2);
    EXPECT_EQ(Ids(rules), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    EXPECT_EQ(rules[1].strSiteName, QStringLiteral("三"));
    EXPECT_EQ(rules[1].strInfoPageNovelName, QStringLiteral("<h1>(.+?)</h1>"));
    EXPECT_TRUE(rules[0].strSearchPageUrlFormat.isNull() ||
                rules[0].strSearchPageUrlFormat.isEmpty());
    EXPECT_EQ(RuleColumnNames().size(), 21);
}

TEST_F(RuleSetTest, AMissingColumnRaisesTheAccessLayersError) {
    {
        TSQLiteDatabase db(RuleDatabasePath());
        db.ExecSQL(QStringLiteral("drop table site_rule"));
        db.ExecSQL(QStringLiteral("create table site_rule(id INTEGER, site_name TEXT)"));
        db.ExecSQL(QStringLiteral("insert into site_rule values(1, 'x')"));
    }
    try {
        LoadRuleInfoList();
        FAIL() << "no exception";
    } catch (const ESQLiteException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Field not found in dataset: site_url"));
    }
}

TEST_F(RuleSetTest, LookupByNameFindsTheFirstInLoadOrder) {
    AddRule(1, QStringLiteral("站"), QStringLiteral("first"));
    AddRule(2, QStringLiteral("站"), QStringLiteral("second"));
    const TRuleInfoList rules = LoadRuleInfoList();
    EXPECT_EQ(FindRuleBySiteName(rules, QStringLiteral("站")).strInfoPageNovelName,
              QStringLiteral("first"));
    EXPECT_TRUE(FindRuleBySiteName(rules, QStringLiteral("站 ")).strId.isEmpty());
}

TEST_F(RuleSetTest, SelectionKeepsLoadOrderExactIdsAndEachRuleOnce) {
    for (int id : {1, 2, 3})
        AddRule(id, QStringLiteral("s%1").arg(id));
    const TRuleInfoList rules = LoadRuleInfoList();
    EXPECT_EQ(Ids(SelectRules(rules, QStringLiteral("3,1,"))),
              (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    EXPECT_EQ(Ids(SelectRules(rules, QStringLiteral("1, 2"))), QStringList{QStringLiteral("1")});
    EXPECT_EQ(Ids(SelectRules(rules, QStringLiteral("2,2,2,"))), QStringList{QStringLiteral("2")});
    EXPECT_EQ(Ids(SelectRules(rules, QStringLiteral("9,,3"))), QStringList{QStringLiteral("3")});
    EXPECT_TRUE(SelectRules(rules, QString()).isEmpty());
    EXPECT_TRUE(SelectRules(rules, QStringLiteral(" 1,")).isEmpty());
}

TEST_F(RuleSetTest, SelectionSettingIsReadAsWritten) {
    EXPECT_EQ(ReadSelectionSetting(), QString()); // no config.ini
    WriteConfig("[other]\r\nselected=9,\r\n[Target_Site]\r\nfoo=bar\r\nselected=1,3,\r\n");
    EXPECT_EQ(ReadSelectionSetting(), QStringLiteral("1,3,"));
    WriteConfig("[target_site]\nselected= 1,\n");
    EXPECT_EQ(ReadSelectionSetting(), QStringLiteral(" 1,"));
    WriteConfig("[target_site]\nother=1\n");
    EXPECT_EQ(ReadSelectionSetting(), QString());
}

TEST_F(RuleSetTest, IniWriterKeepsEverythingElse) {
    const QString ini = folder.File(QStringLiteral("config.ini"));
    WriteConfig(
        "; comment\r\n[window]\r\nwidth=1024\r\n\r\n[target_site]\r\nselected=1,\r\nkeep=yes\r\n");
    ASSERT_TRUE(WriteIniValue(ini, QStringLiteral("target_site"), QStringLiteral("selected"),
                              QStringLiteral("1,3,")));
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("; comment\r\n[window]\r\nwidth=1024\r\n\r\n[target_site]\r\n"
                                      "selected=1,3,\r\nkeep=yes\r\n"));
    f.close();
    ASSERT_TRUE(
        WriteIniValue(ini, QStringLiteral("new"), QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_EQ(ReadIniValue(ini, QStringLiteral("new"), QStringLiteral("k")), QStringLiteral("v"));
    EXPECT_EQ(ReadIniValue(ini, QStringLiteral("window"), QStringLiteral("width")),
              QStringLiteral("1024"));
    EXPECT_FALSE(WriteIniValue(folder.File(QStringLiteral("no/such/dir/config.ini")),
                               QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")));
}

TEST_F(RuleSetTest, ImportedScriptReplacesShippedRowsAndKeepsTheRest) {
    const QString script = folder.File(QStringLiteral("rules.sql"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("-- two rules\n"
                "INSERT OR REPLACE INTO site_rule(id, site_name, site_url) VALUES (1, '一', "
                "'@BASE@/a/');\n"
                "INSERT OR REPLACE INTO site_rule(id, site_name, site_url) VALUES (2, '二', "
                "'@BASE@/b/');\n");
    }
    AddRule(1, QStringLiteral("old"));
    AddRule(7, QStringLiteral("mine"));
    AddLatestRead(QStringLiteral("一"), QStringLiteral("书"), QString(), QString(), QString());
    ASSERT_TRUE(ImportRuleScript(script, QStringLiteral("http://h:1")));
    const TRuleInfoList rules = LoadRuleInfoList();
    EXPECT_EQ(Ids(rules),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("7")}));
    EXPECT_EQ(rules[0].strSiteUrl, QStringLiteral("http://h:1/a/"));
    EXPECT_EQ(GetLatestReadId(QStringLiteral("一"), QStringLiteral("书")), 1);
    EXPECT_FALSE(ImportRuleScript(folder.File(QStringLiteral("missing.sql"))));
}

} // namespace
