// Site rules from zvrd.db, the selection setting in config.ini, combineUrl and fileExtension.
#include "rules/RuleSet.h"
#include "core/IniFile.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/TempDataFolder.h"

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
            combineUrl(QString::fromUtf8(c.base), QString::fromUtf8(c.relative)).toStdString(),
            std::string(c.expected))
            << c.base << " + " << c.relative;
    }
}

TEST(CombineUrlTest, ResultsOver2047CharactersAreRefused) {
    const QString base = QStringLiteral("http://a.com/");
    EXPECT_EQ(combineUrl(base, QString(2047 - base.size(), QLatin1Char('x'))).size(), 2047);
    EXPECT_EQ(combineUrl(base, QString(2048 - base.size(), QLatin1Char('x'))), QString());
}

TEST(FileExtensionTest, TakesTheTextAfterTheLastDot) {
    EXPECT_EQ(fileExtension(QStringLiteral("http://a.com/pic/1.2.png")), QStringLiteral("png"));
    EXPECT_EQ(fileExtension(QStringLiteral("nodot")), QStringLiteral("nodot"));
    EXPECT_EQ(fileExtension(QStringLiteral("ends.")), QString());
    EXPECT_EQ(fileExtension(QStringLiteral("a.jpg?v=1")), QStringLiteral("jpg?v=1"));
    EXPECT_EQ(fileExtension(QStringLiteral("a.JPG")), QStringLiteral("JPG"));
}

class RuleSetTest : public ::testing::Test {
protected:
    void SetUp() override { createMissingTables(); }

    static void addRule(int id, const QString& name, const QString& namePattern = QString()) {
        SqliteDatabase db(ruleDatabasePath());
        db.addParamText(QStringLiteral(":name"), name);
        db.addParamText(QStringLiteral(":pattern"), namePattern);
        db.exec(QStringLiteral("insert into site_rule(id, site_name, info_page_novel_name) "
                               "values(%1, :name, :pattern)")
                    .arg(id));
    }

    static QStringList ids(const SiteRuleList& rules) {
        QStringList ids;
        for (const SiteRule& r : rules)
            ids << r.id;
        return ids;
    }

    void writeConfig(const QByteArray& text) {
        QFile f(folder.file(QStringLiteral("config.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    test::TempDataFolder folder;
};

TEST_F(RuleSetTest, LoadsEveryRuleInTableOrderWithNullsAsEmptyText) {
    EXPECT_TRUE(loadSiteRules().isEmpty());
    addRule(3, QStringLiteral("三"), QStringLiteral("<h1>(.+?)</h1>"));
    addRule(1, QStringLiteral("一"));
    const SiteRuleList rules = loadSiteRules();
    ASSERT_EQ(rules.size(), 2);
    EXPECT_EQ(ids(rules), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    EXPECT_EQ(rules[1].siteName, QStringLiteral("三"));
    EXPECT_EQ(rules[1].infoNovelName, QStringLiteral("<h1>(.+?)</h1>"));
    EXPECT_TRUE(rules[0].searchUrlFormat.isNull() || rules[0].searchUrlFormat.isEmpty());
    EXPECT_EQ(ruleColumnNames().size(), 21);
}

// A site_rule table made without column types, whose first row holds NULLs, gives the same
// rules as a typed one.
TEST_F(RuleSetTest, ATableWithoutTypesGivesTheSameRules) {
    addRule(1, QStringLiteral("一"));
    addRule(3, QStringLiteral("三"), QStringLiteral("<h1>(.+?)</h1>"));
    const SiteRuleList typed = loadSiteRules();
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("drop table site_rule"));
        db.exec(QStringLiteral("create table site_rule(%1)")
                    .arg(ruleColumnNames().join(QLatin1Char(','))));
    }
    addRule(1, QStringLiteral("一"));
    addRule(3, QStringLiteral("三"), QStringLiteral("<h1>(.+?)</h1>"));
    const SiteRuleList untyped = loadSiteRules();
    ASSERT_EQ(untyped.size(), typed.size());
    for (qsizetype i = 0; i < typed.size(); ++i) {
        EXPECT_EQ(untyped[i].id, typed[i].id);
        EXPECT_EQ(untyped[i].siteName, typed[i].siteName);
        EXPECT_EQ(untyped[i].infoNovelName, typed[i].infoNovelName);
    }
}

// A newer shipped set replaces the shipped rows, once per version; the user's own rows stay.
TEST_F(RuleSetTest, ShippedRulesReplaceOnlyShippedRowsOncePerVersion) {
    addRule(1, QStringLiteral("用户改过的"));
    addRule(50, QStringLiteral("用户自己的"));
    auto shipped = [&](int version, const char* name) {
        QFile file(folder.file(QStringLiteral("site_rules.sql")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            QStringLiteral("-- shipped-rules-version: %1\n"
                           "INSERT OR REPLACE INTO site_rule(id, site_name) VALUES (1, '%2');\n"
                           "INSERT OR REPLACE INTO site_rule(id, site_name) VALUES (2, '新站');\n")
                .arg(version)
                .arg(QString::fromUtf8(name))
                .toUtf8());
        file.close();
        return installShippedRules(file.fileName());
    };
    EXPECT_TRUE(shipped(2, "笔趣阁"));
    EXPECT_EQ(installedRulesVersion(), 2);
    const SiteRuleList rules = loadSiteRules();
    EXPECT_EQ(ids(rules),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("50")}));
    EXPECT_EQ(rules[0].siteName, QStringLiteral("笔趣阁"));
    EXPECT_EQ(rules[2].siteName, QStringLiteral("用户自己的"));
    addRule(3, QStringLiteral("用户加的"));
    EXPECT_FALSE(shipped(2, "again")); // the same version is taken once
    EXPECT_FALSE(shipped(1, "older"));
    EXPECT_EQ(findRuleBySiteName(loadSiteRules(), QStringLiteral("again")).id, QString());
    EXPECT_TRUE(shipped(3, "第三版"));
    EXPECT_EQ(loadSiteRules().size(), 4);
    EXPECT_FALSE(installShippedRules(folder.file(QStringLiteral("missing.sql"))));
    // The file the build and the package ship names its version.
    QFile real(QStringLiteral(ZVRD_SOURCE_DIR "/data/site_rules.sql"));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    EXPECT_GT(shippedRulesVersion(QString::fromUtf8(real.readAll())), 0);
}

TEST_F(RuleSetTest, AMissingColumnRaisesTheAccessLayersError) {
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("drop table site_rule"));
        db.exec(QStringLiteral("create table site_rule(id INTEGER, site_name TEXT)"));
        db.exec(QStringLiteral("insert into site_rule values(1, 'x')"));
    }
    try {
        loadSiteRules();
        FAIL() << "no exception";
    } catch (const SqliteException& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Field not found in dataset: site_url"));
    }
}

