// The hardware random source: one block of random bytes from the type-22 hardware
// provider per call, and the system's text for whatever went wrong.
#pragma once

#include "error_text.h"

#include <windows.h>

// Opens the provider, fills destination with count bytes in one request and releases
// the provider again. False when either step failed; the last-error code says why.
bool FillRandomBytes(DWORD count, BYTE* destination);

// The system's message text for the current last-error code, or where the system has
// none, a short text of our own naming the code and, for the codes of the provider, what
// it means.
void DescribeLastError(char (&errorText)[ErrorTextSize]);
