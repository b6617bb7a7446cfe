#include "main_dialog.h"

#include "resource.h"

#include <cstdio>
#include <cstring>

namespace {

MainDialogState g_state;

const char SaveFilter[] = "All\0*.*\0Text\0*.TXT\0";

struct CommandEntry {
    WORD id;
    void (*handler)(HWND dialog, MainDialogState& state);
};

const CommandEntry Commands[] = {
    {IDOK, OnGenerate}, {IDCANCEL, OnExit}, {IDHELP, OnHelp}, {IDC_BROWSE, OnBrowse},
    {IDC_COPY, OnCopy}, {IDC_TAB, OnTab},   {IDC_CRLF, OnCrlf},
};

BOOL OnInitDialog(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_COUNT, "100");
    SetDlgItemTextA(dialog, IDC_DEC_MIN, "0");
    SetDlgItemTextA(dialog, IDC_DEC_MAX, "10");
    SetDlgItemTextA(dialog, IDC_DELIMITER, "");
    SetDlgItemTextA(dialog, IDC_STATUS, "Ready");
    for (int base = 2; base <= 36; ++base) {
        char item[4];
        std::snprintf(item, sizeof item, "%d", base);
        SendDlgItemMessageA(dialog, IDC_BASE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendDlgItemMessageA(dialog, IDC_BASE_LIST, LB_SETTOPINDEX, 8, 0);  // base 10 at the top

    std::memset(&g_state.saveDialog, 0, sizeof g_state.saveDialog);
    g_state.saveDialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    g_state.saveDialog.hwndOwner = dialog;
    g_state.saveDialog.lpstrFilter = SaveFilter;
    g_state.saveDialog.nFilterIndex = 1;
    g_state.saveDialog.lpstrFile = g_state.pathBuffer;
    g_state.saveDialog.nMaxFile = PathBufferSize;
    g_state.saveDialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    return TRUE;  // the system focuses the first tab stop, Generate
}

void OnCommand(HWND dialog, WORD id)
{
    for (const CommandEntry& command : Commands) {
        if (command.id == id) {
            command.handler(dialog, g_state);
            return;
        }
    }
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam));  // the notification code is not looked at
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(dialog);
        return FALSE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return FALSE;
    default:
        return FALSE;
    }
}

void OnExit(HWND dialog, MainDialogState&)
{
    DestroyWindow(dialog);
}

void ShowError(HWND dialog, const char* text)
{
    MessageBoxA(dialog, text, "ERROR", MB_OK);
}
