// net: the six fetch functions, the only way to the web for the rest of the program. They never
// throw: failure is an empty text, -1, a result other than 1 or a negative time.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace zvrd {

// The receive buffer of fetchHtml and fetchHead; a longer body or header is cut.
constexpr int kReceiveBufferSize = 1024000;

// The page body, decoded from GBK when charset is "gbk" in any letter case, else from UTF-8;
// invalid bytes become U+FFFD. Empty when the request failed.
QString fetchHtml(const QString& url, const QString& charset);
// The response header of this very request (redirects not followed); empty on failure.
QString fetchHead(const QString& url);
// The three characters at positions 10 to 12 as a number, -1 when they are none.
int32_t statusCode(const QString& header);
// The value of the first "Location" field (case-sensitive), up to the next CR LF.
QString locationOf(const QString& header);
// 1 when the file was written.
int32_t downloadFile(const QString& url, const QString& fileName, int32_t flag);
// Seconds until the first byte of the answer; negative on failure.
double connectTime(const QString& url);

// Decoding helpers, exposed for the search-address encoder and the tests.
QString decodeGbk(const QByteArray& bytes);
QByteArray encodeGbk(const QString& text);

} // namespace zvrd
