// Drives the real Quorvel.exe as a user meets it, through window messages from another
// process: the run command's headless mode, the benchmarks and the end-to-end tests.
// Every wait has a timeout.
#pragma once

#include "resource.h"

#include <windows.h>

#include <string>
#include <vector>

inline constexpr DWORD WaitMs = 20000;

// Full path of a file in this program's folder, where every binary is built.
std::string Beside(const char* file);

struct App {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
};

// Starts Quorvel.exe (beside this program, or the one QUORVEL_EXE names) and waits for
// its dialog, and where none shows says why on standard error; Attach takes the one
// already running instead. Stop ends it if it still runs.
bool Start(App* app);
bool Attach(App* app);
void Stop(App* app);
DWORD WaitForExit(const App& app);  // the exit code, or STILL_ACTIVE

std::string Text(HWND window);
std::string Field(const App& app, int id);
void SetField(const App& app, int id, const char* text);
// Presses a button and answers the boxes it opens with the given buttons in turn, typing
// fileName into a Save dialog first. Returns the boxes as "caption|message"; any further
// box is cancelled and listed as "<another box> caption|message", and "<stuck>" follows
// if the press did not end within waitMs.
std::vector<std::string> Press(const App& app, int id, std::vector<int> answers = {}, const char* fileName = "",
                               DWORD waitMs = WaitMs);
// The same for any message sent to any window of Quorvel's.
std::vector<std::string> Send(const App& app, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              std::vector<int> answers = {}, const char* fileName = "", DWORD waitMs = WaitMs);
