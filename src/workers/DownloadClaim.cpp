#include "workers/OpenNovelWorker.h"

#include "core/DataFolder.h"

#include <QDir>

#include <condition_variable>
#include <mutex>
#include <set>

namespace zvrd {

// One bulk download per novel: among the threads of this process, and across programs by a lock
// file.

namespace {

std::mutex gClaimsLock;
std::condition_variable gClaimReleased;
std::set<int32_t> gClaims;
std::multiset<int32_t> gCancelled; // one entry per waiting takeOver

} // namespace

DownloadClaim::DownloadClaim(int32_t novelId) : m_novelId(novelId) {}

bool DownloadClaim::lockAcrossPrograms(int waitMs) {
    if (!m_file) {
        const QString folder = dataFolder() + QStringLiteral(".claims/");
        QDir().mkpath(folder);
        m_file = std::make_unique<QLockFile>(folder + QString::number(m_novelId) +
                                             QStringLiteral(".lock"));
        // Held for as long as a download runs; only a dead holder's file is stale.
        m_file->setStaleLockTime(0);
    }
    m_fileHeld = m_file->tryLock(waitMs);
    // A folder where no lock file can be made (read only) keeps the claim to this process.
    return m_fileHeld || m_file->error() != QLockFile::LockFailedError;
}

QList<int32_t> DownloadClaim::heldInThisProcess() {
    std::lock_guard guard(gClaimsLock);
    return QList<int32_t>(gClaims.begin(), gClaims.end());
}

std::unique_ptr<DownloadClaim> DownloadClaim::claimInThisProcess(int32_t novelId) {
    std::lock_guard guard(gClaimsLock);
    if (!gClaims.insert(novelId).second)
        return nullptr;
    return std::unique_ptr<DownloadClaim>(new DownloadClaim(novelId));
}

std::unique_ptr<DownloadClaim> DownloadClaim::take(int32_t novelId, bool* elsewhere) {
    if (elsewhere)
        *elsewhere = false;
    std::unique_ptr<DownloadClaim> claim = claimInThisProcess(novelId);
    if (claim && !claim->lockAcrossPrograms(0)) {
        if (elsewhere)
            *elsewhere = true;
        return nullptr;
    }
    return claim;
}

std::unique_ptr<DownloadClaim> DownloadClaim::takeWhenFree(int32_t novelId) {
    std::unique_ptr<DownloadClaim> claim = claimInThisProcess(novelId);
    // In short waits, so that a removal in this process is not kept waiting meanwhile.
    while (claim && !claim->lockAcrossPrograms(500)) {
        if (claim->cancelled())
            return nullptr;
    }
    return claim;
}

std::unique_ptr<DownloadClaim> DownloadClaim::takeOver(int32_t novelId) {
    std::unique_lock guard(gClaimsLock);
    const auto waiting = gCancelled.insert(novelId);
    gClaimReleased.wait(guard, [&] { return gClaims.count(novelId) == 0; });
    gCancelled.erase(waiting);
    gClaims.insert(novelId);
    guard.unlock();
    std::unique_ptr<DownloadClaim> claim(new DownloadClaim(novelId));
    claim->lockAcrossPrograms(0);
    return claim;
}

bool DownloadClaim::waitForOtherProgram(int ms) {
    return m_fileHeld || lockAcrossPrograms(ms);
}

bool DownloadClaim::cancelled() const {
    if (m_removed)
        return true;
    std::lock_guard guard(gClaimsLock);
    return gCancelled.count(m_novelId) > 0;
}

DownloadClaim::~DownloadClaim() {
    if (m_fileHeld)
        m_file->unlock();
    std::lock_guard guard(gClaimsLock);
    gClaims.erase(m_novelId);
    gClaimReleased.notify_all();
}

} // namespace zvrd
