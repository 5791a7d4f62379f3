// app: the page view that shows the generated pages. Every navigation (links, Navigate, scripts)
// is reported to BeforeNavigate2 first; cancelling it keeps the current page.
#pragma once

#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>

namespace zvrd {

class TWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    using BeforeNavigate = std::function<void(const QString& url, bool& cancel)>;

    explicit TWebPage(QObject* parent);
    void SetBeforeNavigate2(BeforeNavigate handler) { fBeforeNavigate2 = std::move(handler); }
    void SetSilent(bool silent) { fSilent = silent; }
    bool Silent() const { return fSilent; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    // Silent mode: no script dialogs, no console output.
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                          const QString& defaultValue, QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

private:
    BeforeNavigate fBeforeNavigate2;
    bool fSilent = false;
};

class TPageView : public QWebEngineView {
    Q_OBJECT
public:
    explicit TPageView(QWidget* parent = nullptr);
    TWebPage* Page() const { return fPage; }

    // Loads a local HTML file given as a plain path.
    void Navigate(const QString& path);

private:
    TWebPage* fPage;
};

} // namespace zvrd
