#include "csp_entry.h"
#include "csp_handles.h"

#include <cstdint>
#include <new>
#include <unordered_map>

namespace {

CRITICAL_SECTION g_lock;
// Handle -> its container. Made on first use and never destroyed: it lives as long as the
// process, and other modules may still call in while the process exits.
std::unordered_map<HCRYPTPROV, std::string>* g_open;
uintptr_t g_opened;  // handles given out so far

// The count of handles given out, spread by an odd multiplier and offset by where this
// module was loaded: a bijection, so no value comes twice until the count wraps, and
// small numbers or neighbours of a real handle are not handles.
HCRYPTPROV HandleFor(uintptr_t n)
{
    const uintptr_t spread = n * static_cast<uintptr_t>(0x9E3779B97F4A7C15u) + reinterpret_cast<uintptr_t>(&g_lock);
    return static_cast<HCRYPTPROV>(spread ^ (spread >> 15));
}

}  // namespace

void CspHandlesInit()
{
    InitializeCriticalSection(&g_lock);
}

void CspHandlesShutdown()
{
    DeleteCriticalSection(&g_lock);
}

HCRYPTPROV CspHandleOpen(const char* container)
{
    EnterCriticalSection(&g_lock);
    HCRYPTPROV handle = 0;
    try {
        if (!g_open)
            g_open = new std::unordered_map<HCRYPTPROV, std::string>;
        do
            handle = HandleFor(++g_opened);
        while (handle == 0 || g_open->count(handle));
        g_open->emplace(handle, container ? container : "");
    } catch (const std::bad_alloc&) {
        handle = 0;
    }
    LeaveCriticalSection(&g_lock);
    return handle;
}

bool CspHandleClose(HCRYPTPROV provider)
{
    EnterCriticalSection(&g_lock);
    const bool open = g_open && g_open->erase(provider) == 1;
    LeaveCriticalSection(&g_lock);
    return open;
}

DWORD CspHandleContainer(HCRYPTPROV provider, std::string* container)
{
    EnterCriticalSection(&g_lock);
    DWORD error = static_cast<DWORD>(NTE_BAD_UID);
    try {
        if (g_open) {
            const auto found = g_open->find(provider);
            if (found != g_open->end()) {
                if (container)
                    *container = found->second;
                error = ERROR_SUCCESS;
            }
        }
    } catch (const std::bad_alloc&) {
        error = static_cast<DWORD>(NTE_NO_MEMORY);
    }
    LeaveCriticalSection(&g_lock);
    return error;
}

bool CspHandleIsValid(HCRYPTPROV provider)
{
    return CspHandleContainer(provider, nullptr) == ERROR_SUCCESS;
}

BOOL CspFail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}
