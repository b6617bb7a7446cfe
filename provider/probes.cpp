#include "probes.h"

#include <windows.h>

namespace {

// Read by the tests through ProbeCounters; laid out as they declare it.
struct Counters {
    volatile LONG inside;    // threads inside the generator now
    volatile LONG overlaps;  // entries that found another thread inside
    volatile LONG entries;
    volatile LONG waiting;   // threads waiting for their turn now
    volatile LONG startups;  // start-up tests begun
    volatile LONG handovers; // turns ended mid-request for a waiter
    volatile LONG stopped;   // the place the last stopped caller stopped at
};
Counters g_counters;
volatile LONG g_stopAt;  // where the next caller to pass stops: a ProbeAt, or 0

}  // namespace

void ProbeEnter()
{
    InterlockedIncrement(&g_counters.entries);
    if (InterlockedIncrement(&g_counters.inside) > 1)
        InterlockedIncrement(&g_counters.overlaps);
}

void ProbeLeave()
{
    InterlockedDecrement(&g_counters.inside);
}

void ProbeWaiting(bool waiting)
{
    waiting ? InterlockedIncrement(&g_counters.waiting) : InterlockedDecrement(&g_counters.waiting);
}

void ProbeStartup()
{
    InterlockedIncrement(&g_counters.startups);
}

// The system said the last holder ended holding the turn: where it was inside, it is no more.
void ProbeHolderEnded()
{
    InterlockedCompareExchange(&g_counters.inside, 0, 1);
}

void ProbeHandOver()
{
    InterlockedIncrement(&g_counters.handovers);
}

// The first caller to pass the place stops there for good: the test ends it.
void ProbeStop(ProbeAt at)
{
    if (InterlockedCompareExchange(&g_stopAt, 0, LONG(at)) != LONG(at))
        return;
    InterlockedExchange(&g_counters.stopped, LONG(at));
    for (;;)
        Sleep(INFINITE);
}

extern "C" __declspec(dllexport) void ProbeStopAt(LONG at)
{
    InterlockedExchange(&g_counters.stopped, 0);
    InterlockedExchange(&g_stopAt, at);
}

extern "C" __declspec(dllexport) const void* ProbeCounters()
{
    return &g_counters;
}
