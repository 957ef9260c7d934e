#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace subtest {

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

}  // namespace subtest
