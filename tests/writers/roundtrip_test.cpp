// The writers' round trip: a document written in SRT, WebVTT, ASS, LRC or
// TTML and read back gives the cues the writers' contract keeps (the
// comparator of fuzz/roundtrip.h computes them). Over every file of the
// shared corpus, and over built documents whose expected read-back is
// spelled out here, so that the comparator is pinned down too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "roundtrip.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using roundtrip::Cue;
using roundtrip::DocPtr;
using roundtrip::SourceCue;

const fs::path corpus_root = SUBPARSE_SOURCE_DIR "/../shared/corpus";

bool is_result_file(const fs::path &p) {
  const std::string name = p.filename().string();
  const auto ends = [&](std::string_view suffix) {
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends(".expected.json") || ends(".isd.txt") || ends(".md");
}

// One parsed corpus file: its documents by the standard reading and, where
// the format has a second one, by the classic reading.
struct CorpusDoc {
  std::string name;  // relative to the corpus root, with the reading
  int32_t format;    // the format the parse found
  bool classic;      // read by the classic reading
  DocPtr doc;
};

struct Corpus {
  bool present = false;
  size_t files = 0;   // files considered
  size_t parsed = 0;  // files sub_doc_parse() read
  std::vector<CorpusDoc> docs;
};

DocPtr parse(const std::string &bytes, int32_t reading, int32_t *format) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.reading = reading;
  SubDoc *doc = nullptr;
  const int32_t rc = sub_doc_parse(bytes.data(), bytes.size(), &options, &doc);
  DocPtr owned(doc);
  if (rc != SUB_OK) return nullptr;
  *format = sub_doc_format(doc);
  return owned;
}

// Parsed once for every writer's test.
const Corpus &corpus() {
  static const Corpus all = [] {
    Corpus c;
    if (!fs::is_directory(corpus_root)) return c;
    c.present = true;
    std::vector<fs::path> paths;
    for (const auto &entry : fs::recursive_directory_iterator(corpus_root))
      if (entry.is_regular_file() && !is_result_file(entry.path())) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path &path : paths) {
      ++c.files;
      const std::string bytes = subtest::read_file(path.string());
      const std::string name = fs::relative(path, corpus_root).string();
      int32_t format = -1;
      DocPtr standard = parse(bytes, SUB_READING_STANDARD, &format);
      if (!standard) continue;
      ++c.parsed;
      c.docs.push_back({name, format, false, std::move(standard)});
      if (format == SUB_FMT_VTT || format == SUB_FMT_TTML) {
        DocPtr classic = parse(bytes, SUB_READING_CLASSIC, &format);
        if (classic)
          c.docs.push_back({name + " (classic reading)", format, true, std::move(classic)});
      }
    }
    return c;
  }();
  return all;
}

class CorpusRoundTrip : public testing::TestWithParam<int32_t> {};

std::string first_ones(const std::vector<std::string> &all) {
  std::string shown;
  for (size_t i = 0; i < all.size() && i < 20; ++i) shown += "\n  " + all[i];
  return shown;
}

// Every document of the corpus written in the format reads back as the
// contract says; the counts by source format are printed.
TEST_P(CorpusRoundTrip, EveryParsedFileReadsBack) {
  const Corpus &c = corpus();
  if (!c.present) GTEST_SKIP() << "no shared corpus at " << corpus_root;
  const int32_t writer = GetParam();
  std::map<std::string, int> checked;
  std::vector<std::string> failures;
  for (const CorpusDoc &d : c.docs) {
    const roundtrip::Result r = roundtrip::check(d.doc.get(), writer);
    ++checked[std::string(sub_format_name(d.format)) + (d.classic ? " (classic)" : "")];
    if (!r.difference.empty()) failures.push_back(d.name + ": " + r.difference);
  }
  std::string counts;
  for (const auto &[format, n] : checked) counts += " " + format + " " + std::to_string(n);
  std::printf("[ %s ] %zu of %zu files parsed, %zu documents checked:%s\n", sub_format_name(writer),
              c.parsed, c.files, c.docs.size(), counts.c_str());
  EXPECT_FALSE(c.docs.empty());
  EXPECT_TRUE(failures.empty()) << failures.size()
                                << " documents do not read back:" << first_ones(failures);
}

