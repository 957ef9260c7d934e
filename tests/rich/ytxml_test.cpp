// YouTube timed-text XML: the <text> element scan (any letter case, a space
// or '>' after the name), single-precision times with the end taken from the
// sum of the seconds, the cases that add nothing, the 511-byte tag and
// 63-byte value cuts, the text up to the first NUL, detection, the Bilibili
// second chance, linear time on unclosed elements, allocation failures and
// the real files of the shared corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::CueView;

namespace {

// One element with the given start and dur values and text.
std::string t(const std::string &start, const std::string &dur, const std::string &text = "x") {
  return "<text start=\"" + start + "\" dur=\"" + dur + "\">" + text + "</text>";
}

// A tag whose dur value "25" begins at byte `value_at` of the tag.
std::string padded_tag(size_t value_at) {
  return "<text a=\"" + std::string(value_at - 26, 'A') + "\" start=\"1\" dur=\"25\">x</text>";
}

struct Row {
  const char *name;
  std::string doc;
  int rc;
  std::vector<CueView> cues;
};

const Row rows[] = {
    {"plain", t("1.5", "2", "Hello"), 0, {{1500, 3500, {"Hello"}}}},
    // Single precision throughout; the end comes from the sum of the seconds.
    {"tenths", t("0.1", "0.2", "a"), 0, {{100, 300, {"a"}}}},
    {"float product", t("1.234", "1"), 0, {{1234, 2234, {"x"}}}},
    {"float product, large", t("12345.678", "1.5"), 0, {{12345678, 12347178, {"x"}}}},
    {"end from the sum", t("0.1", "2.3"), 0, {{100, 2399, {"x"}}}},
    {"end in single precision", t("0.1", "0.7"), 0, {{100, 800, {"x"}}}},
    {"negative start", t("-1", "3"), 0, {{-1000, 2000, {"x"}}}},
    // Values read as strtod reads them.
    {"exponent", t("1e3", "1"), 0, {{1000000, 1001000, {"x"}}}},
    {"hexadecimal", t("0x10", "1"), 0, {{16000, 17000, {"x"}}}},
    {"leading blank, trailing unit", t(" 2", "1.5s"), 0, {{2000, 3500, {"x"}}}},
    {"start not a number", t("abc", "1"), 0, {{0, 1000, {"x"}}}},
    {"no start", "<text dur=\"2\">x</text>", 0, {{0, 2000, {"x"}}}},
    // Nothing added.
    {"no dur", "<text start=\"2\">x</text>", 5, {}},
    {"dur 0", t("2", "0"), 5, {}},
    {"negative dur", t("2", "-0.5"), 5, {}},
    {"no times", "<text>x</text>", 5, {}},
    {"start out of range", t("3000000", "1"), 5, {}},
    {"start not a number (nan)", t("nan", "1"), 5, {}},
    {"self-closing", "<text start=\"1\" dur=\"1\"/>", 5, {}},
    {"self-closing with a blank", "<text start=\"1\" dur=\"1\" />", 5, {}},
    {"empty text", t("1", "1", ""), 5, {}},
    {"blank text", t("1", "1", " \n\t"), 5, {}},
    {"markup only", t("1", "1", "<br/>"), 5, {}},
    {"no closing tag", "<text start=\"1\" dur=\"1\">a", 5, {}},
    {"textarea", "<textarea start=\"1\" dur=\"1\">x</textarea>", 5, {}},
    {"tab after the name", "<text\tstart=\"1\" dur=\"1\">x</text>", 5, {}},
    {"line break after the name", "<text\nstart=\"1\" dur=\"1\">x</text>", 5, {}},
    {"name at the end", "<text", 5, {}},
    {"nothing", "<transcript></transcript>", 5, {}},
    // Letter case, quotes, attribute lookup.
    {"upper case", "<TEXT START=\"1\" DUR=\"1\">x</TEXT>", 0, {{1000, 2000, {"x"}}}},
    {"mixed-case close", "<text start=\"1\" dur=\"1\">x</TeXt>", 0, {{1000, 2000, {"x"}}}},
    {"apostrophes", "<text start='1' dur='2'>x</text>", 0, {{1000, 3000, {"x"}}}},
    {"start matched as a name suffix",
     "<text xstart=\"5\" start=\"1\" dur=\"1\">x</text>",
     0,
     {{5000, 6000, {"x"}}}},
    {"'>' inside a value ends the tag",
     "<text start=\"1\" dur=\"1\" v=\"a>b\">c</text>",
     0,
     {{1000, 2000, {"b\"c"}}}},
    // Text.
    {"references decoded once", t("1", "1", "I&amp;#39;m"), 0, {{1000, 2000, {"I&#39;m"}}}},
    {"line break kept", t("1", "1", "Hello\nWorld"), 0, {{1000, 2000, {"Hello\nWorld"}}}},
    {"inner markup dropped",
     t("1", "1", "<font color=\"#fff\">Hi</font>"),
     0,
     {{1000, 2000, {"Hi"}}}},
    // A raw '>' is dropped like any stray one.
    {"escaped '<' kept, raw '>' dropped",
     t("1", "1", "&lt;i>not&lt;/i> so"),
     0,
     {{1000, 2000, {"<inot</i so"}}}},
    {"escaped markup shown",
     t("1", "1", "&lt;i&gt;not&lt;/i&gt;"),
     0,
     {{1000, 2000, {"<i>not</i>"}}}},
    // Element scan.
    {"document order, not sorted",
     "<transcript>" + t("5", "1", "b") + "\n" + t("1", "1", "a"),
     0,
     {{5000, 6000, {"b"}}, {1000, 2000, {"a"}}}},
    {"self-closing, then an element",
     "<text start=\"1\" dur=\"1\"/>" + t("2", "1", "b"),
     0,
     {{2000, 3000, {"b"}}}},
    {"unclosed element runs to the next close",
     "<text start=\"1\" dur=\"1\">a<text start=\"2\" dur=\"1\">b</text>",
     0,
     {{1000, 2000, {"ab"}}}},
    {"missing '>' ends the scan",
     t("1", "1", "a") + "<text start=\"2\" dur=\"1\"",
     0,
     {{1000, 2000, {"a"}}}},
    {"NUL", t("1", "1", "a") + '\0' + t("2", "1", "b"), 0, {{1000, 2000, {"a"}}}},
    {"NUL inside the element", "<text start=\"1\" dur=\"1\">a\0</text>"s, 5, {}},
    // The tag copy keeps 511 bytes, a value 63.
    {"tag cut at the closing quote", padded_tag(509), 0, {{1000, 26000, {"x"}}}},
    {"tag cut in dur", padded_tag(510), 0, {{1000, 3000, {"x"}}}},
    {"tag cut after the quote", padded_tag(511), 5, {}},
    {"value uncut", t("0", std::string(61, '0') + "12"), 0, {{0, 12000, {"x"}}}},
    {"value cut", t("0", std::string(62, '0') + "12"), 0, {{0, 1000, {"x"}}}},
};

}  // namespace

