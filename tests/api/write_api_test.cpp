// The writing and retiming functions of the document API: arguments,
// options, format names, retiming arithmetic and allocation failures. What
// each writer writes is tested beside it (tests/writers).
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "../writers/writer_test_support.h"
#include "test_support.h"

namespace {

namespace wt = writertest;
using wt::DocPtr;

DocPtr parse_doc(const std::string &text) { return wt::parse(text); }

// The written text, or "<rc N>" when writing failed.
std::string write_text(SubDoc *doc, int32_t format, const SubWriteOptions *options = nullptr) {
  return wt::write(doc, format, options);
}

std::vector<std::pair<int32_t, int32_t>> times_of(const SubDoc *doc) {
  std::vector<std::pair<int32_t, int32_t>> times;
  times.reserve(static_cast<size_t>(sub_doc_cue_count(doc)));
  for (int32_t i = 0; i < sub_doc_cue_count(doc); ++i)
    times.emplace_back(sub_doc_cue_start_ms(doc, i), sub_doc_cue_end_ms(doc, i));
  return times;
}

const std::string kSrt =
    "1\n00:00:03,000 --> 00:00:04,000\nC\n\n2\n00:00:01,000 --> 00:00:02,000\nA\n\n"
    "3\n00:00:01,000 --> 00:00:05,000\nB\n";

TEST(FormatId, NamesAliasesAndExtensions) {
  struct Row {
    const char *name;
    int32_t id;
  };
  const Row rows[] = {
      {"srt", SUB_FMT_SRT},
      {"SRT", SUB_FMT_SRT},
      {".srt", SUB_FMT_SRT},
      {"SubRip", SUB_FMT_SRT},
      {"WebVTT", SUB_FMT_VTT},
      {".vtt", SUB_FMT_VTT},
      {"ssa", SUB_FMT_ASS},
      {".ASS", SUB_FMT_ASS},
      {"dfxp", SUB_FMT_TTML},
      {"ttml", SUB_FMT_TTML},
      {"smi", SUB_FMT_SAMI},
      {"sami", SUB_FMT_SAMI},
      {"sub", SUB_FMT_MICRODVD},
      {"microdvd", SUB_FMT_MICRODVD},
      {"youtube", SUB_FMT_YTXML},
      {"xml", SUB_FMT_BILIBILI},
      {"bilibili", SUB_FMT_BILIBILI},
      {"AcFun", SUB_FMT_ACFUN},
      {"lrc", SUB_FMT_LRC},
      {"json", SUB_FMT_JSON},
      {".json", SUB_FMT_JSON},
      {"auto", SUB_FMT_AUTO},
      {"Auto", SUB_FMT_AUTO},
      {"", -2},
      {".", -2},
      {"..srt", -2},
      {"srt ", -2},
      {"s", -2},
      {"srtx", -2},
      {"unknown", -2},
  };
  for (const Row &row : rows) EXPECT_EQ(sub_format_id(row.name), row.id) << row.name;
  EXPECT_EQ(sub_format_id(nullptr), -2);
}

TEST(DocWrite, ArgumentsAndFormats) {
  DocPtr doc = parse_doc(kSrt);
  ASSERT_NE(doc, nullptr);
  char *out = reinterpret_cast<char *>(1);
  size_t len = 7;
  EXPECT_EQ(sub_doc_write(nullptr, SUB_FMT_SRT, nullptr, &out, &len), SUB_ERR_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(sub_doc_write(doc.get(), SUB_FMT_SRT, nullptr, nullptr, &len), SUB_ERR_ARGUMENT);
  // Formats without a writer.
  for (int32_t format :
       {SUB_FMT_AUTO, SUB_FMT_MICRODVD, SUB_FMT_SUBVIEWER, SUB_FMT_YTXML, SUB_FMT_SAMI,
        SUB_FMT_BILIBILI, SUB_FMT_ACFUN, SUB_FMT_COUNT, -2, 63, 65, INT32_MIN, INT32_MAX}) {
    out = reinterpret_cast<char *>(1);
    EXPECT_EQ(sub_doc_write(doc.get(), format, nullptr, &out, nullptr), SUB_ERR_FORMAT) << format;
    EXPECT_EQ(out, nullptr);
  }
  // The JSON is the document's own.
  EXPECT_EQ(write_text(doc.get(), SUB_FMT_JSON), sub_doc_json(doc.get()));
}

TEST(DocWrite, FailedParseWritesAnEmptyTrack) {
  DocPtr doc = parse_doc("no subtitles here");
  ASSERT_NE(doc, nullptr);
  ASSERT_EQ(sub_doc_cue_count(doc.get()), 0);
  EXPECT_EQ(write_text(doc.get(), SUB_FMT_SRT), "");
  EXPECT_EQ(write_text(doc.get(), SUB_FMT_JSON), "{}");
}

TEST(DocWrite, OptionsAreChecked) {
  DocPtr doc = parse_doc(kSrt);
  ASSERT_NE(doc, nullptr);
  struct Row {
    const char *name;
    void (*change)(SubWriteOptions *);
    int32_t format;
    bool usable;
  };
  const Row rows[] = {
      {"defaults", [](SubWriteOptions *) {}, SUB_FMT_SRT, true},
      {"header with a line break", [](SubWriteOptions *o) { o->vtt_header = "a\nb"; }, SUB_FMT_VTT,
       false},
      {"header with an arrow", [](SubWriteOptions *o) { o->vtt_header = "a --> b"; }, SUB_FMT_VTT,
       false},
      {"header null", [](SubWriteOptions *o) { o->vtt_header = nullptr; }, SUB_FMT_VTT, true},
      {"play resolution 0", [](SubWriteOptions *o) { o->ass_play_res_x = 0; }, SUB_FMT_ASS, false},
      {"play resolution too large", [](SubWriteOptions *o) { o->ass_play_res_y = 16385; },
       SUB_FMT_ASS, false},
      {"font with a comma", [](SubWriteOptions *o) { o->ass_font = "A,B"; }, SUB_FMT_ASS, false},
      {"font empty", [](SubWriteOptions *o) { o->ass_font = ""; }, SUB_FMT_ASS, false},
      {"font null", [](SubWriteOptions *o) { o->ass_font = nullptr; }, SUB_FMT_ASS, false},
      {"font size NaN", [](SubWriteOptions *o) { o->ass_font_size = std::nan(""); }, SUB_FMT_ASS,
       false},
      {"font size 0", [](SubWriteOptions *o) { o->ass_font_size = 0; }, SUB_FMT_ASS, false},
      {"language with a quote", [](SubWriteOptions *o) { o->ttml_lang = "en\""; }, SUB_FMT_TTML,
       false},
      {"language", [](SubWriteOptions *o) { o->ttml_lang = "en-GB"; }, SUB_FMT_TTML, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    SubWriteOptions options;
    sub_write_options_init(&options);
    row.change(&options);
    char *out = nullptr;
    const int32_t rc = sub_doc_write(doc.get(), row.format, &options, &out, nullptr);
    EXPECT_EQ(rc, row.usable ? SUB_OK : SUB_ERR_ARGUMENT);
    EXPECT_EQ(out != nullptr, row.usable);
    sub_text_free(out);
  }
}

// A host with an older, smaller write options struct: members it does not
// hold take their defaults (here an unusable font that would otherwise fail).
TEST(DocWrite, SmallerOptionsKeepTheirDefaults) {
  DocPtr doc = parse_doc(kSrt);
  ASSERT_NE(doc, nullptr);
  SubWriteOptions options;
  sub_write_options_init(&options);
  options.ass_font = "bad,font";
  options.size = offsetof(SubWriteOptions, ass_font);
  EXPECT_NE(write_text(doc.get(), SUB_FMT_ASS, &options).find("Arial"), std::string::npos);
  options.size = sizeof options;
  EXPECT_EQ(write_text(doc.get(), SUB_FMT_ASS, &options), "<rc 6>");
}

TEST(DocRetime, ShiftSaturates) {
  struct Row {
    int64_t offset;
    std::vector<std::pair<int32_t, int32_t>> times;
  };
  const Row rows[] = {
      {0, {{3000, 4000}, {1000, 2000}, {1000, 5000}}},
      {-1500, {{1500, 2500}, {-500, 500}, {-500, 3500}}},
      {INT32_MAX, {{INT32_MAX, INT32_MAX}, {INT32_MAX, INT32_MAX}, {INT32_MAX, INT32_MAX}}},
      {INT64_MAX, {{INT32_MAX, INT32_MAX}, {INT32_MAX, INT32_MAX}, {INT32_MAX, INT32_MAX}}},
      {INT64_MIN, {{INT32_MIN, INT32_MIN}, {INT32_MIN, INT32_MIN}, {INT32_MIN, INT32_MIN}}},
      {-int64_t{INT32_MAX} - 2000,
       {{-2147482647, -2147481647}, {INT32_MIN, INT32_MIN + 1}, {INT32_MIN, -2147480647}}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.offset);
    DocPtr doc = parse_doc(kSrt);
    ASSERT_NE(doc, nullptr);
    ASSERT_NE(sub_doc_json(doc.get()), nullptr);  // rendered before: must not go stale
    EXPECT_EQ(sub_doc_shift(doc.get(), row.offset), SUB_OK);
    EXPECT_EQ(times_of(doc.get()), row.times);
    const std::string json = sub_doc_json(doc.get());
    EXPECT_NE(json.find("\"start\":" + std::to_string(row.times[0].first) + ","), std::string::npos)
        << json;
  }
  EXPECT_EQ(sub_doc_shift(nullptr, 1), SUB_ERR_ARGUMENT);
}

TEST(DocRetime, ScaleByFrameRates) {
  struct Row {
    double from;
    double to;
    int32_t rc;
    std::vector<std::pair<int32_t, int32_t>> times;
  };
  const Row rows[] = {
      {25, 25, SUB_OK, {{3000, 4000}, {1000, 2000}, {1000, 5000}}},
      // A track timed for 25 fps played at 23.976: each time 25/23.976 later.
      {25, 23.976, SUB_OK, {{3128, 4171}, {1043, 2085}, {1043, 5214}}},
      {23.976, 25, SUB_OK, {{2877, 3836}, {959, 1918}, {959, 4795}}},
      {1e6, 1e-3, SUB_OK, {{INT32_MAX, INT32_MAX}, {INT32_MAX, INT32_MAX}, {INT32_MAX, INT32_MAX}}},
      // A ratio beyond a double is no usable rate pair.
      {1e300, 1e-300, SUB_ERR_ARGUMENT, {{3000, 4000}, {1000, 2000}, {1000, 5000}}},
      {0, 25, SUB_ERR_ARGUMENT, {{3000, 4000}, {1000, 2000}, {1000, 5000}}},
      {25, -1, SUB_ERR_ARGUMENT, {{3000, 4000}, {1000, 2000}, {1000, 5000}}},
      {std::nan(""), 25, SUB_ERR_ARGUMENT, {{3000, 4000}, {1000, 2000}, {1000, 5000}}},
      {25, INFINITY, SUB_ERR_ARGUMENT, {{3000, 4000}, {1000, 2000}, {1000, 5000}}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.from) + " -> " + std::to_string(row.to));
    DocPtr doc = parse_doc(kSrt);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(sub_doc_scale(doc.get(), row.from, row.to), row.rc);
    EXPECT_EQ(times_of(doc.get()), row.times);
  }
  // Negative times scale toward the negative limit.
  DocPtr doc = parse_doc(kSrt);
  sub_doc_shift(doc.get(), INT32_MIN);
  EXPECT_EQ(sub_doc_scale(doc.get(), 2, 1), SUB_OK);
  EXPECT_EQ(sub_doc_cue_start_ms(doc.get(), 0), INT32_MIN);
}

// Scaling rounds to the nearest millisecond, halves away from zero on both
// sides of 0 (a ratio of 1/16 makes every odd thousand a half).
TEST(DocRetime, ScaleRoundsHalvesAwayFromZero) {
  struct Row {
    int64_t shift_first;
    std::vector<std::pair<int32_t, int32_t>> times;
  };
  const Row rows[] = {
      {0, {{188, 250}, {63, 125}, {63, 313}}},
      {-4000, {{-63, 0}, {-188, -125}, {-188, 63}}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.shift_first);
    DocPtr doc = parse_doc(kSrt);
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(sub_doc_shift(doc.get(), row.shift_first), SUB_OK);
    EXPECT_EQ(sub_doc_scale(doc.get(), 1, 16), SUB_OK);
    EXPECT_EQ(times_of(doc.get()), row.times);
  }
}

TEST(DocRetime, SortIsStableAndLinearithmic) {
  DocPtr doc = parse_doc(kSrt);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(sub_doc_sort(doc.get()), SUB_OK);
  EXPECT_EQ(times_of(doc.get()),
            (std::vector<std::pair<int32_t, int32_t>>{{1000, 2000}, {1000, 5000}, {3000, 4000}}));
  EXPECT_STREQ(sub_doc_cue_line(doc.get(), 0, 0), "A");
  EXPECT_STREQ(sub_doc_cue_line(doc.get(), 1, 0), "B");
  EXPECT_EQ(sub_doc_sort(nullptr), SUB_ERR_ARGUMENT);

  // 200,000 cues in reverse order, with runs of equal starts that must keep
  // their order (the end tells them apart).
  std::string text;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const int start = (n - 1 - i) / 4 * 10;
    const int end = start + 1 + i % 4;
    auto clock = [](int ms) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60,
                    ms / 1000 % 60, ms % 1000);
      return std::string(buf);
    };
    text += clock(start) + " --> " + clock(end) + "\nx\n\n";
  }
  DocPtr many = parse_doc(text);
  ASSERT_EQ(sub_doc_cue_count(many.get()), n);
  const double secs = subtest::seconds_to_run([&] { EXPECT_EQ(sub_doc_sort(many.get()), SUB_OK); });
  for (int32_t i = 1; i < n; ++i) {
    const int32_t a = sub_doc_cue_start_ms(many.get(), i - 1);
    const int32_t b = sub_doc_cue_start_ms(many.get(), i);
    ASSERT_TRUE(a < b || (a == b && sub_doc_cue_end_ms(many.get(), i - 1) <
                                        sub_doc_cue_end_ms(many.get(), i)))
        << i;
  }
  EXPECT_LT(secs, 2.0);
}

