// Helpers shared by the test suites.
#ifndef SUBPARSE_TEST_SUPPORT_H
#define SUBPARSE_TEST_SUPPORT_H

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sub_internal.h"

namespace subtest {

// The bytes of a test input as a std::string (may hold NULs).
inline std::string bytes(std::string_view s) { return std::string(s); }

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string &path);

// Runs a command through the shell; returns its exit status and fills the
// captured standard output and standard error.
int run_command(const std::string &command, std::string *out, std::string *err);

// One cue as the accessors report it.
struct CueView {
  int32_t start;
  int32_t end;
  std::vector<std::string> lines;
  bool operator==(const CueView &) const = default;
};
std::vector<CueView> current_cues();

// Runs `run` once with no failure to count its allocations, then once per
// allocation failing exactly that one, calling `check(n)` after each failing
// run, then sub_clear(); a run that leaves a block allocated fails the test.
// Returns the number of allocations of the clean run.
uint64_t for_each_allocation_failure(const std::function<void()> &run,
                                     const std::function<void(uint64_t n)> &check);

}  // namespace subtest

#endif
