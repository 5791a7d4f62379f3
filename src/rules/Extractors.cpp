#include "rules/Extractors.h"

#include "net/WebFetch.h"
#include "rules/PatternNotation.h"

namespace zvrd {
namespace {

// The page at url when its header says 200; empty otherwise.
QString FetchPage(const QString& url, const QString& charset) {
    const QString header = GetHead(url);
    if (header.isEmpty() || GetStatusCode(header) != 200)
        return QString();
    return GetHtml(url, charset);
}

// The fixed picture-tag pattern: lower-case "<img" and "src", no DOTALL. The doubled quote of
// the bracket expressions stands as written.
const QString& ImagePattern() {
    static const QString pattern =
        QStringLiteral("<img\\b[^<>]*?\\bsrc[\\s\\t\\r\\n]*=[\\s\\t\\r\\n]*[\"\"']?[\\s\\t\\r\\n]*"
                       "([^\\s\\t\\r\\n\"\"'<>]*\\.[a-z]*)[^<>]*?/?[\\s\\t\\r\\n]*>");
    return pattern;
}

} // namespace

TSearchPageData ExtractSearchPage(const QString& page, const QString& url, const TRuleInfo& rule) {
    TSearchPageData data;
    QByteArray region;
    if (!FirstMatchBytes(rule.strSearchPageResultRegional, TPatternSubject(page), &region))
        return data;
    const TPatternSubject subject = TPatternSubject::FromUtf8(std::move(region));
    auto stage = [&](const QString& field, QStringList& into, bool trim) {
        for (QString& value : AllGroup1(field, subject))
            into.append(trim ? TrimControl(value) : value);
        return !into.isEmpty();
    };
    if (!stage(rule.strSearchPageNovelName, data.slNovelNameList, true) ||
        !stage(rule.strSearchPageNovelAuthor, data.slNovelAuthorList, true) ||
        !stage(rule.strSearchPageLatestChapter, data.slLatestChapterList, true))
        return data;
    const TUrlCombiner combiner(url);
    for (const QString& address : AllGroup1(rule.strSearchPageInfoPageUrl, subject))
        data.slNovelInfoPageUrlList.append(combiner.Combine(address));
    if (data.slNovelInfoPageUrlList.isEmpty())
        return data;
    const qsizetype n = data.slNovelNameList.size();
    if (data.slNovelAuthorList.size() == n && data.slLatestChapterList.size() == n &&
        data.slNovelInfoPageUrlList.size() == n) {
        data.Num = static_cast<int32_t>(n);
    } else {
        data = TSearchPageData();
    }
    return data;
}

TSearchPageData ParseSearchPage(const QString& url, const TRuleInfo& rule) {
    const QString page = FetchPage(url, rule.strCharset);
    if (page.isEmpty())
        return TSearchPageData();
    return ExtractSearchPage(page, url, rule);
}

TInfoPageData ExtractInfoPage(const QString& page, const QString& url, const TRuleInfo& rule) {
    TInfoPageData info;
    info.strInfoPageUrl = url;
    const TPatternSubject subject(page);
    info.strNovelName = TrimControl(FirstMatch(rule.strInfoPageNovelName, subject));
    info.strNovelAuthor = TrimControl(FirstMatch(rule.strInfoPageNovelAuthor, subject));
    info.strLatestChapter = TrimControl(FirstMatch(rule.strInfoPageLatestChapter, subject));
    bool found = false;
    const QString directory = FirstMatch(rule.strInfoPageDirectoryPageUrl, subject, &found);
    if (found)
        info.strDirectoryPageUrl = CombineUrl(url, directory);
    info.isMatch = !info.strNovelName.isEmpty() && !info.strNovelAuthor.isEmpty() &&
                   !info.strLatestChapter.isEmpty() && !info.strDirectoryPageUrl.isEmpty();
    return info;
}

TInfoPageData ParseInfoPage(const QString& url, const TRuleInfo& rule) {
    const QString page = FetchPage(url, rule.strCharset);
    if (page.isEmpty()) {
        TInfoPageData info;
        info.strInfoPageUrl = url;
        return info;
    }
    return ExtractInfoPage(page, url, rule);
}

bool IsAddressFirst(const QString& piece) {
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

TDirectoryPageData ExtractDirectoryPage(const QString& page, const QString& url,
                                        const TRuleInfo& rule) {
    TDirectoryPageData data;
    QByteArray region;
    if (!FirstMatchBytes(rule.strDirectoryPageRegional, TPatternSubject(page), &region))
        return data;
    const TPatternSubject subject = TPatternSubject::FromUtf8(std::move(region));
    const TUrlCombiner combiner(url);
    for (const QString& piece : SplitAlternatives(rule.strDirectoryPageChapterNameAndUrl)) {
        const bool addressFirst = IsAddressFirst(piece);
        const auto add = [&](const QStringList& groups) {
            const QString& name = addressFirst ? groups[1] : groups[0];
            const QString& address = addressFirst ? groups[0] : groups[1];
            data.slChapterNameList.append(TrimControl(name));
            data.slChapterUrlList.append(combiner.Combine(address));
        };
        if (ForEachMatchOfPiece(piece, subject, 2, add) > 0)
            break;
    }
    data.Num = static_cast<int32_t>(data.slChapterNameList.size());
    return data;
}

TDirectoryPageData ParseDirectoryPage(const QString& url, const TRuleInfo& rule) {
    const QString page = FetchPage(url, rule.strCharset);
    if (page.isEmpty())
        return TDirectoryPageData();
    return ExtractDirectoryPage(page, url, rule);
}

QString ExtractChapterContent(const QString& page, const TRuleInfo& rule) {
    bool found = false;
    const QString content =
        FirstMatch(rule.strChapterPageChapterContent, TPatternSubject(page), &found);
    if (!found)
        return QString();
    return ApplyRemovalList(rule.strReplaceRule, content);
}

QString ParseChapterContent(const TRuleInfo& rule, const QString& url) {
    const QString page = FetchPage(url, rule.strCharset);
    if (page.isEmpty())
        return QString();
    return ExtractChapterContent(page, rule);
}

QStringList GetImageUrls(const QString& text) {
    static thread_local const TRegex re(ImagePattern(), /*dotAll=*/false);
    const QByteArray utf8 = text.toUtf8();
    QStringList urls;
    QStringList groups;
    qsizetype start = 0;
    qsizetype end = 0;
    while (re.MatchTrusted(utf8.constData(), utf8.size(), start, &groups, 2, nullptr, &end)) {
        urls.append(groups[1]);
        if (end <= start)
            break;
        start = end;
    }
    return urls;
}

} // namespace zvrd
