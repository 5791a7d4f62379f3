#include "rules/RuleSet.h"

#include "core/DataFolder.h"
#include "core/IniFile.h"
#include "net/RequestHeaders.h"
#include "net/SiteLimiter.h"
#include "store/NovelLibrary.h"
#include "store/RequestCookies.h"
#include "store/Schema.h"
#include "store/SiteChecks.h"
#include "store/SiteRules.h"
#include "store/SpeedLimits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <array>

namespace zvrd {
namespace {

constexpr qsizetype kMaxUrlLength = 2047;

// Field pointers in the order of siteRuleColumns(), so loading and the column list cannot
// drift apart.
using RuleField = QString SiteRule::*;
constexpr std::array<RuleField, 21> kRuleFields = {
    &SiteRule::id,
    &SiteRule::siteName,
    &SiteRule::siteUrl,
    &SiteRule::charset,
    &SiteRule::searchUrlFormat,
    &SiteRule::searchResultRegion,
    &SiteRule::searchNovelName,
    &SiteRule::searchNovelAuthor,
    &SiteRule::searchLatestChapter,
    &SiteRule::searchInfoPageUrl,
    &SiteRule::infoNovelSort,
    &SiteRule::infoNovelName,
    &SiteRule::infoNovelAuthor,
    &SiteRule::infoNovelState,
    &SiteRule::infoNovelIntro,
    &SiteRule::infoLatestChapter,
    &SiteRule::infoDirectoryPageUrl,
    &SiteRule::directoryRegion,
    &SiteRule::directoryChapterNameAndUrl,
    &SiteRule::chapterContent,
    &SiteRule::replaceRule,
};

// ---- address combination -------------------------------------------------------------------

bool hasScheme(const QString& url) {
    if (url.isEmpty() || !url[0].isLetter() || url[0].unicode() > 0x7F)
        return false;
    for (qsizetype i = 1; i < url.size(); ++i) {
        const QChar c = url[i];
        if (c == QLatin1Char(':'))
            return true;
        const bool ok = (c.unicode() < 0x80 && c.isLetterOrNumber()) || c == QLatin1Char('+') ||
                        c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!ok)
            return false;
    }
    return false;
}

// Where the path ends: at the first "?" or "#".
qsizetype pathEndOf(const QString& url, qsizetype from) {
    const qsizetype n = url.size();
    for (qsizetype i = from; i < n; ++i) {
        const char16_t u = url[i].unicode();
        if (u == '?' || u == '#')
            return i;
    }
    return n;
}

// RFC 3986 dot-segment removal on a path beginning with "/".
QString removeDotSegments(const QString& path) {
    if (!path.contains(QLatin1String("/.")))
        return path; // no "." or ".." segment
    const QStringList segments = path.split(QLatin1Char('/'));
    QStringList out;
    for (qsizetype i = 1; i < segments.size(); ++i) {
        const QString& s = segments[i];
        const bool last = i == segments.size() - 1;
        if (s == QLatin1String(".")) {
            if (last)
                out.append(QString());
        } else if (s == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            if (last)
                out.append(QString());
        } else {
            out.append(s);
        }
    }
    return QLatin1Char('/') + out.join(QLatin1Char('/'));
}

void appendPercent(QString& out, unsigned char byte) {
    static const char* hex = "0123456789ABCDEF";
    out += QLatin1Char('%');
    out += QLatin1Char(hex[byte >> 4]);
    out += QLatin1Char(hex[byte & 0x0F]);
}

// Percent-escapes the unsafe characters of a path (blanks, controls, quotes, angle brackets and
// the like, and everything beyond ASCII as UTF-8 bytes); "%" is left alone.
bool isSafe(QChar c) {
    const char16_t u = c.unicode();
    if (u <= 0x20 || u >= 0x7F)
        return false;
    switch (u) {
    case '"':
    case '<':
    case '>':
    case '`':
    case '{':
    case '}':
    case '|':
    case '\\':
    case '^':
        return false;
    default:
        return true;
    }
}

QString escapePath(const QString& path) {
    if (std::all_of(path.begin(), path.end(), isSafe))
        return path;
    QString out;
    out.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isSafe(path[i])) {
            out += path[i];
            continue;
        }
        const qsizetype len =
            (path[i].isHighSurrogate() && i + 1 < path.size() && path[i + 1].isLowSurrogate()) ? 2
                                                                                               : 1;
        for (const char byte : path.mid(i, len).toUtf8())
            appendPercent(out, static_cast<unsigned char>(byte));
        i += len - 1;
    }
    return out;
}

