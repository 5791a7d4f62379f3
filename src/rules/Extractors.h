// rules: the four rule-driven extractors. Each fetches its own page (one GET; only a status of
// 200 is read) and returns a record; failure is an empty or zero result. A piece that does
// not compile leaves as RegexException.
#pragma once

#include "core/NovelRecords.h"
#include "rules/RuleSet.h"

#include <QString>
#include <QStringList>
#include <cstdint>

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
ChapterList parseDirectoryPage(const QString& url, const SiteRule& rule);
QString parseChapterContent(const SiteRule& rule, const QString& url);
QStringList imageUrls(const QString& text);

// The extraction steps on a page already in hand. All matching on one page shares one budget
// (MatchBudget); past it the page counts as no match and RegexException carries
// patternTooSlowText. (used by the extractors after fetching, and by
// the tests and zvrd-cli on saved pages).
SearchResults extractSearchPage(const QString& page, const QString& url, const SiteRule& rule);
NovelInfo extractInfoPage(const QString& page, const QString& url, const SiteRule& rule);
ChapterList extractDirectoryPage(const QString& page, const QString& url, const SiteRule& rule);
QString extractChapterContent(const QString& page, const SiteRule& rule);

QString patternTooSlowText(const QString& siteName);

// True when the chapter pattern gives group 1 the address and group 2 the name: exactly two
// "(.+?)" after the first "href" (in the whole piece when it has no "href").
bool isAddressFirst(const QString& piece);

} // namespace zvrd
