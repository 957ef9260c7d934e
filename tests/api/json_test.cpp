// The result document: exact texts rendered from cue stores, ill-formed UTF-8
// and non-finite font sizes, its lifetime across parses, and rendering when
// memory runs out.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct Danmu {
  int32_t flag;
  int32_t mode;
  uint32_t color;
  float size;
};

struct Cue {
  int32_t start;
  int32_t end;
  std::vector<std::string> lines;
  std::optional<Danmu> danmu = std::nullopt;
};

// Fills the store as a parser would (lines may hold any bytes but NUL).
void fill(int32_t format, const std::vector<Cue> &cues) {
  sub_clear();
  for (const Cue &cue : cues) {
    const int32_t i = sub_cue_add(sub_classic_doc(), cue.start, cue.end);
    ASSERT_GE(i, 0);
    for (const std::string &line : cue.lines)
      ASSERT_EQ(sub_cue_add_line(sub_classic_doc(), i, line.data(), line.size()), 0);
    if (cue.danmu) {
      sub_classic_doc()->cues[i].is_danmu = cue.danmu->flag;
      sub_classic_doc()->cues[i].danmu_mode = cue.danmu->mode;
      sub_classic_doc()->cues[i].danmu_color = cue.danmu->color;
      sub_classic_doc()->cues[i].danmu_fontsize = cue.danmu->size;
    }
  }
  sub_classic_doc()->detected_format = format;
}

std::string render() {
  EXPECT_EQ(sub_build_json(sub_classic_doc()), 0);
  return sub_result_json();
}

// The whole document of one SRT cue from 0 to 1 with the given lines
// (already in their JSON form).
std::string one_cue_doc(const std::string &lines_json) {
  std::string doc = R"({"format":"srt","cues":[{"start":0,"end":1,"lines":[)";
  return doc.append(lines_json).append("]}]}");
}

#define FFFD "\xEF\xBF\xBD"

// A fake SRT parser whose body each test supplies; every other format fails.
std::function<int()> fake_body;
int fake_parser(SubDoc *, const char *, size_t) { return fake_body(); }
int failing_parser(SubDoc *doc, const char *, size_t) {
  sub_set_error(doc, "no cues");
  return 5;
}

class WithFakeSrt : public ::testing::Test {
 protected:
  WithFakeSrt() {
    for (int32_t f = 0; f < SUB_FMT_COUNT; ++f)
      table_.formats[f].parse = f == SUB_FMT_SRT ? fake_parser : failing_parser;
  }
  ~WithFakeSrt() override {
    fake_body = nullptr;
    sub_clear();
  }
  int32_t parse(const std::string &data, int32_t format) const {
    return table_.parse(data, format);
  }
  subtest::FormatTable table_;
};

}  // namespace