// True when text is a plain path piece that canonicalisation leaves as it is: no scheme, no
// "?" or "#", no character to escape and no "." segment. One pass over the text.
bool isPlainPath(const QString& text) {
    QChar previous = QLatin1Char('/');
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == ':' || u == '?' || u == '#' || !isSafe(c) ||
            (u == '.' && previous == QLatin1Char('/')))
            return false;
        previous = c;
    }
    return true;
}

// Blanks and controls of a query or fragment escaped; everything else of it stays as the page
// wrote it (a GBK site's own escapes included).
QString escapeBlanks(const QString& tail) {
    QString out;
    for (const QChar c : tail) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F)
            appendPercent(out, static_cast<unsigned char>(c.unicode()));
        else
            out += c;
    }
    return out;
}

// An address the reader can fetch: http or https, a host and a port that Qt takes for ones
// (a leading dot, a port of six digits, a replaced character are not), no blank or control
// character anywhere. A link to anything else (mailto:, javascript:) is no chapter and no page.
bool fetchable(const QString& url) {
    const qsizetype schemeEnd = url.indexOf(QLatin1Char(':'));
    const QString scheme = url.left(schemeEnd).toLower();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.mid(schemeEnd + 1, 2) != QLatin1String("//"))
        return false;
    for (const QChar c : url) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F)
            return false;
    }
    const QUrl parsed(url);
    return parsed.isValid() && !parsed.host().isEmpty();
}

// scheme://authority/path?query#fragment made canonical: dot segments gone, unsafe characters
// of the path escaped, blanks of query and fragment escaped.
QString canonical(const QString& url) {
    const qsizetype schemeEnd = url.indexOf(QLatin1Char(':'));
    if (schemeEnd <= 0)
        return QString();
    const QString scheme = url.left(schemeEnd);
    if (url.mid(schemeEnd + 1, 2) != QLatin1String("//"))
        return url; // mailto:, javascript: and the like come back as they are
    const qsizetype authorityStart = schemeEnd + 3;
    const qsizetype pathEnd = pathEndOf(url, authorityStart);
    qsizetype pathStart = url.indexOf(QLatin1Char('/'), authorityStart);
    if (pathStart < 0 || pathStart > pathEnd)
        pathStart = pathEnd;
    const QString authority = url.mid(authorityStart, pathStart - authorityStart);
    if (authority.isEmpty())
        return QString();
    QString path = url.mid(pathStart, pathEnd - pathStart);
    if (path.isEmpty())
        path = QStringLiteral("/");
    return scheme + QStringLiteral("://") + authority + escapePath(removeDotSegments(path)) +
           escapeBlanks(url.mid(pathEnd));
}

} // namespace

const QStringList& ruleColumnNames() {
    return siteRuleColumns();
}

