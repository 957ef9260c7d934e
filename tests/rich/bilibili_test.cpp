// Bilibili danmaku XML: the <d p="..."> element scan (case matters), the p
// fields (start, mode, font size, decimal colour; empty fields skipped), the
// fixed 3000 ms duration saturating at the 32-bit limit, the 1023-byte tag
// and 511-byte p-value cuts, the text up to the first NUL, the danmaku
// members of the JSON document, detection, the second chance after a failed
// YouTube XML parse, linear time on unclosed elements, allocation failures
// and the real files of the shared corpus.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::Danmaku;

namespace {

constexpr int32_t max32 = 2147483647;
constexpr int32_t min32 = -2147483647 - 1;
constexpr uint32_t white = 0xFFFFFF;
const float inf = std::numeric_limits<float>::infinity();

// One comment with the given p value and text.
std::string d(const std::string &p, const std::string &text = "x") {
  return "<d p=\"" + p + "\">" + text + "</d>";
}

// A start tag whose p value begins at byte `value_at` of the tag.
std::string padded_tag(size_t value_at, const std::string &p) {
  return "<d a=\"" + std::string(value_at - 11, 'A') + "\" p=\"" + p + "\">x</d>";
}

struct Row {
  const char *name;
  std::string doc;
  int rc;
  std::vector<Danmaku> cues;
};

const std::string no_cue = "no Bilibili danmaku";

const Row rows[] = {
    {"all fields",
     d("12.5,1,25,16777215,0,0,abc,1", "Hi &amp; bye"),
     0,
     {{12500, 15500, {"Hi & bye"}, 1, white, 25.0f}}},
    {"mode, size, colour",
     d("3.25,5,18,16711680", "Top"),
     0,
     {{3250, 6250, {"Top"}, 5, 0xFF0000, 18.0f}}},
    {"time only", d("7"), 0, {{7000, 10000, {"x"}, 1, white, 25.0f}}},
    {"empty p", d(""), 0, {{0, 3000, {"x"}, 1, white, 25.0f}}},
    {"commas only", d(",,,"), 0, {{0, 3000, {"x"}, 1, white, 25.0f}}},
    {"empty field skipped",
     d("1.5,,25,16777215"),
     0,
     {{1500, 4500, {"x"}, 25, white, 16777215.0f}}},
    {"truncated product", d("1.005"), 0, {{1004, 4004, {"x"}, 1, white, 25.0f}}},
    {"negative start", d("-1.5"), 0, {{-1500, 1500, {"x"}, 1, white, 25.0f}}},
    {"blanks before numbers", d(" 2.5, 4, 30, 255"), 0, {{2500, 5500, {"x"}, 4, 255, 30.0f}}},
    {"fifth field ignored", d("1,2,3,4,5"), 0, {{1000, 4000, {"x"}, 2, 4, 3.0f}}},
    // Colour: low 24 bits of a saturating decimal reading.
    {"colour above 24 bits", d("0,1,25,16777472"), 0, {{0, 3000, {"x"}, 1, 0x100, 25.0f}}},
    {"colour saturates", d("0,1,25,99999999999"), 0, {{0, 3000, {"x"}, 1, white, 25.0f}}},
    {"hexadecimal colour", d("0,1,25,0xFF0000"), 0, {{0, 3000, {"x"}, 1, 0, 25.0f}}},
    {"negative colour", d("0,1,25,-1"), 0, {{0, 3000, {"x"}, 1, white, 25.0f}}},
    // Mode: atoi saturating at the 32-bit limits.
    {"mode saturates up", d("0,99999999999"), 0, {{0, 3000, {"x"}, max32, white, 25.0f}}},
    {"mode saturates down", d("0,-99999999999"), 0, {{0, 3000, {"x"}, min32, white, 25.0f}}},
    {"mode not a number", d("0,top"), 0, {{0, 3000, {"x"}, 0, white, 25.0f}}},
    // Start and end at the limits.
    {"end saturates", d("2147483.000"), 0, {{2147483000, max32, {"x"}, 1, white, 25.0f}}},
    {"start out of range", d("3000000"), 0, {{min32, min32 + 3000, {"x"}, 1, white, 25.0f}}},
    {"start below range", d("-2147484"), 0, {{min32, min32 + 3000, {"x"}, 1, white, 25.0f}}},
    {"start not a number", d("nan"), 0, {{min32, -2147480648, {"x"}, 1, white, 25.0f}}},
    {"start infinite", d("inf"), 0, {{min32, -2147480648, {"x"}, 1, white, 25.0f}}},
    // Font size: a double rounded to float.
    {"font size 0.1", d("0,1,0.1"), 0, {{0, 3000, {"x"}, 1, white, 0.1f}}},
    {"font size overflows", d("0,1,1e39"), 0, {{0, 3000, {"x"}, 1, white, inf}}},
    // Text.
    {"empty text", d("1", ""), 0, {{1000, 4000, {""}, 1, white, 25.0f}}},
    {"blank text", d("1", " \t\n "), 0, {{1000, 4000, {""}, 1, white, 25.0f}}},
    {"line break kept", d("1", " a\nb "), 0, {{1000, 4000, {"a\nb"}, 1, white, 25.0f}}},
    {"markup dropped, escapes shown",
     d("1", "<b>a</b>&lt;i&gt;"),
     0,
     {{1000, 4000, {"a<i>"}, 1, white, 25.0f}}},
    // Attribute lookup.
    {"apostrophes", "<d p='4,6'>x</d>", 0, {{4000, 7000, {"x"}, 6, white, 25.0f}}},
    {"p matched as a name suffix",
     "<d clip=\"5\" p=\"1\">x</d>",
     0,
     {{5000, 8000, {"x"}, 1, white, 25.0f}}},
    {"upper-case P", "<d P=\"2\">x</d>", 0, {{2000, 5000, {"x"}, 1, white, 25.0f}}},
    {"blank before =", "<d p =\"1\">x</d>", 5, {}},
    // Element scan.
    {"document order, not sorted",
     "<i><d p=\"9\">b</d>\n<d p=\"2\">a</d></i>",
     0,
     {{9000, 12000, {"b"}, 1, white, 25.0f}, {2000, 5000, {"a"}, 1, white, 25.0f}}},
    {"element without p skipped",
     "<d x=\"1\">a</d><d p=\"2\">b</d>",
     0,
     {{2000, 5000, {"b"}, 1, white, 25.0f}}},
    {"upper-case D", "<D p=\"1\">x</D>", 5, {}},
    {"upper-case close", "<d p=\"1\">x</D>", 5, {}},
    {"tab after d", "<d\tp=\"1\">x</d>", 5, {}},
    {"two spaces after d", "<d  p=\"1\">x</d>", 0, {{1000, 4000, {"x"}, 1, white, 25.0f}}},
    {"no closing tag", "<d p=\"1\">a<d p=\"2\">b", 5, {}},
    // The text runs to the next "</d>", wherever it is.
    {"self-closing takes the next text",
     "<d p=\"1\"/><d p=\"2\">b</d><d p=\"3\">c</d>",
     0,
     {{1000, 4000, {"b"}, 1, white, 25.0f}, {3000, 6000, {"c"}, 1, white, 25.0f}}},
    {"missing '>' ends the scan",
     "<d p=\"1\">a</d><d p=\"2\"",
     0,
     {{1000, 4000, {"a"}, 1, white, 25.0f}}},
    {"nothing", "<i></i>", 5, {}},
    {"only text", "hello", 5, {}},
    // The text ends at its first NUL.
    {"NUL", "<d p=\"1\">a</d>\0<d p=\"2\">b</d>"s, 0, {{1000, 4000, {"a"}, 1, white, 25.0f}}},
    {"NUL inside the element", "<d p=\"1\">a\0</d>"s, 5, {}},
    // The tag copy keeps 1023 bytes.
    {"tag uncut", padded_tag(1019, "7,5"), 0, {{7000, 10000, {"x"}, 5, white, 25.0f}}},
    {"tag cut after the mode's comma",
     padded_tag(1021, "7,5"),
     0,
     {{7000, 10000, {"x"}, 1, white, 25.0f}}},
    {"tag cut after the time", padded_tag(1022, "7,5"), 0, {{7000, 10000, {"x"}, 1, white, 25.0f}}},
    {"tag cut after the quote", padded_tag(1023, "7,5"), 0, {{0, 3000, {"x"}, 1, white, 25.0f}}},
    {"tag cut before the quote", padded_tag(1024, "7,5"), 5, {}},
    // The p value keeps 511 bytes.
    {"p uncut", d("2" + std::string(508, ',') + "77"), 0, {{2000, 5000, {"x"}, 77, white, 25.0f}}},
    {"p cut", d("2" + std::string(509, ',') + "77"), 0, {{2000, 5000, {"x"}, 7, white, 25.0f}}},
};

}  // namespace

