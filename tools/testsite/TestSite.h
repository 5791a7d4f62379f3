// testsite: a local HTTP/1.1 server for tests, benchmarks and the offline demo. It serves two
// made-up novel sites (one GBK, one UTF-8), the saved pages of real sites (read at run time from
// a folder outside the repository) and faults on demand. Loopback only.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <QList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace zvrd::testsite {

// One made-up novel: chapters numbered 1..chapters; pictureChapter (1-based, 0 for none) is
// published as two pictures; a traditional one is written in traditional characters, as Taiwan
// and Hong Kong sites publish.
struct DemoNovel {
    int id;
    QString name;
    QString author;
    int chapters;
    int pictureChapter;
    bool traditional = false;
};

// The novels of the GBK site ("/gbk/...") and of the UTF-8 site ("/utf8/...").
const std::vector<DemoNovel>& gbkNovels();
const std::vector<DemoNovel>& utf8Novels();
// The chapter title and text the demo sites publish.
QString demoChapterName(int chapter);
// The whole text the mobile-style site publishes of a chapter over its pages.
QString mobileChapterText(const DemoNovel& novel, int chapter);
QString demoChapterText(const DemoNovel& novel, int chapter);

struct Options {
    int port = 0;             // 0: any free port
    QString realSitesDir;     // folder of the saved real pages; empty or missing: none served
    int latencyMs = 0;        // added to every answer
    int slowEvery = 0;        // every slowEvery-th chapter page of the demo sites ...
    int slowMs = 0;           // ... takes this much longer
    int growEverySeconds = 0; // every demo novel gains a chapter this often (a serial going on)
    QString stateFile;        // where the serials' growth is kept, so a restart goes on from it
};

// One canned answer of a custom page.
struct Answer {
    QByteArray body;
    int status = 200;
    QString location;
    int delayMs = 0;
    QList<std::pair<QByteArray, QByteArray>> headers; // extra header fields
};

class TestSite {
public:
    explicit TestSite(const Options& options = Options());
    ~TestSite();
    TestSite(const TestSite&) = delete;
    TestSite& operator=(const TestSite&) = delete;

    // "http://127.0.0.1:PORT" of the demo sites and faults.
    QString baseUrl() const;
    int port() const;
    // "http://127.0.0.1:PORT" of one real site ("biquge.com.tw", ...); empty when not served.
    QString realSiteUrl(const QString& site) const;
    // The old address of the mobile-style site ("/m/..."): every request there is redirected
    // (301) to the same path at baseUrl(), and the site's pages link to it.
    QString movedUrl() const;
    // The values of request header `name` the server of url received so far, each as
    // "PATH VALUE" (the mobile-style site's chapters answer 403 without a Referer of its host).
    QStringList headerValues(const QString& url, const QString& name) const;
    // Later pages of this chapter of the mobile-style site answer 404 (0: none).
    void setBrokenChapterPages(int chapter) { m_brokenPart = chapter; }
    QStringList realSites() const;

    void setLatencyMs(int ms) { m_latencyMs = ms; }
    // A site that limits its readers: a token bucket of perSecond requests a second (burst
    // tokens at most); a request beyond it is answered 429, with a Retry-After in whole seconds
    // unless retryAfter is false. 0 turns it off.
    void setRateLimit(double perSecond, int burst, bool retryAfter = true);
    // The next `requests` requests are answered 503 (a site down for a while), then it recovers.
    void setUnavailable(int requests) { m_unavailable = requests; }
    // Requests being answered at once: now, and the most since the last resetMostAtOnce().
    struct Gauge {
        std::atomic<int> now{0};
        std::atomic<int> most{0};
    };
    int mostAtOnce() const { return m_gauge.most; }
    void resetMostAtOnce() { m_gauge.most = 0; }
    // Requests answered 429 or 503 by the two above so far.
    int refusedCount() const { return m_refused; }
    // For the pre-routing step: true when the request is refused (res is filled in).
    bool refuses(httplib::Response& res);
    // Serves body at "/custom/" + name (raw bytes), for tests that need a page of their own.
    void setPage(const QString& name, const QByteArray& body, int status = 200,
                 const QString& location = QString(), int delayMs = 0);
    QString pageUrl(const QString& name) const {
        return baseUrl() + QStringLiteral("/custom/") + name;
    }
    // Serves the answers at "/custom/" + name one per request, in turn; the last one repeats.
    void setAnswers(const QString& name, const QList<Answer>& answers);
    // Requests of "/custom/" + name so far.
    int pageRequests(const QString& name) const;
    // Requests answered so far (all servers), for tests that must see "no fetch".
    int requestCount() const { return m_requests; }

    // A serial that keeps being written: the demo novel `novel` of site "gbk" or "utf8" has
    // `chapters` chapters from now on (also "/fault/grow?site=&novel=&chapters=").
    void setChapterCount(const QString& site, int novel, int chapters);

    // Chapter pages of the demo sites: every slowEvery-th one answers ms later (0: none).
    void setSlowChapters(int every, int ms) {
        m_slowEvery = every;
        m_slowMs = ms;
    }
    // The answer to chapter `chapter` of the GBK demo novel `novel` waits until releaseHeld()
    // (or 30 s); isHeld() tells whether a request is waiting now.
    void holdChapter(int novel, int chapter);
    void releaseHeld();
    bool isHeld() const;

private:
    struct Server;
    void startMoved();
    void startDemo(int port);
    void startRealSite(const QString& site, const QString& folder);

    std::vector<std::unique_ptr<Server>> m_servers;
    QMap<QString, int> m_realPorts;
    struct CustomPage {
        QList<Answer> answers;
        int served = 0;
    };
    mutable std::mutex m_pagesLock;
    QMap<QString, CustomPage> m_pages;
    void waitIfHeld(int novel, int chapter);
    void slowChapter(int chapter) const;
    std::optional<DemoNovel> novel(const std::vector<DemoNovel>& novels, const char* site,
                                   int id) const;
    QMap<QString, int> m_chapterCounts;
    mutable std::mutex m_holdLock;
    std::condition_variable m_holdReleased;
    std::pair<int, int> m_held{0, 0};
    bool m_waiting = false;
    std::atomic<int> m_slowEvery{0};
    std::atomic<int> m_slowMs{0};
    int m_demoPort = 0;
    std::atomic<int> m_latencyMs{0};
    mutable std::mutex m_bucketLock;
    double m_perSecond = 0;
    double m_burst = 0;
    double m_tokens = 0;
    std::chrono::steady_clock::time_point m_refilled;
    std::atomic<int> m_unavailable{0};
    std::atomic<int> m_refused{0};
    bool m_retryAfter = true;
    Gauge m_gauge;
    int m_movedPort = 0;
    std::atomic<int> m_brokenPart{0};
    int m_growEverySeconds = 0;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    QString m_stateFile;
    mutable int m_grownBefore = 0; // chapters the serials had grown by in earlier runs
    mutable int m_grownKept = 0;   // the growth last written to the state file
    std::atomic<int> m_requests{0};
    struct SeenHeader {
        int port;
        QString path;
        QString name; // lower case
        QString value;
    };
    void remember(int port, const httplib::Request& req);
    mutable std::mutex m_seenLock;
    QList<SeenHeader> m_seen;
};

// The folder of the saved real pages next to the repository (../shared/realsites), or empty.
QString defaultRealSitesDir();

} // namespace zvrd::testsite
