#include "sites/SiteSelectionDialog.h"

#include "core/IniFile.h"
#include "core/WindowThread.h"
#include "rules/RuleSet.h"
#include "sites/SiteRuleDialog.h"
#include "sites/SiteSpeedDialog.h"
#include "store/SiteRules.h"
#include "store/SqliteTable.h"
#include "workers/SiteCheck.h"

#include <QApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

namespace zvrd {

// Links a speed test to its dialog. Every call runs on the window's thread, where the dialog
// lives and dies, so a closed dialog is never touched: its results are simply dropped.
class DialogLink : public SpeedTestTarget {
public:
    explicit DialogLink(SiteSelectionDialog* dialog) : m_dialog(dialog) {}

    void detach() { m_dialog = nullptr; } // on the window's thread, when the dialog goes

    QList<std::pair<QString, QString>> sites() override {
        QList<std::pair<QString, QString>> sites;
        onWindowThread([&] {
            if (m_dialog)
                sites = m_dialog->sites();
        });
        return sites;
    }
    void setSpeedText(int row, const QString& text) override {
        onWindowThread([&] {
            if (m_dialog)
                m_dialog->setSpeedText(row, text);
        });
    }
    void setStatusText(const QString& text) override {
        onWindowThread([&] {
            if (m_dialog)
                m_dialog->setStatusText(text);
        });
    }
    void showCheck(const SiteCheckResult& result) {
        onWindowThread([&] {
            if (m_dialog)
                m_dialog->showCheck(result);
        });
    }
    void checkEnded(const QString& text) {
        onWindowThread([&] {
            if (m_dialog)
                m_dialog->checkEnded(text);
        });
    }

private:
    template <typename F> void onWindowThread(F&& work) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        runOnThreadOf(app, work);
    }

    SiteSelectionDialog* m_dialog;
};

