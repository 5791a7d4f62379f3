// The page view on real Qt WebEngine (offscreen): key paging, links, the navigation hook, and
// scripts that arrive inside chapter text; and one search-open-read run through the window.
#include "app/PageView.h"
#include "TestSite.h"
#include "app/MainWindow.h"
#include "core/DataFolder.h"
#include "pages/PageRenderer.h"
#include "pages/ReadingStyle.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "support/TempDataFolder.h"
#include "workers/Worker.h"

#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace zvrd;

namespace {

constexpr int kWaitMs = 20000;

class PageViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("TMPDIR", temp.path().toUtf8());
        ASSERT_TRUE(extractTemplates().isEmpty());
        book = bookFolder(QStringLiteral("演示 站"), QStringLiteral("书 名"));
        ASSERT_TRUE(QDir().mkpath(book));
        // A real file behind the chapter links: a navigation that is not cancelled would show it.
        QFile decoy(book + QStringLiteral("directory_info"));
        ASSERT_TRUE(decoy.open(QIODevice::WriteOnly));
        decoy.write("<html><body>not a chapter</body></html>");
        view.webPage()->setSilent(true);
        view.webPage()->setReaderMessageHandler([this](const QString& m) { messages << m; });
        view.webPage()->setNavigationHandler([this](const QString& url, bool& cancel) {
            seen << url;
            if (url.contains(QLatin1String("directory_info")))
                cancel = true;
        });
        view.resize(900, 700);
        view.show();
        writeTextFile(renderDirectoryPage(5, {QStringLiteral("第1章"), QStringLiteral("第2章")},
                                          QStringLiteral("书 名"), QStringLiteral("演示 站"),
                                          QStringLiteral("http://s/"),
                                          QStringLiteral("http://s/b/")),
                      book + QStringLiteral("directory_page.htm"));
    }
    void TearDown() override { qunsetenv("TMPDIR"); }

    // Shows the chapter page of `index` and waits for it.
    void showChapter(int index, const QString& html = QStringLiteral("<p>正文</p>"),
                     int startAt = 0) {
        writeTextFile(renderContentPage(5, index, 10, book, QStringLiteral("书 名"),
                                        QStringLiteral("第%1章").arg(index + 1), html, startAt),
                      book + QStringLiteral("content_page.htm"));
        load(book + QStringLiteral("content_page.htm"));
    }

    // Waits for this page's own load to end: the one before may still be finishing (its
    // stylesheet), and its end must not be taken for this one's.
    void load(const QString& file) {
        bool ok = false;
        bool done = false;
        const QMetaObject::Connection finished =
            QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool success) {
                // The page's own later reports (cancelled navigations) end no load of it.
                if (!done && view.url() == QUrl::fromLocalFile(file)) {
                    ok = success;
                    done = true;
                }
            });
        view.navigate(file);
        const bool loaded = QTest::qWaitFor([&] { return done; }, kWaitMs);
        QObject::disconnect(finished);
        ASSERT_TRUE(loaded) << file.toStdString();
        ASSERT_TRUE(ok);
    }

    void press(Qt::Key key) {
        view.setFocus();
        QWidget* target = view.focusProxy() ? view.focusProxy() : &view;
        QTest::keyClick(target, key);
    }

    QVariant js(const QString& script) {
        QVariant result;
        bool done = false;
        view.page()->runJavaScript(script, [&](const QVariant& v) {
            result = v;
            done = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, kWaitMs));
        return result;
    }

    bool saw(const QString& suffix) {
        return QTest::qWaitFor(
            [&] {
                return std::any_of(seen.begin(), seen.end(),
                                   [&](const QString& u) { return u.endsWith(suffix); });
            },
            kWaitMs);
    }

    QTemporaryDir temp;
    test::TempDataFolder folder;
    QString book;
    PageView view;
    QStringList seen;
    QStringList messages;
};

TEST_F(PageViewTest, RightArrowAsksForTheNextChapterAndTheCancelledPageStays) {
    showChapter(3);
    EXPECT_TRUE(
        seen.last().endsWith(QStringLiteral("content_page.htm"))); // navigate is reported too
    press(Qt::Key_Right);
    ASSERT_TRUE(saw(QStringLiteral("directory_info#5#4")));
    QTest::qWait(300);
    EXPECT_EQ(view.url(), QUrl::fromLocalFile(book + QStringLiteral("content_page.htm")));
    EXPECT_EQ(js(QStringLiteral("document.getElementById('ChapterContent').innerHTML")).toString(),
              QStringLiteral("<p>正文</p>"));
}

