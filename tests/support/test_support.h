// Helpers the Windows tests share: where the build put things, and which DLL the
// private Wine prefix has registered as the hardware provider.
#pragma once

#include <windows.h>

#include <string>

// Full path of a file in the folder of the running test program (all binaries share it).
std::string BesideThisProgram(const char* file);

// The hardware provider's registry key under HKEY_LOCAL_MACHINE.
extern const char HardwareProviderKey[];

// A string value under HKEY_LOCAL_MACHINE, or ifMissing.
std::string RegistryString(const char* key, const char* name, const char* ifMissing = "");

// Registers image as the hardware provider of the given type, as regsvr32 would.
bool RegisterHardwareProvider(const std::string& image, DWORD type = 22);
// Removes the hardware provider's registration, whoever made it.
void RemoveHardwareProvider();
// The registered provider's "Image Path", or empty.
std::string RegisteredProviderImage();

// Runs a program to its end and returns its exit code, or -1 when it could not start
// or did not end within timeoutMs (it is then ended).
long RunProgram(const std::string& commandLine, DWORD timeoutMs);

// Whole contents of a file, or empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
