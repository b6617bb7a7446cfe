// The text builder on arbitrary settings and bytes: the text fits the reserved size,
// has exactly the predicted shape, and every value reads back into the range.
#include "output_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Delimiters are drawn from characters that are never digits, so the text splits unambiguously.
constexpr char DelimiterAlphabet[] = " ,;:|\t\n-_./";

std::size_t Digits(uint32_t value, uint32_t base)
{
    std::size_t n = 1;
    for (; value >= base; value /= base)
        ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    GenerationSettings s;
    int32_t a = data[0], b = data[1];
    s.minimum = a < b ? a : b;
    s.maximum = a < b ? b : a;
    s.base = 2 + data[2] % 35;
    const std::size_t delimiterLength = data[3] % 10;
    if (size < 4 + delimiterLength + 1)
        return 0;
    char delimiter[FieldTextLimit] = {};
    for (std::size_t i = 0; i < delimiterLength; ++i)
        delimiter[i] = DelimiterAlphabet[data[4 + i] % (sizeof DelimiterAlphabet - 1)];
    SetDelimiter(s, delimiter);
    const uint8_t* bytes = data + 4 + delimiterLength;
    const std::size_t count = size - 4 - delimiterLength;
    s.count = static_cast<int32_t>(count);

    RandomBlock block;
    OutputText text;
    if (!ReserveRunBuffers(s, &block, &text))
        std::abort();
    std::memcpy(block.bytes.get(), bytes, count);
    if (!BuildOutputText(s, block, &text))
        std::abort();

    const uint64_t predicted = static_cast<uint64_t>(count) * (Digits(s.maximum, s.base) + delimiterLength) + 1;
    if (text.capacity != predicted || text.length + 1 > text.capacity || text.text[text.length] != '\0')
        std::abort();

    const char* p = text.text.get();
    const char* const end = p + text.length;
    std::size_t expectedLength = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) {
            if (std::memcmp(p, delimiter, delimiterLength) != 0)
                std::abort();
            p += delimiterLength;
        }
        // Split by the value's own digit count, so an empty delimiter splits too.
        const int32_t mapped = MapByteToRange(bytes[i], s.minimum, s.maximum);
        const std::size_t width = Digits(static_cast<uint32_t>(mapped), static_cast<uint32_t>(s.base));
        if (static_cast<std::size_t>(end - p) < width)
            std::abort();
        const std::string digits(p, width);
        char* stop = nullptr;
        const long value = std::strtol(digits.c_str(), &stop, s.base);
        if (stop != digits.c_str() + width || value != mapped || value < s.minimum || value > s.maximum)
            std::abort();
        if (width > 1 && digits[0] == '0')
            std::abort();  // no leading zeros
        for (const char c : digits)
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
                std::abort();  // lowercase digits only
        const char* after = p + width;
        expectedLength += width + (i ? delimiterLength : 0);
        p = after;
    }
    if (p != end || expectedLength != text.length || RecordedLength(text) != text.length + 1)
        std::abort();
    return 0;
}
