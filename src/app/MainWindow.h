// app: the main window, MainWindow, and its window surface. Depends on everything below it;
// nothing below includes a widget header.
#pragma once

#include "export/NovelExport.h"

#include "pages/ReadingStyle.h"
#include "workers/SourceSwitch.h"
#include "workers/WindowSurface.h"

#include <QMainWindow>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;
class QStackedLayout;
class QTableWidget;
class QToolBar;
class QToolButton;

namespace zvrd {

class PageView;
class GatedSurface;

inline const QString kSearchPlaceholder = QStringLiteral("请输入小说名称进行搜索");

class MainWindow : public QMainWindow, public WindowSurface {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The start-up steps run once the window exists: update check, templates into the temporary
    // folder, silent page view, restored size. Problems are shown in message boxes.
    void startUp();

    // WindowSurface: callable from any thread.
    void setStatusText(const QString& text) override;
    void addResultRow(const QString& site, const QString& name, const QString& author,
                      const QString& latestChapter, const QString& url) override;
    int resultCount() override;
    void clearResults() override;
    void showResultList() override;
    void showPageView() override;
    // The wait page, in front once it is drawn: until then the list stays, not the last novel's
    // page.
    void showWaitPage();
    void forgetShownChapter();
    void navigatePageView(const QString& path) override;
    void reloadPageView(const QString& path) override;
    void setProgress(int stored, int failed, int total) override;
    void setProgressNote(const QString& note) override;
    void runOnWindowThread(const std::function<void()>& work) override;

    // Hand-overs from workers are dropped from now on (the window is going away).
    void closeSurface() { m_surfaceClosed = true; }

    // Commands.
    void startSearch();
    void showMainView();
    void exitProgram();
    void chooseTargetSites();
    void listRecentReads();
    void checkForNewChapters();
    // Asks, then removes the bookshelf novel of the row with everything stored of it.
    void removeNovelOfRow(int row);
    // Asks where (proposing NAME.epub or NAME.txt in the documents folder), then writes the
    // bookshelf novel there; with chapters missing it asks once more and writes placeholders.
    void startExport(const QString& siteName, const QString& novelName, ExportFormat format);
    void openSelectedNovel();
    void handleNavigation(const QString& url, bool& cancel);
    // 换源: looks for the novel on the other selected sites, lets the reader choose one and
    // opens the novel there at the carried place.
    void startSourceSwitch(const QString& siteName, const QString& novelName);
    // 阅读设置: shown on the page as they change, kept on 确定.
    void showReadingSettings();
    // The font size two pixels up or down (0: back to the default), kept.
    void changeFontSize(int step);
    // Full screen: the toolbar and the status bar hidden (F11, Esc leaves).
    void setReadingFullScreen(bool on);
    // Who picks the site of a 换源 (the list dialog; tests answer it): the chosen row or -1.
    using SourceChooser =
        std::function<int(const QString& novelName, const QList<SourceCandidate>& found)>;
    void setSourceChooser(SourceChooser choose) { m_sourceChooser = std::move(choose); }

    // Who starts a search (the search coordinator; tests put a recorder here).
    void setSearchStarter(std::function<void(const QString&)> starter) {
        m_searchStarter = std::move(starter);
    }
    // The tick counter and the message box of the chapter-link rule (tests replace them).
    void setTickCounter(std::function<uint32_t()> tick) { m_tickCounter = std::move(tick); }
    void setMessageBox(std::function<void(const QString&)> show) { m_messageBox = std::move(show); }
    // The yes/no question before a novel is removed (tests answer it).
    void setConfirmation(std::function<bool(const QString&)> ask) { m_confirm = std::move(ask); }
    // Where an export goes: given the proposed file and the dialog's filter, the chosen file or
    // empty for none (tests answer it).
    void setExportFileChooser(std::function<QString(const QString&, const QString&)> choose) {
        m_chooseExportFile = std::move(choose);
    }
    // Who starts a chapter worker for a followed link (tests replace it).
    using ChapterStarter = std::function<void(
        int32_t ruleId, int32_t novelId, int32_t index, const QString& bookDir,
        const QString& novelName, const QString& chapterName, const QString& chapterUrl)>;
    void setChapterStarter(ChapterStarter starter) { m_chapterStarter = std::move(starter); }

