// The main window offscreen: the search box, the result list and its numbering, the start-up
// steps, the update check and the chapter-link rules.
#include "app/MainWindow.h"
#include "app/ReadingSettingsDialog.h"
#include "app/UpdateCheck.h"
#include "core/DataFolder.h"
#include "pages/PageRenderer.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"
#include "support/Layouts.h"
#include "support/TempDataFolder.h"
#include "workers/OpenNovelWorker.h"
#include "workers/Worker.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace zvrd;

namespace {

void focus(QWidget* widget, QEvent::Type type) {
    QFocusEvent event(type, Qt::OtherFocusReason);
    QApplication::sendEvent(widget, &event);
}

// Chinese text reaches the box as an input-method commit, as a real IME sends it.
void typeText(QLineEdit* box, const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(box, &event);
}

QStringList Row(QTableWidget* lv, int row) {
    QStringList cells;
    for (int c = 0; c < lv->columnCount(); ++c)
        cells << (lv->item(row, c) ? lv->item(row, c)->text() : QString());
    return cells;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        prepareLibrary();
        window.setSearchStarter([this](const QString& name) { searches << name; });
    }

    test::TempDataFolder folder;
    MainWindow window;
    QStringList searches;
};

TEST_F(MainWindowTest, CaptionsAndColumns) {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Zelvo小说阅读器V1.12"));
    QTableWidget* lv = window.resultList();
    QStringList headers;
    for (int c = 0; c < lv->columnCount(); ++c)
        headers << lv->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headers, (QStringList{QStringLiteral("序号"), QStringLiteral("目标站"),
                                    QStringLiteral("小说名称"), QStringLiteral("小说作者"),
                                    QStringLiteral("最新章节"), QStringLiteral("小说URL地址")}));
    EXPECT_EQ(lv->columnWidth(0), 50);
    EXPECT_EQ(lv->columnWidth(4), 300);
    EXPECT_EQ(window.searchBox()->text(), kSearchPlaceholder);
}

// A download's progress, from any thread: stored / total and failed; hidden when it ends.
TEST_F(MainWindowTest, DownloadProgressShowsStoredTotalAndFailed) {
    EXPECT_EQ(window.progressText(), QString());
    std::thread worker([&] { window.setProgress(12, 0, 300); });
    while (window.progressText().isEmpty())
        QCoreApplication::processEvents();
    worker.join();
    EXPECT_EQ(window.progressText(), QStringLiteral("12 / 300 章"));
    window.setProgress(250, 3, 300);
    EXPECT_EQ(window.progressText(), QStringLiteral("250 / 300 章，失败 3"));
    window.setProgress(0, 0, 0);
    EXPECT_EQ(window.progressText(), QString());
}

TEST_F(MainWindowTest, SearchBoxPlaceholderComesAndGoes) {
    QLineEdit* box = window.searchBox();
    focus(box, QEvent::FocusIn);
    EXPECT_EQ(box->text(), QString());
    focus(box, QEvent::FocusOut);
    EXPECT_EQ(box->text(), kSearchPlaceholder);
    focus(box, QEvent::FocusIn);
    typeText(box, QStringLiteral("凡人"));
    focus(box, QEvent::FocusOut);
    EXPECT_EQ(box->text(), QStringLiteral("凡人"));
    focus(box, QEvent::FocusIn);
    EXPECT_EQ(box->text(), QStringLiteral("凡人"));
}

TEST_F(MainWindowTest, EmptyOrPlaceholderSearchesDoNothing) {
    window.addResultRow(QStringLiteral("站"), QStringLiteral("书"), QString(), QString(),
                        QString());
    window.startSearch(); // still the placeholder
    window.searchBox()->clear();
    window.startSearch();
    EXPECT_TRUE(searches.isEmpty());
    EXPECT_EQ(window.resultList()->rowCount(), 1);
}

