// Quorvel as a user installs it from the zip: the provider registered with regsvr32 from
// the unpacked folder, one Generate run against the real hardware provider.
#include "harness.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

TEST(InstalledFromZip, GeneratesWithTheRegisteredHardwareProvider)
{
    const char* exe = std::getenv("QUORVEL_EXE");
    ASSERT_NE(exe, nullptr) << "run by zip_install_test.sh";
    std::string folder(exe);
    folder.erase(folder.find_last_of('\\') + 1);
    EXPECT_EQ(lstrcmpiA(RegisteredProviderImage().c_str(), (folder + "hwrngcsp.dll").c_str()), 0)
        << RegisteredProviderImage();

    App app;
    ASSERT_TRUE(Start(&app));
    const std::string file = folder + "numbers.txt";
    SetFieldText(app, IDC_COUNT, "1000");
    SetFieldText(app, IDC_DEC_MIN, "0");
    SetFieldText(app, IDC_DEC_MAX, "255");
    SetFieldText(app, IDC_DELIMITER, "\n");
    SetFieldText(app, IDC_OUTPUT_PATH, file);
    SendMessageA(Control(app, IDC_BASE_LIST), LB_SETTOPINDEX, 14, 0);  // base 16
    ASSERT_TRUE(PressAndWait(app, IDOK));

    const std::string text = FieldText(app, IDC_OUTPUT);
    std::set<long> distinct;
    std::size_t values = 0;
    for (std::size_t start = 0; start <= text.size(); ++values) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string value = text.substr(start, end - start);
        ASSERT_FALSE(value.empty());
        ASSERT_EQ(value.find_first_not_of("0123456789abcdef"), std::string::npos) << value;
        ASSERT_TRUE(value.size() == 1 || value[0] != '0') << "no leading zero: " << value;
        distinct.insert(std::strtol(value.c_str(), nullptr, 16));
        start = end + 1;
    }
    EXPECT_EQ(values, 1000u) << text.substr(0, 200);
    EXPECT_GT(distinct.size(), 200u) << "1000 random bytes cover most of the 256 values";
    EXPECT_EQ(ReadWholeFile(file), text + '\0');
    EXPECT_EQ(FieldText(app, IDC_STATUS), "Ready");
    EXPECT_NE(FieldText(app, IDC_ELAPSED).find(" Seconds"), std::string::npos);

    ASSERT_TRUE(PressAndWait(app, IDCANCEL));
    EXPECT_EQ(WaitForExit(&app), 0u);
    Stop(&app);
}

}  // namespace
