// The novel library on real zvrd.db / novel_info.db files in a temporary data folder.
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/TempAppFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace zvrd;

namespace {

class NovelLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { CreateMissingTables(); }

    static int64_t Count(const QString& file, const QString& sql) {
        TSQLiteDatabase db(file);
        return db.GetTableValue(sql);
    }

    test::TempAppFolder folder;
};

TEST_F(NovelLibraryTest, ANovelNeverStoredIsNotFound) {
    EXPECT_FALSE(HasLatestRead(QStringLiteral("站"), QStringLiteral("书")));
    EXPECT_EQ(GetLatestReadId(QStringLiteral("站"), QStringLiteral("书")), -1);
    const TInfoPageData info = GetLatestReadInfo(QStringLiteral("站"), QStringLiteral("书"));
    EXPECT_FALSE(info.isMatch);
    EXPECT_TRUE(info.strNovelName.isEmpty());
    EXPECT_TRUE(info.strNovelAuthor.isEmpty());
    EXPECT_TRUE(info.strInfoPageUrl.isEmpty());
}

TEST_F(NovelLibraryTest, RecentReadRoundTripIsExactAndCaseSensitive) {
    ASSERT_TRUE(AddLatestRead(QStringLiteral("Site"), QStringLiteral("Novel"),
                              QStringLiteral("作者"), QStringLiteral("第十章"),
                              QStringLiteral("http://a/b/")));
    ASSERT_TRUE(AddLatestRead(QStringLiteral("Site"), QStringLiteral("Other"), QString(), QString(),
                              QString()));
    EXPECT_TRUE(HasLatestRead(QStringLiteral("Site"), QStringLiteral("Novel")));
    EXPECT_EQ(GetLatestReadId(QStringLiteral("Site"), QStringLiteral("Novel")), 1);
    EXPECT_EQ(GetLatestReadId(QStringLiteral("Site"), QStringLiteral("Other")), 2);
    EXPECT_EQ(GetLatestReadId(QStringLiteral("Site"), QStringLiteral("novel")), -1);
    EXPECT_EQ(GetLatestReadId(QStringLiteral("Site"), QStringLiteral("Novel ")), -1);

    const TInfoPageData info = GetLatestReadInfo(QStringLiteral("Site"), QStringLiteral("Novel"));
    EXPECT_FALSE(info.isMatch);
    EXPECT_EQ(info.strNovelName, QStringLiteral("Novel"));
    EXPECT_EQ(info.strNovelAuthor, QStringLiteral("作者"));
    EXPECT_EQ(info.strLatestChapter, QStringLiteral("第十章"));
    EXPECT_EQ(info.strInfoPageUrl, QStringLiteral("http://a/b/"));
    EXPECT_TRUE(info.strDirectoryPageUrl.isEmpty());
}

TEST_F(NovelLibraryTest, NamesWithQuotesOrEqualToAColumnNameRoundTrip) {
    const QString quoted = QStringLiteral("他说\"你好\"'吗");
    const QString columnName = QStringLiteral("novel_name");
    ASSERT_TRUE(AddLatestRead(QStringLiteral("target_site"), quoted, QStringLiteral("a\"b"),
                              QStringLiteral("c"), QStringLiteral("d")));
    ASSERT_TRUE(AddLatestRead(QStringLiteral("site"), columnName, QStringLiteral("x"),
                              QStringLiteral("y"), QStringLiteral("z")));
    EXPECT_TRUE(HasLatestRead(QStringLiteral("target_site"), quoted));
    EXPECT_EQ(GetLatestReadId(QStringLiteral("target_site"), quoted), 1);
    EXPECT_EQ(GetLatestReadInfo(QStringLiteral("target_site"), quoted).strNovelAuthor,
              QStringLiteral("a\"b"));
    EXPECT_EQ(GetLatestReadId(QStringLiteral("site"), columnName), 2);
    // Spliced between double quotes, "novel_name" would have matched every row's own name.
    EXPECT_FALSE(HasLatestRead(QStringLiteral("site"), QStringLiteral("novel_author")));
    EXPECT_FALSE(HasLatestRead(QStringLiteral("target_site"), columnName));

    TDirectoryPageData dir;
    dir.Num = 1;
    dir.slChapterNameList = {QStringLiteral("第一章 \"引子\"")};
    dir.slChapterUrlList = {QStringLiteral("http://x/1.html?a=\"1\"")};
    ASSERT_TRUE(AddDirectoryItem(7, 0, dir.slChapterNameList[0], dir.slChapterUrlList[0]));
    const TDirectoryPageData back = LoadDirectory(7);
    EXPECT_EQ(back.slChapterNameList, dir.slChapterNameList);
    EXPECT_EQ(back.slChapterUrlList, dir.slChapterUrlList);
}

