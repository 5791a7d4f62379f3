// core: small text helpers shared by the extractors and the page builder.
#pragma once

#include <QString>

namespace zvrd {

// Removes characters U+0020 and below (blanks, line breaks, other controls) from both ends;
// other white space, such as U+3000, stays.
QString trimControl(const QString& text);

} // namespace zvrd
