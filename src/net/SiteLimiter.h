// net: one limiter per site (host and port), shared by every request of the process: bulk
// downloads, update checks, chapter links, pictures and searches together ask a site for no more
// than its limits allow.
#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace zvrd {

class SiteLimiter {
public:
    using Clock = std::chrono::steady_clock;
    // The design's values: at most 20 requests in flight, starts at least 50 ms apart.
    static constexpr int kInFlight = 20;
    static constexpr std::chrono::milliseconds kSpacing{50};
    // The widest spacing pushback leads to, and the longest pause a Retry-After gets.
    static constexpr std::chrono::milliseconds kMaxSpacing{5000};
    static constexpr std::chrono::seconds kMaxPause{600};
    // What a site's own ceiling may be.
    static constexpr int kMostInFlight = 50;
    static constexpr std::chrono::milliseconds kLeastSpacing{10};
    static constexpr std::chrono::milliseconds kMostSpacing{60000};

    // What a site is asked for at most. With adapt off the limits stay there whatever the site
    // answers (a Retry-After is still kept).
    struct Ceiling {
        int inFlight = kInFlight;
        std::chrono::milliseconds spacing = kSpacing;
        bool adapt = true;
        bool operator==(const Ceiling&) const = default;
    };

    // The limiter of the site an address belongs to.
    static std::shared_ptr<SiteLimiter> of(const QString& url);
    // The site an address belongs to: "host:port", the host in lower case.
    static QString siteOf(const QString& url);
    // The ceilings of the sites that have their own, by siteOf; every other site has the
    // design's. A site whose ceiling changes starts over from it.
    static void setCeilings(const QHash<QString, Ceiling>& ceilings);
    // Every site back to the design's values (tests start from a clean slate).
    static void resetAll();

    // Held for one request: entering waits until the site allows a start; leaving frees the
    // place. Tell it how the site answered, so that the limiter adapts.
    class Ticket {
    public:
        explicit Ticket(std::shared_ptr<SiteLimiter> limiter);
        ~Ticket();
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        // status: the HTTP status, -1 for no answer (time-out, reset); retryAfter: the answer's
        // Retry-After field, when it had one.
        void answered(int status, const QString& retryAfter = QString());

    private:
        std::shared_ptr<SiteLimiter> m_limiter;
        Clock::time_point m_entered;
        int m_status = kNoOutcome;
        std::chrono::milliseconds m_pause{0};
    };

    // A refusal the status did not show: a page that answered 200 with nothing in it while the
    // site's other pages matched (an anti-bot or "banned" page).
    void pushedBack();

    Ceiling ceiling() const;
    int inFlightLimit() const;
    std::chrono::milliseconds spacing() const;
    // How long every request to the site still waits because it asked to; zero when none.
    std::chrono::milliseconds pausedFor() const;

    // A pushback (429, 503, no answer) halves the in-flight limit (at least 1) and widens the
    // spacing: to a little more than the site was seen to answer at (a site that counts its
    // readers' requests lets them through at its own rate), or twice as wide when the site
    // answered too little to tell. Requests that set out before a cut do not cut again. Runs of
    // answers bring both back: one more in flight per run as long as the limit, the spacing
    // halved every 5 answers while it is far above the rate the site kept, else 3 % narrower
    // every 40.
    static bool isPushback(int status);
    // Retry-After as seconds or as an HTTP date, capped at kMaxPause; zero when it says nothing.
    static std::chrono::milliseconds retryAfterDelay(const QString& value);

private:
    static constexpr int kNoOutcome = -2;
    void enter();
    void leave(int status, std::chrono::milliseconds pause, Clock::time_point entered);
    // Under m_lock.
    void adapt(bool pushback, Clock::time_point entered);
    void applyCeiling(const Ceiling& ceiling);

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    Ceiling m_ceiling;
    int m_inFlight = 0;
    int m_limit = kInFlight;
    int m_answersInARow = 0;
    int m_answersSinceRaise = 0;
    bool m_cutSinceAnswer = false;
    std::chrono::milliseconds m_spacing = kSpacing;
    // The spacing the site was last seen to keep; fast recovery stops there.
    std::chrono::milliseconds m_sustained = kSpacing;
    std::deque<Clock::time_point> m_recentAnswers;
    uint64_t m_nextTurn = 0;
    uint64_t m_serving = 0;
    Clock::time_point m_lastCut;
    Clock::time_point m_nextStart;
    Clock::time_point m_pausedUntil;
};

} // namespace zvrd
