// sites: the speed limits of one site, edited: requests in flight at most, milliseconds between
// starts at least, and whether they adapt to the site's pushback.
#pragma once

#include "rules/RuleSet.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace zvrd {

class SiteSpeedDialog : public QDialog {
    Q_OBJECT
public:
    SiteSpeedDialog(const SiteRule& rule, QWidget* parent = nullptr);

    // Keeps what the dialog shows as the site's own limits, or the program's again after
    // 恢复默认; false (with the reason in problem) when nothing was kept.
    bool save(QString* problem);
    void resetToDefault();

    // For tests.
    QSpinBox* inFlightBox() const { return m_inFlight; }
    QSpinBox* spacingBox() const { return m_spacing; }
    QCheckBox* adaptBox() const { return m_adapt; }

private:
    void show(const SiteSpeed& speed);

    SiteRule m_rule;
    bool m_reset = false;
    QSpinBox* m_inFlight = nullptr;
    QSpinBox* m_spacing = nullptr;
    QCheckBox* m_adapt = nullptr;
    QLabel* m_note = nullptr;
};

// A site's limits as the target-site list shows them: what its limiter allows now, and whether
// they are the reader's own or fixed.
QString siteSpeedText(const SiteRule& rule);

// Shows the dialog; on 确定 keeps the limits (an error box when they cannot be kept). True when
// something was kept.
bool runSiteSpeedDialog(const SiteRule& rule, QWidget* parent);

} // namespace zvrd
