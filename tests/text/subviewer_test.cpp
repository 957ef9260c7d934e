// SubViewer: the [INFORMATION] header, the 20-line window for the first
// timing line, the fixed timing-line shape, bodies joined with LF and split
// at [br], the 65535-byte body cut, NUL bytes, the scratch buffer, sub_parse
// with format 4 and with detection, and the real files of the shared corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::CueView;

namespace {

std::string show(const std::vector<CueView> &cues) {
  std::string out;
  for (const CueView &cue : cues) {
    out += '{';
    out += std::to_string(cue.start);
    out += ',';
    out += std::to_string(cue.end);
    out += ',';
    for (const std::string &line : cue.lines) {
      if (line.size() > 80) {
        out += std::to_string(line.size());
        out += " bytes of ";
        out += testing::PrintToString(line.substr(0, 8));
        out += "..";
        out += testing::PrintToString(line.substr(line.size() - 8));
      } else {
        out += testing::PrintToString(line);
      }
    }
    out += "}\n";
  }
  return out;
}

int parse_direct(const std::string &input) {
  sub_state_reset();
  if (sub_decode_to_utf8(input.data(), input.size(), nullptr) != 0) return -1;
  return sub_parse_subviewer(g_sub.text, g_sub.text_len);
}

const std::string header = "[INFORMATION]\n[TITLE]t\n[AUTHOR]\n[END INFORMATION]\n[SUBTITLE]\n";
const std::string t1 = "00:00:01.00,00:00:02.00\n";

// The header line, `n` other lines, then a timing line and its text.
std::string after_lines(int n) {
  std::string out = "[INFORMATION]\n";
  for (int i = 0; i < n; ++i) out += "[X]" + std::to_string(i) + "\n";
  return out + t1 + "a\n";
}

struct Row {
  const char *name;
  std::string input;
  int rc;
  const char *error;
  std::vector<CueView> cues;
};

const std::string long_a(65535, 'a');

const Row rows[] = {
    {"two cues",
     header + "00:00:01.50,00:00:04.00\nHello[br]World\n\n00:01:02.50,01:00:00.00\nx\n",
     0,
     "",
     {{1500, 4000, {"Hello", "World"}}, {62500, 3600000, {"x"}}}},
    {"header in lower case", "[information]\n" + t1 + "a", 0, "", {{1000, 2000, {"a"}}}},
    {"header in mixed case", "[Information]\n" + t1 + "a", 0, "", {{1000, 2000, {"a"}}}},
    {"blank after the header",
     "[INFORMATION] \n" + t1 + "a",
     5,
     "SubViewer: missing [INFORMATION]",
     {}},
    {"blank line before the header",
     "\n[INFORMATION]\n" + t1 + "a",
     5,
     "SubViewer: missing [INFORMATION]",
     {}},
    {"header only", "[INFORMATION]", 5, "SubViewer: no timestamp", {}},
    {"timing line as line 21", after_lines(19), 0, "", {{1000, 2000, {"a"}}}},
    {"timing line as line 22", after_lines(20), 5, "SubViewer: no timestamp", {}},
    {"one-digit hours",
     "[INFORMATION]\n0:00:01.00,0:00:02.00\na",
     5,
     "SubViewer: no timestamp",
     {}},
    {"comma fractions",
     "[INFORMATION]\n00:00:01,00,00:00:02,00\na",
     5,
     "SubViewer: no timestamp",
     {}},
    {"indented timing line is body text",
     "[INFORMATION]\n" + t1 + "a\n 00:00:03.00,00:00:04.00\nb",
     0,
     "",
     {{1000, 2000, {"a\n 00:00:03.00,00:00:04.00\nb"}}}},
    {"timing line as the last line",
     "[INFORMATION]\n00:00:01.00,00:00:02.00",
     5,
     "no SubViewer cues",
     {}},
    {"timing line then an empty last line", "[INFORMATION]\n" + t1, 5, "no SubViewer cues", {}},
    {"rejected cues",
     "[INFORMATION]\n00:00:05.00,00:00:05.00\nequal\n00:00:06.00,00:00:05.00\nreversed\n" + t1 +
         "00:00:03.00,00:00:04.00\n\n\n",
     5,
     "no SubViewer cues",
     {}},
    {"end read beyond its two fraction digits",
     "[INFORMATION]\n00:00:01.00,00:00:02.005\na\n00:00:03.00,00:00:04.001234 x\nb\n"s +
         "00:00:05.00,00:00:06.00 junk\nc",
     0,
     "",
     {{1000, 2005, {"a"}}, {3000, 4001, {"b"}}, {5000, 6000, {"c"}}}},
    {"only [br] and [BR] split, pieces trimmed",
     "[INFORMATION]\n" + t1 + "Hello [BR] World[br]\n" + t1 + "a[Br]b[bR]c\n" + t1 + "[br][BR]x",
     0,
     "",
     {{1000, 2000, {"Hello", "World"}}, {1000, 2000, {"a[Br]b[bR]c"}}, {1000, 2000, {"x"}}}},
    {"body lines joined with LF, empty lines skipped",
     "[INFORMATION]\n" + t1 + "Line one\r\n\r\nLine two\n" + t1 + "  a \n \n b  ",
     0,
     "",
     {{1000, 2000, {"Line one\nLine two"}}, {1000, 2000, {"a \n \n b"}}}},
    {"body of blanks or markers keeps a cue without lines",
     "[INFORMATION]\n" + t1 + " \t\n" + t1 + "[br]",
     0,
     "",
     {{1000, 2000, {}}, {1000, 2000, {}}}},
    {"cues kept in file order",
     "[INFORMATION]\n00:00:05.00,00:00:06.00\nlate\n" + t1 + "early",
     0,
     "",
     {{5000, 6000, {"late"}}, {1000, 2000, {"early"}}}},
    {"CR and U+2028 line breaks",
     "[INFORMATION]\r00:00:01.00,00:00:02.00\u2028a\rb",
     0,
     "",
     {{1000, 2000, {"a\nb"}}}},
    {"NUL ends the line it stands in",
     "[INFORMATION]\0x\n"s + t1 + "ab\0cd\n"s +
         "00:00:03.00,00:00:0\0"
         "4.00\nef\n"s,
     0,
     "",
     {{1000, 2000, {"ab\n00:00:03.00,00:00:0\nef"}}}},
    {"a line starting with NUL is empty",
     "[INFORMATION]\n"s + t1 + "a\n\0b\nc"s,
     0,
     "",
     {{1000, 2000, {"a\nc"}}}},
    {"body of 65535 bytes", "[INFORMATION]\n" + t1 + long_a, 0, "", {{1000, 2000, {long_a}}}},
    {"body of 65536 bytes is cut",
     "[INFORMATION]\n" + t1 + long_a + "b\n" + t1 + "next",
     0,
     "",
     {{1000, 2000, {long_a}}, {1000, 2000, {"next"}}}},
    {"no LF once the body is full",
     "[INFORMATION]\n" + t1 + long_a + "\nb",
     0,
     "",
     {{1000, 2000, {long_a}}}},
    {"the LF fills the body",
     "[INFORMATION]\n" + t1 + long_a.substr(1) + "\nb",
     0,
     "",
     {{1000, 2000, {long_a.substr(1)}}}},
    {"cut before the split at markers",
     "[INFORMATION]\n" + t1 + long_a.substr(2) + "[br]b",
     0,
     "",
     {{1000, 2000, {long_a.substr(2) + "[b"}}}},
};

}  // namespace

