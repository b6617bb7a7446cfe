// Generate under Wine, from the click until the dialog is done, for values 0 to 255 in the
// shapes people ask for, against line feeds measured in the same run; and the line-feed run
// against a bare WM_SETTEXT of a text of that shape on the same box, in a fresh process as
// Quorvel's is: the floor under it. Prints seconds and ratios (medians of 3 up to 10^5 values, single runs
// above); asserts nothing.
//   generate_bench [--quick] [--large] [--edge]
//   --quick measures each once; --large adds 10^7 values; --edge measures the largest runs
//   the box takes and one step past each instead.
#include "driver.h"
#include "test_support.h"
#include "bench_clock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

struct Shape {
    const char* name;
    const char* delimiter;
    int baseItem;  // the base list's top item: 8 is base 10
};
const Shape Shapes[] = {
    {"line feeds", "\n", 8}, {"CR LF", "\r\n", 8},  {"no delimiter", "", 8}, {"base 16, none", "", 14},
    {"space", " ", 8},       {"\", \"", ", ", 8},   {"\"-\"", "-", 8},       {"base 36, space", " ", 34},
    {"tab", "\t", 8},       {"lone CR", "\r", 8},   {"VT, ESC", "\v\x1b", 8},
};

// A run is waited for this long before it counts as stuck.
constexpr DWORD LongestRunMs = 3600 * 1000;

double Measure(int count, const Shape& shape)
{
    App app;
    if (!Start(&app))
        return -1;
    SetField(app, IDC_COUNT, std::to_string(count).c_str());
    SetField(app, IDC_DEC_MAX, "255");
    SetField(app, IDC_DELIMITER, shape.delimiter);
    SendDlgItemMessageA(app.dialog, IDC_BASE_LIST, LB_SETTOPINDEX, shape.baseItem, 0);
    const double start = Now();
    // A warning above 10000 values is answered at once and counted in.
    const std::vector<std::string> boxes =
        Press(app, IDOK, count > 10000 ? std::vector<int>{IDOK} : std::vector<int>{}, "", LongestRunMs);
    const double seconds = Now() - start;
    const bool shown = Field(app, IDC_STATUS) == "Ready" && !Field(app, IDC_ELAPSED).empty();
    Stop(&app);
    return shown && boxes.size() == (count > 10000 ? 1u : 0u) ? seconds : -1;
}

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// One WM_SETTEXT of count random values 0 to 255, one a line, on the output box of a dialog
// made from Quorvel's template in a fresh process, as Quorvel's own is: the least the
// line-feed run can cost. Prints the seconds.
int BareSetText(int count)
{
    std::mt19937 random(count);
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? "\n" : "") + std::to_string(random() % 256);
    const HMODULE exe = LoadLibraryExA(Beside("Quorvel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HWND dialog = CreateDialogParamA(exe, MAKEINTRESOURCEA(IDD_MAIN), nullptr, Quiet, 0);
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    const double start = Now();
    SetDlgItemTextA(dialog, IDC_OUTPUT, text.c_str());
    std::printf("%.6f\n", Now() - start);
    return 0;
}

// BareSetText in a process of its own; -1 where it gave no figure.
double BareSetTextApart(int count)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0))
        return -1;
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    PROCESS_INFORMATION process = {};
    std::string line = "\"" + Beside("generate_bench.exe") + "\" --bare-settext " + std::to_string(count);
    const bool started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(write);
    char figure[64] = {};
    DWORD got = 0;
    if (started) {
        ReadFile(read, figure, sizeof figure - 1, &got, nullptr);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(read);
    return got > 0 ? std::atof(figure) : -1;
}

