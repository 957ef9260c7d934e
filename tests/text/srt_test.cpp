// SubRip: the timing-line reader (arrow preference, the 127-byte left and
// 255-byte right parts), the block walk over every line-break convention,
// NUL bytes, sub_parse with format 0 and with detection, and the real files
// of the shared corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::CueView;

namespace {

struct TcRow {
  std::string line;
  bool ok;
  int32_t start;
  int32_t end;
};

std::string pad_left(size_t n) { return std::string(n, 'x'); }

struct ParseRow {
  const char *name;
  std::string input;
  int rc;
  std::vector<CueView> cues;
  const char *json;  // exact document after sub_parse(format 0), or null
};

const std::string two_cue_json =
    R"({"format":"srt","cues":[{"start":1000,"end":2000,"lines":["A","B"]},)"
    R"({"start":3000,"end":4000,"lines":["C"]}]})";

const ParseRow parse_rows[] = {
    {"standard block",
     "1\n00:00:01,000 --> 00:00:02,500\nHello\n\n",
     0,
     {{1000, 2500, {"Hello"}}},
     R"({"format":"srt","cues":[{"start":1000,"end":2500,"lines":["Hello"]}]})"},
    {"LF",
     "1\n00:00:01,000 --> 00:00:02,000\nA\nB\n\n2\n00:00:03,000 --> 00:00:04,000\nC\n",
     0,
     {{1000, 2000, {"A", "B"}}, {3000, 4000, {"C"}}},
     two_cue_json.c_str()},
    {"CR LF",
     "1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\nB\r\n\r\n2\r\n00:00:03,000 --> "
     "00:00:04,000\r\nC\r\n",
     0,
     {{1000, 2000, {"A", "B"}}, {3000, 4000, {"C"}}},
     two_cue_json.c_str()},
    {"lone CR",
     "1\r00:00:01,000 --> 00:00:02,000\rA\rB\r\r2\r00:00:03,000 --> 00:00:04,000\rC",
     0,
     {{1000, 2000, {"A", "B"}}, {3000, 4000, {"C"}}},
     two_cue_json.c_str()},
    {"U+2028",
     "1\u2028"
     "00:00:01,000 --> 00:00:02,000\u2028"
     "A\u2028"
     "B\u2028\u2028"
     "2\u2028"
     "00:00:03,000 --> 00:00:04,000\u2028"
     "C",
     0,
     {{1000, 2000, {"A", "B"}}, {3000, 4000, {"C"}}},
     two_cue_json.c_str()},
    {"CR CR LF is one break",
     "00:00:01,000 --> 00:00:02,000\r\r\nA\r\r\nB",
     0,
     {{1000, 2000, {"A", "B"}}},
     nullptr},
    {"LF CR is two breaks",
     "00:00:01,000 --> 00:00:02,000\nA\n\rB\n00:00:03,000 --> x",
     0,
     {{1000, 2000, {"A"}}},
     nullptr},
    {"U+2029, NEL, VT and FF do not break",
     "00:00:01,000 --> 00:00:02,000\nA\u2029"
     "B\u0085"
     "C\vD\fE",
     0,
     {{1000,
       2000,
       {"A\u2029"
        "B\u0085"
        "C\vD\fE"}}},
     nullptr},
    {"no index, then two stray lines",
     "00:00:01,000 --> 00:00:02,000\nA\n\n7\nnote\n00:00:03,000 --> 00:00:04,000\nB",
     0,
     {{1000, 2000, {"A"}}, {3000, 4000, {"B"}}},
     nullptr},
    {"full stop, no hours, arrows without spaces",
     "01:02.500 --> 01:04.000\nA\n\n00:00:05,000->00:00:06,000\nB\n\n00:00:07,000- "
     ">00:00:08,000\nC",
     0,
     {{62500, 64000, {"A"}}, {5000, 6000, {"B"}}, {7000, 8000, {"C"}}},
     nullptr},
    {"position coordinates after the end time",
     "00:00:01,000 --> 00:00:02,000 X1:100 X2:600 Y1:50 Y2:80\nA",
     0,
     {{1000, 2000, {"A"}}},
     nullptr},
    {"index on the timing line", "1 00:00:01,000 --> 00:00:02,000\nA\n", 5, {}, nullptr},
    {"no blank line between blocks",
     "1\n00:00:01,000 --> 00:00:02,000\nA\n2\n00:00:03,000 --> 00:00:04,000\nB\n",
     0,
     {{1000, 2000, {"A", "2", "00:00:03,000 --> 00:00:04,000", "B"}}},
     nullptr},
    {"blank line inside the text",
     "00:00:01,000 --> 00:00:02,000\nA\n\nB\nC\n",
     0,
     {{1000, 2000, {"A"}}},
     nullptr},
    {"blanks and trimming",
     " \t\n  00:00:01,000 --> 00:00:02,000 \t\n\t  A  b \t\r\n \t \nB\n00:00:03,000 --> "
     "00:00:04,000\n  C",
     0,
     {{1000, 2000, {"A  b"}}, {3000, 4000, {"C"}}},
     nullptr},
    {"timing line without text is dropped",
     "00:00:01,000 --> 00:00:02,000\n\n00:00:03,000 --> 00:00:04,000\nB\n\n00:00:05,000 --> "
     "00:00:06,000",
     0,
     {{3000, 4000, {"B"}}},
     nullptr},
    {"end before start, and the largest time",
     "00:00:05,000 --> 00:00:02,000\nA\n\n596:31:23,647 --> 596:31:23,647\nB\n\n596:31:23,647 --> "
     "596:31:23,648\nC",
     0,
     {{5000, 2000, {"A"}}, {2147483647, 2147483647, {"B"}}},
     R"({"format":"srt","cues":[{"start":5000,"end":2000,"lines":["A"]},)"
     R"({"start":2147483647,"end":2147483647,"lines":["B"]}]})"},
    {"markup and entities stay",
     "00:00:01,000 --> 00:00:02,000\n<i>a &amp; \"b\"</i>\tc",
     0,
     {{1000, 2000, {"<i>a &amp; \"b\"</i>\tc"}}},
     R"({"format":"srt","cues":[{"start":1000,"end":2000,"lines":["<i>a &amp; \"b\"</i>\tc"]}]})"},
    {"\"-->\" wins over an earlier \"->\"",
     "00:00:05,000->00:00:01,000 --> 00:00:09,000\nA",
     0,
     {{5000, 9000, {"A"}}},
     nullptr},
    {"\"- >\" wins over an earlier \"->\"",
     "00:00:05,000->00:00:01,000 - > 00:00:09,000\nA",
     0,
     {{5000, 9000, {"A"}}},
     nullptr},
    {"the preferred arrow has no end time", "00:00:01,000 -> 00:00:02,000 -->\nA", 5, {}, nullptr},
    {"left part cut inside the fraction",
     pad_left(116) + "00:00:01,567 --> 00:00:02,000\nA",
     0,
     {{1560, 2000, {"A"}}},
     nullptr},
    {"start time beyond the left cut",
     pad_left(127) + "00:00:01,000 --> 00:00:02,000\nA",
     5,
     {},
     nullptr},
    {"NUL ends a line",
     "00:00:01,000 --> 00:00:02,000\nab\0cd\nef\0\n\0"s,
     0,
     {{1000, 2000, {"ab", "ef"}}},
     nullptr},
    {"NUL before the arrow", "00:00:01,000\0 --> 00:00:02,000\nA"s, 5, {}, nullptr},
    {"line that starts with NUL is blank",
     "00:00:01,000 --> 00:00:02,000\n\0A\nB\n"s,
     5,
     {},
     nullptr},
    {"long text line kept whole",
     "00:00:01,000 --> 00:00:02,000\n" + std::string(70000, 'a'),
     0,
     {{1000, 2000, {std::string(70000, 'a')}}},
     nullptr},
    {"only blank lines", "\n \r\n\t\n", 5, {}, nullptr},
    {"no arrow", "1\n00:00:01,000 00:00:02,000\nA\n", 5, {}, nullptr},
};

}  // namespace

