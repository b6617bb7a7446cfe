// The word-break procedure of the output box whose lines Quorvel ends, under Wine.
#pragma once

#include <windows.h>

// The box the procedure serves (null: none); what it remembers of the last line starts anew.
void ServeWordBreaks(HWND box);

// The box calls this to end a line it measures too wide for itself and to move and select by
// words; the answers come from the system's break opportunities and the box's own measure.
int CALLBACK BreakLines(LPSTR s, int index, int count, int action);