SiteRuleList loadSiteRules() {
    applySpeedLimits();
    SiteRuleList rules;
    const QList<QStringList> rows = siteRuleRows();
    rules.reserve(rows.size());
    for (const QStringList& row : rows) {
        SiteRule rule;
        for (size_t i = 0; i < kRuleFields.size(); ++i)
            rule.*(kRuleFields[i]) = row.value(static_cast<qsizetype>(i));
        rules.append(rule);
    }
    // The per-site tables, each row onto the rule of its id.
    QHash<QString, SiteRule*> byId;
    for (SiteRule& rule : rules)
        byId.insert(rule.id, &rule);
    for (const SitePagingRow& paging : sitePagingRows()) {
        if (SiteRule* rule = byId.value(paging.siteId)) {
            rule->chapterNextPage = paging.chapterNextPage;
            rule->directoryNextPage = paging.directoryNextPage;
            rule->distinctLinks = paging.distinctLinks;
        }
    }
    for (const SiteHeaderRow& headers : siteHeaderRows()) {
        if (SiteRule* rule = byId.value(headers.siteId)) {
            rule->userAgent = headers.userAgent;
            rule->referer = headers.referer;
            rule->refererFromLink = headers.refererFromLink;
            rule->extraHeaders = headers.extraHeaders;
        }
    }
    for (const SiteCheckRow& check : siteCheckRows()) {
        if (SiteRule* rule = byId.value(check.siteId)) {
            rule->checkKeyword = check.keyword;
            rule->checkInfoPageUrl = check.infoPageUrl;
        }
    }
    applyRequestHeaders(rules);
    return rules;
}

