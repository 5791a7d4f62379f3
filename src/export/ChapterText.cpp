#include "export/ExportParts.h"
#include "export/NovelExport.h"

#include <QHash>
#include <QRegularExpression>

namespace zvrd {
namespace {

// ---- chapter text --------------------------------------------------------------------------

const QHash<QString, QChar>& namedEntities() {
    static const QHash<QString, QChar> entities = {
        {QStringLiteral("nbsp"), QChar(0x00A0)},   {QStringLiteral("amp"), QChar('&')},
        {QStringLiteral("lt"), QChar('<')},        {QStringLiteral("gt"), QChar('>')},
        {QStringLiteral("quot"), QChar('"')},      {QStringLiteral("apos"), QChar('\'')},
        {QStringLiteral("hellip"), QChar(0x2026)}, {QStringLiteral("mdash"), QChar(0x2014)},
        {QStringLiteral("ndash"), QChar(0x2013)},  {QStringLiteral("ldquo"), QChar(0x201C)},
        {QStringLiteral("rdquo"), QChar(0x201D)},  {QStringLiteral("lsquo"), QChar(0x2018)},
        {QStringLiteral("rsquo"), QChar(0x2019)},  {QStringLiteral("middot"), QChar(0x00B7)},
        {QStringLiteral("emsp"), QChar(0x2003)},   {QStringLiteral("ensp"), QChar(0x2002)},
        {QStringLiteral("thinsp"), QChar(0x2009)}, {QStringLiteral("copy"), QChar(0x00A9)},
    };
    return entities;
}

// A character XML 1.0 can hold and a reader should show (C0 and C1 controls other than tab and
// line feed, noncharacters and lone surrogates are not).
bool keepable(char32_t c) {
    if (c == '\t' || c == '\n')
        return true;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        return false;
    if (c >= 0xD800 && c <= 0xDFFF)
        return false;
    if ((c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE)
        return false;
    return c <= 0x10FFFF;
}

void appendCodePoint(QString& out, char32_t c) {
    if (!keepable(c))
        return;
    if (c >= 0x10000)
        out.append(QChar::highSurrogate(c)).append(QChar::lowSurrogate(c));
    else
        out.append(QChar(static_cast<char16_t>(c)));
}

// Character references decoded; an unknown one stays as written (and is escaped later).
QString decodeReferences(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('&')) {
            out.append(c);
            continue;
        }
        const qsizetype end = text.indexOf(QLatin1Char(';'), i + 1);
        if (end < 0 || end - i > 12) {
            out.append(c);
            continue;
        }
        const QString name = text.mid(i + 1, end - i - 1);
        bool ok = false;
        char32_t code = 0;
        if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#X")))
            code = name.mid(2).toUInt(&ok, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt(&ok, 10);
        if (ok) {
            appendCodePoint(out, code);
            i = end;
            continue;
        }
        const auto it = namedEntities().constFind(name);
        if (it == namedEntities().constEnd()) {
            out.append(c);
            continue;
        }
        out.append(*it);
        i = end;
    }
    return out;
}

QString withoutUnkeepable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            appendCodePoint(out, QChar::surrogateToUcs4(c, text[i + 1]));
            ++i;
            continue;
        }
        appendCodePoint(out, c.unicode());
    }
    return out;
}

} // namespace

QString cleanName(const QString& name, const QString& fallback) {
    QString clean = withoutUnkeepable(name).simplified();
    return clean.isEmpty() ? fallback : clean;
}

QString chapterFallbackName(int32_t index) {
    return QStringLiteral("第 %1 章").arg(index + 1);
}

const QString& missingText() {
    static const QString text = QStringLiteral("（本章尚未下载）");
    return text;
}

QStringList chapterParagraphs(const QString& html) {
    static const QRegularExpression dropped(
        QStringLiteral("<(script|style)\\b[^>]*>.*?</\\1\\s*>|<(script|style)\\b[^>]*/?>|"
                       "<!--.*?(-->|$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression breaks(
        QStringLiteral("<\\s*(br|/?p|/?div|/?h[1-6]|/?li|/?tr|/?blockquote)\\b[^<>]*>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[/!?]?[A-Za-z][^<>]*>"));
    QString text = html;
    text.remove(dropped);
    text.replace(breaks, QStringLiteral("\n"));
    text.remove(tags);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text = withoutUnkeepable(decodeReferences(text));
    QStringList paragraphs;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString paragraph = line.trimmed();
        if (!paragraph.isEmpty())
            paragraphs.append(paragraph);
    }
    return paragraphs;
}

} // namespace zvrd
