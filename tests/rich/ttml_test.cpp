// TTML: the five-tag scan, timing parameters (tick rate, frame rate and its
// multiplier, replaced by later tags), offset and clock times, begin/end/dur,
// div offsets (nesting, popping, more than eight levels, timeContainer),
// paragraph text, the two default-rate warnings, sub_parse with format 5 and
// with detection, the JSON document, allocation failures, inputs built to
// defeat a quadratic scan, and the real files of the shared corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::CueView;
using subtest::repeat;

namespace {

constexpr const char *no_cues = "no TTML cues";
constexpr const char *warn_frame = "ttml: ttp:frameRate missing, defaulting to 25";
constexpr const char *warn_tick = "ttml: ttp:tickRate missing, defaulting to 10000";
constexpr int32_t max32 = 2147483647;

std::string p(const std::string &attrs, const std::string &text = "x") {
  return "<p " + attrs + ">" + text + "</p>";
}

// head + padding + tail, padded so that exactly `kept` bytes of the tail fall
// within the first `limit` bytes of the tag.
std::string cut_tag(const std::string &head, const std::string &tail, size_t limit, size_t kept) {
  return head + std::string(limit - head.size() - kept, 'A') + tail;
}

std::string tc(const std::string &container) {
  return "ttml: timeContainer=\"" + container + "\" unsupported, div begin ignored";
}

const std::string frames = p("begin=\"25f\" end=\"50f\"");
const std::string frames_dur = p("begin=\"1m25f\" dur=\"1s\"");  // unreadable: start 0
const std::string ticks = p("begin=\"10t\" end=\"20t\"");
const std::string ticks_dur = p("begin=\"1m10t\" dur=\"1s\"");
const std::string one_two = p("begin=\"1s\" end=\"2s\"");

struct Row {
  const char *name;
  std::string doc;
  int rc;
  const char *error;
  std::vector<CueView> cues;
  std::vector<std::string> warnings;
};

// One row per case: document, code, error text, cues, warnings.
// clang-format off
const Row rows[] = {
    // The scan.
    {"a whole document",
     "<?xml version=\"1.0\"?>\n<tt xmlns=\"http://www.w3.org/ns/ttml\">\n<body>\n<div>\n"
     "<p begin=\"00:00:01.000\" end=\"00:00:02.500\">Hello</p>\n</div>\n</body>\n</tt>\n",
     0, "", {{1000, 2500, {"Hello"}}}, {}},
    {"names end with a blank or '>'",
     "<tt\tttp:tickRate=\"10\"><body\n><div\rbegin=\"5s\"><p\nbegin=\"10t\"\tend=\"20t\">x</p>",
     0, "", {{6000, 7000, {"x"}}}, {}},
    {"any letter case", "<TT TTP:TICKRATE=\"10\"><P BEGIN=\"10t\" END=\"20t\">x</P>",
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"<ttml is not <tt", "<ttml ttp:tickRate=\"10\">" + ticks, 0, "", {{1, 2, {"x"}}}, {warn_tick}},
    {"<pre is not <p", "<pre begin=\"1s\" end=\"2s\">a</pre>" + p("begin=\"3s\" end=\"4s\"", "b"),
     0, "", {{3000, 4000, {"b"}}}, {}},
    {"<division is not <div",
     "<div begin=\"10s\"><division begin=\"5s\">" + one_two + "<division>" + one_two,
     0, "", {{11000, 12000, {"x"}}, {11000, 12000, {"x"}}}, {}},
    {"</div followed by anything pops",
     "<div begin=\"10s\"><division begin=\"5s\"></division>" + one_two,
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"prefixed elements are not read", "<tt:tt><tt:body><tt:p begin=\"1s\" end=\"2s\">x</tt:p>",
     5, no_cues, {}, {}},
    {"a name at the end of the text", one_two + "<p", 0, "", {{1000, 2000, {"x"}}}, {}},
    {"a tag without '>' ends the scan", one_two + "<p begin=\"3s\" end=\"4s\"",
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"a parameter tag without '>' ends the scan", "<tt ttp:tickRate=\"10\"", 5, no_cues, {}, {}},
    {"a self-closing paragraph takes the text up to the next </p>",
     "<p begin=\"1s\" end=\"2s\"/>a<p begin=\"3s\" end=\"4s\">b</p>" +
         p("begin=\"5s\" end=\"6s\"", "c"),
     0, "", {{1000, 2000, {"ab"}}, {5000, 6000, {"c"}}}, {}},
    {"paragraphs without </p> are skipped",
     "<p begin=\"1s\" end=\"2s\">a<p begin=\"3s\" end=\"4s\">b",
     5, no_cues, {}, {}},
    {"</p> in any case", "<p begin=\"1s\" end=\"2s\">a</P>", 0, "", {{1000, 2000, {"a"}}}, {}},
    {"the text ends at its first NUL", one_two + "\0"s + p("begin=\"3s\" end=\"4s\""),
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"cues in document order", p("begin=\"5s\" end=\"6s\"", "a") + one_two,
     0, "", {{5000, 6000, {"a"}}, {1000, 2000, {"x"}}}, {}},
    {"a <p> tag is read from its first 511 bytes (value cut to \"2.5\")",
     cut_tag("<p begin=\"1s\" a=\"", "\" end=\"2.5s\">x</p>", 511, 10),
     0, "", {{1000, 2500, {"x"}}}, {}},
    {"a <p> tag is read from its first 511 bytes (value cut to \"2.\")",
     cut_tag("<p begin=\"1s\" a=\"", "\" end=\"2.5s\">x</p>", 511, 9),
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"a parameter tag is read from its first 1023 bytes (value cut to \"100\")",
     cut_tag("<tt a=\"", "\" ttp:tickRate=\"100\">", 1023, 19) + ticks,
     0, "", {{100, 200, {"x"}}}, {}},
    {"a parameter tag is read from its first 1023 bytes (value cut to \"10\")",
     cut_tag("<tt a=\"", "\" ttp:tickRate=\"100\">", 1023, 18) + ticks,
     0, "", {{1000, 2000, {"x"}}}, {}},
    // Timing parameters.
    {"tick rate", "<tt ttp:tickRate=\"10000000\">" + p("begin=\"10000000t\" end=\"20000000t\""),
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"tick rate: the number at the start", "<tt ttp:tickRate=\"10abc\">" + ticks,
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"tick rate 0", "<tt ttp:tickRate=\"0\">" + ticks_dur, 0, "", {{0, 1000, {"x"}}}, {}},
    {"tick rate negative", "<tt ttp:tickRate=\"-5\">" + ticks_dur, 0, "", {{0, 1000, {"x"}}}, {}},
    {"tick rate not a number", "<tt ttp:tickRate=\"abc\">" + ticks_dur,
     0, "", {{0, 1000, {"x"}}}, {}},
    {"frame rate with multiplier \"1000 1001\"",
     "<tt ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"1000 1001\">" + frames,
     0, "", {{834, 1668, {"x"}}}, {}},
    {"multiplier \"1000;1001\"",
     "<tt ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"1000;1001\">" + frames,
     0, "", {{834, 1668, {"x"}}}, {}},
    {"frame rate without multiplier", "<tt ttp:frameRate=\"30\">" + frames,
     0, "", {{833, 1666, {"x"}}}, {}},
    {"multiplier with a zero denominator is ignored",
     "<tt ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"1000 0\">" + frames,
     0, "", {{833, 1666, {"x"}}}, {}},
    {"multiplier with an unreadable denominator is ignored",
     "<tt ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"1000 x\">" + frames,
     0, "", {{833, 1666, {"x"}}}, {}},
    {"multiplier as a lone number",
     "<tt ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"2\">" + frames,
     0, "", {{416, 833, {"x"}}}, {}},
    {"multiplier below 1",
     "<tt ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"1 2\">" + frames,
     0, "", {{1666, 3333, {"x"}}}, {}},
    {"multiplier 0 makes frame times unreadable",
     "<tt ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"0\">" + frames_dur,
     0, "", {{0, 1000, {"x"}}}, {}},
    {"negative multiplier makes frame times unreadable",
     "<tt ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"-1 1\">" + frames_dur,
     0, "", {{0, 1000, {"x"}}}, {}},
    {"frame rate 0", "<tt ttp:frameRate=\"0\">" + frames_dur, 0, "", {{0, 1000, {"x"}}}, {}},
    {"a multiplier without a frame rate in its tag is not read",
     "<tt ttp:frameRate=\"30\"><body ttp:frameRateMultiplier=\"2\">" + frames,
     0, "", {{833, 1666, {"x"}}}, {}},
    {"a multiplier without any frame rate", "<tt ttp:frameRateMultiplier=\"2\">" + frames,
     0, "", {{1000, 2000, {"x"}}}, {warn_frame}},
    {"parameters on <body>", "<tt><body ttp:tickRate=\"10\" ttp:frameRate=\"50\">" + ticks + frames,
     0, "", {{1000, 2000, {"x"}}, {500, 1000, {"x"}}}, {}},
    {"parameters on a closing div", "<div></div ttp:tickRate=\"10\">" + ticks,
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"later tags replace parameters and they stay after the div",
     "<tt ttp:tickRate=\"10\">" + ticks + "<div ttp:tickRate=\"100\">" + ticks + "</div>" + ticks,
     0, "", {{1000, 2000, {"x"}}, {100, 200, {"x"}}, {100, 200, {"x"}}}, {}},
    {"a later frame rate keeps the multiplier",
     "<tt ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"2\"><body ttp:frameRate=\"25\">" + frames,
     0, "", {{500, 1000, {"x"}}}, {}},
    // Clock times and the begin/end/dur rules.
    {"clock times with frames ignored", p("begin=\"00:00:01:12\" end=\"00:00:02:00\""),
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"minutes and seconds, comma fraction", p("begin=\"01:02\" end=\"1:02:03,5\""),
     0, "", {{62000, 3723500, {"x"}}}, {}},
    {"clock read before offset", p("begin=\"1:30s\" end=\"-00:02:00\""),
     0, "", {{90000, 120000, {"x"}}}, {}},
    {"largest clock time", p("begin=\"1s\" end=\"596:31:23.647\""),
     0, "", {{1000, max32, {"x"}}}, {}},
    {"clock time beyond 32 bits is unreadable", p("begin=\"1s\" end=\"596:31:23.648\" dur=\"1s\""),
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"no begin", p("end=\"2s\""), 0, "", {{0, 2000, {"x"}}}, {}},
    {"empty begin", p("begin=\"\" end=\"2s\""), 0, "", {{0, 2000, {"x"}}}, {}},
    {"unreadable begin", p("begin=\"soon\" end=\"2s\""), 0, "", {{0, 2000, {"x"}}}, {}},
    {"negative begin", p("begin=\"-5s\" end=\"2s\""), 0, "", {{0, 2000, {"x"}}}, {}},
    {"end before dur", p("begin=\"1s\" end=\"3s\" dur=\"1s\""), 0, "", {{1000, 3000, {"x"}}}, {}},
    {"dur is not read when end is", p("begin=\"1s\" end=\"3s\" dur=\"10t\""),
     0, "", {{1000, 3000, {"x"}}}, {}},
    {"unreadable end falls back to dur", p("begin=\"1s\" end=\"later\" dur=\"1.5s\""),
     0, "", {{1000, 2500, {"x"}}}, {}},
    {"negative end falls back to dur", p("begin=\"1s\" end=\"-1s\" dur=\"1s\""),
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"empty end falls back to dur", p("begin=\"1s\" end=\"\" dur=\"1s\""),
     0, "", {{1000, 2000, {"x"}}}, {}},
    {"dur without begin", p("dur=\"2s\""), 0, "", {{0, 2000, {"x"}}}, {}},
    {"clock dur is unreadable", p("begin=\"1s\" dur=\"00:00:01.500\""), 5, no_cues, {}, {}},
    {"start + dur saturates", p("begin=\"596h\" dur=\"596h\""),
     0, "", {{2145600000, max32, {"x"}}}, {}},
    {"no cue: end before start, equal, dur 0, no end, no timing",
     p("begin=\"2s\" end=\"1s\"") + p("begin=\"2s\" end=\"2s\"") + p("begin=\"2s\" dur=\"0s\"") +
         p("begin=\"1s\"") + "<p>text</p>",
     5, no_cues, {}, {}},
    {"no cue: empty text",
     p("begin=\"1s\" end=\"2s\"", "") + p("begin=\"1s\" end=\"2s\"", " <span> </span>\n"),
     5, no_cues, {}, {}},
    // Div offsets.
    {"a div offset counts below its sum, not at or above",
     "<div begin=\"10s\">" + p("begin=\"2s\" end=\"3s\"", "a") +
         p("begin=\"15s\" end=\"16s\"", "b") + p("begin=\"2s\" end=\"13s\"", "c") +
         p("begin=\"2s\" dur=\"1s\"", "d") + p("end=\"3s\"", "e") +
         p("begin=\"10s\" end=\"11s\"", "f") + "</div>",
     0, "", {{12000, 13000, {"a"}}, {15000, 16000, {"b"}}, {12000, 13000, {"c"}},
             {12000, 13000, {"d"}}, {0, 13000, {"e"}}, {10000, 11000, {"f"}}}, {}},
    {"nested divs and popping",
     "<div begin=\"10s\"><div begin=\"5s\">" + p("begin=\"1s\" end=\"2s\"", "a") + "</div>" +
         p("begin=\"1s\" end=\"2s\"", "b") + "</div>" + p("begin=\"1s\" end=\"2s\"", "c") +
         "</div></div>" + p("begin=\"1s\" end=\"2s\"", "d"),
     0, "", {{16000, 17000, {"a"}}, {11000, 12000, {"b"}}, {1000, 2000, {"c"}},
             {1000, 2000, {"d"}}}, {}},
    {"divs without begin, with an unreadable or negative begin add 0",
     "<div><div begin=\"never\"><div begin=\"-5s\">" + one_two, 0, "", {{1000, 2000, {"x"}}}, {}},
    {"div begins as clock and tick times with the div's own rate",
     "<div begin=\"00:00:10.000\"><div ttp:tickRate=\"10\" begin=\"50t\">" + one_two,
     0, "", {{16000, 17000, {"x"}}}, {}},
    {"eight levels add up", repeat("<div begin=\"1s\">", 8) + one_two + "</div>" + one_two,
     0, "", {{9000, 10000, {"x"}}, {8000, 9000, {"x"}}}, {}},
    {"divs beyond eight add nothing and their closing tags pop nothing",
     repeat("<div begin=\"1s\">", 10) + p("begin=\"1s\" end=\"2s\"", "a") + "</div></div>" +
         p("begin=\"1s\" end=\"2s\"", "b") + "</div>" + p("begin=\"1s\" end=\"2s\"", "c"),
     0, "", {{9000, 10000, {"a"}}, {9000, 10000, {"b"}}, {8000, 9000, {"c"}}}, {}},
    {"timeContainer par in any case, or empty",
     "<div timeContainer=\"par\" begin=\"1s\"><div timeContainer=\"PAR\" begin=\"2s\">"
     "<div timeContainer=\"\" begin=\"3s\">" + one_two,
     0, "", {{7000, 8000, {"x"}}}, {}},
    {"timeContainer seq: warning for each div with a begin, offset 0",
     "<div begin=\"10s\"><div timeContainer=\"seq\" begin=\"5s\">"
     "<div timeContainer=\"Sequence\" begin=\"1s\"><div timeContainer=\"seq\">" + one_two,
     0, "", {{11000, 12000, {"x"}}}, {tc("seq"), tc("Sequence")}},
    // Text.
    {"markup removed, <br/> joins",
     p("begin=\"1s\" end=\"2s\"", "  <span tts:color=\"red\">a</span><br/>b  "),
     0, "", {{1000, 2000, {"ab"}}}, {}},
    {"source line breaks kept",
     p("begin=\"1s\" end=\"2s\"", "\n  Line one<br/>\nLine two\r\nthree\n  "),
     0, "", {{1000, 2000, {"Line one\nLine two\r\nthree"}}}, {}},
    {"references decoded after markup removal",
     p("begin=\"1s\" end=\"2s\"", "&lt;i&gt;a&lt;/i&gt; &amp; caf&#233; &quot;q&quot;"),
     0, "", {{1000, 2000, {"<i>a</i> & caf\u00e9 \"q\""}}}, {}},
    {"text cut at 65535 bytes", p("begin=\"1s\" end=\"2s\"", std::string(70000, 'y')),
     0, "", {{1000, 2000, {std::string(65535, 'y')}}}, {}},
    // Warnings.
    {"each default-rate warning once per parse",
     p("begin=\"25f\" end=\"20000t\"") + p("begin=\"50f\" end=\"30000t\"") +
         "<div begin=\"100t\">" + p("begin=\"75f\" dur=\"10000t\""),
     0, "", {{1000, 2000, {"x"}}, {2000, 3000, {"x"}}, {3000, 4000, {"x"}}},
     {warn_frame, warn_tick}},
    {"warnings stay when no cue is made", p("begin=\"10t\"") + p("dur=\"1f\"", ""),
     5, no_cues, {}, {warn_tick, warn_frame}},
};
// clang-format on

void expect_row(const Row &row, int rc) {
  EXPECT_TRUE(subtest::parse_left(rc, row.rc, row.error, SUB_FMT_TTML, row.cues));
  EXPECT_EQ(subtest::current_warnings(), row.warnings);
}

}  // namespace

