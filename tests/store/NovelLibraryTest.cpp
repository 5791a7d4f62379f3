// The novel library on real zvrd.db / novel_info.db files in a temporary data folder.
#include "store/NovelLibrary.h"
#include "store/NovelSwitch.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"
#include "support/TempDataFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace zvrd;

namespace {

class NovelLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { prepareLibrary(); }

    static int64_t count(const QString& file, const QString& sql) {
        SqliteDatabase db(file);
        return db.integerValue(sql);
    }

    test::TempDataFolder folder;
};

TEST_F(NovelLibraryTest, ANovelNeverStoredIsNotFound) {
    EXPECT_FALSE(hasRecentRead(QStringLiteral("站"), QStringLiteral("书")));
    EXPECT_EQ(recentReadId(QStringLiteral("站"), QStringLiteral("书")), -1);
    const NovelInfo info = recentReadInfo(QStringLiteral("站"), QStringLiteral("书"));
    EXPECT_FALSE(info.matched);
    EXPECT_TRUE(info.name.isEmpty());
    EXPECT_TRUE(info.author.isEmpty());
    EXPECT_TRUE(info.infoPageUrl.isEmpty());
}

TEST_F(NovelLibraryTest, RecentReadRoundTripIsExactAndCaseSensitive) {
    ASSERT_TRUE(addRecentRead(QStringLiteral("Site"), QStringLiteral("Novel"),
                              QStringLiteral("作者"), QStringLiteral("第十章"),
                              QStringLiteral("http://a/b/")));
    ASSERT_TRUE(addRecentRead(QStringLiteral("Site"), QStringLiteral("Other"), QString(), QString(),
                              QString()));
    EXPECT_TRUE(hasRecentRead(QStringLiteral("Site"), QStringLiteral("Novel")));
    EXPECT_EQ(recentReadId(QStringLiteral("Site"), QStringLiteral("Novel")), 1);
    EXPECT_EQ(recentReadId(QStringLiteral("Site"), QStringLiteral("Other")), 2);
    EXPECT_EQ(recentReadId(QStringLiteral("Site"), QStringLiteral("novel")), -1);
    EXPECT_EQ(recentReadId(QStringLiteral("Site"), QStringLiteral("Novel ")), -1);

    const NovelInfo info = recentReadInfo(QStringLiteral("Site"), QStringLiteral("Novel"));
    EXPECT_FALSE(info.matched);
    EXPECT_EQ(info.name, QStringLiteral("Novel"));
    EXPECT_EQ(info.author, QStringLiteral("作者"));
    EXPECT_EQ(info.latestChapter, QStringLiteral("第十章"));
    EXPECT_EQ(info.infoPageUrl, QStringLiteral("http://a/b/"));
    EXPECT_TRUE(info.directoryPageUrl.isEmpty());
}

TEST_F(NovelLibraryTest, NamesWithQuotesOrEqualToAColumnNameRoundTrip) {
    const QString quoted = QStringLiteral("他说\"你好\"'吗");
    const QString columnName = QStringLiteral("novel_name");
    ASSERT_TRUE(addRecentRead(QStringLiteral("target_site"), quoted, QStringLiteral("a\"b"),
                              QStringLiteral("c"), QStringLiteral("d")));
    ASSERT_TRUE(addRecentRead(QStringLiteral("site"), columnName, QStringLiteral("x"),
                              QStringLiteral("y"), QStringLiteral("z")));
    EXPECT_TRUE(hasRecentRead(QStringLiteral("target_site"), quoted));
    EXPECT_EQ(recentReadId(QStringLiteral("target_site"), quoted), 1);
    EXPECT_EQ(recentReadInfo(QStringLiteral("target_site"), quoted).author, QStringLiteral("a\"b"));
    EXPECT_EQ(recentReadId(QStringLiteral("site"), columnName), 2);
    // Spliced between double quotes, "novel_name" would have matched every row's own name.
    EXPECT_FALSE(hasRecentRead(QStringLiteral("site"), QStringLiteral("novel_author")));
    EXPECT_FALSE(hasRecentRead(QStringLiteral("target_site"), columnName));

    ChapterList dir;
    dir.count = 1;
    dir.names = {QStringLiteral("第一章 \"引子\"")};
    dir.urls = {QStringLiteral("http://x/1.html?a=\"1\"")};
    ASSERT_TRUE(addChapterListItem(7, 0, dir.names[0], dir.urls[0]));
    const ChapterList back = loadChapterList(7);
    EXPECT_EQ(back.names, dir.names);
    EXPECT_EQ(back.urls, dir.urls);
}

