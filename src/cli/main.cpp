// zvrd-cli: the reader's engine from a terminal, for rule authors and scripts. Output is UTF-8,
// one record per line, fields separated by a tab. Exit 0: something found (download: every
// chapter stored); 1: nothing found; 2: usage error, unknown site, regular-expression, database or
// file error (text on stderr); 3: download stored the novel but some chapters failed (update:
// some sites could not be read). check: 0 every site ok, 1 some site failed a step.
#include "Commands.h"
#include "core/DataFolder.h"
#include "core/Text.h"
#include "export/NovelExport.h"
#include "net/HttpLibrary.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/PatternNotation.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/Schema.h"
#include "store/SiteChecks.h"
#include "store/SiteRules.h"
#include "store/SqliteTable.h"
#include "workers/HeadlessSurface.h"
#include "workers/LibraryWorkers.h"
#include "workers/OpenNovelWorker.h"
#include "workers/SearchWorkers.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <optional>
#include <unistd.h>

using namespace zvrd;

namespace {

constexpr int kFound = 0;
constexpr int kNothing = 1;
constexpr int kError = 2;
constexpr int kIncomplete = 3;
constexpr int kRefused = 4;

const char* kUsage =
    "usage: zvrd-cli [--data DIR] COMMAND ...\n"
    "  info SITE URL            the novel on an information page\n"
    "  directory SITE URL       index, name and address of every chapter of a list page\n"
    "  chapter SITE URL         the cleaned chapter text (--pictures: its picture addresses)\n"
    "  searchpage SITE URL      name, author, latest chapter and address of every result\n"
    "  search NAME              every selected site searched at once: one line per novel found\n"
    "                           (site, name, author, latest chapter, address); status texts on "
    "stderr\n"
    "  download SITE URL        opens the novel at URL as the window would: recent read, chapter\n"
    "                           list, every chapter not stored yet downloaded (again after an\n"
    "                           interruption); prints the final status text; exit 3 when some\n"
    "                           chapters failed\n"
    "  update [SITE NAME]       checks every novel of the library (or the one named) for new\n"
    "                           chapters, stores and downloads them; one line per novel (site,\n"
    "                           name, new chapters, status); exit 0 new chapters found, 1 none,\n"
    "                           3 some sites could not be read\n"
    "  remove SITE NAME         removes the novel, its chapters and its book folder\n"
    "  export SITE NAME (--epub FILE | --txt FILE) [--encoding utf-8|gbk] [--allow-missing]\n"
    "             [--script original|simplified|traditional]\n"
    "                           writes the stored novel as an EPUB 3 book or a text file;\n"
    "                           exit 1 unknown novel, 4 refused because chapters are missing\n"
    "                           (--allow-missing puts a placeholder in their place); --script\n"
    "                           gives the book in simplified or traditional characters\n"
    "  site [NAME [--in-flight N] [--spacing MS] [--adapt on|off] [--reset]\n"
    "             [--chapter-next PATTERN] [--list-next PATTERN] [--distinct on|off]\n"
    "             [--user-agent TEXT] [--referer URL|linked|none] [--header \"NAME: VALUE\"|none]\n"
    "             [--cookie TEXT|none] [--check-word TEXT|none] [--check-page URL|none]]\n"
    "                           the speed limits, paging and request headers of every site (or\n"
    "                           the one named): site, server, requests in flight at most,\n"
    "                           milliseconds between starts at least, adapt on/off, own or\n"
    "                           default, next-page patterns of chapters and of lists, repeated\n"
    "                           links kept once on/off, User-Agent, Referer (linked: the page\n"
    "                           that linked there), header lines (joined by \\n), cookie or\n"
    "                           no-cookie (never shown), the word and the information page\n"
    "                           the health check starts from; with options sets them (--reset: "
    "the\n"
    "                           program's limits again; --header repeated for more lines); a "
    "value\n"
    "                           out of range, a pattern that does not compile or a malformed\n"
    "                           header is refused (exit 2)\n"
    "  check [SITE...] [--keyword WORD] [--verbose]\n"
    "                           checks every site (or those named): search, information page,\n"
    "                           chapter list, first and last chapter; one line per step (site,\n"
    "                           step, result, time, reason) and a status line per site;\n"
    "                           --verbose adds each address, status, the page's first bytes and\n"
    "                           what each rule field captured; exit 0 all ok, 1 some site failed\n"
    "  switch SITE NAME [NEWSITE]\n"
    "                           换源: the same novel on the other selected sites (site, name,\n"
    "                           author, latest chapter, chapters, answer ms, same-author or\n"
    "                           other-author); with NEWSITE carries it there with the reading\n"
    "                           place; exit 1 unknown novel or not found elsewhere\n"
    "  import-rules FILE [--base URL]\n"
    "                           runs the SQL of FILE on zvrd.db (\"@BASE@\" becomes URL)\n"
    "  --help, --version\n";

const char* kDataFolderHelp =
    "The data folder (zvrd.db, novel_info.db, config.ini, book/) is, in this order: --data DIR,\n"
    "the ZVRD_DATA environment variable, the program's folder when a file named \"portable\"\n"
    "stands beside it, else $XDG_DATA_HOME/zvrd (~/.local/share/zvrd).\n";

struct Output {
    QTextStream out{stdout};
    QTextStream err{stderr};
    Output() {
        out.setEncoding(QStringConverter::Utf8);
        err.setEncoding(QStringConverter::Utf8);
    }
};

// The window surface of a terminal: rows on stdout, status texts on stderr, and on a terminal
// the download progress as one line that is rewritten in place.
std::shared_ptr<HeadlessSurface> consoleSurface(Output& io, bool showStatuses = true) {
    const bool terminal = isatty(STDERR_FILENO) == 1;
    return std::make_shared<HeadlessSurface>(
        [&io](const QString& site, const QString& name, const QString& author,
              const QString& latest, const QString& url) {
            io.out << site << '\t' << name << '\t' << author << '\t' << latest << '\t' << url
                   << '\n';
            io.out.flush();
        },
        [&io, showStatuses](const QString& text) {
            if (!showStatuses)
                return;
            io.err << text << '\n';
            io.err.flush();
        },
        [&io, terminal](int stored, int failed, int total, const QString& note) {
            if (!terminal)
                return;
            if (total <= 0)
                io.err << "\r\033[K";
            else
                io.err << "\r\033[K" << stored << '/' << total << " stored, " << failed << " failed"
                       << (note.isEmpty() ? QString() : QStringLiteral("  ") + note);
            io.err.flush();
        });
}

// A worker's error on stderr; true when there was one.
bool printError(const QString& error, Output& io) {
    if (error.isEmpty())
        return false;
    QString text = error;
    io.err << "zvrd-cli: " << text.replace(QLatin1Char('\r'), QLatin1Char(' ')) << '\n';
    return true;
}

int usageError(Output& io) {
    io.err << kUsage;
    return kError;
}

int searchCommand(const QString& typed, Output& io) {
    const QString name = searchWords(typed);
    if (name.isEmpty())
        return usageError(io);
    auto surface = consoleSurface(io);
    auto search = std::make_unique<SearchCoordinator>(name, surface, Worker::Ownership::Held);
    search->join();
    bool failed = printError(search->errorText(), io);
    for (const QString& error : search->siteErrors())
        failed = printError(error, io) || failed;
    if (failed)
        return kError;
    return surface->resultCount() > 0 ? kFound : kNothing;
}

int downloadCommand(const SiteRule& rule, const QString& url, Output& io) {
    extractTemplates();
    // As a double-click on a result row: the stored record of a novel opened before, otherwise
    // the information page.
    NovelInfo info = parseInfoPage(url, rule);
    if (hasRecentRead(rule.siteName, info.name)) {
        std::lock_guard lock(appMutex());
        info = recentReadInfo(rule.siteName, info.name);
    }
    auto surface = consoleSurface(io);
    auto worker = std::make_unique<OpenNovelWorker>(info, rule.siteName, surface, false,
                                                    Worker::Ownership::Held);
    worker->join();
    if (printError(worker->errorText(), io))
        return kError;
    io.out << surface->lastStatus() << '\n';
    if (!worker->opened())
        return kNothing;
    return worker->chaptersNotStored() > 0 ? kIncomplete : kFound;
}

int updateCommand(const QString& site, const QString& name, Output& io) {
    extractTemplates();
    auto surface = consoleSurface(io, false);
    auto worker =
        std::make_unique<LibraryUpdateWorker>(surface, Worker::Ownership::Held, site, name);
    worker->join();
    if (printError(worker->errorText(), io))
        return kError;
    const QList<NovelUpdate> results = worker->results();
    bool error = false;
    bool failed = false;
    int stored = 0;
    for (const NovelUpdate& update : results) {
        // An error's own text goes to stderr; the novel's line only says that it failed.
        if (update.error)
            io.err << "zvrd-cli: " << update.siteName << ' ' << update.novelName << ": "
                   << update.status << '\n';
        io.out << update.siteName << '\t' << update.novelName << '\t' << update.storedNew() << '\t'
               << (update.error ? QStringLiteral("任务出错") : update.status) << '\n';
        error = error || update.error;
        failed = failed || update.failed || update.notStored > 0;
        stored += update.storedNew();
    }
    io.err << updateSummaryText(results) << '\n';
    if (!site.isEmpty() && results.isEmpty()) {
        io.err << "zvrd-cli: no novel \"" << name << "\" of site \"" << site << "\"\n";
        return kError;
    }
    if (error)
        return kError;
    if (failed)
        return kIncomplete;
    return stored > 0 ? kFound : kNothing;
}

int removeCommand(const QString& site, const QString& name, Output& io) {
    if (removeNovel(site, name))
        return kFound;
    io.err << "zvrd-cli: no novel \"" << name << "\" of site \"" << site << "\"\n";
    return kNothing;
}

int exportCommand(QStringList args, Output& io) {
    if (args.size() < 2)
        return usageError(io);
    const QString site = args.takeFirst();
    const QString name = args.takeFirst();
    ExportOptions options;
    int targets = 0;
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--allow-missing")) {
            options.allowMissing = true;
            continue;
        }
        if (args.isEmpty())
            return usageError(io);
        const QString value = args.takeFirst();
        if (option == QLatin1String("--epub") || option == QLatin1String("--txt")) {
            options.format =
                option == QLatin1String("--epub") ? ExportFormat::Epub : ExportFormat::Text;
            options.fileName = value;
            ++targets;
        } else if (option == QLatin1String("--encoding") &&
                   (value.compare(QLatin1String("utf-8"), Qt::CaseInsensitive) == 0 ||
                    value.compare(QLatin1String("gbk"), Qt::CaseInsensitive) == 0)) {
            options.encoding = value.compare(QLatin1String("gbk"), Qt::CaseInsensitive) == 0
                                   ? TextEncoding::Gbk
                                   : TextEncoding::Utf8;
        } else if (option == QLatin1String("--script") &&
                   (value == QLatin1String("original") || value == QLatin1String("simplified") ||
                    value == QLatin1String("traditional"))) {
            options.script = value == QLatin1String("simplified")    ? ChineseScript::Simplified
                             : value == QLatin1String("traditional") ? ChineseScript::Traditional
                                                                     : ChineseScript::Original;
        } else {
            return usageError(io);
        }
    }
    if (targets != 1)
        return usageError(io);
    const ExportResult result = exportNovel(site, name, options);
    const QString text = exportStatusText(result, name, options.fileName);
    switch (result.kind) {
    case ExportResult::Kind::Written:
        io.out << text << '\n';
        return kFound;
    case ExportResult::Kind::UnknownNovel:
        io.err << "zvrd-cli: no novel \"" << name << "\" of site \"" << site << "\"\n";
        return kNothing;
    case ExportResult::Kind::MissingChapters:
        io.err << "zvrd-cli: " << text << '\n';
        return kRefused;
    case ExportResult::Kind::Failed:
        break;
    }
    io.err << "zvrd-cli: " << text << '\n';
    return kError;
}