// --edge: the largest runs whose text the output box takes under Wine, with line feeds and
// with no delimiter, and one step past each, written to a file: how long each took, what
// Quorvel said, and how much the file holds.
int Edge()
{
    const struct { const char* name; const char* delimiter; const char* count; } runs[] = {
        {"line feeds", "\n", "13000000"}, {"line feeds", "\n", "14000000"},
        {"no delimiter", "", "50000000"}, {"no delimiter", "", "52000000"}};
    const std::string file = Beside("edge-run.txt");
    for (const auto& run : runs) {
        App app;
        if (!Start(&app))
            return 1;
        SetField(app, IDC_COUNT, run.count);
        SetField(app, IDC_DEC_MAX, "255");
        SetField(app, IDC_DELIMITER, run.delimiter);
        SetField(app, IDC_OUTPUT_PATH, file.c_str());
        DeleteFileA(file.c_str());
        const double start = Now();
        const std::vector<std::string> boxes = Press(app, IDOK, {IDOK}, "", LongestRunMs);
        const double seconds = Now() - start;
        WIN32_FILE_ATTRIBUTE_DATA written = {};
        GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &written);
        std::string told = boxes.size() > 1 ? boxes[1].substr(0, boxes[1].find('\n')) : "nothing";
        std::printf("%-12s %9s values: %8.1f s, status %s, file %llu bytes, told: %s\n", run.name, run.count, seconds,
                    Field(app, IDC_STATUS).c_str(),
                    (static_cast<unsigned long long>(written.nFileSizeHigh) << 32) | written.nFileSizeLow, told.c_str());
        std::fflush(stdout);
        Stop(&app);
    }
    DeleteFileA(file.c_str());
    return 0;
}

double Median(std::vector<double> all)
{
    std::sort(all.begin(), all.end());
    return all[all.size() / 2];
}

void PrintCell(double seconds, double against)
{
    if (seconds < 0)
        std::printf(" %17s", "failed");
    else
        std::printf(" %8.3f (x%5.2f)", seconds, seconds / against);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--bare-settext") == 0)
        return BareSetText(std::atoi(argv[2]));
    bool quick = false, large = false, edge = false;
    for (int i = 1; i < argc; ++i) {
        quick = quick || std::strcmp(argv[i], "--quick") == 0;
        large = large || std::strcmp(argv[i], "--large") == 0;
        edge = edge || std::strcmp(argv[i], "--edge") == 0;
    }
    std::vector<int> counts = {1000, 10000, 100000, 1000000};
    if (large)
        counts.push_back(10000000);
    const auto repeats = [&](int count) { return quick || count > 100000 ? 1 : 3; };
    if (!RegisterProvider(Beside("hwrngcsp.dll"))) {
        std::printf("could not register the provider\n");
        return 1;
    }
    if (edge) {
        const int result = Edge();
        RemoveProvider();
        return result;
    }
    // Every shape of a count and the bare call are timed in turn, round after round, so that
    // what slows the machine for a while weighs on all of them alike.
    const std::size_t shapes = std::size(Shapes);
    std::vector<std::vector<double>> seconds(shapes + 1, std::vector<double>(counts.size()));
    for (std::size_t column = 0; column < counts.size(); ++column) {
        const int count = counts[column];
        std::vector<std::vector<double>> rounds(shapes + 1);
        for (int round = 0; round < repeats(count); ++round) {
            for (std::size_t row = 0; row < shapes; ++row)
                rounds[row].push_back(Measure(count, Shapes[row]));
            rounds[shapes].push_back(BareSetTextApart(count));
        }
        for (std::size_t row = 0; row <= shapes; ++row)
            seconds[row][column] = Median(rounds[row]);
        std::fprintf(stderr, "%d values measured\n", count);
    }
    std::printf("%-16s", "seconds (x LF)");
    for (int count : counts)
        std::printf(" %17d", count);
    std::printf("\n");
    for (std::size_t row = 0; row < shapes; ++row) {
        std::printf("%-16s", Shapes[row].name);
        for (std::size_t column = 0; column < counts.size(); ++column)
            PrintCell(seconds[row][column], seconds[0][column]);
        std::printf("\n");
    }
    std::printf("%-16s", "LF: bare SETTEXT");
    for (std::size_t column = 0; column < counts.size(); ++column)
        std::printf(" %8.3f (LF/%4.2f)", seconds[shapes][column], seconds[0][column] / seconds[shapes][column]);
    std::printf("\n(x LF: the time against line feeds in the same run; LF/: the line-feed run against the bare call)\n");
    RemoveProvider();
    return 0;
}
