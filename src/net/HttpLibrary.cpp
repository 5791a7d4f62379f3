#include "net/HttpLibrary.h"

#include <curl/curl.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace zvrd {
namespace {

std::atomic<long> gConnectTimeoutMs{10000};
std::atomic<long> gRequestTimeoutMs{30000};
std::atomic<long> gDownloadTimeoutMs{60000};
constexpr long kMaxRedirects = 5;
// A picture larger than this is refused rather than filling the disk.
constexpr long long kMaxDownloadBytes = 64LL * 1024 * 1024;
constexpr const char* kUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/120.0 Safari/537.36";

struct CurlCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

struct SlistCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistCleanup>;

// The request's own header lines for the handle; the list must live until the transfer ends.
// A line naming a header replaces the one libcurl would send (User-Agent among them).
HeaderList setHeaderLines(CURL* curl, const char* const* lines) {
    HeaderList list;
    for (; lines && *lines; ++lines) {
        curl_slist* longer = curl_slist_append(list.get(), *lines);
        if (!longer)
            break;
        (void)list.release();
        list.reset(longer);
    }
    if (list)
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list.get());
    return list;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

void appendPercent(std::string& out, unsigned char byte) {
    static const char* hex = "0123456789ABCDEF";
    out += '%';
    out += hex[byte >> 4];
    out += hex[byte & 0x0F];
}

// The address with exactly the bytes libcurl refuses in a URL (blanks, tabs and other control
// characters) percent-encoded; everything else stays byte for byte.
std::string requestableUrl(const char* url) {
    std::string out;
    for (const char* p = url; *p; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte <= 0x20 || byte == 0x7F)
            appendPercent(out, byte);
        else
            out += *p;
    }
    return out;
}

CurlHandle newHandle(const char* url, long timeoutMs, bool followRedirects) {
    if (!url || !*url)
        return nullptr;
    CurlHandle curl(curl_easy_init());
    if (!curl)
        return nullptr;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, requestableUrl(url).c_str()); // libcurl copies it
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, gConnectTimeoutMs.load());
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    return curl;
}

// Collects a body into a fixed buffer, keeping room for the closing zero byte; what does not
// fit is cut and the transfer stopped.
struct BufferSink {
    char* buffer;
    size_t capacity; // bytes available for the body
    size_t used = 0;
    bool cut = false;
};

size_t writeToBuffer(char* data, size_t size, size_t count, void* userp) {
    auto* sink = static_cast<BufferSink*>(userp);
    const size_t bytes = size * count;
    const size_t room = sink->capacity - sink->used;
    const size_t take = bytes < room ? bytes : room;
    std::memcpy(sink->buffer + sink->used, data, take);
    sink->used += take;
    if (take < bytes) {
        sink->cut = true;
        return 0; // stops the transfer: the rest would be cut anyway
    }
    return bytes;
}

size_t dropBody(char*, size_t, size_t, void*) {
    return 0; // the headers are in once the body starts: stop here
}

// Keeps the header block of the last response (a "100 Continue" block is replaced by the next).
struct HeaderSink {
    std::string statusLine;
    std::string fields;
    bool complete = false;
    // Stop the transfer once a final header block is in: the body does not matter, so one that
    // stalls or cannot be decoded must not lose the header.
    bool stopAtHeader = false;
    // The same for a redirect only: its body is never read.
    bool stopAtRedirect = false;
    bool stopped = false;
};

bool isRedirect(const std::string& statusLine) {
    return statusLine.size() > 9 && statusLine[9] == '3';
}

