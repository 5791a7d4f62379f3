#include "workers/ChapterWorker.h"

#include "core/DataFolder.h"
#include "net/SiteLimiter.h"
#include "net/WebFetch.h"
#include "pages/PageRenderer.h"
#include "rules/Extractors.h"
#include "store/NovelLibrary.h"
#include "workers/OpenNovelWorker.h"

#include <QDir>
#include <QFile>

namespace zvrd {
namespace {

std::atomic<int> gFirstRetryPauseMs{1000};
std::atomic<int> gSecondRetryPauseMs{3000};

bool isRefusal(int32_t status) {
    return status == 429 || status == 503;
}

// Runs attempt until it succeeds or its status is not worth another try, at most three times;
// with site, not once the site has stopped answering (then *deferred is set). A refusal that
// may be deferred is not tried again here: the bulk download asks again when the site allows.
template <typename F>
auto withRetries(SiteAnswers* site, bool* deferred, bool deferRefusals, F&& attempt) {
    auto tryOnce = [&] {
        auto result = attempt();
        if (site)
            site->note(result.status != -1);
        return result;
    };
    if (site && site->givenUp()) {
        *deferred = true;
        return decltype(attempt()){};
    }
    auto result = tryOnce();
    for (const int pause : {gFirstRetryPauseMs.load(), gSecondRetryPauseMs.load()}) {
        if (result.status == 200 || !worthRetrying(result.status) ||
            (deferRefusals && isRefusal(result.status)))
            break;
        sleepMs(pause);
        if (site && site->givenUp()) {
            *deferred = true;
            break;
        }
        result = tryOnce();
    }
    return result;
}

} // namespace

QString pictureFileName(const QString& picFolder, int32_t chapterIndex, int n,
                        const QString& resolvedUrl) {
    // The extension comes from a web page: it must not lead out of the picture folder.
    QString ext = fileExtension(resolvedUrl);
    for (QChar& c : ext) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
            c = QLatin1Char('_');
    }
    return picFolder + QString::number(chapterIndex) + QLatin1Char('_') + QString::number(n) +
           QLatin1Char('.') + ext;
}

ChapterWorker::ChapterWorker(int32_t ruleId, int32_t novelId, int32_t chapterIndex,
                             const QString& bookDir, const QString& novelName,
                             const QString& chapterName, const QString& chapterUrl,
                             bool displayChapter, std::shared_ptr<WindowSurface> surface,
                             Ownership ownership, DoneCallback done,
                             std::shared_ptr<SiteAnswers> answers, Deferral deferral)
    : Worker(ownership), m_novelName(novelName), m_chapterName(chapterName),
      m_chapterUrl(chapterUrl), m_bookDir(bookDir), m_ruleId(ruleId), m_novelId(novelId),
      m_chapterIndex(chapterIndex), m_displayChapter(displayChapter), m_surface(std::move(surface)),
      m_done(std::move(done)), m_answers(std::move(answers)), m_deferral(deferral) {
    start();
}

void ChapterWorker::setRetryPauses(int firstMs, int secondMs) {
    gFirstRetryPauseMs = firstMs;
    gSecondRetryPauseMs = secondMs;
}

void ChapterWorker::report(const QString& text) {
    m_statusText = text;
    m_surface->setStatusText(m_statusText);
}

bool ChapterWorker::novelStillRecorded() {
    if (m_outcome == ChapterOutcome::Removed)
        return false;
    if (isRecordedNovel(m_novelId))
        return true;
    m_outcome = ChapterOutcome::Removed;
    return false;
}

void ChapterWorker::saveFailed() {
    if (!novelStillRecorded())
        return;
    std::lock_guard lock(appMutex());
    saveChapter(m_novelId, m_chapterIndex, ChapterKind::Failed, 0, QString());
}

