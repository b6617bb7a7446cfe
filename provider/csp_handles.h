// Provider handles: a slot number and a check value, so a stale or made-up handle is
// recognised without ever being dereferenced.
#pragma once

#include <windows.h>
#include <wincrypt.h>

void CspHandlesInit();
void CspHandlesShutdown();
// 0 when every slot is taken.
HCRYPTPROV CspHandleOpen();
bool CspHandleClose(HCRYPTPROV provider);