TEST(BilibiliParser, Table) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const int rc = sub_parse(row.doc.data(), row.doc.size(), SUB_FMT_BILIBILI, nullptr);
    EXPECT_EQ(rc, row.rc);
    EXPECT_STREQ(sub_last_error(), row.rc == 0 ? "" : no_cue.c_str());
    EXPECT_EQ(sub_detected_format(), row.rc == 0 ? 9 : -1);
    subtest::expect_danmaku(subtest::current_danmaku(), row.cues);
  }
  sub_clear();
}

// The parser itself reads up to the first NUL, whatever length it is given.
TEST(BilibiliParser, LengthIgnored) {
  const std::string doc = d("1", "a") + '\0' + d("2", "b");
  sub_doc_reset(sub_classic_doc());
  EXPECT_EQ(sub_parse_bilibili(sub_classic_doc(), doc.c_str(), doc.size()), 0);
  EXPECT_EQ(sub_cue_count(), 1);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_BILIBILI);
  sub_clear();
}

TEST(BilibiliParser, Json) {
  struct JsonRow {
    std::string doc;
    std::string want;
  };
  const std::string head = R"({"format":"bilibili","cues":[)";
  const JsonRow json_rows[] = {
      {d("12.5,1,25,16777215,0,0,abc,1", "Hi &amp; bye"),
       head +
           R"({"start":12500,"end":15500,"lines":["Hi & bye"],"danmu":true,"mode":1,"color":16777215,"fontsize":25.0}]})"},
      {d("1,-1,18.5,255", "") + d("2,1,0.1,0", "a\"b"),
       head +
           R"({"start":1000,"end":4000,"lines":[""],"danmu":true,"mode":-1,"color":255,"fontsize":18.5},)" +
           R"({"start":2000,"end":5000,"lines":["a\"b"],"danmu":true,"mode":1,"color":0,"fontsize":0.10000000149011612}]})"},
      {d("2147483.000"),
       head +
           R"({"start":2147483000,"end":2147483647,"lines":["x"],"danmu":true,"mode":1,"color":16777215,"fontsize":25.0}]})"},
      {d("nan"),
       head +
           R"({"start":-2147483648,"end":-2147480648,"lines":["x"],"danmu":true,"mode":1,"color":16777215,"fontsize":25.0}]})"},
      {d("0,1,1e39"),
       head +
           R"({"start":0,"end":3000,"lines":["x"],"danmu":true,"mode":1,"color":16777215,"fontsize":null}]})"},
  };
  for (const JsonRow &row : json_rows) {
    SCOPED_TRACE(row.doc);
    ASSERT_EQ(sub_parse(row.doc.data(), row.doc.size(), SUB_FMT_BILIBILI, nullptr), SUB_OK);
    EXPECT_EQ(std::string(sub_result_json()), row.want);
  }
  sub_clear();
}

