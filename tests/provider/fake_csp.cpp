// A provider for tests: serves known bytes, fails where it is told to and logs its calls,
// all set through the environment of the process that loads it:
//   FAKECSP_LOG            file that gets a line per call: "acquire <flags>", "gen <n>", "release"
//   FAKECSP_BYTES          hex bytes served in a cycle (default 00 01 02 ... ff)
//   FAKECSP_ACQUIRE_ERROR  CPAcquireContext fails with this code
//   FAKECSP_GEN_ERROR      CPGenRandom fails with this code
#include "csp_entry.h"
#include "csp_handles.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string Setting(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

void Log(const std::string& line)
{
    std::ofstream(Setting("FAKECSP_LOG"), std::ios::app | std::ios::binary) << line << '\n';
}

// TRUE, with the last error set, when the setting names a code to fail with.
BOOL Refuse(const char* setting)
{
    const std::string code = Setting(setting);
    SetLastError(std::strtoul(code.c_str(), nullptr, 0));
    return !code.empty();
}

}  // namespace

extern "C" BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPSTR, DWORD dwFlags, CspVTable*)
{
    Log("acquire " + std::to_string(dwFlags));
    return !Refuse("FAKECSP_ACQUIRE_ERROR") && (*phProv = CspHandleOpen(nullptr)) ? TRUE : FALSE;
}

extern "C" BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD)
{
    Log("release");
    SetLastError(ERROR_SUCCESS);  // as some providers do: callers must not rely on the last error surviving
    return CspHandleClose(hProv) ? TRUE : CspFail(NTE_BAD_UID);
}

extern "C" BOOL WINAPI CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer)
{
    Log("gen " + std::to_string(dwLen));
    if (!CspHandleIsValid(hProv) || Refuse("FAKECSP_GEN_ERROR"))
        return CspHandleIsValid(hProv) ? FALSE : CspFail(NTE_BAD_UID);
    const std::string hex = Setting("FAKECSP_BYTES");
    for (DWORD i = 0, cycle = static_cast<DWORD>(hex.size() / 2); i < dwLen; ++i)
        pbBuffer[i] = static_cast<BYTE>(cycle ? std::strtoul(hex.substr(i % cycle * 2, 2).c_str(), nullptr, 16) : i);
    return TRUE;
}

extern "C" BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD, BYTE*, DWORD*, DWORD)
{
    return CspFail(CspHandleIsValid(hProv) ? NTE_BAD_TYPE : NTE_BAD_UID);
}
