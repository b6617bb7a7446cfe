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
};
Counters g_counters;

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

extern "C" __declspec(dllexport) const void* ProbeCounters()
{
    return &g_counters;
}
