// Turns at the generator, for every thread of the process that loaded the provider: one
// holder at a time, a chunk at a time, so that a small request is served between the chunks
// of a large one. The turn is a kernel mutex: the system knows its owner, hands it to one
// waiter at each release, puts waiters to sleep, and tells the next taker when the owner
// ended while holding it. A thread ended while it waits simply drops out. Under Wine each
// take and release is a round trip to the server, which costs more than making a chunk:
// a holder keeps the turn while nobody waits.
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
// Whether a thread waits for the turn now: the holder may keep the turn across chunks while
// nobody does. A hint only (a waiter ended while it waited is counted until the process
// ends, and the holder then hands over after every chunk); the mutex alone decides who holds.
bool TurnWanted();
