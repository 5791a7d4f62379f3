// workers: a window surface that passes calls on only while its gate is open. A new search
// closes the gate of the one before, so rows and texts of a superseded search stop reaching
// the window; the check runs on the window's thread, in the same step as the call it guards.
#pragma once

#include "workers/WindowSurface.h"

#include <atomic>
#include <memory>

namespace zvrd {

class GatedSurface : public WindowSurface {
public:
    explicit GatedSurface(WindowSurface& target) : m_target(target) {}

    // Call on the window's thread: no call of this surface reaches the window afterwards.
    void close() { m_open = false; }
    bool isOpen() const { return m_open; }

    void setStatusText(const QString& text) override {
        pass([&] { m_target.setStatusText(text); });
    }
    void addResultRow(const QString& site, const QString& name, const QString& author,
                      const QString& latestChapter, const QString& url) override {
        pass([&] { m_target.addResultRow(site, name, author, latestChapter, url); });
    }
    int resultCount() override {
        int count = 0;
        m_target.runOnWindowThread([&] { count = m_target.resultCount(); });
        return count;
    }
    void clearResults() override {
        pass([&] { m_target.clearResults(); });
    }
    void showResultList() override {
        pass([&] { m_target.showResultList(); });
    }
    void showPageView() override {
        pass([&] { m_target.showPageView(); });
    }
    void navigatePageView(const QString& path) override {
        pass([&] { m_target.navigatePageView(path); });
    }
    void reloadPageView(const QString& path) override {
        pass([&] { m_target.reloadPageView(path); });
    }
    void setProgress(int stored, int failed, int total) override {
        pass([&] { m_target.setProgress(stored, failed, total); });
    }
    void setProgressNote(const QString& note) override {
        pass([&] { m_target.setProgressNote(note); });
    }
    void runOnWindowThread(const std::function<void()>& work) override { pass(work); }

private:
    template <typename F> void pass(const F& work) {
        m_target.runOnWindowThread([&] {
            if (m_open)
                work();
        });
    }

    WindowSurface& m_target;
    std::atomic<bool> m_open{true};
};

} // namespace zvrd
