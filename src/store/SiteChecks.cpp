#include "store/SiteChecks.h"

#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

namespace zvrd {

QList<SiteCheckRow> siteCheckRows() {
    SqliteDatabase db(ruleDatabasePath());
    QList<SiteCheckRow> rows;
    if (!db.tableExists(QStringLiteral("site_check")))
        return rows;
    for (auto table =
             db.query(QStringLiteral("select site_id,keyword,info_page_url from site_check"));
         !table->atEnd(); table->next())
        rows.append({table->fieldAsString(0), table->fieldAsString(1), table->fieldAsString(2)});
    return rows;
}

void setSiteCheckRow(const SiteCheckRow& row) {
    SqliteWriter db(ruleDatabasePath());
    if (row.keyword.trimmed().isEmpty() && row.infoPageUrl.trimmed().isEmpty()) {
        db.exec(QStringLiteral("delete from site_check where site_id=?1"), {row.siteId});
        return;
    }
    db.exec(QStringLiteral("insert or replace into site_check(site_id,keyword,info_page_url) "
                           "values(?1,?2,?3)"),
            {row.siteId, row.keyword.trimmed(), row.infoPageUrl.trimmed()});
}

namespace {

StoredCheck readSteps(SqliteDatabase& db, const QString& siteId) {
    StoredCheck steps;
    for (auto table = db.query(QStringLiteral("select step,outcome,reason,field,elapsed_ms,"
                                              "checked_at,last_ok_at from check_result where "
                                              "site_id=?1 order by step"),
                               {siteId});
         !table->atEnd(); table->next())
        steps.append({static_cast<int>(table->fieldAsInteger(0)),
                      static_cast<int>(table->fieldAsInteger(1)), table->fieldAsString(2),
                      table->fieldAsString(3), static_cast<int>(table->fieldAsInteger(4)),
                      table->fieldAsInteger(5), table->fieldAsInteger(6)});
    return steps;
}

} // namespace

StoredCheck recordCheck(const QString& siteId, const QString& siteUrl, const StoredCheck& steps) {
    SqliteWriter db(ruleDatabasePath());
    db.beginTransaction();
    // What another site's rule found at this id is not this site's history.
    db.exec(QStringLiteral("delete from check_result where site_id=?1 and site_url is not ?2"),
            {siteId, siteUrl});
    for (const StoredCheckStep& step : steps) {
        db.exec(QStringLiteral(
                    "insert into check_result(site_id,step,site_url,checked_at,outcome,reason,"
                    "field,elapsed_ms,last_ok_at) values(?1,?2,?3,?4,?5,?6,?7,?8,"
                    "case when ?5=0 then ?4 else 0 end) on conflict(site_id,step) do update set "
                    "checked_at=excluded.checked_at,outcome=excluded.outcome,"
                    "reason=excluded.reason,field=excluded.field,elapsed_ms=excluded.elapsed_ms,"
                    "last_ok_at=case when excluded.outcome=0 then excluded.checked_at else "
                    "check_result.last_ok_at end"),
                {siteId, int64_t{step.step}, siteUrl, step.checkedAt, int64_t{step.outcome},
                 step.reason, step.field, int64_t{step.elapsedMs}});
    }
    StoredCheck kept = readSteps(db, siteId);
    db.commit();
    return kept;
}

QHash<QString, StoredCheck> storedChecks(const QHash<QString, QString>& siteUrls) {
    SqliteDatabase db(ruleDatabasePath());
    QHash<QString, StoredCheck> checks;
    if (!db.tableExists(QStringLiteral("check_result")))
        return checks;
    for (const QString& siteId :
         db.stringValues(QStringLiteral("select distinct site_id from check_result"))) {
        const auto url = siteUrls.constFind(siteId);
        if (url == siteUrls.constEnd() ||
            db.integerValue(QStringLiteral("select count(*) from check_result where site_id=?1 "
                                           "and site_url is not ?2"),
                            {siteId, *url}) > 0)
            continue;
        checks.insert(siteId, readSteps(db, siteId));
    }
    return checks;
}

} // namespace zvrd
