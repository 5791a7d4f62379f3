// The six fetch functions against the local test web server: headers, status codes, redirects,
// decoding, limits, refused schemes, downloads and time-outs.
#include "net/WebFetch.h"
#include "net/HttpLibrary.h"
#include "net/RequestHeaders.h"
#include "support/TempDataFolder.h"
#include "support/TestSiteSuite.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace zvrd;

namespace {

TEST(StatusCodeTest, ReadsPositionsTenToTwelve) {
    EXPECT_EQ(statusCode(QStringLiteral("HTTP/1.1 200 OK\r\nServer: x\r\n\r\n")), 200);
    EXPECT_EQ(statusCode(QStringLiteral("HTTP/1.1 302 Found\r\nLocation: /a\r\n")), 302);
    EXPECT_EQ(statusCode(QStringLiteral("HTTP/1.0 404 Not Found")), 404);
    EXPECT_EQ(statusCode(QString()), -1);
    EXPECT_EQ(statusCode(QStringLiteral("HTTP/1.1 OK!")), -1);
    // Three digits or none: a cut or signed number is no status.
    EXPECT_EQ(statusCode(QStringLiteral("HTTP/1.1 20")), -1);
    EXPECT_EQ(statusCode(QStringLiteral("HTTP/1.1 -3 x")), -1);
    EXPECT_EQ(statusCode(QStringLiteral("HTTP/1.1  20 x")), -1);
    EXPECT_EQ(statusCode(QStringLiteral("garbage")), -1);
}

TEST(LocationTest, ValueUpToTheLineEndAnyCase) {
    EXPECT_EQ(locationOf(QStringLiteral("HTTP/1.1 302 Found\r\nLocation: /book/12/\r\nX: y\r\n")),
              QStringLiteral("/book/12/"));
    EXPECT_EQ(locationOf(QStringLiteral("HTTP/1.1 302 Found\r\nLocation: /book/12/")),
              QStringLiteral("/book/12/"));
    // Names in lower case are the same field; a bare LF ends a line too; the blank is optional.
    EXPECT_EQ(locationOf(QStringLiteral("HTTP/1.1 302 Found\r\nlocation: /book/12/\r\n")),
              QStringLiteral("/book/12/"));
    EXPECT_EQ(locationOf(QStringLiteral("HTTP/1.1 302 Found\nLocation:/a\nConnection: close\n")),
              QStringLiteral("/a"));
    EXPECT_EQ(locationOf(QStringLiteral("HTTP/1.1 302 Found\r\nLocations: /x\r\n")), QString());
    EXPECT_EQ(locationOf(QStringLiteral("HTTP/1.1 200 OK\r\n\r\n")), QString());
    EXPECT_EQ(locationOf(QStringLiteral("Location")), QString());
    // "Content-Location" is another field, wherever it stands.
    EXPECT_EQ(locationOf(QStringLiteral("HTTP/1.1 302 Found\r\nContent-Location: /a\r\n"
                                        "Location: /b\r\n")),
              QStringLiteral("/b"));
    EXPECT_EQ(locationOf(QStringLiteral("HTTP/1.1 200 OK\r\nContent-Location: /a\r\n")), QString());
}

TEST(GbkTest, DecodesAndReplacesInvalidBytes) {
    EXPECT_EQ(decodeGbk(QByteArray("\xb2\xe2\xca\xd4")), QStringLiteral("测试"));
    EXPECT_EQ(decodeGbk(QByteArray("a\xff\xffz")), QStringLiteral("a\uFFFD\uFFFDz"));
    EXPECT_EQ(decodeGbk(QByteArray("end\xb2")), QStringLiteral("end\uFFFD"));
    EXPECT_EQ(encodeGbk(QStringLiteral("测试")), QByteArray("\xb2\xe2\xca\xd4"));
    // One "?" per character GBK cannot hold, whatever its length in UTF-8.
    EXPECT_EQ(encodeGbk(QStringLiteral("a한b")), QByteArray("a?b"));
    EXPECT_EQ(encodeGbk(QStringLiteral("a😀b测")), QByteArray("a?b\xb2\xe2"));
}

class WebFetchTest : public test::TestSiteSuite {
protected:
    static QString url(const char* path) { return site->baseUrl() + QLatin1String(path); }
};

TEST_F(WebFetchTest, HeadersStartWithTheStatusLineAndRedirectsAreReportedNotFollowed) {
    const QString ok = fetchHead(url("/gbk/book/1/"));
    EXPECT_TRUE(ok.startsWith(QStringLiteral("HTTP/1.1 200 OK\r\n"))) << ok.toStdString();
    EXPECT_TRUE(ok.endsWith(QStringLiteral("\r\n\r\n")));
    EXPECT_EQ(statusCode(fetchHead(url("/nothing/here"))), 404);
    EXPECT_EQ(statusCode(fetchHead(url("/fault/status/500"))), 500);
    EXPECT_EQ(statusCode(fetchHead(url("/fault/status/301"))), 301);

    const QString moved = fetchHead(url("/fault/redirect?to=http://127.0.0.1:1/far/away/"));
    EXPECT_EQ(statusCode(moved), 302);
    EXPECT_EQ(locationOf(moved), QStringLiteral("http://127.0.0.1:1/far/away/"));
    // A server that writes the field name in lower case still yields "Location: ".
    EXPECT_EQ(locationOf(fetchHead(url("/fault/lowercase-location"))),
              QStringLiteral("/gbk/book/2/"));
    EXPECT_EQ(statusCode(fetchHead(url("/fault/loop"))), 302);
}

// A header that arrived whole counts as fetched, whatever happens to the body after it; a body
// that cannot be decoded is kept as it came; raw bytes of a Location stay usable.
TEST_F(WebFetchTest, HostileAnswersKeepTheirHeaderAndBody) {
    http_set_timeouts(10000, 3000, 60000); // a stalled body must not wait for this
    const QByteArray plain = "<html>plain body</html>";
    site->setAnswers(QStringLiteral("utf8-encoding"),
                     {{plain, 200, {}, 0, {{"Content-Encoding", "utf-8"}}}});
    site->setAnswers(QStringLiteral("false-gzip"),
                     {{plain, 200, {}, 0, {{"Content-Encoding", "gzip"}}}});
    for (const QString& address :
         {site->pageUrl(QStringLiteral("utf8-encoding")),
          site->pageUrl(QStringLiteral("false-gzip")), url("/fault/stall?ms=8000")}) {
        EXPECT_EQ(statusCode(fetchHead(address)), 200) << address.toStdString();
        EXPECT_GE(connectTime(address), 0) << address.toStdString();
    }
    for (const char* page : {"utf8-encoding", "false-gzip"}) {
        EXPECT_EQ(fetchHtml(site->pageUrl(QLatin1String(page)), QString()),
                  QString::fromUtf8(plain));
        EXPECT_EQ(fetchPage(site->pageUrl(QLatin1String(page)), QString()).body,
                  QString::fromUtf8(plain));
    }
    http_set_timeouts(10000, 30000, 60000);

    // A GBK site's unescaped Location (凡人 in GBK), trailing blanks; Content-Location first.
    site->setAnswers(QStringLiteral("gbk-location"),
                     {{{}, 302, {}, 0, {{"Location", "/book/\xb7\xb2\xc8\xcb/ \t"}}}});
    site->setAnswers(
        QStringLiteral("content-location"),
        {{{}, 302, {}, 0, {{"Content-Location", "/wrong/"}, {"Location", "/right/"}}}});
    EXPECT_EQ(locationOf(fetchHead(site->pageUrl(QStringLiteral("gbk-location")))),
              QStringLiteral("/book/%B7%B2%C8%CB/"));
    EXPECT_EQ(
        locationOf(fetchPage(site->pageUrl(QStringLiteral("content-location")), QString()).header),
        QStringLiteral("/right/"));

    // Bytes libcurl refuses are percent-encoded; what is valid already stays byte for byte.
    EXPECT_EQ(fetchHtml(url("/fault/echo?q=a b\tc "), QString()),
              QStringLiteral("/fault/echo?q=a%20b%09c%20"));
    EXPECT_EQ(fetchHtml(url("/fault/echo?q=%E4%B8%AD+x&y=1"), QString()),
              QStringLiteral("/fault/echo?q=%E4%B8%AD+x&y=1"));
}

TEST_F(WebFetchTest, CharsetGbkInAnyCaseDecodesFromGbk) {
    for (const char* charset : {"gbk", "GBK", "Gbk"}) {
        const QString page = fetchHtml(url("/gbk/book/3/"), QLatin1String(charset));
        EXPECT_TRUE(page.contains(QStringLiteral("<h1>剑来</h1>"))) << charset;
    }
    for (const char* charset : {"utf-8", "gb2312", ""}) {
        const QString page = fetchHtml(url("/gbk/book/3/"), QLatin1String(charset));
        EXPECT_FALSE(page.isEmpty());
        EXPECT_FALSE(page.contains(QStringLiteral("剑来"))) << charset;
        EXPECT_TRUE(page.contains(QChar(0xFFFD))) << charset;
    }
    EXPECT_TRUE(fetchHtml(url("/utf8/book/3/"), QString()).contains(QStringLiteral("大道朝天")));
}

TEST_F(WebFetchTest, InvalidBytesBecomeReplacementCharacters) {
    const QString gbk = fetchHtml(url("/fault/bad-gbk"), QStringLiteral("gbk"));
    EXPECT_TRUE(gbk.startsWith(QStringLiteral("<p>中 "))) << gbk.toStdString();
    EXPECT_TRUE(gbk.endsWith(QStringLiteral(" 文</p>")));
    EXPECT_TRUE(gbk.contains(QChar(0xFFFD)));
    const QString utf8 = fetchHtml(url("/fault/bad-utf8"), QStringLiteral("utf-8"));
    EXPECT_TRUE(utf8.startsWith(QStringLiteral("<p>ok ")));
    EXPECT_TRUE(utf8.endsWith(QStringLiteral(" end</p>")));
    EXPECT_TRUE(utf8.contains(QChar(0xFFFD)));
    // The text ends at the first zero byte.
    EXPECT_EQ(fetchHtml(url("/fault/nul"), QString()), QStringLiteral("<p>before"));
}

TEST_F(WebFetchTest, BodiesAreCutAtTheReceiveBuffer) {
    const QString big = fetchHtml(url("/fault/big?bytes=3000000"), QString());
    EXPECT_EQ(big.size(), kReceiveBufferSize - 1);
    const QString fits = fetchHtml(url("/fault/big?bytes=1000"), QString());
    EXPECT_EQ(fits.size(), 1000);
}

TEST_F(WebFetchTest, FailuresGiveEmptyTextsAndNoExceptions) {
    EXPECT_EQ(fetchHtml(url("/fault/loop"), QString()), QString()); // more than 5 redirects
    EXPECT_EQ(fetchHtml(url("/fault/reset"), QString()), QString());
    EXPECT_EQ(fetchHtml(QStringLiteral("http://127.0.0.1:1/"), QString()), QString());
    EXPECT_EQ(fetchHead(QStringLiteral("http://127.0.0.1:1/")), QString());
    EXPECT_EQ(fetchHtml(QString(), QString()), QString());
    EXPECT_EQ(fetchHtml(QStringLiteral("::not a url::"), QString()), QString());
    EXPECT_LT(connectTime(QStringLiteral("http://127.0.0.1:1/")), 0);
    EXPECT_GE(connectTime(url("/gbk/book/1/")), 0);
}

TEST_F(WebFetchTest, OnlyHttpAndHttpsAreEverRequested) {
    QFile secret(QStringLiteral("/tmp/zvrd-webfetch-secret.txt"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();
    EXPECT_EQ(fetchHtml(QStringLiteral("file:///tmp/zvrd-webfetch-secret.txt"), QString()),
              QString());
    EXPECT_EQ(fetchHead(QStringLiteral("file:///tmp/zvrd-webfetch-secret.txt")), QString());
    EXPECT_EQ(fetchHtml(QStringLiteral("ftp://127.0.0.1/x"), QString()), QString());
    test::TempDataFolder folder;
    const QString target = folder.file(QStringLiteral("copy.txt"));
    EXPECT_NE(downloadFile(QStringLiteral("file:///tmp/zvrd-webfetch-secret.txt"), target, 1), 1);
    EXPECT_FALSE(QFile::exists(target));
    // A redirect to another scheme is refused too.
    EXPECT_EQ(fetchHtml(url("/fault/redirect?to=file:///tmp/zvrd-webfetch-secret.txt"), QString()),
              QString());
    QFile::remove(secret.fileName());
}

TEST_F(WebFetchTest, DownloadsWriteTheWholeFileOrNothing) {
    test::TempDataFolder folder;
    const QString png = folder.file(QStringLiteral("3_0.png"));
    ASSERT_EQ(downloadFile(url("/gbk/pic/1-4-0.png"), png, 1), 1);
    QFile f(png);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("\x89PNG\r\n\x1a\n"));
    EXPECT_FALSE(QFile::exists(png + QStringLiteral(".part")));

    const QString missing = folder.file(QStringLiteral("3_1.png"));
    EXPECT_NE(downloadFile(url("/gbk/pic/nothing.png"), missing, 1), 1);
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(QFile::exists(missing + QStringLiteral(".part")));
    EXPECT_NE(
        downloadFile(url("/gbk/pic/1-4-0.png"), folder.file(QStringLiteral("no/dir/x.png")), 1), 1);
    EXPECT_NE(downloadFile(url("/fault/reset"), missing, 1), 1);
    EXPECT_FALSE(QFile::exists(missing));
}

// Pictures follow redirects hop by hop as pages do: 5 hops, not 6, never to another scheme.
TEST_F(WebFetchTest, PicturesFollowRedirectsAsPagesDo) {
    test::TempDataFolder folder;
    const QString png = folder.file(QStringLiteral("p.png"));
    for (const auto& [path, written] :
         {std::pair{"/fault/hops/4?to=/gbk/pic/1-4-0.png", true},
          std::pair{"/fault/hops/5?to=/gbk/pic/1-4-0.png", false},
          std::pair{"/fault/redirect?to=file:///etc/hostname", false}}) {
        QFile::remove(png);
        const DownloadResult result = downloadFileChecked(url(path), png);
        EXPECT_EQ(result.written, written) << path;
        EXPECT_EQ(QFile::exists(png), written) << path;
        EXPECT_FALSE(QFile::exists(png + QStringLiteral(".part"))) << path;
    }
}

// A site's headers belong to its server (the same host on 80 and 443 counts as one); the
// linking page is the Referer where the site wants it, else the fixed one, else its home.
TEST(RequestHeadersTest, LinesBelongToTheirServer) {
    SiteHeaders linked;
    linked.refererFromLink = true;
    linked.cookie = QStringLiteral("a=1");
    SiteHeaders fixed;
    fixed.referer = QStringLiteral("http://b.example/");
    fixed.userAgent = QStringLiteral("UA");
    fixed.extraHeaders = QStringLiteral("X-A: 1\n\nX-B: 2");
    setSiteHeaders(
        {{QStringLiteral("a.example:80"), linked}, {QStringLiteral("b.example:8080"), fixed}});
    const struct {
        const char* url;
        const char* from;
        QList<QByteArray> lines;
    } cases[] = {
        {"http://a.example/x",
         "http://a.example/list",
         {"Referer: http://a.example/list", "Cookie: a=1"}},
        {"https://A.example/x?y", "", {"Referer: https://a.example/", "Cookie: a=1"}},
        {"http://a.example:81/x", "http://a.example/list", {}},
        {"http://b.example:8080/x",
         "http://other/",
         {"User-Agent: UA", "Referer: http://b.example/", "X-A: 1", "X-B: 2"}},
        {"http://b.example/x", "", {}},
        {"http://c.example/x", "http://a.example/", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(requestHeaderLines(QLatin1String(c.url), QLatin1String(c.from)), c.lines)
            << c.url;
    setSiteHeaders({});

    for (const auto& [lines, bad] : {std::pair{"X-A: 1\r\nX-B:2", false}, std::pair{"", false},
                                     std::pair{"no colon", true}, std::pair{"Bad Name: 1", true},
                                     std::pair{"Host: evil", true}, std::pair{"X-A: 1\x01", true}})
        EXPECT_EQ(!extraHeadersProblem(QLatin1String(lines)).isEmpty(), bad) << lines;
}

TEST_F(WebFetchTest, ASilentServerCostsNoMoreThanTheTimeOut) {
    http_set_timeouts(1000, 1000, 1000);
    EXPECT_EQ(fetchHtml(url("/fault/slow?ms=4000"), QString()), QString());
    EXPECT_EQ(fetchHead(url("/fault/slow?ms=4000")), QString());
    http_set_timeouts(10000, 30000, 60000);
    EXPECT_FALSE(fetchHtml(url("/fault/slow?ms=200"), QString()).isEmpty());
}

TEST_F(WebFetchTest, ManyThreadsFetchAtOnce) {
    const QString expected = fetchHtml(url("/utf8/book/2/index.html"), QString());
    ASSERT_FALSE(expected.isEmpty());
    std::vector<QString> results(16);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back(
            [&, i] { results[i] = fetchHtml(url("/utf8/book/2/index.html"), QString()); });
    for (auto& t : threads)
        t.join();
    for (const QString& r : results)
        EXPECT_EQ(r, expected);
}

} // namespace
