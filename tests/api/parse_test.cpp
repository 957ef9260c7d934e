// sub_parse: dispatch through the parser table, the fallback order when
// detection names nothing, the second chances, what is emptied between
// attempts, return codes and error texts. Real parsers are replaced by fakes
// that record how they were called and do what each test tells them.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

// What a fake parser does when called.
struct Fake {
  int rc = -1;   // code returned; -1 means "fail with 20 + identifier"
  int cues = 0;  // cues added (one line each, the format's name)
  bool warn = false;
};

// What a fake parser saw when it was called.
struct Call {
  int32_t format;
  int32_t cues_seen;
  std::string error_seen;
  int32_t warnings_seen;
  int32_t detected_seen;
  std::string text;
  size_t len;
  bool nul_terminated;
};

Fake fakes[SUB_FMT_COUNT];
std::vector<Call> calls;

template <int32_t F>
int fake_parser(SubDoc *doc, const char *text, size_t len) {
  calls.push_back({F, doc->cue_count, doc->error, doc->warning_count, doc->detected_format,
                   std::string(text, len), len, text[len] == '\0'});
  const Fake &fake = fakes[F];
  const char *name = sub_format_name(F);
  if (fake.warn) sub_warn(doc, "%s warning", name);
  for (int i = 0; i < fake.cues; ++i) {
    const int32_t cue = sub_cue_add(doc, F * 1000 + i * 100, F * 1000 + i * 100 + 50);
    sub_cue_add_line(doc, cue, name, std::strlen(name));
  }
  if (fake.rc == 0) {
    doc->detected_format = F;
    return 0;
  }
  sub_set_error(doc, "%s failed", name);
  return fake.rc == -1 ? 20 + F : fake.rc;
}

template <size_t... I>
constexpr std::array<SubParserFn, sizeof...(I)> make_fakes(std::index_sequence<I...>) {
  return {&fake_parser<static_cast<int32_t>(I)>...};
}
constexpr auto fake_table = make_fakes(std::make_index_sequence<SUB_FMT_COUNT>());

constexpr int32_t fallback_order[] = {1, 2, 8, 4, 9, 5, 6, 7, 3, 10, 0};

// Installs a fake for every format and puts the previous parsers back after
// the test.
class Dispatch : public ::testing::Test {
 protected:
  Dispatch() {
    calls.clear();
    for (auto &fake : fakes) fake = Fake{};
    for (int32_t f = 0; f < SUB_FMT_COUNT; ++f) table_.formats[f].parse = fake_table[f];
  }
  ~Dispatch() override { sub_clear(); }

  static void reset_fakes() {
    calls.clear();
    for (auto &fake : fakes) fake = Fake{};
  }
  int32_t parse(const std::string &data, int32_t format, const char *encoding = nullptr) const {
    return table_.parse(data, format, encoding);
  }
  int call_parser(int32_t format, const char *text, size_t len) const {
    return sub_call_parser(table_.formats, sub_classic_doc(), format, text, len);
  }
  static std::vector<int32_t> called() {
    std::vector<int32_t> formats;
    for (const Call &call : calls) formats.push_back(call.format);
    return formats;
  }
  // The document a fake's cues render to.
  static std::string doc(int32_t format, int cues) {
    const std::string name = sub_format_name(format);
    std::string text = "{\"format\":\"" + name + "\",\"cues\":[";
    for (int i = 0; i < cues; ++i) {
      const int start = format * 1000 + i * 100;
      if (i) text += ',';
      text += "{\"start\":" + std::to_string(start) + ",\"end\":" + std::to_string(start + 50);
      text += ",\"lines\":[\"" + name + "\"]}";
    }
    return text + "]}";
  }

  subtest::FormatTable table_;
};

// Text that no detection test recognises.
const std::string plain = "just some words\n";

}  // namespace

TEST(FormatName, EveryIdentifier) {
  const std::pair<int32_t, const char *> rows[] = {
      {0, "srt"},
      {1, "vtt"},
      {2, "ass"},
      {3, "microdvd"},
      {4, "subviewer"},
      {5, "ttml"},
      {6, "ytxml"},
      {7, "lrc"},
      {8, "sami"},
      {9, "bilibili"},
      {10, "acfun"},
      {-1, "auto"},
      {11, "unknown"},
      {-2, "unknown"},
      {INT32_MIN, "unknown"},
      {INT32_MAX, "unknown"},
  };
  for (const auto &[format, name] : rows) {
    SCOPED_TRACE(format);
    EXPECT_STREQ(sub_format_name(format), name);
  }
}

TEST_F(Dispatch, CallParserAnswersOneOutsideTheTable) {
  for (const int32_t format : {-1, -2, 11, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(format);
    EXPECT_EQ(call_parser(format, "x", 1), 1);
    EXPECT_STREQ(sub_last_error(), "");
  }
  EXPECT_TRUE(calls.empty());

  EXPECT_EQ(call_parser(7, "abc", 3), 27);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text, "abc");
  table_.formats[7].parse = nullptr;  // a format without a parser
  EXPECT_EQ(call_parser(7, "abc", 3), 1);
}

