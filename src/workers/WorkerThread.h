// workers: the background workers (search, directory, chapter) and their common base. They
// report only through WindowSurface; depends on rules, pages, store, net and core.
#pragma once

#include <QThread>

#include <condition_variable>
#include <mutex>

namespace zvrd {

// A worker thread: run() calls Execute(), and whatever escapes Execute() ends the worker
// silently. The concrete worker calls Begin() as the last step of its own constructor.
// Detached workers delete themselves when finished (their creator's thread needs an event loop);
// held workers are waited for with Join() and deleted by their holder.
class TWorkerThread : public QThread {
    Q_OBJECT
public:
    enum class Ownership { Detached, Held };
    ~TWorkerThread() override;

    // Waits until Execute() has ended. Everything the worker did happens before Join returns
    // (with a standard mutex, so ThreadSanitizer sees it too).
    void Join();

    // Workers that have been started and have not finished, in the whole process.
    static int Running();

protected:
    explicit TWorkerThread(Ownership ownership);
    virtual void Execute() = 0;
    void Begin();

private:
    void run() final;
    Ownership fOwnership;
    std::mutex fDoneLock;
    std::condition_variable fDone;
    bool fFinished = false;
    bool fStarted = false;
};

// Sleeps the calling thread.
void SleepMs(int ms);

// Seconds for a status text: the elapsed milliseconds (an unsigned 32-bit tick difference)
// divided by 1000 and rounded to the nearest integer, an exact half to the even neighbour.
int RoundedSeconds(uint32_t elapsedMs);

} // namespace zvrd
