// workers: the background workers (search, directory, chapter) and their common base. They
// report only through WindowSurface; depends on rules, pages, store, net and core.
#pragma once

#include <QString>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace zvrd {

// A worker: a concrete worker overrides run() and calls start() as the last step of its own
// constructor; run() then runs on a thread of its own. An error that escapes run() (a database,
// pattern or file error) ends the worker, keeps its text in errorText() and is handed to
// reportError(), so it reaches the user instead of ending the worker silently. Detached workers
// delete themselves when finished (their creator's thread needs an event loop); held workers are
// waited for with join() and deleted by their holder.
class Worker : public QObject {
    Q_OBJECT
public:
    enum class Ownership { Detached, Held };
    ~Worker() override;

    // Waits until run() has ended. Everything the worker did happens before join returns
    // (with a standard mutex, so ThreadSanitizer sees it too).
    void join();

    // The text of the error that ended run() early; empty when none did. Read it after join().
    QString errorText() const;

    // Workers that have been started and have not finished, in the whole process.
    static int running();

protected:
    explicit Worker(Ownership ownership);
    virtual void run() = 0;
    void start();
    // Called on the worker's thread with the text of an error that escaped run().
    virtual void reportError(const QString& text);

private:
    void runGuarded();

    Ownership m_ownership;
    std::unique_ptr<QThread> m_thread;
    mutable std::mutex m_doneLock;
    std::condition_variable m_done;
    bool m_finished = false;
    bool m_started = false;
    QString m_errorText;
};

// The text of the exception being handled; call it only inside a catch block.
QString currentExceptionText();

// The status text of an error that ended a worker.
QString errorStatusText(const QString& error);

// Sleeps the calling thread.
void sleepMs(int ms);

// Seconds for a status text: the elapsed milliseconds (an unsigned 32-bit tick difference)
// divided by 1000 and rounded to the nearest integer, an exact half to the even neighbour.
int roundedSeconds(uint32_t elapsedMs);

} // namespace zvrd
