// sites: the target-site dialog: every site rule with a tick box; confirming stores the ticked
// ids in config.ini (section target_site, key selected, each id followed by ",").
#pragma once

#include "sites/ConnectSpeedTest.h"

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace zvrd {

class TFrmTargetSiteSet : public QDialog {
    Q_OBJECT
public:
    // Fills the list from zvrd.db and ticks the rows selected in config.ini. A database error is
    // shown in an error box; the dialog still opens with the rows read before it.
    explicit TFrmTargetSiteSet(QWidget* parent = nullptr, ConnectTimer timer = {});
    ~TFrmTargetSiteSet() override;

    // The ticked ids in display order, each followed by ",".
    QString SelectionValue() const;

    // Commands.
    void rb1Click();
    void rb2Click();
    void btn1Click();
    void SortByColumn(int column);

    // For tests.
    QTableWidget* List() const { return lv1; }
    QRadioButton* SelectAll() const { return rb1; }
    QRadioButton* Invert() const { return rb2; }
    QPushButton* SpeedTestButton() const { return btn1; }
    QString StatusText() const;

    // The speed test's view of this dialog.
    QList<std::pair<QString, QString>> Sites() const;
    void SetSpeedText(int row, const QString& text);
    void SetStatusText(const QString& text);

private:
    void FormCreate();

    QTableWidget* lv1 = nullptr;
    QRadioButton* rb1 = nullptr;
    QRadioButton* rb2 = nullptr;
    QPushButton* btn1 = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QLabel* stat1 = nullptr;
    int fSortColumn = -1;
    bool fSortDescending = false;
    ConnectTimer fTimer;
    std::shared_ptr<class TDialogLink> fLink;
};

// The main window's command: shows the dialog and, when it is confirmed, writes the selection.
// Returns false (after an error box) when config.ini cannot be written.
bool RunTargetSiteDialog(QWidget* parent, ConnectTimer timer = {});

} // namespace zvrd
