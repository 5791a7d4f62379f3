// sites: choosing the sites that take part in a search, and the connection speed test; depends
// on workers (thread base), net, rules and store, never on the main window.
#pragma once

#include "workers/WorkerThread.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

namespace zvrd {

// What a speed test needs of its dialog. Every operation may be called from any thread; once
// the dialog has closed, the reads give nothing and the writes are dropped.
class SpeedTestTarget {
public:
    virtual ~SpeedTestTarget() = default;
    // (site name, site address) of every row, in display order.
    virtual QList<std::pair<QString, QString>> Sites() = 0;
    virtual void SetSpeedText(int row, const QString& text) = 0;
    virtual void SetStatusText(const QString& text) = 0;
};

// Seconds until the first byte of a site's answer; GetConnectTime by default.
using ConnectTimer = std::function<double(const QString& url)>;

// "快" up to 2000 ms, "中" up to 3000 ms, "慢" beyond, "连接失败" below 0.
QString SpeedClass(int64_t milliseconds);

// The coordinator: one test thread per row, started 50 ms apart; runs detached.
class TConnectSpeedTest : public TWorkerThread {
    Q_OBJECT
public:
    TConnectSpeedTest(std::shared_ptr<SpeedTestTarget> FrmTargetSiteSet, ConnectTimer timer = {},
                      Ownership ownership = Ownership::Detached);

protected:
    void Execute() override;

private:
    std::shared_ptr<SpeedTestTarget> _FrmTargetSiteSet;
    QString _strStatusText;
    ConnectTimer fTimer;
};

class TTestThread : public TWorkerThread {
    Q_OBJECT
public:
    TTestThread(const QString& Url, const QString& SiteName, int32_t ItemIndex,
                std::shared_ptr<SpeedTestTarget> FrmTargetSiteSet, ConnectTimer timer);

protected:
    void Execute() override;

private:
    QString _strUrl;
    QString _strSiteName;
    QString _strConnectTime;
    QString _strStatusText;
    int32_t _ItemIndex;
    std::shared_ptr<SpeedTestTarget> _FrmTargetSiteSet;
    ConnectTimer fTimer;
};

} // namespace zvrd
