// zvrd-cli as scripts and users run it: separate processes against the local test web server,
// sharing one data folder. Exit status, error texts, two processes at once, kill -9 and resume,
// a full disk and a read-only folder.
#include "core/DataFolder.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/Epubcheck.h"
#include "support/TempDataFolder.h"
#include "support/TestSiteSuite.h"
#include "workers/OpenNovelWorker.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <unistd.h>

using namespace zvrd;

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class CliTest : public test::TestSiteSuite {
protected:
    void SetUp() override { useFolder(folder.path()); }

    // Points the test and the program at data folder dir, with the demo rules.
    void useFolder(const QString& dir) {
        data = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
        setDataFolder(dir);
        ASSERT_TRUE(importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"),
                                     site->baseUrl()));
        QFile config(data + QStringLiteral("config.ini"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("[target_site]\r\nselected=901,902,\r\n");
    }

    QProcess* launch(const QStringList& args) {
        auto* process = new QProcess;
        process->start(QStringLiteral(ZVRD_CLI),
                       QStringList{QStringLiteral("--data"), data} + args);
        EXPECT_TRUE(process->waitForStarted());
        return process;
    }

    static CliRun finish(QProcess* process) {
        EXPECT_TRUE(process->waitForFinished(120000));
        CliRun run{process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1,
                   QString::fromUtf8(process->readAllStandardOutput()),
                   QString::fromUtf8(process->readAllStandardError())};
        delete process;
        return run;
    }

    CliRun cli(const QStringList& args) { return finish(launch(args)); }

    QString novelUrl(int id) const {
        return site->baseUrl() + QStringLiteral("/gbk/book/%1/").arg(id);
    }

    CliRun download(int id) {
        return cli({QStringLiteral("download"), QStringLiteral("书海阁"), novelUrl(id)});
    }

    int64_t value(const QString& file, const QString& sql) const {
        SqliteDatabase db(data + file);
        return db.integerValue(sql);
    }

    test::TempDataFolder folder;
    QString data;
};

// A tmpfs of its own, for a full disk or a read-only folder; needs root and mount.
class ScratchMount {
public:
    explicit ScratchMount(const QString& size) {
        mounted = QProcess::execute(QStringLiteral("mount"),
                                    {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                     QStringLiteral("-o"), QStringLiteral("size=") + size,
                                     QStringLiteral("tmpfs"), dir.path()}) == 0;
    }
    ~ScratchMount() {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), dir.path()});
    }
    bool readOnly() {
        return QProcess::execute(
                   QStringLiteral("mount"),
                   {QStringLiteral("-o"), QStringLiteral("remount,ro"), dir.path()}) == 0;
    }
    QTemporaryDir dir;
    bool mounted = false;
};

TEST_F(CliTest, ExitStatusAndErrorTexts) {
    EXPECT_EQ(download(3).exitCode, 0);
    EXPECT_EQ(cli({QStringLiteral("download"), QStringLiteral("书海阁"),
                   site->baseUrl() + QStringLiteral("/fault/status/503")})
                  .exitCode,
              1);

    // An uncompilable chapter-list pattern: the error on stderr, exit 2.
    {
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("update site_rule set directory_page_chapter_name_and_url='(' "
                               "where site_name='书海阁'"));
        db.exec(QStringLiteral("update site_rule set search_page_result_regional='(' where "
                               "site_name='云中书库'"));
    }
    CliRun run = download(2);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("Error in regular expression at offset")))
        << run.err.toStdString();
    run = cli({QStringLiteral("search"), QStringLiteral("修仙")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("zvrd-cli: Error in regular expression")))
        << run.err.toStdString();

    // A database whose pages are damaged.
    {
        QFile file(data + QStringLiteral("novel_info.db"));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(4096, '\x5a'));
    }
    QFile::remove(data + QStringLiteral("novel_info.db-wal"));
    QFile::remove(data + QStringLiteral("novel_info.db-shm"));
    run = download(3);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("not a database"))) << run.err.toStdString();
    // An empty --data (an unset variable in a script) is no library at all.
    run = finish([] {
        auto* process = new QProcess;
        process->start(QStringLiteral(ZVRD_CLI),
                       {QStringLiteral("--data"), QString(), QStringLiteral("update")});
        return process;
    }());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("--data needs a folder"))) << run.err.toStdString();
}

