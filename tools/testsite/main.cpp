// zvrd-testsite: serves the made-up demo sites (and the saved real pages) on 127.0.0.1 until
// it is stopped. Prints one line per served site: NAME<TAB>URL.
#include "TestSite.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <csignal>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local test web server of the reader"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port of the demo sites (0: any)."),
                      QStringLiteral("port"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("realsites"), QStringLiteral("Folder of saved real pages."),
                      QStringLiteral("dir"), zvrd::testsite::defaultRealSitesDir()});
    parser.addOption({QStringLiteral("latency"),
                      QStringLiteral("Milliseconds added to every answer."), QStringLiteral("ms"),
                      QStringLiteral("0")});
    parser.addOption({QStringLiteral("slow-every"),
                      QStringLiteral("Every N-th chapter page answers --slow-ms later."),
                      QStringLiteral("n"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("slow-ms"), QStringLiteral("Extra milliseconds."),
                      QStringLiteral("ms"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("grow-every"),
                      QStringLiteral("Every demo novel gains a chapter every N seconds."),
                      QStringLiteral("seconds"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("state"),
                      QStringLiteral("File that keeps the serials' growth across restarts."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("rate"),
                      QStringLiteral("Requests a second the demo sites allow (429 beyond)."),
                      QStringLiteral("n"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("burst"),
                      QStringLiteral("Requests the demo sites allow at once before --rate."),
                      QStringLiteral("n"), QStringLiteral("1")});
    parser.process(app);

    zvrd::testsite::Options options;
    options.port = parser.value(QStringLiteral("port")).toInt();
    options.realSitesDir = parser.value(QStringLiteral("realsites"));
    options.latencyMs = parser.value(QStringLiteral("latency")).toInt();
    options.slowEvery = parser.value(QStringLiteral("slow-every")).toInt();
    options.slowMs = parser.value(QStringLiteral("slow-ms")).toInt();
    options.growEverySeconds = parser.value(QStringLiteral("grow-every")).toInt();
    options.stateFile = parser.value(QStringLiteral("state"));
    try {
        zvrd::testsite::TestSite site(options);
        if (const double rate = parser.value(QStringLiteral("rate")).toDouble(); rate > 0)
            site.setRateLimit(rate, std::max(1, parser.value(QStringLiteral("burst")).toInt()));
        QTextStream out(stdout);
        out << "demo\t" << site.baseUrl() << '\n';
        out << "moved\t" << site.movedUrl() << '\n';
        for (const QString& real : site.realSites())
            out << real << '\t' << site.realSiteUrl(real) << '\n';
        out.flush();
        std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
        std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
        return app.exec();
    } catch (const std::exception& e) {
        QTextStream(stderr) << e.what() << '\n';
        return 1;
    }
}
