// Test support: points dataFolder() at a fresh temporary folder for the life of the object.
#pragma once

#include "support/QtPrinters.h"
#include <QString>
#include <QTemporaryDir>

namespace zvrd::test {

class TempDataFolder {
public:
    TempDataFolder();
    ~TempDataFolder();
    TempDataFolder(const TempDataFolder&) = delete;
    TempDataFolder& operator=(const TempDataFolder&) = delete;

    QString path() const; // ends with "/"
    QString file(const QString& name) const { return path() + name; }

private:
    QTemporaryDir m_dir;
};

} // namespace zvrd::test