TEST_F(NovelLibraryTest, DirectoryLoadsInIndexOrderAndCounts) {
    EXPECT_FALSE(HasDirectory(3));
    EXPECT_EQ(GetDirectoryCount(3), 0);
    TDirectoryPageData empty = LoadDirectory(3);
    EXPECT_EQ(empty.Num, 0);
    EXPECT_TRUE(empty.slChapterNameList.isEmpty());
    EXPECT_TRUE(empty.slChapterUrlList.isEmpty());

    for (int index : {2, 0, 1})
        AddDirectoryItem(3, index, QStringLiteral("c%1").arg(index),
                         QStringLiteral("u%1").arg(index));
    AddDirectoryItem(4, 0, QStringLiteral("other"), QStringLiteral("other"));
    EXPECT_TRUE(HasDirectory(3));
    EXPECT_EQ(GetDirectoryCount(3), 3);
    const TDirectoryPageData dir = LoadDirectory(3);
    EXPECT_EQ(dir.Num, 3);
    EXPECT_EQ(dir.slChapterNameList,
              (QStringList{QStringLiteral("c0"), QStringLiteral("c1"), QStringLiteral("c2")}));
    EXPECT_EQ(dir.slChapterUrlList,
              (QStringList{QStringLiteral("u0"), QStringLiteral("u1"), QStringLiteral("u2")}));
}

TEST_F(NovelLibraryTest, AddDirectoryStoresAllOrNothing) {
    TDirectoryPageData dir;
    for (int i = 0; i < 5; ++i) {
        dir.slChapterNameList.append(QStringLiteral("第%1章").arg(i));
        dir.slChapterUrlList.append(QStringLiteral("http://s/%1.html").arg(i));
    }
    dir.Num = 5;
    ASSERT_TRUE(AddDirectory(1, dir));
    const TDirectoryPageData back = LoadDirectory(1);
    EXPECT_EQ(back.Num, 5);
    EXPECT_EQ(back.slChapterNameList, dir.slChapterNameList);
    EXPECT_EQ(back.slChapterUrlList, dir.slChapterUrlList);

    // A failure on the fourth row leaves none of the list behind.
    {
        TSQLiteDatabase db(NovelDatabasePath());
        db.ExecSQL(QStringLiteral(
            "create trigger refuse before insert on novel_directory "
            "when new.chapter_name = 'bad' begin select raise(abort, 'refused'); end"));
    }
    dir.slChapterNameList[3] = QStringLiteral("bad");
    EXPECT_THROW(AddDirectory(2, dir), ESQLiteException);
    EXPECT_FALSE(HasDirectory(2));
    EXPECT_EQ(GetDirectoryCount(2), 0);
}

