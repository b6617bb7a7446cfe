// A CryptoAPI provider of type 22 that serves random bytes from the CPU's hardware
// generator (RDRAND), with start-up and continuous health tests. It offers random
// numbers only: no keys, no hashes, no key containers.
#include "csp_entry.h"
#include "csp_handles.h"
#include "rng_core.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>

namespace {

const char ProviderName[] = "Intel Hardware Cryptographic Service Provider";
const char ProviderTypeName[] = "Hardware Random Number Generator";
constexpr DWORD ProviderType = 22;  // PROV_INTEL_SEC
constexpr DWORD ProviderVersion = 0x0200;
const char ProviderKeyBase[] = "Software\\Microsoft\\Cryptography\\Defaults\\Provider\\";
const char ProviderTypeKey[] = "Software\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type 022";

HINSTANCE g_module;
// One generator stream for the process: its health state is shared by every handle.
CRITICAL_SECTION g_rngLock;
RngHealth g_health;

__attribute__((target("rdrnd"))) bool RdRandStep(void*, uint32_t* sample)
{
    unsigned int value = 0;
    if (!_rdrand32_step(&value))
        return false;
    *sample = value;
    return true;
}

void Pause(void*)
{
    __builtin_ia32_pause();
}

bool CpuHasRdRand()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_RDRND) != 0;
}

RngSource HardwareSource()
{
    return RngSource{CpuHasRdRand(), RdRandStep, Pause, nullptr};
}

DWORD ErrorFor(RngStatus status)
{
    switch (status) {
    case RngStatus::Ok: return ERROR_SUCCESS;
    case RngStatus::NotFound: return static_cast<DWORD>(NTE_DEVICE_NOT_FOUND);
    case RngStatus::NotReady: return static_cast<DWORD>(NTE_DEVICE_NOT_READY);
    case RngStatus::HealthFailure:
    case RngStatus::Latched: break;
    }
    return static_cast<DWORD>(NTE_FAIL);
}

// The CryptoAPI convention for returning a parameter: a null buffer asks for the size.
BOOL ReturnParam(const void* data, DWORD size, BYTE* out, DWORD* outLength)
{
    if (!outLength)
        return CspFail(ERROR_INVALID_PARAMETER);
    if (!out) {
        *outLength = size;
        return TRUE;
    }
    if (*outLength < size) {
        *outLength = size;
        return CspFail(ERROR_MORE_DATA);
    }
    std::memcpy(out, data, size);
    *outLength = size;
    return TRUE;
}

DWORD ReadString(HKEY key, const char* name, char* out, DWORD size)
{
    DWORD type = 0;
    DWORD length = size - 1;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &length);
    if (rc != ERROR_SUCCESS)
        return static_cast<DWORD>(rc);
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    out[length < size ? length : size - 1] = '\0';
    return ERROR_SUCCESS;
}

DWORD SetString(HKEY key, const char* name, const char* value)
{
    return static_cast<DWORD>(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                             static_cast<DWORD>(std::strlen(value) + 1)));
}

DWORD SetDword(HKEY key, const char* name, DWORD value)
{
    return static_cast<DWORD>(
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
}

// This DLL's full path and the provider's registry key.
DWORD RegistrationPaths(char (&modulePath)[MAX_PATH], char (&keyPath)[MAX_PATH])
{
    std::strcpy(keyPath, ProviderKeyBase);
    std::strcat(keyPath, ProviderName);
    const DWORD n = GetModuleFileNameA(g_module, modulePath, MAX_PATH);
    return n > 0 && n < MAX_PATH ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        // advapi32 loads the provider at every acquire and frees it at every release.
        // Staying loaded keeps one health-test stream per process and spares the caller
        // a load and a start-up test per request.
        HMODULE pinned = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&DllMain), &pinned);
        InitializeCriticalSection(&g_rngLock);
        CspHandlesInit();
    } else if (reason == DLL_PROCESS_DETACH) {
        CspHandlesShutdown();
        DeleteCriticalSection(&g_rngLock);
    }
    return TRUE;
}

extern "C" {

BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPSTR pszContainer, DWORD dwFlags, CspVTable*)
{
    const DWORD known = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_MACHINE_KEYSET |
                        CRYPT_SILENT;
    if (dwFlags & ~known)
        return CspFail(NTE_BAD_FLAGS);
    if ((dwFlags & CRYPT_VERIFYCONTEXT) && pszContainer && *pszContainer)
        return CspFail(NTE_BAD_FLAGS);  // a verification context has no container
    if (!phProv)
        return CspFail(ERROR_INVALID_PARAMETER);
    if (dwFlags & CRYPT_DELETEKEYSET) {
        // No container is ever stored, so there is nothing to delete and no handle to give.
        *phProv = 0;
        return TRUE;
    }
    if (dwFlags & CRYPT_NEWKEYSET)
        return CspFail(NTE_EXISTS);  // the one implicit container always exists

    EnterCriticalSection(&g_rngLock);
    const RngStatus status = RngOpen(HardwareSource(), &g_health);
    LeaveCriticalSection(&g_rngLock);
    if (status != RngStatus::Ok)
        return CspFail(ErrorFor(status));

    const HCRYPTPROV handle = CspHandleOpen();
    if (!handle)
        return CspFail(NTE_NO_MEMORY);
    *phProv = handle;
    return TRUE;
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    if (!CspHandleClose(hProv))
        return CspFail(NTE_BAD_UID);
    return dwFlags ? CspFail(NTE_BAD_FLAGS) : TRUE;
}

