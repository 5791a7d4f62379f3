// Site rules from zvrd.db, the selection setting in config.ini, combineUrl and fileExtension.
#include "rules/RuleSet.h"
#include "core/IniFile.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"
#include "support/TempDataFolder.h"

#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>

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
        // unsafe characters are escaped before "?", after it only blanks and controls (an
        // address with a blank cannot be fetched); "%" is left alone
        {"http://a.com/b/", "my page.html?q=a b ", "http://a.com/b/my%20page.html?q=a%20b%20"},
        {"http://a.com/b/", "x.html?q=第1章", "http://a.com/b/x.html?q=第1章"},
        {"http://a.com/b/", "x%20y.html", "http://a.com/b/x%20y.html"},
        {"http://a.com/b/", "第1章.html", "http://a.com/b/%E7%AC%AC1%E7%AB%A0.html"},
        {"http://a.com/b/", "a\"b<c>.html#x y", "http://a.com/b/a%22b%3Cc%3E.html#x%20y"},
        // cannot combine, or nothing the reader can fetch: empty
        {"not an address", "x.html", ""},
        {"", "x.html", ""},
        {"http://a.com/b/", "javascript:void(0)", ""},
        {"http://a.com/b/", "mailto:x@a.com", ""},
        {"ftp://a.com/b/", "c.html", ""},
        {"http://a.com/b/", "//evil.example:99999/x", ""},
        {"http://a.com/b/", "http://@/x", ""},
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
    void SetUp() override { prepareLibrary(); }

    static void addRule(int id, const QString& name, const QString& namePattern = QString(),
                        const QString& url = QString()) {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("insert into site_rule(id, site_name, info_page_novel_name, "
                               "site_url) values(?1, ?2, ?3, ?4)"),
                {id, name, namePattern, url});
    }

    // A rule file of rows (id, site_name, site_url, info_page_novel_name); version 0 writes no
    // version line.
    struct Row {
        int id;
        const char* name;
        const char* url;
        const char* pattern;
    };
    QString ruleFile(const QString& name, int version, const std::vector<Row>& rows,
                     const QByteArray& extra = QByteArray()) {
        QByteArray text;
        if (version > 0)
            text += "-- shipped-rules-version: " + QByteArray::number(version) + '\n';
        for (const Row& row : rows)
            text += QStringLiteral("INSERT OR REPLACE INTO site_rule(id, site_name, site_url, "
                                   "info_page_novel_name) VALUES (%1, '%2', '%3', '%4');\n")
                        .arg(row.id)
                        .arg(QString::fromUtf8(row.name), QString::fromUtf8(row.url),
                             QString::fromUtf8(row.pattern))
                        .toUtf8();
        text += extra;
        QFile file(folder.file(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return file.fileName();
    }

    // Every rule as "id name url pattern", in id order.
    static QStringList ruleTexts() {
        QStringList texts;
        SiteRuleList rules = loadSiteRules();
        std::sort(rules.begin(), rules.end(),
                  [](const SiteRule& a, const SiteRule& b) { return a.id.toInt() < b.id.toInt(); });
        for (const SiteRule& r : rules)
            texts << QStringList{r.id, r.siteName, r.siteUrl, r.infoNovelName}.join(
                QLatin1Char(' '));
        return texts;
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

// A library of the original design holds the user's own rules at ids 1-11; one of them is for
// the address of a shipped site. No shipped set ever changes them, a shipped row the user left
// alone follows each new set, and one the user changed stays and is named once.
TEST_F(RuleSetTest, ShippedRulesNeverTouchTheUsersOwnRows) {
    for (int id = 1; id <= 11; ++id)
        addRule(id, QStringLiteral("自己的%1").arg(id), QStringLiteral("own"),
                id == 5 ? QStringLiteral("https://C.example")
                        : QStringLiteral("http://own%1/").arg(id));
    const QStringList own = ruleTexts();
    auto install = [&](int version, const std::vector<Row>& rows) {
        return installShippedRules(ruleFile(QStringLiteral("site_rules.sql"), version, rows));
    };
    const std::vector<Row> first = {{1, "甲", "http://a.example/", "v1"},
                                    {2, "乙", "http://b.example/", "v1"},
                                    {3, "丙", "http://c.example/", "v1"}};
    EXPECT_TRUE(install(1, first).installed);  // the first start
    EXPECT_FALSE(install(1, first).installed); // the second start: taken once
    EXPECT_FALSE(install(0, first).installed);
    QStringList expected = own;
    expected << QStringLiteral("12 甲 http://a.example/ v1")
             << QStringLiteral("13 乙 http://b.example/ v1");
    EXPECT_EQ(ruleTexts(), expected); // 丙 is the user's rule 5

    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("update site_rule set info_page_novel_name='mine' where id=13"));
    }
    const std::vector<Row> second = {{1, "甲", "http://a.example/", "v2"},
                                     {2, "乙", "http://b.example/", "v2"},
                                     {3, "丙", "http://c.example/", "v2"},
                                     {4, "丁", "http://d.example/", "v2"}};
    const ShippedRulesOutcome outcome = install(2, second);
    EXPECT_TRUE(outcome.installed);
    EXPECT_EQ(outcome.keptSites, QStringList{QStringLiteral("乙")});
    EXPECT_TRUE(keptRulesNotice(outcome.keptSites).contains(QStringLiteral("乙")));
    expected = own;
    expected << QStringLiteral("12 甲 http://a.example/ v2")
             << QStringLiteral("13 乙 http://b.example/ mine")
             << QStringLiteral("14 丁 http://d.example/ v2");
    EXPECT_EQ(ruleTexts(), expected);
    EXPECT_EQ(installedRulesVersion(), 2);
    // A set that leaves 乙 as it was does not name it again.
    EXPECT_TRUE(install(3, second).keptSites.isEmpty());
    EXPECT_EQ(ruleTexts(), expected);
    EXPECT_FALSE(installShippedRules(folder.file(QStringLiteral("missing.sql"))).installed);
}

// The sets the build and the package ship name their version, carry no table of their own and
// go in beside a user's own rules at every id they use.
TEST_F(RuleSetTest, TheShippedFilesInsertRowsOnly) {
    QFile real(QStringLiteral(ZVRD_SOURCE_DIR "/data/site_rules.sql"));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(real.readAll());
    EXPECT_GT(shippedRulesVersion(text), 0);
    EXPECT_FALSE(text.contains(QStringLiteral("CREATE"), Qt::CaseInsensitive));
    for (int id = 1; id <= 11; ++id)
        addRule(id, QStringLiteral("自己的%1").arg(id));
    const QStringList own = ruleTexts();
    ASSERT_TRUE(installShippedRules(real.fileName()).installed);
    EXPECT_EQ(ruleTexts().mid(0, 11), own.mid(0, 11));
    EXPECT_EQ(loadSiteRules().size(),
              11 + text.count(QStringLiteral("INSERT OR REPLACE INTO site_rule")));
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

// Imported rows are the user's: they take their ids; a shipped row standing there moves, and the
// selection follows it. A file written for the original design (its own CREATE, rows by
// position) still imports.
TEST_F(RuleSetTest, ImportedRowsAreTheUsersAndShippedRowsMakeRoom) {
    ASSERT_TRUE(installShippedRules(ruleFile(QStringLiteral("site_rules.sql"), 1,
                                             {{1, "甲", "http://a.example/", "v1"},
                                              {2, "乙", "http://b.example/", "v1"}}))
                    .installed);
    writeConfig("[target_site]\nselected=1,2,\n");
    const QString old = folder.file(QStringLiteral("old.sql"));
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("CREATE TABLE site_rule (id INTEGER PRIMARY KEY, %1 TEXT);\n"
                               "CREATE TABLE IF NOT EXISTS latest_read (id INTEGER PRIMARY KEY);\n"
                               "BEGIN;\nINSERT OR REPLACE INTO site_rule VALUES (2, '我的', "
                               "'http://mine/'%2);\nINSERT INTO site_rule(site_name) VALUES "
                               "('无号');\nCOMMIT;\n")
                    .arg(ruleColumnNames().mid(1).join(QStringLiteral(" TEXT, ")),
                         QStringLiteral(", ''").repeated(18))
                    .toUtf8());
    }
    ASSERT_TRUE(importRuleScript(old));
    EXPECT_EQ(ruleTexts(), (QStringList{QStringLiteral("1 甲 http://a.example/ v1"),
                                        QStringLiteral("2 我的 http://mine/ "),
                                        QStringLiteral("3 乙 http://b.example/ v1"),
                                        QStringLiteral("4 无号  ")}));
    EXPECT_EQ(readSelectionSetting(), QStringLiteral("1,3,"));
    // The next start leaves every imported row as it is.
    EXPECT_FALSE(installShippedRules(folder.file(QStringLiteral("site_rules.sql"))).installed);
    EXPECT_TRUE(installShippedRules(ruleFile(QStringLiteral("site_rules.sql"), 2,
                                             {{1, "甲", "http://a.example/", "v2"},
                                              {2, "乙", "http://b.example/", "v2"}}))
                    .installed);
    EXPECT_EQ(ruleTexts(), (QStringList{QStringLiteral("1 甲 http://a.example/ v2"),
                                        QStringLiteral("2 我的 http://mine/ "),
                                        QStringLiteral("3 乙 http://b.example/ v2"),
                                        QStringLiteral("4 无号  ")}));
}