std::optional<SiteRule> ruleNamed(const QString& site, Output& io) {
    for (const SiteRule& rule : loadSiteRules()) {
        if (rule.siteName == site)
            return rule;
    }
    io.err << "zvrd-cli: no site rule named \"" << site << "\"\n";
    return std::nullopt;
}

// The cookie is the reader's secret: only whether there is one is shown.
void printSiteSpeed(const SiteRule& rule, Output& io) {
    const SiteSpeed speed = siteSpeed(rule);
    QString referer = rule.refererFromLink ? QStringLiteral("linked") : QString();
    if (!rule.referer.isEmpty())
        referer += (referer.isEmpty() ? QString() : QStringLiteral(",")) + rule.referer;
    QStringList extra;
    for (const QString& line : rule.extraHeaders.split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            extra.append(line.trimmed());
    }
    io.out << rule.siteName << '\t' << speed.server << '\t' << speed.inFlight << '\t'
           << speed.spacingMs << '\t' << (speed.adapt ? "on" : "off") << '\t'
           << (speed.own ? "own" : "default") << '\t' << rule.chapterNextPage << '\t'
           << rule.directoryNextPage << '\t' << (rule.distinctLinks ? "on" : "off") << '\t'
           << rule.userAgent << '\t' << referer << '\t' << extra.join(QStringLiteral("\\n")) << '\t'
           << (siteCookie(rule).isEmpty() ? "no-cookie" : "cookie") << '\t' << rule.checkKeyword
           << '\t' << rule.checkInfoPageUrl << '\n';
}

