// Turns at the generator, for every thread of the process that loaded the provider: one
// holder at a time, a chunk at a time, so that a small request is served between the chunks
// of a large one. The turn is a kernel mutex: the system knows its owner, hands it to one
// waiter at each release, puts waiters to sleep, and tells the next taker when the owner
// ended while holding it. Under Wine each take and release is a round trip to the server,
// which costs more than making a chunk: a holder keeps the turn while nobody waits.
#pragma once

enum class Turn {
    Taken,
    TakenFromAnEndedHolder,  // the last holder ended holding it: what it guarded may be torn
    Failed,                  // the wait failed; the last-error code says why
};

bool TurnsInit();  // false, with the last-error code, when the mutex cannot be made
void TurnsShutdown();
Turn TakeTurn();
// Only the holder ends its turn; a call from any other thread changes nothing.
void EndTurn();
// Whether a thread waits for the turn now: a read of memory, for the holder between chunks.
// A waiter ended while it waited still counts until ForgetEndedWaiters finds it.
bool TurnWanted();
// Turns taken so far, by anyone; exact while read by the holder.
unsigned long TurnsTaken();
// For a holder that handed the turn over and got it back with nobody taking it between:
// whoever it saw waiting had ended (or was about to wait). Ended waiters are forgotten.
void ForgetEndedWaiters();
