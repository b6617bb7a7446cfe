// Browse, Copy to Clipboard, Tab, Crlf and Help.
#include "main_dialog.h"

#include "clipboard.h"
#include "quorvel_version.h"
#include "resource.h"
#include "save_dialog.h"

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
    // What the box shows, bounded by the length of the last successful run, read straight into
    // the clipboard's block. Before the first run that is the empty text: still one zero byte,
    // since a block of no bytes can be neither locked nor taken by the clipboard.
    const std::size_t size = state.recordedLength > 0 ? state.recordedLength : 1;
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, size);
    char* const text = block ? static_cast<char*>(GlobalLock(block)) : nullptr;
    if (text) {
        GetDlgItemTextA(dialog, IDC_OUTPUT, text, static_cast<int>(size));
        GlobalUnlock(block);
    }
    CopyToClipboard(dialog, text ? block : nullptr);  // the clipboard's now, or freed and told
    if (block && !text)
        GlobalFree(block);
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
