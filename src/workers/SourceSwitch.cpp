#include "workers/SourceSwitch.h"

#include "rules/Extractors.h"
#include "rules/PatternNotation.h"
#include "rules/RuleSet.h"
#include "store/NovelLibrary.h"
#include "store/NovelSwitch.h"
#include "workers/HeadlessSurface.h"
#include "workers/SearchWorkers.h"

#include <QElapsedTimer>
#include <QHash>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

namespace zvrd {

QList<SourceCandidate> findOtherSources(int32_t novelId, const QString& siteName,
                                        const QString& novelName, const QString& author) {
    QElapsedTimer timer;
    timer.start();
    std::mutex lock;
    QList<SourceCandidate> found;
    QHash<QString, QString> infoUrls; // the first result of each site
    const QString key = novelNameKey(novelName);
    auto surface = std::make_shared<HeadlessSurface>(
        [&](const QString& site, const QString& name, const QString& rowAuthor,
            const QString& latest, const QString& url) {
            std::lock_guard guard(lock);
            if (site == siteName || novelNameKey(name) != key || infoUrls.contains(site))
                return;
            infoUrls.insert(site, url);
            SourceCandidate candidate;
            candidate.siteName = site;
            candidate.info.name = name;
            candidate.info.author = rowAuthor;
            candidate.info.latestChapter = latest;
            candidate.info.infoPageUrl = url;
            candidate.answerMs = static_cast<int>(timer.elapsed());
            found.append(candidate);
        });
    SearchCoordinator(novelName, surface, Worker::Ownership::Held).join();

    // Each site's information page and list, the sites side by side.
    const SiteRuleList rules = loadSiteRules();
    {
        std::vector<std::jthread> readers;
        for (SourceCandidate& candidate : found) {
            readers.emplace_back([&candidate, &rules] {
                const SiteRule rule = findRuleBySiteName(rules, candidate.siteName);
                try {
                    const NovelInfo info = parseInfoPage(candidate.info.infoPageUrl, rule);
                    if (!info.matched)
                        return;
                    candidate.info = info;
                    candidate.list =
                        parseDirectoryPage(info.directoryPageUrl, rule, info.infoPageUrl);
                } catch (const RegexException&) {
                    candidate.list = ChapterList(); // a rule that fails offers nothing
                }
            });
        }
    }
    found.removeIf([](const SourceCandidate& c) { return c.list.count == 0; });
    const QString ownAuthor = authorKey(author);
    for (SourceCandidate& candidate : found)
        candidate.sameAuthor = authorKey(candidate.info.author) == ownAuthor;
    std::stable_sort(found.begin(), found.end(),
                     [](const SourceCandidate& a, const SourceCandidate& b) {
                         if (a.sameAuthor != b.sameAuthor)
                             return a.sameAuthor;
                         if (a.list.count != b.list.count)
                             return a.list.count > b.list.count;
                         return a.answerMs < b.answerMs;
                     });
    if (!found.isEmpty() && found.first().sameAuthor &&
        found.first().list.count > chapterCount(novelId))
        recordOtherSource(novelId, found.first().siteName, found.first().list.count);
    return found;
}

namespace {

QString placeText(CarriedPlace::How how, const QString& oldName, const QString& newName,
                  const QString& site) {
    switch (how) {
    case CarriedPlace::How::Title:
    case CarriedPlace::How::Number:
        return QStringLiteral("已换到「%1」，阅读位置：%2。").arg(site, newName);
    case CarriedPlace::How::Following:
        return QStringLiteral("已换到「%1」：那里没有「%2」，阅读位置定在其后的「%3」。")
            .arg(site, oldName, newName);
    case CarriedPlace::How::Clamped:
        return QStringLiteral(
                   "已换到「%1」：那里的目录还没有「%2」，阅读位置定在它的最后一章「%3」。")
            .arg(site, oldName, newName);
    case CarriedPlace::How::Nothing:
        break;
    }
    return QStringLiteral("已换到「%1」，但没有找到「%2」对应的章节，请从目录中选择。")
        .arg(site, oldName);
}

} // namespace

SwitchOutcome switchSource(int32_t fromNovelId, const SourceCandidate& to) {
    SwitchOutcome outcome;
    const NovelInfo& info = to.info;
    addRecentRead(to.siteName, info.name, info.author, info.latestChapter, info.infoPageUrl);
    outcome.novelId = recentReadId(to.siteName, info.name);
    if (outcome.novelId < 0 || outcome.novelId == fromNovelId)
        return outcome;
    ChapterList newList = loadChapterList(outcome.novelId);
    if (newList.count == 0) {
        addChapterList(outcome.novelId, to.list);
        setDirectoryPageUrl(outcome.novelId,
                            to.list.pageUrl.isEmpty() ? info.directoryPageUrl : to.list.pageUrl);
        newList = loadChapterList(outcome.novelId);
    }
    const ChapterList oldList = loadChapterList(fromNovelId);
    const int32_t oldIndex = lastReadChapter(fromNovelId);
    const QString oldName = oldList.names.value(oldIndex);
    // Back where the reader came from, with nothing read since: the very place left there.
    const SwitchRecord back = switchRecord(outcome.novelId);
    if (back.movedTo == fromNovelId && back.toIndex == oldIndex && back.fromIndex >= 0 &&
        back.fromIndex < newList.count) {
        outcome.chapterIndex = back.fromIndex;
        outcome.how = CarriedPlace::How::Title;
    } else if (oldIndex >= 0) {
        const CarriedPlace place = PlaceCarrier(oldList.names, newList.names).carry(oldIndex);
        outcome.chapterIndex = place.index;
        outcome.how = place.how;
    }
    if (outcome.chapterIndex >= 0)
        recordReading(outcome.novelId, outcome.chapterIndex);
    else
        recordOpening(outcome.novelId);
    recordSwitch(fromNovelId, outcome.novelId, oldIndex, outcome.chapterIndex);
    outcome.statusText = oldIndex < 0
                             ? QStringLiteral("已换到「%1」。").arg(to.siteName)
                             : placeText(outcome.how, oldName,
                                         newList.names.value(outcome.chapterIndex), to.siteName);
    return outcome;
}

} // namespace zvrd
