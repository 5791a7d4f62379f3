// Address combination: a page's address and a link found on it. The result is empty or an
// absolute http(s) address of at most 2047 characters with a host and no blank or control
// character; the combiner made once per page says the same as combineUrl.
#include "FuzzSupport.h"
#include "rules/RuleSet.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [base, link] = zvrd::fuzz::cut(zvrd::fuzz::bytes(data, size));
    const QString page = QString::fromUtf8(base);
    const QString href = QString::fromUtf8(link);
    const QString combined = zvrd::combineUrl(page, href);
    FUZZ_CHECK(combined == zvrd::UrlCombiner(page).combine(href), "one combiner per page agrees");
    if (combined.isEmpty())
        return 0;
    FUZZ_CHECK(combined.size() <= 2047, "at most 2047 characters");
    const QUrl url(combined);
    FUZZ_CHECK(url.isValid(), "a valid address");
    // Qt's strict reading of the host: what a name server takes.
    QUrl strict;
    strict.setHost(url.host(QUrl::FullyEncoded), QUrl::StrictMode);
    FUZZ_CHECK(strict.isValid() && !strict.host().isEmpty(), "a host as it must be");
    FUZZ_CHECK(url.port() >= -1 && url.port() <= 65535, "a port that is one");
    const QString scheme = url.scheme().toLower();
    FUZZ_CHECK(scheme == QLatin1String("http") || scheme == QLatin1String("https"), "http(s)");
    FUZZ_CHECK(!url.host().isEmpty(), "with a host");
    for (const QChar c : combined)
        FUZZ_CHECK(c.unicode() > 0x20 && c.unicode() != 0x7f, "no blank or control character");
    return 0;
}
