#include "Commands.h"

#include "store/NovelLibrary.h"
#include "workers/SourceSwitch.h"

namespace zvrd {

int switchCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    const QString& site = args[0];
    const QString& name = args[1];
    const int32_t id = recentReadId(site, name);
    if (id < 0) {
        err << "zvrd-cli: no novel \"" << name << "\" of site \"" << site << "\"\n";
        return 1;
    }
    const NovelInfo novel = recentReadInfo(site, name);
    const QList<SourceCandidate> found = findOtherSources(id, site, name, novel.author);
    if (args.size() == 2) {
        for (const SourceCandidate& c : found)
            out << c.siteName << '\t' << c.info.name << '\t' << c.info.author << '\t'
                << c.info.latestChapter << '\t' << c.list.count << '\t' << c.answerMs << '\t'
                << (c.sameAuthor ? "same-author" : "other-author") << '\n';
        if (found.isEmpty())
            err << QStringLiteral("其他目标站都没有找到《%1》。").arg(name) << '\n';
        return found.isEmpty() ? 1 : 0;
    }
    for (const SourceCandidate& c : found) {
        if (c.siteName != args[2])
            continue;
        const SwitchOutcome outcome = switchSource(id, c);
        out << outcome.statusText << '\n';
        return outcome.novelId >= 0 ? 0 : 1;
    }
    err << QStringLiteral("目标站「%1」没有找到《%2》。").arg(args[2], name) << '\n';
    return 1;
}

} // namespace zvrd
