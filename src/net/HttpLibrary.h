// net: the HTTP library over libcurl (the only code that talks to the network) and the six fetch
// functions above it; depends on libcurl, iconv and Qt Core only.
#pragma once

namespace zvrd {

// Once per process, before any thread exists / once at the very end.
void http_global_init();
void http_global_cleanup();

// Only http and https are ever requested, also on redirects; every call has its own curl handle.
// Time-outs: connect 10 s, whole request 30 s (60 s for download_file).

// GET following up to 5 redirects; the body (cut at size - 1 bytes) and a zero byte go into
// buffer. Returns 1 on success.
int get_html(const char* url, char* buffer, int size);

// GET without following redirects; the body is dropped once the headers are in. The buffer gets
// the header text: "HTTP/1.x NNN reason" first, CR LF line ends, "Location: " spelled so.
// Returns 1 on success.
int get_head(const char* url, char* buffer, int size);

// GET without following redirects, in one request: the header text (as get_head writes it) into
// header and the body (cut at bodySize - 1 bytes, with a zero byte) into body. Returns 1 when an
// answer arrived, whatever its status; 0 on a network error or a time-out. The body of a
// redirect (3xx) is not read: its whole header is the answer. headerLines, when given, is a list
// of "Name: value" lines ending in a null pointer, sent with the request.
int get_page(const char* url, char* header, int headerSize, char* body, int bodySize,
             const char* const* headerLines = nullptr);

// GET following up to 5 redirects into fileName (via a temporary name, renamed on success).
// Returns 1 when a 2xx answer was written completely.
int download_file(const char* url, const char* fileName, int flag);

// download_file that also tells the answer's status in *status: the HTTP status of the last
// answer, or -1 when the transfer failed on the network or timed out. At most maxBytes decoded
// bytes are written, however the answer is encoded or what length it announces; past that the
// transfer stops, nothing is kept and the result is 0.
int download_file_status(const char* url, const char* fileName, long long maxBytes, long* status);

// download_file_status for one hop: redirects are not followed. A redirect is not written: the
// result is 0, *status its 3xx and location (when given) its Location field as it came.
// headerLines as for get_page.
int download_file_once(const char* url, const char* fileName, long long maxBytes,
                       const char* const* headerLines, long* status, char* location,
                       int locationSize);

// Time-outs in milliseconds (connect, whole request, whole download); tests shorten them.
void http_set_timeouts(long connectMs, long requestMs, long downloadMs);

// Seconds from the start of the request to the first byte of the answer; negative on failure.
double get_time_starttransfer(const char* url);

} // namespace zvrd
