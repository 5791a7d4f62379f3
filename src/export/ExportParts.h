// export, inside: what the book writers share. The stored novel is planned once (names, which
// chapters are stored, the picture files); the chapters' text is read while a book is written.
#pragma once

#include "core/NovelRecords.h"
#include "export/NovelExport.h"
#include "store/SqliteTable.h"

#include <QString>

#include <memory>
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
};

// Everything but the chapters' text: names, which are stored, the picture files.
NovelPlan planNovel(const QString& siteName, const QString& novelName);

// The stored chapters in index order, read through one statement (one read transaction: the
// book is one moment of the library, whatever a download stores meanwhile).
class ChapterReader {
public:
    explicit ChapterReader(int32_t novelId);
    // The stored HTML of a text chapter; asked in increasing order, an earlier one is read on
    // its own.
    QString html(int32_t index);

private:
    SqliteDatabase m_db;
    std::unique_ptr<SqliteCursor> m_rows; // declared after m_db: the statement goes first
    int32_t m_novelId;
};

// Each writes the whole book to fileName, or nothing there; the error text, empty on success.
QString writeEpub(const NovelPlan& plan, const QString& fileName);
QString writeText(const NovelPlan& plan, const QString& fileName, TextEncoding encoding);

} // namespace zvrd