// site: a site's own limits and paging are kept for the next program, out-of-range values and
// broken patterns are refused with the reason and change nothing, --reset gives the program's
// limits back.
TEST_F(CliTest, SiteShowsSetsAndRefusesSpeedLimits) {
    const QString name = QStringLiteral("书海阁");
    const QString server = site->baseUrl().mid(7) + QLatin1Char('\t');
    const QString next = QStringLiteral("<a class=\"next\" href=\"(.+?)\">");
    auto line = [&](const char* speed, const QString& paging,
                    const QString& headers = QStringLiteral("\t\t\t\tno-cookie"),
                    const QString& check = QStringLiteral("\t\t")) {
        return name + QLatin1Char('\t') + server + QLatin1String(speed) + paging + headers + check +
               QLatin1Char('\n');
    };
    const QString own = line("3\t800\toff\town\t", QStringLiteral("\t\toff"));
    const QString paged =
        line("3\t800\toff\town\t", QStringLiteral("\t") + next + QStringLiteral("\ton"));
    const struct {
        QStringList args;
        int exitCode;
        QString out; // what "site NAME" shows afterwards
        QString err;
    } steps[] = {
        {{QStringLiteral("--in-flight"), QStringLiteral("3"), QStringLiteral("--spacing"),
          QStringLiteral("800"), QStringLiteral("--adapt"), QStringLiteral("off")},
         0,
         own,
         {}},
        {{QStringLiteral("--in-flight"), QStringLiteral("0")},
         2,
         own,
         QStringLiteral("同时请求数须在 1 到 50 之间。")},
        {{QStringLiteral("--in-flight"), QStringLiteral("-3")},
         2,
         own,
         QStringLiteral("同时请求数须在 1 到 50 之间。")},
        {{QStringLiteral("--spacing"), QStringLiteral("99999999999")},
         2,
         own,
         QStringLiteral("需要一个整数")},
        {{QStringLiteral("--spacing"), QStringLiteral("600001")},
         2,
         own,
         QStringLiteral("请求间隔须在 10 到 60000 毫秒之间。")},
        {{QStringLiteral("--adapt"), QStringLiteral("maybe")}, 2, own, QStringLiteral("usage:")},
        {{QStringLiteral("--list-next"), next, QStringLiteral("--distinct"), QStringLiteral("on")},
         0,
         paged,
         {}},
        {{QStringLiteral("--chapter-next"), QStringLiteral("(")},
         2,
         paged,
         QStringLiteral("下一页规则无法使用")},
        {{QStringLiteral("--reset")},
         0,
         line("20\t50\ton\tdefault\t", QStringLiteral("\t") + next + QStringLiteral("\ton")),
         {}},
        // The cookie is kept but never shown.
        {{QStringLiteral("--user-agent"), QStringLiteral("UA/1"), QStringLiteral("--referer"),
          QStringLiteral("linked"), QStringLiteral("--header"), QStringLiteral("X-A: 1"),
          QStringLiteral("--header"), QStringLiteral("X-B: 2"), QStringLiteral("--cookie"),
          QStringLiteral("sid=s3cret")},
         0,
         line("20\t50\ton\tdefault\t", QStringLiteral("\t") + next + QStringLiteral("\ton"),
              QStringLiteral("\tUA/1\tlinked\tX-A: 1\\nX-B: 2\tcookie")),
         {}},
        {{QStringLiteral("--header"), QStringLiteral("Host: elsewhere")},
         2,
         line("20\t50\ton\tdefault\t", QStringLiteral("\t") + next + QStringLiteral("\ton"),
              QStringLiteral("\tUA/1\tlinked\tX-A: 1\\nX-B: 2\tcookie")),
         QStringLiteral("由程序自己发送")},
        {{QStringLiteral("--header"), QStringLiteral("none"), QStringLiteral("--referer"),
          QStringLiteral("none"), QStringLiteral("--user-agent"), QString(),
          QStringLiteral("--cookie"), QStringLiteral("none")},
         0,
         line("20\t50\ton\tdefault\t", QStringLiteral("\t") + next + QStringLiteral("\ton")),
         {}},
        // What the health check starts from; the limits stay the program's.
        {{QStringLiteral("--check-word"), QStringLiteral("剑来"), QStringLiteral("--check-page"),
          QStringLiteral("http://b.example/book/3/")},
         0,
         line("20\t50\ton\tdefault\t", QStringLiteral("\t") + next + QStringLiteral("\ton"),
              QStringLiteral("\t\t\t\tno-cookie"),
              QStringLiteral("\t剑来\thttp://b.example/book/3/")),
         {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args.join(QLatin1Char(' ')).toStdString());
        const CliRun set = cli(QStringList{QStringLiteral("site"), name} + step.args);
        EXPECT_EQ(set.exitCode, step.exitCode);
        EXPECT_TRUE(set.err.contains(step.err)) << set.err.toStdString();
        EXPECT_EQ(cli({QStringLiteral("site"), name}).out, step.out);
    }
    EXPECT_EQ(cli({QStringLiteral("site"), QStringLiteral("无此站")}).exitCode, 2);
}

// update: 1 when nothing is new, 0 with the new chapters per novel, 3 when a site cannot be read;
// remove: 0, then 1 for a novel no longer recorded.
TEST_F(CliTest, UpdateAndRemoveFromTheTerminal) {
    ASSERT_EQ(download(2).exitCode, 0);
    CliRun run = cli({QStringLiteral("update")});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("书海阁\t修仙归来\t0\t目录已是最新，没有新章节。\n"));
    site->setChapterCount(QStringLiteral("gbk"), 2, 10);
    run = cli({QStringLiteral("update"), QStringLiteral("书海阁"), QStringLiteral("修仙归来")});
    site->setChapterCount(QStringLiteral("gbk"), 2, 7);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("书海阁\t修仙归来\t3\t")))
        << run.out.toStdString();
    EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_chapter where is_download=1")),
              10);
    {
        SqliteDatabase db(novelDatabasePath());
        db.exec(QStringLiteral("update novel_source set directory_page_url='http://127.0.0.1:1/'"));
    }
    EXPECT_EQ(cli({QStringLiteral("update")}).exitCode, 3);
    // Damaged pages behind a sound header: the engine's own text on stderr, no word of an
    // unreachable site, and the file left as it is for the user to rescue.
    {
        const QString path = data + QStringLiteral("novel_info.db");
        {
            SqliteDatabase db(path);
            db.stringValue(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        }
        QFile file(path);
        const QByteArray sound = [&] {
            EXPECT_TRUE(file.open(QIODevice::ReadOnly));
            return file.readAll();
        }();
        file.close();
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(sound.left(4096) + QByteArray(sound.size() - 4096, '\x5a'));
        file.close();
        run = cli({QStringLiteral("update")});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains(QStringLiteral("malformed"))) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("无法读取"))) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QStringLiteral("malformed"))) << run.out.toStdString();
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(sound);
    }
    EXPECT_EQ(cli({QStringLiteral("remove"), QStringLiteral("书海阁"), QStringLiteral("修仙归来")})
                  .exitCode,
              0);
    EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_directory")),
              0);
    EXPECT_EQ(cli({QStringLiteral("remove"), QStringLiteral("书海阁"), QStringLiteral("修仙归来")})
                  .exitCode,
              1);
}

