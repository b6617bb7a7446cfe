// The output box's text against the text itself, where Quorvel ended the lines: the box holds
// a line feed before each line but the first, and whatever reads the box is answered for the
// text itself. Portable. `starts` holds each line's start after the first, in text indices,
// rising, as WrapLines gives them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using LineStarts = std::vector<std::uint32_t>;

// A box index as a text index: less the line feeds before it. The line feed itself maps to
// the start of the line after it.
std::size_t BoxToText(const LineStarts& starts, std::size_t boxIndex);
// A text index as a box index; at a line's start, after the line feed before it.
std::size_t TextToBox(const LineStarts& starts, std::size_t textIndex);

// The box's text: the text with a line feed before each start, and a zero byte. `out` holds
// length + starts.size() + 1 bytes.
void InsertLineFeeds(const char* text, std::size_t length, const LineStarts& starts, char* out);

// Up to room - 1 characters of the text itself from text index `from`, read from the box's
// text (`boxLength` characters), then a zero byte; how many characters. Nothing for room 0.
std::size_t CopyText(const char* boxText, std::size_t boxLength, const LineStarts& starts, std::size_t from,
                     std::size_t room, char* out);

// The box answers some questions in 16 bits: the full value whose low 16 bits are `low`, at
// or after `base`, where it is known to lie less than 65536 past it.
std::size_t Rebuild16(std::size_t base, unsigned low);