TEST_F(NovelLibraryTest, SaveChapterInsertsPerNovelThenUpdatesAndKeepsContentExact) {
    const QString content = QStringLiteral("<p>\"引号\" and \"\"doubled\"\" 'single'</p>");
    ASSERT_TRUE(SaveChapter(1, 3, 0, 1, QStringLiteral("novel one")));
    ASSERT_TRUE(SaveChapter(2, 3, 0, 1, content));
    EXPECT_EQ(Count(NovelDatabasePath(),
                    QStringLiteral("select count(*) from novel_chapter where novel_id=2")),
              1);
    {
        TSQLiteDatabase db(NovelDatabasePath());
        auto t = db.GetTable(QStringLiteral("select chapter_type,is_download,chapter_content from "
                                            "novel_chapter where novel_id=2 and chapter_id=3"));
        EXPECT_EQ(t->FieldAsString(2), content);
    }
    // A later failure replaces the stored chapter, and a later success the failure.
    ASSERT_TRUE(SaveChapter(2, 3, -1, 0, QString()));
    ASSERT_TRUE(SaveChapter(2, 3, 1, 1, QStringLiteral("/a/pic/3_0.png|/a/pic/3_1.png")));
    EXPECT_EQ(Count(NovelDatabasePath(),
                    QStringLiteral("select count(*) from novel_chapter where novel_id=2")),
              1);
    TSQLiteDatabase db(NovelDatabasePath());
    auto t = db.GetTable(QStringLiteral("select chapter_type,is_download,chapter_content from "
                                        "novel_chapter where novel_id=2 and chapter_id=3"));
    EXPECT_EQ(t->FieldAsInteger(0), 1);
    EXPECT_EQ(t->FieldAsInteger(1), 1);
    EXPECT_EQ(t->FieldAsString(2), QStringLiteral("/a/pic/3_0.png|/a/pic/3_1.png"));
    EXPECT_EQ(db.GetTableString(
                  QStringLiteral("select chapter_content from novel_chapter where novel_id=1")),
              QStringLiteral("novel one"));
}

TEST_F(NovelLibraryTest, AFailedChapterCountsAsAChapterRow) {
    EXPECT_FALSE(HasChapters(9));
    SaveChapter(9, 0, -1, 0, QString());
    EXPECT_TRUE(HasChapters(9));
    EXPECT_FALSE(HasChapters(10));
}

TEST_F(NovelLibraryTest, CreatingTablesKeepsExistingTablesAndRows) {
    AddLatestRead(QStringLiteral("s"), QStringLiteral("n"), QString(), QString(), QString());
    SaveChapter(1, 0, 0, 1, QStringLiteral("text"));
    CreateMissingTables();
    EXPECT_EQ(GetLatestReadId(QStringLiteral("s"), QStringLiteral("n")), 1);
    EXPECT_TRUE(HasChapters(1));

    TSQLiteDatabase db(RuleDatabasePath());
    auto rules = db.GetTable(QStringLiteral("select * from site_rule"));
    EXPECT_TRUE(rules->Eof());
    db.ExecSQL(QStringLiteral("insert into site_rule(site_name) values('x')"));
    auto row = db.GetTable(QStringLiteral("select * from site_rule"));
    EXPECT_EQ(row->ColCount(), 21u);
    EXPECT_EQ(row->FieldAsString(0), QStringLiteral("1"));
}

TEST_F(NovelLibraryTest, AFolderWithoutTablesRaisesTheAccessLayersError) {
    test::TempAppFolder bare; // no CreateMissingTables here
    try {
        HasLatestRead(QStringLiteral("s"), QStringLiteral("n"));
        FAIL() << "no exception";
    } catch (const ESQLiteException& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("no such table: latest_read")));
    }
    EXPECT_THROW(SaveChapter(1, 1, 0, 1, QStringLiteral("x")), ESQLiteException);
    EXPECT_THROW(LoadDirectory(1), ESQLiteException);
}

// 20 writers of 50 chapters each against one reader of chapter lists; without the busy
// timeout, writers meet each other's locks and chapters are lost.
TEST_F(NovelLibraryTest, ConcurrentWritersAndAReaderLoseNothing) {
    TDirectoryPageData dir;
    for (int i = 0; i < 1000; ++i) {
        dir.slChapterNameList.append(QStringLiteral("第%1章").arg(i));
        dir.slChapterUrlList.append(QStringLiteral("http://s/%1.html").arg(i));
    }
    dir.Num = 1000;
    ASSERT_TRUE(AddDirectory(1, dir));

    std::atomic<int> failures{0};
    std::atomic<bool> writing{true};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (writing) {
            try {
                if (LoadDirectory(1).Num != 1000 || GetDirectoryCount(1) != 1000)
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
                    if (!SaveChapter(1, t * 50 + c, 0, 1,
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
    EXPECT_EQ(Count(NovelDatabasePath(),
                    QStringLiteral(
                        "select count(*) from novel_chapter where novel_id=1 and is_download=1")),
              1000);
    EXPECT_EQ(Count(NovelDatabasePath(),
                    QStringLiteral("select count(distinct chapter_id) from novel_chapter")),
              1000);
}

} // namespace
