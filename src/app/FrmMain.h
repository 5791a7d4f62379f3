// app: the main window, TFrmMain, and its window surface. Depends on everything below it;
// nothing below includes a widget header.
#pragma once

#include "workers/WindowSurface.h"

#include <QMainWindow>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QStackedLayout;
class QTableWidget;
class QToolBar;
class QToolButton;

namespace zvrd {

class TPageView;
class TGatedSurface;

inline const QString kSearchPlaceholder = QStringLiteral("请输入小说名称进行搜索");

class TFrmMain : public QMainWindow, public WindowSurface {
    Q_OBJECT
public:
    explicit TFrmMain(QWidget* parent = nullptr);
    ~TFrmMain() override;

    // The start-up steps run once the window exists: update check, templates into the temporary
    // folder, silent page view, restored size. Problems are shown in message boxes.
    void FormCreate();

    // WindowSurface: callable from any thread.
    void SetStatusText(const QString& text) override;
    void AddResultRow(const QString& site, const QString& name, const QString& author,
                      const QString& latestChapter, const QString& url) override;
    int GetResultCount() override;
    void ClearResults() override;
    void ShowResultList() override;
    void ShowPageView() override;
    void NavigatePageView(const QString& path) override;
    void RunOnWindowThread(const std::function<void()>& work) override;

    // Hand-overs from workers are dropped from now on (the window is going away).
    void CloseSurface() { fSurfaceClosed = true; }

    // Commands.
    void btnSearchClick();
    void btnMainClick();
    void btnExitClick();
    void btnTargetSiteSetClick();
    void btnLatestReadClick();
    void lvDblClick();
    void wbBeforeNavigate2(const QString& url, bool& cancel);

    // Who starts a search (the search coordinator; tests put a recorder here).
    void SetSearchStarter(std::function<void(const QString&)> starter) {
        fStartSearch = std::move(starter);
    }
    // The tick counter and the message box of the chapter-link rule (tests replace them).
    void SetTickCounter(std::function<uint32_t()> tick) { fTickCount = std::move(tick); }
    void SetMessageBox(std::function<void(const QString&)> show) { fShowMessage = std::move(show); }
    // Who starts a chapter worker for a followed link (tests replace it).
    using ChapterStarter = std::function<void(
        int32_t ruleId, int32_t novelId, int32_t index, const QString& bookDir,
        const QString& novelName, const QString& chapterName, const QString& chapterUrl)>;
    void SetChapterStarter(ChapterStarter starter) { fStartChapter = std::move(starter); }

    // For tests and the navigation code.
    QLineEdit* SearchBox() const { return edtSearch; }
    QToolButton* SearchButton() const { return btnSearch; }
    QTableWidget* ResultList() const { return lv; }
    TPageView* PageView() const { return wb; }
    QString StatusText() const;
    bool PageViewInFront() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    template <typename F> void OnWindowThread(F&& work);
    void BuildToolbar();
    void BuildContent();
    void FitLastColumn();

    QToolBar* rztlbr1 = nullptr;
    QToolButton* btnMain = nullptr;
    QToolButton* btnTargetSiteSet = nullptr;
    QToolButton* btnLatestRead = nullptr;
    QToolButton* btnExit = nullptr;
    QLineEdit* edtSearch = nullptr;
    QToolButton* btnSearch = nullptr;
    QWidget* pnlListView = nullptr;
    QTableWidget* lv = nullptr;
    QWidget* pnlWebBrowser = nullptr;
    TPageView* wb = nullptr;
    QStackedLayout* fContent = nullptr;
    QLabel* fStatusPanel0 = nullptr;
    QLabel* fStatusPanel1 = nullptr;

    // The surface handed to workers the window starts: the window itself, not owned.
    std::shared_ptr<WindowSurface> Surface();
    void StartSearch(const QString& name);
    void SupersedeSearch();
    void ShowError(const QString& text);

    std::function<void(const QString&)> fStartSearch;
    std::function<uint32_t()> fTickCount;
    std::function<void(const QString&)> fShowMessage;
    ChapterStarter fStartChapter;
    std::shared_ptr<TGatedSurface> fSearchGate;
    uint32_t fLastChapterLinkTick = 0;
    std::atomic<bool> fSurfaceClosed{false};
};

} // namespace zvrd
