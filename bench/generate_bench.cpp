// Generate end to end, from the click until "Ready", against the platform's floor: a
// bare WM_SETTEXT of the very same text into the same output box, in one process.
// Then ways to lower that floor without changing what the box shows. Prints seconds and
// ratios; asserts nothing.
#include "harness.h"
#include "bench_clock.h"
#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* count;
    const char* maximum;
    const char* delimiter;
    const char* label;
    bool triesWays;  // also measured with each way of lowering the floor
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Seconds from pressing Generate until the dialog is done, and the text it shows.
double TimeRun(const Case& c, std::string* text)
{
    App app;
    if (!Start(&app))
        return -1;
    SetFieldText(app, IDC_COUNT, c.count);
    SetFieldText(app, IDC_DEC_MIN, "0");
    SetFieldText(app, IDC_DEC_MAX, c.maximum);
    SetFieldText(app, IDC_DELIMITER, c.delimiter);
    Press press = PressAsync(app, IDOK);
    const double start = Now();
    if (std::atoi(c.count) > 10000)
        AnswerNextBox(app, IDOK);  // the warning's own time is the user's, not the run's
    const double confirmed = Now();
    Finish(&press, 600000);
    const double end = Now();
    *text = FieldText(app, IDC_OUTPUT);
    if (FieldText(app, IDC_STATUS) != "Ready")
        std::printf("  (status not Ready)\n");
    Stop(&app);
    // The box's own appearance and disappearance are not part of the run.
    return std::atoi(c.count) > 10000 ? end - confirmed : end - start;
}

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// A dialog from Quorvel.exe's own template, shown where Quorvel shows it.
HWND OpenSameDialog(HMODULE exe)
{
    const HWND dialog = CreateDialogParamA(exe, MAKEINTRESOURCEA(IDD_MAIN), nullptr, QuietProc, 0);
    ShowWindow(dialog, SW_SHOWNORMAL);
    UpdateWindow(dialog);
    return dialog;
}

void Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

enum class Way { Bare, NoRedraw, Hidden, WordBreakAnywhere, LocalHandle };

// A word-break procedure that reaches the default's break on text without break
// opportunities one character at a time (the same lines, verified by the output box test
// while Quorvel used it).
int CALLBACK BreakAnywhere(LPSTR, int current, int length, int action)
{
    switch (action) {
    case WB_RIGHT: return current < length ? current : length;
    case WB_LEFT: return 0;
    default: return FALSE;
    }
}

// Seconds to put text into a fresh copy of the output box, one way or another.
double TimeFloor(HMODULE exe, const std::string& text, Way way)
{
    const HWND dialog = OpenSameDialog(exe);
    const HWND box = GetDlgItem(dialog, IDC_OUTPUT);
    Pump();
    const double start = Now();
    switch (way) {
    case Way::Bare:
        SetDlgItemTextA(dialog, IDC_OUTPUT, text.c_str());
        break;
    case Way::NoRedraw:
        SendMessageA(box, WM_SETREDRAW, FALSE, 0);
        SetDlgItemTextA(dialog, IDC_OUTPUT, text.c_str());
        SendMessageA(box, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(box, nullptr, TRUE);
        break;
    case Way::Hidden:
        ShowWindow(box, SW_HIDE);
        SetDlgItemTextA(dialog, IDC_OUTPUT, text.c_str());
        ShowWindow(box, SW_SHOW);
        break;
    case Way::WordBreakAnywhere:
        SendMessageA(box, EM_SETWORDBREAKPROC, 0, reinterpret_cast<LPARAM>(BreakAnywhere));
        SetDlgItemTextA(dialog, IDC_OUTPUT, text.c_str());
        break;
    case Way::LocalHandle: {
        HLOCAL memory = LocalAlloc(LMEM_MOVEABLE, text.size() + 1);
        std::memcpy(LocalLock(memory), text.c_str(), text.size() + 1);
        LocalUnlock(memory);
        SendMessageA(box, EM_SETHANDLE, reinterpret_cast<WPARAM>(memory), 0);
        break;
    }
    }
    UpdateWindow(dialog);
    const double end = Now();
    const LRESULT shown = SendMessageA(box, WM_GETTEXTLENGTH, 0, 0);
    if (static_cast<std::size_t>(shown) != text.size())
        std::printf("  (this way showed %ld of %lu characters)\n", static_cast<long>(shown),
                    static_cast<unsigned long>(text.size()));
    DestroyWindow(dialog);
    Pump();
    return end - start;
}

}  // namespace

int main(int argc, char** argv)
{
    bool quick = false, allWays = false;
    for (int i = 1; i < argc; ++i) {
        quick = quick || std::strcmp(argv[i], "--quick") == 0;
        allWays = allWays || std::strcmp(argv[i], "--all-ways") == 0;  // the slow texts too
    }
    if (!RegisterHardwareProvider(BesideThisProgram("hwrngcsp.dll"))) {
        std::printf("could not register the provider\n");
        return 1;
    }
    const char* only = std::getenv("GENERATE_BENCH_ONLY");  // e.g. "10^4 no delimiter"
    const HMODULE exe = LoadLibraryExA(BesideThisProgram("Quorvel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    // Line feeds with values up to 255; without a delimiter, the default range 0..10.
    const Case cases[] = {
        {"1000", "255", "\n", "10^3 line feeds", false},   {"10000", "255", "\n", "10^4 line feeds", true},
        {"100000", "255", "\n", "10^5 line feeds", true},  {"1000000", "255", "\n", "10^6 line feeds", false},
        {"1000", "10", "", "10^3 no delimiter", true},      {"10000", "10", "", "10^4 no delimiter", false},
    };
    std::printf("%-20s %10s %10s %8s   (medians of %s)\n", "values", "run s", "floor s", "ratio", "3 runs");
    std::vector<std::pair<const Case*, std::string>> texts;
    for (const Case& c : cases) {
        const bool huge = std::strcmp(c.count, "1000000") == 0;
        if ((quick && huge) || (only && std::strcmp(only, c.label) != 0))
            continue;
        const int repeats = huge ? 1 : 3;
        std::vector<double> runs, floors;
        std::string text;
        for (int i = 0; i < repeats; ++i) {
            runs.push_back(TimeRun(c, &text));
            floors.push_back(TimeFloor(exe, text, Way::Bare));
        }
        const double run = Median(runs), floor = Median(floors);
        std::printf("%-20s %10.3f %10.3f %8.3f\n", c.label, run, floor, run / floor);
        std::fflush(stdout);
        if (c.triesWays || allWays)
            texts.emplace_back(&c, text);
    }

    std::printf("\nLowering the floor (seconds to show the same text, medians of 3):\n");
    std::printf("%-20s %10s %10s %10s %10s %12s\n", "values", "bare", "no redraw", "hidden", "step by 1",
                "EM_SETHANDLE");
    for (const auto& [c, text] : texts) {
        std::printf("%-20s", c->label);
        for (Way way : {Way::Bare, Way::NoRedraw, Way::Hidden, Way::WordBreakAnywhere, Way::LocalHandle}) {
            std::vector<double> times;
            for (int i = 0; i < 3; ++i)
                times.push_back(TimeFloor(exe, text, way));
            std::printf(" %10.3f", Median(times));
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    FreeLibrary(exe);
    RemoveHardwareProvider();
    return 0;
}
