// rules: site rules (one row of site_rule per site), the user's selection of sites, the pattern
// notation and the four extractors; depends on core, store and net, never on widgets.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace zvrd {

// One site described entirely as data: 21 text fields, each from the column named beside it.
struct TRuleInfo {
    QString strId;                             // id
    QString strSiteName;                       // site_name
    QString strSiteUrl;                        // site_url
    QString strCharset;                        // charset
    QString strSearchPageUrlFormat;            // search_page_url_format
    QString strSearchPageResultRegional;       // search_page_result_regional
    QString strSearchPageNovelName;            // search_page_novel_name
    QString strSearchPageNovelAuthor;          // search_page_novel_author
    QString strSearchPageLatestChapter;        // search_page_latest_chapter
    QString strSearchPageInfoPageUrl;          // search_page_info_page_url
    QString strInfoPageNovelSort;              // info_page_novel_sort
    QString strInfoPageNovelName;              // info_page_novel_name
    QString strInfoPageNovelAuthor;            // info_page_novel_author
    QString strInfoPageNovelState;             // info_page_novel_state
    QString strInfoPageNovelIntro;             // info_page_novel_intro
    QString strInfoPageLatestChapter;          // info_page_latest_chapter
    QString strInfoPageDirectoryPageUrl;       // info_page_directory_page_url
    QString strDirectoryPageRegional;          // directory_page_regional
    QString strDirectoryPageChapterNameAndUrl; // directory_page_chapter_name_and_url
    QString strChapterPageChapterContent;      // chapter_page_chapter_content
    QString strReplaceRule;                    // replace_rule
};

using TRuleInfoList = QList<TRuleInfo>;

// The 21 column names in field order.
const QStringList& RuleColumnNames();

// All rules of zvrd.db in the order the database returns them; database errors leave as
// ESQLiteException.
TRuleInfoList LoadRuleInfoList();

// Runs the SQL script of fileName (site_rule rows) on zvrd.db in one transaction, "@BASE@"
// replaced by base; then creates any table still missing. False when the file cannot be read.
bool ImportRuleScript(const QString& fileName, const QString& base = QString());

// The first rule, in load order, whose site name equals name exactly; an empty rule when none.
TRuleInfo FindRuleBySiteName(const TRuleInfoList& rules, const QString& name);

// config.ini beside the data: section target_site, key selected; empty when missing.
QString ConfigIniPath();
QString ReadSelectionSetting();

// The rules whose id equals one of the pieces of the selection value cut at ",", in load order,
// each once. Pieces are compared exactly: no trimming, letter case counts.
TRuleInfoList SelectRules(const TRuleInfoList& rules, const QString& selection);

// The absolute address that relative, found on the page at base, points to; empty when it cannot
// be combined or the result exceeds 2047 characters.
QString CombineUrl(const QString& base, const QString& relative);

// CombineUrl for many addresses found on one page: the base is taken apart once.
class TUrlCombiner {
public:
    explicit TUrlCombiner(const QString& base);
    QString Combine(const QString& relative) const;

private:
    static QString CanonicalTail(const QString& pathAndRest);

    QString fBase;
    bool fValid = false;
    QString fScheme;         // "http:"
    QString fOrigin;         // "http://host:port"
    QString fBeforeQuery;    // the base without "?..." and "#..."
    QString fBeforeFragment; // the base without "#..."
    QString fFolder;         // the base path up to its last "/"
    QString fCanonicalBase;
    bool fFolderIsPlain = false;
};

// The text after the last "."; the whole text when it has none.
QString GetFileExt(const QString& text);

} // namespace zvrd
