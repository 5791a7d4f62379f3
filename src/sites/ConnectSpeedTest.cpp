#include "sites/ConnectSpeedTest.h"

#include "net/WebFetch.h"

#include <cmath>
#include <vector>

namespace zvrd {

namespace {

constexpr int kStartPauseMs = 50;

} // namespace

QString SpeedClass(int64_t milliseconds) {
    if (milliseconds < 0)
        return QStringLiteral("连接失败");
    if (milliseconds <= 2000)
        return QStringLiteral("快");
    if (milliseconds <= 3000)
        return QStringLiteral("中");
    return QStringLiteral("慢");
}

TConnectSpeedTest::TConnectSpeedTest(std::shared_ptr<SpeedTestTarget> FrmTargetSiteSet,
                                     ConnectTimer timer, Ownership ownership)
    : TWorkerThread(ownership), _FrmTargetSiteSet(std::move(FrmTargetSiteSet)),
      fTimer(timer ? std::move(timer) : ConnectTimer(GetConnectTime)) {
    Begin();
}

void TConnectSpeedTest::Execute() {
    _strStatusText = QStringLiteral("开始测试……");
    _FrmTargetSiteSet->SetStatusText(_strStatusText);
    const QList<std::pair<QString, QString>> sites = _FrmTargetSiteSet->Sites();
    std::vector<std::unique_ptr<TTestThread>> tests;
    for (qsizetype i = 0; i < sites.size(); ++i) {
        tests.push_back(std::make_unique<TTestThread>(
            sites[i].second, sites[i].first, static_cast<int32_t>(i), _FrmTargetSiteSet, fTimer));
        SleepMs(kStartPauseMs);
    }
    for (auto& test : tests)
        test->Join();
    tests.clear();
    _strStatusText = QStringLiteral("完成测试！");
    _FrmTargetSiteSet->SetStatusText(_strStatusText);
}

TTestThread::TTestThread(const QString& Url, const QString& SiteName, int32_t ItemIndex,
                         std::shared_ptr<SpeedTestTarget> FrmTargetSiteSet, ConnectTimer timer)
    : TWorkerThread(Ownership::Held), _strUrl(Url), _strSiteName(SiteName), _ItemIndex(ItemIndex),
      _FrmTargetSiteSet(std::move(FrmTargetSiteSet)), fTimer(std::move(timer)) {
    Begin();
}

void TTestThread::Execute() {
    // Whole milliseconds, truncated toward zero.
    const auto t = static_cast<int64_t>(std::trunc(fTimer(_strUrl) * 1000.0));
    _strConnectTime = QString::number(t);
    _strStatusText =
        QStringLiteral("连接到目标站「%1」用时 %2 毫秒。").arg(_strSiteName, _strConnectTime);
    _FrmTargetSiteSet->SetStatusText(_strStatusText);
    _FrmTargetSiteSet->SetSpeedText(_ItemIndex, SpeedClass(t));
}

} // namespace zvrd
