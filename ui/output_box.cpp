// How a text reaches the output box. On Windows in one call. Wine's edit control lays out
// each wrapped line by analysing the whole rest of its paragraph (with bidi levels that cost
// the square of its length where it holds only digits), so a long text without line feeds
// takes it hours, and it guesses each line's end from that paragraph's average width, then
// breaks short of the box's edge or, where no space offers a break, past it; a text given in
// pieces still costs a scan of all the box holds for every piece. Under Wine Quorvel
// therefore ends the lines itself, where the next word no longer fits, or after the last
// character that fits where no word ends, and gives the box the text in one call with a
// line feed after each line: every line is then a paragraph of its own, laid out once. The
// box's procedure is subclassed so that whatever reads the box (its text and length,
// character indices, the selection, copying) sees the text itself: the line feeds Quorvel
// put in show nowhere.
#include "main_dialog.h"

#include "resource.h"

#include <usp10.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

extern "C" LONG WINAPI GdiGetCharDimensions(HDC, TEXTMETRICW*, LONG*);  // exported by gdi32, declared nowhere

namespace {

// Far more characters than a line of the box holds, and few enough to be measured in one go:
// Wine analyses a string of at most 254 runs, and a run may be one character.
constexpr int MaxLine = 250;

// What Quorvel lets the box take under Wine, for the text and its layout together: half of
// what a 32-bit process has, in every build, so that both show the same runs.
constexpr std::size_t BoxBudget = std::size_t{1} << 30;
// What Wine's edit control keeps for each line, heap overhead included, at most.
constexpr std::size_t LineRecordBytes = 64;

bool RunningOnWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Text whose lines Quorvel ends itself: one byte a character in the ANSI code page, so that
// the box's text and the copies the break procedure is given index alike, and no control
// character but tabs. (Text with line feeds is laid out quickly by the box alone.)
bool Servable(const char* text, std::size_t length)
{
    CPINFO codePage = {};
    return GetCPInfo(CP_ACP, &codePage) && codePage.MaxCharSize == 1 &&
           std::all_of(text, text + length, [](char c) { return static_cast<unsigned char>(c) >= ' ' || c == '\t'; });
}

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

// How the box measures a line: with its font on its DC, against its formatting rectangle,
// tabs stopping every eight average character widths.
struct Measure {
    HWND box = nullptr;
    HDC dc = nullptr;
    HGDIOBJ previousFont = nullptr;
    HFONT font = nullptr;
    int width = 0;
    SCRIPT_TABDEF tabs = {0, 0, nullptr, 0};
};

bool OpenMeasure(HWND box, Measure* measure)
{
    RECT format = {};
    SendMessageA(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    measure->box = box;
    measure->width = format.right - format.left;
    measure->font = reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0));
    measure->dc = GetDC(box);
    if (!measure->dc)
        return false;
    measure->previousFont = measure->font ? SelectObject(measure->dc, measure->font) : nullptr;
    measure->tabs.iScale = GdiGetCharDimensions(measure->dc, nullptr, nullptr);
    return true;
}

void CloseMeasure(Measure* measure)
{
    if (measure->previousFont)
        SelectObject(measure->dc, measure->previousFont);
    if (measure->dc)
        ReleaseDC(measure->box, measure->dc);
    measure->dc = nullptr;
}

// The widths the box gives each of the first n characters of s (n <= MaxLine), or where
// widths is null, their width as one line, which the box compares with its own; false where
// the system cannot analyse them.
bool Widths(Measure& measure, const char* s, int n, int* widths, int* lineWidth = nullptr)
{
    WCHAR wide[MaxLine];
    Widen(s, n, wide);
    SCRIPT_STRING_ANALYSIS line = nullptr;
    bool ok = n > 0 && SUCCEEDED(ScriptStringAnalyse(measure.dc, wide, n, n * 3 / 2 + 16, -1,
                                                     SSA_LINK | SSA_FALLBACK | SSA_GLYPHS | SSA_TAB, -1, nullptr,
                                                     nullptr, nullptr, &measure.tabs, nullptr, &line));
    if (ok && widths)
        ok = SUCCEEDED(ScriptStringGetLogicalWidths(line, widths));
    if (ok && lineWidth)
        *lineWidth = ScriptString_pSize(line)->cx;
    ScriptStringFree(&line);
    return ok;
}