void ChapterWorker::reportError(const QString& text) {
    // A chapter not stored yet is stored as failed where the database still takes it.
    if (m_outcome == ChapterOutcome::Failed) {
        try {
            saveFailed();
        } catch (...) {
            // A full disk or a read-only folder: nothing more can be stored.
        }
    }
    report(errorStatusText(text));
}

bool ChapterWorker::download(QString* chapterHtml) {
    SiteRuleList rules;
    QString listUrl; // the page that links to the chapter
    {
        std::lock_guard lock(appMutex());
        rules = loadSiteRules();
        listUrl = directoryPageUrl(m_novelId);
    }
    const SiteRule* rule = nullptr;
    for (const SiteRule& r : rules) {
        if (r.id.toInt() == m_ruleId) {
            rule = &r;
            break;
        }
    }
    if (!rule) {
        report(QStringLiteral("无法从小说章节页提取章节内容，任务已中止！"));
        saveFailed();
        return false;
    }
    // A reader who clicked a chapter learns why it does not come at once.
    if (const auto paused = SiteLimiter::of(m_chapterUrl)->pausedFor();
        m_displayChapter && paused >= std::chrono::seconds(1))
        report(QStringLiteral("目标站要求等待 %1 秒，之后打开「%2」……")
                   .arg(std::chrono::ceil<std::chrono::seconds>(paused).count())
                   .arg(m_chapterName));
    bool deferred = false;
    const FollowedPage page = withRetries(m_answers.get(), &deferred, m_deferral.refused,
                                          [&] { return fetchFollowing(m_chapterUrl, listUrl); });
    if (deferred) {
        m_outcome = ChapterOutcome::Deferred;
        return false;
    }
    if (m_deferral.refused && isRefusal(page.status)) {
        m_outcome = ChapterOutcome::Refused;
        return false;
    }
    // A chapter over several pages is whole or nothing; its later pages are asked for like the
    // first (tried again, or left for later when the site refuses).
    int32_t laterStatus = 200;
    const QString content =
        page.status == 200
            ? chapterOverPages(
                  decodeBody(page.body, rule->charset), page.url, *rule,
                  [&](const QString& url, const QString& linkedFrom) {
                      return withRetries(m_answers.get(), &deferred, m_deferral.refused,
                                         [&] { return fetchFollowing(url, linkedFrom); });
                  },
                  &laterStatus)
            : QString();
    if (deferred) {
        m_outcome = ChapterOutcome::Deferred;
        return false;
    }
    if (m_deferral.refused && isRefusal(laterStatus)) {
        m_outcome = ChapterOutcome::Refused;
        return false;
    }
    if (!content.isEmpty() && m_answers) {
        m_answers->noteMatched();
    } else if (page.status == 200 && m_deferral.emptyPage && m_answers && m_answers->anyMatched()) {
        // Its neighbours held chapters: most likely the site refused this one in its own way.
        SiteLimiter::of(page.url)->pushedBack();
        m_outcome = ChapterOutcome::Unmatched;
        return false;
    }
    if (content.isEmpty()) {
        saveFailed();
        // A page that never came is no rule that failed: offline, the reader is told so.
        const int32_t status = page.status != 200 ? page.status : laterStatus;
        if (status < 0)
            report(QStringLiteral(
                       "无法连接目标站（没有应答或超时），章节「%1」未能下载，请检查网络后重试。")
                       .arg(m_chapterName));
        else
            report(QStringLiteral("提取小说章节页正文失败，章节名称：%1， 目标页面：%2")
                       .arg(m_chapterName, m_chapterUrl));
        return false;
    }
    if (!novelStillRecorded())
        return false;
    const QStringList pictures = imageUrls(content);
    if (pictures.isEmpty()) {
        std::lock_guard lock(appMutex());
        saveChapter(m_novelId, m_chapterIndex, ChapterKind::Text, 1, content);
        *chapterHtml = content;
    } else {
        // A picture chapter: only the pictures are kept.
        const QString picFolder = m_bookDir + QStringLiteral("pic/");
        QDir().mkpath(picFolder);
        QString stored;
        for (int n = 0; n < pictures.size(); ++n) {
            // Relative to the page that answered, as a browser resolves them.
            const QString resolved = combineUrl(page.url, pictures[n]);
            const QString file = pictureFileName(picFolder, m_chapterIndex, n, resolved);
            if (QFile::exists(file))
                QFile::remove(file);
            report(QStringLiteral("正在下载图片章节： %1").arg(resolved));
            const DownloadResult picture =
                withRetries(m_answers.get(), &deferred, m_deferral.refused, [&] {
                    const DownloadResult r =
                        downloadFileChecked(resolved, file, kMaxDownloadBytes, page.url);
                    // A written file counts as an answer of 200 for the retry rule.
                    return r.written ? DownloadResult{true, 200} : r;
                });
            if (deferred) {
                m_outcome = ChapterOutcome::Deferred;
                return false;
            }
            if (m_deferral.refused && isRefusal(picture.status)) {
                m_outcome = ChapterOutcome::Refused;
                return false;
            }
            if (!picture.written) {
                saveFailed();
                report(
                    QStringLiteral("图片章节下载失败，章节地址： %1，请重试！").arg(m_chapterUrl));
                return false;
            }
            if (n > 0)
                stored += QLatin1Char('|');
            stored += file;
        }
        if (!novelStillRecorded())
            return false;
        std::lock_guard lock(appMutex());
        saveChapter(m_novelId, m_chapterIndex, ChapterKind::Picture, 1, stored);
        *chapterHtml = stored;
    }
    report(QStringLiteral("成功下载一个章节：「%1」").arg(m_chapterName));
    return true;
}

