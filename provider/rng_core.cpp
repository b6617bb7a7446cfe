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

bool Sample(const RngSource& source, uint64_t* sample)
{
    uint32_t low = 0, high = 0;
    if (!Step(source, &low) || !Step(source, &high))
        return false;
    *sample = (uint64_t{high} << 32) | low;
    return true;
}

// The repetition tests on 64-bit samples: a stuck generator repeats itself, some parts
// are known to fail by returning all zeros or all ones, and one caught in a cycle
// brings back the reference sample within RngCycleWindow samples.
bool SamplePasses(const RngHealth& health, uint64_t previous, uint64_t sample)
{
    return sample != 0 && sample != ~uint64_t{0} && sample != previous && sample != health.reference;
}

// Draws a sample that is never given out and that follows `previous` in the hardware's
// stream: the next reference, or the sample the next request's first is compared with.
RngStatus TestSample(const RngSource& source, const RngHealth& health, uint64_t previous, uint64_t* sample)
{
    if (!Sample(source, sample))
        return RngStatus::NotReady;
    return SamplePasses(health, previous, *sample) ? RngStatus::Ok : RngStatus::HealthFailure;
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

void RngWipe(void* data, std::size_t length)
{
    volatile uint8_t* bytes = static_cast<volatile uint8_t*>(data);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = 0;
}

// Whole windows in a tight loop the compiler can vectorise; partial ones byte by byte.
// Only reached once the hardware generator is known present, and every processor with
// RDRAND has SSE2: a 32-bit build may use it here and nowhere else.
#if defined(__i386__)
__attribute__((target("sse2")))
#endif
bool RngProportionPasses(RngHealth* health, const uint8_t* bytes, std::size_t length, RngReference reference,
                         void* context)
{
    std::size_t i = 0;
    while (i < length) {
        if (health->aptSeen == 0) {
            if (!reference(context, &health->aptReference))
                return false;
            health->aptCount = 0;
            if (length - i >= RngAptWindow) {
                const uint8_t value = health->aptReference;
                uint32_t count = 0;
                for (std::size_t j = 0; j < RngAptWindow; ++j)
                    count += bytes[i + j] == value;
                if (count >= RngAptCutoff)
                    return false;
                i += RngAptWindow;
                continue;
            }
        }
        if (bytes[i++] == health->aptReference && ++health->aptCount >= RngAptCutoff)
            return false;
        if (++health->aptSeen == RngAptWindow)
            health->aptSeen = 0;
    }
    return true;
}

namespace {

// What draws the proportion test's references in the middle of a request: a sample that
// follows the request's latest, tested as any, of which the reference is one byte.
struct ReferenceDraw {
    const RngSource& source;
    RngHealth* health;
    uint64_t* previous;
    RngStatus status;
};

bool DrawReference(void* context, uint8_t* reference)
{
    ReferenceDraw& draw = *static_cast<ReferenceDraw*>(context);
    uint64_t sample = 0;
    draw.status = TestSample(draw.source, *draw.health, *draw.previous, &sample);
    *draw.previous = sample;
    *reference = static_cast<uint8_t>(sample);
    RngWipe(&sample, sizeof sample);
    return draw.status == RngStatus::Ok;
}

}  // namespace

RngStatus RngGenerate(const RngSource& source, RngHealth* health, uint8_t* out, std::size_t length)
{
    if (health->latched)
        return Fail(health, RngStatus::Latched, out, length);
    RngStatus status = RngStatus::Ok;
    // The sample before this request's first: drawn now if no request came before.
    uint64_t previous = health->previous;
    if (!health->havePrevious && (status = TestSample(source, *health, ~previous, &previous)) != RngStatus::Ok)
        return Fail(health, status, out, length);
    uint8_t bytes[8];
    uint64_t sample = 0;
    std::size_t done = 0;
    while (done < length && status == RngStatus::Ok) {
        const std::size_t chunkEnd = length - done > RngChunkSize ? done + RngChunkSize : length;
        const std::size_t chunkStart = done;
        while (done < chunkEnd) {
            if (health->sinceReference >= RngCycleWindow) {
                uint64_t reference = 0;
                if ((status = TestSample(source, *health, previous, &reference)) != RngStatus::Ok)
                    break;
                health->reference = previous = reference;
                health->sinceReference = 0;
            }
            if (!Sample(source, &sample)) {
                status = RngStatus::NotReady;
                break;
            }
            if (!SamplePasses(*health, previous, sample)) {
                status = RngStatus::HealthFailure;
                break;
            }
            previous = sample;
            ++health->sinceReference;
            for (int k = 0; k < 8; ++k)
                bytes[k] = static_cast<uint8_t>(sample >> (8 * k));
            const std::size_t n = chunkEnd - done >= 8 ? 8 : chunkEnd - done;  // the rest of a sample is dropped
            std::memcpy(out + done, bytes, n);
            done += n;
        }
        ReferenceDraw draw{source, health, &previous, RngStatus::Ok};
        if (status == RngStatus::Ok &&
            !RngProportionPasses(health, out + chunkStart, chunkEnd - chunkStart, DrawReference, &draw))
            status = draw.status == RngStatus::Ok ? RngStatus::HealthFailure : draw.status;
    }
    // The next request's first sample is compared with one that follows this request's
    // last, so that the state keeps nothing that was given out.
    uint64_t next = 0;
    if (status == RngStatus::Ok)
        status = TestSample(source, *health, previous, &next);
    // The last sample may have been given out in part: none of it stays behind.
    RngWipe(bytes, sizeof bytes);
    RngWipe(&sample, sizeof sample);
    RngWipe(&previous, sizeof previous);
    if (status != RngStatus::Ok)
        return Fail(health, status, out, length);
    health->previous = next;
    health->havePrevious = true;
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
    RngWipe(scratch, sizeof scratch);
    health->started = status == RngStatus::Ok;
    return status;
}
