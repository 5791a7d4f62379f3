// store: the reader's own speed limits per site server, kept in speed_limit of zvrd.db.
#pragma once

#include <QList>
#include <QString>

namespace zvrd {

struct SpeedLimit {
    QString site; // "host:port", as the site's limiter names it
    int inFlight = 0;
    int spacingMs = 0;
    bool adapt = true;
};

// Every limit the reader set, by site; none when the library predates them (a read-only
// command on an old layout).
QList<SpeedLimit> speedLimits();
// Sets one site's limit, replacing what it had.
void setSpeedLimit(const SpeedLimit& limit);
// The site goes back to the program's limits; false when it had none of its own.
bool clearSpeedLimit(const QString& site);

} // namespace zvrd
