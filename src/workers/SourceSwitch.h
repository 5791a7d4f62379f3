// workers: 换源 — the same novel on the reader's other sites, and carrying the novel over to one
// of them with the reading place.
#pragma once

#include "core/ChapterMatch.h"
#include "core/NovelRecords.h"

#include <QList>
#include <QString>

#include <cstdint>

namespace zvrd {

// The novel as another site has it.
struct SourceCandidate {
    QString siteName;
    NovelInfo info;
    ChapterList list;
    int answerMs = 0;        // until the site's search answered
    bool sameAuthor = false; // a differing author is shown but not proposed
};

// Searches the novel's name on every selected site but siteName (the words as the library has
// them), keeps the results that are the same novel (name equal after light clean-up) and reads
// each one's information page and chapter list, the sites side by side. The best first: the
// same author, then the most chapters, then the fastest answer. The best one that lists more
// chapters than novelId holds is remembered for the bookshelf.
QList<SourceCandidate> findOtherSources(int32_t novelId, const QString& siteName,
                                        const QString& novelName, const QString& author);

// What a switch did.
struct SwitchOutcome {
    int32_t novelId = -1;      // the novel on the new site
    int32_t chapterIndex = -1; // the place there (-1: none)
    CarriedPlace::How how = CarriedPlace::How::Nothing;
    QString statusText;
};

// Carries novel fromNovelId over to the candidate: the novel is recorded on the new site (or
// found there, when the reader was there before) with its chapter list, the last chapter read
// mapped to the new list (or, switching back with nothing read since, the exact place left),
// and the bookshelf shows it in the old one's place. Nothing of the old site is removed.
SwitchOutcome switchSource(int32_t fromNovelId, const SourceCandidate& to);

} // namespace zvrd