TEST(Json, ExactTexts) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Row {
    const char *name;
    int32_t format;
    std::vector<Cue> cues;
    std::string expected;
  };
  const Row rows[] = {
      {"empty store", 0, {}, R"({"format":"srt","cues":[]})"},
      {"format name of the store", 9, {}, R"({"format":"bilibili","cues":[]})"},
      {"cue without lines",
       1,
       {{0, 0, {}}},
       R"({"format":"vtt","cues":[{"start":0,"end":0,"lines":[]}]})"},
      {"two lines",
       0,
       {{1000, 2500, {"first line", "second line"}}},
       R"({"format":"srt","cues":[{"start":1000,"end":2500,"lines":["first line","second line"]}]})"},
      {"empty line and order kept",
       2,
       {{5, 6, {"", "b"}}, {1, 2, {"a"}}},
       R"({"format":"ass","cues":[{"start":5,"end":6,"lines":["","b"]},{"start":1,"end":2,"lines":["a"]}]})"},
      {"escapes",
       0,
       {{0, 1, {"say \"hi\"", "back\\slash", "tab\there", "a\nb\r\b\f"}}},
       one_cue_doc(R"("say \"hi\"","back\\slash","tab\there","a\nb\r\b\f")")},
      {"other control bytes", 0, {{0, 1, {"\x01\x1F\x7F"}}}, one_cue_doc("\"\\u0001\\u001F\x7F\"")},
      {"raw non-ascii and solidus",
       0,
       {{0, 1, {"中文 Кириллица 😀", "</i> a/b", "\xE2\x80\xA8"}}},
       one_cue_doc("\"中文 Кириллица 😀\",\"</i> a/b\",\"\xE2\x80\xA8\"")},
      {"negative and extreme times",
       0,
       {{-1500, -1, {}}, {INT32_MIN, INT32_MAX, {}}},
       R"({"format":"srt","cues":[{"start":-1500,"end":-1,"lines":[]},)"
       R"({"start":-2147483648,"end":2147483647,"lines":[]}]})"},
      {"danmaku defaults",
       9,
       {{5000, 8000, {"text"}, Danmu{1, 1, 0xFFFFFF, 25.0f}}},
       R"({"format":"bilibili","cues":[{"start":5000,"end":8000,"lines":["text"],)"
       R"("danmu":true,"mode":1,"color":16777215,"fontsize":25.0}]})"},
      {"danmaku extremes",
       10,
       {{0, 3000, {}, Danmu{1, -1, 0xFFFFFFFF, 18.5f}},
        {1, 3001, {}, Danmu{2, 7, 0, 0.1f}},
        {2, 3002, {}, Danmu{1, 0, 0xFF0000, 0.0f}}},
       R"({"format":"acfun","cues":[)"
       R"({"start":0,"end":3000,"lines":[],"danmu":true,"mode":-1,"color":4294967295,"fontsize":18.5},)"
       R"({"start":1,"end":3001,"lines":[],"danmu":true,"mode":7,"color":0,"fontsize":0.10000000149011612},)"
       R"({"start":2,"end":3002,"lines":[],"danmu":true,"mode":0,"color":16711680,"fontsize":0.0}]})"},
      {"mixed store",
       9,
       {{0, 1, {"plain"}},
        {2, 3, {"d"}, Danmu{1, 4, 0xABCDEF, 36.0f}},
        {4, 5, {"not danmaku"}, Danmu{0, 4, 0xABCDEF, 36.0f}}},
       R"({"format":"bilibili","cues":[{"start":0,"end":1,"lines":["plain"]},)"
       R"({"start":2,"end":3,"lines":["d"],"danmu":true,"mode":4,"color":11259375,"fontsize":36.0},)"
       R"({"start":4,"end":5,"lines":["not danmaku"]}]})"},
      {"non-finite font sizes",
       9,
       {{0, 1, {}, Danmu{1, 1, 1, nan}},
        {0, 1, {}, Danmu{1, 1, 1, inf}},
        {0, 1, {}, Danmu{1, 1, 1, -inf}}},
       R"({"format":"bilibili","cues":[)"
       R"({"start":0,"end":1,"lines":[],"danmu":true,"mode":1,"color":1,"fontsize":null},)"
       R"({"start":0,"end":1,"lines":[],"danmu":true,"mode":1,"color":1,"fontsize":null},)"
       R"({"start":0,"end":1,"lines":[],"danmu":true,"mode":1,"color":1,"fontsize":null}]})"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    fill(row.format, row.cues);
    EXPECT_EQ(render(), row.expected);
  }
  sub_clear();
}

TEST(Json, NullLineSlotIsWrittenEmpty) {
  fill(0, {{0, 1, {"gone", "kept"}}});
  sub_classic_doc()->cues[0].lines.items[0] = nullptr;  // the pool still owns the string
  EXPECT_EQ(render(), one_cue_doc(R"("","kept")"));
  sub_clear();
}

// Each maximal ill-formed subpart becomes one U+FFFD in the document; the
// store keeps the raw bytes.
TEST(Json, IllFormedUtf8IsReplacedInTheDocumentOnly) {
  const std::pair<const char *, const char *> rows[] = {
      {"a\xC0\x80"
       "b",
       "a" FFFD FFFD "b"},                        // overlong lead, then a lone continuation
      {"\xC1\xBF", FFFD FFFD},                    // overlong two-byte form
      {"\xE0\x80", FFFD FFFD},                    // E0 needs A0..BF next
      {"\xE0\x9F\xBF", FFFD FFFD FFFD},           // overlong three-byte form
      {"\xED\xA0\x80", FFFD FFFD FFFD},           // encoded surrogate
      {"\xF0\x80\x80\x80", FFFD FFFD FFFD FFFD},  // overlong four-byte form
      {"\xF4\x90\x80\x80", FFFD FFFD FFFD FFFD},  // above U+10FFFF
      {"\xF5\x80", FFFD FFFD},                    // never a lead byte
      {"\xF8\x88\x80\x80\x80", FFFD FFFD FFFD FFFD FFFD},
      {"\xFE\xFF", FFFD FFFD},
      {"\x80", FFFD},
      {"\xF0\x9F\x98", FFFD},   // truncated emoji
      {"\xE2\x82", FFFD},       // truncated at the end
      {"\xE2\x82x", FFFD "x"},  // truncated before ASCII
      {"\xC2", FFFD},
      {"\xF1\x80\x80\xE2\x82\xAC", FFFD "\xE2\x82\xAC"},
      {"ok\xE2\x82\xAC\xC3", "ok\xE2\x82\xAC" FFFD},
      {"12345678\x80", "12345678" FFFD},
      {"abcdefghijklmnop\xFFqrstuvwxyz0123456789", "abcdefghijklmnop" FFFD "qrstuvwxyz0123456789"},
      {"\"\xC0\"\t", "\\\"" FFFD "\\\"\\t"},  // replaced and escaped
      // Well-formed boundaries stay as they are.
      {"\xC2\x80\xED\x9F\xBF\xEE\x80\x80", "\xC2\x80\xED\x9F\xBF\xEE\x80\x80"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF" FFFD, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF" FFFD},
  };
  for (const auto &[line, json] : rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(line)));
    fill(0, {{0, 1, {line, "fine"}}});
    EXPECT_EQ(render(), one_cue_doc(std::string(1, '"').append(json).append("\",\"fine\"")));
    EXPECT_STREQ(sub_cue_line(0, 0), line);
  }
  sub_clear();
}

