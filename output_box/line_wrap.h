// Where the output box's lines end when Quorvel ends them: the last break opportunity that
// fits, else the last character that fits, and at least one character a line; never right
// after a carriage return where the line has more. Portable: the
// window side measures, this decides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// How the box measures a line, where it is the sum of its characters: each byte's advance,
// and tabs that stop every tabStop (> 0) from the line's start.
struct CharAdvances {
    int of[256] = {};
    int tabStop = 1;
};

int AdvanceAt(const CharAdvances& advances, unsigned char c, int x);

// No line Quorvel ends holds more characters than this, whatever the advances say: a measure
// gone wrong (advances of zero) costs lines that run past the box's edge, never a walk to the
// text's end for every line.
inline constexpr std::size_t MaxLineChars = 1024;

// Where a font does not measure a line as the sum of its characters: how many characters
// from `from` fit, given the sum's guess. Asked only about lines that end by the sum within
// `margin` pixels of the box's edge, on either side: a line that ends further off ends there by
// any measure that differs from the sum by less (kerning moves a line's end by a pixel or two).
struct FitRefiner {
    std::size_t (*fit)(void* context, std::size_t from, std::size_t guess);
    void* context;
    int margin;
};

// Each line's start after the first, rising, for a box `width` wide; soft[i] says a line may
// break before text[i] (soft holds length + 1 entries). refiner may be null. False, with
// errno ENOMEM, where memory ran out.
bool WrapLines(const char* text, std::size_t length, const std::vector<bool>& soft, const CharAdvances& advances,
               int width, const FitRefiner* refiner, std::vector<std::uint32_t>* starts);
