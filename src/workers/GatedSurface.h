// workers: a window surface that passes calls on only while its gate is open. A new search
// closes the gate of the one before, so rows and texts of a superseded search stop reaching
// the window; the check runs on the window's thread, in the same step as the call it guards.
#pragma once

#include "workers/WindowSurface.h"

#include <atomic>
#include <memory>

namespace zvrd {

class TGatedSurface : public WindowSurface {
public:
    explicit TGatedSurface(WindowSurface& target) : fTarget(target) {}

    // Call on the window's thread: no call of this surface reaches the window afterwards.
    void Close() { fOpen = false; }
    bool IsOpen() const { return fOpen; }

    void SetStatusText(const QString& text) override {
        Pass([&] { fTarget.SetStatusText(text); });
    }
    void AddResultRow(const QString& site, const QString& name, const QString& author,
                      const QString& latestChapter, const QString& url) override {
        Pass([&] { fTarget.AddResultRow(site, name, author, latestChapter, url); });
    }
    int GetResultCount() override {
        int count = 0;
        fTarget.RunOnWindowThread([&] { count = fTarget.GetResultCount(); });
        return count;
    }
    void ClearResults() override {
        Pass([&] { fTarget.ClearResults(); });
    }
    void ShowResultList() override {
        Pass([&] { fTarget.ShowResultList(); });
    }
    void ShowPageView() override {
        Pass([&] { fTarget.ShowPageView(); });
    }
    void NavigatePageView(const QString& path) override {
        Pass([&] { fTarget.NavigatePageView(path); });
    }
    void RunOnWindowThread(const std::function<void()>& work) override { Pass(work); }

private:
    template <typename F> void Pass(const F& work) {
        fTarget.RunOnWindowThread([&] {
            if (fOpen)
                work();
        });
    }

    WindowSurface& fTarget;
    std::atomic<bool> fOpen{true};
};

} // namespace zvrd
