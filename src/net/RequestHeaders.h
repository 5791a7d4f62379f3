// net: what each site is sent besides the request itself (User-Agent, Referer, further header
// lines, a cookie), by server; every page and picture fetch asks here for its own hop, so a
// site's headers never reach another server, also across redirects.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

namespace zvrd {

struct SiteHeaders {
    QString userAgent;            // empty: the program's own
    QString referer;              // a fixed address; empty: none
    bool refererFromLink = false; // send the page that linked here (the fixed one, else the
                                  // site's home, when no page is known)
    QString extraHeaders;         // "Name: value" lines
    QString cookie;               // the reader's own, pasted from a browser
    bool isEmpty() const {
        return userAgent.isEmpty() && referer.isEmpty() && !refererFromLink &&
               extraHeaders.trimmed().isEmpty() && cookie.isEmpty();
    }
};

// The server a site's headers are kept under: "host:port" as its limiter names it. A site
// reached on port 80 or 443 is the same site on the other one (http redirected to https).
QString headerSiteOf(const QString& url);
// Replaces every site's headers (keyed by headerSiteOf); the process's fetches follow at once.
void setSiteHeaders(const QHash<QString, SiteHeaders>& sites);
// The header lines a request to url carries ("Name: value", without line ends); linkedFrom is
// the page whose link led there, empty when none is known.
QList<QByteArray> requestHeaderLines(const QString& url, const QString& linkedFrom);

// What is wrong with header lines a rule gives, naming the first bad line; empty when nothing.
// A line is "Name: value" with a token name; blank lines are skipped; a value never holds a
// control character; Host, Content-Length, Transfer-Encoding and Connection belong to the
// request itself.
QString extraHeadersProblem(const QString& lines);
// The same for a single value (User-Agent, cookie): no line break or other control character.
bool isHeaderValue(const QString& value);

} // namespace zvrd
