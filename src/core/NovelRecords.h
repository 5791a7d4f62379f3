// core: plain records that travel between the extractors, the novel store and the workers.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace zvrd {

// One novel as read from its information page, or from the recent reads.
struct NovelInfo {
    bool matched = false;
    QString infoPageUrl;
    QString sort;
    QString name;
    QString author;
    QString state;
    QString intro;
    QString latestChapter;
    QString directoryPageUrl;
};

// One novel's chapter list: entry i of both lists is the chapter with index i.
struct ChapterList {
    int32_t count = 0;
    QStringList names;
    QStringList urls;
    QString pageUrl; // read from the site: the address of the list page that answered
};

// What a stored chapter holds (novel_chapter.chapter_type).
enum class ChapterKind : int32_t {
    Failed = -1, // a failed attempt: no content
    Text = 0,    // the chapter's HTML
    Picture = 1, // the stored picture files, separated by "|"
};

} // namespace zvrd
