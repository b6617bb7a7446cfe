// Drives the real Quorvel.exe the way a user meets it, through window messages from
// another process. Every wait has a timeout; the program is ended through its process
// handle whatever happens.
#pragma once

#include <windows.h>

#include <string>

// Control identifiers of the dialog, from the program's own resource header.
#include "resource.h"

inline constexpr DWORD DefaultWaitMs = 20000;

// One running Quorvel.exe.
struct App {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
};

// Starts Quorvel.exe (from beside the test program, or the one QUORVEL_EXE names) with
// this process's environment, and waits until its dialog is showing.
bool Start(App* app, DWORD timeoutMs = DefaultWaitMs);
// Ends the program if it still runs and closes its handles.
void Stop(App* app);
// Exit code after the program ended by itself, or STILL_ACTIVE if it did not in time.
DWORD WaitForExit(App* app, DWORD timeoutMs = DefaultWaitMs);
bool IsRunning(const App& app);

HWND Control(const App& app, int id);
std::string Text(HWND window);
std::string FieldText(const App& app, int id);
void SetFieldText(const App& app, int id, const std::string& text);

// A button press that is under way: the dialog handles the command while the test
// looks at the modal boxes it may open.
struct Press {
    HANDLE thread = nullptr;
};
Press PressAsync(const App& app, int id);
// True once the dialog has finished handling the press.
bool Finish(Press* press, DWORD timeoutMs = DefaultWaitMs);
// Presses a button and waits until the dialog has handled it; false if it did not in time.
bool PressAndWait(const App& app, int id, DWORD timeoutMs = DefaultWaitMs);

// A dialog box the program opened besides its main dialog (a message box or the Save
// dialog), or nullptr after the timeout.
HWND WaitForBox(const App& app, DWORD timeoutMs = DefaultWaitMs);
// The message text of a message box.
std::string BoxMessage(HWND box);
// Presses a button of a box: IDOK, IDCANCEL.
void Answer(HWND box, int button);
// Waits for a box, checks nothing, answers it; returns "caption|message" or "" if none came.
std::string AnswerNextBox(const App& app, int button, DWORD timeoutMs = DefaultWaitMs);

// The clipboard: whether CF_TEXT is there, and its text (empty for an empty block).
bool ReadClipboard(std::string* text);
bool PutClipboardText(const std::string& text);

// Equality of two long texts, reported as the first difference with a little context
// rather than as both texts whole.
bool SameText(const std::string& actual, const std::string& expected, std::string* difference);

// Windows path of a fresh scratch file name in the test folder (the file is deleted).
std::string ScratchPath(const char* name);
