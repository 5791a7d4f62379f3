// store: the site rules in zvrd.db, and rule files (SQL scripts of rule rows) taken in as data:
// a file runs in a scratch database of its own, only inserting rule rows, and its rows are then
// merged into the library without ever losing one of the user's.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace zvrd {

// Every rule's values in siteRuleColumns() order, in the order the database returns them
// ("select * from site_rule").
QList<QStringList> siteRuleRows();

// Every row of site_page_rule: site id, chapter next-page pattern, list next-page pattern,
// distinct links (0/1). None when the library predates the table.
struct SitePagingRow {
    QString siteId;
    QString chapterNextPage;
    QString directoryNextPage;
    bool distinctLinks = false;
};
QList<SitePagingRow> sitePagingRows();
// Sets one site's row (none when every field is empty and distinct links off).
void setSitePaging(const SitePagingRow& row);

// Every row of site_request_header: what a site is sent with each request besides the program's
// own headers. None when the library predates the table.
struct SiteHeaderRow {
    QString siteId;
    QString userAgent;
    QString referer;
    bool refererFromLink = false;
    QString extraHeaders;
};
QList<SiteHeaderRow> siteHeaderRows();
// Sets one site's row (none when every field is empty).
void setSiteHeaderRow(const SiteHeaderRow& row);

// One site as the selection dialog lists it.
struct SiteEntry {
    QString id;
    QString name;
    QString url;
};
QList<SiteEntry> siteEntries();
// The id of the first rule of that site name; empty when none.
QString siteRuleId(const QString& siteName);

struct RuleFileResult {
    int rows = 0;          // rule rows the file gave
    QStringList keptSites; // shipped set: sites whose rule the user changed, kept as they are
    // Imported file: shipped rows that stood at an id the file gave, moved from id to id.
    QList<std::pair<QString, QString>> movedIds;
};

// A newer shipped set, merged: a row still exactly as shipped is replaced, a row the user
// changed stays (and is named in keptSites when the new set changes it), a new shipped row goes
// to its own id when free, else to a free one, unless the user already has a rule for that
// site's address. version is stamped in the same transaction. Errors leave as SqliteException.
RuleFileResult installShippedRuleScript(const QString& script, int version);
// The version of the shipped set zvrd.db last received; 0 when none.
int installedShippedVersion();

// A user's rule file: its rows are the user's and take the ids they give (a row without an id
// gets a free one). A shipped row standing at such an id moves to a free id first. All or
// nothing; a statement other than inserting rule rows is refused (SqliteException naming it).
RuleFileResult importUserRuleScript(const QString& script);

} // namespace zvrd
