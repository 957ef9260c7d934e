// ASS/SSA: the [Events] section, its Format line and the event lines, the
// "\N" splitting of event texts, the 65535-byte line cut, NUL bytes, sub_parse
// with format 2 and with detection, and the real files of the shared corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;
using subtest::CueView;

namespace {

const std::string header =
    "[Script Info]\nTitle: t\n\n[V4+ Styles]\nFormat: Name, Fontname\nStyle: Default,Arial\n\n"
    "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
// A short [Events] section with the columns Start, End, Text.
const std::string events = "[Events]\nFormat: Start, End, Text\n";
std::string event(const std::string &text) { return "Dialogue: 0:00:01.00,0:00:02.00," + text; }
// An event line for the columns of `header`.
std::string full_event(const std::string &text) {
  return "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,," + text;
}

// A Format line whose Text column stands at `text_at`.
std::string wide_format(int text_at) {
  std::string out = "[Events]\nFormat: Start, End";
  for (int i = 2; i < text_at; ++i) out += ", C" + std::to_string(i);
  out += ", Text\nDialogue: 0:00:01.00,0:00:02.00" + std::string(text_at - 1, ',') + "x\n";
  return out;
}

using Row = subtest::ParseCase;

const std::string long_a(65535, 'a');

const Row rows[] = {
    {"full script",
     header + "Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,Hello, world\n",
     0,
     "",
     {{1000, 2500, {"Hello, world"}}}},
    {"section header in lower case",
     "[events]\nFormat: Start, End, Text\n" + event("a"),
     0,
     "",
     {{1000, 2000, {"a"}}}},
    {"blank after the section header",
     "[Events] \nFormat: Start, End, Text\n" + event("a"),
     5,
     "ASS: no [Events] section",
     {}},
    {"blank before the section header",
     " [Events]\nFormat: Start, End, Text\n" + event("a"),
     5,
     "ASS: no [Events] section",
     {}},
    {"no section", "[Script Info]\nTitle: t\n", 5, "ASS: no [Events] section", {}},
    {"section header is the last line",
     "[Script Info]\n[Events]",
     5,
     "ASS: missing Format line",
     {}},
    {"section header then an empty last line",
     "[Events]\n",
     5,
     "ASS: Format missing Start/End/Text",
     {}},
    {"blank line before the Format line",
     "[Events]\n\nFormat: Start, End, Text\n" + event("a"),
     5,
     "ASS: Format missing Start/End/Text",
     {}},
    {"no Text column",
     "[Events]\nFormat: Layer, Start, End, Style\n" + event("a"),
     5,
     "ASS: Format missing Start/End/Text",
     {}},
    {"Format line without its prefix, event line without its prefix",
     "[Events]\nStart,End,Text\n0:00:01.00,0:00:02.00,a\n",
     0,
     "",
     {{1000, 2000, {"a"}}}},
    {"column names in any case, with blanks",
     "[Events]\nformat:   start ,\tEND\t, tExt \n" + event("a"),
     0,
     "",
     {{1000, 2000, {"a"}}}},
    {"last of two Start columns wins",
     "[Events]\nFormat: Start, End, Start, Text\nDialogue: 0:00:09.00,0:00:02.00,0:00:01.00,Hi",
     0,
     "",
     {{1000, 2000, {"Hi"}}}},
    {"Text before Start",
     "[Events]\nFormat: Text, Start, End\nDialogue: a,0:00:01.00,0:00:02.00",
     5,
     "no ASS cues",
     {}},
    {"Text as column 63", wide_format(63), 0, "", {{1000, 2000, {"x"}}}},
    {"Text as column 64 is never reached", wide_format(64), 5, "no ASS cues", {}},
    {"column name of 63 bytes",
     "[Events]\nFormat: Start, End," + std::string(59, ' ') + "Text\n" + event("a"),
     0,
     "",
     {{1000, 2000, {"a"}}}},
    {"column name cut at 63 bytes",
     "[Events]\nFormat: Start, End," + std::string(60, ' ') + "Text\n" + event("a"),
     5,
     "ASS: Format missing Start/End/Text",
     {}},
    {"time field of 63 bytes",
     events + "Dialogue: 0:00:00.00," + std::string(53, ' ') + "0:00:01.55,x",
     0,
     "",
     {{0, 1550, {"x"}}}},
    {"time field cut at 63 bytes",
     events + "Dialogue: 0:00:00.00," + std::string(54, ' ') + "0:00:01.55,x",
     0,
     "",
     {{0, 1500, {"x"}}}},
    {"comments skipped, other prefixes read as events",
     events + "Comment: 0:00:01.00,0:00:02.00,c\nCOMMENT:0:00:01.00,0:00:02.00,c\n"
              "dialogue:0:00:03.00,0:00:04.00,d\nPicture: 0:00:05.00,0:00:06.00,p\n"
              "0:00:07.00,0:00:08.00,bare\nFormat: Start, End, Text\n",
     0,
     "",
     {{3000, 4000, {"d"}}, {7000, 8000, {"bare"}}}},
    {"a line starting with [ ends the section",
     events + event("a") + "\n  [Fonts]\n" + event("b") + "\n[Events]\n" + event("c"),
     0,
     "",
     {{1000, 2000, {"a"}}}},
    {"override blocks and escapes",
     events + event("{\\i1}Hi\\Nthere") + "\n" + event("a\\n b") + "\n" + event("a\\N\\Nb") + "\n" +
         event("x\\hy\\") + "\n" + event("\\Nc\\N"),
     0,
     "",
     {{1000, 2000, {"{\\i1}Hi", "there"}},
      {1000, 2000, {"a", " b"}},
      {1000, 2000, {"a", "b"}},
      {1000, 2000, {"x\\hy\\"}},
      {1000, 2000, {"c"}}}},
    {"a text of only a line break keeps a cue without lines",
     events + event("\\N"),
     0,
     "",
     {{1000, 2000, {}}}},
    {"Text field keeps commas and leading blanks, the line is trimmed",
     events + "\t Dialogue:   0:00:01.00 , 0:00:02.00 ,  a, b  \r\n",
     0,
     "",
     {{1000, 2000, {"  a, b"}}}},
    {"rejected events",
     events + event("") + "\n" +                         // empty text
         "Dialogue: 0:00:02.00,0:00:02.00,equal\n" +     // no length
         "Dialogue: 0:00:03.00,0:00:02.00,reversed\n" +  // negative length
         "Dialogue: 0:01.00,0:00:02.00,two parts\n" +    // unreadable start
         "Dialogue: 0:00:01.00,x0:00:02.00,x\n" +        // unreadable end
         "Dialogue: 0:00:01.00\n" +                      // too few fields
         "Dialogue: 0:00:01.00,0:00:02.00\n",
     5,
     "no ASS cues",
     {}},
    {"times read as hours, minutes, seconds and a fraction",
     events + "Dialogue: 1:02:03.45,1:02:03.5009,x\nDialogue: 0:59:59.99,0:75:00,y",
     0,
     "",
     {{3723450, 3723500, {"x"}}, {3599990, 4500000, {"y"}}}},
    {"cues kept in file order, overlaps included",
     events + "Dialogue: 0:00:05.00,0:00:06.00,late\nDialogue: 0:00:01.00,0:00:09.00,early\n"
              "Dialogue: 0:00:01.00,0:00:09.00,early",
     0,
     "",
     {{5000, 6000, {"late"}}, {1000, 9000, {"early"}}, {1000, 9000, {"early"}}}},
    {"CR LF, lone CR and U+2028 line breaks",
     "[Events]\r\nFormat: Start, End, Text\r" + event("a") + "\u2028" + event("b"),
     0,
     "",
     {{1000, 2000, {"a"}}, {1000, 2000, {"b"}}}},
    {"NUL ends the line it stands in",
     "[Events]\0junk\nFormat: Start, End, Text\0, Text\n"s + event("ab\0cd"s) + "\n" +
         "Dialogue: 0:00:03.00\0,0:00:04.00,x\n"s,
     0,
     "",
     {{1000, 2000, {"ab"}}}},
    {"line of 65535 bytes", events + event(long_a), 0, "", {{1000, 2000, {long_a}}}},
    {"line of 65536 bytes is cut", events + event(long_a + "b"), 0, "", {{1000, 2000, {long_a}}}},
    {"a full line drops the rest of its text",
     events + event(long_a + "\\Nb"),
     0,
     "",
     {{1000, 2000, {long_a}}}},
    {"a line break just before the limit",
     events + event(long_a.substr(1) + "\\Nb"),
     0,
     "",
     {{1000, 2000, {long_a.substr(1), "b"}}}},
};

}  // namespace

