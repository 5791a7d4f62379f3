#include "sites/TargetSiteSet.h"

#include "core/IniFile.h"
#include "core/WindowThread.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>

#include <algorithm>

namespace zvrd {

// Links a speed test to its dialog. Every call runs on the window's thread, where the dialog
// lives and dies, so a closed dialog is never touched: its results are simply dropped.
class TDialogLink : public SpeedTestTarget {
public:
    explicit TDialogLink(TFrmTargetSiteSet* dialog) : fDialog(dialog) {}

    void Detach() { fDialog = nullptr; } // on the window's thread, when the dialog goes

    QList<std::pair<QString, QString>> Sites() override {
        QList<std::pair<QString, QString>> sites;
        OnWindowThread([&] {
            if (fDialog)
                sites = fDialog->Sites();
        });
        return sites;
    }
    void SetSpeedText(int row, const QString& text) override {
        OnWindowThread([&] {
            if (fDialog)
                fDialog->SetSpeedText(row, text);
        });
    }
    void SetStatusText(const QString& text) override {
        OnWindowThread([&] {
            if (fDialog)
                fDialog->SetStatusText(text);
        });
    }

private:
    template <typename F> void OnWindowThread(F&& work) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        RunOnThreadOf(app, work);
    }

    TFrmTargetSiteSet* fDialog;
};

namespace {

enum Column { kId = 0, kName = 1, kUrl = 2, kSpeed = 3 };

} // namespace

TFrmTargetSiteSet::TFrmTargetSiteSet(QWidget* parent, ConnectTimer timer)
    : QDialog(parent), fTimer(std::move(timer)), fLink(std::make_shared<TDialogLink>(this)) {
    setWindowTitle(QStringLiteral("目标站选择"));
    setFixedSize(427, 432);

    lv1 = new QTableWidget(0, 4, this);
    lv1->setGeometry(8, 8, 410, 370);
    lv1->setHorizontalHeaderLabels({QStringLiteral("序号"), QStringLiteral("网站名称"),
                                    QStringLiteral("网站地址"), QStringLiteral("连接速度")});
    const int widths[] = {50, 100, 160, 79};
    for (int c = 0; c < 4; ++c)
        lv1->setColumnWidth(c, widths[c]);
    lv1->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv1->setSelectionMode(QAbstractItemView::SingleSelection);
    lv1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv1->setShowGrid(true);
    lv1->verticalHeader()->setVisible(false);
    lv1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lv1->verticalHeader()->setDefaultSectionSize(20);
    lv1->setWordWrap(false);
    lv1->horizontalHeader()->setSectionsClickable(true);
    lv1->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder); // unsorted until a click
    lv1->horizontalHeader()->setSortIndicatorShown(true);
    connect(lv1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &TFrmTargetSiteSet::SortByColumn);

    rb1 = new QRadioButton(QStringLiteral("全选"), this);
    rb1->setGeometry(8, 390, 49, 17);
    rb2 = new QRadioButton(QStringLiteral("反选"), this);
    rb2->setGeometry(63, 390, 49, 17);
    auto* group = new QButtonGroup(this);
    group->addButton(rb1);
    group->addButton(rb2);
    // The actions run when a button becomes the selected one, never on a second click.
    connect(rb1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            rb1Click();
    });
    connect(rb2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            rb2Click();
    });

    btn1 = new QPushButton(QStringLiteral("连接速度测试"), this);
    btn1->setGeometry(153, 386, 103, 25);
    btn1->setAutoDefault(false);
    connect(btn1, &QPushButton::clicked, this, &TFrmTargetSiteSet::btn1Click);
    OKBtn = new QPushButton(QStringLiteral("确定"), this);
    OKBtn->setGeometry(262, 386, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    CancelBtn = new QPushButton(QStringLiteral("取消"), this);
    CancelBtn->setGeometry(343, 386, 75, 25);
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* status = new QStatusBar(this);
    status->setGeometry(0, 432 - 19, 427, 19);
    status->setSizeGripEnabled(false);
    stat1 = new QLabel(
        QStringLiteral("如果连接速度为负值或大于3秒，则说明目标站访问速度过慢，建议取消选择。"),
        status);
    status->addWidget(stat1, 1);

    FormCreate();
}

TFrmTargetSiteSet::~TFrmTargetSiteSet() {
    fLink->Detach();
}