    // For tests and the navigation code.
    QLineEdit* searchBox() const { return m_searchEdit; }
    QToolButton* searchButton() const { return m_searchButton; }
    QTableWidget* resultList() const { return m_resultList; }
    PageView* pageView() const { return m_pageView; }
    QString statusText() const;
    // The download progress as shown: empty while hidden.
    QString progressText() const;
    bool pageViewInFront() const;
    // Whether the list shows the bookshelf (最近阅读) rather than search results.
    bool showingBookshelf() const { return m_bookshelf; }
    // Whether an update check runs.
    bool checkingForUpdates() const { return m_checkingUpdates; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    template <typename F> void onWindowThread(F&& work);
    void showProgressText();
    void buildToolbar();
    void buildContent();
    void fitLastColumn();
    void setBookshelfColumns(bool bookshelf);
    void showRowMenu(const QPoint& position);
    void buildReadingShortcuts();
    // "reading_place#NOVEL#INDEX#POSITION" or "reading_size#STEP" from the chapter page shown.
    void takeReaderMessage(const QString& message);
    void applyReadingStyle(const ReadingSettings& settings);
    void keepReadingSettings(const ReadingSettings& settings);
    void redrawShownDirectory();
    // Whether a download of a novel of that site runs in this program now.
    bool siteIsDownloading(const QString& siteName) const;
    int askSourceOf(const QString& novelName, const QList<SourceCandidate>& found);
    void switchToChosenSource(int32_t novelId, const QString& novelName,
                              const QList<SourceCandidate>& found);
    void openSwitchedNovel(const SwitchOutcome& outcome, const QString& siteName);

    QToolBar* m_toolBar = nullptr;
    QToolButton* m_mainButton = nullptr;
    QToolButton* m_targetSitesButton = nullptr;
    QToolButton* m_recentReadsButton = nullptr;
    QToolButton* m_updateButton = nullptr;
    QToolButton* m_readingButton = nullptr;
    QToolButton* m_exitButton = nullptr;
    QLineEdit* m_searchEdit = nullptr;
    QToolButton* m_searchButton = nullptr;
    QWidget* m_resultPanel = nullptr;
    QTableWidget* m_resultList = nullptr;
    QWidget* m_pagePanel = nullptr;
    PageView* m_pageView = nullptr;
    QStackedLayout* m_views = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_statusExtra = nullptr;
    QProgressBar* m_progress = nullptr;
    QString m_progressCounts;
    QString m_progressNote;

    // The surface handed to workers the window starts: the window itself, not owned.
    std::shared_ptr<WindowSurface> surface();
    void startSearchCoordinator(const QString& name);
    void supersedeSearch();
    void showError(const QString& text);

    std::function<void(const QString&)> m_searchStarter;
    std::function<uint32_t()> m_tickCounter;
    std::function<void(const QString&)> m_messageBox;
    std::function<bool(const QString&)> m_confirm;
    std::function<QString(const QString&, const QString&)> m_chooseExportFile;
    ChapterStarter m_chapterStarter;
    SourceChooser m_sourceChooser;
    std::pair<int32_t, int32_t> m_shownChapter{-1, -1}; // the chapter last asked for: novel, index
    std::shared_ptr<GatedSurface> m_searchGate;
    uint32_t m_lastChapterLinkTick = 0;
    std::atomic<bool> m_surfaceClosed{false};
    bool m_bookshelf = false;
    bool m_showPageOnLoad = false; // the page view comes to the front at its next load
    bool m_checkingUpdates = false;
};

} // namespace zvrd
