// What the provider's tests watch from outside: threads inside the generator at once, threads
// waiting for their turn, start-up tests run. Counted only in the test build of the provider
// (hwrngcsp_probes.dll, which exports ProbeCounters); in the product every probe is nothing.
#pragma once

#ifdef HWRNGCSP_PROBES
void ProbeEnter();
void ProbeLeave();
void ProbeWaiting(bool waiting);
void ProbeStartup();
void ProbeHolderEnded();
#else
inline void ProbeEnter() {}
inline void ProbeLeave() {}
inline void ProbeWaiting(bool) {}
inline void ProbeStartup() {}
inline void ProbeHolderEnded() {}
#endif
