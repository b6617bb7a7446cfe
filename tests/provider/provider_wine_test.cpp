// The hardware provider DLL as Windows software meets it: registered with regsvr32,
// opened through CryptoAPI by name and type, and called directly with bad handles.
#include "test_support.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char Name[] = "Intel Hardware Cryptographic Service Provider";
const char TypeKey[] = "Software\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type 022";

std::string Dll() { return BesideThisProgram("hwrngcsp.dll"); }

long Regsvr32(const char* options)
{
    return RunProgram(std::string("regsvr32.exe ") + options + " \"" + Dll() + "\"", 60000);
}

DWORD ReadDword(const char* key, const char* name)
{
    DWORD value = 0xFFFFFFFF, size = sizeof value;
    RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

std::string ReadString(const char* key, const char* name)
{
    return RegistryString(key, name, "<missing>");
}

class HardwareProvider : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveHardwareProvider();
        ASSERT_EQ(Regsvr32("/s"), 0);
    }
    void TearDown() override { RemoveHardwareProvider(); }
};

TEST(ProviderRegistration, RegisterAndUnregisterWithRegsvr32)
{
    RemoveHardwareProvider();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, TypeKey);
    ASSERT_EQ(Regsvr32("/s"), 0);
    EXPECT_EQ(lstrcmpiA(ReadString(HardwareProviderKey, "Image Path").c_str(), Dll().c_str()), 0);
    EXPECT_EQ(ReadDword(HardwareProviderKey, "Type"), 22u);
    EXPECT_EQ(ReadDword(HardwareProviderKey, "SigInFile"), 0u);
    EXPECT_EQ(ReadString(TypeKey, "Name"), Name);

    ASSERT_EQ(Regsvr32("/s /u"), 0);
    EXPECT_EQ(ReadString(HardwareProviderKey, "Image Path"), "<missing>");
    EXPECT_EQ(ReadString(TypeKey, "Name"), "<missing>");
}

TEST(ProviderRegistration, LeavesWhatOthersRegisteredAlone)
{
    // Another DLL holds the provider name and another provider the type.
    ASSERT_TRUE(RegisterHardwareProvider("C:\\elsewhere\\other.dll"));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, TypeKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
    const char other[] = "Other Provider";
    RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(other), sizeof other);
    RegCloseKey(key);

    ASSERT_EQ(Regsvr32("/s /u"), 0);
    EXPECT_EQ(RegisteredProviderImage(), "C:\\elsewhere\\other.dll");
    ASSERT_EQ(Regsvr32("/s"), 0);
    EXPECT_EQ(ReadString(TypeKey, "Name"), "Other Provider");  // an existing type is not taken over
    ASSERT_EQ(Regsvr32("/s /u"), 0);
    EXPECT_EQ(RegisteredProviderImage(), "");
    EXPECT_EQ(ReadString(TypeKey, "Name"), "Other Provider");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, TypeKey);
}

