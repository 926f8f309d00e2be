#include "common/StringUtils.h"
#include "common/StringList.h"
#include "common/TextFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace vantorel {
namespace {

using Fields = std::vector<std::string>;

TEST(StringUtils, TrimRemovesBlanksAndControlCharacters) {
    EXPECT_EQ(Trim(" \t\r\n x y \x01\x1f"), "x y");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x \r"), "  x");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim("caf\xC3\xA9 "), "caf\xC3\xA9"); // UTF-8 bytes are not blanks
}

TEST(StringUtils, CaseAndSearch) {
    EXPECT_EQ(UpperCase("abc_Lrpt.bmp"), "ABC_LRPT.BMP");
    EXPECT_EQ(LowerCase("X_68.BMP"), "x_68.bmp");
    EXPECT_TRUE(SameText("Stations.DAT", "stations.dat"));
    EXPECT_FALSE(SameText("a", "ab"));
    EXPECT_EQ(FindText("2017_lrpt_x", "_LRPT"), 4u);
    EXPECT_EQ(ReplaceFirst("a_LRPT_b_LRPT", "_lrpt", "", true), "a_b_LRPT");
    EXPECT_EQ(ReplaceFirst("a.b.c", ".", "-"), "a-b.c");
    EXPECT_EQ(ReplaceAll("a_b__c", "_", "-"), "a-b--c");
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
}

TEST(StringUtils, ParseIntegerAcceptsOnlyWholeDecimalNumbers) {
    EXPECT_EQ(ParseInteger("2017"), 2017);
    EXPECT_EQ(ParseInteger("08"), 8);
    EXPECT_EQ(ParseInteger(" -12"), -12);
    EXPECT_EQ(ParseInteger("+5"), 5);
    EXPECT_EQ(ParseInteger("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", " ", "-", "12.5", "12 ", "1e3", "0x10", "$10", "2147483648",
                            "99999999999999999999", "s", "68.bmp"}) {
        EXPECT_FALSE(ParseInteger(bad)) << bad;
    }
}

TEST(StringUtils, ParseRealUsesThePointOnly) {
    EXPECT_DOUBLE_EQ(*ParseReal("0.1538"), 0.1538);
    EXPECT_DOUBLE_EQ(*ParseReal(" -1.5e3 "), -1500.0);
    EXPECT_DOUBLE_EQ(*ParseReal("5."), 5.0);
    EXPECT_DOUBLE_EQ(*ParseReal(".5"), 0.5);
    EXPECT_DOUBLE_EQ(*ParseReal("+2"), 2.0);
    for (const char* bad :
         {"", ".", "1,5", "inf", "nan", "1e", "1e+", "0x1p3", "1.2.3", "--1", "1e999", "12 s"}) {
        EXPECT_FALSE(ParseReal(bad)) << bad;
    }
}

TEST(StringUtils, MasksMatchWholeNamesIgnoringCase) {
    EXPECT_TRUE(MatchesMask("2017_03_15_08_12_34_68.STAT", "2017_03_15_08_12_34_*.stat"));
    EXPECT_TRUE(MatchesMask("a.tle", "*.TLE"));
    EXPECT_TRUE(MatchesMask("abc", "a?c"));
    EXPECT_TRUE(MatchesMask("", "*"));
    EXPECT_TRUE(MatchesMask("a.b.stat", "*.stat"));
    EXPECT_FALSE(MatchesMask("a.stat.bak", "*.stat"));
    EXPECT_FALSE(MatchesMask("ac", "a?c"));
    EXPECT_FALSE(MatchesMask("a.tle", "*.TLE", false));
    // Many stars against a long name must stay fast (no exponential backtracking).
    EXPECT_FALSE(MatchesMask(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*b"));
}

TEST(StringUtils, SplitDelimitedFollowsStringListRules) {
    EXPECT_EQ(SplitDelimited("2017-03-15-08-12-34-68-bmp", '-'),
              (Fields{"2017", "03", "15", "08", "12", "34", "68", "bmp"}));
    EXPECT_EQ(SplitDelimited("a--b", '-'), (Fields{"a", "", "b"}));
    EXPECT_EQ(SplitDelimited("-a", '-'), (Fields{"", "a"}));
    EXPECT_EQ(SplitDelimited("a-", '-'), (Fields{"a", ""}));
    EXPECT_EQ(SplitDelimited("a b\tc", '-'), (Fields{"a", "b", "c"}));
    EXPECT_EQ(SplitDelimited("  a  -  b  ", '-'), (Fields{"a", "b"}));
    EXPECT_EQ(SplitDelimited("\"x-y z\"-w", '-'), (Fields{"x-y z", "w"}));
    EXPECT_EQ(SplitDelimited("\"say \"\"hi\"\"\",2", ','), (Fields{"say \"hi\"", "2"}));
    EXPECT_EQ(SplitDelimited("\"open", ','), (Fields{"open"}));
    EXPECT_EQ(SplitDelimited("\"ab\"cd", ','), (Fields{"ab", "cd"}));
    EXPECT_EQ(SplitDelimited("", ','), Fields{});
    EXPECT_EQ(SplitDelimited("   ", ','), Fields{});
    EXPECT_EQ(SplitDelimited(",", ','), (Fields{"", ""}));
    EXPECT_EQ(SplitDelimited(std::string("a,b\0,c", 6), ','), (Fields{"a", "b"}));
    // A Stations.dat style line.
    EXPECT_EQ(SplitDelimited("51.5,-0.12,\"London, UK\",4", ','),
              (Fields{"51.5", "-0.12", "London, UK", "4"}));
}

TEST(TextFile, SplitLinesWithAnyLineEnding) {
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Fields{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\n"), (Fields{"a"}));
    EXPECT_EQ(SplitLines("a\n\nb"), (Fields{"a", "", "b"}));
    EXPECT_EQ(SplitLines("\xEF\xBB\xBFx\r\n"), (Fields{"x"}));
    EXPECT_EQ(SplitLines(""), Fields{});
    EXPECT_EQ(SplitLines("\r\n\r\n"), (Fields{"", ""}));
}

TEST(StringList, AddNotifiesAndTextJoins) {
    TStringList list;
    std::vector<std::string> seen;
    list.OnAdd = [&seen](const std::string& s) { seen.push_back(s); };
    list.Add("Diagnostics");
    list.Add("  detail");
    EXPECT_EQ(seen, (Fields{"Diagnostics", "  detail"}));
    EXPECT_EQ(list.Text(), "Diagnostics\n  detail\n");
    EXPECT_EQ(list.Text("\r\n"), "Diagnostics\r\n  detail\r\n");
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
} // namespace vantorel
