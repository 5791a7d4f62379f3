// core: plain INI files, read and written without quoting or reformatting values, so
// "selected=1,3," stays exactly that text. Sections and keys match without regard to case.
#pragma once

#include <QString>

namespace zvrd {

// The value of key in section, exactly as written after "=" (line end removed); defaultValue
// when the file, the section or the key is missing.
QString readIniValue(const QString& fileName, const QString& section, const QString& key,
                     const QString& defaultValue = QString());

// Sets key in section, keeping every other line of the file as it was; adds the section or key
// when missing. Written to a temporary file and renamed over the old one. False on failure.
bool writeIniValue(const QString& fileName, const QString& section, const QString& key,
                   const QString& value);

} // namespace zvrd
