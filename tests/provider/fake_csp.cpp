// A provider for tests: serves known bytes, fails where it is told to, and records its
// calls, so tests can see exactly what a caller asked of the hardware provider.
// Configured through the environment of the process that loads it:
//   FAKECSP_LOG            file to append one line per call to: "acquire", "gen <n>", "release"
//   FAKECSP_BYTES          hex bytes served in a cycle (default 00 01 02 ... ff)
//   FAKECSP_ACQUIRE_ERROR  fail CPAcquireContext with this code
//   FAKECSP_GEN_ERROR      fail CPGenRandom with this code
#include "csp_entry.h"
#include "csp_handles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char FakeName[] = "Fake Test Provider";

bool ReadSetting(const char* name, char* out, DWORD size)
{
    const DWORD n = GetEnvironmentVariableA(name, out, size);
    return n > 0 && n < size;
}

bool ErrorSetting(const char* name, DWORD* code)
{
    char text[32];
    if (!ReadSetting(name, text, sizeof text))
        return false;
    *code = static_cast<DWORD>(std::strtoul(text, nullptr, 0));
    return true;
}

void Log(const char* line)
{
    char path[MAX_PATH];
    if (!ReadSetting("FAKECSP_LOG", path, sizeof path))
        return;
    const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        CspHandlesInit();
    } else if (reason == DLL_PROCESS_DETACH) {
        CspHandlesShutdown();
    }
    return TRUE;
}

extern "C" {

BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPSTR, DWORD dwFlags, CspVTable*)
{
    char line[64];
    std::snprintf(line, sizeof line, "acquire %lu", static_cast<unsigned long>(dwFlags));
    Log(line);
    DWORD error = 0;
    if (ErrorSetting("FAKECSP_ACQUIRE_ERROR", &error))
        return CspFail(error);
    *phProv = CspHandleOpen();
    return *phProv ? TRUE : CspFail(NTE_NO_MEMORY);
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD)
{
    Log("release");
    if (!CspHandleClose(hProv))
        return CspFail(NTE_BAD_UID);
    // Some providers clear the last error on success; callers must not depend on it surviving.
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer)
{
    char line[64];
    std::snprintf(line, sizeof line, "gen %lu", static_cast<unsigned long>(dwLen));
    Log(line);
    if (!CspHandleIsValid(hProv))
        return CspFail(NTE_BAD_UID);
    DWORD error = 0;
    if (ErrorSetting("FAKECSP_GEN_ERROR", &error))
        return CspFail(error);

    char hex[8192];
    BYTE pattern[sizeof hex / 2];
    DWORD patternLength = 0;
    if (ReadSetting("FAKECSP_BYTES", hex, sizeof hex)) {
        for (const char* p = hex; p[0] && p[1]; p += 2) {
            const int high = HexDigit(p[0]), low = HexDigit(p[1]);
            if (high < 0 || low < 0)
                break;
            pattern[patternLength++] = static_cast<BYTE>(high * 16 + low);
        }
    }
    for (DWORD i = 0; i < dwLen; ++i)
        pbBuffer[i] = patternLength ? pattern[i % patternLength] : static_cast<BYTE>(i);
    return TRUE;
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD)
{
    if (!CspHandleIsValid(hProv))
        return CspFail(NTE_BAD_UID);
    if (dwParam != PP_NAME || !pdwDataLen)
        return CspFail(NTE_BAD_TYPE);
    if (pbData && *pdwDataLen >= sizeof FakeName)
        std::memcpy(pbData, FakeName, sizeof FakeName);
    *pdwDataLen = sizeof FakeName;
    return TRUE;
}

}  // extern "C"
