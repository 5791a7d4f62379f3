// 换源 against the two demo sites that both carry 凡人修仙传 (45 and 30 chapters): the listing,
// the place carried and back, a switch while the old site's download runs, and nothing of the
// old site lost.
#include "workers/SourceSwitch.h"
#include "TestSite.h"
#include "core/IniFile.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "store/NovelSwitch.h"
#include "support/DemoSitesSuite.h"
#include "support/FakeSurface.h"
#include "support/TempDataFolder.h"
#include "workers/OpenNovelWorker.h"

#include <gtest/gtest.h>

using namespace zvrd;

namespace {

class SourceSwitchTest : public test::DemoSitesSuite {
protected:
    void SetUp() override {
        DemoSitesSuite::SetUp();
        writeIniValue(configIniPath(), QStringLiteral("target_site"), QStringLiteral("selected"),
                      QStringLiteral("901,902,"));
        const SiteRule rule = findRuleBySiteName(loadSiteRules(), QStringLiteral("书海阁"));
        info = parseInfoPage(site->baseUrl() + QStringLiteral("/gbk/book/1/"), rule);
        ASSERT_TRUE(info.matched);
        ASSERT_TRUE(addRecentRead(QStringLiteral("书海阁"), info.name, info.author,
                                  info.latestChapter, info.infoPageUrl));
        oldId = recentReadId(QStringLiteral("书海阁"), info.name);
        ASSERT_TRUE(addChapterList(oldId, parseDirectoryPage(info.directoryPageUrl, rule)));
    }

    SourceCandidate other() const {
        const QList<SourceCandidate> found =
            findOtherSources(oldId, QStringLiteral("书海阁"), info.name, info.author);
        EXPECT_EQ(found.size(), 1);
        return found.value(0);
    }

    test::TempDataFolder folder;
    NovelInfo info;
    int32_t oldId = -1;
};

TEST_F(SourceSwitchTest, ThePlaceGoesOverAndComesBack) {
    const SourceCandidate utf8 = other();
    EXPECT_EQ(utf8.siteName, QStringLiteral("云中书库"));
    EXPECT_EQ(utf8.list.count, 30);
    EXPECT_TRUE(utf8.sameAuthor);

    recordReading(oldId, 20);
    const SwitchOutcome there = switchSource(oldId, utf8);
    EXPECT_EQ(there.chapterIndex, 20);
    EXPECT_EQ(lastReadChapter(there.novelId), 20);
    QList<ShelfEntry> shelf = bookshelf();
    ASSERT_EQ(shelf.size(), 1);
    EXPECT_EQ(shelf[0].novelId, there.novelId);
    EXPECT_EQ(shelf[0].sitesLeft, QStringList{QStringLiteral("书海阁")});
    EXPECT_EQ(chapterCount(oldId), 45); // nothing of the old site goes

    // A place past the new list's end lands on its end, said so; back with nothing read since,
    // the exact place left (not its end carried back).
    SourceCandidate gbk;
    gbk.siteName = QStringLiteral("书海阁");
    gbk.info = info;
    gbk.list = loadChapterList(oldId);
    ASSERT_EQ(switchSource(there.novelId, gbk).novelId, oldId);
    recordReading(oldId, 40);
    const SwitchOutcome clamped = switchSource(oldId, utf8);
    EXPECT_EQ(clamped.chapterIndex, 29);
    EXPECT_EQ(clamped.how, CarriedPlace::How::Clamped);
    EXPECT_TRUE(clamped.statusText.contains(QStringLiteral("最后一章")))
        << clamped.statusText.toStdString();
    const SwitchOutcome back = switchSource(clamped.novelId, gbk);
    EXPECT_EQ(back.chapterIndex, 40);
    EXPECT_EQ(bookshelf()[0].novelId, oldId);
}

// The old site's download goes on to its end while the novel moves; every chapter it stored
// stays.
TEST_F(SourceSwitchTest, ASwitchWhileTheOldDownloadRuns) {
    const SourceCandidate utf8 = other();
    site->setSlowChapters(3, 100);
    auto surface = std::make_shared<test::FakeSurface>();
    OpenNovelWorker download(info, QStringLiteral("书海阁"), surface, false,
                             Worker::Ownership::Held);
    recordReading(oldId, 5);
    const SwitchOutcome moved = switchSource(oldId, utf8);
    download.join();
    site->setSlowChapters(0, 0);
    EXPECT_EQ(moved.chapterIndex, 5);
    EXPECT_EQ(download.chaptersNotStored(), 0);
    EXPECT_EQ(downloadedChapters(oldId).size(), 45);
    EXPECT_EQ(bookshelf().size(), 1);
}

} // namespace
