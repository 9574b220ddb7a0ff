#include <gtest/gtest.h>

#include <boost/lexical_cast/bad_lexical_cast.hpp>
#include <clocale>
#include <limits>

#include "command/Conversions.h"

namespace nelko::test {
namespace {

const char kCastFailure[] = "bad lexical cast: source type value could not be interpreted as target";

template <typename Parse>
void ExpectFailure(Parse parse, const std::string& text) {
    try {
        parse(text);
        ADD_FAILURE() << "accepted \"" << text << "\"";
    } catch (const boost::bad_lexical_cast& error) {
        EXPECT_STREQ(error.what(), kCastFailure) << text;
    }
}

TEST(ConversionsTest, ParseIntAcceptsWholeIntegersOnly) {
    const std::pair<const char*, std::int32_t> accepted[] = {{"42", 42},
                                                             {"+42", 42},
                                                             {"-42", -42},
                                                             {"007", 7},
                                                             {"0", 0},
                                                             {"-0", 0},
                                                             {"2147483647", 2147483647},
                                                             {"-2147483648", std::numeric_limits<std::int32_t>::min()}};
    for (const auto& [text, value] : accepted) EXPECT_EQ(ParseInt(text), value) << text;

    for (const char* text :
         {"",  " 42", "42 ", "4 2", "4.2",        "5.0",         "1e3",         "0x10", "12abc", "+",
          "-", "+-5", "-+5", "++5", "2147483648", "-2147483649", "99999999999", "42\n", "42\r",  "abc"}) {
        ExpectFailure(ParseInt, text);
    }
    ExpectFailure(ParseInt, std::string("4\0"
                                        "2",
                                        3));
}

TEST(ConversionsTest, ParseUShortAcceptsZeroTo65535WithoutMinus) {
    const std::pair<const char*, std::uint16_t> accepted[] = {{"0", 0}, {"65535", 65535}, {"+7", 7}, {"0409", 409}};
    for (const auto& [text, value] : accepted) EXPECT_EQ(ParseUShort(text), value) << text;
    for (const char* text : {"65536", "-1", "-0", "", " 1", "1 ", "1.0", "+-1"}) ExpectFailure(ParseUShort, text);
}

TEST(ConversionsTest, FormatIntIsPlainDecimal) {
    EXPECT_EQ(FormatInt(0), "0");
    EXPECT_EQ(FormatInt(-5), "-5");
    EXPECT_EQ(FormatInt(2147483647), "2147483647");
    EXPECT_EQ(FormatInt(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}

TEST(ConversionsTest, FormatFloatUsesSevenSignificantDigits) {
    const std::pair<float, const char*> cases[] = {{0.5f, "0.5"},
                                                   {100.0f, "100"},
                                                   {0.0f, "0"},
                                                   {-3.25f, "-3.25"},
                                                   {12.345678f, "12.34568"},
                                                   {95.123456f, "95.12346"},
                                                   {1.0f / 3, "0.3333333"},
                                                   {1234567.0f, "1234567"},
                                                   {12345678.0f, "1.234568e+07"},
                                                   {0.1f, "0.1"},
                                                   {99.99999f, "99.99999"},
                                                   {0.0001f, "0.0001"},
                                                   {0.00001f, "1e-05"},
                                                   {16777216.0f, "1.677722e+07"},
                                                   {0.000123456789f, "0.0001234568"},
                                                   {-0.0f, "-0"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(FormatFloat(value), text) << text;
}

TEST(ConversionsTest, ListFormatUsesSixSignificantDigits) {
    const std::pair<float, const char*> cases[] = {{99.99999f, "100"},
                                                   {12.345678f, "12.3457"},
                                                   {0.1f, "0.1"},
                                                   {-0.5f, "-0.5"},
                                                   {1234567.0f, "1.23457e+06"},
                                                   {1234565.0f, "1.23456e+06"},
                                                   {1234575.0f, "1.23458e+06"},
                                                   {999999.5f, "1e+06"},
                                                   {99999.95f, "100000"},
                                                   {0.000123456789f, "0.000123457"},
                                                   {1e21f, "1e+21"}};
    for (const auto& [value, text] : cases) {
        std::string out = "x";
        AppendFloatDefaultPrecision(out, value);
        EXPECT_EQ(out, std::string("x") + text);
    }
}

TEST(ConversionsTest, NumbersIgnoreTheHostsLocale) {
    // A client may switch its C locale to one with a decimal comma (glibc's and the
    // Windows C runtime's name for it).
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr && std::setlocale(LC_ALL, "German_Germany.1252") == nullptr)
        GTEST_SKIP() << "no German locale installed";
    EXPECT_EQ(FormatFloat(0.5f), "0.5");
    std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace nelko::test