// site [NAME [options]]: shows or sets a site's speed limits.
int siteCommand(QStringList args, Output& io) {
    if (args.isEmpty()) {
        for (const SiteRule& rule : loadSiteRules())
            printSiteSpeed(rule, io);
        return kFound;
    }
    const std::optional<SiteRule> rule = ruleNamed(args.takeFirst(), io);
    if (!rule)
        return kError;
    if (args.isEmpty()) {
        printSiteSpeed(*rule, io);
        return kFound;
    }
    if (args == QStringList{QStringLiteral("--reset")}) {
        resetSiteSpeed(*rule);
        printSiteSpeed(*rule, io);
        return kFound;
    }
    SiteSpeed speed = siteSpeed(*rule);
    SitePagingRow paging{rule->id, rule->chapterNextPage, rule->directoryNextPage,
                         rule->distinctLinks};
    SiteRule headers = *rule;
    std::optional<QString> cookie;
    SiteCheckRow check{rule->id, rule->checkKeyword, rule->checkInfoPageUrl};
    bool checkSet = false;
    bool speedSet = false;
    bool pagingSet = false;
    bool headersSet = false;
    bool headerLinesGiven = false;
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (args.isEmpty())
            return usageError(io);
        const QString value = args.takeFirst();
        bool number = true;
        const bool onOff = value == QLatin1String("on") || value == QLatin1String("off");
        const bool pagingOption = option == QLatin1String("--chapter-next") ||
                                  option == QLatin1String("--list-next") ||
                                  option == QLatin1String("--distinct");
        const bool headerOption = option == QLatin1String("--user-agent") ||
                                  option == QLatin1String("--referer") ||
                                  option == QLatin1String("--header");
        const bool checkOption =
            option == QLatin1String("--check-word") || option == QLatin1String("--check-page");
        if (option != QLatin1String("--cookie"))
            (checkOption    ? checkSet
             : pagingOption ? pagingSet
             : headerOption ? headersSet
                            : speedSet) = true;
        if (checkOption) {
            const QString given = value == QLatin1String("none") ? QString() : value.trimmed();
            (option == QLatin1String("--check-word") ? check.keyword : check.infoPageUrl) = given;
        } else if (option == QLatin1String("--user-agent")) {
            headers.userAgent = value;
        } else if (option == QLatin1String("--referer")) {
            headers.refererFromLink = value == QLatin1String("linked");
            headers.referer = value == QLatin1String("linked") || value == QLatin1String("none")
                                  ? QString()
                                  : value;
        } else if (option == QLatin1String("--header")) {
            // The first --header replaces the rule's lines, the next ones add to them; "none"
            // clears them.
            if (!headerLinesGiven)
                headers.extraHeaders.clear();
            headerLinesGiven = true;
            if (value != QLatin1String("none"))
                headers.extraHeaders +=
                    (headers.extraHeaders.isEmpty() ? QString() : QStringLiteral("\n")) + value;
        } else if (option == QLatin1String("--cookie")) {
            cookie = value == QLatin1String("none") ? QString() : value;
        } else if (option == QLatin1String("--in-flight"))
            speed.inFlight = value.toInt(&number);
        else if (option == QLatin1String("--spacing"))
            speed.spacingMs = value.toInt(&number);
        else if (option == QLatin1String("--adapt") && onOff)
            speed.adapt = value == QLatin1String("on");
        else if (option == QLatin1String("--chapter-next"))
            paging.chapterNextPage = value;
        else if (option == QLatin1String("--list-next"))
            paging.directoryNextPage = value;
        else if (option == QLatin1String("--distinct") && onOff)
            paging.distinctLinks = value == QLatin1String("on");
        else
            return usageError(io);
        if (!number) {
            io.err << "zvrd-cli: " << option << " 需要一个整数：" << value << '\n';
            return kError;
        }
    }
    for (const QString& problem : {speedLimitProblem(speed.inFlight, speed.spacingMs),
                                   nextPagePatternProblem(paging.chapterNextPage),
                                   nextPagePatternProblem(paging.directoryNextPage),
                                   requestHeadersProblem(headers, cookie.value_or(QString()))}) {
        if (!problem.isEmpty()) {
            io.err << "zvrd-cli: " << problem << '\n';
            return kError;
        }
    }
    if (speedSet)
        setSiteSpeed(*rule, speed.inFlight, speed.spacingMs, speed.adapt);
    if (pagingSet)
        setSitePaging(paging);
    if (headersSet)
        setSiteRequestHeaders(headers);
    if (cookie)
        setSiteCookie(*rule, *cookie);
    if (checkSet)
        setSiteCheckRow(check);
    const std::optional<SiteRule> changed = ruleNamed(rule->siteName, io);
    printSiteSpeed(changed ? *changed : *rule, io);
    return kFound;
}

