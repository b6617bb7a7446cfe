#include "test_support.h"

#include <cstring>
#include <vector>

const char HardwareProviderKey[] =
    "Software\\Microsoft\\Cryptography\\Defaults\\Provider\\Intel Hardware Cryptographic Service Provider";

std::string BesideThisProgram(const char* file)
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + file;
}

bool RegisterHardwareProvider(const std::string& image, DWORD type)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, HardwareProviderKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const DWORD zero = 0;
    const bool ok =
        RegSetValueExA(key, "Image Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(image.c_str()),
                       static_cast<DWORD>(image.size() + 1)) == ERROR_SUCCESS &&
        RegSetValueExA(key, "Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type) ==
            ERROR_SUCCESS &&
        RegSetValueExA(key, "SigInFile", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero) ==
            ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void RemoveHardwareProvider()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, HardwareProviderKey);
}

std::string RegistryString(const char* key, const char* name, const char* ifMissing)
{
    char text[MAX_PATH] = {};
    DWORD size = sizeof text - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return ifMissing;
    return text;
}

std::string RegisteredProviderImage()
{
    return RegistryString(HardwareProviderKey, "Image Path");
}

long RunProgram(const std::string& commandLine, DWORD timeoutMs)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    } else {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hProcess);
    return code == static_cast<DWORD>(-1) ? -1 : static_cast<long>(code);
}

std::string ReadWholeFile(const std::string& path)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string data;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        data.append(chunk, got);
    CloseHandle(file);
    return data;
}
