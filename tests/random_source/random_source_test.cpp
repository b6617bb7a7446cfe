// The random source against the fake provider registered in the private Wine prefix:
// one acquire, one request of exactly the asked size and one release per call, and the
// error text for each way it can fail.
#include "hardware_random_source.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class RandomSource : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_ = BesideThisProgram("random_source_test.log");
        DeleteFileA(log_.c_str());
        SetEnvironmentVariableA("FAKECSP_LOG", log_.c_str());
        SetEnvironmentVariableA("FAKECSP_BYTES", nullptr);
        SetEnvironmentVariableA("FAKECSP_ACQUIRE_ERROR", nullptr);
        SetEnvironmentVariableA("FAKECSP_GEN_ERROR", nullptr);
        ASSERT_TRUE(RegisterHardwareProvider(BesideThisProgram("fakecsp.dll")));
    }
    void TearDown() override
    {
        RemoveHardwareProvider();
        SetEnvironmentVariableA("FAKECSP_LOG", nullptr);
        DeleteFileA(log_.c_str());
    }
    std::string Calls() const { return ReadWholeFile(log_); }
    static std::string Describe()
    {
        char text[ErrorTextSize];
        std::memset(text, 'X', sizeof text);
        DescribeLastError(text);
        return text;
    }
    std::string log_;
};

TEST_F(RandomSource, OneAcquireOneRequestOneReleasePerCall)
{
    SetEnvironmentVariableA("FAKECSP_BYTES", "000BFF0580");
    std::vector<BYTE> block(7, 0xCC);
    ASSERT_TRUE(FillRandomBytes(5, block.data()));
    EXPECT_EQ(std::vector<BYTE>(block.begin(), block.begin() + 5), (std::vector<BYTE>{0x00, 0x0B, 0xFF, 0x05, 0x80}));
    EXPECT_EQ(block[5], 0xCC);
    EXPECT_EQ(Calls(), "acquire 0\ngen 5\nrelease\n");

    ASSERT_TRUE(FillRandomBytes(100000, std::vector<BYTE>(100000).data()));
    EXPECT_EQ(Calls(), "acquire 0\ngen 5\nrelease\nacquire 0\ngen 100000\nrelease\n");
}

TEST_F(RandomSource, MissingProviderNamesTheCode)
{
    RemoveHardwareProvider();
    BYTE byte = 0;
    SetLastError(0);
    EXPECT_FALSE(FillRandomBytes(1, &byte));
    const DWORD code = GetLastError();
    EXPECT_EQ(code, 0x80090019u);  // Wine: no provider of that name
    SetLastError(code);
    EXPECT_EQ(Describe(),
              "Error 0x80090019: The hardware random number provider is not installed (no provider of that name is "
              "registered).\r\n");
    EXPECT_EQ(Calls(), "");
}

TEST_F(RandomSource, WrongProviderTypeIsRefusedBeforeTheProviderIsCalled)
{
    ASSERT_TRUE(RegisterHardwareProvider(BesideThisProgram("fakecsp.dll"), 1));
    BYTE byte = 0;
    EXPECT_FALSE(FillRandomBytes(1, &byte));
    const std::string text = (SetLastError(GetLastError()), Describe());
    EXPECT_EQ(text.rfind("Error 0x8009001B: ", 0), 0u) << text;
    EXPECT_EQ(Calls(), "");
}

TEST_F(RandomSource, AcquireFailureWithACodeTheSystemHasTextFor)
{
    SetEnvironmentVariableA("FAKECSP_ACQUIRE_ERROR", "5");
    BYTE byte = 0;
    EXPECT_FALSE(FillRandomBytes(1, &byte));
    EXPECT_EQ(GetLastError(), 5u);
    const std::string text = Describe();
    EXPECT_EQ(text.rfind("Access denied", 0), 0u) << text;  // the system's own words, passed on unchanged
    EXPECT_NE(text.find('\n'), std::string::npos) << "the system's line break is kept";
    EXPECT_EQ(Calls(), "acquire 0\n");  // nothing to release after a failed acquire
}

TEST_F(RandomSource, AcquireFailureWithACodeTheSystemHasNoTextFor)
{
    SetEnvironmentVariableA("FAKECSP_ACQUIRE_ERROR", "0x80090035");
    BYTE byte = 0;
    EXPECT_FALSE(FillRandomBytes(1, &byte));
    EXPECT_EQ(Describe(), "Error 0x80090035: No hardware random number generator was found on this computer.\r\n");
}

TEST_F(RandomSource, RequestFailureStillReleasesAndKeepsTheRequestsCode)
{
    // The fake provider clears the last error when it is released.
    SetEnvironmentVariableA("FAKECSP_GEN_ERROR", "0x80090030");
    std::vector<BYTE> block(3);
    EXPECT_FALSE(FillRandomBytes(3, block.data()));
    EXPECT_EQ(GetLastError(), 0x80090030u);
    EXPECT_EQ(Describe(), "Error 0x80090030: The hardware random number generator is not ready.\r\n");
    EXPECT_EQ(Calls(), "acquire 0\ngen 3\nrelease\n");
}

TEST(ErrorText, UnknownCodeStillGivesATerminatedText)
{
    SetLastError(0xA0001234);
    char text[ErrorTextSize];
    std::memset(text, 'X', sizeof text);
    DescribeLastError(text);
    EXPECT_STREQ(text, "Error 0xA0001234: The system has no text for this error.\r\n");
}

TEST(ErrorText, LongTextIsCutAndTerminated)
{
    const std::string longText(400, 'a');
    char text[ErrorTextSize];
    CopyErrorText(longText.c_str(), text);
    EXPECT_EQ(std::string(text), std::string(ErrorTextSize - 1, 'a'));
    CopyErrorText("short", text);
    EXPECT_STREQ(text, "short");
}

}  // namespace
