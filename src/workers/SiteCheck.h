// workers: the health check of site rules. For each site the chain a reader goes through,
// search -> information page of the first hit -> chapter list -> first and last chapter, one
// request at a time through the site's limiter; each step ok or why not (no answer, HTTP status,
// redirected to another site, an anti-bot page, the rule field that matched nothing, a list far
// shorter than the latest chapter says, a chapter with next to no text), and its time. Results
// are kept in zvrd.db, so a step that fails now says when it was last ok.
#pragma once

#include "rules/RuleSet.h"
#include "store/SiteChecks.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace zvrd {

enum class CheckStep { Search = 0, Info, Directory, FirstChapter, LastChapter };
constexpr int kCheckStepCount = 5;

enum class CheckOutcome {
    Ok = 0,
    Skipped,      // not tried: an earlier step failed, or the rule has no such step
    NoAnswer,     // no answer, a time-out or a server error (5xx)
    HttpStatus,   // another status than 200
    Elsewhere,    // redirected to another site
    AntiBot,      // a script redirect, a captcha or challenge page instead of the page
    Unmatched,    // a rule field matched nothing (field names it)
    ShortList,    // far fewer chapters than the latest chapter's number
    ShortText,    // a chapter with next to no text
    RuleError,    // a pattern that does not compile or runs too long
    NotCheckable, // no search and no information page to start from
};

struct CheckStepResult {
    CheckStep step = CheckStep::Search;
    CheckOutcome outcome = CheckOutcome::Skipped;
    QString reason; // why not; for a step that is ok, what it found
    QString field;  // the site_rule column that matched nothing
    int elapsedMs = 0;
    int64_t lastOkAt = 0; // seconds since the epoch the step was last ok (0: never)
    QStringList detail;   // what was fetched and captured (kept only for a verbose check)
    bool ok() const { return outcome == CheckOutcome::Ok || outcome == CheckOutcome::Skipped; }
};

struct SiteCheckResult {
    QString siteId;
    QString siteName;
    int64_t checkedAt = 0; // seconds since the epoch
    int elapsedMs = 0;
    QList<CheckStepResult> steps;
    bool ok() const;
    // 正常, 搜索失效, 信息页失效, 目录失效, 正文失效, 无法连接, 人机验证 or 未能检查.
    QString status() const;
    // The first failing step's reason, with when it was last ok; empty when ok.
    QString reason() const;
};

// The word searched for when a rule names none: a title nearly every novel site carries.
QString defaultCheckKeyword();
// 搜索, 信息页, 目录, 第一章, 最后一章.
QString checkStepName(CheckStep step);
// A step's reason with "上次正常：DATE" when it failed after having been ok.
QString stepReasonText(const CheckStepResult& step);
// Whether a page (with what its visible text holds) is an anti-bot page: a script or meta
// redirect or a captcha or challenge form, with next to no text of its own.
bool looksLikeAntiBotPage(const QString& page);

// One site checked now (keyword empty: the rule's own check word, else the default) and the
// result kept. With verbose, each step's detail lines are filled.
SiteCheckResult checkSite(const SiteRule& rule, const QString& keyword = QString(),
                          bool verbose = false);

// Every site of rules checked side by side (one thread each, all started at once), each result
// handed to done as it ends (on that site's thread, one call at a time); the results in the
// order of rules. stop, when set, ends every check at its next step.
using CheckDone = std::function<void(const SiteCheckResult&)>;
QList<SiteCheckResult> checkSites(const SiteRuleList& rules, const QString& keyword, bool verbose,
                                  const CheckDone& done = CheckDone(),
                                  std::shared_ptr<std::atomic<bool>> stop = nullptr);

// The last kept check of each rule (by id); a rule never checked is absent.
QHash<QString, SiteCheckResult> lastChecks(const SiteRuleList& rules);

} // namespace zvrd
