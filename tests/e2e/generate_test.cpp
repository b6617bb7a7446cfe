// The Generate command end to end: what the fields show at every way out of a run,
// what the provider is asked for, and what lands in the output file.
#include "harness.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char Warning[] =
    "WARNING|Random Number Generation execution time\n"
    "is dependent upon number of RNs generated.\n"
    "Press OK to begin generation or Cancel to quit.\n";

// Quorvel with the recording fake provider as its hardware.
class Generate : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_ = ScratchPath("generate_calls.log");
        SetEnvironmentVariableA("FAKECSP_LOG", log_.c_str());
        for (const char* name : {"FAKECSP_BYTES", "FAKECSP_ACQUIRE_ERROR", "FAKECSP_GEN_ERROR"})
            SetEnvironmentVariableA(name, nullptr);
        ASSERT_TRUE(RegisterHardwareProvider(BesideThisProgram("fakecsp.dll")));
    }
    void TearDown() override
    {
        Stop(&app_);
        RemoveHardwareProvider();
        SetEnvironmentVariableA("FAKECSP_LOG", nullptr);
    }
    void Launch() { ASSERT_TRUE(Start(&app_)); }
    std::string Calls() const { return ReadWholeFile(log_); }
    // A run that opens no box.
    void Run()
    {
        ASSERT_TRUE(PressAndWait(app_, IDOK));
        EXPECT_EQ(FieldText(app_, IDC_STATUS), "Ready");
    }
    // A run that opens boxes; answers each with the given button and returns what they said.
    std::string RunAnswering(std::initializer_list<int> buttons)
    {
        Press press = PressAsync(app_, IDOK);
        std::string seen;
        for (int button : buttons)
            seen += AnswerNextBox(app_, button) + "#";
        EXPECT_TRUE(Finish(&press));
        return seen;
    }
    void Settings(const char* count, const char* minimum, const char* maximum, const char* delimiter = "")
    {
        SetFieldText(app_, IDC_COUNT, count);
        SetFieldText(app_, IDC_DEC_MIN, minimum);
        SetFieldText(app_, IDC_DEC_MAX, maximum);
        SetFieldText(app_, IDC_DELIMITER, delimiter);
    }
    App app_;
    std::string log_;
};

bool IsElapsed(const std::string& text)
{
    const std::size_t blank = text.find(' ');
    return blank != std::string::npos && blank > 0 && text.substr(blank) == " Seconds" &&
           text.find_first_not_of("0123456789") == blank;
}

TEST_F(Generate, DefaultSettingsGiveOneHundredValuesFromOneRequest)
{
    Launch();
    Run();
    // The fake hardware serves 0, 1, 2, ...; the default range 0..10 maps byte i to i mod 11.
    std::string expected;
    for (int i = 0; i < 100; ++i)
        expected += std::to_string(i % 11);
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), expected);
    EXPECT_TRUE(IsElapsed(FieldText(app_, IDC_ELAPSED))) << FieldText(app_, IDC_ELAPSED);
    EXPECT_EQ(Calls(), "acquire 0\ngen 100\nrelease\n");
}

TEST_F(Generate, WorkedExampleWritesTheTextAndOneZeroByte)
{
    SetEnvironmentVariableA("FAKECSP_BYTES", "000BFF0580");
    Launch();
    const std::string file = ScratchPath("worked.txt");
    Settings("5", "0", "10", ",");
    SetFieldText(app_, IDC_OUTPUT_PATH, file);
    Run();
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "0,0,2,5,7");
    EXPECT_EQ(ReadWholeFile(file), std::string("0,0,2,5,7\0", 10));
    EXPECT_EQ(Calls(), "acquire 0\ngen 5\nrelease\n");
}

TEST_F(Generate, BaseIsTheTopItemOfTheListNotTheSelection)
{
    SetEnvironmentVariableA("FAKECSP_BYTES", "FF05AB");
    Launch();
    Settings("3", "0", "255", " ");
    const HWND list = Control(app_, IDC_BASE_LIST);
    SendMessageA(list, LB_SETCURSEL, 0, 0);        // base 2 selected...
    SendMessageA(list, LB_SETTOPINDEX, 14, 0);     // ...but 16 at the top
    Run();
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "ff 5 ab");
    SendMessageA(list, LB_SETTOPINDEX, 34, 0);     // 36
    Run();
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "73 5 4r");
}

