#include "net/SiteLimiter.h"

#include <QDateTime>
#include <QUrl>

#include <algorithm>

namespace zvrd {
namespace {

using std::chrono::milliseconds;

std::mutex gRegistryLock;
struct Registry {
    QHash<QString, std::shared_ptr<SiteLimiter>> limiters;
    QHash<QString, SiteLimiter::Ceiling> ceilings;
};
Registry& registry() {
    static Registry sites;
    return sites;
}

// Answers remembered for telling the rate a site keeps.
constexpr size_t kRecentAnswers = 8;
// Fast recovery (after an outage) halves the spacing every this many answers while it is more
// than twice the rate the site kept; otherwise it narrows by 3 % every kSlowStep answers, so
// that a site counting requests is probed again only now and then.
constexpr int kFastStep = 5;
constexpr int kSlowStep = 40;

} // namespace

QString SiteLimiter::siteOf(const QString& url) {
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    return address.host().toLower() + QLatin1Char(':') +
           QString::number(address.port(scheme == QLatin1String("https") ? 443 : 80));
}

std::shared_ptr<SiteLimiter> SiteLimiter::of(const QString& url) {
    const QString key = siteOf(url);
    std::lock_guard guard(gRegistryLock);
    std::shared_ptr<SiteLimiter>& limiter = registry().limiters[key];
    if (!limiter) {
        limiter = std::make_shared<SiteLimiter>();
        limiter->applyCeiling(registry().ceilings.value(key));
    }
    return limiter;
}

void SiteLimiter::setCeilings(const QHash<QString, Ceiling>& ceilings) {
    std::lock_guard guard(gRegistryLock);
    if (registry().ceilings == ceilings)
        return;
    registry().ceilings = ceilings;
    for (auto it = registry().limiters.cbegin(); it != registry().limiters.cend(); ++it)
        it.value()->applyCeiling(ceilings.value(it.key()));
}

void SiteLimiter::resetAll() {
    std::lock_guard guard(gRegistryLock);
    registry().limiters.clear();
    registry().ceilings.clear();
}

void SiteLimiter::applyCeiling(const Ceiling& ceiling) {
    {
        std::lock_guard guard(m_lock);
        if (m_ceiling == ceiling)
            return;
        // A new ceiling starts over from itself: what was learnt under the old one is moot.
        m_ceiling = ceiling;
        m_limit = ceiling.inFlight;
        m_spacing = ceiling.spacing;
        m_sustained = ceiling.spacing;
        m_answersInARow = 0;
        m_answersSinceRaise = 0;
        m_cutSinceAnswer = false;
        m_recentAnswers.clear();
    }
    m_changed.notify_all();
}

SiteLimiter::Ticket::Ticket(std::shared_ptr<SiteLimiter> limiter) : m_limiter(std::move(limiter)) {
    m_limiter->enter();
    m_entered = Clock::now();
}

SiteLimiter::Ticket::~Ticket() {
    m_limiter->leave(m_status, m_pause, m_entered);
}

void SiteLimiter::Ticket::answered(int status, const QString& retryAfter) {
    m_status = status;
    m_pause = retryAfterDelay(retryAfter);
}

bool SiteLimiter::isPushback(int status) {
    return status == -1 || status == 429 || status == 503;
}

milliseconds SiteLimiter::retryAfterDelay(const QString& value) {
    const QString text = value.trimmed();
    if (text.isEmpty())
        return milliseconds(0);
    milliseconds delay(0);
    bool number = false;
    const qlonglong seconds = text.toLongLong(&number);
    if (number) {
        delay = std::chrono::seconds(std::clamp<qlonglong>(seconds, 0, kMaxPause.count()));
    } else {
        const QDateTime when = QDateTime::fromString(text, Qt::RFC2822Date);
        if (when.isValid())
            delay =
                milliseconds(std::max<qint64>(QDateTime::currentDateTimeUtc().msecsTo(when), 0));
    }
    return std::min<milliseconds>(delay, kMaxPause);
}

void SiteLimiter::enter() {
    std::unique_lock guard(m_lock);
    // First come, first served: a novel's chapters go out in the order they were asked for.
    const uint64_t turn = m_nextTurn++;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (m_serving != turn)
            m_changed.wait(guard);
        else if (m_pausedUntil > now)
            m_changed.wait_until(guard, m_pausedUntil);
        else if (m_inFlight >= m_limit)
            m_changed.wait(guard);
        else if (m_nextStart > now)
            m_changed.wait_until(guard, m_nextStart);
        else
            break;
    }
    ++m_serving;
    ++m_inFlight;
    m_nextStart = Clock::now() + m_spacing;
    guard.unlock();
    m_changed.notify_all(); // the next in turn
}

