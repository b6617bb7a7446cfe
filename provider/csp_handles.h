// Provider handles: values looked up in a table of the open ones, never dereferenced, and
// never given out twice, so a stale or made-up handle is recognised. As many as memory
// holds: one component that leaks handles does not starve the others in its process.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

void CspHandlesInit();
void CspHandlesShutdown();
// A new handle for a context of the given key container (null: none); 0 when memory ran out.
HCRYPTPROV CspHandleOpen(const char* container);
bool CspHandleClose(HCRYPTPROV provider);
// The container the handle was opened for (container may be null): ERROR_SUCCESS,
// NTE_BAD_UID for a handle that is not open, or NTE_NO_MEMORY.
DWORD CspHandleContainer(HCRYPTPROV provider, std::string* container);
