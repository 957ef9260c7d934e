// SubViewer: the [INFORMATION] header, the 20-line window for the first
// timing line, the fixed timing-line shape, bodies joined with LF and split
// at [br], the 65535-byte body cut, NUL bytes, the scratch buffer, sub_parse
// with format 4 and with detection, and the real files of the shared corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::CueView;

namespace {

const std::string header = "[INFORMATION]\n[TITLE]t\n[AUTHOR]\n[END INFORMATION]\n[SUBTITLE]\n";
const std::string t1 = "00:00:01.00,00:00:02.00\n";

// The header line, `n` other lines, then a timing line and its text.
std::string after_lines(int n) {
  std::string out = "[INFORMATION]\n";
  for (int i = 0; i < n; ++i) out += "[X]" + std::to_string(i) + "\n";
  return out + t1 + "a\n";
}

using Row = subtest::ParseCase;

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
    EXPECT_TRUE(subtest::direct_and_through(sub_parse_subviewer, SUB_FMT_SUBVIEWER, row.input,
                                            row.rc, row.error, row.cues));
  }
  sub_doc_reset(sub_classic_doc());
  EXPECT_EQ(sub_parse_subviewer(sub_classic_doc(), "", 0), 5);
  EXPECT_STREQ(sub_last_error(), "SubViewer: missing [INFORMATION]");
  sub_clear();
}

TEST(SubViewerParser, Json) {
  const std::string text = header + t1 + "\"q\"\ttab\n/\\[br]x\n";
  ASSERT_EQ(sub_parse(text.data(), text.size(), SUB_FMT_SUBVIEWER, nullptr), SUB_OK);
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
    EXPECT_TRUE(subtest::parse_left(
        sub_parse(row.input.data(), row.input.size(), SUB_FMT_AUTO, nullptr), row.rc, row.error,
        SUB_FMT_SUBVIEWER,
        row.rc ? std::vector<CueView>{} : std::vector<CueView>{{1000, 2000, {"a"}}}));
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
    sub_doc_reset(sub_classic_doc());
    ASSERT_EQ(sub_decode_to_utf8(sub_classic_doc(), row.input.data(), row.input.size(), nullptr),
              0);
    sub_alloc_fail_at(1, true);
    EXPECT_EQ(sub_parse_subviewer(sub_classic_doc(), sub_classic_doc()->text,
                                  sub_classic_doc()->text_len),
              row.rc);
    sub_alloc_fail_at(0, false);
    EXPECT_STREQ(sub_last_error(), row.error);
    EXPECT_EQ(sub_cue_count(), 0);
  }

  const std::string text = header + t1 + "a[br]b\n\n00:00:03.00,00:00:04.00\nc\n";
  for (const bool direct : {true, false}) {
    SCOPED_TRACE(direct ? "direct" : "through sub_parse");
    subtest::parse_under_allocation_failures(
        [&] {
          return direct ? subtest::decode_and_parse(sub_parse_subviewer, text)
                        : sub_parse(text.data(), text.size(), SUB_FMT_SUBVIEWER, nullptr);
        },
        // -1: the decoding before the direct call ran out of memory.
        direct ? std::vector<int>{0, 4, 5, -1} : std::vector<int>{0, 4, 5}, SUB_FMT_SUBVIEWER,
        [](int rc) {
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
  const auto counts = subtest::run_corpus("subviewer", {}, SUB_FMT_SUBVIEWER);
  if (!counts) GTEST_SKIP() << "no SubViewer corpus";
  EXPECT_EQ(counts->files, 3u);
  EXPECT_EQ(counts->own, (subtest::Tally{{"subviewer", 3}}));
  EXPECT_EQ(counts->detected, (subtest::Tally{{"subviewer", 3}}));
}