// New chapters whose pages come back empty or as an anti-bot page are not stored: update says
// how many could not be downloaded and exits 3; nothing counts as new until it is stored.
TEST_F(CliTest, UpdateCountsWhatItStored) {
    ASSERT_EQ(download(2).exitCode, 0);
    const int32_t id = recentReadId(QStringLiteral("书海阁"), QStringLiteral("修仙归来"));
    const ChapterList stored = loadChapterList(id);
    QByteArray list = "<div id=\"list\">";
    for (qsizetype i = 0; i < stored.urls.size(); ++i)
        list += "<dd><a href=\"" + stored.urls[i].toUtf8() + "\">c</a></dd>";
    site->setAnswers(QStringLiteral("blank"), {{QByteArray(), 200, {}, 0, {}}});
    site->setAnswers(QStringLiteral("antibot"),
                     {{"<html><body>请稍后再试</body></html>", 200, {}, 0, {}}});
    list += "<dd><a href=\"" + site->pageUrl(QStringLiteral("blank")).toUtf8() +
            "\">新一</a></dd><dd><a href=\"" + site->pageUrl(QStringLiteral("antibot")).toUtf8() +
            "\">新二</a></dd></div>";
    site->setAnswers(QStringLiteral("list"), {{list, 200, {}, 0, {}}});
    {
        SqliteDatabase db(novelDatabasePath());
        db.exec(QStringLiteral("update novel_source set directory_page_url=?1"),
                {site->pageUrl(QStringLiteral("list"))});
    }
    const CliRun run = cli({QStringLiteral("update")});
    EXPECT_EQ(run.exitCode, 3) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("书海阁\t修仙归来\t0\t")))
        << run.out.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("共 0 个新章节，2 个章节未能下载")))
        << run.err.toStdString();
    EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_chapter where is_download=1")),
              stored.count);
}