TEST(AssParser, DirectAndThroughFormatTwo) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(subtest::direct_and_through(sub_parse_ass, SUB_FMT_ASS, row.input, row.rc,
                                            row.error, row.cues));
  }
  sub_doc_reset(sub_classic_doc());
  EXPECT_EQ(sub_parse_ass(sub_classic_doc(), "", 0), 5);
  EXPECT_STREQ(sub_last_error(), "ASS: no [Events] section");
  sub_clear();
}

TEST(AssParser, Json) {
  const std::string text =
      header + "Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,\"q\"\\N/\\\n";
  ASSERT_EQ(sub_parse(text.data(), text.size(), SUB_FMT_ASS, nullptr), SUB_OK);
  EXPECT_STREQ(sub_result_json(),
               R"({"format":"ass","cues":[{"start":1000,"end":2500,"lines":["\"q\"","/\\"]}]})");
  sub_clear();
}

// Detection names ASS by any of its section headers, in any case; a script
// it names is not handed to other parsers when it fails.
TEST(AssParser, ThroughDetection) {
  struct DetectRow {
    const char *name;
    std::string input;
    int rc;
    const char *error;
  };
  const DetectRow detect_rows[] = {
      {"full script", header + full_event("a"), 0, ""},
      {"UTF-8 mark", "\xEF\xBB\xBF" + header + full_event("a"), 0, ""},
      {"lower-case section", "[events]\nFormat: Start, End, Text\n" + event("a"), 0, ""},
      {"styles only", "[V4+ Styles]\nFormat: Name\n", 5, "ASS: no [Events] section"},
      {"script info and an arrow", "[Script Info]\n00:00:01,000 --> 00:00:02,000\na\n", 5,
       "ASS: no [Events] section"},
  };
  for (const DetectRow &row : detect_rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(sub_detect_format(row.input.data(), row.input.size(), nullptr), 2);
    EXPECT_EQ(sub_parse(row.input.data(), row.input.size(), SUB_FMT_AUTO, nullptr), row.rc);
    EXPECT_STREQ(sub_last_error(), row.error);
    EXPECT_EQ(sub_detected_format(), row.rc ? -1 : 2);
    if (row.rc == 0) {
      EXPECT_TRUE(subtest::cues_are({{1000, 2000, {"a"}}}));
    }
  }
  // Without a section header detection names nothing and the fallback order
  // (WebVTT first, then ASS) finds nothing either.
  const std::string bare = "Format: Start, End, Text\n" + event("a");
  EXPECT_EQ(sub_parse(bare.data(), bare.size(), SUB_FMT_AUTO, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), "all parsers failed");
  sub_clear();
}

