// The hardware provider DLL as Windows software meets it: registered and unregistered by
// regsvr32 from every state the registry can be in, then called through CryptoAPI.
#include "test_support.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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
        const bool ok = RunProgram(Wide("regsvr32.exe " + std::string(options) + " \"" + Dll + "\"")) == 0;
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

// A folder named outside the ANSI code page: registered by its own name, which CryptoAPI
// then loads the provider from, and unregistered again.
TEST(Registration, AFolderNamedOutsideTheCodePageIsRegisteredByItsOwnName)
{
    const std::wstring folder = Wide(Beside("")) + L"Provider \u03A9 \u4E2D", dll = folder + L"\\hwrngcsp.dll";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(Wide(Beside("hwrngcsp.dll")).c_str(), dll.c_str(), FALSE));
    RemoveProvider();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ProviderTypeKey);
    const auto image = [] {
        wchar_t path[MAX_PATH] = {};
        DWORD size = sizeof path;
        RegGetValueW(HKEY_LOCAL_MACHINE, Wide(ProviderKey).c_str(), L"Image Path", RRF_RT_REG_SZ, nullptr, path, &size);
        return std::wstring(path);
    };
    ASSERT_EQ(RunProgram(L"regsvr32.exe /s \"" + dll + L"\""), 0);
    EXPECT_TRUE(image() == dll) << "registered another path";
    HCRYPTPROV provider = 0;
    EXPECT_TRUE(CryptAcquireContextW(&provider, nullptr, Wide(TEST_PROVIDER_NAME).c_str(), 22, CRYPT_VERIFYCONTEXT))
        << std::hex << GetLastError();
    BYTE bytes[16] = {};
    EXPECT_TRUE(provider && CryptGenRandom(provider, sizeof bytes, bytes) && CryptReleaseContext(provider, 0));
    EXPECT_EQ(RunProgram(L"regsvr32.exe /u /s \"" + dll + L"\""), 0);
    EXPECT_TRUE(image().empty()) << "left registered";
}

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

TEST(ProviderEntry, TenThousandContextsAtOnceAreAllDistinct)
{
    const Entry p;
    std::vector<HCRYPTPROV> handles(10000);
    std::size_t opened = 0;
    while (opened < handles.size() && p.acquire(&handles[opened], nullptr, 0, nullptr))
        ++opened;
    EXPECT_EQ(opened, handles.size()) << Outcome(FALSE);
    std::vector<HCRYPTPROV> sorted(handles.begin(), handles.begin() + opened);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a handle given out twice";
    std::size_t released = 0;
    for (std::size_t i = 0; i < opened; ++i)
        released += p.release(handles[i], 0);
    EXPECT_EQ(released, opened);
}

// The size protocol: a null buffer asks for the size, a short one gets ERROR_MORE_DATA
// and the size, one large enough gets the value and its size.
TEST(ProviderEntry, ParametersFollowTheSizeProtocol)
{
    const Entry p;
    HCRYPTPROV handle = 0;
    char container[] = "Quorvel's container";
    ASSERT_TRUE(p.acquire(&handle, container, 0, nullptr));
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
        {PP_CONTAINER, 0, container + std::string(1, '\0'), 0},
        {PP_UNIQUE_CONTAINER, 0, container + std::string(1, '\0'), 0},
        {PP_ENUMCONTAINERS, CRYPT_FIRST, "", ERROR_NO_MORE_ITEMS},
        {PP_ENUMALGS, CRYPT_FIRST, "", ERROR_NO_MORE_ITEMS},
        {PP_ENUMALGS, 0, "", ERROR_NO_MORE_ITEMS},
        {PP_ENUMALGS_EX, CRYPT_FIRST, "", ERROR_NO_MORE_ITEMS},
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

// One request on a thread of its own.
struct Request {
    GenFn gen;
    HCRYPTPROV provider;
    BYTE* buffer;
    DWORD length;
    BOOL ok = FALSE;
};
DWORD g_faultingThread;
DWORD WINAPI Serve(void* request)
{
    Request& r = *static_cast<Request*>(request);
    r.ok = r.gen(r.provider, r.length, r.buffer);
    return 1;
}
DWORD WINAPI ServeAndFault(void* request)
{
    g_faultingThread = GetCurrentThreadId();
    return Serve(request);
}
// A caller that survives a fault in its buffer, as structured exception handling lets it:
// here the faulting thread simply ends, exit code 0.
LONG CALLBACK EndTheFaultingThread(EXCEPTION_POINTERS* e)
{
    if (e->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && GetCurrentThreadId() == g_faultingThread)
        ExitThread(0);
    return EXCEPTION_CONTINUE_SEARCH;
}

class CarelessCallers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(p.gen && p.acquire(&provider, nullptr, CRYPT_VERIFYCONTEXT, nullptr)); }
    void TearDown() override { p.release(provider, 0); }
    // The thread's exit code, or 99 when it did not end in time (it is then ended).
    static DWORD Finish(HANDLE thread)
    {
        DWORD code = 99;
        if (WaitForSingleObject(thread, WaitMs) == WAIT_OBJECT_0)
            GetExitCodeThread(thread, &code);
        else
            TerminateThread(thread, 99);
        CloseHandle(thread);
        return code;
    }
    const Entry p;
    HCRYPTPROV provider = 0;
};

