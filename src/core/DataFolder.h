// core: process-wide helpers (data folder, temporary and template folders, tick counter,
// appMutex); depends on Qt Core only.
#pragma once

#include <QString>
#include <cstdint>
#include <mutex>

namespace zvrd {

// The folder that holds zvrd.db, novel_info.db, config.ini and book/, ending with "/": the one
// set with setDataFolder, else the one chooseDataFolder() gives.
QString dataFolder();
void setDataFolder(const QString& folder);

// Where the data folder is, and which rule chose it.
struct DataFolderChoice {
    QString path;   // ends with "/"
    QString source; // "--data", "ZVRD_DATA", "portable" or "user"
};
// In this order: the --data argument (when not empty), the ZVRD_DATA environment variable, the
// executable's folder when a file named "portable" stands in it, else the user's data folder
// ($XDG_DATA_HOME/zvrd, i.e. ~/.local/share/zvrd).
DataFolderChoice chooseDataFolder(const QString& commandLine = QString(),
                                  const QString& executableFolder = QString());
// Creates the folder with its parents. Empty when it is there and writable, else why not.
QString prepareDataFolder(const QString& path);
// True when the program runs from a folder with a "portable" file beside it.
bool isPortable(const QString& executableFolder = QString());

// Where a stored picture file is now. Picture chapters store absolute paths; when the library was
// moved or copied (the data folder is somewhere else now), a path that no longer exists but lies
// under an earlier data folder's book/SITE/NOVEL/pic/ is found under the current one. Any other
// path comes back as it is.
QString storedPicturePath(const QString& stored);

// The user's temporary folder, canonical, ending with "/".
QString tempFolder();

// A folder of this process's own (mode 0700, a fresh name) for the page templates, under the
// runtime folder ($XDG_RUNTIME_DIR) when there is one, else under tempFolder(); removed when the
// process ends. Ends with "/".
QString templateFolder();

// A 32-bit millisecond counter; differences are taken in unsigned arithmetic so a wrap is harmless.
uint32_t tickCount();

// Serialises the chapter workers' database steps against each other and the window's reading of
// a stored novel record. Never call a window-surface operation while holding it.
std::mutex& appMutex();

} // namespace zvrd
