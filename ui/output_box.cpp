// How a text reaches the output box. Everywhere in one call, except under Wine. Wine's edit
// control lays out each wrapped line by analysing the whole rest of its paragraph, so a long
// text without line feeds takes it minutes; and it guesses where a line ends from that
// paragraph's average width, then breaks short of the box's edge or, where no space offers a
// break, past it. Under Wine the box therefore gets a word-break procedure that puts every
// line's end where the next word no longer fits, and a long text is appended piece by piece,
// so that each layout sees little more than the lines it changes.
#include "main_dialog.h"

#include "resource.h"

#include <usp10.h>

#include <algorithm>
#include <cstring>

namespace {

// Each append lays out the line before it and the piece's own lines, each with the rest of
// the piece: 256 characters came out fastest under Wine 8, 128 and 512 close, 64 slower.
constexpr std::size_t PieceSize = 256;

// Far more characters than a line of the box holds, and few enough to be measured in one go:
// Wine analyses a string of at most 254 runs, and a run may be one character.
constexpr int MaxLine = 250;

bool RunningOnWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Text the break procedure can serve: one byte a character in the ANSI code page, so that the
// box's text and the copies the procedure is given index alike, and no control character but
// tabs. (Text with line feeds is laid out quickly by the box alone.)
bool Breakable(const char* text, std::size_t length)
{
    CPINFO codePage = {};
    return GetCPInfo(CP_ACP, &codePage) && codePage.MaxCharSize == 1 &&
           std::all_of(text, text + length, [](char c) { return static_cast<unsigned char>(c) >= ' ' || c == '\t'; });
}

// A word-break procedure is given no window: what it knows of the output box it serves.
struct {
    HWND box;
    bool filling;  // Quorvel is putting a text in: every WB_LEFT comes from laying it out
    int end;       // where it ended the last line it was asked to end
} breaking;

// The first n characters of s as the box holds them.
void Widen(const char* s, int n, WCHAR* wide)
{
    MultiByteToWideChar(CP_ACP, 0, s, n, wide, n);
}

// Where the system lets a line break (before s[i] where fSoftBreak) and where it sees white
// space, for the first n characters of s, n <= MaxLine + 1.
bool Analyse(const char* s, int n, SCRIPT_LOGATTR* attributes)
{
    WCHAR wide[MaxLine + 1];
    Widen(s, n, wide);
    SCRIPT_ANALYSIS analysis = {};
    return n > 0 && SUCCEEDED(ScriptBreak(wide, n, &analysis, attributes));
}

// How many of the first n characters of s fit across the box's formatting rectangle, measured
// as the box measures a line: tabs stop every eight average character widths.
int Fitting(const char* s, int n)
{
    RECT format = {};
    SendMessageA(breaking.box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    const HDC dc = GetDC(breaking.box);
    const HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(breaking.box, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    WCHAR wide[MaxLine];
    Widen(s, n, wide);
    SCRIPT_TABDEF tabs = {0, 0, nullptr, 0};
    SCRIPT_STRING_ANALYSIS line = nullptr;
    int fit = n, widths[MaxLine];
    if (SUCCEEDED(ScriptStringAnalyse(dc, wide, n, n * 3 / 2 + 16, -1, SSA_LINK | SSA_FALLBACK | SSA_GLYPHS | SSA_TAB,
                                      -1, nullptr, nullptr, nullptr, &tabs, nullptr, &line)) &&
        SUCCEEDED(ScriptStringGetLogicalWidths(line, widths)))
        for (int i = 0, x = 0; i < n; ++i)
            if ((x += widths[i]) > format.right - format.left) {
                fit = i;
                break;
            }
    ScriptStringFree(&line);
    if (previous)
        SelectObject(dc, previous);
    ReleaseDC(breaking.box, dc);
    return fit;
}

// The end of a line that starts at s and does not fit: after the last break opportunity,
// at most limit characters in, or after limit characters where none is; at least one.
int LineEnd(const char* s, int limit)
{
    SCRIPT_LOGATTR attributes[MaxLine + 1];
    if (limit < 1 || !Analyse(s, limit + 1, attributes))
        return std::max(limit, 1);
    for (int end = limit; end > 0; --end)
        if (attributes[end].fSoftBreak)
            return end;
    return limit;
}

// The box calls this for two things. Laying out a line, it asks for the break left of its
// guess with the whole rest of the paragraph, which then does not fit; the answer is the
// line's true end, whatever the guess. Should the box still find that line too wide, it asks
// again, and gets the end before. Moving by words or selecting one, it asks about a line as
// laid out, which fits; the answer is the box's own, from the same break opportunities.
int CALLBACK BreakLines(LPSTR s, int index, int count, int action)
{
    const int n = std::min(count, MaxLine);
    if (action == WB_LEFT && n > 0) {
        // Asked again about the line just ended, one character short of that end: the box
        // measured it wider than itself. (Its first question about a line is at least two
        // characters short of the rest of the paragraph.)
        if (count == breaking.end && index == count - 1)
            return breaking.end = index > 0 ? LineEnd(s, index) : 0;
        // Most lines end within their first 100 characters: measure more only where needed.
        int fit = Fitting(s, std::min(n, 100));
        if (fit == 100 && n > fit)
            fit = Fitting(s, n);
        if (breaking.filling || fit < count)
            return breaking.end = LineEnd(s, std::min(fit, count - 1));
    }
    breaking.end = 0;
    SCRIPT_LOGATTR attributes[MaxLine + 1];
    index = std::clamp(index, 0, n);
    switch (action) {
    case WB_LEFT:
        if (index > 0 && Analyse(s, index, attributes))
            for (--index; index > 0 && !attributes[index].fSoftBreak; --index) {
            }
        return index;
    case WB_RIGHT:
        if (Analyse(s, n, attributes))
            while (index < n && !attributes[index].fSoftBreak)
                ++index;
        return index;
    case WB_ISDELIMITER:
        return index < n && Analyse(s, index + 1, attributes) && attributes[index].fWhiteSpace;
    default:
        return 0;
    }
}

void AppendInPieces(HWND box, const char* text, std::size_t length)
{
    // EM_REPLACESEL keeps to the text limit, which one WM_SETTEXT ignores.
    const LRESULT limit = SendMessageA(box, EM_GETLIMITTEXT, 0, 0);
    SendMessageA(box, EM_SETLIMITTEXT, 0, 0);
    char piece[PieceSize + 1];
    for (std::size_t at = 0; at < length; at += PieceSize) {
        const std::size_t n = std::min(length - at, PieceSize);
        std::memcpy(piece, text + at, n);
        piece[n] = '\0';
        SendMessageA(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece));
    }
    // Leave the box as one WM_SETTEXT would: caret and view at the start, nothing changed
    // by the user. (Nothing to undo: the pieces went in as changes that cannot be undone.)
    SendMessageA(box, EM_SETLIMITTEXT, static_cast<WPARAM>(limit), 0);
    SendMessageA(box, EM_SETSEL, 0, 0);
    SendMessageA(box, EM_SETMODIFY, FALSE, 0);
}

}  // namespace

void ShowOutput(HWND dialog, const char* text)
{
    // Hidden while it takes the text, the box neither scrolls nor repaints on the way.
    const HWND box = GetDlgItem(dialog, IDC_OUTPUT);
    ShowWindow(box, SW_HIDE);
    const std::size_t length = std::strlen(text);
    if (RunningOnWine()) {
        // Changing the procedure lays the whole text out again: do it while the box is empty.
        const bool breakable = Breakable(text, length);
        SetWindowTextA(box, "");
        SendMessageA(box, EM_SETWORDBREAKPROC, 0, breakable ? reinterpret_cast<LPARAM>(BreakLines) : 0);
        breaking = {box, breakable, 0};
        if (breakable && length > PieceSize)
            AppendInPieces(box, text, length);
        else
            SetWindowTextA(box, text);
        breaking = {box, false, 0};
    } else {
        SetWindowTextA(box, text);
    }
    ShowWindow(box, SW_SHOW);
}
