#include "line_map.h"

#include <algorithm>
#include <cstring>

std::size_t BoxToText(const LineStarts& starts, std::size_t boxIndex)
{
    // The line feed before line k + 1 stands at box index starts[k] + k.
    std::size_t low = 0, high = starts.size();
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (starts[middle] + middle < boxIndex)
            low = middle + 1;
        else
            high = middle;
    }
    return boxIndex - low;
}

std::size_t TextToBox(const LineStarts& starts, std::size_t textIndex)
{
    return textIndex + static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), textIndex) - starts.begin());
}

void InsertLineFeeds(const char* text, std::size_t length, const LineStarts& starts, char* out)
{
    std::size_t from = 0;
    for (const std::uint32_t start : starts) {
        std::memcpy(out, text + from, start - from);
        out += start - from;
        *out++ = '\n';
        from = start;
    }
    std::memcpy(out, text + from, length - from);
    out[length - from] = '\0';
}

std::size_t CopyText(const char* boxText, std::size_t boxLength, const LineStarts& starts, std::size_t from,
                     std::size_t room, char* out)
{
    if (room == 0)
        return 0;
    const std::size_t length = boxLength - std::min(boxLength, starts.size());
    std::size_t k = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), from) - starts.begin());
    std::size_t n = 0;
    for (std::size_t at = std::min(from, length); at < length && n + 1 < room;) {
        const std::size_t lineEnd = k < starts.size() ? std::min<std::size_t>(starts[k], length) : length;
        const std::size_t take = std::min(lineEnd - at, room - 1 - n);
        std::memcpy(out + n, boxText + at + k, take);
        n += take;
        at += take;
        if (at == lineEnd)
            ++k;
    }
    out[n] = '\0';
    return n;
}

std::size_t Rebuild16(std::size_t base, unsigned low)
{
    return base + ((low - base) & 0xFFFFu);
}