// check names the site and the step that broke, with its exit status; the next update check
// marks the novels of that site.
TEST_F(CliTest, CheckTellsWhichSiteBrokeAndTheUpdateSaysSo) {
    const CliRun healthy = cli({QStringLiteral("check"), QStringLiteral("书海阁"),
                                QStringLiteral("903"), QStringLiteral("--verbose")});
    EXPECT_EQ(healthy.exitCode, 0) << healthy.out.toStdString();
    EXPECT_TRUE(healthy.out.contains(QStringLiteral("书海阁\t状态\t正常\t")));
    EXPECT_TRUE(healthy.out.contains(QStringLiteral("手机书屋\t状态\t正常\t")));
    EXPECT_TRUE(healthy.out.contains(QStringLiteral("\n    状态 200\n")));
    EXPECT_EQ(cli({QStringLiteral("check"), QStringLiteral("没有这个站")}).exitCode, 2);

    ASSERT_EQ(download(2).exitCode, 0);
    {
        SqliteDatabase db(data + QStringLiteral("zvrd.db"));
        db.exec(QStringLiteral("update site_rule set directory_page_regional='<ol>(.+?)</ol>' "
                               "where id=901"));
    }
    const CliRun broken = cli({QStringLiteral("check")});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_TRUE(broken.out.contains(QStringLiteral("书海阁\t状态\t目录失效\t")))
        << broken.out.toStdString();
    EXPECT_TRUE(broken.out.contains(QStringLiteral("云中书库\t状态\t正常\t")));
    const CliRun update = cli({QStringLiteral("update")});
    EXPECT_TRUE(update.out.contains(QStringLiteral("检查：目录失效）")))
        << update.out.toStdString();
    EXPECT_TRUE(update.err.contains(QStringLiteral("1 本小说的目标站上次检查未通过")))
        << update.err.toStdString();
}

// switch lists the same novel on the other selected site and carries the novel there.
TEST_F(CliTest, SwitchListsAndCarriesTheNovel) {
    const SiteRule rule = findRuleBySiteName(loadSiteRules(), QStringLiteral("书海阁"));
    const NovelInfo info = parseInfoPage(novelUrl(1), rule);
    ASSERT_TRUE(
        addRecentRead(rule.siteName, info.name, info.author, info.latestChapter, info.infoPageUrl));
    const int32_t id = recentReadId(rule.siteName, info.name);
    ASSERT_TRUE(addChapterList(id, parseDirectoryPage(info.directoryPageUrl, rule)));
    recordReading(id, 11);
    const CliRun listed = cli({QStringLiteral("switch"), rule.siteName, info.name});
    EXPECT_EQ(listed.exitCode, 0) << listed.err.toStdString();
    EXPECT_TRUE(
        listed.out.startsWith(QStringLiteral("云中书库\t凡人修仙传\t忘语\t第30章 墨大夫\t30\t")))
        << listed.out.toStdString();
    EXPECT_TRUE(listed.out.endsWith(QStringLiteral("\tsame-author\n")));
    const CliRun moved =
        cli({QStringLiteral("switch"), rule.siteName, info.name, QStringLiteral("云中书库")});
    EXPECT_EQ(moved.exitCode, 0);
    EXPECT_EQ(moved.out, QStringLiteral("已换到「云中书库」，阅读位置：第12章 坊市。\n"));
    EXPECT_EQ(cli({QStringLiteral("switch"), rule.siteName, QStringLiteral("没有这本")}).exitCode,
              1);
}

