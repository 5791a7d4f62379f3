#include "app/FrmMain.h"

#include "app/PageView.h"
#include "app/UpdateCheck.h"
#include "core/AppFolder.h"
#include "core/WindowThread.h"
#include "pages/PageRenderer.h"
#include "workers/ChapterThread.h"
#include "workers/GatedSurface.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QStackedLayout>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>
#include <QToolBar>
#include <QToolButton>

namespace zvrd {
namespace {

constexpr int kRestoredWidth = 1024;
constexpr int kRestoredHeight = 720;
constexpr int kFixedColumnsWidth = 720; // columns 0 to 4 (700) and the vertical scroll bar (20)

QIcon MagnifierIcon() {
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
class TSearchFrame : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(0x9c, 0xb4, 0xd0));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(5.5, 8.5, 225, 25), 4, 4);
    }
};

QToolButton* ToolButton(const QString& caption, const QIcon& icon, int width) {
    auto* button = new QToolButton;
    button->setText(caption);
    button->setIcon(icon);
    button->setIconSize(QSize(20, 20));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFixedSize(width, 40);
    button->setAutoRaise(true);
    return button;
}

QFont ReaderFont() {
    const QStringList families = QFontDatabase::families();
    QFont font(families.contains(QStringLiteral("NSimSun"))
                   ? QStringLiteral("NSimSun")
                   : QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(13);
    return font;
}

} // namespace

TFrmMain::TFrmMain(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Zelvo小说阅读器V1.12"));
    setFont(ReaderFont());
    BuildToolbar();
    BuildContent();

    auto* status = new QStatusBar(this);
    status->setFixedHeight(19);
    status->setSizeGripEnabled(false);
    fStatusPanel0 = new QLabel(status);
    fStatusPanel0->setFixedWidth(800);
    fStatusPanel1 = new QLabel(status);
    fStatusPanel1->setFixedWidth(50);
    status->addWidget(fStatusPanel0);
    status->addWidget(fStatusPanel1);
    setStatusBar(status);

    resize(kRestoredWidth, kRestoredHeight);

    fStartSearch = [this](const QString& name) { StartSearch(name); };
    fTickCount = TickCount;
    fShowMessage = [this](const QString& text) {
        QMessageBox::information(this, windowTitle(), text);
    };
    fStartChapter = [this](int32_t ruleId, int32_t novelId, int32_t index, const QString& bookDir,
                           const QString& novelName, const QString& chapterName,
                           const QString& chapterUrl) {
        new TChapterThread(ruleId, novelId, index, bookDir, novelName, chapterName, chapterUrl,
                           true, Surface(), TWorkerThread::Ownership::Detached);
    };
}

TFrmMain::~TFrmMain() {
    fSurfaceClosed = true;
}

void TFrmMain::BuildToolbar() {
    rztlbr1 = new QToolBar(this);
    rztlbr1->setObjectName(QStringLiteral("rztlbr1"));
    rztlbr1->setMovable(false);
    rztlbr1->setFixedHeight(44);
    addToolBar(Qt::TopToolBarArea, rztlbr1);

    btnMain =
        ToolButton(QStringLiteral("主界面"), style()->standardIcon(QStyle::SP_DirHomeIcon), 60);
    btnTargetSiteSet = ToolButton(QStringLiteral("目标站设置"),
                                  style()->standardIcon(QStyle::SP_FileDialogDetailedView), 78);
    btnLatestRead = ToolButton(QStringLiteral("最近阅读"),
                               style()->standardIcon(QStyle::SP_FileDialogContentsView), 60);
    btnExit = ToolButton(QStringLiteral("退出程序"),
                         style()->standardIcon(QStyle::SP_DialogCloseButton), 60);
    for (QToolButton* b : {btnMain, btnTargetSiteSet, btnLatestRead, btnExit})
        rztlbr1->addWidget(b);

    auto* area = new TSearchFrame;
    area->setFixedSize(283, 41);
    edtSearch = new QLineEdit(area);
    edtSearch->setObjectName(QStringLiteral("edtSearch"));
    edtSearch->setFrame(false);
    edtSearch->setGeometry(35, 14, 197, 16);
    edtSearch->setText(kSearchPlaceholder);
    edtSearch->installEventFilter(this);
    btnSearch = new QToolButton(area);
    btnSearch->setIcon(MagnifierIcon());
    btnSearch->setAutoRaise(true);
    btnSearch->setGeometry(236, 12, 17, 17);
    btnSearch->setCursor(Qt::PointingHandCursor);
    rztlbr1->addWidget(area);

    connect(btnMain, &QToolButton::clicked, this, &TFrmMain::btnMainClick);
    connect(btnTargetSiteSet, &QToolButton::clicked, this, &TFrmMain::btnTargetSiteSetClick);
    connect(btnLatestRead, &QToolButton::clicked, this, &TFrmMain::btnLatestReadClick);
    connect(btnExit, &QToolButton::clicked, this, &TFrmMain::btnExitClick);
    connect(btnSearch, &QToolButton::clicked, this, &TFrmMain::btnSearchClick);
}

