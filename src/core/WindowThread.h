// core: blocking hand-over of work to the thread an object lives on (the window's thread).
#pragma once

#include <QObject>

#include <functional>

namespace zvrd {

// Runs work on target's thread and returns once it has run; called on that thread, runs it at
// once. If the work is dropped instead (its receiver went away), it returns too. The hand-over
// is made with a standard mutex, so everything the work did happens-before the return also for
// ThreadSanitizer (Qt's own blocking connection synchronises where it cannot see).
void runOnThreadOf(QObject* target, const std::function<void()>& work);

} // namespace zvrd
