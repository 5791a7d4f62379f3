#include "Commands.h"

#include "workers/SiteCheck.h"

namespace zvrd {
namespace {

QString outcomeText(CheckOutcome outcome) {
    switch (outcome) {
    case CheckOutcome::Ok:
        return QStringLiteral("正常");
    case CheckOutcome::Skipped:
        return QStringLiteral("跳过");
    case CheckOutcome::NoAnswer:
        return QStringLiteral("无法连接");
    case CheckOutcome::HttpStatus:
        return QStringLiteral("HTTP 出错");
    case CheckOutcome::Elsewhere:
        return QStringLiteral("跳转他站");
    case CheckOutcome::AntiBot:
        return QStringLiteral("人机验证");
    case CheckOutcome::Unmatched:
        return QStringLiteral("规则不匹配");
    case CheckOutcome::ShortList:
        return QStringLiteral("目录过短");
    case CheckOutcome::ShortText:
        return QStringLiteral("正文过短");
    case CheckOutcome::RuleError:
        return QStringLiteral("规则出错");
    case CheckOutcome::NotCheckable:
        return QStringLiteral("未能检查");
    }
    return QString();
}

void printResult(const SiteCheckResult& result, QTextStream& out) {
    for (const CheckStepResult& step : result.steps) {
        out << result.siteName << '\t' << checkStepName(step.step) << '\t'
            << outcomeText(step.outcome) << '\t' << step.elapsedMs << " ms\t"
            << stepReasonText(step) << '\n';
        for (const QString& line : step.detail)
            out << "    " << line << '\n';
    }
    out << result.siteName << '\t' << QStringLiteral("状态") << '\t' << result.status() << '\t'
        << result.elapsedMs << " ms\t" << result.reason() << '\n';
    out.flush();
}

} // namespace

int checkCommand(QStringList args, QTextStream& out, QTextStream& err) {
    QString keyword;
    bool verbose = false;
    QStringList names;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("--verbose")) {
            verbose = true;
        } else if (arg == QLatin1String("--keyword")) {
            if (args.isEmpty() || args.first().trimmed().isEmpty()) {
                err << "zvrd-cli: --keyword needs a word\n";
                return 2;
            }
            keyword = args.takeFirst().trimmed();
        } else if (arg.startsWith(QLatin1String("--"))) {
            err << "zvrd-cli: unknown option " << arg << '\n';
            return 2;
        } else {
            names.append(arg);
        }
    }
    const SiteRuleList all = loadSiteRules();
    SiteRuleList rules;
    for (const QString& name : names) {
        const auto found = std::find_if(all.begin(), all.end(), [&](const SiteRule& rule) {
            return rule.siteName == name || rule.id == name;
        });
        if (found == all.end()) {
            err << "zvrd-cli: no site rule named \"" << name << "\"\n";
            return 2;
        }
        rules.append(*found);
    }
    if (names.isEmpty())
        rules = all;
    if (rules.isEmpty()) {
        err << "zvrd-cli: no site rules\n";
        return 2;
    }
    const QList<SiteCheckResult> results =
        checkSites(rules, keyword, verbose,
                   [&out](const SiteCheckResult& result) { printResult(result, out); });
    const bool allOk = std::all_of(results.begin(), results.end(),
                                   [](const SiteCheckResult& result) { return result.ok(); });
    return allOk ? 0 : 1;
}

} // namespace zvrd
