// store: the cookies the reader pasted for sites, by host, kept in request_cookie of zvrd.db.
// They are the reader's: never part of a rule, a rule file or anything exported.
#pragma once

#include <QHash>
#include <QString>

namespace zvrd {

// Every cookie by host; none when the library predates them.
QHash<QString, QString> requestCookies();
// Sets the host's cookie; an empty one removes it.
void setRequestCookie(const QString& host, const QString& cookie);

} // namespace zvrd
