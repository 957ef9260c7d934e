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
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;

namespace {

struct DocFree {
  void operator()(SubDoc *doc) const { sub_doc_free(doc); }
};
using DocPtr = std::unique_ptr<SubDoc, DocFree>;

// Parses `text` with the format detected and the bytes taken as UTF-8 as they
// are (ill-formed sequences pass through to the lines).
DocPtr parse_input(const std::string &text) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.encoding = "utf-8";
  SubDoc *doc = nullptr;
  sub_doc_parse(text.data(), text.size(), &options, &doc);
  return DocPtr(doc);
}

// The written text, or "<rc N>" when writing failed.
std::string write_ttml(SubDoc *doc, const char *lang = nullptr) {
  SubWriteOptions options;
  sub_write_options_init(&options);
  if (lang) options.ttml_lang = lang;
  char *out = nullptr;
  size_t len = 0;
  const int32_t rc = sub_doc_write(doc, SUB_FMT_TTML, &options, &out, &len);
  if (rc != SUB_OK) return "<rc " + std::to_string(rc) + ">";
  std::string text(out, len);
  sub_text_free(out);
  return text;
}

// A YouTube timed-text file of one cue from 1 s to 2 s: its text (with
// references decoded) may hold any byte but NUL, line breaks included.
std::string yt(const std::string &text) {
  return "<transcript><text start=\"1\" dur=\"1\">" + text + "</text></transcript>";
}

std::string srt(const std::string &timing, const std::string &text) {
  return "1\n" + timing + "\n" + text + "\n\n";
}

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

struct Row {
  const char *name;
  std::string input;
  std::string want;
  int64_t shift = 0;
  const char *lang = nullptr;
  void (*edit)(SubDoc *) = nullptr;
};