TEST_F(NovelLibraryTest, DirectoryLoadsInIndexOrderAndCounts) {
    EXPECT_FALSE(hasChapterList(3));
    EXPECT_EQ(chapterCount(3), 0);
    ChapterList empty = loadChapterList(3);
    EXPECT_EQ(empty.count, 0);
    EXPECT_TRUE(empty.names.isEmpty());
    EXPECT_TRUE(empty.urls.isEmpty());

    for (int index : {2, 0, 1})
        addChapterListItem(3, index, QStringLiteral("c%1").arg(index),
                           QStringLiteral("u%1").arg(index));
    addChapterListItem(4, 0, QStringLiteral("other"), QStringLiteral("other"));
    EXPECT_TRUE(hasChapterList(3));
    EXPECT_EQ(chapterCount(3), 3);
    const ChapterList dir = loadChapterList(3);
    EXPECT_EQ(dir.count, 3);
    EXPECT_EQ(dir.names,
              (QStringList{QStringLiteral("c0"), QStringLiteral("c1"), QStringLiteral("c2")}));
    EXPECT_EQ(dir.urls,
              (QStringList{QStringLiteral("u0"), QStringLiteral("u1"), QStringLiteral("u2")}));
}

TEST_F(NovelLibraryTest, AddDirectoryStoresAllOrNothing) {
    ChapterList dir;
    for (int i = 0; i < 5; ++i) {
        dir.names.append(QStringLiteral("第%1章").arg(i));
        dir.urls.append(QStringLiteral("http://s/%1.html").arg(i));
    }
    dir.count = 5;
    ASSERT_TRUE(addChapterList(1, dir));
    const ChapterList back = loadChapterList(1);
    EXPECT_EQ(back.count, 5);
    EXPECT_EQ(back.names, dir.names);
    EXPECT_EQ(back.urls, dir.urls);

    // A failure on the fourth row leaves none of the list behind.
    {
        SqliteDatabase db(novelDatabasePath());
        db.exec(QStringLiteral(
            "create trigger refuse before insert on novel_directory "
            "when new.chapter_name = 'bad' begin select raise(abort, 'refused'); end"));
    }
    dir.names[3] = QStringLiteral("bad");
    EXPECT_THROW(addChapterList(2, dir), SqliteException);
    EXPECT_FALSE(hasChapterList(2));
    EXPECT_EQ(chapterCount(2), 0);
}

