// zvrd: the reader window.
#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "core/DataFolder.h"
#include "net/HttpLibrary.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SqliteTable.h"
#include "workers/Worker.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

namespace {

const char* kHelp =
    "usage: zvrd [--data DIR] [--help] [--version]\n"
    "  Zelvo novel reader: search novel sites, read and keep serialised novels.\n"
    "  --data DIR   keep the library (zvrd.db, novel_info.db, config.ini, book/) in DIR\n"
    "The data folder is, in this order: --data, the ZVRD_DATA environment variable, the\n"
    "program's folder when a file named \"portable\" stands beside it, else\n"
    "$XDG_DATA_HOME/zvrd (~/.local/share/zvrd).\n";

// The folder of this executable, without a QCoreApplication.
QString executableFolder() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

} // namespace

int main(int argc, char** argv) {
    QString data;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            const zvrd::DataFolderChoice folder = zvrd::chooseDataFolder(data, executableFolder());
            std::printf("%sData folder in use: %s (%s)\n", kHelp, qPrintable(folder.path),
                        qPrintable(folder.source));
            return 0;
        }
        if (arg == "--version") {
            std::printf("zvrd %s\n", ZVRD_VERSION);
            return 0;
        }
        const bool dataArg = arg == "--data" || arg.startsWith("--data=");
        if (arg == "--data" && i + 1 < argc)
            data = QString::fromLocal8Bit(argv[++i]);
        else if (arg.startsWith("--data="))
            data = QString::fromLocal8Bit(arg.mid(7));
        // An empty value (an unset variable in a script) must not mean the default library.
        if (dataArg && data.isEmpty()) {
            std::fprintf(stderr, "zvrd: --data needs a folder\n%s", kHelp);
            return 2;
        }
    }
    // The HTTP library is ready before the window and before any thread.
    zvrd::http_global_init();
    int code = 0;
    {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        QApplication app(argc, argv);
        app.setApplicationName(QStringLiteral("zvrd"));
        app.setApplicationVersion(QStringLiteral(ZVRD_VERSION));
        app.setDesktopFileName(QStringLiteral("org.zelvo.zvrd"));
        // The window speaks Chinese: so do Qt's own dialogs and buttons (是, 否, 保存 …).
        QTranslator qtTexts;
        if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            app.installTranslator(&qtTexts);
        const QString title = QStringLiteral("Zelvo小说阅读器V1.12");

        const zvrd::DataFolderChoice folder =
            zvrd::chooseDataFolder(data, QCoreApplication::applicationDirPath());
        const QString problem = zvrd::prepareDataFolder(folder.path);
        if (!problem.isEmpty()) {
            QMessageBox::critical(nullptr, title,
                                  QStringLiteral("无法使用数据文件夹：%1").arg(problem));
            zvrd::http_global_cleanup();
            return 2;
        }
        zvrd::setDataFolder(folder.path);
        // A second start on the same library brings the window already open to the front.
        zvrd::SingleInstance instance(folder.path);
        if (instance.raiseRunning()) {
            std::fprintf(stderr, "zvrd：这个数据文件夹的阅读器已经打开，已把它的窗口带到前面。\n");
            zvrd::http_global_cleanup();
            return 0;
        }

        QFile style(QStringLiteral(":/app/zvrd.qss"));
        if (style.open(QIODevice::ReadOnly))
            app.setStyleSheet(QString::fromUtf8(style.readAll()));
        else
            QMessageBox::critical(nullptr, title,
                                  QStringLiteral("无法应用界面样式，将使用系统默认外观。"));

        // The window writes the library: never one of another account (see the problem text).
        if (const QString owner = zvrd::libraryOwnershipProblem(); !owner.isEmpty()) {
            QMessageBox::critical(nullptr, title, owner);
            zvrd::http_global_cleanup();
            return 2;
        }
        QString notice;
        try {
            zvrd::prepareLibrary(); // a fresh install works at once
            notice = zvrd::keptRulesNotice(
                zvrd::installShippedRules(zvrd::shippedRulesFile()).keptSites);
        } catch (const zvrd::SqliteException& e) {
            QMessageBox::critical(nullptr, title, e.message());
        }

        zvrd::prepareWebEngine(); // before the page view is made
        zvrd::MainWindow window;
        instance.listen([&window] {
            window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
            window.raise();
            window.activateWindow();
        });
        window.startUp();
        if (!notice.isEmpty())
            window.setStatusText(notice);
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