// After scrolling to the end of a long chapter, the next one starts at its top.
TEST_F(PageViewTest, ANewChapterStartsAtItsTop) {
    const QString longText = QStringLiteral("<p>正文</p>").repeated(400);
    showChapter(3, longText);
    js(QStringLiteral("window.scrollTo(0, document.body.scrollHeight)"));
    ASSERT_GT(js(QStringLiteral("window.scrollY")).toInt(), 1000);
    showChapter(4, longText);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return js(QStringLiteral("window.scrollY")).toInt() == 0; }, 2000))
        << js(QStringLiteral("window.scrollY")).toInt();
}

// The reading settings are kept (a restart reads the same) and reach the rendered page through
// its stylesheet.
TEST_F(PageViewTest, ReadingSettingsShapeThePage) {
    ReadingSettings settings;
    settings.fontSize = 26;
    settings.widthChars = 30;
    settings.theme = ReadingTheme::Night;
    ASSERT_TRUE(saveReadingSettings(settings));
    EXPECT_EQ(readingSettings(), settings);
    ASSERT_TRUE(writeReadingStyleSheet(readingSettings()));
    showChapter(2);
    const QString content =
        QStringLiteral("getComputedStyle(document.getElementById('ChapterContent')).");
    EXPECT_EQ(js(content + QStringLiteral("fontSize")).toString(), QStringLiteral("26px"));
    EXPECT_EQ(js(content + QStringLiteral("maxWidth")).toString(), QStringLiteral("780px"));
    EXPECT_EQ(js(content + QStringLiteral("color")).toString(),
              QStringLiteral("rgb(168, 168, 168)"));
}

// Space at the end of a chapter turns to the next one, Page Up at its top to the one before;
// Ctrl with the wheel changes the text size.
TEST_F(PageViewTest, SpaceAndPageUpTurnChaptersAtEitherEnd) {
    showChapter(3);
    press(Qt::Key_Space);
    ASSERT_TRUE(saw(QStringLiteral("directory_info#5#4")));
    press(Qt::Key_PageUp);
    ASSERT_TRUE(saw(QStringLiteral("directory_info#5#2")));
    // Ctrl with the wheel asks the window for another text size and does not zoom the page.
    const QString wheel = QStringLiteral("window.dispatchEvent(new WheelEvent('wheel', {ctrlKey: "
                                         "true, deltaY: %1, cancelable: true}))");
    EXPECT_FALSE(js(wheel.arg(-120)).toBool());
    EXPECT_FALSE(js(wheel.arg(120)).toBool());
    EXPECT_TRUE(QTest::qWaitFor([&] { return messages.size() >= 2; }, kWaitMs));
    EXPECT_EQ(messages,
              (QStringList{QStringLiteral("reading_size#2"), QStringLiteral("reading_size#-2")}));
}

// A chapter page tells where in its text the reader is; reopened there, also with another font
// size, it shows the same line.
TEST_F(PageViewTest, ThePlaceInsideAChapterComesBack) {
    QString text;
    for (int i = 0; i < 300; ++i)
        text += QStringLiteral("<p>第%1段。山风吹过，少年站在村口。</p>").arg(i);
    showChapter(3, text);
    js(QStringLiteral("window.scrollTo(0, document.documentElement.scrollHeight * 0.4)"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.isEmpty(); }, kWaitMs));
    EXPECT_TRUE(messages.last().startsWith(QLatin1String("reading_place#5#3#")));
    const int position = messages.last().section(QLatin1Char('#'), -1).toInt();
    EXPECT_GT(position, 2000);
    const QString share =
        QStringLiteral("(function () { var t = document.getElementById('ChapterContent');"
                       " var top = t.getBoundingClientRect().top + window.scrollY;"
                       " return [(window.scrollY - top) / t.offsetHeight,"
                       " parseFloat(getComputedStyle(t).lineHeight) / t.offsetHeight]; })()");
    for (const int size : {20, 30}) {
        ReadingSettings settings;
        settings.fontSize = size;
        ASSERT_TRUE(writeReadingStyleSheet(settings));
        showChapter(3, text, position);
        const QVariantList at = js(share).toList();
        ASSERT_EQ(at.size(), 2);
        EXPECT_NEAR(at[0].toDouble(), position / 10000.0, at[1].toDouble()) << size;
    }
}

TEST_F(PageViewTest, LeftOnTheFirstChapterAndEnterOpenTheDirectoryPage) {
    showChapter(0);
    press(Qt::Key_Left);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return view.url() == QUrl::fromLocalFile(book + QStringLiteral("directory_page.htm"));
        },
        kWaitMs));
    showChapter(4);
    press(Qt::Key_Left);
    ASSERT_TRUE(saw(QStringLiteral("directory_info#5#3")));
    press(Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return view.url() == QUrl::fromLocalFile(book + QStringLiteral("directory_page.htm"));
        },
        kWaitMs));
}

