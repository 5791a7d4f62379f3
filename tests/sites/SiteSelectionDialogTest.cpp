// The target-site dialog offscreen with a real zvrd.db and config.ini.
#include "sites/SiteSelectionDialog.h"
#include "TestSite.h"
#include "core/IniFile.h"
#include "net/RequestHeaders.h"
#include "net/SiteLimiter.h"
#include "rules/RuleSet.h"
#include "sites/SiteRuleDialog.h"
#include "sites/SiteSpeedDialog.h"
#include "sites/SitesFixture.h"
#include "sites/SpeedTest.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/Layouts.h"
#include "support/TempDataFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <tuple>

using namespace zvrd;

using zvrd::test::SiteSelectionDialogTest;

namespace {

TEST_F(SiteSelectionDialogTest, ListsEveryRuleWithItsTickAndCaptions) {
    writeConfig("[target_site]\r\nselected=1,3,\r\n");
    SiteSelectionDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("目标站选择"));
    EXPECT_EQ(dialog.size().expandedTo(QSize(589, 432)), dialog.size()); // the design's, at least
    EXPECT_EQ(Column(dialog, 0), (QStringList{QStringLiteral("1"), QStringLiteral("2"),
                                              QStringLiteral("3"), QStringLiteral("10")}));
    EXPECT_EQ(Column(dialog, 1), (QStringList{QStringLiteral("笔趣阁"), QStringLiteral("Alpha"),
                                              QStringLiteral("beta"), QString()}));
    EXPECT_EQ(Column(dialog, 3), QStringList(4, QStringLiteral("未知")));
    EXPECT_EQ(Column(dialog, 4), QStringList(4, QStringLiteral("20 个 / 50 毫秒")));
    EXPECT_EQ(ticks(dialog), (QList<bool>{true, false, true, false}));
    EXPECT_EQ(dialog.selectionValue(), QStringLiteral("1,3,"));
    EXPECT_EQ(
        dialog.statusText(),
        QStringLiteral("如果连接速度为负值或大于3秒，则说明目标站访问速度过慢，建议取消选择。"));
}

TEST_F(SiteSelectionDialogTest, ALargerFontGrowsTheDialogInsteadOfClippingIt) {
    SiteSelectionDialog dialog;
    EXPECT_EQ(test::clippedButtons(dialog, 26), QStringList());
    EXPECT_GT(dialog.width(), 589);
}

TEST_F(SiteSelectionDialogTest, APieceWithABlankTicksNothing) {
    writeConfig("[target_site]\r\nselected= 1,\r\n");
    SiteSelectionDialog dialog;
    EXPECT_EQ(ticks(dialog), (QList<bool>{false, false, false, false}));
    EXPECT_EQ(dialog.selectionValue(), QString());
}

TEST_F(SiteSelectionDialogTest, ConfirmingWritesTheTickedIdsAndKeepsTheRestOfTheFile) {
    writeConfig("[window]\r\nmax=1\r\n[target_site]\r\nselected=1,3,\r\n");
    ASSERT_TRUE(runAndClose(true));
    EXPECT_EQ(config(), QByteArray("[window]\r\nmax=1\r\n[target_site]\r\nselected=1,3,\r\n"));
    ASSERT_TRUE(runAndClose(true, [](SiteSelectionDialog& d) {
        d.list()->item(0, 0)->setCheckState(Qt::Unchecked);
        d.list()->item(3, 0)->setCheckState(Qt::Checked);
    }));
    EXPECT_EQ(readSelectionSetting(), QStringLiteral("3,10,"));
    ASSERT_TRUE(runAndClose(true, [](SiteSelectionDialog& d) {
        for (int r = 0; r < d.list()->rowCount(); ++r)
            d.list()->item(r, 0)->setCheckState(Qt::Unchecked);
    }));
    EXPECT_EQ(config(), QByteArray("[window]\r\nmax=1\r\n[target_site]\r\nselected=\r\n"));
}

TEST_F(SiteSelectionDialogTest, CancellingWritesNothing) {
    ASSERT_TRUE(runAndClose(false, [](SiteSelectionDialog& d) { d.selectAllButton()->click(); }));
    EXPECT_EQ(config(), QByteArray("<missing>"));
    writeConfig("[target_site]\r\nselected=2,\r\n");
    ASSERT_TRUE(runAndClose(false, [](SiteSelectionDialog& d) { d.selectAllButton()->click(); }));
    EXPECT_EQ(config(), QByteArray("[target_site]\r\nselected=2,\r\n"));
}

TEST_F(SiteSelectionDialogTest, AnUnwritableConfigSavesNothing) {
    QFile::remove(folder.file(QStringLiteral("config.ini")));
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("config.ini"))); // a folder in its place
    QTimer::singleShot(0, [] {
        // The error box that follows the dialog.
        QTimer::singleShot(200, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        if (auto* dialog = qobject_cast<SiteSelectionDialog*>(QApplication::activeModalWidget()))
            dialog->accept();
    });
    EXPECT_FALSE(runSiteSelectionDialog(nullptr));
}

