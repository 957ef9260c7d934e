// Throughput of a whole sub_parse (decode, detect, parse, JSON) per format,
// at 1 MiB and 32 MiB, with memcpy of the same buffer as the baseline.
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target subparse_bench && build/bench/bench/subparse_bench
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>

#include "bench_corpus.h"
#include "subparse.h"

namespace {

using Generator = std::string (*)(size_t);

const std::string &input(Generator gen, size_t size) {
  static std::map<std::pair<Generator, size_t>, std::string> cache;
  auto it = cache.find({gen, size});
  if (it == cache.end()) it = cache.emplace(std::make_pair(gen, size), gen(size)).first;
  return it->second;
}

void parse(benchmark::State &state, Generator gen, int32_t format) {
  const std::string &data = input(gen, static_cast<size_t>(state.range(0)));
  int32_t cues = 0;
  for (auto _ : state) {
    if (sub_parse(data.data(), data.size(), format, nullptr) != 0) {
      state.SkipWithError(sub_last_error());
      break;
    }
    cues = sub_cue_count();
    benchmark::DoNotOptimize(sub_result_json());
  }
  sub_clear();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["cues/s"] =
      benchmark::Counter(static_cast<double>(cues), benchmark::Counter::kIsIterationInvariantRate);
}

void memcpy_baseline(benchmark::State &state) {
  const std::string &data = input(bench::srt, static_cast<size_t>(state.range(0)));
  std::string copy(data.size(), '\0');
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

constexpr int64_t small = 1 << 20;
constexpr int64_t large = 32 << 20;

}  // namespace

BENCHMARK(memcpy_baseline)->Arg(small)->Arg(large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, srt, bench::srt, -1)->Arg(small)->Arg(large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, vtt, bench::vtt, -1)->Arg(small)->Arg(large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, ass, bench::ass, -1)->Arg(small)->Arg(large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, microdvd, bench::microdvd, -1)
    ->Arg(small)->Arg(large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, subviewer, bench::subviewer, -1)
    ->Arg(small)->Arg(large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, microdvd_braces, bench::microdvd_braces, 3)
    ->Arg(small)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
