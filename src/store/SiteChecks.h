// store: the health check's rows in zvrd.db: each rule's check entry (site_check, travels with
// the rule) and the last result of each step of each site's check (check_result, the reader's).
#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>

namespace zvrd {

// A rule's check entry: the word its check searches for, and the information page the check
// starts from when the rule has no search (or the search finds nothing to follow).
struct SiteCheckRow {
    QString siteId;
    QString keyword;
    QString infoPageUrl;
};
// None when the library predates the table.
QList<SiteCheckRow> siteCheckRows();
// Sets one site's row (none when both fields are empty).
void setSiteCheckRow(const SiteCheckRow& row);

// One step of a site's check as kept: outcome 0 is ok; times are seconds since the epoch;
// lastOkAt is when the step was last ok at this site address (0: never).
struct StoredCheckStep {
    int step = 0;
    int outcome = 0;
    QString reason;
    QString field;
    int elapsedMs = 0;
    int64_t checkedAt = 0;
    int64_t lastOkAt = 0;
};
using StoredCheck = QList<StoredCheckStep>;

// Keeps the steps of one check of a site (the rule at siteId, for siteUrl) in place of the
// previous one, and gives them back with lastOkAt as now kept: a step that fails keeps the time
// it was last ok, unless the rule at that id was then another site's.
StoredCheck recordCheck(const QString& siteId, const QString& siteUrl, const StoredCheck& steps);
// The last check of every site, by rule id, kept for the site address the rule has now
// (siteUrls: rule id to site_url); a site without one is absent.
QHash<QString, StoredCheck> storedChecks(const QHash<QString, QString>& siteUrls);

} // namespace zvrd
