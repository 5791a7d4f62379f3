// sites: the target-site dialog: every site rule with a tick box; confirming stores the ticked
// ids in config.ini (section target_site, key selected, each id followed by ",").
#pragma once

#include "rules/RuleSet.h"
#include "sites/SpeedTest.h"
#include "workers/SiteCheck.h"

#include <QDialog>

#include <QHash>

#include <atomic>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace zvrd {

class SiteSelectionDialog : public QDialog {
    Q_OBJECT
public:
    // Fills the list from zvrd.db and ticks the rows selected in config.ini. A database error is
    // shown in an error box; the dialog still opens with the rows read before it.
    explicit SiteSelectionDialog(QWidget* parent = nullptr, ConnectTimer timer = {});
    ~SiteSelectionDialog() override;

    // The ticked ids in display order, each followed by ",".
    QString selectionValue() const;

    // Commands.
    void selectAll();
    void invertSelection();
    void startSpeedTest();
    void sortByColumn(int column);
    // Opens the speed limits of the site in that row; the list shows what was kept.
    void editSpeedLimit(int row);
    // The rule editor of the site in that row (next pages, request headers, cookie).
    void editRule(int row);
    // The health check of the ticked sites (every site when none is ticked), in the background.
    void startCheck();

    // For tests.
    QTableWidget* list() const { return m_list; }
    QPushButton* selectAllButton() const { return m_selectAllButton; }
    QPushButton* invertButton() const { return m_invertButton; }
    QPushButton* speedTestButton() const { return m_speedTestButton; }
    QPushButton* speedLimitButton() const { return m_speedLimitButton; }
    QPushButton* ruleButton() const { return m_ruleButton; }
    QPushButton* checkButton() const { return m_checkButton; }
    QPlainTextEdit* checkDetail() const { return m_checkDetail; }
    bool checking() const { return m_checking; }
    QString statusText() const;

    // The speed test's view of this dialog.
    QList<std::pair<QString, QString>> sites() const;
    void setSpeedText(int row, const QString& text);
    void setStatusText(const QString& text);
    // A site's check result in its row's 状态 (the reason as tooltip) and the detail pane.
    void showCheck(const SiteCheckResult& result);
    void checkEnded(const QString& text);

private:
    void showCheckDetail(int row);
    void loadSites();
    SiteRule ruleOfRow(int row) const;

    QTableWidget* m_list = nullptr;
    QPushButton* m_selectAllButton = nullptr;
    QPushButton* m_invertButton = nullptr;
    QPushButton* m_speedTestButton = nullptr;
    QPushButton* m_speedLimitButton = nullptr;
    QPushButton* m_ruleButton = nullptr;
    QPushButton* m_checkButton = nullptr;
    QPlainTextEdit* m_checkDetail = nullptr;
    QHash<QString, SiteCheckResult> m_checks;
    bool m_checking = false;
    std::shared_ptr<std::atomic<bool>> m_checkStop = std::make_shared<std::atomic<bool>>(false);
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QLabel* m_statusLabel = nullptr;
    int m_sortColumn = -1;
    bool m_sortDescending = false;
    ConnectTimer m_timer;
    std::shared_ptr<class DialogLink> m_link;
};

// The main window's command: shows the dialog and, when it is confirmed, writes the selection.
// Returns false (after an error box) when config.ini cannot be written.
bool runSiteSelectionDialog(QWidget* parent, ConnectTimer timer = {});

} // namespace zvrd
