// A CryptoAPI provider of type 22 that serves random bytes from the CPU's hardware
// generator (RDRAND), with start-up and continuous health tests. It offers random
// numbers only: no keys and no hashes. It stores no key container: every context is
// opened on an empty key set of its own, as CRYPT_VERIFYCONTEXT gives, that nothing
// outlives; so CRYPT_NEWKEYSET makes one like any other, no container is listed, and
// CRYPT_DELETEKEYSET finds none to delete.
#include "csp_entry.h"
#include "csp_handles.h"
#include "probes.h"
#include "provider_identity.h"
#include "rng_core.h"
#include "turns.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

namespace {

const char ProviderName[] = HARDWARE_PROVIDER_NAME;
constexpr DWORD ProviderType = HARDWARE_PROVIDER_TYPE;
constexpr DWORD ProviderVersion = 0x0200;

// One generator stream for the process: its health state is shared by every handle, and
// only the holder of the turn reads or writes it.
RngHealth g_health;
// Whether the generator passed its checks when last taken: read without the turn.
std::atomic<bool> g_generatorPassed{false};

// The generator is taken in turn a chunk at a time: a small request waits for the chunk
// in progress, not for the rest of a large one.
constexpr DWORD ChunkSize = RngChunkSize;
constexpr uint64_t PageSize = 4096;  // on every x86 and x86-64 Windows

__attribute__((target("rdrnd"))) bool RdRandStep(void*, uint32_t* sample)
{
    unsigned int value = 0;
    if (!_rdrand32_step(&value))
        return false;
    *sample = value;
    return true;
}

void Pause(void*)
{
    __builtin_ia32_pause();
}

DWORD ErrorFor(RngStatus status)
{
    switch (status) {
    case RngStatus::Ok: return ERROR_SUCCESS;
    case RngStatus::NotFound: return static_cast<DWORD>(NTE_DEVICE_NOT_FOUND);
    case RngStatus::NotReady: return static_cast<DWORD>(NTE_DEVICE_NOT_READY);
    case RngStatus::HealthFailure:
    case RngStatus::Latched: break;
    }
    return static_cast<DWORD>(NTE_FAIL);
}

bool CpuHasRdRand()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_RDRND) != 0;
}

// Set once when the DLL is loaded, before any caller can arrive: no guarded initialisation
// that a thread ended half-way through would leave locked.
RngSource g_source{false, RdRandStep, Pause, nullptr};

// A request copying a chunk out to its caller's buffer keeps its place among the waiters, and
// where nobody waited, the turn. The buffer was touched before the request began, but another
// thread of the caller may free or protect it meanwhile; a caller that goes on past the fault,
// as structured exception handling lets it, would keep the turn from every other caller, or its
// place would have every later holder hand the turn over at each chunk, for as long as its
// thread lives. So the copying thread's own slot holds its place, with the low bit set where it
// keeps the turn, and the first handler to see an exception on that thread ends both; where the
// caller's handler then resumes the copy, the request takes the turn again for its next chunk.
// A slot of the thread's own, not a thread id: a holder ended in its copy leaves nothing behind.
DWORD g_copyingSlot = TLS_OUT_OF_INDEXES;
void* g_faultHandler;

