// Quorvel driven from scripts where there is no screen to use. "generate" starts Quorvel,
// presses Generate with the defaults, prints the numbers and leaves Quorvel showing them;
// "close" presses Exit on that Quorvel and returns its exit code; "hold" stays on the
// desktop until it is ended, so a test session keeps one desktop throughout.
#include "driver.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    const std::string command = argc == 2 ? argv[1] : "";
    App app;
    if (command == "generate") {
        const bool shown = Start(&app) && Press(app, IDOK).empty() && Field(app, IDC_STATUS) == "Ready";
        RedrawWindow(app.dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        _setmode(_fileno(stdout), _O_BINARY);  // a line ends in a line feed, as scripts expect
        return shown && std::printf("%s\n", Field(app, IDC_OUTPUT).c_str()) > 0 ? 0 : 1;
    }
    if (command == "close")
        return Attach(&app) && Press(app, IDCANCEL).empty() ? static_cast<int>(WaitForExit(app)) : 1;
    if (command != "hold")
        return 2;
    MSG message;
    CreateWindowExA(0, "Static", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
