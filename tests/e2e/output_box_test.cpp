// The output box as Quorvel fills it, against a box of the same template given the same
// text in one WM_SETTEXT: the same text, line starts (also after a WM_SIZE lays them out
// afresh), pixels on every page, selection, view, modified flag, undo and limit.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// The box as the screen shows it, once the screen holds still.
std::string Pixels(HWND box)
{
    RECT r;
    GetWindowRect(box, &r);
    UpdateWindow(box);
    // Wine puts a window's painting on the screen when its thread next waits for messages:
    // a message answered from there comes after it.
    SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, WaitMs, nullptr);
    const HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    const HGDIOBJ bitmap = CreateCompatibleBitmap(screen, r.right - r.left, r.bottom - r.top),
                  old = SelectObject(memory, bitmap);
    std::string previous, pixels(4 * (r.right - r.left) * (r.bottom - r.top), '\0');
    for (int i = 0, same = 0; i < 100 && same < 3; ++i, Sleep(20)) {  // three alike in a row
        previous = pixels;
        BitBlt(memory, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
        GetBitmapBits(HBITMAP(bitmap), static_cast<LONG>(pixels.size()), pixels.data());
        same = pixels == previous ? same + 1 : 0;
    }
    DeleteObject(SelectObject(memory, old));
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The text; selection, first line, modified, undo, limit and every line start; then the
// pixels page by page to the end.
std::vector<std::string> Read(HWND box, bool pages = true)
{
    std::vector<std::string> state{Text(box), ""};
    const auto number = [&](UINT message, WPARAM w) { return std::to_string(SendMessageA(box, message, w, 0)) + " "; };
    for (UINT message : {EM_GETSEL, EM_GETFIRSTVISIBLELINE, EM_GETMODIFY, EM_CANUNDO, EM_GETLIMITTEXT})
        state[1] += number(message, 0);
    for (LRESULT line = 0, lines = SendMessageA(box, EM_GETLINECOUNT, 0, 0); line < lines; ++line)
        state[1] += number(EM_LINEINDEX, line);
    for (std::string first; pages && first != number(EM_GETFIRSTVISIBLELINE, 0); SendMessageA(box, WM_VSCROLL, SB_PAGEDOWN, 0))
        state.push_back((first = number(EM_GETFIRSTVISIBLELINE, 0)) + Pixels(box));
    return state;
}

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// Count, maximum, delimiter, the base list's top item (0 base 2, 8 base 10, 14 base 16, 34
// base 36). Digits without a delimiter in several bases and ranges, which Quorvel appends
// under Wine; then shapes it shows in one call, among them digits with letters, whose
// lines appends would change. Each row draws its own bytes.
const std::vector<const char*> Shapes[] = {
    {"1500", "255", "", "8"},  {"1500", "10", "", "8"},  {"1500", "1", "", "0"},   {"500", "255", "", "0"},
    {"1500", "9", "", "14"},   {"1500", "255", "", "6"}, {"1500", "255", "", "14"}, {"1500", "255", "", "34"},
    {"600", "255", " ", "8"},  {"600", "255", ",", "8"}, {"600", "255", "-", "14"},  {"300", "255", "\t", "8"},
    {"150", "255", "\n", "8"},
};

class OutputBox : public ::testing::TestWithParam<std::vector<const char*>> {
protected:
    void TearDown() override { Stop(&app); }  // also when an assertion ends the test early
    App app;
};

TEST_P(OutputBox, EndsAsOneWmSetTextLeavesIt)
{
    const std::vector<const char*>& shape = GetParam();
    char bytes[1025] = {};
    for (unsigned x = std::atoi(shape[0]) + std::atoi(shape[1]) + std::atoi(shape[3]), i = 0; i < 512; ++i)
        wsprintfA(bytes + 2 * i, "%02x", (x = x * 1103515245u + 12345u) >> 24);
    SetEnvironmentVariableA("FAKECSP_BYTES", bytes);
    ASSERT_TRUE(RegisterProvider(Beside("fakecsp.dll")));
    ASSERT_TRUE(Start(&app));
    SetField(app, IDC_COUNT, shape[0]);
    SetField(app, IDC_DEC_MAX, shape[1]);
    SetField(app, IDC_DELIMITER, shape[2]);
    SendDlgItemMessageA(app.dialog, IDC_BASE_LIST, LB_SETTOPINDEX, std::atoi(shape[3]), 0);
    ASSERT_TRUE(Press(app, IDOK).empty());
    const HWND box = GetDlgItem(app.dialog, IDC_OUTPUT);
    const auto quorvel = Read(box);
    RECT client;
    GetClientRect(box, &client);
    SendMessageA(box, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    SendMessageA(box, EM_SETSEL, 0, 0);
    SendMessageA(box, EM_SCROLLCARET, 0, 0);  // back to the top, as the reference starts
    const auto resized = Read(box, false);
    Stop(&app);
    const HMODULE exe = LoadLibraryExA(Beside("Quorvel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HWND reference = CreateDialogParamA(exe, MAKEINTRESOURCEA(IDD_MAIN), nullptr, Quiet, 0);
    ASSERT_TRUE(SetWindowPos(reference, nullptr, 400, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW));
    SetDlgItemTextA(reference, IDC_OUTPUT, quorvel[0].c_str());
    const auto expected = Read(GetDlgItem(reference, IDC_OUTPUT));
    DestroyWindow(reference);
    EXPECT_GT(std::count(expected[1].begin(), expected[1].end(), ' '), 30) << "the text wraps";
    ASSERT_EQ(quorvel.size(), expected.size()) << "pages";
    // Pages are compared where Quorvel appends (digits only); other shapes take one call
    // like the reference, and their text, state and line starts show it.
    const bool appended = quorvel[0].find_first_not_of("0123456789") == std::string::npos;
    for (std::size_t i = 0; i < (appended ? expected.size() : 2); ++i)
        EXPECT_TRUE(quorvel[i] == expected[i]) << (i ? i > 1 ? "page " : "state " : "text ") << i;
    EXPECT_TRUE(resized.at(0) == expected[0] && resized.at(1) == expected[1]) << "line starts after WM_SIZE";
}

INSTANTIATE_TEST_SUITE_P(Shapes, OutputBox, ::testing::ValuesIn(Shapes));

}  // namespace