TEST(SrtTiming, ArrowsAndCuts) {
  const std::string t1 = "00:00:01,567";  // 12 bytes
  const TcRow rows[] = {
      {"00:00:01,000 --> 00:00:02,500", true, 1000, 2500},
      {"00:00:01,000-->00:00:02,500 align:start", true, 1000, 2500},
      {"1:02 -> 3:04", true, 62000, 184000},
      {"1:02 - > 3:04", true, 62000, 184000},
      {"00:00:05,000->00:00:01,000 --> 00:00:09,000", true, 5000, 9000},
      {"00:00:05,000->00:00:01,000 - > 00:00:09,000", true, 5000, 9000},
      {"00:00:05,000 - > 00:00:01,000 --> 00:00:09,000", true, 5000, 9000},
      {"00:00:01,000 --> 00:00:02,000 --> 00:00:03,000", true, 1000, 2000},
      {"00:00:01,000 -> 00:00:02,000 -->", false, 0, 0},
      {"00:00:01,000 --> ", false, 0, 0},
      {" --> 00:00:02,000", false, 0, 0},
      {"00:00:01,000 -- > 00:00:02,000", true, 1000, 2000},  // "- >" inside "-- >"
      {"00:00:01,000 => 00:00:02,000", false, 0, 0},
      {"", false, 0, 0},
      // Left part: at most 127 bytes.
      {pad_left(115) + t1 + " --> 1:00", true, 1567, 60000},
      {pad_left(116) + t1 + " --> 1:00", true, 1560, 60000},
      {pad_left(117) + t1 + " --> 1:00", true, 1500, 60000},
      {pad_left(118) + t1 + " --> 1:00", true, 1000, 60000},
      {pad_left(120) + t1 + " --> 1:00", true, 0, 60000},
      {pad_left(121) + t1 + " --> 1:00", false, 0, 0},
      {pad_left(127) + t1 + " --> 1:00", false, 0, 0},
      // Right part: at most 255 bytes.
      {"1:00 -->" + pad_left(243) + t1, true, 60000, 1567},
      {"1:00 -->" + pad_left(244) + t1, true, 60000, 1560},
      {"1:00 -->" + pad_left(246) + t1, true, 60000, 1000},
      {"1:00 -->" + pad_left(248) + t1, true, 60000, 0},
      {"1:00 -->" + pad_left(249) + t1, false, 0, 0},
      {"1:00 -->" + pad_left(255) + t1, false, 0, 0},
  };
  for (const TcRow &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.line));
    int32_t start = -7;
    int32_t end = -7;
    ASSERT_EQ(srt_try_tc(row.line, &start, &end), row.ok);
    EXPECT_EQ(start, row.ok ? row.start : -7);
    EXPECT_EQ(end, row.ok ? row.end : -7);
  }
}