TEST_F(NovelLibraryTest, SaveChapterInsertsPerNovelThenUpdatesAndKeepsContentExact) {
    const QString content = QStringLiteral("<p>\"引号\" and \"\"doubled\"\" 'single'</p>");
    ASSERT_TRUE(saveChapter(1, 3, ChapterKind::Text, 1, QStringLiteral("novel one")));
    ASSERT_TRUE(saveChapter(2, 3, ChapterKind::Text, 1, content));
    EXPECT_EQ(count(novelDatabasePath(),
                    QStringLiteral("select count(*) from novel_chapter where novel_id=2")),
              1);
    {
        SqliteDatabase db(novelDatabasePath());
        auto t = db.query(QStringLiteral("select chapter_type,is_download,chapter_content from "
                                         "novel_chapter where novel_id=2 and chapter_id=3"));
        EXPECT_EQ(t->fieldAsString(2), content);
    }
    // A later failure never replaces a downloaded chapter; a failure is replaced by a success.
    EXPECT_FALSE(saveChapter(2, 3, ChapterKind::Failed, 0, QString()));
    EXPECT_EQ(count(novelDatabasePath(), QStringLiteral("select count(*) from novel_chapter "
                                                        "where novel_id=2 and is_download=1")),
              1);
    ASSERT_TRUE(saveChapter(2, 4, ChapterKind::Failed, 0, QString()));
    ASSERT_TRUE(saveChapter(2, 4, ChapterKind::Failed, 0, QString()));
    ASSERT_TRUE(saveChapter(2, 3, ChapterKind::Picture, 1,
                            QStringLiteral("/a/pic/3_0.png|/a/pic/3_1.png")));
    EXPECT_EQ(count(novelDatabasePath(),
                    QStringLiteral("select count(*) from novel_chapter where novel_id=2")),
              2);
    SqliteDatabase db(novelDatabasePath());
    auto t = db.query(QStringLiteral("select chapter_type,is_download,chapter_content from "
                                     "novel_chapter where novel_id=2 and chapter_id=3"));
    EXPECT_EQ(t->fieldAsInteger(0), 1);
    EXPECT_EQ(t->fieldAsInteger(1), 1);
    EXPECT_EQ(t->fieldAsString(2), QStringLiteral("/a/pic/3_0.png|/a/pic/3_1.png"));
    EXPECT_EQ(db.stringValue(
                  QStringLiteral("select chapter_content from novel_chapter where novel_id=1")),
              QStringLiteral("novel one"));
}

TEST_F(NovelLibraryTest, AFailedChapterCountsAsAChapterRow) {
    EXPECT_FALSE(hasChapters(9));
    saveChapter(9, 0, ChapterKind::Failed, 0, QString());
    EXPECT_TRUE(hasChapters(9));
    EXPECT_FALSE(hasChapters(10));
}

TEST_F(NovelLibraryTest, CreatingTablesKeepsExistingTablesAndRows) {
    addRecentRead(QStringLiteral("s"), QStringLiteral("n"), QString(), QString(), QString());
    saveChapter(1, 0, ChapterKind::Text, 1, QStringLiteral("text"));
    prepareLibrary();
    EXPECT_EQ(recentReadId(QStringLiteral("s"), QStringLiteral("n")), 1);
    EXPECT_TRUE(hasChapters(1));

    SqliteDatabase db(ruleDatabasePath());
    auto rules = db.query(QStringLiteral("select * from site_rule"));
    EXPECT_TRUE(rules->atEnd());
    db.exec(QStringLiteral("insert into site_rule(site_name) values('x')"));
    auto row = db.query(QStringLiteral("select * from site_rule"));
    EXPECT_EQ(row->columnCount(), 21u);
    EXPECT_EQ(row->fieldAsString(0), QStringLiteral("1"));
}

TEST_F(NovelLibraryTest, AFolderWithoutTablesRaisesTheAccessLayersError) {
    test::TempDataFolder bare; // no prepareLibrary here
    try {
        hasRecentRead(QStringLiteral("s"), QStringLiteral("n"));
        FAIL() << "no exception";
    } catch (const SqliteException& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("no such table: latest_read")));
    }
    EXPECT_THROW(saveChapter(1, 1, ChapterKind::Text, 1, QStringLiteral("x")), SqliteException);
    EXPECT_THROW(loadChapterList(1), SqliteException);
}

