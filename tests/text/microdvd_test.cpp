// MicroDVD: the timed-line shape, the frame-rate line, frames to
// milliseconds (saturating), brace groups and bars, the 65535-byte line cut,
// NUL bytes, the linear brace search, the scratch buffer, sub_parse with
// format 3 and its SubViewer second chance, detection, and the real files of
// the shared corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::CueView;

namespace {

struct Row {
  const char *name;
  std::string input;
  int rc;
  std::vector<CueView> cues;
};

const std::string long_a(65535, 'a');
constexpr int32_t max32 = 2147483647;
constexpr int32_t min32 = -2147483647 - 1;

const Row rows[] = {
    {"no timed line", "hello\n{x}{y}z\n", 5, {}},
    {"only a frame-rate line", "{1}{1}23.976\n", 5, {}},
    {"25 fps by default",
     "{25}{50}a|b\n{75}{100}c",
     0,
     {{1000, 2000, {"a", "b"}}, {3000, 4000, {"c"}}}},
    {"declared rate",
     "{1}{1}23.976\n{100}{200}a\n{-5}{0}b",
     0,
     {{4170, 8341, {"a"}}, {-208, 0, {"b"}}}},
    {"rate with a word after a space", "{1}{1}23.976 fps\n{100}{200}a", 0, {{4170, 8341, {"a"}}}},
    {"rate followed by a brace group", "{1}{1}29.97{y:b}\n{30}{60}a", 0, {{1001, 2002, {"a"}}}},
    {"rate on frames 0, after untimed lines",
     "title\n{0}{0} 50\n{50}{100}a",
     0,
     {{1000, 2000, {"a"}}}},
    {"hexadecimal rate", "{1}{1}0x1Ep0\n{30}{60}a", 0, {{1000, 2000, {"a"}}}},
    {"the first cue's text is a number", "{100}{200}42\n{42}{84}a", 0, {{1000, 2000, {"a"}}}},
    {"comma is no decimal point", "{1}{1}23,976", 0, {{40, 40, {"23,976"}}}},
    {"rate must exceed 1", "{1}{1}1", 0, {{40, 40, {"1"}}}},
    {"rate just above 1", "{1}{1}1.5\n{3}{6}a", 0, {{2000, 4000, {"a"}}}},
    {"rate must stay below 120", "{1}{1}120", 0, {{40, 40, {"120"}}}},
    {"rate followed by a letter", "{1}{1}25fps", 0, {{40, 40, {"25fps"}}}},
    {"rate not a number", "{1}{1}nan", 0, {{40, 40, {"nan"}}}},
    {"rate infinite", "{1}{1}inf", 0, {{40, 40, {"inf"}}}},
    {"out-of-range rate, then a number on the second timed line",
     "{1}{1}-25\n{25}{50}30",
     0,
     {{40, 40, {"-25"}}, {1000, 2000, {"30"}}}},
    {"cues without lines",
     "{10}{20}\n{10}{20}{y:i}\n{10}{20}||",
     0,
     {{400, 800, {}}, {400, 800, {}}, {400, 800, {}}}},
    {"brace groups dropped, bars split",
     "{0}{25}{y:i}Hi|{c:$0000FF}there",
     0,
     {{0, 1000, {"Hi", "there"}}}},
    {"empty segments dropped, spaces kept",
     "{0}{25}|a||b|\n{0}{25}Hello | World",
     0,
     {{0, 1000, {"a", "b"}}, {0, 1000, {"Hello ", " World"}}}},
    {"groups of 32 bytes dropped, longer ones kept",
     "{0}{25}a{" + std::string(30, 'x') + "}b\n{0}{25}a{" + std::string(31, 'x') + "}b",
     0,
     {{0, 1000, {"ab"}}, {0, 1000, {"a{" + std::string(31, 'x') + "}b"}}}},
    {"the search for '}' crosses bars, opens no nesting",
     "{0}{25}a{b|c}d|e{f\n{0}{25}{a{b}c}",
     0,
     {{0, 1000, {"ad", "e{f"}}, {0, 1000, {"c}"}}}},
    {"markup and entities stay", "{0}{25}/<i>a &amp; b</i>", 0, {{0, 1000, {"/<i>a &amp; b</i>"}}}},
    {"brackets of either kind, each field its own",
     "{0}[25]a\n[25][50]b\n[50]{75}c",
     0,
     {{0, 1000, {"a"}}, {1000, 2000, {"b"}}, {2000, 3000, {"c"}}}},
    {"not timed lines",
     "{0]{25}a\n{ 0}{25}a\n{+0}{25}a\n{0} {25}a\n{}{25}a\n{-}{25}a\n{0}{25 }a\n{0}\n",
     5,
     {}},
    {"times stored as they are",
     "{50}{25}a\n{-25}{25}b",
     0,
     {{2000, 1000, {"a"}}, {-1000, 1000, {"b"}}}},
    {"lines trimmed, text not", " \t{0}{25}  a  \r\n", 0, {{0, 1000, {"  a"}}}},
    {"frame numbers beyond 32 bits make a line untimed",
     "{2147483648}{0}a\n{0}{-2147483649}b\n{99999999999999999999}{0}c\n",
     5,
     {}},
    {"frame numbers at the 32-bit limits, times saturated",
     "{00000000000000000025}{50}a\n{2147483647}{-2147483648}b\n{60000000}{-60000000}c",
     0,
     {{1000, 2000, {"a"}}, {max32, min32, {"b"}}, {max32, min32, {"c"}}}},
    {"CR, CR LF and U+2028 line breaks",
     "{0}{25}a\r{25}{50}b\r\n{50}{75}c\u2028{75}{100}d",
     0,
     {{0, 1000, {"a"}}, {1000, 2000, {"b"}}, {2000, 3000, {"c"}}, {3000, 4000, {"d"}}}},
    {"NUL ends the line it stands in",
     "{0}{25}ab\0cd\n{25}\0{50}x\n{50}{75}y"s,
     0,
     {{0, 1000, {"ab"}}, {2000, 3000, {"y"}}}},
    {"line of 65535 bytes", "{0}{25}" + long_a, 0, {{0, 1000, {long_a}}}},
    {"line of 65536 bytes is cut",
     "{0}{25}" + long_a + "b\n{25}{50}next",
     0,
     {{0, 1000, {long_a}}, {1000, 2000, {"next"}}}},
    {"a full line drops the rest of its text", "{0}{25}" + long_a + "|b", 0, {{0, 1000, {long_a}}}},
    {"a bar just before the limit",
     "{0}{25}" + long_a.substr(1) + "|b",
     0,
     {{0, 1000, {long_a.substr(1), "b"}}}},
};

const std::string subviewer_text =
    "[INFORMATION]\n[TITLE]t\n[END INFORMATION]\n00:00:01.00,00:00:02.00\none[br]two\n";

}  // namespace

