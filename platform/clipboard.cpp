#include "clipboard.h"

#include "error_text.h"

namespace {

constexpr int ClipboardTries = 16;
constexpr DWORD ClipboardRetryMs = 25;

bool OpenClipboardPatiently(HWND owner)
{
    for (int attempt = 1;; ++attempt) {
        if (OpenClipboard(owner))
            return true;
        if (attempt == ClipboardTries)
            return false;
        Sleep(ClipboardRetryMs);
    }
}

// The reason the system gave, where it gave one; a clipboard held by another is refused access.
DWORD Reason()
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_ACCESS_DENIED;
}

// ERROR_SUCCESS with the block the clipboard's, or why not.
DWORD PlaceOnClipboard(HWND owner, HGLOBAL block)
{
    if (!OpenClipboardPatiently(owner))
        return Reason();
    DWORD error = ERROR_SUCCESS;
    if (!EmptyClipboard() || !SetClipboardData(CF_TEXT, block))
        error = Reason();
    CloseClipboard();
    return error;
}

}  // namespace

bool CopyToClipboard(HWND owner, HGLOBAL block)
{
    const DWORD error = block ? PlaceOnClipboard(owner, block) : ERROR_NOT_ENOUGH_MEMORY;
    if (error == ERROR_SUCCESS)
        return true;
    if (block)
        GlobalFree(block);
    ShowFailure(owner, "The output could not be copied to the clipboard:", error);
    return false;
}
