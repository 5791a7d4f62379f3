#include "rules/Extractors.h"

#include "net/SiteLimiter.h"
#include "net/WebFetch.h"
#include "rules/PatternNotation.h"

#include <QHash>
#include <QUrl>

namespace zvrd {
namespace {

// The page at url when its answer says 200; empty otherwise. One GET gives both.
QString pageIfOk(const QString& url, const QString& charset) {
    const FetchedPage page = fetchPage(url, charset);
    return page.status == 200 ? page.body : QString();
}

// A page as a browser gets it, redirects followed: its text when it finally answered 200, and
// the address that answered (the one its relative links belong to).
struct ReadPage {
    QString text;
    QString url;
};
ReadPage pageFollowing(const QString& url, const QString& charset,
                       const QString& linkedFrom = QString()) {
    const FollowedPage page = fetchFollowing(url, linkedFrom);
    if (page.status != 200)
        return {QString(), page.url};
    return {decodeBody(page.body, charset), page.url};
}

// Runs one extraction within the page's match budget; past it the page counts as no match and
// the caller learns why.
template <typename F> auto withinBudget(const SiteRule& rule, F&& extract) {
    MatchBudget budget;
    auto result = extract();
    if (budget.exhausted())
        throw RegexException(patternTooSlowText(rule.siteName));
    return result;
}

// The fixed picture-tag pattern: lower-case "<img" and "src", no DOTALL. The doubled quote of
// the bracket expressions stands as written.
const QString& imagePattern() {
    static const QString pattern =
        QStringLiteral("<img\\b[^<>]*?\\bsrc[\\s\\t\\r\\n]*=[\\s\\t\\r\\n]*[\"\"']?[\\s\\t\\r\\n]*"
                       "([^\\s\\t\\r\\n\"\"'<>]*\\.[a-z]*)[^<>]*?/?[\\s\\t\\r\\n]*>");
    return pattern;
}

} // namespace

QString patternTooSlowText(const QString& siteName) {
    return QStringLiteral("目标站「%1」的匹配规则过慢（单页超过 %2 秒），该页按无匹配处理。")
        .arg(siteName)
        .arg(MatchBudget::kPageMilliseconds / 1000);
}

static SearchResults extractSearchPageUnbudgeted(const QString& page, const QString& url,
                                                 const SiteRule& rule) {
    SearchResults data;
    QByteArray region;
    if (!firstMatchBytes(rule.searchResultRegion, PatternSubject(page), &region))
        return data;
    const PatternSubject subject = PatternSubject::fromUtf8(std::move(region));
    auto stage = [&](const QString& field, QStringList& into, bool trim) {
        for (QString& value : allGroup1(field, subject))
            into.append(trim ? trimControl(value) : value);
        return !into.isEmpty();
    };
    if (!stage(rule.searchNovelName, data.names, true) ||
        !stage(rule.searchNovelAuthor, data.authors, true) ||
        !stage(rule.searchLatestChapter, data.latestChapters, true))
        return data;
    const UrlCombiner combiner(url);
    for (const QString& address : allGroup1(rule.searchInfoPageUrl, subject))
        data.infoPageUrls.append(combiner.combine(address));
    if (data.infoPageUrls.isEmpty())
        return data;
    const qsizetype n = data.names.size();
    if (data.authors.size() == n && data.latestChapters.size() == n &&
        data.infoPageUrls.size() == n) {
        data.count = static_cast<int32_t>(n);
    } else {
        data = SearchResults();
    }
    return data;
}

SearchResults parseSearchPage(const QString& url, const SiteRule& rule) {
    const QString page = pageIfOk(url, rule.charset);
    if (page.isEmpty())
        return SearchResults();
    return extractSearchPage(page, url, rule);
}

static NovelInfo extractInfoPageUnbudgeted(const QString& page, const QString& url,
                                           const SiteRule& rule) {
    NovelInfo info;
    info.infoPageUrl = url;
    const PatternSubject subject(page);
    info.name = trimControl(firstMatch(rule.infoNovelName, subject));
    info.author = trimControl(firstMatch(rule.infoNovelAuthor, subject));
    info.latestChapter = trimControl(firstMatch(rule.infoLatestChapter, subject));
    bool found = false;
    const QString directory = firstMatch(rule.infoDirectoryPageUrl, subject, &found);
    if (found)
        info.directoryPageUrl = combineUrl(url, directory);
    info.matched = !info.name.isEmpty() && !info.author.isEmpty() &&
                   !info.latestChapter.isEmpty() && !info.directoryPageUrl.isEmpty();
    return info;
}

NovelInfo parseInfoPage(const QString& url, const SiteRule& rule) {
    const ReadPage page = pageFollowing(url, rule.charset);
    if (page.text.isEmpty()) {
        NovelInfo info;
        info.infoPageUrl = url;
        return info;
    }
    // The novel keeps the address it was found under; its links belong to the one that answered.
    NovelInfo info = extractInfoPage(page.text, page.url, rule);
    info.infoPageUrl = url;
    return info;
}

bool isAddressFirst(const QString& piece) {
    static const QString marker = QStringLiteral("(.+?)");
    const QString lower = piece.toLower();
    qsizetype from = lower.indexOf(QLatin1String("href"));
    if (from < 0)
        from = 0;
    int count = 0;
    for (qsizetype at = lower.indexOf(marker, from); at >= 0;
         at = lower.indexOf(marker, at + marker.size()))
        ++count;
    return count == 2;
}

static ChapterList extractDirectoryPageUnbudgeted(const QString& page, const QString& url,
                                                  const SiteRule& rule) {
    ChapterList data;
    QByteArray region;
    if (!firstMatchBytes(rule.directoryRegion, PatternSubject(page), &region))
        return data;
    const PatternSubject subject = PatternSubject::fromUtf8(std::move(region));
    const UrlCombiner combiner(url);
    for (const QString& piece : splitAlternatives(rule.directoryChapterNameAndUrl)) {
        const bool addressFirst = isAddressFirst(piece);
        const auto add = [&](const QStringList& groups) {
            const QString& name = addressFirst ? groups[1] : groups[0];
            const QString& address = addressFirst ? groups[0] : groups[1];
            data.names.append(trimControl(name));
            data.urls.append(combiner.combine(address));
        };
        if (forEachMatchOfPiece(piece, subject, 2, add) > 0)
            break;
    }
    data.count = static_cast<int32_t>(data.names.size());
    return data;
}

ChapterList parseDirectoryPage(const QString& url, const SiteRule& rule,
                               const QString& linkedFrom) {
    ReadPage page = pageFollowing(url, rule.charset, linkedFrom);
    if (page.text.isEmpty())
        return ChapterList();
    ChapterList list = extractDirectoryPage(page.text, page.url, rule);
    list.pageUrl = page.url;
    QStringList read{url, page.url};
    for (int pages = 1; pages < kMostListPages && list.count > 0; ++pages) {
        const QString next = nextPageUrl(rule.directoryNextPage, page.text, page.url, read);
        if (next.isEmpty())
            break;
        page = pageFollowing(next, rule.charset, page.url);
        const ChapterList more =
            page.text.isEmpty() ? ChapterList() : extractDirectoryPage(page.text, page.url, rule);
        if (more.count == 0)
            return ChapterList(); // a list with a page missing would put chapters out of order
        read << next << page.url;
        list.names += more.names;
        list.urls += more.urls;
        list.count += more.count;
    }
    if (rule.distinctLinks)
        list = withoutRepeatedLinks(list);
    return list;
}

QString nextPageUrl(const QString& pattern, const QString& page, const QString& pageUrl,
                    const QStringList& read) {
    if (pattern.isEmpty())
        return QString();
    bool found = false;
    const QString address = firstMatch(pattern, PatternSubject(page), &found);
    if (!found || address.trimmed().isEmpty())
        return QString();
    const QString next = combineUrl(pageUrl, address.trimmed());
    const QString scheme = QUrl(next).scheme().toLower();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        SiteLimiter::siteOf(next) != SiteLimiter::siteOf(pageUrl) || read.contains(next))
        return QString();
    return next;
}

