// The provider's generator logic fed by scripted hardware: each known fault must be
// caught, good data must pass, and the bytes must come out exactly as sampled.
#include "rng_core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Scripted hardware: a 32-bit sample function and a carry-flag pattern.
struct Script {
    uint32_t (*sample)(Script*);
    int failFirst = 0;        // carry clear on this many steps of every sample
    int failAlways = false;
    uint64_t state = 0x9E3779B97F4A7C15u;
    uint32_t counter = 0;
    int tries = 0;
    int pauses = 0;
    int pendingFailures = 0;
    uint32_t last = 0;
    bool repeatNext = false;
};

uint32_t Good(Script* s)
{
    // splitmix64
    uint64_t z = (s->state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return static_cast<uint32_t>(z ^ (z >> 31));
}
uint32_t Counter(Script* s) { return 0x03020100u + 0x04040404u * s->counter++; }
uint32_t AllOnes(Script*) { return 0xFFFFFFFFu; }
uint32_t Constant(Script*) { return 0x12345678u; }
uint32_t Alternating(Script* s) { return s->counter++ % 2 ? 0xAAAA5555u : 0x5555AAAAu; }
// Every 64-bit sample twice in a row.
uint32_t RepeatedPairs(Script* s)
{
    static thread_local uint32_t pair[2];
    const uint32_t i = s->counter++ % 4;
    if (i < 2)
        pair[i] = Good(s);
    return pair[i % 2];
}
// A quarter of the bytes forced to zero.
uint32_t Biased(Script* s)
{
    uint32_t v = Good(s);
    const uint32_t pick = Good(s);
    for (int k = 0; k < 4; ++k)
        if (((pick >> (8 * k)) & 3) == 0)
            v &= ~(0xFFu << (8 * k));
    return v;
}

bool ScriptStep(void* context, uint32_t* out)
{
    Script* s = static_cast<Script*>(context);
    ++s->tries;
    if (s->failAlways)
        return false;
    if (s->pendingFailures > 0) {
        --s->pendingFailures;
        return false;
    }
    s->pendingFailures = s->failFirst;  // the next sample fails as often again
    *out = s->sample(s);
    return true;
}

void ScriptPause(void* context) { ++static_cast<Script*>(context)->pauses; }

RngSource SourceOf(Script* s, bool present = true)
{
    s->pendingFailures = s->failFirst;
    return RngSource{present, ScriptStep, ScriptPause, s};
}

RngStatus Generate(Script* s, RngHealth* health, std::size_t length, std::vector<uint8_t>* out = nullptr)
{
    std::vector<uint8_t> buffer(length, 0xCD);
    const RngStatus status = RngGenerate(SourceOf(s), health, buffer.data(), length);
    if (status != RngStatus::Ok) {
        for (uint8_t b : buffer)
            EXPECT_EQ(b, 0) << "a failed request must leave no random bytes behind";
    }
    if (out)
        *out = buffer;
    return status;
}

TEST(RngCore, GoodDataPasses)
{
    Script s{Good};
    RngHealth health;
    EXPECT_EQ(RngOpen(SourceOf(&s), &health), RngStatus::Ok);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(Generate(&s, &health, 1 << 20), RngStatus::Ok) << "MiB " << i;
    for (std::size_t length = 1; length < 2000; length += 7)
        ASSERT_EQ(Generate(&s, &health, length), RngStatus::Ok) << "length " << length;
}

struct FaultCase {
    const char* name;
    uint32_t (*sample)(Script*);
    RngStatus atOpen;
};

TEST(RngCore, EveryKnownFaultIsCaught)
{
    const FaultCase cases[] = {
        {"stuck all-ones", AllOnes, RngStatus::HealthFailure},
        {"stuck constant", Constant, RngStatus::HealthFailure},
        {"alternating pair", Alternating, RngStatus::HealthFailure},
        {"repeated 64-bit samples", RepeatedPairs, RngStatus::HealthFailure},
        {"biased bytes", Biased, RngStatus::HealthFailure},
    };
    for (const FaultCase& c : cases) {
        Script s{c.sample};
        RngHealth health;
        EXPECT_EQ(RngOpen(SourceOf(&s), &health), c.atOpen) << c.name;
        // Caught in an ordinary request too, not only at start-up.
        Script t{c.sample};
        RngHealth fresh;
        EXPECT_EQ(Generate(&t, &fresh, 64 * 1024), RngStatus::HealthFailure) << c.name;
    }
}

TEST(RngCore, AZeroSampleFailsTheRequest)
{
    // Steps 6 and 7 form the fourth 64-bit sample: both zero make it 0.
    Script z{[](Script* t) { const uint32_t i = t->counter++; return i == 6 || i == 7 ? 0u : Good(t); }};
    RngHealth health;
    EXPECT_EQ(Generate(&z, &health, 64), RngStatus::HealthFailure);
}

TEST(RngCore, NoGeneratorMeansNotFound)
{
    Script s{Good};
    RngHealth health;
    EXPECT_EQ(RngOpen(SourceOf(&s, false), &health), RngStatus::NotFound);
    EXPECT_EQ(s.tries, 0);
}

TEST(RngCore, RetriesTenTimesWithPauseThenGivesUp)
{
    Script never{Good};
    never.failAlways = true;
    RngHealth health;
    EXPECT_EQ(Generate(&never, &health, 16), RngStatus::NotReady);
    EXPECT_EQ(never.tries, RngRetryLimit);
    EXPECT_EQ(never.pauses, RngRetryLimit);
    EXPECT_EQ(RngOpen(SourceOf(&never), &health), RngStatus::NotReady);

    Script flaky{Good};
    flaky.failFirst = RngRetryLimit - 1;  // every sample comes on the last allowed try
    RngHealth h2;
    EXPECT_EQ(Generate(&flaky, &h2, 4096), RngStatus::Ok);

    Script broken{Good};
    broken.failFirst = RngRetryLimit;  // one try too many
    RngHealth h3;
    EXPECT_EQ(Generate(&broken, &h3, 8), RngStatus::NotReady);
}

TEST(RngCore, BytesComeOutAsSampledForOddLengthsAndUnalignedBuffers)
{
    for (std::size_t offset = 0; offset < 8; ++offset) {
        for (std::size_t length = 1; length <= 17; ++length) {
            Script s{Counter};
            RngHealth health;
            std::vector<uint8_t> buffer(length + 32, 0xEE);
            uint8_t* out = buffer.data() + 8 + offset;
            ASSERT_EQ(RngGenerate(SourceOf(&s), &health, out, length), RngStatus::Ok);
            // The counter script gives the bytes 0, 1, 2, ... of each 32-bit step in order.
            for (std::size_t i = 0; i < length; ++i)
                ASSERT_EQ(out[i], static_cast<uint8_t>(i)) << "offset " << offset << " length " << length;
            for (std::size_t i = 0; i < buffer.size(); ++i) {
                if (buffer.data() + i < out || buffer.data() + i >= out + length) {
                    ASSERT_EQ(buffer[i], 0xEE) << "wrote outside the request at " << i;
                }
            }
            // Whole 64-bit samples are drawn: one per 8 bytes, rounded up.
            EXPECT_EQ(s.counter, 2 * ((length + 7) / 8));
        }
    }
}

TEST(RngCore, LatchesAfterRepeatedFailuresAndASuccessResetsTheCount)
{
    Script bad{Constant};
    Script good{Good};
    RngHealth health;
    for (int i = 0; i + 1 < RngPermanentFailureThreshold; ++i)
        EXPECT_EQ(Generate(&bad, &health, 64), RngStatus::HealthFailure);
    EXPECT_EQ(Generate(&good, &health, 64), RngStatus::Ok);  // resets the run of failures
    for (int i = 0; i < RngPermanentFailureThreshold; ++i)
        EXPECT_EQ(Generate(&bad, &health, 64), RngStatus::HealthFailure);
    EXPECT_TRUE(health.latched);
    EXPECT_EQ(Generate(&good, &health, 64), RngStatus::Latched);
    EXPECT_EQ(RngOpen(SourceOf(&good), &health), RngStatus::Latched);
}

TEST(RngCore, StartUpTestRunsOncePerProcessUntilItPasses)
{
    Script stuck{Constant};
    RngHealth health;
    EXPECT_EQ(RngOpen(SourceOf(&stuck), &health), RngStatus::HealthFailure);
    EXPECT_FALSE(health.started);
    Script good{Good};
    EXPECT_EQ(RngOpen(SourceOf(&good), &health), RngStatus::Ok);
    const int tries = good.tries;
    EXPECT_GT(tries, RngStartupSamples);
    EXPECT_EQ(RngOpen(SourceOf(&good), &health), RngStatus::Ok);
    EXPECT_EQ(good.tries, tries) << "a second open draws nothing";
    EXPECT_EQ(RngOpen(SourceOf(&good, false), &health), RngStatus::NotFound);
}

TEST(RngCore, ProportionTestSpansChunksAndRequests)
{
    // Bias spread over many small requests is caught as surely as in one large one.
    Script biased{Biased};
    RngHealth health;
    RngStatus last = RngStatus::Ok;
    for (int i = 0; i < 4096 && last == RngStatus::Ok; ++i)
        last = Generate(&biased, &health, 24);
    EXPECT_EQ(last, RngStatus::HealthFailure);
}

}  // namespace
