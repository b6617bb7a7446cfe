#include "box_measure.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

// The first n characters of s as the box holds them: one UTF-16 unit a byte, as the text
// Quorvel ends lines for is.
void Widen(const char* s, int n, WCHAR* wide)
{
    MultiByteToWideChar(CP_ACP, 0, s, n, wide, n);
}

// The widths the box gives each of the first n characters of s (n <= MaxMeasured), or, where
// widths is null, their width as one line, which is what the box compares with its own.
bool Widths(BoxMeasure& measure, const char* s, int n, int* widths, int* lineWidth = nullptr)
{
    WCHAR wide[MaxMeasured];
    Widen(s, n, wide);
    SCRIPT_STRING_ANALYSIS line = nullptr;
    HRESULT result = n > 0 ? ScriptStringAnalyse(measure.dc, wide, n, n * 3 / 2 + 16, -1,
                                                 SSA_LINK | SSA_FALLBACK | SSA_GLYPHS | SSA_TAB, -1, nullptr, nullptr,
                                                 nullptr, &measure.tabs, nullptr, &line)
                             : E_INVALIDARG;
    if (SUCCEEDED(result) && widths)
        result = ScriptStringGetLogicalWidths(line, widths);
    if (SUCCEEDED(result) && lineWidth)
        *lineWidth = ScriptString_pSize(line)->cx;
    ScriptStringFree(&line);
    return SUCCEEDED(result);
}

// The width of the first n characters of s as one line in the box; -1 where the system
// cannot tell.
int LineWidth(BoxMeasure& measure, const char* s, int n)
{
    int width = -1;
    return n == 0 ? 0 : Widths(measure, s, n, nullptr, &width) ? width : -1;
}

}  // namespace

DWORD OpenMeasure(HWND box, BoxMeasure* measure)
{
    RECT format = {};
    SendMessageA(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    measure->box = box;
    measure->width = format.right - format.left;
    measure->font = reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0));
    measure->dc = GetDC(box);
    if (!measure->dc)
        return ERROR_DC_NOT_FOUND;  // GetDC gives no reason of its own
    measure->previousFont = measure->font ? SelectObject(measure->dc, measure->font) : nullptr;
    measure->tabs.iScale = GdiGetCharDimensions(measure->dc, nullptr, nullptr);
    return ERROR_SUCCESS;
}

void CloseMeasure(BoxMeasure* measure)
{
    if (measure->previousFont)
        SelectObject(measure->dc, measure->previousFont);
    if (measure->dc)
        ReleaseDC(measure->box, measure->dc);
    measure->dc = nullptr;
}

DWORD MeasureAdvances(BoxMeasure& measure, const char* text, std::size_t length, CharAdvances* advances,
                      int* deviation)
{
    *deviation = 0;
    bool present[256] = {};
    for (std::size_t i = 0; i < length; ++i)
        present[static_cast<unsigned char>(text[i])] = true;
    for (int c = 0; c < 256; ++c) {
        const char one = static_cast<char>(c);
        advances->of[c] = present[c] && c != '\t' ? LineWidth(measure, &one, 1) : 0;
        if (advances->of[c] < 0)
            return ERROR_INVALID_DATA;  // Uniscribe could not lay out a character of the text
    }
    TEXTMETRICA metrics = {};
    const int unit = measure.tabs.iScale > 0 ? measure.tabs.iScale
                                             : (GetTextMetricsA(measure.dc, &metrics), metrics.tmAveCharWidth);
    advances->tabStop = std::max(8 * unit, 1);
    // Lines at the start of the text, and each with the character after it, as the box measures
    // them: a font that kerns a pair or shapes in context does not measure them as the sum.
    for (std::size_t at = 0, lines = 0; at < length && lines < 20; ++lines) {
        int n = 0, x = 0;
        const auto advance = [&](int i) { return AdvanceAt(*advances, static_cast<unsigned char>(text[at + i]), x); };
        while (at + n < length && n < MaxMeasured && x + advance(n) <= measure.width)
            x += advance(n++);
        const int next = at + n < length && n < MaxMeasured ? advance(n) : 0;
        const int line = LineWidth(measure, text + at, n), longer = next > 0 ? LineWidth(measure, text + at, n + 1) : 0;
        if (line < 0 || longer < 0)
            return ERROR_INVALID_DATA;
        *deviation = std::max({*deviation, std::abs(line - x), next > 0 ? std::abs(longer - x - next) : 0});
        at += std::max(n, 1);
    }
    return ERROR_SUCCESS;
}

std::size_t FittingFrom(BoxMeasure& measure, const char* s, std::size_t n, std::size_t guess)
{
    const int most = static_cast<int>(std::min<std::size_t>(n, MaxMeasured));
    const auto fits = [&](int count) {
        const int width = LineWidth(measure, s, count);
        return width >= 0 && width <= measure.width;
    };
    int fit = static_cast<int>(std::min<std::size_t>(guess, most));
    while (fit > 0 && !fits(fit))
        --fit;
    while (fit < most && fits(fit + 1))
        ++fit;
    return static_cast<std::size_t>(fit);
}

int FittingCount(BoxMeasure& measure, const char* s, int n)
{
    int widths[MaxMeasured];
    for (int done = 0, x = 0; done < n; done += MaxMeasured) {
        const int part = std::min(n - done, MaxMeasured);
        if (!Widths(measure, s + done, part, widths))
            return -1;
        for (int i = 0; i < part; ++i)
            if ((x += widths[i]) > measure.width)
                return done + i;
    }
    return n;
}

DWORD FindBreaks(const char* text, std::size_t length, std::vector<bool>* soft)
{
    // In pieces, each analysed with enough of its neighbours for every rule that looks beyond a pair.
    constexpr std::size_t Piece = 4096, Context = 64;
    try {
        soft->assign(length + 1, false);
        std::vector<WCHAR> wide(Piece + 2 * Context);
        std::vector<SCRIPT_LOGATTR> attributes(wide.size());
        for (std::size_t piece = 0; piece < length; piece += Piece) {
            const std::size_t from = piece > Context ? piece - Context : 0;
            const std::size_t to = std::min(length, piece + Piece + Context), end = std::min(length, piece + Piece);
            const int n = static_cast<int>(to - from);
            Widen(text + from, n, wide.data());
            SCRIPT_ANALYSIS analysis = {};
            if (const HRESULT result = ScriptBreak(wide.data(), n, &analysis, attributes.data()); FAILED(result))
                return static_cast<DWORD>(result);
            for (std::size_t i = piece; i < end; ++i)
                (*soft)[i] = attributes[i - from].fSoftBreak;
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

bool AnalyseBreaks(const char* s, int n, SCRIPT_LOGATTR* attributes)
{
    WCHAR wide[MaxMeasured + 1];
    Widen(s, n, wide);
    SCRIPT_ANALYSIS analysis = {};
    return n > 0 && SUCCEEDED(ScriptBreak(wide, n, &analysis, attributes));
}

int LineEnd(const char* s, int limit)
{
    const int from = std::max(limit - MaxMeasured, 0);  // the opportunities within one measure of the limit
    SCRIPT_LOGATTR attributes[MaxMeasured + 1];
    if (limit < 1 || !AnalyseBreaks(s + from, limit - from + 1, attributes))
        return std::max(limit, 1);
    for (int end = limit; end > from; --end)
        if (attributes[end - from].fSoftBreak)
            return end;
    return limit;
}