TEST_F(RuleSetTest, LookupByNameFindsTheFirstInLoadOrder) {
    addRule(1, QStringLiteral("站"), QStringLiteral("first"));
    addRule(2, QStringLiteral("站"), QStringLiteral("second"));
    const SiteRuleList rules = loadSiteRules();
    EXPECT_EQ(findRuleBySiteName(rules, QStringLiteral("站")).infoNovelName,
              QStringLiteral("first"));
    EXPECT_TRUE(findRuleBySiteName(rules, QStringLiteral("站 ")).id.isEmpty());
}

TEST_F(RuleSetTest, SelectionKeepsLoadOrderExactIdsAndEachRuleOnce) {
    for (int id : {1, 2, 3})
        addRule(id, QStringLiteral("s%1").arg(id));
    const SiteRuleList rules = loadSiteRules();
    EXPECT_EQ(ids(selectRules(rules, QStringLiteral("3,1,"))),
              (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    EXPECT_EQ(ids(selectRules(rules, QStringLiteral("1, 2"))), QStringList{QStringLiteral("1")});
    EXPECT_EQ(ids(selectRules(rules, QStringLiteral("2,2,2,"))), QStringList{QStringLiteral("2")});
    EXPECT_EQ(ids(selectRules(rules, QStringLiteral("9,,3"))), QStringList{QStringLiteral("3")});
    EXPECT_TRUE(selectRules(rules, QString()).isEmpty());
    EXPECT_TRUE(selectRules(rules, QStringLiteral(" 1,")).isEmpty());
}

TEST_F(RuleSetTest, SelectionSettingIsReadAsWritten) {
    EXPECT_EQ(readSelectionSetting(), QString()); // no config.ini
    writeConfig("[other]\r\nselected=9,\r\n[Target_Site]\r\nfoo=bar\r\nselected=1,3,\r\n");
    EXPECT_EQ(readSelectionSetting(), QStringLiteral("1,3,"));
    writeConfig("[target_site]\nselected= 1,\n");
    EXPECT_EQ(readSelectionSetting(), QStringLiteral(" 1,"));
    writeConfig("[target_site]\nother=1\n");
    EXPECT_EQ(readSelectionSetting(), QString());
}

TEST_F(RuleSetTest, IniWriterKeepsEverythingElse) {
    const QString ini = folder.file(QStringLiteral("config.ini"));
    writeConfig(
        "; comment\r\n[window]\r\nwidth=1024\r\n\r\n[target_site]\r\nselected=1,\r\nkeep=yes\r\n");
    ASSERT_TRUE(writeIniValue(ini, QStringLiteral("target_site"), QStringLiteral("selected"),
                              QStringLiteral("1,3,")));
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("; comment\r\n[window]\r\nwidth=1024\r\n\r\n[target_site]\r\n"
                                      "selected=1,3,\r\nkeep=yes\r\n"));
    f.close();
    ASSERT_TRUE(
        writeIniValue(ini, QStringLiteral("new"), QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_EQ(readIniValue(ini, QStringLiteral("new"), QStringLiteral("k")), QStringLiteral("v"));
    EXPECT_EQ(readIniValue(ini, QStringLiteral("window"), QStringLiteral("width")),
              QStringLiteral("1024"));
    EXPECT_FALSE(writeIniValue(folder.file(QStringLiteral("no/such/dir/config.ini")),
                               QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")));
}

TEST_F(RuleSetTest, ImportedScriptReplacesShippedRowsAndKeepsTheRest) {
    const QString script = folder.file(QStringLiteral("rules.sql"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("-- two rules\n"
                "INSERT OR REPLACE INTO site_rule(id, site_name, site_url) VALUES (1, '一', "
                "'@BASE@/a/');\n"
                "INSERT OR REPLACE INTO site_rule(id, site_name, site_url) VALUES (2, '二', "
                "'@BASE@/b/');\n");
    }
    addRule(1, QStringLiteral("old"));
    addRule(7, QStringLiteral("mine"));
    addRecentRead(QStringLiteral("一"), QStringLiteral("书"), QString(), QString(), QString());
    ASSERT_TRUE(importRuleScript(script, QStringLiteral("http://h:1")));
    const SiteRuleList rules = loadSiteRules();
    EXPECT_EQ(ids(rules),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("7")}));
    EXPECT_EQ(rules[0].siteUrl, QStringLiteral("http://h:1/a/"));
    EXPECT_EQ(recentReadId(QStringLiteral("一"), QStringLiteral("书")), 1);
    EXPECT_FALSE(importRuleScript(folder.file(QStringLiteral("missing.sql"))));
}

} // namespace
