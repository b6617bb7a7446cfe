// The output box: how a run's text, or the random source's error text, reaches the dialog's
// multi-line, read-only edit control, and how whatever reads the box then sees that text.
#pragma once

#include <windows.h>

#include <cstddef>

// Puts `length` characters of text into `box` in place of what it held. ERROR_SUCCESS, or why
// the box cannot take it; the box is then empty.
DWORD ShowOutputText(HWND box, const char* text, std::size_t length);