void TFrmMain::BuildContent() {
    auto* central = new QWidget(this);
    fContent = new QStackedLayout(central);
    fContent->setContentsMargins(0, 0, 0, 0);

    pnlListView = new QWidget;
    auto* listLayout = new QHBoxLayout(pnlListView);
    listLayout->setContentsMargins(0, 0, 0, 0);
    lv = new QTableWidget(0, 6, pnlListView);
    lv->setObjectName(QStringLiteral("lv"));
    lv->setHorizontalHeaderLabels({QStringLiteral("序号"), QStringLiteral("目标站"),
                                   QStringLiteral("小说名称"), QStringLiteral("小说作者"),
                                   QStringLiteral("最新章节"), QStringLiteral("小说URL地址")});
    const int widths[] = {50, 100, 150, 100, 300};
    for (int c = 0; c < 5; ++c)
        lv->setColumnWidth(c, widths[c]);
    lv->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv->setSelectionMode(QAbstractItemView::SingleSelection);
    lv->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv->setShowGrid(true);
    lv->setFrameShape(QFrame::NoFrame);
    lv->verticalHeader()->setVisible(false);
    lv->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lv->verticalHeader()->setDefaultSectionSize(24);
    lv->horizontalHeader()->setSectionsClickable(false);
    lv->horizontalHeader()->setHighlightSections(false);
    lv->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    lv->setWordWrap(false);
    listLayout->addWidget(lv);
    lv->installEventFilter(this);
    connect(lv, &QTableWidget::cellDoubleClicked, this, [this] { lvDblClick(); });

    pnlWebBrowser = new QWidget;
    auto* webLayout = new QHBoxLayout(pnlWebBrowser);
    webLayout->setContentsMargins(0, 0, 0, 0);
    wb = new TPageView(pnlWebBrowser);
    webLayout->addWidget(wb);
    wb->Page()->SetBeforeNavigate2(
        [this](const QString& url, bool& cancel) { wbBeforeNavigate2(url, cancel); });

    fContent->addWidget(pnlListView);
    fContent->addWidget(pnlWebBrowser);
    fContent->setCurrentWidget(pnlListView);
    setCentralWidget(central);
}

void TFrmMain::FormCreate() {
    CheckForUpdates(AppFolder(), kUpdateCheckTimeoutMs, AskToUpdate);
    for (const QString& file : ExtractTemplates())
        QMessageBox::warning(this, windowTitle(), QStringLiteral("无法写入模板文件：%1").arg(file));
    wb->Page()->SetSilent(true);
    resize(kRestoredWidth, kRestoredHeight);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    AppMutex(); // created here, before any worker can take it
}

template <typename F> void TFrmMain::OnWindowThread(F&& work) {
    if (QThread::currentThread() == thread()) {
        work();
        return;
    }
    if (fSurfaceClosed)
        return;
    RunOnThreadOf(this, work);
}

void TFrmMain::SetStatusText(const QString& text) {
    OnWindowThread([this, text] { fStatusPanel0->setText(text); });
}

void TFrmMain::AddResultRow(const QString& site, const QString& name, const QString& author,
                            const QString& latestChapter, const QString& url) {
    // Runs on the window's thread only, so numbering and filling cannot interleave.
    OnWindowThread([=, this] {
        const int row = lv->rowCount();
        lv->insertRow(row);
        const QString cells[] = {QString::number(row + 1), site, name, author, latestChapter, url};
        for (int c = 0; c < 6; ++c)
            lv->setItem(row, c, new QTableWidgetItem(cells[c]));
    });
}

int TFrmMain::GetResultCount() {
    int count = 0;
    OnWindowThread([this, &count] { count = lv->rowCount(); });
    return count;
}

void TFrmMain::ClearResults() {
    OnWindowThread([this] {
        lv->clearContents();
        lv->setRowCount(0);
    });
}

void TFrmMain::ShowResultList() {
    OnWindowThread([this] { fContent->setCurrentWidget(pnlListView); });
}

void TFrmMain::ShowPageView() {
    OnWindowThread([this] { fContent->setCurrentWidget(pnlWebBrowser); });
}

void TFrmMain::NavigatePageView(const QString& path) {
    OnWindowThread([this, path] { wb->Navigate(path); });
}

void TFrmMain::RunOnWindowThread(const std::function<void()>& work) {
    OnWindowThread(work);
}

std::shared_ptr<WindowSurface> TFrmMain::Surface() {
    return std::shared_ptr<WindowSurface>(std::shared_ptr<void>(), this);
}

QString TFrmMain::StatusText() const {
    return fStatusPanel0->text();
}

bool TFrmMain::PageViewInFront() const {
    return fContent->currentWidget() == pnlWebBrowser;
}

void TFrmMain::btnSearchClick() {
    const QString name = edtSearch->text();
    if (name.isEmpty() || name == kSearchPlaceholder)
        return;
    SupersedeSearch();
    ClearResults();
    ShowResultList();
    if (fStartSearch)
        fStartSearch(name); // exactly as typed: no trimming
}

void TFrmMain::btnMainClick() {
    ShowResultList();
}

void TFrmMain::btnExitClick() {
    close();
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lv && event->type() == QEvent::Resize)
        FitLastColumn();
    if (watched == edtSearch) {
        switch (event->type()) {
        case QEvent::FocusIn:
            if (edtSearch->text() == kSearchPlaceholder)
                edtSearch->clear();
            break;
        case QEvent::FocusOut:
            if (edtSearch->text().isEmpty())
                edtSearch->setText(kSearchPlaceholder);
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                btnSearchClick();
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

void TFrmMain::FitLastColumn() {
    lv->setColumnWidth(5, std::max(0, lv->width() - kFixedColumnsWidth));
}

void TFrmMain::closeEvent(QCloseEvent* event) {
    fSurfaceClosed = true;
    QMainWindow::closeEvent(event);
}

} // namespace zvrd
