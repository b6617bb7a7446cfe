// The main dialog: its procedure, the state that outlives a command, and one handler
// per command.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstddef>

inline constexpr DWORD PathBufferSize = 260;

// Everything the dialog keeps between commands; the fields hold the settings themselves.
struct MainDialogState {
    OPENFILENAMEA saveDialog;          // the Save dialog's record, in its 76-byte form
    char pathBuffer[PathBufferSize];   // the output path; also the Save dialog's initial name
    std::size_t recordedLength;        // text length + 1 of the last successful run; 0 before
};

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void OnGenerate(HWND dialog, MainDialogState& state);
void OnBrowse(HWND dialog, MainDialogState& state);
void OnCopy(HWND dialog, MainDialogState& state);
void OnTab(HWND dialog, MainDialogState& state);
void OnCrlf(HWND dialog, MainDialogState& state);
void OnHelp(HWND dialog, MainDialogState& state);
void OnExit(HWND dialog, MainDialogState& state);

// A modal box captioned "ERROR" with an OK button. (ShowFailure, of error_text.h, tells what
// failed and the system's reason in the same box.)
void ShowError(HWND dialog, const char* text);

