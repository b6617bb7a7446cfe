// regsvr32's entry points. The provider's name is one key that any provider of that name
// may hold, the genuine one among them: registration writes it only when nobody holds it,
// and unregistration removes it only when it names this very file.
#include "provider_identity.h"

#include <windows.h>
#include <wincrypt.h>

#include <cwchar>
#include <new>
#include <string>

namespace {

// This DLL, found by an address inside it: registration needs the file's own path.
HMODULE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

const wchar_t ProviderKey[] = L"" HARDWARE_PROVIDER_KEY;
const wchar_t ProviderTypeKey[] = L"" HARDWARE_PROVIDER_TYPE_KEY;
const wchar_t ProviderName[] = L"" HARDWARE_PROVIDER_NAME;
const wchar_t ProviderTypeName[] = L"Hardware Random Number Generator";

// Paths are handled in UTF-16 throughout: the ANSI forms would turn a folder named outside
// the code page into another, plain path, register that, and report success.
constexpr DWORD PathSize = 32768;  // the longest path Windows knows, in characters
using Path = std::wstring;

enum class Holder { Nobody, ThisFile, OtherFile, Unknown };

// A path as Windows tells files apart: full, with long names; compared without case.
Path CanonicalPath(const Path& path)
{
    Path expanded(PathSize, L'\0'), full(PathSize, L'\0'), longName(PathSize, L'\0');
    DWORD n = ExpandEnvironmentStringsW(path.c_str(), expanded.data(), PathSize);
    expanded.resize(n > 0 && n <= PathSize ? n - 1 : 0);
    if (expanded.empty())
        expanded = path;
    n = GetFullPathNameW(expanded.c_str(), PathSize, full.data(), nullptr);
    full.resize(n > 0 && n < PathSize ? n : 0);
    if (full.empty())
        full = expanded;
    n = GetLongPathNameW(full.c_str(), longName.data(), PathSize);  // fails for a file that does not exist
    longName.resize(n > 0 && n < PathSize ? n : 0);
    return longName.empty() ? full : longName;
}

// Paths, and provider names, are told apart without regard to case.
bool SameIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Either string type: a path may hold environment variables, which CanonicalPath expands.
constexpr DWORD AnyString = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;

LONG ReadString(HKEY root, const wchar_t* key, const wchar_t* name, Path* value)
{
    DWORD size = 0;
    LONG rc = RegGetValueW(root, key, name, AnyString, nullptr, nullptr, &size);
    if (rc != ERROR_SUCCESS)
        return rc;
    value->assign(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value->size() * sizeof(wchar_t));
    rc = RegGetValueW(root, key, name, AnyString, nullptr, value->data(), &size);
    value->resize(rc == ERROR_SUCCESS ? wcslen(value->c_str()) : 0);
    return rc;
}

// Who the provider's key names; for Unknown, error says why it could not be read.
Holder ProviderHolder(const Path& modulePath, LONG* error)
{
    Path image;
    *error = ReadString(HKEY_LOCAL_MACHINE, ProviderKey, L"Image Path", &image);
    if (*error == ERROR_FILE_NOT_FOUND)
        return Holder::Nobody;  // no key, or a key that names no file
    if (*error != ERROR_SUCCESS)
        return Holder::Unknown;
    return SameIgnoringCase(CanonicalPath(image), CanonicalPath(modulePath)) ? Holder::ThisFile : Holder::OtherFile;
}

LONG SetString(HKEY key, const wchar_t* name, const wchar_t* value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

// Writes a number only where it differs, so registering twice changes nothing.
LONG EnsureDword(HKEY key, const wchar_t* name, DWORD value)
{
    DWORD current = 0, size = sizeof current;
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &current, &size) == ERROR_SUCCESS &&
        current == value)
        return ERROR_SUCCESS;
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Common start of both entry points: this DLL's path and who holds the provider's name.
HRESULT LookUp(Path* modulePath, Holder* holder)
{
    modulePath->assign(PathSize, L'\0');
    const HMODULE self = ThisModule();
    if (!self)  // a null module would name the program that loaded us
        return HRESULT_FROM_WIN32(GetLastError());
    const DWORD n = GetModuleFileNameW(self, modulePath->data(), PathSize);
    if (n == 0 || n >= PathSize)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    modulePath->resize(n);
    LONG error = ERROR_SUCCESS;
    *holder = ProviderHolder(*modulePath, &error);
    if (*holder == Holder::Unknown)
        return HRESULT_FROM_WIN32(error);
    // Another file holds the name: NTE_EXISTS, "Object already exists".
    return *holder == Holder::OtherFile ? NTE_EXISTS : S_OK;
}

HRESULT Register()
{
    Path modulePath;
    Holder holder = Holder::Nobody;
    const HRESULT found = LookUp(&modulePath, &holder);
    if (FAILED(found))
        return found;
    // CryptoAPI loads the provider into programs that know no path longer than MAX_PATH:
    // registered from a longer one, it would fail them all.
    if (modulePath.size() >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ProviderKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                              nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    if (holder == Holder::Nobody)  // the path this file is known by stays as it was written
        rc = SetString(key, L"Image Path", modulePath.c_str());
    if (rc == ERROR_SUCCESS)
        rc = EnsureDword(key, L"Type", HARDWARE_PROVIDER_TYPE);
    if (rc == ERROR_SUCCESS)
        rc = EnsureDword(key, L"SigInFile", 0);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);

    // The provider type is claimed only when no provider has claimed it.
    DWORD disposition = 0;
    rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ProviderTypeKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                         &disposition);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    if (disposition == REG_CREATED_NEW_KEY) {
        rc = SetString(key, L"Name", ProviderName);
        if (rc == ERROR_SUCCESS)
            rc = SetString(key, L"TypeName", ProviderTypeName);
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT Unregister()
{
    Path modulePath;
    Holder holder = Holder::Nobody;
    const HRESULT found = LookUp(&modulePath, &holder);
    if (FAILED(found) || holder == Holder::Nobody)
        return found;  // a failure, or nothing of ours to remove

    LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, ProviderKey);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    // A provider type that names the provider just removed would point at nothing.
    std::wstring name;
    if (ReadString(HKEY_LOCAL_MACHINE, ProviderTypeKey, L"Name", &name) == ERROR_SUCCESS &&
        SameIgnoringCase(name, ProviderName))
        rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, ProviderTypeKey);
    return HRESULT_FROM_WIN32(rc);
}

}  // namespace

// No exception leaves for regsvr32: running out of memory is reported as such.
extern "C" HRESULT WINAPI DllRegisterServer()
{
    try {
        return Register();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    try {
        return Unregister();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
