// export, inside: what the book writers share. The stored novel is planned once (names, which
// chapters are stored, the picture files); the chapters' text is read while a book is written.
#pragma once

#include "core/NovelRecords.h"
#include "export/NovelExport.h"
#include "store/NovelLibrary.h"

#include <QString>

#include <vector>

namespace zvrd {

// A name fit for a title: one line, nothing XML cannot hold, never empty.
QString cleanName(const QString& name, const QString& fallback);
QString chapterFallbackName(int32_t index);
const QString& missingText();

struct Picture {
    QString path;      // the stored file
    QString mediaType; // empty: not a type every reader shows, left out
    QString entry;     // its name inside the book
};

struct ChapterPlan {
    QString name;
    bool stored = false;
    bool picture = false;
    std::vector<Picture> pictures;
};

struct NovelPlan {
    int32_t novelId = -1;
    NovelInfo info;
    QString siteName;
    std::vector<ChapterPlan> chapters;
    int32_t missing = 0;
    ChineseScript script = ChineseScript::Original; // the book's, for the chapters' text
};

// Everything but the chapters' text: names, which are stored, the picture files.
NovelPlan planNovel(const QString& siteName, const QString& novelName);

// Each writes the whole book to fileName, or nothing there; the error text, empty on success.
QString writeEpub(const NovelPlan& plan, const QString& fileName);
QString writeText(const NovelPlan& plan, const QString& fileName, TextEncoding encoding);

} // namespace zvrd
