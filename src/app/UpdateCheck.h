// app: the update check at start-up through the companion updater "patchrun" in the program's
// folder: "-checkforupdates" answers with the number of updates as its exit code.
#pragma once

#include <QString>
#include <functional>

namespace zvrd {

constexpr int kUpdateCheckTimeoutMs = 120000;

// Shows "检测到程序有 %d 个更新，是否立即更新？" and answers whether the user chose Yes.
bool askToUpdate(int updates);

// Runs folder + "patchrun -checkforupdates" and waits for it at most timeoutMs. A missing or
// failing updater, exit code 0 or a time-out: false, no question. Otherwise ask(code); on Yes the
// updater is started again without parameters (not waited for) and the result is true.
bool checkForUpdates(const QString& folder, int timeoutMs, const std::function<bool(int)>& ask);

} // namespace zvrd
