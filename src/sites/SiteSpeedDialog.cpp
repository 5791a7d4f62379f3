#include "sites/SiteSpeedDialog.h"

#include "net/SiteLimiter.h"
#include "sites/DialogSaving.h"
#include "store/SqliteTable.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zvrd {

SiteSpeedDialog::SiteSpeedDialog(const SiteRule& rule, QWidget* parent)
    : QDialog(parent), m_rule(rule) {
    setWindowTitle(QStringLiteral("限速设置：%1").arg(rule.siteName));
    m_inFlight = new QSpinBox(this);
    m_inFlight->setRange(1, SiteLimiter::kMostInFlight);
    m_inFlight->setSuffix(QStringLiteral(" 个"));
    m_spacing = new QSpinBox(this);
    m_spacing->setRange(static_cast<int>(SiteLimiter::kLeastSpacing.count()),
                        static_cast<int>(SiteLimiter::kMostSpacing.count()));
    m_spacing->setSingleStep(50);
    m_spacing->setSuffix(QStringLiteral(" 毫秒"));
    m_adapt = new QCheckBox(QStringLiteral("目标站拒绝时自动放慢，恢复后再加快"), this);
    m_note = new QLabel(this);
    m_note->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("同时请求至多："), m_inFlight);
    form->addRow(QStringLiteral("两次请求至少相隔："), m_spacing);
    form->addRow(m_adapt);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QPushButton* reset =
        buttons->addButton(QStringLiteral("恢复默认"), QDialogButtonBox::ResetRole);
    connect(reset, &QPushButton::clicked, this, &SiteSpeedDialog::resetToDefault);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_note);
    layout->addWidget(buttons);

    show(siteSpeed(rule));
    // Editing after 恢复默认 makes the values the site's own again.
    auto edited = [this] { m_reset = false; };
    connect(m_inFlight, &QSpinBox::valueChanged, this, edited);
    connect(m_spacing, &QSpinBox::valueChanged, this, edited);
    connect(m_adapt, &QCheckBox::toggled, this, edited);
}

void SiteSpeedDialog::show(const SiteSpeed& speed) {
    const QSignalBlocker a(m_inFlight), b(m_spacing), c(m_adapt);
    m_inFlight->setValue(speed.inFlight);
    m_spacing->setValue(speed.spacingMs);
    m_adapt->setChecked(speed.adapt);
    m_note->setText(QStringLiteral("服务器 %1。%2")
                        .arg(speed.server, speed.own ? QStringLiteral("这是你为它设的限速。")
                                                     : QStringLiteral("现用程序的默认限速。")));
}

void SiteSpeedDialog::resetToDefault() {
    SiteSpeed speed;
    speed.server = SiteLimiter::siteOf(m_rule.siteUrl);
    speed.inFlight = SiteLimiter::kInFlight;
    speed.spacingMs = static_cast<int>(SiteLimiter::kSpacing.count());
    show(speed);
    m_reset = true;
}

bool SiteSpeedDialog::save(QString* problem) {
    try {
        if (m_reset) {
            resetSiteSpeed(m_rule);
            return true;
        }
        *problem = speedLimitProblem(m_inFlight->value(), m_spacing->value());
        if (!problem->isEmpty())
            return false;
        setSiteSpeed(m_rule, m_inFlight->value(), m_spacing->value(), m_adapt->isChecked());
        return true;
    } catch (const SqliteException& e) {
        *problem = e.message();
        return false;
    }
}

QString siteSpeedText(const SiteRule& rule) {
    const SiteSpeed speed = siteSpeed(rule);
    const auto limiter = SiteLimiter::of(rule.siteUrl);
    QString text = QStringLiteral("%1 个 / %2 毫秒")
                       .arg(limiter->inFlightLimit())
                       .arg(limiter->spacing().count());
    if (!speed.adapt)
        text += QStringLiteral("（固定）");
    else if (speed.own)
        text += QStringLiteral("（自设）");
    return text;
}

bool runSiteSpeedDialog(const SiteRule& rule, QWidget* parent) {
    SiteSpeedDialog dialog(rule, parent);
    return runUntilSaved(dialog, parent);
}

} // namespace zvrd
