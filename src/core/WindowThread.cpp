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
    explicit Completion(std::shared_ptr<HandOver> state) : fState(std::move(state)) {}
    ~Completion() {
        std::lock_guard guard(fState->lock);
        fState->finished = true;
        fState->done.notify_all();
    }
    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;

private:
    std::shared_ptr<HandOver> fState;
};

} // namespace

void RunOnThreadOf(QObject* target, const std::function<void()>& work) {
    if (QThread::currentThread() == target->thread()) {
        work();
        return;
    }
    auto state = std::make_shared<HandOver>();
    {
        auto completion = std::make_shared<Completion>(state);
        QMetaObject::invokeMethod(
            target, [&work, completion] { work(); }, Qt::QueuedConnection);
    }
    std::unique_lock guard(state->lock);
    state->done.wait(guard, [&] { return state->finished; });
}

} // namespace zvrd