LONG CALLBACK EndTheTurnOfAFaultingCopy(EXCEPTION_POINTERS*)
{
    const DWORD lastError = GetLastError();  // TlsGetValue clears it, and this sees every thread's exceptions
    const auto copying = reinterpret_cast<uintptr_t>(TlsGetValue(g_copyingSlot));
    if (copying) {
        TlsSetValue(g_copyingSlot, nullptr);
        if (copying & 1)
            EndTurn();
        LeaveTurns(reinterpret_cast<TurnWaiter*>(copying & ~uintptr_t(1)));
    }
    SetLastError(lastError);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Takes the generator for this thread. Where the last holder ended holding it, the health
// state may be torn mid-chunk: it is treated as unknown and the start-up test runs again
// before anything is served; a generator found failed stays failed. ERROR_SUCCESS, with the
// turn held, or why not, with no turn held.
DWORD TakeGenerator(TurnWaiter* waiter)
{
    ProbeWaiting(true);
    const Turn turn = TakeTurn(waiter);
    const DWORD waitError = GetLastError();
    ProbeWaiting(false);
    if (turn == Turn::Failed)
        return waitError;
    if (turn == Turn::TakenFromAnEndedHolder) {
        ProbeHolderEnded();
        const bool latched = g_health.latched;
        g_health = RngHealth{};
        g_health.latched = latched;
    }
    if (!g_health.started)
        ProbeStartup();
    const RngStatus status = RngOpen(g_source, &g_health);
    g_generatorPassed.store(status == RngStatus::Ok, std::memory_order_release);
    if (status != RngStatus::Ok) {
        EndTurn();
        return ErrorFor(status);
    }
    return ERROR_SUCCESS;
}

// Overwrites the stack where the generator's frames were, with whatever samples the
// compiler kept there; called from the same depth as the generator.
__attribute__((noinline)) void WipeGeneratorFrames()
{
    BYTE frames[1024];
    RngWipe(frames, sizeof frames);
}

// Writes a zero to the buffer's first byte and to the first byte of each page after it, front
// to back: a buffer shorter than its length faults at its first page that cannot be written,
// before any random byte exists, and nothing past that page is written, whatever the length.
void TouchPages(BYTE* buffer, DWORD length)
{
    volatile BYTE* const bytes = buffer;
    for (uint64_t at = 0; at < length; at += PageSize - (reinterpret_cast<uintptr_t>(buffer) + at) % PageSize)
        bytes[at] = 0;
}

// The CryptoAPI convention for returning a parameter: a null buffer asks for the size.
BOOL ReturnParam(const void* data, DWORD size, BYTE* out, DWORD* outLength)
{
    if (!outLength)
        return CspFail(ERROR_INVALID_PARAMETER);
    if (!out) {
        *outLength = size;
        return TRUE;
    }
    if (*outLength < size) {
        *outLength = size;
        return CspFail(ERROR_MORE_DATA);
    }
    std::memcpy(out, data, size);
    *outLength = size;
    return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        // First in line, so that no handler added before the provider was loaded leaves a
        // fault in a copy with the turn still held.
        if (!TurnsInit() || (g_copyingSlot = TlsAlloc()) == TLS_OUT_OF_INDEXES ||
            !(g_faultHandler = AddVectoredExceptionHandler(1, EndTheTurnOfAFaultingCopy)))
            return FALSE;
        // advapi32 loads the provider at every acquire and frees it at every release.
        // Staying loaded keeps one health-test stream per process and spares the caller
        // a load and a start-up test per request.
        HMODULE pinned = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&DllMain), &pinned);
        g_source.present = CpuHasRdRand();
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Only when unloaded while the process goes on, which the pin above rules out unless
        // it failed: at process exit other modules' detach code may still call in, and the
        // system reclaims everything anyway.
        RemoveVectoredExceptionHandler(g_faultHandler);
        TlsFree(g_copyingSlot);
        TurnsShutdown();
    }
    return TRUE;
}

extern "C" {

BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPSTR pszContainer, DWORD dwFlags, CspVTable*)
{
    const DWORD known = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_MACHINE_KEYSET |
                        CRYPT_SILENT;
    if (dwFlags & ~known)
        return CspFail(NTE_BAD_FLAGS);
    if ((dwFlags & CRYPT_VERIFYCONTEXT) && pszContainer && *pszContainer)
        return CspFail(NTE_BAD_FLAGS);  // a verification context has no container
    if (!phProv)
        return CspFail(ERROR_INVALID_PARAMETER);
    // A place the caller cannot write faults here, before a context is opened that nobody
    // could release: a caller that goes on past the fault would leak one at every call.
    *phProv = 0;
    if (dwFlags & CRYPT_DELETEKEYSET)
        return CspFail(NTE_BAD_KEYSET);  // no key set is ever stored

    // The generator is checked (the first time, its start-up test) before a context is given;
    // once it has passed, a context costs no turn.
    if (!g_generatorPassed.load(std::memory_order_acquire)) {
        TurnWaiter waiter;
        const DWORD error = TakeGenerator(&waiter);
        if (!error)
            EndTurn();
        LeaveTurns(&waiter);
        if (error)
            return CspFail(error);
    }

    const HCRYPTPROV handle = CspHandleOpen(pszContainer);
    if (!handle)
        return CspFail(NTE_NO_MEMORY);
    *phProv = handle;
    return TRUE;
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    if (!CspHandleClose(hProv))
        return CspFail(NTE_BAD_UID);
    return dwFlags ? CspFail(NTE_BAD_FLAGS) : TRUE;
}

