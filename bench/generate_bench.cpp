// Generate under Wine, from the click until the dialog is done, for values 0 to 255 in the
// shapes people ask for, against line feeds measured in the same run. Prints seconds and
// ratios (medians of 3); asserts nothing.
//   generate_bench [--quick]   --quick measures each once
#include "driver.h"
#include "test_support.h"
#include "bench_clock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Shape {
    const char* name;
    const char* delimiter;
    int baseItem;  // the base list's top item: 8 is base 10
};
const Shape Shapes[] = {
    {"line feeds", "\n", 8}, {"CR LF", "\r\n", 8}, {"no delimiter", "", 8}, {"base 16, none", "", 14}, {"space", " ", 8},
    {"\", \"", ", ", 8},     {"\"-\"", "-", 8},     {"base 36, space", " ", 34}, {"tab", "\t", 8},
};
const int Counts[] = {1000, 10000, 100000};

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
    Press(app, IDOK, count > 10000 ? std::vector<int>{IDOK} : std::vector<int>{});
    const double seconds = Now() - start;
    Stop(&app);
    return seconds;
}

double Median(int count, const Shape& shape, int repeats)
{
    std::vector<double> all;
    for (int i = 0; i < repeats; ++i)
        all.push_back(Measure(count, shape));
    std::sort(all.begin(), all.end());
    return all[all.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int repeats = argc > 1 && std::strcmp(argv[1], "--quick") == 0 ? 1 : 3;
    if (!RegisterProvider(Beside("hwrngcsp.dll"))) {
        std::printf("could not register the provider\n");
        return 1;
    }
    std::printf("%-16s", "seconds (x LF)");
    for (int count : Counts)
        std::printf(" %17d", count);
    std::printf("\n");
    std::vector<double> lineFeeds;
    for (const Shape& shape : Shapes) {
        std::printf("%-16s", shape.name);
        for (std::size_t column = 0; column < std::size(Counts); ++column) {
            const double seconds = Median(Counts[column], shape, repeats);
            if (lineFeeds.size() < std::size(Counts))
                lineFeeds.push_back(seconds);
            std::printf(" %8.3f (x%5.2f)", seconds, seconds / lineFeeds[column]);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    RemoveProvider();
    return 0;
}