// Blanks and 《》 around the words go; the box keeps what was typed.
TEST_F(MainWindowTest, EnterSearchesTheWordsTypedAndIsSwallowed) {
    QLineEdit* box = window.searchBox();
    window.addResultRow(QStringLiteral("站"), QStringLiteral("书"), QString(), QString(),
                        QString());
    window.showPageView();
    focus(box, QEvent::FocusIn);
    typeText(box, QStringLiteral("  《凡人》 "));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(searches, QStringList{QStringLiteral("凡人")});
    EXPECT_EQ(box->text(), QStringLiteral("  《凡人》 "));
    EXPECT_EQ(window.resultList()->rowCount(), 0);
    EXPECT_FALSE(window.pageViewInFront());

    box->setText(QStringLiteral("   "));
    QTest::keyClick(box, Qt::Key_Enter);
    window.startSearch();
    EXPECT_EQ(searches, QStringList{QStringLiteral("凡人")});
    // Other keys type as usual.
    QTest::keyClick(box, Qt::Key_A);
    EXPECT_EQ(box->text(), QStringLiteral("   a"));
}

// Opening a novel clears what the previous novel left in the status bar.
TEST_F(MainWindowTest, OpeningANovelClearsTheStatusBar) {
    window.setStatusText(QStringLiteral("所有章节已下载完成"));
    window.setProgress(3, 0, 9);
    window.addResultRow(QStringLiteral("站"), QStringLiteral("书"), QString(), QString(),
                        QStringLiteral("http://127.0.0.1:1/"));
    window.resultList()->selectRow(0);
    window.openSelectedNovel();
    EXPECT_EQ(window.statusText(), QString());
    EXPECT_EQ(window.progressText(), QString());
    EXPECT_TRUE(QTest::qWaitFor([] { return Worker::running() == 0; }, 20000));
    window.closeSurface();
}

TEST_F(MainWindowTest, RowsFromManyThreadsAreNumberedWithoutGapsOrMixedCells) {
    constexpr int kThreads = 5;
    constexpr int kRows = 40;
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRows; ++i) {
                const QString id = QStringLiteral("%1-%2").arg(t).arg(i);
                window.addResultRow(QStringLiteral("site%1").arg(t), id, id, id, id);
            }
            ++done;
        });
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return done == kThreads; }, 20000));
    for (auto& thread : threads)
        thread.join();
    QTableWidget* lv = window.resultList();
    ASSERT_EQ(lv->rowCount(), kThreads * kRows);
    for (int r = 0; r < lv->rowCount(); ++r) {
        const QStringList cells = Row(lv, r);
        EXPECT_EQ(cells[0], QString::number(r + 1));
        EXPECT_EQ(cells[1], QStringLiteral("site") + cells[2].section(QLatin1Char('-'), 0, 0));
        EXPECT_EQ(cells[2], cells[3]);
        EXPECT_EQ(cells[2], cells[5]);
    }
    std::thread counter([&] {
        EXPECT_EQ(window.resultCount(), kThreads * kRows);
        ++done;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done == kThreads + 1; }, 5000));
    counter.join();

    window.clearResults();
    window.addResultRow(QStringLiteral("a"), QStringLiteral("b"), QString(), QString(), QString());
    EXPECT_EQ(Row(lv, 0)[0], QStringLiteral("1"));
}

TEST_F(MainWindowTest, TheLastColumnFillsTheListAfterAResize) {
    window.show();
    window.resize(1200, 700);
    QTableWidget* lv = window.resultList();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lv->columnWidth(5) == lv->width() - 720; }, 3000));
    window.resize(1024, 720);
    EXPECT_TRUE(QTest::qWaitFor([&] { return lv->columnWidth(5) == lv->width() - 720; }, 3000))
        << lv->columnWidth(5) << " vs " << lv->width();
    window.hide();
}

