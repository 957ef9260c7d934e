// AcFun danmaku JSON: strict JSON only, comment objects ({"c":…,"m":…} with
// string values) found by a walk five levels deep through arrays and objects,
// the "c" fields (start, colour, mode, font size; empty fields skipped; 511
// bytes used), the fixed 3000 ms saturating at the 32-bit limit, the danmaku
// members of the JSON document, very deep documents, detection, allocation
// failures and the shared corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;

namespace {

using subtest::current_danmaku;
using subtest::Danmaku;
using subtest::expect_danmaku;

constexpr int32_t max32 = 2147483647;
constexpr int32_t min32 = -2147483647 - 1;
constexpr uint32_t white = 0xFFFFFF;
const float inf = std::numeric_limits<float>::infinity();
const float nan = std::numeric_limits<float>::quiet_NaN();

// One comment object with the given "c" and "m" (written as JSON already).
std::string cm(const std::string &c, const std::string &m = "x") {
  return R"({"c":")" + c + R"(","m":")" + m + R"("})";
}
// `doc` inside `n` arrays.
std::string in_arrays(int n, const std::string &doc) {
  return std::string(n, '[') + doc + std::string(n, ']');
}
// `doc` as the value of `n` nested objects.
std::string in_objects(int n, const std::string &doc) {
  std::string s;
  for (int i = 0; i < n; ++i) s += R"({"k":)";
  return s + doc + std::string(n, '}');
}

Danmaku at(int32_t start, const std::string &line = "x") {
  return {start, start + 3000, {line}, 1, white, 25.0f};
}

const char *const invalid = "Acfun: invalid JSON";
const char *const none = "no Acfun danmaku";
const char *const ok = nullptr;

struct Row {
  const char *name;
  std::string doc;
  const char *error;  // null: success
  std::vector<Danmaku> cues;
};

const Row rows[] = {
    {"all fields", "[" + cm("1.5,16777215,1,25", "hello") + "]", ok, {at(1500, "hello")}},
    {"colour second, mode third",
     R"({"list":[[)" + cm("2,255,5,18") + "]]}",
     ok,
     {{2000, 5000, {"x"}, 5, 0xFF, 18.0f}}},
    {"root comment", cm("0.5", "y"), ok, {at(500, "y")}},
    {"root comment's members walked",
     R"({"c":"1","m":"a","more":[)" + cm("2", "b") + R"(],"o":)" + cm("3", "c") + "}",
     ok,
     {at(1000, "a"), at(2000, "b"), at(3000, "c")}},
    {"comment in an array not looked into",
     R"([{"c":"1","m":"a","sub":[)" + cm("2", "b") + "]}]",
     ok,
     {at(1000, "a")}},
    {"other objects walked",
     R"([{"x":[)" + cm("1", "a") + R"(]},{"y":)" + cm("2", "b") + "}]",
     ok,
     {at(1000, "a"), at(2000, "b")}},
    {"document order, not sorted",
     "[" + cm("9", "b") + ",1,\"s\",null," + cm("2", "a") + "]",
     ok,
     {at(9000, "b"), at(2000, "a")}},
    // Depth: the walk stops five levels below the root.
    {"five nested arrays", in_arrays(5, cm("1")), ok, {at(1000)}},
    {"six nested arrays", in_arrays(6, cm("1")), none, {}},
    {"four nested objects", in_objects(4, cm("1")), ok, {at(1000)}},
    {"five nested objects", in_objects(5, cm("1")), none, {}},
    {"objects and arrays", in_objects(2, in_arrays(3, cm("1"))), ok, {at(1000)}},
    {"one level too deep", in_objects(2, in_arrays(4, cm("1"))), none, {}},
    // What is a comment.
    {"c as a number", R"([{"c":1,"m":"a"}])", none, {}},
    {"m as a number", R"([{"c":"1","m":2}])", none, {}},
    {"upper-case keys", R"([{"C":"1","M":"a"}])", none, {}},
    {"longer keys", R"([{"cc":"1","mm":"a"}])", none, {}},
    {"escaped key", R"([{"\u0063":"1","m":"a"}])", ok, {at(1000, "a")}},
    {"first c counts", R"([{"c":"1","c":"2","m":"a"}])", ok, {at(1000, "a")}},
    {"first c not a string", R"([{"c":5,"c":"2","m":"a"}])", none, {}},
    {"empty c", R"([{"c":"","m":"a"}])", none, {}},
    {"c of commas only", "[" + cm(",,,") + "]", none, {}},
    {"not a comment, but walked", R"([{"c":"","m":"a","l":[)" + cm("4") + "]}]", ok, {at(4000)}},
    {"empty object", "{}", none, {}},
    {"empty array", "[]", none, {}},
    {"scalar root", "5", none, {}},
    // The "c" fields.
    {"start only", "[" + cm("7") + "]", ok, {at(7000)}},
    {"empty fields skipped", "[" + cm(",1.5,,255") + "]", ok, {{1500, 4500, {"x"}, 1, 255, 25.0f}}},
    {"fifth field ignored", "[" + cm("1,2,3,4,5") + "]", ok, {{1000, 4000, {"x"}, 3, 2, 4.0f}}},
    {"product truncated", "[" + cm("1.005") + "]", ok, {at(1004)}},
    {"negative start", "[" + cm("-3,255") + "]", ok, {{0, 3000, {"x"}, 1, 255, 25.0f}}},
    {"tiny negative start", "[" + cm("-0.0001") + "]", ok, {at(0)}},
    {"start out of range", "[" + cm("3000000") + "]", ok, {at(0)}},
    {"start not a number", "[" + cm("nan") + "]", ok, {at(0)}},
    {"start infinite", "[" + cm("inf") + "]", ok, {at(0)}},
    {"end saturates",
     "[" + cm("2147483.000") + "]",
     ok,
     {{2147483000, max32, {"x"}, 1, white, 25.0f}}},
    {"largest start",
     "[" + cm("2147483.6475") + "]",
     ok,
     {{2147483647, max32, {"x"}, 1, white, 25.0f}}},
    {"colour above 24 bits", "[" + cm("0,16777472") + "]", ok, {{0, 3000, {"x"}, 1, 0x100, 25.0f}}},
    {"colour saturates", "[" + cm("0,99999999999") + "]", ok, {{0, 3000, {"x"}, 1, white, 25.0f}}},
    {"negative colour", "[" + cm("0,-2") + "]", ok, {{0, 3000, {"x"}, 1, 0xFFFFFE, 25.0f}}},
    {"negative colour beyond range",
     "[" + cm("0,-99999999999") + "]",
     ok,
     {{0, 3000, {"x"}, 1, white, 25.0f}}},
    {"hexadecimal colour", "[" + cm("0,0xFF") + "]", ok, {{0, 3000, {"x"}, 1, 0, 25.0f}}},
    {"mode saturates up",
     "[" + cm("0,1,99999999999") + "]",
     ok,
     {{0, 3000, {"x"}, max32, 1, 25.0f}}},
    {"mode saturates down",
     "[" + cm("0,1,-99999999999") + "]",
     ok,
     {{0, 3000, {"x"}, min32, 1, 25.0f}}},
    {"mode not a number", "[" + cm("0,1,top") + "]", ok, {{0, 3000, {"x"}, 0, 1, 25.0f}}},
    {"font size 18.5", "[" + cm("0,1,1,18.5") + "]", ok, {{0, 3000, {"x"}, 1, 1, 18.5f}}},
    {"font size 0.1", "[" + cm("0,1,1,0.1") + "]", ok, {{0, 3000, {"x"}, 1, 1, 0.1f}}},
    {"font size overflows", "[" + cm("0,1,1,1e39") + "]", ok, {{0, 3000, {"x"}, 1, 1, inf}}},
    {"font size not a number", "[" + cm("0,1,1,nan") + "]", ok, {{0, 3000, {"x"}, 1, 1, nan}}},
    {"c uncut",
     "[" + cm("2" + std::string(508, ',') + "77") + "]",
     ok,
     {{2000, 5000, {"x"}, 1, 77, 25.0f}}},
    {"c cut at 511 bytes",
     "[" + cm("2" + std::string(509, ',') + "77") + "]",
     ok,
     {{2000, 5000, {"x"}, 1, 7, 25.0f}}},
    {"c ends at a NUL", "[" + cm(R"(1\u0000,255)") + "]", ok, {at(1000)}},
    // The text, exactly as unescaped.
    {"escaped line feed", "[" + cm("1", R"(a\nb)") + "]", ok, {at(1000, "a\nb")}},
    {"blanks and references kept",
     "[" + cm("1", R"( &amp;\t )") + "]",
     ok,
     {at(1000, " &amp;\t ")}},
    {"unicode escapes", "[" + cm("1", R"(\u00e9\ud83d\ude00)") + "]", ok, {at(1000, "é😀")}},
    {"empty text", "[" + cm("1", "") + "]", ok, {at(1000, "")}},
    {"text ends at a NUL", "[" + cm("1", R"(a\u0000b)") + "]", ok, {at(1000, "a")}},
    // Strict JSON only.
    {"trailing comma", "[" + cm("1") + ",]", invalid, {}},
    {"trailing comma in object", R"([{"c":"1","m":"a",}])", invalid, {}},
    {"block comment", "/* c */[" + cm("1") + "]", invalid, {}},
    {"line comment", "[" + cm("1") + "] // c", invalid, {}},
    {"text after the value", "[" + cm("1") + "] x", invalid, {}},
    {"two values", "[" + cm("1") + "][]", invalid, {}},
    {"single quotes", R"([{'c':'1','m':'a'}])", invalid, {}},
    {"unclosed", "[" + cm("1"), invalid, {}},
    {"not JSON", "hello", invalid, {}},
    {"blank", " \n ", invalid, {}},
    {"NaN literal", "[NaN]", invalid, {}},
    {"string root", "\"text\"", none, {}},
};

}  // namespace

