// The hardware provider DLL as Windows software meets it: registered and unregistered by
// regsvr32 from every state the registry can be in, then called through CryptoAPI.
#include "test_support.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <tuple>
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

// The provider's own entry points, called directly as advapi32 calls them, so that its
// own checks are what answers: handles, flags and the size protocol of CPGetProvParam.
typedef BOOL(WINAPI* AcquireFn)(HCRYPTPROV*, LPSTR, DWORD, void*);
typedef BOOL(WINAPI* ReleaseFn)(HCRYPTPROV, DWORD);
typedef BOOL(WINAPI* GenFn)(HCRYPTPROV, DWORD, BYTE*);
typedef BOOL(WINAPI* ParamFn)(HCRYPTPROV, DWORD, BYTE*, DWORD*, DWORD);
struct Entry {
    HMODULE dll = LoadLibraryA(Beside("hwrngcsp.dll").c_str());
    template <typename F>
    F Get(const char* name) const
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    }
    AcquireFn acquire = Get<AcquireFn>("CPAcquireContext");
    ReleaseFn release = Get<ReleaseFn>("CPReleaseContext");
    GenFn gen = Get<GenFn>("CPGenRandom");
    ParamFn param = Get<ParamFn>("CPGetProvParam");
};

// A call's result as "TRUE", or "FALSE <last error in hex>".
std::string Outcome(BOOL ok)
{
    char text[32];
    wsprintfA(text, ok ? "TRUE" : "FALSE 0x%08lX", GetLastError());
    return text;
}
std::string Code(HRESULT code) { return Outcome((SetLastError(DWORD(code)), FALSE)); }

TEST(ProviderEntry, AcquireTakesTheFlagsCryptoApiDocuments)
{
    const Entry p;
    ASSERT_TRUE(p.acquire && p.release && p.gen && p.param);
    char container[] = "box", empty[] = "";
    const std::tuple<DWORD, char*, std::string> rows[] = {
        {0, nullptr, "TRUE"},
        {CRYPT_VERIFYCONTEXT, nullptr, "TRUE"},
        {CRYPT_VERIFYCONTEXT, empty, "TRUE"},
        {CRYPT_VERIFYCONTEXT | CRYPT_SILENT | CRYPT_MACHINE_KEYSET, nullptr, "TRUE"},
        {CRYPT_VERIFYCONTEXT, container, Code(NTE_BAD_FLAGS)},
        {CRYPT_NEWKEYSET, nullptr, Code(NTE_EXISTS)},
        {0x1000, nullptr, Code(NTE_BAD_FLAGS)},
    };
    for (const auto& [flags, name, expected] : rows) {
        HCRYPTPROV handle = 0;
        const std::string outcome = Outcome(p.acquire(&handle, name, flags, nullptr));
        EXPECT_EQ(outcome, expected) << "flags 0x" << std::hex << flags;
        if (outcome == "TRUE") {
            EXPECT_EQ(Outcome(p.release(handle, 0)), "TRUE");
        }
    }
    HCRYPTPROV handle = 1;
    const std::string deleted = Outcome(p.acquire(&handle, nullptr, CRYPT_DELETEKEYSET, nullptr));
    EXPECT_EQ(deleted + " " + std::to_string(handle), "TRUE 0") << "nothing to delete, and no handle";
    EXPECT_EQ(Outcome(p.acquire(nullptr, nullptr, 0, nullptr)), Code(ERROR_INVALID_PARAMETER));
}

TEST(ProviderEntry, OnlyAnOpenHandleIsServedAndEveryOtherIsRefused)
{
    const Entry p;
    HCRYPTPROV open = 0, stale = 0;
    ASSERT_TRUE(p.acquire(&stale, nullptr, 0, nullptr) && p.release(stale, 0));
    ASSERT_TRUE(p.acquire(&open, nullptr, 0, nullptr));  // very likely where the stale one was
    EXPECT_NE(open, stale) << "a released handle is not given out again as it was";
    BYTE byte = 0;
    const HCRYPTPROV handles[] = {open, stale, 0, 1, open + 256, open ^ 0xFF, ~open};
    for (HCRYPTPROV handle : handles) {
        const std::string expected = handle == open ? "TRUE" : Code(NTE_BAD_UID);
        EXPECT_EQ(Outcome(p.gen(handle, 1, &byte)), expected) << handle;
        DWORD size = 0;
        EXPECT_EQ(Outcome(p.param(handle, PP_PROVTYPE, nullptr, &size, 0)), expected) << handle;
    }
    EXPECT_EQ(Outcome(p.release(open, 0)), "TRUE");
    EXPECT_EQ(Outcome(p.release(open, 0)), Code(NTE_BAD_UID)) << "released twice";
    EXPECT_EQ(Outcome(p.gen(open, 1, &byte)), Code(NTE_BAD_UID)) << "used after release";
}

