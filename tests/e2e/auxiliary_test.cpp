// Browse through the real Save dialog, Copy to Clipboard, Tab, Crlf and Help.
#include "harness.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

BOOL CALLBACK FindEdit(HWND child, LPARAM parameter)
{
    char className[16] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Edit") != 0 || !IsWindowVisible(child))
        return TRUE;
    *reinterpret_cast<HWND*>(parameter) = child;
    return FALSE;
}

HWND FirstEdit(HWND box)
{
    HWND edit = nullptr;
    EnumChildWindows(box, FindEdit, reinterpret_cast<LPARAM>(&edit));
    return edit;
}

class Auxiliary : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"FAKECSP_LOG", "FAKECSP_BYTES", "FAKECSP_ACQUIRE_ERROR", "FAKECSP_GEN_ERROR"})
            SetEnvironmentVariableA(name, nullptr);
        ASSERT_TRUE(RegisterHardwareProvider(BesideThisProgram("fakecsp.dll")));
        ASSERT_TRUE(Start(&app_));
    }
    void TearDown() override
    {
        Stop(&app_);
        RemoveHardwareProvider();
    }
    void Run(const char* count, const char* delimiter)
    {
        SetFieldText(app_, IDC_COUNT, count);
        SetFieldText(app_, IDC_DEC_MIN, "0");
        SetFieldText(app_, IDC_DEC_MAX, "255");
        SetFieldText(app_, IDC_DELIMITER, delimiter);
        ASSERT_TRUE(PressAndWait(app_, IDOK));
    }
    std::string CopyAndRead()
    {
        EXPECT_TRUE(PressAndWait(app_, IDC_COPY));
        std::string text;
        EXPECT_TRUE(ReadClipboard(&text)) << "CF_TEXT is on the clipboard";
        return text;
    }
    // Opens the Save dialog with Browse, then types a name and presses Save, or cancels.
    std::string Browse(const std::string* name)
    {
        Press press = PressAsync(app_, IDC_BROWSE);
        const HWND box = WaitForBox(app_);
        EXPECT_NE(box, nullptr) << "the Save dialog opened";
        if (box && name) {
            const HWND edit = FirstEdit(box);  // the file name field, inside its combo box
            EXPECT_NE(edit, nullptr);
            SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name->c_str()));
            Answer(box, IDOK);
        } else if (box) {
            Answer(box, IDCANCEL);
        }
        EXPECT_TRUE(Finish(&press));
        return FieldText(app_, IDC_OUTPUT_PATH);
    }
    App app_;
};

TEST_F(Auxiliary, BrowseChoosesAnExistingFileAndCancelClearsIt)
{
    const std::string file = ScratchPath("chosen.txt");
    ASSERT_TRUE(CloseHandle(
        CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
    EXPECT_EQ(ReadWholeFile(file), "");
    EXPECT_EQ(lstrcmpiA(Browse(&file).c_str(), file.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(file), "") << "choosing writes nothing";
    Run("3", ",");
    EXPECT_EQ(ReadWholeFile(file), std::string("0,1,2\0", 6));

    EXPECT_EQ(Browse(nullptr), "") << "cancel removes the chosen file";
    DeleteFileA(file.c_str());
    Run("3", ",");
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "the next run writes nothing";
}

TEST_F(Auxiliary, CopyAfterARunTakesExactlyTheText)
{
    Run("4", "\n");
    EXPECT_EQ(CopyAndRead(), "0\n1\n2\n3");
    Run("12", "");
    EXPECT_EQ(CopyAndRead(), "01234567891011");
}

TEST_F(Auxiliary, CopyBeforeAnyRunEmptiesTheClipboard)
{
    ASSERT_TRUE(PutClipboardText("something else"));
    EXPECT_EQ(CopyAndRead(), "");
    EXPECT_TRUE(IsRunning(app_));
}

TEST_F(Auxiliary, CopyAfterADeclinedWarningTakesTheEmptyBox)
{
    Run("5", ",");
    SetFieldText(app_, IDC_COUNT, "10001");
    Press press = PressAsync(app_, IDOK);
    AnswerNextBox(app_, IDCANCEL);
    ASSERT_TRUE(Finish(&press));
    ASSERT_TRUE(PutClipboardText("something else"));
    EXPECT_EQ(CopyAndRead(), "");
}

TEST_F(Auxiliary, CopyAfterAFailedRunTakesTheErrorCutToTheLastRunsLength)
{
    Run("5", ",");  // "0,1,2,3,4": nine characters
    RemoveHardwareProvider();
    Run("5", ",");
    EXPECT_EQ(CopyAndRead(), "Error 0x8");
}

TEST_F(Auxiliary, TabAndCrlfFillTheDelimiter)
{
    SetFieldText(app_, IDC_DELIMITER, "abc");
    ASSERT_TRUE(PressAndWait(app_, IDC_TAB));
    EXPECT_EQ(FieldText(app_, IDC_DELIMITER), "\t");
    ASSERT_TRUE(PressAndWait(app_, IDC_CRLF));
    EXPECT_EQ(FieldText(app_, IDC_DELIMITER), "\n");

    // Three values separated by bare line feeds, then the zero byte.
    const std::string file = ScratchPath("crlf.txt");
    SetFieldText(app_, IDC_OUTPUT_PATH, file);
    SetFieldText(app_, IDC_COUNT, "3");
    SetFieldText(app_, IDC_DEC_MAX, "255");
    ASSERT_TRUE(PressAndWait(app_, IDOK));
    EXPECT_EQ(ReadWholeFile(file), std::string("0\n1\n2\0", 6));
    ASSERT_TRUE(PressAndWait(app_, IDC_TAB));
    ASSERT_TRUE(PressAndWait(app_, IDOK));
    EXPECT_EQ(ReadWholeFile(file), std::string("0\t1\t2\0", 6));
}

TEST_F(Auxiliary, HelpShowsTwelveLines)
{
    Press press = PressAsync(app_, IDHELP);
    const HWND box = WaitForBox(app_);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Text(box), "Help");
    const std::string text = BoxMessage(box);
    Answer(box, IDOK);
    ASSERT_TRUE(Finish(&press));

    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line ends in a line feed";
    ASSERT_EQ(lines.size(), 12u) << text;
    EXPECT_EQ(lines[0], "Quorvel.exe v1.01 ");
    EXPECT_FALSE(lines[1].empty());
    EXPECT_EQ(lines[2], " ");
    EXPECT_EQ(lines[3], "Requires:");
    EXPECT_EQ(lines[4], "Intel 82802 Firmware Hub or Higher");
    EXPECT_EQ(lines[5], "Intel Security Driver");
    EXPECT_EQ(lines[6], "Intel Hardware Cryptographic Service Provider");
    EXPECT_EQ(lines[7], "");
    EXPECT_EQ(lines[8], "");
    EXPECT_NE(lines[9].find("Readme.txt"), std::string::npos);
    EXPECT_EQ(lines[10], "");
    EXPECT_EQ(lines[11], "Please see Readme.txt for installation details");
}

}  // namespace
