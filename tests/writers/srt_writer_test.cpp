// The SRT writer: what it writes for each edge of a cue's text and timing,
// that the SRT reader gives the same cues back, and memory running out.
#include <string>
#include <vector>

#include "test_support.h"
#include "writer_test_support.h"

namespace {

namespace wt = writertest;
using wt::DocPtr;
using wt::srt_cue;
using wt::yt_cue;

const std::string R = "\xEF\xBF\xBD";   // U+FFFD
const std::string LS = "\xE2\x80\xA8";  // U+2028
const std::string kOneToTwo = "00:00:01,000 --> 00:00:02,000";

// Cue `index` as written.
std::string cue(int index, const std::string &timing, const std::string &text) {
  return std::to_string(index) + "\n" + timing + "\n" + text + "\n\n";
}

std::string write_srt(SubDoc *doc, const char * /*option*/) { return wt::write(doc, SUB_FMT_SRT); }

const std::vector<wt::Row> &rows() {
  static const std::vector<wt::Row> all = {
      {"several cues and lines",
       "WEBVTT\n\n00:01.000 --> 00:02.500\nfirst\nsecond\n\n01:02.003 --> 01:04.000\nthird\n",
       cue(1, "00:00:01,000 --> 00:00:02,500", "first\nsecond") +
           cue(2, "00:01:02,003 --> 00:01:04,000", "third")},
      {"lines trimmed", yt_cue("a \n  b  c\n\td"), cue(1, kOneToTwo, "a\nb  c\nd")},
      {"empty lines left out", yt_cue("a\n \n\n\t\nb"), cue(1, kOneToTwo, "a\nb")},
      {"cues without text left out, indexes consecutive",
       "WEBVTT\n\n00:01.000 --> 00:02.000\na\n\n00:03.000 --> 00:04.000\n\n"
       "00:05.000 --> 00:06.000\n \n\n00:07.000 --> 00:08.000\nb\n",
       cue(1, kOneToTwo, "a") + cue(2, "00:00:07,000 --> 00:00:08,000", "b")},
      // The LRC reader gives its end markers as cues with one empty line.
      {"end markers left out", "[00:01.00]a\n[00:02.00]\n[00:03.00]b\n",
       cue(1, kOneToTwo, "a") + cue(2, "00:00:03,000 --> 00:00:06,000", "b")},
      {"LF, CR LF, CR and U+2028 inside a line", yt_cue("a\nb\r\nc\rd" + LS + "e"),
       cue(1, kOneToTwo, "a\nb\nc\nd\ne")},
      {"text that reads as a timing line", yt_cue("2\n00:00:05,000 --&gt; 00:00:06,000\nafter"),
       cue(1, kOneToTwo, "2\n00:00:05,000 --> 00:00:06,000\nafter")},
      {"ill-formed UTF-8",
       yt_cue("caf\xC3\xA9 \xFF\xC3( \xE2\x82( \xED\xA0\x80 \xC0\xAF \xF0\x9F\x98\x80 \xF4\x90"),
       cue(1, kOneToTwo,
           "caf\xC3\xA9 " + R + R + "( " + R + "( " + R + R + R + " " + R + R +
               " \xF0\x9F\x98\x80 " + R + R)},
      {"failed parse: nothing", "nothing to read", ""},
      {"end before start", srt_cue("00:00:02,000 --> 00:00:01,000", "x"),
       cue(1, "00:00:02,000 --> 00:00:01,000", "x")},
      {"negative start after a shift", srt_cue(kOneToTwo, "x"),
       cue(1, "00:00:00,000 --> 00:00:00,500", "x"), -1500},
      {"both times negative", srt_cue(kOneToTwo, "x"), cue(1, "00:00:00,000 --> 00:00:00,000", "x"),
       INT64_MIN},
      {"hours past two digits", srt_cue("00:00:00,000 --> 00:00:00,001", "x"),
       cue(1, "596:31:23,647 --> 596:31:23,647", "x"), INT32_MAX},
      {"hundred hours", srt_cue("100:00:00,000 --> 123:45:06,789", "x"),
       cue(1, "100:00:00,000 --> 123:45:06,789", "x")},
      {"danmaku keep time and text",
       "<?xml version=\"1.0\"?><i><d p=\"1.5,1,25,16777215,0,0,0,0\">x &amp; y</d></i>",
       cue(1, "00:00:01,500 --> 00:00:04,500", "x & y")},
  };
  return all;
}

TEST(SrtWriter, WritesEachEdge) { wt::expect_rows_written(rows(), write_srt); }

// The SRT reader gives back what roundtrip::expected() says: each cue's
// trimmed, non-empty display lines (U+2028 breaking too), ill-formed UTF-8 as
// U+FFFD, negative times as 0, no cue for one left without text.
TEST(SrtWriter, ReadsBackAsTheSameCues) {
  // Random lines of pieces among which timing lines, indexes and breaks.
  const std::vector<std::string> palette = {" ", "\t",       "\n",   "\r",           "\r\n",
                                            LS,  "-->",      "1",    "00:00:05,000", " --> ",
                                            "a", "\xC3\xA9", "\x01", "{1}",          "WEBVTT"};
  wt::expect_samples_read_back(wt::samples(rows(), palette), SUB_FMT_SRT, write_srt);
}

// Every allocation of a write fails in turn; 300 cues make the text grow
// several times.
TEST(SrtWriter, AllocationFailures) {
  std::string input;
  for (int i = 0; i < 300; ++i) input += srt_cue(kOneToTwo, " a line \nand another");
  DocPtr doc = wt::parse_ok(input);
  ASSERT_EQ(sub_doc_cue_count(doc.get()), 300);
  EXPECT_GE(wt::write_under_allocation_failures(doc.get(), SUB_FMT_SRT), 5u);
}

}  // namespace
