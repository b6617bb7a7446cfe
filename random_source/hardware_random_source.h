// The hardware random source: one block of random bytes from the type-22 hardware
// provider per call, and the system's text for whatever went wrong.
#pragma once

#include <windows.h>

// Room for a message of 259 characters and its zero byte.
inline constexpr DWORD ErrorTextSize = 260;

// Opens the provider, fills destination with count bytes in one request and releases
// the provider again. False when either step failed; the last-error code says why.
bool FillRandomBytes(DWORD count, BYTE* destination);

// The system's message text for the current last-error code, or where the system has
// none, a short text of our own naming the code.
void DescribeLastError(char (&errorText)[ErrorTextSize]);

// Copies text into errorText, cut at ErrorTextSize - 1 bytes without splitting a
// double-byte character, and always terminated.
void CopyErrorText(const char* text, char (&errorText)[ErrorTextSize]);
