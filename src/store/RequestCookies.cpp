#include "store/RequestCookies.h"

#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

namespace zvrd {

QHash<QString, QString> requestCookies() {
    SqliteDatabase db(ruleDatabasePath());
    QHash<QString, QString> cookies;
    if (!db.tableExists(QStringLiteral("request_cookie")))
        return cookies;
    for (auto table = db.query(QStringLiteral("select site,cookie from request_cookie"));
         !table->atEnd(); table->next())
        cookies.insert(table->fieldAsString(0), table->fieldAsString(1));
    return cookies;
}

void setRequestCookie(const QString& host, const QString& cookie) {
    SqliteWriter db(ruleDatabasePath());
    if (cookie.isEmpty())
        db.exec(QStringLiteral("delete from request_cookie where site=?1"), {host});
    else
        db.exec(QStringLiteral("insert or replace into request_cookie(site,cookie) values(?1,?2)"),
                {host, cookie});
}

} // namespace zvrd