// A first start on an empty folder: the folder is made and gets the shipped rules; --help names
// the folder; a folder that cannot be made is an error, not a crash.
TEST_F(CliTest, AFreshFolderGetsTheShippedRules) {
    QTemporaryDir temp;
    data = temp.filePath(QStringLiteral("new/data/"));
    const CliRun help = cli({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("Data folder in use: ") + data +
                                  QStringLiteral(" (--data)")))
        << help.out.toStdString();
    const CliRun info = cli(
        {QStringLiteral("info"), QStringLiteral("笔趣阁"), QStringLiteral("http://127.0.0.1:1/")});
    EXPECT_EQ(info.exitCode, 1) << info.err.toStdString(); // the site is known, the page is not
    EXPECT_GE(value(QStringLiteral("zvrd.db"), QStringLiteral("select count(*) from site_rule")),
              7);
    QFile shipped(QStringLiteral(ZVRD_SOURCE_DIR "/data/site_rules.sql"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    EXPECT_EQ(value(QStringLiteral("zvrd.db"), QStringLiteral("select version from shipped_rules")),
              shippedRulesVersion(QString::fromUtf8(shipped.readAll())));

    QFile file(temp.filePath(QStringLiteral("a-file")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    data = file.fileName() + QStringLiteral("/zvrd/");
    const CliRun refused = cli({QStringLiteral("search"), QStringLiteral("书")});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.startsWith(QStringLiteral("zvrd-cli: cannot create the data folder")))
        << refused.err.toStdString();
}

// Rules imported into a fresh folder are the user's: the next command's first start puts the
// shipped rules beside them. A file that does more than add rules is refused whole.
TEST_F(CliTest, ImportedRulesSurviveTheNextCommand) {
    QTemporaryDir temp;
    data = temp.filePath(QStringLiteral("fresh/"));
    QByteArray rules;
    for (int id = 1; id <= 11; ++id)
        rules += QStringLiteral("INSERT INTO site_rule(id, site_name, site_url) VALUES (%1, "
                                "'我的%1', 'http://own%1.example/');\n")
                     .arg(id)
                     .toUtf8();
    const QString file = temp.filePath(QStringLiteral("my_sites.sql"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(rules);
    out.close();
    EXPECT_EQ(cli({QStringLiteral("import-rules"), file}).exitCode, 0);
    EXPECT_EQ(cli({QStringLiteral("info"), QStringLiteral("我的3"),
                   QStringLiteral("http://127.0.0.1:1/")})
                  .exitCode,
              1);
    const QString own = QStringLiteral("select count(*) from site_rule where id <= 11 and "
                                       "site_name = '我的' || id and site_url = 'http://own' || "
                                       "id || '.example/'");
    EXPECT_EQ(value(QStringLiteral("zvrd.db"), own), 11);
    EXPECT_GE(value(QStringLiteral("zvrd.db"), QStringLiteral("select count(*) from site_rule")),
              18);

    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(rules + "DELETE FROM latest_read;\n");
    out.close();
    const CliRun refused = cli({QStringLiteral("import-rules"), file});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("DELETE FROM latest_read")))
        << refused.err.toStdString();
    EXPECT_EQ(value(QStringLiteral("zvrd.db"), own), 11);
}

// Two processes open one novel at once: one record, one list, one row per chapter.
TEST_F(CliTest, TwoProcessesOpeningOneNovelStoreItOnce) {
    QProcess* first = launch({QStringLiteral("download"), QStringLiteral("书海阁"), novelUrl(1)});
    QProcess* second = launch({QStringLiteral("download"), QStringLiteral("书海阁"), novelUrl(1)});
    EXPECT_EQ(finish(first).exitCode, 0);
    EXPECT_EQ(finish(second).exitCode, 0);
    EXPECT_EQ(value(QStringLiteral("zvrd.db"), QStringLiteral("select count(*) from latest_read")),
              1);
    EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_directory")),
              45);
    EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_chapter where is_download=1")),
              45);
    EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_chapter")),
              45);
}

