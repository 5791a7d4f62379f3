// rules: the four rule-driven extractors. Each fetches its own page (a header request first; only
// status 200 is read) and returns a record; failure is an empty or zero result. A piece that does
// not compile leaves as ERegexException.
#pragma once

#include "core/NovelRecords.h"
#include "rules/RuleSet.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace zvrd {

// The novels of one search result page; entry i of the four lists is one novel.
struct TSearchPageData {
    int32_t Num = 0;
    QStringList slNovelInfoPageUrlList;
    QStringList slNovelNameList;
    QStringList slNovelAuthorList;
    QStringList slLatestChapterList;
};

TSearchPageData ParseSearchPage(const QString& url, const TRuleInfo& rule);
TInfoPageData ParseInfoPage(const QString& url, const TRuleInfo& rule);
TDirectoryPageData ParseDirectoryPage(const QString& url, const TRuleInfo& rule);
QString ParseChapterContent(const TRuleInfo& rule, const QString& url);
QStringList GetImageUrls(const QString& text);

// The extraction steps on a page already in hand (used by the extractors after fetching, and by
// the tests and zvrd-cli on saved pages).
TSearchPageData ExtractSearchPage(const QString& page, const QString& url, const TRuleInfo& rule);
TInfoPageData ExtractInfoPage(const QString& page, const QString& url, const TRuleInfo& rule);
TDirectoryPageData ExtractDirectoryPage(const QString& page, const QString& url,
                                        const TRuleInfo& rule);
QString ExtractChapterContent(const QString& page, const TRuleInfo& rule);

// True when the chapter pattern gives group 1 the address and group 2 the name: exactly two
// "(.+?)" after the first "href" (in the whole piece when it has no "href").
bool IsAddressFirst(const QString& piece);

} // namespace zvrd
