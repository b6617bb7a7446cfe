#include "output_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace {

GenerationSettings Settings(int32_t count, int32_t minimum, int32_t maximum, int32_t base, const char* delimiter)
{
    GenerationSettings s;
    s.count = count;
    s.minimum = minimum;
    s.maximum = maximum;
    s.base = base;
    SetDelimiter(s, delimiter);
    return s;
}

// Reserves and builds; fails the test when either step fails.
std::string Build(const GenerationSettings& s, const std::vector<uint8_t>& bytes, OutputText* out = nullptr)
{
    RandomBlock block;
    OutputText text;
    EXPECT_TRUE(ReserveRunBuffers(s, &block, &text));
    if (!block.bytes)
        return "<not reserved>";
    std::copy(bytes.begin(), bytes.end(), block.bytes.get());
    EXPECT_TRUE(BuildOutputText(s, block, &text));
    std::string result(text.text.get(), text.length);
    EXPECT_EQ(text.text[text.length], '\0');
    EXPECT_LE(text.length + 1, text.capacity);
    if (out)
        *out = std::move(text);
    return result;
}

// The plain way to write the text, value by value, to check the table-driven builder.
std::string Reference(const GenerationSettings& s, const std::vector<uint8_t>& bytes)
{
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            text += s.delimiter;
        char digits[RadixTextMax];
        const int32_t value = MapByteToRange(bytes[i], s.minimum, s.maximum);
        text.append(digits, FormatInRadix(static_cast<uint32_t>(value), s.base, digits));
    }
    return text;
}

TEST(OutputText, WorkedExample)
{
    OutputText text;
    const std::string got = Build(Settings(5, 0, 10, 10, ","), {0x00, 0x0B, 0xFF, 0x05, 0x80}, &text);
    EXPECT_EQ(got, "0,0,2,5,7");
    EXPECT_EQ(RecordedLength(text), 10u);
    const FileImage image = OutputFileImage(text);
    ASSERT_EQ(image.size, 10u);
    EXPECT_EQ(std::string(image.data, image.size), std::string("0,0,2,5,7\0", 10));
}

struct RadixCase {
    uint32_t value;
    int32_t base;
    const char* expected;
};

TEST(FormatInRadix, LowercaseWithoutPrefixOrLeadingZeros)
{
    const RadixCase cases[] = {
        {255, 2, "11111111"}, {255, 16, "ff"}, {255, 36, "73"}, {200, 36, "5k"},
        {0, 2, "0"},          {0, 36, "0"},    {5, 16, "5"},    {171, 16, "ab"},
        {10, 10, "10"},       {35, 36, "z"},   {36, 36, "10"},  {255, 3, "100110"},
    };
    for (const RadixCase& c : cases) {
        char out[RadixTextMax];
        const std::size_t n = FormatInRadix(c.value, c.base, out);
        EXPECT_EQ(std::string(out, n), c.expected) << c.value << " in base " << c.base;
    }
    char out[RadixTextMax];
    EXPECT_EQ(FormatInRadix(5, 1, out), 0u);
    EXPECT_EQ(FormatInRadix(5, 37, out), 0u);
}

TEST(MapByteToRange, RemainderFavoursSmallValuesWhenSpanDoesNotDivide256)
{
    int hits[11] = {};
    for (int b = 0; b < 256; ++b) {
        const int32_t v = MapByteToRange(static_cast<uint8_t>(b), 0, 10);
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 10);
        ++hits[v];
    }
    for (int v = 0; v < 11; ++v)
        EXPECT_EQ(hits[v], v < 3 ? 24 : 23) << "value " << v;

    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(MapByteToRange(static_cast<uint8_t>(b), 0, 255), b);
        EXPECT_EQ(MapByteToRange(static_cast<uint8_t>(b), 42, 42), 42);  // span 1
        EXPECT_EQ(MapByteToRange(static_cast<uint8_t>(b), 100, 103), 100 + b % 4);
    }
}

TEST(OutputText, EdgeCases)
{
    EXPECT_EQ(Build(Settings(4, 7, 7, 10, ","), {0, 1, 128, 255}), "7,7,7,7");       // span 1
    EXPECT_EQ(Build(Settings(4, 0, 255, 16, " "), {5, 0xab, 0, 0xff}), "5 ab 0 ff"); // the byte itself
    EXPECT_EQ(Build(Settings(1, 0, 255, 2, "---"), {0x80}), "10000000");             // no delimiter
    EXPECT_EQ(Build(Settings(3, 0, 255, 10, "\n"), {1, 2, 3}), "1\n2\n3");            // bare line feeds
    EXPECT_EQ(Build(Settings(3, 0, 255, 10, ""), {10, 2, 7}), "1027");                // run together
    EXPECT_EQ(Build(Settings(2, 0, 255, 10, "\t"), {9, 99}), "9\t99");
}