TEST_F(SiteSelectionDialogTest, SortingByAHeaderDecidesTheWrittenOrder) {
    writeConfig("[target_site]\r\nselected=1,2,3,10,\r\n");
    ASSERT_TRUE(runAndClose(true, [](SiteSelectionDialog& d) {
        d.sortByColumn(1); // by name, case ignored, empty last
        EXPECT_EQ(Column(d, 1), (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta"),
                                             QStringLiteral("笔趣阁"), QString()}));
        d.sortByColumn(1); // reversed
        EXPECT_EQ(Column(d, 1), (QStringList{QString(), QStringLiteral("笔趣阁"),
                                             QStringLiteral("beta"), QStringLiteral("Alpha")}));
        d.sortByColumn(0); // ids as text: 10 before 2
        EXPECT_EQ(Column(d, 0), (QStringList{QStringLiteral("1"), QStringLiteral("10"),
                                             QStringLiteral("2"), QStringLiteral("3")}));
        d.sortByColumn(2); // addresses, the empty one last
        EXPECT_EQ(Column(d, 1), (QStringList{QStringLiteral("Alpha"), QStringLiteral("笔趣阁"),
                                             QString(), QStringLiteral("beta")}));
    }));
    EXPECT_EQ(readSelectionSetting(), QStringLiteral("2,1,10,3,"));
}

TEST_F(SiteSelectionDialogTest, SelectAllAndInvertAreCommands) {
    writeConfig("[target_site]\r\nselected=2,\r\n");
    SiteSelectionDialog dialog;
    dialog.invertButton()->click();
    EXPECT_EQ(ticks(dialog), (QList<bool>{true, false, true, true}));
    dialog.invertButton()->click(); // each click inverts again
    EXPECT_EQ(ticks(dialog), (QList<bool>{false, true, false, false}));
    dialog.selectAllButton()->click();
    EXPECT_EQ(ticks(dialog), (QList<bool>{true, true, true, true}));
    dialog.invertButton()->click();
    EXPECT_EQ(ticks(dialog), (QList<bool>{false, false, false, false}));
}

// Limits set in the edit dialog are kept in the library, shown in the list, honoured by the
// site's limiter, and 恢复默认 takes them away.
TEST_F(SiteSelectionDialogTest, ASitesOwnSpeedLimitIsKeptShownAndReset) {
    SiteSelectionDialog dialog;
    const SiteRule rule = findRuleBySiteName(loadSiteRules(), QStringLiteral("Alpha"));
    QString problem;
    {
        SiteSpeedDialog edit(rule);
        edit.inFlightBox()->setValue(3);
        edit.spacingBox()->setValue(800);
        edit.adaptBox()->setChecked(false);
        ASSERT_TRUE(edit.save(&problem)) << problem.toStdString();
    }
    const SiteSpeed kept = siteSpeed(rule);
    EXPECT_TRUE(kept.own);
    EXPECT_EQ(std::tuple(kept.inFlight, kept.spacingMs, kept.adapt), std::tuple(3, 800, false));
    EXPECT_EQ(SiteLimiter::of(rule.siteUrl)->inFlightLimit(), 3);
    EXPECT_EQ(siteSpeedText(rule), QStringLiteral("3 个 / 800 毫秒（固定）"));
    {
        SiteSpeedDialog edit(rule); // shows what was kept
        EXPECT_EQ(edit.spacingBox()->value(), 800);
        edit.resetToDefault();
        ASSERT_TRUE(edit.save(&problem));
    }
    EXPECT_FALSE(siteSpeed(rule).own);
    EXPECT_EQ(SiteLimiter::of(rule.siteUrl)->inFlightLimit(), SiteLimiter::kInFlight);
}