TEST(AcfunParser, Table) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const int rc = sub_parse(row.doc.data(), row.doc.size(), SUB_FMT_ACFUN, nullptr);
    EXPECT_EQ(rc, row.error ? 5 : 0);
    EXPECT_STREQ(sub_last_error(), row.error ? row.error : "");
    EXPECT_EQ(sub_detected_format(), row.error ? -1 : 10);
    if (row.error) {
      EXPECT_STREQ(sub_result_json(), "{}");
    }
    expect_danmaku(current_danmaku(), row.cues);
  }
  sub_clear();
}

TEST(AcfunParser, Json) {
  struct JsonRow {
    std::string doc;
    std::string want;
  };
  const std::string head = R"({"format":"acfun","cues":[)";
  const JsonRow json_rows[] = {
      {"[" + cm("1.5,16777215,1,25", "hello") + "]",
       head +
           R"({"start":1500,"end":4500,"lines":["hello"],"danmu":true,"mode":1,"color":16777215,"fontsize":25.0}]})"},
      {"[" + cm("0.5", R"(a\"b\n)") + "," + cm("2,255,-1,0.1") + "]",
       head +
           R"({"start":500,"end":3500,"lines":["a\"b\n"],"danmu":true,"mode":1,"color":16777215,"fontsize":25.0},)" +
           R"({"start":2000,"end":5000,"lines":["x"],"danmu":true,"mode":-1,"color":255,"fontsize":0.10000000149011612}]})"},
      {"[" + cm("2147483.000") + "]",
       head +
           R"({"start":2147483000,"end":2147483647,"lines":["x"],"danmu":true,"mode":1,"color":16777215,"fontsize":25.0}]})"},
      {"[" + cm("0,1,1,1e39") + "]",
       head +
           R"({"start":0,"end":3000,"lines":["x"],"danmu":true,"mode":1,"color":1,"fontsize":null}]})"},
  };
  for (const JsonRow &row : json_rows) {
    SCOPED_TRACE(row.doc);
    ASSERT_EQ(sub_parse(row.doc.data(), row.doc.size(), SUB_FMT_ACFUN, nullptr), SUB_OK);
    EXPECT_EQ(std::string(sub_result_json()), row.want);
  }
  sub_clear();
}

