// Provider handles: values looked up in a table of the open ones, never dereferenced, and
// never given out twice until 2^32 (x86-64: 2^64) handles have been opened, so a stale or
// made-up handle is recognised. As many as memory holds: one component that leaks handles
// does not starve the others in its process. No lock: a thread ended anywhere in here
// stops nobody (it may leave one entry or one container copy unused).
#pragma once

#include <windows.h>
#include <wincrypt.h>

// A new handle for a context of the given key container (null: none); 0 when memory ran out.
// A container name is copied to the process heap.
HCRYPTPROV CspHandleOpen(const char* container);
bool CspHandleClose(HCRYPTPROV provider);
// The container the handle was opened for ("" for none), or null for a handle that is not
// open. Valid until the handle is closed.
const char* CspHandleContainer(HCRYPTPROV provider);
