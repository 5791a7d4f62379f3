#include "app/MainWindow.h"

#include "app/PageView.h"
#include "app/UpdateCheck.h"
#include "core/DataFolder.h"
#include "core/IniFile.h"
#include "core/Text.h"
#include "core/WindowThread.h"
#include "pages/PageRenderer.h"
#include "workers/ChapterWorker.h"
#include "workers/GatedSurface.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QStackedLayout>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>

namespace zvrd {
namespace {

constexpr int kRestoredWidth = 1024;
constexpr int kRestoredHeight = 720;
constexpr int kFixedColumnsWidth = 720; // columns 0 to 4 (700) and the vertical scroll bar (20)

QIcon magnifierIcon() {
    QPixmap pixmap(17, 17);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x55, 0x55, 0x55), 2));
    p.drawEllipse(QRectF(2, 2, 9, 9));
    p.drawLine(QPointF(10, 10), QPointF(15, 15));
    return QIcon(pixmap);
}

// The search field's frame, drawn as the form's picture would.
class SearchFrame : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(0x9c, 0xb4, 0xd0));
        p.setBrush(Qt::white);
        // Around the field and its magnifier, whatever size the font gives them.
        p.drawRoundedRect(QRectF(rect()).adjusted(5.5, 4.5, -5.5, -4.5), 4, 4);
    }
};

// The data folder's settings file, where the window keeps its size and place.
QString windowSettingsFile() {
    return dataFolder() + QStringLiteral("config.ini");
}

QToolButton* toolButton(const QString& caption, const QIcon& icon, int width) {
    auto* button = new QToolButton;
    button->setText(caption);
    button->setIcon(icon);
    button->setIconSize(QSize(20, 20));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    // The design's width is the least; a larger font widens the button instead of clipping it.
    button->setMinimumSize(width, 40);
    button->setAutoRaise(true);
    return button;
}

QFont readerFont() {
    const QStringList families = QFontDatabase::families();
    QFont font(families.contains(QStringLiteral("NSimSun"))
                   ? QStringLiteral("NSimSun")
                   : QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(13);
    return font;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Zelvo小说阅读器V1.12"));
    setFont(readerFont());
    buildToolbar();
    buildContent();
    buildReadingShortcuts();

    auto* status = new QStatusBar(this);
    status->setSizeGripEnabled(false);
    m_statusLabel = new QLabel(status);
    m_statusLabel->setMinimumWidth(200);
    m_statusExtra = new QLabel(status);
    status->addWidget(m_statusLabel, 1);
    status->addWidget(m_statusExtra);
    m_progress = new QProgressBar(status);
    m_progress->setMinimumWidth(260);
    m_progress->setTextVisible(true);
    m_progress->hide();
    status->addPermanentWidget(m_progress);
    setStatusBar(status);

    resize(kRestoredWidth, kRestoredHeight);

    m_searchStarter = [this](const QString& name) { startSearchCoordinator(name); };
    m_tickCounter = tickCount;
    m_messageBox = [this](const QString& text) {
        QMessageBox::information(this, windowTitle(), text);
    };
    // 否 is the default: Enter alone never deletes a novel or exports a book with gaps.
    m_confirm = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    m_chooseExportFile = [this](const QString& proposed, const QString& filter) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("导出"), proposed, filter);
    };
    m_chapterStarter = [this](int32_t ruleId, int32_t novelId, int32_t index,
                              const QString& bookDir, const QString& novelName,
                              const QString& chapterName, const QString& chapterUrl) {
        new ChapterWorker(ruleId, novelId, index, bookDir, novelName, chapterName, chapterUrl, true,
                          surface(), Worker::Ownership::Detached);
    };
}

MainWindow::~MainWindow() {
    m_surfaceClosed = true;
}

