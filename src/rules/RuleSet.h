// rules: site rules (one row of site_rule per site), the user's selection of sites, the pattern
// notation and the four extractors; depends on core, store and net, never on widgets.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace zvrd {

// One site described entirely as data: 21 text fields, each from the column of site_rule named
// beside it, the site's paging from site_page_rule and its request headers from
// site_request_header.
struct SiteRule {
    QString id;                         // id
    QString siteName;                   // site_name
    QString siteUrl;                    // site_url
    QString charset;                    // charset
    QString searchUrlFormat;            // search_page_url_format
    QString searchResultRegion;         // search_page_result_regional
    QString searchNovelName;            // search_page_novel_name
    QString searchNovelAuthor;          // search_page_novel_author
    QString searchLatestChapter;        // search_page_latest_chapter
    QString searchInfoPageUrl;          // search_page_info_page_url
    QString infoNovelSort;              // info_page_novel_sort
    QString infoNovelName;              // info_page_novel_name
    QString infoNovelAuthor;            // info_page_novel_author
    QString infoNovelState;             // info_page_novel_state
    QString infoNovelIntro;             // info_page_novel_intro
    QString infoLatestChapter;          // info_page_latest_chapter
    QString infoDirectoryPageUrl;       // info_page_directory_page_url
    QString directoryRegion;            // directory_page_regional
    QString directoryChapterNameAndUrl; // directory_page_chapter_name_and_url
    QString chapterContent;             // chapter_page_chapter_content
    QString replaceRule;                // replace_rule
    // From site_page_rule, when the site has a row there: the next page of a chapter and of a
    // chapter list (group 1 its address), and whether a repeated address keeps only its last
    // place in the list.
    QString chapterNextPage;
    QString directoryNextPage;
    bool distinctLinks = false;
    // From site_request_header: what the site is sent with each request (empty: the program's
    // own User-Agent, no Referer, nothing more).
    QString userAgent;
    QString referer;
    bool refererFromLink = false;
    QString extraHeaders;
    // From site_check: the word the health check searches for (empty: a common title), and the
    // information page it starts from when the rule has no search.
    QString checkKeyword;
    QString checkInfoPageUrl;
};

using SiteRuleList = QList<SiteRule>;

// The 21 column names in field order.
const QStringList& ruleColumnNames();

// All rules of zvrd.db in the order the database returns them; database errors leave as
// SqliteException.
SiteRuleList loadSiteRules();

// Imports the rule rows of the SQL script fileName into zvrd.db ("@BASE@" replaced by base): the
// rows are the user's and take the ids they give; a shipped rule standing at one of those ids
// moves to a free id, and the selection in config.ini follows it. False when the file cannot be
// read; a statement other than inserting rule rows, or any error, leaves as SqliteException
// with nothing imported.
// With imported, how many rule rows the file gave.
bool importRuleScript(const QString& fileName, const QString& base = QString(),
                      int* imported = nullptr);

// The rules shipped with the program: share/zvrd/site_rules.sql beside the executable's folder
// (../share/zvrd/), so an unpacked package works from any root.
QString shippedRulesFile(const QString& executableFolder = QString());
// The version a rule script names in a "shipped-rules-version: N" line; 0 without one.
int shippedRulesVersion(const QString& script);
// The version of the shipped rules zvrd.db last received; 0 when none.
int installedRulesVersion();
// Merges the shipped rules into zvrd.db when they are newer than those it last received: a row
// the user left as shipped is updated, a row the user changed stays as it is and is named in
// keptSites, and no row the user made is touched (a new shipped rule goes to a free id).
struct ShippedRulesOutcome {
    bool installed = false; // false when the file is missing or not newer
    QStringList keptSites;
};
ShippedRulesOutcome installShippedRules(const QString& fileName);
// True when the file holds shipped rules newer than those zvrd.db last received.
bool shippedRulesPending(const QString& fileName);
// What the reader is told of kept rules; empty for none.
QString keptRulesNotice(const QStringList& sites);

// A site's speed limits: the reader's own for the server of its address, else the program's
// (SiteLimiter's design values, adapting).
struct SiteSpeed {
    QString server; // "host:port" of the site's address
    int inFlight = 0;
    int spacingMs = 0;
    bool adapt = true;
    bool own = false; // set by the reader
};
SiteSpeed siteSpeed(const SiteRule& rule);
// What is wrong with limits the reader gives (at most 1-50 requests in flight, 10-60000 ms
// apart); empty when nothing.
QString speedLimitProblem(int inFlight, int spacingMs);
// Keeps the limits as the site's own (they must pass speedLimitProblem), or with reset the
// program's again; every limiter of this process follows at once.
void setSiteSpeed(const SiteRule& rule, int inFlight, int spacingMs, bool adapt);
void resetSiteSpeed(const SiteRule& rule);
// Gives every site's limiter the ceiling the library keeps for it (loadSiteRules does so each
// time the rules are read, so a program started after a change honours it).
void applySpeedLimits();

// What is wrong with a rule's request headers (a User-Agent or cookie with a line break, a
// Referer that is no http(s) address, a header line that is not "Name: value"); empty when
// nothing.
QString requestHeadersProblem(const SiteRule& rule, const QString& cookie = QString());
// Keeps the rule's request headers (they must pass requestHeadersProblem).
void setSiteRequestHeaders(const SiteRule& rule);
// The cookie the reader gave for the site's server, and a new one (empty: none); both take
// effect for every fetch of this process at once.
QString siteCookie(const SiteRule& rule);
void setSiteCookie(const SiteRule& rule, const QString& cookie);
// Gives every fetch of this process the rules' request headers and the reader's cookies
// (loadSiteRules does so each time it reads the rules); cookies given here, by the server of a
// rule's address, stand over the kept ones (a rule being tried out before it is kept).
void applyRequestHeaders(const SiteRuleList& rules,
                         const QHash<QString, QString>& unkeptCookies = {});
// The server a rule's cookie is kept under.
QString cookieServer(const SiteRule& rule);

// The first rule, in load order, whose site name equals name exactly; an empty rule when none.
SiteRule findRuleBySiteName(const SiteRuleList& rules, const QString& name);

// config.ini beside the data: section target_site, key selected; empty when missing.
QString configIniPath();
QString readSelectionSetting();

// The rules whose id equals one of the pieces of the selection value cut at ",", in load order,
// each once. Pieces are compared exactly: no trimming, letter case counts.
SiteRuleList selectRules(const SiteRuleList& rules, const QString& selection);

// The absolute address that relative, found on the page at base, points to; empty when it cannot
// be combined or the result exceeds 2047 characters.
QString combineUrl(const QString& base, const QString& relative);

// combineUrl for many addresses found on one page: the base is taken apart once.
class UrlCombiner {
public:
    explicit UrlCombiner(const QString& base);
    QString combine(const QString& relative) const;

private:
    static QString canonicalTail(const QString& pathAndRest);

    QString m_base;
    bool m_valid = false;
    QString m_scheme;         // "http:"
    QString m_origin;         // "http://host:port"
    QString m_beforeQuery;    // the base without "?..." and "#..."
    QString m_beforeFragment; // the base without "#..."
    QString m_folder;         // the base path up to its last "/"
    QString m_canonicalBase;
    bool m_folderIsPlain = false;
};

// The text after the last "."; the whole text when it has none.
QString fileExtension(const QString& text);

} // namespace zvrd