TEST(SrtParser, DirectAndThroughFormatZero) {
  for (const ParseRow &row : parse_rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(subtest::direct_and_through(sub_parse_srt, SUB_FMT_SRT, row.input, row.rc,
                                            row.rc ? "no SRT cues" : "", row.cues));
    if (row.json) {
      EXPECT_STREQ(sub_result_json(), row.json);
    }
  }
  sub_doc_reset(sub_classic_doc());
  EXPECT_EQ(sub_parse_srt(sub_classic_doc(), "", 0), 5);
  EXPECT_STREQ(sub_last_error(), "no SRT cues");
  sub_clear();
}

// With detection the arrow names SRT unless an earlier signature matches;
// a UTF-16 file shows detection nothing, and WebVTT, first of the fallback
// order, reads the decoded SRT text.
TEST(SrtParser, ThroughDetection) {
  const std::string srt = "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : srt) utf16 += std::string(1, c) + '\0';
  struct Row {
    const char *name;
    std::string input;
    int32_t format;
  };
  const Row rows[] = {
      {"plain", srt, 0},
      {"UTF-8 mark", "\xEF\xBB\xBF" + srt, 0},
      {"bare arrow", "00:00:01,000->00:00:02,000\nHi", 0},
      {"UTF-16LE mark", utf16, 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(sub_parse(row.input.data(), row.input.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
    EXPECT_EQ(sub_detected_format(), row.format);
    EXPECT_TRUE(subtest::cues_are({{1000, 2000, {"Hi"}}}));
    EXPECT_EQ(sub_result_json(), std::string(R"({"format":")") + sub_format_name(row.format) +
                                     R"(","cues":[{"start":1000,"end":2000,"lines":["Hi"]}]})");
  }
  const std::string nothing = "00:00:01,000 --> 00:00:02,000\n\n";
  EXPECT_EQ(sub_parse(nothing.data(), nothing.size(), SUB_FMT_AUTO, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), "no SRT cues");
  EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
  sub_clear();
}

// Reading lines in place: no allocation failure can make the parser report
// 4, a cue that cannot be stored is skipped, and nothing leaks.
TEST(SrtParser, AllocationFailures) {
  const std::string text =
      "1\n00:00:01,000 --> 00:00:02,000\nA\nB\n\n2\n00:00:03,000 --> 00:00:04,000\nC\n";
  subtest::parse_under_allocation_failures(
      [&] {
        sub_doc_reset(sub_classic_doc());
        return sub_parse_srt(sub_classic_doc(), text.c_str(), text.size());
      },
      {0, 5}, SUB_FMT_SRT,
      [](int rc) {
        if (rc == 5) {
          EXPECT_STREQ(sub_last_error(), "no SRT cues");
        }
        for (const CueView &cue : subtest::current_cues()) EXPECT_FALSE(cue.lines.empty());
      });
}

TEST(SrtCorpus, EveryFileParses) {
  const auto counts = subtest::run_corpus("srt", {".srt"}, SUB_FMT_SRT);
  if (!counts) GTEST_SKIP() << "no SRT corpus";
  EXPECT_EQ(counts->files, 42u);
  // Not read: the two UTF-32 files and the two without a complete timing line.
  EXPECT_EQ(counts->detected_total(), 38);
  EXPECT_EQ(counts->own, (subtest::Tally{{"srt", 38}}));
}
