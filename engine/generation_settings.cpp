#include "generation_settings.h"

#include <algorithm>
#include <cstring>

std::string_view LimitFieldText(std::string_view text)
{
    const std::size_t end = std::min(text.find('\0'), static_cast<std::size_t>(FieldTextLimit - 1));
    return text.substr(0, end);
}

static bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int32_t ParseFieldInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    // Unsigned arithmetic wraps by definition, which gives atoi's two's-complement
    // overflow without signed overflow.
    uint32_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
        ++i;
    }
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

bool NeedsConfirmation(int32_t count)
{
    return count > LargeRunThreshold;
}

const char* CheckCount(int32_t count)
{
    return count >= 1 ? nullptr : "Number of Zintars Must be at least 1!";
}

const char* CheckMinimum(int32_t minimum)
{
    return minimum >= 0 && minimum <= BoundLimit ? nullptr : "Dec. Min. Must be between 0 and 255!";
}

const char* CheckMaximum(int32_t maximum)
{
    return maximum >= 0 && maximum <= BoundLimit ? nullptr : "Dec. Max. Must be between 0 and 255!";
}

const char* CheckBoundOrder(int32_t minimum, int32_t maximum)
{
    return maximum >= minimum ? nullptr : "Dec. Max. Must not be less than Dec. Min.!";
}

void SetDelimiter(GenerationSettings& settings, std::string_view text)
{
    const std::string_view kept = LimitFieldText(text);
    std::memcpy(settings.delimiter, kept.data(), kept.size());
    settings.delimiter[kept.size()] = '\0';
}

const char* CheckBounds(int32_t minimum, int32_t maximum)
{
    if (const char* message = CheckMinimum(minimum))
        return message;
    if (const char* message = CheckMaximum(maximum))
        return message;
    return CheckBoundOrder(minimum, maximum);
}
