// Turning a block of random bytes into the output text, and the file image of that text.
#pragma once

#include "generation_settings.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// One random byte per value, filled by the random source in one request.
struct RandomBlock {
    std::unique_ptr<uint8_t[]> bytes;
    std::size_t count = 0;
};

// The values joined by the delimiter, single-byte characters ending in one zero byte.
struct OutputText {
    std::unique_ptr<char[]> text;
    std::size_t length = 0;    // characters, without the zero byte
    std::size_t capacity = 0;  // bytes reserved, zero byte included
};

// The output file receives exactly these bytes: the text and its one zero byte.
struct FileImage {
    const char* data;
    std::size_t size;
};

// Enough for any 32-bit value in base 2.
inline constexpr std::size_t RadixTextMax = 32;

// The longest output text, in characters: the most the output box holds. Windows gives
// 0x7FFFFFFE characters as an edit control's largest limit; Wine's edit control keeps the
// text in UTF-16 and sizes its buffer, (length + 1) x 2 bytes rounded up to 32, in 32 bits,
// so it holds 0x7FFFFFEF. A longer text would be lost, or worse, in every build.
inline constexpr std::size_t OutputTextLimit = 0x7FFFFFEF;

// What one run may reserve in all, its random block and its text: the 2 GiB of address
// space a 32-bit Windows process has for everything. A 64-bit build keeps to it too, so
// that both refuse the same runs instead of one of them freezing for hours over a text
// it could hold but not show in any reasonable time.
inline constexpr std::size_t RunBufferLimit = 0x7FFFFFFF;

// minimum + byte mod (maximum - minimum + 1). Needs minimum <= maximum.
int32_t MapByteToRange(uint8_t byte, int32_t minimum, int32_t maximum);

// Lowercase digits, no prefix, no leading zeros; base 2 to 36. Writes at most
// RadixTextMax characters (no zero byte) and returns how many.
std::size_t FormatInRadix(uint32_t value, int32_t base, char* out);

// True when the settings describe a run the builder can carry out: count at least 1,
// both bounds within 0..BoundLimit and in order, base 2..36.
bool SettingsAreBuildable(const GenerationSettings& settings);

// Bytes the text of these settings can need at most, zero byte included:
// count x (digits of the largest value + delimiter length) + 1. False with errno
// EOVERFLOW when the text could pass OutputTextLimit, EINVAL for settings that are not
// buildable.
bool OutputTextCapacity(const GenerationSettings& settings, std::size_t* capacity);

// Reserves the random block and the whole text buffer before any byte is requested.
// False with errno EINVAL or EOVERFLOW as OutputTextCapacity, or ENOMEM when the two
// together pass RunBufferLimit or cannot be had; nothing is left reserved then.
bool ReserveRunBuffers(const GenerationSettings& settings, RandomBlock* block, OutputText* text);

// Writes the values of block in order into text, the delimiter between neighbours,
// and the zero byte. text must have been reserved for the same settings.
// False with errno EINVAL when the settings, block or buffer do not match.
bool BuildOutputText(const GenerationSettings& settings, const RandomBlock& block, OutputText* text);

// Characters of the text plus one for its zero byte.
std::size_t RecordedLength(const OutputText& text);

FileImage OutputFileImage(const OutputText& text);
