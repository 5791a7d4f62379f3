// core: process-wide helpers (data folder, temporary folder, tick counter, appMutex); depends on Qt
// Core only.
#pragma once

#include <QString>
#include <cstdint>
#include <mutex>

namespace zvrd {

// The folder that holds zvrd.db, novel_info.db, config.ini and book/, ending with "/".
// Defaults to the executable's folder; tests and zvrd-cli --data point it elsewhere.
QString dataFolder();
void setDataFolder(const QString& folder);

// The user's temporary folder, canonical, ending with "/".
QString tempFolder();

// A 32-bit millisecond counter; differences are taken in unsigned arithmetic so a wrap is harmless.
uint32_t tickCount();

// Serialises the chapter workers' database steps against each other and the window's reading of
// a stored novel record. Never call a window-surface operation while holding it.
std::mutex& appMutex();

} // namespace zvrd