TEST_F(HardwareProvider, AcquiresByNameAndTypeAndServesAnyLength)
{
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, Name, 22, 0)) << std::hex << GetLastError();
    for (DWORD length = 1; length <= 17; ++length) {
        std::vector<BYTE> buffer(length + 9, 0xEE);
        BYTE* out = buffer.data() + 1;  // unaligned on purpose
        ASSERT_TRUE(CryptGenRandom(provider, length, out)) << length;
        EXPECT_EQ(buffer[0], 0xEE);
        for (DWORD i = length + 1; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], 0xEE) << "wrote past a request of " << length;
    }
    std::vector<BYTE> large(8 << 20);
    ASSERT_TRUE(CryptGenRandom(provider, static_cast<DWORD>(large.size()), large.data()));
    std::size_t zeros = 0;
    for (BYTE b : large)
        zeros += b == 0;
    EXPECT_GT(zeros, large.size() / 256 / 2);  // not zeroed by a failure, and plausibly uniform
    EXPECT_LT(zeros, large.size() / 256 * 2);
    EXPECT_TRUE(CryptGenRandom(provider, 0, nullptr));  // nothing asked, nothing to do
    EXPECT_FALSE(CryptGenRandom(provider, 4, nullptr));

    char name[128] = {};
    DWORD size = sizeof name;
    ASSERT_TRUE(CryptGetProvParam(provider, PP_NAME, reinterpret_cast<BYTE*>(name), &size, 0));
    EXPECT_STREQ(name, Name);
    DWORD value = 0;
    size = sizeof value;
    ASSERT_TRUE(CryptGetProvParam(provider, PP_IMPTYPE, reinterpret_cast<BYTE*>(&value), &size, 0));
    EXPECT_EQ(value, static_cast<DWORD>(CRYPT_IMPL_HARDWARE));
    size = sizeof value;
    ASSERT_TRUE(CryptGetProvParam(provider, PP_PROVTYPE, reinterpret_cast<BYTE*>(&value), &size, 0));
    EXPECT_EQ(value, 22u);
    size = 1;
    EXPECT_FALSE(CryptGetProvParam(provider, PP_NAME, reinterpret_cast<BYTE*>(name), &size, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(size, sizeof Name);
    size = sizeof value;
    EXPECT_FALSE(CryptGetProvParam(provider, PP_KEYSET_SEC_DESCR, reinterpret_cast<BYTE*>(&value), &size, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_TYPE));

    HCRYPTHASH hash = 0;
    EXPECT_FALSE(CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST_F(HardwareProvider, WrongTypeAndFlags)
{
    HCRYPTPROV provider = 0;
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, Name, PROV_RSA_FULL, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH));

    ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, Name, 22, CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, Name, 22, CRYPT_NEWKEYSET));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_EXISTS));
    EXPECT_TRUE(CryptAcquireContextA(&provider, nullptr, Name, 22, CRYPT_DELETEKEYSET));
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, Name, 22, 0x00000400));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_FLAGS));
}

// Straight into the DLL, past advapi32's own handle checks.
TEST_F(HardwareProvider, RefusesHandlesItDidNotGive)
{
    const HMODULE dll = LoadLibraryA(Dll().c_str());
    ASSERT_NE(dll, nullptr);
    using Acquire = BOOL(WINAPI*)(HCRYPTPROV*, LPSTR, DWORD, void*);
    using Release = BOOL(WINAPI*)(HCRYPTPROV, DWORD);
    using Gen = BOOL(WINAPI*)(HCRYPTPROV, DWORD, BYTE*);
    const auto acquire = reinterpret_cast<Acquire>(reinterpret_cast<void*>(GetProcAddress(dll, "CPAcquireContext")));
    const auto release = reinterpret_cast<Release>(reinterpret_cast<void*>(GetProcAddress(dll, "CPReleaseContext")));
    const auto gen = reinterpret_cast<Gen>(reinterpret_cast<void*>(GetProcAddress(dll, "CPGenRandom")));
    ASSERT_TRUE(acquire && release && gen);

    HCRYPTPROV handle = 0;
    ASSERT_TRUE(acquire(&handle, nullptr, 0, nullptr));
    BYTE buffer[16];
    EXPECT_TRUE(gen(handle, sizeof buffer, buffer));
    for (HCRYPTPROV bad : {HCRYPTPROV{0}, HCRYPTPROV{12345}, handle + 0x100, handle ^ 0xFF000000u}) {
        EXPECT_FALSE(gen(bad, sizeof buffer, buffer)) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
    }
    EXPECT_TRUE(release(handle, 0));
    EXPECT_FALSE(gen(handle, sizeof buffer, buffer)) << "a released handle is stale";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
    EXPECT_FALSE(release(handle, 0));
    FreeLibrary(dll);
}

DWORD WINAPI Hammer(void* parameter)
{
    LONG* failures = static_cast<LONG*>(parameter);
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, Name, 22, 0))
        return InterlockedIncrement(failures), 0;
    std::vector<BYTE> buffer(4096);
    for (int i = 0; i < 500; ++i)
        if (!CryptGenRandom(provider, static_cast<DWORD>(buffer.size()), buffer.data()))
            InterlockedIncrement(failures);
    CryptReleaseContext(provider, 0);
    return 0;
}

TEST_F(HardwareProvider, TwoThreadsAtOnce)
{
    LONG failures = 0;
    HANDLE threads[2];
    for (HANDLE& t : threads)
        t = CreateThread(nullptr, 0, Hammer, &failures, 0, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 60000), WAIT_OBJECT_0);
    for (HANDLE t : threads)
        CloseHandle(t);
    EXPECT_EQ(failures, 0);
}

}  // namespace
