// The per-site limiter: alone, with many threads at once (run under ThreadSanitizer), and against
// the local test web server.
#include "net/SiteLimiter.h"
#include "net/WebFetch.h"
#include "support/TempDataFolder.h"
#include "support/TestSiteSuite.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace zvrd;
using namespace std::chrono_literals;

namespace {

TEST(SiteLimiterTest, RetryAfterIsSecondsOrAnHttpDateCappedAtTenMinutes) {
    const QString soon = QDateTime::currentDateTimeUtc().addSecs(5).toString(Qt::RFC2822Date);
    const QString past = QDateTime::currentDateTimeUtc().addSecs(-5).toString(Qt::RFC2822Date);
    const struct {
        QString value;
        std::chrono::milliseconds least;
        std::chrono::milliseconds most;
    } cases[] = {{QStringLiteral("30"), 30s, 30s},
                 {QStringLiteral(" 0 "), 0ms, 0ms},
                 {QStringLiteral("-5"), 0ms, 0ms},
                 {QStringLiteral("99999"), 600s, 600s},
                 {soon, 3s, 5s},
                 {past, 0ms, 0ms},
                 {QStringLiteral("soon"), 0ms, 0ms},
                 {QString(), 0ms, 0ms}};
    for (const auto& c : cases) {
        const auto delay = SiteLimiter::retryAfterDelay(c.value);
        EXPECT_GE(delay, c.least) << c.value.toStdString();
        EXPECT_LE(delay, c.most) << c.value.toStdString();
    }
}

// Pushback halves the limit and widens the spacing at once, to the pace the site was seen to
// keep when it answered enough to tell; answers bring both back step by step, never past the
// ceiling; with adapt off nothing moves.
TEST(SiteLimiterTest, PushbackLowersTheLimitsAndAnswersRaiseThemToTheCeiling) {
    SiteLimiter::resetAll();
    const auto limiter = SiteLimiter::of(QStringLiteral("http://pushback.test/a"));
    EXPECT_EQ(SiteLimiter::of(QStringLiteral("HTTP://PUSHBACK.test:80/b")), limiter);
    auto answer = [&](int status, int times = 1) {
        for (int i = 0; i < times; ++i) {
            SiteLimiter::Ticket ticket(limiter);
            ticket.answered(status);
        }
    };
    answer(503);
    answer(429);
    answer(-1);
    EXPECT_EQ(limiter->inFlightLimit(), 2);
    EXPECT_EQ(limiter->spacing(), 400ms);
    answer(200, 2);
    EXPECT_EQ(limiter->inFlightLimit(), 3);
    { SiteLimiter::Ticket unanswered(limiter); } // says nothing either way
    answer(200, 3);
    EXPECT_EQ(limiter->inFlightLimit(), 4);
    EXPECT_EQ(limiter->spacing(), 200ms); // far above the site's pace: halved after 5

    // Answers 120 ms apart, then a refusal: the spacing follows the site's pace.
    SiteLimiter::resetAll();
    const auto paced = SiteLimiter::of(QStringLiteral("http://paced.test/"));
    for (int i = 0; i < 8; ++i) {
        SiteLimiter::Ticket ticket(paced);
        ticket.answered(200);
        std::this_thread::sleep_for(120ms);
    }
    paced->pushedBack();
    EXPECT_GE(paced->spacing(), 120ms);
    EXPECT_LE(paced->spacing(), 200ms);

    SiteLimiter::setCeilings(
        {{SiteLimiter::siteOf(QStringLiteral("http://pushback.test/")), {3, 10ms, true}},
         {SiteLimiter::siteOf(QStringLiteral("http://fixed.test/")), {2, 100ms, false}}});
    const auto capped = SiteLimiter::of(QStringLiteral("http://pushback.test/"));
    EXPECT_EQ(capped->inFlightLimit(), 3);
    EXPECT_EQ(capped->spacing(), 10ms);
    capped->pushedBack();
    EXPECT_EQ(capped->inFlightLimit(), 1);
    for (int i = 0; i < 45; ++i) {
        SiteLimiter::Ticket ticket(capped);
        ticket.answered(200);
    }
    EXPECT_EQ(capped->inFlightLimit(), 3);
    EXPECT_GE(capped->spacing(), 10ms);
    EXPECT_LT(capped->spacing(), 20ms);
    const auto fixed = SiteLimiter::of(QStringLiteral("http://fixed.test/"));
    fixed->pushedBack();
    EXPECT_EQ(fixed->inFlightLimit(), 2);
    EXPECT_EQ(fixed->spacing(), 100ms);
    SiteLimiter::resetAll();
}

// Every thread of the process shares the site's places: never more in flight than the limit.
TEST(SiteLimiterTest, ManyJobsTogetherNeverExceedTheLimit) {
    SiteLimiter::resetAll();
    const auto limiter = SiteLimiter::of(QStringLiteral("http://busy.test/"));
    for (const int expected : {SiteLimiter::kInFlight, SiteLimiter::kInFlight / 2}) {
        std::atomic<int> now{0};
        std::atomic<int> most{0};
        std::vector<std::thread> jobs;
        for (int j = 0; j < 2 * SiteLimiter::kInFlight; ++j)
            jobs.emplace_back([&] {
                SiteLimiter::Ticket ticket(limiter);
                const int inFlight = ++now;
                for (int seen = most;
                     inFlight > seen && !most.compare_exchange_weak(seen, inFlight);) {
                }
                std::this_thread::sleep_for(250ms);
                --now;
            });
        for (std::thread& job : jobs)
            job.join();
        EXPECT_LE(most, expected);
        EXPECT_GE(most, 2);
        SiteLimiter::Ticket pushback(limiter);
        pushback.answered(503); // the next round has half the places
    }
}

class SiteLimiterSiteTest : public test::TestSiteSuite {};

// A Retry-After, in seconds or as an HTTP date, makes every request to that site wait, and no
// request to another.
TEST_F(SiteLimiterSiteTest, RetryAfterPausesThatSiteOnly) {
    test::TempDataFolder folder;
    const QString page = site->pageUrl(QStringLiteral("wait"));
    // The same server under another name is another site.
    QString other = site->baseUrl() + QStringLiteral("/gbk/book/1/");
    other.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    for (const bool asDate : {false, true}) {
        const QString retryAfter =
            asDate ? QDateTime::currentDateTimeUtc().addSecs(3).toString(Qt::RFC2822Date)
                   : QStringLiteral("2");
        SCOPED_TRACE(retryAfter.toStdString());
        SiteLimiter::resetAll();
        site->setAnswers(
            QStringLiteral("wait"),
            {{"busy", 429, {}, 0, {{"Retry-After", retryAfter.toUtf8()}}}, {"ok", 200, {}, 0, {}}});
        EXPECT_EQ(fetchPage(page, QString()).status, 429);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(fetchPage(other, QString()).status, 200);
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_EQ(fetchPage(page, QString()).status, 200);
        EXPECT_GE(clock.elapsed(), 1500);
    }
}

// A site down for a while (three 503s) slows its readers at once; its answers afterwards bring
// the limit back up. A site that rate-limits answers 429 with a Retry-After the limiter keeps.
TEST_F(SiteLimiterSiteTest, ASiteThatPushesBackIsAskedLessUntilItAnswersAgain) {
    test::TempDataFolder folder;
    const QString page = site->baseUrl() + QStringLiteral("/gbk/book/1/");
    const auto limiter = SiteLimiter::of(page);
    site->setUnavailable(3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(fetchPage(page, QString()).status, 503);
    EXPECT_EQ(limiter->inFlightLimit(), SiteLimiter::kInFlight / 8);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(fetchPage(page, QString()).status, 200);
    EXPECT_EQ(limiter->inFlightLimit(), SiteLimiter::kInFlight / 8 + 2);

    site->setRateLimit(1, 1);
    EXPECT_EQ(fetchPage(page, QString()).status, 200);
    EXPECT_EQ(fetchPage(page, QString()).status, 429);
    EXPECT_GT(limiter->pausedFor(), 0ms);
    site->setRateLimit(0, 0);
    EXPECT_EQ(site->refusedCount(), 4);
}

} // namespace