TEST(MicroDvdParser, DirectAndThroughFormatThree) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(subtest::parse_left(subtest::decode_and_parse(sub_parse_microdvd, row.input),
                                    row.rc, row.rc ? "no MicroDVD cues" : "", SUB_FMT_MICRODVD,
                                    row.cues));
    // A failure goes on to the SubViewer parser, whose message stays.
    EXPECT_TRUE(subtest::parse_left(
        sub_parse(row.input.data(), row.input.size(), SUB_FMT_MICRODVD, nullptr), row.rc,
        row.rc ? "SubViewer: missing [INFORMATION]" : "", SUB_FMT_MICRODVD, row.cues));
    EXPECT_TRUE(subtest::json_fits(row.rc, SUB_FMT_MICRODVD));
  }
  sub_doc_reset(sub_classic_doc());
  EXPECT_EQ(sub_parse_microdvd(sub_classic_doc(), "", 0), 5);
  EXPECT_STREQ(sub_last_error(), "no MicroDVD cues");
  sub_clear();
}

TEST(MicroDvdParser, Json) {
  const std::string text = "{1}{1}25\n{-25}{50}\"q\"|/\\\n{2147483647}{0}";
  ASSERT_EQ(sub_parse(text.data(), text.size(), SUB_FMT_MICRODVD, nullptr), SUB_OK);
  EXPECT_STREQ(sub_result_json(),
               R"({"format":"microdvd","cues":[{"start":-1000,"end":2000,"lines":["\"q\"","/\\"]},)"
               R"({"start":2147483647,"end":0,"lines":[]}]})");
  sub_clear();
}

// A failed MicroDVD parse hands the same text to the SubViewer parser: its
// success keeps the first message, its failure reports its own.
TEST(MicroDvdParser, SubViewerSecondChance) {
  ASSERT_EQ(sub_parse(subviewer_text.data(), subviewer_text.size(), SUB_FMT_MICRODVD, nullptr),
            SUB_OK);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_SUBVIEWER);
  EXPECT_STREQ(sub_last_error(), "no MicroDVD cues");
  EXPECT_TRUE(subtest::cues_are({{1000, 2000, {"one", "two"}}}));
  EXPECT_STREQ(
      sub_result_json(),
      R"({"format":"subviewer","cues":[{"start":1000,"end":2000,"lines":["one","two"]}]})");

  struct FailRow {
    std::string input;
    int32_t format;
    const char *error;
  };
  const FailRow fail_rows[] = {
      {"hello\n", 3, "SubViewer: missing [INFORMATION]"},
      {"[INFORMATION]\nx\n", 3, "SubViewer: no timestamp"},
      {"[INFORMATION]\n00:00:01.00,00:00:02.00\n", 3, "no SubViewer cues"},
      // Detection names MicroDVD; the second chance follows there too.
      {"{1}{1}23.976\n", -1, "SubViewer: missing [INFORMATION]"},
      // No second chance the other way round.
      {"{0}{25}x\n", 4, "SubViewer: missing [INFORMATION]"},
  };
  for (const FailRow &row : fail_rows) {
    SCOPED_TRACE(row.input);
    EXPECT_EQ(sub_parse(row.input.data(), row.input.size(), row.format, nullptr), SUB_ERR_NOCUES);
    EXPECT_STREQ(sub_last_error(), row.error);
    EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
    EXPECT_EQ(sub_cue_count(), 0);
    EXPECT_STREQ(sub_result_json(), "{}");
  }
  sub_clear();
}

