// Test support: points AppFolder() at a fresh temporary folder for the life of the object.
#pragma once

#include "support/QtPrinters.h"
#include <QString>
#include <QTemporaryDir>

namespace zvrd::test {

class TempAppFolder {
public:
    TempAppFolder();
    ~TempAppFolder();
    TempAppFolder(const TempAppFolder&) = delete;
    TempAppFolder& operator=(const TempAppFolder&) = delete;

    QString Path() const; // ends with "/"
    QString File(const QString& name) const { return Path() + name; }

private:
    QTemporaryDir fDir;
};

} // namespace zvrd::test
