// Chapter titles as sites write them.
#include "core/Text.h"

#include <gtest/gtest.h>

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
