// export: a stored novel written out as an EPUB 3 book or a plain-text file, for e-readers and
// phones; streamed chapter by chapter, and never half a file where the user asked for one.
#pragma once

#include "core/ChineseScript.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstdint>

namespace zvrd {

enum class ExportFormat { Epub, Text };
enum class TextEncoding { Utf8, Gbk };

struct ExportOptions {
    ExportFormat format = ExportFormat::Epub;
    QString fileName;
    TextEncoding encoding = TextEncoding::Utf8; // plain text only
    bool allowMissing = false; // chapters not downloaded become a short placeholder
    ChineseScript script = ChineseScript::Original; // 简繁 of the book (never of what is stored)
};

struct ExportResult {
    enum class Kind { Written, UnknownNovel, MissingChapters, Failed };
    Kind kind = Kind::Failed;
    int32_t chapters = 0; // chapters in the list
    int32_t missing = 0;  // of those, not downloaded (or failed)
    QString error;        // why it failed
};

// Writes the novel to options.fileName (through a temporary file renamed at the end). Refused,
// writing nothing, when chapters are missing and options.allowMissing is false.
ExportResult exportNovel(const QString& siteName, const QString& novelName,
                         const ExportOptions& options);
// What the window and zvrd-cli say of a result.
QString exportStatusText(const ExportResult& result, const QString& novelName,
                         const QString& fileName);
// The question asked before exporting with chapters missing.
QString missingChaptersQuestion(int32_t missing);

// A stored chapter's HTML as paragraphs of plain text: scripts, styles, comments and every tag
// dropped, <br>, <p> and <div> taken as paragraph breaks, character references decoded,
// characters XML cannot hold removed, blank paragraphs left out.
QStringList chapterParagraphs(const QString& html);
// The media type of a picture from its first bytes ("image/png", "image/jpeg", "image/gif");
// empty for anything else.
QString pictureMediaType(const QByteArray& firstBytes);
// The book's identifier: the same site and information page give the same one.
QUuid bookIdentifier(const QString& siteName, const QString& infoPageUrl);

} // namespace zvrd
