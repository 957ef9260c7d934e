// Throughput of both APIs on the same generated files, per format, at 1 MiB
// and 32 MiB, with memcpy of the same buffer as the baseline:
//   classic/FORMAT    sub_parse() and sub_result_json(): decode, detect,
//                     parse and render, as a host of the classic API pays
//   document/FORMAT   sub_doc_parse(), every cue's times and lines read
//                     through the accessors, sub_doc_free(); no JSON
// and the classic path over adversarial inputs, and the cost of detecting the
// encoding ("auto"), through the document API on 1 MiB SRT files:
//   encoding/LEGACY_named  a CP1251 (Cyrillic) or GB18030 (Chinese) file with
//   encoding/LEGACY_auto   its encoding named, and the same file detected
//   encoding/utf8_null     valid UTF-8 under the fixed rule (NULL), and the
//   encoding/utf8_auto     same file detected
// and writing, on the 32 MiB SRT file:
//   write/FORMAT           sub_doc_write() of the parsed document, in MB/s of
//                          output (target: at least the parse's MB/s of input)
//   convert/subparse_cli   the command line converting the file to WebVTT,
//   convert/ffmpeg         and the ffmpeg command doing the same, when it is
//                          installed (target: ours at least 10 times faster)
//   write/ass_danmaku      the danmaku layout and ASS writing of the 32 MiB
//                          Bilibili file, in MB/s of its input (target: at
//                          most twice the time of its parse)
// After the table a summary gives the ratios that matter, measured in this
// one run: the classic path against memcpy, the document path against the
// classic one (the target for SRT is at least 1.3 times the classic path's
// MB/s), and what "auto" adds to a parse (targets: at most 10% on the legacy
// files, nothing measurable, taken as under 3%, on UTF-8).
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSUBPARSE_BENCH=ON
//   cmake --build build/bench --target subparse_bench && build/bench/bench/subparse_bench
// Google Benchmark's flags apply, e.g. --benchmark_filter='srt|memcpy',
// --benchmark_filter=encoding or --benchmark_repetitions=5 (the summary then
// uses the medians).
//
// The counting allocator is linked for "peak/input": the most bytes the
// library held at once during one parse, per input byte.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <cstdio>
#include <cstdlib>
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

