// regsvr32's entry points. The provider's name is one key that any provider of that name
// may hold, the genuine one among them: registration writes it only when nobody holds it,
// and unregistration removes it only when it names this very file.
#include "provider_identity.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

extern HINSTANCE g_module;

namespace {

const char ProviderTypeName[] = "Hardware Random Number Generator";

enum class Holder { Nobody, ThisFile, OtherFile, Unknown };

// A path as Windows tells files apart: full, with long names, compared without case.
void CanonicalPath(const char* path, char (&out)[MAX_PATH])
{
    char expanded[MAX_PATH];
    char full[MAX_PATH];
    DWORD n = ExpandEnvironmentStringsA(path, expanded, MAX_PATH);
    const char* from = n > 0 && n <= MAX_PATH ? expanded : path;
    n = GetFullPathNameA(from, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH)
        lstrcpynA(full, from, MAX_PATH);
    n = GetLongPathNameA(full, out, MAX_PATH);  // fails for a file that does not exist
    if (n == 0 || n >= MAX_PATH)
        lstrcpynA(out, full, MAX_PATH);
}

// Either string type: a path may hold environment variables, which CanonicalPath expands.
constexpr DWORD AnyString = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;

LONG ReadValue(HKEY root, const char* key, const char* name, DWORD types, void* out, DWORD size)
{
    return RegGetValueA(root, key, name, types, nullptr, out, &size);
}

// Who the provider's key names; for Unknown, error says why it could not be read.
Holder ProviderHolder(const char* modulePath, LONG* error)
{
    char image[MAX_PATH];
    *error = ReadValue(HKEY_LOCAL_MACHINE, HARDWARE_PROVIDER_KEY, "Image Path", AnyString, image, sizeof image);
    if (*error == ERROR_FILE_NOT_FOUND)
        return Holder::Nobody;  // no key, or a key that names no file
    if (*error != ERROR_SUCCESS)
        return Holder::Unknown;
    char registered[MAX_PATH], ours[MAX_PATH];
    CanonicalPath(image, registered);
    CanonicalPath(modulePath, ours);
    return lstrcmpiA(registered, ours) == 0 ? Holder::ThisFile : Holder::OtherFile;
}

LONG SetString(HKEY key, const char* name, const char* value)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>(std::strlen(value) + 1));
}

// Writes a number only where it differs, so registering twice changes nothing.
LONG EnsureDword(HKEY key, const char* name, DWORD value)
{
    DWORD current = 0;
    if (ReadValue(key, nullptr, name, RRF_RT_REG_DWORD, &current, sizeof current) == ERROR_SUCCESS && current == value)
        return ERROR_SUCCESS;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Common start of both entry points: this DLL's path and who holds the provider's name.
HRESULT LookUp(char (&modulePath)[MAX_PATH], Holder* holder)
{
    const DWORD n = GetModuleFileNameA(g_module, modulePath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    LONG error = ERROR_SUCCESS;
    *holder = ProviderHolder(modulePath, &error);
    if (*holder == Holder::Unknown)
        return HRESULT_FROM_WIN32(error);
    // Another file holds the name: NTE_EXISTS, "Object already exists".
    return *holder == Holder::OtherFile ? NTE_EXISTS : S_OK;
}

}  // namespace

extern "C" HRESULT WINAPI DllRegisterServer()
{
    char modulePath[MAX_PATH];
    Holder holder = Holder::Nobody;
    const HRESULT found = LookUp(modulePath, &holder);
    if (FAILED(found))
        return found;

    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, HARDWARE_PROVIDER_KEY, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                              nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    if (holder == Holder::Nobody)  // the path this file is known by stays as it was written
        rc = SetString(key, "Image Path", modulePath);
    if (rc == ERROR_SUCCESS)
        rc = EnsureDword(key, "Type", HARDWARE_PROVIDER_TYPE);
    if (rc == ERROR_SUCCESS)
        rc = EnsureDword(key, "SigInFile", 0);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);

    // The provider type is claimed only when no provider has claimed it.
    DWORD disposition = 0;
    rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, HARDWARE_PROVIDER_TYPE_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                         &disposition);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    if (disposition == REG_CREATED_NEW_KEY) {
        rc = SetString(key, "Name", HARDWARE_PROVIDER_NAME);
        if (rc == ERROR_SUCCESS)
            rc = SetString(key, "TypeName", ProviderTypeName);
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(rc);
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    char modulePath[MAX_PATH];
    Holder holder = Holder::Nobody;
    const HRESULT found = LookUp(modulePath, &holder);
    if (FAILED(found) || holder == Holder::Nobody)
        return found;  // a failure, or nothing of ours to remove

    LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, HARDWARE_PROVIDER_KEY);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    // A provider type that names the provider just removed would point at nothing.
    char name[MAX_PATH];
    if (ReadValue(HKEY_LOCAL_MACHINE, HARDWARE_PROVIDER_TYPE_KEY, "Name", AnyString, name, sizeof name) == ERROR_SUCCESS &&
        lstrcmpiA(name, HARDWARE_PROVIDER_NAME) == 0)
        rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, HARDWARE_PROVIDER_TYPE_KEY);
    return HRESULT_FROM_WIN32(rc);
}
