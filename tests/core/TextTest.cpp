// Chapter titles as sites write them.
#include "core/Text.h"
#include "core/ChapterMatch.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace zvrd;

TEST(TextTest, ChapterNumbersInEveryStyle) {
    const std::vector<std::pair<const char*, int>> titles = {
        {"第123章 山村少年", 123},
        {"第一百二十三章 山村少年", 123},
        {"第１２３章：山村少年", 123},
        {"第十二章", 12},
        {"第两千零五章 归来", 2005},
        {"第一二三章", 123},
        {"第二十万章", 200000},
        {"第八百二十章 波及", 820},
        {"第壹佰章", 100},
        {"正文 第3节 夜", 3},
        {"92、悬浮一族", 92},
        {"1817 只是两朵相似的花", 1817},
        {"第一卷 第五章 出山", 5}, // a volume is not a chapter
        {"上架感言", 0},
        {"2024年的雪", 0},
        {"第几章", 0},
    };
    for (const auto& [title, number] : titles)
        EXPECT_EQ(chapterNumber(QString::fromUtf8(title)), number) << title;
}

TEST(TextTest, SearchWordsLoseOnlyWhatSurroundsThem) {
    const std::pair<const char*, const char*> cases[] = {
        {" 凡人修仙传 ", "凡人修仙传"},
        {"\u3000《凡人修仙传》\t", "凡人修仙传"},
        {"《凡人修仙传", "凡人修仙传"},
        {"《 凡人 修仙传 》", "凡人 修仙传"},
        {"《A》与《B》", "《A》与《B》"},
        {"Fan Ren", "Fan Ren"},
        {" 《》 ", ""},
    };
    for (const auto& [typed, meant] : cases)
        EXPECT_EQ(searchWords(QString::fromUtf8(typed)), QString::fromUtf8(meant)) << typed;
}

TEST(TextTest, SameChapterAsSitesWriteIt) {
    const std::vector<std::tuple<const char*, const char*, bool>> pairs = {
        {"第一百二十三章 山村少年", "第123章：山村少年（求月票）", true},
        {"第１２３章　山村少年", "正文 第123章 山村少年【加更】", true},
        {"第一卷 风起 第五章 出山", "第5章 出山", true},
        {"123、山村少年", "第123章 山村少年", true},
        {"上架感言", "上架感言", true},
        {"第十章 出山（上）", "第十章 出山（下）", false},
        {"第十章 出山", "第十一章 出山", false},
        {"第十章 出山", "第十章 下山", false},
    };
    for (const auto& [a, b, same] : pairs)
        EXPECT_EQ(sameChapter(QString::fromUtf8(a), QString::fromUtf8(b)), same) << a << " / " << b;
    EXPECT_EQ(novelNameKey(QStringLiteral("《凡人修仙传》（精校版）")),
              novelNameKey(QStringLiteral(" 凡人修仙传 ")));
    EXPECT_EQ(authorKey(QStringLiteral("作者：忘语")), authorKey(QStringLiteral("忘语 著")));
    EXPECT_NE(authorKey(QStringLiteral("忘语")), authorKey(QStringLiteral("忘言")));
}

// The place lands on the same chapter, or on the first one not read, never past it.
TEST(TextTest, APlaceIsCarriedToAnotherList) {
    const QStringList from = {QStringLiteral("第一章 山村"), QStringLiteral("第二章 青牛镇"),
                              QStringLiteral("第三章 七玄门"), QStringLiteral("第四章 炼骨崖"),
                              QStringLiteral("第五章 墨大夫")};
    const QStringList to = {QStringLiteral("第1章 山村"), QStringLiteral("上架感言"),
                            QStringLiteral("第2章 青牛镇（求收藏）"),
                            QStringLiteral("第4章 炼骨崖"), QStringLiteral("第5章 墨大夫")};
    const QStringList shorter = to.mid(0, 3);
    using How = CarriedPlace::How;
    const std::vector<std::tuple<const QStringList*, int, int, How>> cases = {
        {&to, 1, 2, How::Title},     // Chinese numerals, a note put in, junk in the title
        {&to, 2, 3, How::Following}, // 第三章 is missing: the next chapter not read
        {&to, 4, 4, How::Title},
        {&shorter, 4, 2, How::Clamped}, // the new list ends before: its end, said so
    };
    for (const auto& [list, index, landed, how] : cases) {
        const CarriedPlace place = carryReadingPlace(from, index, *list);
        EXPECT_EQ(place.index, landed) << index;
        EXPECT_EQ(place.how, how) << index;
    }
    EXPECT_EQ(carryReadingPlace(from, 0, {QStringLiteral("完全不同")}).how, How::Nothing);
    // Back again: the place it came from.
    EXPECT_EQ(carryReadingPlace(to, 2, from).index, 1);
}