// sub_doc_parse with `options` on every iteration, every cue walked, then
// the peak memory of one more parse. A parse that fails, or that does not
// read the bytes as `expect` (when given), stops the benchmark: a wrong guess
// would measure the wrong thing.
void run_document(benchmark::State &state, const std::string &data, const SubParseOptions &options,
                  const char *expect = nullptr) {
  int32_t cues = 0;
  for ([[maybe_unused]] auto _ : state) {
    SubDoc *doc = nullptr;
    if (sub_doc_parse(data.data(), data.size(), &options, &doc) != SUB_OK ||
        (expect && std::strcmp(sub_doc_encoding(doc), expect) != 0)) {
      const std::string why = std::string(sub_doc_error(doc)) + " (decoded as " +
                              sub_doc_encoding(doc) + ", not " + (expect ? expect : "-") + ")";
      state.SkipWithError(why.c_str());
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

void document(benchmark::State &state, Generator gen, int32_t format) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  run_document(state, input(gen, static_cast<size_t>(state.range(0))), options);
}

// `utf8` in `charset`, by iconv; the benchmark stops when it cannot be.
std::string encode(const std::string &utf8, const char *charset) {
  iconv_t cd = iconv_open(charset, "UTF-8");
  std::string in = utf8, out(utf8.size() * 2 + 16, '\0');
  char *src = in.data();
  char *dst = out.data();
  size_t src_left = in.size(), dst_left = out.size();
  if (cd == reinterpret_cast<iconv_t>(-1) ||
      iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) {
    std::fprintf(stderr, "subparse_bench: cannot write the text in %s\n", charset);
    std::exit(1);
  }
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

// An SRT file of `size` bytes (and the rest of its last cue) in `charset`,
// laid out as bench::srt, its dialogue in one script: what a legacy-encoded
// subtitle file holds. `words` are UTF-8; `space` joins them.
std::string legacy_srt(size_t size, const char *charset, const std::vector<const char *> &words,
                       const char *space) {
  bench::Rng rng;
  std::string out;
  out.reserve(size + 256);
  const auto line = [&] {
    std::string text;
    const uint32_t n = 3 + rng.below(8);
    for (uint32_t i = 0; i < n; ++i) {
      if (i) text += space;
      text += words[rng.below(static_cast<uint32_t>(words.size()))];
    }
    if (rng.below(8) == 0) text = "<i>" + text + "</i>";
    return text + "\r\n";
  };
  uint32_t t = 1000;
  for (uint32_t i = 1; out.size() < size; ++i) {
    const uint32_t dur = 800 + rng.below(4000);
    std::string cue = std::to_string(i);
    cue.append("\r\n").append(bench::clock(t, ',')).append(" --> ");
    cue.append(bench::clock(t + dur, ',')).append("\r\n").append(line());
    if (rng.below(2)) cue += line();
    cue += "\r\n";
    out += encode(cue, charset);
    t += dur + rng.below(1500);
  }
  return out;
}

std::string srt_cp1251(size_t size) {
  return legacy_srt(size, "CP1251", {"ночь", "ещё",     "молода",  "и",       "у",      "нас",
                                     "есть", "время",   "привет",  "как",     "дела",   "сегодня",
                                     "всё",  "хорошо,", "спасибо", "правда?", "ладно,", "послушай",
                                     "меня", "сейчас",  "пойдём",  "домой."},
                    " ");
}

std::string srt_gb18030(size_t size) {
  return legacy_srt(size, "GB18030",
                    {"夜", "还", "年轻", "我们", "有", "时间", "你好，", "今天", "过得", "怎么样？",
                     "我很好，", "谢谢你。", "真的吗？", "好吧，", "听我说", "现在", "回家吧。"},
                    "");
}

// sub_doc_parse with an encoding (nullptr: NULL, the fixed rule), which must
// read the bytes as `expect`.
void encoding(benchmark::State &state, Generator gen, const char *name, const char *expect) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.encoding = name;
  run_document(state, input(gen, static_cast<size_t>(state.range(0))), options, expect);
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

// sub_doc_write() of the parsed 32 MiB document of `gen` in `format`; the
// rate is the output's bytes, or for danmaku the input's: their layout is
// measured against their parse.
void write_doc(benchmark::State &state, Generator gen, int32_t format) {
  const std::string &data = input(gen, static_cast<size_t>(large));
  SubDoc *doc = nullptr;
  if (sub_doc_parse(data.data(), data.size(), nullptr, &doc) != SUB_OK) {
    state.SkipWithError(sub_doc_error(doc));
    sub_doc_free(doc);
    return;
  }
  size_t written = 0;
  for ([[maybe_unused]] auto _ : state) {
    char *text = nullptr;
    if (sub_doc_write(doc, format, nullptr, &text, &written) != SUB_OK) {
      state.SkipWithError("sub_doc_write failed");
      break;
    }
    sub_text_free(text);
  }
  const size_t measured = gen == bench::bilibili ? data.size() : written;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(measured));
  sub_doc_free(doc);
}

// The 32 MiB SRT file on disk, for the command-line conversions.
const std::string &srt_file() {
  static std::string path;
  if (path.empty()) {
    char name[] = "/tmp/subparse_bench_XXXXXX.srt";
    const int fd = mkstemps(name, 4);
    const std::string &data = input(bench::srt, static_cast<size_t>(large));
    if (fd < 0 || write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
      std::fprintf(stderr, "subparse_bench: cannot write %s\n", name);
      std::exit(1);
    }
    close(fd);
    path = name;
    std::atexit([] { unlink(path.c_str()); });
  }
  return path;
}

// Runs `command` through the shell once per iteration, timed by the wall
// clock; the rate is the input file's bytes. A command that fails stops it.
void convert(benchmark::State &state, const std::string &command) {
  const std::string &path = srt_file();
  for ([[maybe_unused]] auto _ : state) {
    const auto from = std::chrono::steady_clock::now();
    const int status = std::system((command + " " + path + " 2>/dev/null").c_str());
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count());
    if (status != 0) {
      state.SkipWithError(("failed: " + command).c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * large);
}

void convert_cli(benchmark::State &state) {
  convert(state,
          "f() { " SUBPARSE_BENCH_CLI " --to vtt -o /tmp/subparse_bench_cli.vtt \"$1\"; }; f");
  unlink("/tmp/subparse_bench_cli.vtt");
}

void convert_ffmpeg(benchmark::State &state) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
    state.SkipWithError("ffmpeg is not installed (apt-get install ffmpeg)");
    return;
  }
  convert(state,
          "f() { ffmpeg -loglevel error -y -i \"$1\" -f webvtt /tmp/subparse_bench_ff.vtt; }; f");
  unlink("/tmp/subparse_bench_ff.vtt");
}

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
    summarize_encodings();
    summarize_writing();
  }

  // Writing against parsing, and our conversion against ffmpeg's.
  void summarize_writing() const {
    const std::string arg = "/" + std::to_string(large);
    const double parse = get("document/srt" + arg);
    for (const char *format : {"srt", "vtt"}) {
      const double out = get(std::string("write/") + format);
      if (parse <= 0 || out <= 0) continue;
      std::printf(
          "target: writing %s from the 32 MiB SRT document %.1f MB/s of output, %.2fx the "
          "parse's %.1f MB/s of input (at least 1x): %s\n",
          format, out, out / parse, parse, out >= parse ? "met" : "NOT MET");
    }
    const double parse_danmaku = get("document/bilibili" + arg);
    const double layout = get("write/ass_danmaku");
    if (parse_danmaku > 0 && layout > 0)
      std::printf(
          "target: laying out the 32 MiB Bilibili file as ASS takes %.2fx the time of its parse "
          "(at most 2x): %s\n",
          parse_danmaku / layout, parse_danmaku / layout <= 2 ? "met" : "NOT MET");
    const double cli = get("convert/subparse_cli/iterations:3/manual_time");
    const double ffmpeg = get("convert/ffmpeg/iterations:1/manual_time");
    if (cli > 0 && ffmpeg > 0)
      std::printf(
          "target: converting the 32 MiB SRT file to WebVTT, subparse CLI %.1f MB/s, ffmpeg "
          "%.1f MB/s: %.1fx faster (at least 10x): %s\n",
          cli, ffmpeg, cli / ffmpeg, cli / ffmpeg >= 10 ? "met" : "NOT MET");
  }

  // What "auto" adds to the time of a parse: the same file with its
  // encoding named (or, for UTF-8, under the fixed rule of NULL).
  void summarize_encodings() const {
    struct Pair {
      const char *file, *base_label, *base, *autodetect;
      double limit;  // the most "auto" may add, as a fraction of the time
    };
    static const Pair pairs[] = {
        {"CP1251 SRT", "named", "encoding/cp1251_named", "encoding/cp1251_auto", 0.10},
        {"GB18030 SRT", "named", "encoding/gb18030_named", "encoding/gb18030_auto", 0.10},
        {"UTF-8 SRT", "NULL", "encoding/utf8_null", "encoding/utf8_auto", 0.03},
    };
    const std::string arg = "/" + std::to_string(small);
    bool header = false;
    for (const Pair &pair : pairs) {
      const double base = get(pair.base + arg), detected = get(pair.autodetect + arg);
      if (base <= 0 || detected <= 0) continue;
      if (!header) {
        std::printf(
            "\nEncoding \"auto\" against the encoding named (or NULL), 1 MiB, "
            "document API, MB/s\n");
        std::printf("  %-12s %-7s %10s %10s %10s\n", "file", "without", "MB/s", "auto MB/s",
                    "auto adds");
        header = true;
      }
      const double added = base / detected - 1.0;  // time with auto / time without, less 1
      std::printf("  %-12s %-7s %10.1f %10.1f %+9.1f%%  (target at most %.0f%%): %s\n", pair.file,
                  pair.base_label, base, detected, added * 100.0, pair.limit * 100.0,
                  added <= pair.limit ? "met" : "NOT MET");
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
BENCHMARK_CAPTURE(write_doc, srt, bench::srt, SUB_FMT_SRT)
    ->Name("write/srt")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(write_doc, vtt, bench::srt, SUB_FMT_VTT)
    ->Name("write/vtt")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(write_doc, ass_danmaku, bench::bilibili, SUB_FMT_ASS)
    ->Name("write/ass_danmaku")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(convert_cli)
    ->Name("convert/subparse_cli")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(convert_ffmpeg)
    ->Name("convert/ffmpeg")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encoding, cp1251_named, srt_cp1251, "cp1251", "CP1251")
    ->Arg(small)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encoding, cp1251_auto, srt_cp1251, "auto", "CP1251")
    ->Arg(small)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encoding, gb18030_named, srt_gb18030, "gb18030", "GB18030")
    ->Arg(small)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encoding, gb18030_auto, srt_gb18030, "auto", "GB18030")
    ->Arg(small)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encoding, utf8_null, bench::srt, nullptr, "UTF-8")
    ->Arg(small)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encoding, utf8_auto, bench::srt, "auto", "UTF-8")
    ->Arg(small)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.summarize();
  benchmark::Shutdown();
  return 0;
}