TEST(TtmlParser, DirectFormatFiveAndDetection) {
  int detected = 0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    sub_doc_reset(sub_classic_doc());
    expect_row(row, sub_parse_ttml(sub_classic_doc(), row.doc.c_str(), row.doc.size()));
    expect_row(row, sub_parse(row.doc.data(), row.doc.size(), SUB_FMT_TTML, nullptr));
    if (sub_detect_format(row.doc.data(), row.doc.size(), nullptr) == 5) {
      ++detected;
      expect_row(row, sub_parse(row.doc.data(), row.doc.size(), SUB_FMT_AUTO, nullptr));
    }
  }
  EXPECT_GT(detected, 50);
  sub_clear();
}

TEST(TtmlParser, OffsetTimes) {
  struct Offset {
    const char *expr;
    int32_t ms;           // -1: unreadable
    const char *warning;  // "": none
  };
  // clang-format off
  const Offset offsets[] = {
      {"1.5", 1500, ""}, {"1.5s", 1500, ""}, {"500ms", 500, ""}, {"1m30s", 90000, ""},
      {"1h30m", 5400000, ""}, {"1m30", 60030, ""}, {"2h", 7200000, ""}, {"1s500ms", -1, ""},
      {"1h30", 3600030, ""}, {"1h1m1s", 3661000, ""}, {"1m 30s", 90000, ""}, {"2m-30s", 90000, ""},
      {"1h 30m", -1, ""}, {"1h-30m", -1, ""}, {"1ms500", 501, ""}, {"1.9ms", 1, ""},
      {"1.0019s", 1001, ""}, {"0.5h", 1800000, ""}, {"1.5m", 90000, ""}, {"1e3ms", 1000, ""},
      {"1e1", 10000, ""}, {".5s", 500, ""}, {"+2s", 2000, ""}, {" 2s", 2000, ""},
      {"5.", 5000, ""}, {"2s ", -1, ""}, {"1s5", -1, ""}, {"2x", -1, ""},
      {"1M", -1, ""}, {"1e", -1, ""}, {"s", -1, ""}, {"-5s", -1, ""},
      {"25f", 1000, warn_frame}, {"2f", 80, warn_frame}, {"1m25f", 61000, warn_frame},
      {"10t", 1, warn_tick}, {"1m10000t", 61000, warn_tick},
      {"596h", 2145600000, ""}, {"597h", -1, ""}, {"596h60m", -1, ""},
      {"2147483647ms", max32, ""}, {"2147483648ms", -1, ""}, {"1e10", -1, ""},
  };
  // clang-format on
  constexpr int32_t far_end = 2145600000;  // 596h
  for (const Offset &o : offsets) {
    SCOPED_TRACE(o.expr);
    const std::vector<std::string> warned =
        *o.warning ? std::vector<std::string>{o.warning} : std::vector<std::string>{};
    // As a duration from 0.
    std::string doc = p("begin=\"0s\" dur=\""s + o.expr + '"');
    sub_doc_reset(sub_classic_doc());
    sub_parse_ttml(sub_classic_doc(), doc.c_str(), doc.size());
    EXPECT_TRUE(subtest::cues_are(o.ms > 0 ? std::vector<CueView>{{0, o.ms, {"x"}}}
                                           : std::vector<CueView>{}));
    EXPECT_EQ(subtest::current_warnings(), warned);
    // As a begin (an unreadable one is 0).
    doc = p("begin=\""s + o.expr + "\" end=\"596h\"");
    sub_doc_reset(sub_classic_doc());
    sub_parse_ttml(sub_classic_doc(), doc.c_str(), doc.size());
    const int32_t start = std::max(o.ms, 0);
    EXPECT_TRUE(subtest::cues_are(start < far_end ? std::vector<CueView>{{start, far_end, {"x"}}}
                                                  : std::vector<CueView>{}));
    EXPECT_EQ(subtest::current_warnings(), warned);
  }
  sub_clear();
}

