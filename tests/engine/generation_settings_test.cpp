#include "generation_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct ParseCase {
    const char* text;
    int32_t expected;
};

TEST(ParseFieldInteger, FollowsTheAtoiRule)
{
    const ParseCase cases[] = {
        {"", 0},
        {"7", 7},
        {"  7", 7},           // leading blanks skipped
        {"7 8", 7},           // stops at the first non-digit
        {"x7", 0},            // no leading digits
        {"- 5", 0},           // digits must follow the sign directly
        {"-0", 0},
        {"+12", 12},
        {"--5", 0},
        {"+-5", 0},
        {"12abc", 12},
        {"0255", 255},        // leading zeros accepted
        {"\t\n\v\f\r9", 9},   // every C white-space character
        {"-1", -1},
        {"256", 256},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", INT32_MIN},  // 32-bit two's-complement wrap
        {"4294967297", 1},
        {"99999999999", 1215752191},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(ParseFieldInteger(c.text), c.expected) << "text \"" << c.text << '"';
}

TEST(ParseFieldInteger, StopsAtAnEmbeddedZeroByte)
{
    EXPECT_EQ(ParseFieldInteger(std::string_view("12\0" "34", 5)), 12);
}

TEST(LimitFieldText, KeepsAtMostNineCharacters)
{
    EXPECT_EQ(LimitFieldText("1234567890123"), "123456789");
    EXPECT_EQ(LimitFieldText("123456789"), "123456789");
    EXPECT_EQ(LimitFieldText(""), "");
    EXPECT_EQ(LimitFieldText(std::string_view("ab\0cd", 5)), "ab");
    // A thirteen-digit count is read as its first nine digits and needs confirmation.
    const int32_t count = ParseFieldInteger(LimitFieldText("1234567890123"));
    EXPECT_EQ(count, 123456789);
    EXPECT_TRUE(NeedsConfirmation(count));
}

TEST(NeedsConfirmation, OnlyAboveTenThousand)
{
    EXPECT_FALSE(NeedsConfirmation(10000));
    EXPECT_TRUE(NeedsConfirmation(10001));
    EXPECT_FALSE(NeedsConfirmation(1));
    EXPECT_FALSE(NeedsConfirmation(-5));
    EXPECT_TRUE(NeedsConfirmation(INT32_MAX));
}

struct BoundCase {
    int32_t minimum;
    int32_t maximum;
    const char* expected;  // nullptr: accepted
};

TEST(CheckBounds, GivesTheFirstFailingMessageInOrder)
{
    const char* const badMin = "Dec. Min. Must be between 0 and 255!";
    const char* const badMax = "Dec. Max. Must be between 0 and 255!";
    const char* const badOrder = "Dec. Max. Must not be less than Dec. Min.!";
    const BoundCase cases[] = {
        {0, 10, nullptr},
        {0, 0, nullptr},
        {0, 255, nullptr},
        {255, 255, nullptr},
        {256, 10, badMin},
        {-1, 10, badMin},
        {0, -1, badMax},
        {0, 256, badMax},
        {300, -1, badMin},  // both bad: only the minimum is reported
        {INT32_MIN, INT32_MAX, badMin},
        {11, 10, badOrder},
        {255, 0, badOrder},
    };
    for (const BoundCase& c : cases) {
        const char* got = CheckBounds(c.minimum, c.maximum);
        if (c.expected) {
            ASSERT_NE(got, nullptr) << c.minimum << ".." << c.maximum;
        }
        EXPECT_EQ(got ? std::string(got) : "", c.expected ? std::string(c.expected) : "")
            << c.minimum << ".." << c.maximum;
    }
}

TEST(CheckCount, RejectsCountsBelowOne)
{
    EXPECT_EQ(CheckCount(1), nullptr);
    EXPECT_EQ(CheckCount(INT32_MAX), nullptr);
    for (int32_t bad : {0, -1, INT32_MIN}) {
        ASSERT_NE(CheckCount(bad), nullptr);
        EXPECT_STREQ(CheckCount(bad), "Number of Zintars Must be at least 1!");
    }
}

TEST(SetDelimiter, KeepsNineBytesAndTerminates)
{
    GenerationSettings s;
    SetDelimiter(s, "abcdefghijkl");
    EXPECT_STREQ(s.delimiter, "abcdefghi");
    SetDelimiter(s, "\t");
    EXPECT_STREQ(s.delimiter, "\t");
    SetDelimiter(s, "");
    EXPECT_STREQ(s.delimiter, "");
}

}  // namespace