void MainWindow::buildToolbar() {
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setMovable(false);
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    m_mainButton =
        toolButton(QStringLiteral("主界面"), style()->standardIcon(QStyle::SP_DirHomeIcon), 60);
    m_targetSitesButton = toolButton(QStringLiteral("目标站设置"),
                                     style()->standardIcon(QStyle::SP_FileDialogDetailedView), 78);
    m_recentReadsButton = toolButton(QStringLiteral("最近阅读"),
                                     style()->standardIcon(QStyle::SP_FileDialogContentsView), 60);
    m_updateButton =
        toolButton(QStringLiteral("检查更新"), style()->standardIcon(QStyle::SP_BrowserReload), 60);
    m_readingButton = toolButton(QStringLiteral("阅读设置"),
                                 style()->standardIcon(QStyle::SP_FileDialogInfoView), 60);
    m_exitButton = toolButton(QStringLiteral("退出程序"),
                              style()->standardIcon(QStyle::SP_DialogCloseButton), 60);
    for (QToolButton* b : {m_mainButton, m_targetSitesButton, m_recentReadsButton, m_updateButton,
                           m_readingButton, m_exitButton})
        m_toolBar->addWidget(b);

    auto* area = new SearchFrame;
    auto* searchLayout = new QHBoxLayout(area);
    searchLayout->setContentsMargins(14, 8, 10, 8);
    searchLayout->setSpacing(4);
    m_searchEdit = new QLineEdit(area);
    m_searchEdit->setObjectName(QStringLiteral("searchEdit"));
    m_searchEdit->setFrame(false);
    m_searchEdit->setText(kSearchPlaceholder);
    m_searchEdit->setMinimumWidth(
        std::max(197, m_searchEdit->fontMetrics().horizontalAdvance(kSearchPlaceholder) + 24));
    m_searchEdit->installEventFilter(this);
    m_searchButton = new QToolButton(area);
    m_searchButton->setIcon(magnifierIcon());
    m_searchButton->setAutoRaise(true);
    m_searchButton->setCursor(Qt::PointingHandCursor);
    searchLayout->addWidget(m_searchEdit);
    searchLayout->addWidget(m_searchButton);
    area->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    m_toolBar->addWidget(area);

    connect(m_mainButton, &QToolButton::clicked, this, &MainWindow::showMainView);
    connect(m_targetSitesButton, &QToolButton::clicked, this, &MainWindow::chooseTargetSites);
    connect(m_recentReadsButton, &QToolButton::clicked, this, &MainWindow::listRecentReads);
    connect(m_updateButton, &QToolButton::clicked, this, &MainWindow::checkForNewChapters);
    connect(m_readingButton, &QToolButton::clicked, this, &MainWindow::showReadingSettings);
    connect(m_exitButton, &QToolButton::clicked, this, &MainWindow::exitProgram);
    connect(m_searchButton, &QToolButton::clicked, this, &MainWindow::startSearch);
}

void MainWindow::buildContent() {
    auto* central = new QWidget(this);
    m_views = new QStackedLayout(central);
    m_views->setContentsMargins(0, 0, 0, 0);

    m_resultPanel = new QWidget;
    auto* listLayout = new QHBoxLayout(m_resultPanel);
    listLayout->setContentsMargins(0, 0, 0, 0);
    m_resultList = new QTableWidget(0, 6, m_resultPanel);
    m_resultList->setObjectName(QStringLiteral("resultList"));
    m_resultList->setHorizontalHeaderLabels(
        {QStringLiteral("序号"), QStringLiteral("目标站"), QStringLiteral("小说名称"),
         QStringLiteral("小说作者"), QStringLiteral("最新章节"), QStringLiteral("小说URL地址")});
    const int widths[] = {50, 100, 150, 100, 300};
    for (int c = 0; c < 5; ++c)
        m_resultList->setColumnWidth(c, widths[c]);
    m_resultList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_resultList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_resultList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_resultList->setShowGrid(true);
    m_resultList->setFrameShape(QFrame::NoFrame);
    m_resultList->verticalHeader()->setVisible(false);
    m_resultList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_resultList->verticalHeader()->setDefaultSectionSize(24);
    m_resultList->horizontalHeader()->setSectionsClickable(false);
    m_resultList->horizontalHeader()->setHighlightSections(false);
    m_resultList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_resultList->setWordWrap(false);
    listLayout->addWidget(m_resultList);
    m_resultList->installEventFilter(this);
    connect(m_resultList, &QTableWidget::cellDoubleClicked, this, [this] { openSelectedNovel(); });
    m_resultList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_resultList, &QTableWidget::customContextMenuRequested, this,
            &MainWindow::showRowMenu);

    m_pagePanel = new QWidget;
    auto* webLayout = new QHBoxLayout(m_pagePanel);
    webLayout->setContentsMargins(0, 0, 0, 0);
    m_pageView = new PageView(m_pagePanel);
    webLayout->addWidget(m_pageView);
    m_pageView->webPage()->setNavigationHandler(
        [this](const QString& url, bool& cancel) { handleNavigation(url, cancel); });
    connect(m_pageView, &QWebEngineView::loadFinished, this, [this] {
        if (m_showPageOnLoad)
            showPageView();
    });
    // A site link at the foot of a table of contents; with no browser to start, the click would
    // otherwise do nothing visible.
    m_pageView->webPage()->setExternalOpener([this](const QUrl& url) {
        setStatusText(
            QDesktopServices::openUrl(url)
                ? QStringLiteral("已在网页浏览器中打开 %1").arg(url.toDisplayString())
                : QStringLiteral("无法启动网页浏览器，请自行打开：%1").arg(url.toDisplayString()));
    });
    m_pageView->webPage()->setReaderMessageHandler(
        [this](const QString& message) { takeReaderMessage(message); });

    m_views->addWidget(m_resultPanel);
    m_views->addWidget(m_pagePanel);
    m_views->setCurrentWidget(m_resultPanel);
    setCentralWidget(central);
}