// The flags are set back at the start of every parse, also without a reset
// of the parse state in between.
TEST(TtmlParser, WarningsAgainInEveryParse) {
  const std::string doc = ticks + frames + ticks + frames;
  sub_doc_reset(sub_classic_doc());
  EXPECT_EQ(sub_parse_ttml(sub_classic_doc(), doc.c_str(), doc.size()), 0);
  EXPECT_EQ(sub_parse_ttml(sub_classic_doc(), doc.c_str(), doc.size()), 0);
  EXPECT_EQ(sub_cue_count(), 8);
  EXPECT_EQ(subtest::current_warnings(),
            (std::vector<std::string>{warn_tick, warn_frame, warn_tick, warn_frame}));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_TTML, nullptr), SUB_OK);
    EXPECT_EQ(subtest::current_warnings(), (std::vector<std::string>{warn_tick, warn_frame}));
  }
  sub_clear();
}

const std::string document =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<tt xmlns=\"http://www.w3.org/ns/ttml\" xmlns:ttp=\"http://www.w3.org/ns/ttml#parameter\" "
    "ttp:tickRate=\"10000000\">\n"
    "  <body>\n"
    "    <div begin=\"10s\">\n"
    "      <p begin=\"00:00:01.000\" end=\"00:00:02.500\">Hello<br/>\"world\"</p>\n"
    "      <p begin=\"30000000t\" dur=\"1.5s\">Line one<br/>\nLine two &amp; more</p>\n"
    "    </div>\n"
    "    <p begin=\"50f\" end=\"75f\"><span>caf&#233;</span> \\ x</p>\n"
    "  </body>\n"
    "</tt>\n";

