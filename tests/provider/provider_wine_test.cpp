// The hardware provider DLL as Windows software meets it: registered and unregistered by
// regsvr32 from every state the registry can be in, then called through CryptoAPI.
#include "test_support.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

#define FOLDER "Provider Folder With A Long Name"  // whose 8.3 name differs
// Placed before the rows below take its short name, which only a file that exists has: a row
// run alone in a new build would otherwise expect an empty one.
std::string PlacedCopy()
{
    const std::string dll = Beside(FOLDER "\\hwrngcsp.dll");
    CreateDirectoryA(Beside(FOLDER).c_str(), nullptr);
    CopyFileA(Beside("hwrngcsp.dll").c_str(), dll.c_str(), FALSE);
    return dll;
}
const std::string Dll = PlacedCopy(), Other = "C:\\other\\hwrngcsp.dll";

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

// No program could load the provider from a path of MAX_PATH characters or more: registration refuses it
// and writes nothing; one character less is registered.
class LongPath : public ::testing::TestWithParam<std::size_t> {};
TEST_P(LongPath, RegistrationRefusesAPathOfMaxPathOrMore)
{
    const std::size_t length = GetParam();
    const std::string dll = Beside("") + std::string(length - Beside("").size() - 13, 'l') + "\\hwrngcsp.dll";
    const std::wstring wide = L"\\\\?\\" + Wide(dll);
    CreateDirectoryW(wide.substr(0, wide.rfind(L'\\')).c_str(), nullptr);
    RemoveProvider();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ProviderTypeKey);
    ASSERT_TRUE(CopyFileW(Wide(Beside("hwrngcsp.dll")).c_str(), wide.c_str(), FALSE)) << GetLastError();
    const bool fits = length < MAX_PATH;
    // regsvr32 says 5 where the DLL loaded but refused to register, and 3 where it did not load.
    EXPECT_EQ(RunProgram(Wide("regsvr32.exe /s \"" + dll + "\"")), fits ? 0 : 5);
    EXPECT_EQ(RegString(ProviderKey, "Image Path") + " | " + RegString(ProviderTypeKey, "Name"),
              fits ? dll + " | " + Ours : "- | -");
    RunProgram(Wide("regsvr32.exe /u /s \"" + dll + "\""));
    DeleteFileW(wide.c_str());
}
INSTANTIATE_TEST_SUITE_P(Registration, LongPath, ::testing::Values(259, 260, 261),
                         [](const auto& row) { return std::to_string(row.param) + "Characters"; });

// A folder named outside the ANSI code page: registered by its own name, which CryptoAPI
// then loads the provider from, and unregistered again.
TEST(Registration, AFolderNamedOutsideTheCodePageIsRegisteredByItsOwnName)
{
    const std::wstring folder = Wide(Beside("")) + L"Provider \u03A9 \u4E2D", dll = folder + L"\\hwrngcsp.dll";
    CreateDirectoryW(folder.c_str(), nullptr);
    RemoveProvider();
    ASSERT_TRUE(CopyFileW(Wide(Beside("hwrngcsp.dll")).c_str(), dll.c_str(), FALSE));
    const auto image = [] {
        wchar_t path[MAX_PATH] = {};
        DWORD size = sizeof path;
        RegGetValueW(HKEY_LOCAL_MACHINE, Wide(ProviderKey).c_str(), L"Image Path", RRF_RT_REG_SZ, nullptr, path, &size);
        return std::wstring(path);
    };
    HCRYPTPROV provider = 0;
    BYTE bytes[16] = {};
    ASSERT_EQ(RunProgram(L"regsvr32.exe /s \"" + dll + L"\""), 0);
    EXPECT_TRUE(image() == dll) << "registered another path";
    EXPECT_TRUE(CryptAcquireContextW(&provider, nullptr, Wide(TEST_PROVIDER_NAME).c_str(), 22, CRYPT_VERIFYCONTEXT) &&
                CryptGenRandom(provider, sizeof bytes, bytes) && CryptReleaseContext(provider, 0)) << GetLastError();
    EXPECT_TRUE(RunProgram(L"regsvr32.exe /u /s \"" + dll + L"\"") == 0 && image().empty()) << "left registered";
}

