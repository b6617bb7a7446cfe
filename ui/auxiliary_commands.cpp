// Browse, Copy to Clipboard, Tab, Crlf and Help.
#include "main_dialog.h"

#include "quorvel_version.h"
#include "resource.h"
#include "save_dialog.h"

#include <memory>
#include <new>

namespace {

const char HelpText[] =
    "Quorvel.exe v" QUORVEL_RELEASE " \n"
    "Lists random integers drawn from a hardware random number generator.\n"
    " \n"
    "Requires:\n"
    "Intel 82802 Firmware Hub or Higher\n"
    "Intel Security Driver\n"
    "Intel Hardware Cryptographic Service Provider\n"
    "\n"
    "\n"
    "Without that hardware, register the included provider as Readme.txt describes.\n"
    "\n"
    "Please see Readme.txt for installation details\n";

// Another program may hold the clipboard open for a moment (clipboard managers and remote
// desktops read every change): try again for a while before telling the user.
constexpr int ClipboardTries = 16;
constexpr DWORD ClipboardRetryMs = 25;

bool OpenClipboardPatiently(HWND dialog)
{
    for (int attempt = 1;; ++attempt) {
        if (OpenClipboard(dialog))
            return true;
        if (attempt == ClipboardTries)
            return false;
        Sleep(ClipboardRetryMs);
    }
}

// Puts the block on the clipboard, which then owns it; false with the reason, the block
// still ours and the clipboard as it was unless it was already emptied.
bool PlaceOnClipboard(HWND dialog, HGLOBAL block)
{
    if (!OpenClipboardPatiently(dialog))
        return false;
    const bool placed = EmptyClipboard() && SetClipboardData(CF_TEXT, block);
    const DWORD error = GetLastError();
    CloseClipboard();
    SetLastError(error);
    return placed;
}

}  // namespace

void OnBrowse(HWND dialog, MainDialogState& state)
{
    // A failed dialog counts as a cancel: the output file is then cleared too.
    if (ChooseOutputFile(&state.saveDialog))
        SetDlgItemTextA(dialog, IDC_OUTPUT_PATH, state.pathBuffer);
    else
        SetDlgItemTextA(dialog, IDC_OUTPUT_PATH, "");
}

void OnCopy(HWND dialog, MainDialogState& state)
{
    // What the box shows, bounded by the length of the last successful run. Before the
    // first run that is the empty text: still one zero byte, since a block of no bytes
    // can be neither locked nor taken by the clipboard.
    const std::size_t size = state.recordedLength > 0 ? state.recordedLength : 1;
    std::unique_ptr<char[]> text(new (std::nothrow) char[size]);
    const HGLOBAL block = text ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, size) : nullptr;
    char* const data = block ? static_cast<char*>(GlobalLock(block)) : nullptr;
    bool copied = false;
    if (data) {
        text[0] = '\0';
        GetDlgItemTextA(dialog, IDC_OUTPUT, text.get(), static_cast<int>(size));
        lstrcpyA(data, text.get());
        GlobalUnlock(block);
        copied = PlaceOnClipboard(dialog, block);
    } else {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (copied)
        return;  // the clipboard owns the block
    const DWORD error = GetLastError();
    if (block)
        GlobalFree(block);
    SetLastError(error);
    ShowLastError(dialog, "The output could not be copied to the clipboard:");
}

void OnTab(HWND dialog, MainDialogState&)
{
    SetDlgItemTextA(dialog, IDC_DELIMITER, "\t");
}

void OnCrlf(HWND dialog, MainDialogState&)
{
    // A bare line feed, as the values are separated in the file and on the clipboard.
    SetDlgItemTextA(dialog, IDC_DELIMITER, "\n");
}

void OnHelp(HWND dialog, MainDialogState&)
{
    MessageBoxA(dialog, HelpText, "Help", MB_OK);
}
