#include "word_breaks.h"

#include "box_measure.h"

#include <algorithm>
#include <vector>

namespace {

// More characters than any line that fits the box holds.
constexpr int LongestLine = 4 * static_cast<int>(MaxLineChars);

// The system gives a word-break procedure no window: it serves the one box of the process
// whose lines Quorvel ends.
struct {
    HWND box;
    int lastEnd;  // where the last line it was asked to end was ended
} g_breaks;

}  // namespace

void ServeWordBreaks(HWND box)
{
    g_breaks.box = box;
    g_breaks.lastEnd = 0;
}

// The box calls this for two things. Laying out a line too wide for it (which with the lines
// Quorvel ends happens only where the font measures a line otherwise than its characters),
// it asks for the break left of its guess with the whole rest of the paragraph; the answer is
// the line's true end, whatever the guess. Should the box still find that line too wide, it
// asks again, and gets the end before. Moving by words or selecting one, it asks about a line
// as laid out, which fits; the answer is the box's own, from the same break opportunities.
int CALLBACK BreakLines(LPSTR s, int index, int count, int action)
{
    if (action == WB_LEFT && count > 0) {
        // Asked again about the line just ended, one character short of that end: the box
        // measured it wider than itself. (Its first question about a line is at least two
        // characters short of the rest of the paragraph.)
        if (count == g_breaks.lastEnd && index == count - 1)
            return g_breaks.lastEnd = index > 0 ? LineEnd(s, index) : 0;
        BoxMeasure measure;
        int fit = count;  // where it cannot be measured, the line fits
        if (OpenMeasure(g_breaks.box, &measure) == ERROR_SUCCESS) {
            // Most lines end within their first 100 characters: measure more only where needed.
            fit = FittingCount(measure, s, std::min(count, 100));
            if (fit == 100 && count > fit)
                fit = FittingCount(measure, s, count);
        }
        CloseMeasure(&measure);
        if (fit >= 0 && fit < count)
            return g_breaks.lastEnd = LineEnd(s, std::min(fit, count - 1));
    }
    g_breaks.lastEnd = 0;
    // The break opportunities of the whole line, which fits the box.
    const int n = std::min(count, LongestLine);
    index = std::clamp(index, 0, n);
    std::vector<bool> soft;
    SCRIPT_LOGATTR attributes[1];
    switch (action) {
    case WB_LEFT:
        if (index > 0 && FindBreaks(s, static_cast<std::size_t>(n), &soft) == ERROR_SUCCESS)
            for (--index; index > 0 && !soft[static_cast<std::size_t>(index)]; --index) {
            }
        return index;
    case WB_RIGHT:
        if (FindBreaks(s, static_cast<std::size_t>(n), &soft) == ERROR_SUCCESS)
            while (index < n && !soft[static_cast<std::size_t>(index)])
                ++index;
        return index;
    case WB_ISDELIMITER:
        return index < n && AnalyseBreaks(s + index, 1, attributes) && attributes[0].fWhiteSpace;
    default:
        return 0;
    }
}
