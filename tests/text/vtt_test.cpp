// WebVTT: the SRT block walk with the header, NOTE, STYLE and REGION lines
// read past; line-break conventions, NUL bytes, sub_parse with format 1 and
// with detection, and the real files of the shared corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::CueView;

namespace {

struct ParseRow {
  const char *name;
  std::string input;
  int rc;
  std::vector<CueView> cues;
  const char *json;  // exact document after sub_parse(format 1), or null
};

const ParseRow parse_rows[] = {
    {"header, identifier, two lines",
     "WEBVTT\n\nintro\n00:01.000 --> 00:04.000\nNever drink liquid nitrogen.\nIt will "
     "perforate\n",
     0,
     {{1000, 4000, {"Never drink liquid nitrogen.", "It will perforate"}}},
     R"({"format":"vtt","cues":[{"start":1000,"end":4000,)"
     R"("lines":["Never drink liquid nitrogen.","It will perforate"]}]})"},
    {"timing line right after the header",
     "WEBVTT\n00:00:01.000 --> 00:00:02.000\nA",
     0,
     {{1000, 2000, {"A"}}},
     nullptr},
    {"header metadata",
     "WEBVTT - title\nKind: captions\nX-TIMESTAMP-MAP=LOCAL:00:00:00.000,MPEGTS:0\n\n00:00:01.000 "
     "--> 00:00:02.000\nA",
     0,
     {{1000, 2000, {"A"}}},
     nullptr},
    {"no header",
     "00:00:01.000 --> 00:00:02.000\nA\n\n3\n00:00:03,000 --> 00:00:04,000\nB",
     0,
     {{1000, 2000, {"A"}}, {3000, 4000, {"B"}}},
     nullptr},
    {"cue settings, hours beyond a day",
     "WEBVTT\n\n00:00:01.000 --> 00:00:02.000 align:start position:10%\nA\n\n25:00:00.000 --> "
     "25:00:01.500 line:0\nB",
     0,
     {{1000, 2000, {"A"}}, {90000000, 90001500, {"B"}}},
     nullptr},
    {"NOTE block with a timing line on its second line",
     "WEBVTT\n\nNOTE\n00:00:01.000 --> 00:00:02.000\nfrom the comment",
     0,
     {{1000, 2000, {"from the comment"}}},
     nullptr},
    {"header words on a timing line, any case",
     "NOTE 00:00:01.000 --> 00:00:02.000\nA\n\nnote 00:00:01.000 --> 00:00:02.000\nB\n\nStyle "
     "00:00:01.000 --> 00:00:02.000\nC\n\nregion 00:00:01.000 --> 00:00:02.000\nD\n\nWebVtt "
     "00:00:01.000 --> 00:00:02.000\nE\n\nNotes 00:00:01.000 --> 00:00:02.000\nF\n",
     5,
     {},
     nullptr},
    {"header words in cue text are text",
     "00:00:01.000 --> 00:00:02.000\nNOTE this\nWEBVTT",
     0,
     {{1000, 2000, {"NOTE this", "WEBVTT"}}},
     nullptr},
    {"STYLE and REGION blocks",
     "WEBVTT\n\nSTYLE\n::cue { color: red }\n\nREGION\nid:fred width:40%\n\nStyled "
     "id\n00:00:01.000 "
     "--> 00:00:02.000\nA",
     0,
     {{1000, 2000, {"A"}}},
     nullptr},
    {"blank line inside the text",
     "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nA\n\nB\nC\n",
     0,
     {{1000, 2000, {"A"}}},
     nullptr},
    {"remainder holding a timing line",
     "00:00:01.000 --> 00:00:02.000\nA\n\nB\n00:00:03.000 --> 00:00:04.000\nC",
     0,
     {{1000, 2000, {"A"}}, {3000, 4000, {"C"}}},
     nullptr},
    {"timing line followed by a blank line",
     "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\n\n00:00:03.000 --> 00:00:04.000\nB\n",
     0,
     {{3000, 4000, {"B"}}},
     nullptr},
    {"markup and references stay",
     "WEBVTT\n\n00:01.000 --> 00:02.000\n<v Roger>&amp; <c.loud>hi</c> <00:01.500>there</v>",
     0,
     {{1000, 2000, {"<v Roger>&amp; <c.loud>hi</c> <00:01.500>there</v>"}}},
     R"({"format":"vtt","cues":[{"start":1000,"end":2000,)"
     R"("lines":["<v Roger>&amp; <c.loud>hi</c> <00:01.500>there</v>"]}]})"},
    {"CR LF and trimming",
     "WEBVTT\r\n\r\n 00:01.000 --> 00:02.000 \r\n\t A \r\n \r\n",
     0,
     {{1000, 2000, {"A"}}},
     nullptr},
    {"lone CR",
     "WEBVTT\r\r00:01.000 --> 00:02.000\rA\rB\r\r00:03.000 --> 00:04.000\rC",
     0,
     {{1000, 2000, {"A", "B"}}, {3000, 4000, {"C"}}},
     nullptr},
    {"U+2028",
     "WEBVTT\u2028\u2028"
     "00:01.000 --> 00:02.000\u2028"
     "A\u2028\u2028"
     "B",
     0,
     {{1000, 2000, {"A"}}},
     nullptr},
    {"NUL ends a line",
     "WEBVTT\n\n00:01.000 --> 00:02.000\nab\0cd\n\0ef\nlost"s,
     0,
     {{1000, 2000, {"ab"}}},
     nullptr},
    {"NUL inside the header word", "WEB\0VTT 00:01.000 --> 00:02.000\nA"s, 5, {}, nullptr},
    {"only a header and comments",
     "WEBVTT\n\nNOTE one\ntwo\n\nNOTE\n00:01.000 -->\n",
     5,
     {},
     nullptr},
};

}  // namespace

