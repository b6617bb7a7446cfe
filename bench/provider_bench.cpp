// FillRandomBytes through the hardware provider against raw RDRAND32 in the same
// process, for blocks of 10^3 to 10^8 bytes; the processor time of callers at once; and
// 64 MiB with and without a caller ended while it waited. Prints figures and ratios;
// asserts nothing.
#include "hardware_random_source.h"
#include "bench_clock.h"
#include "test_support.h"

#include <immintrin.h>

#include <algorithm>
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

constexpr DWORD LargeBytes = 64 << 20;
DWORD WINAPI FillLarge(void* buffer)
{
    return FillRandomBytes(LargeBytes, static_cast<BYTE*>(buffer)) ? 0 : 1;
}
DWORD WINAPI FillSmall(void* buffer)
{
    return FillRandomBytes(16, static_cast<BYTE*>(buffer)) ? 0 : 1;
}

// Ends a caller of 16 bytes that is not served 100 ms after it asked, while a large request is
// held still (suspended) in the provider, where it most often holds the turn; tries again when
// the caller was served. True once one was ended.
bool EndAWaiter(std::vector<BYTE>& large)
{
    BYTE bytes[16];
    bool ended = false;
    for (int tries = 0; tries < 20 && !ended; ++tries) {
        const HANDLE holder = CreateThread(nullptr, 0, FillLarge, large.data(), 0, nullptr);
        Sleep(20);
        SuspendThread(holder);
        const HANDLE waiter = CreateThread(nullptr, 0, FillSmall, bytes, 0, nullptr);
        ended = WaitForSingleObject(waiter, 100) == WAIT_TIMEOUT && TerminateThread(waiter, 1);
        WaitForSingleObject(waiter, INFINITE);
        ResumeThread(holder);
        WaitForSingleObject(holder, INFINITE);
        CloseHandle(waiter);
        CloseHandle(holder);
    }
    return ended;
}

// The median of seven rounds of 64 MiB through each provider, registered in turn round after round.
std::vector<double> MedianRates(const std::vector<std::string>& providers, std::vector<BYTE>& large)
{
    const auto fill = [](BYTE* p, DWORD n) { return FillRandomBytes(n, p); };
    std::vector<std::vector<double>> rates(providers.size());
    for (int round = 0; round < 7; ++round)
        for (std::size_t i = 0; i < providers.size(); ++i)
            rates[i].push_back(RegisterProvider(providers[i]) ? Rate(large, fill) : -1);
    std::vector<double> medians;
    for (std::vector<double>& r : rates)
        std::nth_element(r.begin(), r.begin() + 3, r.end()), medians.push_back(r[3]);
    return medians;
}

// What one ended waiter costs every later large request of the process: 64 MiB through a copy of
// each provider in which a waiter was ended, against the provider itself, in which none was.
void AfterAnEndedWaiter(const std::vector<std::string>& providers)
{
    std::vector<BYTE> large(LargeBytes);
    std::vector<std::string> dlls;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    for (const std::string& provider : providers) {
        const std::string copy = temp + ("hwrngcsp-ended-" + std::to_string(dlls.size() / 2 + 1)) + ".dll";
        dlls.push_back(provider);
        dlls.push_back(copy);
        if (!CopyFileA(provider.c_str(), copy.c_str(), FALSE) || !RegisterProvider(copy) || !EndAWaiter(large))
            std::printf("no waiter could be ended: %s\n", copy.c_str());
    }
    const std::vector<double> rates = MedianRates(dlls, large);
    for (std::size_t i = 0; i < providers.size(); ++i)
        std::printf("64 MiB: %.1f MB/s with no ended waiter, %.1f MB/s after one (x %.3f): %s\n", rates[2 * i] / 1e6,
                    rates[2 * i + 1] / 1e6, rates[2 * i + 1] / rates[2 * i], providers[i].c_str());
    RemoveProvider();
    for (std::size_t i = 1; i < dlls.size(); i += 2)
        DeleteFileA(dlls[i].c_str());  // Windows keeps a loaded DLL's file: it stays in the temporary folder
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
    AfterAnEndedWaiter(providers);
    return 0;
}
