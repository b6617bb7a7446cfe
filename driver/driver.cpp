#include "driver.h"

#include <dlgs.h>

#include <cstdio>
#include <utility>

namespace {

// A visible dialog-class window of the process, other than its main dialog.
HWND BoxOf(const App& app)
{
    HWND window = nullptr;
    DWORD owner = 0;
    while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)))
        if (GetWindowThreadProcessId(window, &owner) && owner == app.process.dwProcessId && window != app.dialog &&
            IsWindowVisible(window))
            return window;
    return nullptr;
}

// "caption|message" of a message box; a Save dialog has no message.
std::string Describe(HWND box)
{
    return Text(box) + "|" + Text(GetDlgItem(box, 0xFFFF));
}

// A message sent on a thread of its own, which returns when the window's handler does, or when
// the program has died.
struct Sending {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
DWORD WINAPI SendOne(void* sending)
{
    const Sending& s = *static_cast<Sending*>(sending);
    SendMessageA(s.window, s.message, s.wParam, s.lParam);
    return 0;
}

}  // namespace

std::string Beside(const char* file)
{
    char path[MAX_PATH];
    std::string folder(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return folder.erase(folder.find_last_of('\\') + 1) + file;
}

bool Start(App* app)
{
    char exe[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("QUORVEL_EXE", exe, MAX_PATH);
    std::string line = "\"" + (n > 0 && n < MAX_PATH ? std::string(exe) : Beside("Quorvel.exe")) + "\"";
    // Quorvel gets none of our output: a script reading it would wait for Quorvel to end.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError =
        CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &app->process);
    const DWORD error = GetLastError();
    CloseHandle(startup.hStdOutput);
    for (DWORD waited = 0; started && waited < WaitMs && !app->dialog; waited += 20, Sleep(20))
        app->dialog = BoxOf(*app);
    if (app->dialog && Text(app->dialog) == "Quorvel")
        return true;
    // Why, for the test or script that started it.
    std::string why = "Quorvel showed no dialog within " + std::to_string(WaitMs / 1000) + " s";
    if (!started)
        why = line + " could not be started: error " + std::to_string(error);
    else if (WaitForSingleObject(app->process.hProcess, 0) == WAIT_OBJECT_0)
        why = "Quorvel ended with exit code " + std::to_string(WaitForExit(*app)) + " before its dialog showed";
    else if (app->dialog)
        why = "Quorvel's dialog is titled \"" + Text(app->dialog) + "\"";
    std::fprintf(stderr, "driver: %s\n", why.c_str());
    return false;
}

bool Attach(App* app)
{
    app->dialog = FindWindowA("#32770", "Quorvel");
    GetWindowThreadProcessId(app->dialog, &app->process.dwProcessId);
    app->process.hProcess = OpenProcess(PROCESS_ALL_ACCESS, FALSE, app->process.dwProcessId);
    return app->dialog && app->process.hProcess;
}

void Stop(App* app)
{
    if (app->process.hProcess && TerminateProcess(app->process.hProcess, 99))
        WaitForSingleObject(app->process.hProcess, WaitMs);
    CloseHandle(app->process.hProcess);
    CloseHandle(app->process.hThread);
    *app = App{};
}

DWORD WaitForExit(const App& app)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(app.process.hProcess, WaitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(app.process.hProcess, &code);
    return code;
}

// Waits for the answer however busy Quorvel was: a thread that took no message for 5 s counts as
// hung until it takes one, and a box that has just opened after a long run is answered all the same.
std::string Text(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, WaitMs, &length))
        return "<no answer>";
    std::string text(length + 1, '\0');
    SendMessageTimeoutA(window, WM_GETTEXT, text.size(), LPARAM(text.data()), SMTO_NORMAL, WaitMs, &length);
    return text.substr(0, length);
}

std::string Field(const App& app, int id)
{
    return Text(GetDlgItem(app.dialog, id));
}

void SetField(const App& app, int id, const char* text)
{
    SendDlgItemMessageA(app.dialog, id, WM_SETTEXT, 0, LPARAM(text));
}

std::vector<std::string> Send(const App& app, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              std::vector<int> answers, const char* fileName, DWORD waitMs)
{
    std::vector<std::string> seen;
    Sending sending{window, message, wParam, lParam};
    const HANDLE press = CreateThread(nullptr, 0, SendOne, &sending, 0, nullptr);
    for (int answer : answers) {
        HWND box = nullptr;
        for (DWORD waited = 0; !(box = BoxOf(app)) && waited < WaitMs; waited += 20)
            Sleep(20);
        seen.push_back(Describe(box));
        SetDlgItemTextA(box, cmb13, fileName);  // a Save dialog's file name
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        for (int i = 0; i < 500 && IsWindow(box); ++i)  // gone before the next one is looked for
            Sleep(10);
    }
    // A box nobody expected is told and closed at once, so a fault fails fast.
    for (const DWORD start = GetTickCount(); press && WaitForSingleObject(press, 20) == WAIT_TIMEOUT;) {
        const DWORD waited = GetTickCount() - start;
        if (const HWND box = BoxOf(app); box && waited < waitMs) {
            seen.push_back("<another box> " + Describe(box));
            PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
            Sleep(200);
        } else if (waited >= waitMs) {
            seen.push_back("<stuck>");
            break;
        }
    }
    if (!press)
        seen.push_back("<not pressed>");
    CloseHandle(press);
    return seen;
}

std::vector<std::string> Press(const App& app, int id, std::vector<int> answers, const char* fileName, DWORD waitMs)
{
    const HWND button = GetDlgItem(app.dialog, id);
    return Send(app, app.dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(button), std::move(answers), fileName,
                waitMs);
}