TEST(OutputText, LongDelimiterInBaseTwoFitsItsBuffer)
{
    // Eight digits and a nine-character delimiter: seventeen bytes a value.
    const std::vector<uint8_t> bytes(1000, 0xFF);
    const GenerationSettings s = Settings(1000, 0, 255, 2, "123456789");
    OutputText text;
    const std::string got = Build(s, bytes, &text);
    EXPECT_EQ(got.size(), 1000u * 8 + 999u * 9);
    EXPECT_EQ(got, Reference(s, bytes));
    std::size_t capacity = 0;
    ASSERT_TRUE(OutputTextCapacity(s, &capacity));
    EXPECT_EQ(capacity, 1000u * 17 + 1);
}

TEST(OutputText, MatchesThePlainBuilderForEverySettingShape)
{
    // Counts around the fixed-width copy's end, every base, delimiters of 0 to 9 bytes.
    uint32_t seed = 12345;
    const char* const delimiters[] = {"", ",", "\n", "ab", "xyz", "abcd", "abcdefghi"};
    for (int32_t base = 2; base <= 36; ++base) {
        for (const char* delimiter : delimiters) {
            for (int32_t count : {1, 2, 3, 5, 8, 17, 33, 64, 100}) {
                for (const auto& [minimum, maximum] : {std::pair{0, 255}, std::pair{0, 10}, std::pair{3, 3},
                                                       std::pair{200, 255}, std::pair{0, 1}}) {
                    std::vector<uint8_t> bytes(static_cast<std::size_t>(count));
                    for (uint8_t& b : bytes) {
                        seed = seed * 1664525u + 1013904223u;
                        b = static_cast<uint8_t>(seed >> 24);
                    }
                    const GenerationSettings s = Settings(count, minimum, maximum, base, delimiter);
                    ASSERT_EQ(Build(s, bytes), Reference(s, bytes))
                        << "base " << base << " delimiter \"" << delimiter << "\" count " << count << " range "
                        << minimum << ".." << maximum;
                }
            }
        }
    }
}

TEST(OutputTextCapacity, FailsExactlyWhenTheSizeDoesNotFit)
{
    const std::uint64_t sizeMax = static_cast<std::size_t>(-1);
    for (int32_t count : {1, 10000, 252645135, 252645136, 999999999, INT32_MAX}) {
        const GenerationSettings s = Settings(count, 0, 255, 2, "123456789");
        const std::uint64_t needed = static_cast<std::uint64_t>(count) * 17 + 1;
        std::size_t capacity = 0;
        errno = 0;
        const bool ok = OutputTextCapacity(s, &capacity);
        EXPECT_EQ(ok, needed <= sizeMax) << "count " << count;
        if (ok) {
            EXPECT_EQ(capacity, needed) << "count " << count;
        } else {
            EXPECT_EQ(errno, EOVERFLOW) << "count " << count;
        }
    }
}

TEST(OutputText, RefusesSettingsWithoutAMapping)
{
    const GenerationSettings unbuildable[] = {
        Settings(0, 0, 10, 10, ""),   Settings(-3, 0, 10, 10, ""), Settings(5, 11, 10, 10, ""),
        Settings(5, 0, 256, 10, ""),  Settings(5, -1, 10, 10, ""), Settings(5, 0, 10, 1, ""),
        Settings(5, 0, 10, 37, ""),
    };
    for (const GenerationSettings& s : unbuildable) {
        RandomBlock block;
        OutputText text;
        errno = 0;
        EXPECT_FALSE(ReserveRunBuffers(s, &block, &text));
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(block.bytes, nullptr);
        EXPECT_EQ(text.text, nullptr);
    }
}

TEST(OutputText, RefusesABlockOrBufferOfAnotherRun)
{
    RandomBlock block;
    OutputText text;
    ASSERT_TRUE(ReserveRunBuffers(Settings(4, 0, 10, 10, ""), &block, &text));
    errno = 0;
    EXPECT_FALSE(BuildOutputText(Settings(5, 0, 10, 10, ""), block, &text));  // block too short
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_FALSE(BuildOutputText(Settings(4, 0, 255, 2, ",,,"), block, &text));  // buffer too small
    EXPECT_EQ(errno, EINVAL);
}

TEST(ReserveRunBuffers, ReportsWhatCannotBeReservedInA32BitProcess)
{
    if (sizeof(void*) != 4)
        GTEST_SKIP() << "only a 32-bit address space is small enough to exhaust here";
    // About 4 GB of text and 1 GB of random bytes: the size fits in size_t, the memory does not.
    RandomBlock block;
    OutputText text;
    errno = 0;
    EXPECT_FALSE(ReserveRunBuffers(Settings(999999999, 0, 255, 10, ","), &block, &text));
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(block.bytes, nullptr);
    EXPECT_EQ(text.text, nullptr);
    // And the next, ordinary run still gets its buffers.
    EXPECT_TRUE(ReserveRunBuffers(Settings(100, 0, 10, 10, ""), &block, &text));
}

}  // namespace
