// core: plain records that travel between the extractors, the novel store and the workers.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace zvrd {

// One novel as read from its information page, or from the recent reads.
struct TInfoPageData {
    bool isMatch = false;
    QString strInfoPageUrl;
    QString strNovelSort;
    QString strNovelName;
    QString strNovelAuthor;
    QString strNovelState;
    QString strNovelIntro;
    QString strLatestChapter;
    QString strDirectoryPageUrl;
};

// One novel's chapter list: entry i of both lists is the chapter with index i.
struct TDirectoryPageData {
    int32_t Num = 0;
    QStringList slChapterNameList;
    QStringList slChapterUrlList;
};

} // namespace zvrd