// The width of the first n characters of s as one line in the box; -1 where the system cannot
// tell.
int LineWidth(Measure& measure, const char* s, int n)
{
    int width = -1;
    return n == 0 ? 0 : Widths(measure, s, n, nullptr, &width) ? width : -1;
}

// How many of the first n characters of s fit across the box (n <= MaxLine), by their widths;
// -1 where the system cannot tell.
int FittingCount(Measure& measure, const char* s, int n)
{
    int widths[MaxLine];
    if (!Widths(measure, s, n, widths))
        return -1;
    for (int i = 0, x = 0; i < n; ++i)
        if ((x += widths[i]) > measure.width)
            return i;
    return n;
}

// How many of the first n characters of s fit across the box as one line, starting from a
// guess of `fit`: with a good guess, two lines measured.
int FittingFrom(Measure& measure, const char* s, int n, int fit)
{
    const auto fits = [&](int count) {
        const int width = LineWidth(measure, s, count);
        return width >= 0 && width <= measure.width;
    };
    while (fit > 0 && !fits(fit))
        --fit;
    while (fit < n && fits(fit + 1))
        ++fit;
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

// Each character's advance in the box, where it does not depend on its neighbours, and the
// distance between tab stops.
struct Advances {
    int of[256] = {};
    int tabStop = 1;
    bool exact = false;  // the box measures every line as the sum of these
};

int AdvanceAt(const Advances& advances, unsigned char c, int x)
{
    return c == '\t' ? advances.tabStop - x % advances.tabStop : advances.of[c];
}

// The advance of every character the text holds, then a check that the box measures lines
// at the start of the text as their sum, and the character after each as too wide: a font
// that kerns a pair or shapes in context does not.
void MeasureAdvances(Measure& measure, const char* text, std::size_t length, Advances* advances)
{
    bool present[256] = {};
    for (std::size_t i = 0; i < length; ++i)
        present[static_cast<unsigned char>(text[i])] = true;
    for (int c = 0; c < 256; ++c) {
        const char one = static_cast<char>(c);
        advances->of[c] = present[c] && c != '\t' ? LineWidth(measure, &one, 1) : 0;
        if (advances->of[c] < 0)
            return;
    }
    TEXTMETRICA metrics = {};
    const int unit = measure.tabs.iScale > 0 ? measure.tabs.iScale
                                             : (GetTextMetricsA(measure.dc, &metrics), metrics.tmAveCharWidth);
    advances->tabStop = std::max(8 * unit, 1);
    for (std::size_t at = 0, lines = 0; at < length && lines < 20; ++lines) {
        int n = 0, x = 0;
        while (at + n < length && n < MaxLine &&
               x + AdvanceAt(*advances, static_cast<unsigned char>(text[at + n]), x) <= measure.width)
            x += AdvanceAt(*advances, static_cast<unsigned char>(text[at + n++]), x);
        const int next = at + n < length && n < MaxLine ? AdvanceAt(*advances, static_cast<unsigned char>(text[at + n]), x) : 0;
        if (LineWidth(measure, text + at, n) != x || (next > 0 && LineWidth(measure, text + at, n + 1) != x + next))
            return;
        at += std::max(n, 1);
    }
    advances->exact = true;
}

// Where the system lets each line break: before text[i] where soft[i]. In pieces, each
// analysed with enough of its neighbours for every rule that looks beyond a pair.
bool FindBreaks(const char* text, std::size_t length, std::vector<bool>* soft)
{
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
            if (FAILED(ScriptBreak(wide.data(), n, &analysis, attributes.data())))
                return false;
            for (std::size_t i = piece; i < end; ++i)
                (*soft)[i] = attributes[i - from].fSoftBreak;
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

// Where each line after the first starts: the line before ends at its last break opportunity
// that fits, or after its last character that fits where none does, and holds at least one.
bool FindLineStarts(Measure& measure, const char* text, std::size_t length, std::vector<std::uint32_t>* starts)
{
    std::vector<bool> soft;
    if (!FindBreaks(text, length, &soft))
        return false;
    Advances advances;
    MeasureAdvances(measure, text, length, &advances);
    try {
        starts->clear();
        for (std::size_t from = 0;;) {
            std::size_t fit = from;  // the characters from `from` up to here fit
            int x = 0;
            while (fit < length && x + AdvanceAt(advances, static_cast<unsigned char>(text[fit]), x) <= measure.width)
                x += AdvanceAt(advances, static_cast<unsigned char>(text[fit++]), x);
            if (!advances.exact) {  // measured as the box measures, from the sum's guess
                const int rest = static_cast<int>(std::min<std::size_t>(length - from, MaxLine));
                fit = from + FittingFrom(measure, text + from, rest, std::min(static_cast<int>(fit - from), rest));
            }
            if (fit >= length)
                return true;
            std::size_t end = fit;
            while (end > from && !soft[end])
                --end;
            from = end > from ? end : std::max(fit, from + 1);
            starts->push_back(static_cast<std::uint32_t>(from));
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

// The output box under Wine: a word-break procedure is given no window, and the subclassed
// procedure answers for the text itself.
struct {
    HWND box;
    WNDPROC proc;                        // the edit control's own
    std::vector<std::uint32_t> starts;   // where each line but the first starts; empty: no line feed of ours
    int width;                           // the formatting width and font the lines were ended for
    HFONT font;
    int lastEnd;                         // where the break procedure ended the last line it was asked to end
} g_output;

LRESULT Forward(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(g_output.proc, g_output.box, message, wParam, lParam);
}

// A box index as an index into the text: less the line feeds Quorvel put in before it. The
// line feed before line k + 1 stands at box index starts[k] + k.
std::size_t ToText(std::size_t boxIndex)
{
    const std::vector<std::uint32_t>& starts = g_output.starts;
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

// A text index as a box index; where a line ends and the next starts, the start of the next,
// as the box has it at a line it wrapped.
std::size_t ToBox(std::size_t textIndex)
{
    const std::vector<std::uint32_t>& starts = g_output.starts;
    return textIndex + static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), textIndex) - starts.begin());
}

// Where an index goes in: -1 (and the like) means something of its own to the box.
WPARAM IndexToBox(WPARAM index)
{
    return static_cast<int>(index) < 0 ? index : static_cast<WPARAM>(ToBox(index));
}

// The text itself into out: at most room - 1 characters, and a zero byte; how many.
std::size_t GetText(std::size_t room, char* out)
{
    if (room == 0 || !out)
        return 0;
    const std::size_t boxLength = static_cast<std::size_t>(Forward(WM_GETTEXTLENGTH, 0, 0));
    std::unique_ptr<char[]> all(new (std::nothrow) char[boxLength + 1]);
    if (!all) {
        *out = '\0';
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const std::size_t got = static_cast<std::size_t>(Forward(WM_GETTEXT, boxLength + 1, reinterpret_cast<LPARAM>(all.get())));
    std::size_t n = 0, from = 0;
    for (std::size_t k = 0; from < got && n + 1 < room; ++k) {
        const std::size_t feed = k < g_output.starts.size() ? std::min<std::size_t>(g_output.starts[k] + k, got) : got;
        const std::size_t take = std::min(feed - from, room - 1 - n);
        std::memcpy(out + n, all.get() + from, take);
        n += take;
        from = feed + 1;
    }
    out[n] = '\0';
    return n;
}

std::size_t TextLength()
{
    return static_cast<std::size_t>(Forward(WM_GETTEXTLENGTH, 0, 0)) - g_output.starts.size();
}

// The text of the box's selection onto the clipboard, as the box itself copies it.
void CopySelection()
{
    DWORD start = 0, end = 0;
    Forward(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const std::size_t from = ToText(start), to = ToText(end);
    if (from >= to)
        return;
    std::unique_ptr<char[]> text(new (std::nothrow) char[to + 1]);
    const HGLOBAL block = text ? GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, to - from + 1) : nullptr;
    char* copy = block ? static_cast<char*>(GlobalLock(block)) : nullptr;
    if (!copy) {
        GlobalFree(block);
        return;
    }
    GetText(to + 1, text.get());
    std::memcpy(copy, text.get() + from, to - from);
    copy[to - from] = '\0';
    GlobalUnlock(block);
    if (!OpenClipboard(g_output.box)) {
        GlobalFree(block);
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_TEXT, block))
        GlobalFree(block);
    CloseClipboard();
}

// The text itself, without Quorvel's line feeds, in a buffer of its own; null where memory
// ran out.
std::unique_ptr<char[]> WholeText(std::size_t* length)
{
    *length = TextLength();
    std::unique_ptr<char[]> text(new (std::nothrow) char[*length + 1]);
    if (text)
        GetText(*length + 1, text.get());
    return text;
}

// The box given a text as it is, in one piece, by rules that are no longer Quorvel's.
void GivePlain(const char* text)
{
    g_output.starts.clear();
    Forward(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

// The box given the text itself before a message that would change it or lay it out by rules
// Quorvel does not follow. Slow for a long text, and never asked by Quorvel.
void Reveal()
{
    std::size_t length = 0;
    if (const std::unique_ptr<char[]> text = WholeText(&length))
        GivePlain(text.get());
}

bool FillWithLineEnds(HWND box, const char* text, std::size_t length);

// The lines ended anew where the box's width or font has changed; the text as it is where
// that cannot be done.
void Rewrap()
{
    Measure measure;
    const bool changed = OpenMeasure(g_output.box, &measure) &&
                         (measure.width != g_output.width || measure.font != g_output.font);
    CloseMeasure(&measure);
    std::size_t length = 0;
    const std::unique_ptr<char[]> text = changed ? WholeText(&length) : nullptr;
    if (text && !FillWithLineEnds(g_output.box, text.get(), length))
        GivePlain(text.get());
}

LRESULT OnGetSel(WPARAM startOut, LPARAM endOut)
{
    DWORD start = 0, end = 0;
    Forward(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    start = static_cast<DWORD>(ToText(start));
    end = static_cast<DWORD>(ToText(end));
    if (startOut)
        *reinterpret_cast<DWORD*>(startOut) = start;
    if (endOut)
        *reinterpret_cast<DWORD*>(endOut) = end;
    return MAKELRESULT(start, end);
}

// The character nearest a point, and its line. The box answers in 16 bits each: where its
// text or lines go further, the line is the visible one those bits name, and the character
// the one in that line.
LRESULT OnCharFromPos(LPARAM point)
{
    const LRESULT found = Forward(EM_CHARFROMPOS, 0, point);
    if (found == -1)
        return found;
    std::size_t line = HIWORD(found), index = LOWORD(found);
    if (Forward(EM_GETLINECOUNT, 0, 0) > 0xFFFF || Forward(WM_GETTEXTLENGTH, 0, 0) > 0xFFFF) {
        const std::size_t first = static_cast<std::size_t>(Forward(EM_GETFIRSTVISIBLELINE, 0, 0));
        line = first + ((line - first) & 0xFFFF);
        const std::size_t start = static_cast<std::size_t>(Forward(EM_LINEINDEX, line, 0));
        index = start + ((index - start) & 0xFFFF);
    }
    return MAKELRESULT(ToText(index), line);
}

LRESULT CALLBACK OutputBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (g_output.starts.empty() && message != WM_NCDESTROY)
        return CallWindowProcA(g_output.proc, box, message, wParam, lParam);
    switch (message) {
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(TextLength());
    case WM_GETTEXT:
        return static_cast<LRESULT>(GetText(wParam, reinterpret_cast<char*>(lParam)));
    case EM_GETSEL:
        return OnGetSel(wParam, lParam);
    case EM_SETSEL:
        return Forward(message, IndexToBox(wParam), static_cast<LPARAM>(IndexToBox(static_cast<WPARAM>(lParam))));
    case EM_LINEINDEX: {
        const LRESULT index = Forward(message, wParam, lParam);
        return index < 0 ? index : static_cast<LRESULT>(ToText(static_cast<std::size_t>(index)));
    }
    case EM_LINEFROMCHAR:
    case EM_LINELENGTH:
    case EM_POSFROMCHAR:
        return Forward(message, IndexToBox(wParam), lParam);
    case EM_CHARFROMPOS:
        return OnCharFromPos(lParam);
    case WM_COPY:
    case WM_CUT:  // the box is read-only: a cut copies
        CopySelection();
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_INSERT && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_SHIFT) >= 0) {
            CopySelection();  // the box would copy its own text here, not by message
            return 0;
        }
        return Forward(message, wParam, lParam);
    case WM_SETTEXT:
        g_output.starts.clear();
        return Forward(message, wParam, lParam);
    case EM_REPLACESEL:
    case EM_SETHANDLE:
    case EM_GETHANDLE:
    case EM_SETREADONLY:
    case EM_SETTABSTOPS:
        Reveal();
        return Forward(message, wParam, lParam);
    case WM_SIZE:
    case WM_SETFONT:
    case EM_SETRECT:
    case EM_SETRECTNP:
    case EM_SETMARGINS: {
        const LRESULT result = Forward(message, wParam, lParam);
        Rewrap();
        return result;
    }
    case WM_NCDESTROY: {
        g_output.starts.clear();
        SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_output.proc));
        const LRESULT result = CallWindowProcA(g_output.proc, box, message, wParam, lParam);
        g_output.box = nullptr;
        return result;
    }
    default:
        return Forward(message, wParam, lParam);
    }
}

// The box calls this for two things. Laying out a line too wide for it (which with the lines
// Quorvel ends happens only where the font measures a line otherwise than its characters),
// it asks for the break left of its guess with the whole rest of the paragraph; the answer is
// the line's true end, whatever the guess. Should the box still find that line too wide, it
// asks again, and gets the end before. Moving by words or selecting one, it asks about a line
// as laid out, which fits; the answer is the box's own, from the same break opportunities.
int CALLBACK BreakLines(LPSTR s, int index, int count, int action)
{
    const int n = std::min(count, MaxLine);
    if (action == WB_LEFT && n > 0) {
        // Asked again about the line just ended, one character short of that end: the box
        // measured it wider than itself. (Its first question about a line is at least two
        // characters short of the rest of the paragraph.)
        if (count == g_output.lastEnd && index == count - 1)
            return g_output.lastEnd = index > 0 ? LineEnd(s, index) : 0;
        Measure measure;
        int fit = n;
        if (OpenMeasure(g_output.box, &measure)) {
            // Most lines end within their first 100 characters: measure more only where needed.
            fit = FittingCount(measure, s, std::min(n, 100));
            if (fit == 100 && n > fit)
                fit = FittingCount(measure, s, n);
        }
        CloseMeasure(&measure);
        if (fit >= 0 && fit < count)
            return g_output.lastEnd = LineEnd(s, std::min(fit, count - 1));
    }
    g_output.lastEnd = 0;
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

// Whether the box can take a text of `chars` characters in `lines` lines, `copy` bytes of it
// in a copy of Quorvel's: its UTF-16 copy for WM_SETTEXT and its own buffer, each in one
// piece, and a record a line, within the box's budget and what the system still has.
bool BoxCanTake(std::size_t chars, std::size_t lines, std::size_t copy)
{
    const std::size_t wide = 2 * (chars + 1);
    const std::size_t need = copy + 2 * wide + lines * LineRecordBytes;
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    bool fits = chars <= BoxBudget && lines <= BoxBudget / LineRecordBytes && need <= BoxBudget &&
                GlobalMemoryStatusEx(&memory) && need <= memory.ullAvailPhys && need <= memory.ullAvailVirtual;
    if (fits) {
        void* const first = VirtualAlloc(nullptr, wide, MEM_RESERVE, PAGE_NOACCESS);
        void* const second = first ? VirtualAlloc(nullptr, wide, MEM_RESERVE, PAGE_NOACCESS) : nullptr;
        fits = second != nullptr;
        for (void* block : {first, second})
            if (block)
                VirtualFree(block, 0, MEM_RELEASE);
    }
    if (!fits)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return fits;
}

// Under Wine: the lines ended by Quorvel, a line feed after each, in one call.
bool FillWithLineEnds(HWND box, const char* text, std::size_t length)
{
    SetWindowTextA(box, "");
    if (!BoxCanTake(length, 1, length))
        return false;
    Measure measure;
    std::vector<std::uint32_t> starts;
    const bool measured = OpenMeasure(box, &measure) && FindLineStarts(measure, text, length, &starts);
    CloseMeasure(&measure);
    if (!measured)
        return false;
    const std::size_t chars = length + starts.size();
    if (!BoxCanTake(chars, starts.size() + 1, chars + 1))
        return false;
    std::unique_ptr<char[]> lines(new (std::nothrow) char[chars + 1]);
    if (!lines) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    char* out = lines.get();
    std::size_t from = 0;
    for (const std::uint32_t start : starts) {
        out = std::copy(text + from, text + start, out);
        *out++ = '\n';
        from = start;
    }
    *std::copy(text + from, text + length, out) = '\0';
    SetWindowTextA(box, lines.get());
    // The box tells of running out of memory only to its parent, and keeps what it had.
    if (static_cast<std::size_t>(GetWindowTextLengthA(box)) != chars) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    g_output.starts = std::move(starts);
    g_output.width = measure.width;
    g_output.font = measure.font;
    return true;
}

// The edit control's own procedure stays behind Quorvel's, which answers for the text.
void Subclass(HWND box)
{
    if (g_output.box == box)
        return;
    g_output.box = box;
    g_output.starts.clear();
    g_output.proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OutputBoxProc)));
}

}  // namespace

bool ShowOutput(HWND dialog, const char* text, std::size_t length)
{
    const HWND box = GetDlgItem(dialog, IDC_OUTPUT);
    if (!RunningOnWine())
        return SetWindowTextA(box, text) != 0;
    Subclass(box);
    // Changing the procedure lays the whole text out again: do it while the box is empty.
    const bool servable = Servable(text, length);
    SetWindowTextA(box, "");
    SendMessageA(box, EM_SETWORDBREAKPROC, 0, servable ? reinterpret_cast<LPARAM>(BreakLines) : 0);
    g_output.lastEnd = 0;
    bool shown = false;
    if (servable) {
        shown = FillWithLineEnds(box, text, length);
    } else if (BoxCanTake(length, static_cast<std::size_t>(std::count(text, text + length, '\n')) + 1, 0)) {
        SetWindowTextA(box, text);
        shown = static_cast<std::size_t>(GetWindowTextLengthA(box)) == length;
        if (!shown)
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (!shown) {
        const DWORD error = GetLastError();
        SetWindowTextA(box, "");
        SetLastError(error);
    }
    return shown;
}
