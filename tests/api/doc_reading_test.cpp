// The reading option of the document API: the classic reading gives what
// sub_parse gives, the standard one keeps WebVTT's identifiers and settings
// (accessors and JSON members a classic document never has), other values
// are refused.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

struct Parsed {
  int32_t rc;
  std::string json;
  int32_t cues;
  std::string id;        // of the first cue; "<null>" when it has none
  std::string settings;  // likewise
};

Parsed parse_with(const std::string &data, int32_t format, int32_t reading) {
  SubParseOptions options;
  sub_parse_options_init(&options);
  options.format = format;
  options.reading = reading;
  SubDoc *doc = nullptr;
  Parsed p{};
  p.rc = sub_doc_parse(data.data(), data.size(), &options, &doc);
  const char *json = sub_doc_json(doc);
  p.json = json ? json : "<null>";
  p.cues = sub_doc_cue_count(doc);
  const char *id = sub_doc_cue_id(doc, 0);
  const char *settings = sub_doc_cue_settings(doc, 0);
  p.id = id ? id : "<null>";
  p.settings = settings ? settings : "<null>";
  EXPECT_EQ(sub_doc_cue_id(doc, -1), nullptr);
  EXPECT_EQ(sub_doc_cue_settings(doc, p.cues), nullptr);
  sub_doc_free(doc);
  return p;
}

const std::string vtt = "WEBVTT\n\nintro\n00:00:01.000 --> 00:00:02.500 align:start\nHello\n";

}  // namespace

TEST(DocReading, ClassicIsWhatSubParseGives) {
  for (const int32_t format : {SUB_FMT_AUTO, SUB_FMT_VTT}) {
    SCOPED_TRACE(format);
    const Parsed p = parse_with(vtt, format, SUB_READING_CLASSIC);
    ASSERT_EQ(sub_parse(vtt.data(), vtt.size(), format, "auto"), SUB_OK);
    EXPECT_EQ(p.rc, SUB_OK);
    EXPECT_EQ(p.json, sub_result_json());
    EXPECT_EQ(p.id, "<null>");
    EXPECT_EQ(p.settings, "<null>");
  }
  sub_clear();
}

TEST(DocReading, StandardKeepsIdentifierAndSettings) {
  const Parsed p = parse_with(vtt, SUB_FMT_VTT, SUB_READING_STANDARD);
  EXPECT_EQ(p.rc, SUB_OK);
  EXPECT_EQ(p.id, "intro");
  EXPECT_EQ(p.settings, "align:start");
  EXPECT_EQ(p.json, R"({"format":"vtt","cues":[{"start":1000,"end":2500,"lines":["Hello"],)"
                    R"("id":"intro","settings":"align:start"}]})");
  // A header and no cue: a WebVTT file with nothing to show, not a failure.
  const Parsed empty =
      parse_with("WEBVTT\n\nNOTE nothing yet\n", SUB_FMT_VTT, SUB_READING_STANDARD);
  EXPECT_EQ(empty.rc, SUB_OK);
  EXPECT_EQ(empty.json, R"({"format":"vtt","cues":[]})");
}

TEST(DocReading, UnknownReadingsAreRefused) {
  for (const int32_t reading : {-1, 2, INT32_MAX}) {
    SCOPED_TRACE(reading);
    const Parsed p = parse_with(vtt, SUB_FMT_VTT, reading);
    EXPECT_EQ(p.rc, SUB_ERR_FORMAT);
    EXPECT_EQ(p.cues, 0);
    EXPECT_EQ(p.json, "{}");
  }
}
