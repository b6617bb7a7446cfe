// The output box as Quorvel fills it, against one of the same template given the text in one
// WM_SETTEXT: text, line starts (also after WM_SIZE), selection, view, modified, undo, limit.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// The text; selection, first line, modified, undo, limit and every line start.
std::vector<std::string> Read(HWND box)
{
    std::vector<std::string> state{Text(box), ""};
    const auto number = [&](UINT message, WPARAM w) { return std::to_string(SendMessageA(box, message, w, 0)) + " "; };
    for (UINT message : {EM_GETSEL, EM_GETFIRSTVISIBLELINE, EM_GETMODIFY, EM_CANUNDO, EM_GETLIMITTEXT})
        state[1] += number(message, 0);
    for (LRESULT line = 0, lines = SendMessageA(box, EM_GETLINECOUNT, 0, 0); line < lines; ++line)
        state[1] += number(EM_LINEINDEX, line);
    return state;
}

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// Count, maximum, delimiter, the base list's top item (0: base 2 ... 34: base 36). Digits only,
// which Quorvel appends under Wine; then shapes it shows in one call. Each draws its own bytes.
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
    EXPECT_TRUE(IsWindowVisible(box)) << "the box is shown again";
    RECT client;
    GetClientRect(box, &client);
    SendMessageA(box, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    SendMessageA(box, EM_SETSEL, 0, 0);
    SendMessageA(box, EM_SCROLLCARET, 0, 0);  // back to the top, as the reference starts
    const auto resized = Read(box);
    Stop(&app);
    const HMODULE exe = LoadLibraryExA(Beside("Quorvel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HWND reference = CreateDialogParamA(exe, MAKEINTRESOURCEA(IDD_MAIN), nullptr, Quiet, 0);
    SetDlgItemTextA(reference, IDC_OUTPUT, quorvel[0].c_str());
    const auto expected = Read(GetDlgItem(reference, IDC_OUTPUT));
    DestroyWindow(reference);
    EXPECT_GT(std::count(expected[1].begin(), expected[1].end(), ' '), 30) << "the text wraps";
    EXPECT_TRUE(quorvel[0] == expected[0]) << "text";
    EXPECT_EQ(quorvel[1], expected[1]) << "state and line starts";
    EXPECT_EQ(resized[1], expected[1]) << "line starts after WM_SIZE";
}

INSTANTIATE_TEST_SUITE_P(Shapes, OutputBox, ::testing::ValuesIn(Shapes));

}  // namespace
