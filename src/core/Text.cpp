#include "core/Text.h"

#include <algorithm>

namespace zvrd {

QString trimControl(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

QString searchWords(const QString& typed) {
    QString words = typed.trimmed();
    const QChar open(0x300A);
    const QChar close(0x300B);
    const bool opens = words.startsWith(open);
    const bool closes = words.endsWith(close);
    // Marks around the whole name only (one of them forgotten too): 《A》与《B》 keeps its own.
    if (words.count(open) == (opens ? 1 : 0) && words.count(close) == (closes ? 1 : 0)) {
        if (opens)
            words.remove(0, 1);
        if (closes)
            words.chop(1);
        words = words.trimmed();
    }
    return words;
}

namespace {

QString titleKey(const QString& title) {
    QString key;
    for (const QChar c : title.normalized(QString::NormalizationForm_KC))
        if (c.isLetterOrNumber())
            key += c.toLower();
    return key;
}

} // namespace

bool sameChapterTitle(const QString& a, const QString& b) {
    return titleKey(a) == titleKey(b);
}

namespace {

int digitOf(QChar c) {
    static const QString digits = QStringLiteral("零〇一二三四五六七八九");
    static const QString formal = QStringLiteral("零〇壹贰叁肆伍陆柒捌玖");
    if (c == QChar(0x4E24)) // 两
        return 2;
    qsizetype at = digits.indexOf(c);
    if (at < 0)
        at = formal.indexOf(c);
    return at < 0 ? -1 : static_cast<int>(std::max<qsizetype>(at - 1, 0));
}

int unitOf(QChar c) {
    switch (c.unicode()) {
    case 0x5341: // 十
    case 0x62FE: // 拾
        return 10;
    case 0x767E: // 百
    case 0x4F70: // 佰
        return 100;
    case 0x5343: // 千
    case 0x4EDF: // 仟
        return 1000;
    case 0x4E07: // 万
        return 10000;
    default:
        return 0;
    }
}

bool isChineseNumeral(QChar c) {
    return digitOf(c) >= 0 || unitOf(c) > 0;
}

} // namespace

int chineseNumber(const QString& text) {
    if (text.isEmpty() || text.size() > 12)
        return -1;
    bool units = false;
    for (const QChar c : text) {
        if (!isChineseNumeral(c))
            return -1;
        units = units || unitOf(c) > 0;
    }
    if (!units) { // digit by digit: 一二三
        int value = 0;
        for (const QChar c : text)
            value = value * 10 + digitOf(c);
        return value;
    }
    int total = 0;   // the part above the last 万
    int section = 0; // below it
    int digit = -1;
    for (const QChar c : text) {
        if (const int unit = unitOf(c); unit == 10000) {
            total = (total + section + std::max(digit, 0)) * 10000;
            section = 0;
            digit = -1;
        } else if (unit > 0) {
            section += (digit < 0 ? 1 : digit) * unit; // 十二: the one is left out
            digit = -1;
        } else {
            digit = digitOf(c);
        }
    }
    return total + section + std::max(digit, 0);
}

} // namespace zvrd