// The rule editor keeps next pages, headers and the cookie (a malformed header line keeps
// nothing), and tries a rule out as shown, unsaved: the mobile site's chapter needs the linking
// page as Referer. Closed unsaved, every fetch is back to what is kept.
TEST_F(SiteSelectionDialogTest, TheRuleEditorKeepsAndTriesARule) {
    testsite::TestSite site;
    SiteRule rule = findRuleBySiteName(loadSiteRules(), QStringLiteral("Alpha"));
    QString problem;
    {
        SiteRuleDialog edit(rule);
        edit.listNextEdit()->setText(QStringLiteral("<a class=\"next\" href=\"([^\"]+)\">"));
        edit.distinctBox()->setChecked(true);
        edit.userAgentEdit()->setText(QStringLiteral("UA/1"));
        edit.headersEdit()->setPlainText(QStringLiteral("X-A: 1\nnot a header"));
        edit.cookieEdit()->setText(QStringLiteral("sid=1"));
        EXPECT_FALSE(edit.save(&problem));
        EXPECT_TRUE(problem.contains(QStringLiteral("第 2 行"))) << problem.toStdString();
        EXPECT_TRUE(findRuleBySiteName(loadSiteRules(), rule.siteName).userAgent.isEmpty());
        edit.headersEdit()->setPlainText(QStringLiteral("X-A: 1"));
        edit.checkWordEdit()->setText(QStringLiteral("剑来"));
        ASSERT_TRUE(edit.save(&problem)) << problem.toStdString();
    }
    rule = findRuleBySiteName(loadSiteRules(), rule.siteName);
    EXPECT_EQ(std::tuple(rule.directoryNextPage, rule.distinctLinks, rule.userAgent,
                         rule.extraHeaders, siteCookie(rule), rule.checkKeyword),
              std::tuple(QStringLiteral("<a class=\"next\" href=\"([^\"]+)\">"), true,
                         QStringLiteral("UA/1"), QStringLiteral("X-A: 1"), QStringLiteral("sid=1"),
                         QStringLiteral("剑来")));

    addRule(20, "手机", "");
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("update site_rule set site_url=?1, charset='utf-8', "
                               "chapter_page_chapter_content=?2 where id=20"),
                {site.baseUrl() + QStringLiteral("/m/"),
                 QStringLiteral("<div id=\"nr1\">(.+?)</div>")});
    }
    const SiteRule mobile = findRuleBySiteName(loadSiteRules(), QStringLiteral("手机"));
    const QString chapter = site.baseUrl() + QStringLiteral("/m/book/1/2.html");
    {
        SiteRuleDialog edit(mobile);
        edit.trialAddressEdit()->setText(chapter);
        QSignalSpy finished(&edit, &SiteRuleDialog::trialFinished);
        for (const auto& [mode, read] : {std::pair{2, true}, std::pair{0, false}}) {
            edit.refererBox()->setCurrentIndex(mode);
            edit.startTrial(SiteRuleDialog::Trial::Chapter);
            ASSERT_TRUE(finished.wait(10000));
            EXPECT_EQ(edit.trialOutput()->toPlainText().startsWith(QStringLiteral("正文")), read)
                << edit.trialOutput()->toPlainText().toStdString();
        }
        edit.refererBox()->setCurrentIndex(2);
        edit.startTrial(SiteRuleDialog::Trial::Chapter);
        ASSERT_TRUE(finished.wait(10000));
        EXPECT_FALSE(requestHeaderLines(chapter, QString()).isEmpty());
    }
    EXPECT_TRUE(requestHeaderLines(chapter, QString()).isEmpty());
}

TEST_F(SiteSelectionDialogTest, AnEmptyRuleTableDisablesTheSpeedTest) {
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("delete from site_rule"));
    }
    int measured = 0;
    SiteSelectionDialog dialog(nullptr, [&](const QString&) {
        ++measured;
        return 0.1;
    });
    EXPECT_EQ(dialog.list()->rowCount(), 0);
    dialog.speedTestButton()->click();
    QTest::qWait(200);
    EXPECT_EQ(measured, 0);
    EXPECT_EQ(Worker::running(), 0);
    EXPECT_EQ(dialog.statusText().left(4), QStringLiteral("如果连接"));
}

} // namespace

// 检查站点 checks the ticked sites in the background: each row's 状态 tells how its check went,
// with the reason as tooltip and the steps in the detail pane; a dialog opened later shows the
// kept results.
TEST_F(SiteSelectionDialogTest, TheHealthCheckFillsTheStatusColumn) {
    testsite::TestSite site;
    ASSERT_TRUE(
        importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"), site.baseUrl()));
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("update site_rule set directory_page_chapter_name_and_url="
                               "'<li>(.+?)</li>' where id=902"));
    }
    writeConfig("[target_site]\r\nselected=901,902,\r\n");
    auto rowOf = [](SiteSelectionDialog& dialog, const char* id) {
        for (int r = 0; r < dialog.list()->rowCount(); ++r) {
            if (dialog.list()->item(r, 0)->text() == QLatin1String(id))
                return r;
        }
        return -1;
    };
    {
        SiteSelectionDialog dialog;
        dialog.checkButton()->click();
        EXPECT_TRUE(dialog.checking());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.checking(); }, 20000));
        const QTableWidgetItem* healthy = dialog.list()->item(rowOf(dialog, "901"), 5);
        const QTableWidgetItem* broken = dialog.list()->item(rowOf(dialog, "902"), 5);
        EXPECT_TRUE(healthy->text().startsWith(QStringLiteral("正常")))
            << healthy->text().toStdString();
        EXPECT_TRUE(broken->text().startsWith(QStringLiteral("目录失效")));
        EXPECT_TRUE(
            broken->toolTip().contains(QStringLiteral("directory_page_chapter_name_and_url")));
        EXPECT_EQ(dialog.list()->item(rowOf(dialog, "903"), 5)->text(), QStringLiteral("未检查"));
        EXPECT_EQ(dialog.statusText(), QStringLiteral("检查完成：2 个站点中有 1 个出了问题。"));
        dialog.list()->setCurrentCell(rowOf(dialog, "902"), 1);
        EXPECT_TRUE(dialog.checkDetail()->toPlainText().contains(
            QStringLiteral("directory_page_regional：1 处")))
            << dialog.checkDetail()->toPlainText().toStdString();
    }
    SiteSelectionDialog reopened;
    EXPECT_TRUE(reopened.list()
                    ->item(rowOf(reopened, "902"), 5)
                    ->text()
                    .startsWith(QStringLiteral("目录失效")));
}
