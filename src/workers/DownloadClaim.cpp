#include "workers/OpenNovelWorker.h"

#include <condition_variable>
#include <mutex>
#include <set>

namespace zvrd {

// One bulk download per novel and process.

namespace {

std::mutex gClaimsLock;
std::condition_variable gClaimReleased;
std::set<int32_t> gClaims;
std::multiset<int32_t> gCancelled; // one entry per waiting takeOver

} // namespace

std::unique_ptr<DownloadClaim> DownloadClaim::take(int32_t novelId) {
    std::lock_guard guard(gClaimsLock);
    if (!gClaims.insert(novelId).second)
        return nullptr;
    return std::unique_ptr<DownloadClaim>(new DownloadClaim(novelId));
}

std::unique_ptr<DownloadClaim> DownloadClaim::takeOver(int32_t novelId) {
    std::unique_lock guard(gClaimsLock);
    const auto waiting = gCancelled.insert(novelId);
    gClaimReleased.wait(guard, [&] { return gClaims.count(novelId) == 0; });
    gCancelled.erase(waiting);
    gClaims.insert(novelId);
    return std::unique_ptr<DownloadClaim>(new DownloadClaim(novelId));
}

bool DownloadClaim::cancelled() const {
    std::lock_guard guard(gClaimsLock);
    return gCancelled.count(m_novelId) > 0;
}

DownloadClaim::~DownloadClaim() {
    std::lock_guard guard(gClaimsLock);
    gClaims.erase(m_novelId);
    gClaimReleased.notify_all();
}

} // namespace zvrd
