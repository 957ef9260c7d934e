// SAMI: the two SYNC tag forms, start values (quotes, 31-digit cut,
// saturation), dropped blocks, end times and the reading-time duration of
// the last block, every cleaning step and its order, the two failure texts,
// sub_parse with format 8 and with detection, allocation failures, inputs
// built to defeat a quadratic scan, and the real files of the shared corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::CueView;
using subtest::repeat;

namespace {

// A document whose only block starts at 0 and holds `text`.
std::string last(const std::string &text) { return "<SYNC Start=0>" + text; }

constexpr const char *no_sync = "SAMI: no <SYNC";
constexpr const char *no_cues = "no SAMI cues";

struct Row {
  const char *name;
  std::string input;
  const char *error;  // null: success
  std::vector<CueView> cues;
};

const std::string letters15 = "abcdefghijklmno";

const Row rows[] = {
    // Tags and start values.
    {"paragraph blocks, the &nbsp; block ends the caption",
     "<SAMI><BODY>\n<SYNC Start=1000><P Class=ENCC>Hello\n<SYNC Start=3000><P "
     "Class=ENCC>&nbsp;\n</BODY></SAMI>\n",
     nullptr,
     {{1000, 3000, {"Hello"}}}},
    {"both forms, any case",
     "<sync start=500><p>a<SYNC Encrypted=\"true\" Start=800>b<sYnC eNcRyPtEd=\"TRUE\" "
     "sTaRt=900>c",
     nullptr,
     {{500, 800, {"a"}}, {800, 900, {"b"}}, {900, 1900, {"c"}}}},
    {"other spellings of the tag are block text",
     "<SYNC Start=1000>A<SYNC  Start=2000>B<SYNC Start =2500>C<SYNC Class=x Start=2600>D"
     "<SYNC Encrypted='true' Start=2700>E<SYNC Start=3000>F",
     nullptr,
     {{1000,
       3000,
       {"A<SYNC Start=2000>B<SYNC Start =2500>C<SYNC Class=x Start=2600>D"
        "<SYNC Encrypted='true' Start=2700>E"}},
      {3000, 4000, {"F"}}}},
    {"only unrecognised tags", "<SYNC  Start=1000>Hi<SYNC Time=5>Ho", no_cues, {}},
    {"no \"<sync \" at all", "<SAMI><BODY><SYNC\tStart=1000><P>Hi</BODY></SAMI>", no_sync, {}},
    {"only empty blocks", "<SYNC Start=1000><P>&nbsp;</P><SYNC Start=2000> \n ", no_cues, {}},
    {"quotes anywhere in the value",
     "<SYNC Start=\"1000\">A<SYNC Start='2000'>B<SYNC Start=3\"0'00>C",
     nullptr,
     {{1000, 2000, {"A"}}, {2000, 3000, {"B"}}, {3000, 4000, {"C"}}}},
    {"blocks without a digit are dropped and end nothing",
     "<SYNC Start=1000>A<SYNC Start=-500>B<SYNC Start=>C<SYNC Start=\"\">D<SYNC Start=x9>E"
     "<SYNC Start= 7>F<SYNC Start=3000>G",
     nullptr,
     {{1000, 3000, {"A"}}, {3000, 4000, {"G"}}}},
    {"the value ends after 31 digits",
     "<SYNC Start=" + std::string(30, '0') + "12345>A",
     nullptr,
     {{1, 1001, {"A"}}}},
    {"31 zeros", "<SYNC Start=" + std::string(31, '0') + "5000>A", nullptr, {{0, 1000, {"A"}}}},
    {"values above 2147483647",
     "<SYNC Start=2147483648>A<SYNC Start=99999999999999999999>B",
     nullptr,
     {{2147483647, 2147483647, {"A"}}, {2147483647, 2147483647, {"B"}}}},
    {"end of the last block saturates",
     "<SYNC Start=2147483000>" + letters15,
     nullptr,
     {{2147483000, 2147483647, {letters15}}}},
    {"start + 1000 saturates",
     "<SYNC Start=2147483000>A<SYNC Start=5>B",
     nullptr,
     {{2147483000, 2147483647, {"A"}}, {5, 1005, {"B"}}}},
    {"equal and decreasing starts, document order kept",
     "<SYNC Start=5000>A<SYNC Start=5000>B<SYNC Start=3000>C<SYNC Start=4000>D",
     nullptr,
     {{5000, 6000, {"A"}}, {5000, 6000, {"B"}}, {3000, 4000, {"C"}}, {4000, 5000, {"D"}}}},
    {"an earlier empty block does not end the caption",
     "<SYNC Start=1000>A<SYNC Start=500>&nbsp;",
     nullptr,
     {{1000, 2000, {"A"}}}},
    {"a tag without '>' ends the reading with an empty block",
     "<SYNC Start=1000>A<SYNC Start=2000 B",
     nullptr,
     {{1000, 2000, {"A"}}}},
    {"empty blocks between tags",
     "<SYNC Start=500><SYNC Start=1000>A<SYNC Start=2000><SYNC Start=3000>B",
     nullptr,
     {{1000, 2000, {"A"}}, {3000, 4000, {"B"}}}},
    {"a tag before the '>' is passed over",
     "<SYNC Start=1000>A<SYNC Start=2000 B<SYNC Start=3000>C",
     nullptr,
     {{1000, 2000, {"A"}}, {2000, 3000, {"C"}}}},
    {"the document ends at its first NUL",
     "<SYNC Start=1000>A\0<SYNC Start=5000>B"s,
     nullptr,
     {{1000, 2000, {"A"}}}},
    {"NUL before the first tag", "\0<SYNC Start=1000>A"s, no_sync, {}},
    // Duration of the last block.
    {"10 bytes", last("abcdefghij"), nullptr, {{0, 1000, {"abcdefghij"}}}},
    {"15 bytes", last(letters15), nullptr, {{0, 1020, {letters15}}}},
    {"100 bytes", last(std::string(100, 'x')), nullptr, {{0, 6802, {std::string(100, 'x')}}}},
    {"146 bytes", last(std::string(146, 'x')), nullptr, {{0, 9931, {std::string(146, 'x')}}}},
    {"147 bytes", last(std::string(147, 'x')), nullptr, {{0, 10000, {std::string(147, 'x')}}}},
    {"600 bytes", last(std::string(600, 'x')), nullptr, {{0, 10000, {std::string(600, 'x')}}}},
    {"markup not counted",
     last("<i>" + letters15 + "</i>"),
     nullptr,
     {{0, 1020, {"<i>" + letters15 + "</i>"}}}},
    {"a decoded &lt;...&gt; is markup",
     last("&lt;i&gt;" + letters15),
     nullptr,
     {{0, 1020, {"<i>" + letters15}}}},
    {"an unclosed '<' ends the count",
     last(letters15 + " <" + std::string(100, 'y')),
     nullptr,
     {{0, 1088, {letters15 + " <" + std::string(100, 'y')}}}},
    {"LF counts, closing tags and trimmed blanks do not",
     last("<P>abcdefg<br>hijklmn</P>\n</BODY>\n</SAMI>\n"),
     nullptr,
     {{0, 1020, {"abcdefg", "hijklmn"}}}},
    {"bytes, not characters",
     last("\u00e9\u00e9\u00e9\u00e9\u00e9abcde"),
     nullptr,
     {{0, 1020, {"\u00e9\u00e9\u00e9\u00e9\u00e9abcde"}}}},
    // Cleaning.
    {"line-break tags",
     last("a<br>b<BR/>c<br clear=all>d<Br >e<brown>f<b>g</b>"),
     nullptr,
     {{0, 1000, {"a", "b", "c", "d", "e", "f<b>g</b>"}}}},
    {"an unclosed <br stays", last("a<br>b<br c"), nullptr, {{0, 1000, {"a", "b<br c"}}}},
    {"closing tags removed",
     last("a</P>b</p>c</SYNC>d</Body>e</SAMI>f</span>g</font>"),
     nullptr,
     {{0, 1000, {"abcdef</span>g</font>"}}}},
    {"closing tags that a removal joins",
     last("x</bo</body>dy>y</</p>p>z</sa</SAMI>mi>w"),
     nullptr,
     {{0, 1000, {"xyzw"}}}},
    {"text before the paragraph tag goes with it",
     last("Before<P Class=ENCC>Hello"),
     nullptr,
     {{0, 1000, {"Hello"}}}},
    {"only the first paragraph tag", last("<p>One<p>Two"), nullptr, {{0, 1000, {"One<p>Two"}}}},
    {"font without paragraph kept",
     last("<font color=red>Hi</font>"),
     nullptr,
     {{0, 1000, {"<font color=red>Hi</font>"}}}},
    {"font then paragraph", last("<FONT color=red>Hi<P>there"), nullptr, {{0, 1000, {"there"}}}},
    {"another first tag keeps the paragraph",
     last("<i>x</i><p>y"),
     nullptr,
     {{0, 1000, {"<i>x</i><p>y"}}}},
    {"a '>' before the first '<' keeps the paragraph",
     last("x > y <p>z"),
     nullptr,
     {{0, 1000, {"x > y <p>z"}}}},
    {"breaks before the paragraph step", last("A<br>B<p>C"), nullptr, {{0, 1000, {"C"}}}},
    {"closing tags before the paragraph step", last("</p>x<p>y"), nullptr, {{0, 1000, {"y"}}}},
    {"paragraph step before div removal", last("<div><p>x"), nullptr, {{0, 1000, {"<p>x"}}}},
    {"div tags", last("a<div class=x>b</div>c<DIV>d</DIV>e"), nullptr, {{0, 1000, {"abcde"}}}},
    {"div through the next '>'", last("a<div<div>b"), nullptr, {{0, 1000, {"ab"}}}},
    {"an unclosed <div ends div removal",
     last("a<div x>b</div>c<div d"),
     nullptr,
     {{0, 1000, {"abc<div d"}}}},
    {"entities decoded after the tag steps",
     last("a&nbsp;&nbsp;b &amp; &lt;br&gt; &lt;/p&gt; &lt;div&gt;"),
     nullptr,
     {{0, 1000, {"a b & <br> </p> <div>"}}}},
    {"blank folding keeps LF, pieces trimmed",
     last("a \t\r b\r\n  c  \n\n d"),
     nullptr,
     {{0, 1000, {"a b", "c", "d"}}}},
    {"trimmed", last("\n  <P>  Hi  \n</P>\n"), nullptr, {{0, 1000, {"Hi"}}}},
};

void expect_result(const Row &row, int rc) {
  EXPECT_TRUE(subtest::parse_left(rc, row.error ? 5 : 0, row.error ? row.error : "", SUB_FMT_SAMI,
                                  row.cues));
}

}  // namespace

