// What the Windows tests share: the driver of Quorvel.exe, the hardware provider's
// registration in the private prefix, and other programs run to their end.
#pragma once

#include "driver.h"

// TEST_PROVIDER_NAME, the tests' own spelling of the provider's name, comes from the build.
inline constexpr char ProviderKey[] = "Software\\Microsoft\\Cryptography\\Defaults\\Provider\\" TEST_PROVIDER_NAME;
inline constexpr char ProviderTypeKey[] = "Software\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type 022";

// Registers image as the provider, as regsvr32 would; RemoveProvider deletes the key.
bool RegisterProvider(const std::string& image, DWORD type = 22);
inline void RemoveProvider() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, ProviderKey); }
std::string RegString(const char* key, const char* name);  // under HKEY_LOCAL_MACHINE, or "-"
long RunProgram(std::wstring commandLine);                 // its exit code once it ends, or -1
std::string Hex(HRESULT code);                             // "0x" and eight hex digits
std::wstring Wide(const std::string& text);                // from the ANSI code page
std::string FileBytes(const std::string& path);            // or "<none>" when it cannot be opened
std::string Clipboard();                                   // its text, or "<none>"
