#include "common/Format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace vantorel {
namespace {

TEST(Format, Integers) {
    EXPECT_EQ(Format("  STAT file %d: %s", 2, "/x/a.stat"), "  STAT file 2: /x/a.stat");
    EXPECT_EQ(Format("[%5d|%-5d|%05d]", 42, 42, -42), "[   42|42   |-0042]");
    EXPECT_EQ(Format("%d", -2147483648LL), "-2147483648");
    EXPECT_EQ(Format("%u %x %X", 7u, 255, 255), "7 ff FF");
    EXPECT_EQ(Format("%.3d", 7), "007");
    EXPECT_EQ(Format("%+d", 5), "+5");
    EXPECT_EQ(Format("100%%"), "100%");
}

TEST(Format, RealsAsInC) {
    EXPECT_EQ(Format("%f", 3.14159), "3.14"); // two decimals without a precision
    EXPECT_EQ(Format("%.7f", 0.1539), "0.1539000");
    EXPECT_EQ(Format("%.0f", 2.5), "2"); // ties to even, as printf
    EXPECT_EQ(Format("%.0f", -3.6), "-4");
    EXPECT_EQ(Format("%.5g", 0.000123456789), "0.00012346");
    EXPECT_EQ(Format("%.5g", 123456789.0), "1.2346e+08");
    EXPECT_EQ(Format("%.5g", 100.0), "100");
    EXPECT_EQ(Format("%g", 0.5), "0.5");
    EXPECT_EQ(Format("%e", 1234.5), "1.234500e+03");
    EXPECT_EQ(Format("%8.3f|", -1.5), "  -1.500|");
    EXPECT_EQ(Format("%08.3f", -1.5), "-001.500");
    EXPECT_EQ(Format("%.2f", 7), "7.00"); // an integer given to a real conversion
    EXPECT_EQ(Format("%f", 1e300 * 1e300), "inf");
}

TEST(Format, TextPrecisionAndWidth) {
    EXPECT_EQ(Format("%.3s|%6s|%-6s|", std::string("abcdef"), "ab", "ab"), "abc|    ab|ab    |");
}

TEST(Format, MisuseThrowsInsteadOfReadingGarbage) {
    EXPECT_THROW(Format("%d %d", 1), std::invalid_argument);
    EXPECT_THROW(Format("%d", 1.5), std::invalid_argument);
    EXPECT_THROW(Format("%s", 3), std::invalid_argument);
    EXPECT_THROW(Format("%q", 3), std::invalid_argument);
    EXPECT_THROW(Format("%5", 3), std::invalid_argument);
}

TEST(Format, DecimalPointWhateverTheLocale) {
    const char* const candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"};
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const char* chosen = nullptr;
    for (const char* c : candidates) {
        if (std::setlocale(LC_ALL, c) != nullptr) {
            chosen = c;
            break;
        }
    }
    if (chosen == nullptr) {
        std::setlocale(LC_ALL, saved.c_str());
        GTEST_SKIP() << "no locale with a decimal comma on this machine";
    }
    const std::string got = Format("%.7f %f %.5g", 0.1539, 2.5, 0.25);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(got, "0.1539000 2.50 0.25") << "under " << chosen;
}

} // namespace
} // namespace vantorel
