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

// GET following up to 5 redirects into fileName (via a temporary name, renamed on success).
// Returns 1 when a 2xx answer was written completely.
int download_file(const char* url, const char* fileName, int flag);

// Time-outs in milliseconds (connect, whole request, whole download); tests shorten them.
void http_set_timeouts(long connectMs, long requestMs, long downloadMs);

// Seconds from the start of the request to the first byte of the answer; negative on failure.
double get_time_starttransfer(const char* url);

} // namespace zvrd
