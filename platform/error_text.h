// The system's text for an error code, and the box that tells the user what failed and why.
#pragma once

#include <windows.h>

#include <cstddef>

// Room for a message of 259 characters and its zero byte.
inline constexpr DWORD ErrorTextSize = 260;

// What a code means, for codes the system may have no text for.
struct KnownCode {
    DWORD code;
    const char* meaning;
};

// The system's message text for `code`; where the system has none, "Error 0x........: " and the
// meaning `known` gives it (known holds knownCount entries), or a text saying there is none.
void DescribeError(DWORD code, char (&text)[ErrorTextSize], const KnownCode* known = nullptr,
                   std::size_t knownCount = 0);

// Copies text into errorText, cut at ErrorTextSize - 1 bytes without splitting a
// double-byte character, and always terminated.
void CopyErrorText(const char* text, char (&errorText)[ErrorTextSize]);

// A modal box captioned "ERROR" with an OK button: what failed, a blank line, and the system's
// text for `code`.
void ShowFailure(HWND owner, const char* what, DWORD code);