TEST(SubViewerParser, DirectAndThroughFormatFour) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(parse_direct(row.input), row.rc);
    EXPECT_STREQ(sub_last_error(), row.error);
    EXPECT_EQ(sub_detected_format(), row.rc ? -1 : 4);
    EXPECT_EQ(show(subtest::current_cues()), show(row.cues));

    EXPECT_EQ(sub_parse(row.input.data(), row.input.size(), 4, nullptr), row.rc);
    EXPECT_STREQ(sub_last_error(), row.error);
    EXPECT_EQ(sub_detected_format(), row.rc ? -1 : 4);
    EXPECT_EQ(show(subtest::current_cues()), show(row.cues));
    if (row.rc) {
      EXPECT_STREQ(sub_result_json(), "{}");
    } else {
      EXPECT_EQ(std::string(sub_result_json()).rfind(R"({"format":"subviewer","cues":[)", 0), 0u);
    }
  }
  sub_state_reset();
  EXPECT_EQ(sub_parse_subviewer("", 0), 5);
  EXPECT_STREQ(sub_last_error(), "SubViewer: missing [INFORMATION]");
  sub_clear();
}

TEST(SubViewerParser, Json) {
  const std::string text = header + t1 + "\"q\"\ttab\n/\\[br]x\n";
  ASSERT_EQ(sub_parse(text.data(), text.size(), 4, nullptr), 0);
  EXPECT_STREQ(
      sub_result_json(),
      R"({"format":"subviewer","cues":[{"start":1000,"end":2000,"lines":["\"q\"\ttab\n/\\","x"]}]})");
  sub_clear();
}