void TFrmTargetSiteSet::FormCreate() {
    const QStringList pieces = ReadSelectionSetting().split(QLatin1Char(','));
    try {
        TSQLiteDatabase db(RuleDatabasePath());
        auto table = db.GetTable(QStringLiteral("select id,site_name,site_url from site_rule"));
        if (table->Eof())
            return;
        const auto id = static_cast<uint32_t>(table->GetFieldIndex(QStringLiteral("id")));
        const auto name = static_cast<uint32_t>(table->GetFieldIndex(QStringLiteral("site_name")));
        const auto url = static_cast<uint32_t>(table->GetFieldIndex(QStringLiteral("site_url")));
        for (; !table->Eof(); table->Next()) {
            const int row = lv1->rowCount();
            lv1->insertRow(row);
            const QString idText = table->FieldAsString(id);
            auto* caption = new QTableWidgetItem(idText);
            caption->setFlags(caption->flags() | Qt::ItemIsUserCheckable);
            const bool ticked = !idText.isEmpty() && pieces.contains(idText);
            caption->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
            lv1->setItem(row, kId, caption);
            lv1->setItem(row, kName, new QTableWidgetItem(table->FieldAsString(name)));
            lv1->setItem(row, kUrl, new QTableWidgetItem(table->FieldAsString(url)));
            lv1->setItem(row, kSpeed, new QTableWidgetItem(QStringLiteral("未知")));
        }
    } catch (const ESQLiteException& e) {
        QMessageBox::critical(this, windowTitle(), e.Message());
    }
}

QString TFrmTargetSiteSet::SelectionValue() const {
    QString value;
    for (int row = 0; row < lv1->rowCount(); ++row) {
        const QTableWidgetItem* caption = lv1->item(row, kId);
        if (caption && caption->checkState() == Qt::Checked)
            value += caption->text() + QLatin1Char(',');
    }
    return value;
}

void TFrmTargetSiteSet::rb1Click() {
    for (int row = 0; row < lv1->rowCount(); ++row)
        lv1->item(row, kId)->setCheckState(Qt::Checked);
}

void TFrmTargetSiteSet::rb2Click() {
    for (int row = 0; row < lv1->rowCount(); ++row) {
        QTableWidgetItem* caption = lv1->item(row, kId);
        caption->setCheckState(caption->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

void TFrmTargetSiteSet::btn1Click() {
    if (lv1->rowCount() == 0)
        return;
    new TConnectSpeedTest(fLink, fTimer); // runs detached; results go through the link
}

void TFrmTargetSiteSet::SortByColumn(int column) {
    fSortDescending = column == fSortColumn ? !fSortDescending : false;
    fSortColumn = column;
    std::vector<std::vector<QTableWidgetItem*>> rows;
    for (int row = 0; row < lv1->rowCount(); ++row) {
        std::vector<QTableWidgetItem*> items;
        for (int c = 0; c < lv1->columnCount(); ++c)
            items.push_back(lv1->takeItem(row, c));
        rows.push_back(std::move(items));
    }
    // By text, letter case ignored, empty texts last; the second click reverses it all.
    auto ascending = [column](const std::vector<QTableWidgetItem*>& a,
                              const std::vector<QTableWidgetItem*>& b) {
        const QString ta = a[static_cast<size_t>(column)]->text();
        const QString tb = b[static_cast<size_t>(column)]->text();
        if (ta.isEmpty() != tb.isEmpty())
            return tb.isEmpty();
        return QString::compare(ta, tb, Qt::CaseInsensitive) < 0;
    };
    std::stable_sort(rows.begin(), rows.end(), ascending);
    if (fSortDescending)
        std::reverse(rows.begin(), rows.end());
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        for (int c = 0; c < lv1->columnCount(); ++c)
            lv1->setItem(row, c, rows[static_cast<size_t>(row)][static_cast<size_t>(c)]);
    }
    lv1->horizontalHeader()->setSortIndicator(column, fSortDescending ? Qt::DescendingOrder
                                                                      : Qt::AscendingOrder);
}

QString TFrmTargetSiteSet::StatusText() const {
    return stat1->text();
}

QList<std::pair<QString, QString>> TFrmTargetSiteSet::Sites() const {
    QList<std::pair<QString, QString>> sites;
    for (int row = 0; row < lv1->rowCount(); ++row)
        sites.append({lv1->item(row, kName)->text(), lv1->item(row, kUrl)->text()});
    return sites;
}

void TFrmTargetSiteSet::SetSpeedText(int row, const QString& text) {
    if (row >= 0 && row < lv1->rowCount())
        lv1->item(row, kSpeed)->setText(text);
}

void TFrmTargetSiteSet::SetStatusText(const QString& text) {
    stat1->setText(text);
}

bool RunTargetSiteDialog(QWidget* parent, ConnectTimer timer) {
    TFrmTargetSiteSet dialog(parent, std::move(timer));
    if (dialog.exec() != QDialog::Accepted)
        return true; // cancelled: nothing is written
    if (WriteIniValue(ConfigIniPath(), QStringLiteral("target_site"), QStringLiteral("selected"),
                      dialog.SelectionValue()))
        return true;
    QMessageBox::critical(parent, dialog.windowTitle(),
                          QStringLiteral("无法写入配置文件：%1").arg(ConfigIniPath()));
    return false;
}

} // namespace zvrd
