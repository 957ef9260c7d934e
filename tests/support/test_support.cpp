#include "test_support.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace subtest {

std::string repeat(std::string_view s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

int run_command(const std::string &command, std::string *out, std::string *err) {
  static int serial = 0;
  const std::string err_path = ::testing::TempDir() + "subparse_stderr_" +
                               std::to_string(getpid()) + "_" + std::to_string(++serial) + ".txt";
  FILE *pipe = popen((command + " 2>" + err_path).c_str(), "r");
  if (!pipe) return -1;
  std::string captured;
  char buf[4096];
  size_t got = 0;
  while ((got = fread(buf, 1, sizeof buf, pipe)) > 0) captured.append(buf, got);
  const int status = pclose(pipe);
  if (out) *out = captured;
  if (err) *err = read_file(err_path);
  std::remove(err_path.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<CueView> current_cues() {
  std::vector<CueView> cues;
  for (int32_t i = 0; i < sub_cue_count(); ++i) {
    CueView cue{sub_cue_start_ms(i), sub_cue_end_ms(i), {}};
    for (int32_t k = 0; k < sub_cue_line_count(i); ++k) {
      const char *line = sub_cue_line(i, k);
      cue.lines.emplace_back(line ? line : "<null>");
    }
    cues.push_back(std::move(cue));
  }
  return cues;
}

std::string show(const std::vector<CueView> &cues) {
  std::string out;
  for (const CueView &cue : cues) {
    out += '{' + std::to_string(cue.start) + ',' + std::to_string(cue.end) + ',';
    for (const std::string &line : cue.lines) {
      if (line.size() > 80) {
        out += std::to_string(line.size()) + " bytes of " +
               testing::PrintToString(line.substr(0, 8)) + ".." +
               testing::PrintToString(line.substr(line.size() - 8));
      } else {
        out += testing::PrintToString(line);
      }
    }
    out += "}\n";
  }
  return out;
}

testing::AssertionResult cues_are(const std::vector<CueView> &want) {
  const std::vector<CueView> got = current_cues();
  if (got == want) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "the cues differ\n  got:\n"
                                     << show(got) << "  want:\n"
                                     << show(want);
}

std::vector<Danmaku> current_danmaku() {
  std::vector<Danmaku> out;
  for (int32_t i = 0; i < sub_cue_count(); ++i) {
    EXPECT_EQ(sub_cue_is_danmu(i), 1) << "cue " << i;
    Danmaku d{sub_cue_start_ms(i),   sub_cue_end_ms(i),      {},
              sub_cue_danmu_mode(i), sub_cue_danmu_color(i), sub_cue_danmu_fontsize(i)};
    for (int32_t k = 0; k < sub_cue_line_count(i); ++k) {
      const char *line = sub_cue_line(i, k);
      d.lines.emplace_back(line ? line : "<null>");
    }
    out.push_back(std::move(d));
  }
  return out;
}

void expect_danmaku(const std::vector<Danmaku> &got, const std::vector<Danmaku> &want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("cue " + std::to_string(i));
    EXPECT_EQ(got[i].start, want[i].start);
    EXPECT_EQ(got[i].end, want[i].end);
    EXPECT_EQ(got[i].lines, want[i].lines);
    EXPECT_EQ(got[i].mode, want[i].mode);
    EXPECT_EQ(got[i].color, want[i].color);
    if (std::isnan(want[i].fontsize)) {
      EXPECT_TRUE(std::isnan(got[i].fontsize)) << got[i].fontsize;
    } else {
      EXPECT_EQ(got[i].fontsize, want[i].fontsize);
    }
  }
}

std::vector<std::string> current_warnings() {
  std::vector<std::string> out;
  for (int32_t i = 0; i < sub_warning_count(); ++i) {
    const char *warning = sub_warning(i);
    out.emplace_back(warning ? warning : "<null>");
  }
  return out;
}

testing::AssertionResult parse_left(int rc, int want_rc, std::string_view error, int32_t format,
                                    const std::vector<CueView> &cues) {
  testing::AssertionResult result = testing::AssertionSuccess();
  const auto fail = [&]() -> testing::AssertionResult & {
    if (result) result = testing::AssertionFailure();
    return result;
  };
  if (rc != want_rc) fail() << "code " << rc << ", want " << want_rc << '\n';
  const std::string_view got_error = sub_last_error() ? sub_last_error() : "<null>";
  if (got_error != error) {
    fail() << "error " << testing::PrintToString(std::string(got_error)) << ", want "
           << testing::PrintToString(std::string(error)) << '\n';
  }
  const int32_t want_format = want_rc == 0 ? format : -1;
  if (sub_detected_format() != want_format)
    fail() << "detected format " << sub_detected_format() << ", want " << want_format << '\n';
  if (testing::AssertionResult same = cues_are(cues); !same) fail() << same.message() << '\n';
  return result;
}

testing::AssertionResult json_fits(int rc, int32_t format) {
  const std::string json = sub_result_json();
  const std::string want =
      rc ? "{}" : std::string(R"({"format":")") + sub_format_name(format) + R"(","cues":[)";
  if (rc ? json == want : json.rfind(want, 0) == 0) return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "JSON " << json << (rc ? " is not " : " does not start with ") << want;
}

int decode_and_parse(SubParserFn parser, const std::string &input) {
  SubDoc *doc = sub_classic_doc();
  sub_doc_reset(doc);
  if (sub_decode_to_utf8(doc, input.data(), input.size(), nullptr) != 0) return -1;
  return parser(doc, doc->text, doc->text_len);
}

testing::AssertionResult direct_and_through(SubParserFn parser, int32_t format,
                                            const std::string &input, int want_rc,
                                            std::string_view error,
                                            const std::vector<CueView> &cues) {
  testing::AssertionResult direct =
      parse_left(decode_and_parse(parser, input), want_rc, error, format, cues);
  testing::AssertionResult through = parse_left(
      sub_parse(input.data(), input.size(), format, nullptr), want_rc, error, format, cues);
  testing::AssertionResult json = json_fits(want_rc, format);
  if (direct && through && json) return testing::AssertionSuccess();
  testing::AssertionResult result = testing::AssertionFailure();
  if (!direct) result << "parser called directly:\n" << direct.message();
  if (!through) result << "through sub_parse:\n" << through.message();
  if (!json) result << json.message();
  return result;
}

std::string run_on_stack(size_t stack_bytes, const std::function<std::string()> &run) {
  struct Job {
    const std::function<std::string()> *run;
    std::string result;
  } job{&run, {}};
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return "thread not started";
  pthread_t thread;
  const bool started =
      pthread_attr_setstacksize(&attr, stack_bytes) == 0 && pthread_create(
                                                                &thread, &attr,
                                                                [](void *arg) -> void * {
                                                                  auto *j = static_cast<Job *>(arg);
                                                                  j->result = (*j->run)();
                                                                  return nullptr;
                                                                },
                                                                &job) == 0;
  pthread_attr_destroy(&attr);
  if (!started || pthread_join(thread, nullptr) != 0) return "thread not started";
  return job.result;
}

double seconds_to_run(const std::function<void()> &run) {
  const auto begin = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

testing::AssertionResult parses_within(const std::string &input, int32_t format, int want_rc,
                                       double seconds) {
  int rc = 0;
  const double took =
      seconds_to_run([&] { rc = sub_parse(input.data(), input.size(), format, nullptr); });
  if (rc == want_rc && took < seconds) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "code " << rc << " (want " << want_rc << ") after " << took
                                     << " s (limit " << seconds << " s)";
}

uint64_t for_each_allocation_failure(const std::function<void()> &run,
                                     const std::function<void(uint64_t n)> &check) {
  sub_clear();
  const int64_t live_before = sub_alloc_live();
  sub_alloc_fail_at(0, false);
  run();
  const uint64_t total = sub_alloc_attempts();
  sub_clear();
  EXPECT_EQ(sub_alloc_live(), live_before) << "clean run leaked";
  for (uint64_t n = 1; n <= total; ++n) {
    sub_alloc_fail_at(n, false);
    run();
    sub_alloc_fail_at(0, false);
    check(n);
    sub_clear();
    EXPECT_EQ(sub_alloc_live(), live_before) << "leak when allocation " << n << " failed";
  }
  return total;
}

uint64_t parse_under_allocation_failures(const std::function<int()> &parse,
                                         const std::vector<int> &codes, int32_t format,
                                         const std::function<void(int rc)> &check) {
  int rc = 0;
  return for_each_allocation_failure(
      [&] { rc = parse(); },
      [&](uint64_t n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        if (std::find(codes.begin(), codes.end(), rc) == codes.end()) {
          ADD_FAILURE() << "code " << rc;
          return;
        }
        if (rc == 0) {
          EXPECT_EQ(sub_detected_format(), format);
        }
        if (check) check(rc);
      });
}

int CorpusCounts::detected_total() const {
  int total = 0;
  for (const auto &[name, count] : detected) total += count;
  return total;
}

std::optional<CorpusCounts> run_corpus(const std::string &folder,
                                       const std::vector<std::string> &extensions, int32_t format) {
  const std::filesystem::path dir =
      std::filesystem::path(SUBPARSE_SOURCE_DIR "/../shared/corpus") / folder;
  if (!std::filesystem::is_directory(dir)) return std::nullopt;
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    const std::string ext = entry.path().extension().string();
    if (entry.is_regular_file() &&
        (extensions.empty() ||
         std::find(extensions.begin(), extensions.end(), ext) != extensions.end()))
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  CorpusCounts counts;
  counts.files = files.size();
  for (const auto &path : files) {
    SCOPED_TRACE(path.filename().string());
    const std::string data = read_file(path.string());
    if (sub_parse(data.data(), data.size(), SUB_FMT_AUTO, nullptr) == SUB_OK)
      ++counts.detected[sub_format_name(sub_detected_format())];
    if (sub_parse(data.data(), data.size(), format, nullptr) == SUB_OK) {
      ++counts.own[sub_format_name(sub_detected_format())];
      EXPECT_GT(sub_cue_count(), 0);
    } else {
      ++counts.own_failures[sub_last_error()];
    }
  }
  sub_clear();
  const auto print = [](const Tally &tally, bool quoted) {
    for (const auto &[name, count] : tally)
      std::cout << ' ' << (quoted ? testing::PrintToString(name) : name) << '=' << count;
  };
  std::cout << folder << " corpus: " << counts.files << " files; detection:";
  print(counts.detected, false);
  std::cout << "; format " << format << ':';
  print(counts.own, false);
  if (!counts.own_failures.empty()) {
    std::cout << "; rejected as format " << format << ':';
    print(counts.own_failures, true);
  }
  std::cout << '\n';
  return counts;
}

}  // namespace subtest