// Per-site data lives in site_* tables keyed by site_id: rule files fill them, and their rows go
// and move with their site's rule.
TEST_F(RuleSetTest, PerSiteTablesTravelWithTheirSite) {
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("create table site_pace (site_id INTEGER PRIMARY KEY, pace TEXT)"));
    }
    addRule(1, QStringLiteral("自己的"));
    auto pace = [](int id) {
        SqliteDatabase db(ruleDatabasePath());
        return db.stringValue(QStringLiteral("select pace from site_pace where site_id=?1"), {id});
    };
    ASSERT_TRUE(installShippedRules(ruleFile(QStringLiteral("site_rules.sql"), 1,
                                             {{1, "甲", "http://a.example/", "v1"}},
                                             "INSERT INTO site_pace VALUES (1, 'slow');\n"))
                    .installed);
    EXPECT_EQ(pace(1), QString());
    EXPECT_EQ(pace(2), QStringLiteral("slow")); // with 甲, at the free id
    ASSERT_TRUE(importRuleScript(
        ruleFile(QStringLiteral("mine.sql"), 0, {{2, "我的", "http://mine/", ""}})));
    EXPECT_EQ(pace(2), QString());
    EXPECT_EQ(pace(3), QStringLiteral("slow"));
    EXPECT_EQ(findRuleBySiteName(loadSiteRules(), QStringLiteral("甲")).id, QStringLiteral("3"));
    EXPECT_THROW(importRuleScript(ruleFile(QStringLiteral("orphan.sql"), 0, {},
                                           "INSERT INTO site_pace VALUES (9, 'fast');\n")),
                 SqliteException);
    EXPECT_EQ(pace(9), QString());
}