void MainWindow::startUp() {
    // The updater is looked for beside the program only when it runs as a portable folder; an
    // installed program is updated by the system's package manager.
    if (isPortable())
        checkForUpdates(QCoreApplication::applicationDirPath() + QLatin1Char('/'),
                        kUpdateCheckTimeoutMs, askToUpdate);
    for (const QString& file : extractTemplates())
        QMessageBox::warning(this, windowTitle(), QStringLiteral("无法写入模板文件：%1").arg(file));
    m_pageView->webPage()->setSilent(true);
    resize(kRestoredWidth, kRestoredHeight);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    // Where the reader left the window last time, when it still fits a screen.
    restoreGeometry(QByteArray::fromBase64(
        readIniValue(windowSettingsFile(), QStringLiteral("window"), QStringLiteral("geometry"))
            .toLatin1()));
    appMutex(); // created here, before any worker can take it
}

template <typename F> void MainWindow::onWindowThread(F&& work) {
    if (QThread::currentThread() == thread()) {
        work();
        return;
    }
    if (m_surfaceClosed)
        return;
    runOnThreadOf(this, work);
}

void MainWindow::setStatusText(const QString& text) {
    onWindowThread([this, text] { m_statusLabel->setText(text); });
}

void MainWindow::addResultRow(const QString& site, const QString& name, const QString& author,
                              const QString& latestChapter, const QString& url) {
    // Runs on the window's thread only, so numbering and filling cannot interleave.
    onWindowThread([=, this] {
        const int row = m_resultList->rowCount();
        m_resultList->insertRow(row);
        const QString cells[] = {QString::number(row + 1), site, name, author, latestChapter, url};
        for (int c = 0; c < 6; ++c)
            m_resultList->setItem(row, c, new QTableWidgetItem(cells[c]));
    });
}

int MainWindow::resultCount() {
    int count = 0;
    onWindowThread([this, &count] { count = m_resultList->rowCount(); });
    return count;
}

void MainWindow::clearResults() {
    onWindowThread([this] {
        m_resultList->clearContents();
        m_resultList->setRowCount(0);
    });
}

void MainWindow::showResultList() {
    onWindowThread([this] {
        m_showPageOnLoad = false;
        m_views->setCurrentWidget(m_resultPanel);
    });
}

void MainWindow::showPageView() {
    onWindowThread([this] {
        m_showPageOnLoad = false;
        m_views->setCurrentWidget(m_pagePanel);
    });
}

void MainWindow::showWaitPage() {
    m_showPageOnLoad = true;
    m_pageView->navigate(templateFolder() + QStringLiteral("wait.htm"));
}

void MainWindow::navigatePageView(const QString& path) {
    onWindowThread([this, path] { m_pageView->navigate(path); });
}

void MainWindow::reloadPageView(const QString& path) {
    onWindowThread([this, path] {
        if (m_pageView->url() == QUrl::fromLocalFile(path))
            m_pageView->reload();
    });
}

void MainWindow::setProgress(int stored, int failed, int total) {
    onWindowThread([=, this] {
        if (total <= 0) {
            m_progress->hide();
            return;
        }
        m_progress->setRange(0, total);
        m_progress->setValue(std::min(stored + failed, total));
        // 检查更新 counts novels, a download chapters.
        const QString unit = m_checkingUpdates ? QStringLiteral("本") : QStringLiteral("章");
        m_progressCounts =
            failed > 0
                ? QStringLiteral("%1 / %2 %3，失败 %4").arg(stored).arg(total).arg(unit).arg(failed)
                : QStringLiteral("%1 / %2 %3").arg(stored).arg(total).arg(unit);
        showProgressText();
        m_progress->show();
    });
}