// The parser allocates nothing of its own: only the cue store can fail, and
// then the event is lost; nothing leaks.
TEST(AssParser, AllocationFailures) {
  const std::string text = header + full_event("a\\Nb") + "\n" + full_event("c") + "\n";
  subtest::parse_under_allocation_failures(
      [&] { return sub_parse(text.data(), text.size(), SUB_FMT_ASS, nullptr); }, {0, 4, 5},
      SUB_FMT_ASS,
      [](int rc) {
        if (rc == 5) {
          EXPECT_STREQ(sub_last_error(), "no ASS cues");
        }
        if (rc == 4) {
          EXPECT_STREQ(sub_last_error(), "");
        }
        for (const CueView &cue : subtest::current_cues()) EXPECT_LE(cue.lines.size(), 2u);
      });
}

TEST(AssCorpus, EveryFileParses) {
  const auto counts = subtest::run_corpus("ass", {}, SUB_FMT_ASS);
  if (!counts) GTEST_SKIP() << "no ASS corpus";
  EXPECT_EQ(counts->files, 27u);
  // Not read: two scripts whose section headers are indented, two fragments
  // without a section header, one header without events, and one script
  // whose only event has an empty text.
  EXPECT_EQ(counts->own, (subtest::Tally{{"ass", 21}}));
  EXPECT_EQ(counts->detected, (subtest::Tally{{"ass", 21}}));
}