// Leaves 1 MiB of its output beside the test for the statistical test.
TEST(HardwareProvider, FillsExactlyWhatItIsAskedThroughCryptoApi)
{
    HCRYPTPROV provider = 0;
    std::vector<BYTE> large((8 << 20) + 1, 0xEE);
    ASSERT_TRUE(RegisterProvider(Beside("hwrngcsp.dll")) &&
                CryptAcquireContextA(&provider, nullptr, TEST_PROVIDER_NAME, 22, CRYPT_VERIFYCONTEXT));
    ASSERT_TRUE(CryptGenRandom(provider, DWORD(large.size() - 2), large.data() + 1) && CryptReleaseContext(provider, 0));
    EXPECT_TRUE(large.front() == 0xEE && large.back() == 0xEE) << "wrote outside";
    const auto zeros = std::count(large.begin(), large.end(), 0);
    EXPECT_TRUE(zeros > 16384 && zeros < 65536) << zeros << " zero bytes in 8 MiB: expected about 32768";
    std::ofstream(Beside("provider-sample.bin"), std::ios::binary).write((const char*)large.data() + 1, 1 << 20);
}

// The provider's entry points, called directly as advapi32 calls them: its own checks answer.
const HMODULE Provider = LoadLibraryA(Beside("hwrngcsp.dll").c_str());
#define ENTRY(module, name, entry, ...) \
    const auto name = reinterpret_cast<BOOL(WINAPI*)(__VA_ARGS__)>(reinterpret_cast<void*>(GetProcAddress(module, entry)))
ENTRY(Provider, Acquire, "CPAcquireContext", HCRYPTPROV*, LPSTR, DWORD, void*);
ENTRY(Provider, Release, "CPReleaseContext", HCRYPTPROV, DWORD);
ENTRY(Provider, Gen, "CPGenRandom", HCRYPTPROV, DWORD, BYTE*);
ENTRY(Provider, Param, "CPGetProvParam", HCRYPTPROV, DWORD, BYTE*, DWORD*, DWORD);

std::string Outcome(BOOL ok) { return ok ? "TRUE" : "FALSE " + Hex(HRESULT(GetLastError())); }  // and why
std::string Code(HRESULT code) { return "FALSE " + Hex(code); }

TEST(ProviderEntry, AcquireFlagsAndHandlesAreAnsweredAsDocumented)
{
    ASSERT_TRUE(Acquire && Release && Gen && Param);
    char box[] = "box", empty[] = "";
    const std::tuple<DWORD, char*, std::string> acquires[] = {
        {0, nullptr, "TRUE"}, {CRYPT_VERIFYCONTEXT, empty, "TRUE"},
        {CRYPT_VERIFYCONTEXT | CRYPT_SILENT | CRYPT_MACHINE_KEYSET, nullptr, "TRUE"},
        {CRYPT_VERIFYCONTEXT, box, Code(NTE_BAD_FLAGS)}, {0x1000, nullptr, Code(NTE_BAD_FLAGS)},
        // Key sets are made for a context and kept nowhere: a new one is made like any, none is there to delete.
        {CRYPT_NEWKEYSET, box, "TRUE"}, {CRYPT_DELETEKEYSET, box, Code(NTE_BAD_KEYSET)}};
    for (const auto& [flags, name, expected] : acquires) {
        HCRYPTPROV handle = 1;
        const std::string outcome = Outcome(Acquire(&handle, name, flags, nullptr));
        EXPECT_EQ(outcome, expected) << std::hex << flags;
        EXPECT_TRUE(outcome != "TRUE" || Release(handle, 0));
    }
    EXPECT_EQ(Outcome(Acquire(nullptr, nullptr, 0, nullptr)), Code(ERROR_INVALID_PARAMETER));
    HCRYPTPROV stale = 0, open = 0;  // only an open handle is served, not a released or made-up one
    ASSERT_TRUE(Acquire(&stale, nullptr, 0, nullptr) && Release(stale, 0) && Acquire(&open, nullptr, 0, nullptr));
    BYTE byte = 0;
    DWORD size = 0;
    for (HCRYPTPROV handle : {open, stale, HCRYPTPROV(0), HCRYPTPROV(1), open + 256, open ^ 0xFF, ~open}) {
        const std::string expected = handle == open ? "TRUE" : Code(NTE_BAD_UID);
        EXPECT_EQ(Outcome(Gen(handle, 1, &byte)), expected) << handle;
        EXPECT_EQ(Outcome(Param(handle, PP_PROVTYPE, nullptr, &size, 0)), expected) << handle;
    }
    EXPECT_EQ(Outcome(Release(open, 0)), "TRUE");
    EXPECT_EQ(Outcome(Release(open, 0)), Code(NTE_BAD_UID)) << "released twice";
    std::set<HCRYPTPROV> handles;  // as many contexts at once as memory holds, all distinct
    while (handles.size() < 10000 && Acquire(&open, nullptr, 0, nullptr) && handles.insert(open).second) {
    }
    EXPECT_EQ(handles.size(), 10000u) << Outcome(FALSE);
    EXPECT_EQ(std::count_if(handles.begin(), handles.end(), [](HCRYPTPROV h) { return Release(h, 0); }), 10000);
}

