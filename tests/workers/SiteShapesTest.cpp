// Sites as they are: a mobile-style site behind a redirect from its old address, its lists over
// pages with the newest chapters above them, its chapters over two or three pages.
#include "TestSite.h"
#include "core/DataFolder.h"
#include "export/NovelExport.h"
#include "net/WebFetch.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "support/DemoSitesSuite.h"
#include "support/FakeSurface.h"
#include "support/TempDataFolder.h"
#include "workers/OpenNovelWorker.h"

#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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

// A site's own headers (User-Agent, header lines, the reader's cookie, the linking page as
// Referer) reach that site's server only: not the old address that redirects to it. The cookie
// is never written into the book. Without the Referer its chapters are refused.
TEST_F(SiteShapesTest, HeadersGoToTheirSiteOnly) {
    SiteRule rule = findRuleBySiteName(loadSiteRules(), QStringLiteral("手机书屋"));
    rule.userAgent = QStringLiteral("ReaderTest/1.0 Mobile");
    rule.extraHeaders = QStringLiteral("X-Reader-Test: yes\n\nAccept-Language: zh-CN");
    ASSERT_TRUE(requestHeadersProblem(rule, QStringLiteral("sid=s3cret")).isEmpty());
    setSiteRequestHeaders(rule);
    setSiteCookie(rule, QStringLiteral("sid=s3cret"));
    setSiteSpeed(rule, 20, 10, true);
    const NovelInfo info = parseInfoPage(site->movedUrl() + QStringLiteral("/m/book/2/"), rule);
    ASSERT_TRUE(info.matched);
    {
        OpenNovelWorker worker(info, rule.siteName, surface, false, Worker::Ownership::Held);
        worker.join();
        EXPECT_EQ(worker.chaptersNotStored(), 0);
    }
    auto ofNovel = [](const QStringList& seen) {
        return seen.filter(QStringLiteral("/m/book/2/"));
    };
    const QString list = site->baseUrl() + QStringLiteral("/m/book/2/list_1.html");
    const QString movedList = site->movedUrl() + QStringLiteral("/m/book/2/list_1.html");
    const QStringList cookies = ofNovel(site->headerValues(site->baseUrl(), "Cookie"));
    EXPECT_FALSE(cookies.isEmpty());
    EXPECT_TRUE(cookies.filter(QStringLiteral("s3cret")).size() == cookies.size());
    EXPECT_FALSE(ofNovel(site->headerValues(site->baseUrl(), "X-Reader-Test")).isEmpty());
    EXPECT_TRUE(ofNovel(site->headerValues(site->baseUrl(), "User-Agent"))
                    .filter(QStringLiteral("ReaderTest"))
                    .size() > 0);
    // A chapter's Referer is its list, where the reader came from.
    QStringList referers;
    for (const QString& seen : ofNovel(site->headerValues(site->baseUrl(), "Referer"))) {
        if (seen.startsWith(QLatin1String("/m/book/2/1.html ")))
            referers.append(seen);
    }
    ASSERT_FALSE(referers.isEmpty());
    for (const QString& referer : referers)
        EXPECT_TRUE(referer.endsWith(list) || referer.endsWith(movedList)) << referer.toStdString();
    for (const char* name : {"Cookie", "X-Reader-Test", "Referer"})
        EXPECT_TRUE(ofNovel(site->headerValues(site->movedUrl(), name)).isEmpty()) << name;
    EXPECT_TRUE(ofNovel(site->headerValues(site->movedUrl(), "User-Agent"))
                    .filter(QStringLiteral("ReaderTest"))
                    .isEmpty());

    ExportOptions options;
    options.format = ExportFormat::Text;
    options.fileName = folder.path() + QStringLiteral("/book.txt");
    ASSERT_EQ(exportNovel(rule.siteName, info.name, options).kind, ExportResult::Kind::Written);
    QStringList files{options.fileName};
    for (QDirIterator it(dataFolder() + QStringLiteral("/book"), QDir::Files,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        files.append(it.next());
    for (const QString& name : files) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_FALSE(file.readAll().contains("s3cret")) << name.toStdString();
    }

    rule.refererFromLink = false;
    setSiteRequestHeaders(rule);
    EXPECT_TRUE(
        parseChapterContent(rule, site->baseUrl() + QStringLiteral("/m/book/2/2.html")).isEmpty());
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

// A site that gives its chapters new addresses (same titles in the same order, written a little
// differently) moves the stored rows: index and text stay, only later chapters are new. A list
// of other titles at new addresses is new chapters, as before.
TEST_F(SiteShapesTest, ChaptersThatMovedKeepTheirPlace) {
    SiteRule rule;
    rule.siteName = QStringLiteral("搬家站");
    rule.directoryRegion = QStringLiteral("<ul>(.+?)</ul>");
    rule.directoryChapterNameAndUrl = QStringLiteral("<li><a href=\"(.+?)\">(.+?)</a></li>");
    auto list = [](const char* folder, const char* title, int count) {
        ChapterList made;
        for (int i = 1; i <= count; ++i) {
            made.names << QString::fromUtf8(title).arg(i);
            made.urls << site->baseUrl() +
                             QStringLiteral("/%1/%2.html").arg(QLatin1String(folder)).arg(i);
        }
        made.count = count;
        return made;
    };
    const struct {
        const char* siteTitle;
        int moved;
        int added;
    } cases[] = {{"第%1章：章名", 6, 2}, {"番外%1", 0, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.siteTitle);
        const ChapterList site8 = list("new", c.siteTitle, 8);
        QString page = QStringLiteral("<ul>");
        for (int i = 0; i < site8.count; ++i)
            page +=
                QStringLiteral("<li><a href=\"%1\">%2</a></li>").arg(site8.urls[i], site8.names[i]);
        NovelInfo novel;
        novel.name = QString::fromUtf8(c.siteTitle);
        novel.directoryPageUrl = site->pageUrl(QStringLiteral("moved-list"));
        site->setPage(QStringLiteral("moved-list"), (page + QStringLiteral("</ul>")).toUtf8());
        addRecentRead(rule.siteName, novel.name, QString(), QString(), QString());
        const int32_t id = recentReadId(rule.siteName, novel.name);
        addChapterList(id, list("old", "第%1章 章名", 6));
        saveChapter(id, 0, ChapterKind::Text, 1, QStringLiteral("已存的正文"));
        ChapterList stored;
        const RefreshOutcome outcome = refreshChapterList(id, rule, novel, &stored);
        EXPECT_EQ(outcome.moved, c.moved);
        EXPECT_EQ(outcome.added, c.added);
        const ChapterList now = loadChapterList(id);
        ASSERT_EQ(now.count, 6 + c.added);
        EXPECT_EQ(now.urls[0], c.moved ? site8.urls[0] : list("old", "x%1", 1).urls[0]);
        EXPECT_EQ(now.urls.last(), site8.urls.last());
        EXPECT_EQ(storedChapter(id, 0).content, QStringLiteral("已存的正文"));
    }
}

// The demo server's serials go on after a restart from the length its last run reached, so a
// library that kept the longer list finds its chapters still there.
TEST_F(SiteShapesTest, TheDemoSerialsGoOnAfterARestart) {
    const QString state = folder.file(QStringLiteral("serials"));
    testsite::Options options;
    options.growEverySeconds = 1;
    options.stateFile = state;
    auto chapters = [](const testsite::TestSite& server) {
        const QString list = fetchHtml(server.baseUrl() + QStringLiteral("/utf8/book/3/index.html"),
                                       QStringLiteral("utf-8"));
        return static_cast<int>(list.count(QStringLiteral(".html\"")));
    };
    int reached = 0;
    {
        testsite::TestSite first(options);
        const int start = chapters(first);
        ASSERT_GT(start, 0);
        for (int i = 0; i < 100 && reached < start + 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            reached = chapters(first);
        }
        ASSERT_GE(reached, start + 2);
    }
    testsite::TestSite second(options);
    EXPECT_GE(chapters(second), reached);
}

} // namespace
