#include "core/Text.h"

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

} // namespace zvrd
