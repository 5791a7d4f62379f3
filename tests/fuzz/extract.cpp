// A page as a site sends it through the four extractors with each shipped rule (the first byte
// chooses the rule and the page kind): within the page's match budget, without reading past the
// page (AddressSanitizer), lists of equal length, every address absolute http(s) or empty.
#include "FuzzSupport.h"
#include "net/WebFetch.h"
#include "rules/Extractors.h"
#include "rules/PatternNotation.h"

#include <QUrl>

namespace {

bool absoluteOrEmpty(const QString& address) {
    if (address.isEmpty())
        return true;
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const zvrd::SiteRuleList& rules = zvrd::fuzz::shippedRules();
    if (size < 1 || rules.isEmpty())
        return 0;
    const zvrd::SiteRule& rule = rules[(data[0] >> 2) % rules.size()];
    const QString page = zvrd::decodeBody(zvrd::fuzz::bytes(data + 1, size - 1), rule.charset);
    const QString url = rule.siteUrl + QStringLiteral("book/1/");
    try {
        switch (data[0] & 3) {
        case 0: {
            const zvrd::SearchResults hits = zvrd::extractSearchPage(page, url, rule);
            FUZZ_CHECK(hits.infoPageUrls.size() == hits.count && hits.names.size() == hits.count &&
                           hits.authors.size() == hits.count &&
                           hits.latestChapters.size() == hits.count,
                       "the four lists and the count agree");
            for (const QString& hit : hits.infoPageUrls)
                FUZZ_CHECK(absoluteOrEmpty(hit), "search hits point at http(s)");
            break;
        }
        case 1: {
            const zvrd::NovelInfo info = zvrd::extractInfoPage(page, url, rule);
            FUZZ_CHECK(absoluteOrEmpty(info.directoryPageUrl), "the list's address is http(s)");
            break;
        }
        case 2: {
            const zvrd::ChapterList list = zvrd::extractDirectoryPage(page, url, rule);
            FUZZ_CHECK(list.names.size() == list.count && list.urls.size() == list.count,
                       "names, addresses and count agree");
            for (const QString& chapter : list.urls)
                FUZZ_CHECK(absoluteOrEmpty(chapter), "chapters point at http(s)");
            break;
        }
        default:
            zvrd::extractChapterContent(page, rule);
            break;
        }
    } catch (const zvrd::RegexException&) {
        // The budget ran out on this page: said as patternTooSlowText, the page counts as none.
    }
    return 0;
}
