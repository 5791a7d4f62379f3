// workers: a window surface without a window, for zvrd-cli and the benchmarks: it counts rows,
// keeps the last status text and hands both to optional callbacks; callable from any thread.
#pragma once

#include "workers/WindowSurface.h"

#include <mutex>

namespace zvrd {

class THeadlessSurface : public WindowSurface {
public:
    using RowPrinter =
        std::function<void(const QString& site, const QString& name, const QString& author,
                           const QString& latestChapter, const QString& url)>;
    using StatusPrinter = std::function<void(const QString& text)>;

    explicit THeadlessSurface(RowPrinter rows = {}, StatusPrinter statuses = {})
        : fRowPrinter(std::move(rows)), fStatusPrinter(std::move(statuses)) {}

    void SetStatusText(const QString& text) override {
        std::lock_guard lock(fLock);
        fLastStatus = text;
        if (fStatusPrinter)
            fStatusPrinter(text);
    }
    void AddResultRow(const QString& site, const QString& name, const QString& author,
                      const QString& latestChapter, const QString& url) override {
        std::lock_guard lock(fLock);
        ++fRows;
        if (fRowPrinter)
            fRowPrinter(site, name, author, latestChapter, url);
    }
    int GetResultCount() override {
        std::lock_guard lock(fLock);
        return fRows;
    }
    void ClearResults() override {
        std::lock_guard lock(fLock);
        fRows = 0;
    }
    void ShowResultList() override {}
    void ShowPageView() override {}
    void NavigatePageView(const QString&) override {}
    void RunOnWindowThread(const std::function<void()>& work) override {
        std::lock_guard lock(fLock);
        work();
    }

    QString LastStatus() {
        std::lock_guard lock(fLock);
        return fLastStatus;
    }

private:
    std::recursive_mutex fLock;
    RowPrinter fRowPrinter;
    StatusPrinter fStatusPrinter;
    int fRows = 0;
    QString fLastStatus;
};

} // namespace zvrd
