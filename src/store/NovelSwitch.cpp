#include "store/NovelSwitch.h"

#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QDateTime>

namespace zvrd {

void recordSwitch(int32_t fromNovel, int32_t toNovel, int32_t fromIndex, int32_t toIndex) {
    SqliteWriter db(ruleDatabasePath());
    db.beginTransaction();
    db.exec(QStringLiteral("delete from novel_switch where novel_id=?1"), {int64_t{toNovel}});
    db.exec(QStringLiteral("insert or replace into novel_switch(novel_id,moved_to,from_index,"
                           "to_index,switched_at) values(?1,?2,?3,?4,?5)"),
            {int64_t{fromNovel}, int64_t{toNovel}, int64_t{fromIndex}, int64_t{toIndex},
             QDateTime::currentSecsSinceEpoch()});
    db.commit();
}

SwitchRecord switchRecord(int32_t novelId) {
    SqliteDatabase db(ruleDatabasePath());
    SwitchRecord record;
    if (!db.tableExists(QStringLiteral("novel_switch")))
        return record;
    auto table = db.query(QStringLiteral("select moved_to,from_index,to_index from novel_switch "
                                         "where novel_id=?1"),
                          {int64_t{novelId}});
    if (!table->atEnd())
        record = {static_cast<int32_t>(table->fieldAsInteger(0)),
                  static_cast<int32_t>(table->fieldAsInteger(1)),
                  static_cast<int32_t>(table->fieldAsInteger(2))};
    return record;
}

void recordUpdateCheck(int32_t novelId, const QString& failure, const QString& failureText) {
    SqliteWriter db(ruleDatabasePath());
    const bool failed = !failure.isEmpty();
    db.exec(QStringLiteral("insert into novel_source_state(novel_id,failed_checks,failure,"
                           "failure_text) values(?1,?2,nullif(?3,''),nullif(?4,'')) "
                           "on conflict(novel_id) do update set failed_checks=case when ?2=0 "
                           "then 0 else coalesce(failed_checks,0)+1 end,failure=nullif(?3,''),"
                           "failure_text=nullif(?4,'')"),
            {int64_t{novelId}, int64_t{failed ? 1 : 0}, failure, failed ? failureText : QString()});
}

void recordOtherSource(int32_t novelId, const QString& siteName, int32_t chapters) {
    SqliteWriter db(ruleDatabasePath());
    db.exec(QStringLiteral("insert into novel_source_state(novel_id,failed_checks,other_site,"
                           "other_chapters) values(?1,0,?2,?3) on conflict(novel_id) do update "
                           "set other_site=?2,other_chapters=?3"),
            {int64_t{novelId}, siteName, int64_t{chapters}});
}

SourceState sourceState(int32_t novelId) {
    SqliteDatabase db(ruleDatabasePath());
    SourceState state;
    if (!db.tableExists(QStringLiteral("novel_source_state")))
        return state;
    auto table = db.query(QStringLiteral("select coalesce(failed_checks,0),coalesce(other_site,''),"
                                         "coalesce(other_chapters,0) from novel_source_state "
                                         "where novel_id=?1"),
                          {int64_t{novelId}});
    if (!table->atEnd())
        state = {static_cast<int32_t>(table->fieldAsInteger(0)), table->fieldAsString(1),
                 static_cast<int32_t>(table->fieldAsInteger(2))};
    return state;
}

} // namespace zvrd
