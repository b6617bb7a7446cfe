// Turns at the generator, for every thread of the process that loaded the provider: first
// come, first served, one chunk at a time, so that a small request is served between the
// chunks of a large one. A thread waiting for its turn sleeps. A thread that was ended while
// it waited or held its turn (TerminateThread; ExitProcess ends every other thread before
// DLL shutdown code runs) loses that turn to the next waiter that finds it gone.
#pragma once

void TakeTurn();
void EndTurn();
