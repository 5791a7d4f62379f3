// store: the fixed English texts of the SQLite result codes.
#pragma once

#include <QString>

namespace zvrd {

QString sqliteErrorText(int code);

} // namespace zvrd