TEST(YtxmlParser, Table) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    sub_doc_reset(sub_classic_doc());
    EXPECT_TRUE(subtest::parse_left(
        sub_parse_ytxml(sub_classic_doc(), row.doc.c_str(), row.doc.size()), row.rc,
        row.rc == 0 ? "" : "no YouTube XML cues", SUB_FMT_YTXML, row.cues));
    for (int32_t i = 0; i < sub_cue_count(); ++i) EXPECT_EQ(sub_cue_is_danmu(i), 0);
    // The same through sub_parse; a failure goes on to the Bilibili parser.
    EXPECT_TRUE(subtest::parse_left(
        sub_parse(row.doc.data(), row.doc.size(), SUB_FMT_YTXML, nullptr), row.rc,
        row.rc == 0 ? "" : "no Bilibili danmaku", SUB_FMT_YTXML, row.cues));
  }
  sub_clear();
}

TEST(YtxmlParser, Json) {
  const std::string doc = t("1.5", "2", "Say \"hi\"\n/ bye") + t("-1", "3", "é");
  ASSERT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_YTXML, nullptr), SUB_OK);
  EXPECT_EQ(std::string(sub_result_json()),
            R"({"format":"ytxml","cues":[{"start":1500,"end":3500,"lines":["Say \"hi\"\n/ bye"]},)"
            R"({"start":-1000,"end":2000,"lines":["é"]}]})");
  sub_clear();
}

