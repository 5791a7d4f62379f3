#include "pages/ReadingStyle.h"

#include "core/DataFolder.h"
#include "core/IniFile.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>

namespace zvrd {
namespace {

const QString kSection = QStringLiteral("reading");

QString configFile() {
    return dataFolder() + QStringLiteral("config.ini");
}

const char* themeName(ReadingTheme theme) {
    switch (theme) {
    case ReadingTheme::Sepia:
        return "sepia";
    case ReadingTheme::Night:
        return "night";
    case ReadingTheme::Custom:
        return "custom";
    case ReadingTheme::Day:
        break;
    }
    return "day";
}

// Colours a page is drawn in: text, background, the frame around it, links, marks.
struct Palette {
    QString text;
    QString background;
    QString frame;
    QString link;
    QString muted;
    QString lastRead;
};

Palette paletteOf(const ReadingSettings& s) {
    switch (s.theme) {
    case ReadingTheme::Sepia:
        return {QStringLiteral("#5b4636"), QStringLiteral("#f4ecd8"), QStringLiteral("#c8b99a"),
                QStringLiteral("#7a4b1e"), QStringLiteral("#a89880"), QStringLiteral("#ead9b0")};
    case ReadingTheme::Night:
        return {QStringLiteral("#a8a8a8"), QStringLiteral("#1b1b1d"), QStringLiteral("#000000"),
                QStringLiteral("#7fa7d8"), QStringLiteral("#5a5a5a"), QStringLiteral("#33301f")};
    case ReadingTheme::Custom:
        return {s.customText, s.customBackground, s.customBackground,
                s.customText, s.customText,       s.customBackground};
    case ReadingTheme::Day:
        break;
    }
    return {QStringLiteral("#222222"), QStringLiteral("#ffffff"), QStringLiteral("#808080"),
            QStringLiteral("#1e5aa8"), QStringLiteral("#aaaaaa"), QStringLiteral("#fff3d0")};
}

int number(const QString& key, int fallback) {
    bool ok = false;
    const int value = readIniValue(configFile(), kSection, key).toInt(&ok);
    return ok ? value : fallback;
}

QString colour(const QString& value, const QString& fallback) {
    static const QRegularExpression rgb(QStringLiteral("^#[0-9a-fA-F]{6}$"));
    return rgb.match(value.trimmed()).hasMatch() ? value.trimmed().toLower() : fallback;
}

// A family name inside a CSS string: only what a font name holds.
QString cssString(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c.isLetterOrNumber() || c == QLatin1Char(' ') || c == QLatin1Char('-') ||
            c == QLatin1Char('_'))
            out += c;
    }
    return out;
}

} // namespace

ReadingSettings boundedSettings(ReadingSettings s) {
    const ReadingSettings d;
    s.fontSize = std::clamp(s.fontSize, 10, 48);
    s.lineSpacing = std::clamp(s.lineSpacing, 100, 300);
    s.paragraphSpacing = std::clamp(s.paragraphSpacing, 0, 200);
    s.indent = std::clamp(s.indent, 0, 4);
    s.widthChars = s.widthChars <= 0 ? 0 : std::clamp(s.widthChars, 20, 80);
    s.customText = colour(s.customText, d.customText);
    s.customBackground = colour(s.customBackground, d.customBackground);
    s.fontFamily = cssString(s.fontFamily).trimmed();
    return s;
}

