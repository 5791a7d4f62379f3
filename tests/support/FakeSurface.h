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

    void setStatusText(const QString& text) override {
        std::lock_guard lock(m_lock);
        m_statuses << text;
        m_events << QStringLiteral("status:") + text;
    }
    void addResultRow(const QString& site, const QString& name, const QString& author,
                      const QString& latestChapter, const QString& url) override {
        std::lock_guard lock(m_lock);
        m_rows.push_back(
            {QString::number(m_rows.size() + 1), site, name, author, latestChapter, url});
    }
    int resultCount() override {
        std::lock_guard lock(m_lock);
        return static_cast<int>(m_rows.size());
    }
    void clearResults() override {
        std::lock_guard lock(m_lock);
        m_rows.clear();
    }
    void showResultList() override {
        std::lock_guard lock(m_lock);
        m_events << QStringLiteral("ShowResultList");
    }
    void showPageView() override {
        std::lock_guard lock(m_lock);
        m_events << QStringLiteral("ShowPageView");
    }
    void navigatePageView(const QString& path) override {
        std::lock_guard lock(m_lock);
        m_navigations << path;
        m_events << QStringLiteral("navigate:") + path;
    }
    void reloadPageView(const QString& path) override {
        std::lock_guard lock(m_lock);
        m_events << QStringLiteral("reload:") + path;
    }
    void setProgress(int stored, int failed, int total) override {
        std::lock_guard lock(m_lock);
        m_progress.push_back({stored, failed, total});
    }
    void setProgressNote(const QString& note) override {
        std::lock_guard lock(m_lock);
        m_events << QStringLiteral("note:") + note;
    }
    // One caller at a time, like the window's single thread.
    void runOnWindowThread(const std::function<void()>& work) override {
        std::lock_guard lock(m_lock);
        work();
    }

    QStringList statuses() const {
        std::lock_guard lock(m_lock);
        return m_statuses;
    }
    QString lastStatus() const {
        std::lock_guard lock(m_lock);
        return m_statuses.isEmpty() ? QString() : m_statuses.last();
    }
    QStringList events() const {
        std::lock_guard lock(m_lock);
        return m_events;
    }
    QStringList navigations() const {
        std::lock_guard lock(m_lock);
        return m_navigations;
    }
    // Every progress report: stored, failed, total.
    std::vector<std::array<int, 3>> progress() const {
        std::lock_guard lock(m_lock);
        return m_progress;
    }
    std::vector<Row> rows() const {
        std::lock_guard lock(m_lock);
        return m_rows;
    }

private:
    mutable std::recursive_mutex m_lock;
    QStringList m_statuses;
    QStringList m_events;
    QStringList m_navigations;
    std::vector<Row> m_rows;
    std::vector<std::array<int, 3>> m_progress;
};

} // namespace zvrd::test