TEST_F(CarelessCallers, ABufferShorterThanItsLengthFaultsAndLeavesTheProviderServingOthers)
{
    // 100 bytes the caller may write, then a page it may not.
    BYTE* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    ASSERT_TRUE(pages && VirtualProtect(pages + 4096, 4096, PAGE_NOACCESS, &old));
    const PVOID handler = AddVectoredExceptionHandler(1, EndTheFaultingThread);
    Request faulting{p.gen, provider, pages + 4096 - 100, 100000};
    EXPECT_EQ(Finish(CreateThread(nullptr, 0, ServeAndFault, &faulting, 0, nullptr)), 0u) << "it did not fault";
    BYTE bytes[16];
    Request next{p.gen, provider, bytes, sizeof bytes};
    EXPECT_EQ(Finish(CreateThread(nullptr, 0, Serve, &next, 0, nullptr)), 1u) << "the next request waits for ever";
    EXPECT_TRUE(next.ok);
    RemoveVectoredExceptionHandler(handler);
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_F(CarelessCallers, SmallRequestsAreServedWhileALargeOneRuns)
{
    std::vector<BYTE> large(256 << 20);
    Request big{p.gen, provider, large.data(), DWORD(large.size())};
    const HANDLE thread = CreateThread(nullptr, 0, Serve, &big, 0, nullptr);
    // Under way once its first bytes have arrived.
    const volatile BYTE* first = large.data();
    for (int i = 0; i < 2000 && !(first[0] | first[1] | first[2] | first[3] | first[4] | first[5]); ++i)
        Sleep(1);
    int served = 0;
    for (int i = 0; i < 20; ++i) {
        BYTE bytes[16];
        served += p.gen(provider, sizeof bytes, bytes);
    }
    // The large request fills its buffer in order: its last bytes still untouched mean it
    // is still under way.
    const volatile BYTE* last = large.data() + large.size() - 8;
    EXPECT_EQ(last[0] | last[1] | last[2] | last[3] | last[4] | last[5] | last[6] | last[7], 0)
        << "the small requests waited for the large one";
    EXPECT_EQ(served, 20);
    EXPECT_EQ(Finish(thread), 1u);
    EXPECT_TRUE(big.ok);
}

// After a request, no 8 bytes of its output are left in the provider's data or on the
// stack where its frames were.
TEST_F(CarelessCallers, NoOutputIsLeftInTheProvidersMemory)
{
    std::vector<BYTE> output(32);
    ASSERT_TRUE(p.gen(provider, DWORD(output.size()), output.data()));
    const auto image = reinterpret_cast<const BYTE*>(p.dll);
    const auto headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + PIMAGE_DOS_HEADER(p.dll)->e_lfanew);
    const BYTE here = 0;
    MEMORY_BASIC_INFORMATION stack;  // the stack from its lowest address up to this frame
    ASSERT_TRUE(VirtualQuery(&here, &stack, sizeof stack));
    const std::pair<const BYTE*, const BYTE*> regions[] = {
        {image, image + headers->OptionalHeader.SizeOfImage},
        {static_cast<const BYTE*>(stack.AllocationBase), &here}};
    for (const auto& [begin, end] : regions) {
        MEMORY_BASIC_INFORMATION info;
        for (const BYTE* at = begin; at < end && VirtualQuery(at, &info, sizeof info);
             at = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize) {
            const auto from = std::max(at, static_cast<const BYTE*>(info.BaseAddress));
            const auto to = std::min(end, static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize);
            const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                   PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
            if (info.State != MEM_COMMIT || !(info.Protect & readable) || (info.Protect & PAGE_GUARD))
                continue;
            for (std::size_t piece = 0; piece < output.size(); piece += 8)
                EXPECT_EQ(std::search(from, to, output.begin() + piece, output.begin() + piece + 8), to)
                    << "output bytes " << piece << " to " << piece + 7 << " at " << static_cast<const void*>(from);
        }
    }
}

}  // namespace