TEST_F(Generate, FieldsAreReadByTheirFirstNineCharacters)
{
    Launch();
    // "  3xyz" counts 3; a 12-character delimiter is used by its first 9.
    Settings("  3xyz", "+0", "0255", "abcdefghijkl");
    Run();
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "0abcdefghi1abcdefghi2");
    // Thirteen digits are read as the first nine, which needs confirmation.
    SetFieldText(app_, IDC_COUNT, "1234567890123");
    EXPECT_EQ(RunAnswering({IDCANCEL}), std::string(Warning) + "#");
}

TEST_F(Generate, WarningDeclinedRequestsNothing)
{
    Launch();
    Run();  // leaves output and elapsed time to be cleared
    const std::string file = ScratchPath("declined.txt");
    SetFieldText(app_, IDC_OUTPUT_PATH, file);
    SetFieldText(app_, IDC_COUNT, "10001");
    EXPECT_EQ(RunAnswering({IDCANCEL}), std::string(Warning) + "#");
    EXPECT_EQ(FieldText(app_, IDC_STATUS), "Ready");
    EXPECT_EQ(FieldText(app_, IDC_ELAPSED), "Cancelled");
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "");
    EXPECT_EQ(Calls(), "acquire 0\ngen 100\nrelease\n") << "no second request";
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "no file touched";
}

TEST_F(Generate, WarningAcceptedThenTheRunGoesAhead)
{
    Launch();
    // Line feeds keep Wine's wrapping output box fast on large texts.
    Settings("10001", "0", "255", "\n");
    EXPECT_EQ(RunAnswering({IDOK}), std::string(Warning) + "#");
    std::string expected;
    for (int i = 0; i < 10001; ++i)
        expected += (i ? "\n" : "") + std::to_string(i % 256);
    std::string difference;
    EXPECT_TRUE(SameText(FieldText(app_, IDC_OUTPUT), expected, &difference)) << difference;
    EXPECT_EQ(Calls(), "acquire 0\ngen 10001\nrelease\n");
}

TEST_F(Generate, TenThousandRunsWithoutAsking)
{
    Launch();
    Settings("10000", "0", "10", "\n");
    Run();
    EXPECT_EQ(WaitForBox(app_, 200), nullptr);
    EXPECT_EQ(Calls(), "acquire 0\ngen 10000\nrelease\n");
}

TEST_F(Generate, BoundErrorsLeaveTheLastRunStanding)
{
    Launch();
    Run();
    const std::string output = FieldText(app_, IDC_OUTPUT);
    const std::string elapsed = FieldText(app_, IDC_ELAPSED);
    struct Case {
        const char* minimum;
        const char* maximum;
        const char* message;
    } cases[] = {
        {"256", "10", "ERROR|Dec. Min. Must be between 0 and 255!#"},
        {"0", "-1", "ERROR|Dec. Max. Must be between 0 and 255!#"},
        {"300", "-1", "ERROR|Dec. Min. Must be between 0 and 255!#"},  // only the minimum is told
        {"11", "10", "ERROR|Dec. Max. Must not be less than Dec. Min.!#"},
    };
    for (const Case& c : cases) {
        Settings("100", c.minimum, c.maximum);
        EXPECT_EQ(RunAnswering({IDOK}), c.message);
        EXPECT_EQ(WaitForBox(app_, 200), nullptr) << "one message per run";
        EXPECT_EQ(FieldText(app_, IDC_STATUS), "Ready");
        EXPECT_EQ(FieldText(app_, IDC_OUTPUT), output);
        EXPECT_EQ(FieldText(app_, IDC_ELAPSED), elapsed);
    }
    EXPECT_EQ(Calls(), "acquire 0\ngen 100\nrelease\n") << "no request after a bad bound";
}

TEST_F(Generate, BoundErrorAfterAConfirmedWarning)
{
    Launch();
    Run();
    Settings("10001", "300", "10");
    EXPECT_EQ(RunAnswering({IDOK, IDOK}), std::string(Warning) + "#ERROR|Dec. Min. Must be between 0 and 255!#");
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "");
    EXPECT_EQ(FieldText(app_, IDC_ELAPSED), "");
    EXPECT_EQ(FieldText(app_, IDC_STATUS), "Ready");
}

