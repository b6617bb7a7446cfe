// How a text reaches the output box. On Windows in one call. Wine's edit control lays out each
// wrapped line by analysing the whole rest of its paragraph (with bidi levels that cost the square
// of its length where it holds only digits), so a long text without line feeds takes it hours,
// and it guesses each line's end from that paragraph's average width, then breaks short of the
// box's edge or, where no space offers a break, past it. Under Wine Quorvel therefore ends the
// lines itself (line_wrap) and gives the box the text in one call with a line feed before each
// line but the first: every line is then a paragraph of its own, laid out once. The box's
// procedure is subclassed so that whatever reads the box (its text and length, character
// indices, lines, the selection, copying) is answered for the text itself (line_map): the line
// feeds Quorvel put in show nowhere.
#include "output_box.h"

#include "box_measure.h"
#include "clipboard.h"
#include "line_map.h"
#include "line_wrap.h"
#include "word_breaks.h"

#include <commctrl.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

namespace {

// What Quorvel lets the box take under Wine, for the text and its layout together: half of
// what a 32-bit process has, in every build, so that both show the same runs.
constexpr std::size_t BoxBudget = std::size_t{1} << 30;
// What Wine's edit control keeps for each line, heap overhead included, at most.
constexpr std::size_t LineRecordBytes = 64;
constexpr UINT_PTR SubclassId = 1;
// Sent to the box for the state its subclass keeps: a box without the subclass answers 0.
constexpr UINT QueryBoxState = WM_APP + 0x3F01;

bool RunningOnWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// What Quorvel keeps for the box whose lines it ends under Wine: the data of the box's subclass,
// made with it and freed with the box.
struct BoxState {
    // Each line's start after the first, in indices of the text itself, rising. While it is
    // empty, the box holds the text as it is and answers every message alone.
    LineStarts starts;
    // While `starts` is not empty: exactly what the box holds, the text with a line feed before
    // each start, `shownLength` characters and a zero byte. The box is read-only meanwhile, so
    // nobody but Quorvel changes it.
    std::unique_ptr<char[]> shown;
    std::size_t shownLength = 0;
    // The width of the box's formatting rectangle, and its font, that the lines were ended for.
    int width = 0;
    HFONT font = nullptr;
    // True while Quorvel asks the box itself (AskBox): the box answers alone meanwhile.
    bool askingBox = false;
};

std::size_t TextLength(const BoxState& state)
{
    return state.shownLength - state.starts.size();
}

// Up to room - 1 characters of the text itself from text index `from`, and a zero byte.
std::size_t ReadText(const BoxState& state, std::size_t from, std::size_t room, char* out)
{
    return CopyText(state.shown.get(), state.shownLength, state.starts, from, room, out);
}

// The same into a UTF-16 buffer of `room` units. Each character of a text whose lines Quorvel
// ends is one byte and one unit (CanEndLines), so the counts are those of ANSI.
std::size_t ReadTextWide(const BoxState& state, std::size_t room, WCHAR* out)
{
    if (room == 0)
        return 0;
    std::size_t n = 0;
    for (char piece[1024]; n + 1 < room;) {
        const std::size_t read = ReadText(state, n, std::min(sizeof piece, room - n), piece);
        if (read == 0)
            break;
        MultiByteToWideChar(CP_ACP, 0, piece, static_cast<int>(read), out + n, static_cast<int>(read));
        n += read;
    }
    out[n] = L'\0';
    return n;
}

// What the box itself answers, in its own indices.
LRESULT AskBox(HWND box, BoxState& state, UINT message, WPARAM wParam, LPARAM lParam)
{
    const bool asking = state.askingBox;
    state.askingBox = true;
    const LRESULT result = SendMessageA(box, message, wParam, lParam);
    state.askingBox = asking;
    return result;
}

// The box given `text` (`boxLength` characters) in one call. The box tells of running out of
// memory only to its parent, and may then hold part of it.
DWORD SetBoxText(HWND box, BoxState& state, const char* text, std::size_t boxLength)
{
    AskBox(box, state, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    const bool whole = static_cast<std::size_t>(AskBox(box, state, WM_GETTEXTLENGTH, 0, 0)) == boxLength;
    return whole ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

// The box holds the text as it is from now on.
void ForgetLines(BoxState& state)
{
    state.starts.clear();
    state.shown.reset();
    state.shownLength = 0;
}

// The user's place, in text indices: the selection and the first line in view.
struct Place {
    std::size_t start = 0, end = 0, firstVisible = 0;
};

Place ReadPlace(HWND box, BoxState& state)
{
    DWORD start = 0, end = 0;
    AskBox(box, state, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const LRESULT first = AskBox(box, state, EM_LINEINDEX, AskBox(box, state, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    return Place{BoxToText(state.starts, start), BoxToText(state.starts, end),
                 BoxToText(state.starts, static_cast<std::size_t>(std::max<LRESULT>(first, 0)))};
}

void RestorePlace(HWND box, BoxState& state, const Place& place)
{
    AskBox(box, state, EM_SETSEL, TextToBox(state.starts, place.start), TextToBox(state.starts, place.end));
    const LRESULT line = AskBox(box, state, EM_LINEFROMCHAR, TextToBox(state.starts, place.firstVisible), 0);
    const LRESULT first = AskBox(box, state, EM_GETFIRSTVISIBLELINE, 0, 0);
    AskBox(box, state, EM_LINESCROLL, 0, line - first);
}

// Characters another program can read from the box in one WM_GETTEXT. Wine 10 copies such a
// read's whole buffer onto the stack of the thread that owns the window before the window sees
// the message, and where it does not fit there, writes past the stack and ends the process.
// Quorvel's stack is reserved large for it (see its link options); what its own frames may use
// of it at that moment is kept aside.
std::size_t ReadableWhole()
{
    constexpr std::size_t FramesInUse = std::size_t{4} << 20;
    // The stack is one reservation: its parts from its base up.
    MEMORY_BASIC_INFORMATION part = {};
    if (!VirtualQuery(&part, &part, sizeof part))
        return 0;
    const void* const base = part.AllocationBase;
    const char* end = static_cast<const char*>(base);
    while (VirtualQuery(end, &part, sizeof part) && part.AllocationBase == base)
        end = static_cast<const char*>(part.BaseAddress) + part.RegionSize;
    const std::size_t reserved = static_cast<std::size_t>(end - static_cast<const char*>(base));
    return reserved > FramesInUse ? (reserved - FramesInUse) / sizeof(WCHAR) : 0;
}

// Whether the box can take a text of `chars` characters in `lines` lines, `copy` bytes of it in
// a copy of Quorvel's: its UTF-16 copy for WM_SETTEXT and its own buffer, each in one piece, and
// a record a line, within the box's budget and what the system still has; and whether another
// program can then read all of it. ERROR_SUCCESS or ERROR_NOT_ENOUGH_MEMORY.
DWORD CheckBoxCanTake(std::size_t chars, std::size_t lines, std::size_t copy)
{
    const std::size_t wide = 2 * (chars + 1);
    const std::size_t need = copy + 2 * wide + lines * LineRecordBytes;
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    bool fits = chars < ReadableWhole() && chars <= BoxBudget && lines <= BoxBudget / LineRecordBytes &&
                need <= BoxBudget && GlobalMemoryStatusEx(&memory) && need <= memory.ullAvailPhys &&
                need <= memory.ullAvailVirtual;
    if (fits) {
        void* const first = VirtualAlloc(nullptr, wide, MEM_RESERVE, PAGE_NOACCESS);
        void* const second = first ? VirtualAlloc(nullptr, wide, MEM_RESERVE, PAGE_NOACCESS) : nullptr;
        fits = second != nullptr;
        for (void* block : {first, second})
            if (block)
                VirtualFree(block, 0, MEM_RELEASE);
    }
    return fits ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

// For fonts whose lines are not the sum of their characters: each line measured as the box
// measures it, from the sum's guess.
struct Refining {
    BoxMeasure* measure;
    const char* text;
    std::size_t length;
};
std::size_t RefineFit(void* context, std::size_t from, std::size_t guess)
{
    const Refining& r = *static_cast<Refining*>(context);
    return FittingFrom(*r.measure, r.text + from, r.length - from, guess);
}

// The lines of `text` as they end in the box as it is now: where each after the first starts,
// and the width and font that was for. A box narrower than a tab stop (eight average characters)
// gets lines as wide as one, running past its edge.
struct EndedLines {
    LineStarts starts;
    int width = 0;
    HFONT font = nullptr;
};

DWORD EndLines(HWND box, const char* text, std::size_t length, EndedLines* lines)
{
    BoxMeasure measure;
    CharAdvances advances;
    std::vector<bool> soft;
    int deviation = 0;
    DWORD error = OpenMeasure(box, &measure);
    if (error == ERROR_SUCCESS)
        error = FindBreaks(text, length, &soft);
    if (error == ERROR_SUCCESS)
        error = MeasureAdvances(measure, text, length, &advances, &deviation);
    if (error == ERROR_SUCCESS) {
        // Lines that end by the sum within a few times the deviation seen of the edge are measured;
        // should one further off still measure too wide, the box asks BreakLines for its end.
        Refining refining{&measure, text, length};
        const FitRefiner refiner{RefineFit, &refining, 4 * deviation};
        if (!WrapLines(text, length, soft, advances, std::max(measure.width, advances.tabStop),
                       deviation == 0 ? nullptr : &refiner, &lines->starts))
            error = ERROR_NOT_ENOUGH_MEMORY;  // the only way it fails
    }
    lines->width = measure.width;
    lines->font = measure.font;
    CloseMeasure(&measure);
    return error;
}

// The text with its lines ended by Quorvel, in one call. On failure the box and the state are as
// they were.
DWORD ShowWithLinesEnded(HWND box, BoxState& state, const char* text, std::size_t length)
{
    EndedLines lines;
    DWORD error = CheckBoxCanTake(length, 1, length);
    if (error == ERROR_SUCCESS)
        error = EndLines(box, text, length, &lines);
    const std::size_t chars = length + lines.starts.size();
    if (error == ERROR_SUCCESS)
        error = CheckBoxCanTake(chars, lines.starts.size() + 1, chars + 1);
    if (error != ERROR_SUCCESS)
        return error;
    std::unique_ptr<char[]> shown(new (std::nothrow) char[chars + 1]);
    if (!shown)
        return ERROR_NOT_ENOUGH_MEMORY;
    InsertLineFeeds(text, length, lines.starts, shown.get());
    if (const DWORD failed = SetBoxText(box, state, shown.get(), chars)) {
        // The box may hold part of it: back to what it held, or else to nothing.
        if (SetBoxText(box, state, state.shown ? state.shown.get() : "", state.shownLength) != ERROR_SUCCESS) {
            SetBoxText(box, state, "", 0);
            ForgetLines(state);
        }
        return failed;
    }
    state.starts = std::move(lines.starts);
    state.shown = std::move(shown);
    state.shownLength = chars;
    state.width = lines.width;
    state.font = lines.font;
    return ERROR_SUCCESS;
}

// The whole text itself, in a buffer of its own; null where memory ran out.
std::unique_ptr<char[]> WholeText(const BoxState& state)
{
    const std::size_t length = TextLength(state);
    std::unique_ptr<char[]> text(new (std::nothrow) char[length + 1]);
    if (text)
        ReadText(state, 0, length + 1, text.get());
    return text;
}

// The lines ended anew where the box's width or font has changed, the user's place as it was
// before the change kept; as they were where that cannot be done.
void EndLinesAnew(HWND box, BoxState& state, const Place& place)
{
    RECT format = {};
    AskBox(box, state, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    const HFONT font = reinterpret_cast<HFONT>(AskBox(box, state, WM_GETFONT, 0, 0));
    if (format.right - format.left == state.width && font == state.font)
        return;
    if (const std::unique_ptr<char[]> text = WholeText(state))
        if (ShowWithLinesEnded(box, state, text.get(), TextLength(state)) == ERROR_SUCCESS)
            RestorePlace(box, state, place);
}

// The box given the text itself, the user's place kept, before a message that would change it or
// lay it out by rules Quorvel does not follow: the box answers alone from then on. Slow for a
// long text, and never asked by Quorvel.
void HandTextToBox(HWND box, BoxState& state)
{
    const std::unique_ptr<char[]> text = WholeText(state);
    if (!text)
        return;
    const Place place = ReadPlace(box, state);
    if (SetBoxText(box, state, text.get(), TextLength(state)) != ERROR_SUCCESS)
        return;  // the box holds part of the text; what it holds, it answers for
    ForgetLines(state);
    RestorePlace(box, state, place);
}

// Where an index goes in: -1 (and the like) means something of its own to the box.
WPARAM IndexToBox(const BoxState& state, WPARAM index)
{
    return static_cast<int>(index) < 0 ? index : static_cast<WPARAM>(TextToBox(state.starts, index));
}

// One function for each message the box is answered for while Quorvel ends its lines.

LRESULT OnNcDestroy(HWND box, BoxState* state, WPARAM wParam, LPARAM lParam);

LRESULT OnGetTextLength(const BoxState& state)
{
    return static_cast<LRESULT>(TextLength(state));  // characters and UTF-16 units alike
}

// In the form the window has now: a window subclassed through the common controls becomes a
// Unicode window on Windows and on later Wines, and its procedure then gets a UTF-16 buffer.
LRESULT OnGetText(HWND box, const BoxState& state, WPARAM room, LPARAM out)
{
    if (!out)
        return 0;
    return static_cast<LRESULT>(IsWindowUnicode(box) ? ReadTextWide(state, room, reinterpret_cast<WCHAR*>(out))
                                                     : ReadText(state, 0, room, reinterpret_cast<char*>(out)));
}

LRESULT OnGetSel(HWND box, const BoxState& state, WPARAM startOut, LPARAM endOut)
{
    DWORD start = 0, end = 0;
    DefSubclassProc(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    start = static_cast<DWORD>(BoxToText(state.starts, start));
    end = static_cast<DWORD>(BoxToText(state.starts, end));
    if (startOut)
        *reinterpret_cast<DWORD*>(startOut) = start;
    if (endOut)
        *reinterpret_cast<DWORD*>(endOut) = end;
    return MAKELRESULT(start, end);
}

LRESULT OnSetSel(HWND box, const BoxState& state, WPARAM start, LPARAM end)
{
    return DefSubclassProc(box, EM_SETSEL, IndexToBox(state, start),
                           static_cast<LPARAM>(IndexToBox(state, static_cast<WPARAM>(end))));
}

LRESULT OnLineIndex(HWND box, const BoxState& state, WPARAM line)
{
    const LRESULT index = DefSubclassProc(box, EM_LINEINDEX, line, 0);
    return index < 0 ? index : static_cast<LRESULT>(BoxToText(state.starts, static_cast<std::size_t>(index)));
}

// EM_LINEFROMCHAR, EM_LINELENGTH and EM_POSFROMCHAR: a character index in, the box's answer out.
LRESULT OnCharIndexQuery(HWND box, const BoxState& state, UINT message, WPARAM index, LPARAM lParam)
{
    return DefSubclassProc(box, message, IndexToBox(state, index), lParam);
}

// The character nearest a point, and its line. The box answers in 16 bits each: where its text
// or lines go further, the line is the visible one those bits name, and the character the one in
// that line.
LRESULT OnCharFromPos(HWND box, const BoxState& state, LPARAM point)
{
    const LRESULT found = DefSubclassProc(box, EM_CHARFROMPOS, 0, point);
    if (found == -1)
        return found;
    std::size_t line = HIWORD(found), index = LOWORD(found);
    if (DefSubclassProc(box, EM_GETLINECOUNT, 0, 0) > 0xFFFF || state.shownLength > 0xFFFF) {
        line = Rebuild16(static_cast<std::size_t>(DefSubclassProc(box, EM_GETFIRSTVISIBLELINE, 0, 0)), HIWORD(found));
        index = Rebuild16(static_cast<std::size_t>(DefSubclassProc(box, EM_LINEINDEX, line, 0)), LOWORD(found));
    }
    return MAKELRESULT(BoxToText(state.starts, index), line);
}

// The selection's text in a CF_TEXT block, from Quorvel's copy where it ends the lines, else as
// the box holds it (in UTF-16 units, as its indices count). Null where memory ran out.
HGLOBAL SelectionBlock(HWND box, const BoxState& state, std::size_t start, std::size_t end)
{
    if (!state.starts.empty()) {
        const std::size_t from = BoxToText(state.starts, start), to = BoxToText(state.starts, end);
        const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, to - from + 1);
        char* const copy = block ? static_cast<char*>(GlobalLock(block)) : nullptr;
        if (!copy) {
            GlobalFree(block);
            return nullptr;
        }
        ReadText(state, from, to - from + 1, copy);
        GlobalUnlock(block);
        return block;
    }
    const std::size_t length = static_cast<std::size_t>(SendMessageW(box, WM_GETTEXTLENGTH, 0, 0));
    std::unique_ptr<WCHAR[]> text(new (std::nothrow) WCHAR[length + 1]);
    if (!text)
        return nullptr;
    const std::size_t read = static_cast<std::size_t>(SendMessageW(box, WM_GETTEXT, length + 1,
                                                                   reinterpret_cast<LPARAM>(text.get())));
    const int from = static_cast<int>(std::min(start, read)), to = static_cast<int>(std::min(end, read));
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text.get() + from, to - from, nullptr, 0, nullptr, nullptr);
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, static_cast<std::size_t>(bytes) + 1);
    char* const copy = block ? static_cast<char*>(GlobalLock(block)) : nullptr;
    if (!copy) {
        GlobalFree(block);
        return nullptr;
    }
    copy[WideCharToMultiByte(CP_ACP, 0, text.get() + from, to - from, copy, bytes, nullptr, nullptr)] = '\0';
    GlobalUnlock(block);
    return block;
}

// WM_COPY, and WM_CUT, which copies (the box is read-only): the selection's text onto the
// clipboard as the Copy to Clipboard button puts it there, a busy clipboard waited for and a
// failure told. The box's own copy tries the clipboard once and says nothing.
LRESULT OnCopy(HWND box, const BoxState& state)
{
    DWORD start = 0, end = 0;  // in the box's own indices
    DefSubclassProc(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    // A selection of nothing but a line feed of Quorvel's holds nothing of the text.
    if (BoxToText(state.starts, start) < BoxToText(state.starts, end))
        CopyToClipboard(GetAncestor(box, GA_ROOT), SelectionBlock(box, state, start, end));
    return 0;
}

// Ctrl+Insert: the box would copy its own text here, not by message.
LRESULT OnKeyDown(HWND box, const BoxState& state, WPARAM key, LPARAM lParam)
{
    if (key == VK_INSERT && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_SHIFT) >= 0)
        return OnCopy(box, state);
    return DefSubclassProc(box, WM_KEYDOWN, key, lParam);
}

LRESULT OnSetText(HWND box, BoxState& state, LPARAM text)
{
    ForgetLines(state);
    return DefSubclassProc(box, WM_SETTEXT, 0, text);
}

// EM_REPLACESEL, EM_SETHANDLE, EM_GETHANDLE, EM_SETREADONLY and EM_SETTABSTOPS change the text or
// lay it out by the box's own rules: the box gets the text itself first. Not where they change
// nothing (read-only kept, the default tab stops Quorvel measures by), nor for a handle asked or
// given by another thread, which only this one could use or make: a long text takes the box hours.
LRESULT OnEditByTheBox(HWND box, BoxState& state, UINT message, WPARAM wParam, LPARAM lParam)
{
    if ((message == EM_GETHANDLE || message == EM_SETHANDLE) && InSendMessage())
        return 0;
    if (!(message == EM_SETREADONLY && wParam) && !(message == EM_SETTABSTOPS && !wParam))
        HandTextToBox(box, state);
    return DefSubclassProc(box, message, wParam, lParam);
}

// WM_SIZE, WM_SETFONT, EM_SETRECT, EM_SETRECTNP and EM_SETMARGINS: the place is read before the
// box lays its lines out again for the change and moves its view; the lines are then ended anew.
LRESULT OnLayoutChange(HWND box, BoxState& state, UINT message, WPARAM wParam, LPARAM lParam)
{
    const Place place = ReadPlace(box, state);
    const LRESULT result = DefSubclassProc(box, message, wParam, lParam);
    EndLinesAnew(box, state, place);
    return result;
}

LRESULT CALLBACK OutputBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    BoxState& state = *reinterpret_cast<BoxState*>(data);
    if (message == QueryBoxState)
        return static_cast<LRESULT>(data);
    if (message == WM_NCDESTROY)
        return OnNcDestroy(box, &state, wParam, lParam);
    if (state.askingBox)
        return DefSubclassProc(box, message, wParam, lParam);
    // Copying is Quorvel's whatever the box holds; the rest only while Quorvel ends its lines.
    switch (message) {
    case WM_COPY:
    case WM_CUT: return OnCopy(box, state);
    case WM_KEYDOWN: return OnKeyDown(box, state, wParam, lParam);
    default: break;
    }
    if (state.starts.empty())
        return DefSubclassProc(box, message, wParam, lParam);
    switch (message) {
    case WM_GETTEXTLENGTH: return OnGetTextLength(state);
    case WM_GETTEXT: return OnGetText(box, state, wParam, lParam);
    case EM_GETSEL: return OnGetSel(box, state, wParam, lParam);
    case EM_SETSEL: return OnSetSel(box, state, wParam, lParam);
    case EM_LINEINDEX: return OnLineIndex(box, state, wParam);
    case EM_LINEFROMCHAR:
    case EM_LINELENGTH:
    case EM_POSFROMCHAR: return OnCharIndexQuery(box, state, message, wParam, lParam);
    case EM_CHARFROMPOS: return OnCharFromPos(box, state, lParam);
    case WM_SETTEXT: return OnSetText(box, state, lParam);
    case EM_REPLACESEL:
    case EM_SETHANDLE:
    case EM_GETHANDLE:
    case EM_SETREADONLY:
    case EM_SETTABSTOPS: return OnEditByTheBox(box, state, message, wParam, lParam);
    case WM_SIZE:
    case WM_SETFONT:
    case EM_SETRECT:
    case EM_SETRECTNP:
    case EM_SETMARGINS: return OnLayoutChange(box, state, message, wParam, lParam);
    default: return DefSubclassProc(box, message, wParam, lParam);
    }
}

LRESULT OnNcDestroy(HWND box, BoxState* state, WPARAM wParam, LPARAM lParam)
{
    RemoveWindowSubclass(box, OutputBoxProc, SubclassId);
    ServeWordBreaks(nullptr);
    delete state;
    return DefSubclassProc(box, WM_NCDESTROY, wParam, lParam);
}

// Text whose lines Quorvel ends: no line feed (the box lays out text with line feeds quickly
// alone), and one UTF-16 unit a byte, so that the box and the text index alike: any byte where
// the ANSI code page has one byte a character, else ASCII alone.
bool CanEndLines(const char* text, std::size_t length)
{
    CPINFO codePage = {};
    const bool singleByte = GetCPInfo(CP_ACP, &codePage) && codePage.MaxCharSize == 1;
    return std::none_of(text, text + length, [&](char c) { return c == '\n' || (!singleByte && (c & 0x80)); });
}

// The box's state, kept by its subclass: made, and the subclass set, the first time. Null where
// memory ran out.
BoxState* StateOf(HWND box)
{
    if (const LRESULT known = SendMessageA(box, QueryBoxState, 0, 0))
        return reinterpret_cast<BoxState*>(known);
    std::unique_ptr<BoxState> state(new (std::nothrow) BoxState);
    if (!state || !SetWindowSubclass(box, OutputBoxProc, SubclassId, reinterpret_cast<DWORD_PTR>(state.get())))
        return nullptr;
    return state.release();
}

// Wine's box lays out a paragraph (a run without line feeds) by analysing all the rest of it for
// each line it wraps: a long one takes it minutes to hours (in the Japanese code page, values with
// a two-byte delimiter: 3,000 in 3 s, 10,000 in 73 s). Only a double-byte code page's characters
// leave such a paragraph to the box; it is not given one longer than this, in bytes.
constexpr std::size_t LongestParagraphTheBoxLaysOut = 16384;

std::size_t LongestParagraph(const char* text, std::size_t length)
{
    std::size_t longest = 0;
    for (const char *at = text, *end = text + length; at < end;) {
        const char* const lineFeed = std::find(at, end, '\n');
        longest = std::max(longest, static_cast<std::size_t>(lineFeed - at));
        at = lineFeed + 1;
    }
    return longest;
}

// The box given a text as it is, in one call: on Windows, and under Wine where it lays the text
// out quickly alone.
DWORD ShowAsItIs(HWND box, const char* text, std::size_t length)
{
    const std::size_t lines = static_cast<std::size_t>(std::count(text, text + length, '\n')) + 1;
    if (RunningOnWine()) {
        if (const DWORD error = CheckBoxCanTake(length, lines, 0))
            return error;
        if (LongestParagraph(text, length) > LongestParagraphTheBoxLaysOut)
            return ERROR_NOT_SUPPORTED;
    }
    SetWindowTextA(box, text);
    return static_cast<std::size_t>(GetWindowTextLengthA(box)) == length ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

}  // namespace

DWORD ShowOutputText(HWND box, const char* text, std::size_t length)
{
    // Quorvel answers for the box's text only where nobody but Quorvel can change it.
    const bool readOnly = (GetWindowLongA(box, GWL_STYLE) & ES_READONLY) != 0;
    BoxState* const state = RunningOnWine() && readOnly ? StateOf(box) : nullptr;
    const bool endLines = state && CanEndLines(text, length);
    // The old text goes first, and with it its layout and memory; a new procedure for breaking
    // lines lays out what the box holds again.
    SetWindowTextA(box, "");
    if (state) {
        ServeWordBreaks(box);
        SendMessageA(box, EM_SETWORDBREAKPROC, 0, endLines ? reinterpret_cast<LPARAM>(BreakLines) : 0);
    }
    const DWORD error = endLines ? ShowWithLinesEnded(box, *state, text, length) : ShowAsItIs(box, text, length);
    if (error != ERROR_SUCCESS)
        SetWindowTextA(box, "");
    return error;
}
