#include "ui/IntegerText.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

std::optional<int32_t> Convert(const char* Text)
{
    int32_t Value = 12345; // left alone when the text does not convert
    if (!TryStrToInt(QString::fromUtf8(Text), Value)) {
        EXPECT_EQ(Value, 12345) << Text;
        return std::nullopt;
    }
    return Value;
}

struct TCase
{
    const char* Text;
    std::optional<int32_t> Expected;
};

TEST(IntegerText, ConvertsWhatTheToolkitConverts)
{
    const TCase Cases[] = {
        {"7", 7},          {" 7", 7},           {"   42", 42},       {"+5", 5},
        {"-3", -3},        {"0", 0},            {"007", 7},          {"$A", 10},
        {"$a", 10},        {"x10", 16},         {"X10", 16},         {"0x1f", 31},
        {"0X1F", 31},      {"-$1", -1},         {"$FFFFFFFF", -1},   {"$80000000", INT32_MIN},
        {"$000000001", 1}, {"2147483647", INT32_MAX},                {"-2147483648", INT32_MIN},
    };
    for (const TCase& C : Cases)
        EXPECT_EQ(Convert(C.Text), C.Expected) << '"' << C.Text << '"';
}

TEST(IntegerText, RefusesEverythingElse)
{
    const char* Cases[] = {
        "",     "   ",     "7 ",          "abc",         "12a",        "2147483648", "-2147483649",
        "$",    "x",       "0x",          "0X",          "$100000000", "$G",         "+",
        "-",    "+-5",     "- 5",         "\t7",         "7.0",        "1e3",        "00x10",
        "0x-1", "１２",     "99999999999999999999",
    };
    for (const char* Text : Cases)
        EXPECT_EQ(Convert(Text), std::nullopt) << '"' << Text << '"';
}

} // namespace
