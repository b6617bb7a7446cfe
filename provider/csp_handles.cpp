#include "csp_entry.h"
#include "csp_handles.h"

namespace {

constexpr unsigned SlotCount = 255;

struct Slot {
    bool used;
    DWORD check;  // bumped every time the slot is handed out
};

CRITICAL_SECTION g_lock;
Slot g_slots[SlotCount];

// Low byte: slot + 1 (never 0); the rest: the slot's check value.
HCRYPTPROV MakeHandle(unsigned slot, DWORD check)
{
    return static_cast<HCRYPTPROV>((check << 8) | (slot + 1));
}

bool Decode(HCRYPTPROV provider, unsigned* slot)
{
    const unsigned low = static_cast<unsigned>(provider & 0xFF);
    if (low == 0)
        return false;
    *slot = low - 1;
    return g_slots[*slot].used && MakeHandle(*slot, g_slots[*slot].check) == provider;
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

HCRYPTPROV CspHandleOpen()
{
    EnterCriticalSection(&g_lock);
    HCRYPTPROV handle = 0;
    for (unsigned i = 0; i < SlotCount && !handle; ++i) {
        if (!g_slots[i].used) {
            g_slots[i].used = true;
            g_slots[i].check = (g_slots[i].check + 1) & 0xFFFFFF;
            handle = MakeHandle(i, g_slots[i].check);
        }
    }
    LeaveCriticalSection(&g_lock);
    return handle;
}

// Whether the handle is one given out and still open; closes it too when asked.
static bool Check(HCRYPTPROV provider, bool close)
{
    EnterCriticalSection(&g_lock);
    unsigned slot = 0;
    const bool ok = Decode(provider, &slot);
    if (ok && close)
        g_slots[slot].used = false;
    LeaveCriticalSection(&g_lock);
    return ok;
}

bool CspHandleClose(HCRYPTPROV provider)
{
    return Check(provider, true);
}

bool CspHandleIsValid(HCRYPTPROV provider)
{
    return Check(provider, false);
}

BOOL CspFail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}