TEST(SamiParser, DirectFormatEightAndDetection) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    sub_doc_reset(sub_classic_doc());
    expect_result(row, sub_parse_sami(sub_classic_doc(), row.input.c_str(), row.input.size()));
    expect_result(row, sub_parse(row.input.data(), row.input.size(), SUB_FMT_SAMI, nullptr));
    EXPECT_TRUE(subtest::json_fits(row.error ? 5 : 0, SUB_FMT_SAMI));
    if (!row.error) {
      EXPECT_EQ(sub_detect_format(row.input.data(), row.input.size(), nullptr), 8);
      expect_result(row, sub_parse(row.input.data(), row.input.size(), SUB_FMT_AUTO, nullptr));
    }
  }
  sub_clear();
}

// Detection names SAMI from "<SAMI" or "<SYNC ", so a SAMI document the
// parser rejects reports the parser's own failure.
TEST(SamiParser, DetectedButRejected) {
  const std::string rows[] = {"<SAMI><BODY></BODY></SAMI>", "<SYNC  Start=1>Hi"};
  const char *errors[] = {no_sync, no_cues};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(rows[i]);
    EXPECT_EQ(sub_parse(rows[i].data(), rows[i].size(), SUB_FMT_AUTO, nullptr), SUB_ERR_NOCUES);
    EXPECT_STREQ(sub_last_error(), errors[i]);
    EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
  }
  sub_clear();
}

