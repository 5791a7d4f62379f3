// Before the window shows: the sandbox decision as root, and one window per data folder.
#include "app/StartUp.h"
#include "support/TempDataFolder.h"

#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

using namespace zvrd;

namespace {

TEST(StartUpTest, TheSandboxIsOffOnlyForRootWithoutAChoiceOfItsOwn) {
    struct Case {
        unsigned user;
        QByteArray flags;
        QByteArray disable;
        bool off;
    };
    const Case cases[] = {
        {0, "", "", true},
        {0, "--disable-gpu", "0", true},
        {0, "--disable-gpu --no-sandbox", "", false}, // the user's own switch stays as it is
        {0, "", "1", false},
        {1000, "", "", false},
        {1000, "--no-sandbox", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sandboxMustBeOff(c.user, c.flags, c.disable), c.off)
            << c.user << " " << c.flags.constData() << " " << c.disable.constData();
}

// A second start on the same folder brings the first window forward and leaves with 0; another
// folder has a window of its own.
TEST(StartUpTest, ASecondStartRaisesTheFirstWindowAndLeaves) {
    test::TempDataFolder folder;
    int raised = 0;
    SingleInstance first(folder.path());
    ASSERT_FALSE(first.raiseRunning());
    ASSERT_TRUE(first.listen([&] { ++raised; }));

    QProcess second;
    second.start(QStringLiteral(ZVRD_WINDOW), {QStringLiteral("--data"), folder.path()});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return second.state() == QProcess::NotRunning || second.waitForFinished(10); },
        60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(
        QString::fromUtf8(second.readAllStandardError()).contains(QStringLiteral("已经打开")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return raised == 1; }, 5000));

    test::TempDataFolder other;
    EXPECT_FALSE(SingleInstance(other.path()).raiseRunning());
}

} // namespace
