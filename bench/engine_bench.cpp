// engine_bench.cpp - masking and rebuild of a generated 50 MB file, written
// to the null device, in bytes of input per second.
#include "messy.h"
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <stdio.h>
#include <string>

static void MaskAndRebuild(benchmark::State& state) {
  const std::string input = MakeMessySubtitles(50UL << 20);
  std::string data;
  FILE* sink = fopen("/dev/null", "wb");
  for (auto _ : state) {
    data = input; // masking changes the data: every round starts afresh
    auto start = std::chrono::steady_clock::now();
    unsigned long arrows = 0;
    ConvertChar(&data[0], data.size(), '\xD0', arrows);
    RebuildSRT(&data[0], data.size(), 1, arrows, sink);
    std::chrono::duration<double> spent =
        std::chrono::steady_clock::now() - start;
    state.SetIterationTime(spent.count());
  }
  fclose(sink);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size()));
}
BENCHMARK(MaskAndRebuild)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(2.0);

BENCHMARK_MAIN();
