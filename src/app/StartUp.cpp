#include "app/StartUp.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>

#include <cstdio>
#include <unistd.h>

namespace zvrd {

bool sandboxMustBeOff(unsigned effectiveUser, const QByteArray& chromiumFlags,
                      const QByteArray& disableSandbox) {
    if (effectiveUser != 0)
        return false;
    const bool userChose = chromiumFlags.contains("--no-sandbox") ||
                           (!disableSandbox.isEmpty() && disableSandbox != "0");
    return !userChose;
}

void prepareWebEngine() {
    if (sandboxMustBeOff(geteuid(), qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                         qgetenv("QTWEBENGINE_DISABLE_SANDBOX"))) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fprintf(stderr, "zvrd：以 root 身份运行，阅读页面的沙盒已关闭（Chromium 不能以 root "
                             "运行沙盒）；以普通用户运行可保留沙盒。\n");
    }
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\n"
                                                        "qt.webenginecontext.debug=false"));
}

SingleInstance::SingleInstance(const QString& dataFolder) {
    // Per user and folder: the socket lives in the user's runtime or temporary folder.
    const QByteArray folder = QDir(dataFolder).canonicalPath().toUtf8();
    m_name = QStringLiteral("zvrd-%1-%2")
                 .arg(geteuid())
                 .arg(QString::fromLatin1(
                     QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(16)));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::raiseRunning() {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write("raise\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen(std::function<void()> raise) {
    m_server = std::make_unique<QLocalServer>();
    // Nobody answered: a name left by a window that died is taken over.
    QLocalServer::removeServer(m_name);
    if (!m_server->listen(m_name))
        return false;
    connect(m_server.get(), &QLocalServer::newConnection, this, [this, raise] {
        while (QLocalSocket* peer = m_server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            raise();
        }
    });
    return true;
}

} // namespace zvrd
