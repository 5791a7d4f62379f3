// Where the library lives: each source of the data folder wins over the next, and a folder that
// cannot be used is named, not crashed on.
#include "core/DataFolder.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zvrd;

namespace {

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : m_name(name), m_old(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toUtf8());
    }
    ~ScopedEnv() {
        if (m_old.isNull())
            qunsetenv(m_name);
        else
            qputenv(m_name, m_old);
    }

private:
    const char* m_name;
    QByteArray m_old;
};

TEST(DataFolderTest, EachSourceWinsOverTheNext) {
    QTemporaryDir temp;
    const QString exe = temp.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(exe));
    const QString portableExe = temp.filePath(QStringLiteral("portable-bin"));
    ASSERT_TRUE(QDir().mkpath(portableExe));
    QFile marker(portableExe + QStringLiteral("/portable"));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    const QString home = temp.filePath(QStringLiteral("home"));
    const QString env = temp.filePath(QStringLiteral("env"));
    const QString xdg = temp.filePath(QStringLiteral("xdg"));
    const QString given = temp.filePath(QStringLiteral("given"));
    ScopedEnv homeVar("HOME", home);

    struct Case {
        QString commandLine;
        QString zvrdData;
        QString xdgDataHome;
        QString executable;
        QString path;
        QString source;
    };
    const Case cases[] = {
        {given, env, xdg, portableExe, given + '/', QStringLiteral("--data")},
        {QString(), env, xdg, portableExe, env + '/', QStringLiteral("ZVRD_DATA")},
        {QString(), QString(), xdg, portableExe, portableExe + '/', QStringLiteral("portable")},
        {QString(), QString(), xdg, exe, xdg + QStringLiteral("/zvrd/"), QStringLiteral("user")},
        {QString(), QString(), QString(), exe, home + QStringLiteral("/.local/share/zvrd/"),
         QStringLiteral("user")},
    };
    for (const Case& c : cases) {
        ScopedEnv data("ZVRD_DATA", c.zvrdData);
        ScopedEnv xdgVar("XDG_DATA_HOME", c.xdgDataHome);
        const DataFolderChoice choice = chooseDataFolder(c.commandLine, c.executable);
        EXPECT_EQ(choice.path, c.path) << c.source.toStdString();
        EXPECT_EQ(choice.source, c.source);
        EXPECT_EQ(prepareDataFolder(choice.path), QString()) << c.source.toStdString();
        EXPECT_TRUE(QFileInfo(choice.path).isDir());
    }
}

TEST(DataFolderTest, AFolderThatCannotBeMadeIsNamed) {
    QTemporaryDir temp;
    QFile file(temp.filePath(QStringLiteral("a-file")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString inside = temp.filePath(QStringLiteral("a-file/zvrd"));
    EXPECT_EQ(prepareDataFolder(inside),
              QStringLiteral("cannot create the data folder %1").arg(inside));
}

// The page templates go to a folder of the process's own, never a shared fixed name.
TEST(DataFolderTest, TemplatesGoToAPrivateFolder) {
    const QString folder = templateFolder();
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_NE(folder, tempFolder());
    EXPECT_TRUE(QDir(folder).dirName().startsWith(QStringLiteral("zvrd-")));
    EXPECT_FALSE(QFileInfo(folder).permissions() & (QFile::ReadOther | QFile::WriteOther));
    EXPECT_EQ(templateFolder(), folder);
}

} // namespace