std::string trimLine(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

bool equalsNoCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

size_t collectHeader(char* data, size_t size, size_t count, void* userp) {
    auto* sink = static_cast<HeaderSink*>(userp);
    const size_t bytes = size * count;
    std::string line = trimLine(std::string(data, bytes));
    if (line.rfind("HTTP/", 0) == 0) {
        sink->statusLine = line;
        sink->fields.clear();
        sink->complete = false;
    } else if (line.empty()) {
        sink->complete = !sink->statusLine.empty();
        // An interim block (100 Continue) is followed by the real one.
        const bool interim = sink->statusLine.size() > 9 && sink->statusLine[9] == '1';
        if (sink->complete && !interim &&
            (sink->stopAtHeader || (sink->stopAtRedirect && isRedirect(sink->statusLine)))) {
            sink->stopped = true;
            return 0;
        }
    } else if (!sink->statusLine.empty()) {
        const size_t colon = line.find(':');
        std::string name = colon == std::string::npos ? line : line.substr(0, colon);
        if (colon != std::string::npos && equalsNoCase(name, "location")) {
            size_t start = colon + 1;
            while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
                ++start;
            size_t end = line.size();
            while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t'))
                --end;
            // Raw bytes beyond ASCII (a GBK site's unescaped address) are kept as
            // percent-encoded bytes, so the address still leads where the site meant.
            const std::string raw = line;
            line = "Location: ";
            for (size_t i = start; i < end; ++i) {
                const auto byte = static_cast<unsigned char>(raw[i]);
                if (byte >= 0x80)
                    appendPercent(line, byte);
                else
                    line += static_cast<char>(byte);
            }
        }
        sink->fields += line + "\r\n";
    }
    return bytes;
}

// The status line always reads "HTTP/1.x NNN reason", whatever the server wrote.
std::string normalisedStatusLine(const std::string& line, long code) {
    const bool wellFormed = line.size() >= 12 && line.compare(0, 7, "HTTP/1.") == 0 &&
                            line[8] == ' ' && std::isdigit(static_cast<unsigned char>(line[9])) &&
                            std::isdigit(static_cast<unsigned char>(line[10])) &&
                            std::isdigit(static_cast<unsigned char>(line[11])) &&
                            (line.size() == 12 || line[12] == ' ');
    if (wellFormed)
        return line;
    std::string reason;
    const size_t firstSpace = line.find(' ');
    if (firstSpace != std::string::npos) {
        const size_t secondSpace = line.find(' ', firstSpace + 1);
        if (secondSpace != std::string::npos)
            reason = line.substr(secondSpace + 1);
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "HTTP/1.1 %03ld", code);
    return reason.empty() ? std::string(buf) : std::string(buf) + " " + reason;
}

// The header block handed back: the normalised status line, the fields, an empty line.
// Performs a request that ends once its whole header has arrived. A header that arrived whole
// counts, whatever happens to the body afterwards.
bool performUntilHeader(CURL* curl, HeaderSink& headers) {
    headers.stopAtHeader = true;
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, dropBody);
    const CURLcode rc = curl_easy_perform(curl);
    return headers.complete && (rc == CURLE_OK || rc == CURLE_WRITE_ERROR);
}

std::string headerText(CURL* curl, const HeaderSink& headers) {
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    return normalisedStatusLine(headers.statusLine, code) + "\r\n" + headers.fields + "\r\n";
}

void copyToBuffer(const std::string& text, char* buffer, int size) {
    const size_t room = static_cast<size_t>(size) - 1;
    const size_t n = text.size() < room ? text.size() : room;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// Removes the temporary file unless the download was committed.
struct TempFileGuard {
    std::string path;
    bool committed = false;
    ~TempFileGuard() {
        if (!committed)
            std::remove(path.c_str());
    }
};

} // namespace

void http_global_init() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

void http_global_cleanup() {
    curl_global_cleanup();
}

void http_set_timeouts(long connectMs, long requestMs, long downloadMs) {
    gConnectTimeoutMs = connectMs;
    gRequestTimeoutMs = requestMs;
    gDownloadTimeoutMs = downloadMs;
}

namespace {

// Runs the transfer; a body that cannot be decoded (a false or unknown Content-Encoding) is
// fetched once more as it is, as a browser would show it.
CURLcode performKeepingUndecodable(CURL* curl, BufferSink& sink, HeaderSink* headers) {
    CURLcode rc = curl_easy_perform(curl);
    if (rc == CURLE_BAD_CONTENT_ENCODING) {
        sink.used = 0;
        sink.cut = false;
        if (headers)
            *headers = HeaderSink();
        curl_easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
        rc = curl_easy_perform(curl);
    }
    return rc;
}

} // namespace

int get_html(const char* url, char* buffer, int size) {
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = '\0';
    CurlHandle curl = newHandle(url, gRequestTimeoutMs.load(), true);
    if (!curl)
        return 0;
    BufferSink sink{buffer, static_cast<size_t>(size) - 1};
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, writeToBuffer);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
    const CURLcode rc = performKeepingUndecodable(curl.get(), sink, nullptr);
    buffer[sink.used] = '\0';
    if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && sink.cut))
        return 1;
    buffer[0] = '\0';
    return 0;
}

int get_head(const char* url, char* buffer, int size) {
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = '\0';
    CurlHandle curl = newHandle(url, gRequestTimeoutMs.load(), false);
    if (!curl)
        return 0;
    HeaderSink headers;
    if (!performUntilHeader(curl.get(), headers))
        return 0;
    copyToBuffer(headerText(curl.get(), headers), buffer, size);
    return 1;
}

