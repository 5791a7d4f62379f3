#include "sites/SpeedTest.h"

#include "net/WebFetch.h"

#include <cmath>
#include <vector>

namespace zvrd {

namespace {

constexpr int kStartPauseMs = 50;

} // namespace

QString speedClass(int64_t milliseconds) {
    if (milliseconds < 0)
        return QStringLiteral("连接失败");
    if (milliseconds <= 2000)
        return QStringLiteral("快");
    if (milliseconds <= 3000)
        return QStringLiteral("中");
    return QStringLiteral("慢");
}

QString speedText(int64_t milliseconds) {
    if (milliseconds < 0)
        return speedClass(milliseconds);
    return QStringLiteral("%1（%2 毫秒）").arg(speedClass(milliseconds)).arg(milliseconds);
}

SpeedTest::SpeedTest(std::shared_ptr<SpeedTestTarget> target, ConnectTimer timer,
                     Ownership ownership)
    : Worker(ownership), m_target(std::move(target)),
      m_timer(timer ? std::move(timer) : ConnectTimer(connectTime)) {
    start();
}

void SpeedTest::run() {
    m_statusText = QStringLiteral("开始测试……");
    m_target->setStatusText(m_statusText);
    const QList<std::pair<QString, QString>> sites = m_target->sites();
    std::vector<std::unique_ptr<SiteSpeedProbe>> tests;
    for (qsizetype i = 0; i < sites.size(); ++i) {
        tests.push_back(std::make_unique<SiteSpeedProbe>(
            sites[i].second, sites[i].first, static_cast<int32_t>(i), m_target, m_timer));
        sleepMs(kStartPauseMs);
    }
    for (auto& test : tests)
        test->join();
    tests.clear();
    m_statusText = QStringLiteral("完成测试！");
    m_target->setStatusText(m_statusText);
}

SiteSpeedProbe::SiteSpeedProbe(const QString& url, const QString& siteName, int32_t row,
                               std::shared_ptr<SpeedTestTarget> target, ConnectTimer timer)
    : Worker(Ownership::Held), m_url(url), m_siteName(siteName), m_row(row),
      m_target(std::move(target)), m_timer(std::move(timer)) {
    start();
}

void SiteSpeedProbe::run() {
    // Whole milliseconds, truncated toward zero.
    const auto t = static_cast<int64_t>(std::trunc(m_timer(m_url) * 1000.0));
    m_connectTime = QString::number(t);
    m_statusText =
        QStringLiteral("连接到目标站「%1」用时 %2 毫秒。").arg(m_siteName, m_connectTime);
    m_target->setStatusText(m_statusText);
    m_target->setSpeedText(m_row, speedText(t));
}

} // namespace zvrd
