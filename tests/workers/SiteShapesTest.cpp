// Sites as they are: a mobile-style site behind a redirect from its old address, its lists over
// pages with the newest chapters above them, its chapters over two or three pages.
#include "TestSite.h"
#include "export/NovelExport.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/DemoSitesSuite.h"
#include "support/FakeSurface.h"
#include "support/TempDataFolder.h"
#include "workers/OpenNovelWorker.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace zvrd;

namespace {

class SiteShapesTest : public test::DemoSitesSuite {
protected:
    void TearDown() override { site->setBrokenChapterPages(0); }

    test::TempDataFolder folder;
    std::shared_ptr<test::FakeSurface> surface = std::make_shared<test::FakeSurface>();
};

// Opened at its old address, the novel is read where it moved: the whole list in order (the
// newest block on the first page kept only at its place), every chapter whole from its pages,
// and the book exported with nothing missing. A chapter whose second page fails is failed,
// never stored cut short.
TEST_F(SiteShapesTest, AMobileSiteIsReadWhole) {
    const SiteRule rule = findRuleBySiteName(loadSiteRules(), QStringLiteral("手机书屋"));
    const NovelInfo info = parseInfoPage(site->movedUrl() + QStringLiteral("/m/book/1/"), rule);
    ASSERT_TRUE(info.matched);
    const testsite::DemoNovel& novel = testsite::gbkNovels()[0];
    setSiteSpeed(rule, 20, 10, true); // the test is about the pages, not the pace
    site->setBrokenChapterPages(3);
    {
        OpenNovelWorker worker(info, rule.siteName, surface, false, Worker::Ownership::Held);
        worker.join();
        EXPECT_EQ(worker.chaptersNotStored(), 1);
    }
    const int32_t id = recentReadId(rule.siteName, info.name);
    const ChapterList list = loadChapterList(id);
    ASSERT_EQ(list.count, novel.chapters);
    for (int i = 0; i < list.count; ++i) {
        EXPECT_EQ(list.names[i], testsite::demoChapterName(i + 1));
        const StoredChapter chapter = storedChapter(id, i);
        if (i + 1 == 3)
            EXPECT_FALSE(chapter.found && chapter.kind != ChapterKind::Failed);
        else
            EXPECT_EQ(chapter.content, testsite::mobileChapterText(novel, i + 1)) << i;
    }
    EXPECT_EQ(directoryPageUrl(id), site->baseUrl() + QStringLiteral("/m/book/1/list_1.html"));

    site->setBrokenChapterPages(0);
    {
        OpenNovelWorker again(info, rule.siteName, surface, false, Worker::Ownership::Held);
        again.join();
        EXPECT_EQ(again.chaptersNotStored(), 0);
    }
    ExportOptions options;
    options.format = ExportFormat::Text;
    options.fileName = folder.path() + QStringLiteral("/book.txt");
    const ExportResult exported = exportNovel(rule.siteName, info.name, options);
    EXPECT_EQ(exported.kind, ExportResult::Kind::Written);
    EXPECT_EQ(exported.missing, 0);
}

// A next page is followed only to an address of the same site not read yet: a loop (A, B, A)
// ends after B, a link to another host is not taken.
TEST_F(SiteShapesTest, NextPagesStopAtLoopsAndOtherSites) {
    SiteRule rule;
    rule.chapterContent = QStringLiteral("<div id=\"nr1\">(.+?)</div>");
    rule.chapterNextPage = QStringLiteral("<a id=\"pb_next\" href=\"([^\"]+)\">");
    QString other = site->pageUrl(QStringLiteral("far"));
    other.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    auto page = [](const char* text, const QString& next) {
        return QStringLiteral("<div id=\"nr1\">%1</div><a id=\"pb_next\" href=\"%2\">")
            .arg(QLatin1String(text), next)
            .toUtf8();
    };
    site->setPage(QStringLiteral("loopA"), page("A", QStringLiteral("loopB")));
    site->setPage(QStringLiteral("loopB"), page("B", QStringLiteral("loopA")));
    site->setPage(QStringLiteral("near"), page("N", other));
    site->setPage(QStringLiteral("far"), page("F", QString()));
    EXPECT_EQ(parseChapterContent(rule, site->pageUrl(QStringLiteral("loopA"))),
              QStringLiteral("A") + kPageBreak + QStringLiteral("B"));
    EXPECT_EQ(parseChapterContent(rule, site->pageUrl(QStringLiteral("near"))),
              QStringLiteral("N"));
}

} // namespace
