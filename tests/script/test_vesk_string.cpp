#include "vesk_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string text(const vesk_string& s) {
    return static_cast<const char*>(s);
}

std::vector<std::string> entries(const vesk_stringlist& list) {
    std::vector<std::string> out;
    for (vesk_stringlistIterator it = list.begin(); it != list.end(); ++it)
        out.push_back(text(*it));
    return out;
}

TEST(VeskString, CopiesItsSourceSoTheSourceMayBeFreed) {
    char* source = new char[4]{'a', 'b', 'c', '\0'};
    vesk_string s(source);
    source[0] = 'X';
    delete[] source;
    EXPECT_EQ(text(s), "abc");
    EXPECT_EQ(s.length(), 3u);
    vesk_string copy(s);
    copy += vesk_string("d");
    EXPECT_EQ(text(s), "abc");
    EXPECT_EQ(text(copy), "abcd");
}

TEST(VeskString, NullAndEmptyTextsAreEmpty) {
    vesk_string fromNull(static_cast<const char*>(nullptr));
    EXPECT_EQ(fromNull.length(), 0u);
    EXPECT_STREQ(static_cast<const char*>(fromNull), "");
    vesk_string s("x");
    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(text(s), "");
}

TEST(VeskString, SelfAssignmentAndAssignmentFromOwnTextKeepTheText) {
    vesk_string s("panel");
    s = s;
    EXPECT_EQ(text(s), "panel");
    s = static_cast<const char*>(s) + 2;
    EXPECT_EQ(text(s), "nel");
}

TEST(VeskString, DecimalFormsOfIntegers) {
    const std::vector<std::pair<int, std::string>> cases = {{0, "0"},
                                                            {1, "1"},
                                                            {-7, "-7"},
                                                            {193, "193"},
                                                            {2147483647, "2147483647"},
                                                            {-2147483647 - 1, "-2147483648"}};
    for (const auto& [n, expected] : cases) {
        EXPECT_EQ(text(vesk_string(n, 0, 0, 10)), expected);
        EXPECT_TRUE(vesk_string(expected.c_str()) == n) << expected;
    }
}

TEST(VeskString, ComparisonsAreExactAndCaseSensitive) {
    EXPECT_TRUE(vesk_string("Take") == "Take");
    EXPECT_FALSE(vesk_string("take") == "Take");
    EXPECT_FALSE(vesk_string("01") == 1);
    EXPECT_FALSE(vesk_string(" 1") == 1);
    EXPECT_FALSE(vesk_string("") == 0);
    EXPECT_TRUE(vesk_string("a") != vesk_string("b"));
    EXPECT_FALSE(vesk_string("a") != vesk_string("a"));
    EXPECT_TRUE(vesk_string("a") != vesk_string("ab"));
}

TEST(VeskString, ToIntReadsLikeAtoi) {
    const std::vector<std::pair<std::string, int>> cases = {{"17", 17},
                                                            {"  -4x", -4},
                                                            {"+9", 9},
                                                            {"abc", 0},
                                                            {"", 0},
                                                            {"12 7", 12},
                                                            {"-", 0},
                                                            {"99999999999", 2147483647},
                                                            {"-99999999999", -2147483647 - 1}};
    for (const auto& [input, expected] : cases) {
        vesk_string s(input.c_str());
        EXPECT_EQ(s.toInt(), expected) << input;
        EXPECT_EQ(static_cast<int>(s), expected) << input;
    }
}

TEST(VeskString, FirstIntFindsTheFirstDigitRun) {
    const std::vector<std::pair<std::string, int>> cases = {{"OS_3", 3},
                                                            {"OS_03", 3},
                                                            {"OS_12b4", 12},
                                                            {"OS_", 0},
                                                            {"OS_-5", 5},
                                                            {"", 0},
                                                            {"OS_99999999999", 2147483647}};
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(vesk_string(input.c_str()).firstInt(), expected) << input;
}