TEST_F(PageViewTest, AChapterLinkOnTheDirectoryPageReportsItsAddress) {
    load(book + QStringLiteral("directory_page.htm"));
    js(QStringLiteral("document.querySelectorAll('a[href^=\"directory_info\"]')[1].click()"));
    ASSERT_TRUE(saw(QStringLiteral("directory_info#5#1")));
    const QString url = seen.last();
    EXPECT_TRUE(url.startsWith(QStringLiteral("file://"))) << url.toStdString();
    EXPECT_EQ(url.split(QLatin1Char('#')).size(), 3);
}

TEST_F(PageViewTest, ScriptsInsideChapterTextDoNotRunButTheKeyScriptDoes) {
    showChapter(
        2, QStringLiteral("<p>正文</p><script>document.title='pwned';</script>"
                          "<img src=\"nothing.png\" onerror=\"document.title='pwned too'\">"
                          "<a id=\"evil\" href=\"javascript:document.title='clicked'\">x</a>"));
    QTest::qWait(500);
    js(QStringLiteral("document.getElementById('evil').click()"));
    QTest::qWait(300);
    EXPECT_EQ(js(QStringLiteral("document.title")).toString(), QStringLiteral("第3章 - 书 名"));
    press(Qt::Key_Right);
    EXPECT_TRUE(saw(QStringLiteral("directory_info#5#3")));
}

// A book folder whose names hold ", #, ? and %: the links and the keys lead to the same pages.
TEST_F(PageViewTest, ANameWithQuotesHashesAndPercentPagesBothWaysByLinksAndKeys) {
    book = bookFolder(QStringLiteral("演\"示#站"), QStringLiteral("书?名%20#1"));
    ASSERT_TRUE(QDir().mkpath(book));
    const QString directory = book + QStringLiteral("directory_page.htm");
    writeTextFile(renderDirectoryPage(5, {QStringLiteral("第1章")}, QStringLiteral("书"),
                                      QStringLiteral("站"), QStringLiteral("http://s/"),
                                      QStringLiteral("http://s/b/")),
                  directory);
    auto atDirectory = [&] {
        return QTest::qWaitFor([&] { return view.url() == QUrl::fromLocalFile(directory); },
                               kWaitMs);
    };
    for (const int index : {0, 9}) {
        const Qt::Key key = index == 0 ? Qt::Key_Left : Qt::Key_Right;
        const int link = index == 0 ? 0 : 2; // 上一章, 返回目录, 下一章
        showChapter(index);
        press(key);
        EXPECT_TRUE(atDirectory()) << "key at chapter " << index;
        showChapter(index);
        js(QStringLiteral("document.querySelectorAll('a')[%1].click()").arg(link));
        EXPECT_TRUE(atDirectory()) << "link at chapter " << index;
    }
    // In the middle, both ask for the same chapter link.
    showChapter(4);
    press(Qt::Key_Right);
    ASSERT_TRUE(saw(QStringLiteral("directory_info#5#5")));
    const QString byKey = seen.last();
    js(QStringLiteral("document.querySelectorAll('a')[2].click()"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.count(byKey) == 2; }, kWaitMs));
}

// A link that leaves the library (the site's address at the foot of a table of contents) goes to
// the web browser; the page view stays where it was.
TEST_F(PageViewTest, ARemoteLinkOpensInTheBrowserNotInTheView) {
    QList<QUrl> opened;
    view.webPage()->setExternalOpener([&](const QUrl& url) { opened << url; });
    const QString directory = book + QStringLiteral("directory_page.htm");
    load(directory);
    js(QStringLiteral("Array.from(document.querySelectorAll('a')).find(a => a.href == "
                      "'http://s/').click()"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, kWaitMs));
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("http://s/"))});
    QTest::qWait(300);
    EXPECT_EQ(view.url(), QUrl::fromLocalFile(directory));
}

// A <base> inside chapter text cannot send 返回目录 or Enter to a remote page.
TEST_F(PageViewTest, ABaseInChapterTextChangesNoLink) {
    const QString directory = book + QStringLiteral("directory_page.htm");
    showChapter(3, QStringLiteral("<base href=\"http://127.0.0.1:9/\"><p>正文</p>"));
    press(Qt::Key_Return);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return view.url() == QUrl::fromLocalFile(directory); }, kWaitMs))
        << view.url().toString().toStdString();
    showChapter(3, QStringLiteral("<base href=\"http://127.0.0.1:9/\"><p>正文</p>"));
    js(QStringLiteral("document.querySelectorAll('a')[1].click()"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return view.url() == QUrl::fromLocalFile(directory); }, kWaitMs));
    for (const QString& url : seen)
        EXPECT_FALSE(url.contains(QStringLiteral("127.0.0.1:9"))) << url.toStdString();
}

// ---- search, open and read through the window ------------------------------------------------