TEST(YtxmlParser, Detection) {
  struct DetectRow {
    std::string doc;
    int32_t want;
  };
  const DetectRow detect_rows[] = {
      {"<?xml version=\"1.0\"?><transcript>" + t("1", "1") + "</transcript>", 6},
      {"<transcript><text start=\"1\">x</text></transcript>", -1},  // no dur=
      {"<transcript><TEXT START=\"1\" DUR=\"1\">x</TEXT></transcript>", -1},
      {"<transcript><text\nstart=\"1\" dur=\"1\">x</text></transcript>", -1},
  };
  for (const DetectRow &row : detect_rows) {
    SCOPED_TRACE(row.doc);
    EXPECT_EQ(sub_detect_format(row.doc.data(), row.doc.size(), nullptr), row.want);
  }

  const std::string doc = "<transcript>" + t("1", "1") + "</transcript>";
  ASSERT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_YTXML);
  // Not detected, but read in the fallback order.
  const std::string upper = "<transcript><TEXT START=\"1\" DUR=\"1\">x</TEXT></transcript>";
  ASSERT_EQ(sub_parse(upper.data(), upper.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_YTXML);
  EXPECT_TRUE(subtest::cues_are({{1000, 2000, {"x"}}}));
  sub_clear();
}

// A Bilibili file given as YouTube XML: the second chance reads it, and the
// YouTube parser's message stays.
TEST(YtxmlParser, BilibiliSecondChance) {
  const std::string doc = "<i><d p=\"3,1,25,255\">a</d></i>";
  ASSERT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_YTXML, nullptr), SUB_OK);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_BILIBILI);
  EXPECT_STREQ(sub_last_error(), "no YouTube XML cues");
  EXPECT_TRUE(subtest::cues_are({{3000, 6000, {"a"}}}));
  EXPECT_EQ(sub_cue_is_danmu(0), 1);
  sub_clear();
}

// Elements that never close cost one pass, not one search per element.
TEST(YtxmlParser, UnclosedElementsAreLinear) {
  std::string doc;
  while (doc.size() < (4u << 20)) doc += "<text start=\"1\" dur=\"1\">x";
  const double seconds = subtest::seconds_to_run([&] {
    sub_doc_reset(sub_classic_doc());
    EXPECT_EQ(sub_parse_ytxml(sub_classic_doc(), doc.c_str(), doc.size()), 5);
    EXPECT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_YTXML, nullptr), SUB_ERR_NOCUES);
  });
  EXPECT_LT(seconds, 3.0);
  sub_clear();
}

TEST(YtxmlParser, AllocationFailures) {
  const std::string doc =
      "<transcript>" + t("1", "1", "a") + t("2", "1", "b &amp; c") + "</transcript>";
  for (const int32_t format : {-1, 6}) {
    SCOPED_TRACE(format);
    EXPECT_GT(subtest::parse_under_allocation_failures(
                  [&] { return sub_parse(doc.data(), doc.size(), format, nullptr); }, {0, 4, 5},
                  SUB_FMT_YTXML),
              0u);
  }
}

TEST(YtxmlCorpus, EveryFileParses) {
  const auto counts = subtest::run_corpus("ytxml", {}, SUB_FMT_YTXML);
  if (!counts) GTEST_SKIP() << "no YouTube XML corpus";
  EXPECT_EQ(counts->files, 2u);
  EXPECT_EQ(counts->detected, (subtest::Tally{{"ytxml", 2}}));
  EXPECT_EQ(counts->own, (subtest::Tally{{"ytxml", 2}}));
}
