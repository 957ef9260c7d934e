// The TTML writer: what it writes for each edge of a cue's text and timing;
// that an XML parser takes every output (control bytes and ill-formed UTF-8
// included) and finds each cue's text in it unchanged; that the standard
// reading gives the same cues back, as far as it keeps white space; memory
// running out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "writer_test_support.h"

using namespace std::string_literals;

namespace {

namespace wt = writertest;
using wt::DocPtr;

// The written text, or "<rc N>" when writing failed.
std::string write_ttml(SubDoc *doc, const char *lang = nullptr) {
  return wt::write_with(doc, SUB_FMT_TTML, &SubWriteOptions::ttml_lang, lang);
}

const auto yt = wt::yt_cue;
const auto srt = wt::srt_cue;

std::string head(const std::string &lang = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tt xmlns=\"http://www.w3.org/ns/ttml\" "
         "xml:lang=\"" +
         lang + "\">\n<body>\n<div>\n";
}
const std::string T = "</div>\n</body>\n</tt>\n";
const std::string R = "\xEF\xBF\xBD";   // U+FFFD
const std::string LS = "\xE2\x80\xA8";  // U+2028
const std::string NBSP = "\xC2\xA0";    // U+00A0

// The whole output for one cue from 1 s to 2 s with the text `p` (and
// xml:space="preserve" when `preserve`).
std::string one(const std::string &p, bool preserve = false) {
  return head() + "<p begin=\"00:00:01.000\" end=\"00:00:02.000\"" +
         (preserve ? " xml:space=\"preserve\"" : "") + ">" + p + "</p>\n" + T;
}

// Lines that no reader gives, added through the library's internal store.
void add_lines_with_breaks(SubDoc *doc) {
  for (const char *line : {"", "\r\n", "a\n\nb", "c\r\rd\r\n", "\n"})
    sub_cue_add_line(doc, 0, line, std::strlen(line));
}

// The option of a row is the language.
const std::vector<wt::Row> &rows() {
  static const std::vector<wt::Row> all = {
      {"two cues of srt",
       srt("00:00:01,000 --> 00:00:02,500", "first\nsecond") +
           "2\n00:01:02,003 --> 00:01:04,000\nthird\n",
       head() + "<p begin=\"00:00:01.000\" end=\"00:00:02.500\">first<br/>second</p>\n" +
           "<p begin=\"00:01:02.003\" end=\"00:01:04.000\">third</p>\n" + T},
      {"failed parse: an empty body", "nothing to read", head() + T},
      {"language", srt("00:00:01,000 --> 00:00:02,000", "x"),
       head("en-GB") + "<p begin=\"00:00:01.000\" end=\"00:00:02.000\">x</p>\n" + T, 0, "en-GB"},
      {"language with bytes XML cannot hold", "nothing", head("e" + R + R + "\t") + T, 0,
       "e\xFF\x01\t"},
      // Escaping.
      {"markup characters escaped", yt("&lt;i&gt;x&lt;/i&gt; a &amp; b &amp;amp; c &gt; d"),
       one("&lt;i&gt;x&lt;/i&gt; a &amp; b &amp;amp; c &gt; d")},
      {"arrow and CDATA end", srt("00:00:01,000 --> 00:00:02,000", "a --> b ]]>"),
       one("a --&gt; b ]]&gt;")},
      {"quotes as they are", yt("\"x\" 'y'"), one("\"x\" 'y'")},
      // Breaks: every piece, empty ones too.
      {"blank line inside a line", yt("a\n\nb\r\n\r\nc\rd"), one("a<br/><br/>b<br/><br/>c<br/>d")},
      {"empty pieces kept", srt("00:00:01,000 --> 00:00:02,000", "x"),
       one("x<br/><br/><br/><br/>a<br/><br/>b<br/>c<br/><br/>d<br/><br/><br/>"), 0, nullptr,
       add_lines_with_breaks},
      {"U+2028 is no break", yt("a" + LS + "b"), one("a" + LS + "b")},
      // White space that default handling would change.
      {"single spaces", yt("a b\nc d"), one("a b<br/>c d")},
      {"two spaces", yt("a  b"), one("a  b", true)},
      {"a tab", yt("a\tb"), one("a\tb", true)},
      {"space at a line's start", yt("a\n b"), one("a<br/> b", true)},
      {"space at a line's end", yt("a \nb"), one("a <br/>b", true)},
      {"no-break space is no white space", yt("a\n" + NBSP + "b"), one("a<br/>" + NBSP + "b")},
      // What XML 1.0 cannot hold.
      {"control bytes", yt("a&#1;b&#x7f;c&#x1f;d&#x80;"),
       one("a" + R + "b\x7F"s + "c" + R + "d\xC2\x80")},
      {"ill-formed UTF-8",
       yt("caf\xC3\xA9 \xFF\xC3( \xE2\x82( \xED\xA0\x80 \xC0\xAF \xF0\x9F\x98\x80 \xF4\x90 "
          "\xEF\xBF"),
       one("caf\xC3\xA9 " + R + R + "( " + R + "( " + R + R + R + " " + R + R +
           " \xF0\x9F\x98\x80 " + R + R + " " + R)},
      {"non-characters", yt("\xEF\xBF\xBE \xEF\xBF\xBF \xEF\xBF\xBD \xEF\xB7\x90 \xF4\x8F\xBF\xBF"),
       one(R + " " + R + " " + R + " \xEF\xB7\x90 \xF4\x8F\xBF\xBF")},
      // Cues that show nothing are written all the same; times.
      {"cue without text", "WEBVTT\n\nid\n00:01.000 --> 00:02.000 align:start\n\n", one("")},
      {"end before start", srt("00:00:02,000 --> 00:00:01,000", "x"),
       head() + "<p begin=\"00:00:02.000\" end=\"00:00:01.000\">x</p>\n" + T},
      {"negative start after a shift", srt("00:00:01,000 --> 00:00:02,000", "x"),
       head() + "<p begin=\"00:00:00.000\" end=\"00:00:00.500\">x</p>\n" + T, -1500},
      {"both times negative", srt("00:00:01,000 --> 00:00:02,000", "x"),
       head() + "<p begin=\"00:00:00.000\" end=\"00:00:00.000\">x</p>\n" + T, INT64_MIN},
      {"hours past two digits", srt("00:00:00,000 --> 00:00:00,001", "x"),
       head() + "<p begin=\"596:31:23.647\" end=\"596:31:23.647\">x</p>\n" + T, INT32_MAX},
      {"hundred hours", srt("100:00:00,000 --> 100:00:01,001", "x"),
       head() + "<p begin=\"100:00:00.000\" end=\"100:00:01.001\">x</p>\n" + T},
      {"danmaku keep time and text",
       "<?xml version=\"1.0\"?><i><d p=\"1.5,1,25,16777215,0,0,0,0\">x &amp; y</d></i>",
       head() + "<p begin=\"00:00:01.500\" end=\"00:00:04.500\">x &amp; y</p>\n" + T},
  };
  return all;
}

TEST(TtmlWriter, WritesEachEdge) { wt::expect_rows_written(rows(), write_ttml); }

// `s` with what XML 1.0 cannot hold as U+FFFD: ill-formed UTF-8 (one per
// maximal ill-formed subpart), control bytes other than tab, U+FFFE, U+FFFF.
std::string xml_chars(std::string_view s) {
  return roundtrip::detail::ttml_fix(roundtrip::detail::utf8_fix(s));
}

// Random lines drawn mostly from the bytes that need care.
// clang-format off
const std::vector<std::string> kPalette = {
    " ", "  ", "\t", "\n", "\r", "\r\n", "&", "&amp;", "<", ">", "]]>", ";", "#", "a",
    "\xC3\xA9", "\xEF\xBF\xBE", "\x01", "\x1F", "\x7F", "\xE2\x80\xA8", "\xF0\x9F\x98\x80"};
// clang-format on

// The standard reading gives back what roundtrip::expected() says: each line
// with what XML cannot hold as U+FFFD, runs of spaces and tabs as one space,
// no space at its ends; empty lines dropped; no cue for one left with no line
// or whose end (negative times as 0) is not after its start.
TEST(TtmlWriter, ReadsBackAsTheSameCues) {
  wt::expect_samples_read_back(wt::samples(rows(), kPalette), SUB_FMT_TTML, write_ttml);
}

std::string hex(const std::string &s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A time as the writer writes it: HH:MM:SS.mmm, negative as 0.
std::string clock(int32_t ms) {
  const long long t = std::max(ms, 0);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld", t / 3600000, t / 60000 % 60,
                t / 1000 % 60, t % 1000);
  return buf;
}

// An XML parser (Python's, over expat) takes every output, and finds in each
// paragraph the cue's pieces, with what XML cannot hold as U+FFFD, joined by
// <br/>: no white space lost where a line needs it kept, nothing escaped
// twice.
TEST(TtmlWriter, OutputIsWellFormedXml) {
  std::string out, err;
  if (subtest::run_command("python3 -c 'import xml.dom.minidom'", &out, &err) != 0)
    GTEST_SKIP() << "python3 with xml.dom.minidom is not available";
  // Prints, per paragraph, its begin, end and text (each <br/> as LF) in hex.
  const std::string script =
      "import sys, xml.dom.minidom\n"
      "for name in sys.argv[1:]:\n"
      "  doc = xml.dom.minidom.parse(name)\n"
      "  for p in doc.getElementsByTagName('p'):\n"
      "    text = ''.join(n.data if n.nodeType == n.TEXT_NODE else '\\n' for n in p.childNodes)\n"
      "    print(p.getAttribute('begin'), p.getAttribute('end'), "
      "text.encode('utf-8').hex() or '-')\n";
  const std::string dir = ::testing::TempDir();
  const std::string script_path = dir + "ttml_writer_check.py";
  std::string args, want;
  {
    FILE *f = std::fopen(script_path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(script.data(), 1, script.size(), f);
    std::fclose(f);
  }
  std::vector<std::string> paths;
  const std::vector<wt::Sample> all = wt::samples(rows(), kPalette, 11);
  for (size_t k = 0; k < all.size(); ++k) {
    const SubDoc *doc = all[k].doc.get();
    ASSERT_NE(doc, nullptr);
    const std::string text = write_ttml(all[k].doc.get(), all[k].option);
    const std::string path = dir + "ttml_writer_" + std::to_string(k) + ".ttml";
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    paths.push_back(path);
    args += " '" + path + "'";
    for (const roundtrip::SourceCue &c : roundtrip::source_cues(doc)) {
      std::string joined;
      const std::vector<std::string_view> p = roundtrip::detail::pieces(c, false);
      for (size_t j = 0; j < p.size(); ++j) joined += (j ? "\n" : "") + xml_chars(p[j]);
      want +=
          clock(c.start) + " " + clock(c.end) + " " + (joined.empty() ? "-" : hex(joined)) + "\n";
    }
  }
  const int status = subtest::run_command("python3 '" + script_path + "'" + args, &out, &err);
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(out, want);
  for (const std::string &path : paths) std::remove(path.c_str());
  std::remove(script_path.c_str());
}

// Every allocation of a write fails in turn; the output grows several times
// on the way.
TEST(TtmlWriter, AllocationFailures) {
  DocPtr doc = wt::random_doc(7, 300, kPalette);
  ASSERT_EQ(sub_doc_cue_count(doc.get()), 301);
  EXPECT_GE(wt::write_under_allocation_failures(doc.get(), SUB_FMT_TTML), 5u);
}

}  // namespace
