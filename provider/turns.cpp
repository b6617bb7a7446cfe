#include "turns.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace {

// Tickets in order of arrival; the turn is the ticket being served.
std::atomic<uint32_t> g_nextTicket{0}, g_serving{0};

// What a waiter leaves where the others can see it: who holds the ticket, and a bell rung
// when its turn comes. Tickets share slots only when more threads than slots wait at once;
// a waiter then may take a while longer, never for ever.
struct Slot {
    std::atomic<uint64_t> holder{0};  // the ticket in the high half, its thread in the low
    std::atomic<uint32_t> bell{0};
};
constexpr uint32_t SlotCount = 1024;
Slot g_slots[SlotCount];

// How long a waiter sleeps before it looks whether the ticket being served is still held.
constexpr DWORD LookAfterMs = 50;
constexpr uint64_t NoTicket = ~uint64_t{0};

using WaitOnAddressFn = BOOL(WINAPI*)(volatile void*, void*, SIZE_T, DWORD);
using WakeByAddressFn = void(WINAPI*)(void*);

// Sleeping on an address came with Windows 8; before it a waiter sleeps a millisecond at a time.
struct Sleeping {
    WaitOnAddressFn wait;
    WakeByAddressFn wake;
};

const Sleeping& Sleeper()
{
    static const Sleeping sleeping = [] {
        const HMODULE base = GetModuleHandleA("kernelbase.dll");
        return Sleeping{base ? reinterpret_cast<WaitOnAddressFn>(
                                   reinterpret_cast<void*>(GetProcAddress(base, "WaitOnAddress")))
                             : nullptr,
                        base ? reinterpret_cast<WakeByAddressFn>(
                                   reinterpret_cast<void*>(GetProcAddress(base, "WakeByAddressSingle")))
                             : nullptr};
    }();
    return sleeping;
}

uint64_t Holder(uint32_t ticket)
{
    return uint64_t{ticket} << 32 | GetCurrentThreadId();
}

bool Ended(DWORD thread)
{
    const HANDLE handle = OpenThread(SYNCHRONIZE, FALSE, thread);
    if (!handle)
        return true;  // no such thread any more
    const bool ended = WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    CloseHandle(handle);
    return ended;
}

void Ring(uint32_t ticket)
{
    Slot& slot = g_slots[ticket % SlotCount];
    slot.bell.fetch_add(1, std::memory_order_release);
    if (Sleeper().wake)
        Sleeper().wake(&slot.bell);
}

// After a long wait: the ticket being served passes on where its thread has ended, or where
// no thread has claimed it at two looks in a row (ended between drawing it and saying so).
// A live thread whose ticket passed on that way draws another.
void PassOnAbandoned(uint32_t serving, uint64_t* unclaimedAtLastLook)
{
    const uint64_t holder = g_slots[serving % SlotCount].holder.load(std::memory_order_acquire);
    const bool claimed = holder >> 32 == serving;
    const bool abandoned = claimed ? Ended(static_cast<DWORD>(holder)) : *unclaimedAtLastLook == serving;
    *unclaimedAtLastLook = claimed ? NoTicket : serving;
    if (abandoned && g_serving.compare_exchange_strong(serving, serving + 1, std::memory_order_acq_rel))
        Ring(serving + 1);
}

}  // namespace

void TakeTurn()
{
    for (;;) {
        const uint32_t mine = g_nextTicket.fetch_add(1, std::memory_order_seq_cst);
        Slot& slot = g_slots[mine % SlotCount];
        slot.holder.store(Holder(mine), std::memory_order_release);
        uint64_t unclaimedAtLastLook = NoTicket;
        DWORD lookedAt = GetTickCount();
        for (;;) {
            uint32_t bell = slot.bell.load(std::memory_order_acquire);
            const uint32_t serving = g_serving.load(std::memory_order_seq_cst);
            if (serving == mine)
                return;
            if (static_cast<int32_t>(serving - mine) > 0)
                break;  // passed on while this thread did not answer: draw again
            if (Sleeper().wait)
                Sleeper().wait(&slot.bell, &bell, sizeof bell, LookAfterMs);
            else
                Sleep(1);
            if (GetTickCount() - lookedAt >= LookAfterMs && g_serving.load(std::memory_order_acquire) == serving) {
                PassOnAbandoned(serving, &unclaimedAtLastLook);
                lookedAt = GetTickCount();
            }
        }
    }
}

void EndTurn()
{
    const uint32_t next = g_serving.fetch_add(1, std::memory_order_seq_cst) + 1;
    if (next != g_nextTicket.load(std::memory_order_seq_cst))
        Ring(next);  // somebody waits for it
}