// The reader takes any depth; the walk stops at five levels.
TEST(AcfunParser, VeryDeepDocuments) {
  const size_t depth = 10u << 20;
  const std::string open(depth, '[');
  EXPECT_EQ(sub_parse(open.data(), open.size(), SUB_FMT_ACFUN, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), invalid);

  const std::string balanced = open + std::string(depth, ']');
  EXPECT_EQ(sub_parse(balanced.data(), balanced.size(), SUB_FMT_ACFUN, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), none);

  const std::string beside = "[[" + cm("1") + "]," + balanced + "," + cm("2") + "]";
  ASSERT_EQ(sub_parse(beside.data(), beside.size(), SUB_FMT_ACFUN, nullptr), SUB_OK);
  expect_danmaku(current_danmaku(), {at(1000), at(2000)});

  const std::string objects = in_objects(200000, cm("1"));
  EXPECT_EQ(sub_parse(objects.data(), objects.size(), SUB_FMT_ACFUN, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), none);
  sub_clear();
}

TEST(AcfunParser, Detection) {
  struct DetectRow {
    std::string doc;
    const char *name;
    int32_t want;
  };
  const DetectRow detect_rows[] = {
      {"[" + cm("1") + "]", nullptr, 10},
      {"\n {\"list\":[" + cm("1") + "]}", nullptr, 10},
      {R"([{"\u0063":"1","m":"a"}])", nullptr, -1},
      {R"({"x":1})", nullptr, -1},
      {R"({"x":1})", "danmaku.JSON", 10},
  };
  for (const DetectRow &row : detect_rows) {
    SCOPED_TRACE(row.doc);
    EXPECT_EQ(sub_detect_format(row.doc.data(), row.doc.size(), row.name), row.want);
  }

  const std::string doc = "[" + cm("3,255,4,30", "a") + "]";
  ASSERT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_ACFUN);
  expect_danmaku(current_danmaku(), {{3000, 6000, {"a"}, 4, 255, 30.0f}});
  // Detected but without comments: no other parser is tried.
  const std::string empty = R"([{"c":"","m":"a"}])";
  EXPECT_EQ(sub_parse(empty.data(), empty.size(), SUB_FMT_AUTO, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), none);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
  sub_clear();
}