int get_page(const char* url, char* header, int headerSize, char* body, int bodySize,
             const char* const* headerLines) {
    if (!header || headerSize <= 0 || !body || bodySize <= 0)
        return 0;
    header[0] = '\0';
    body[0] = '\0';
    CurlHandle curl = newHandle(url, gRequestTimeoutMs.load(), false);
    if (!curl)
        return 0;
    const HeaderList lines = setHeaderLines(curl.get(), headerLines);
    HeaderSink headers;
    // A redirect's header that arrived whole is the answer, whatever its body does.
    headers.stopAtRedirect = true;
    BufferSink sink{body, static_cast<size_t>(bodySize) - 1};
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &headers);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, writeToBuffer);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
    const CURLcode rc = performKeepingUndecodable(curl.get(), sink, &headers);
    body[sink.used] = '\0';
    const bool stopped = rc == CURLE_WRITE_ERROR && (sink.cut || headers.stopped);
    if ((rc != CURLE_OK && !stopped) || !headers.complete) {
        body[0] = '\0';
        return 0;
    }
    copyToBuffer(headerText(curl.get(), headers), header, headerSize);
    return 1;
}

namespace {

// Writes the decoded body into a file, stopping past the byte limit.
struct FileSink {
    std::FILE* file;
    long long limit;
    long long written = 0;
    bool tooLarge = false;
};

size_t writeToFile(char* data, size_t size, size_t count, void* userp) {
    auto* sink = static_cast<FileSink*>(userp);
    const size_t bytes = size * count;
    if (sink->written + static_cast<long long>(bytes) > sink->limit) {
        sink->tooLarge = true;
        return 0; // stops the transfer
    }
    sink->written += static_cast<long long>(bytes);
    return std::fwrite(data, 1, bytes, sink->file);
}

// Writes the answer of a prepared handle into fileName, via a temporary name renamed once the
// whole 2xx answer is in. With headers, a redirect the header sink stopped is not written: its
// status is the result's.
int downloadInto(CURL* curl, const char* fileName, long long maxBytes, long* status,
                 HeaderSink* headers) {
    TempFileGuard temp{std::string(fileName) + ".part"};
    {
        FileHandle file(std::fopen(temp.path.c_str(), "wb"));
        if (!file)
            return 0;
        FileSink sink{file.get(), maxBytes};
        if (headers) {
            curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectHeader);
            curl_easy_setopt(curl, CURLOPT_HEADERDATA, headers);
        }
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToFile);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
        const CURLcode rc = curl_easy_perform(curl);
        long code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        if (headers && headers->stopped) {
            if (status)
                *status = code;
            return 0;
        }
        if (status && (rc == CURLE_OK || sink.tooLarge || code >= 400))
            *status = code > 0 ? code : -1;
        if (rc != CURLE_OK || code < 200 || code > 299)
            return 0;
        if (std::fflush(file.get()) != 0)
            return 0;
    }
    if (std::rename(temp.path.c_str(), fileName) != 0)
        return 0;
    temp.committed = true;
    return 1;
}

} // namespace

int download_file_status(const char* url, const char* fileName, long long maxBytes, long* status) {
    if (status)
        *status = -1;
    if (!fileName || !*fileName)
        return 0;
    CurlHandle curl = newHandle(url, gDownloadTimeoutMs.load(), true);
    if (!curl)
        return 0;
    return downloadInto(curl.get(), fileName, maxBytes, status, nullptr);
}

int download_file_once(const char* url, const char* fileName, long long maxBytes,
                       const char* const* headerLines, long* status, char* location,
                       int locationSize) {
    if (status)
        *status = -1;
    if (location && locationSize > 0)
        location[0] = '\0';
    if (!fileName || !*fileName)
        return 0;
    CurlHandle curl = newHandle(url, gDownloadTimeoutMs.load(), false);
    if (!curl)
        return 0;
    const HeaderList lines = setHeaderLines(curl.get(), headerLines);
    HeaderSink headers;
    headers.stopAtRedirect = true; // a redirect's body is not the file
    const int written = downloadInto(curl.get(), fileName, maxBytes, status, &headers);
    // The field as collectHeader spelled it; the caller resolves it.
    const size_t at = ("\r\n" + headers.fields).find("\r\nLocation: ");
    if (headers.stopped && location && locationSize > 0 && at != std::string::npos) {
        const size_t begin = at + 10;
        copyToBuffer(headers.fields.substr(begin, headers.fields.find("\r\n", begin) - begin),
                     location, locationSize);
    }
    return written;
}

int download_file(const char* url, const char* fileName, int /*flag*/) {
    return download_file_status(url, fileName, kMaxDownloadBytes, nullptr);
}

double get_time_starttransfer(const char* url) {
    CurlHandle curl = newHandle(url, gRequestTimeoutMs.load(), false);
    if (!curl)
        return -1;
    HeaderSink headers;
    if (!performUntilHeader(curl.get(), headers))
        return -1;
    curl_off_t micros = 0;
    if (curl_easy_getinfo(curl.get(), CURLINFO_STARTTRANSFER_TIME_T, &micros) != CURLE_OK)
        return -1;
    return static_cast<double>(micros) / 1e6;
}

} // namespace zvrd