// A null buffer asks for the size; a short one gets ERROR_MORE_DATA, the size and nothing else.
TEST(ProviderEntry, ParametersFollowTheSizeProtocol)
{
    HCRYPTPROV handle = 0;
    char container[] = "Quorvel's container";
    ASSERT_TRUE(Acquire(&handle, container, 0, nullptr));
    const DWORD type = 22, hardware = CRYPT_IMPL_HARDWARE;
    const auto bytes = [](const void* data, std::size_t size) { return std::string(static_cast<const char*>(data), size); };
    const std::tuple<DWORD, DWORD, std::string, HRESULT> rows[] = {
        {PP_NAME, 0, bytes(TEST_PROVIDER_NAME, sizeof TEST_PROVIDER_NAME), 0}, {PP_PROVTYPE, 0, bytes(&type, 4), 0},
        {PP_IMPTYPE, 0, bytes(&hardware, 4), 0}, {PP_CONTAINER, 0, bytes(container, sizeof container), 0},
        {PP_ENUMCONTAINERS, CRYPT_FIRST, "", ERROR_NO_MORE_ITEMS}, {PP_ENUMALGS, CRYPT_FIRST, "", ERROR_NO_MORE_ITEMS},
        {PP_ENUMALGS_EX, CRYPT_FIRST, "", ERROR_NO_MORE_ITEMS},    {PP_KEYSET_SEC_DESCR, 0, "", NTE_BAD_TYPE},
        {PP_NAME, 0x10, "", NTE_BAD_FLAGS}};
    for (const auto& [param, flags, value, error] : rows) {
        DWORD size = 12345;
        const std::string sized = Outcome(Param(handle, param, nullptr, &size, flags));
        EXPECT_EQ(sized + " " + std::to_string(size), error ? Code(error) + " 12345" : "TRUE " + std::to_string(value.size())) << param;
        if (error)
            continue;
        std::string buffer(value.size() + 8, '#');
        DWORD small = DWORD(value.size() - 1), large = DWORD(buffer.size());
        const std::string cut = Outcome(Param(handle, param, reinterpret_cast<BYTE*>(buffer.data()), &small, 0));
        EXPECT_EQ(cut + " " + std::to_string(small) + buffer,
                  Code(ERROR_MORE_DATA) + " " + std::to_string(value.size()) + std::string(buffer.size(), '#'));
        EXPECT_TRUE(Param(handle, param, reinterpret_cast<BYTE*>(buffer.data()), &large, 0));
        EXPECT_EQ(buffer.substr(0, large) + "|" + buffer.substr(large), value + "|########") << param;
    }
    EXPECT_EQ(Outcome(Param(handle, PP_NAME, nullptr, nullptr, 0)), Code(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(Release(handle, 0));
}

// Requests on threads of their own. A caller that survives a fault in its buffer, as
// structured exception handling lets it, is played by a thread that ends at the fault.
struct Request { HCRYPTPROV provider; BYTE* buffer; DWORD length; BOOL ok = FALSE; HANDLE start = nullptr; };
// The provider's test build counts who is inside the generator, who waits, start-up tests run and
// turns handed over, and stops the next caller at a place the test names (ProbeStopAt).
struct Counters { volatile LONG inside, overlaps, entries, waiting, startups, handovers, stopped; };
enum Place : LONG { Anywhere, InTheHandleLookup, SeenAsAWaiter, OpeningAHandle, ClosingAHandle };
const HMODULE Probed = LoadLibraryA(Beside("hwrngcsp_probes.dll").c_str());
const auto ProbeCounters = reinterpret_cast<const Counters* (*)()>(reinterpret_cast<void*>(GetProcAddress(Probed, "ProbeCounters")));
const auto ProbeStopAt = reinterpret_cast<void (*)(LONG)>(reinterpret_cast<void*>(GetProcAddress(Probed, "ProbeStopAt")));
ENTRY(Probed, ProbedAcquire, "CPAcquireContext", HCRYPTPROV*, LPSTR, DWORD, void*);
ENTRY(Probed, ProbedGen, "CPGenRandom", HCRYPTPROV, DWORD, BYTE*);
ENTRY(Probed, ProbedRelease, "CPReleaseContext", HCRYPTPROV, DWORD);
DWORD g_faultingThread;
const BYTE* g_faultedAt;
DWORD WINAPI Serve(void* request)  // once its start is set, where it has one
{
    Request& r = *static_cast<Request*>(request);
    if (r.start)
        WaitForSingleObject(r.start, INFINITE);
    return r.ok = r.length ? ProbedGen(r.provider, r.length, r.buffer) : ProbedRelease(r.provider, 0), 1;
}
DWORD WINAPI Open(void* request)
{
    return static_cast<Request*>(request)->ok = ProbedAcquire(&static_cast<Request*>(request)->provider, nullptr, 0, 0), 1;
}
DWORD g_idToReuse;
DWORD WINAPI ServeIfReused(void* request)  // on the thread given that id; the others end at once
{
    return GetCurrentThreadId() == g_idToReuse ? Serve(request) : 0;
}
LONG CALLBACK EndTheFaultingThread(EXCEPTION_POINTERS* e)
{
    if (e->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || GetCurrentThreadId() != g_faultingThread)
        return EXCEPTION_CONTINUE_SEARCH;
    g_faultedAt = reinterpret_cast<const BYTE*>(e->ExceptionRecord->ExceptionInformation[1]);
    ExitThread(0);
}
DWORD Finish(HANDLE thread)  // its exit code; 99 when it had to be ended
{
    DWORD code = 99;
    WaitForSingleObject(thread, WaitMs) == WAIT_OBJECT_0 ? GetExitCodeThread(thread, &code) : TerminateThread(thread, 99);
    return CloseHandle(thread), code;
}

// A place for the handle that the caller cannot write faults before any context is opened for it.
TEST(CarelessCallers, AnUnwritableHandlePlaceFaultsBeforeAContextIsOpened)
{
    DWORD old = 0;
    Request* const opening = static_cast<Request*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_TRUE(opening && (*opening = Request{}, VirtualProtect(opening, 4096, PAGE_READONLY, &old)));
    void* const handler = AddVectoredExceptionHandler(1, EndTheFaultingThread);
    ProbeStopAt(OpeningAHandle);
    const HANDLE thread = CreateThread(nullptr, 0, Open, opening, CREATE_SUSPENDED, &g_faultingThread);
    EXPECT_EQ((ResumeThread(thread), Finish(thread)), 0u) << "it did not fault (99: it was opening a context)";
    EXPECT_EQ(g_faultedAt, reinterpret_cast<const BYTE*>(&opening->provider)) << "faulted elsewhere";
    ProbeStopAt(Anywhere), RemoveVectoredExceptionHandler(handler), VirtualFree(opening, 0, MEM_RELEASE);
}

template <typename Condition>
bool Await(Condition condition)
{
    for (DWORD waited = 0; waited < WaitMs; ++waited, Sleep(1))
        if (condition())
            return true;
    return false;
}
bool HeldStillInside(HANDLE thread, const Counters& c)  // suspended while inside the generator
{
    bool still = false;
    for (int i = 0; i < 1000 && !still && Await([&] { return c.inside == 1; }); ++i)
        still = SuspendThread(thread) != DWORD(-1) && (c.inside == 1 || (ResumeThread(thread), false));
    return still;
}

// A buffer shorter than the length it comes with, by a little or by almost all the address space:
// the first fault is at the first page the caller may not write, before any random byte exists, and
// nothing past that page is written (a writable page after it keeps what it held).
struct Lying { const char* name; DWORD size, length; };
class ShortBuffer : public ::testing::TestWithParam<Lying> {};
TEST_P(ShortBuffer, FaultsAtItsEndWritesNothingPastItAndLeavesTheProviderServingOthers)
{
    const Lying& l = GetParam();
    HCRYPTPROV provider = 0;
    const DWORD pages = (l.size + 4095) / 4096 * 4096;
    BYTE* const memory = static_cast<BYTE*>(VirtualAlloc(nullptr, pages + 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    BYTE* const noAccess = memory + pages;
    DWORD old = 0;  // l.size bytes the caller may write, then a page it may not, then one it may
    ASSERT_TRUE(memory && ProbedAcquire(&provider, nullptr, 0, 0));
    std::fill(memory, memory + pages + 8192, BYTE(0xA5));
    ASSERT_TRUE(VirtualProtect(noAccess, 4096, PAGE_NOACCESS, &old));
    void* const handler = AddVectoredExceptionHandler(1, EndTheFaultingThread);
    BYTE bytes[16];
    Request faulting{provider, noAccess - l.size, l.length}, next{provider, bytes, sizeof bytes};
    const HANDLE thread = CreateThread(nullptr, 0, Serve, &faulting, CREATE_SUSPENDED, &g_faultingThread);
    EXPECT_EQ((ResumeThread(thread), Finish(thread)), 0u) << "it did not fault";
    EXPECT_EQ(g_faultedAt, noAccess) << "faulted elsewhere";
    EXPECT_EQ(std::count(noAccess + 4096, noAccess + 8192, 0xA5), 4096) << "wrote past the page";
    EXPECT_EQ(std::count(memory, noAccess - l.size, 0xA5), noAccess - l.size - memory) << "wrote before the buffer";
    EXPECT_EQ(std::count_if(noAccess - l.size, noAccess, [](BYTE b) { return b && b != 0xA5; }), 0) << "random bytes made";
    EXPECT_TRUE(Finish(CreateThread(nullptr, 0, Serve, &next, 0, nullptr)) == 1 && next.ok) << "the next one waits";
    RemoveVectoredExceptionHandler(handler);
    VirtualFree(memory, 0, MEM_RELEASE);
    ProbedRelease(provider, 0);
}
INSTANTIATE_TEST_SUITE_P(Lengths, ShortBuffer, ::testing::Values(Lying{"ByAFewPages", 100, 100000},
    Lying{"By2GiB", 1 << 20, 0x7FFFFFFF}, Lying{"By4GiB", 1 << 20, 0xFFFFFFFF}), [](const auto& row) { return row.param.name; });


// A caller that goes on past a fault in its buffer, as structured exception handling lets it (played by a
// handler after the provider's that takes the thread back), where another of its threads made a page
// unwritable mid-request, with the turn kept for want of waiters, or handed over at each chunk to another
// large request: the next caller is served while that thread lives on, later large requests hand the turn
// over to nobody, and the thread is served when it asks again.
DWORD g_goingOnThread;  // not the faulting thread of the others: Wine keeps a handler left by ExitThread
void* g_takenBack[5];
HANDLE g_faulted, g_askAgain;
Request g_goingOn, g_again;
LONG CALLBACK TakeTheFaultingThreadBack(EXCEPTION_POINTERS* e)
{
    if (e->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && GetCurrentThreadId() == g_goingOnThread)
        g_faultedAt = reinterpret_cast<const BYTE*>(e->ExceptionRecord->ExceptionInformation[1]), __builtin_longjmp(g_takenBack, 1);
    return EXCEPTION_CONTINUE_SEARCH;
}
DWORD WINAPI FaultAndGoOn(void*)  // 0: it did not fault
{
    if (!__builtin_setjmp(g_takenBack))
        return Serve(&g_goingOn), 0;
    SignalObjectAndWait(g_faulted, g_askAgain, INFINITE, FALSE);
    return Serve(&g_again);
}
TEST(CarelessCallers, OneThatGoesOnPastAFaultInItsBufferMidRequestKeepsNoTurn)
{
    const Counters& c = *ProbeCounters();
    constexpr DWORD Size = 16 << 20;
    std::vector<BYTE> large(Size);
    for (const bool handingOver : {false, true}) {
        SCOPED_TRACE(handingOver ? "handing the turn over at each chunk" : "keeping the turn");
        BYTE* const memory = static_cast<BYTE*>(VirtualAlloc(nullptr, Size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        BYTE *page = memory, bytes[16];  // 8 for the thread that goes on, 8 for the next caller
        DWORD old = 0;
        ASSERT_TRUE(memory && ProbedAcquire(&g_goingOn.provider, nullptr, 0, 0));
        std::fill(memory, memory + Size, BYTE(0xA5));
        void* const handler = AddVectoredExceptionHandler(0, TakeTheFaultingThreadBack);  // after the provider's
        g_goingOn.buffer = memory, g_goingOn.length = Size, g_again = Request{g_goingOn.provider, bytes, 8};
        g_faulted = CreateEventA(nullptr, TRUE, FALSE, nullptr), g_askAgain = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        const HANDLE thread = CreateThread(nullptr, 0, FaultAndGoOn, nullptr, CREATE_SUSPENDED, &g_goingOnThread);
        ASSERT_TRUE(ResumeThread(thread) == 1 && HeldStillInside(thread, c)) << "no thread held still inside the generator";
        Request other{g_goingOn.provider, large.data(), Size};  // waits, then takes turns with it
        const HANDLE alternating = handingOver ? CreateThread(nullptr, 0, Serve, &other, 0, nullptr) : nullptr;
        ASSERT_TRUE(!handingOver || Await([&] { return c.waiting == 1; })) << "the other large request did not wait";
        while (page < memory + Size && (page[1] != 0xA5 || page[2] != 0xA5))  // the first page not yet copied to
            page += 4096;
        page += 4 * 16384;  // some chunks on, not in the last
        ASSERT_TRUE(page + 2 * 16384 < memory + Size && VirtualProtect(page, 4096, PAGE_READONLY, &old));
        ResumeThread(thread);
        EXPECT_TRUE(WaitForSingleObject(g_faulted, WaitMs) == WAIT_OBJECT_0 && g_faultedAt == page) << "no fault at the page";
        EXPECT_TRUE(!handingOver || WaitForSingleObject(alternating, 0) == WAIT_TIMEOUT) << "it ended before the fault";
        EXPECT_TRUE(!handingOver || (Finish(alternating) == 1 && other.ok)) << "the other large request was not served";
        Request next{g_goingOn.provider, bytes + 8, 8};
        EXPECT_TRUE(Finish(CreateThread(nullptr, 0, Serve, &next, 0, nullptr)) == 1 && next.ok) << "the next one waits";
        const LONG handovers = c.handovers;
        EXPECT_TRUE(ProbedGen(g_goingOn.provider, Size, large.data()) && c.handovers == handovers) << "handed over to it";
        EXPECT_TRUE(SetEvent(g_askAgain) && Finish(thread) == 1 && g_again.ok) << "it was not served again";
        RemoveVectoredExceptionHandler(handler), CloseHandle(g_faulted), CloseHandle(g_askAgain);
        VirtualFree(memory, 0, MEM_RELEASE), ProbedRelease(g_goingOn.provider, 0);
    }
}

// A caller ended anywhere inside the provider's calls, or a holder ended in its turn, while a
// large request is held still inside the generator, stops nobody: the large request then
// finishes, the next caller is served, after an ended holder the start-up test runs again, never
// are two threads inside at once, and later large requests hand the turn over no more than once
// (an ended waiter is forgotten). Where the ended thread's id is given to a new, live thread,
// both it and the others are served.
struct Ending { const char* name; Place at; bool holder, idReused; LONG startups; LPTHREAD_START_ROUTINE call = Serve; };
class Ended : public ::testing::TestWithParam<Ending> {};
TEST_P(Ended, ACallerEndedAnywhereStopsNobody)
{
    const Ending& e = GetParam();
    const Counters& c = *ProbeCounters();
    HCRYPTPROV provider = 0, closing = 0;
    ASSERT_TRUE(ProbedAcquire(&provider, nullptr, 0, nullptr) && ProbedAcquire(&closing, nullptr, 0, nullptr));
    std::vector<BYTE> large(16 << 20);
    BYTE bytes[16], more[16];
    Request held{provider, large.data(), DWORD(large.size())}, next{provider, bytes, sizeof bytes},
        caller{e.at == ClosingAHandle ? closing : provider, more, e.at == ClosingAHandle ? 0 : DWORD(sizeof more)};
    const HANDLE holder = CreateThread(nullptr, 0, Serve, &held, 0, nullptr);
    ASSERT_TRUE(HeldStillInside(holder, c)) << "no thread held still inside the generator";
    const LONG startups = c.startups, overlaps = c.overlaps;
    ProbeStopAt(e.at);
    const HANDLE ended = e.holder ? holder : CreateThread(nullptr, 0, e.call, &caller, 0, &g_idToReuse);
    ASSERT_TRUE(e.holder || (e.at ? Await([&] { return c.stopped == e.at; }) : WaitForSingleObject(ended, 100) == WAIT_TIMEOUT));
    ASSERT_TRUE(TerminateThread(ended, 99) && WaitForSingleObject(ended, WaitMs) == WAIT_OBJECT_0);
    g_idToReuse = GetThreadId(ended);
    CloseHandle(ended);
    Request last{provider, bytes, sizeof bytes, FALSE, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE reused = nullptr;  // a new thread given the ended one's id, which asks once the others are served
    for (int i = 0; e.idReused && !reused && i < 5000; ++i) {
        const HANDLE thread = CreateThread(nullptr, 0, ServeIfReused, &last, 0, nullptr);
        if (GetThreadId(thread) == g_idToReuse)
            reused = thread;
        else
            WaitForSingleObject(thread, INFINITE), CloseHandle(thread);
    }
    ASSERT_EQ(e.idReused, reused != nullptr) << "no new thread was given the id";
    if (!e.holder)
        ResumeThread(holder);
    EXPECT_TRUE(e.holder || (Finish(holder) == 1 && held.ok)) << "the large request held behind it was not served";
    EXPECT_TRUE(Finish(CreateThread(nullptr, 0, Serve, &next, 0, nullptr)) == 1 && next.ok) << "the next caller waits";
    EXPECT_TRUE(!reused || (SetEvent(last.start), Finish(reused) == 1 && last.ok)) << "the thread with the id waits";
    CloseHandle(last.start);
    EXPECT_EQ(c.startups - startups, e.startups) << "start-up tests run";
    EXPECT_EQ(c.overlaps - overlaps, 0) << "two threads inside the generator at once";
    const LONG handovers = c.handovers;
    EXPECT_TRUE(ProbedGen(provider, DWORD(large.size()), large.data()) && ProbedGen(provider, DWORD(large.size()), large.data()));
    EXPECT_LE(c.handovers - handovers, 1) << "large requests hand the turn over to nobody";
    ProbeStopAt(Anywhere);
    ProbedRelease(provider, 0);
    ProbedRelease(closing, 0);
}
INSTANTIATE_TEST_SUITE_P(Threads, Ended, ::testing::Values(
    Ending{"AHundredMillisecondsAfterItAsked", Anywhere, false, false, 0}, Ending{"WhileItWaits", SeenAsAWaiter, false, false, 0},
    Ending{"InsideTheHandleLookup", InTheHandleLookup, false, false, 0}, Ending{"InsideTheHandleLookupItsIdReused", InTheHandleLookup, false, true, 0},
    Ending{"WhileItHoldsTheTurn", Anywhere, true, false, 1}, Ending{"WhileItHoldsTheTurnItsIdReused", Anywhere, true, true, 1},
    Ending{"OpeningAContext", OpeningAHandle, false, false, 0, Open}, Ending{"ReleasingAContext", ClosingAHandle, false, false, 0}),
    [](const auto& row) { return row.param.name; });

// A small request waits for the chunk in progress, not for the rest of a large one.
TEST(CarelessCallers, SmallRequestsAreServedWhileALargeOneRuns)
{
    const Counters& c = *ProbeCounters();
    HCRYPTPROV provider = 0;
    std::vector<BYTE> large(64 << 20);
    ASSERT_TRUE(ProbedAcquire(&provider, nullptr, 0, nullptr));
    Request big{provider, large.data(), DWORD(large.size())};
    const LONG entries = c.entries;
    const HANDLE thread = CreateThread(nullptr, 0, Serve, &big, 0, nullptr);
    ASSERT_TRUE(Await([&] { return c.entries > entries; })) << "the large request never began";
    int served = 0;
    for (BYTE bytes[16]; served < 20 && ProbedGen(provider, sizeof bytes, bytes);)
        ++served;
    EXPECT_EQ(WaitForSingleObject(thread, 0), DWORD(WAIT_TIMEOUT)) << "the small requests waited for the large one";
    const DWORD ended = Finish(thread);
    EXPECT_EQ(served, 20) << "small requests served before one failed";
    EXPECT_EQ(ended, 1u) << "the large request's thread (99: still running " << WaitMs / 1000 << " s later, and ended)";
    EXPECT_TRUE(ended != 1 || big.ok) << "the large request failed";
    ProbedRelease(provider, 0);
}

// More threads than any table of waiters would hold ask at once: each is served, one at a time.
TEST(CarelessCallers, ThousandsAskingAtOnceAreServedOneAtATime)
{
    const Counters& c = *ProbeCounters();
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(ProbedAcquire(&provider, nullptr, 0, nullptr));
    // Wine gives a 32-bit process fewer than a thousand threads.
    const int Threads = sizeof(void*) == 8 ? 1100 : 900;
    const DWORD Size = 2 * 16384 + 1;  // three chunks each
    std::vector<BYTE> buffers(std::size_t(Threads) * Size);
    const HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<Request> requests(Threads, Request{provider, nullptr, Size, FALSE, start});
    const LONG entries = c.entries, overlaps = c.overlaps;
    std::vector<HANDLE> threads;
    for (int i = 0; i < Threads; ++i) {
        requests[i].buffer = &buffers[std::size_t(i) * Size];
        threads.push_back(CreateThread(nullptr, 65536, Serve, &requests[i], STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    }
    ASSERT_EQ(std::count(threads.begin(), threads.end(), nullptr), 0) << "threads not made";
    SetEvent(start);
    for (HANDLE t : threads)
        Finish(t);
    CloseHandle(start);
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](const Request& r) { return r.ok; }), Threads);
    EXPECT_EQ(c.entries - entries, 3 * Threads);
    EXPECT_EQ(c.overlaps - overlaps, 0) << "two threads inside the generator at once";
    ProbedRelease(provider, 0);
}

// No 8 bytes of a request's output are left where the call could have put them: the provider's image, every
// heap block, this thread's stack from its lowest committed page up to here. The output lies outside them.
TEST(CarelessCallers, NoOutputIsLeftInTheProvidersMemory)
{
    HCRYPTPROV provider = 0;
    constexpr DWORD Size = 64;
    BYTE* const output = static_cast<BYTE*>(VirtualAlloc(nullptr, Size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_TRUE(output && Acquire(&provider, nullptr, 0, nullptr) && Gen(provider, Size, output) && Release(provider, 0));
    std::vector<std::pair<const BYTE*, const BYTE*>> regions;
    const auto image = reinterpret_cast<const BYTE*>(Provider);
    const auto headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + PIMAGE_DOS_HEADER(Provider)->e_lfanew);
    const auto readable = [&](const BYTE* from, const BYTE* to) {  // the committed, readable pages
        for (const BYTE* at = from; at < to;) {
            MEMORY_BASIC_INFORMATION part;
            if (!VirtualQuery(at, &part, sizeof part))
                return;
            const BYTE* end = std::min(to, static_cast<const BYTE*>(part.BaseAddress) + part.RegionSize);
            if (part.State == MEM_COMMIT && !(part.Protect & (PAGE_NOACCESS | PAGE_GUARD)))
                regions.emplace_back(at, end);
            at = end;
        }
    };
    readable(image, image + headers->OptionalHeader.SizeOfImage);
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(DWORD(heaps.size()), heaps.data()));
    for (HANDLE heap : heaps) {
        PROCESS_HEAP_ENTRY block = {};
        while (HeapWalk(heap, &block))
            if (block.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                regions.emplace_back(static_cast<const BYTE*>(block.lpData), static_cast<const BYTE*>(block.lpData) + block.cbData);
    }
    const BYTE here = 0;
    MEMORY_BASIC_INFORMATION stack;
    ASSERT_TRUE(VirtualQuery(&here, &stack, sizeof stack));
    readable(static_cast<const BYTE*>(stack.AllocationBase), &here);
    std::size_t scanned = 0, found = 0;
    for (const auto& [from, to] : regions) {
        scanned += to - from;
        for (DWORD piece = 0; piece < Size; piece += 8)
            found += std::search(from, to, output + piece, output + piece + 8) != to;
    }
    EXPECT_TRUE(found == 0 && scanned > (1u << 20)) << found << " pieces of the output found in " << scanned / 8 << " bytes";
    VirtualFree(output, 0, MEM_RELEASE);
}

}  // namespace
