// workers: a window surface without a window, for zvrd-cli and the benchmarks: it counts rows,
// keeps the last status text and hands both to optional callbacks; callable from any thread.
#pragma once

#include "workers/WindowSurface.h"

#include <array>
#include <mutex>

namespace zvrd {

class HeadlessSurface : public WindowSurface {
public:
    using RowPrinter =
        std::function<void(const QString& site, const QString& name, const QString& author,
                           const QString& latestChapter, const QString& url)>;
    using StatusPrinter = std::function<void(const QString& text)>;
    using ProgressPrinter =
        std::function<void(int stored, int failed, int total, const QString& note)>;

    explicit HeadlessSurface(RowPrinter rows = {}, StatusPrinter statuses = {},
                             ProgressPrinter progress = {})
        : m_rowPrinter(std::move(rows)), m_statusPrinter(std::move(statuses)),
          m_progressPrinter(std::move(progress)) {}

    void setStatusText(const QString& text) override {
        std::lock_guard lock(m_lock);
        m_lastStatus = text;
        if (m_statusPrinter)
            m_statusPrinter(text);
    }
    void addResultRow(const QString& site, const QString& name, const QString& author,
                      const QString& latestChapter, const QString& url) override {
        std::lock_guard lock(m_lock);
        ++m_rows;
        if (m_rowPrinter)
            m_rowPrinter(site, name, author, latestChapter, url);
    }
    int resultCount() override {
        std::lock_guard lock(m_lock);
        return m_rows;
    }
    void clearResults() override {
        std::lock_guard lock(m_lock);
        m_rows = 0;
    }
    void showResultList() override {}
    void showPageView() override {}
    void navigatePageView(const QString&) override {}
    void reloadPageView(const QString&) override {}
    void setProgress(int stored, int failed, int total) override {
        std::lock_guard lock(m_lock);
        m_counts = {stored, failed, total};
        if (m_progressPrinter)
            m_progressPrinter(stored, failed, total, m_note);
    }
    void setProgressNote(const QString& note) override {
        std::lock_guard lock(m_lock);
        m_note = note;
        if (m_progressPrinter && m_counts[2] > 0)
            m_progressPrinter(m_counts[0], m_counts[1], m_counts[2], m_note);
    }
    void runOnWindowThread(const std::function<void()>& work) override {
        std::lock_guard lock(m_lock);
        work();
    }

    QString lastStatus() {
        std::lock_guard lock(m_lock);
        return m_lastStatus;
    }

private:
    std::recursive_mutex m_lock;
    RowPrinter m_rowPrinter;
    StatusPrinter m_statusPrinter;
    ProgressPrinter m_progressPrinter;
    std::array<int, 3> m_counts{0, 0, 0};
    QString m_note;
    int m_rows = 0;
    QString m_lastStatus;
};

} // namespace zvrd
