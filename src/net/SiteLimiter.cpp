#include "net/SiteLimiter.h"

#include <QDateTime>
#include <QHash>
#include <QUrl>

#include <algorithm>

namespace zvrd {
namespace {

std::mutex gRegistryLock;
QHash<QString, std::shared_ptr<SiteLimiter>>& registry() {
    static QHash<QString, std::shared_ptr<SiteLimiter>> limiters;
    return limiters;
}

// One server: the host in lower case and the port (the scheme's own when none is given).
QString siteKey(const QString& url) {
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    return address.host().toLower() + QLatin1Char(':') +
           QString::number(address.port(scheme == QLatin1String("https") ? 443 : 80));
}

} // namespace

std::shared_ptr<SiteLimiter> SiteLimiter::of(const QString& url) {
    const QString key = siteKey(url);
    std::lock_guard guard(gRegistryLock);
    std::shared_ptr<SiteLimiter>& limiter = registry()[key];
    if (!limiter)
        limiter = std::make_shared<SiteLimiter>();
    return limiter;
}

void SiteLimiter::resetAll() {
    std::lock_guard guard(gRegistryLock);
    registry().clear();
}

SiteLimiter::Ticket::Ticket(std::shared_ptr<SiteLimiter> limiter) : m_limiter(std::move(limiter)) {
    m_limiter->enter();
}

SiteLimiter::Ticket::~Ticket() {
    m_limiter->leave(m_status, m_pause);
}

void SiteLimiter::Ticket::answered(int status, const QString& retryAfter) {
    m_status = status;
    m_pause = retryAfterDelay(retryAfter);
}

bool SiteLimiter::isPushback(int status) {
    return status == -1 || status == 429 || status == 503;
}

std::chrono::milliseconds SiteLimiter::retryAfterDelay(const QString& value) {
    const QString text = value.trimmed();
    if (text.isEmpty())
        return std::chrono::milliseconds(0);
    std::chrono::milliseconds delay(0);
    bool number = false;
    const qlonglong seconds = text.toLongLong(&number);
    if (number) {
        delay = std::chrono::seconds(std::max<qlonglong>(seconds, 0));
    } else {
        const QDateTime when = QDateTime::fromString(text, Qt::RFC2822Date);
        if (when.isValid())
            delay = std::chrono::milliseconds(
                std::max<qint64>(QDateTime::currentDateTimeUtc().msecsTo(when), 0));
    }
    return std::min<std::chrono::milliseconds>(delay, kMaxPause);
}

void SiteLimiter::enter() {
    std::unique_lock guard(m_lock);
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (m_pausedUntil > now)
            m_changed.wait_until(guard, m_pausedUntil);
        else if (m_inFlight >= m_limit)
            m_changed.wait(guard);
        else if (m_nextStart > now)
            m_changed.wait_until(guard, m_nextStart);
        else
            break;
    }
    ++m_inFlight;
    m_nextStart = Clock::now() + m_spacing;
}

void SiteLimiter::leave(int status, std::chrono::milliseconds pause) {
    {
        std::lock_guard guard(m_lock);
        --m_inFlight;
        if (pause.count() > 0)
            m_pausedUntil = std::max(m_pausedUntil, Clock::now() + pause);
        if (isPushback(status)) {
            m_limit = std::max(1, m_limit / 2);
            m_spacing = std::min(m_spacing * 2, kMaxSpacing);
            m_answersInARow = 0;
        } else if (status != kNoOutcome && ++m_answersInARow >= m_limit) {
            // Step by step back up: one more in flight, the spacing a quarter narrower.
            m_answersInARow = 0;
            m_limit = std::min(m_limit + 1, kInFlight);
            m_spacing = std::max<std::chrono::milliseconds>(m_spacing * 3 / 4, kSpacing);
        }
    }
    m_changed.notify_all();
}

int SiteLimiter::inFlightLimit() const {
    std::lock_guard guard(m_lock);
    return m_limit;
}

std::chrono::milliseconds SiteLimiter::spacing() const {
    std::lock_guard guard(m_lock);
    return m_spacing;
}

std::chrono::milliseconds SiteLimiter::pausedFor() const {
    std::lock_guard guard(m_lock);
    const Clock::time_point now = Clock::now();
    return m_pausedUntil > now
               ? std::chrono::duration_cast<std::chrono::milliseconds>(m_pausedUntil - now)
               : std::chrono::milliseconds(0);
}

} // namespace zvrd
