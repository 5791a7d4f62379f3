#include "workers/BoundedRunner.h"

#include <algorithm>
#include <thread>

namespace zvrd {
namespace {

class FunctionWorker : public Worker {
public:
    FunctionWorker(std::function<void()> work, std::function<void()> done)
        : Worker(Ownership::Held), m_work(std::move(work)), m_done(std::move(done)) {
        start();
    }

protected:
    void run() override {
        struct Done {
            const std::function<void()>& done;
            ~Done() { done(); }
        } done{m_done};
        m_work();
    }

private:
    std::function<void()> m_work;
    std::function<void()> m_done;
};

} // namespace

BoundedRunner::BoundedRunner(int atOnce, std::chrono::milliseconds spacing)
    : m_atOnce(std::max(1, atOnce)), m_spacing(spacing) {}

BoundedRunner::~BoundedRunner() {
    wait();
}

void BoundedRunner::setAtOnce(int atOnce) {
    std::lock_guard guard(m_lock);
    m_atOnce = std::max(1, atOnce);
}

void BoundedRunner::reap(std::unique_lock<std::mutex>& guard) {
    std::vector<std::unique_ptr<Worker>> ended;
    std::vector<int> notYetKept;
    for (const int id : m_finished) {
        auto it = m_running.find(id);
        if (it == m_running.end()) {
            notYetKept.push_back(id); // ended before start() could keep it
            continue;
        }
        ended.push_back(std::move(it->second));
        m_running.erase(it);
    }
    m_finished.swap(notYetKept);
    if (ended.empty())
        return;
    guard.unlock();
    for (const auto& worker : ended)
        worker->join(); // each is past its done(): this returns at once
    ended.clear();
    guard.lock();
}

int BoundedRunner::start(const Launch& launch) {
    int id = 0;
    int inFlight = 0;
    std::chrono::steady_clock::time_point startAt;
    {
        std::unique_lock guard(m_lock);
        for (;;) {
            reap(guard);
            if (m_inFlight < m_atOnce)
                break;
            m_changed.wait(guard, [this] { return !m_finished.empty(); });
        }
        id = m_nextId++;
        inFlight = ++m_inFlight;
        startAt = m_nextStart;
        m_nextStart = std::max(m_nextStart, std::chrono::steady_clock::now()) + m_spacing;
    }
    std::this_thread::sleep_until(startAt);
    std::unique_ptr<Worker> worker = launch([this, id] {
        std::lock_guard guard(m_lock);
        --m_inFlight;
        m_finished.push_back(id);
        m_changed.notify_all();
    });
    std::lock_guard guard(m_lock);
    m_running[id] = std::move(worker);
    m_changed.notify_all();
    return inFlight;
}

int BoundedRunner::run(std::function<void()> work) {
    return start([&work](std::function<void()> done) {
        return std::make_unique<FunctionWorker>(std::move(work), std::move(done));
    });
}

void BoundedRunner::wait() {
    std::unique_lock guard(m_lock);
    for (;;) {
        reap(guard);
        if (m_inFlight == 0 && m_finished.empty())
            break;
        m_changed.wait(guard, [this] { return !m_finished.empty(); });
    }
}

} // namespace zvrd
