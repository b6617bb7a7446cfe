// The output box as Quorvel fills it, against one given the text in one WM_SETTEXT: the same text and
// state; a text without line feeds wrapped soundly (also after a WM_SIZE), one with them as one call has it.
#include "test_support.h"

#include <gtest/gtest.h>
#include <usp10.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" LONG WINAPI GdiGetCharDimensions(HDC, TEXTMETRICW*, LONG*);  // exported, not declared

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
    ASSERT_TRUE(Press(app, IDOK).empty());
    const HWND box = GetDlgItem(app.dialog, IDC_OUTPUT);
    const Box quorvel = Read(box);
    EXPECT_TRUE(IsWindowVisible(box)) << "the box is shown again";
    std::vector<SCRIPT_LOGATTR> breaks(quorvel.text.size() + 1);  // where the text may break, as the box sees it
    SCRIPT_ANALYSIS analysis = {};
    ScriptBreak(Wide(quorvel.text).c_str(), quorvel.starts.back(), &analysis, breaks.data());
    // A double click in the middle of line 1 selects from the break opportunity before to the one after.
    const int middle = (quorvel.starts[1] + quorvel.starts[2]) / 2;
    const auto word = [&](int i, int step, int end) { while (i != end && !breaks[i].fSoftBreak) i += step; return i; };
    for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        SendMessageA(box, message, message != WM_LBUTTONUP, SendMessageA(box, EM_POSFROMCHAR, middle, 0) + MAKELONG(1, 1));
    EXPECT_TRUE(!wraps || SendMessageA(box, EM_GETSEL, 0, 0) ==
                              MAKELRESULT(word(middle - 1, -1, quorvel.starts[1]), word(middle, 1, quorvel.starts[2])));
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
    DWORD from = 0, to = 0;
    SendMessageA(box, EM_SETSEL, at[1] + 1, at[lines - 1] + 2);
    SendMessageA(box, EM_GETSEL, WPARAM(&from), LPARAM(&to));
    EXPECT_EQ(std::make_pair(int(from), int(to)), std::make_pair(at[1] + 1, at[lines - 1] + 2)) << "the selection";
    SendMessageA(box, WM_COPY, 0, 0);
    EXPECT_EQ(Clipboard(), quorvel.text.substr(from, to - from)) << "copied";
    SendMessageA(box, EM_SETSEL, at[lines], at[lines]);
    SendMessageA(box, EM_SCROLLCARET, 0, 0);  // the last line in view
    const LRESULT last = SendMessageA(box, EM_CHARFROMPOS, 0, SendMessageA(box, EM_POSFROMCHAR, at[lines - 1], 0) + MAKELONG(1, 1));
    EXPECT_EQ(last, MAKELRESULT(at[lines - 1], lines - 1)) << "the character at the last line's start";
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
    EXPECT_EQ(resized.starts, quorvel.starts) << "the same lines after WM_SIZE";
    const std::vector<int> expected = wraps ? SoundStarts(oneCallBox, quorvel.text, breaks) : oneCall.starts;
    EXPECT_EQ(quorvel.starts, expected) << "line starts";
    const auto differ = std::mismatch(oneCall.starts.begin(), oneCall.starts.end(), expected.begin(), expected.end());
    std::printf("one call of the first %zu characters: %zu lines; the first to start elsewhere is line %d\n",
                oneCall.text.size(), oneCall.starts.size() - 1, int(differ.first - oneCall.starts.begin()));  // for the record
    DestroyWindow(reference);
}

INSTANTIATE_TEST_SUITE_P(Shapes, OutputBox, ::testing::ValuesIn(Shapes));

