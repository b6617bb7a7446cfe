#include "output_text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>

namespace {

constexpr int MinBase = 2;
constexpr int MaxBase = 36;

// Every byte value pre-formatted as "delimiter digits": at most 9 + 8 characters.
// Rows are padded so the hot loop can copy a fixed width and advance by the true length.
constexpr std::size_t RowWidth = 32;
// FormatInRadix may write RadixTextMax characters, but a value of at most BoundLimit
// never takes more than ValueDigitsMax (base 2): that is what keeps it inside its row.
constexpr std::size_t ValueDigitsMax = 8;
static_assert((1u << ValueDigitsMax) > BoundLimit, "a value fits in ValueDigitsMax binary digits");
static_assert(FieldTextLimit - 1 + ValueDigitsMax <= RowWidth, "a row holds the longest delimiter and value");
static_assert(ValueDigitsMax <= RadixTextMax, "FormatInRadix has room for any value");

struct ValueTable {
    alignas(RowWidth) char row[256][RowWidth];
    uint8_t length[256];
};

void FillValueTable(const GenerationSettings& s, std::size_t delimiterLength, ValueTable* table)
{
    std::memset(table->row, 0, sizeof table->row);
    for (int b = 0; b < 256; ++b) {
        char* row = table->row[b];
        std::memcpy(row, s.delimiter, delimiterLength);
        const int32_t value = MapByteToRange(static_cast<uint8_t>(b), s.minimum, s.maximum);
        const std::size_t digits = FormatInRadix(static_cast<uint32_t>(value), s.base, row + delimiterLength);
        table->length[b] = static_cast<uint8_t>(delimiterLength + digits);
    }
}

// Copies Width bytes per value and moves on by the value's true length; the caller
// guarantees Width bytes of room at every step.
template <std::size_t Width>
char* AppendWide(char* out, const uint8_t* bytes, std::size_t n, const ValueTable& table)
{
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        std::memcpy(out, table.row[b], Width);
        out += table.length[b];
    }
    return out;
}

char* AppendExact(char* out, const uint8_t* bytes, std::size_t n, const ValueTable& table)
{
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        std::memcpy(out, table.row[b], table.length[b]);
        out += table.length[b];
    }
    return out;
}

std::size_t DigitCount(uint32_t value, int32_t base)
{
    std::size_t digits = 1;
    while (value >= static_cast<uint32_t>(base)) {
        value /= static_cast<uint32_t>(base);
        ++digits;
    }
    return digits;
}

// sizeof delimiter when it lacks its zero byte, which no buildable settings allow.
std::size_t DelimiterLength(const GenerationSettings& s)
{
    return strnlen(s.delimiter, sizeof s.delimiter);
}

}  // namespace

int32_t MapByteToRange(uint8_t byte, int32_t minimum, int32_t maximum)
{
    const int32_t span = maximum - minimum + 1;
    if (span <= 0)
        return minimum;  // no mapping exists; callers reject such settings first
    return minimum + static_cast<int32_t>(byte) % span;
}

std::size_t FormatInRadix(uint32_t value, int32_t base, char* out)
{
    if (base < MinBase || base > MaxBase)
        return 0;
    const std::to_chars_result r = std::to_chars(out, out + RadixTextMax, value, base);
    return static_cast<std::size_t>(r.ptr - out);
}

bool SettingsAreBuildable(const GenerationSettings& s)
{
    return !CheckCount(s.count) && !CheckBounds(s.minimum, s.maximum) && s.base >= MinBase && s.base <= MaxBase &&
           DelimiterLength(s) < sizeof s.delimiter;
}

bool OutputTextCapacity(const GenerationSettings& s, std::size_t* capacity)
{
    if (!SettingsAreBuildable(s)) {
        errno = EINVAL;
        return false;
    }
    // The largest value any byte can map to is the maximum itself.
    const std::size_t perValue = DigitCount(static_cast<uint32_t>(s.maximum), s.base) + DelimiterLength(s);
    const std::size_t count = static_cast<std::size_t>(s.count);
    static_assert(OutputTextLimit < RunBufferLimit, "the zero byte fits after the longest text");
    if (count > OutputTextLimit / perValue) {
        errno = EOVERFLOW;
        return false;
    }
    *capacity = count * perValue + 1;
    return true;
}

bool ReserveRunBuffers(const GenerationSettings& s, RandomBlock* block, OutputText* text)
{
    std::size_t capacity = 0;
    if (!OutputTextCapacity(s, &capacity))
        return false;
    const std::size_t count = static_cast<std::size_t>(s.count);
    if (count > RunBufferLimit - capacity) {
        errno = ENOMEM;
        return false;
    }
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[count]);
    std::unique_ptr<char[]> chars(bytes ? new (std::nothrow) char[capacity] : nullptr);
    if (!bytes || !chars) {
        errno = ENOMEM;
        return false;
    }
    chars[0] = '\0';
    block->bytes = std::move(bytes);
    block->count = count;
    text->text = std::move(chars);
    text->length = 0;
    text->capacity = capacity;
    return true;
}

bool BuildOutputText(const GenerationSettings& s, const RandomBlock& block, OutputText* text)
{
    std::size_t needed = 0;
    if (!OutputTextCapacity(s, &needed))
        return false;
    if (!block.bytes || block.count != static_cast<std::size_t>(s.count) || !text->text ||
        text->capacity < needed) {
        errno = EINVAL;
        return false;
    }

    const std::size_t delimiterLength = DelimiterLength(s);
    ValueTable table;
    FillValueTable(s, delimiterLength, &table);

    char* const begin = text->text.get();
    const uint8_t* bytes = block.bytes.get();

    // The first value has no delimiter before it.
    const uint8_t first = bytes[0];
    const std::size_t firstLength = table.length[first] - delimiterLength;
    std::memcpy(begin, table.row[first] + delimiterLength, firstLength);
    char* out = begin + firstLength;

    // Values after the first: while a fixed-width copy cannot pass the end of the
    // buffer, copy a whole row; the last few take exactly their own length.
    const std::size_t rest = block.count - 1;
    const std::size_t perValue = needed / block.count;  // exact: needed = count x perValue + 1
    std::size_t width = 4;
    while (width < perValue)
        width *= 2;
    const std::size_t room = text->capacity - static_cast<std::size_t>(out - begin);
    std::size_t wide = 0;
    if (room >= width)
        wide = std::min(rest, (room - width) / perValue + 1);
    switch (width) {
    case 4: out = AppendWide<4>(out, bytes + 1, wide, table); break;
    case 8: out = AppendWide<8>(out, bytes + 1, wide, table); break;
    case 16: out = AppendWide<16>(out, bytes + 1, wide, table); break;
    default: out = AppendWide<RowWidth>(out, bytes + 1, wide, table); break;
    }
    out = AppendExact(out, bytes + 1 + wide, rest - wide, table);

    *out = '\0';
    text->length = static_cast<std::size_t>(out - begin);
    return true;
}

std::size_t RecordedLength(const OutputText& text)
{
    return text.length + 1;
}

FileImage OutputFileImage(const OutputText& text)
{
    return FileImage{text.text.get(), RecordedLength(text)};
}
