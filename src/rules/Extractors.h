// rules: the four rule-driven extractors. Each fetches its own page (the search one GET; the
// others follow redirects; only a status of 200 is read) and returns a record; failure is an
// empty or zero result. A piece that does not compile leaves as RegexException.
#pragma once

#include "core/NovelRecords.h"
#include "net/WebFetch.h"
#include "rules/RuleSet.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

namespace zvrd {

// The novels of one search result page; entry i of the four lists is one novel.
struct SearchResults {
    int32_t count = 0;
    QStringList infoPageUrls;
    QStringList names;
    QStringList authors;
    QStringList latestChapters;
};

SearchResults parseSearchPage(const QString& url, const SiteRule& rule);
NovelInfo parseInfoPage(const QString& url, const SiteRule& rule);
// linkedFrom: the page whose link led here (the information page, the chapter list), for a
// site that wants it as Referer.
ChapterList parseDirectoryPage(const QString& url, const SiteRule& rule,
                               const QString& linkedFrom = QString());
QString parseChapterContent(const SiteRule& rule, const QString& url,
                            const QString& linkedFrom = QString());
QStringList imageUrls(const QString& text);

// What each rule field captured on one page, in the order the extraction tried them (a field
// after one that matched nothing is not tried): for the health check and rule authors.
struct FieldCapture {
    QString column;     // the site_rule column
    int matches = 0;    // how many times it matched
    QStringList values; // the first few captures, shortened
};
using ExtractionTrace = QList<FieldCapture>;

// The extraction steps on a page already in hand. All matching on one page shares one budget
// (MatchBudget); past it the page counts as no match and RegexException carries
// patternTooSlowText. (used by the extractors after fetching, and by
// the tests and zvrd-cli on saved pages).
// With trace, what each field captured is added to it.
SearchResults extractSearchPage(const QString& page, const QString& url, const SiteRule& rule,
                                ExtractionTrace* trace = nullptr);
NovelInfo extractInfoPage(const QString& page, const QString& url, const SiteRule& rule,
                          ExtractionTrace* trace = nullptr);
ChapterList extractDirectoryPage(const QString& page, const QString& url, const SiteRule& rule,
                                 ExtractionTrace* trace = nullptr);
QString extractChapterContent(const QString& page, const SiteRule& rule,
                              ExtractionTrace* trace = nullptr);

QString patternTooSlowText(const QString& siteName);

// Pages of one chapter or one list (the site's next-page patterns): a next page is followed
// while the pattern's group 1 gives an address on the same site that was not read yet, at most
// this many pages in all. A later page that fails fails the whole chapter or list: neither is
// ever kept cut short.
constexpr int kMostChapterPages = 10;
constexpr int kMostListPages = 100;
// The next page's address found in page (read from pageUrl), or empty: none, another site's,
// or one of read.
QString nextPageUrl(const QString& pattern, const QString& page, const QString& pageUrl,
                    const QStringList& read);
// What is wrong with a next-page pattern the reader gives (it does not compile); empty when
// nothing.
QString nextPagePatternProblem(const QString& pattern);
// A list with each repeated address only at its last place (a block of the newest chapters
// above the real list collapses into it).
ChapterList withoutRepeatedLinks(const ChapterList& list);
// The chapter's text over its pages: page one in hand (read from firstUrl), the later ones
// fetched with fetch; the removal list applies to each page. Empty when a page fails; then
// *failedStatus is that page's status (200: it held no chapter).
// The pages' texts are joined with a line break between them.
inline const QString kPageBreak = QStringLiteral("<br />\r\n");
// fetch is given the page's address and the page that links to it.
using PageFetch = std::function<FollowedPage(const QString& url, const QString& linkedFrom)>;
QString chapterOverPages(const QString& firstPage, const QString& firstUrl, const SiteRule& rule,
                         const PageFetch& fetch, int32_t* failedStatus);

// The whole list over its pages: page one in hand (read from firstUrl), the later ones fetched
// with fetch. Empty when a later page fails (a list with a page missing would put chapters out
// of order). With trace, the first page's captures.
ChapterList directoryOverPages(const QString& firstPage, const QString& firstUrl,
                               const SiteRule& rule, const PageFetch& fetch,
                               ExtractionTrace* trace = nullptr);

// True when the chapter pattern gives group 1 the address and group 2 the name: exactly two
// "(.+?)" after the first "href" (in the whole piece when it has no "href").
bool isAddressFirst(const QString& piece);

} // namespace zvrd