void MainWindow::setProgressNote(const QString& note) {
    onWindowThread([=, this] {
        m_progressNote = note;
        showProgressText();
    });
}

void MainWindow::showProgressText() {
    m_progress->setFormat(m_progressNote.isEmpty()
                              ? m_progressCounts
                              : m_progressCounts + QStringLiteral("，") + m_progressNote);
}

QString MainWindow::progressText() const {
    return m_progress->isHidden() ? QString() : m_progress->text();
}

void MainWindow::runOnWindowThread(const std::function<void()>& work) {
    onWindowThread(work);
}

std::shared_ptr<WindowSurface> MainWindow::surface() {
    return std::shared_ptr<WindowSurface>(std::shared_ptr<void>(), this);
}

QString MainWindow::statusText() const {
    return m_statusLabel->text();
}

bool MainWindow::pageViewInFront() const {
    return m_views->currentWidget() == m_pagePanel;
}

void MainWindow::startSearch() {
    if (m_searchEdit->text() == kSearchPlaceholder)
        return;
    const QString name = searchWords(m_searchEdit->text());
    if (name.isEmpty())
        return;
    supersedeSearch();
    clearResults();
    if (m_bookshelf)
        setBookshelfColumns(false);
    showResultList();
    if (m_searchStarter)
        m_searchStarter(name); // the words inside stay as typed
}

void MainWindow::showMainView() {
    forgetShownChapter();
    showResultList();
}

void MainWindow::forgetShownChapter() {
    // "当前章节" names the chapter on screen; away from it, it would name the wrong thing.
    if (m_statusLabel->text().startsWith(QLatin1String("当前章节")))
        m_statusLabel->clear();
}

void MainWindow::exitProgram() {
    close();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_resultList && event->type() == QEvent::Resize)
        fitLastColumn();
    if (watched == m_searchEdit) {
        switch (event->type()) {
        case QEvent::FocusIn:
            if (m_searchEdit->text() == kSearchPlaceholder)
                m_searchEdit->clear();
            break;
        case QEvent::FocusOut:
            if (m_searchEdit->text().isEmpty())
                m_searchEdit->setText(kSearchPlaceholder);
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                startSearch();
                return true; // swallowed: no character, no beep
            }
            break;
        }
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::fitLastColumn() {
    const int last = m_resultList->columnCount() - 1;
    int fixed = kFixedColumnsWidth;
    if (m_bookshelf) {
        fixed = 20; // the vertical scroll bar
        for (int c = 0; c < last; ++c)
            fixed += m_resultList->columnWidth(c);
    }
    m_resultList->setColumnWidth(last, std::max(0, m_resultList->width() - fixed));
}

void MainWindow::setBookshelfColumns(bool bookshelf) {
    m_bookshelf = bookshelf;
    const QStringList search = {QStringLiteral("序号"),     QStringLiteral("目标站"),
                                QStringLiteral("小说名称"), QStringLiteral("小说作者"),
                                QStringLiteral("最新章节"), QStringLiteral("小说URL地址")};
    const QStringList shelf = {QStringLiteral("序号"),        QStringLiteral("目标站"),
                               QStringLiteral("小说名称"),    QStringLiteral("小说作者"),
                               QStringLiteral("已存/总章节"), QStringLiteral("新章节"),
                               QStringLiteral("上次读到")};
    const QStringList& labels = bookshelf ? shelf : search;
    m_resultList->setColumnCount(static_cast<int>(labels.size()));
    m_resultList->setHorizontalHeaderLabels(labels);
    const QList<int> widths =
        bookshelf ? QList<int>{50, 100, 150, 100, 90, 60} : QList<int>{50, 100, 150, 100, 300};
    for (int c = 0; c < widths.size(); ++c)
        m_resultList->setColumnWidth(c, widths[c]);
    fitLastColumn();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (isFullScreen())
        setReadingFullScreen(false);
    writeIniValue(windowSettingsFile(), QStringLiteral("window"), QStringLiteral("geometry"),
                  QString::fromLatin1(saveGeometry().toBase64()));
    m_surfaceClosed = true;
    QMainWindow::closeEvent(event);
}

} // namespace zvrd
