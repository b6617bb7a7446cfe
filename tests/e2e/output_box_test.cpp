// The output box as Quorvel fills it, against one given the text in one WM_SETTEXT: the same text and
// state; a text without line feeds wrapped soundly (also after a WM_SIZE), one with them as one call has it.
#include "box_measure.h"  // GdiGetCharDimensions, which the edit control scales its tab stops by
#include "test_support.h"

#include <gtest/gtest.h>
#include <usp10.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

struct Box {
    std::string text, state;  // state: selection, first line, modified, undo, limit
    std::vector<int> starts;  // every line's first character, then the text's end
};

Box Read(HWND box)
{
    Box read{Text(box), "", {}};
    for (UINT message : {EM_GETSEL, EM_GETFIRSTVISIBLELINE, EM_GETMODIFY, EM_CANUNDO, EM_GETLIMITTEXT})
        read.state += std::to_string(SendMessageA(box, message, 0, 0)) + " ";
    for (LRESULT line = 0, lines = SendMessageA(box, EM_GETLINECOUNT, 0, 0); line <= lines; ++line)
        read.starts.push_back(int(line < lines ? SendMessageA(box, EM_LINEINDEX, line, 0) : read.text.size()));
    return read;
}

// Where a sound wrap, measured as the edit control box measures a line, starts each line of text, then
// the text's end: at the last break opportunity that fits, or else after the last character that fits.
std::vector<int> SoundStarts(HWND box, const std::string& text, const std::vector<SCRIPT_LOGATTR>& breaks)
{
    const std::wstring wide = Wide(text);
    RECT format;
    SendMessageA(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    const HDC dc = GetDC(box);
    SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(box, WM_GETFONT, 0, 0)));
    SCRIPT_TABDEF tabs = {0, GdiGetCharDimensions(dc, nullptr, nullptr), nullptr, 0};  // as the edit control has it
    const auto fits = [&](int from, int to) {
        SCRIPT_STRING_ANALYSIS line = nullptr;
        const bool fit = SUCCEEDED(ScriptStringAnalyse(dc, &wide[from], to - from, 2 * (to - from) + 16, -1,
                                                       SSA_LINK | SSA_FALLBACK | SSA_GLYPHS | SSA_TAB, -1, nullptr,
                                                       nullptr, nullptr, &tabs, nullptr, &line)) &&
                         ScriptString_pSize(line)->cx <= format.right - format.left;
        return ScriptStringFree(&line), fit;
    };
    std::vector<int> starts{0};
    const int size = int(wide.size());
    for (int from = 0; size - from > 300 || !fits(from, size); starts.push_back(from)) {  // no line holds 300
        int end = from, over = std::min(size, from + 300);  // the characters up to end fit, up to over not
        while (over - end > 1) {
            const int middle = (end + over) / 2;
            (middle == from || fits(from, middle) ? end : over) = middle;
        }
        int opportunity = end;  // the last break opportunity that fits
        while (opportunity > from && !breaks[opportunity].fSoftBreak)
            --opportunity;
        from = opportunity > from ? opportunity : std::max(end, from + 1);
    }
    starts.push_back(size);
    return ReleaseDC(box, dc), starts;
}

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }


// Count, maximum, delimiter, the base list's top item (0: base 2 ... 34: base 36), the lines wanted.
// The last row passes 65535 characters, past what some of the box's answers hold in 16 bits.
const std::vector<const char*> Shapes[] = {
    {"1500", "255", " ", "8", "sound"},   {"2000", "9", " ", "8", "sound"},     {"1500", "255", ", ", "8", "sound"},
    {"1500", "255", ",", "8", "sound"},   {"1500", "255", "-", "8", "sound"},   {"1500", "1", "-", "0", "sound"},
    {"1500", "255", "; ", "14", "sound"}, {"1500", "255", " ", "34", "sound"},  {"1500", "255", "", "8", "sound"},
    {"1500", "255", "", "14", "sound"},   {"1500", "255", "|", "34", "sound"},  {"40", "255", " ", "8", "sound"},
    {"1500", "255", "\t", "8", "sound"}, {"150", "255", "\n", "8", "one call"}, {"1500", "255", "\xA7", "8", "sound"},
    {"10000", "255", ", ", "0", "sound"}};

class OutputBox : public ::testing::TestWithParam<std::vector<const char*>> {};

