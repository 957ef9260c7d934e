// Throughput of a whole sub_parse (decode, detect, parse, JSON) per format,
// at 1 MiB and 32 MiB, with memcpy of the same buffer as the baseline.
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target subparse_bench && build/bench/bench/subparse_bench
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>

#include "bench_corpus.h"
#include "fault_alloc.h"
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
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  // The library's own memory at its peak during one parse, per input byte.
  sub_clear();
  sub_alloc_peak_bytes(true);
  sub_parse(data.data(), data.size(), format, nullptr);
  sub_result_json();
  state.counters["peak/input"] =
      static_cast<double>(sub_alloc_peak_bytes(true)) / static_cast<double>(data.size());
  sub_clear();
  state.counters["cues/s"] =
      benchmark::Counter(static_cast<double>(cues), benchmark::Counter::kIsIterationInvariantRate);
}

// Adversarial inputs may rightly yield no cue; only the time counts.
void parse_any(benchmark::State &state, Generator gen, int32_t format) {
  const std::string &data = input(gen, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(sub_parse(data.data(), data.size(), format, nullptr));
    benchmark::DoNotOptimize(sub_result_json());
  }
  sub_clear();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
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

#define SUBPARSE_FORMAT_BENCH(name)               \
  BENCHMARK_CAPTURE(parse, name, bench::name, -1) \
      ->Arg(small)                                \
      ->Arg(large)                                \
      ->Unit(benchmark::kMillisecond)
#define SUBPARSE_ADVERSARIAL_BENCH(name, format)          \
  BENCHMARK_CAPTURE(parse_any, name, bench::name, format) \
      ->Arg(small)                                        \
      ->Arg(16 << 20)                                     \
      ->Unit(benchmark::kMillisecond)

BENCHMARK(memcpy_baseline)->Arg(small)->Arg(large)->Unit(benchmark::kMillisecond);
SUBPARSE_FORMAT_BENCH(srt);
SUBPARSE_FORMAT_BENCH(vtt);
SUBPARSE_FORMAT_BENCH(ass);
SUBPARSE_FORMAT_BENCH(microdvd);
SUBPARSE_FORMAT_BENCH(subviewer);
SUBPARSE_FORMAT_BENCH(ttml);
SUBPARSE_FORMAT_BENCH(ytxml);
SUBPARSE_FORMAT_BENCH(lrc);
SUBPARSE_FORMAT_BENCH(sami);
SUBPARSE_FORMAT_BENCH(bilibili);
SUBPARSE_FORMAT_BENCH(acfun);
SUBPARSE_ADVERSARIAL_BENCH(microdvd_braces, 3);
SUBPARSE_ADVERSARIAL_BENCH(ttml_unclosed, 5);
SUBPARSE_ADVERSARIAL_BENCH(ytxml_unclosed, 6);
SUBPARSE_ADVERSARIAL_BENCH(bilibili_unclosed, 9);
SUBPARSE_ADVERSARIAL_BENCH(sami_blocks, 8);
SUBPARSE_ADVERSARIAL_BENCH(lrc_ties, 7);

BENCHMARK_MAIN();