TEST(ProviderEntry, AFullTableOfHandlesRefusesWithNoMemoryUntilOneIsReleased)
{
    const Entry p;
    std::vector<HCRYPTPROV> handles;
    HCRYPTPROV handle = 0;
    while (handles.size() < 100000 && p.acquire(&handle, nullptr, 0, nullptr))
        handles.push_back(handle);
    EXPECT_EQ(Outcome(FALSE), Code(NTE_NO_MEMORY)) << "after " << handles.size() << " handles";
    ASSERT_FALSE(handles.empty());
    EXPECT_EQ(Outcome(p.release(handles.back(), 0)), "TRUE");
    EXPECT_EQ(Outcome(p.acquire(&handles.back(), nullptr, 0, nullptr)), "TRUE") << "a released place is used again";
    for (HCRYPTPROV h : handles)
        p.release(h, 0);
}

// The size protocol: a null buffer asks for the size, a short one gets ERROR_MORE_DATA
// and the size, one large enough gets the value and its size.
TEST(ProviderEntry, ParametersFollowTheSizeProtocol)
{
    const Entry p;
    HCRYPTPROV handle = 0;
    ASSERT_TRUE(p.acquire(&handle, nullptr, CRYPT_VERIFYCONTEXT, nullptr));
    const std::string name = TEST_PROVIDER_NAME + std::string(1, '\0');
    const DWORD type = 22, hardware = CRYPT_IMPL_HARDWARE;
    struct Row {
        DWORD param, flags;
        std::string value;  // the bytes it answers; "" for a failure
        HRESULT error;
    };
    const Row rows[] = {
        {PP_NAME, 0, name, 0},
        {PP_PROVTYPE, 0, std::string(reinterpret_cast<const char*>(&type), 4), 0},
        {PP_IMPTYPE, 0, std::string(reinterpret_cast<const char*>(&hardware), 4), 0},
        {PP_ENUMCONTAINERS, CRYPT_FIRST, "", ERROR_NO_MORE_ITEMS},
        {PP_KEYSET_SEC_DESCR, 0, "", NTE_BAD_TYPE},
        {PP_NAME, 0x10, "", NTE_BAD_FLAGS},
    };
    for (const Row& row : rows) {
        const DWORD size = DWORD(row.value.size());
        DWORD asked = 12345, shortSize = size - 1, fullSize = size + 8;
        std::string shortBuffer(size, '#'), full(fullSize, '#');
        if (row.error) {
            EXPECT_EQ(Outcome(p.param(handle, row.param, nullptr, &asked, row.flags)), Code(row.error)) << row.param;
            continue;
        }
        const std::string sized = Outcome(p.param(handle, row.param, nullptr, &asked, row.flags));
        EXPECT_EQ(sized + " " + std::to_string(asked), "TRUE " + std::to_string(size)) << row.param;
        const std::string cut = Outcome(p.param(handle, row.param, reinterpret_cast<BYTE*>(shortBuffer.data()),
                                                &shortSize, 0));
        EXPECT_EQ(cut + " " + std::to_string(shortSize) + " " + shortBuffer,
                  Code(ERROR_MORE_DATA) + " " + std::to_string(size) + " " + std::string(size, '#'))
            << row.param << ": nothing written";
        EXPECT_EQ(Outcome(p.param(handle, row.param, reinterpret_cast<BYTE*>(full.data()), &fullSize, 0)), "TRUE");
        EXPECT_EQ(full.substr(0, fullSize) + "|" + full.substr(fullSize), row.value + "|" + std::string(8, '#'))
            << row.param;
    }
    EXPECT_EQ(Outcome(p.param(handle, PP_NAME, nullptr, nullptr, 0)), Code(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Outcome(p.release(handle, 0)), "TRUE");
}

}  // namespace
