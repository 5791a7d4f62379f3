// net: the six fetch functions, the only way to the web for the rest of the program; pages and
// files carry their site's own request headers (RequestHeaders.h). They never
// throw: failure is an empty text, -1, a result other than 1 or a negative time.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace zvrd {

// The receive buffer of fetchHtml and fetchHead; a longer body or header is cut.
constexpr int kReceiveBufferSize = 1024000;
// The largest file a download writes.
constexpr int64_t kMaxDownloadBytes = 64LL * 1024 * 1024;

// The page body, decoded from GBK when charset is "gbk" in any letter case, else from UTF-8;
// invalid bytes become U+FFFD. Empty when the request failed.
QString fetchHtml(const QString& url, const QString& charset);
// The response header of this very request (redirects not followed); empty on failure.
QString fetchHead(const QString& url);
// The three characters at positions 10 to 12 as a number, -1 when they are none.
int32_t statusCode(const QString& header);
// The value of the first "Location" field (any letter case, at the start of a line: never
// "Content-Location"), without the blanks after the colon, up to the line's end.
QString locationOf(const QString& header);
// 1 when the file was written.
int32_t downloadFile(const QString& url, const QString& fileName, int32_t flag);
// Seconds until the first byte of the answer; negative on failure.
double connectTime(const QString& url);

// One page from one GET (redirects not followed): the status check and the page together.
struct FetchedPage {
    int32_t status = -1; // the answer's status; -1 when none arrived (network error, time-out)
    QString header;      // as fetchHead gives it
    QString body;        // decoded as fetchHtml decodes it
};
FetchedPage fetchPage(const QString& url, const QString& charset);
// The same, with the body as the bytes that came (for a caller that may not need it decoded).
struct FetchedBytes {
    int32_t status = -1;
    QString header;
    QByteArray body;
};
// linkedFrom: the page whose link led to url (sent as Referer where the site's headers say so).
FetchedBytes fetchPageBytes(const QString& url, const QString& linkedFrom = QString());
// A page as a browser would get it: redirects followed (at most kMaxPageRedirects hops, http
// and https only, each hop through the limiter of its own site). url is the address that
// answered last, the one the page's relative links belong to. A redirect past the last hop, or
// to another scheme, is the answer (its 3xx status), never followed.
constexpr int kMaxPageRedirects = 5;
struct FollowedPage {
    int32_t status = -1;
    QString url;
    QByteArray body;
};
FollowedPage fetchFollowing(const QString& url, const QString& linkedFrom = QString());
// A body decoded as fetchHtml decodes it: GBK when charset says so, else UTF-8.
QString decodeBody(const QByteArray& bytes, const QString& charset);

// A file download with its outcome.
struct DownloadResult {
    bool written = false;
    int32_t status = -1; // the answer's status; -1 when the transfer failed or timed out
};
// At most 64 MiB of decoded bytes are written; a larger answer is not kept. Redirects are
// followed as fetchFollowing follows them; a redirect left over is the result (not written).
DownloadResult downloadFileChecked(const QString& url, const QString& fileName,
                                   int64_t maxBytes = kMaxDownloadBytes,
                                   const QString& linkedFrom = QString());

// Whether another try may help: no answer (network error, time-out), 429 or a 5xx status.
bool worthRetrying(int32_t status);

// Decoding helpers, exposed for the search-address encoder and the tests.
QString decodeGbk(const QByteArray& bytes);
// Each character GBK cannot hold becomes one "?".
QByteArray encodeGbk(const QString& text);

} // namespace zvrd
