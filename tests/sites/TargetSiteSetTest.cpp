// The target-site dialog offscreen with a real zvrd.db and config.ini.
#include "sites/TargetSiteSet.h"
#include "TestSite.h"
#include "core/IniFile.h"
#include "rules/RuleSet.h"
#include "sites/ConnectSpeedTest.h"
#include "sites/SitesFixture.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/TempAppFolder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace zvrd;

using zvrd::test::TargetSiteSetTest;

namespace {

TEST_F(TargetSiteSetTest, ListsEveryRuleWithItsTickAndCaptions) {
    WriteConfig("[target_site]\r\nselected=1,3,\r\n");
    TFrmTargetSiteSet dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("目标站选择"));
    EXPECT_EQ(dialog.size(), QSize(427, 432));
    EXPECT_EQ(Column(dialog, 0), (QStringList{QStringLiteral("1"), QStringLiteral("2"),
                                              QStringLiteral("3"), QStringLiteral("10")}));
    EXPECT_EQ(Column(dialog, 1), (QStringList{QStringLiteral("笔趣阁"), QStringLiteral("Alpha"),
                                              QStringLiteral("beta"), QString()}));
    EXPECT_EQ(Column(dialog, 3), QStringList(4, QStringLiteral("未知")));
    EXPECT_EQ(Ticks(dialog), (QList<bool>{true, false, true, false}));
    EXPECT_EQ(dialog.SelectionValue(), QStringLiteral("1,3,"));
    EXPECT_EQ(
        dialog.StatusText(),
        QStringLiteral("如果连接速度为负值或大于3秒，则说明目标站访问速度过慢，建议取消选择。"));
}

TEST_F(TargetSiteSetTest, APieceWithABlankTicksNothing) {
    WriteConfig("[target_site]\r\nselected= 1,\r\n");
    TFrmTargetSiteSet dialog;
    EXPECT_EQ(Ticks(dialog), (QList<bool>{false, false, false, false}));
    EXPECT_EQ(dialog.SelectionValue(), QString());
}

TEST_F(TargetSiteSetTest, ConfirmingWritesTheTickedIdsAndKeepsTheRestOfTheFile) {
    WriteConfig("[window]\r\nmax=1\r\n[target_site]\r\nselected=1,3,\r\n");
    ASSERT_TRUE(RunAndClose(true));
    EXPECT_EQ(Config(), QByteArray("[window]\r\nmax=1\r\n[target_site]\r\nselected=1,3,\r\n"));
    ASSERT_TRUE(RunAndClose(true, [](TFrmTargetSiteSet& d) {
        d.List()->item(0, 0)->setCheckState(Qt::Unchecked);
        d.List()->item(3, 0)->setCheckState(Qt::Checked);
    }));
    EXPECT_EQ(ReadSelectionSetting(), QStringLiteral("3,10,"));
    ASSERT_TRUE(RunAndClose(true, [](TFrmTargetSiteSet& d) {
        for (int r = 0; r < d.List()->rowCount(); ++r)
            d.List()->item(r, 0)->setCheckState(Qt::Unchecked);
    }));
    EXPECT_EQ(Config(), QByteArray("[window]\r\nmax=1\r\n[target_site]\r\nselected=\r\n"));
}

TEST_F(TargetSiteSetTest, CancellingWritesNothing) {
    ASSERT_TRUE(RunAndClose(false, [](TFrmTargetSiteSet& d) { d.SelectAll()->click(); }));
    EXPECT_EQ(Config(), QByteArray("<missing>"));
    WriteConfig("[target_site]\r\nselected=2,\r\n");
    ASSERT_TRUE(RunAndClose(false, [](TFrmTargetSiteSet& d) { d.SelectAll()->click(); }));
    EXPECT_EQ(Config(), QByteArray("[target_site]\r\nselected=2,\r\n"));
}

TEST_F(TargetSiteSetTest, AnUnwritableConfigSavesNothing) {
    QFile::remove(folder.File(QStringLiteral("config.ini")));
    ASSERT_TRUE(QDir(folder.Path()).mkdir(QStringLiteral("config.ini"))); // a folder in its place
    QTimer::singleShot(0, [] {
        // The error box that follows the dialog.
        QTimer::singleShot(200, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        if (auto* dialog = qobject_cast<TFrmTargetSiteSet*>(QApplication::activeModalWidget()))
            dialog->accept();
    });
    EXPECT_FALSE(RunTargetSiteDialog(nullptr));
}

TEST_F(TargetSiteSetTest, SortingByAHeaderDecidesTheWrittenOrder) {
    WriteConfig("[target_site]\r\nselected=1,2,3,10,\r\n");
    ASSERT_TRUE(RunAndClose(true, [](TFrmTargetSiteSet& d) {
        d.SortByColumn(1); // by name, case ignored, empty last
        EXPECT_EQ(Column(d, 1), (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta"),
                                             QStringLiteral("笔趣阁"), QString()}));
        d.SortByColumn(1); // reversed
        EXPECT_EQ(Column(d, 1), (QStringList{QString(), QStringLiteral("笔趣阁"),
                                             QStringLiteral("beta"), QStringLiteral("Alpha")}));
        d.SortByColumn(0); // ids as text: 10 before 2
        EXPECT_EQ(Column(d, 0), (QStringList{QStringLiteral("1"), QStringLiteral("10"),
                                             QStringLiteral("2"), QStringLiteral("3")}));
        d.SortByColumn(2); // addresses, the empty one last
        EXPECT_EQ(Column(d, 1), (QStringList{QStringLiteral("Alpha"), QStringLiteral("笔趣阁"),
                                             QString(), QStringLiteral("beta")}));
    }));
    EXPECT_EQ(ReadSelectionSetting(), QStringLiteral("2,1,10,3,"));
}

TEST_F(TargetSiteSetTest, SelectAllThenInvertOnceOnly) {
    WriteConfig("[target_site]\r\nselected=2,\r\n");
    TFrmTargetSiteSet dialog;
    dialog.Invert()->click();
    EXPECT_EQ(Ticks(dialog), (QList<bool>{true, false, true, true}));
    dialog.Invert()->click(); // already selected: nothing
    EXPECT_EQ(Ticks(dialog), (QList<bool>{true, false, true, true}));
    dialog.SelectAll()->click();
    EXPECT_EQ(Ticks(dialog), (QList<bool>{true, true, true, true}));
    dialog.Invert()->click();
    EXPECT_EQ(Ticks(dialog), (QList<bool>{false, false, false, false}));
    dialog.Invert()->click();
    EXPECT_EQ(Ticks(dialog), (QList<bool>{false, false, false, false}));
}

TEST_F(TargetSiteSetTest, AnEmptyRuleTableDisablesTheSpeedTest) {
    {
        TSQLiteDatabase db(RuleDatabasePath());
        db.ExecSQL(QStringLiteral("delete from site_rule"));
    }
    int measured = 0;
    TFrmTargetSiteSet dialog(nullptr, [&](const QString&) {
        ++measured;
        return 0.1;
    });
    EXPECT_EQ(dialog.List()->rowCount(), 0);
    dialog.SpeedTestButton()->click();
    QTest::qWait(200);
    EXPECT_EQ(measured, 0);
    EXPECT_EQ(TWorkerThread::Running(), 0);
    EXPECT_EQ(dialog.StatusText().left(4), QStringLiteral("如果连接"));
}

} // namespace
