#include "net/WebFetch.h"

#include "net/HttpLibrary.h"
#include "net/RequestHeaders.h"
#include "net/SiteLimiter.h"

#include <QSysInfo>
#include <QUrl>

#include <iconv.h>

#include <cstring>

#include <memory>
#include <vector>

namespace zvrd {
namespace {

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle openIconv(const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return IconvHandle(cd);
}

// The length of the UTF-8 sequence that starts with byte lead (1 for a stray byte).
size_t utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

// Converts with iconv; each unit that cannot be converted becomes `replacement` in the output,
// so a damaged page still yields its readable parts. A unit is one byte, or with utf8Input one
// whole UTF-8 character.
QByteArray convert(const char* to, const char* from, const QByteArray& input,
                   const QByteArray& replacement, bool utf8Input) {
    IconvHandle cd = openIconv(to, from);
    if (!cd)
        return QByteArray();
    QByteArray out;
    out.reserve(input.size() * 3 / 2 + 16);
    char* in = const_cast<char*>(input.constData());
    size_t inLeft = static_cast<size_t>(input.size());
    std::vector<char> chunk(16384);
    while (inLeft > 0) {
        char* outPtr = chunk.data();
        size_t outLeft = chunk.size();
        const size_t rc = iconv(static_cast<iconv_t>(cd.get()), &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk.data(), static_cast<qsizetype>(chunk.size() - outLeft));
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: replace the offending unit and go on after it.
        out.append(replacement);
        const size_t unit =
            utf8Input ? utf8SequenceLength(static_cast<unsigned char>(*in)) : size_t{1};
        const size_t skip = std::min(inLeft, unit);
        in += skip;
        inLeft -= skip;
        iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

// A buffer the library fills, cut at the zero byte it ends with; not copied again. Left
// uninitialised: zeroing a megabyte for every page was most of the CPU a fetch cost.
QByteArray receiveBuffer() {
    return QByteArray(kReceiveBufferSize, Qt::Uninitialized);
}

void cutAtEnd(QByteArray& buffer) {
    buffer.truncate(static_cast<qsizetype>(std::strlen(buffer.constData())));
}

QByteArray fetchInto(int (*fetch)(const char*, char*, int), const QString& url, bool* ok) {
    QByteArray buffer = receiveBuffer();
    const QByteArray address = url.toUtf8();
    *ok = fetch(address.constData(), buffer.data(), kReceiveBufferSize) == 1;
    if (!*ok)
        return QByteArray();
    cutAtEnd(buffer);
    return buffer;
}

// The value of a header field, its name compared without regard to case; empty when missing.
QString fieldOf(const QString& header, const char* name) {
    const QString wanted = QLatin1Char('\n') + QLatin1String(name) + QLatin1Char(':');
    const qsizetype at = header.indexOf(wanted, 0, Qt::CaseInsensitive);
    if (at < 0)
        return QString();
    const qsizetype start = at + wanted.size();
    const qsizetype end = header.indexOf(QLatin1Char('\r'), start);
    return (end < 0 ? header.mid(start) : header.mid(start, end - start)).trimmed();
}

FetchedBytes fetchPageBytesNow(const QString& url, const QString& linkedFrom);

// A site's header lines as the library takes them: pointers into lines, ending in a null one.
std::vector<const char*> lineArray(const QList<QByteArray>& lines) {
    std::vector<const char*> array;
    array.reserve(static_cast<size_t>(lines.size()) + 1);
    for (const QByteArray& line : lines)
        array.push_back(line.constData());
    array.push_back(nullptr);
    return array;
}

// Where a redirect answer points, resolved against the address that gave it; empty when it may
// not be followed (no host, or a scheme other than http and https).
QString redirectTarget(const QString& from, const QString& location) {
    const QUrl next = QUrl(from).resolved(QUrl(location.trimmed()));
    const QString scheme = next.scheme().toLower();
    if (!next.isValid() || next.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QString();
    return next.toString(QUrl::FullyEncoded);
}

} // namespace

QString decodeGbk(const QByteArray& bytes) {
    // Straight into the string's own UTF-16: no UTF-8 copy between, one allocation. A GBK byte
    // or byte pair is one UTF-16 unit, so the string seldom has to grow.
    IconvHandle cd =
        openIconv(QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE", "GBK");
    if (!cd)
        return QString();
    QString out(bytes.size() + 16, Qt::Uninitialized);
    size_t used = 0; // bytes of out written
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    while (inLeft > 0) {
        if (static_cast<size_t>(out.size()) * 2 - used < 8)
            out.resize(out.size() * 2);
        char* base = reinterpret_cast<char*>(out.data());
        char* outPtr = base + used;
        size_t outLeft = static_cast<size_t>(out.size()) * 2 - used;
        const size_t rc = iconv(static_cast<iconv_t>(cd.get()), &in, &inLeft, &outPtr, &outLeft);
        used = static_cast<size_t>(outPtr - base);
        if (rc != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: the byte becomes U+FFFD and decoding goes on after it.
        out[static_cast<qsizetype>(used / 2)] = QChar::ReplacementCharacter;
        used += 2;
        ++in;
        --inLeft;
        iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
    }
    out.truncate(static_cast<qsizetype>(used / 2));
    return out;
}

QByteArray encodeGbk(const QString& text) {
    return convert("GBK", "UTF-8", text.toUtf8(), QByteArray("?"), true);
}

QString decodeBody(const QByteArray& bytes, const QString& charset) {
    if (charset.toLower() == QLatin1String("gbk"))
        return decodeGbk(bytes);
    return QString::fromUtf8(bytes);
}

QString fetchHtml(const QString& url, const QString& charset) {
    SiteLimiter::Ticket ticket(SiteLimiter::of(url));
    bool ok = false;
    const QByteArray body = fetchInto(get_html, url, &ok);
    ticket.answered(ok ? 200 : -1);
    return body.isEmpty() ? QString() : decodeBody(body, charset);
}

QString fetchHead(const QString& url) {
    SiteLimiter::Ticket ticket(SiteLimiter::of(url));
    bool ok = false;
    const QString header = QString::fromUtf8(fetchInto(get_head, url, &ok));
    ticket.answered(ok ? statusCode(header) : -1, fieldOf(header, "retry-after"));
    return header;
}

int32_t statusCode(const QString& header) {
    // Three digits: not "-3 ", " 2" or "2\r\n", which a number parser would take.
    if (header.size() < 12)
        return -1;
    int32_t code = 0;
    for (qsizetype i = 9; i < 12; ++i) {
        const char16_t c = header[i].unicode();
        if (c < '0' || c > '9')
            return -1;
        code = code * 10 + (c - '0');
    }
    return code;
}

QString locationOf(const QString& header) {
    // The field named "Location" at the start of a line, in any letter case (field names are
    // case-insensitive, and some servers send them in lower case): "Content-Location" is
    // another field, wherever it stands. Its value ends at the line's end, CR LF or a bare LF.
    static const QString field = QStringLiteral("location:");
    for (qsizetype at = 0; at >= 0 && at < header.size();) {
        if (QStringView(header).mid(at, field.size()).compare(field, Qt::CaseInsensitive) == 0) {
            qsizetype start = at + field.size();
            while (start < header.size() &&
                   (header[start] == QLatin1Char(' ') || header[start] == QLatin1Char('\t')))
                ++start;
            qsizetype end = start;
            while (end < header.size() && header[end] != QLatin1Char('\r') &&
                   header[end] != QLatin1Char('\n'))
                ++end;
            return header.mid(start, end - start);
        }
        const qsizetype next = header.indexOf(QLatin1Char('\n'), at);
        at = next < 0 ? -1 : next + 1;
    }
    return QString();
}

FetchedBytes fetchPageBytes(const QString& url, const QString& linkedFrom) {
    SiteLimiter::Ticket ticket(SiteLimiter::of(url));
    FetchedBytes page = fetchPageBytesNow(url, linkedFrom);
    ticket.answered(page.status, fieldOf(page.header, "retry-after"));
    return page;
}

namespace {

FetchedBytes fetchPageBytesNow(const QString& url, const QString& linkedFrom) {
    QByteArray header = receiveBuffer();
    QByteArray body = receiveBuffer();
    const QByteArray address = url.toUtf8();
    const QList<QByteArray> lines = requestHeaderLines(url, linkedFrom);
    FetchedBytes page;
    if (get_page(address.constData(), header.data(), kReceiveBufferSize, body.data(),
                 kReceiveBufferSize, lineArray(lines).data()) != 1)
        return page;
    page.header = QString::fromUtf8(header.constData());
    page.status = statusCode(page.header);
    cutAtEnd(body);
    page.body = std::move(body);
    return page;
}

} // namespace

FollowedPage fetchFollowing(const QString& url, const QString& linkedFrom) {
    FollowedPage page;
    page.url = url;
    for (int hop = 0;; ++hop) {
        // Every hop carries the page that linked to the first, as a browser's does.
        FetchedBytes answer = fetchPageBytes(page.url, linkedFrom);
        page.status = answer.status;
        page.body = std::move(answer.body);
        if (page.status < 300 || page.status > 399 || hop == kMaxPageRedirects)
            return page;
        const QString next = redirectTarget(page.url, locationOf(answer.header));
        if (next.isEmpty())
            return page;
        page.url = next;
    }
}

FetchedPage fetchPage(const QString& url, const QString& charset) {
    FetchedBytes bytes = fetchPageBytes(url, QString());
    FetchedPage page;
    page.status = bytes.status;
    page.header = std::move(bytes.header);
    page.body = decodeBody(bytes.body, charset);
    return page;
}

DownloadResult downloadFileChecked(const QString& url, const QString& fileName, int64_t maxBytes,
                                   const QString& linkedFrom) {
    // Redirects are followed here, hop by hop: each through its own site's limiter and with
    // only that site's headers.
    DownloadResult result;
    QString address = url;
    const QByteArray file = fileName.toUtf8();
    for (int hop = 0;; ++hop) {
        SiteLimiter::Ticket ticket(SiteLimiter::of(address));
        const QList<QByteArray> lines = requestHeaderLines(address, linkedFrom);
        long status = -1;
        QByteArray location(4096, '\0');
        result.written =
            download_file_once(address.toUtf8().constData(), file.constData(), maxBytes,
                               lineArray(lines).data(), &status, location.data(),
                               static_cast<int>(location.size())) == 1;
        result.status = static_cast<int32_t>(status);
        ticket.answered(result.status);
        if (result.status < 300 || result.status > 399 || hop == kMaxPageRedirects)
            return result;
        cutAtEnd(location);
        const QString next = redirectTarget(address, QString::fromUtf8(location));
        if (next.isEmpty())
            return result;
        address = next;
    }
}

bool worthRetrying(int32_t status) {
    return status < 0 || status == 429 || (status >= 500 && status <= 599);
}

int32_t downloadFile(const QString& url, const QString& fileName, int32_t flag) {
    SiteLimiter::Ticket ticket(SiteLimiter::of(url));
    const int32_t written =
        download_file(url.toUtf8().constData(), fileName.toUtf8().constData(), flag);
    ticket.answered(written == 1 ? 200 : -1);
    return written;
}

double connectTime(const QString& url) {
    return get_time_starttransfer(url.toUtf8().constData());
}

} // namespace zvrd