TEST(Json, RenderingTouchesOnlyTheDocument) {
  fill(3, {{0, 1, {"x"}}});
  sub_set_error(sub_classic_doc(), "kept error");
  sub_warn(sub_classic_doc(), "kept warning");
  const int64_t live = sub_alloc_live();
  const char *expected = R"({"format":"microdvd","cues":[{"start":0,"end":1,"lines":["x"]}]})";
  EXPECT_EQ(render(), expected);
  EXPECT_EQ(render(), expected);  // the older text is released
  EXPECT_EQ(sub_alloc_live(), live + 1);
  EXPECT_STREQ(sub_last_error(), "kept error");
  ASSERT_EQ(sub_warning_count(), 1);
  EXPECT_STREQ(sub_warning(0), "kept warning");
  EXPECT_EQ(sub_cue_count(), 1);
  sub_clear();
  EXPECT_STREQ(sub_result_json(), "{}");
}

TEST_F(WithFakeSrt, DocumentFollowsEachParse) {
  const std::string plain = "words\n";
  std::string line = "first";
  fake_body = [&] {
    const int32_t i = sub_cue_add(sub_classic_doc(), 10, 20);
    subtest::add_line(i, line.c_str());
    sub_classic_doc()->detected_format = SUB_FMT_SRT;
    return 0;
  };
  ASSERT_EQ(parse(plain, -1), 0);
  EXPECT_STREQ(sub_result_json(),
               R"({"format":"srt","cues":[{"start":10,"end":20,"lines":["first"]}]})");
  line = "second";
  ASSERT_EQ(parse(plain, 0), 0);
  EXPECT_STREQ(sub_result_json(),
               R"({"format":"srt","cues":[{"start":10,"end":20,"lines":["second"]}]})");

  fake_body = [] {
    sub_set_error(sub_classic_doc(), "no SRT cues");
    return 5;
  };
  EXPECT_EQ(parse(plain, 0), 5);
  EXPECT_STREQ(sub_result_json(), "{}");
}