ReadingSettings readingSettings() {
    ReadingSettings s;
    s.fontFamily = readIniValue(configFile(), kSection, QStringLiteral("font"));
    s.fontSize = number(QStringLiteral("size"), s.fontSize);
    s.lineSpacing = number(QStringLiteral("line_spacing"), s.lineSpacing);
    s.paragraphSpacing = number(QStringLiteral("paragraph_spacing"), s.paragraphSpacing);
    s.indent = number(QStringLiteral("indent"), s.indent);
    s.widthChars = number(QStringLiteral("width"), s.widthChars);
    const QString theme = readIniValue(configFile(), kSection, QStringLiteral("theme"));
    for (const ReadingTheme t :
         {ReadingTheme::Day, ReadingTheme::Sepia, ReadingTheme::Night, ReadingTheme::Custom}) {
        if (theme == QLatin1String(themeName(t)))
            s.theme = t;
    }
    const QString script = readIniValue(configFile(), kSection, QStringLiteral("script"));
    s.script = script == QLatin1String("simplified")    ? ChineseScript::Simplified
               : script == QLatin1String("traditional") ? ChineseScript::Traditional
                                                        : ChineseScript::Original;
    s.customText = readIniValue(configFile(), kSection, QStringLiteral("text_color"), s.customText);
    s.customBackground = readIniValue(configFile(), kSection, QStringLiteral("background_color"),
                                      s.customBackground);
    return boundedSettings(s);
}

bool saveReadingSettings(const ReadingSettings& settings) {
    const ReadingSettings s = boundedSettings(settings);
    const std::pair<const char*, QString> values[] = {
        {"font", s.fontFamily},
        {"size", QString::number(s.fontSize)},
        {"line_spacing", QString::number(s.lineSpacing)},
        {"paragraph_spacing", QString::number(s.paragraphSpacing)},
        {"indent", QString::number(s.indent)},
        {"width", QString::number(s.widthChars)},
        {"theme", QLatin1String(themeName(s.theme))},
        {"text_color", s.customText},
        {"background_color", s.customBackground},
        {"script", s.script == ChineseScript::Simplified    ? QStringLiteral("simplified")
                   : s.script == ChineseScript::Traditional ? QStringLiteral("traditional")
                                                            : QStringLiteral("original")},
    };
    for (const auto& [key, value] : values) {
        if (!writeIniValue(configFile(), kSection, QLatin1String(key), value))
            return false;
    }
    return true;
}

QString readingStyleSheet(const ReadingSettings& settings) {
    const ReadingSettings s = boundedSettings(settings);
    const Palette p = paletteOf(s);
    const QString family = s.fontFamily.isEmpty()
                               ? QString()
                               : QStringLiteral("font-family: \"%1\", serif; ").arg(s.fontFamily);
    const QString width =
        s.widthChars > 0 ? QStringLiteral("max-width: %1em; ").arg(s.widthChars) : QString();
    return QStringLiteral(
               "/* Written by the reader from its reading settings. */\n"
               "body { background-color: %1; color: %2; }\n"
               "td[bgcolor], table[bgcolor] { background-color: %3; }\n"
               "table[bgcolor=\"#000000\"] { background-color: %5; }\n"
               "body, td, th, font { color: %2; }\n"
               "a:link, a:visited, a.continue, a.export { color: %4; }\n"
               ".not-stored a, .not-stored a:visited { color: %5; }\n"
               ".last-read { background-color: %6; }\n"
               "#ChapterContent { %7font-size: %8px; line-height: %9%; %10margin: 0 auto; }\n"
               "#ChapterContent p { margin: %11em 0; text-indent: %12em; }\n")
        .arg(p.frame, p.text, p.background, p.link, p.muted, p.lastRead, family)
        .arg(s.fontSize)
        .arg(s.lineSpacing)
        .arg(width)
        .arg(s.paragraphSpacing / 100.0)
        .arg(s.indent);
}

bool writeReadingStyleSheet(const ReadingSettings& settings) {
    QSaveFile file(templateFolder() + QStringLiteral("reading.css"));
    const QByteArray css = readingStyleSheet(settings).toUtf8();
    return file.open(QIODevice::WriteOnly) && file.write(css) == css.size() && file.commit();
}

QString readingStyleSheetUrl() {
    return QUrl::fromLocalFile(templateFolder() + QStringLiteral("reading.css"))
        .toString(QUrl::FullyEncoded);
}

} // namespace zvrd
