#include "test_support.h"

#include <fstream>
#include <iterator>

bool RegisterProvider(const std::string& image, DWORD type)
{
    const DWORD zero = 0;
    return !RegSetKeyValueA(HKEY_LOCAL_MACHINE, ProviderKey, "Image Path", REG_SZ, image.c_str(),
                            static_cast<DWORD>(image.size() + 1)) &&
           !RegSetKeyValueA(HKEY_LOCAL_MACHINE, ProviderKey, "Type", REG_DWORD, &type, 4) &&
           !RegSetKeyValueA(HKEY_LOCAL_MACHINE, ProviderKey, "SigInFile", REG_DWORD, &zero, 4);
}

std::string RegString(const char* key, const char* name)
{
    char text[MAX_PATH];
    DWORD size = sizeof text;
    return RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, text, &size) ? "-" : text;
}

long RunProgram(std::wstring commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD code = static_cast<DWORD>(-1);
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, code);  // nothing left running behind the test
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<long>(code);
}

std::string FileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<none>";
}

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), int(wide.size())));
    return wide;
}

std::string Hex(HRESULT code)
{
    char text[16];
    return wsprintfA(text, "0x%08lX", static_cast<unsigned long>(code)), text;
}

std::string Clipboard()
{
    for (int i = 0; i < 100 && !OpenClipboard(nullptr); ++i)
        Sleep(20);
    const char* text = static_cast<const char*>(GlobalLock(GetClipboardData(CF_TEXT)));
    const std::string copied = text ? text : "<none>";
    GlobalUnlock(GetClipboardData(CF_TEXT));
    return CloseClipboard(), copied;
}