// Texts Quorvel once gave the box as one long paragraph, which took Wine's box minutes to hours:
// a delimiter with control characters, and any text where the ANSI code page has two bytes a
// character. Each is shown whole, read back exactly, its lines ended by Quorvel.
struct Awkward {
    const char* name;
    const char* delimiter;
    UINT codePage;  // 0, or the ANSI code page these tests and Quorvel run in (e2e.double_byte_code_page starts them so)
};
class AwkwardText : public ::testing::TestWithParam<Awkward> {};
TEST_P(AwkwardText, IsShownWholeWithItsLinesEnded)
{
    const Awkward& row = GetParam();
    constexpr int Count = 100000;
    std::string expected;
    for (int i = 0; i < Count; ++i)
        expected += (i ? row.delimiter : "") + std::to_string(i % 256);
    ASSERT_TRUE(row.codePage == 0 || GetACP() == row.codePage) << "not started in the locale of that code page";
    App app;
    const struct Stopper { App* app; ~Stopper() { Stop(app); } } stopper{&app};
    SetEnvironmentVariableA("FAKECSP_BYTES", nullptr);
    ASSERT_TRUE(RegisterProvider(Beside("fakecsp.dll")) && Start(&app));
    SetField(app, IDC_COUNT, std::to_string(Count).c_str());
    SetField(app, IDC_DEC_MAX, "255");
    SetField(app, IDC_DELIMITER, row.delimiter);
    const std::vector<std::string> seen = Press(app, IDOK, {IDOK});
    ASSERT_EQ(seen.size(), 1u) << seen.back();  // the warning alone, and no "<stuck>"
    const HWND box = GetDlgItem(app.dialog, IDC_OUTPUT);
    EXPECT_TRUE(Text(box) == expected) << Text(box).size() << " characters read back, " << expected.size() << " shown";
    EXPECT_GT(SendMessageA(box, EM_GETLINECOUNT, 0, 0), Count / 100) << "one long paragraph";
}
const Awkward AwkwardTexts[] = {
    {"ACarriageReturn", "\r", 0},       {"AVerticalTab", "\v", 0},
    {"AFormFeedAndAnEscape", "\f\x1b", 0}, {"ACarriageReturnBetweenLetters", "a\rb", 0},
    {"DoubleByteCodePageNoDelimiter", "", 932}, {"DoubleByteCodePageSpace", " ", 932},
};
INSTANTIATE_TEST_SUITE_P(Rows, AwkwardText, ::testing::ValuesIn(AwkwardTexts), [](const auto& row) { return row.param.name; });

// What a user does with the box once it shows a run: select all and copy, ask for the character
// at a point inside a line, read it into a short buffer, make it narrower, copy by keyboard.
class UsedBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvironmentVariableA("FAKECSP_BYTES", nullptr);
        ASSERT_TRUE(RegisterProvider(Beside("fakecsp.dll")) && Start(&app_));
        SetField(app_, IDC_COUNT, "3000");
        SetField(app_, IDC_DEC_MAX, "255");
        SetField(app_, IDC_DELIMITER, " ");
        ASSERT_TRUE(Press(app_, IDOK).empty());
        box_ = GetDlgItem(app_.dialog, IDC_OUTPUT);
        text_ = Text(box_);
        ASSERT_GT(text_.size(), 10000u);
    }
    void TearDown() override { Stop(&app_); }
    std::string Copied(UINT message)
    {
        EXPECT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
        SendMessageA(box_, message, 0, 0);
        return Clipboard();
    }
    App app_;
    HWND box_ = nullptr;
    std::string text_;
};

TEST_F(UsedBox, SelectAllAndCopyTakesTheWholeText)
{
    SendMessageA(box_, EM_SETSEL, 0, -1);
    DWORD from = 1, to = 0;
    SendMessageA(box_, EM_GETSEL, WPARAM(&from), LPARAM(&to));
    EXPECT_EQ(std::make_pair(from, to), std::make_pair(DWORD(0), DWORD(text_.size())));
    EXPECT_TRUE(Copied(WM_COPY) == text_) << "copied";
}

TEST_F(UsedBox, TheCharacterAtAPointInsideALine)
{
    const int line = 3, start = int(SendMessageA(box_, EM_LINEINDEX, line, 0));
    const int length = int(SendMessageA(box_, EM_LINELENGTH, start, 0));
    ASSERT_GT(length, 8);
    for (int at : {start + 1, start + length / 2, start + length - 1}) {
        const LRESULT point = SendMessageA(box_, EM_POSFROMCHAR, at, 0);
        EXPECT_EQ(SendMessageA(box_, EM_CHARFROMPOS, 0, point + MAKELONG(1, 1)), MAKELRESULT(at, line)) << at;
        EXPECT_EQ(SendMessageA(box_, EM_LINEFROMCHAR, at, 0), line) << at;
    }
}

TEST_F(UsedBox, AShortBufferGetsTheTextsStart)
{
    for (int room : {1, 2, 10, 4000}) {
        std::string read(room + 8, '#');
        const LRESULT n = SendMessageA(box_, WM_GETTEXT, room, LPARAM(read.data()));
        EXPECT_EQ(n, room - 1) << room;
        EXPECT_EQ(read.substr(0, room), text_.substr(0, room - 1) + '\0') << room;
        EXPECT_EQ(read.substr(room), std::string(8, '#')) << "written past the buffer";
    }
}

