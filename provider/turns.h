// Turns at the generator, for every thread of the process that loaded the provider: one
// holder at a time, a chunk at a time, so that a small request is served between the chunks
// of a large one. The turn is a kernel mutex: the system knows its owner, hands it to one
// waiter at each release, puts waiters to sleep, and tells the next taker when the owner
// ended while holding it. Under Wine each take and release is a round trip to the server,
// which costs more than making a chunk: a holder keeps the turn while nobody waits.
#pragma once

#include <windows.h>

enum class Turn {
    Taken,
    TakenFromAnEndedHolder,  // the last holder ended holding it: what it guarded may be torn
    Failed,                  // the wait failed; the last-error code says why
};

// A caller's place among those who want the turn, kept for the whole of its request: taken
// the first time it finds the turn held, given up by LeaveTurns when the request ends.
struct TurnWaiter {
    int entry = -1;         // -1: none, or none was free
    HANDLE self = nullptr;  // a handle to the caller's own thread, once it has waited
};

bool TurnsInit();  // false, with the last-error code, when the mutex cannot be made
void TurnsShutdown();
Turn TakeTurn(TurnWaiter* waiter);
// Only the holder ends its turn; a call from any other thread changes nothing and returns false.
bool EndTurn();
void LeaveTurns(TurnWaiter* waiter);
// Whether another caller wants the turn now: a read of memory, for the holder between
// chunks. A caller ended meanwhile still counts until ForgetEndedWaiters finds it.
bool TurnWanted(const TurnWaiter& holder);
// Turns taken so far, by anyone; exact while read by the holder.
unsigned long TurnsTaken();
// For a holder that handed the turn over and got it back with nobody taking it between:
// whoever it saw waiting had ended (or was about to wait). Ended waiters are forgotten.
void ForgetEndedWaiters();