TEST(EndToEndTest, SearchOpenAndReadInTheWindow) {
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    test::TempDataFolder folder;
    testsite::TestSite site;
    ASSERT_TRUE(
        importRuleScript(QStringLiteral(ZVRD_SOURCE_DIR "/data/demo_sites.sql"), site.baseUrl()));
    {
        QFile ini(folder.file(QStringLiteral("config.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[target_site]\r\nselected=901,902,\r\n");
    }
    MainWindow window;
    window.startUp();
    uint32_t tick = 100000;
    window.setTickCounter([&] { return tick += 5000; });
    QStringList messages;
    window.setMessageBox([&](const QString& text) { messages << text; });
    window.resize(1024, 720);
    window.show();

    QLineEdit* box = window.searchBox();
    QFocusEvent focusIn(QEvent::FocusIn, Qt::OtherFocusReason);
    QApplication::sendEvent(box, &focusIn);
    QInputMethodEvent typing;
    typing.setCommitString(QStringLiteral("修仙"));
    QApplication::sendEvent(box, &typing);
    QTest::keyClick(box, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.statusText().startsWith(QStringLiteral("搜索完成")); }, kWaitMs));
    EXPECT_TRUE(
        window.statusText().startsWith(QStringLiteral("搜索完成，共搜索到 4 本小说，用时 ")));
    QTableWidget* lv = window.resultList();
    ASSERT_EQ(lv->rowCount(), 4);
    int row = -1;
    for (int r = 0; r < 4; ++r) {
        if (lv->item(r, 1)->text() == QStringLiteral("书海阁") &&
            lv->item(r, 2)->text() == QStringLiteral("凡人修仙传"))
            row = r;
    }
    ASSERT_GE(row, 0);
    lv->selectRow(row);
    window.openSelectedNovel();
    // The page view comes forward with the wait page drawn, never with the page it had.
    EXPECT_FALSE(window.pageViewInFront());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.pageViewInFront(); }, kWaitMs));
    const QString book = bookFolder(QStringLiteral("书海阁"), QStringLiteral("凡人修仙传"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.statusText() == QStringLiteral("所有章节已下载完成"); }, 60000))
        << window.statusText().toStdString();
    PageView* view = window.pageView();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return view->url() == QUrl::fromLocalFile(book + QStringLiteral("directory_page.htm"));
        },
        kWaitMs));

    // The table of contents is written and reloaded once more when the downloads end: the click
    // goes to the page as it is after that, not to one being replaced.
    ASSERT_TRUE(QTest::qWaitFor([] { return Worker::running() == 0; }, kWaitMs));
    QSignalSpy shown(view, &QWebEngineView::loadFinished);
    view->load(QUrl::fromLocalFile(book + QStringLiteral("directory_page.htm")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty() && shown.last().first().toBool(); },
                                kWaitMs));
    QSignalSpy loaded(view, &QWebEngineView::loadFinished);
    view->page()->runJavaScript(
        QStringLiteral("document.querySelectorAll('a[href^=\"directory_info\"]')[2].click()"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.statusText() == QStringLiteral("当前章节： 「第3章 炼气之始」"); },
        kWaitMs))
        << window.statusText().toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return view->url() == QUrl::fromLocalFile(book + QStringLiteral("content_page.htm"));
        },
        kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loaded.isEmpty() && loaded.last().first().toBool(); },
                                kWaitMs));

    view->setFocus();
    QTest::keyClick(view->focusProxy() ? view->focusProxy() : view, Qt::Key_Right);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window.statusText() == QStringLiteral("当前章节： 「第4章 神秘小瓶」"); },
        kWaitMs))
        << window.statusText().toStdString();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(readTextFile(book + QStringLiteral("content_page.htm"))
                    .contains(fileUrl(book + QStringLiteral("pic/3_0.png"))));
    ASSERT_TRUE(QTest::qWaitFor([] { return Worker::running() == 0; }, kWaitMs));

    // The serial grows on its site: 检查更新 finds and downloads the two new chapters, and the
    // bookshelf counts them as new since the chapter last read.
    site.setChapterCount(QStringLiteral("gbk"), 1, 47);
    window.checkForNewChapters();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.checkingForUpdates(); }, 60000));
    EXPECT_EQ(window.statusText(), QStringLiteral("检查更新完成：1 本小说有更新，共 2 个新章节。"));
    window.listRecentReads();
    ASSERT_EQ(lv->rowCount(), 1);
    EXPECT_EQ((QStringList{lv->item(0, 4)->text(), lv->item(0, 5)->text(), lv->item(0, 6)->text()}),
              (QStringList{QStringLiteral("47 / 47"), QStringLiteral("2"),
                           QStringLiteral("第4章 神秘小瓶")}));
    EXPECT_TRUE(readTextFile(book + QStringLiteral("directory_page.htm"))
                    .contains(QStringLiteral("继续阅读：第4章 神秘小瓶")));
    window.closeSurface();
    qunsetenv("TMPDIR");
}

} // namespace
