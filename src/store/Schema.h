// store: the layout of zvrd.db and novel_info.db, and its upgrades. Each file carries its layout
// version in PRAGMA user_version; prepareLibrary brings both to the current one, one step per
// version, each file inside one transaction.
#pragma once

#include <QString>
#include <QStringList>

namespace zvrd {

class SqliteDatabase;

// The layout versions this program writes.
constexpr int kRuleDatabaseVersion = 9;  // zvrd.db
constexpr int kNovelDatabaseVersion = 2; // novel_info.db

// Creates or upgrades both files to the current layout and switches them to write-ahead
// logging; rows are kept. A file of a newer layout is left as it is. Called once at start.
void prepareLibrary();

// The user_version of a database file; 0 for a file without one (every file before versions).
int layoutVersion(const QString& path);
// True when both files exist at the current layout.
bool libraryIsCurrent();

// Why this program must not write the library: a database file of another account (its
// write-ahead log would be left owned by this one, and lock the owner out), or a log another
// account left that this one cannot write. Empty when nothing stands in the way.
QString libraryOwnershipProblem();

// site_rule's 21 columns in their order. Further per-site data goes in tables of its own, named
// site_* and keyed by site_id (the site_rule id): rule files fill them, and they travel with
// their site's rule.
const QStringList& siteRuleColumns();

} // namespace zvrd
