#include "core/WindowThread.h"

#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace zvrd {
namespace {

struct HandOver {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
};

// Signals the waiting thread when the queued work is destroyed, whether it ran or was dropped.
class Completion {
public:
    explicit Completion(std::shared_ptr<HandOver> state) : m_state(std::move(state)) {}
    ~Completion() {
        std::lock_guard guard(m_state->lock);
        m_state->finished = true;
        m_state->done.notify_all();
    }
    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;

private:
    std::shared_ptr<HandOver> m_state;
};

// Held while the work is posted. Qt's event queue synchronises with futexes ThreadSanitizer
// cannot see, so the receiving side takes this lock before it touches the posted closure: the
// post then happens-before the run for it too. Global, since the closure's own memory is what
// must not be read first.
std::mutex gPostLock;

} // namespace

void runOnThreadOf(QObject* target, const std::function<void()>& work) {
    if (QThread::currentThread() == target->thread()) {
        work();
        return;
    }
    auto state = std::make_shared<HandOver>();
    {
        auto completion = std::make_shared<Completion>(state);
        std::lock_guard posting(gPostLock);
        QMetaObject::invokeMethod(
            target,
            [&work, completion] {
                { std::lock_guard posted(gPostLock); }
                work();
            },
            Qt::QueuedConnection);
    }
    std::unique_lock guard(state->lock);
    state->done.wait(guard, [&] { return state->finished; });
}

} // namespace zvrd