// Neither a broken line nor a broken font size takes the document away.
TEST_F(WithFakeSrt, DocumentSurvivesIllFormedValues) {
  fake_body = [] {
    const int32_t i = sub_cue_add(sub_classic_doc(), 0, 3000);
    subtest::add_line(i, "bad \xED\xA0\x80 byte");
    sub_classic_doc()->cues[i].is_danmu = 1;
    sub_classic_doc()->cues[i].danmu_mode = 1;
    sub_classic_doc()->cues[i].danmu_color = 0xFFFFFF;
    sub_classic_doc()->cues[i].danmu_fontsize = std::numeric_limits<float>::quiet_NaN();
    sub_classic_doc()->detected_format = SUB_FMT_SRT;
    return 0;
  };
  ASSERT_EQ(parse("words\n", 0), 0);
  EXPECT_STREQ(sub_result_json(),
               R"({"format":"srt","cues":[{"start":0,"end":3000,"lines":["bad )" FFFD FFFD FFFD
               R"( byte"],"danmu":true,"mode":1,"color":16777215,"fontsize":null}]})");
  EXPECT_STREQ(sub_cue_line(0, 0), "bad \xED\xA0\x80 byte");
  EXPECT_TRUE(std::isnan(sub_cue_danmu_fontsize(0)));
}

TEST_F(WithFakeSrt, OutOfMemoryNeverYieldsAWrongDocument) {
  constexpr int fake_code = 7;
  fake_body = [] {
    sub_warn(sub_classic_doc(), "fake warning");
    const char *lines[] = {"plain", "\xE2\x82 broken", "\xE4\xB8\xAD"};
    for (int k = 0; k < 3; ++k) {
      const int32_t i = sub_cue_add(sub_classic_doc(), k * 1000, k * 1000 + 500);
      if (i < 0 || subtest::add_line(i, lines[k]) != 0) {
        sub_set_error(sub_classic_doc(), "fake: out of memory");
        return fake_code;
      }
      if (k == 2) {
        sub_classic_doc()->cues[i].is_danmu = 1;
        sub_classic_doc()->cues[i].danmu_fontsize = 0.5f;
      }
    }
    sub_classic_doc()->detected_format = SUB_FMT_SRT;
    return 0;
  };
  for (const int32_t format : {-1, 0}) {
    SCOPED_TRACE(format);
    int rc = -1;
    int empty_documents = 0;
    const auto run = [&] { rc = parse("words\n", format); };
    run();
    ASSERT_EQ(rc, 0);
    const std::string full = sub_result_json();
    ASSERT_NE(full, "{}");
    subtest::for_each_allocation_failure(run, [&](uint64_t n) {
      SCOPED_TRACE(n);
      if (rc != 0) {
        EXPECT_TRUE(rc == 4 || rc == (format == -1 ? 5 : fake_code)) << rc;
        EXPECT_STREQ(sub_result_json(), "{}");
        return;
      }
      EXPECT_EQ(sub_cue_count(), 3);
      const std::string text = sub_result_json();
      if (text == "{}") {
        ++empty_documents;
        return;
      }
      yyjson_doc *doc = yyjson_read(text.data(), text.size(), 0);
      ASSERT_NE(doc, nullptr) << text;
      yyjson_val *root = yyjson_doc_get_root(doc);
      EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(root, "format")), "srt");
      EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(root, "cues")), 3u) << text;
      yyjson_doc_free(doc);
    });
    EXPECT_GT(empty_documents, 0);  // the writer's own allocation failing
  }
}