const std::vector<Row> &rows() {
  static const std::vector<Row> all = {
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

DocPtr row_doc(const Row &row) {
  DocPtr doc = parse_input(row.input);
  if (!doc) return doc;
  if (row.shift) sub_doc_shift(doc.get(), row.shift);
  if (row.edit) row.edit(doc.get());
  return doc;
}

TEST(TtmlWriter, WritesEachEdge) {
  for (const Row &row : rows()) {
    SCOPED_TRACE(row.name);
    DocPtr doc = row_doc(row);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(write_ttml(doc.get(), row.lang), row.want);
  }
}

// `s` with what XML 1.0 cannot hold as U+FFFD: ill-formed UTF-8 (one per
// maximal ill-formed subpart), control bytes other than tab, U+FFFE, U+FFFF.
std::string xml_chars(const std::string &s) {
  const auto *u = reinterpret_cast<const unsigned char *>(s.data());
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t subpart = 0;
    const size_t seq = u[i] < 0x80 ? 1 : sub_utf8_seq(u, s.size(), i, &subpart);
    const std::string c = seq ? s.substr(i, seq) : R;
    const bool allowed =
        seq && (u[i] >= 0x20 || u[i] == '\t') && c != "\xEF\xBF\xBE" && c != "\xEF\xBF\xBF";
    out += allowed ? c : R;
    i += seq ? seq : subpart;
  }
  return out;
}

// The display lines of cue `i` (cut at LF, CR and CR LF), empty ones too.
std::vector<std::string> pieces(const SubDoc *doc, int32_t i) {
  std::vector<std::string> out;
  for (int32_t l = 0; l < sub_doc_cue_line_count(doc, i); ++l) {
    const std::string line = sub_doc_cue_line(doc, i, l);
    std::string piece;
    for (size_t k = 0; k <= line.size(); ++k) {
      if (k < line.size() && line[k] != '\n' && line[k] != '\r') {
        piece += line[k];
        continue;
      }
      out.push_back(piece);
      piece.clear();
      if (k + 1 < line.size() && line[k] == '\r' && line[k + 1] == '\n') ++k;
    }
  }
  return out;
}

struct Seen {
  int32_t start;
  int32_t end;
  std::vector<std::string> lines;
  bool operator==(const Seen &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Seen &c) {
  os << c.start << " --> " << c.end;
  for (const std::string &l : c.lines) os << " | " << l;
  return os;
}

// What the standard reading gives back for the document: each line with
// what XML cannot hold as U+FFFD, runs of spaces and tabs as one space, no
// space at its ends; empty lines dropped; no cue for one left with no line
// or whose end (negative times as 0) is not after its start.
std::vector<Seen> expected_back(const SubDoc *doc) {
  std::vector<Seen> cues;
  for (int32_t i = 0; i < sub_doc_cue_count(doc); ++i) {
    Seen c{std::max(sub_doc_cue_start_ms(doc, i), 0), std::max(sub_doc_cue_end_ms(doc, i), 0), {}};
    for (const std::string &piece : pieces(doc, i)) {
      std::string line;
      bool space = false;
      for (char ch : xml_chars(piece)) {
        if (ch == ' ' || ch == '\t') {
          space = !line.empty();
          continue;
        }
        if (space) line += ' ';
        space = false;
        line += ch;
      }
      if (!line.empty()) c.lines.push_back(line);
    }
    if (!c.lines.empty() && c.start < c.end) cues.push_back(std::move(c));
  }
  return cues;
}

std::vector<Seen> read_back(const std::string &text, int32_t format) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  SubDoc *raw = nullptr;
  const int32_t rc = sub_doc_parse(text.data(), text.size(), &options, &raw);
  DocPtr doc(raw);
  EXPECT_TRUE(rc == SUB_OK || (rc == SUB_ERR_NOCUES && sub_doc_cue_count(raw) == 0)) << rc;
  if (rc == SUB_OK) {
    EXPECT_EQ(sub_doc_format(raw), SUB_FMT_TTML);
  }
  std::vector<Seen> cues;
  for (int32_t i = 0; i < sub_doc_cue_count(raw); ++i) {
    Seen c{sub_doc_cue_start_ms(raw, i), sub_doc_cue_end_ms(raw, i), {}};
    for (int32_t l = 0; l < sub_doc_cue_line_count(raw, i); ++l)
      c.lines.emplace_back(sub_doc_cue_line(raw, i, l));
    cues.push_back(std::move(c));
  }
  return cues;
}

// A document of `n` cues with random times (negative ones too) and lines of
// random bytes drawn mostly from the ones that need care.
DocPtr random_doc(uint32_t seed, int n) {
  DocPtr doc = parse_input(srt("00:00:01,000 --> 00:00:02,000", "x"));
  std::mt19937 rng(seed);
  const std::string palette[] = {" ",
                                 "  ",
                                 "\t",
                                 "\n",
                                 "\r",
                                 "\r\n",
                                 "&",
                                 "&amp;",
                                 "<",
                                 ">",
                                 "]]>",
                                 ";",
                                 "#",
                                 "a",
                                 "\xC3\xA9",
                                 "\xEF\xBF\xBE",
                                 "\x01",
                                 "\x1F",
                                 "\x7F",
                                 "\xE2\x80\xA8",
                                 "\xF0\x9F\x98\x80"};
  for (int i = 0; i < n; ++i) {
    const int32_t start = static_cast<int32_t>(rng() % 7200000) - 600000;
    const int32_t end = start + static_cast<int32_t>(rng() % 5000) - 500;
    const int32_t c = sub_cue_add(doc.get(), start, end);
    for (uint32_t l = rng() % 3; l > 0; --l) {
      std::string line;
      for (uint32_t k = rng() % 12; k > 0; --k) {
        const uint32_t pick = rng() % 30;
        if (pick < std::size(palette))
          line += palette[pick];
        else
          line += static_cast<char>(0x80 + rng() % 0x80);  // a lone non-ASCII byte
      }
      sub_cue_add_line(doc.get(), c, line.data(), line.size());
    }
  }
  return doc;
}

TEST(TtmlWriter, ReadsBackAsTheSameCues) {
  std::vector<std::pair<std::string, DocPtr>> docs;
  for (const Row &row : rows()) docs.emplace_back(row.name, row_doc(row));
  for (uint32_t seed = 1; seed <= 5; ++seed)
    docs.emplace_back("random " + std::to_string(seed), random_doc(seed, 200));
  for (const auto &[name, doc] : docs) {
    SCOPED_TRACE(name);
    ASSERT_NE(doc, nullptr);
    const std::string text = write_ttml(doc.get());
    const std::vector<Seen> want = expected_back(doc.get());
    EXPECT_EQ(read_back(text, SUB_FMT_AUTO), want) << text;
    EXPECT_EQ(read_back(text, SUB_FMT_TTML), want) << text;
  }
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
  std::vector<DocPtr> docs;
  std::vector<std::string> langs;
  for (const Row &row : rows()) {
    docs.push_back(row_doc(row));
    langs.emplace_back(row.lang ? row.lang : "");
  }
  for (uint32_t seed = 11; seed <= 15; ++seed) {
    docs.push_back(random_doc(seed, 200));
    langs.emplace_back("");
  }
  std::vector<std::string> paths;
  for (size_t k = 0; k < docs.size(); ++k) {
    const SubDoc *doc = docs[k].get();
    ASSERT_NE(doc, nullptr);
    const std::string text = write_ttml(docs[k].get(), langs[k].c_str());
    const std::string path = dir + "ttml_writer_" + std::to_string(k) + ".ttml";
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    paths.push_back(path);
    args += " '" + path + "'";
    for (int32_t i = 0; i < sub_doc_cue_count(doc); ++i) {
      std::string joined;
      const std::vector<std::string> p = pieces(doc, i);
      for (size_t j = 0; j < p.size(); ++j) joined += (j ? "\n" : "") + xml_chars(p[j]);
      want += clock(sub_doc_cue_start_ms(doc, i)) + " " + clock(sub_doc_cue_end_ms(doc, i)) + " " +
              (joined.empty() ? "-" : hex(joined)) + "\n";
    }
  }
  const int status = subtest::run_command("python3 '" + script_path + "'" + args, &out, &err);
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(out, want);
  for (const std::string &path : paths) std::remove(path.c_str());
  std::remove(script_path.c_str());
}

// Every allocation of a write fails in turn: SUB_ERR_NOMEM, no text, nothing
// held; the output grows several times on the way.
TEST(TtmlWriter, AllocationFailures) {
  DocPtr doc = random_doc(7, 300);
  ASSERT_EQ(sub_doc_cue_count(doc.get()), 301);
  const std::string want = write_ttml(doc.get());
  int32_t rc = SUB_OK;
  char *out = nullptr;
  size_t len = 0;
  const uint64_t total = subtest::for_each_allocation_failure(
      [&] {
        out = reinterpret_cast<char *>(1);
        len = 7;
        rc = sub_doc_write(doc.get(), SUB_FMT_TTML, nullptr, &out, &len);
        if (rc == SUB_OK) sub_text_free(out);
      },
      [&](uint64_t n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        EXPECT_EQ(rc, SUB_ERR_NOMEM);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(len, 0u);
      });
  EXPECT_GE(total, 5u);
  EXPECT_EQ(write_ttml(doc.get()), want);
}

}  // namespace