TEST_F(UsedBox, ANarrowerBoxGetsItsLinesEndedAnewAndKeepsTheSelection)
{
    const int from = int(SendMessageA(box_, EM_LINEINDEX, 30, 0)) + 2, to = from + 500;
    SendMessageA(box_, EM_SETSEL, from, to);
    SendMessageA(box_, EM_LINESCROLL, 0, 40);
    const int visible = int(SendMessageA(box_, EM_LINEINDEX, SendMessageA(box_, EM_GETFIRSTVISIBLELINE, 0, 0), 0));
    ASSERT_GT(visible, 0);
    RECT r;
    GetWindowRect(box_, &r);
    ASSERT_TRUE(SetWindowPos(box_, nullptr, 0, 0, (r.right - r.left) * 2 / 3, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER));
    const Box narrower = Read(box_);
    EXPECT_TRUE(narrower.text == text_) << "the text changed";
    DWORD start = 0, end = 0;
    SendMessageA(box_, EM_GETSEL, WPARAM(&start), LPARAM(&end));
    EXPECT_EQ(std::make_pair(int(start), int(end)), std::make_pair(from, to)) << "the selection";
    EXPECT_EQ(SendMessageA(box_, EM_GETFIRSTVISIBLELINE, 0, 0), SendMessageA(box_, EM_LINEFROMCHAR, visible, 0))
        << "the first line in view";
    ASSERT_TRUE(Press(app_, IDOK).empty());  // the same numbers again, into the narrower box
    const Box fresh = Read(box_);
    EXPECT_GT(fresh.starts.size(), 100u);
    EXPECT_EQ(narrower.starts, fresh.starts) << "lines as a fresh fill at that width";
}

// Ctrl+C and Ctrl+Insert as a user types them, on a selection across a line Quorvel ended.
TEST_F(UsedBox, CopyingByKeyboardTakesTheTextItself)
{
    RECT r;
    GetWindowRect(box_, &r);
    SetForegroundWindow(app_.dialog);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT click[2] = {};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ASSERT_EQ(SendInput(2, click, sizeof(INPUT)), 2u);
    Sleep(300);
    const int from = int(SendMessageA(box_, EM_LINEINDEX, 1, 0)) - 3, to = from + 9;
    for (WORD key : {WORD('C'), WORD(VK_INSERT)}) {
        SendMessageA(box_, EM_SETSEL, from, to);
        EXPECT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
        INPUT keys[4] = {};
        for (INPUT& k : keys)
            k.type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[3].ki.wVk = VK_CONTROL;
        keys[1].ki.wVk = keys[2].ki.wVk = key;
        keys[2].ki.dwFlags = keys[3].ki.dwFlags = KEYEVENTF_KEYUP;
        if (key == VK_INSERT)
            keys[1].ki.dwFlags |= KEYEVENTF_EXTENDEDKEY, keys[2].ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
        ASSERT_EQ(SendInput(4, keys, sizeof(INPUT)), 4u);
        std::string copied = "<none>";
        for (int i = 0; i < 100 && (copied = Clipboard()) == "<none>"; ++i)
            Sleep(20);
        EXPECT_EQ(copied, text_.substr(from, to - from)) << (key == VK_INSERT ? "Ctrl+Insert" : "Ctrl+C");
    }
}

// Another program appending to the box, as a log window would (the caret to the end, then
// EM_REPLACESEL): the text goes at the end, and the box shows the text itself from then on.
TEST(AppendedBox, AnAppendGoesAtTheEnd)
{
    App app;
    const struct Stopper { App* app; ~Stopper() { Stop(app); } } stopper{&app};
    SetEnvironmentVariableA("FAKECSP_BYTES", nullptr);
    ASSERT_TRUE(RegisterProvider(Beside("fakecsp.dll")) && Start(&app));
    SetField(app, IDC_COUNT, "300");
    SetField(app, IDC_DEC_MAX, "255");
    SetField(app, IDC_DELIMITER, " ");
    ASSERT_TRUE(Press(app, IDOK).empty());
    const HWND box = GetDlgItem(app.dialog, IDC_OUTPUT);
    const std::string text = Text(box);
    ASSERT_GT(SendMessageA(box, EM_GETLINECOUNT, 0, 0), 3);
    SendMessageA(box, EM_SETSEL, text.size(), text.size());
    SendMessageA(box, EM_REPLACESEL, FALSE, LPARAM(" end"));
    EXPECT_EQ(Text(box), text + " end");
}

}  // namespace
