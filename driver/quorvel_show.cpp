// Quorvel driven from scripts where there is no screen to use. "generate" starts Quorvel,
// presses Generate with the defaults, prints the numbers and leaves Quorvel showing them;
// "close" presses Exit on that Quorvel and returns its exit code; "hold" stays on the
// desktop until it is ended, so a test session keeps one desktop throughout. A step that
// fails is told on standard error, with what was seen instead.
#include "driver.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

namespace {

int Fail(const std::string& what)
{
    std::fprintf(stderr, "quorvel_show: %s\n", what.c_str());
    return 1;
}

std::string Joined(const std::vector<std::string>& boxes)
{
    std::string all;
    for (const std::string& box : boxes)
        all += (all.empty() ? "\"" : ", \"") + box + "\"";
    return all;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc == 2 ? argv[1] : "";
    App app;
    if (command == "generate") {
        if (!Start(&app))
            return 1;  // Start has said why
        if (const auto boxes = Press(app, IDOK); !boxes.empty())
            return Fail("Generate opened " + Joined(boxes));
        if (const std::string status = Field(app, IDC_STATUS); status != "Ready")
            return Fail("after Generate the status reads \"" + status + "\"");
        RedrawWindow(app.dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        _setmode(_fileno(stdout), _O_BINARY);  // a line ends in a line feed, as scripts expect
        return std::printf("%s\n", Field(app, IDC_OUTPUT).c_str()) > 0 ? 0 : Fail("the numbers could not be written");
    }
    if (command == "close") {
        if (!Attach(&app))
            return Fail("no Quorvel dialog is open");
        if (const auto boxes = Press(app, IDCANCEL); !boxes.empty())
            return Fail("Exit opened " + Joined(boxes));
        const DWORD code = WaitForExit(app);
        if (code == STILL_ACTIVE)
            return Fail("Quorvel still runs " + std::to_string(WaitMs / 1000) + " s after Exit was pressed");
        return static_cast<int>(code);
    }
    if (command != "hold") {
        std::fprintf(stderr, "usage: quorvel_show generate|close|hold\n");
        return 2;
    }
    MSG message;
    CreateWindowExA(0, "Static", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