TEST(DocRetime, SortKeepsTheDocumentWhenMemoryRunsOut) {
  DocPtr doc = parse_doc(kSrt);
  ASSERT_NE(doc, nullptr);
  const auto before = times_of(doc.get());
  sub_alloc_fail_at(1, true);
  const int32_t rc = sub_doc_sort(doc.get());
  sub_alloc_fail_at(0, false);
  EXPECT_EQ(rc, SUB_ERR_NOMEM);
  EXPECT_EQ(times_of(doc.get()), before);
}

// Every allocation of a write may fail: the result is SUB_ERR_NOMEM with no
// text and nothing held, and the document stays as it was.
TEST(DocWrite, AllocationFailures) {
  DocPtr doc = parse_doc(kSrt);
  ASSERT_NE(doc, nullptr);
  for (int32_t format :
       {SUB_FMT_SRT, SUB_FMT_VTT, SUB_FMT_ASS, SUB_FMT_LRC, SUB_FMT_TTML, SUB_FMT_JSON}) {
    SCOPED_TRACE(format);
    EXPECT_GT(wt::write_under_allocation_failures(doc.get(), format), 0u);
  }
}

TEST(DocParse, MicroDvdFrameRateOption) {
  const std::string plain = "{25}{50}one\n{100}{125}two\n";
  const std::string declared = "{1}{1}50\n{25}{50}one\n";
  struct Row {
    const char *name;
    const std::string *text;
    double fps;
    int32_t rc;
    std::vector<std::pair<int32_t, int32_t>> times;
  };
  const Row rows[] = {
      {"default 25", &plain, 25, SUB_OK, {{1000, 2000}, {4000, 5000}}},
      {"23.976", &plain, 23.976, SUB_OK, {{1042, 2085}, {4170, 5213}}},
      {"the file's own rate wins", &declared, 23.976, SUB_OK, {{500, 1000}}},
      {"1 is too low", &plain, 1, SUB_ERR_ARGUMENT, {}},
      {"1000 is too high", &plain, 1000, SUB_ERR_ARGUMENT, {}},
      {"NaN", &plain, std::nan(""), SUB_ERR_ARGUMENT, {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    SubParseOptions options;
    sub_parse_options_init(&options);
    options.format = SUB_FMT_MICRODVD;
    options.microdvd_fps = row.fps;
    SubDoc *raw = nullptr;
    EXPECT_EQ(sub_doc_parse(row.text->data(), row.text->size(), &options, &raw), row.rc);
    DocPtr doc(raw);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(times_of(doc.get()), row.times);
    if (row.rc == SUB_ERR_ARGUMENT) {
      EXPECT_NE(std::string(sub_doc_error(doc.get())), "");
    }
  }
}

}  // namespace
