#include "turns.h"

#include <windows.h>

#include <atomic>

namespace {

// Unnamed: the turns are this process's own, and no other process can open or hold it.
HANDLE g_turn;
std::atomic<long> g_waiting{0};

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

Turn TakeTurn()
{
    g_waiting.fetch_add(1, std::memory_order_relaxed);
    const DWORD waited = WaitForSingleObject(g_turn, INFINITE);
    g_waiting.fetch_sub(1, std::memory_order_relaxed);
    switch (waited) {
    case WAIT_OBJECT_0: return Turn::Taken;
    case WAIT_ABANDONED: return Turn::TakenFromAnEndedHolder;
    case WAIT_FAILED: return Turn::Failed;
    default: SetLastError(ERROR_INVALID_HANDLE); return Turn::Failed;  // no timeout was asked for
    }
}

void EndTurn()
{
    ReleaseMutex(g_turn);  // fails, changing nothing, for a thread that does not hold it
}

bool TurnWanted()
{
    return g_waiting.load(std::memory_order_relaxed) > 0;
}