BOOL WINAPI CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer)
{
    if (!CspHandleIsValid(hProv))
        return CspFail(NTE_BAD_UID);
    if (dwLen == 0)
        return TRUE;
    if (!pbBuffer)
        return CspFail(ERROR_INVALID_PARAMETER);
    // Each chunk is made into our own buffer and then copied out; the turn is kept across
    // chunks only while nobody waits for it, and otherwise ended before the copy.
    TouchPages(pbBuffer, dwLen);
    BYTE chunk[ChunkSize];
    DWORD error = ERROR_SUCCESS;
    bool holding = false;
    TurnWaiter waiter;
    unsigned long handedOverAt = 0;  // the turns' count when this request last handed over
    for (DWORD done = 0; done < dwLen;) {
        const DWORD n = std::min(ChunkSize, dwLen - done);
        if (!holding) {
            if ((error = TakeGenerator(&waiter)) != ERROR_SUCCESS)
                break;
            // Back with nobody taking it between: the waiters it saw had ended.
            if (handedOverAt && TurnsTaken() == handedOverAt + 1)
                ForgetEndedWaiters();
        }
        ProbeEnter();
        const RngStatus status = RngGenerate(g_source, &g_health, chunk, n);
        ProbeLeave();
        const bool more = status == RngStatus::Ok && done + n < dwLen;
        holding = more && !TurnWanted(waiter);
        handedOverAt = more && !holding ? TurnsTaken() : 0;
        if (handedOverAt)
            ProbeHandOver();
        if (!holding)
            EndTurn();
        if (status != RngStatus::Ok) {
            g_generatorPassed.store(false, std::memory_order_release);  // the next context checks it again
            error = ErrorFor(status);
            break;
        }
        static_assert(alignof(TurnWaiter) > 1, "the low bit of its address is free");
        TlsSetValue(g_copyingSlot, reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(&waiter) | holding));
        std::atomic_signal_fence(std::memory_order_seq_cst);  // the copy stays between, for the handler
        std::memcpy(pbBuffer + done, chunk, n);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        // A fault in the copy that the caller resumed has ended the turn: taken again next chunk.
        if (!TlsGetValue(g_copyingSlot))
            holding = false;
        TlsSetValue(g_copyingSlot, nullptr);
        done += n;
    }
    LeaveTurns(&waiter);
    RngWipe(chunk, sizeof chunk);
    WipeGeneratorFrames();
    if (error != ERROR_SUCCESS) {
        std::memset(pbBuffer, 0, dwLen);  // nothing of a failed request is given out
        return CspFail(error);
    }
    return TRUE;
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags)
{
    if (!CspHandleIsValid(hProv))
        return CspFail(NTE_BAD_UID);
    if (dwFlags & ~static_cast<DWORD>(CRYPT_FIRST))
        return CspFail(NTE_BAD_FLAGS);
    const DWORD implementation = CRYPT_IMPL_HARDWARE;
    switch (dwParam) {
    case PP_NAME: return ReturnParam(ProviderName, sizeof ProviderName, pbData, pdwDataLen);
    case PP_VERSION: return ReturnParam(&ProviderVersion, sizeof ProviderVersion, pbData, pdwDataLen);
    case PP_PROVTYPE: return ReturnParam(&ProviderType, sizeof ProviderType, pbData, pdwDataLen);
    case PP_IMPTYPE: return ReturnParam(&implementation, sizeof implementation, pbData, pdwDataLen);
    case PP_CONTAINER:
    case PP_UNIQUE_CONTAINER: {
        const char* container = CspHandleContainer(hProv);
        if (!container)
            return CspFail(NTE_BAD_UID);
        return ReturnParam(container, static_cast<DWORD>(std::strlen(container) + 1), pbData, pdwDataLen);
    }
    // No stored containers to list and no algorithms: every enumeration ends at once, as
    // enumerating callers expect.
    case PP_ENUMCONTAINERS:
    case PP_ENUMALGS:
    case PP_ENUMALGS_EX: return CspFail(ERROR_NO_MORE_ITEMS);
    default: return CspFail(NTE_BAD_TYPE);
    }
}

}  // extern "C"