// A novel removed by one program while another downloads it: the download stops, nothing of the
// novel is left in any table or on disk, and the next novel gets an id of its own.
TEST_F(CliTest, ARemovalStopsADownloadInAnotherProgram) {
    site->setSlowChapters(1, 30); // every chapter takes a while
    QProcess* downloading =
        launch({QStringLiteral("download"), QStringLiteral("书海阁"), novelUrl(4)});
    int64_t stored = 0;
    for (int i = 0; i < 3000 && stored < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        try {
            stored = value(QStringLiteral("novel_info.db"),
                           QStringLiteral("select count(*) from novel_chapter"));
        } catch (const SqliteException&) {
            // not created yet
        }
    }
    ASSERT_GE(stored, 20);
    const int64_t removedId =
        value(QStringLiteral("zvrd.db"), QStringLiteral("select max(id) from latest_read"));
    const CliRun removal =
        cli({QStringLiteral("remove"), QStringLiteral("书海阁"), QStringLiteral("星辰变")});
    const CliRun download = finish(downloading);
    site->setSlowChapters(0, 0);
    EXPECT_EQ(removal.exitCode, 0) << removal.err.toStdString();
    EXPECT_TRUE(download.out.contains(QStringLiteral("本书已被移除")))
        << download.out.toStdString();
    for (const char* table : {"novel_directory", "novel_chapter", "novel_source",
                              "reading_progress", "chapter_list_seen"})
        EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                        QStringLiteral("select count(*) from %1").arg(QLatin1String(table))),
                  0)
            << table;
    EXPECT_EQ(value(QStringLiteral("zvrd.db"), QStringLiteral("select count(*) from latest_read")),
              0);
    EXPECT_FALSE(QFileInfo::exists(data + QStringLiteral("book/书海阁/星辰变")));
    EXPECT_EQ(cli({QStringLiteral("download"), QStringLiteral("书海阁"), novelUrl(1)}).exitCode, 0);
    EXPECT_GT(value(QStringLiteral("zvrd.db"), QStringLiteral("select max(id) from latest_read")),
              removedId);
    EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_chapter")),
              value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_directory")));
}

// A library another account may read: that account's export works and leaves nothing beside the
// owner's files; its update is refused with a clear text, also leaving nothing. Needs root (it
// runs the second process as nobody).
TEST_F(CliTest, AnotherAccountReadsButNeverWritesTheLibrary) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a process as another account";
    ASSERT_EQ(download(2).exitCode, 0);
    QFile::setPermissions(data, QFileDevice::Permissions(0x7777));
    QTemporaryDir out;
    QFile::setPermissions(out.path(), QFileDevice::Permissions(0x7777));
    auto asNobody = [&](const QStringList& args) {
        auto* process = new QProcess;
        process->start(QStringLiteral("setpriv"),
                       QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                   QStringLiteral("--clear-groups"), QStringLiteral(ZVRD_CLI),
                                   QStringLiteral("--data"), data} +
                           args);
        return finish(process);
    };
    const QStringList before = QDir(data).entryList(QDir::AllEntries | QDir::Hidden);
    const QString book = out.filePath(QStringLiteral("修仙归来.epub"));
    CliRun run = asNobody({QStringLiteral("export"), QStringLiteral("书海阁"),
                           QStringLiteral("修仙归来"), QStringLiteral("--epub"), book});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(book));
    EXPECT_EQ(QDir(data).entryList(QDir::AllEntries | QDir::Hidden), before);
    run = asNobody({QStringLiteral("update")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("属于另一个用户"))) << run.err.toStdString();
    EXPECT_EQ(QDir(data).entryList(QDir::AllEntries | QDir::Hidden), before);
    EXPECT_EQ(cli({QStringLiteral("update")}).exitCode, 1); // the owner is not locked out
}

// Killed in the middle of its downloads, the next run finishes the novel.
TEST_F(CliTest, AKilledDownloadIsFinishedByTheNextRun) {
    QProcess* first = launch({QStringLiteral("download"), QStringLiteral("书海阁"), novelUrl(4)});
    int64_t stored = 0;
    for (int i = 0; i < 3000 && stored < 41; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        try {
            stored =
                value(QStringLiteral("novel_info.db"),
                      QStringLiteral("select count(*) from novel_chapter where is_download=1"));
        } catch (const SqliteException&) {
            // not created yet
        }
    }
    first->kill(); // SIGKILL
    finish(first);
    ASSERT_GE(stored, 41);
    const int64_t afterKill =
        value(QStringLiteral("novel_info.db"),
              QStringLiteral("select count(*) from novel_chapter where is_download=1"));
    EXPECT_LT(afterKill, 200);
    const CliRun second = download(4);
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_TRUE(second.out.contains(QStringLiteral("所有章节已下载完成")));
    EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_chapter where is_download=1")),
              200);
}

// The disk fills up in the middle of a download: the chapters that could not be stored are
// counted, never reported as all stored.
TEST_F(CliTest, AFullDiskIsReportedAsIncomplete) {
    ScratchMount disk(QStringLiteral("256k"));
    if (!disk.mounted)
        GTEST_SKIP() << "a full disk needs a small tmpfs: run as root where mount works";
    useFolder(disk.dir.path());
    const CliRun run = download(4);
    EXPECT_EQ(run.exitCode, 3) << run.out.toStdString() << run.err.toStdString();
    const int64_t stored =
        value(QStringLiteral("novel_info.db"),
              QStringLiteral("select count(*) from novel_chapter where is_download=1"));
    EXPECT_LT(stored, 200);
    EXPECT_TRUE(run.out.contains(
        downloadIncompleteText(static_cast<int>(stored), static_cast<int>(200 - stored))))
        << run.out.toStdString();
}

