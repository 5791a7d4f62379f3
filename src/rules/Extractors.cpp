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

// A capture as a trace shows it: one line, at most 80 characters.
QString shortened(const QString& value) {
    QString line = value.simplified();
    return line.size() > 80 ? line.left(79) + QChar(0x2026) : line;
}

void traceField(ExtractionTrace* trace, const QString& column, const QStringList& values) {
    if (!trace)
        return;
    FieldCapture capture{column, static_cast<int>(values.size()), {}};
    for (qsizetype i = 0; i < values.size() && i < 3; ++i)
        capture.values.append(shortened(values[i]));
    trace->append(capture);
}

} // namespace

QString patternTooSlowText(const QString& siteName) {
    return QStringLiteral("目标站「%1」的匹配规则过慢（单页超过 %2 秒），该页按无匹配处理。")
        .arg(siteName)
        .arg(MatchBudget::kPageMilliseconds / 1000);
}

static SearchResults extractSearchPageUnbudgeted(const QString& page, const QString& url,
                                                 const SiteRule& rule, ExtractionTrace* trace) {
    SearchResults data;
    QByteArray region;
    const bool inRegion = firstMatchBytes(rule.searchResultRegion, PatternSubject(page), &region);
    traceField(trace, QStringLiteral("search_page_result_regional"),
               inRegion ? QStringList{QString::fromUtf8(region)} : QStringList());
    if (!inRegion)
        return data;
    const PatternSubject subject = PatternSubject::fromUtf8(std::move(region));
    auto stage = [&](const char* column, const QString& field, QStringList& into) {
        for (QString& value : allGroup1(field, subject))
            into.append(trimControl(value));
        traceField(trace, QLatin1String(column), into);
        return !into.isEmpty();
    };
    if (!stage("search_page_novel_name", rule.searchNovelName, data.names) ||
        !stage("search_page_novel_author", rule.searchNovelAuthor, data.authors) ||
        !stage("search_page_latest_chapter", rule.searchLatestChapter, data.latestChapters))
        return data;
    const UrlCombiner combiner(url);
    for (const QString& address : allGroup1(rule.searchInfoPageUrl, subject))
        data.infoPageUrls.append(combiner.combine(address));
    traceField(trace, QStringLiteral("search_page_info_page_url"), data.infoPageUrls);
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
                                           const SiteRule& rule, ExtractionTrace* trace) {
    NovelInfo info;
    info.infoPageUrl = url;
    const PatternSubject subject(page);
    auto field = [&](const char* column, const QString& pattern) {
        QString value = trimControl(firstMatch(pattern, subject));
        traceField(trace, QLatin1String(column),
                   value.isEmpty() ? QStringList() : QStringList{value});
        return value;
    };
    info.name = field("info_page_novel_name", rule.infoNovelName);
    info.author = field("info_page_novel_author", rule.infoNovelAuthor);
    info.latestChapter = field("info_page_latest_chapter", rule.infoLatestChapter);
    bool found = false;
    const QString directory = firstMatch(rule.infoDirectoryPageUrl, subject, &found);
    if (found)
        info.directoryPageUrl = combineUrl(url, directory);
    traceField(trace, QStringLiteral("info_page_directory_page_url"),
               info.directoryPageUrl.isEmpty() ? QStringList()
                                               : QStringList{info.directoryPageUrl});
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
                                                  const SiteRule& rule, ExtractionTrace* trace) {
    ChapterList data;
    QByteArray region;
    const bool inRegion = firstMatchBytes(rule.directoryRegion, PatternSubject(page), &region);
    traceField(trace, QStringLiteral("directory_page_regional"),
               inRegion ? QStringList{QString::fromUtf8(region)} : QStringList());
    if (!inRegion)
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
    if (trace) {
        QStringList links;
        for (qsizetype i = 0; i < data.names.size() && i < 3; ++i)
            links.append(data.names[i] + QStringLiteral(" → ") + data.urls[i]);
        traceField(trace, QStringLiteral("directory_page_chapter_name_and_url"), links);
        trace->back().matches = data.count;
    }
    return data;
}

ChapterList directoryOverPages(const QString& firstPage, const QString& firstUrl,
                               const SiteRule& rule, const PageFetch& fetch,
                               ExtractionTrace* trace) {
    ChapterList list = extractDirectoryPage(firstPage, firstUrl, rule, trace);
    list.pageUrl = firstUrl;
    QString text = firstPage;
    QString at = firstUrl;
    QStringList read{firstUrl};
    for (int pages = 1; pages < kMostListPages && list.count > 0; ++pages) {
        const QString next = nextPageUrl(rule.directoryNextPage, text, at, read);
        if (next.isEmpty())
            break;
        const FollowedPage page = fetch(next, at);
        text = page.status == 200 ? decodeBody(page.body, rule.charset) : QString();
        at = page.url;
        const ChapterList more =
            text.isEmpty() ? ChapterList() : extractDirectoryPage(text, at, rule);
        if (more.count == 0)
            return ChapterList();
        read << next << at;
        list.names += more.names;
        list.urls += more.urls;
        list.count += more.count;
    }
    if (rule.distinctLinks)
        list = withoutRepeatedLinks(list);
    return list;
}

ChapterList parseDirectoryPage(const QString& url, const SiteRule& rule,
                               const QString& linkedFrom) {
    const ReadPage page = pageFollowing(url, rule.charset, linkedFrom);
    if (page.text.isEmpty())
        return ChapterList();
    return directoryOverPages(
        page.text, page.url, rule,
        [](const QString& next, const QString& from) { return fetchFollowing(next, from); });
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

static QString extractChapterContentUnbudgeted(const QString& page, const SiteRule& rule,
                                               ExtractionTrace* trace) {
    bool found = false;
    const QString content = firstMatch(rule.chapterContent, PatternSubject(page), &found);
    traceField(trace, QStringLiteral("chapter_page_chapter_content"),
               found ? QStringList{content} : QStringList());
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

SearchResults extractSearchPage(const QString& page, const QString& url, const SiteRule& rule,
                                ExtractionTrace* trace) {
    return withinBudget(rule, [&] { return extractSearchPageUnbudgeted(page, url, rule, trace); });
}

NovelInfo extractInfoPage(const QString& page, const QString& url, const SiteRule& rule,
                          ExtractionTrace* trace) {
    return withinBudget(rule, [&] { return extractInfoPageUnbudgeted(page, url, rule, trace); });
}

ChapterList extractDirectoryPage(const QString& page, const QString& url, const SiteRule& rule,
                                 ExtractionTrace* trace) {
    return withinBudget(rule,
                        [&] { return extractDirectoryPageUnbudgeted(page, url, rule, trace); });
}

QString extractChapterContent(const QString& page, const SiteRule& rule, ExtractionTrace* trace) {
    return withinBudget(rule, [&] { return extractChapterContentUnbudgeted(page, rule, trace); });
}

} // namespace zvrd
