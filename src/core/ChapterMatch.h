// core: telling the same chapter and the same novel apart from how two sites write them, and
// carrying a reading place from one site's chapter list to another's.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace zvrd {

// A chapter title reduced to what names the chapter: its number (0: none) and the rest of the
// title without the chapter prefix (第N章/节/回, "123、"), a volume name before it, bracketed
// notes (（求月票）, 【加更】), blanks, punctuation, letter width and case.
struct ChapterKey {
    int number = 0;
    int lastNumber = 0; // of two chapters merged into one ("第5-6章")
    QString rest;
};
ChapterKey chapterKey(const QString& title);
// Whether two titles name the same chapter: the same number and rest, or the same rest where
// one of them carries no number, or the same number where neither has a rest.
bool sameChapter(const ChapterKey& a, const ChapterKey& b);
bool sameChapter(const QString& a, const QString& b);
// The chapter number a title gives ("第123章", "第一百二十三章", "123、…"); 0 when none.
int chapterNumber(const QString& title);

// Where a reader's place in one list (the chapter at fromIndex) lands in another list of the
// same novel. By title first, nearest the place scaled to the new list's length; then by
// chapter number; a chapter the new list lacks lands on the first chapter after the last one
// before it that the new list has. Never past the new list's end without saying so.
struct CarriedPlace {
    enum class How {
        Title,     // a chapter of the same title
        Number,    // a chapter of the same number
        Following, // the chapter is not there: the one after the last read that is
        Clamped,   // the new list ends before: its last chapter (say so)
        Nothing,   // nothing in the new list matches (index -1)
    };
    int index = -1;
    How how = How::Nothing;
};

class PlaceCarrier {
public:
    PlaceCarrier(const QStringList& from, const QStringList& to);
    CarriedPlace carry(int fromIndex) const;

private:
    int nearest(int fromIndex, bool (*same)(const ChapterKey&, const ChapterKey&)) const;
    int scaled(int fromIndex) const;
    QList<ChapterKey> m_from;
    QList<ChapterKey> m_to;
};

CarriedPlace carryReadingPlace(const QStringList& from, int fromIndex, const QStringList& to);

// Novel names and authors as sites write them, reduced for comparison: blanks, full-width
// forms, "作者：", a trailing "著", bracketed notes and 《》 gone.
QString novelNameKey(const QString& name);
QString authorKey(const QString& author);

} // namespace zvrd
