#include "rng_core.h"

#include <cstring>

namespace {

bool Step(const RngSource& source, uint32_t* sample)
{
    for (int attempt = 0; attempt < RngRetryLimit; ++attempt) {
        if (source.step(source.context, sample))
            return true;
        if (source.pause)
            source.pause(source.context);
    }
    return false;
}

// Repetition test on 64-bit samples: a stuck generator repeats itself, and some parts
// are known to fail by returning all zeros or all ones.
bool SamplePasses(RngHealth* health, uint64_t sample)
{
    if (sample == 0 || sample == ~uint64_t{0})
        return false;
    if (health->havePrevious && sample == health->previous)
        return false;
    health->previous = sample;
    health->havePrevious = true;
    return true;
}

// Whole windows in a tight loop the compiler can vectorise; partial ones byte by byte.
// Only reached once the hardware generator is known present, and every processor with
// RDRAND has SSE2: a 32-bit build may use it here and nowhere else.
#if defined(__i386__)
__attribute__((target("sse2")))
#endif
bool AptPasses(RngHealth* health, const uint8_t* bytes, std::size_t length)
{
    std::size_t i = 0;
    while (i < length) {
        if (health->aptSeen == 0 && length - i >= RngAptWindow) {
            const uint8_t reference = bytes[i];
            uint32_t count = 0;
            for (std::size_t j = 0; j < RngAptWindow; ++j)
                count += bytes[i + j] == reference;
            if (count >= RngAptCutoff)
                return false;
            i += RngAptWindow;
            continue;
        }
        const uint8_t b = bytes[i++];
        if (health->aptSeen == 0) {
            health->aptReference = b;
            health->aptCount = 1;
        } else if (b == health->aptReference && ++health->aptCount >= RngAptCutoff) {
            return false;
        }
        if (++health->aptSeen == RngAptWindow)
            health->aptSeen = 0;
    }
    return true;
}

RngStatus Fail(RngHealth* health, RngStatus status, uint8_t* out, std::size_t length)
{
    if (length > 0)
        std::memset(out, 0, length);
    if (status == RngStatus::HealthFailure) {
        // A failed window is not carried into the next request.
        health->aptSeen = 0;
        if (++health->failuresInARow >= RngPermanentFailureThreshold)
            health->latched = true;
    }
    return status;
}

}  // namespace

RngStatus RngGenerate(const RngSource& source, RngHealth* health, uint8_t* out, std::size_t length)
{
    if (health->latched)
        return Fail(health, RngStatus::Latched, out, length);
    // The proportion test runs a chunk at a time, while the chunk is still in cache.
    constexpr std::size_t Chunk = 4096;
    std::size_t done = 0;
    while (done < length) {
        const std::size_t chunkEnd = length - done > Chunk ? done + Chunk : length;
        const std::size_t chunkStart = done;
        while (done < chunkEnd) {
            uint32_t low = 0, high = 0;
            if (!Step(source, &low) || !Step(source, &high))
                return Fail(health, RngStatus::NotReady, out, length);
            const uint64_t sample = (uint64_t{high} << 32) | low;
            if (!SamplePasses(health, sample))
                return Fail(health, RngStatus::HealthFailure, out, length);
            uint8_t bytes[8];
            for (int k = 0; k < 8; ++k)
                bytes[k] = static_cast<uint8_t>(sample >> (8 * k));
            if (chunkEnd - done >= 8) {
                std::memcpy(out + done, bytes, 8);
                done += 8;
            } else {
                std::memcpy(out + done, bytes, chunkEnd - done);  // the rest of the sample is dropped
                done = chunkEnd;
            }
        }
        if (!AptPasses(health, out + chunkStart, chunkEnd - chunkStart))
            return Fail(health, RngStatus::HealthFailure, out, length);
    }
    health->failuresInARow = 0;
    return RngStatus::Ok;
}

RngStatus RngOpen(const RngSource& source, RngHealth* health)
{
    if (!source.present)
        return RngStatus::NotFound;
    if (health->latched)
        return RngStatus::Latched;
    if (health->started)
        return RngStatus::Ok;  // the start-up test is passed once per process
    uint32_t previous = 0;
    int changes = 0;
    for (int i = 0; i < RngStartupSamples; ++i) {
        uint32_t sample = 0;
        if (!Step(source, &sample))
            return RngStatus::NotReady;
        if (i > 0 && sample != previous)
            ++changes;
        previous = sample;
    }
    if (changes < RngStartupChanges)
        return Fail(health, RngStatus::HealthFailure, nullptr, 0);
    uint8_t scratch[RngStartupBytes];
    const RngStatus status = RngGenerate(source, health, scratch, sizeof scratch);
    health->started = status == RngStatus::Ok;
    return status;
}