TEST_F(MainWindowTest, StartUpWritesTheTemplatesOverOlderFiles) {
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    QFile old(templateFolder() + QStringLiteral("wait.htm"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    window.startUp();
    for (const QString& name : templateFileNames()) {
        QFile written(templateFolder() + name);
        QFile resource(QStringLiteral(":/templates/") + name);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << name.toStdString();
        ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll(), resource.readAll());
    }
    EXPECT_EQ(window.size(), QSize(1024, 720));
    // The size the reader gave the window comes back at the next start.
    window.show();
    window.resize(900, 640);
    window.close();
    MainWindow next;
    next.startUp();
    EXPECT_EQ(next.size(), QSize(900, 640));
    qunsetenv("TMPDIR");
}

// Taken as it opened, the reading settings dialog changes nothing: not the page's own font for
// the first one of the list, nor a font no longer installed.
TEST_F(MainWindowTest, TheReadingSettingsDialogKeepsWhatItWasGiven) {
    for (const QString& family : {QString(), QStringLiteral("不存在的字体")}) {
        ReadingSettings given;
        given.fontFamily = family;
        given.theme = ReadingTheme::Night;
        given.script = ChineseScript::Traditional;
        ReadingSettingsDialog dialog(given, [](const ReadingSettings&) {});
        EXPECT_EQ(dialog.settings(), given) << family.toStdString();
    }
}

TEST_F(MainWindowTest, ALargerFontGrowsTheToolbarInsteadOfClippingIt) {
    EXPECT_EQ(test::clippedButtons(window, 24), QStringList());
}

// ---- update check ----------------------------------------------------------------------------

class UpdateCheckTest : public ::testing::Test {
protected:
    void writeUpdater(const QByteArray& script) {
        QFile f(folder.file(QStringLiteral("patchrun")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\necho \"$#:$*\" >> \"$(dirname \"$0\")/calls.txt\"\n" + script);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QStringList calls() {
        QFile f(folder.file(QStringLiteral("calls.txt")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    test::TempDataFolder folder;
    QList<int> asked;
};

TEST_F(UpdateCheckTest, MissingUpdaterOrNoUpdatesAskNothing) {
    auto ask = [&](int n) {
        asked << n;
        return true;
    };
    EXPECT_FALSE(checkForUpdates(folder.path(), 5000, ask));
    writeUpdater("exit 0\n");
    EXPECT_FALSE(checkForUpdates(folder.path(), 5000, ask));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(calls(), QStringList{QStringLiteral("1:-checkforupdates")});
}

TEST_F(UpdateCheckTest, UpdatesAreOfferedAndYesStartsTheUpdaterAgain) {
    writeUpdater("[ \"$1\" = -checkforupdates ] && exit 3\nexit 0\n");
    EXPECT_FALSE(checkForUpdates(folder.path(), 5000, [&](int n) {
        asked << n;
        return false;
    }));
    EXPECT_TRUE(checkForUpdates(folder.path(), 5000, [&](int n) {
        asked << n;
        return true;
    }));
    EXPECT_EQ(asked, (QList<int>{3, 3}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls().size() == 3; }, 5000));
    EXPECT_EQ(calls().last(), QStringLiteral("0:")); // started again without parameters
}

TEST_F(UpdateCheckTest, AnUpdaterThatNeverAnswersIsNoAnswer) {
    writeUpdater("sleep 30\nexit 2\n");
    EXPECT_FALSE(checkForUpdates(folder.path(), 300, [&](int n) {
        asked << n;
        return true;
    }));
    EXPECT_TRUE(asked.isEmpty());
}

// ---- chapter links -------------------------------------------------------------------------

class ChapterLinkTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        window.setTickCounter([this] { return now; });
        window.setMessageBox([this](const QString& text) { messages << text; });
        window.setChapterStarter([this](int32_t rule, int32_t novel, int32_t index,
                                        const QString& book, const QString& name,
                                        const QString& chapter, const QString& url) {
            started << QStringList{QString::number(rule),
                                   QString::number(novel),
                                   QString::number(index),
                                   book,
                                   name,
                                   chapter,
                                   url};
        });
        addRecentRead(QStringLiteral("站"), QStringLiteral(" 书 "), QString(), QString(),
                      QString());
        SqliteDatabase db(ruleDatabasePath());
        db.exec(QStringLiteral("insert into site_rule(id, site_name) values(7, '站')"));
        ChapterList list;
        list.count = 2;
        list.names = {QStringLiteral("第一章"), QStringLiteral("第二章")};
        list.urls = {QStringLiteral("http://s/1.html"), QStringLiteral("http://s/2.html")};
        addChapterList(1, list);
    }

    bool follow(const QString& url) {
        bool cancel = false;
        window.handleNavigation(url, cancel);
        return cancel;
    }

    uint32_t now = 100000;
    QStringList messages;
    QList<QStringList> started;
};

TEST_F(ChapterLinkTest, OtherAddressesPassUntouched) {
    EXPECT_FALSE(follow(QStringLiteral("file:///tmp/book/站/书/directory_page.htm")));
    EXPECT_TRUE(started.isEmpty());
}

TEST_F(ChapterLinkTest, ALinkStartsTheChapterWithTheTrimmedFolderAndTheStoredName) {
    EXPECT_TRUE(follow(QStringLiteral("file:///tmp/x/directory_info#1#1")));
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0],
              (QStringList{QStringLiteral("7"), QStringLiteral("1"), QStringLiteral("1"),
                           folder.path() + QStringLiteral("book/站/书/"), QStringLiteral(" 书 "),
                           QStringLiteral("第二章"), QStringLiteral("http://s/2.html")}));
    EXPECT_EQ(window.statusText(), QStringLiteral("正在下载章节「第二章」……"));
}

// A stored chapter opens at once, always; one to fetch waits 3 s after the last fetched one only
// while a download of its site runs, and says so in the status bar, never in a box.
TEST_F(ChapterLinkTest, OnlyAChapterToFetchWaitsAndOnlyWhileItsSiteDownloads) {
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#1#0")));
    now += 10;
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#1#1")));
    EXPECT_EQ(started.size(), 2);
    const std::unique_ptr<DownloadClaim> download = DownloadClaim::take(1);
    ASSERT_TRUE(download);
    now += 2999;
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#1#0")));
    EXPECT_EQ(started.size(), 2);
    EXPECT_TRUE(window.statusText().contains(QStringLiteral("请稍等")))
        << window.statusText().toStdString();
    saveChapter(1, 1, ChapterKind::Text, 1, QStringLiteral("<p>正文</p>"));
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#1#1")));
    EXPECT_EQ(started.size(), 3);
    now += 1; // 3000 ms after the last one fetched
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#1#0")));
    EXPECT_EQ(started.size(), 4);
    // The tick counter wraps: the difference is taken unsigned.
    now = 0xFFFFFFF0u;
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#1#0")));
    now = 3000 - 0x10 - 1;
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#1#0")));
    EXPECT_EQ(started.size(), 5);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ChapterLinkTest, LinksThatDoNotSplitInThreeOrNameNothingAreCancelledSilently) {
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#1")));
    now += 3000;
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#9#0"))); // no such novel
    now += 3000;
    EXPECT_TRUE(follow(QStringLiteral("file:///b/directory_info#1#5"))); // no such chapter
    EXPECT_TRUE(started.isEmpty());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(window.statusText(), QString());
    // A "#" in a book folder's name does not break the link.
    EXPECT_TRUE(follow(QStringLiteral("file:///b/C#/directory_info#1#0")));
    EXPECT_EQ(started.size(), 1);
}

// The bookshelf: the most recently read first, stored / total, chapters added since the last
// chapter read, and that chapter's name.
TEST_F(ChapterLinkTest, RecentReadsAreABookshelfInReadingOrder) {
    for (const char* name : {"书2", "书3"})
        addRecentRead(QStringLiteral("站2"), QString::fromUtf8(name), QStringLiteral("作者"),
                      QString(), QString());
    ChapterList three;
    three.count = 3;
    three.names = {QStringLiteral("第1章"), QStringLiteral("第2章"), QStringLiteral("第3章")};
    three.urls = {QStringLiteral("http://t/1"), QStringLiteral("http://t/2"),
                  QStringLiteral("http://t/3")};
    addChapterList(2, three);
    addChapterList(3, three);
    saveChapter(2, 1, ChapterKind::Picture, 1, QStringLiteral("正文"));
    saveChapter(2, 2, ChapterKind::Text, 0, QString()); // failed: not stored
    auto read = [](int32_t novel, int32_t index) {
        recordReading(novel, index);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    recordOpening(3); // opened, never read: nothing counts as new yet
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    read(1, 0);
    read(2, 1);
    read(1, 1);
    ChapterList later;
    later.count = 1;
    later.names = {QStringLiteral("第三章")};
    later.urls = {QStringLiteral("http://s/3.html")};
    appendChapters(1, later);

    window.addResultRow(QStringLiteral("旧"), QString(), QString(), QString(), QString());
    window.showPageView();
    window.listRecentReads();
    QTableWidget* lv = window.resultList();
    EXPECT_TRUE(window.showingBookshelf());
    ASSERT_EQ(lv->rowCount(), 3);
    ASSERT_EQ(lv->columnCount(), 7);
    EXPECT_EQ(lv->horizontalHeaderItem(6)->text(), QStringLiteral("上次读到"));
    auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < 7; ++c)
            cells << lv->item(r, c)->text();
        return cells;
    };
    EXPECT_EQ(row(0), (QStringList{"1", "站", " 书 ", "", "0 / 3", "1", "第二章"}));
    EXPECT_EQ(row(1), (QStringList{"2", "站2", "书2", "作者", "1 / 3", "", "第2章"}));
    EXPECT_EQ(row(2), (QStringList{"3", "站2", "书3", "作者", "0 / 3", "", ""}));
    EXPECT_FALSE(window.pageViewInFront());
    // A search puts the result columns back.
    window.searchBox()->setText(QStringLiteral("凡人"));
    window.setSearchStarter([](const QString&) {});
    window.startSearch();
    EXPECT_EQ(lv->columnCount(), 6);
    EXPECT_FALSE(window.showingBookshelf());
}