// Detection knows only the exact upper-case header at the start of the text;
// other spellings reach the SubViewer parser through the fallback order.
TEST(SubViewerParser, ThroughDetection) {
  struct DetectRow {
    const char *name;
    std::string input;
    int32_t detected;
    int rc;
    const char *error;
  };
  const DetectRow detect_rows[] = {
      {"header", header + t1 + "a", 4, 0, ""},
      {"UTF-8 mark", "\xEF\xBB\xBF" + header + t1 + "a", 4, 0, ""},
      {"lower-case header", "[information]\n" + t1 + "a", -1, 0, ""},
      {"no timestamp", header + "a\n", 4, 5, "SubViewer: no timestamp"},
      {"no cue", header + t1, 4, 5, "no SubViewer cues"},
      // The test looks past blank lines; the parser does not.
      {"blank line before the header", "\n" + header + t1 + "a", 4, 5,
       "SubViewer: missing [INFORMATION]"},
  };
  for (const DetectRow &row : detect_rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(sub_detect_format(row.input.data(), row.input.size(), nullptr), row.detected);
    EXPECT_EQ(sub_parse(row.input.data(), row.input.size(), -1, nullptr), row.rc);
    EXPECT_STREQ(sub_last_error(), row.error);
    EXPECT_EQ(sub_detected_format(), row.rc ? -1 : 4);
    EXPECT_EQ(show(subtest::current_cues()), row.rc ? "" : show({{1000, 2000, {"a"}}}));
  }
  sub_clear();
}

// The one scratch buffer is taken once the first timing line is found:
// without it the parser returns 4 and no message; earlier failures keep
// their messages whatever memory is left.
TEST(SubViewerParser, AllocationFailures) {
  struct ScratchRow {
    std::string input;
    int rc;
    const char *error;
  };
  const ScratchRow scratch_rows[] = {
      {header + t1 + "a", 4, ""},
      {"x\n" + t1 + "a", 5, "SubViewer: missing [INFORMATION]"},
      {header + "a\n", 5, "SubViewer: no timestamp"},
  };
  for (const ScratchRow &row : scratch_rows) {
    SCOPED_TRACE(row.input);
    sub_state_reset();
    ASSERT_EQ(sub_decode_to_utf8(row.input.data(), row.input.size(), nullptr), 0);
    sub_alloc_fail_at(1, true);
    EXPECT_EQ(sub_parse_subviewer(g_sub.text, g_sub.text_len), row.rc);
    sub_alloc_fail_at(0, false);
    EXPECT_STREQ(sub_last_error(), row.error);
    EXPECT_EQ(sub_cue_count(), 0);
  }

  const std::string text = header + t1 + "a[br]b\n\n00:00:03.00,00:00:04.00\nc\n";
  for (const bool direct : {true, false}) {
    SCOPED_TRACE(direct ? "direct" : "through sub_parse");
    int rc = 0;
    subtest::for_each_allocation_failure(
        [&] { rc = direct ? parse_direct(text) : sub_parse(text.data(), text.size(), 4, nullptr); },
        [&](uint64_t) {
          // -1: the decoding before the direct call ran out of memory.
          ASSERT_TRUE(rc == 0 || rc == 4 || rc == 5 || (direct && rc == -1)) << rc;
          if (rc == 4) {
            EXPECT_STREQ(sub_last_error(), "");
            EXPECT_EQ(sub_cue_count(), 0);
          }
          if (rc == 5) {
            EXPECT_STREQ(sub_last_error(), "no SubViewer cues");
          }
        });
  }
}

TEST(SubViewerCorpus, EveryFileParses) {
  const std::filesystem::path dir = SUBPARSE_SOURCE_DIR "/../shared/corpus/subviewer";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no SubViewer corpus at " << dir;
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry);
  std::sort(files.begin(), files.end());
  std::map<std::string, int> auto_ok;
  int own_ok = 0;
  for (const auto &path : files) {
    SCOPED_TRACE(path.filename().string());
    const std::string data = subtest::read_file(path.string());
    if (sub_parse(data.data(), data.size(), -1, nullptr) == 0)
      ++auto_ok[sub_format_name(sub_detected_format())];
    if (sub_parse(data.data(), data.size(), 4, nullptr) == 0) {
      ++own_ok;
      EXPECT_GT(sub_cue_count(), 0);
      EXPECT_EQ(sub_detected_format(), 4);
    }
  }
  sub_clear();
  std::cout << "SubViewer corpus: " << files.size() << " files, " << own_ok
            << " as SubViewer; detection:";
  for (const auto &[name, count] : auto_ok) std::cout << ' ' << name << '=' << count;
  std::cout << '\n';
  EXPECT_EQ(files.size(), 3u);
  EXPECT_EQ(own_ok, 3);
  EXPECT_EQ(auto_ok, (std::map<std::string, int>{{"subviewer", 3}}));
}
