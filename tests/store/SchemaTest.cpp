// Libraries of each earlier layout (tests/store/fixtures) upgraded to the current one.
#include "store/Schema.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/TempDataFolder.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace zvrd;

namespace {

QString readFile(const QString& name) {
    QFile file(name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return QString::fromUtf8(file.readAll());
}

void runScript(const QString& path, const QString& script) {
    SqliteDatabase db(path);
    char* error = nullptr;
    sqlite3_exec(db.handle(), script.toUtf8().constData(), nullptr, nullptr, &error);
    EXPECT_EQ(error, nullptr) << error;
    sqlite3_free(error);
}

// Every table with its columns, and every index, of a database file; the engine's own left out.
QStringList layoutOf(const QString& path) {
    SqliteDatabase db(path);
    return db.stringValues(QStringLiteral(
        "select m.type || ' ' || m.name || coalesce(' ' || (select group_concat(c.name, ',') from "
        "pragma_table_info(m.name) c), '') from sqlite_master m where m.name not like 'sqlite_%' "
        "order by m.type, m.name"));
}

// Every row of every table a fixture made, by the fixture's own columns.
QStringList rowsOf(const QString& path) {
    SqliteDatabase db(path);
    QStringList rows;
    for (const QString& table : db.stringValues(QStringLiteral(
             "select name from sqlite_master where type='table' and name not like 'sqlite_%'"))) {
        const QString cells =
            db.stringValues(
                  QStringLiteral("select 'quote(\"' || name || '\")' from pragma_table_info(?1)"),
                  {table})
                .join(QStringLiteral(" || '|' || "));
        for (const QString& row :
             db.stringValues(QStringLiteral("select %1 from \"%2\"").arg(cells, table)))
            rows.append(table + QLatin1Char(':') + row);
    }
    rows.sort();
    return rows;
}

TEST(SchemaTest, EveryEarlierLayoutReachesTheCurrentOneKeepingEveryRow) {
    QStringList current;
    {
        test::TempDataFolder fresh;
        prepareLibrary();
        current = layoutOf(ruleDatabasePath()) + layoutOf(novelDatabasePath());
    }
    for (const auto& [layout, version] :
         {std::pair{"original", 0}, std::pair{"release", 0}, std::pair{"handmade", 0},
          std::pair{"layout3", 3}, std::pair{"layout4", 4}, std::pair{"layout5", 5},
          std::pair{"layout6", 6}, std::pair{"layout7", 7}, std::pair{"layout8", 8}}) {
        SCOPED_TRACE(layout);
        test::TempDataFolder folder;
        const QString fixtures = QStringLiteral(ZVRD_SOURCE_DIR "/tests/store/fixtures/") +
                                 QLatin1String(layout) + QLatin1Char('/');
        runScript(ruleDatabasePath(), readFile(fixtures + QStringLiteral("zvrd.sql")));
        runScript(novelDatabasePath(), readFile(fixtures + QStringLiteral("novel_info.sql")));
        const QStringList before = rowsOf(ruleDatabasePath()) + rowsOf(novelDatabasePath());
        ASSERT_EQ(layoutVersion(ruleDatabasePath()), version);

        prepareLibrary();
        prepareLibrary(); // a second start changes nothing
        EXPECT_EQ(layoutVersion(ruleDatabasePath()), kRuleDatabaseVersion);
        EXPECT_EQ(layoutVersion(novelDatabasePath()), kNovelDatabaseVersion);
        EXPECT_EQ(layoutOf(ruleDatabasePath()) + layoutOf(novelDatabasePath()), current);
        // Every row is kept; the rows of the new tables come on top (an emptied stamp of the
        // shipped rules is the one row that goes, so that the next start merges them).
        QStringList after = rowsOf(ruleDatabasePath()) + rowsOf(novelDatabasePath());
        for (const QString& row : before) {
            if (row.startsWith(QLatin1String("shipped_rules:")))
                continue;
            bool kept = false;
            for (const QString& now : after)
                kept = kept || now.startsWith(row);
            EXPECT_TRUE(kept) << row.toStdString();
        }
        EXPECT_FALSE(loadSiteRules().isEmpty());
    }
}

// The release before layout versions installed the shipped rows by id, unmarked. After the
// upgrade the next start claims those still exactly as shipped (so later sets update them) and
// adds nothing twice.
TEST(SchemaTest, AReleaseLibraryKeepsReceivingItsShippedRules) {
    test::TempDataFolder folder;
    const QString fixtures = QStringLiteral(ZVRD_SOURCE_DIR "/tests/store/fixtures/release/");
    const QString shipped = QStringLiteral(ZVRD_SOURCE_DIR "/data/site_rules.sql");
    runScript(ruleDatabasePath(), readFile(fixtures + QStringLiteral("zvrd.sql")));
    // That release had only site_rule: the rows of later per-site tables are not its.
    runScript(ruleDatabasePath(), readFile(shipped).remove(QRegularExpression(QStringLiteral(
                                      "INSERT OR REPLACE INTO site_(?!rule )[^;]*;"))));
    runScript(novelDatabasePath(), readFile(fixtures + QStringLiteral("novel_info.sql")));
    const int rules = static_cast<int>(loadSiteRules().size());
    prepareLibrary();
    ASSERT_TRUE(installShippedRules(shipped).installed);
    EXPECT_EQ(loadSiteRules().size(), rules);
    SqliteDatabase db(ruleDatabasePath());
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from shipped_rule_row where "
                                             "site_id=shipped_id and fingerprint is not null")),
              rules - 1); // all but the user's own row 40
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from site_check")), rules - 1);
}

// A removed novel's id is never handed out again, also when rows of it were left behind in
// novel_info.db by an earlier removal: the next novel would show them as its own.
TEST(SchemaTest, IdsOfRemovedNovelsAreNeverHandedOutAgain) {
    test::TempDataFolder folder;
    const QString fixtures = QStringLiteral(ZVRD_SOURCE_DIR "/tests/store/fixtures/release/");
    runScript(ruleDatabasePath(), readFile(fixtures + QStringLiteral("zvrd.sql")));
    runScript(novelDatabasePath(), readFile(fixtures + QStringLiteral("novel_info.sql")) +
                                       QStringLiteral("INSERT INTO novel_chapter(novel_id, "
                                                      "chapter_id) VALUES (9, 0);"));
    prepareLibrary();
    auto add = [](const char* name) {
        addRecentRead(QStringLiteral("站"), QString::fromUtf8(name), QString(), QString(),
                      QString());
        return recentReadId(QStringLiteral("站"), QString::fromUtf8(name));
    };
    EXPECT_EQ(add("甲"), 10);
    removeRecentRead(10);
    EXPECT_EQ(add("乙"), 11);
}

} // namespace
