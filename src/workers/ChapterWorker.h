// workers: one chapter into the novel store (downloaded and cleaned, or its pictures fetched)
// and, when asked, shown as the chapter page.
#pragma once

#include "workers/WindowSurface.h"
#include "workers/Worker.h"

#include <atomic>
#include <functional>
#include <memory>

namespace zvrd {

// What became of one chapter worker's chapter.
// Removed: the novel was removed meanwhile (here or by another program); nothing was stored.
// Deferred: its site stopped answering in this run; left missing for the next opening.
// Refused: the site answered 429 or 503; nothing stored, the bulk download asks again later.
// Unmatched: the page answered but held no chapter while the site's other pages did (an
// anti-bot or "banned" page); nothing stored, asked again later.
enum class ChapterOutcome { Stored, AlreadyStored, Failed, Removed, Deferred, Refused, Unmatched };

// How one site answers the chapter requests of one run (a bulk download, an update check):
// after kGiveUpAfter requests in a row that got no answer at all (time-out, connection refused),
// the rest of its chapters are not asked for in this run; and whether any of its chapter pages
// held a chapter, which makes an empty one look like a refusal.
class SiteAnswers {
public:
    static constexpr int kGiveUpAfter = 5;
    void note(bool answered) {
        if (answered)
            m_inARow = 0;
        else if (++m_inARow >= kGiveUpAfter)
            m_givenUp = true;
    }
    bool givenUp() const { return m_givenUp; }
    void noteMatched() { m_matched = true; }
    bool anyMatched() const { return m_matched; }

private:
    std::atomic<int> m_inARow{0};
    std::atomic<bool> m_givenUp{false};
    std::atomic<bool> m_matched{false};
};

// Which refusals a chapter worker may leave for a later try instead of storing the chapter as
// failed (the bulk download's, until its patience ends).
struct Deferral {
    bool refused = false;   // 429 or 503
    bool emptyPage = false; // 200 without a chapter while others matched
};

class ChapterWorker : public Worker {
    Q_OBJECT
public:
    using DoneCallback = std::function<void(int32_t chapterIndex, ChapterOutcome outcome)>;

    // Starts at once. From the reading navigation: detached, display on; from the bulk download:
    // held, display off. done, when given, is called on the worker's thread as its last step,
    // whatever happened (an error included).
    ChapterWorker(int32_t ruleId, int32_t novelId, int32_t chapterIndex, const QString& bookDir,
                  const QString& novelName, const QString& chapterName, const QString& chapterUrl,
                  bool displayChapter, std::shared_ptr<WindowSurface> surface, Ownership ownership,
                  DoneCallback done = {}, std::shared_ptr<SiteAnswers> answers = {},
                  Deferral deferral = {});

    // The outcome, once the worker has ended.
    ChapterOutcome outcome() const { return m_outcome; }

    // A chapter page or picture that gets no answer, times out, or answers 429 or 5xx is tried
    // again after these pauses (about 1 s, then 3 s), unless the refusal may be deferred; tests
    // shorten them.
    static void setRetryPauses(int firstMs, int secondMs);

protected:
    void run() override;
    void reportError(const QString& text) override;

private:
    void report(const QString& text);
    // False, with the outcome Removed, once the novel is no longer recorded: nothing of it may be
    // written any more.
    bool novelStillRecorded();
    void saveFailed();
    // Downloads the chapter; false when it failed (the failed row is stored and reported).
    bool download(QString* chapterHtml);
    void show(QString chapterHtml);

    QString m_statusText;
    QString m_novelName;
    QString m_chapterName;
    QString m_chapterUrl;
    QString m_bookDir;
    int32_t m_ruleId;
    int32_t m_novelId;
    int32_t m_chapterIndex;
    bool m_displayChapter;
    std::shared_ptr<WindowSurface> m_surface;
    DoneCallback m_done;
    std::shared_ptr<SiteAnswers> m_answers;
    Deferral m_deferral;
    std::atomic<ChapterOutcome> m_outcome{ChapterOutcome::Failed};
};

// The local file of picture n of a chapter: folder + index + "_" + n + "." + extension of the
// address, the extension made safe as a file name (no "/" or control character).
QString pictureFileName(const QString& picFolder, int32_t chapterIndex, int n,
                        const QString& resolvedUrl);

} // namespace zvrd
