// Throughput of both APIs on the same generated files, per format, at 1 MiB
// and 32 MiB, with memcpy of the same buffer as the baseline:
//   classic/FORMAT    sub_parse() and sub_result_json(): decode, detect,
//                     parse and render, as a host of the classic API pays
//   document/FORMAT   sub_doc_parse(), every cue's times and lines read
//                     through the accessors, sub_doc_free(); no JSON
// and the classic path over adversarial inputs. After the table a summary
// gives the ratios that matter, measured in this one run: the classic path
// against memcpy, and the document path against the classic one (the target
// for SRT is at least 1.3 times the classic path's MB/s).
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSUBPARSE_BENCH=ON
//   cmake --build build/bench --target subparse_bench && build/bench/bench/subparse_bench
// Google Benchmark's flags apply, e.g. --benchmark_filter='srt|memcpy' or
// --benchmark_repetitions=5 (the summary then uses the medians).
//
// The counting allocator is linked for "peak/input": the most bytes the
// library held at once during one parse, per input byte.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

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

void set_peak(benchmark::State &state, size_t peak, size_t size) {
  state.counters["peak/input"] = static_cast<double>(peak) / static_cast<double>(size);
}

void set_rates(benchmark::State &state, size_t size, int32_t cues) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  state.counters["cues/s"] =
      benchmark::Counter(static_cast<double>(cues), benchmark::Counter::kIsIterationInvariantRate);
}

void classic(benchmark::State &state, Generator gen, int32_t format) {
  const std::string &data = input(gen, static_cast<size_t>(state.range(0)));
  int32_t cues = 0;
  for ([[maybe_unused]] auto _ : state) {
    if (sub_parse(data.data(), data.size(), format, nullptr) != SUB_OK) {
      state.SkipWithError(sub_last_error());
      break;
    }
    cues = sub_cue_count();
    benchmark::DoNotOptimize(sub_result_json());
  }
  set_rates(state, data.size(), cues);
  sub_clear();
  sub_alloc_peak_bytes(true);
  sub_parse(data.data(), data.size(), format, nullptr);
  sub_result_json();
  set_peak(state, sub_alloc_peak_bytes(true), data.size());
  sub_clear();
}

// What a player does with a document: every cue's times and lines.
int64_t walk(const SubDoc *doc) {
  int64_t sum = 0;
  const int32_t count = sub_doc_cue_count(doc);
  for (int32_t i = 0; i < count; ++i) {
    sum += sub_doc_cue_start_ms(doc, i) + sub_doc_cue_end_ms(doc, i);
    const int32_t lines = sub_doc_cue_line_count(doc, i);
    for (int32_t k = 0; k < lines; ++k)
      sum += static_cast<unsigned char>(*sub_doc_cue_line(doc, i, k));
  }
  return sum;
}

void document(benchmark::State &state, Generator gen, int32_t format) {
  const std::string &data = input(gen, static_cast<size_t>(state.range(0)));
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  int32_t cues = 0;
  for ([[maybe_unused]] auto _ : state) {
    SubDoc *doc = nullptr;
    if (sub_doc_parse(data.data(), data.size(), &options, &doc) != SUB_OK) {
      state.SkipWithError(sub_doc_error(doc));
      sub_doc_free(doc);
      break;
    }
    cues = sub_doc_cue_count(doc);
    benchmark::DoNotOptimize(walk(doc));
    sub_doc_free(doc);
  }
  set_rates(state, data.size(), cues);
  sub_alloc_peak_bytes(true);
  SubDoc *doc = nullptr;
  sub_doc_parse(data.data(), data.size(), &options, &doc);
  walk(doc);
  set_peak(state, sub_alloc_peak_bytes(true), data.size());
  sub_doc_free(doc);
}

// Adversarial inputs may rightly yield no cue; only the time counts.
void classic_any(benchmark::State &state, Generator gen, int32_t format) {
  const std::string &data = input(gen, static_cast<size_t>(state.range(0)));
  for ([[maybe_unused]] auto _ : state) {
    benchmark::DoNotOptimize(sub_parse(data.data(), data.size(), format, nullptr));
    benchmark::DoNotOptimize(sub_result_json());
  }
  sub_clear();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
}

