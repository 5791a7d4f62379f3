// core: small text helpers shared by the extractors and the page builder.
#pragma once

#include <QString>

namespace zvrd {

// Removes characters U+0020 and below (blanks, line breaks, other controls) from both ends;
// other white space, such as U+3000, stays.
QString trimControl(const QString& text);

// The words of a search as meant: blanks (also U+3000) and book-title marks 《》 around them
// go, what is between stays exactly as typed ("《凡人修仙传》 " → "凡人修仙传").
QString searchWords(const QString& typed);

// Whether two chapter titles name the same chapter, as sites differ in writing them: letter
// width and case, white space and punctuation do not count ("第1章 山村少年" and
// "第１章：山村少年" are one chapter).
bool sameChapterTitle(const QString& a, const QString& b);

// A number written in Chinese numerals ("一百二十三", "两千零五", "一二三", "壹佰"); -1 when
// text is not one.
int chineseNumber(const QString& text);

} // namespace zvrd
