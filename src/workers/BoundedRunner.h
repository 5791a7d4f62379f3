// workers: the one scheduler of background work (the chapters of a bulk download, the sites of
// an update check): each job a held worker of its own, at most a number of them at once, starts
// at least a spacing apart, the next start as soon as one ends. What a site itself allows is the
// site's limiter's business (net/SiteLimiter.h); the runner only bounds the threads.
#pragma once

#include "workers/Worker.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zvrd {

class BoundedRunner {
public:
    // Starts a worker that calls done() as the last step of its run().
    using Launch = std::function<std::unique_ptr<Worker>(std::function<void()> done)>;

    BoundedRunner(int atOnce, std::chrono::milliseconds spacing);
    // Waits for every job still running.
    ~BoundedRunner();
    BoundedRunner(const BoundedRunner&) = delete;
    BoundedRunner& operator=(const BoundedRunner&) = delete;

    // Waits for a free place and the spacing, then launches; returns how many jobs are running
    // with this one.
    int start(const Launch& launch);
    // The same for a plain function on a thread of its own.
    int run(std::function<void()> work);
    // Fewer or more places from the next start on (at least 1); jobs running are not stopped.
    void setAtOnce(int atOnce);
    // Waits until every job started has ended.
    void wait();

private:
    // Joins and deletes the workers that have ended; called and returns with guard locked.
    void reap(std::unique_lock<std::mutex>& guard);

    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_atOnce;
    std::chrono::milliseconds m_spacing;
    int m_inFlight = 0;
    int m_nextId = 0;
    std::vector<int> m_finished;
    std::map<int, std::unique_ptr<Worker>> m_running;
    std::chrono::steady_clock::time_point m_nextStart;
};

} // namespace zvrd
