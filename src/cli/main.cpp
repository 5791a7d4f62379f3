// zvrd-cli: the reader's engine from a terminal, for rule authors and scripts. Output is UTF-8,
// one record per line, fields separated by a tab. Exit 0: something found; 1: nothing found;
// 2: usage error, unknown site, regular-expression or database error (text on stderr).
#include "core/AppFolder.h"
#include "net/HttpLibrary.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/PatternNotation.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"
#include "workers/DirectoryThread.h"
#include "workers/HeadlessSurface.h"
#include "workers/SearchThread.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <optional>

using namespace zvrd;

namespace {

constexpr int kFound = 0;
constexpr int kNothing = 1;
constexpr int kError = 2;

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
    "                           list, every chapter stored; prints the final status text\n"
    "  import-rules FILE [--base URL]\n"
    "                           runs the SQL of FILE on zvrd.db (\"@BASE@\" becomes URL)\n";

struct Output {
    QTextStream out{stdout};
    QTextStream err{stderr};
    Output() {
        out.setEncoding(QStringConverter::Utf8);
        err.setEncoding(QStringConverter::Utf8);
    }
};

// The window surface of a terminal: rows on stdout, status texts on stderr.
std::shared_ptr<THeadlessSurface> ConsoleSurface(Output& io) {
    return std::make_shared<THeadlessSurface>(
        [&io](const QString& site, const QString& name, const QString& author,
              const QString& latest, const QString& url) {
            io.out << site << '\t' << name << '\t' << author << '\t' << latest << '\t' << url
                   << '\n';
            io.out.flush();
        },
        [&io](const QString& text) {
            io.err << text << '\n';
            io.err.flush();
        });
}

int Search(const QString& name, Output& io) {
    auto surface = ConsoleSurface(io);
    auto search = std::make_unique<TSearchThread>(name, surface, TWorkerThread::Ownership::Held);
    search->Join();
    return surface->GetResultCount() > 0 ? kFound : kNothing;
}

int Download(const TRuleInfo& rule, const QString& url, Output& io) {
    ExtractTemplates();
    // As a double-click on a result row: the stored record of a novel opened before, otherwise
    // the information page.
    TInfoPageData info = ParseInfoPage(url, rule);
    if (HasLatestRead(rule.strSiteName, info.strNovelName)) {
        std::lock_guard lock(AppMutex());
        info = GetLatestReadInfo(rule.strSiteName, info.strNovelName);
    }
    auto surface = ConsoleSurface(io);
    auto worker = std::make_unique<TDirectoryThread>(info, rule.strSiteName, surface, false,
                                                     TWorkerThread::Ownership::Held);
    worker->Join();
    const QString last = surface->LastStatus();
    io.out << last << '\n';
    const bool opened = last == QStringLiteral("所有章节已下载完成") ||
                        last.startsWith(QStringLiteral("成功提取到小说目录"));
    return opened ? kFound : kNothing;
}

std::optional<TRuleInfo> RuleNamed(const QString& site, Output& io) {
    for (const TRuleInfo& rule : LoadRuleInfoList()) {
        if (rule.strSiteName == site)
            return rule;
    }
    io.err << "zvrd-cli: no site rule named \"" << site << "\"\n";
    return std::nullopt;
}

int Info(const TRuleInfo& rule, const QString& url, Output& io) {
    const TInfoPageData info = ParseInfoPage(url, rule);
    io.out << "isMatch=" << (info.isMatch ? 1 : 0) << '\n'
           << "strInfoPageUrl=" << info.strInfoPageUrl << '\n'
           << "strNovelName=" << info.strNovelName << '\n'
           << "strNovelAuthor=" << info.strNovelAuthor << '\n'
           << "strLatestChapter=" << info.strLatestChapter << '\n'
           << "strDirectoryPageUrl=" << info.strDirectoryPageUrl << '\n';
    const bool any = !info.strNovelName.isEmpty() || !info.strNovelAuthor.isEmpty() ||
                     !info.strLatestChapter.isEmpty() || !info.strDirectoryPageUrl.isEmpty();
    return any ? kFound : kNothing;
}

int Directory(const TRuleInfo& rule, const QString& url, Output& io) {
    const TDirectoryPageData dir = ParseDirectoryPage(url, rule);
    for (int i = 0; i < dir.Num; ++i)
        io.out << i << '\t' << dir.slChapterNameList[i] << '\t' << dir.slChapterUrlList[i] << '\n';
    return dir.Num > 0 ? kFound : kNothing;
}

int Chapter(const TRuleInfo& rule, const QString& url, bool pictures, Output& io) {
    const QString content = ParseChapterContent(rule, url);
    if (!pictures) {
        if (!content.isEmpty())
            io.out << content << '\n';
        return content.isEmpty() ? kNothing : kFound;
    }
    const QStringList urls = GetImageUrls(content);
    for (const QString& address : urls)
        io.out << address << '\n';
    return urls.isEmpty() ? kNothing : kFound;
}

int SearchPage(const TRuleInfo& rule, const QString& url, Output& io) {
    const TSearchPageData data = ParseSearchPage(url, rule);
    for (int i = 0; i < data.Num; ++i)
        io.out << data.slNovelNameList[i] << '\t' << data.slNovelAuthorList[i] << '\t'
               << data.slLatestChapterList[i] << '\t' << data.slNovelInfoPageUrlList[i] << '\n';
    return data.Num > 0 ? kFound : kNothing;
}

int ImportRules(const QString& file, const QString& base, Output& io) {
    if (ImportRuleScript(file, base))
        return kFound;
    io.err << "zvrd-cli: cannot read " << file << '\n';
    return kError;
}

int Run(QStringList args, Output& io) {
    if (args.size() >= 2 && args[0] == QLatin1String("--data")) {
        SetAppFolder(args[1]);
        args = args.mid(2);
    }
    if (args.isEmpty()) {
        io.err << kUsage;
        return kError;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("import-rules")) {
        if (args.size() != 1 && !(args.size() == 3 && args[1] == QLatin1String("--base"))) {
            io.err << kUsage;
            return kError;
        }
        return ImportRules(args[0], args.size() == 3 ? args[2] : QString(), io);
    }
    if (command == QLatin1String("search") || command == QLatin1String("download"))
        CreateMissingTables(); // the recent reads and the novel store of a fresh data folder
    if (command == QLatin1String("search")) {
        if (args.size() != 1) {
            io.err << kUsage;
            return kError;
        }
        return Search(args[0], io);
    }
    bool pictures = false;
    if (command == QLatin1String("chapter") && args.removeAll(QStringLiteral("--pictures")) > 0)
        pictures = true;
    const QStringList known = {QStringLiteral("info"), QStringLiteral("directory"),
                               QStringLiteral("chapter"), QStringLiteral("searchpage"),
                               QStringLiteral("download")};
    if (!known.contains(command) || args.size() != 2) {
        io.err << kUsage;
        return kError;
    }
    const std::optional<TRuleInfo> rule = RuleNamed(args[0], io);
    if (!rule)
        return kError;
    const QString& url = args[1];
    if (command == QLatin1String("info"))
        return Info(*rule, url, io);
    if (command == QLatin1String("directory"))
        return Directory(*rule, url, io);
    if (command == QLatin1String("chapter"))
        return Chapter(*rule, url, pictures, io);
    if (command == QLatin1String("download"))
        return Download(*rule, url, io);
    return SearchPage(*rule, url, io);
}

} // namespace

int main(int argc, char** argv) {
    http_global_init();
    int code = kError;
    {
        QCoreApplication app(argc, argv);
        Output io;
        try {
            code = Run(app.arguments().mid(1), io);
        } catch (const ERegexException& e) {
            io.err << e.Message() << '\n';
        } catch (const ESQLiteException& e) {
            io.err << e.Message() << '\n';
        }
    }
    http_global_cleanup();
    return code;
}
