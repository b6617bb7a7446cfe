#include "hardware_random_source.h"

#include "provider_identity.h"

#include <wincrypt.h>

#include <iterator>

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

void DescribeLastError(char (&errorText)[ErrorTextSize])
{
    DescribeError(GetLastError(), errorText, KnownCodes, std::size(KnownCodes));
}