// The demo novel with its picture chapters becomes a book epubcheck passes; a novel with a
// chapter that never came down is refused (exit 4, no file) until --allow-missing.
TEST_F(CliTest, ExportWritesBooksAndRefusesMissingChapters) {
    ASSERT_EQ(download(1).exitCode, 0);
    const QString name = QStringLiteral("凡人修仙传");
    auto exportTo = [&](const QStringList& options) {
        return cli(QStringList{QStringLiteral("export"), QStringLiteral("书海阁"), name} + options);
    };
    const QString book = data + QStringLiteral("凡人修仙传.epub");
    const CliRun written = exportTo({QStringLiteral("--epub"), book});
    ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
    const test::EpubcheckRun check = test::runEpubcheck(book);
    EXPECT_TRUE(check.clean) << check.output.toStdString();

    SqliteDatabase(data + QStringLiteral("novel_info.db"))
        .exec(QStringLiteral("update novel_chapter set is_download=0,chapter_type=-1 where "
                             "chapter_id=6"));
    const QString txt = data + QStringLiteral("凡人修仙传.txt");
    const CliRun refused = exportTo({QStringLiteral("--txt"), txt});
    EXPECT_EQ(refused.exitCode, 4);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("1 个章节"))) << refused.err.toStdString();
    EXPECT_FALSE(QFile::exists(txt));
    EXPECT_EQ(exportTo({QStringLiteral("--txt"), txt, QStringLiteral("--allow-missing")}).exitCode,
              0);
    QFile file(txt);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains(QStringLiteral("（本章尚未下载）")));

    EXPECT_EQ(cli({QStringLiteral("export"), QStringLiteral("书海阁"), QStringLiteral("无此书"),
                   QStringLiteral("--txt"), txt})
                  .exitCode,
              1);
    EXPECT_EQ(exportTo({QStringLiteral("--txt")}).exitCode, 2);
    EXPECT_EQ(exportTo({QStringLiteral("--txt"), txt, QStringLiteral("--encoding"),
                        QStringLiteral("latin1")})
                  .exitCode,
              2);
}

// A novel a site publishes in traditional characters is stored as published and exported in
// simplified ones when asked.
TEST_F(CliTest, ATraditionalNovelIsExportedInSimplifiedCharacters) {
    const CliRun fetched = cli({QStringLiteral("download"), QStringLiteral("云中书库"),
                                site->baseUrl() + QStringLiteral("/utf8/book/4/")});
    ASSERT_EQ(fetched.exitCode, 0) << fetched.out.toStdString() << fetched.err.toStdString();
    EXPECT_EQ(value(QStringLiteral("novel_info.db"),
                    QStringLiteral("select count(*) from novel_chapter where chapter_content "
                                   "like '%悠揚的鐘聲在雲間來回飄蕩%'")),
              5);
    const QString txt = data + QStringLiteral("book.txt");
    const CliRun written = cli({QStringLiteral("export"), QStringLiteral("云中书库"),
                                QStringLiteral("詭秘之主"), QStringLiteral("--txt"), txt,
                                QStringLiteral("--script"), QStringLiteral("simplified")});
    ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
    QFile file(txt);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString book = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(book.contains(QStringLiteral("悠扬的钟声在云间来回飘荡")))
        << book.left(400).toStdString();
    EXPECT_TRUE(book.contains(QStringLiteral("诡秘之主")));
    EXPECT_FALSE(book.contains(QStringLiteral("鐘聲")));
}

// A read-only data folder: the error on stderr, exit 2.
TEST_F(CliTest, AReadOnlyFolderIsAnError) {
    ScratchMount disk(QStringLiteral("4m"));
    if (!disk.mounted)
        GTEST_SKIP() << "a read-only folder for root needs a tmpfs: run as root where mount works";
    useFolder(disk.dir.path());
    ASSERT_TRUE(disk.readOnly());
    const CliRun run = download(2);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("zvrd-cli: ")) ||
                run.err.contains(QStringLiteral("readonly")) ||
                run.err.contains(QStringLiteral("unable to open")))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.trimmed().isEmpty());
}

} // namespace
