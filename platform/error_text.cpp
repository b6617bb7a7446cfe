#include "error_text.h"

#include <cstdio>
#include <cstring>

void CopyErrorText(const char* text, char (&out)[ErrorTextSize])
{
    std::size_t n = 0;
    for (;;) {
        if (text[n] == '\0')
            break;
        const std::size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[n])) && text[n + 1] != '\0' ? 2 : 1;
        if (n + step > ErrorTextSize - 1)
            break;
        n += step;
    }
    std::memcpy(out, text, n);
    out[n] = '\0';
}

void DescribeError(DWORD code, char (&text)[ErrorTextSize], const KnownCode* known, std::size_t knownCount)
{
    char* systemText = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    if (length > 0 && systemText)
        CopyErrorText(systemText, text);
    if (systemText)
        LocalFree(systemText);
    if (length > 0)
        return;

    const char* meaning = "The system has no text for this error.";
    for (std::size_t i = 0; i < knownCount; ++i)
        if (known[i].code == code)
            meaning = known[i].meaning;
    char own[ErrorTextSize];
    std::snprintf(own, sizeof own, "Error 0x%08lX: %s\r\n", static_cast<unsigned long>(code), meaning);
    CopyErrorText(own, text);
}

void ShowFailure(HWND owner, const char* what, DWORD code)
{
    char reason[ErrorTextSize];
    DescribeError(code, reason);
    // What failed names at most a path of MAX_PATH characters and a few words.
    char text[MAX_PATH + ErrorTextSize + 160];
    std::snprintf(text, sizeof text, "%s\n\n%s", what, reason);
    MessageBoxA(owner, text, "ERROR", MB_OK);
}