TEST_F(Dispatch, FallbackOrderStopsAtFirstParserWithCues) {
  for (size_t winner = 0; winner < std::size(fallback_order); ++winner) {
    const int32_t format = fallback_order[winner];
    SCOPED_TRACE(sub_format_name(format));
    reset_fakes();
    fakes[format] = {0, 2, false};
    ASSERT_EQ(parse(plain, -1), 0);
    EXPECT_EQ(called(), std::vector<int32_t>(fallback_order, fallback_order + winner + 1));
    EXPECT_EQ(sub_detected_format(), format);
    EXPECT_STREQ(sub_last_error(), "");
    EXPECT_EQ(sub_cue_count(), 2);
    EXPECT_EQ(sub_result_json(), doc(format, 2));
  }
}

TEST_F(Dispatch, EveryAttemptStartsWithEmptyStoreAndErrorButKeepsWarnings) {
  for (auto &fake : fakes) fake = {-1, 1, true};
  EXPECT_EQ(parse(plain, -1), 5);
  EXPECT_STREQ(sub_last_error(), "all parsers failed");
  ASSERT_EQ(called(), std::vector<int32_t>(std::begin(fallback_order), std::end(fallback_order)));
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i].cues_seen, 0);
    EXPECT_EQ(calls[i].error_seen, "");
    EXPECT_EQ(calls[i].warnings_seen, static_cast<int32_t>(i));
  }
  ASSERT_EQ(sub_warning_count(), 11);
  for (int32_t i = 0; i < 11; ++i)
    EXPECT_EQ(sub_warning(i), std::string(sub_format_name(fallback_order[i])) + " warning");
  // The store holds what the last attempt left; there is no document.
  EXPECT_EQ(subtest::current_cues(), (std::vector<subtest::CueView>{{0, 50, {"srt"}}}));
  EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
  EXPECT_STREQ(sub_result_json(), "{}");
}

TEST_F(Dispatch, SuccessWithoutCuesDoesNotEndTheSearch) {
  fakes[1] = {0, 0, false};  // vtt: 0 and no cue, stores its identifier
  fakes[2] = {0, 0, false};  // ass: likewise
  fakes[8] = {0, 1, false};  // sami wins
  ASSERT_EQ(parse(plain, -1), 0);
  EXPECT_EQ(called(), (std::vector<int32_t>{1, 2, 8}));
  EXPECT_EQ(calls[1].detected_seen, 1);  // not cleared between attempts
  EXPECT_EQ(sub_detected_format(), SUB_FMT_SAMI);
  EXPECT_EQ(sub_result_json(), doc(8, 1));

  // Nobody adds a cue: code 5, but the identifier one attempt stored stays.
  reset_fakes();
  fakes[1] = {0, 0, false};
  EXPECT_EQ(parse(plain, -1), 5);
  EXPECT_EQ(calls.size(), 11u);
  EXPECT_STREQ(sub_last_error(), "all parsers failed");
  EXPECT_EQ(sub_detected_format(), SUB_FMT_VTT);
  EXPECT_STREQ(sub_result_json(), "{}");
}

TEST_F(Dispatch, ParsersReadTheDecodedText) {
  struct Row {
    const char *name;
    std::string data;
    int32_t format;
    const char *encoding;
    std::string text;
    const char *first_warning;
  };
  const Row rows[] = {
      {"utf-8 mark stripped", "\xEF\xBB\xBFhello", -1, nullptr, "hello", nullptr},
      {"utf-16 mark: detection sees nothing", std::string("\xFF\xFEh\0i\0", 6), -1, nullptr, "hi",
       nullptr},
      {"invalid utf-8 read as cp1252", std::string(8, '\xFF'), -1, nullptr,
       "\xC3\xBF\xC3\xBF\xC3\xBF\xC3\xBF\xC3\xBF\xC3\xBF\xC3\xBF\xC3\xBF",
       "encoding: auto-detected as CP1252 (invalid UTF-8)"},
      {"named encoding", "caf\xE9", 0, "cp1252", "caf\xC3\xA9", nullptr},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    reset_fakes();
    fakes[0] = {0, 1, true};  // srt, the last of the fallback order
    ASSERT_EQ(parse(row.data, row.format, row.encoding), 0);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().format, 0);
    EXPECT_EQ(calls.back().text, row.text);
    EXPECT_EQ(calls.back().len, row.text.size());
    EXPECT_TRUE(calls.back().nul_terminated);
    if (row.first_warning) {
      ASSERT_EQ(sub_warning_count(), 2);  // the decoder's, then the parser's
      EXPECT_STREQ(sub_warning(0), row.first_warning);
    } else {
      EXPECT_EQ(sub_warning_count(), 1);
    }
  }
}

