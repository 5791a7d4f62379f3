#include "app/PageView.h"

#include <QWebEngineSettings>

namespace zvrd {

TWebPage::TWebPage(QObject* parent) : QWebEnginePage(parent) {}

bool TWebPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool) {
    bool cancel = false;
    // toDisplayString keeps "directory_info#5#4" as written.
    if (fBeforeNavigate2)
        fBeforeNavigate2(url.toDisplayString(), cancel);
    return !cancel;
}

void TWebPage::javaScriptAlert(const QUrl& securityOrigin, const QString& msg) {
    if (!fSilent)
        QWebEnginePage::javaScriptAlert(securityOrigin, msg);
}

bool TWebPage::javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) {
    return fSilent ? false : QWebEnginePage::javaScriptConfirm(securityOrigin, msg);
}

bool TWebPage::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                                const QString& defaultValue, QString* result) {
    return fSilent ? false
                   : QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
}

void TWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                        int lineNumber, const QString& sourceID) {
    if (!fSilent)
        QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceID);
}

TPageView::TPageView(QWidget* parent) : QWebEngineView(parent), fPage(new TWebPage(this)) {
    setPage(fPage);
    // Readers page with the keys and the links; the browser's own menu only gets in the way.
    setContextMenuPolicy(Qt::NoContextMenu);
    QWebEngineSettings* settings = fPage->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
}

void TPageView::Navigate(const QString& path) {
    load(QUrl::fromLocalFile(path));
}

} // namespace zvrd