void memcpy_baseline(benchmark::State &state) {
  const std::string &data = input(bench::srt, static_cast<size_t>(state.range(0)));
  std::string copy(data.size(), '\0');
  for ([[maybe_unused]] auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
}

constexpr int64_t small = 1 << 20;
constexpr int64_t large = 32 << 20;

// The console table, and then the ratios between the runs of this process:
// MB/s of each run by name (the median when there are repetitions).
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a saved log reads as plain text.
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      const auto rate = run.counters.find("bytes_per_second");
      if (rate == run.counters.end()) continue;
      const std::string name = run.run_name.str();
      if (median || !medians_.count(name)) mb_per_s_[name] = rate->second.value / 1e6;
      if (median) medians_[name] = true;
    }
  }

  void summarize() const {
    static const char *const formats[] = {"srt",   "vtt", "ass",  "microdvd", "subviewer", "ttml",
                                          "ytxml", "lrc", "sami", "bilibili", "acfun"};
    std::printf("\nSummary: MB/s, and ratios within this run\n");
    for (const int64_t size : {small, large}) {
      const std::string arg = "/" + std::to_string(size);
      const double base = get("memcpy_baseline" + arg);
      if (base <= 0) continue;  // filtered out: no ratio to give
      std::printf("input %lld MiB: memcpy %.0f MB/s\n", static_cast<long long>(size >> 20), base);
      std::printf("  %-10s %10s %14s %10s %18s\n", "format", "classic", "memcpy/classic",
                  "document", "document/classic");
      for (const char *format : formats) {
        const double c = get(std::string("classic/") + format + arg);
        const double d = get(std::string("document/") + format + arg);
        if (c <= 0 && d <= 0) continue;
        std::printf("  %-10s %10.1f %13.1fx %10.1f %17.2fx\n", format, c, c > 0 ? base / c : 0.0, d,
                    c > 0 ? d / c : 0.0);
      }
    }
    for (const int64_t size : {small, large}) {
      const std::string arg = "/" + std::to_string(size);
      const double c = get("classic/srt" + arg), d = get("document/srt" + arg);
      if (c <= 0 || d <= 0) continue;
      std::printf(
          "target: SRT %lld MiB, document path %.2fx the classic path (at least 1.30x): %s\n",
          static_cast<long long>(size >> 20), d / c, d / c >= 1.3 ? "met" : "NOT MET");
    }
  }

 private:
  double get(const std::string &name) const {
    const auto it = mb_per_s_.find(name);
    return it == mb_per_s_.end() ? 0.0 : it->second;
  }
  std::map<std::string, double> mb_per_s_;
  std::map<std::string, bool> medians_;
};

}  // namespace

#define SUBPARSE_FORMAT_BENCH(name)                  \
  BENCHMARK_CAPTURE(classic, name, bench::name, -1)  \
      ->Arg(small)                                   \
      ->Arg(large)                                   \
      ->Unit(benchmark::kMillisecond);               \
  BENCHMARK_CAPTURE(document, name, bench::name, -1) \
      ->Arg(small)                                   \
      ->Arg(large)                                   \
      ->Unit(benchmark::kMillisecond)
#define SUBPARSE_ADVERSARIAL_BENCH(name, format)            \
  BENCHMARK_CAPTURE(classic_any, name, bench::name, format) \
      ->Arg(small)                                          \
      ->Arg(16 << 20)                                       \
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
SUBPARSE_ADVERSARIAL_BENCH(microdvd_braces, SUB_FMT_MICRODVD);
SUBPARSE_ADVERSARIAL_BENCH(ttml_unclosed, SUB_FMT_TTML);
SUBPARSE_ADVERSARIAL_BENCH(ytxml_unclosed, SUB_FMT_YTXML);
SUBPARSE_ADVERSARIAL_BENCH(bilibili_unclosed, SUB_FMT_BILIBILI);
SUBPARSE_ADVERSARIAL_BENCH(sami_blocks, SUB_FMT_SAMI);
SUBPARSE_ADVERSARIAL_BENCH(lrc_ties, SUB_FMT_LRC);

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.summarize();
  benchmark::Shutdown();
  return 0;
}