TEST_F(Dispatch, RequestedFormatRunsOnceWithOnlyItsSecondChance) {
  for (int32_t format = 0; format < SUB_FMT_COUNT; ++format) {
    SCOPED_TRACE(sub_format_name(format));
    reset_fakes();
    const int32_t last = format == 3 ? 4 : format == 6 ? 9 : format;
    std::vector<int32_t> expected{format};
    if (last != format) expected.push_back(last);
    EXPECT_EQ(parse(plain, format), 20 + last);
    EXPECT_EQ(called(), expected);
    EXPECT_EQ(sub_last_error(), std::string(sub_format_name(last)) + " failed");
    EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
    EXPECT_STREQ(sub_result_json(), "{}");

    // Success without any cue is a success when the format is known.
    reset_fakes();
    fakes[format] = {0, 0, false};
    EXPECT_EQ(parse(plain, format), 0);
    EXPECT_EQ(called(), std::vector<int32_t>{format});
    EXPECT_EQ(sub_cue_count(), 0);
    EXPECT_EQ(sub_result_json(), doc(format, 0));
  }
}

TEST_F(Dispatch, DetectedFormatIsNotFollowedByTheFallbackOrder) {
  const std::pair<std::string, std::vector<int32_t>> rows[] = {
      {"WEBVTT\n\n00:01.000 --> 00:02.000\nhi\n", {1}},
      {"[Script Info]\n[Events]\n", {2}},
      {"{1}{25}hello\n", {3, 4}},
      {"<text start=\"1\" dur=\"2\">hi</text>", {6, 9}},
  };
  for (const auto &[data, expected] : rows) {
    SCOPED_TRACE(data);
    reset_fakes();
    EXPECT_EQ(parse(data, -1), 20 + expected.back());
    EXPECT_EQ(called(), expected);
    EXPECT_EQ(sub_last_error(), std::string(sub_format_name(expected.back())) + " failed");
  }
}

TEST_F(Dispatch, SecondChances) {
  struct Row {
    int32_t format;
    Fake first;
    Fake second;
    int32_t rc;
    int32_t detected;
    const char *error;
    int second_cues;
  };
  const Row rows[] = {
      {3, {-1, 1, true}, {0, 2, true}, 0, 4, "microdvd failed", 2},
      {6, {-1, 1, true}, {0, 1, true}, 0, 9, "ytxml failed", 1},
      {3, {-1, 1, true}, {0, 0, true}, 0, 4, "microdvd failed", 0},
      {3, {5, 1, true}, {7, 1, true}, 7, -1, "subviewer failed", 1},
      {6, {4, 0, true}, {-1, 0, true}, 29, -1, "bilibili failed", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << row.format << " then rc " << row.second.rc);
    reset_fakes();
    const int32_t second = row.format == 3 ? 4 : 9;
    fakes[row.format] = row.first;
    fakes[second] = row.second;
    EXPECT_EQ(parse(plain, row.format), row.rc);
    ASSERT_EQ(called(), (std::vector<int32_t>{row.format, second}));
    // The second parser starts with an empty store and the first one's error.
    EXPECT_EQ(calls[1].cues_seen, 0);
    EXPECT_EQ(calls[1].error_seen, std::string(sub_format_name(row.format)) + " failed");
    EXPECT_STREQ(sub_last_error(), row.error);
    EXPECT_EQ(sub_detected_format(), row.detected);
    EXPECT_EQ(sub_cue_count(), row.second_cues);
    EXPECT_EQ(sub_warning_count(), 2);
    if (row.rc == 0)
      EXPECT_EQ(sub_result_json(), doc(second, row.second_cues));
    else
      EXPECT_STREQ(sub_result_json(), "{}");
  }

  // A first parser that succeeds gets no second chance.
  reset_fakes();
  fakes[3] = {0, 1, false};
  EXPECT_EQ(parse(plain, 3), 0);
  EXPECT_EQ(called(), std::vector<int32_t>{3});
  EXPECT_EQ(sub_result_json(), doc(3, 1));
}

TEST_F(Dispatch, RejectedCallsLeaveNoTraceOfThePreviousResult) {
  struct Row {
    const char *name;
    const void *data;
    size_t len;
    int32_t format;
    const char *encoding;
    int32_t rc;
    const char *error;
  };
  const Row rows[] = {
      {"format 11", "x", 1, 11, nullptr, 1, ""},
      {"format -2", "x", 1, -2, nullptr, 1, ""},
      {"format INT32_MIN", "x", 1, INT32_MIN, nullptr, 1, ""},
      {"null buffer", nullptr, 10, -1, nullptr, 3, "empty buffer"},
      {"empty buffer", "x", 0, -1, nullptr, 3, "empty buffer"},
      {"null buffer beats bad format", nullptr, 0, 11, nullptr, 3, "empty buffer"},
      {"unknown encoding", "x", 1, 0, "no-such-charset", 2,
       "iconv failed for encoding no-such-charset"},
  };
  for (auto &fake : fakes) fake = {0, 1, true};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(parse(plain, 0), 0);  // something to discard
    ASSERT_EQ(sub_cue_count(), 1);
    calls.clear();
    EXPECT_EQ(sub_parse(row.data, row.len, row.format, row.encoding), row.rc);
    EXPECT_TRUE(calls.empty());
    EXPECT_STREQ(sub_last_error(), row.error);
    EXPECT_EQ(sub_cue_count(), 0);
    EXPECT_EQ(sub_warning_count(), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
    EXPECT_STREQ(sub_result_json(), "{}");
  }
}
