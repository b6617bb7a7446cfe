// FillRandomBytes through the hardware provider against raw RDRAND32 in the same
// process, for blocks of 10^3 to 10^8 bytes. Prints MB/s and the ratio; asserts nothing.
#include "hardware_random_source.h"
#include "bench_clock.h"
#include "test_support.h"

#include <immintrin.h>

#include <cstdio>
#include <cstring>
#include <string>
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

// Processor seconds of the whole process so far.
double ProcessorSeconds()
{
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    return (ULARGE_INTEGER{{kernel.dwLowDateTime, kernel.dwHighDateTime}}.QuadPart +
            ULARGE_INTEGER{{user.dwLowDateTime, user.dwHighDateTime}}.QuadPart) / 1e7;
}

constexpr DWORD CallerBytes = 16 << 20;
DWORD WINAPI Fill(void* buffer)
{
    return FillRandomBytes(CallerBytes, static_cast<BYTE*>(buffer)) ? 0 : 1;
}

// Eight callers of 16 MiB each at once against the same requests one after another: what
// waiting for a turn costs the process in processor time (a spinning waiter costs a core).
void CallersAtOnce(const std::string& provider)
{
    std::vector<std::vector<BYTE>> buffers(8, std::vector<BYTE>(CallerBytes));
    if (!RegisterProvider(provider))
        return;
    double start = ProcessorSeconds();
    for (std::vector<BYTE>& buffer : buffers)
        Fill(buffer.data());
    const double alone = ProcessorSeconds() - start;
    start = ProcessorSeconds();
    std::vector<HANDLE> threads;
    for (std::vector<BYTE>& buffer : buffers)
        threads.push_back(CreateThread(nullptr, 0, Fill, buffer.data(), 0, nullptr));
    WaitForMultipleObjects(DWORD(threads.size()), threads.data(), TRUE, INFINITE);
    const double together = ProcessorSeconds() - start;
    for (HANDLE thread : threads)
        CloseHandle(thread);
    std::printf("8 x 16 MiB: processor seconds %.2f at once, %.2f one after another (x %.2f): %s\n", together, alone,
                together / alone, provider.c_str());
}

}  // namespace

// provider_bench [other.dll ...]: the provider built here, and each other given, registered in
// turn for every block size, so that both are measured in the same minutes.
int main(int argc, char** argv)
{
    std::vector<std::string> providers{Beside("hwrngcsp.dll")};
    providers.insert(providers.end(), argv + 1, argv + argc);
    std::printf("%12s %14s", "block bytes", "RDRAND32 MB/s");
    for (std::size_t i = 0; i < providers.size(); ++i)
        std::printf(" %10s%zu MB/s %6s", "provider ", i + 1, "ratio");
    std::printf("\n");
    for (DWORD size = 1000; size <= 100000000; size *= 10) {
        std::vector<BYTE> block(size);
        const double raw = Rate(block, [](BYTE* p, DWORD n) { RawRdrand(p, n); return true; });
        std::printf("%12lu %14.1f", static_cast<unsigned long>(size), raw / 1e6);
        for (const std::string& provider : providers) {
            const double rate = RegisterProvider(provider) ? Rate(block, [](BYTE* p, DWORD n) { return FillRandomBytes(n, p); }) : -1;
            if (rate < 0) {
                std::printf("\n%s failed: 0x%08lx\n", provider.c_str(), GetLastError());
                RemoveProvider();
                return 1;
            }
            std::printf(" %15.1f %6.3f", rate / 1e6, rate / raw);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    for (std::size_t i = 0; i < providers.size(); ++i)
        std::printf("provider %zu: %s\n", i + 1, providers[i].c_str());
    for (const std::string& provider : providers)
        CallersAtOnce(provider);
    RemoveProvider();
    return 0;
}
