// How the output box measures and breaks a line under Wine, asked of the system with the box's
// own font, formatting rectangle and tab stops (Uniscribe, as Wine's edit control lays out).
// What can fail returns ERROR_SUCCESS or the code it failed with.
#pragma once

#include "line_wrap.h"

#include <windows.h>
#include <usp10.h>

#include <cstddef>
#include <vector>

// Far more characters than a line of the box holds, and few enough to be measured in one go:
// Wine analyses a string of at most 254 runs, and a run may be one character.
inline constexpr int MaxMeasured = 250;

// The box's device context with its font, and its width.
struct BoxMeasure {
    HWND box = nullptr;
    HDC dc = nullptr;
    HGDIOBJ previousFont = nullptr;
    HFONT font = nullptr;
    int width = 0;
    SCRIPT_TABDEF tabs = {0, 0, nullptr, 0};
};

// Exported by gdi32 and declared in no header: the average character width the edit control
// scales its tab stops by.
extern "C" LONG WINAPI GdiGetCharDimensions(HDC dc, TEXTMETRICW* metrics, LONG* height);

DWORD OpenMeasure(HWND box, BoxMeasure* measure);
void CloseMeasure(BoxMeasure* measure);

// Each character's advance in the box, and how far, at most, the box measures a line otherwise
// than as their sum (`deviation`, in pixels, found on the text's first lines; 0 where it measures
// them as the sum).
DWORD MeasureAdvances(BoxMeasure& measure, const char* text, std::size_t length, CharAdvances* advances,
                      int* deviation);

// How many of up to MaxMeasured characters of s fit across the box as one line, from a guess:
// two lines measured for a good guess.
std::size_t FittingFrom(BoxMeasure& measure, const char* s, std::size_t n, std::size_t guess);
// How many of the first n characters of s fit, by their widths (measured MaxMeasured at a
// time); -1 where the system cannot tell.
int FittingCount(BoxMeasure& measure, const char* s, int n);

// Where the system lets each line break: before text[i] where soft[i].
DWORD FindBreaks(const char* text, std::size_t length, std::vector<bool>* soft);

// For the first n characters of s (n <= MaxMeasured + 1): where a line may break and where
// white space stands.
bool AnalyseBreaks(const char* s, int n, SCRIPT_LOGATTR* attributes);
// The end of a line from s that does not fit in `limit` characters: after its last break
// opportunity within them (and within MaxMeasured of `limit`), else after `limit`; at least one.
int LineEnd(const char* s, int limit);
