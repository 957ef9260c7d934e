// Helpers shared by the test suites.
#ifndef SUBPARSE_TEST_SUPPORT_H
#define SUBPARSE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fault_alloc.h"
#include "sub_engine.h"
#include "sub_parser.h"
#include "sub_parsers_rich/xml_scan.h"
#include "sub_parsers_text/block_walk.h"
#include "sub_util/decode.h"
#include "sub_util/json.h"

namespace subtest {

// Appends a copy of the NUL-terminated `line` ("" for null) to cue `cue` of
// the classic document; 0, or -1 as sub_cue_add_line answers.
inline int add_line(int32_t cue, const char *line) {
  return sub_cue_add_line(sub_classic_doc(), cue, line, line ? std::strlen(line) : 0);
}

// A copy of the format table whose parsers a test may replace; parse() runs
// a classic parse (into the classic document) with it.
struct FormatTable {
  SubFormatDesc formats[SUB_FMT_COUNT];
  FormatTable() { std::copy(std::begin(sub_formats), std::end(sub_formats), formats); }
  int32_t parse(const std::string &data, int32_t format, const char *encoding = nullptr) const {
    return sub_classic_parse(formats, data.data(), data.size(), format, encoding);
  }
};

// The bytes of a test input as a std::string (may hold NULs).
inline std::string bytes(std::string_view s) { return std::string(s); }

// `s` written `n` times in a row.
std::string repeat(std::string_view s, size_t n);

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

// One line per cue, for failure messages; a line longer than 80 bytes
// shows as its size with its first and last 8 bytes.
std::string show(const std::vector<CueView> &cues);

// Success when the store holds exactly `want`.
testing::AssertionResult cues_are(const std::vector<CueView> &want);

// One danmaku comment as the accessors report it.
struct Danmaku {
  int32_t start;
  int32_t end;
  std::vector<std::string> lines;
  int32_t mode;
  uint32_t color;
  float fontsize;
};
// The cues of the store as danmaku; a cue not marked as one fails the test.
std::vector<Danmaku> current_danmaku();
// Compares field by field; font sizes exactly (infinity included, and a NaN
// matches a NaN).
void expect_danmaku(const std::vector<Danmaku> &got, const std::vector<Danmaku> &want);

// The warnings of the last parse; "<null>" for a slot that reads as null.
std::vector<std::string> current_warnings();

// Checks what a parse that returned `rc` left: the code `want_rc`, the error
// text `error`, `format` as the detected format after a success (-1 after a
// failure) and exactly the cues `cues`.
testing::AssertionResult parse_left(int rc, int want_rc, std::string_view error, int32_t format,
                                    const std::vector<CueView> &cues);

// Checks the JSON document after sub_parse returned `rc`: "{}" after a
// failure, a document of `format` after a success.
testing::AssertionResult json_fits(int rc, int32_t format);

// Decodes `input` as sub_parse does with no encoding named and hands the text
// to `parser` itself; -1 when the decoding fails.
int decode_and_parse(SubParserFn parser, const std::string &input);

// One row of a parser's table: an input and what parsing it leaves.
struct ParseCase {
  const char *name;
  std::string input;
  int rc;
  const char *error;
  std::vector<CueView> cues;
};

// Parses `input` with `parser` (after decode_and_parse's decoding), then with
// sub_parse(format): both must leave what parse_left checks, and sub_parse a
// JSON document that json_fits.
testing::AssertionResult direct_and_through(SubParserFn parser, int32_t format,
                                            const std::string &input, int want_rc,
                                            std::string_view error,
                                            const std::vector<CueView> &cues);

// Runs `run` on a new thread whose stack holds `stack_bytes` (as a player's
// worker thread may have) and returns what it returns: "" for success, else
// what failed. "thread not started" when the thread cannot be made.
std::string run_on_stack(size_t stack_bytes, const std::function<std::string()> &run);

// Wall-clock seconds that `run` takes.
double seconds_to_run(const std::function<void()> &run);

// sub_parse(format) over `input` returns `want_rc` in less than `seconds`.
testing::AssertionResult parses_within(const std::string &input, int32_t format, int want_rc,
                                       double seconds);

// Runs `run` once with no failure to count its allocations, then once per
// allocation failing exactly that one, calling `check(n)` after each failing
// run, then sub_clear(); a run that leaves a block allocated fails the test.
// Returns the number of allocations of the clean run.
uint64_t for_each_allocation_failure(const std::function<void()> &run,
                                     const std::function<void(uint64_t n)> &check);

// for_each_allocation_failure over a parse: every run of `parse` must return
// one of `codes` and, when it returns 0, have detected `format`; `check(rc)`
// adds what else the caller expects after an allowed code.
uint64_t parse_under_allocation_failures(const std::function<int()> &parse,
                                         const std::vector<int> &codes, int32_t format,
                                         const std::function<void(int rc)> &check = nullptr);

// Counts by name: a format's name, or an error text.
using Tally = std::map<std::string, int>;

// What a corpus folder gave.
struct CorpusCounts {
  size_t files = 0;
  Tally detected;      // files sub_parse(-1) read, by the format it names
  Tally own;           // files sub_parse(format) read, by the format it names
  Tally own_failures;  // files sub_parse(format) rejected, by error text
  int detected_total() const;
};

// Parses every file of the shared corpus folder `folder` whose extension is
// one of `extensions` (every file when empty), in name order, with detection
// and as `format`; a file read as `format` must give cues. Prints the counts;
// nullopt when the folder is absent.
std::optional<CorpusCounts> run_corpus(const std::string &folder,
                                       const std::vector<std::string> &extensions, int32_t format);

}  // namespace subtest

#endif
