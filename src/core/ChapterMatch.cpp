#include "core/ChapterMatch.h"

#include "core/Text.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>

namespace zvrd {
namespace {

// A bracketed note: its content, unless it is a part marker (（上）, (2)) that tells two chapters
// of one title apart.
QString withoutNotes(QString text) {
    static const QRegularExpression note(
        QStringLiteral("[(\\[{【〔〖「]([^()\\[\\]{}【】〔〕〖〗「」]*)[)\\]}】〕〗」]"));
    static const QRegularExpression part(
        QStringLiteral("^[上中下一二三四五六七八九十0-9续完]{1,3}$"));
    for (int round = 0; round < 3; ++round) {
        QString out;
        qsizetype from = 0;
        bool changed = false;
        for (auto it = note.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            out += text.mid(from, m.capturedStart() - from);
            if (part.match(m.captured(1).trimmed()).hasMatch())
                out += m.captured(1);
            from = m.capturedEnd();
            changed = true;
        }
        if (!changed)
            break;
        text = out + text.mid(from);
    }
    return text;
}

QString letters(const QString& text) {
    QString key;
    for (const QChar c : text) {
        if (c.isLetterOrNumber())
            key += c.toLower();
    }
    return key;
}

// A number in Arabic or Chinese numerals; -1 when text is none.
int numberOf(const QString& text) {
    bool arabic = false;
    const int value = text.toInt(&arabic);
    return arabic ? value : chineseNumber(text);
}

const QString kNumeral =
    QStringLiteral("[0-9零〇一二两三四五六七八九十百千万壹贰叁肆伍陆柒捌玖拾佰仟]+");

} // namespace

ChapterKey chapterKey(const QString& title) {
    const QString text = withoutNotes(title.normalized(QString::NormalizationForm_KC)).trimmed();
    // 第N章, 第N-M章, 第N、M章; what stands before it is a volume's name.
    static const QRegularExpression prefix(
        QStringLiteral("第\\s*(%1)(?:\\s*[-~—、至到和]\\s*(%1))?\\s*[章节回话集]").arg(kNumeral));
    static const QRegularExpression leading(
        QStringLiteral("^(\\d{1,6})(?:\\s*[-~](\\d{1,6}))?(?![\\d\\p{L}])"));
    ChapterKey key;
    QString rest;
    if (const QRegularExpressionMatch m = prefix.match(text); m.hasMatch()) {
        key.number = std::max(numberOf(m.captured(1)), 0);
        key.lastNumber =
            m.hasCaptured(2) ? std::max(numberOf(m.captured(2)), key.number) : key.number;
        rest = text.mid(m.capturedEnd());
    } else if (const QRegularExpressionMatch d = leading.match(text); d.hasMatch()) {
        key.number = d.captured(1).toInt();
        key.lastNumber =
            d.hasCaptured(2) ? std::max(d.captured(2).toInt(), key.number) : key.number;
        rest = text.mid(d.capturedEnd());
    } else {
        rest = text;
        if (rest.startsWith(QStringLiteral("正文")))
            rest = rest.mid(2);
    }
    // Two chapters merged into one title: "第5章 出山 第6章 下山", "66、太极 67、纲举".
    static const QRegularExpression second(QStringLiteral("\\s(\\d{1,6})、"));
    if (key.number > 0) {
        QRegularExpressionMatch next = prefix.match(rest);
        if (!next.hasMatch())
            next = second.match(rest);
        if (next.hasMatch()) {
            key.lastNumber = std::max(key.lastNumber, std::max(numberOf(next.captured(1)), 0));
            rest = rest.left(next.capturedStart());
        }
    }
    key.rest = letters(rest);
    return key;
}

bool sameChapter(const ChapterKey& a, const ChapterKey& b) {
    if (!a.rest.isEmpty() && a.rest == b.rest)
        return a.number == b.number || a.number == 0 || b.number == 0;
    return a.rest.isEmpty() && b.rest.isEmpty() && a.number > 0 && a.number == b.number;
}

bool sameChapter(const QString& a, const QString& b) {
    return sameChapter(chapterKey(a), chapterKey(b));
}

int chapterNumber(const QString& title) {
    return chapterKey(title).number;
}

namespace {

bool sameTitle(const ChapterKey& a, const ChapterKey& b) {
    return a.number == b.number && a.rest == b.rest && (a.number > 0 || !a.rest.isEmpty());
}

// b's numbers hold a's (b may be two chapters merged).
bool sameNumber(const ChapterKey& a, const ChapterKey& b) {
    return a.number > 0 && b.number <= a.number && a.number <= b.lastNumber;
}

} // namespace

PlaceCarrier::PlaceCarrier(const QStringList& from, const QStringList& to) {
    for (const QString& title : from)
        m_from.append(chapterKey(title));
    for (const QString& title : to)
        m_to.append(chapterKey(title));
}

int PlaceCarrier::scaled(int fromIndex) const {
    if (m_from.size() <= 1 || m_to.isEmpty())
        return 0;
    return static_cast<int>(static_cast<qint64>(fromIndex) * (m_to.size() - 1) /
                            (m_from.size() - 1));
}

// The chapter of `to` that `same` calls the same as from[fromIndex], nearest where it is
// expected: just after where an earlier chapter of a unique title landed (inserted notes shift
// a list), else at the scaled place. -1 when none.
int PlaceCarrier::nearest(int fromIndex, bool (*same)(const ChapterKey&, const ChapterKey&)) const {
    const ChapterKey& key = m_from[fromIndex];
    QList<int> found;
    for (int j = 0; j < m_to.size(); ++j) {
        if (same(key, m_to[j]))
            found.append(j);
    }
    if (found.isEmpty())
        return -1;
    int expected = scaled(fromIndex);
    for (int back = 1; back <= 20 && fromIndex - back >= 0; ++back) {
        int hits = 0;
        int at = -1;
        for (int j = 0; j < m_to.size() && hits < 2; ++j) {
            if (sameTitle(m_from[fromIndex - back], m_to[j])) {
                ++hits;
                at = j;
            }
        }
        if (hits == 1) {
            expected = at + back;
            break;
        }
    }
    const int best = *std::min_element(found.begin(), found.end(), [expected](int a, int b) {
        return std::abs(a - expected) < std::abs(b - expected);
    });
    // A title without a number (上架感言, 请假条) far from where it is expected is another
    // note of the same name.
    const int window = std::max(30, static_cast<int>(m_to.size()) / 20);
    if ((key.number == 0 || m_to[best].number == 0) && std::abs(best - expected) > window)
        return -1;
    return best;
}

CarriedPlace PlaceCarrier::carry(int fromIndex) const {
    if (fromIndex < 0 || fromIndex >= m_from.size() || m_to.isEmpty())
        return {};
    if (const int j = nearest(fromIndex, sameTitle); j >= 0)
        return {j, CarriedPlace::How::Title};
    if (const int j = nearest(
            fromIndex, [](const ChapterKey& a, const ChapterKey& b) { return sameChapter(a, b); });
        j >= 0)
        return {j, CarriedPlace::How::Title};
    if (const int j = nearest(fromIndex, sameNumber); j >= 0)
        return {j, CarriedPlace::How::Number};
    // Not there: after the last chapter before it that is.
    for (int back = 1; back <= 100 && fromIndex - back >= 0; ++back) {
        int j = nearest(fromIndex - back, sameTitle);
        if (j < 0)
            j = nearest(fromIndex - back, sameNumber);
        if (j < 0)
            continue;
        // That chapter of the new list may hold this one too (two merged under one title).
        const ChapterKey& key = m_from[fromIndex];
        if ((key.rest.size() >= 2 && m_to[j].rest.contains(key.rest)) || sameNumber(key, m_to[j]))
            return {j, CarriedPlace::How::Following};
        if (j + 1 < m_to.size())
            return {j + 1, CarriedPlace::How::Following};
        return {static_cast<int>(m_to.size()) - 1, CarriedPlace::How::Clamped};
    }
    return {};
}

CarriedPlace carryReadingPlace(const QStringList& from, int fromIndex, const QStringList& to) {
    return PlaceCarrier(from, to).carry(fromIndex);
}

namespace {

QString namePart(QString text) {
    text = withoutNotes(text.normalized(QString::NormalizationForm_KC));
    text.remove(QRegularExpression(QStringLiteral("[《》<>\"'“”‘’]")));
    return text;
}

} // namespace

QString novelNameKey(const QString& name) {
    return letters(namePart(name));
}

QString authorKey(const QString& author) {
    QString text = namePart(author).trimmed();
    static const QRegularExpression label(
        QStringLiteral("^(作\\s*者|著\\s*者|作家)\\s*[:：]?\\s*"));
    text.remove(label);
    if (text.endsWith(QChar(0x8457))) // 著
        text.chop(1);
    return letters(text);
}

} // namespace zvrd