TEST(BilibiliParser, Detection) {
  struct DetectRow {
    std::string doc;
    int32_t want;
  };
  const DetectRow detect_rows[] = {
      {R"(<?xml version="1.0"?><i><d p="1,1,25,1">a</d></i>)", 9},
      {R"(<i><d p ="1">a</d></i>)", 9},
      {R"(<i><D p="1">a</D></i>)", -1},
      {R"(<i><d  p="1">a</d></i>)", -1},
  };
  for (const DetectRow &row : detect_rows) {
    SCOPED_TRACE(row.doc);
    EXPECT_EQ(sub_detect_format(row.doc.data(), row.doc.size(), nullptr), row.want);
  }

  const std::string doc = R"(<?xml version="1.0"?><i><d p="3,1,25,255">a</d></i>)";
  ASSERT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_BILIBILI);
  EXPECT_STREQ(sub_last_error(), "");
  // Detected but not readable: the Bilibili parser is not followed by others.
  const std::string spaced = R"(<i><d p ="1">a</d></i>)";
  EXPECT_EQ(sub_parse(spaced.data(), spaced.size(), SUB_FMT_AUTO, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), "no Bilibili danmaku");
  sub_clear();
}

// A danmaku file handed over as YouTube XML is read by the second chance.
TEST(BilibiliParser, SecondChanceAfterYouTube) {
  const std::string doc = R"(<i><d p="3,1,25,255">a</d></i>)";
  ASSERT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_YTXML, nullptr), SUB_OK);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_BILIBILI);
  EXPECT_STREQ(sub_last_error(), "no YouTube XML cues");
  EXPECT_EQ(sub_cue_count(), 1);
  EXPECT_EQ(sub_cue_is_danmu(0), 1);
  EXPECT_EQ(std::string(sub_result_json()).rfind(R"({"format":"bilibili",)", 0), 0u);

  const std::string neither = "<i>nothing</i>";
  EXPECT_EQ(sub_parse(neither.data(), neither.size(), SUB_FMT_YTXML, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), "no Bilibili danmaku");
  EXPECT_STREQ(sub_result_json(), "{}");
  sub_clear();
}

