// engine_bench.cpp - the run's processing steps on a generated 50 MB file,
// in bytes of input per second: masking and rebuild together (into a block
// of the room the rebuild is promised), and each step alone, so that the share
// of every step in a whole run can be read off.
#include "messy.h"
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"
#include "subtitle/scan.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

static const std::string& Input() {
  static const std::string input = MakeMessySubtitles(50UL << 20);
  return input;
}

// The input as masking leaves it, with its count of timing arrows: where
// the rebuild and unmasking start.
struct MaskedInput {
  std::string data;
  unsigned long arrows;
};

static const MaskedInput& Masked() {
  static const MaskedInput masked = [] {
    MaskedInput result = {Input(), 0};
    ConvertChar(&result.data[0], result.data.size(), kPlaceholder,
                result.arrows);
    return result;
  }();
  return masked;
}

// Times step on a fresh copy of start in every round; the copy is not
// timed. Throughput counts the bytes of start.
template <typename Step>
static void TimeStep(benchmark::State& state, const std::string& start,
                     Step step) {
  std::string data;
  for (auto _ : state) {
    data = start;
    auto begin = std::chrono::steady_clock::now();
    step(data);
    std::chrono::duration<double> spent =
        std::chrono::steady_clock::now() - begin;
    state.SetIterationTime(spent.count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(start.size()));
}

// The rebuild's output block, as the run gives it: room for the data and
// what each of its arrows may add.
static std::vector<char>& OutputBlock() {
  static std::vector<char> block(Input().size() +
                                 Masked().arrows * kEntryAddsAtMost);
  return block;
}

static void MaskAndRebuild(benchmark::State& state) {
  std::vector<char>& out = OutputBlock();
  TimeStep(state, Input(), [&out](std::string& data) {
    unsigned long arrows = 0, written = 0;
    ConvertChar(&data[0], data.size(), kPlaceholder, arrows);
    RebuildSRT(&data[0], data.size(), 1, arrows, out.data(), written);
    benchmark::DoNotOptimize(written);
  });
}

static void PlaceholderCheck(benchmark::State& state) {
  TimeStep(state, Input(), [](std::string& data) {
    char* found = FindNextByte(&data[0], data.size(), kPlaceholder, false);
    benchmark::DoNotOptimize(found);
  });
}

static void LineCheck(benchmark::State& state) {
  TimeStep(state, Input(), [](std::string& data) {
    unsigned long line = 0;
    LineFault fault = CheckTimingLines(data.data(), data.size(), line);
    benchmark::DoNotOptimize(fault);
  });
}

static void Mask(benchmark::State& state) {
  TimeStep(state, Input(), [](std::string& data) {
    unsigned long arrows = 0;
    ConvertChar(&data[0], data.size(), kPlaceholder, arrows);
    benchmark::DoNotOptimize(arrows);
  });
}

static void Rebuild(benchmark::State& state) {
  std::vector<char>& out = OutputBlock();
  unsigned long arrows = Masked().arrows;
  TimeStep(state, Masked().data, [&out, arrows](std::string& data) {
    unsigned long written = 0;
    RebuildSRT(&data[0], data.size(), 1, arrows, out.data(), written);
    benchmark::DoNotOptimize(written);
  });
}

static void Unmask(benchmark::State& state) {
  TimeStep(state, Masked().data, [](std::string& data) {
    unsigned long replaced =
        ReplaceBytes(&data[0], data.size(), kPlaceholder, kArrow);
    benchmark::DoNotOptimize(replaced);
  });
}

BENCHMARK(MaskAndRebuild)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(2.0);
BENCHMARK(PlaceholderCheck)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(LineCheck)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(Mask)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(Rebuild)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(Unmask)->Unit(benchmark::kMillisecond)->UseManualTime();

BENCHMARK_MAIN();