TEST(VttParser, DirectAndThroughFormatOne) {
  for (const ParseRow &row : parse_rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(subtest::direct_and_through(sub_parse_vtt, SUB_FMT_VTT, row.input, row.rc,
                                            row.rc ? "no VTT cues" : "", row.cues));
    if (row.json) {
      EXPECT_STREQ(sub_result_json(), row.json);
    }
  }
  sub_doc_reset(sub_classic_doc());
  EXPECT_EQ(sub_parse_vtt(sub_classic_doc(), "", 0), 5);
  EXPECT_STREQ(sub_last_error(), "no VTT cues");
  sub_clear();
}

// Detection names WebVTT only for "WEBVTT" in that case at the start of the
// text; other WebVTT text with arrows goes to the SRT parser, which takes a
// "NOTE ... -->" line as a timing line. A UTF-16 file shows detection nothing
// and the fallback order starts with WebVTT.
TEST(VttParser, ThroughDetection) {
  const std::string note_first =
      "NOTE 00:00:01.000 --> 00:00:02.000\nA\n\n00:00:03.000 --> 00:00:04.000\nB";
  std::string utf16 = "\xFE\xFF";
  for (char c : "WEBVTT\n\n00:03.000 --> 00:04.000\nB"s) utf16 += std::string(1, '\0') + c;
  struct Row {
    const char *name;
    std::string input;
    int32_t format;
    std::vector<CueView> cues;
  };
  const Row rows[] = {
      {"header", "WEBVTT\n\n" + note_first, 1, {{3000, 4000, {"B"}}}},
      {"mark and blank lines before the header",
       "\xEF\xBB\xBF\r\n \t\nWEBVTT\n\n" + note_first,
       1,
       {{3000, 4000, {"B"}}}},
      {"lower-case header",
       "webvtt\n\n" + note_first,
       0,
       {{1000, 2000, {"A"}}, {3000, 4000, {"B"}}}},
      {"no header", note_first, 0, {{1000, 2000, {"A"}}, {3000, 4000, {"B"}}}},
      {"UTF-16BE mark", utf16, 1, {{3000, 4000, {"B"}}}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(sub_parse(row.input.data(), row.input.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
    EXPECT_EQ(sub_detected_format(), row.format);
    EXPECT_TRUE(subtest::cues_are(row.cues));
  }
  EXPECT_EQ(sub_parse(note_first.data(), note_first.size(), SUB_FMT_VTT, nullptr), SUB_OK);
  EXPECT_STREQ(sub_result_json(),
               R"({"format":"vtt","cues":[{"start":3000,"end":4000,"lines":["B"]}]})");
  sub_clear();
}

TEST(VttParser, AllocationFailures) {
  const std::string text =
      "WEBVTT\n\n1\n00:01.000 --> 00:02.000\nA\nB\n\nNOTE x\n\n00:03.000 --> 00:04.000\nC\n";
  subtest::parse_under_allocation_failures(
      [&] {
        sub_doc_reset(sub_classic_doc());
        return sub_parse_vtt(sub_classic_doc(), text.c_str(), text.size());
      },
      {0, 5}, SUB_FMT_VTT,
      [](int rc) {
        if (rc == 5) {
          EXPECT_STREQ(sub_last_error(), "no VTT cues");
        }
        for (const CueView &cue : subtest::current_cues()) EXPECT_FALSE(cue.lines.empty());
      });
}

TEST(VttCorpus, EveryFileParses) {
  const auto counts = subtest::run_corpus("vtt", {".vtt"}, SUB_FMT_VTT);
  if (!counts) GTEST_SKIP() << "no WebVTT corpus";
  EXPECT_EQ(counts->files, 159u);
  // Not read: empty files, files of headers and comments only, timing lines
  // without an end or on the header line.
  EXPECT_EQ(counts->detected_total(), 134);
  EXPECT_EQ(counts->own, (subtest::Tally{{"vtt", 134}}));
}