TEST(TtmlParser, EndToEndJson) {
  EXPECT_EQ(sub_detect_format(document.data(), document.size(), nullptr), 5);
  for (const int32_t format : {-1, 5}) {
    SCOPED_TRACE(format);
    ASSERT_EQ(sub_parse(document.data(), document.size(), format, nullptr), SUB_OK);
    EXPECT_EQ(sub_detected_format(), SUB_FMT_TTML);
    EXPECT_STREQ(sub_last_error(), "");
    EXPECT_EQ(subtest::current_warnings(), std::vector<std::string>{warn_frame});
    EXPECT_STREQ(sub_result_json(),
                 R"({"format":"ttml","cues":[)"
                 R"({"start":11000,"end":12500,"lines":["Hello\"world\""]},)"
                 R"({"start":13000,"end":14500,"lines":["Line one\nLine two & more"]},)"
                 R"({"start":2000,"end":3000,"lines":["café \\ x"]}]})");
  }
  const std::string none = "<tt><body><p begin=\"1s\">x</p></body></tt>";
  EXPECT_EQ(sub_parse(none.data(), none.size(), SUB_FMT_AUTO, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), no_cues);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
  EXPECT_STREQ(sub_result_json(), "{}");
  sub_clear();
}

TEST(TtmlParser, AllocationFailures) {
  EXPECT_GT(subtest::parse_under_allocation_failures(
                [&] { return sub_parse(document.data(), document.size(), SUB_FMT_TTML, nullptr); },
                {0, 4, 5}, SUB_FMT_TTML),
            0u);
  EXPECT_EQ(sub_parse(document.data(), document.size(), SUB_FMT_TTML, nullptr), SUB_OK);
  EXPECT_EQ(sub_cue_count(), 3);
  sub_clear();
}