void ChapterWorker::run() {
    // The bulk download learns of every end, also of one by an error.
    struct Done {
        ChapterWorker* worker;
        ~Done() {
            if (worker->m_done)
                worker->m_done(worker->m_chapterIndex, worker->m_outcome);
        }
    } done{this};
    m_outcome = ChapterOutcome::Failed;
    bool downloaded = false;
    {
        std::lock_guard lock(appMutex());
        downloaded = isChapterDownloaded(m_novelId, m_chapterIndex);
    }
    QString chapterHtml;
    if (downloaded) {
        m_outcome = ChapterOutcome::AlreadyStored;
    } else {
        // An error on the way is reported, and stored as failed, by reportError.
        if (!download(&chapterHtml) || m_outcome == ChapterOutcome::Removed)
            return;
        m_outcome = ChapterOutcome::Stored;
    }
    if (m_displayChapter)
        show(chapterHtml);
}

void ChapterWorker::show(QString chapterHtml) {
    {
        std::lock_guard lock(appMutex());
        const StoredChapter stored = storedChapter(m_novelId, m_chapterIndex);
        if (stored.found) {
            chapterHtml = stored.content;
            if (stored.kind == ChapterKind::Picture)
                chapterHtml = pictureChapterHtml(chapterHtml);
        }
    }
    const int32_t count = chapterCount(m_novelId);
    // The chapter read last opens where the reader left it.
    const int32_t startAt =
        lastReadChapter(m_novelId) == m_chapterIndex ? readingPlace(m_novelId, m_chapterIndex) : 0;
    const QString page = renderContentPage(m_novelId, m_chapterIndex, count, m_bookDir, m_novelName,
                                           m_chapterName, chapterHtml, startAt);
    const QString file = m_bookDir + QStringLiteral("content_page.htm");
    if (!writePage(page, m_bookDir, QStringLiteral("content_page.htm"))) {
        report(QStringLiteral("无法向本地磁盘写入小说目录页面，任务中止！。"));
        m_surface->showResultList();
        return;
    }
    report(QStringLiteral("当前章节： 「%1」").arg(m_chapterName));
    m_surface->navigatePageView(file);
    recordReading(m_novelId, m_chapterIndex);
    // The table of contents the reader goes back to marks this chapter as the last one read.
    redrawDirectoryPage(m_novelId);
}

} // namespace zvrd
