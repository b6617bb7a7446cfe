// Settings of one run, how a field's text becomes a number, and the checks on them.
// Portable: this file and everything under engine/ stay free of platform headers.
#pragma once

#include <cstdint>
#include <string_view>

// Every numeric field and the delimiter field are read into this many bytes:
// nine characters and the terminating zero.
inline constexpr int FieldTextLimit = 10;
inline constexpr int BoundLimit = 255;
// A count above this asks the user before anything else is looked at.
inline constexpr int32_t LargeRunThreshold = 10000;

struct GenerationSettings {
    int32_t count = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t base = 10;
    char delimiter[FieldTextLimit] = {};  // zero-terminated, at most 9 bytes
};

// The part of a field's text that takes part in parsing: its first nine characters.
std::string_view LimitFieldText(std::string_view text);

// The C library's atoi rule in the "C" locale: leading white space, one optional sign,
// decimal digits accumulated with 32-bit two's-complement wrap-around, stop at the
// first non-digit. No digits gives 0.
int32_t ParseFieldInteger(std::string_view text);

bool NeedsConfirmation(int32_t count);

// Each check returns nullptr when the value is acceptable, else the message to show
// in a box captioned "ERROR".
const char* CheckCount(int32_t count);
const char* CheckMinimum(int32_t minimum);
const char* CheckMaximum(int32_t maximum);
// Called once both bounds have passed their own checks.
const char* CheckBoundOrder(int32_t minimum, int32_t maximum);

// Copies at most nine bytes of text into settings.delimiter, zero-terminated.
void SetDelimiter(GenerationSettings& settings, std::string_view text);

// The bound checks in the order the user is told about them: the minimum, then the
// maximum, then their order. nullptr when all pass.
const char* CheckBounds(int32_t minimum, int32_t maximum);
