#include "turns.h"

#include "probes.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace {

// Unnamed: the turns are this process's own, and no other process can open or hold it.
HANDLE g_turn;
std::atomic<unsigned long> g_taken{0};

// Who wants the turn: a caller that finds it held puts a handle to its own thread in a free
// entry, then sets the entry's bit; at the end of its request it clears the bit, then the
// entry. The holder reads only the bits, but for its own. A caller ended on the way leaves
// an entry behind, and the system signals its thread handle, which is how
// ForgetEndedWaiters knows it. No lock, no thread id: a thread ended anywhere here leaves at
// most an entry that is found later. Callers beyond the table's size are not seen by the
// holder; they are served when it hands over to another or ends its request.
constexpr int WordBits = sizeof(uintptr_t) * 8;
constexpr int Entries = 4096, Words = Entries / WordBits;
std::atomic<uintptr_t> g_present[Words];
std::atomic<HANDLE> g_waiters[Entries];
std::atomic<unsigned> g_nextEntry{0};
static_assert(std::atomic<uintptr_t>::is_always_lock_free && std::atomic<HANDLE>::is_always_lock_free);

uintptr_t Bit(int entry)
{
    return uintptr_t(1) << (entry % WordBits);
}

void Announce(TurnWaiter* w)
{
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &w->self, SYNCHRONIZE, FALSE, 0)) {
        w->self = nullptr;
        return;
    }
    const unsigned start = g_nextEntry.fetch_add(1, std::memory_order_relaxed);
    for (unsigned i = 0; i < Entries && w->entry < 0; ++i) {
        const int entry = int((start + i) % Entries);
        HANDLE none = nullptr;
        if (g_waiters[entry].compare_exchange_strong(none, w->self)) {
            g_present[entry / WordBits].fetch_or(Bit(entry));
            w->entry = entry;
        }
    }
}

}  // namespace

bool TurnsInit()
{
    g_turn = CreateMutexA(nullptr, FALSE, nullptr);
    return g_turn != nullptr;
}

void TurnsShutdown()
{
    CloseHandle(g_turn);
    g_turn = nullptr;
}

Turn TakeTurn(TurnWaiter* waiter)
{
    // A caller that has waited once in this request wants the turn again at once.
    DWORD waited = waiter->self ? WAIT_TIMEOUT : WaitForSingleObject(g_turn, 0);
    if (waited == WAIT_TIMEOUT) {
        if (!waiter->self)
            Announce(waiter);
        ProbeStop(ProbeAt::Announced);
        waited = WaitForSingleObject(g_turn, INFINITE);
    }
    switch (waited) {
    case WAIT_OBJECT_0: g_taken.fetch_add(1, std::memory_order_relaxed); return Turn::Taken;
    case WAIT_ABANDONED: g_taken.fetch_add(1, std::memory_order_relaxed); return Turn::TakenFromAnEndedHolder;
    case WAIT_FAILED: return Turn::Failed;
    default: SetLastError(ERROR_INVALID_HANDLE); return Turn::Failed;  // no timeout was asked for
    }
}

bool EndTurn()
{
    return ReleaseMutex(g_turn);  // fails, changing nothing, for a thread that does not hold it
}

// The handle is closed by whoever clears the entry: the caller, or ForgetEndedWaiters.
void LeaveTurns(TurnWaiter* waiter)
{
    if (waiter->entry >= 0) {
        g_present[waiter->entry / WordBits].fetch_and(~Bit(waiter->entry));
        HANDLE self = waiter->self;
        if (!g_waiters[waiter->entry].compare_exchange_strong(self, nullptr))
            waiter->self = nullptr;
    }
    if (waiter->self)
        CloseHandle(waiter->self);
    *waiter = TurnWaiter{};
}

bool TurnWanted(const TurnWaiter& holder)
{
    for (int word = 0; word < Words; ++word) {
        uintptr_t present = g_present[word].load(std::memory_order_relaxed);
        if (holder.entry >= 0 && holder.entry / WordBits == word)
            present &= ~Bit(holder.entry);
        if (present)
            return true;
    }
    return false;
}

unsigned long TurnsTaken()
{
    return g_taken.load(std::memory_order_relaxed);
}

void ForgetEndedWaiters()
{
    // An entry whose thread has ended belongs to nobody: its waiter can no longer clear it.
    // A live waiter's entry is kept, so one that was only about to wait is seen next chunk.
    for (int entry = 0; entry < Entries; ++entry) {
        HANDLE waiter = g_waiters[entry].load();
        if (waiter && WaitForSingleObject(waiter, 0) == WAIT_OBJECT_0) {
            g_present[entry / WordBits].fetch_and(~Bit(entry));
            if (g_waiters[entry].compare_exchange_strong(waiter, nullptr))
                CloseHandle(waiter);
        }
    }
}
