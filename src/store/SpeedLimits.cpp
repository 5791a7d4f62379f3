#include "store/SpeedLimits.h"

#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

namespace zvrd {

QList<SpeedLimit> speedLimits() {
    SqliteDatabase db(ruleDatabasePath());
    QList<SpeedLimit> limits;
    if (!db.tableExists(QStringLiteral("speed_limit")))
        return limits;
    for (auto table = db.query(QStringLiteral(
             "select site,in_flight,spacing_ms,adapt from speed_limit order by site"));
         !table->atEnd(); table->next())
        limits.append({table->fieldAsString(0), static_cast<int>(table->fieldAsInteger(1)),
                       static_cast<int>(table->fieldAsInteger(2)), table->fieldAsInteger(3) != 0});
    return limits;
}

void setSpeedLimit(const SpeedLimit& limit) {
    SqliteWriter db(ruleDatabasePath());
    db.exec(QStringLiteral("insert or replace into speed_limit(site,in_flight,spacing_ms,adapt) "
                           "values(?1,?2,?3,?4)"),
            {limit.site, int64_t{limit.inFlight}, int64_t{limit.spacingMs},
             int64_t{limit.adapt ? 1 : 0}});
}

bool clearSpeedLimit(const QString& site) {
    SqliteWriter db(ruleDatabasePath());
    db.exec(QStringLiteral("delete from speed_limit where site=?1"), {site});
    return db.rowsChanged() > 0;
}

} // namespace zvrd
