// The target-site dialog offscreen with a real zvrd.db and config.ini, and the speed test.
#include "core/IniFile.h"
#include "rules/RuleSet.h"
#include "sites/ConnectSpeedTest.h"
#include "sites/TargetSiteSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/TempAppFolder.h"
#include "TestSite.h"

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

namespace {

class TargetSiteSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateMissingTables();
        AddRule(1, "笔趣阁", "http://b.com/");
        AddRule(2, "Alpha", "http://a.com/");
        AddRule(3, "beta", "");
        AddRule(10, "", "http://z.com/");
    }

    static void AddRule(int id, const char* name, const char* url) {
        TSQLiteDatabase db(RuleDatabasePath());
        db.AddParamText(QStringLiteral(":name"), QString::fromUtf8(name));
        db.AddParamText(QStringLiteral(":url"), QString::fromUtf8(url));
        db.ExecSQL(QStringLiteral("insert into site_rule(id, site_name, site_url) values(%1, :name, :url)").arg(id));
    }

    void WriteConfig(const QByteArray& text) {
        QFile f(folder.File(QStringLiteral("config.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    QByteArray Config() {
        QFile f(folder.File(QStringLiteral("config.ini")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    static QStringList Column(TFrmTargetSiteSet& dialog, int column) {
        QStringList texts;
        for (int r = 0; r < dialog.List()->rowCount(); ++r)
            texts << dialog.List()->item(r, column)->text();
        return texts;
    }

    static QList<bool> Ticks(TFrmTargetSiteSet& dialog) {
        QList<bool> ticks;
        for (int r = 0; r < dialog.List()->rowCount(); ++r)
            ticks << (dialog.List()->item(r, 0)->checkState() == Qt::Checked);
        return ticks;
    }

    // Runs the main window's command, closing the dialog with OK or Cancel.
    bool RunAndClose(bool confirm, const std::function<void(TFrmTargetSiteSet&)>& edit = {}) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TFrmTargetSiteSet*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            if (edit)
                edit(*dialog);
            confirm ? dialog->accept() : dialog->reject();
        });
        return RunTargetSiteDialog(nullptr);
    }

    test::TempAppFolder folder;
};

TEST_F(TargetSiteSetTest, ListsEveryRuleWithItsTickAndCaptions) {
    WriteConfig("[target_site]\r\nselected=1,3,\r\n");
    TFrmTargetSiteSet dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("目标站选择"));
    EXPECT_EQ(dialog.size(), QSize(427, 432));
    EXPECT_EQ(Column(dialog, 0), (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("10")}));
    EXPECT_EQ(Column(dialog, 1), (QStringList{QStringLiteral("笔趣阁"), QStringLiteral("Alpha"), QStringLiteral("beta"), QString()}));
    EXPECT_EQ(Column(dialog, 3), QStringList(4, QStringLiteral("未知")));
    EXPECT_EQ(Ticks(dialog), (QList<bool>{true, false, true, false}));
    EXPECT_EQ(dialog.SelectionValue(), QStringLiteral("1,3,"));
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("如果连接速度为负值或大于3秒，则说明目标站访问速度过慢，建议取消选择。"));
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
        EXPECT_EQ(Column(d, 1), (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("笔趣阁"), QString()}));
        d.SortByColumn(1); // reversed
        EXPECT_EQ(Column(d, 1), (QStringList{QString(), QStringLiteral("笔趣阁"), QStringLiteral("beta"), QStringLiteral("Alpha")}));
        d.SortByColumn(0); // ids as text: 10 before 2
        EXPECT_EQ(Column(d, 0), (QStringList{QStringLiteral("1"), QStringLiteral("10"), QStringLiteral("2"), QStringLiteral("3")}));
        d.SortByColumn(2); // addresses, the empty one last
        EXPECT_EQ(Column(d, 1), (QStringList{QStringLiteral("Alpha"), QStringLiteral("笔趣阁"), QString(), QStringLiteral("beta")}));
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

TEST(SpeedClassTest, Boundaries) {
    EXPECT_EQ(SpeedClass(-1), QStringLiteral("连接失败"));
    EXPECT_EQ(SpeedClass(0), QStringLiteral("快"));
    EXPECT_EQ(SpeedClass(2000), QStringLiteral("快"));
    EXPECT_EQ(SpeedClass(2001), QStringLiteral("中"));
    EXPECT_EQ(SpeedClass(3000), QStringLiteral("中"));
    EXPECT_EQ(SpeedClass(3001), QStringLiteral("慢"));
}

TEST_F(TargetSiteSetTest, SpeedTestWritesEachClassToTheRowTakenAtTheStart) {
    const QMap<QString, double> seconds = {
        {QStringLiteral("http://b.com/"), 0.0004}, // 0 ms
        {QStringLiteral("http://a.com/"), 2.0009}, // 2000 ms
        {QString(), 2.0015},                       // 2001 ms
        {QStringLiteral("http://z.com/"), -1.0},
    };
    TFrmTargetSiteSet dialog(nullptr, [&](const QString& url) { return seconds.value(url); });
    dialog.SpeedTestButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.StatusText() == QStringLiteral("完成测试！"); }, 10000));
    EXPECT_EQ(Column(dialog, 3), (QStringList{QStringLiteral("快"), QStringLiteral("快"), QStringLiteral("中"),
                                              QStringLiteral("连接失败")}));
    ASSERT_TRUE(QTest::qWaitFor([] { return TWorkerThread::Running() == 0; }, 5000));
}

TEST_F(TargetSiteSetTest, ARealMeasurementOfTheTestSite) {
    testsite::TestSite site;
    {
        TSQLiteDatabase db(RuleDatabasePath());
        db.ExecSQL(QStringLiteral("delete from site_rule"));
    }
    AddRule(1, "本地", (site.BaseUrl() + QStringLiteral("/gbk/book/1/")).toUtf8().constData());
    AddRule(2, "关闭", "http://127.0.0.1:1/");
    TFrmTargetSiteSet dialog;
    dialog.SpeedTestButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.StatusText() == QStringLiteral("完成测试！"); }, 20000));
    EXPECT_EQ(Column(dialog, 3), (QStringList{QStringLiteral("快"), QStringLiteral("连接失败")}));
    ASSERT_TRUE(QTest::qWaitFor([] { return TWorkerThread::Running() == 0; }, 5000));
}

TEST_F(TargetSiteSetTest, ClosingTheDialogDuringATestDropsItsResults) {
    testsite::TestSite site;
    {
        TSQLiteDatabase db(RuleDatabasePath());
        db.ExecSQL(QStringLiteral("delete from site_rule"));
    }
    AddRule(1, "慢站", (site.BaseUrl() + QStringLiteral("/fault/slow?ms=800")).toUtf8().constData());
    AddRule(2, "慢站二", (site.BaseUrl() + QStringLiteral("/fault/slow?ms=600")).toUtf8().constData());
    auto* dialog = new TFrmTargetSiteSet;
    dialog->show();
    dialog->SpeedTestButton()->click();
    QTest::qWait(100);
    delete dialog; // closed while both sites are still answering
    ASSERT_TRUE(QTest::qWaitFor([] { return TWorkerThread::Running() == 0; }, 10000));
    QTest::qWait(50);
}

} // namespace