void SiteLimiter::leave(int status, milliseconds pause, Clock::time_point entered) {
    {
        std::lock_guard guard(m_lock);
        --m_inFlight;
        if (pause.count() > 0)
            m_pausedUntil = std::max(m_pausedUntil, Clock::now() + pause);
        if (status != kNoOutcome)
            adapt(isPushback(status), entered);
    }
    m_changed.notify_all();
}

void SiteLimiter::pushedBack() {
    {
        std::lock_guard guard(m_lock);
        adapt(true, Clock::now());
    }
    m_changed.notify_all();
}

void SiteLimiter::adapt(bool pushback, Clock::time_point entered) {
    if (!m_ceiling.adapt)
        return;
    const Clock::time_point now = Clock::now();
    if (!pushback) {
        m_cutSinceAnswer = false;
        m_recentAnswers.push_back(now);
        if (m_recentAnswers.size() > kRecentAnswers)
            m_recentAnswers.pop_front();
        ++m_answersInARow;
        if (++m_answersSinceRaise >= m_limit) {
            m_answersSinceRaise = 0;
            m_limit = std::min(m_limit + 1, m_ceiling.inFlight);
        }
        if (m_spacing > 2 * m_sustained) {
            if (m_answersInARow % kFastStep == 0)
                m_spacing = std::max(m_sustained, m_spacing / 2);
        } else if (m_answersInARow % kSlowStep == 0) {
            m_spacing = std::max<milliseconds>(m_spacing * 97 / 100, m_ceiling.spacing);
        }
        return;
    }
    // Requests that were under way when the limits were cut met the same crowd: one cut for them.
    if (entered < m_lastCut)
        return;
    m_lastCut = now;
    const milliseconds widest = std::max(kMaxSpacing, m_ceiling.spacing);
    m_answersInARow = 0;
    m_answersSinceRaise = 0;
    m_limit = std::max(1, m_limit / 2);
    if (!m_cutSinceAnswer && m_recentAnswers.size() == kRecentAnswers) {
        // The site let these answers through at its own pace: a little slower than that.
        const auto seen = std::chrono::duration_cast<milliseconds>(m_recentAnswers.back() -
                                                                   m_recentAnswers.front()) /
                          static_cast<int>(kRecentAnswers - 1);
        m_spacing = std::max(m_spacing * 11 / 10, seen * 105 / 100);
        m_spacing = std::clamp<milliseconds>(m_spacing, m_ceiling.spacing, widest);
        m_sustained = m_spacing;
    } else {
        m_spacing = std::clamp<milliseconds>(m_spacing * 2, m_ceiling.spacing, widest);
    }
    m_cutSinceAnswer = true;
}

SiteLimiter::Ceiling SiteLimiter::ceiling() const {
    std::lock_guard guard(m_lock);
    return m_ceiling;
}

int SiteLimiter::inFlightLimit() const {
    std::lock_guard guard(m_lock);
    return m_limit;
}

milliseconds SiteLimiter::spacing() const {
    std::lock_guard guard(m_lock);
    return m_spacing;
}

milliseconds SiteLimiter::pausedFor() const {
    std::lock_guard guard(m_lock);
    const Clock::time_point now = Clock::now();
    return m_pausedUntil > now ? std::chrono::duration_cast<milliseconds>(m_pausedUntil - now)
                               : milliseconds(0);
}

} // namespace zvrd
