#include "workers/SearchWorkers.h"

#include "core/DataFolder.h"
#include "net/WebFetch.h"
#include "rules/RuleSet.h"

#include <vector>

namespace zvrd {
namespace {

constexpr int kStartPauseMs = 50;

void appendPercentByte(QString& out, unsigned char byte) {
    static const char* hex = "0123456789ABCDEF";
    out += QLatin1Char('%');
    out += QLatin1Char(hex[byte >> 4]);
    out += QLatin1Char(hex[byte & 0x0F]);
}

// Percent-encodes text: characters with codes from 33 to `highest` stay unless listed in
// `escaped`; every other character (a surrogate pair counting as one) becomes its GBK bytes.
QString percentEncode(const QString& text, char16_t highest, const QString& escaped) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u >= 33 && u <= highest && !escaped.contains(text[i])) {
            out += text[i];
            continue;
        }
        const qsizetype len =
            (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2
                                                                                               : 1;
        for (const char byte : encodeGbk(text.mid(i, len)))
            appendPercentByte(out, static_cast<unsigned char>(byte));
        i += len - 1;
    }
    return out;
}

bool isDefaultPort(const QString& scheme, const QString& port) {
    const QString s = scheme.toLower();
    return (s == QLatin1String("http") && port == QLatin1String("80")) ||
           (s == QLatin1String("https") && port == QLatin1String("443")) ||
           (s == QLatin1String("ftp") && port == QLatin1String("21"));
}

} // namespace

QString encodeSearchUrl(const QString& address) {
    // 1. Backslashes become slashes up to the first "?" or "#", after the scheme's "://".
    QString url = address;
    qsizetype from = 0;
    const qsizetype colon = url.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        from = colon + 1;
        const auto isSlash = [&](qsizetype i) {
            return i < url.size() && (url[i] == QLatin1Char('/') || url[i] == QLatin1Char('\\'));
        };
        if (isSlash(from) && isSlash(from + 1))
            from += 2;
    }
    for (qsizetype i = from; i < url.size(); ++i) {
        if (url[i] == QLatin1Char('?') || url[i] == QLatin1Char('#'))
            break;
        if (url[i] == QLatin1Char('\\'))
            url[i] = QLatin1Char('/');
    }

    // 2. Take it apart.
    const qsizetype sep = url.indexOf(QStringLiteral("://"));
    if (sep < 0)
        return QString();
    const QString scheme = url.left(sep);
    const QString rest = url.mid(sep + 3);
    const qsizetype question = rest.indexOf(QLatin1Char('?'));
    const QString query = question < 0 ? QString() : rest.mid(question + 1);
    const QString beforeQuery = question < 0 ? rest : rest.left(question);
    const qsizetype slash = beforeQuery.indexOf(QLatin1Char('/'));
    QString authority = slash < 0 ? beforeQuery : beforeQuery.left(slash);
    const QString afterAuthority = slash < 0 ? QString() : beforeQuery.mid(slash + 1);
    const qsizetype at = authority.indexOf(QLatin1Char('@'));
    if (at >= 0)
        authority = authority.mid(at + 1); // user information is dropped
    const qsizetype portColon = authority.indexOf(QLatin1Char(':'));
    const QString host = portColon < 0 ? authority : authority.left(portColon);
    const QString port = portColon < 0 ? QString() : authority.mid(portColon + 1);
    if (host.isEmpty())
        return QString();
    const qsizetype lastSlash = afterAuthority.lastIndexOf(QLatin1Char('/'));
    const QString path = QLatin1Char('/') + afterAuthority.left(lastSlash + 1);
    QString document = afterAuthority.mid(lastSlash + 1);
    const qsizetype hash = document.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        document = document.left(hash); // the fragment is dropped

    // 3.-5. Encode and put together again.
    static const QString pathEscaped = QStringLiteral("*<>#%{}|\\^[]+\"`");
    static const QString queryEscaped = QStringLiteral("*<>#%{}|\\^[]\"`");
    QString result = scheme + QStringLiteral("://") + host;
    if (!port.isEmpty() && !isDefaultPort(scheme, port))
        result += QLatin1Char(':') + port;
    result += percentEncode(path, 127, pathEscaped) + percentEncode(document, 127, pathEscaped);
    if (!query.isEmpty())
        result += QLatin1Char('?') + percentEncode(query, 128, queryEscaped);
    return result;
}

// ---- coordinator ---------------------------------------------------------------------------

SearchCoordinator::SearchCoordinator(const QString& novelName,
                                     std::shared_ptr<WindowSurface> surface, Ownership ownership)
    : Worker(ownership), m_novelName(novelName), m_surface(std::move(surface)) {
    start();
}

