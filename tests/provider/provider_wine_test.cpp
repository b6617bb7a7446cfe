// The hardware provider DLL as Windows software meets it: registered and unregistered by
// regsvr32 from every state the registry can be in, then called through CryptoAPI.
#include "test_support.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

namespace {

#define FOLDER "Provider Folder With A Long Name"  // whose 8.3 name differs
const std::string Dll = Beside(FOLDER "\\hwrngcsp.dll"), Other = "C:\\other\\hwrngcsp.dll";

const std::string Ours = TEST_PROVIDER_NAME, Another = "Other Provider";
std::string Upper(std::string text) { return CharUpperA(text.data()), text; }
std::string Short(const std::string& path)
{
    char name[MAX_PATH] = {};
    GetShortPathNameA(path.c_str(), name, MAX_PATH);
    return name;
}
// regsvr32's verdict, the provider's "Image Path" and Type 022's provider ("-" for none).
std::string State(bool succeeded, const std::string& image, const std::string& type)
{
    return (succeeded ? "ok " : "refused ") + image + " | " + type;
}

struct Registration {
    const char* name;
    std::string image, type;  // beforehand: "-" none, "" a key without values; Type 022's provider
    std::string registered, unregistered;  // the State after regsvr32 /s, then after regsvr32 /u /s
};

class Regsvr32 : public ::testing::TestWithParam<Registration> {};

TEST_P(Regsvr32, RegistersAndUnregistersOnlyWhatIsItsOwn)
{
    const Registration& c = GetParam();
    CreateDirectoryA(Beside(FOLDER).c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(Beside("hwrngcsp.dll").c_str(), Dll.c_str(), FALSE) && Short(Dll) != Dll);
    RemoveProvider();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ProviderTypeKey);
    ASSERT_TRUE(c.image == "-" || (c.image.empty() ? !RegSetKeyValueA(HKEY_LOCAL_MACHINE, ProviderKey, 0, REG_SZ, "", 1)
                                                   : RegisterProvider(c.image)));
    if (c.type != "-")
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, ProviderTypeKey, "Name", REG_SZ, c.type.c_str(), DWORD(c.type.size() + 1));
    const auto regsvr32 = [&](const char* options) {
        const bool ok = RunProgram("regsvr32.exe " + std::string(options) + " \"" + Dll + "\"") == 0;
        DWORD type = 22, size = sizeof type;  // a registration names provider type 22
        RegGetValueA(HKEY_LOCAL_MACHINE, ProviderKey, "Type", RRF_RT_REG_DWORD, nullptr, &type, &size);
        const std::string image = RegString(ProviderKey, "Image Path");
        return State(ok && type == 22, image, RegString(ProviderTypeKey, "Name"));
    };
    EXPECT_EQ(regsvr32("/s"), c.registered);
    EXPECT_EQ(regsvr32("/u /s"), c.unregistered);
}

const std::string Dots = Beside(FOLDER "\\..\\" FOLDER "\\hwrngcsp.dll"), Away = State(true, "-", "-");
const Registration Registrations[] = {
    {"Nothing", "-", "-", State(true, Dll, Ours), Away},
    {"OursAlready", Dll, Ours, State(true, Dll, Ours), Away},
    {"AnotherFile", Other, Another, State(false, Other, Another), State(false, Other, Another)},
    {"AnotherFileWithoutType", Other, "-", State(false, Other, "-"), State(false, Other, "-")},
    {"OursByItsShortName", Short(Dll), "-", State(true, Short(Dll), Ours), Away},
    {"OursInCapitals", Upper(Dll), "-", State(true, Upper(Dll), Ours), Away},
    {"OursThroughDotDot", Dots, "-", State(true, Dots, Ours), Away},
    {"AKeyWithoutValues", "", "-", State(true, Dll, Ours), Away},
    {"TypeHeldByAnotherProvider", "-", Another, State(true, Dll, Another), State(true, "-", Another)},
    {"TypeNamesOursWithoutAKey", "-", Ours, State(true, Dll, Ours), Away},
};
INSTANTIATE_TEST_SUITE_P(States, Regsvr32, ::testing::ValuesIn(Registrations),
                         [](const auto& row) { return row.param.name; });

// Also leaves 1 MiB of its output beside the test for the statistical test.
TEST(HardwareProvider, FillsExactlyWhatItIsAskedThroughCryptoApi)
{
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(RegisterProvider(Beside("hwrngcsp.dll")));
    ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, TEST_PROVIDER_NAME, 22, CRYPT_VERIFYCONTEXT));
    for (DWORD length = 1; length <= 17; ++length) {
        std::vector<BYTE> buffer(length + 9, 0xEE);
        ASSERT_TRUE(CryptGenRandom(provider, length, buffer.data() + 1));  // unaligned on purpose
        EXPECT_EQ(buffer[0] + buffer[length + 1] + buffer.back(), 3 * 0xEE) << "wrote outside " << length;
    }
    std::vector<BYTE> large(8 << 20);
    ASSERT_TRUE(CryptGenRandom(provider, DWORD(large.size()), large.data()) && CryptReleaseContext(provider, 0));
    const auto zeros = std::count(large.begin(), large.end(), 0);
    EXPECT_TRUE(zeros > 16384 && zeros < 65536) << zeros << " zero bytes in 8 MiB: expected about 32768";
    std::ofstream(Beside("provider-sample.bin"), std::ios::binary).write((const char*)large.data(), 1 << 20);
}

}  // namespace