// Inputs on which a scan that searches again from its position for every
// tag or "</p>" would take quadratic time.
TEST(TtmlParser, LinearOnHostileInputs) {
  constexpr size_t mb = 1024 * 1024;
  const std::string unit = "<p begin=\"1s\" end=\"2s\">x";
  struct Big {
    const char *name;
    std::string doc;
    int rc;
    std::vector<CueView> cues;
  };
  const Big bigs[] = {
      {"4 MB of paragraphs without </p>", repeat(unit, 4 * mb / unit.size()), 5, {}},
      {"the same with one </p> at the end",
       repeat(unit, 4 * mb / unit.size()) + "</p>",
       0,
       {{1000, 2000, {std::string(65535, 'x')}}}},
      {"4 MB of names that are not tags",
       repeat("<ttml<tt:p<tt-<pre<division<bodyx", mb / 8),
       5,
       {}},
      {"4 MB of nested divs",
       repeat("<div begin=\"1s\">", mb / 4) + one_two,
       0,
       {{9000, 10000, {"x"}}}},
  };
  for (const Big &big : bigs) {
    SCOPED_TRACE(big.name);
    // Linear work takes well under a second.
    EXPECT_TRUE(subtest::parses_within(big.doc, SUB_FMT_TTML, big.rc, 10.0));
    EXPECT_TRUE(subtest::cues_are(big.cues));
  }
  sub_clear();
}

TEST(TtmlCorpus, EveryFileParses) {
  const auto counts = subtest::run_corpus("ttml", {".ttml", ".xml", ".dfxp"}, SUB_FMT_TTML);
  if (!counts) GTEST_SKIP() << "no TTML corpus";
  EXPECT_EQ(counts->files, 103u);
  EXPECT_EQ(counts->detected, (subtest::Tally{{"ttml", 81}}));
  EXPECT_EQ(counts->own, (subtest::Tally{{"ttml", 81}}));
  EXPECT_EQ(counts->own_failures, (subtest::Tally{{no_cues, 22}}));
}
