// The ASS writer: the script it writes for documents read from other
// formats, that the ASS reader gives the same cues back, and running out of
// memory while writing.
#include <string>
#include <vector>

#include "test_support.h"
#include "writer_test_support.h"

namespace {

namespace wt = writertest;
using wt::DocPtr;

// The document of `input` read as `format`, shifted by `shift` ms. TTML is
// read the classic way, which keeps line breaks written as references.
DocPtr read_doc(const char *format, const std::string &input, int64_t shift = 0) {
  const bool ttml = sub_format_id(format) == SUB_FMT_TTML;
  return wt::parse_ok(input, {.format = format,
                              .reading = ttml ? SUB_READING_CLASSIC : SUB_READING_STANDARD,
                              .shift = shift});
}

// The written text, or "<rc N>" when writing failed.
std::string write_ass(SubDoc *doc, const SubWriteOptions *options = nullptr) {
  return wt::write(doc, SUB_FMT_ASS, options);
}

std::string ass_head(const std::string &play_res_x, const std::string &play_res_y,
                     const std::string &font, const std::string &size) {
  return "[Script Info]\n"
         "ScriptType: v4.00+\n"
         "PlayResX: " +
         play_res_x + "\nPlayResY: " + play_res_y +
         "\n"
         "WrapStyle: 0\n"
         "ScaledBorderAndShadow: yes\n"
         "\n"
         "[V4+ Styles]\n"
         "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
         "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
         "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
         "Style: Default," +
         font + "," + size +
         ",&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,2,1,2,20,20,20,1\n"
         "\n"
         "[Events]\n"
         "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
}

const std::string kHead = ass_head("1920", "1080", "Arial", "54");

using wt::srt_cue;

struct AssCase {
  const char *name;
  const char *format;  // of the input
  std::string input;
  int64_t shift;       // applied before writing
  std::string events;  // what follows the header
};

const std::vector<AssCase> &ass_cases() {
  static const std::vector<AssCase> cases = {
      {"several cues and lines", "srt",
       srt_cue("00:00:01,000 --> 00:00:02,500", "first\nsecond") +
           srt_cue("00:00:03,000 --> 00:00:04,000", "third"),
       0,
       "Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,first\\Nsecond\n"
       "Dialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,third\n"},
      {"lines trimmed, blank ones left out", "vtt",
       "WEBVTT\n\n00:01.000 --> 00:02.000\n a \n \n\tb\t\n", 0,
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a\\Nb\n"},
      {"breaks inside a line", "ttml",
       "<tt xmlns=\"http://www.w3.org/ns/ttml\"><body><div><p begin=\"1s\" end=\"2s\">"
       "a&#10;&#10;b&#13;&#10;c&#13;d</p></div></body></tt>",
       0, "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a\\Nb\\Nc\\Nd\n"},
      {"line separator breaks", "vtt", "WEBVTT\n\n00:01.000 --> 00:02.000\na\xE2\x80\xA8 b\n", 0,
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a\\Nb\n"},
      // The LRC reader gives an end marker as a cue with one empty line.
      {"cues without text left out", "lrc", "[00:01.00]a\n[00:02.00]\n[00:03.00]b\n", 0,
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a\n"
       "Dialogue: 0,0:00:03.00,0:00:06.00,Default,,0,0,0,,b\n"},
      {"blank cue left out", "vtt",
       "WEBVTT\n\n00:01.000 --> 00:02.000\n \n\n00:03.000 --> 00:04.000\n\n00:05.000 --> "
       "00:06.000\nc\n",
       0, "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,c\n"},
      {"override blocks kept, other braces escaped", "srt",
       srt_cue("00:00:01,000 --> 00:00:02,000", "{\\an8}top {b} x}y{ {\\i1}z{\\i0} {}"), 0,
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\an8}top \\{b\\} x\\}y\\{ "
       "{\\i1}z{\\i0} \\{\\}\n"},
      {"an override block ends at its line", "srt",
       srt_cue("00:00:01,000 --> 00:00:02,000", "{\\b1 open\nclose}"), 0,
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,\\{\\b1 open\\Nclose\\}\n"},
      {"block after a lone brace", "srt",
       srt_cue("00:00:01,000 --> 00:00:02,000", "} {\\b1}x{\\b0} {\\c"), 0,
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,\\} {\\b1}x{\\b0} \\{\\c\n"},
      {"commas in text", "srt", srt_cue("00:00:01,000 --> 00:00:02,000", "a, b,,c,"), 0,
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a, b,,c,\n"},
      {"zero-length and reversed cues last 10 ms", "srt",
       srt_cue("00:00:01,000 --> 00:00:01,000", "zero") +
           srt_cue("00:00:05,000 --> 00:00:04,000", "reversed") +
           srt_cue("00:00:07,001 --> 00:00:07,009", "same centisecond") +
           srt_cue("00:00:08,001 --> 00:00:08,010", "next centisecond"),
       0,
       "Dialogue: 0,0:00:01.00,0:00:01.01,Default,,0,0,0,,zero\n"
       "Dialogue: 0,0:00:05.00,0:00:05.01,Default,,0,0,0,,reversed\n"
       "Dialogue: 0,0:00:07.00,0:00:07.01,Default,,0,0,0,,same centisecond\n"
       "Dialogue: 0,0:00:08.00,0:00:08.01,Default,,0,0,0,,next centisecond\n"},
      {"times floored to centiseconds", "srt",
       srt_cue("00:00:01,239 --> 00:00:02,999", "x") +
           srt_cue("00:59:59,995 --> 01:00:00,009", "y"),
       0,
       "Dialogue: 0,0:00:01.23,0:00:02.99,Default,,0,0,0,,x\n"
       "Dialogue: 0,0:59:59.99,1:00:00.00,Default,,0,0,0,,y\n"},
      {"negative times written as 0", "srt",
       srt_cue("00:00:01,000 --> 00:00:03,000", "starts before 0") +
           srt_cue("00:00:01,000 --> 00:00:01,500", "wholly before 0"),
       -2000,
       "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,starts before 0\n"
       "Dialogue: 0,0:00:00.00,0:00:00.01,Default,,0,0,0,,wholly before 0\n"},
      {"hours of three digits", "srt", srt_cue("100:00:00,000 --> 123:45:06,789", "x"), 0,
       "Dialogue: 0,100:00:00.00,123:45:06.78,Default,,0,0,0,,x\n"},
      // INT32_MAX ms floors to 596:31:23.64; an end 10 ms later would not
      // be a time any more, so the start moves back.
      {"end of the time range", "srt", srt_cue("00:00:01,000 --> 00:00:02,000", "x"), INT32_MAX,
       "Dialogue: 0,596:31:23.63,596:31:23.64,Default,,0,0,0,,x\n"},
  };
  return cases;
}

TEST(AssWriter, WritesTheScript) {
  for (const AssCase &row : ass_cases()) {
    SCOPED_TRACE(row.name);
    DocPtr doc = read_doc(row.format, row.input, row.shift);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(write_ass(doc.get()), kHead + row.events);
  }
}

TEST(AssWriter, EmptyDocumentIsTheHeader) {
  DocPtr doc = read_doc("lrc", "[00:01.00]\n");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(write_ass(doc.get()), kHead);
}

TEST(AssWriter, Options) {
  struct Row {
    int32_t play_res_x;
    int32_t play_res_y;
    const char *font;
    double size;
    std::string head;
  };
  const Row rows[] = {
      {640, 360, "DejaVu Sans", 20.5, ass_head("640", "360", "DejaVu Sans", "20.5")},
      {1, 16384, "X", 10000, ass_head("1", "16384", "X", "10000")},
      {1920, 1080, "Arial", 0.001, ass_head("1920", "1080", "Arial", "0.001")},
      // The shortest decimal that reads back as the double, never an exponent.
      {1920, 1080, "Arial", 1e-7, ass_head("1920", "1080", "Arial", "0.0000001")},
      {1920, 1080, "Arial", 0.1 + 0.2, ass_head("1920", "1080", "Arial", "0.30000000000000004")},
  };
  DocPtr doc = read_doc("srt", srt_cue("00:00:01,000 --> 00:00:02,000", "x"));
  ASSERT_NE(doc, nullptr);
  for (const Row &row : rows) {
    SCOPED_TRACE(row.font + std::string(" ") + std::to_string(row.size));
    SubWriteOptions options;
    sub_write_options_init(&options);
    options.ass_play_res_x = row.play_res_x;
    options.ass_play_res_y = row.play_res_y;
    options.ass_font = row.font;
    options.ass_font_size = row.size;
    EXPECT_EQ(write_ass(doc.get(), &options),
              row.head + "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x\n");
  }
}

// A backslash before N, n or h has no escape in ASS: it is written as it
// is and reads back as a break (here) or a hard space (for renderers).
TEST(AssWriter, BackslashSequencesWrittenAsTheyAre) {
  DocPtr doc = read_doc("srt", srt_cue("00:00:01,000 --> 00:00:02,000", "C:\\new \\h x\\"));
  ASSERT_NE(doc, nullptr);
  const std::string text = write_ass(doc.get());
  EXPECT_EQ(text, kHead + "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,C:\\new \\h x\\\n");
  DocPtr back = read_doc("ass", text);
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(sub_doc_cue_count(back.get()), 1);
  ASSERT_EQ(sub_doc_cue_line_count(back.get(), 0), 2);
  EXPECT_STREQ(sub_doc_cue_line(back.get(), 0, 0), "C:");
  EXPECT_STREQ(sub_doc_cue_line(back.get(), 0, 1), "ew \\h x\\");
}

// The ASS reader gives back what roundtrip::expected() says: each cue with
// text, its times floored (an end not after the start made 10 ms later), its
// trimmed non-empty display lines with their braces escaped.
TEST(AssWriter, ReadsBackAsTheSameCues) {
  for (const AssCase &row : ass_cases()) {
    SCOPED_TRACE(row.name);
    DocPtr doc = read_doc(row.format, row.input, row.shift);
    ASSERT_NE(doc, nullptr);
    const std::string text = write_ass(doc.get());
    EXPECT_EQ(wt::read_back(text, SUB_FMT_AUTO, SUB_FMT_ASS),
              wt::expected_cues(doc.get(), SUB_FMT_ASS))
        << text;
  }
}

// Braces are escaped in one pass, however many "{\" wait for a "}".
TEST(AssWriter, LongLinesStayLinear) {
  std::string line;
  for (int i = 0; i < 300000; ++i) line += "{\\";
  DocPtr doc = read_doc("vtt", "WEBVTT\n\n00:01.000 --> 00:02.000\n" + line + "x\n");
  ASSERT_NE(doc, nullptr);
  std::string text;
  EXPECT_LT(subtest::seconds_to_run([&] { text = write_ass(doc.get()); }), 2.0);
  std::string want = kHead + "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,";
  for (int i = 0; i < 300000; ++i) want += "\\{\\";
  EXPECT_TRUE(text == want + "x\n") << text.size() << " bytes";
}

// Every allocation of a write failing in turn; 300 cues make the text grow
// several times.
TEST(AssWriter, AllocationFailures) {
  std::string input;
  for (int i = 0; i < 300; ++i)
    input += srt_cue("00:00:01,000 --> 00:00:02,000", "a {b} {\\i1}c, d\ne");
  DocPtr doc = read_doc("srt", input);
  ASSERT_NE(doc, nullptr);
  EXPECT_GT(wt::write_under_allocation_failures(doc.get(), SUB_FMT_ASS), 3u);
}

}  // namespace
