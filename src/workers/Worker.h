// workers: the background workers (search, directory, chapter) and their common base. They
// report only through WindowSurface; depends on rules, pages, store, net and core.
#pragma once

#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace zvrd {

// A worker: a concrete worker overrides run() and calls start() as the last step of its own
// constructor; run() then runs on a thread of its own, and whatever escapes it ends the worker
// silently. Detached workers delete themselves when finished (their creator's thread needs an
// event loop); held workers are waited for with join() and deleted by their holder.
class Worker : public QObject {
    Q_OBJECT
public:
    enum class Ownership { Detached, Held };
    ~Worker() override;

    // Waits until run() has ended. Everything the worker did happens before join returns
    // (with a standard mutex, so ThreadSanitizer sees it too).
    void join();

    // Workers that have been started and have not finished, in the whole process.
    static int running();

protected:
    explicit Worker(Ownership ownership);
    virtual void run() = 0;
    void start();

private:
    void runGuarded();

    Ownership m_ownership;
    std::unique_ptr<QThread> m_thread;
    std::mutex m_doneLock;
    std::condition_variable m_done;
    bool m_finished = false;
    bool m_started = false;
};

// Sleeps the calling thread.
void sleepMs(int ms);

// Seconds for a status text: the elapsed milliseconds (an unsigned 32-bit tick difference)
// divided by 1000 and rounded to the nearest integer, an exact half to the even neighbour.
int roundedSeconds(uint32_t elapsedMs);

} // namespace zvrd
