// zvrd-cli check: the health check of site rules from a terminal.
#pragma once

#include <QStringList>
#include <QTextStream>

namespace zvrd {

// check [SITE...] [--keyword WORD] [--verbose]: every site (or those named, by name or id)
// checked side by side; per site one line per step and a status line. Exit 0 every site ok,
// 1 some site failed a step or could not be checked, 2 usage error or unknown site.
int checkCommand(QStringList args, QTextStream& out, QTextStream& err);

} // namespace zvrd