int infoCommand(const SiteRule& rule, const QString& url, Output& io) {
    const NovelInfo info = parseInfoPage(url, rule);
    io.out << "isMatch=" << (info.matched ? 1 : 0) << '\n'
           << "strInfoPageUrl=" << info.infoPageUrl << '\n'
           << "strNovelName=" << info.name << '\n'
           << "strNovelAuthor=" << info.author << '\n'
           << "strLatestChapter=" << info.latestChapter << '\n'
           << "strDirectoryPageUrl=" << info.directoryPageUrl << '\n';
    const bool any = !info.name.isEmpty() || !info.author.isEmpty() ||
                     !info.latestChapter.isEmpty() || !info.directoryPageUrl.isEmpty();
    return any ? kFound : kNothing;
}

int directoryCommand(const SiteRule& rule, const QString& url, Output& io) {
    const ChapterList dir = parseDirectoryPage(url, rule);
    for (int i = 0; i < dir.count; ++i)
        io.out << i << '\t' << dir.names[i] << '\t' << dir.urls[i] << '\n';
    return dir.count > 0 ? kFound : kNothing;
}

int chapterCommand(const SiteRule& rule, const QString& url, bool pictures, Output& io) {
    const QString content = parseChapterContent(rule, url);
    if (!pictures) {
        if (!content.isEmpty())
            io.out << content << '\n';
        return content.isEmpty() ? kNothing : kFound;
    }
    const QStringList urls = imageUrls(content);
    for (const QString& address : urls)
        io.out << address << '\n';
    return urls.isEmpty() ? kNothing : kFound;
}

