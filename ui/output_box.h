// The output box: how a run's text, or the random source's error text, reaches it.
#pragma once

#include <windows.h>

#include <cstddef>

// Puts the text into the dialog's output box. False, with the box empty and the last-error
// code saying why, where the box cannot take it.
bool ShowOutput(HWND dialog, const char* text, std::size_t length);