TEST(VeskString, StartsWithIsCaseSensitive) {
    EXPECT_TRUE(vesk_string("OS_3").startsWith("OS_"));
    EXPECT_FALSE(vesk_string("os_3").startsWith("OS_"));
    EXPECT_FALSE(vesk_string("OS").startsWith("OS_"));
    EXPECT_TRUE(vesk_string("x").startsWith(""));
}

TEST(VeskString, ArgFillsPlaceholdersInTurn) {
    vesk_string filled = vesk_string("RC %1 %2 %3 ',%4' %5")
                             .arg(5, 0, 0, 10)
                             .arg(17, 0, 0, 10)
                             .arg(193, 0, 0, 10)
                             .arg("2")
                             .arg(0, 0, 0, 10);
    EXPECT_EQ(text(filled), "RC 5 17 193 ',2' 0");
    EXPECT_EQ(text(vesk_string("%2 then %1").arg("a")), "%2 then a");
    EXPECT_EQ(text(vesk_string("no place").arg("x")), "no place");
    EXPECT_EQ(text(vesk_string("%1/%1").arg("x")), "x/x");
    EXPECT_EQ(text(vesk_string("100% %0 %1").arg("y")), "100% %0 y");
    EXPECT_EQ(text(vesk_string("end %").arg("y")), "end %");
}

TEST(VeskString, SplitAtFirstOccurrence) {
    vesk_string left, right;
    EXPECT_EQ(vesk_string("value=4=5").split('=', left, right), 5);
    EXPECT_EQ(text(left), "value");
    EXPECT_EQ(text(right), "4=5");
    EXPECT_EQ(vesk_string("novalue").split('=', left, right), -1);
    EXPECT_EQ(text(left), "novalue");
    EXPECT_EQ(text(right), "");
    vesk_string self("a=b");
    self.split('=', self, right);
    EXPECT_EQ(text(self), "a");
    EXPECT_EQ(text(right), "b");
}

TEST(VeskString, TextsAcrossTheInlineLimitKeepEveryByte) {
    for (size_t left = 40; left <= 52; ++left) {
        for (size_t right = 0; right <= 10; ++right) {
            std::string a(left, 'a'), b(right, 'b');
            vesk_string joined = vesk_string(a.c_str()) + b.c_str();
            ASSERT_EQ(text(joined), a + b);
            ASSERT_EQ(joined.length(), left + right);
            vesk_string appended(a.c_str());
            appended += vesk_string(b.c_str());
            ASSERT_EQ(text(appended), a + b);
            vesk_string copy(joined);
            copy = static_cast<const char*>(copy) + 1; // from its own text
            ASSERT_EQ(text(copy), (a + b).substr(1));
            vesk_string filled = vesk_string((a + "%1").c_str()).arg(b.c_str());
            ASSERT_EQ(text(filled), a + b);
        }
    }
}

TEST(VeskString, ConcatenationInEveryOrder) {
    EXPECT_EQ(text("TP '" + vesk_string("x") + "'"), "TP 'x'");
    EXPECT_EQ(text(vesk_string("a") + vesk_string("")), "a");
}

TEST(VeskStringList, SplitKeepsEmptyPiecesAndAnEmptyTextIsEmpty) {
    EXPECT_EQ(entries(vesk_stringlist("alm_1,alm_2", ',')),
              (std::vector<std::string>{"alm_1", "alm_2"}));
    EXPECT_EQ(entries(vesk_stringlist("a,,b,", ',')), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(entries(vesk_stringlist(",", ',')), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(entries(vesk_stringlist("", ',')).empty());
}

TEST(VeskStringList, AppendJoinCopyAndGrowth) {
    vesk_stringlist list;
    EXPECT_EQ(text(list.toString('\n')), "");
    for (int i = 0; i < 40; ++i)
        list << vesk_string(i, 0, 0, 10);
    vesk_stringlist copy(list);
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i)
        expected.push_back(std::to_string(i));
    EXPECT_EQ(entries(copy), expected);
    vesk_stringlist two;
    two << "notify=*"
        << "x";
    EXPECT_EQ(text(two.toString('\n')), "notify=*\nx");
    vesk_stringlist one;
    one << "only";
    EXPECT_EQ(text(one.toString('\n')), "only");
}

} // namespace
