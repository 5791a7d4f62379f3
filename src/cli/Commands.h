// zvrd-cli: the commands that live in files of their own.
#pragma once

#include <QStringList>
#include <QTextStream>

namespace zvrd {

// check [SITE...] [--keyword WORD] [--verbose]: every site (or those named, by name or id)
// checked side by side; per site one line per step and a status line. Exit 0 every site ok,
// 1 some site failed a step or could not be checked, 2 usage error or unknown site.
int checkCommand(QStringList args, QTextStream& out, QTextStream& err);

// switch SITE NAME [NEWSITE]: the same novel on the other selected sites (site, name, author,
// latest chapter, chapters, answer milliseconds, same-author or other-author), or the novel
// carried over to NEWSITE with its reading place. Exit 0 listed or switched, 1 unknown novel or
// not found on another site.
int switchCommand(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace zvrd