void SearchCoordinator::run() {
    const SiteRuleList rules = loadSiteRules();
    if (rules.isEmpty()) {
        m_statusText = QStringLiteral("从数据库中没有提取到采集规则，请检查 zvrd.db 文件！");
        m_surface->setStatusText(m_statusText);
        return;
    }
    const SiteRuleList selected = selectRules(rules, readSelectionSetting());
    if (selected.isEmpty()) {
        m_statusText = QStringLiteral("您未选择目标站，请在目标站设置中进行选择！");
        m_surface->setStatusText(m_statusText);
        return;
    }
    auto state = std::make_shared<SearchState>();
    state->sitesTotal = static_cast<int32_t>(selected.size());
    state->sitesFinished = 0;
    state->startTick = tickCount();

    std::vector<std::unique_ptr<SiteSearchWorker>> workers;
    for (const SiteRule& rule : selected) {
        workers.push_back(std::make_unique<SiteSearchWorker>(m_novelName, rule, state, m_surface));
        sleepMs(kStartPauseMs);
    }
    for (auto& worker : workers) {
        worker->join();
        if (!worker->errorText().isEmpty())
            m_siteErrors << worker->errorText();
    }
    workers.clear();

    const uint32_t elapsed = tickCount() - state->startTick;
    m_statusText = QStringLiteral("搜索完成，共搜索到 %1 本小说，用时 %2 秒。")
                       .arg(m_surface->resultCount())
                       .arg(roundedSeconds(elapsed));
    m_surface->setStatusText(m_statusText);
}

void SearchCoordinator::reportError(const QString& text) {
    m_surface->setStatusText(errorStatusText(text));
}

QStringList SearchCoordinator::siteErrors() const {
    return m_siteErrors;
}

// ---- one site ------------------------------------------------------------------------------

void SiteSearchWorker::reportError(const QString& text) {
    m_surface->setStatusText(errorStatusText(text));
}

SiteSearchWorker::SiteSearchWorker(const QString& novelName, const SiteRule& rule,
                                   std::shared_ptr<SearchState> state,
                                   std::shared_ptr<WindowSurface> surface)
    : Worker(Ownership::Held), m_novelName(novelName), m_rule(rule), m_state(std::move(state)),
      m_surface(std::move(surface)) {
    start();
}

void SiteSearchWorker::report(const QString& text) {
    m_statusText = text;
    m_surface->setStatusText(m_statusText);
}

void SiteSearchWorker::run() {
    const QString site = m_rule.siteName;
    report(QStringLiteral("正在从目标站「%1」进行搜索……").arg(site));
    QString format = m_rule.searchUrlFormat;
    const QString address = encodeSearchUrl(format.replace(QStringLiteral("{KEY}"), m_novelName));
    if (address.isEmpty())
        return;
    // One GET, redirects not followed: its status tells a result list (200) from a jump to the
    // one novel found (302), and its body is the list.
    const FetchedPage page = fetchPage(address, m_rule.charset);
    const int32_t status = page.status;
    if (status == 200) {
        m_results = extractSearchPage(page.body, address, m_rule);
        for (int32_t i = 0; i < m_results.count; ++i) {
            m_surface->addResultRow(site, m_results.names[i], m_results.authors[i],
                                    m_results.latestChapters[i], m_results.infoPageUrls[i]);
        }
        std::lock_guard lock(m_state->lock);
        m_state->sitesFinished += 1;
        // Shown before the lock goes, so the remaining-sites figure never goes up.
        report(
            QStringLiteral(
                "目标站「%1」搜索完成，从该目标站共搜索到 %2 本小说。还有 %3 个目标站点正在搜索……")
                .arg(site, QString::number(m_results.count),
                     QString::number(m_state->sitesTotal - m_state->sitesFinished)));
    } else if (status == 302) {
        // A relative Location is resolved against the search address; as given it could never
        // be fetched.
        const QString location = combineUrl(address, locationOf(page.header));
        const NovelInfo info = parseInfoPage(location, m_rule);
        std::lock_guard lock(m_state->lock);
        m_state->sitesFinished += 1;
        if (info.matched) {
            m_novel = info;
            m_surface->addResultRow(site, info.name, info.author, info.latestChapter,
                                    info.infoPageUrl);
            report(QStringLiteral("目标站「%1」搜索完成，从该目标站共搜索到 1 本小说。还有 %2 "
                                  "个目标站点正在搜索……")
                       .arg(site, QString::number(m_state->sitesTotal - m_state->sitesFinished)));
        }
    }
    // Any other status: no row, no text, not counted.
}

} // namespace zvrd
