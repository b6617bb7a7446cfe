// The clipboard, as every copy of Quorvel's uses it.
#pragma once

#include <windows.h>

// Puts a CF_TEXT block on the clipboard, which then owns it. Another program may hold the
// clipboard open for a moment (clipboard managers and remote desktops read every change): that
// is waited out. Where it cannot be done, the block is freed, the clipboard is as it was unless
// it was already emptied, and the user is told why in a box owned by `owner`. False then.
bool CopyToClipboard(HWND owner, HGLOBAL block);
