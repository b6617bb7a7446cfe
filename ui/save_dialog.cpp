#include "save_dialog.h"

#include <commctrl.h>
#include <dlgs.h>

#include <cstring>

namespace {

constexpr UINT_PTR SubclassId = 1;

// "X:name": a name on a drive's current folder, which is the folder the dialog shows.
bool DriveRelative(const char* name)
{
    return name[0] != '\0' && name[1] == ':' && name[2] != '\\' && name[2] != '/';
}

// Before the dialog takes the name, a drive-relative one becomes the whole path it stands for:
// Wine's dialog keeps such a name as it is and, where it has no backslash, reads the folder
// part of it from before its start.
void CompleteName(HWND saveDialog)
{
    HWND field = GetDlgItem(saveDialog, cmb13);  // the name box; an edit box in older layouts
    if (!field)
        field = GetDlgItem(saveDialog, edt1);
    char name[MAX_PATH] = {}, full[MAX_PATH] = {};
    if (!field || GetWindowTextA(field, name, MAX_PATH) <= 0 || !DriveRelative(name))
        return;
    const DWORD length = GetFullPathNameA(name, MAX_PATH, full, nullptr);
    if (length > 0 && length < MAX_PATH)
        SetWindowTextA(field, full);
}

LRESULT CALLBACK SaveDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK)
        CompleteName(window);
    else if (message == WM_NCDESTROY)
        RemoveWindowSubclass(window, SaveDialogProc, SubclassId);
    return DefSubclassProc(window, message, wParam, lParam);
}

// Only while the dialog runs, on this thread: the Save dialog's own window (a dialog owned by
// the record's owner) is subclassed as it is made.
HWND g_owner;

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const HWND window = reinterpret_cast<HWND>(wParam);
        const CREATESTRUCTA& create = *reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        char className[16] = {};
        if (create.hwndParent == g_owner && GetClassNameA(window, className, sizeof className) &&
            std::strcmp(className, "#32770") == 0)
            SetWindowSubclass(window, SaveDialogProc, SubclassId, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

BOOL ChooseOutputFile(OPENFILENAMEA* record)
{
    g_owner = record->hwndOwner;
    // Without the hook the dialog still runs; only a drive-relative name is then not completed.
    const HHOOK hook = SetWindowsHookExA(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());
    const BOOL chosen = GetSaveFileNameA(record);
    if (hook)
        UnhookWindowsHookEx(hook);
    return chosen;
}
