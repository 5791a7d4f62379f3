// net: one limiter per site (host and port), shared by every request of the process: bulk
// downloads, update checks, chapter links, pictures and searches together ask a site for no more
// than its limits allow.
#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
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

    // The limiter of the site an address belongs to.
    static std::shared_ptr<SiteLimiter> of(const QString& url);
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
        int m_status = kNoOutcome;
        std::chrono::milliseconds m_pause{0};
    };

    int inFlightLimit() const;
    std::chrono::milliseconds spacing() const;
    // How long every request to the site still waits because it asked to; zero when none.
    std::chrono::milliseconds pausedFor() const;

    // A pushback (429, 503, no answer) halves the in-flight limit (at least 1) and doubles the
    // spacing; a run of as many answers as the limit raises it by one and narrows the spacing,
    // back up to the design's values.
    static bool isPushback(int status);
    // Retry-After as seconds or as an HTTP date, capped at kMaxPause; zero when it says nothing.
    static std::chrono::milliseconds retryAfterDelay(const QString& value);

private:
    static constexpr int kNoOutcome = -2;
    void enter();
    void leave(int status, std::chrono::milliseconds pause);

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    int m_inFlight = 0;
    int m_limit = kInFlight;
    int m_answersInARow = 0;
    std::chrono::milliseconds m_spacing = kSpacing;
    Clock::time_point m_nextStart;
    Clock::time_point m_pausedUntil;
};

} // namespace zvrd
