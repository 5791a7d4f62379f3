// Test support: a window surface that records what workers show, callable from any thread.
#pragma once

#include "workers/WindowSurface.h"

#include <QStringList>

#include <array>
#include <mutex>
#include <vector>

namespace zvrd::test {

class FakeSurface : public WindowSurface {
public:
    using Row = std::array<QString, 6>;

    void SetStatusText(const QString& text) override {
        std::lock_guard lock(fLock);
        fStatuses << text;
        fEvents << QStringLiteral("status:") + text;
    }
    void AddResultRow(const QString& site, const QString& name, const QString& author,
                      const QString& latestChapter, const QString& url) override {
        std::lock_guard lock(fLock);
        fRows.push_back(
            {QString::number(fRows.size() + 1), site, name, author, latestChapter, url});
    }
    int GetResultCount() override {
        std::lock_guard lock(fLock);
        return static_cast<int>(fRows.size());
    }
    void ClearResults() override {
        std::lock_guard lock(fLock);
        fRows.clear();
    }
    void ShowResultList() override {
        std::lock_guard lock(fLock);
        fEvents << QStringLiteral("ShowResultList");
    }
    void ShowPageView() override {
        std::lock_guard lock(fLock);
        fEvents << QStringLiteral("ShowPageView");
    }
    void NavigatePageView(const QString& path) override {
        std::lock_guard lock(fLock);
        fNavigations << path;
        fEvents << QStringLiteral("navigate:") + path;
    }
    // One caller at a time, like the window's single thread.
    void RunOnWindowThread(const std::function<void()>& work) override {
        std::lock_guard lock(fLock);
        work();
    }

    QStringList Statuses() const {
        std::lock_guard lock(fLock);
        return fStatuses;
    }
    QString LastStatus() const {
        std::lock_guard lock(fLock);
        return fStatuses.isEmpty() ? QString() : fStatuses.last();
    }
    QStringList Events() const {
        std::lock_guard lock(fLock);
        return fEvents;
    }
    QStringList Navigations() const {
        std::lock_guard lock(fLock);
        return fNavigations;
    }
    std::vector<Row> Rows() const {
        std::lock_guard lock(fLock);
        return fRows;
    }

private:
    mutable std::recursive_mutex fLock;
    QStringList fStatuses;
    QStringList fEvents;
    QStringList fNavigations;
    std::vector<Row> fRows;
};

} // namespace zvrd::test