namespace {

QString readScript(const QString& fileName, bool* ok) {
    QFile file(fileName);
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

bool importRuleScript(const QString& fileName, const QString& base, int* imported) {
    bool ok = false;
    QString sql = readScript(fileName, &ok);
    if (!ok)
        return false;
    sql.replace(QStringLiteral("@BASE@"), base);
    prepareLibrary();
    const RuleFileResult result = importUserRuleScript(sql);
    if (imported)
        *imported = result.rows;
    // The selection keeps pointing at the sites it pointed at.
    if (!result.movedIds.isEmpty()) {
        QStringList pieces = readSelectionSetting().split(QLatin1Char(','));
        for (QString& piece : pieces) {
            for (const auto& [from, to] : result.movedIds) {
                if (piece == from) {
                    piece = to;
                    break;
                }
            }
        }
        writeIniValue(configIniPath(), QStringLiteral("target_site"), QStringLiteral("selected"),
                      pieces.join(QLatin1Char(',')));
    }
    return true;
}

QString shippedRulesFile(const QString& executableFolder) {
    QString folder = executableFolder;
    if (folder.isEmpty() && QCoreApplication::instance())
        folder = QCoreApplication::applicationDirPath();
    return QDir::cleanPath(folder + QStringLiteral("/../share/zvrd/site_rules.sql"));
}

int shippedRulesVersion(const QString& script) {
    static const QRegularExpression stamp(QStringLiteral("shipped-rules-version:\\s*(\\d+)"));
    const QRegularExpressionMatch match = stamp.match(script);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

int installedRulesVersion() {
    return installedShippedVersion();
}

ShippedRulesOutcome installShippedRules(const QString& fileName) {
    ShippedRulesOutcome outcome;
    bool ok = false;
    const QString sql = readScript(fileName, &ok);
    const int version = shippedRulesVersion(sql);
    if (!ok || version <= 0 || version <= installedRulesVersion())
        return outcome;
    outcome.keptSites = installShippedRuleScript(sql, version).keptSites;
    outcome.installed = true;
    return outcome;
}

bool shippedRulesPending(const QString& fileName) {
    bool ok = false;
    const int version = shippedRulesVersion(readScript(fileName, &ok));
    return ok && version > installedRulesVersion();
}

QString keptRulesNotice(const QStringList& sites) {
    if (sites.isEmpty())
        return QString();
    return QStringLiteral("新版站点规则未覆盖你修改过的规则：%1。")
        .arg(sites.join(QStringLiteral("、")));
}

SiteRule findRuleBySiteName(const SiteRuleList& rules, const QString& name) {
    for (const SiteRule& rule : rules) {
        if (rule.siteName == name)
            return rule;
    }
    return SiteRule();
}

QString configIniPath() {
    return dataFolder() + QStringLiteral("config.ini");
}

QString readSelectionSetting() {
    return readIniValue(configIniPath(), QStringLiteral("target_site"), QStringLiteral("selected"));
}

SiteRuleList selectRules(const SiteRuleList& rules, const QString& selection) {
    const QStringList pieces = selection.split(QLatin1Char(','));
    SiteRuleList selected;
    for (const SiteRule& rule : rules) {
        for (const QString& piece : pieces) {
            if (!piece.isEmpty() && piece == rule.id) {
                selected.append(rule);
                break;
            }
        }
    }
    return selected;
}

UrlCombiner::UrlCombiner(const QString& base) : m_base(base) {
    m_valid = hasScheme(base) && base.indexOf(QStringLiteral("://")) >= 0;
    if (!m_valid)
        return;
    const qsizetype schemeEnd = base.indexOf(QLatin1Char(':'));
    const qsizetype authorityStart = schemeEnd + 3;
    const qsizetype pathEnd = pathEndOf(base, authorityStart);
    qsizetype pathStart = base.indexOf(QLatin1Char('/'), authorityStart);
    if (pathStart < 0 || pathStart > pathEnd)
        pathStart = pathEnd;
    m_scheme = base.left(schemeEnd + 1);
    m_origin = base.left(pathStart);
    m_beforeQuery = base.left(pathEnd);
    const qsizetype hash = base.indexOf(QLatin1Char('#'));
    m_beforeFragment = hash < 0 ? base : base.left(hash);
    const QString path = base.mid(pathStart, pathEnd - pathStart);
    m_folder = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (m_folder.isEmpty())
        m_folder = QStringLiteral("/");
    m_canonicalBase = canonical(base);
    m_folderIsPlain = isPlainPath(m_folder);
    // Nothing fetchable is found relative to a page that is not.
    m_valid = fetchable(m_canonicalBase);
}

// Dot segments removed from and unsafe characters escaped in the part before "?" or "#".
QString UrlCombiner::canonicalTail(const QString& pathAndRest) {
    const qsizetype end = pathEndOf(pathAndRest, 0);
    if (end == pathAndRest.size())
        return escapePath(removeDotSegments(pathAndRest));
    return escapePath(removeDotSegments(pathAndRest.left(end))) +
           escapeBlanks(pathAndRest.mid(end));
}

QString UrlCombiner::combine(const QString& relative) const {
    QString result;
    // The common case on a chapter list: a plain relative or root-relative address.
    if (m_valid && m_folderIsPlain && !relative.isEmpty() && isPlainPath(relative) &&
        !relative.startsWith(QStringLiteral("//"))) {
        const bool rooted = relative.startsWith(QLatin1Char('/'));
        const qsizetype size = m_origin.size() + (rooted ? 0 : m_folder.size()) + relative.size();
        if (size > kMaxUrlLength)
            return QString();
        result.reserve(size); // one allocation per address: a list has thousands
        result.append(m_origin);
        if (!rooted)
            result.append(m_folder);
        result.append(relative);
        return result;
    }
    if (hasScheme(relative))
        result = canonical(relative);
    else if (!m_valid)
        return QString();
    else if (relative.isEmpty())
        result = m_canonicalBase;
    else if (relative.startsWith(QStringLiteral("//")))
        result = canonical(m_scheme + relative);
    else if (relative.startsWith(QLatin1Char('/')))
        result = m_origin + canonicalTail(relative);
    else if (relative.startsWith(QLatin1Char('?')))
        result = canonical(m_beforeQuery + relative);
    else if (relative.startsWith(QLatin1Char('#')))
        result = canonical(m_beforeFragment + relative);
    else
        result = m_origin + canonicalTail(m_folder + relative);
    return result.size() > kMaxUrlLength || !fetchable(result) ? QString() : result;
}

QString combineUrl(const QString& base, const QString& relative) {
    return UrlCombiner(base).combine(relative);
}

QString fileExtension(const QString& text) {
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? text : text.mid(dot + 1);
}

} // namespace zvrd

namespace zvrd {

void applySpeedLimits() {
    QHash<QString, SiteLimiter::Ceiling> ceilings;
    for (const SpeedLimit& limit : speedLimits())
        ceilings.insert(limit.site,
                        {limit.inFlight, std::chrono::milliseconds(limit.spacingMs), limit.adapt});
    SiteLimiter::setCeilings(ceilings);
}

SiteSpeed siteSpeed(const SiteRule& rule) {
    SiteSpeed speed;
    speed.server = SiteLimiter::siteOf(rule.siteUrl);
    speed.inFlight = SiteLimiter::kInFlight;
    speed.spacingMs = static_cast<int>(SiteLimiter::kSpacing.count());
    for (const SpeedLimit& limit : speedLimits()) {
        if (limit.site == speed.server)
            speed = {speed.server, limit.inFlight, limit.spacingMs, limit.adapt, true};
    }
    return speed;
}

QString speedLimitProblem(int inFlight, int spacingMs) {
    if (inFlight < 1 || inFlight > SiteLimiter::kMostInFlight)
        return QStringLiteral("同时请求数须在 1 到 %1 之间。").arg(SiteLimiter::kMostInFlight);
    if (spacingMs < SiteLimiter::kLeastSpacing.count() ||
        spacingMs > SiteLimiter::kMostSpacing.count())
        return QStringLiteral("请求间隔须在 %1 到 %2 毫秒之间。")
            .arg(SiteLimiter::kLeastSpacing.count())
            .arg(SiteLimiter::kMostSpacing.count());
    return QString();
}

void setSiteSpeed(const SiteRule& rule, int inFlight, int spacingMs, bool adapt) {
    setSpeedLimit({SiteLimiter::siteOf(rule.siteUrl), inFlight, spacingMs, adapt});
    applySpeedLimits();
}

void resetSiteSpeed(const SiteRule& rule) {
    clearSpeedLimit(SiteLimiter::siteOf(rule.siteUrl));
    applySpeedLimits();
}

QString requestHeadersProblem(const SiteRule& rule, const QString& cookie) {
    if (!isHeaderValue(rule.userAgent))
        return QStringLiteral("User-Agent 不能含换行等控制字符。");
    if (!isHeaderValue(cookie))
        return QStringLiteral("Cookie 不能含换行等控制字符。");
    if (!rule.referer.isEmpty()) {
        const QUrl referer(rule.referer, QUrl::StrictMode);
        const QString scheme = referer.scheme().toLower();
        if (!referer.isValid() || referer.host().isEmpty() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
            !isHeaderValue(rule.referer))
            return QStringLiteral("Referer 须是 http 或 https 网址：%1").arg(rule.referer);
    }
    return extraHeadersProblem(rule.extraHeaders);
}

void setSiteRequestHeaders(const SiteRule& rule) {
    setSiteHeaderRow(
        {rule.id, rule.userAgent, rule.referer, rule.refererFromLink, rule.extraHeaders});
    loadSiteRules(); // applies them
}

QString siteCookie(const SiteRule& rule) {
    return requestCookies().value(headerSiteOf(rule.siteUrl));
}

void setSiteCookie(const SiteRule& rule, const QString& cookie) {
    setRequestCookie(headerSiteOf(rule.siteUrl), cookie);
    loadSiteRules(); // applies them
}

QString cookieServer(const SiteRule& rule) {
    return headerSiteOf(rule.siteUrl);
}

void applyRequestHeaders(const SiteRuleList& rules, const QHash<QString, QString>& unkeptCookies) {
    QHash<QString, SiteHeaders> sites;
    QHash<QString, QString> cookies = requestCookies();
    cookies.insert(unkeptCookies);
    for (auto it = cookies.constBegin(); it != cookies.constEnd(); ++it)
        sites[it.key()].cookie = it.value();
    for (const SiteRule& rule : rules) {
        SiteHeaders& site = sites[headerSiteOf(rule.siteUrl)];
        // Two rules of one server: the first that says anything is the server's.
        if (!site.userAgent.isEmpty() || !site.referer.isEmpty() || site.refererFromLink ||
            !site.extraHeaders.isEmpty())
            continue;
        site.userAgent = rule.userAgent;
        site.referer = rule.referer;
        site.refererFromLink = rule.refererFromLink;
        site.extraHeaders = rule.extraHeaders;
    }
    for (auto it = sites.begin(); it != sites.end();) {
        if (it->isEmpty())
            it = sites.erase(it);
        else
            ++it;
    }
    setSiteHeaders(sites);
}

} // namespace zvrd