// 导出 EPUB… from the link at the top of a table of contents: the file dialog proposes NAME.epub
// in the documents folder (home without one), the next time in the folder last used, with the
// site in the name once another site's copy is on the shelf; with a chapter missing the window
// asks, naming the count, and the book is written after a yes; after a no it says 未导出, never
// while asking.
TEST_F(MainWindowTest, ExportFromTheTableOfContentsAsksWhereAndAboutMissingChapters) {
    addRecentRead(QStringLiteral("站"), QStringLiteral("书"), QStringLiteral("作者"), QString(),
                  QStringLiteral("http://t/book"));
    ChapterList two;
    two.count = 2;
    two.names = {QStringLiteral("第1章"), QStringLiteral("第2章")};
    two.urls = {QStringLiteral("http://t/1"), QStringLiteral("http://t/2")};
    addChapterList(1, two);
    saveChapter(1, 0, ChapterKind::Text, 1, QStringLiteral("正文"));
    QStringList proposals;
    QStringList questions;
    const QString target = folder.file(QStringLiteral("书.epub"));
    window.setExportFileChooser([&](const QString& proposed, const QString&) {
        proposals << proposed;
        return target;
    });
    bool yes = true;
    window.setConfirmation([&](const QString& question) {
        questions << question;
        EXPECT_FALSE(window.statusText().contains(QStringLiteral("未导出")));
        return yes;
    });
    const auto exportIt = [&] {
        bool cancel = false;
        // The link as the page view hands it over: resolved against the table of contents.
        window.handleNavigation(
            QUrl::fromLocalFile(folder.file(QStringLiteral("book/站/书/directory_page.htm")))
                .resolved(QUrl(QStringLiteral("directory_export#epub#1")))
                .toDisplayString(),
            cancel);
        EXPECT_TRUE(cancel);
        EXPECT_TRUE(QTest::qWaitFor([] { return Worker::running() == 0; }, 20000));
    };
    exportIt();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(target); }, 20000));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    ASSERT_EQ(proposals.size(), 1);
    EXPECT_EQ(proposals[0], (QFileInfo(documents).isDir() ? documents : QDir::homePath()) +
                                QStringLiteral("/书.epub"));
    EXPECT_EQ(questions, QStringList{missingChaptersQuestion(1)});
    EXPECT_TRUE(window.statusText().contains(QStringLiteral("已导出《书》")))
        << window.statusText().toStdString();

    addRecentRead(QStringLiteral("另一站"), QStringLiteral("书"), QStringLiteral("作者"), QString(),
                  QStringLiteral("http://u/book"));
    yes = false;
    exportIt();
    ASSERT_EQ(proposals.size(), 2);
    EXPECT_EQ(proposals[1], folder.file(QStringLiteral("书（站）.epub")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window.statusText().contains(QStringLiteral("未导出")); }, 20000));
}

} // namespace
