// The WebVTT writer: what it writes for each edge of a cue's text, timing,
// identifier and settings; that the standard reading gives the same cues
// back; memory running out; linear time on lines full of markup characters.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "writer_test_support.h"

using namespace std::string_literals;

namespace {

namespace wt = writertest;
using wt::DocPtr;

// Parses `text` with the format detected and the bytes taken as UTF-8 as they
// are (ill-formed sequences pass through to the lines).
DocPtr parse_input(const std::string &text) { return wt::parse(text, {.encoding = "utf-8"}); }

// The written text, or "<rc N>" when writing failed.
std::string write_vtt(SubDoc *doc, const char *header = nullptr) {
  return wt::write_with(doc, SUB_FMT_VTT, &SubWriteOptions::vtt_header, header);
}

const auto yt = wt::yt_cue;
const auto srt = wt::srt_cue;

// A cue from 1 s to 2 s, as written.
std::string cue(const std::string &text) { return "00:00:01.000 --> 00:00:02.000\n" + text + "\n"; }

const std::string H = "WEBVTT\n\n";

// Changes made through the library's internal cue store, for lines and
// identifiers that no reader gives.
void add_lines_with_breaks(SubDoc *doc) {
  for (const char *line : {"", "\r\n", "a\n\nb", "c\r\rd\r\n", "\n"})
    sub_cue_add_line(doc, 0, line, std::strlen(line));
}
void set_unwritable_ids(SubDoc *doc) {
  const char *ids[] = {"a-->b", "two\nlines", "cr\r", "", " spaced id ", "NOTE"};
  for (int32_t i = 0; i < 6; ++i) {
    const int32_t c = sub_cue_add(doc, 1000 * i, 1000 * i + 500);
    sub_cue_set_id(doc, c, ids[i], std::strlen(ids[i]));
    sub_cue_add_line(doc, c, "x", 1);
  }
  const char *settings[] = {"align:start", "line:0\n", "a-->", ""};
  for (int32_t i = 0; i < 4; ++i) {
    const int32_t c = sub_cue_add(doc, 9000, 9500);
    sub_cue_set_settings(doc, c, settings[i], std::strlen(settings[i]));
  }
}

void set_ill_formed_id(SubDoc *doc) {
  const int32_t c = sub_cue_add(doc, 0, 500);
  sub_cue_set_id(doc, c, "i\xC3", 2);
  sub_cue_set_settings(doc, c, "region:r\xFF", 9);
  sub_cue_add_line(doc, c, "x", 1);
}

const std::string R = "\xEF\xBF\xBD";   // U+FFFD
const std::string LS = "\xE2\x80\xA8";  // U+2028

// The option of a row is the header.
const std::vector<wt::Row> &rows() {
  static const std::vector<wt::Row> all = {
      {"two cues of srt",
       srt("00:00:01,000 --> 00:00:02,500", "first\nsecond") +
           "2\n00:01:02,003 --> 00:01:04,000\nthird\n",
       H + "00:00:01.000 --> 00:00:02.500\nfirst\nsecond\n\n00:01:02.003 --> "
           "00:01:04.000\nthird\n\n"},
      {"failed parse: the header alone", "nothing to read", H},
      {"header option", srt("00:00:01,000 --> 00:00:02,000", "x"),
       "WEBVTT - English\n\n" + cue("x") + "\n", 0, "- English"},
      {"empty header option", srt("00:00:01,000 --> 00:00:02,000", "x"), H + cue("x") + "\n", 0,
       ""},
      // Text that would read as a timing line or end the cue.
      {"arrow in text", srt("00:00:01,000 --> 00:00:02,000", "a --> b"),
       H + cue("a --&gt; b") + "\n"},
      {"a whole timing line as text", yt("00:00:05.000 --&gt; 00:00:06.000 line:0"),
       H + cue("00:00:05.000 --&gt; 00:00:06.000 line:0") + "\n"},
      {"arrow without spaces", yt("--&gt;--&gt;"), H + cue("--&gt;--&gt;") + "\n"},
      {"blank line inside a line", yt("a\n\nb\r\n\r\nc\rd"), H + cue("a\nb\nc\nd") + "\n"},
      {"empty lines of a cue left out", srt("00:00:01,000 --> 00:00:02,000", "x"),
       H + cue("x\na\nb\nc\nd") + "\n", 0, nullptr, add_lines_with_breaks},
      {"blank pieces and inner spaces kept", yt("a\n \n  b  c\t"), H + cue("a\n \n  b  c") + "\n"},
      {"U+2028 is no break", yt("a" + LS + "b"), H + cue("a" + LS + "b") + "\n"},
      // Markup kept; '<', '>' and '&' that are not markup escaped.
      {"tags kept",
       yt("&lt;i&gt;x&lt;/i&gt; &lt;c.yellow.bg_blue&gt;y&lt;/c&gt; &lt;v Roger Bingham&gt;z"),
       H + cue("<i>x</i> <c.yellow.bg_blue>y</c> <v Roger Bingham>z") + "\n"},
      {"timestamp tag kept", yt("a &lt;00:00:01.500&gt;b"), H + cue("a <00:00:01.500>b") + "\n"},
      {"lone brackets", yt("a &lt; b &gt; c &lt;&gt; &lt; i&gt; &lt;-x&gt;"),
       H + cue("a &lt; b &gt; c &lt;&gt; &lt; i&gt; &lt;-x&gt;") + "\n"},
      {"'<' before a tag", yt("a&lt;b&lt;i&gt;c"), H + cue("a&lt;b<i>c") + "\n"},
      {"tag not closed on its line", yt("&lt;i\nx&gt;"), H + cue("&lt;i\nx&gt;") + "\n"},
      {"tag not closed at the end", yt("I &lt;3 you &lt;/i"), H + cue("I &lt;3 you &lt;/i") + "\n"},
      {"tag ending in an arrow", yt("&lt;a--&gt; &lt;/--&gt; &lt;b-&gt;"),
       H + cue("&lt;a--&gt; &lt;/--&gt; <b->") + "\n"},
      {"tag then more brackets", yt("&lt;a-&gt;&gt; &lt;b&gt;-&gt;"),
       H + cue("<a->&gt; <b>-&gt;") + "\n"},
      {"references kept",
       yt("&amp;amp; &amp;lt; &amp;nbsp; &amp;#38; &amp;#x26; &amp;#X2a; &amp;b2;"),
       H + cue("&amp; &lt; &nbsp; &#38; &#x26; &#X2a; &b2;") + "\n"},
      {"ampersands escaped",
       yt("a &amp; b &amp;; &amp;#; &amp;#x; &amp;#12 &amp;a-b; &amp;1; &amp;#xg;"),
       H + cue("a &amp; b &amp;; &amp;#; &amp;#x; &amp;#12 &amp;a-b; &amp;1; &amp;#xg;") + "\n"},
      {"reference cut by a line break", yt("&amp;amp\n;"), H + cue("&amp;amp\n;") + "\n"},
      // Identifiers and settings.
      {"ids and settings kept",
       "WEBVTT\n\nintro\n00:01.000 --> 00:02.000 align:start line:0\nhi\n\n"
       "00:03.000 --> 00:04.000 size:50%\nno id\n\n  spaced \n00:05.000 --> 00:06.000\nz\n",
       H + "intro\n00:00:01.000 --> 00:00:02.000 align:start line:0\nhi\n\n"
           "00:00:03.000 --> 00:00:04.000 size:50%\nno id\n\n"
           "  spaced \n00:00:05.000 --> 00:00:06.000\nz\n\n"},
      {"ids and settings that cannot be written", "WEBVTT\n",
       H + "00:00:00.000 --> 00:00:00.500\nx\n\n" + "00:00:01.000 --> 00:00:01.500\nx\n\n" +
           "00:00:02.000 --> 00:00:02.500\nx\n\n" + "00:00:03.000 --> 00:00:03.500\nx\n\n" +
           " spaced id \n00:00:04.000 --> 00:00:04.500\nx\n\n" +
           "NOTE\n00:00:05.000 --> 00:00:05.500\nx\n\n" +
           "00:00:09.000 --> 00:00:09.500 align:start\n\n" + "00:00:09.000 --> 00:00:09.500\n\n" +
           "00:00:09.000 --> 00:00:09.500\n\n" + "00:00:09.000 --> 00:00:09.500\n\n",
       0, nullptr, set_unwritable_ids},
      // Cues without text are written; times.
      {"cue without text", "WEBVTT\n\nid\n00:01.000 --> 00:02.000\n\n00:03.000 --> 00:04.000\nx\n",
       H + "id\n00:00:01.000 --> 00:00:02.000\n\n00:00:03.000 --> 00:00:04.000\nx\n\n"},
      {"end before start", srt("00:00:02,000 --> 00:00:01,000", "x"),
       H + "00:00:02.000 --> 00:00:01.000\nx\n\n"},
      {"negative start after a shift", srt("00:00:01,000 --> 00:00:02,000", "x"),
       H + "00:00:00.000 --> 00:00:00.500\nx\n\n", -1500},
      {"both times negative", srt("00:00:01,000 --> 00:00:02,000", "x"),
       H + "00:00:00.000 --> 00:00:00.000\nx\n\n", INT64_MIN},
      {"hours past two digits", srt("00:00:00,000 --> 00:00:00,001", "x"),
       H + "596:31:23.647 --> 596:31:23.647\nx\n\n", INT32_MAX},
      {"hundred hours", srt("100:00:00,000 --> 100:00:01,000", "x"),
       H + "100:00:00.000 --> 100:00:01.000\nx\n\n"},
      // UTF-8: ill-formed sequences as U+FFFD (one per maximal ill-formed
      // subpart), control bytes as they are.
      {"ill-formed UTF-8",
       yt("caf\xC3\xA9 \xFF\xC3( \xE2\x82( \xED\xA0\x80 \xC0\xAF \xF0\x9F\x98\x80 \xF4\x90"),
       H +
           cue("caf\xC3\xA9 " + R + R + "( " + R + "( " + R + R + R + " " + R + R +
               " \xF0\x9F\x98\x80 " + R + R) +
           "\n"},
      {"ill-formed UTF-8 inside a tag and at a line's end",
       yt("&lt;v Jos\xC3\xA9 \xFF&amp;&gt;x\xE2\x82"),
       H + cue("<v Jos\xC3\xA9 " + R + "&>x" + R) + "\n"},
      {"control bytes as they are", yt("a&#1;b&#x7f;c\td"),
       H + cue("a\x01" + "b\x7F"s + "c\td") + "\n"},
      {"ill-formed UTF-8 in ids, settings and header", "WEBVTT\n",
       "WEBVTT h" + R + "\n\n" + "i" + R + "\n00:00:00.000 --> 00:00:00.500 region:r" + R +
           "\nx\n\n",
       0, "h\xFF", set_ill_formed_id},
      {"danmaku keep time and text",
       "<?xml version=\"1.0\"?><i><d p=\"1.5,1,25,16777215,0,0,0,0\">x &amp; y</d></i>",
       H + "00:00:01.500 --> 00:00:04.500\nx &amp; y\n\n"},
  };
  return all;
}

TEST(VttWriter, WritesEachEdge) { wt::expect_rows_written(rows(), write_vtt); }

// The standard reading gives back what roundtrip::expected() says: negative
// times as 0, the lines cut at LF and CR with empty pieces dropped, an
// identifier only when it fits on one line without "-->", ill-formed UTF-8
// as U+FFFD; lines compared with &amp; &lt; &gt; decoded.
TEST(VttWriter, ReadsBackAsTheSameCues) {
  // Random lines drawn mostly from the bytes that need care.
  const std::vector<std::string> palette = {
      " ",   "\t", "\n",       "\r",  "\r\n", "&",       "&amp;", "&lt;",        "&#x26;",
      "&#1", "<",  ">",        "<b>", "</b>", "<1",      "-",     "--",          "-->",
      "a",   ";",  "\xC3\xA9", "#",   "\x01", "<v a&b>", "&gt;",  "\xE2\x80\xA8"};
  wt::expect_samples_read_back(wt::samples(rows(), palette), SUB_FMT_VTT, write_vtt,
                               roundtrip::detail::vtt_decode);
}

// Every allocation of a write fails in turn; the output grows several times
// on the way.
TEST(VttWriter, AllocationFailures) {
  std::string input = "WEBVTT\n\n";
  for (int i = 0; i < 300; ++i)
    input +=
        "c" + std::to_string(i) + "\n00:00:01.000 --> 00:00:02.000 align:start\n<i>a</i> & b\n\n";
  DocPtr doc = parse_input(input);
  ASSERT_EQ(sub_doc_cue_count(doc.get()), 300);
  EXPECT_GE(wt::write_under_allocation_failures(doc.get(), SUB_FMT_VTT), 5u);
}

// Lines made of nothing but markup characters: each '<' looks no further
// than the next '<', so writing stays linear.
TEST(VttWriter, HostileLinesStayLinear) {
  const size_t n = size_t{1} << 20;
  struct Case {
    const char *name;
    std::string line;
  };
  const Case cases[] = {
      {"'<' and a letter", subtest::repeat("<a", n / 2)},
      {"'<' alone", std::string(n, '<')},
      {"a tag closed at the end", subtest::repeat("<a", n / 2) + ">"},
      {"'&' and a name", subtest::repeat("&a", n / 2)},
      {"'&#'", subtest::repeat("&#", n / 2)},
      {"a long reference", "&" + std::string(n, 'a') + ";"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DocPtr doc = parse_input(srt("00:00:01,000 --> 00:00:02,000", "x"));
    ASSERT_EQ(sub_cue_add_line(doc.get(), 0, c.line.data(), c.line.size()), 0);
    std::string text;
    const double secs = subtest::seconds_to_run([&] { text = write_vtt(doc.get()); });
    EXPECT_GT(text.size(), c.line.size());
    EXPECT_LT(secs, 3.0);
  }
}

}  // namespace