// Detection, with no format named, finds the format of every written text
// that holds a cue.
TEST_P(CorpusRoundTrip, WrittenTextsAreDetected) {
  const Corpus &c = corpus();
  if (!c.present) GTEST_SKIP() << "no shared corpus at " << corpus_root;
  const int32_t writer = GetParam();
  std::vector<std::string> undetected;
  for (const CorpusDoc &d : c.docs) {
    const roundtrip::Result r = roundtrip::check(d.doc.get(), writer);
    if (r.expected_cues == 0) continue;
    const std::string detection = roundtrip::detection_difference(r.text, writer);
    if (!detection.empty()) undetected.push_back(d.name + ": " + detection);
  }
  EXPECT_TRUE(undetected.empty()) << undetected.size() << " written texts are not detected as "
                                  << sub_format_name(writer) << ":" << first_ones(undetected);
}

INSTANTIATE_TEST_SUITE_P(Writers, CorpusRoundTrip, testing::ValuesIn(roundtrip::kWriters),
                         [](const testing::TestParamInfo<int32_t> &info) {
                           return std::string(sub_format_name(info.param));
                         });

// A cue of a built document, or one expected back.
Cue cue(int32_t start, int32_t end, std::vector<std::string> lines,
        std::optional<std::string> id = std::nullopt,
        std::optional<std::string> settings = std::nullopt) {
  return {start, end, std::move(lines), std::move(id), std::move(settings)};
}

std::string show(const std::vector<Cue> &cues) {
  std::string out;
  for (const Cue &c : cues) {
    out += "\n  " + std::to_string(c.start) + "-" + std::to_string(c.end);
    for (const std::string &l : c.lines) out += " | \"" + l + "\"";
    if (c.id) out += " id \"" + *c.id + "\"";
    if (c.settings) out += " settings \"" + *c.settings + "\"";
  }
  return out;
}

// A built document, a writer, and the cues reading its text back gives.
struct ContractCase {
  const char *name;
  int32_t format;
  std::vector<Cue> cues;
  std::vector<Cue> read_back;  // as written in the format, WebVTT lines raw
};

std::vector<ContractCase> contract_cases() {
  const std::string u2028 = "\xE2\x80\xA8";
  return {
      {"SRT trims lines, cuts at U+2028 and drops cues without text",
       SUB_FMT_SRT,
       {cue(-20, 1000, {"  a \r\n\r\n b\t", "c" + u2028 + "d"}), cue(2000, 3000, {" ", "\r\n"}),
        cue(4000, 3500, {"00:00:01,000 --> 00:00:02,000"})},
       {cue(0, 1000, {"a", "b", "c", "d"}), cue(4000, 3500, {"00:00:01,000 --> 00:00:02,000"})}},
      {"WebVTT keeps spaces, U+2028, empty cues, ids and settings less the region",
       SUB_FMT_VTT,
       {cue(1000, 2000, {" a ", "\r\nb" + u2028 + "c"}, "intro", "align:start region:r1"),
        cue(3000, 2500, {}, "a --> b", "line:0"), cue(-5, -1, {"\n"}, "", "region:r1")},
       {cue(1000, 2000, {" a ", "b" + u2028 + "c"}, "intro", "align:start"),
        cue(3000, 2500, {}, std::nullopt, "line:0"), cue(0, 0, {})}},
      {"WebVTT escapes what is not markup and keeps what is",
       SUB_FMT_VTT,
       {cue(0, 1000, {"<i>a</i> & b &amp; 3 > 2 --> x", "&#x41; &#65; &nbsp &lt; <c.x-->y> <5"})},
       {cue(0, 1000,
            {"<i>a</i> &amp; b &amp; 3 &gt; 2 --&gt; x",
             "&#x41; &#65; &amp;nbsp &lt; &lt;c.x--&gt;y&gt; &lt;5"})}},
      {"ASS floors to centiseconds, lengthens empty events and escapes braces",
       SUB_FMT_ASS,
       {cue(1019, 1011, {"{\\i1}a{b}{\\i0}", "  c\\Nd "}), cue(2999, 5000, {"}{\\"}),
        cue(0, 0, {"\t"})},
       {cue(1010, 1020, {"{\\i1}a\\{b\\}{\\i0}", "c", "d"}), cue(2990, 5000, {"\\}\\{\\"})}},
      {"ASS at the end of the 32-bit range moves the start back",
       SUB_FMT_ASS,
       {cue(INT32_MAX, INT32_MAX, {"last"})},
       {cue(2147483630, 2147483640, {"last"})}},
      {"LRC sorts, merges equal floored starts and marks ends",
       SUB_FMT_LRC,
       {cue(5000, 6000, {"late"}), cue(1004, 1500, {"b", "c"}), cue(1001, 4000, {"a"}),
        cue(-3, 200, {"[x]"}), cue(9000, 8000, {"last"})},
       {cue(0, 200, {"[x]"}), cue(1000, 4000, {"a / b / c"}), cue(5000, 6000, {"late"}),
        cue(9000, 12000, {"last"})}},
      {"LRC: an end the next entry passes gives way, the reader's product truncates",
       SUB_FMT_LRC,
       {cue(2010, 9000, {"a"}), cue(4020, 4500, {"b"})},
       // "00:02.01" reads as 2009 ms: the reader truncates the product.
       {cue(2009, 4019, {"a"}), cue(4019, 4500, {"b"})}},
      {"TTML collapses white space, replaces what XML cannot hold, drops cues that show nothing",
       SUB_FMT_TTML,
       {cue(-100, 1000, {" a  \t b ", "", "x\x01y\xC3z\xEF\xBF\xBE", "&<>"}),
        cue(2000, 2000, {"zero length"}), cue(3000, 4000, {" ", "\r\n"})},
       {cue(0, 1000, {"a b", "x\xEF\xBF\xBDy\xEF\xBF\xBDz\xEF\xBF\xBD", "&<>"})}},
  };
}

