#include "workers/SearchThread.h"

#include "core/AppFolder.h"
#include "net/WebFetch.h"
#include "rules/RuleSet.h"

#include <vector>

namespace zvrd {
namespace {

constexpr int kStartPauseMs = 50;

void AppendPercentByte(QString& out, unsigned char byte) {
    static const char* hex = "0123456789ABCDEF";
    out += QLatin1Char('%');
    out += QLatin1Char(hex[byte >> 4]);
    out += QLatin1Char(hex[byte & 0x0F]);
}

// Percent-encodes text: characters with codes from 33 to `highest` stay unless listed in
// `escaped`; every other character (a surrogate pair counting as one) becomes its GBK bytes.
QString PercentEncode(const QString& text, char16_t highest, const QString& escaped) {
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
        for (const char byte : EncodeGbk(text.mid(i, len)))
            AppendPercentByte(out, static_cast<unsigned char>(byte));
        i += len - 1;
    }
    return out;
}

bool IsDefaultPort(const QString& scheme, const QString& port) {
    const QString s = scheme.toLower();
    return (s == QLatin1String("http") && port == QLatin1String("80")) ||
           (s == QLatin1String("https") && port == QLatin1String("443")) ||
           (s == QLatin1String("ftp") && port == QLatin1String("21"));
}

} // namespace

QString EncodeSearchUrl(const QString& address) {
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
    if (!port.isEmpty() && !IsDefaultPort(scheme, port))
        result += QLatin1Char(':') + port;
    result += PercentEncode(path, 127, pathEscaped) + PercentEncode(document, 127, pathEscaped);
    if (!query.isEmpty())
        result += QLatin1Char('?') + PercentEncode(query, 128, queryEscaped);
    return result;
}

// ---- coordinator ---------------------------------------------------------------------------

TSearchThread::TSearchThread(const QString& strNovelName, std::shared_ptr<WindowSurface> surface,
                             Ownership ownership)
    : TWorkerThread(ownership), _strNovelName(strNovelName), fSurface(std::move(surface)) {
    Begin();
}

void TSearchThread::Execute() {
    const TRuleInfoList rules = LoadRuleInfoList();
    if (rules.isEmpty()) {
        _strStatusText = QStringLiteral("从数据库中没有提取到采集规则，请检查 zvrd.db 文件！");
        fSurface->SetStatusText(_strStatusText);
        return;
    }
    const TRuleInfoList selected = SelectRules(rules, ReadSelectionSetting());
    if (selected.isEmpty()) {
        _strStatusText = QStringLiteral("您未选择目标站，请在目标站设置中进行选择！");
        fSurface->SetStatusText(_strStatusText);
        return;
    }
    auto state = std::make_shared<TSearchState>();
    state->SearchSitesTotal = static_cast<int32_t>(selected.size());
    state->SearchSitesFinished = 0;
    state->SearchStartTick = TickCount();

    std::vector<std::unique_ptr<TSearchWordThread>> workers;
    for (const TRuleInfo& rule : selected) {
        workers.push_back(
            std::make_unique<TSearchWordThread>(_strNovelName, rule, state, fSurface));
        SleepMs(kStartPauseMs);
    }
    for (auto& worker : workers)
        worker->Join();
    workers.clear();

    const uint32_t elapsed = TickCount() - state->SearchStartTick;
    _strStatusText = QStringLiteral("搜索完成，共搜索到 %1 本小说，用时 %2 秒。")
                         .arg(fSurface->GetResultCount())
                         .arg(RoundedSeconds(elapsed));
    fSurface->SetStatusText(_strStatusText);
}

// ---- one site ------------------------------------------------------------------------------

TSearchWordThread::TSearchWordThread(const QString& strNovelName, const TRuleInfo& RuleInfo,
                                     std::shared_ptr<TSearchState> state,
                                     std::shared_ptr<WindowSurface> surface)
    : TWorkerThread(Ownership::Held), _strNovelName(strNovelName), _RuleInfo(RuleInfo),
      fState(std::move(state)), fSurface(std::move(surface)) {
    Begin();
}

void TSearchWordThread::Report(const QString& text) {
    _strStatusText = text;
    fSurface->SetStatusText(_strStatusText);
}

void TSearchWordThread::Execute() {
    const QString site = _RuleInfo.strSiteName;
    Report(QStringLiteral("正在从目标站「%1」进行搜索……").arg(site));
    QString format = _RuleInfo.strSearchPageUrlFormat;
    const QString address = EncodeSearchUrl(format.replace(QStringLiteral("{KEY}"), _strNovelName));
    if (address.isEmpty())
        return;
    const QString header = GetHead(address);
    const int32_t status = GetStatusCode(header);
    if (status == 200) {
        _SearchPageData = ParseSearchPage(address, _RuleInfo);
        for (int32_t i = 0; i < _SearchPageData.Num; ++i) {
            fSurface->AddResultRow(
                site, _SearchPageData.slNovelNameList[i], _SearchPageData.slNovelAuthorList[i],
                _SearchPageData.slLatestChapterList[i], _SearchPageData.slNovelInfoPageUrlList[i]);
        }
        std::lock_guard lock(fState->SearchLock);
        fState->SearchSitesFinished += 1;
        // Shown before the lock goes, so the remaining-sites figure never goes up.
        Report(
            QStringLiteral(
                "目标站「%1」搜索完成，从该目标站共搜索到 %2 本小说。还有 %3 个目标站点正在搜索……")
                .arg(site, QString::number(_SearchPageData.Num),
                     QString::number(fState->SearchSitesTotal - fState->SearchSitesFinished)));
    } else if (status == 302) {
        // A relative Location is resolved against the search address; as given it could never
        // be fetched.
        const QString location = CombineUrl(address, GetLocation(header));
        const TInfoPageData info = ParseInfoPage(location, _RuleInfo);
        std::lock_guard lock(fState->SearchLock);
        fState->SearchSitesFinished += 1;
        if (info.isMatch) {
            _InfoPageData = info;
            fSurface->AddResultRow(site, info.strNovelName, info.strNovelAuthor,
                                   info.strLatestChapter, info.strInfoPageUrl);
            Report(QStringLiteral("目标站「%1」搜索完成，从该目标站共搜索到 1 本小说。还有 %2 "
                                  "个目标站点正在搜索……")
                       .arg(site, QString::number(fState->SearchSitesTotal -
                                                  fState->SearchSitesFinished)));
        }
    }
    // Any other status: no row, no text, not counted.
}

} // namespace zvrd
