// pages: how the reader wants the pages to look — font, size, spacing, width and colours — kept
// in the data folder's config.ini (section reading) and given to all three page templates
// through one stylesheet, reading.css in the templates' folder.
#pragma once

#include "core/ChineseScript.h"

#include <QString>

namespace zvrd {

enum class ReadingTheme { Day, Sepia, Night, Custom };

struct ReadingSettings {
    QString fontFamily;        // empty: the page's own
    int fontSize = 20;         // pixels, 10 to 48
    int lineSpacing = 180;     // percent of the font size, 100 to 300
    int paragraphSpacing = 50; // space between paragraphs, percent of the font size, 0 to 200
    int indent = 2;            // first-line indent of a paragraph in characters, 0 to 4
    int widthChars = 36;       // the text column in characters; 0: the window's width
    ReadingTheme theme = ReadingTheme::Day;
    QString customText = QStringLiteral("#222222"); // the custom theme's colours
    QString customBackground = QStringLiteral("#fdfdf8");
    // 原文 / 简体 / 繁體: how chapter text, chapter names and tables of contents are shown.
    ChineseScript script = ChineseScript::Original;
    bool operator==(const ReadingSettings&) const = default;
};

// The settings kept (the defaults for what was never set or is out of range).
ReadingSettings readingSettings();
// Keeps them; false when config.ini cannot be written.
bool saveReadingSettings(const ReadingSettings& settings);
// The same settings with every value within its range.
ReadingSettings boundedSettings(ReadingSettings settings);

QString readingStyleSheet(const ReadingSettings& settings);
// Writes reading.css into the templates' folder; false on failure.
bool writeReadingStyleSheet(const ReadingSettings& settings);
// Its address, as the rendered pages link it.
QString readingStyleSheetUrl();

} // namespace zvrd
