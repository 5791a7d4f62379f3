// workers: the window surface, the only way background work reaches the screen. No widget header
// here: workers and their tests see only this interface.
#pragma once

#include <QString>

#include <functional>

namespace zvrd {

// Every operation may be called from any thread. Called from a worker it is a blocking
// hand-over: it returns once the window has carried it out, so texts appear in the order a
// worker produced them. Never call one while holding appMutex.
class WindowSurface {
public:
    virtual ~WindowSurface() = default;

    virtual void setStatusText(const QString& text) = 0;
    // Appends a row numbered with the count of rows right after it was added; numbering and the
    // five cells are one step with respect to every other caller and clearResults.
    virtual void addResultRow(const QString& site, const QString& name, const QString& author,
                              const QString& latestChapter, const QString& url) = 0;
    virtual int resultCount() = 0;
    virtual void clearResults() = 0;
    virtual void showResultList() = 0;
    virtual void showPageView() = 0;
    virtual void navigatePageView(const QString& path) = 0;
    // Loads the page at path again, only when the page view is showing it.
    virtual void reloadPageView(const QString& path) = 0;
    // A novel's chapters downloading: stored and failed so far out of total; total 0 hides it.
    virtual void setProgress(int stored, int failed, int total) = 0;
    // What the progress shows beside its counts while the download waits for its site, such as
    // "目标站要求等待 30 秒"; empty takes it away.
    virtual void setProgressNote(const QString& note) = 0;

    // Runs work on the window's thread (a blocking hand-over like the operations above), so a
    // check and the operations it guards happen as one step there.
    virtual void runOnWindowThread(const std::function<void()>& work) = 0;
};

} // namespace zvrd
