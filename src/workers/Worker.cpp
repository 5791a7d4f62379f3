#include "workers/Worker.h"

#include "rules/PatternNotation.h"
#include "store/SqliteTable.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace zvrd {
namespace {

std::atomic<int> gRunning{0};

} // namespace

Worker::Worker(Ownership ownership) : m_ownership(ownership) {}

Worker::~Worker() {
    // A held worker is deleted by its holder after join(); never destroy a running thread.
    join();
    if (m_thread)
        m_thread->wait();
}

void Worker::join() {
    std::unique_lock lock(m_doneLock);
    m_done.wait(lock, [this] { return m_finished || !m_started; });
}

int Worker::running() {
    return gRunning;
}

void Worker::start() {
    ++gRunning;
    {
        std::lock_guard lock(m_doneLock);
        m_started = true;
    }
    m_thread.reset(QThread::create([this] { runGuarded(); }));
    if (m_ownership == Ownership::Detached)
        connect(m_thread.get(), &QThread::finished, this, &QObject::deleteLater);
    m_thread->start();
}

QString currentExceptionText() {
    try {
        throw;
    } catch (const SqliteException& e) {
        return e.message();
    } catch (const RegexException& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

void Worker::runGuarded() {
    QString error;
    try {
        run();
    } catch (...) {
        error = currentExceptionText();
    }
    if (!error.isEmpty()) {
        try {
            reportError(error);
        } catch (...) {
            // Reporting is best effort; the text stays in errorText().
        }
    }
    --gRunning;
    // Notified under the lock: the joiner may delete this object as soon as it gets the lock.
    std::lock_guard lock(m_doneLock);
    m_errorText = error;
    m_finished = true;
    m_done.notify_all();
}

void Worker::reportError(const QString&) {}

QString Worker::errorText() const {
    std::lock_guard lock(m_doneLock);
    return m_errorText;
}

QString errorStatusText(const QString& error) {
    QString text = error;
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QStringLiteral("任务出错：") + text;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int roundedSeconds(uint32_t elapsedMs) {
    // Exact halves go to the even neighbour: 2500 ms is 2 s, 3500 ms is 4 s.
    const uint32_t whole = elapsedMs / 1000;
    const uint32_t rest = elapsedMs % 1000;
    if (rest > 500 || (rest == 500 && whole % 2 == 1))
        return static_cast<int>(whole + 1);
    return static_cast<int>(whole);
}

} // namespace zvrd