// A rule file may only add or replace rule rows: anything else is refused by name and nothing
// of the file is taken.
TEST_F(RuleSetTest, ARuleFileThatDoesMoreIsRefusedWhole) {
    addRule(1, QStringLiteral("自己的"));
    addRecentRead(QStringLiteral("自己的"), QStringLiteral("书"), QString(), QString(), QString());
    saveChapter(1, 0, ChapterKind::Text, 1, QStringLiteral("正文"));
    auto bytes = [] {
        QByteArray all;
        for (const QString& path : {ruleDatabasePath(), novelDatabasePath()}) {
            SqliteDatabase(path).stringValue(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::ReadOnly));
            all += file.readAll();
        }
        return all;
    };
    const QByteArray library = bytes();
    for (const QString& statement :
         {QStringLiteral("DROP TABLE latest_read;"), QStringLiteral("DELETE FROM latest_read;"),
          QStringLiteral("DELETE FROM site_rule;"), QStringLiteral("UPDATE site_rule SET id=5;"),
          QStringLiteral("ATTACH '%1' AS n; DELETE FROM n.novel_chapter;").arg(novelDatabasePath()),
          QStringLiteral("ATTACH 'x.db' AS x; CREATE TABLE x.t AS SELECT * FROM site_rule;"),
          QStringLiteral("PRAGMA user_version=0;"), QStringLiteral("CREATE TABLE evil(a);"),
          QStringLiteral("INSERT INTO latest_read(novel_name) VALUES('x');"),
          QStringLiteral("COMMIT; VACUUM INTO 'copy.db';")}) {
        const QString file = ruleFile(QStringLiteral("evil.sql"), 0,
                                      {{7, "七", "http://seven/", ""}}, statement.toUtf8());
        try {
            importRuleScript(file);
            ADD_FAILURE() << "taken: " << statement.toStdString();
        } catch (const SqliteException& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("不能执行")))
                << statement.toStdString();
        }
        EXPECT_EQ(bytes(), library) << statement.toStdString();
    }
    EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("copy.db"))));
    EXPECT_FALSE(QFile::exists(QStringLiteral("copy.db")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("x.db")));
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