TEST(SamiParser, AllocationFailures) {
  const std::string text =
      "<SAMI><BODY><SYNC Start=1000><P>Hello<br>world</P><SYNC Start=2000><P>&nbsp;"
      "<SYNC Start=3000><P>Bye</P></BODY></SAMI>";
  EXPECT_GT(subtest::parse_under_allocation_failures(
                [&] { return sub_parse(text.data(), text.size(), SUB_FMT_SAMI, nullptr); },
                {0, 4, 5}, SUB_FMT_SAMI),
            0u);
  EXPECT_EQ(sub_parse(text.data(), text.size(), SUB_FMT_SAMI, nullptr), SUB_OK);
  EXPECT_TRUE(subtest::cues_are({{1000, 2000, {"Hello", "world"}}, {3000, 4000, {"Bye"}}}));
  sub_clear();
}

// Inputs on which a scan that searches again from the start after every
// tag or removal would take quadratic time.
TEST(SamiParser, LinearOnHostileInputs) {
  constexpr size_t mb = 1024 * 1024;
  struct Big {
    const char *name;
    std::string input;
    int rc;
    int32_t cues;
    std::string first_line;
  };
  const Big bigs[] = {
      {"4 MB of tags", repeat("<SYNC Start=1>x", 4 * mb / 15), 0, 4 * mb / 15, "x"},
      {"4 MB of \"<sync \" that are not tags",
       repeat("<sync <sync start <sync encrypted=\"true\" ", 4 * mb / 41), 5, 0, ""},
      {"2 MB of \"<div\" without '>'", "<SYNC Start=1>" + repeat("<div", mb / 2) + "x", 0, 1,
       repeat("<div", mb / 2) + "x"},
      {"nested closing tags",
       "<SYNC Start=1>" + repeat("</bo", mb / 2) + repeat("dy>", mb / 2) + "x", 0, 1, "x"},
      {"nested div tags", "<SYNC Start=1>" + repeat("<di", mb / 2) + repeat("v>", mb / 2) + "x", 0,
       1, "x"},
  };
  for (const Big &big : bigs) {
    SCOPED_TRACE(big.name);
    // Linear work takes well under a second.
    EXPECT_TRUE(subtest::parses_within(big.input, SUB_FMT_SAMI, big.rc, 5.0));
    ASSERT_EQ(sub_cue_count(), big.cues);
    if (big.cues > 0) {
      EXPECT_EQ(sub_cue_start_ms(0), 1);
      EXPECT_EQ(sub_cue_end_ms(0), 1001);
      ASSERT_EQ(sub_cue_line_count(0), 1);
      EXPECT_EQ(std::string(sub_cue_line(0, 0)), big.first_line);
    }
  }
  sub_clear();
}

TEST(SamiCorpus, EveryFileParses) {
  const auto counts = subtest::run_corpus("sami", {".smi", ".sami"}, SUB_FMT_SAMI);
  if (!counts) GTEST_SKIP() << "no SAMI corpus";
  EXPECT_EQ(counts->files, 5u);
  EXPECT_EQ(counts->detected, (subtest::Tally{{"sami", 5}}));
  EXPECT_EQ(counts->own, (subtest::Tally{{"sami", 5}}));
}
