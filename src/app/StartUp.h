// app: what the window program settles before it shows itself: the page view's sandbox when run
// as root, Chromium's chatter, and one window per data folder.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace zvrd {

// Chromium will not start its sandbox as root, and the page view with it: as root, with no
// sandbox switch of the user's own, it has to be off. The arguments are the effective user id
// and the values of QTWEBENGINE_CHROMIUM_FLAGS and QTWEBENGINE_DISABLE_SANDBOX.
bool sandboxMustBeOff(unsigned effectiveUser, const QByteArray& chromiumFlags,
                      const QByteArray& disableSandbox);

// Before the first page view: turns the sandbox off as root (saying so on stderr) and keeps
// the page engine's start-up report off the terminal unless QT_LOGGING_RULES asks for it.
void prepareWebEngine();

// One window per data folder. The first start listens under a name made from the folder; a
// later one finds it, asks it to come to the front and should leave. zvrd-cli never takes part.
class SingleInstance : public QObject {
public:
    explicit SingleInstance(const QString& dataFolder);
    ~SingleInstance() override;

    // True when a window of this folder already runs; it has been asked to come forward.
    bool raiseRunning();
    // Starts answering later starts; each one calls raise.
    bool listen(std::function<void()> raise);

private:
    QString m_name;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace zvrd
