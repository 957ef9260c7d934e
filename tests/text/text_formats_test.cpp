// The five line-oriented formats through the whole library: detection, the
// fallback order for texts detection cannot name, allocation failures, and
// parsing on a thread with a small stack.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstring>

#include "test_support.h"

namespace {

struct Sample {
  const char *name;
  std::string bytes;
  int32_t format;  // the format detection names
};

const Sample samples[] = {
    {"srt",
     "1\r\n00:00:01,000 --> 00:00:02,500\r\nHello\r\nworld\r\n\r\n2\r\n00:00:03,000 --> "
     "00:00:04,000\r\n<i>again</i>\r\n",
     SUB_FMT_SRT},
    {"vtt",
     "WEBVTT\n\nNOTE hi\n\n00:01.000 --> 00:02.000 align:start\n<v A>one\n\n00:03.000 --> "
     "00:04.000\ntwo\n",
     SUB_FMT_VTT},
    {"ass",
     "[Script Info]\nTitle: x\n\n[Events]\nFormat: Layer, Start, End, Style, Text\n"
     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\i1}a\\Nb\n"
     "Dialogue: 0,0:00:03.00,0:00:04.00,Default,c, d\n",
     SUB_FMT_ASS},
    {"microdvd", "{1}{1}25\n{25}{50}{y:i}one|two\n{75}{100}three\n", SUB_FMT_MICRODVD},
    {"subviewer",
     "[INFORMATION]\n[TITLE]t\n[END INFORMATION]\n00:00:01.00,00:00:02.00\none[br]two\n\n"
     "00:00:03.00,00:00:04.00\nthree\n",
     SUB_FMT_SUBVIEWER},
};

int32_t parse(const std::string &bytes, int32_t format = -1) {
  return sub_parse(bytes.data(), bytes.size(), format, nullptr);
}

// Reads the JSON back and checks it against the accessors.
void expect_json_matches_store() {
  const char *json = sub_result_json();
  yyjson_doc *doc = yyjson_read(json, std::strlen(json), 0);
  ASSERT_NE(doc, nullptr) << json;
  yyjson_val *cues = yyjson_obj_get(yyjson_doc_get_root(doc), "cues");
  ASSERT_TRUE(yyjson_is_arr(cues)) << json;
  ASSERT_EQ(yyjson_arr_size(cues), static_cast<size_t>(sub_cue_count()));
  size_t i = 0, max = 0;
  yyjson_val *cue = nullptr;
  yyjson_arr_foreach(cues, i, max, cue) {
    const auto index = static_cast<int32_t>(i);
    EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(cue, "start")), sub_cue_start_ms(index));
    EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(cue, "end")), sub_cue_end_ms(index));
    yyjson_val *lines = yyjson_obj_get(cue, "lines");
    ASSERT_EQ(yyjson_arr_size(lines), static_cast<size_t>(sub_cue_line_count(index)));
    for (int32_t k = 0; k < sub_cue_line_count(index); ++k)
      EXPECT_STREQ(yyjson_get_str(yyjson_arr_get(lines, static_cast<size_t>(k))),
                   sub_cue_line(index, k));
  }
  yyjson_doc_free(doc);
}

TEST(TextFormats, DetectedAndExplicitGiveTheSameCues) {
  for (const Sample &s : samples) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(sub_detect_format(s.bytes.data(), s.bytes.size(), nullptr), s.format);
    ASSERT_EQ(parse(s.bytes, s.format), 0) << sub_last_error();
    const auto explicit_cues = subtest::current_cues();
    expect_json_matches_store();
    ASSERT_EQ(parse(s.bytes), 0) << sub_last_error();
    EXPECT_EQ(sub_detected_format(), s.format);
    EXPECT_EQ(subtest::current_cues(), explicit_cues);
    EXPECT_EQ(sub_cue_count(), 2);
  }
  sub_clear();
}

// Texts that detection cannot name go through vtt, ass, sami, subviewer,
// bilibili, ttml, ytxml, lrc, microdvd, acfun and srt, in that order.
TEST(TextFormats, FallbackOrderReadsWhatDetectionCannotName) {
  struct Row {
    const char *why;
    std::string bytes;
    int32_t format;
  };
  const Row rows[] = {
      {"SubViewer header in lower case", "[information]\n00:00:01.00,00:00:02.00\nhi\n",
       SUB_FMT_SUBVIEWER},
      {"MicroDVD after a stray first line", "title\n{0}{25}hi\n", SUB_FMT_MICRODVD},
      {"SRT in UTF-16: WebVTT comes first in the order",
       std::string("\xFF\xFE", 2) +
           [] {
             std::string out;
             for (char c : std::string("1\n00:00:01,000 --> 00:00:02,000\nhi\n")) {
               out += c;
               out += '\0';
             }
             return out;
           }(),
       SUB_FMT_VTT},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.why);
    ASSERT_EQ(sub_detect_format(row.bytes.data(), row.bytes.size(), nullptr), -1);
    ASSERT_EQ(parse(row.bytes), 0) << sub_last_error();
    EXPECT_EQ(sub_detected_format(), row.format);
    ASSERT_EQ(sub_cue_count(), 1);
    EXPECT_STREQ(sub_cue_line(0, 0), "hi");
  }
  const std::string nothing = "no subtitles here\n";
  EXPECT_EQ(parse(nothing), 5);
  EXPECT_STREQ(sub_last_error(), "all parsers failed");
  EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
  EXPECT_STREQ(sub_result_json(), "{}");
}

// Every allocation of a parse fails in turn: each run ends with a code the
// situation allows, a consistent store, matching JSON, and no leak.
TEST(TextFormats, EveryAllocationFailure) {
  for (const Sample &s : samples) {
    SCOPED_TRACE(s.name);
    for (const int32_t format : {int32_t{-1}, s.format}) {
      SCOPED_TRACE("format " + std::to_string(format));
      const uint64_t total = subtest::parse_under_allocation_failures(
          [&] { return parse(s.bytes, format); }, {0, 4, 5}, s.format,
          [](int rc) {
            if (rc != 0) {
              EXPECT_STREQ(sub_result_json(), "{}");
            } else if (std::string_view(sub_result_json()) != "{}") {
              expect_json_matches_store();
            }
          });
      EXPECT_GT(total, 2u);
    }
  }
}

// A player may parse on a worker thread with a small stack.
TEST(TextFormats, ParsesOnA64KiBStack) {
  EXPECT_EQ(subtest::run_on_stack(64 * 1024,
                                  [] {
                                    for (const Sample &s : samples)
                                      if (parse(s.bytes) != 0 || sub_cue_count() != 2)
                                        return std::string(s.name);
                                    sub_clear();
                                    return std::string();
                                  }),
            "");
}

}  // namespace
