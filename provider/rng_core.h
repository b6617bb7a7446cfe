// The hardware generator's byte stream with its retry rule and continuous health tests.
// Portable: the hardware itself is reached through RngSource, so tests can feed any samples.
#pragma once

#include <cstddef>
#include <cstdint>

// One hardware step: true with a fresh 32-bit sample, false when the generator had none
// ready (RDRAND's carry flag clear).
struct RngSource {
    bool present;                                  // the CPU has the generator at all
    bool (*step)(void* context, uint32_t* sample);
    void (*pause)(void* context);                  // between retries; may be null
    void* context;
};

enum class RngStatus {
    Ok,
    NotFound,       // no hardware generator
    NotReady,       // no sample after RngRetryLimit tries
    HealthFailure,  // a continuous test failed; the output was zeroed
    Latched,        // too many failures in a row: the generator is no longer trusted
};

// Hardware vendors' rule: a generator that is working returns a sample within 10 tries.
inline constexpr int RngRetryLimit = 10;
// Adaptive proportion test on bytes: within a window of 512 bytes of output, a reference
// byte drawn for the test alone may occur at most RngAptCutoff - 1 times. Good data here
// reached 13.
inline constexpr std::size_t RngAptWindow = 512;
inline constexpr uint32_t RngAptCutoff = 18;
// Output is made and checked this many bytes at a time, while they are still in cache; and
// callers take turns at the generator a chunk at a time.
inline constexpr std::size_t RngChunkSize = 16384;
// Health failures in a row after which the generator stays failed.
inline constexpr int RngPermanentFailureThreshold = 3;
// The start-up test: of this many samples, at least RngStartupChanges differ from their predecessor.
inline constexpr int RngStartupSamples = 8;
inline constexpr int RngStartupChanges = 5;
// Then this much output is made, tested and thrown away: eight windows of the proportion test.
inline constexpr std::size_t RngStartupBytes = 4096;

// A generator stuck in a cycle of up to this many 64-bit samples (8 KiB) is caught: each
// sample is compared with a reference sample taken this many samples apart.
inline constexpr uint32_t RngCycleWindow = 1024;

// State of the continuous tests, carried from one request to the next. It holds no byte
// that was given out: the samples it keeps are drawn for the tests alone.
struct RngHealth {
    uint64_t previous = 0;   // the hardware's latest sample, drawn after a request's last output
    bool havePrevious = false;
    uint64_t reference = 0;  // looked for among the samples after it: a repeat means a cycle
    uint32_t sinceReference = RngCycleWindow;  // samples compared with it; at the window, a new one
    uint8_t aptReference = 0;  // from a sample drawn for the test alone
    uint32_t aptCount = 0;
    std::size_t aptSeen = 0;  // bytes of the current window seen so far
    int failuresInARow = 0;
    bool latched = false;
    bool started = false;  // the start-up test has passed
};

// Gives the reference byte for a window of the proportion test, drawn for the test alone;
// false where none could be drawn.
using RngReference = bool (*)(void* context, uint8_t* reference);

// The adaptive proportion test over the next bytes of output, carrying a window that is
// not yet full over to the next call; each window starts with a reference from `reference`.
// False when a window holds its reference too often, or no reference could be drawn.
bool RngProportionPasses(RngHealth* health, const uint8_t* bytes, std::size_t length, RngReference reference,
                         void* context);

// Overwrites a copy of output, in a way the compiler may not leave out.
void RngWipe(void* data, std::size_t length);

// Checks that the generator exists and, the first time, that it passes the start-up test.
RngStatus RngOpen(const RngSource& source, RngHealth* health);

// Fills out with length bytes. On any failure out is zeroed.
RngStatus RngGenerate(const RngSource& source, RngHealth* health, uint8_t* out, std::size_t length);
