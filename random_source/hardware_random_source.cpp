#include "hardware_random_source.h"

#include "provider_identity.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstring>

bool FillRandomBytes(DWORD count, BYTE* destination)
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, HARDWARE_PROVIDER_NAME, HARDWARE_PROVIDER_TYPE, 0))
        return false;
    const bool filled = CryptGenRandom(provider, count, destination) == 1;
    // Releasing must not replace the reason the request failed with one of its own.
    const DWORD requestError = GetLastError();
    CryptReleaseContext(provider, 0);
    if (!filled)
        SetLastError(requestError);
    return filled;
}

namespace {

// What the CryptoAPI codes a user meets here mean, for systems that have no text for them.
struct KnownCode {
    DWORD code;
    const char* meaning;
};

const KnownCode KnownCodes[] = {
    {static_cast<DWORD>(NTE_KEYSET_NOT_DEF),
     "The hardware random number provider is not installed (no provider of that name is registered)."},
    {static_cast<DWORD>(NTE_PROV_DLL_NOT_FOUND), "The hardware random number provider's DLL was not found."},
    {static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL),
     "The hardware random number provider's DLL could not be loaded or is incomplete."},
    {static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF), "No provider is registered for the provider type requested."},
    {static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH),
     "The hardware random number provider is registered with another provider type."},
    {static_cast<DWORD>(NTE_BAD_PROV_TYPE),
     "The hardware random number provider is registered with another provider type."},
    {static_cast<DWORD>(NTE_BAD_SIGNATURE), "The hardware random number provider's signature could not be verified."},
    {static_cast<DWORD>(NTE_DEVICE_NOT_FOUND), "No hardware random number generator was found on this computer."},
    {static_cast<DWORD>(NTE_DEVICE_NOT_READY), "The hardware random number generator is not ready."},
    {static_cast<DWORD>(NTE_FAIL), "An internal error occurred in the hardware random number provider."},
};

}  // namespace

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

void DescribeLastError(char (&errorText)[ErrorTextSize])
{
    const DWORD code = GetLastError();
    char* systemText = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    if (length > 0 && systemText) {
        CopyErrorText(systemText, errorText);
        LocalFree(systemText);
        return;
    }
    if (systemText)
        LocalFree(systemText);

    const char* meaning = "The system has no text for this error.";
    for (const KnownCode& known : KnownCodes)
        if (known.code == code)
            meaning = known.meaning;
    char text[ErrorTextSize];
    std::snprintf(text, sizeof text, "Error 0x%08lX: %s\r\n", static_cast<unsigned long>(code), meaning);
    CopyErrorText(text, errorText);
}
