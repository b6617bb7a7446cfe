#include "harness.h"

#include "test_support.h"

#include <cstring>
#include <vector>

namespace {

struct FindContext {
    DWORD processId;
    HWND exclude;
    const char* title;  // nullptr: any
    HWND found;
};

BOOL CALLBACK FindDialogOf(HWND window, LPARAM parameter)
{
    FindContext* context = reinterpret_cast<FindContext*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != context->processId || window == context->exclude || !IsWindowVisible(window))
        return TRUE;
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") != 0)
        return TRUE;
    if (context->title && Text(window) != context->title)
        return TRUE;
    context->found = window;
    return FALSE;
}

HWND FindDialog(DWORD processId, HWND exclude, const char* title)
{
    FindContext context = {processId, exclude, title, nullptr};
    EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

struct PressTarget {
    HWND dialog;
    int id;
    HWND button;
};

DWORD WINAPI SendCommand(void* parameter)
{
    const PressTarget target = *static_cast<PressTarget*>(parameter);
    delete static_cast<PressTarget*>(parameter);
    // Returns when the dialog's handler does; if the program dies, when it is gone.
    SendMessageA(target.dialog, WM_COMMAND, MAKEWPARAM(target.id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(target.button));
    return 0;
}

BOOL CALLBACK CollectStatics(HWND child, LPARAM parameter)
{
    std::string* longest = reinterpret_cast<std::string*>(parameter);
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") == 0) {
        const std::string text = Text(child);
        if (text.size() > longest->size())
            *longest = text;
    }
    return TRUE;
}

}  // namespace

bool Start(App* app, DWORD timeoutMs)
{
    char installed[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableA("QUORVEL_EXE", installed, MAX_PATH);
    const std::string exe = n > 0 && n < MAX_PATH ? installed : BesideThisProgram("Quorvel.exe");
    std::string commandLine = "\"" + exe + "\"";
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &app->process))
        return false;
    WaitForInputIdle(app->process.hProcess, timeoutMs);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline && IsRunning(*app)) {
        app->dialog = FindDialog(app->process.dwProcessId, nullptr, "Quorvel");
        if (app->dialog)
            return true;
        Sleep(20);
    }
    return false;
}

void Stop(App* app)
{
    if (app->process.hProcess) {
        if (IsRunning(*app)) {
            TerminateProcess(app->process.hProcess, 99);
            WaitForSingleObject(app->process.hProcess, DefaultWaitMs);
        }
        CloseHandle(app->process.hProcess);
        CloseHandle(app->process.hThread);
    }
    *app = App{};
}

DWORD WaitForExit(App* app, DWORD timeoutMs)
{
    if (WaitForSingleObject(app->process.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(app->process.hProcess, &code);
    return code;
}

bool IsRunning(const App& app)
{
    return app.process.hProcess && WaitForSingleObject(app.process.hProcess, 0) == WAIT_TIMEOUT;
}

HWND Control(const App& app, int id)
{
    return GetDlgItem(app.dialog, id);
}

std::string Text(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, DefaultWaitMs, &length))
        return "<no answer>";
    std::vector<char> buffer(length + 2, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, DefaultWaitMs, &got);
    return std::string(buffer.data(), got);
}

std::string FieldText(const App& app, int id)
{
    return Text(Control(app, id));
}

void SetFieldText(const App& app, int id, const std::string& text)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(Control(app, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                        DefaultWaitMs, &result);
}

Press PressAsync(const App& app, int id)
{
    Press press;
    PressTarget* target = new PressTarget{app.dialog, id, Control(app, id)};
    press.thread = CreateThread(nullptr, 0, SendCommand, target, 0, nullptr);
    if (!press.thread)
        delete target;
    return press;
}

bool Finish(Press* press, DWORD timeoutMs)
{
    if (!press->thread)
        return false;
    const bool done = WaitForSingleObject(press->thread, timeoutMs) == WAIT_OBJECT_0;
    if (done) {
        CloseHandle(press->thread);
        press->thread = nullptr;
    }
    return done;
}

bool PressAndWait(const App& app, int id, DWORD timeoutMs)
{
    Press press = PressAsync(app, id);
    return Finish(&press, timeoutMs);
}

HWND WaitForBox(const App& app, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        if (HWND box = FindDialog(app.process.dwProcessId, app.dialog, nullptr))
            return box;
        Sleep(20);
    } while (GetTickCount64() < deadline && IsRunning(app));
    return nullptr;
}

std::string BoxMessage(HWND box)
{
    std::string longest;
    EnumChildWindows(box, CollectStatics, reinterpret_cast<LPARAM>(&longest));
    return longest;
}

void Answer(HWND box, int button)
{
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

std::string AnswerNextBox(const App& app, int button, DWORD timeoutMs)
{
    const HWND box = WaitForBox(app, timeoutMs);
    if (!box)
        return "";
    const std::string seen = Text(box) + "|" + BoxMessage(box);
    Answer(box, button);
    // Gone before the caller looks for the next one.
    for (int i = 0; i < 500 && IsWindow(box); ++i)
        Sleep(10);
    return seen;
}

bool ReadClipboard(std::string* text)
{
    text->clear();
    bool opened = false;
    for (int i = 0; i < 100 && !(opened = OpenClipboard(nullptr)); ++i)
        Sleep(20);
    if (!opened)
        return false;
    const bool available = IsClipboardFormatAvailable(CF_TEXT);
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* chars = static_cast<const char*>(GlobalLock(data))) {
            *text = std::string(chars, strnlen(chars, GlobalSize(data)));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return available;
}

bool PutClipboardText(const std::string& text)
{
    if (!OpenClipboard(nullptr))
        return false;
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    bool ok = false;
    if (block) {
        std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
        GlobalUnlock(block);
        ok = SetClipboardData(CF_TEXT, block) != nullptr;
        if (!ok)
            GlobalFree(block);
    }
    CloseClipboard();
    return ok;
}

std::string ScratchPath(const char* name)
{
    const std::string path = BesideThisProgram(name);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    return path;
}

bool SameText(const std::string& actual, const std::string& expected, std::string* difference)
{
    if (actual == expected)
        return true;
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    const std::size_t from = at > 20 ? at - 20 : 0;
    *difference = "lengths " + std::to_string(actual.size()) + " and " + std::to_string(expected.size()) +
                  ", first difference at " + std::to_string(at) + ": actual \"" + actual.substr(from, 40) +
                  "\", expected \"" + expected.substr(from, 40) + "\"";
    return false;
}