// 20 writers of 50 chapters each against one reader of chapter lists; without the busy
// timeout, writers meet each other's locks and chapters are lost.
TEST_F(NovelLibraryTest, ConcurrentWritersAndAReaderLoseNothing) {
    ChapterList dir;
    for (int i = 0; i < 1000; ++i) {
        dir.names.append(QStringLiteral("第%1章").arg(i));
        dir.urls.append(QStringLiteral("http://s/%1.html").arg(i));
    }
    dir.count = 1000;
    ASSERT_TRUE(addChapterList(1, dir));

    std::atomic<int> failures{0};
    std::atomic<bool> writing{true};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (writing) {
            try {
                if (loadChapterList(1).count != 1000 || chapterCount(1) != 1000)
                    ++failures;
                ++reads;
            } catch (...) {
                ++failures;
            }
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 20; ++t) {
        writers.emplace_back([&, t] {
            for (int c = 0; c < 50; ++c) {
                try {
                    if (!saveChapter(1, t * 50 + c, ChapterKind::Text, 1,
                                     QStringLiteral("内容 %1").arg(t * 50 + c)))
                        ++failures;
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (auto& w : writers)
        w.join();
    writing = false;
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(count(novelDatabasePath(),
                    QStringLiteral(
                        "select count(*) from novel_chapter where novel_id=1 and is_download=1")),
              1000);
    EXPECT_EQ(count(novelDatabasePath(),
                    QStringLiteral("select count(distinct chapter_id) from novel_chapter")),
              1000);
}

// A file of an older version: plain indexes, and the duplicates two openings at once left. The
// start repairs it in one go and from then on every check-then-insert leaves one row.
TEST_F(NovelLibraryTest, DuplicatesOfAnOlderFileAreRepairedAndCannotComeBack) {
    test::TempDataFolder old;
    {
        SqliteDatabase rules(ruleDatabasePath());
        rules.exec(QStringLiteral("CREATE TABLE latest_read (id INTEGER PRIMARY KEY, target_site "
                                  "TEXT, novel_name TEXT, novel_author TEXT, latest_chapter TEXT, "
                                  "info_page_url TEXT)"));
        rules.exec(QStringLiteral("CREATE INDEX latest_read_site_name ON "
                                  "latest_read(target_site, novel_name)"));
        for (const char* author : {"first", "second", "third"})
            rules.exec(QStringLiteral("insert into latest_read(target_site,novel_name,"
                                      "novel_author) values('站','书','%1')")
                           .arg(QLatin1String(author)));
        rules.exec(QStringLiteral(
            "insert into latest_read(target_site,novel_name) values('站','另一本')"));
        SqliteDatabase novels(novelDatabasePath());
        novels.exec(QStringLiteral("CREATE TABLE novel_directory (id INTEGER PRIMARY KEY, novel_id "
                                   "INTEGER, chapter_index INTEGER, chapter_name TEXT, "
                                   "chapter_url TEXT)"));
        novels.exec(QStringLiteral("CREATE TABLE novel_chapter (id INTEGER PRIMARY KEY, novel_id "
                                   "INTEGER, chapter_id INTEGER, chapter_type INTEGER, "
                                   "is_download INTEGER, chapter_content TEXT)"));
        for (int copy = 0; copy < 2; ++copy) {
            for (int i = 0; i < 5; ++i)
                novels.exec(QStringLiteral("insert into novel_directory(novel_id,chapter_index,"
                                           "chapter_name) values(1,%1,'copy%2')")
                                .arg(i)
                                .arg(copy));
        }
        // Chapter 0: failed, then stored, then failed again; chapter 1: twice failed.
        novels.exec(QStringLiteral("insert into novel_chapter(novel_id,chapter_id,chapter_type,"
                                   "is_download,chapter_content) values(1,0,-1,0,''),"
                                   "(1,0,0,1,'正文'),(1,0,-1,0,''),(1,1,-1,0,'a'),(1,1,-1,0,'b')"));
    }
    prepareLibrary();
    EXPECT_EQ(count(ruleDatabasePath(), QStringLiteral("select count(*) from latest_read")), 2);
    EXPECT_EQ(recentReadInfo(QStringLiteral("站"), QStringLiteral("书")).author,
              QStringLiteral("first"));
    EXPECT_EQ(loadChapterList(1).names,
              QStringList(5, QStringLiteral("copy0"))); // the first copy, each chapter once
    SqliteDatabase db(novelDatabasePath());
    EXPECT_EQ(db.stringValue(QStringLiteral(
                  "select group_concat(chapter_id || ':' || chapter_content, ',') from "
                  "(select * from novel_chapter order by chapter_id)")),
              QStringLiteral("0:正文,1:a"));
    // The keys hold: the same novel, chapter-list entry or chapter never gets a second row.
    EXPECT_TRUE(addRecentRead(QStringLiteral("站"), QStringLiteral("书"), QStringLiteral("x"),
                              QString(), QString()));
    EXPECT_FALSE(addChapterListItem(1, 2, QStringLiteral("again"), QString()));
    EXPECT_TRUE(saveChapter(1, 1, ChapterKind::Text, 1, QStringLiteral("stored")));
    EXPECT_EQ(count(ruleDatabasePath(), QStringLiteral("select count(*) from latest_read")), 2);
    EXPECT_EQ(chapterCount(1), 5);
    EXPECT_EQ(db.integerValue(QStringLiteral("select count(*) from novel_chapter")), 2);
    EXPECT_EQ(db.stringValue(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));
}

// Threads that open one novel at once, each with its own connections, as two double-clicks do.
TEST_F(NovelLibraryTest, OpeningOneNovelFromManyThreadsStoresOneOfEach) {
    ChapterList list;
    for (int i = 0; i < 50; ++i) {
        list.names << QStringLiteral("第%1章").arg(i);
        list.urls << QStringLiteral("http://s/%1").arg(i);
    }
    list.count = 50;
    std::vector<std::thread> openings;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t) {
        openings.emplace_back([&] {
            try {
                if (!addRecentRead(QStringLiteral("站"), QStringLiteral("书"), QString(), QString(),
                                   QString()))
                    ++failures;
                const int32_t id = recentReadId(QStringLiteral("站"), QStringLiteral("书"));
                if (!hasChapterList(id) && !addChapterList(id, list))
                    ++failures;
                for (int32_t i : chaptersToDownload(id, 50))
                    saveChapter(id, i, ChapterKind::Text, 1, QStringLiteral("text"));
            } catch (...) {
                ++failures;
            }
        });
    }
    for (auto& t : openings)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(count(ruleDatabasePath(), QStringLiteral("select count(*) from latest_read")), 1);
    EXPECT_EQ(chapterCount(1), 50);
    EXPECT_EQ(count(novelDatabasePath(), QStringLiteral("select count(*) from novel_chapter")), 50);
    EXPECT_TRUE(chaptersToDownload(1, 50).isEmpty());
    EXPECT_FALSE(addRecentRead(QStringLiteral("站"), QString(), QString(), QString(), QString()));
}

} // namespace

// The bookshelf marks a novel whose site failed three update checks in a row (one that goes
// through clears it), or that another site lists more of.
TEST_F(NovelLibraryTest, TheBookshelfMarksASourceWorthLeaving) {
    ASSERT_TRUE(addRecentRead(QStringLiteral("甲站"), QStringLiteral("书"), QString(), QString(),
                              QStringLiteral("http://a/1")));
    const int32_t id = recentReadId(QStringLiteral("甲站"), QStringLiteral("书"));
    ChapterList list;
    list.names = {QStringLiteral("第1章"), QStringLiteral("第2章")};
    list.urls = {QStringLiteral("http://a/1/1"), QStringLiteral("http://a/1/2")};
    list.count = 2;
    ASSERT_TRUE(addChapterList(id, list));
    const auto mark = [] { return bookshelf().value(0).sourceMark(); };
    const QString down = QStringLiteral("无法读取");
    for (const QString& failure : {down, down, QString(), down, down})
        recordUpdateCheck(id, failure, QStringLiteral("无法从目标站读取最新目录，目录未更新。"));
    EXPECT_EQ(mark(), QString());
    recordUpdateCheck(id, down, QString());
    EXPECT_EQ(mark(), QStringLiteral("目标站无法读取"));
    // The reason of the last failure is the one named.
    const QString said =
        QStringLiteral("目标站目录只有 1 个章节，不足已存 2 个章节的一半，目录未更新。");
    recordUpdateCheck(id, QStringLiteral("目录过短"), said);
    EXPECT_EQ(mark(), QStringLiteral("目标站目录过短"));
    EXPECT_EQ(bookshelf().value(0).failureText, said);
    recordUpdateCheck(id, QString(), QStringLiteral("目录已是最新，没有新章节。"));
    EXPECT_EQ(bookshelf().value(0).failureText, QString());
    recordOtherSource(id, QStringLiteral("乙站"), 2);
    EXPECT_EQ(mark(), QString());
    recordOtherSource(id, QStringLiteral("乙站"), 3);
    EXPECT_EQ(mark(), QStringLiteral("其他站有更新"));
}
