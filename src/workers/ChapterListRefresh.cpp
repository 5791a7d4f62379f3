#include "workers/OpenNovelWorker.h"

#include "core/DataFolder.h"
#include "core/Text.h"
#include "net/WebFetch.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/SqliteTable.h"

#include <QSet>

#include <vector>

namespace zvrd {

QString refreshStatusText(const RefreshOutcome& outcome) {
    switch (outcome.kind) {
    case RefreshOutcome::Kind::NoStoredList:
        return QStringLiteral("本书还没有目录，打开它即可读取。");
    case RefreshOutcome::Kind::Unreachable:
        return QStringLiteral("无法从目标站读取最新目录，目录未更新。");
    case RefreshOutcome::Kind::TooShort:
        return QStringLiteral("目标站目录只有 %1 个章节，不足已存 %2 个章节的一半，目录未更新。")
            .arg(outcome.siteCount)
            .arg(outcome.storedCount);
    case RefreshOutcome::Kind::UpToDate:
        return QStringLiteral("目录已是最新，没有新章节。");
    case RefreshOutcome::Kind::Added:
        break;
    }
    if (outcome.moved > 0)
        return QStringLiteral("目标站更换了章节地址，已更新 %1 个章节的地址，发现 %2 个新章节。")
            .arg(outcome.moved)
            .arg(outcome.added);
    return QStringLiteral("目录已更新，发现 %1 个新章节。").arg(outcome.added);
}

namespace {

// A site that gave its chapters new addresses: most stored addresses are gone from its list,
// but its first chapters have the stored titles in the stored order (at least 9 in 10).
bool chaptersMoved(const ChapterList& stored, const ChapterList& site) {
    if (stored.count == 0 || site.count < stored.count)
        return false;
    const QSet<QString> now(site.urls.begin(), site.urls.end());
    int gone = 0;
    int same = 0;
    for (int i = 0; i < stored.count; ++i) {
        gone += now.contains(stored.urls[i]) ? 0 : 1;
        same += sameChapterTitle(stored.names[i], site.names[i]) ? 1 : 0;
    }
    return gone * 2 > stored.count && same * 10 >= stored.count * 9;
}

} // namespace

RefreshOutcome refreshChapterList(int32_t novelId, const SiteRule& rule, const NovelInfo& novel,
                                  ChapterList* list) {
    RefreshOutcome outcome;
    const StoredListState state = storedListState(novelId);
    outcome.storedCount = state.count;
    if (state.count == 0) {
        outcome.kind = RefreshOutcome::Kind::NoStoredList;
        return outcome;
    }
    QString url = state.directoryPageUrl;
    if (url.isEmpty())
        url = novel.directoryPageUrl;
    if (url.isEmpty() && !novel.infoPageUrl.isEmpty())
        url = parseInfoPage(novel.infoPageUrl, rule).directoryPageUrl;
    if (url.isEmpty())
        return outcome;
    ListSeen seen;
    ChapterList site;
    if (!rule.directoryNextPage.isEmpty()) {
        // A list over pages is read whole; only its addresses tell whether it changed.
        site = parseDirectoryPage(url, rule, novel.infoPageUrl);
        if (!site.pageUrl.isEmpty())
            url = site.pageUrl;
        seen.page = QStringLiteral("pages:") + chapterListFingerprint(site);
    } else {
        const FollowedPage page = fetchFollowing(url, novel.infoPageUrl);
        if (page.status != 200 || page.body.isEmpty())
            return outcome;
        url = page.url; // where the list answered: a later check reads it there
        // Most checks of a library find most list pages as they were: those need not even be
        // read.
        seen.page = fingerprintOf((rule.charset + QChar(0) + rule.directoryRegion + QChar(0) +
                                   rule.directoryChapterNameAndUrl + QChar(0) + url + QChar(0) +
                                   (rule.distinctLinks ? QStringLiteral("distinct") : QString()))
                                      .toUtf8() +
                                  page.body);
        if (state.pageSeen(seen.page)) {
            outcome.kind = RefreshOutcome::Kind::UpToDate;
            outcome.siteCount = state.count;
            return outcome;
        }
        site = extractDirectoryPage(decodeBody(page.body, rule.charset), url, rule);
        if (rule.distinctLinks)
            site = withoutRepeatedLinks(site);
    }
    outcome.siteCount = site.count;
    if (site.count == 0)
        return outcome;
    // A list far shorter than the stored one is a broken rule or an anti-bot page, not the
    // novel: nothing changes.
    if (site.count * 2 < state.count) {
        outcome.kind = RefreshOutcome::Kind::TooShort;
        return outcome;
    }
    if (url != state.directoryPageUrl)
        setDirectoryPageUrl(novelId, url);
    outcome.kind = RefreshOutcome::Kind::UpToDate;
    seen.list = chapterListFingerprint(site);
    const bool listSeen = state.listSeen(seen.list);
    ChapterList stored;
    ChapterList& compared = list ? *list : stored;
    if (!listSeen && compared.count != state.count)
        compared = loadChapterList(novelId);
    ChapterList added = listSeen ? ChapterList() : newChapters(compared, site);
    if (added.count > 0 && chaptersMoved(compared, site)) {
        // The same chapters under new addresses: the stored rows keep their index and text;
        // only the chapters after them are new.
        const QStringList urls = site.urls.mid(0, compared.count);
        moveChapterAddresses(novelId, urls);
        compared.urls = urls;
        outcome.moved = compared.count;
        added = newChapters(compared, site);
        if (added.count == 0)
            outcome.kind = RefreshOutcome::Kind::Added; // the list changed: it is written again
    }
    if (added.count > 0)
        outcome.added = appendChapters(novelId, added, &seen, &compared);
    else
        rememberListSeen(novelId, seen);
    if (outcome.added > 0)
        outcome.kind = RefreshOutcome::Kind::Added;
    return outcome;
}

bool writeDirectoryPage(int32_t novelId, const SiteRule& rule, const NovelInfo& novel,
                        const ChapterList& list, const QString& bookDir) {
    ReadingMarks marks;
    marks.lastRead = lastReadChapter(novelId);
    const QList<int32_t> missing = chaptersToDownload(novelId, list.count);
    marks.notStored = QSet<int32_t>(missing.begin(), missing.end());
    const QString page = renderDirectoryPage(novelId, list.names, novel.name, rule.siteName,
                                             rule.siteUrl, novel.infoPageUrl, marks);
    return writePage(page, bookDir, QStringLiteral("directory_page.htm"));
}

bool redrawDirectoryPage(int32_t novelId) {
    const RecentReadName names = recentReadName(novelId);
    if (names.siteName.isEmpty() || names.novelName.isEmpty())
        return false;
    const NovelInfo novel = recentReadInfo(names.siteName, names.novelName);
    for (const SiteRule& rule : loadSiteRules()) {
        if (rule.siteName == names.siteName)
            return writeDirectoryPage(novelId, rule, novel, loadChapterList(novelId),
                                      bookFolder(names.siteName, names.novelName));
    }
    return false;
}

} // namespace zvrd