TEST_P(OutputBox, WrapsAndOtherwiseEndsAsOneWmSetTextLeavesIt)
{
    const std::vector<const char*>& shape = GetParam();
    const bool wraps = shape[4] == std::string("sound");
    App app;
    const struct Stopper { App* app; ~Stopper() { Stop(app); } } stopper{&app};  // also when an assertion ends the test
    char bytes[1025] = {};
    for (unsigned x = std::atoi(shape[0]) + std::atoi(shape[1]) * 7 + shape[2][0], i = 0; i < 512; ++i)
        wsprintfA(bytes + 2 * i, "%02x", (x = x * 1103515245u + 12345u) >> 24);
    SetEnvironmentVariableA("FAKECSP_BYTES", bytes);
    ASSERT_TRUE(RegisterProvider(Beside("fakecsp.dll")) && Start(&app));
    SetField(app, IDC_COUNT, shape[0]);
    SetField(app, IDC_DEC_MAX, shape[1]);
    SetField(app, IDC_DELIMITER, shape[2]);
    SendDlgItemMessageA(app.dialog, IDC_BASE_LIST, LB_SETTOPINDEX, std::atoi(shape[3]), 0);
    ASSERT_EQ(Press(app, IDOK), std::vector<std::string>{});
    const HWND box = GetDlgItem(app.dialog, IDC_OUTPUT);
    const Box quorvel = Read(box);
    EXPECT_TRUE(IsWindowVisible(box)) << "the box is shown again";
    std::vector<SCRIPT_LOGATTR> breaks(quorvel.text.size() + 1);  // where the text may break, as the box sees it
    SCRIPT_ANALYSIS analysis = {};
    ScriptBreak(Wide(quorvel.text).c_str(), quorvel.starts.back(), &analysis, breaks.data());
    // A double click in line 1 (of the lines `at`) selects from the break opportunity before to the one after.
    const auto word = [&](int i, int step, int end) { while (i != end && !breaks[i].fSoftBreak) i += step; return i; };
    const auto doubleClick = [&](int middle, const std::vector<int>& at) {
        SendMessageA(box, EM_SETSEL, middle, middle), SendMessageA(box, EM_SCROLLCARET, 0, 0);
        for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
            SendMessageA(box, message, message != WM_LBUTTONUP, SendMessageA(box, EM_POSFROMCHAR, middle, 0) + MAKELONG(1, 1));
        const LRESULT selected = SendMessageA(box, EM_GETSEL, 0, 0);
        const int start = word(middle - 1, -1, at[1]), end = word(middle, 1, at[2]);
        EXPECT_TRUE(!wraps || selected == MAKELRESULT(start, end)) << "a double click at " << middle << " selected "
                                                                   << LOWORD(selected) << "-" << HIWORD(selected) << ", not " << start << "-" << end;
    };
    doubleClick((quorvel.starts[1] + quorvel.starts[2]) / 2, quorvel.starts);
    for (UINT message : {EM_SETREADONLY, EM_SETTABSTOPS, EM_GETHANDLE, EM_SETHANDLE})  // read-only kept, default tab stops, no text changed
        SendMessageA(box, message, message == EM_SETREADONLY, 0);
    SendMessageA(box, WM_SIZE, SIZE_RESTORED, 0);  // the box lays its text out again, whatever the size
    const Box resized = Read(box);
    // Whatever reads the box sees the text: where each line starts, its line and its length; a
    // selection across lines, and what copying it puts on the clipboard; the character at a point.
    const std::vector<int>& at = quorvel.starts;
    const int lines = int(at.size()) - 1;
    for (int line = 0; line < lines; ++line) {
        ASSERT_EQ(SendMessageA(box, EM_LINEFROMCHAR, at[line], 0), line) << at[line];
        ASSERT_EQ(SendMessageA(box, EM_LINELENGTH, at[line], 0), at[line + 1] - at[line] - (quorvel.text[at[line + 1] - 1] == '\n'))
            << "line " << line;
    }
    const auto selection = [&] {
        DWORD from = 0, to = 0;
        SendMessageA(box, EM_GETSEL, WPARAM(&from), LPARAM(&to));
        return std::make_pair(int(from), int(to));
    };
    for (const auto& [from, to] : {std::pair{0, -1}, std::pair{at[1] + 1, at[lines - 1] + 2}}) {
        SendMessageA(box, EM_SETSEL, from, to);
        const auto [start, end] = selection();
        EXPECT_EQ(std::make_pair(start, end), std::make_pair(from, to < 0 ? int(quorvel.text.size()) : to)) << "selected";
        SendMessageA(box, WM_COPY, 0, 0);
        EXPECT_TRUE(Clipboard() == quorvel.text.substr(start, end - start)) << "copied " << start << "-" << end;
    }
    // A click past line 0's end, then a shift-click at line 1's start: where no character lies between, none is copied.
    RECT client;
    GetClientRect(box, &client);
    SendMessageA(box, EM_SETSEL, 0, 0), SendMessageA(box, EM_SCROLLCARET, 0, 0);
    const LPARAM pastEnd = MAKELONG(client.right - 2, HIWORD(SendMessageA(box, EM_POSFROMCHAR, 0, 0)) + 1);
    for (const auto& [keys, point] : {std::pair{MK_LBUTTON, pastEnd}, {MK_LBUTTON | MK_SHIFT, SendMessageA(box, EM_POSFROMCHAR, at[1], 0) + MAKELONG(1, 1)}})
        SendMessageA(box, WM_LBUTTONDOWN, keys, point), SendMessageA(box, WM_LBUTTONUP, 0, point);
    const auto [from, to] = selection();
    const std::string earlier = Clipboard();
    SendMessageA(box, WM_COPY, 0, 0);
    EXPECT_TRUE(Clipboard() == (from < to ? quorvel.text.substr(from, to - from) : earlier)) << "copied " << from << "-" << to;
    char shortBuffer[12] = "###########";  // room for 9 characters and the zero byte, then untouched
    EXPECT_EQ(SendMessageA(box, WM_GETTEXT, 10, LPARAM(shortBuffer)), 9);
    EXPECT_EQ(std::string(shortBuffer, 11), quorvel.text.substr(0, 9) + '\0' + '#');
    const int inside = (at[lines - 1] + at[lines]) / 2;  // inside the last line
    SendMessageA(box, EM_SETSEL, at[lines], at[lines]);
    SendMessageA(box, EM_SCROLLCARET, 0, 0);  // the last line in view
    const LRESULT last = SendMessageA(box, EM_CHARFROMPOS, 0, SendMessageA(box, EM_POSFROMCHAR, inside, 0) + MAKELONG(0, 1));
    EXPECT_EQ(last, MAKELRESULT(inside, lines - 1)) << "the character at a point inside the last line";
    // A third narrower: the lines ended anew (compared below), the selection and the first line in view kept.
    SendMessageA(box, EM_SETSEL, at[1] + 1, at[lines - 1] + 2);
    SendMessageA(box, EM_LINESCROLL, 0, 2);
    const int visible = int(SendMessageA(box, EM_LINEINDEX, SendMessageA(box, EM_GETFIRSTVISIBLELINE, 0, 0), 0));
    RECT r;
    GetWindowRect(box, &r);
    const int narrow = (r.right - r.left) * 2 / 3;
    SetWindowPos(box, nullptr, 0, 0, narrow, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
    const Box narrower = Read(box);
    EXPECT_EQ(narrower.text, quorvel.text);
    EXPECT_EQ(selection(), std::make_pair(at[1] + 1, at[lines - 1] + 2));
    EXPECT_EQ(SendMessageA(box, EM_GETFIRSTVISIBLELINE, 0, 0), SendMessageA(box, EM_LINEFROMCHAR, visible, 0));
    SetWindowPos(box, nullptr, 0, 0, 4000, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);  // lines longer than one measure
    if (const Box wide = Read(box); wide.starts.size() > 3 && wide.starts[2] - wide.starts[1] > 300)
        doubleClick(wide.starts[1] + 300, wide.starts);
    Stop(&app);

    const HMODULE exe = LoadLibraryExA(Beside("Quorvel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HWND reference = CreateDialogParamA(exe, MAKEINTRESOURCEA(IDD_MAIN), nullptr, Quiet, 0);
    const HWND oneCallBox = GetDlgItem(reference, IDC_OUTPUT);
    // One call of a long text without line feeds takes Wine's box hours: its state is compared after
    // one call of the text's start.
    SetWindowTextA(oneCallBox, quorvel.text.substr(0, wraps ? 8000 : std::string::npos).c_str());
    const Box oneCall = Read(oneCallBox);
    EXPECT_GT(oneCall.starts.size(), 3u) << "the text wraps";
    EXPECT_EQ(quorvel.state, oneCall.state) << "selection, view, modified, undo, limit";
    EXPECT_EQ(resized.starts, quorvel.starts) << "the same lines after those messages and WM_SIZE";
    const std::vector<int> expected = wraps ? SoundStarts(oneCallBox, quorvel.text, breaks) : oneCall.starts;
    EXPECT_EQ(quorvel.starts, expected) << "line starts";
    SetWindowPos(oneCallBox, nullptr, 0, 0, narrow, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(narrower.starts, wraps ? SoundStarts(oneCallBox, quorvel.text, breaks) : Read(oneCallBox).starts)
        << "line starts in a narrower box";
    DestroyWindow(reference);
}

INSTANTIATE_TEST_SUITE_P(Shapes, OutputBox, ::testing::ValuesIn(Shapes));

}  // namespace
