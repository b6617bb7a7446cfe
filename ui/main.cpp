// Quorvel: lists random integers drawn from a hardware random number generator.
#include "main_dialog.h"
#include "resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    const HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (!dialog)
        return 1;  // no window could be made (no display, or resources missing)
    ShowWindow(dialog, showCommand);
    UpdateWindow(dialog);

    // No IsDialogMessage here: keystrokes go to the focused control as they are.
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
