#include "workers/SiteCheck.h"

#include "core/ChapterMatch.h"
#include "net/WebFetch.h"
#include "rules/Extractors.h"
#include "rules/PatternNotation.h"
#include "workers/SearchWorkers.h"
#include "workers/Worker.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QUrl>

#include <mutex>

namespace zvrd {
namespace {

// A chapter with fewer characters of text than this is next to empty.
constexpr int kShortestChapter = 50;
// An anti-bot page says next to nothing of its own.
constexpr int kMostAntiBotText = 500;

// The text a reader would see: scripts, styles, tags and white space gone.
QString visibleText(const QString& page) {
    static const QRegularExpression hidden(
        QStringLiteral("<(script|style)\\b.*?</\\1\\s*>|<!--.*?-->|<[^>]*>|&nbsp;|\\s+"),
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
    QString text = page;
    return text.remove(hidden);
}

// The domain a host belongs to: its last two labels (an address or a one-label name whole).
QString domainOf(const QString& url) {
    const QString host = QUrl(url).host().toLower();
    static const QRegularExpression address(QStringLiteral("^[0-9.]+$|:"));
    if (address.match(host).hasMatch())
        return host;
    const QStringList labels = host.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    return labels.size() <= 2 ? host : labels.mid(labels.size() - 2).join(QLatin1Char('.'));
}

bool isElsewhere(const QString& asked, const QString& answered) {
    return !answered.isEmpty() && domainOf(asked) != domainOf(answered);
}

QString firstBytes(const QString& page) {
    const QString line = page.simplified();
    return line.size() > 160 ? line.left(159) + QChar(0x2026) : line;
}

QString dateText(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// One site's chain, step by step.
class Chain {
public:
    Chain(const SiteRule& rule, bool verbose) : m_rule(rule), m_verbose(verbose) {}

    CheckStepResult& begin(CheckStep step) {
        m_steps.append(CheckStepResult{});
        m_steps.back().step = step;
        m_steps.back().outcome = CheckOutcome::Ok;
        m_timer.start();
        return m_steps.back();
    }
    void end(CheckStepResult& step) { step.elapsedMs = static_cast<int>(m_timer.elapsed()); }
    void skipRest(const QString& reason) {
        while (m_steps.size() < kCheckStepCount) {
            CheckStepResult& step = begin(static_cast<CheckStep>(m_steps.size()));
            step.outcome = CheckOutcome::Skipped;
            step.reason = reason;
        }
    }
    QList<CheckStepResult> steps() const { return m_steps; }

    void noteFetch(CheckStepResult& step, const QString& url, const QString& landed, int status,
                   const QString& page) {
        if (!m_verbose)
            return;
        step.detail << QStringLiteral("地址 ") + url;
        if (!landed.isEmpty() && landed != url)
            step.detail << QStringLiteral("跳转到 ") + landed;
        step.detail << (status < 0 ? QStringLiteral("没有应答")
                                   : QStringLiteral("状态 %1").arg(status));
        if (!page.isEmpty())
            step.detail << QStringLiteral("开头 ") + firstBytes(page);
    }
    void noteTrace(CheckStepResult& step, const ExtractionTrace& trace) {
        if (!m_verbose)
            return;
        for (const FieldCapture& capture : trace) {
            step.detail << QStringLiteral("%1：%2 处").arg(capture.column).arg(capture.matches);
            for (const QString& value : capture.values)
                step.detail << QStringLiteral("  → ") + value;
        }
    }

    // Why a page that answered did not give what the rule looks for.
    void explainMiss(CheckStepResult& step, const QString& asked, const QString& landed,
                     const QString& page, const ExtractionTrace& trace) {
        if (looksLikeAntiBotPage(page)) {
            step.outcome = CheckOutcome::AntiBot;
            step.reason = QStringLiteral("目标站返回了人机验证或脚本跳转页面");
            return;
        }
        if (isElsewhere(asked, landed)) {
            step.outcome = CheckOutcome::Elsewhere;
            step.reason = QStringLiteral("跳转到了其他网站：%1").arg(landed);
            return;
        }
        step.outcome = CheckOutcome::Unmatched;
        for (const FieldCapture& capture : trace) {
            if (capture.matches == 0) {
                step.field = capture.column;
                step.reason = QStringLiteral("规则 %1 没有匹配到内容").arg(capture.column);
                return;
            }
        }
        step.reason = QStringLiteral("规则各项匹配到的数目不一致：");
        QStringList counts;
        for (const FieldCapture& capture : trace)
            counts << QStringLiteral("%1 %2 处").arg(capture.column).arg(capture.matches);
        step.reason += counts.join(QStringLiteral("，"));
        if (!trace.isEmpty())
            step.field = trace.back().column;
    }

    // Whether a page fetched for a step answered; if not, the step says why.
    bool answered(CheckStepResult& step, const QString& asked, const FollowedPage& page,
                  const QString& text) {
        noteFetch(step, asked, page.url, page.status, text);
        if (page.status == 200)
            return true;
        if (page.status < 0) {
            step.outcome = CheckOutcome::NoAnswer;
            step.reason = QStringLiteral("目标站没有应答或超时");
        } else if (looksLikeAntiBotPage(text)) {
            step.outcome = CheckOutcome::AntiBot;
            step.reason = QStringLiteral("目标站返回了人机验证页面（HTTP %1）").arg(page.status);
        } else if (isElsewhere(asked, page.url)) {
            step.outcome = CheckOutcome::Elsewhere;
            step.reason = QStringLiteral("跳转到了其他网站：%1").arg(page.url);
        } else if (page.status >= 500) {
            step.outcome = CheckOutcome::NoAnswer;
            step.reason = QStringLiteral("目标站出错（HTTP %1）").arg(page.status);
        } else {
            step.outcome = CheckOutcome::HttpStatus;
            step.reason = QStringLiteral("目标站回答 HTTP %1").arg(page.status);
        }
        return false;
    }

    const SiteRule& rule() const { return m_rule; }

private:
    const SiteRule& m_rule;
    bool m_verbose;
    QList<CheckStepResult> m_steps;
    QElapsedTimer m_timer;
};

// The search step; the information page of its first hit, or empty.
QString searchStep(Chain& chain, const QString& keyword, QString* searchUrl) {
    const SiteRule& rule = chain.rule();
    CheckStepResult& step = chain.begin(CheckStep::Search);
    if (rule.searchUrlFormat.isEmpty()) {
        step.outcome = CheckOutcome::Skipped;
        step.reason = QStringLiteral("规则没有搜索");
        chain.end(step);
        return QString();
    }
    QString format = rule.searchUrlFormat;
    const QString address = encodeSearchUrl(format.replace(QStringLiteral("{KEY}"), keyword));
    *searchUrl = address;
    const FetchedPage page = fetchPage(address, rule.charset);
    QString infoUrl;
    if (page.status == 302) {
        // The site jumped to the one novel it found, as the search follows it.
        const QString location = combineUrl(address, locationOf(page.header));
        chain.noteFetch(step, address, location, page.status, QString());
        if (isElsewhere(address, location)) {
            step.outcome = CheckOutcome::Elsewhere;
            step.reason = QStringLiteral("跳转到了其他网站：%1").arg(location);
        } else {
            infoUrl = location;
            step.reason = QStringLiteral("目标站直接跳到唯一的结果");
        }
    } else if (FollowedPage answer{page.status, address, {}};
               chain.answered(step, address, answer, page.body)) {
        ExtractionTrace trace;
        const SearchResults results = extractSearchPage(page.body, address, rule, &trace);
        chain.noteTrace(step, trace);
        if (results.count > 0) {
            infoUrl = results.infoPageUrls.first();
            step.reason = QStringLiteral("搜索「%1」得到 %2 个结果，第一个：%3")
                              .arg(keyword)
                              .arg(results.count)
                              .arg(results.names.first());
        } else {
            chain.explainMiss(step, address, address, page.body, trace);
            if (step.outcome == CheckOutcome::Unmatched)
                step.reason = QStringLiteral("搜索「%1」：%2").arg(keyword, step.reason);
        }
    }
    chain.end(step);
    return infoUrl;
}

// The information step; the novel found (matched false when the step failed).
NovelInfo infoStep(Chain& chain, const QString& infoUrl, const QString& linkedFrom) {
    const SiteRule& rule = chain.rule();
    CheckStepResult& step = chain.begin(CheckStep::Info);
    const FollowedPage page = fetchFollowing(infoUrl, linkedFrom);
    const QString text = decodeBody(page.body, rule.charset);
    NovelInfo info;
    if (chain.answered(step, infoUrl, page, text)) {
        ExtractionTrace trace;
        info = extractInfoPage(text, page.url, rule, &trace);
        info.infoPageUrl = infoUrl;
        chain.noteTrace(step, trace);
        if (info.matched)
            step.reason = QStringLiteral("《%1》%2，最新章节：%3")
                              .arg(info.name, info.author, info.latestChapter);
        else
            chain.explainMiss(step, infoUrl, page.url, text, trace);
    }
    chain.end(step);
    return info;
}

ChapterList directoryStep(Chain& chain, const NovelInfo& info) {
    const SiteRule& rule = chain.rule();
    CheckStepResult& step = chain.begin(CheckStep::Directory);
    const QString& url = info.directoryPageUrl;
    const FollowedPage page = fetchFollowing(url, info.infoPageUrl);
    const QString text = decodeBody(page.body, rule.charset);
    ChapterList list;
    if (chain.answered(step, url, page, text)) {
        ExtractionTrace trace;
        int pages = 1;
        list = directoryOverPages(
            text, page.url, rule,
            [&pages](const QString& next, const QString& from) {
                ++pages;
                return fetchFollowing(next, from);
            },
            &trace);
        chain.noteTrace(step, trace);
        const int latest = chapterNumber(info.latestChapter);
        if (list.count == 0 && !trace.isEmpty() && trace.back().matches > 0) {
            step.outcome = CheckOutcome::Unmatched;
            step.field = QStringLiteral("directory_next_page");
            step.reason = QStringLiteral("目录的第 %1 页没有读到章节").arg(pages);
        } else if (list.count == 0) {
            chain.explainMiss(step, url, page.url, text, trace);
        } else if (latest > 0 && list.count < latest / 2) {
            step.outcome = CheckOutcome::ShortList;
            step.reason = QStringLiteral("目录只有 %1 章，最新章节却是「%2」")
                              .arg(list.count)
                              .arg(info.latestChapter);
        } else {
            step.reason = pages > 1 ? QStringLiteral("%1 章（%2 页）").arg(list.count).arg(pages)
                                    : QStringLiteral("%1 章").arg(list.count);
        }
    }
    chain.end(step);
    return list;
}

bool chapterStep(Chain& chain, CheckStep which, const QString& name, const QString& url,
                 const QString& linkedFrom) {
    const SiteRule& rule = chain.rule();
    CheckStepResult& step = chain.begin(which);
    const FollowedPage page = fetchFollowing(url, linkedFrom);
    const QString text = decodeBody(page.body, rule.charset);
    if (chain.answered(step, url, page, text)) {
        int32_t failedStatus = 200;
        const QString content = chapterOverPages(
            text, page.url, rule,
            [](const QString& next, const QString& from) { return fetchFollowing(next, from); },
            &failedStatus);
        ExtractionTrace trace;
        if (content.isEmpty() || !step.detail.isEmpty())
            extractChapterContent(text, rule, &trace);
        chain.noteTrace(step, trace);
        const qsizetype characters = visibleText(content).size();
        if (content.isEmpty() && failedStatus != 200 && !trace.isEmpty() && trace[0].matches > 0) {
            step.outcome = CheckOutcome::HttpStatus;
            step.field = QStringLiteral("chapter_next_page");
            step.reason =
                QStringLiteral("「%1」的下一页读取失败（HTTP %2）").arg(name).arg(failedStatus);
        } else if (content.isEmpty()) {
            chain.explainMiss(step, url, page.url, text, trace);
        } else if (characters < kShortestChapter && imageUrls(content).isEmpty()) {
            step.outcome = CheckOutcome::ShortText;
            step.reason = QStringLiteral("「%1」的正文只有 %2 个字").arg(name).arg(characters);
        } else {
            step.reason = QStringLiteral("「%1」%2 个字").arg(name).arg(characters);
        }
    }
    chain.end(step);
    return step.outcome == CheckOutcome::Ok;
}

QList<CheckStepResult> runChain(const SiteRule& rule, const QString& keyword, bool verbose,
                                const std::atomic<bool>* stop) {
    Chain chain(rule, verbose);
    const auto stopped = [stop] { return stop && stop->load(); };
    const QString stoppedText = QStringLiteral("检查已停止");
    try {
        QString searchUrl;
        QString infoUrl = searchStep(chain, keyword, &searchUrl);
        if (infoUrl.isEmpty() && !rule.checkInfoPageUrl.isEmpty()) {
            // The rest of the chain still tells whether reading works.
            infoUrl = rule.checkInfoPageUrl;
            searchUrl.clear();
        }
        if (infoUrl.isEmpty()) {
            chain.skipRest(QStringLiteral("搜索没有结果，无从检查"));
            QList<CheckStepResult> steps = chain.steps();
            if (rule.searchUrlFormat.isEmpty()) {
                steps[0].outcome = CheckOutcome::NotCheckable;
                steps[0].reason = QStringLiteral("规则没有搜索，也没有检查用的信息页");
            }
            return steps;
        }
        if (stopped()) {
            chain.skipRest(stoppedText);
            return chain.steps();
        }
        const NovelInfo info = infoStep(chain, infoUrl, searchUrl);
        if (!info.matched || stopped()) {
            chain.skipRest(stopped() ? stoppedText : QStringLiteral("信息页不通，无从检查"));
            return chain.steps();
        }
        const ChapterList list = directoryStep(chain, info);
        if (list.count == 0 || stopped()) {
            chain.skipRest(stopped() ? stoppedText : QStringLiteral("目录不通，无从检查"));
            return chain.steps();
        }
        const QString& listUrl = list.pageUrl;
        chapterStep(chain, CheckStep::FirstChapter, list.names.first(), list.urls.first(), listUrl);
        if (stopped()) {
            chain.skipRest(stoppedText);
            return chain.steps();
        }
        chapterStep(chain, CheckStep::LastChapter, list.names.last(), list.urls.last(), listUrl);
    } catch (const RegexException& e) {
        // A pattern that does not compile or runs too long fails the step it stands in.
        QList<CheckStepResult> steps = chain.steps();
        CheckStepResult& step = steps.back();
        step.outcome = CheckOutcome::RuleError;
        step.reason = e.message();
        for (int i = static_cast<int>(steps.size()); i < kCheckStepCount; ++i) {
            CheckStepResult skipped;
            skipped.step = static_cast<CheckStep>(i);
            skipped.reason = QStringLiteral("规则出错，无从检查");
            steps.append(skipped);
        }
        return steps;
    }
    return chain.steps();
}

} // namespace

QString defaultCheckKeyword() {
    return QStringLiteral("凡人修仙传");
}

QString checkStepName(CheckStep step) {
    switch (step) {
    case CheckStep::Search:
        return QStringLiteral("搜索");
    case CheckStep::Info:
        return QStringLiteral("信息页");
    case CheckStep::Directory:
        return QStringLiteral("目录");
    case CheckStep::FirstChapter:
        return QStringLiteral("第一章");
    case CheckStep::LastChapter:
        return QStringLiteral("最后一章");
    }
    return QString();
}

QString stepReasonText(const CheckStepResult& step) {
    if (step.ok() || step.lastOkAt <= 0)
        return step.reason;
    return QStringLiteral("%1（上次正常：%2，之后有变）").arg(step.reason, dateText(step.lastOkAt));
}

bool looksLikeAntiBotPage(const QString& page) {
    static const QRegularExpression redirect(
        QStringLiteral("<script\\b[^>]*>[^<]*\\blocation(\\.href)?\\s*=|"
                       "<script\\b[^>]*>[^<]*\\blocation\\.(replace|assign)\\s*\\(|"
                       "<meta[^>]+http-equiv\\s*=\\s*[\"']?refresh"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression challenge(
        QStringLiteral("captcha|geetest|turnstile|cf-chl|challenge-form|人机验证|安全验证|"
                       "验证码|滑动验证|请完成验证"),
        QRegularExpression::CaseInsensitiveOption);
    if (!redirect.match(page).hasMatch() && !challenge.match(page).hasMatch())
        return false;
    return visibleText(page).size() < kMostAntiBotText;
}

bool SiteCheckResult::ok() const {
    for (const CheckStepResult& step : steps) {
        if (!step.ok())
            return false;
    }
    return true;
}

QString SiteCheckResult::status() const {
    for (const CheckStepResult& step : steps) {
        if (step.ok())
            continue;
        switch (step.outcome) {
        case CheckOutcome::NoAnswer:
            return QStringLiteral("无法连接");
        case CheckOutcome::AntiBot:
            return QStringLiteral("人机验证");
        case CheckOutcome::NotCheckable:
            return QStringLiteral("未能检查");
        default:
            break;
        }
        switch (step.step) {
        case CheckStep::Search:
            return QStringLiteral("搜索失效");
        case CheckStep::Info:
            return QStringLiteral("信息页失效");
        case CheckStep::Directory:
            return QStringLiteral("目录失效");
        default:
            return QStringLiteral("正文失效");
        }
    }
    return QStringLiteral("正常");
}

QString SiteCheckResult::reason() const {
    for (const CheckStepResult& step : steps) {
        if (!step.ok())
            return checkStepName(step.step) + QStringLiteral("：") + stepReasonText(step);
    }
    return QString();
}

SiteCheckResult checkSite(const SiteRule& rule, const QString& keyword, bool verbose) {
    return checkSites({rule}, keyword, verbose).value(0);
}

namespace {

SiteCheckResult checkAndKeep(const SiteRule& rule, const QString& keyword, bool verbose,
                             const std::atomic<bool>* stop) {
    SiteCheckResult result;
    result.siteId = rule.id;
    result.siteName = rule.siteName;
    result.checkedAt = QDateTime::currentSecsSinceEpoch();
    QElapsedTimer timer;
    timer.start();
    const QString word = !keyword.isEmpty()             ? keyword
                         : !rule.checkKeyword.isEmpty() ? rule.checkKeyword
                                                        : defaultCheckKeyword();
    result.steps = runChain(rule, word, verbose, stop);
    result.elapsedMs = static_cast<int>(timer.elapsed());
    if (stop && stop->load())
        return result; // a check cut short is not the site's state
    StoredCheck kept;
    for (const CheckStepResult& step : result.steps)
        kept.append({static_cast<int>(step.step), static_cast<int>(step.outcome), step.reason,
                     step.field, step.elapsedMs, result.checkedAt, 0});
    kept = recordCheck(rule.id, rule.siteUrl, kept);
    for (const StoredCheckStep& row : kept) {
        if (row.step >= 0 && row.step < result.steps.size())
            result.steps[row.step].lastOkAt = row.outcome == 0 ? 0 : row.lastOkAt;
    }
    return result;
}

class SiteCheckWorker : public Worker {
public:
    SiteCheckWorker(const SiteRule& rule, const QString& keyword, bool verbose,
                    const CheckDone& done, std::mutex& doneLock, const std::atomic<bool>* stop)
        : Worker(Ownership::Held), m_rule(rule), m_keyword(keyword), m_verbose(verbose),
          m_done(done), m_doneLock(doneLock), m_stop(stop) {
        start();
    }
    SiteCheckResult result;

protected:
    void run() override {
        result = checkAndKeep(m_rule, m_keyword, m_verbose, m_stop);
        if (m_done) {
            std::lock_guard lock(m_doneLock);
            m_done(result);
        }
    }

private:
    SiteRule m_rule;
    QString m_keyword;
    bool m_verbose;
    const CheckDone& m_done;
    std::mutex& m_doneLock;
    const std::atomic<bool>* m_stop;
};

} // namespace

QList<SiteCheckResult> checkSites(const SiteRuleList& rules, const QString& keyword, bool verbose,
                                  const CheckDone& done, std::shared_ptr<std::atomic<bool>> stop) {
    std::mutex doneLock;
    std::vector<std::unique_ptr<SiteCheckWorker>> workers;
    // All at once: each site's limiter already spaces what goes to one server, and a start
    // spacing here would only add to the slowest site's time.
    for (const SiteRule& rule : rules) {
        workers.push_back(
            std::make_unique<SiteCheckWorker>(rule, keyword, verbose, done, doneLock, stop.get()));
    }
    QList<SiteCheckResult> results;
    QString error;
    for (auto& worker : workers) {
        worker->join();
        if (error.isEmpty())
            error = worker->errorText();
        results.append(worker->result);
    }
    if (!error.isEmpty())
        throw std::runtime_error(error.toStdString());
    return results;
}

QHash<QString, SiteCheckResult> lastChecks(const SiteRuleList& rules) {
    QHash<QString, QString> urls;
    QHash<QString, QString> names;
    for (const SiteRule& rule : rules) {
        urls.insert(rule.id, rule.siteUrl);
        names.insert(rule.id, rule.siteName);
    }
    QHash<QString, SiteCheckResult> checks;
    const QHash<QString, StoredCheck> stored = storedChecks(urls);
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        SiteCheckResult result;
        result.siteId = it.key();
        result.siteName = names.value(it.key());
        for (const StoredCheckStep& row : it.value()) {
            CheckStepResult step;
            step.step = static_cast<CheckStep>(std::clamp(row.step, 0, kCheckStepCount - 1));
            step.outcome = static_cast<CheckOutcome>(row.outcome);
            step.reason = row.reason;
            step.field = row.field;
            step.elapsedMs = row.elapsedMs;
            step.lastOkAt = row.outcome == 0 ? 0 : row.lastOkAt;
            result.checkedAt = std::max(result.checkedAt, row.checkedAt);
            result.elapsedMs += row.elapsedMs;
            result.steps.append(step);
        }
        checks.insert(result.siteId, result);
    }
    return checks;
}

} // namespace zvrd
