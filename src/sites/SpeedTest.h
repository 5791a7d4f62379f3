// sites: choosing the sites that take part in a search, and the connection speed test; depends
// on workers (thread base), net, rules and store, never on the main window.
#pragma once

#include "workers/Worker.h"

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
    virtual QList<std::pair<QString, QString>> sites() = 0;
    virtual void setSpeedText(int row, const QString& text) = 0;
    virtual void setStatusText(const QString& text) = 0;
};

// Seconds until the first byte of a site's answer; connectTime by default.
using ConnectTimer = std::function<double(const QString& url)>;

// "快" up to 2000 ms, "中" up to 3000 ms, "慢" beyond, "连接失败" below 0.
QString speedClass(int64_t milliseconds);
// The class with the time it stands for ("快（120 毫秒）"), so that the dialog's hint about 3
// seconds can be checked; "连接失败" alone.
QString speedText(int64_t milliseconds);

// The coordinator: one test thread per row, started 50 ms apart; runs detached.
class SpeedTest : public Worker {
    Q_OBJECT
public:
    SpeedTest(std::shared_ptr<SpeedTestTarget> target, ConnectTimer timer = {},
              Ownership ownership = Ownership::Detached);

protected:
    void run() override;

private:
    std::shared_ptr<SpeedTestTarget> m_target;
    QString m_statusText;
    ConnectTimer m_timer;
};

class SiteSpeedProbe : public Worker {
    Q_OBJECT
public:
    SiteSpeedProbe(const QString& url, const QString& siteName, int32_t row,
                   std::shared_ptr<SpeedTestTarget> target, ConnectTimer timer);

protected:
    void run() override;

private:
    QString m_url;
    QString m_siteName;
    QString m_connectTime;
    QString m_statusText;
    int32_t m_row;
    std::shared_ptr<SpeedTestTarget> m_target;
    ConnectTimer m_timer;
};

} // namespace zvrd