namespace {

enum Column { kId = 0, kName = 1, kUrl = 2, kSpeed = 3, kLimit = 4, kHealth = 5 };

// The health check of the chosen sites, off the window's thread; each site's result reaches the
// dialog as it ends. Closing the dialog stops it at each site's next step.
class SiteCheckRun : public Worker {
public:
    SiteCheckRun(SiteRuleList rules, std::shared_ptr<DialogLink> link,
                 std::shared_ptr<std::atomic<bool>> stop)
        : Worker(Ownership::Detached), m_rules(std::move(rules)), m_link(std::move(link)),
          m_stop(std::move(stop)) {
        start();
    }

protected:
    void run() override {
        const QList<SiteCheckResult> results = checkSites(
            m_rules, QString(), true,
            [this](const SiteCheckResult& result) { m_link->showCheck(result); }, m_stop);
        const auto failed = std::count_if(results.begin(), results.end(),
                                          [](const SiteCheckResult& r) { return !r.ok(); });
        m_link->checkEnded(failed == 0
                               ? QStringLiteral("检查完成：%1 个站点全部正常。").arg(results.size())
                               : QStringLiteral("检查完成：%1 个站点中有 %2 个出了问题。")
                                     .arg(results.size())
                                     .arg(failed));
    }
    void reportError(const QString& text) override { m_link->checkEnded(errorStatusText(text)); }

private:
    SiteRuleList m_rules;
    std::shared_ptr<DialogLink> m_link;
    std::shared_ptr<std::atomic<bool>> m_stop;
};

// One line per step, then what it fetched and captured.
QString checkDetailText(const SiteCheckResult& result) {
    QStringList lines;
    lines << QStringLiteral("%1：%2（%3 检查，用时 %4 毫秒）")
                 .arg(result.siteName, result.status(),
                      QDateTime::fromSecsSinceEpoch(result.checkedAt)
                          .toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                 .arg(result.elapsedMs);
    if (!result.ok())
        lines << result.reason();
    for (const CheckStepResult& step : result.steps) {
        lines << QStringLiteral("%1　%2 毫秒　%3")
                         .arg(checkStepName(step.step))
                         .arg(step.elapsedMs)
                         .arg(step.outcome == CheckOutcome::Ok        ? QStringLiteral("正常：")
                              : step.outcome == CheckOutcome::Skipped ? QStringLiteral("跳过：")
                                                                      : QStringLiteral("失败：")) +
                     stepReasonText(step);
        for (const QString& line : step.detail)
            lines << QStringLiteral("　　") + line;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

SiteSelectionDialog::SiteSelectionDialog(QWidget* parent, ConnectTimer timer)
    : QDialog(parent), m_timer(std::move(timer)), m_link(std::make_shared<DialogLink>(this)) {
    setWindowTitle(QStringLiteral("目标站选择"));
    m_list = new QTableWidget(0, 6, this);
    m_list->setHorizontalHeaderLabels({QStringLiteral("序号"), QStringLiteral("网站名称"),
                                       QStringLiteral("网站地址"), QStringLiteral("连接速度"),
                                       QStringLiteral("限速"), QStringLiteral("状态")});
    const int widths[] = {58, 90, 122, 110, 120, 100};
    for (int c = 0; c < 6; ++c)
        m_list->setColumnWidth(c, widths[c]);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(true);
    m_list->verticalHeader()->setVisible(false);
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(20);
    m_list->setWordWrap(false);
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->horizontalHeader()->setSectionsClickable(true);
    m_list->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder); // unsorted until a click
    m_list->horizontalHeader()->setSortIndicatorShown(true);
    connect(m_list->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &SiteSelectionDialog::sortByColumn);

    // The last check of the chosen site: each step, and with a check run here what it fetched.
    m_checkDetail = new QPlainTextEdit(this);
    m_checkDetail->setReadOnly(true);
    m_checkDetail->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_checkDetail->setPlaceholderText(QStringLiteral("选中一个站点，这里显示它上次检查的每一步。"));
    connect(m_list, &QTableWidget::currentCellChanged, this,
            [this](int row) { showCheckDetail(row); });
    m_checkButton = new QPushButton(QStringLiteral("检查站点"), this);
    m_checkButton->setAutoDefault(false);
    m_checkButton->setToolTip(QStringLiteral(
        "依次试一试搜索、信息页、目录、第一章和最后一章（有勾选时只检查勾选的站点）"));
    connect(m_checkButton, &QPushButton::clicked, this, &SiteSelectionDialog::startCheck);

    // Commands, so buttons: each click does it again.
    m_selectAllButton = new QPushButton(QStringLiteral("全选"), this);
    m_invertButton = new QPushButton(QStringLiteral("反选"), this);
    for (QPushButton* b : {m_selectAllButton, m_invertButton})
        b->setAutoDefault(false);
    connect(m_selectAllButton, &QPushButton::clicked, this, [this] { selectAll(); });
    connect(m_invertButton, &QPushButton::clicked, this, [this] { invertSelection(); });

    m_speedTestButton = new QPushButton(QStringLiteral("连接速度测试"), this);
    m_speedTestButton->setAutoDefault(false);
    connect(m_speedTestButton, &QPushButton::clicked, this, &SiteSelectionDialog::startSpeedTest);
    m_speedLimitButton = new QPushButton(QStringLiteral("限速设置…"), this);
    m_speedLimitButton->setAutoDefault(false);
    connect(m_speedLimitButton, &QPushButton::clicked, this,
            [this] { editSpeedLimit(m_list->currentRow()); });
    connect(m_list, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { editSpeedLimit(row); });
    m_ruleButton = new QPushButton(QStringLiteral("规则设置…"), this);
    m_ruleButton->setAutoDefault(false);
    connect(m_ruleButton, &QPushButton::clicked, this, [this] { editRule(m_list->currentRow()); });
    m_okButton = new QPushButton(QStringLiteral("确定"), this);
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    m_cancelButton->setAutoDefault(false);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* status = new QStatusBar(this);
    status->setSizeGripEnabled(false);
    m_statusLabel = new QLabel(
        QStringLiteral("如果连接速度为负值或大于3秒，则说明目标站访问速度过慢，建议取消选择。"),
        status);
    status->addWidget(m_statusLabel, 1);

    // Laid out rather than placed, so a larger font or screen scale grows the dialog with it.
    auto* body = new QVBoxLayout;
    body->setContentsMargins(8, 8, 8, 4);
    body->addWidget(m_list, 3);
    auto* checkRow = new QHBoxLayout;
    checkRow->addWidget(m_checkDetail, 1);
    auto* checkSide = new QVBoxLayout;
    checkSide->addWidget(m_checkButton);
    checkSide->addStretch();
    checkRow->addLayout(checkSide);
    body->addLayout(checkRow, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_selectAllButton);
    buttons->addWidget(m_invertButton);
    buttons->addSpacing(8);
    for (QPushButton* b :
         {m_speedTestButton, m_speedLimitButton, m_ruleButton, m_okButton, m_cancelButton})
        buttons->addWidget(b);
    buttons->insertStretch(6);
    body->addLayout(buttons);
    auto* whole = new QVBoxLayout(this);
    whole->setContentsMargins(0, 0, 0, 0);
    whole->setSpacing(0);
    whole->addLayout(body, 1);
    whole->addWidget(status);
    // The design's size (wider for the speeds in milliseconds) is where it starts.
    resize(std::max(640, sizeHint().width()), std::max(432, sizeHint().height()));

    loadSites();
}

SiteSelectionDialog::~SiteSelectionDialog() {
    m_checkStop->store(true);
    m_link->detach();
}

void SiteSelectionDialog::loadSites() {
    const QStringList pieces = readSelectionSetting().split(QLatin1Char(','));
    try {
        applySpeedLimits(); // the limits shown are those every site's limiter has
        for (const SiteEntry& site : siteEntries()) {
            const int row = m_list->rowCount();
            m_list->insertRow(row);
            auto* caption = new QTableWidgetItem(site.id);
            caption->setFlags(caption->flags() | Qt::ItemIsUserCheckable);
            const bool ticked = !site.id.isEmpty() && pieces.contains(site.id);
            caption->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
            m_list->setItem(row, kId, caption);
            m_list->setItem(row, kName, new QTableWidgetItem(site.name));
            m_list->setItem(row, kUrl, new QTableWidgetItem(site.url));
            m_list->setItem(row, kSpeed, new QTableWidgetItem(QStringLiteral("未知")));
            m_list->setItem(row, kLimit, new QTableWidgetItem(siteSpeedText(ruleOfRow(row))));
            m_list->setItem(row, kHealth, new QTableWidgetItem(QStringLiteral("未检查")));
        }
        const QHash<QString, SiteCheckResult> checks = lastChecks(loadSiteRules());
        for (const SiteCheckResult& check : checks)
            showCheck(check);
    } catch (const SqliteException& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
}

SiteRule SiteSelectionDialog::ruleOfRow(int row) const {
    SiteRule rule;
    rule.id = m_list->item(row, kId)->text();
    rule.siteName = m_list->item(row, kName)->text();
    rule.siteUrl = m_list->item(row, kUrl)->text();
    return rule;
}

void SiteSelectionDialog::editSpeedLimit(int row) {
    if (row < 0 || row >= m_list->rowCount())
        return;
    const SiteRule rule = ruleOfRow(row);
    if (!runSiteSpeedDialog(rule, this))
        return;
    // Sites of one server share their limits.
    for (int r = 0; r < m_list->rowCount(); ++r)
        m_list->item(r, kLimit)->setText(siteSpeedText(ruleOfRow(r)));
    setStatusText(QStringLiteral("已保存%1的限速。").arg(rule.siteName));
}

void SiteSelectionDialog::editRule(int row) {
    if (row < 0 || row >= m_list->rowCount())
        return;
    const QString id = m_list->item(row, kId)->text();
    try {
        for (const SiteRule& rule : loadSiteRules()) {
            if (rule.id != id)
                continue;
            if (runSiteRuleDialog(rule, this))
                setStatusText(QStringLiteral("已保存%1的规则设置。").arg(rule.siteName));
            return;
        }
    } catch (const SqliteException& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
}

QString SiteSelectionDialog::selectionValue() const {
    QString value;
    for (int row = 0; row < m_list->rowCount(); ++row) {
        const QTableWidgetItem* caption = m_list->item(row, kId);
        if (caption && caption->checkState() == Qt::Checked)
            value += caption->text() + QLatin1Char(',');
    }
    return value;
}

void SiteSelectionDialog::selectAll() {
    for (int row = 0; row < m_list->rowCount(); ++row)
        m_list->item(row, kId)->setCheckState(Qt::Checked);
}

void SiteSelectionDialog::invertSelection() {
    for (int row = 0; row < m_list->rowCount(); ++row) {
        QTableWidgetItem* caption = m_list->item(row, kId);
        caption->setCheckState(caption->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

void SiteSelectionDialog::startSpeedTest() {
    if (m_list->rowCount() == 0)
        return;
    new SpeedTest(m_link, m_timer); // runs detached; results go through the link
}

void SiteSelectionDialog::sortByColumn(int column) {
    m_sortDescending = column == m_sortColumn ? !m_sortDescending : false;
    m_sortColumn = column;
    std::vector<std::vector<QTableWidgetItem*>> rows;
    for (int row = 0; row < m_list->rowCount(); ++row) {
        std::vector<QTableWidgetItem*> items;
        for (int c = 0; c < m_list->columnCount(); ++c)
            items.push_back(m_list->takeItem(row, c));
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
    if (m_sortDescending)
        std::reverse(rows.begin(), rows.end());
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        for (int c = 0; c < m_list->columnCount(); ++c)
            m_list->setItem(row, c, rows[static_cast<size_t>(row)][static_cast<size_t>(c)]);
    }
    m_list->horizontalHeader()->setSortIndicator(column, m_sortDescending ? Qt::DescendingOrder
                                                                          : Qt::AscendingOrder);
}

void SiteSelectionDialog::startCheck() {
    if (m_checking)
        return;
    SiteRuleList rules;
    try {
        const SiteRuleList all = loadSiteRules();
        const QStringList ticked = selectionValue().split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const SiteRule& rule : all) {
            if (ticked.isEmpty() || ticked.contains(rule.id))
                rules.append(rule);
        }
    } catch (const SqliteException& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
        return;
    }
    if (rules.isEmpty())
        return;
    m_checking = true;
    m_checkButton->setEnabled(false);
    for (int row = 0; row < m_list->rowCount(); ++row) {
        for (const SiteRule& rule : rules) {
            if (m_list->item(row, kId)->text() == rule.id)
                m_list->item(row, kHealth)->setText(QStringLiteral("检查中……"));
        }
    }
    setStatusText(QStringLiteral("正在检查 %1 个站点……").arg(rules.size()));
    new SiteCheckRun(std::move(rules), m_link, m_checkStop); // detached; results via the link
}

void SiteSelectionDialog::showCheck(const SiteCheckResult& result) {
    m_checks.insert(result.siteId, result);
    for (int row = 0; row < m_list->rowCount(); ++row) {
        if (m_list->item(row, kId)->text() != result.siteId)
            continue;
        QTableWidgetItem* item = m_list->item(row, kHealth);
        item->setText(QStringLiteral("%1 %2").arg(
            result.status(),
            QDateTime::fromSecsSinceEpoch(result.checkedAt).toString(QStringLiteral("MM-dd"))));
        item->setToolTip(result.ok() ? QStringLiteral("每一步都正常") : result.reason());
        item->setForeground(result.ok() ? palette().text() : QBrush(Qt::red));
        if (row == m_list->currentRow())
            showCheckDetail(row);
    }
}

void SiteSelectionDialog::checkEnded(const QString& text) {
    m_checking = false;
    m_checkButton->setEnabled(true);
    setStatusText(text);
}

void SiteSelectionDialog::showCheckDetail(int row) {
    if (row < 0 || row >= m_list->rowCount()) {
        m_checkDetail->clear();
        return;
    }
    const auto found = m_checks.constFind(m_list->item(row, kId)->text());
    m_checkDetail->setPlainText(found == m_checks.constEnd() ? QString() : checkDetailText(*found));
}

QString SiteSelectionDialog::statusText() const {
    return m_statusLabel->text();
}

QList<std::pair<QString, QString>> SiteSelectionDialog::sites() const {
    QList<std::pair<QString, QString>> sites;
    for (int row = 0; row < m_list->rowCount(); ++row)
        sites.append({m_list->item(row, kName)->text(), m_list->item(row, kUrl)->text()});
    return sites;
}

void SiteSelectionDialog::setSpeedText(int row, const QString& text) {
    if (row >= 0 && row < m_list->rowCount())
        m_list->item(row, kSpeed)->setText(text);
}

void SiteSelectionDialog::setStatusText(const QString& text) {
    m_statusLabel->setText(text);
}

bool runSiteSelectionDialog(QWidget* parent, ConnectTimer timer) {
    SiteSelectionDialog dialog(parent, std::move(timer));
    if (dialog.exec() != QDialog::Accepted)
        return true; // cancelled: nothing is written
    if (writeIniValue(configIniPath(), QStringLiteral("target_site"), QStringLiteral("selected"),
                      dialog.selectionValue()))
        return true;
    QMessageBox::critical(parent, dialog.windowTitle(),
                          QStringLiteral("无法写入配置文件：%1").arg(configIniPath()));
    return false;
}

} // namespace zvrd
