// The field parser against the C library: nine characters never overflow, so within
// them atoi's rule and strtol's agree exactly.
#include "generation_settings.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    const std::string_view field = LimitFieldText(whole);
    if (field.size() > static_cast<std::size_t>(FieldTextLimit - 1) || field.find('\0') != std::string_view::npos)
        std::abort();

    const std::string copy(field);
    const long expected = std::strtol(copy.c_str(), nullptr, 10);
    if (ParseFieldInteger(field) != expected)
        std::abort();

    // Whatever the text, the parser is total and the checks agree with the range.
    const int32_t value = ParseFieldInteger(whole);
    if ((CheckMinimum(value) == nullptr) != (value >= 0 && value <= BoundLimit))
        std::abort();
    if ((CheckCount(value) == nullptr) != (value >= 1))
        std::abort();
    return 0;
}
