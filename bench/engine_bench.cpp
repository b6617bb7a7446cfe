// Text building speed over ten million values, in values per second.
#include "output_text.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int32_t Values = 10000000;

void BuildText(benchmark::State& state, int32_t base, int32_t maximum, const char* delimiter)
{
    GenerationSettings s;
    s.count = Values;
    s.minimum = 0;
    s.maximum = maximum;
    s.base = base;
    SetDelimiter(s, delimiter);
    RandomBlock block;
    OutputText text;
    if (!ReserveRunBuffers(s, &block, &text)) {
        state.SkipWithError("could not reserve the buffers");
        return;
    }
    uint32_t x = 2463534242u;  // xorshift: bytes that look random to the branch predictor
    for (int32_t i = 0; i < Values; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        block.bytes[i] = static_cast<uint8_t>(x);
    }
    for (auto _ : state) {
        BuildOutputText(s, block, &text);
        benchmark::DoNotOptimize(text.text[text.length / 2]);
    }
    state.SetItemsProcessed(state.iterations() * Values);
    state.counters["MB"] = static_cast<double>(text.length) / 1e6;
}

}  // namespace

BENCHMARK_CAPTURE(BuildText, base10_0to255_no_delimiter, 10, 255, "")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BuildText, base10_0to10_no_delimiter, 10, 10, "")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BuildText, base16_comma, 16, 255, ",")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BuildText, base2_nine_char_delimiter, 2, 255, "123456789")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