int searchPageCommand(const SiteRule& rule, const QString& url, Output& io) {
    const SearchResults data = parseSearchPage(url, rule);
    for (int i = 0; i < data.count; ++i)
        io.out << data.names[i] << '\t' << data.authors[i] << '\t' << data.latestChapters[i] << '\t'
               << data.infoPageUrls[i] << '\n';
    return data.count > 0 ? kFound : kNothing;
}

int importRulesCommand(const QString& file, const QString& base, Output& io) {
    int imported = 0;
    if (importRuleScript(file, base, &imported)) {
        io.out << QStringLiteral("已导入 %1 条站点规则。").arg(imported) << '\n';
        return kFound;
    }
    io.err << "zvrd-cli: cannot read " << file << '\n';
    return kError;
}

int runCommand(QStringList args, Output& io) {
    QString data;
    if (!args.isEmpty() && args[0] == QLatin1String("--data")) {
        // An empty value (an unset variable in a script) must not mean the default library.
        if (args.size() < 2 || args[1].isEmpty()) {
            io.err << "zvrd-cli: --data needs a folder\n";
            return usageError(io);
        }
        data = args[1];
        args = args.mid(2);
    }
    const DataFolderChoice folder = chooseDataFolder(data);
    if (!args.isEmpty() && (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
        io.out << kUsage << kDataFolderHelp << "Data folder in use: " << folder.path << " ("
               << folder.source << ")\n";
        return kFound;
    }
    if (!args.isEmpty() && args[0] == QLatin1String("--version")) {
        io.out << "zvrd-cli " << ZVRD_VERSION << '\n';
        return kFound;
    }
    if (args.isEmpty()) {
        return usageError(io);
    }
    if (const QString problem = prepareDataFolder(folder.path); !problem.isEmpty()) {
        io.err << "zvrd-cli: " << problem << '\n';
        return kError;
    }
    setDataFolder(folder.path);
    const QString command = args.takeFirst();
    // Commands that only read never write the library: a library of another account is read as
    // it is, and the owner's own one is written at start only when it has to be upgraded.
    static const QStringList readOnly = {QStringLiteral("info"),    QStringLiteral("directory"),
                                         QStringLiteral("chapter"), QStringLiteral("searchpage"),
                                         QStringLiteral("search"),  QStringLiteral("export")};
    const QString problem = libraryOwnershipProblem();
    // "site" with a name alone only shows.
    const bool shows = command == QLatin1String("site") && args.size() <= 1;
    const bool reading = (readOnly.contains(command) || shows) &&
                         QFileInfo::exists(ruleDatabasePath()) &&
                         QFileInfo::exists(novelDatabasePath());
    if (!problem.isEmpty() && !reading) {
        io.err << "zvrd-cli: " << problem << '\n';
        return kError;
    }
    const bool upgrade =
        !reading ||
        (problem.isEmpty() && (!libraryIsCurrent() || shippedRulesPending(shippedRulesFile())));
    if (upgrade) {
        // A first start on an empty folder gets the tables and the shipped rules.
        prepareLibrary();
        if (command != QLatin1String("import-rules")) {
            if (const QString notice =
                    keptRulesNotice(installShippedRules(shippedRulesFile()).keptSites);
                !notice.isEmpty())
                io.err << "zvrd-cli: " << notice << '\n';
        }
    }
    if (reading)
        setReadOnlyAccess(true);
    if (command == QLatin1String("import-rules")) {
        if (args.size() != 1 && !(args.size() == 3 && args[1] == QLatin1String("--base"))) {
            return usageError(io);
        }
        return importRulesCommand(args[0], args.size() == 3 ? args[2] : QString(), io);
    }
    if (command == QLatin1String("search")) {
        if (args.size() != 1) {
            return usageError(io);
        }
        return searchCommand(args[0], io);
    }
    if (command == QLatin1String("update")) {
        if (args.size() != 0 && args.size() != 2) {
            return usageError(io);
        }
        return args.isEmpty() ? updateCommand(QString(), QString(), io)
                              : updateCommand(args[0], args[1], io);
    }
    if (command == QLatin1String("remove")) {
        if (args.size() != 2) {
            return usageError(io);
        }
        return removeCommand(args[0], args[1], io);
    }
    if (command == QLatin1String("export"))
        return exportCommand(args, io);
    if (command == QLatin1String("site"))
        return siteCommand(args, io);
    if (command == QLatin1String("check"))
        return checkCommand(args, io.out, io.err);
    if (command == QLatin1String("switch")) {
        if (args.size() != 2 && args.size() != 3)
            return usageError(io);
        return switchCommand(args, io.out, io.err);
    }
    bool pictures = false;
    if (command == QLatin1String("chapter") && args.removeAll(QStringLiteral("--pictures")) > 0)
        pictures = true;
    const QStringList known = {QStringLiteral("info"), QStringLiteral("directory"),
                               QStringLiteral("chapter"), QStringLiteral("searchpage"),
                               QStringLiteral("download")};
    if (!known.contains(command) || args.size() != 2) {
        return usageError(io);
    }
    const std::optional<SiteRule> rule = ruleNamed(args[0], io);
    if (!rule)
        return kError;
    const QString& url = args[1];
    if (command == QLatin1String("info"))
        return infoCommand(*rule, url, io);
    if (command == QLatin1String("directory"))
        return directoryCommand(*rule, url, io);
    if (command == QLatin1String("chapter"))
        return chapterCommand(*rule, url, pictures, io);
    if (command == QLatin1String("download"))
        return downloadCommand(*rule, url, io);
    return searchPageCommand(*rule, url, io);
}

} // namespace

int main(int argc, char** argv) {
    http_global_init();
    int code = kError;
    {
        QCoreApplication app(argc, argv);
        Output io;
        try {
            code = runCommand(app.arguments().mid(1), io);
        } catch (const RegexException& e) {
            printError(e.message(), io);
        } catch (const SqliteException& e) {
            printError(e.message(), io);
        } catch (const std::exception& e) {
            printError(QString::fromUtf8(e.what()), io);
        }
    }
    http_global_cleanup();
    return code;
}
