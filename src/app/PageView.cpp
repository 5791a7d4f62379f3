#include "app/PageView.h"

#include <QDesktopServices>
#include <QWebEngineSettings>

namespace zvrd {

WebPage::WebPage(QObject* parent)
    : QWebEnginePage(parent),
      m_openExternally([](const QUrl& url) { QDesktopServices::openUrl(url); }) {}

bool WebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    // The page view shows the library's own pages only: a link that leaves it (the site links
    // at the foot of a table of contents) opens in the web browser, and the view stays put.
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        if (type == NavigationTypeLinkClicked && isMainFrame && m_openExternally)
            m_openExternally(url);
        return false;
    }
    bool cancel = false;
    // toDisplayString keeps "directory_info#5#4" as written.
    if (m_navigationHandler)
        m_navigationHandler(url.toDisplayString(), cancel);
    return !cancel;
}

void WebPage::javaScriptAlert(const QUrl& securityOrigin, const QString& msg) {
    if (!m_silent)
        QWebEnginePage::javaScriptAlert(securityOrigin, msg);
}

bool WebPage::javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) {
    return m_silent ? false : QWebEnginePage::javaScriptConfirm(securityOrigin, msg);
}

bool WebPage::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                               const QString& defaultValue, QString* result) {
    return m_silent ? false
                    : QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
}

void WebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                       int lineNumber, const QString& sourceID) {
    if ((message.startsWith(QLatin1String("reading_place#")) ||
         message.startsWith(QLatin1String("reading_size#"))) &&
        sourceID.startsWith(QLatin1String("file:"))) {
        if (m_readerMessageHandler)
            m_readerMessageHandler(message);
        return;
    }
    if (!m_silent)
        QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceID);
}

PageView::PageView(QWidget* parent) : QWebEngineView(parent), m_page(new WebPage(this)) {
    setPage(m_page);
    // Readers page with the keys and the links; the browser's own menu only gets in the way.
    setContextMenuPolicy(Qt::NoContextMenu);
    QWebEngineSettings* settings = m_page->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
}

void PageView::navigate(const QString& path) {
    load(QUrl::fromLocalFile(path));
}

} // namespace zvrd
