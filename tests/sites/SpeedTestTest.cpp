// The connection speed test: speed classes, measurements written to the rows taken at the start,
// and a dialog closed while its test still runs (also run under the sanitizers). The dialog is
// never painted here, so Qt's painting threads stay out of the ThreadSanitizer run.
#include "sites/SpeedTest.h"
#include "TestSite.h"
#include "sites/SitesFixture.h"

#include <QPushButton>
#include <QTest>

using namespace zvrd;
using zvrd::test::SiteSelectionDialogTest;

namespace {

TEST(SpeedClassTest, Boundaries) {
    EXPECT_EQ(speedClass(-1), QStringLiteral("连接失败"));
    EXPECT_EQ(speedClass(0), QStringLiteral("快"));
    EXPECT_EQ(speedClass(2000), QStringLiteral("快"));
    EXPECT_EQ(speedClass(2001), QStringLiteral("中"));
    EXPECT_EQ(speedClass(3000), QStringLiteral("中"));
    EXPECT_EQ(speedClass(3001), QStringLiteral("慢"));
}

TEST_F(SiteSelectionDialogTest, SpeedTestWritesEachClassToTheRowTakenAtTheStart) {
    const QMap<QString, double> seconds = {
        {QStringLiteral("http://b.com/"), 0.0004}, // 0 ms
        {QStringLiteral("http://a.com/"), 2.0009}, // 2000 ms
        {QString(), 2.0015},                       // 2001 ms
        {QStringLiteral("http://z.com/"), -1.0},
    };
    SiteSelectionDialog dialog(nullptr, [&](const QString& url) { return seconds.value(url); });
    dialog.speedTestButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.statusText() == QStringLiteral("完成测试！"); },
                                10000));
    EXPECT_EQ(Column(dialog, 3),
              (QStringList{QStringLiteral("快（0 毫秒）"), QStringLiteral("快（2000 毫秒）"),
                           QStringLiteral("中（2001 毫秒）"), QStringLiteral("连接失败")}));
    ASSERT_TRUE(QTest::qWaitFor([] { return Worker::running() == 0; }, 5000));
}

TEST_F(SiteSelectionDialogTest, ARealMeasurementOfTheTestSite) {
    testsite::TestSite site;
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("delete from site_rule"));
    }
    addRule(1, "本地", (site.baseUrl() + QStringLiteral("/gbk/book/1/")).toUtf8().constData());
    addRule(2, "关闭", "http://127.0.0.1:1/");
    SiteSelectionDialog dialog;
    dialog.speedTestButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.statusText() == QStringLiteral("完成测试！"); },
                                20000));
    const QStringList speeds = Column(dialog, 3);
    ASSERT_EQ(speeds.size(), 2);
    EXPECT_TRUE(speeds[0].startsWith(QStringLiteral("快（"))) << speeds[0].toStdString();
    EXPECT_EQ(speeds[1], QStringLiteral("连接失败"));
    ASSERT_TRUE(QTest::qWaitFor([] { return Worker::running() == 0; }, 5000));
}

TEST_F(SiteSelectionDialogTest, ClosingTheDialogDuringATestDropsItsResults) {
    testsite::TestSite site;
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("delete from site_rule"));
    }
    addRule(1, "慢站",
            (site.baseUrl() + QStringLiteral("/fault/slow?ms=800")).toUtf8().constData());
    addRule(2, "慢站二",
            (site.baseUrl() + QStringLiteral("/fault/slow?ms=600")).toUtf8().constData());
    auto* dialog = new SiteSelectionDialog;
    dialog->speedTestButton()->click();
    QTest::qWait(100);
    delete dialog; // closed while both sites are still answering
    ASSERT_TRUE(QTest::qWaitFor([] { return Worker::running() == 0; }, 10000));
    QTest::qWait(50);
}

} // namespace