class Contract : public testing::TestWithParam<ContractCase> {};

// The comparator expects the row's cues, and the writer's text reads back as
// them byte for byte.
TEST_P(Contract, ReadBackAsSpelledOut) {
  const ContractCase &c = GetParam();
  DocPtr doc = roundtrip::built(c.cues);
  ASSERT_NE(doc, nullptr);
  const std::vector<Cue> expected = roundtrip::expected(doc.get(), c.format);
  EXPECT_EQ(roundtrip::cue_difference(expected, c.read_back, c.format), "")
      << "the comparator expects" << show(expected);
  const roundtrip::Result r = roundtrip::check(doc.get(), c.format);
  EXPECT_EQ(r.difference, "") << "written:\n" << r.text;
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = c.format;
  SubDoc *back = nullptr;
  sub_doc_parse(r.text.data(), r.text.size(), &options, &back);
  DocPtr owned(back);
  ASSERT_NE(back, nullptr);
  const std::vector<Cue> got = roundtrip::read_back(back, c.format);
  EXPECT_EQ(roundtrip::cue_difference(c.read_back, got, SUB_FMT_COUNT), "")
      << "read back" << show(got) << "\nfrom\n"
      << r.text;
}

INSTANTIATE_TEST_SUITE_P(Writers, Contract, testing::ValuesIn(contract_cases()),
                         [](const testing::TestParamInfo<ContractCase> &info) {
                           std::string name;
                           for (const char *p = info.param.name; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

// Danmaku keep their time and text; a failed parse writes no cue.
TEST(RoundTrip, DanmakuAndFailedParses) {
  const std::string bili =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><d p=\"1.5,1,25,16777215,0,0,0,0\">hi</d>"
      "<d p=\"2,5,18.5,255,0,0,0,0\">{top} &lt;b&gt;</d></i>";
  SubDoc *doc = nullptr;
  ASSERT_EQ(sub_doc_parse(bili.data(), bili.size(), nullptr, &doc), SUB_OK);
  DocPtr danmaku(doc);
  ASSERT_EQ(sub_doc_cue_is_danmu(doc, 0), 1);
  doc = nullptr;
  EXPECT_NE(sub_doc_parse("garbage", 7, nullptr, &doc), SUB_OK);
  DocPtr failed(doc);
  ASSERT_NE(failed, nullptr);
  for (const int32_t format : roundtrip::kWriters) {
    SCOPED_TRACE(sub_format_name(format));
    const roundtrip::Result r = roundtrip::check(danmaku.get(), format);
    EXPECT_EQ(r.difference, "");
    EXPECT_EQ(r.expected_cues, 2);
    EXPECT_EQ(roundtrip::detection_difference(r.text, format), "");
    const roundtrip::Result empty = roundtrip::check(failed.get(), format);
    EXPECT_EQ(empty.difference, "");
    EXPECT_EQ(empty.expected_cues, 0);
  }
}

// Ill-formed UTF-8 from the classic decoding is written as U+FFFD (one per
// maximal ill-formed subpart) in every format.
TEST(RoundTrip, IllFormedUtf8) {
  DocPtr doc = roundtrip::built({cue(0, 1000, {"caf\xE9 \xF0\x9F\x98", "\xED\xA0\x80!"})});
  ASSERT_NE(doc, nullptr);
  for (const int32_t format : roundtrip::kWriters) {
    SCOPED_TRACE(sub_format_name(format));
    const roundtrip::Result r = roundtrip::check(doc.get(), format);
    EXPECT_EQ(r.difference, "");
    const std::vector<Cue> cues = roundtrip::expected(doc.get(), format);
    ASSERT_EQ(cues.size(), 1u);
    const std::string first = "caf\xEF\xBF\xBD \xEF\xBF\xBD";
    const std::string second = "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD!";
    std::string joined = first;
    joined += " / ";
    joined += second;
    if (format == SUB_FMT_LRC)
      EXPECT_EQ(cues[0].lines, std::vector<std::string>{joined});
    else
      EXPECT_EQ(cues[0].lines, (std::vector<std::string>{first, second}));
  }
}

// The comparator reports the first difference with its place and values.
TEST(RoundTrip, DifferencesAreDescribed) {
  const std::vector<Cue> a = {cue(0, 1000, {"x"}), cue(2000, 3000, {"y"})};
  struct Row {
    std::vector<Cue> got;
    int32_t format;
    const char *difference;
  };
  const Row rows[] = {
      {a, SUB_FMT_SRT, ""},
      {{cue(0, 1000, {"x"})}, SUB_FMT_SRT, "cue count 2 expected, 1 read back"},
      {{cue(0, 1000, {"x"}), cue(2000, 3001, {"y"})},
       SUB_FMT_SRT,
       "cue 1: end 3000 expected, 3001 read back"},
      {{cue(0, 1000, {"x", "z"}), a[1]},
       SUB_FMT_SRT,
       "cue 0: line 1 NULL expected, \"z\" read back"},
      {{cue(0, 1000, {"x"}, "id"), a[1]}, SUB_FMT_VTT, "cue 0: identifier NULL expected, \"id\""},
  };
  for (const Row &row : rows)
    EXPECT_EQ(roundtrip::cue_difference(a, row.got, row.format), row.difference);
  // Danmaku laid out in ASS: events in start order, each with a comment's
  // own text (braces escaped) after the layout's override block.
  const std::vector<SourceCue> comments = {{cue(1005, 4000, {"hi {x}"}), true, 1}};
  const struct {
    std::vector<Cue> got;
    const char *difference;
  } laid_out[] = {
      {{cue(1000, 9000, {"{\\an7\\move(1,2,3,4)}hi \\{x\\}"})}, ""},
      {{}, ""},  // dropped for want of a free row
      {{cue(1000, 9000, {"{\\an7\\move(1,2,3,4)}"})},
       "laid-out event 0 (1000-9000): holds no text (a comment without text is written)"},
      {{cue(1000, 9000, {"{\\an7\\move(1,2,3,4)}hi {x}"})},
       "laid-out event 0 (1000-9000): matches no comment left in start order"},
      {{cue(1010, 9000, {"{\\an7}hi \\{x\\}"})},
       "laid-out event 0 (1010-9000): matches no comment left in start order"},
      {{cue(1000, 9000, {"hi \\{x\\}"})}, "laid-out event 0 (1000-9000): no layout override block"},
  };
  for (const auto &row : laid_out)
    EXPECT_EQ(roundtrip::detail::ass_danmaku_difference(comments, row.got), row.difference);
  EXPECT_EQ(
      roundtrip::cue_difference({cue(0, 1, {"a & b"})}, {cue(0, 1, {"a &amp; b"})}, SUB_FMT_VTT),
      "");
  EXPECT_EQ(
      roundtrip::cue_difference({cue(0, 1, {"<b>"})}, {cue(0, 1, {"&lt;b&gt;"})}, SUB_FMT_VTT),
      "cue 0: line 0 read back as \"&lt;b&gt;\", escaped as \"<b>\" expected");
}

}  // namespace
