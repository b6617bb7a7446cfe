// Generate under Wine, from the click until the dialog is done, for values 0 to 255 in
// base 10 with no delimiter and with line feeds, against the box's own floor: one
// WM_SETTEXT of the very same text into the very same box, sent from here afterwards.
// Prints seconds and ratios (medians of 3); asserts nothing.
//   generate_bench [--quick]   --quick leaves out one call of 10^4 values without a
//                              delimiter, which takes minutes
#include "driver.h"
#include "test_support.h"
#include "bench_clock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Times {
    double run;      // click until done; a warning is answered at once and counted in
    double floor;    // one WM_SETTEXT of the same text into the same box
};

Times Measure(int count, const char* delimiter, bool floor)
{
    App app;
    if (!Start(&app))
        return {-1, -1};
    SetField(app, IDC_COUNT, std::to_string(count).c_str());
    SetField(app, IDC_DEC_MAX, "255");
    SetField(app, IDC_DELIMITER, delimiter);
    const double start = Now();
    Press(app, IDOK, count > 10000 ? std::vector<int>{IDOK} : std::vector<int>{});
    Times t{Now() - start, 0};
    if (floor) {
        const std::string text = Field(app, IDC_OUTPUT);
        const HWND box = GetDlgItem(app.dialog, IDC_OUTPUT);
        const double set = Now();
        SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        t.floor = Now() - set;
    }
    Stop(&app);
    return t;
}

Times Median(int count, const char* delimiter, bool floor, int repeats)
{
    std::vector<Times> all;
    for (int i = 0; i < repeats; ++i)
        all.push_back(Measure(count, delimiter, floor));
    const auto middle = [&](double Times::*field) {
        std::vector<double> v;
        for (const Times& t : all)
            v.push_back(t.*field);
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    return {middle(&Times::run), middle(&Times::floor)};
}

}  // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    if (!RegisterProvider(Beside("hwrngcsp.dll"))) {
        std::printf("could not register the provider\n");
        return 1;
    }
    std::printf("%8s %12s %12s %8s %12s %8s %14s %9s\n", "values", "no delim s", "line feed s", "ratio",
                "lf floor s", "lf/floor", "no delim 1 call", "speed-up");
    for (int count : {1000, 10000, 100000}) {
        const Times none = Median(count, "", count <= 10000 && !(quick && count == 10000), count == 10000 ? 1 : 3);
        const Times lines = Median(count, "\n", true, 3);
        std::printf("%8d %12.3f %12.3f %8.2f %12.3f %8.2f", count, none.run, lines.run, none.run / lines.run,
                    lines.floor, lines.run / lines.floor);
        if (none.floor > 0)
            std::printf(" %14.3f %9.1f\n", none.floor, none.floor / none.run);
        else
            std::printf(" %14s %9s\n", "-", "-");
        std::fflush(stdout);
    }
    RemoveProvider();
    return 0;
}
