// zvrd: the reader window.
#include "app/MainWindow.h"
#include "net/HttpLibrary.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/Worker.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // The HTTP library is ready before the window and before any thread.
    zvrd::http_global_init();
    int code = 0;
    {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        QApplication app(argc, argv);
        app.setApplicationName(QStringLiteral("zvrd"));

        QFile style(QStringLiteral(":/app/zvrd.qss"));
        if (style.open(QIODevice::ReadOnly))
            app.setStyleSheet(QString::fromUtf8(style.readAll()));
        else
            QMessageBox::critical(nullptr, QStringLiteral("Zelvo小说阅读器V1.12"),
                                  QStringLiteral("无法应用界面样式，将使用系统默认外观。"));

        try {
            zvrd::createMissingTables(); // a fresh install works at once
        } catch (const zvrd::SqliteException& e) {
            QMessageBox::critical(nullptr, QStringLiteral("Zelvo小说阅读器V1.12"), e.message());
        }

        zvrd::MainWindow window;
        window.startUp();
        window.showMaximized();
        code = app.exec();
        window.closeSurface();
        if (zvrd::Worker::running() > 0) {
            // Workers still running are abandoned: everything they stored is already on disk,
            // each write atomic. Leave at once rather than tear down under their feet.
            std::fflush(nullptr);
            std::_Exit(code);
        }
    }
    zvrd::http_global_cleanup();
    return code;
}