QString nextPagePatternProblem(const QString& pattern) {
    try {
        firstMatch(pattern, PatternSubject(QString()));
    } catch (const RegexException& e) {
        return QStringLiteral("下一页规则无法使用：%1").arg(e.message());
    }
    return QString();
}

ChapterList withoutRepeatedLinks(const ChapterList& list) {
    QHash<QString, qsizetype> last;
    for (qsizetype i = 0; i < list.urls.size(); ++i)
        last.insert(list.urls[i], i);
    ChapterList distinct;
    distinct.pageUrl = list.pageUrl;
    for (qsizetype i = 0; i < list.urls.size(); ++i) {
        if (last.value(list.urls[i]) != i)
            continue;
        distinct.names.append(list.names[i]);
        distinct.urls.append(list.urls[i]);
    }
    distinct.count = static_cast<int32_t>(distinct.urls.size());
    return distinct;
}

QString chapterOverPages(const QString& firstPage, const QString& firstUrl, const SiteRule& rule,
                         const PageFetch& fetch, int32_t* failedStatus) {
    QString text = extractChapterContent(firstPage, rule);
    if (text.isEmpty())
        return text;
    QString page = firstPage;
    QString at = firstUrl;
    QStringList read{firstUrl};
    for (int pages = 1; pages < kMostChapterPages; ++pages) {
        const QString next = nextPageUrl(rule.chapterNextPage, page, at, read);
        if (next.isEmpty())
            break;
        const FollowedPage more = fetch(next, at);
        *failedStatus = more.status;
        if (more.status != 200)
            return QString();
        page = decodeBody(more.body, rule.charset);
        at = more.url;
        read << next << at;
        const QString part = extractChapterContent(page, rule);
        if (part.isEmpty())
            return QString();
        text += kPageBreak + part;
    }
    *failedStatus = 200;
    return text;
}