BOOL WINAPI CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer)
{
    if (!CspHandleIsValid(hProv))
        return CspFail(NTE_BAD_UID);
    if (dwLen == 0)
        return TRUE;
    if (!pbBuffer)
        return CspFail(ERROR_INVALID_PARAMETER);
    EnterCriticalSection(&g_rngLock);
    const RngStatus status = RngGenerate(HardwareSource(), &g_health, pbBuffer, dwLen);
    LeaveCriticalSection(&g_rngLock);
    return status == RngStatus::Ok ? TRUE : CspFail(ErrorFor(status));
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags)
{
    if (!CspHandleIsValid(hProv))
        return CspFail(NTE_BAD_UID);
    if (dwFlags & ~static_cast<DWORD>(CRYPT_FIRST))
        return CspFail(NTE_BAD_FLAGS);
    const DWORD implementation = CRYPT_IMPL_HARDWARE;
    switch (dwParam) {
    case PP_NAME: return ReturnParam(ProviderName, sizeof ProviderName, pbData, pdwDataLen);
    case PP_VERSION: return ReturnParam(&ProviderVersion, sizeof ProviderVersion, pbData, pdwDataLen);
    case PP_PROVTYPE: return ReturnParam(&ProviderType, sizeof ProviderType, pbData, pdwDataLen);
    case PP_IMPTYPE: return ReturnParam(&implementation, sizeof implementation, pbData, pdwDataLen);
    case PP_CONTAINER:
    case PP_UNIQUE_CONTAINER: return ReturnParam("", 1, pbData, pdwDataLen);
    case PP_ENUMCONTAINERS: return CspFail(ERROR_NO_MORE_ITEMS);
    default: return CspFail(NTE_BAD_TYPE);
    }
}

}  // extern "C"

// regsvr32: registers this DLL as the provider, and the provider type when no other
// provider has claimed it.
extern "C" HRESULT WINAPI DllRegisterServer()
{
    char modulePath[MAX_PATH];
    char keyPath[MAX_PATH];
    DWORD rc = RegistrationPaths(modulePath, keyPath);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);

    HKEY key = nullptr;
    rc = static_cast<DWORD>(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                            nullptr));
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = SetString(key, "Image Path", modulePath);
    if (rc == ERROR_SUCCESS)
        rc = SetDword(key, "Type", ProviderType);
    if (rc == ERROR_SUCCESS)
        rc = SetDword(key, "SigInFile", 0);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);

    DWORD disposition = 0;
    rc = static_cast<DWORD>(RegCreateKeyExA(HKEY_LOCAL_MACHINE, ProviderTypeKey, 0, nullptr, 0,
                                            KEY_WRITE | KEY_QUERY_VALUE, nullptr, &key, &disposition));
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    char existing[MAX_PATH];
    if (disposition == REG_CREATED_NEW_KEY || ReadString(key, "Name", existing, sizeof existing) != ERROR_SUCCESS) {
        rc = SetString(key, "Name", ProviderName);
        if (rc == ERROR_SUCCESS)
            rc = SetString(key, "TypeName", ProviderTypeName);
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(rc);
}

// Removes only what names this DLL: the provider key when its image is this file, and
// the provider type when it names this provider.
extern "C" HRESULT WINAPI DllUnregisterServer()
{
    char modulePath[MAX_PATH];
    char keyPath[MAX_PATH];
    DWORD rc = RegistrationPaths(modulePath, keyPath);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);

    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return S_OK;  // not registered: nothing to undo
    char image[MAX_PATH];
    char expanded[MAX_PATH];
    const bool ours = ReadString(key, "Image Path", image, sizeof image) == ERROR_SUCCESS &&
                      ExpandEnvironmentStringsA(image, expanded, sizeof expanded) - 1 < sizeof expanded &&
                      lstrcmpiA(expanded, modulePath) == 0;
    RegCloseKey(key);
    if (!ours)
        return S_OK;  // another DLL holds the name: leave it alone
    rc = static_cast<DWORD>(RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath));
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProviderTypeKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        char name[MAX_PATH];
        const bool typeIsOurs = ReadString(key, "Name", name, sizeof name) == ERROR_SUCCESS &&
                                std::strcmp(name, ProviderName) == 0;
        RegCloseKey(key);
        if (typeIsOurs)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, ProviderTypeKey);
    }
    return S_OK;
}
