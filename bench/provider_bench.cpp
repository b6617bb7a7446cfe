// FillRandomBytes through the hardware provider against raw RDRAND32 in the same
// process, for blocks of 10^3 to 10^8 bytes. Prints MB/s and the ratio; asserts nothing.
#include "hardware_random_source.h"
#include "bench_clock.h"
#include "test_support.h"

#include <immintrin.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

__attribute__((target("rdrnd"))) void RawRdrand(BYTE* out, DWORD length)
{
    DWORD i = 0;
    for (; i + 4 <= length; i += 4) {
        unsigned int v;
        while (!_rdrand32_step(&v)) {
        }
        std::memcpy(out + i, &v, 4);
    }
    if (i < length) {
        unsigned int v;
        while (!_rdrand32_step(&v)) {
        }
        std::memcpy(out + i, &v, length - i);
    }
}

// Bytes per second of fill(block), repeated until at least half a second has passed.
template <typename Fill>
double Rate(std::vector<BYTE>& block, Fill fill)
{
    int rounds = 0;
    const double start = Now();
    double elapsed = 0;
    do {
        if (!fill(block.data(), static_cast<DWORD>(block.size())))
            return -1;
        ++rounds;
        elapsed = Now() - start;
    } while (elapsed < 0.5);
    return static_cast<double>(block.size()) * rounds / elapsed;
}

}  // namespace

int main()
{
    if (!RegisterProvider(Beside("hwrngcsp.dll"))) {
        std::printf("could not register the provider\n");
        return 1;
    }
    std::printf("%12s %14s %14s %8s\n", "block bytes", "RDRAND32 MB/s", "provider MB/s", "ratio");
    for (DWORD size = 1000; size <= 100000000; size *= 10) {
        std::vector<BYTE> block(size);
        const double raw = Rate(block, [](BYTE* p, DWORD n) { RawRdrand(p, n); return true; });
        const double provider = Rate(block, [](BYTE* p, DWORD n) { return FillRandomBytes(n, p); });
        if (provider < 0) {
            std::printf("FillRandomBytes failed: 0x%08lx\n", GetLastError());
            RemoveProvider();
            return 1;
        }
        std::printf("%12lu %14.1f %14.1f %8.3f\n", static_cast<unsigned long>(size), raw / 1e6, provider / 1e6,
                    provider / raw);
    }
    RemoveProvider();
    return 0;
}
