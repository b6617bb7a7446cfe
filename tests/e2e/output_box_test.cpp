// The output box shows and wraps Quorvel's text exactly as a box left at the system's
// defaults does, however Quorvel puts the text in.
#include "harness.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// Where each line of a box starts.
std::vector<LRESULT> LineStarts(HWND box)
{
    std::vector<LRESULT> starts;
    const LRESULT lines = SendMessageA(box, EM_GETLINECOUNT, 0, 0);
    for (LRESULT line = 0; line < lines; ++line)
        starts.push_back(SendMessageA(box, EM_LINEINDEX, line, 0));
    return starts;
}

class OutputBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"FAKECSP_LOG", "FAKECSP_ACQUIRE_ERROR", "FAKECSP_GEN_ERROR"})
            SetEnvironmentVariableA(name, nullptr);
        SetEnvironmentVariableA("FAKECSP_BYTES", "9C3A0F77E1054BD2");
        ASSERT_TRUE(RegisterHardwareProvider(BesideThisProgram("fakecsp.dll")));
        ASSERT_TRUE(Start(&app_));
        exe_ = LoadLibraryExA(BesideThisProgram("Quorvel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(exe_, nullptr);
        // The same dialog template, with the box left at the system's defaults.
        reference_ = CreateDialogParamA(exe_, MAKEINTRESOURCEA(IDD_MAIN), nullptr, QuietProc, 0);
        ASSERT_NE(reference_, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(reference_);
        FreeLibrary(exe_);
        Stop(&app_);
        RemoveHardwareProvider();
        SetEnvironmentVariableA("FAKECSP_BYTES", nullptr);
    }
    // Runs Quorvel and checks its box against the reference box holding the same text.
    void RunAndCompare(const char* count, const char* maximum, int topIndex, const char* delimiter)
    {
        SetFieldText(app_, IDC_COUNT, count);
        SetFieldText(app_, IDC_DEC_MAX, maximum);
        SetFieldText(app_, IDC_DELIMITER, delimiter);
        SendMessageA(Control(app_, IDC_BASE_LIST), LB_SETTOPINDEX, topIndex, 0);
        ASSERT_TRUE(PressAndWait(app_, IDOK, 120000));
        const std::string text = FieldText(app_, IDC_OUTPUT);
        ASSERT_FALSE(text.empty());
        SetDlgItemTextA(reference_, IDC_OUTPUT, text.c_str());
        const HWND shown = Control(app_, IDC_OUTPUT);
        EXPECT_TRUE(IsWindowVisible(shown));
        const std::vector<LRESULT> expected = LineStarts(GetDlgItem(reference_, IDC_OUTPUT));
        EXPECT_GT(expected.size(), 3u) << "the text wraps at all";
        const std::vector<LRESULT> actual = LineStarts(shown);
        std::size_t line = 0;
        while (line < actual.size() && line < expected.size() && actual[line] == expected[line])
            ++line;
        EXPECT_TRUE(line == actual.size() && line == expected.size())
            << count << " values, delimiter \"" << delimiter << "\": " << actual.size() << " and " << expected.size()
            << " lines, first difference at line " << line << ": starts "
            << (line < actual.size() ? actual[line] : -1) << " and " << (line < expected.size() ? expected[line] : -1);
    }
    App app_;
    HMODULE exe_ = nullptr;
    HWND reference_ = nullptr;
};

TEST_F(OutputBox, WrapsAsTheDefaultBoxDoes)
{
    RunAndCompare("1500", "10", 8, "");      // digits run together
    RunAndCompare("400", "255", 8, " ");     // breaks at blanks
    RunAndCompare("600", "255", 0, "");      // base 2, run together again
    RunAndCompare("400", "255", 14, "-");    // base 16, hyphens
    RunAndCompare("300", "255", 8, ",");
}

}  // namespace