static QString extractChapterContentUnbudgeted(const QString& page, const SiteRule& rule) {
    bool found = false;
    const QString content = firstMatch(rule.chapterContent, PatternSubject(page), &found);
    if (!found)
        return QString();
    return applyRemovalList(rule.replaceRule, content);
}

QString parseChapterContent(const SiteRule& rule, const QString& url, const QString& linkedFrom) {
    const ReadPage page = pageFollowing(url, rule.charset, linkedFrom);
    if (page.text.isEmpty())
        return QString();
    int32_t status = 0;
    return chapterOverPages(
        page.text, page.url, rule,
        [](const QString& next, const QString& from) { return fetchFollowing(next, from); },
        &status);
}

QStringList imageUrls(const QString& text) {
    static thread_local const Regex re(imagePattern(), /*dotAll=*/false);
    const QByteArray utf8 = text.toUtf8();
    QStringList urls;
    QStringList groups;
    qsizetype start = 0;
    qsizetype end = 0;
    while (re.matchTrusted(utf8.constData(), utf8.size(), start, &groups, 2, nullptr, &end)) {
        urls.append(groups[1]);
        if (end <= start)
            break;
        start = end;
    }
    return urls;
}

SearchResults extractSearchPage(const QString& page, const QString& url, const SiteRule& rule) {
    return withinBudget(rule, [&] { return extractSearchPageUnbudgeted(page, url, rule); });
}

NovelInfo extractInfoPage(const QString& page, const QString& url, const SiteRule& rule) {
    return withinBudget(rule, [&] { return extractInfoPageUnbudgeted(page, url, rule); });
}

ChapterList extractDirectoryPage(const QString& page, const QString& url, const SiteRule& rule) {
    return withinBudget(rule, [&] { return extractDirectoryPageUnbudgeted(page, url, rule); });
}

QString extractChapterContent(const QString& page, const SiteRule& rule) {
    return withinBudget(rule, [&] { return extractChapterContentUnbudgeted(page, rule); });
}

} // namespace zvrd