TEST(MicroDvdParser, ThroughDetection) {
  struct DetectRow {
    const char *name;
    std::string input;
    int32_t detected;  // what sub_detect_format names
    int32_t start;
  };
  const DetectRow detect_rows[] = {
      {"braces", "{0}{25}x\n", 3, 0},
      {"negative first frame", "{-5}{25}x\n", 3, -200},
      {"UTF-8 mark and blank lines", "\xEF\xBB\xBF\r\n\r\n{0}{25}x\n", 3, 0},
      // No '}' at all: nothing is named, and the fallback order reaches the
      // MicroDVD parser.
      {"square brackets", "[0][25]x\n", -1, 0},
  };
  for (const DetectRow &row : detect_rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(sub_detect_format(row.input.data(), row.input.size(), nullptr), row.detected);
    EXPECT_EQ(sub_parse(row.input.data(), row.input.size(), SUB_FMT_AUTO, nullptr), SUB_OK)
        << sub_last_error();
    EXPECT_EQ(sub_detected_format(), SUB_FMT_MICRODVD);
    EXPECT_TRUE(subtest::cues_are({{row.start, 1000, {"x"}}}));
  }
  sub_clear();
}

// A line of 4 MB of '{' (with and without a '}' at its end) is read in one
// pass: the search for the closing brace is not repeated for every '{'.
TEST(MicroDvdParser, BraceSearchIsLinear) {
  for (const char *tail : {"", "}"}) {
    SCOPED_TRACE(std::string("tail ") + tail);
    const std::string text = "{0}{25}" + std::string(4 << 20, '{') + tail;
    ASSERT_TRUE(subtest::parses_within(text, SUB_FMT_MICRODVD, 0, 2.0));
    EXPECT_TRUE(subtest::cues_are({{0, 1000, {std::string(65535, '{')}}}));
  }
  sub_clear();
}

// The one scratch buffer: without it the parser returns 4 and no message.
TEST(MicroDvdParser, AllocationFailures) {
  const std::string nothing = "no cues\n";
  sub_doc_reset(sub_classic_doc());
  ASSERT_EQ(sub_decode_to_utf8(sub_classic_doc(), nothing.data(), nothing.size(), nullptr), 0);
  sub_alloc_fail_at(1, false);
  EXPECT_EQ(
      sub_parse_microdvd(sub_classic_doc(), sub_classic_doc()->text, sub_classic_doc()->text_len),
      4);
  sub_alloc_fail_at(0, false);
  EXPECT_STREQ(sub_last_error(), "");
  EXPECT_EQ(sub_cue_count(), 0);

  const std::string text = "{1}{1}25\n{0}{25}a|b\n{25}{50}c\n";
  struct Input {
    const std::string *text;
    int32_t format;  // the format a success names
  };
  for (const Input input :
       {Input{&text, SUB_FMT_MICRODVD}, Input{&subviewer_text, SUB_FMT_SUBVIEWER}}) {
    for (const bool direct : {true, false}) {
      SCOPED_TRACE(*input.text + (direct ? " direct" : " through sub_parse"));
      const std::string &in = *input.text;
      subtest::parse_under_allocation_failures(
          [&] {
            return direct ? subtest::decode_and_parse(sub_parse_microdvd, in)
                          : sub_parse(in.data(), in.size(), SUB_FMT_MICRODVD, nullptr);
          },
          // -1: the decoding before the direct call ran out of memory.
          direct ? std::vector<int>{0, 4, 5, -1} : std::vector<int>{0, 4, 5}, input.format,
          [&](int rc) {
            if (rc == 4) {
              // Through sub_parse the SubViewer parser may run out after the
              // MicroDVD parser failed; its 4 writes no message of its own.
              const std::string error = sub_last_error();
              EXPECT_TRUE(error.empty() || (!direct && error == "no MicroDVD cues")) << error;
              EXPECT_EQ(sub_cue_count(), 0);
            }
            if (rc == 0) {
              EXPECT_GT(sub_cue_count(), 0);
            }
          });
    }
  }
}

TEST(MicroDvdCorpus, EveryFileParses) {
  const auto counts = subtest::run_corpus("microdvd", {}, SUB_FMT_MICRODVD);
  if (!counts) GTEST_SKIP() << "no MicroDVD corpus";
  EXPECT_EQ(counts->files, 9u);
  EXPECT_EQ(counts->detected, (subtest::Tally{{"microdvd", 9}}));
  EXPECT_EQ(counts->own, (subtest::Tally{{"microdvd", 9}}));
}