TEST_F(Generate, CountBelowOneIsRefused)
{
    Launch();
    for (const char* count : {"0", "-5", "abc"}) {
        SetFieldText(app_, IDC_COUNT, count);
        EXPECT_EQ(RunAnswering({IDOK}), "ERROR|Number of Zintars Must be at least 1!#") << count;
    }
    EXPECT_EQ(Calls(), "");
}

TEST_F(Generate, CountTooLargeToReserveIsRefusedAndTheNextRunWorks)
{
    Launch();
    const std::string file = ScratchPath("huge.txt");
    SetFieldText(app_, IDC_OUTPUT_PATH, file);
    Settings("999999999", "0", "255", "123456789");
    EXPECT_EQ(RunAnswering({IDOK, IDOK}), std::string(Warning) + "#ERROR|Not enough memory for that Number of Zintars!#");
    EXPECT_EQ(FieldText(app_, IDC_STATUS), "Ready");
    EXPECT_EQ(Calls(), "") << "nothing requested";
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "no file written";
    Settings("3", "0", "10");
    Run();
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "012");
    EXPECT_EQ(ReadWholeFile(file), std::string("012\0", 4));
}

TEST_F(Generate, FileIsReplacedByEveryRunAndNotWrittenWithoutAPath)
{
    Launch();
    const std::string file = ScratchPath("replaced.txt");
    SetFieldText(app_, IDC_OUTPUT_PATH, file);
    Settings("5", "0", "255", ",");
    Run();
    EXPECT_EQ(ReadWholeFile(file), std::string("0,1,2,3,4\0", 10));
    Settings("2", "0", "255", ",");
    Run();
    EXPECT_EQ(ReadWholeFile(file), std::string("0,1\0", 4)) << "only the second run's text and its zero byte";

    SetFieldText(app_, IDC_OUTPUT_PATH, "");
    DeleteFileA(file.c_str());
    Run();
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Calls(), "acquire 0\ngen 5\nrelease\nacquire 0\ngen 2\nrelease\nacquire 0\ngen 2\nrelease\n");
}

TEST_F(Generate, UnwritableFileIsReportedAndTheRunStillCounts)
{
    Launch();
    // A folder where the file should be, and a folder that does not exist. (A read-only
    // file is no test here: Wine running as root writes it anyway.)
    const std::string folder = BesideThisProgram("");
    const std::string missingFolder = BesideThisProgram("no-such-folder\\out.txt");
    for (const std::string& path : {folder, missingFolder}) {
        SetFieldText(app_, IDC_OUTPUT_PATH, path);
        Settings("3", "0", "10", ";");
        const std::string seen = RunAnswering({IDOK});
        EXPECT_EQ(seen.rfind("ERROR|The output file could not be written:\n" + path + "\n\n", 0), 0u) << seen;
        EXPECT_GT(seen.size(), ("ERROR|The output file could not be written:\n" + path + "\n\n#").size())
            << "the system's reason follows";
        EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "0;1;2");
        EXPECT_TRUE(IsElapsed(FieldText(app_, IDC_ELAPSED)));
        EXPECT_EQ(FieldText(app_, IDC_STATUS), "Ready");
    }
}

TEST_F(Generate, FailedRequestShowsTheErrorAndWritesNoFile)
{
    SetEnvironmentVariableA("FAKECSP_GEN_ERROR", "0x80090030");
    Launch();
    const std::string file = ScratchPath("failed.txt");
    SetFieldText(app_, IDC_OUTPUT_PATH, file);
    Run();
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "Error 0x80090030: The hardware random number generator is not ready.\r\n");
    EXPECT_TRUE(IsElapsed(FieldText(app_, IDC_ELAPSED)));
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Calls(), "acquire 0\ngen 100\nrelease\n") << "released after the failed request";
}

TEST_F(Generate, MissingProviderShowsTheSystemsText)
{
    Launch();
    RemoveHardwareProvider();
    Run();
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT),
              "Error 0x80090019: The hardware random number provider is not installed (no provider of that name is "
              "registered).\r\n");
    EXPECT_TRUE(IsElapsed(FieldText(app_, IDC_ELAPSED)));
    EXPECT_EQ(FieldText(app_, IDC_STATUS), "Ready");
}

}  // namespace
