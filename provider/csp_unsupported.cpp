// A random-number-only provider has no keys and no hashes: these entry points exist
// because advapi32 requires them, and refuse every request.
#include "csp_entry.h"

namespace {

BOOL Refuse(HCRYPTPROV provider, DWORD error)
{
    return CspFail(CspHandleIsValid(provider) ? error : static_cast<DWORD>(NTE_BAD_UID));
}

}  // namespace

extern "C" {

BOOL WINAPI CPSetProvParam(HCRYPTPROV hProv, DWORD, const BYTE*, DWORD) { return Refuse(hProv, NTE_BAD_TYPE); }
BOOL WINAPI CPGenKey(HCRYPTPROV hProv, ALG_ID, DWORD, HCRYPTKEY*) { return Refuse(hProv, NTE_BAD_ALGID); }
BOOL WINAPI CPDeriveKey(HCRYPTPROV hProv, ALG_ID, HCRYPTHASH, DWORD, HCRYPTKEY*) { return Refuse(hProv, NTE_BAD_ALGID); }
BOOL WINAPI CPDestroyKey(HCRYPTPROV hProv, HCRYPTKEY) { return Refuse(hProv, NTE_BAD_KEY); }
BOOL WINAPI CPSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY, DWORD, const BYTE*, DWORD) { return Refuse(hProv, NTE_BAD_KEY); }
BOOL WINAPI CPGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY, DWORD, BYTE*, DWORD*, DWORD) { return Refuse(hProv, NTE_BAD_KEY); }
BOOL WINAPI CPExportKey(HCRYPTPROV hProv, HCRYPTKEY, HCRYPTKEY, DWORD, DWORD, BYTE*, DWORD*)
{
    return Refuse(hProv, NTE_BAD_KEY);
}
BOOL WINAPI CPImportKey(HCRYPTPROV hProv, const BYTE*, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY*)
{
    return Refuse(hProv, NTE_BAD_ALGID);
}
BOOL WINAPI CPEncrypt(HCRYPTPROV hProv, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*, DWORD)
{
    return Refuse(hProv, NTE_BAD_KEY);
}
BOOL WINAPI CPDecrypt(HCRYPTPROV hProv, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*)
{
    return Refuse(hProv, NTE_BAD_KEY);
}
BOOL WINAPI CPCreateHash(HCRYPTPROV hProv, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*) { return Refuse(hProv, NTE_BAD_ALGID); }
BOOL WINAPI CPHashData(HCRYPTPROV hProv, HCRYPTHASH, const BYTE*, DWORD, DWORD) { return Refuse(hProv, NTE_BAD_HASH); }
BOOL WINAPI CPHashSessionKey(HCRYPTPROV hProv, HCRYPTHASH, HCRYPTKEY, DWORD) { return Refuse(hProv, NTE_BAD_HASH); }
BOOL WINAPI CPSetHashParam(HCRYPTPROV hProv, HCRYPTHASH, DWORD, const BYTE*, DWORD) { return Refuse(hProv, NTE_BAD_HASH); }
BOOL WINAPI CPGetHashParam(HCRYPTPROV hProv, HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD)
{
    return Refuse(hProv, NTE_BAD_HASH);
}
BOOL WINAPI CPSignHash(HCRYPTPROV hProv, HCRYPTHASH, DWORD, LPCWSTR, DWORD, BYTE*, DWORD*)
{
    return Refuse(hProv, NTE_BAD_HASH);
}
BOOL WINAPI CPVerifySignature(HCRYPTPROV hProv, HCRYPTHASH, const BYTE*, DWORD, HCRYPTKEY, LPCWSTR, DWORD)
{
    return Refuse(hProv, NTE_BAD_HASH);
}
BOOL WINAPI CPDestroyHash(HCRYPTPROV hProv, HCRYPTHASH) { return Refuse(hProv, NTE_BAD_HASH); }
BOOL WINAPI CPGetUserKey(HCRYPTPROV hProv, DWORD, HCRYPTKEY*) { return Refuse(hProv, NTE_NO_KEY); }
BOOL WINAPI CPDuplicateHash(HCRYPTPROV hUID, HCRYPTHASH, DWORD*, DWORD, HCRYPTHASH*) { return Refuse(hUID, NTE_BAD_HASH); }
BOOL WINAPI CPDuplicateKey(HCRYPTPROV hUID, HCRYPTKEY, DWORD*, DWORD, HCRYPTKEY*) { return Refuse(hUID, NTE_BAD_KEY); }

}  // extern "C"
