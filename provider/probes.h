// What the provider's tests watch from outside: threads inside the generator at once, threads
// waiting for their turn, start-up tests run, turns handed over mid-request; and places where
// a test can have the next caller stop, to end it there. Counted only in the test build of the
// provider (hwrngcsp_probes.dll, which exports ProbeCounters and ProbeStopAt); in the product
// every probe is nothing.
#pragma once

enum class ProbeAt {
    Lookup = 1,  // in the middle of looking up a handle
    Announced,   // seen as a waiter, not yet waiting
    Opening,     // a handle's entry claimed, not yet given its value
    Closing,     // a handle's entry claimed back, its container not yet freed
};

#ifdef HWRNGCSP_PROBES
void ProbeEnter();
void ProbeLeave();
void ProbeWaiting(bool waiting);
void ProbeStartup();
void ProbeHolderEnded();
void ProbeHandOver();
void ProbeStop(ProbeAt at);
#else
inline void ProbeEnter() {}
inline void ProbeLeave() {}
inline void ProbeWaiting(bool) {}
inline void ProbeStartup() {}
inline void ProbeHolderEnded() {}
inline void ProbeHandOver() {}
inline void ProbeStop(ProbeAt) {}
#endif
