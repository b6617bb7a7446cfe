// The engine: how field texts become settings, which settings run, what is reserved, and
// the output text swept against a plain value-by-value reference.
#include "generation_settings.h"
#include "output_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <tuple>
#include <string>
#include <vector>

namespace {

TEST(Settings, FieldsAreReadByTheAtoiRuleOverNineCharacters)
{
    const std::pair<std::string, int32_t> cases[] = {
        {"", 0}, {"  7", 7}, {"7 8", 7}, {"x7", 0}, {"- 5", 0}, {"+12", 12}, {"--5", 0}, {"12abc", 12}, {"0255", 255},
        {"\t\n\v\f\r-9", -9}, {"1234567890123", 123456789}, {"-12345678", -12345678}, {std::string("12\0" "3", 4), 12}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParseFieldInteger(LimitFieldText(text)), expected) << '"' << text << '"';
    EXPECT_EQ(ParseFieldInteger("2147483648"), INT32_MIN) << "past nine characters it wraps as atoi's arithmetic does";
}

TEST(Settings, ChecksAcceptExactlyTheValidRangesAndTellTheMinimumFirst)
{
    const std::string badMin = "Dec. Min. Must be between 0 and 255!", badMax = "Dec. Max. Must be between 0 and 255!";
    const std::tuple<int32_t, int32_t, std::string> bounds[] = {
        {0, 10, "-"},    {0, 0, "-"},      {255, 255, "-"},  {256, 10, badMin}, {-1, 10, badMin},
        {0, -1, badMax}, {0, 256, badMax}, {300, -1, badMin}, {11, 10, "Dec. Max. Must not be less than Dec. Min.!"}};
    for (const auto& [minimum, maximum, message] : bounds) {
        const char* told = CheckBounds(minimum, maximum);
        EXPECT_EQ(told ? told : "-", message) << minimum << ".." << maximum;
    }
    // count, asks first, runs
    const std::tuple<int32_t, bool, bool> counts[] = {{INT32_MIN, false, false}, {-5, false, false}, {0, false, false},
        {1, false, true}, {10000, false, true}, {10001, true, true}, {INT32_MAX, true, true}};
    for (const auto& [count, asks, runs] : counts) {
        EXPECT_EQ(NeedsConfirmation(count), asks) << count;
        EXPECT_EQ(CheckCount(count) == nullptr, runs) << count;
    }
}

// The file image of a run (the text and its one zero byte), or why there is none.
std::string Build(int32_t count, int32_t minimum, int32_t maximum, int32_t base, const char* delimiter,
                  const std::vector<uint8_t>& bytes = {})
{
    GenerationSettings s{count, minimum, maximum, base, {}};
    SetDelimiter(s, delimiter);
    RandomBlock block;
    OutputText text;
    if (!ReserveRunBuffers(s, &block, &text))
        return "<not reserved: " + std::to_string(errno) + ">";
    std::copy(bytes.begin(), bytes.end(), block.bytes.get());
    if (!BuildOutputText(s, block, &text))
        return "<not built>";
    const FileImage image = OutputFileImage(text);
    return std::string(image.data, image.size);
}

TEST(OutputText, MatchesTheReferenceForEveryShapeOfSettings)
{
    EXPECT_EQ(Build(5, 0, 10, 10, ",", {0x00, 0x0B, 0xFF, 0x05, 0x80}), std::string("0,0,2,5,7\0", 10));
    uint32_t seed = 12345;
    for (int32_t base = 2; base <= 36; ++base)
        for (const char* delimiter : {"", ",", "\n", "abcdefghi"})
            for (auto [minimum, maximum] : {std::pair{0, 255}, {0, 10}, {3, 3}, {200, 255}, {0, 1}}) {
                std::vector<uint8_t> bytes(1 + seed % 40);
                std::string reference;
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    bytes[i] = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
                    std::string digits;
                    for (int v = minimum + bytes[i] % (maximum - minimum + 1); digits.empty() || v; v /= base)
                        digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[v % base]);
                    reference += (i ? delimiter : "") + digits;
                }
                ASSERT_EQ(Build(int32_t(bytes.size()), minimum, maximum, base, delimiter, bytes), reference + '\0')
                    << "base " << base << " \"" << delimiter << "\" " << minimum << ".." << maximum;
            }
}

TEST(OutputText, ReservesWhatTheTextNeedsOrSaysWhyNot)
{
    // The box holds 2147483631 characters: exactly 715827877 values of three, or 126322566 of
    // seventeen. (What a run may reserve in all shows end to end, where 32-bit Quorvel has less.)
    const std::tuple<int32_t, int32_t, const char*, uint64_t> shapes[] = {
        {1, 2, "123456789", 18},          {126322566, 2, "123456789", 2147483623}, {126322567, 2, "123456789", EOVERFLOW},
        {715827877, 10, "", 2147483632}, {715827878, 10, "", EOVERFLOW},          {INT32_MAX, 2, "123456789", EOVERFLOW}};
    for (const auto& [count, base, delimiter, expected] : shapes) {
        GenerationSettings s{count, 0, 255, base, {}};
        SetDelimiter(s, delimiter);
        std::size_t capacity = 0;
        errno = 0;
        const bool fits = OutputTextCapacity(s, &capacity);
        EXPECT_EQ(fits ? capacity : static_cast<uint64_t>(errno), expected) << count << " in base " << base;
    }
    const std::string invalid = "<not reserved: " + std::to_string(EINVAL) + ">";
    for (const std::string& refused : {Build(0, 0, 10, 10, ""), Build(5, 11, 10, 10, ""), Build(5, 0, 256, 10, ""),
                                       Build(5, 0, 10, 1, ""), Build(5, 0, 10, 37, "")})
        EXPECT_EQ(refused, invalid);
}

}  // namespace
