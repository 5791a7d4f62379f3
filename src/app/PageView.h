// app: the page view that shows the generated pages. Every navigation (links, navigate, scripts)
// is reported to the navigation handler first; cancelling it keeps the current page.
#pragma once

#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>

namespace zvrd {

class WebPage : public QWebEnginePage {
    Q_OBJECT
public:
    using BeforeNavigate = std::function<void(const QString& url, bool& cancel)>;

    explicit WebPage(QObject* parent);
    void setNavigationHandler(BeforeNavigate handler) { m_navigationHandler = std::move(handler); }
    void setSilent(bool silent) { m_silent = silent; }
    // What a chapter page tells its reader's window: where the reader is
    // ("reading_place#NOVEL#INDEX#POSITION") and Ctrl with the wheel ("reading_size#STEP"). The
    // page writes them to its console: telling them by a navigation could cut off the next
    // page's load.
    void setReaderMessageHandler(std::function<void(const QString&)> handler) {
        m_readerMessageHandler = std::move(handler);
    }
    // Where a followed http(s) link goes instead of the page view: the user's web browser
    // (Qt's desktop services) unless a test puts something else here.
    void setExternalOpener(std::function<void(const QUrl&)> opener) {
        m_openExternally = std::move(opener);
    }
    bool isSilent() const { return m_silent; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    // isSilent mode: no script dialogs, no console output.
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                          const QString& defaultValue, QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

private:
    BeforeNavigate m_navigationHandler;
    std::function<void(const QString&)> m_readerMessageHandler;
    std::function<void(const QUrl&)> m_openExternally;
    bool m_silent = false;
};

class PageView : public QWebEngineView {
    Q_OBJECT
public:
    explicit PageView(QWidget* parent = nullptr);
    WebPage* webPage() const { return m_page; }

    // Loads a local HTML file given as a plain path.
    void navigate(const QString& path);

private:
    WebPage* m_page;
};

} // namespace zvrd