TEST(AcfunParser, AllocationFailures) {
  const std::string doc =
      R"({"list":[)" + cm("1,255,1,25", "a") + "," + cm("2", "b") + "," + cm("3", "") + "]}";
  for (const int32_t format : {-1, 10}) {
    SCOPED_TRACE(format);
    int rc = 0;
    const uint64_t total = subtest::for_each_allocation_failure(
        [&] { rc = sub_parse(doc.data(), doc.size(), format, nullptr); },
        [&](uint64_t) {
          EXPECT_TRUE(rc == 0 || rc == 4 || rc == 5) << rc;
          if (rc == 0) {
            EXPECT_EQ(sub_detected_format(), SUB_FMT_ACFUN);
          }
          for (int32_t i = 0; i < sub_cue_count(); ++i) EXPECT_EQ(sub_cue_is_danmu(i), 1);
        });
    EXPECT_GT(total, 0u);
  }
}

TEST(AcfunCorpus, EveryFileParses) {
  const std::filesystem::path dir = SUBPARSE_SOURCE_DIR "/../shared/corpus/acfun";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no AcFun corpus at " << dir;
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry);
  std::sort(files.begin(), files.end());
  std::map<std::string, int> auto_ok;
  std::map<std::string, int> own_ok;
  for (const auto &path : files) {
    SCOPED_TRACE(path.filename().string());
    const std::string data = subtest::read_file(path.string());
    if (sub_parse(data.data(), data.size(), SUB_FMT_AUTO, nullptr) == SUB_OK)
      ++auto_ok[sub_format_name(sub_detected_format())];
    if (sub_parse(data.data(), data.size(), SUB_FMT_ACFUN, nullptr) == SUB_OK) {
      ++own_ok[sub_format_name(sub_detected_format())];
      EXPECT_GT(sub_cue_count(), 0);
      for (int32_t i = 0; i < sub_cue_count(); ++i) EXPECT_EQ(sub_cue_is_danmu(i), 1);
    }
  }
  sub_clear();
  std::cout << "AcFun corpus: " << files.size() << " files; detection:";
  for (const auto &[name, count] : auto_ok) std::cout << ' ' << name << '=' << count;
  std::cout << "; format 10:";
  for (const auto &[name, count] : own_ok) std::cout << ' ' << name << '=' << count;
  std::cout << '\n';
  EXPECT_EQ(files.size(), 3u);
  EXPECT_EQ(auto_ok, (std::map<std::string, int>{{"acfun", 3}}));
  EXPECT_EQ(own_ok, (std::map<std::string, int>{{"acfun", 3}}));
}