// Elements that never close cost one pass, not one search per element.
TEST(BilibiliParser, UnclosedElementsAreLinear) {
  std::string doc;
  while (doc.size() < (4u << 20)) doc += "<d p=\"1\">x";
  EXPECT_TRUE(subtest::parses_within(doc, SUB_FMT_BILIBILI, 5, 3.0));
  EXPECT_STREQ(sub_last_error(), "no Bilibili danmaku");
  sub_clear();
}

TEST(BilibiliParser, AllocationFailures) {
  const std::string doc = d("1,1,25,255", "a") + d("2", "b") + d("3", "");
  for (const int32_t format : {-1, 9}) {
    SCOPED_TRACE(format);
    EXPECT_GT(subtest::parse_under_allocation_failures(
                  [&] { return sub_parse(doc.data(), doc.size(), format, nullptr); }, {0, 4, 5},
                  SUB_FMT_BILIBILI,
                  [](int) {
                    for (int32_t i = 0; i < sub_cue_count(); ++i) EXPECT_EQ(sub_cue_is_danmu(i), 1);
                  }),
              0u);
  }
}

TEST(BilibiliCorpus, EveryFileParses) {
  const auto counts = subtest::run_corpus("bilibili", {}, SUB_FMT_BILIBILI);
  if (!counts) GTEST_SKIP() << "no Bilibili corpus";
  EXPECT_EQ(counts->files, 17u);
  EXPECT_EQ(counts->detected, (subtest::Tally{{"bilibili", 17}}));
  EXPECT_EQ(counts->own, (subtest::Tally{{"bilibili", 17}}));
}
