// TTML, the timed-text reading: time expressions in every form, namespace
// prefixes, par and seq containers, inheritance and clipping, span timing,
// hidden content, breaks, deep nesting, and the shared corpus checked against
// the recorded moments at which each document shows text.
#include <gtest/gtest.h>

#include <dirent.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "sub_parsers_rich/ttml_standard.h"
#include "test_support.h"

using subtest::CueView;

namespace {

const std::string tt_open =
    "<tt xmlns=\"http://www.w3.org/ns/ttml\" xmlns:ttp=\"http://www.w3.org/ns/ttml#parameter\" "
    "xmlns:tts=\"http://www.w3.org/ns/ttml#styling\"";

std::string doc_with(const std::string &root_attrs, const std::string &body) {
  return tt_open + " " + root_attrs + "><body>" + body + "</body></tt>";
}

int parse(const std::string &text) {
  SubDoc *doc = sub_classic_doc();
  sub_doc_reset(doc);
  return ttml_parse_standard(doc, text.data(), text.size());
}

struct Row {
  const char *name;
  std::string input;
  int rc;
  std::vector<CueView> cues;
};

constexpr int32_t forever = 2147483647;

TEST(TtmlStandard, Table) {
  const std::vector<Row> rows = {
      {"clock time with fraction",
       doc_with("", "<p begin=\"00:00:01.5\" end=\"00:00:02.250\">a</p>"),
       SUB_OK,
       {{1500, 2250, {"a"}}}},
      {"clock time with frames",
       doc_with("ttp:frameRate=\"25\"", "<p begin=\"00:00:01:05\" end=\"00:00:02:00\">a</p>"),
       SUB_OK,
       {{1200, 2000, {"a"}}}},
      {"frames with sub-frames",
       doc_with("ttp:frameRate=\"25\" ttp:subFrameRate=\"2\"",
                "<p begin=\"00:00:00:01.1\" end=\"1s\">a</p>"),
       SUB_OK,
       {{60, 1000, {"a"}}}},
      {"default frame rate 30",
       doc_with("", "<p begin=\"30f\" end=\"60f\">a</p>"),
       SUB_OK,
       {{1000, 2000, {"a"}}}},
      {"frame rate multiplier",
       doc_with("ttp:frameRate=\"30\" ttp:frameRateMultiplier=\"1000 1001\"",
                "<p begin=\"0f\" end=\"30f\">a</p>"),
       SUB_OK,
       {{0, 1001, {"a"}}}},
      {"ticks",
       doc_with("ttp:tickRate=\"10000000\"", "<p begin=\"10000000t\" end=\"25000000t\">a</p>"),
       SUB_OK,
       {{1000, 2500, {"a"}}}},
      {"ticks default to the frame rate",
       doc_with("ttp:frameRate=\"10\"", "<p begin=\"5t\" end=\"10t\">a</p>"),
       SUB_OK,
       {{500, 1000, {"a"}}}},
      {"hours minutes milliseconds",
       doc_with("", "<p begin=\"0.001h\" end=\"0.1m\">a</p><p begin=\"7000ms\" dur=\"1s\">b</p>"),
       SUB_OK,
       {{3600, 6000, {"a"}}, {7000, 8000, {"b"}}}},
      {"end and dur: the earlier wins",
       doc_with("", "<p begin=\"1s\" end=\"5s\" dur=\"2s\">a</p>"),
       SUB_OK,
       {{1000, 3000, {"a"}}}},
      {"unreadable time is absent",
       doc_with("", "<p begin=\"1x\" end=\"2s\">a</p>"),
       SUB_OK,
       {{0, 2000, {"a"}}}},
      {"no timing shows for ever", doc_with("", "<p>a</p>"), SUB_OK, {{0, forever, {"a"}}}},
      {"any prefix for the namespace",
       "<x:tt xmlns:x=\"http://www.w3.org/ns/ttml\"><x:body><x:p begin=\"1s\" end=\"2s\">a</x:p>"
       "<p begin=\"1s\" end=\"2s\">foreign</p></x:body></x:tt>",
       SUB_OK,
       {{1000, 2000, {"a"}}}},
      {"redeclared default namespace is foreign inside",
       doc_with("", "<div xmlns=\"urn:other\"><p end=\"1s\">no</p></div><p end=\"1s\">yes</p>"),
       SUB_OK,
       {{0, 1000, {"yes"}}}},
      {"styling attribute by namespace",
       doc_with("xmlns:s=\"http://www.w3.org/ns/ttml#styling\"",
                "<p end=\"1s\" s:display=\"none\">a</p><p end=\"1s\">b</p>"),
       SUB_OK,
       {{0, 1000, {"b"}}}},
      {"div begin offsets its children",
       doc_with("", "<div begin=\"10s\"><p begin=\"1s\" end=\"2s\">a</p></div>"),
       SUB_OK,
       {{11000, 12000, {"a"}}}},
      {"body begin offsets too",
       "<tt xmlns=\"http://www.w3.org/ns/ttml\"><body begin=\"1s\"><div begin=\"1s\">"
       "<p begin=\"1s\" dur=\"1s\">a</p></div></body></tt>",
       SUB_OK,
       {{3000, 4000, {"a"}}}},
      {"parent end clips",
       doc_with("", "<div end=\"3s\"><p begin=\"1s\" end=\"5s\">a</p></div>"),
       SUB_OK,
       {{1000, 3000, {"a"}}}},
      {"seq children follow one another",
       doc_with(
           "",
           "<div timeContainer=\"seq\"><p dur=\"1s\">a</p><p begin=\"1s\" dur=\"2s\">b</p></div>"),
       SUB_OK,
       {{0, 1000, {"a"}}, {2000, 4000, {"b"}}}},
      {"seq child with text and no duration holds the rest",
       doc_with("", "<div timeContainer=\"seq\"><p>a</p><p dur=\"1s\">b</p></div>"),
       SUB_OK,
       {{0, forever, {"a"}}}},
      {"empty seq child takes no time",
       doc_with("", "<div timeContainer=\"seq\"><p/><p dur=\"1s\">b</p></div>"),
       SUB_OK,
       {{0, 1000, {"b"}}}},
      {"region timing clips its content",
       tt_open +
           "><head><layout><region xml:id=\"r\" begin=\"2s\" end=\"4s\"/></layout></head><body>"
           "<div region=\"r\"><p begin=\"1s\" end=\"3s\">a</p></div><p region=\"r\" "
           "begin=\"3s\">b</p>"
           "<p region=\"nowhere\" end=\"1s\">c</p></body></tt>",
       SUB_OK,
       {{2000, 3000, {"a"}}, {3000, 4000, {"b"}}, {0, 1000, {"c"}}}},
      {"fractional offset",
       doc_with("", "<p begin=\"1.25s\" end=\"2.5s\">a</p>"),
       SUB_OK,
       {{1250, 2500, {"a"}}}},
      {"fractional frames",
       doc_with("ttp:frameRate=\"25\"", "<p begin=\"12.5f\" end=\"1s\">a</p>"),
       SUB_OK,
       {{500, 1000, {"a"}}}},
      {"hours past 99",
       doc_with("", "<p begin=\"100:00:00\" end=\"100:00:01\">a</p>"),
       SUB_OK,
       {{360000000, 360001000, {"a"}}}},
      {"clock time needs two-digit minutes",
       doc_with("", "<p begin=\"00:1:00\" end=\"2s\">a</p>"),
       SUB_OK,
       {{0, 2000, {"a"}}}},
      {"seq inside par inside seq",
       doc_with("",
                "<div timeContainer=\"seq\"><div dur=\"2s\"><p>a</p></div>"
                "<div timeContainer=\"seq\"><p dur=\"1s\">b</p><p dur=\"1s\">c</p></div>"
                "<p dur=\"1s\">d</p></div>"),
       SUB_OK,
       {{0, 2000, {"a"}}, {2000, 3000, {"b"}}, {3000, 4000, {"c"}}, {4000, 5000, {"d"}}}},
      {"seq child end counts from the previous end",
       doc_with("", "<div timeContainer=\"seq\"><p dur=\"2s\">a</p><p end=\"1s\">b</p></div>"),
       SUB_OK,
       {{0, 2000, {"a"}}, {2000, 3000, {"b"}}}},
      {"seq clipped by its own end",
       doc_with("",
                "<div timeContainer=\"seq\" end=\"3s\"><p dur=\"2s\">a</p><p dur=\"2s\">b</p>"
                "<p dur=\"2s\">c</p></div>"),
       SUB_OK,
       {{0, 2000, {"a"}}, {2000, 3000, {"b"}}}},
      {"nested spans clip one another",
       doc_with("",
                "<p end=\"9s\"><span begin=\"1s\" end=\"5s\">a <span begin=\"2s\" "
                "end=\"9s\">b</span></span></p>"),
       SUB_OK,
       {{1000, 3000, {"a"}}, {3000, 5000, {"a b"}}}},
      {"br inside a timed span",
       doc_with("", "<p end=\"2s\">a<span end=\"1s\"><br/>b</span></p>"),
       SUB_OK,
       {{0, 1000, {"a", "b"}}, {1000, 2000, {"a"}}}},
      {"display none on a break",
       doc_with("", "<p end=\"1s\">a<br tts:display=\"none\"/>b</p>"),
       SUB_OK,
       {{0, 1000, {"ab"}}}},
      {"attributes in single quotes",
       doc_with("", "<p begin='1s' end='2s'>a</p>"),
       SUB_OK,
       {{1000, 2000, {"a"}}}},
      {"a break alone shows nothing",
       doc_with("", "<p end=\"2s\"><span end=\"1s\">a</span><br/></p>"),
       SUB_OK,
       {{0, 1000, {"a"}}}},
      {"span timing splits the paragraph",
       doc_with(
           "",
           "<p begin=\"1s\" end=\"4s\">Hello <span begin=\"1s\" end=\"2s\">big</span> world</p>"),
       SUB_OK,
       {{1000, 2000, {"Hello world"}},
        {2000, 3000, {"Hello big world"}},
        {3000, 4000, {"Hello world"}}}},
      {"span after its paragraph ends is cut",
       doc_with("", "<p begin=\"0s\" end=\"2s\"><span begin=\"1s\" end=\"5s\">x</span></p>"),
       SUB_OK,
       {{1000, 2000, {"x"}}}},
      {"only spans: nothing after the last",
       doc_with("", "<p><span end=\"1s\">a</span> <span begin=\"2s\" end=\"3s\">b</span></p>"),
       SUB_OK,
       {{0, 1000, {"a"}}, {2000, 3000, {"b"}}}},
      {"display none inherited",
       doc_with("",
                "<div tts:display=\"none\"><p end=\"1s\">a <span>b</span></p></div>"
                "<p end=\"1s\">c<span tts:display=\"none\">d</span></p>"),
       SUB_OK,
       {{0, 1000, {"c"}}}},
      {"br makes lines",
       doc_with("", "<p end=\"1s\">one<br/>two <br />  three  </p>"),
       SUB_OK,
       {{0, 1000, {"one", "two", "three"}}}},
      {"whitespace collapses",
       doc_with("", "<p end=\"1s\">\n   a \t\n  b   </p>"),
       SUB_OK,
       {{0, 1000, {"a b"}}}},
      {"references and cdata",
       doc_with("", "<p end=\"1s\">&lt;&#65;&#x42;&amp;<![CDATA[<i>]]></p>"),
       SUB_OK,
       {{0, 1000, {"<AB&<i>"}}}},
      {"comments and instructions skipped",
       "<?xml version=\"1.0\"?><!DOCTYPE tt [<!ENTITY a \"b\">]><!-- c -->" +
           doc_with("", "<p end=\"1s\">a<!-- hidden -->b<?pi x?></p>"),
       SUB_OK,
       {{0, 1000, {"ab"}}}},
      {"metadata text not shown",
       doc_with("", "<p end=\"1s\">a<metadata>m</metadata></p>"),
       SUB_OK,
       {{0, 1000, {"a"}}}},
      {"head text not shown",
       tt_open + "><head><styling>s</styling></head><body><p end=\"1s\">a</p></body></tt>",
       SUB_OK,
       {{0, 1000, {"a"}}}},
      {"empty tt is a valid document", tt_open + "/>", SUB_OK, {}},
      {"no cues is fine", doc_with("", ""), SUB_OK, {}},
      {"no tt root", "<html><p end=\"1s\">a</p></html>", SUB_ERR_NOCUES, {}},
      {"tt outside the namespace", "<tt><body><p end=\"1s\">a</p></body></tt>", SUB_ERR_NOCUES, {}},
      {"empty text", "", SUB_ERR_NOCUES, {}},
      {"unclosed elements are closed at the end",
       doc_with("", "<p end=\"1s\">a").substr(0, 200),
       SUB_OK,
       {{0, 1000, {"a"}}}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const int rc = parse(row.input);
    EXPECT_EQ(rc, row.rc);
    EXPECT_TRUE(subtest::cues_are(row.cues));
    if (rc == SUB_OK) {
      EXPECT_EQ(sub_classic_doc()->detected_format, SUB_FMT_TTML);
    }
  }
}

TEST(TtmlStandard, DeepNestingOnSmallStack) {
  const size_t depth = 100000;
  std::string body;
  for (size_t i = 0; i < depth; ++i) body += "<div>";
  body += "<p end=\"1s\">";
  for (size_t i = 0; i < depth; ++i) body += "<span>";
  body += "deep";
  const std::string text = doc_with("", body);
  const std::string failure = subtest::run_on_stack(64 * 1024, [&]() -> std::string {
    if (parse(text) != SUB_OK) return "parse failed";
    const SubDoc *doc = sub_classic_doc();
    if (doc->cue_count != 1 || doc->cues[0].end_ms != 1000) return "wrong cues";
    return "";
  });
  EXPECT_EQ(failure, "");
}

// A <br/> whose element is the one that makes the element stack grow (at
// every depth around the growth points) still breaks the line: the stack may
// move under its parent.
TEST(TtmlStandard, BreakWhereTheElementStackGrows) {
  for (int spans = 8; spans <= 40; ++spans) {
    SCOPED_TRACE(spans);
    std::string body = "<p begin=\"1s\" end=\"2s\">";
    for (int i = 0; i < spans; ++i) body += "<span>";
    body += "a<br/>b";
    const std::string text = doc_with("", body);
    ASSERT_EQ(parse(text), SUB_OK);
    const SubDoc *doc = sub_classic_doc();
    ASSERT_EQ(doc->cue_count, 1);
    ASSERT_EQ(doc->cues[0].lines.count, 2);
    EXPECT_STREQ(doc->cues[0].lines.items[1], "b");
  }
}

TEST(TtmlStandard, ManyParagraphsLinear) {
  std::string body;
  for (int i = 0; i < 50000; ++i)
    body += "<p begin=\"" + std::to_string(i) + "s\" dur=\"1s\">x<span begin=\"0.5s\">y</span></p>";
  const std::string text = doc_with("", body);
  const double secs = subtest::seconds_to_run([&] { EXPECT_EQ(parse(text), SUB_OK); });
  EXPECT_EQ(sub_classic_doc()->cue_count, 100000);
  EXPECT_LT(secs, 2.0);
  sub_clear();  // its blocks are mapped, where a leak checker cannot follow
}

// Many items of one paragraph that start and end together (line breaks,
// untimed spans) change the active list in one pass per time, not one
// move of the list per item.
TEST(TtmlStandard, ManyBreaksAtOneTimeLinear) {
  std::string body = "<p begin=\"1s\" end=\"2s\">";
  for (int i = 0; i < 200000; ++i) body += "<span>w</span><br/>";
  body += "</p>";
  const std::string text = doc_with("", body);
  const double secs = subtest::seconds_to_run([&] { EXPECT_EQ(parse(text), SUB_OK); });
  ASSERT_EQ(sub_classic_doc()->cue_count, 1);
  EXPECT_EQ(sub_classic_doc()->cues[0].lines.count, 200000);
  EXPECT_LT(secs, 2.0);
  sub_clear();
}

TEST(TtmlStandard, ManySpansInOneParagraph) {
  std::string body = "<p>";
  for (int i = 0; i < 100000; ++i)
    body +=
        "<span begin=\"" + std::to_string(i) + "s\" dur=\"1s\">w" + std::to_string(i) + "</span> ";
  body += "</p>";
  const std::string text = doc_with("", body);
  const double secs = subtest::seconds_to_run([&] { EXPECT_EQ(parse(text), SUB_OK); });
  ASSERT_EQ(sub_classic_doc()->cue_count, 100000);
  EXPECT_EQ(sub_classic_doc()->cues[99999].start_ms, 99999000);
  EXPECT_LT(secs, 2.0);
  sub_clear();
}

// Attributes and namespace declarations by the hundred thousand on one
// element each stay linear: they are read once, not searched per lookup.
TEST(TtmlStandard, ManyAttributesAndDeclarations) {
  std::string attrs;
  std::string decls;
  for (int i = 0; i < 100000; ++i) {
    attrs += " x" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    decls += " xmlns:n" + std::to_string(i) + "=\"urn:x-" + std::to_string(i) + "\"";
  }
  const std::string text = doc_with(decls, "<p begin=\"1s\" end=\"2s\"" + attrs + ">text</p>");
  const double secs = subtest::seconds_to_run([&] { EXPECT_EQ(parse(text), SUB_OK); });
  ASSERT_EQ(sub_classic_doc()->cue_count, 1);
  EXPECT_EQ(sub_classic_doc()->cues[0].start_ms, 1000);
  EXPECT_LT(secs, 2.0);
  sub_clear();
}

TEST(TtmlStandard, AllocationFailures) {
  const std::string text = doc_with("",
                                    "<div timeContainer=\"seq\"><p dur=\"1s\">a<br/>b</p>"
                                    "<p dur=\"1s\">c <span begin=\"0.5s\">d</span></p></div>");
  subtest::for_each_allocation_failure(
      [&] {
        SubDoc *doc = sub_classic_doc();
        sub_doc_reset(doc);
        const int rc = ttml_parse_standard(doc, text.data(), text.size());
        EXPECT_TRUE(rc == SUB_OK || rc == SUB_ERR_NOMEM || rc == SUB_ERR_NOCUES);
        sub_doc_reset(doc);
      },
      [](uint64_t) {});
}

// The recorded moments: "seconds +" when something shows, "seconds -" when
// nothing does.
struct Moment {
  double t;
  bool shown;
};

std::vector<Moment> read_moments(const std::string &text) {
  std::vector<Moment> out;
  std::istringstream in(text);
  double t = 0;
  std::string mark;
  while (in >> t >> mark) out.push_back({t, mark == "+"});
  return out;
}

TEST(TtmlStandard, CorpusMoments) {
  const std::string folder = "../shared/corpus/ttml";
  std::string dir;
  for (const char *prefix : {"", "../", "../../", "../../../", "/work/"}) {
    const std::string candidate = std::string(prefix) + folder;
    if (DIR *d = opendir(candidate.c_str())) {
      closedir(d);
      dir = candidate;
      break;
    }
  }
  if (dir.empty()) GTEST_SKIP() << "corpus folder absent";
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  while (dirent *e = readdir(d)) {
    const std::string n = e->d_name;
    if (n.size() > 8 && n.substr(n.size() - 8) == ".isd.txt")
      names.push_back(n.substr(0, n.size() - 8));
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  size_t matched = 0;
  std::string differing;
  for (const std::string &n : names) {
    const std::string input = subtest::read_file(dir + "/" + n);
    const std::vector<Moment> moments =
        read_moments(subtest::read_file(dir + "/" + n + ".isd.txt"));
    const int rc = subtest::decode_and_parse(ttml_parse_standard, input);
    std::string why;
    if (rc != SUB_OK) why = "parse failed, rc " + std::to_string(rc);
    const SubDoc *doc = sub_classic_doc();
    for (const Moment &m : moments) {
      if (!why.empty()) break;
      const int64_t ms = std::llround(m.t * 1000);
      bool shown = false;
      for (int32_t c = 0; c < doc->cue_count; ++c)
        if (doc->cues[c].start_ms <= ms && ms < doc->cues[c].end_ms) shown = true;
      if (shown != m.shown)
        why = "at " + std::to_string(m.t) + "s expected " + (m.shown ? "text" : "nothing");
    }
    if (why.empty())
      ++matched;
    else
      differing += "  " + n + ": " + why + "\n";
  }
  const double rate = names.empty() ? 1.0 : static_cast<double>(matched) / names.size();
  std::printf("ttml moments: %zu of %zu files match (%.1f%%)\n%s", matched, names.size(),
              rate * 100, differing.c_str());
  EXPECT_GE(rate, 0.95) << differing;
}

}  // namespace
