#include "workers/WorkerThread.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace zvrd {
namespace {

std::atomic<int> gRunning{0};

} // namespace

TWorkerThread::TWorkerThread(Ownership ownership) : fOwnership(ownership) {
    if (fOwnership == Ownership::Detached)
        connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TWorkerThread::~TWorkerThread() {
    // A held worker is deleted by its holder after Join(); never destroy a running thread.
    Join();
    wait();
}

void TWorkerThread::Join() {
    std::unique_lock lock(fDoneLock);
    fDone.wait(lock, [this] { return fFinished || !fStarted; });
}

int TWorkerThread::Running() {
    return gRunning;
}

void TWorkerThread::Begin() {
    ++gRunning;
    {
        std::lock_guard lock(fDoneLock);
        fStarted = true;
    }
    start();
}

void TWorkerThread::run() {
    try {
        Execute();
    } catch (...) {
        // A worker that fails ends silently; the status bar keeps its last text.
    }
    --gRunning;
    // Notified under the lock: the joiner may delete this object as soon as it gets the lock.
    std::lock_guard lock(fDoneLock);
    fFinished = true;
    fDone.notify_all();
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int RoundedSeconds(uint32_t elapsedMs) {
    // Exact halves go to the even neighbour: 2500 ms is 2 s, 3500 ms is 4 s.
    const uint32_t whole = elapsedMs / 1000;
    const uint32_t rest = elapsedMs % 1000;
    if (rest > 500 || (rest == 500 && whole % 2 == 1))
        return static_cast<int>(whole + 1);
    return static_cast<int>(whole);
}

} // namespace zvrd
