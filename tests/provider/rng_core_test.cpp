// The provider's generator logic fed by scripted hardware: every known fault is caught
// and leaves no bytes behind, good data passes, retries and latching keep their rules.
#include "rng_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

enum Kind { Good, AllOnes, Constant, Alternating, ZeroSample, RepeatedSamples, Biased, StartupChanges, Cycle, Tagged };

struct Script {
    Kind kind;
    int failFirst = 0;  // the carry flag is clear this many times before every sample
    int level = 0;      // StartupChanges: changes among the first samples; Cycle: its length in bytes
    uint64_t state = 0x9E3779B97F4A7C15u, saved = 0;
    uint32_t counter = 0;
    int tries = 0, pauses = 0;
};

uint32_t Splitmix(Script* s)
{
    uint64_t z = (s->state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return static_cast<uint32_t>(z ^ (z >> 31));
}

bool Step(void* context, uint32_t* out)
{
    Script* s = static_cast<Script*>(context);
    if (s->tries++ % (s->failFirst + 1) < s->failFirst)
        return false;
    const uint32_t i = s->counter++;
    if (s->kind == Cycle && i % (s->level / 4) == 0)  // the first level bytes again and again
        s->state = Script{Good}.state;
    uint32_t good = Splitmix(s), pick = Splitmix(s);
    s->saved = i % 4 ? s->saved : uint64_t{good} << 32 | pick;  // for samples that repeat
    for (int k = 0; s->kind == Biased && k < 32; k += 8)       // about a quarter of the bytes zero
        good &= (pick >> k & 3) ? ~0u : ~(0xFFu << k);
    if (s->kind == StartupChanges && i < RngStartupSamples)  // changes at samples 1 to level, then none
        return *out = 0x13579BDFu + static_cast<uint32_t>(std::min<int>(i, s->level)) * 0x01010101u, true;
    // Tagged: every byte of a step is its tag, 1 to 254 in turn: which step a byte came from shows.
    const uint32_t samples[] = {good, 0xFFFFFFFFu, 0x12345678u, i % 2 ? 0xAAAA5555u : 0x5555AAAAu,
                                i / 2 == 7 ? 0 : good, static_cast<uint32_t>(s->saved >> (i % 2 * 32)), good, good, good,
                                (1 + i % 254) * 0x01010101u};
    return *out = samples[s->kind], true;
}

RngSource Source(Script* s, bool present = true)
{
    return {present, Step, [](void* context) { ++static_cast<Script*>(context)->pauses; }, s};
}

RngStatus Generate(Script* s, RngHealth* health, std::size_t length)
{
    std::vector<uint8_t> buffer(length, 0xCD);
    const RngStatus status = RngGenerate(Source(s), health, buffer.data(), length);
    EXPECT_TRUE(status == RngStatus::Ok || std::vector<uint8_t>(length) == buffer) << "bytes left after a failure";
    return status;
}

TEST(RngCore, EveryKnownFaultIsCaughtAtStartInARequestAndOverManyAndGoodDataPasses)
{
    for (Kind kind : {Good, AllOnes, Constant, Alternating, ZeroSample, RepeatedSamples, Biased}) {
        Script atStart{kind}, inRequest{kind}, spread{kind};
        RngHealth fresh, other, health;
        const RngStatus expected = kind == Good ? RngStatus::Ok : RngStatus::HealthFailure;
        EXPECT_EQ(RngOpen(Source(&atStart), &fresh), expected) << kind;
        EXPECT_EQ(Generate(&inRequest, &other, 64 * 1024), expected) << kind;
        RngStatus last = RngStatus::Ok;
        for (std::size_t length = 1; length < 3000 && last == RngStatus::Ok; length += 7)
            last = Generate(&spread, &health, length);
        EXPECT_EQ(last, expected) << kind;
    }
}

// Each health test at its limit and one step past: the start-up test's count of changes; the
// proportion test in windows filled a little at a time (as 100 values are) and whole, each
// starting with 0xA5 and holding it `level` times; cycles longer than the proportion test sees.
TEST(RngCore, HealthTestsPassAtTheirLimitsAndFailOneStepPast)
{
    for (int changes : {RngStartupChanges, RngStartupChanges - 1}) {
        Script script{StartupChanges, 0, changes};
        RngHealth health;
        EXPECT_EQ(RngOpen(Source(&script), &health) == RngStatus::Ok, changes == RngStartupChanges) << changes;
    }
    for (uint32_t level : {RngAptCutoff - 1, RngAptCutoff})
        for (std::size_t piece : {96, 100, 4096}) {
            std::vector<uint8_t> bytes(64 * RngAptWindow);
            for (std::size_t p = 0, w = 0; p < bytes.size(); w = ++p % RngAptWindow)
                bytes[p] = w % 28 == 0 && w / 28 < level ? 0xA5 : static_cast<uint8_t>(w % 0xA5);
            RngHealth health;
            bool passed = true;
            const RngReference a5 = [](void*, uint8_t* reference) { return *reference = 0xA5, true; };
            for (std::size_t at = 0; at < bytes.size() && passed; at += piece)
                passed = RngProportionPasses(&health, bytes.data() + at, std::min(piece, bytes.size() - at), a5, nullptr);
            EXPECT_EQ(passed, level < RngAptCutoff) << level << " a window, in pieces of " << piece;
        }
    for (int length : {32, 64, 4096}) {
        Script cycle{Cycle, 0, length};
        RngHealth health;
        RngStatus status = RngOpen(Source(&cycle), &health);
        for (std::size_t done = 0; done < 64 * 1024 && status == RngStatus::Ok; done += 100)
            status = Generate(&cycle, &health, 100);
        EXPECT_EQ(status, RngStatus::HealthFailure) << "a cycle of " << length << " bytes";
    }
}

// What the health tests keep from one request to the next holds no byte that was given out,
// within a window of the proportion test and across one.
TEST(RngCore, TheStateKeepsNoByteThatWasServed)
{
    Script tagged{Tagged};
    RngHealth health;
    std::vector<uint8_t> served;
    for (std::size_t length : {100, 100, 700}) {
        std::vector<uint8_t> out(length);
        ASSERT_EQ(RngGenerate(Source(&tagged), &health, out.data(), length), RngStatus::Ok);
        served.insert(served.end(), out.begin(), out.end());
        uint8_t kept[17];
        std::memcpy(kept, &health.previous, 8);
        std::memcpy(kept + 8, &health.reference, 8);
        kept[16] = health.aptReference;
        for (uint8_t byte : kept)
            EXPECT_EQ(std::count(served.begin(), served.end(), byte), 0) << "kept " << int(byte) << " after " << served.size();
    }
}

TEST(RngCore, RetriesTenTimesWithAPauseThenGivesUpAndLatchesAfterFailuresInARow)
{
    Script nine{Good, RngRetryLimit - 1}, ten{Good, RngRetryLimit}, absent{Good}, bad{Constant}, good{Good};
    RngHealth health, other, fresh;
    EXPECT_TRUE(Generate(&nine, &health, 64) == RngStatus::Ok && nine.pauses >= nine.failFirst);
    EXPECT_TRUE(Generate(&ten, &other, 64) == RngStatus::NotReady && ten.pauses == RngRetryLimit);
    EXPECT_TRUE(RngOpen(Source(&absent, false), &health) == RngStatus::NotFound && absent.tries == 0);
    EXPECT_EQ(RngOpen(Source(&bad), &fresh), RngStatus::HealthFailure);
    EXPECT_EQ(RngOpen(Source(&good), &fresh), RngStatus::Ok) << "a success ends the run of failures";
    const int tries = good.tries;
    EXPECT_TRUE(RngOpen(Source(&good), &fresh) == RngStatus::Ok && good.tries == tries) << "one start-up test";
    for (int i = 0; i < RngPermanentFailureThreshold; ++i)
        EXPECT_EQ(Generate(&bad, &fresh, 64), RngStatus::HealthFailure);
    EXPECT_EQ(Generate(&good, &fresh, 64), RngStatus::Latched);
    EXPECT_EQ(RngOpen(Source(&good), &fresh), RngStatus::Latched);
}

}  // namespace
