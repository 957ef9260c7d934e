// The fallback order with the real parsers: texts that detection cannot name
// (a leading junk line, lower-case or unusual markers, a signature beyond the
// detection window) and that exactly one parser accepts are still read by
// sub_parse(-1), and the result names that parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using subtest::CueView;

namespace {

struct Row {
  const char *name;
  std::string doc;
  int32_t format;
  std::vector<CueView> cues;
};

const std::string far_away(9000, ' ');  // more than the detection window

const Row rows[] = {
    {"lrc after a plain line",
     "Lyrics\n[00:01.00]Hello\n[00:03.00]World\n",
     7,
     {{1000, 3000, {"Hello"}}, {3000, 6000, {"World"}}}},
    {"lrc with a mixed-case title tag",
     "[Ti:Song]\n[00:01.00]Hello\n",
     7,
     {{1000, 4000, {"Hello"}}}},
    {"acfun with an escaped key", R"([{"\u0063":"1.5,255","m":"hi"}])", 10, {{1500, 4500, {"hi"}}}},
    {"sami beyond the window",
     far_away + "<sync start=1000><p>Hello\n<sync start=3000><p>&nbsp;",
     8,
     {{1000, 3000, {"Hello"}}}},
    {"ttml paragraph with end first",
     R"(<body><p end="00:00:02.000" begin="00:00:01.000">Hello</p></body>)",
     5,
     {{1000, 2000, {"Hello"}}}},
    {"bilibili with two spaces",
     R"(<i><d  p="1,1,25,255">Hello</d></i>)",
     9,
     {{1000, 4000, {"Hello"}}}},
    {"ytxml in upper case",
     R"(<transcript><TEXT start="1" dur="2">Hello</TEXT></transcript>)",
     6,
     {{1000, 3000, {"Hello"}}}},
    {"subviewer with a lower-case header",
     "[information]\n[title]x\n00:00:01.50,00:00:04.00\nHello[br]World\n",
     4,
     {{1500, 4000, {"Hello", "World"}}}},
    {"microdvd after a plain line",
     "Movie\n{25}{50}Hello|World\n",
     3,
     {{1000, 2000, {"Hello", "World"}}}},
    {"microdvd in brackets", "[25][50]Hello\n", 3, {{1000, 2000, {"Hello"}}}},
};

}  // namespace

TEST(Fallback, TextsDetectionCannotName) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(sub_detect_format(row.doc.data(), row.doc.size(), nullptr), -1);
    // Only the intended parser accepts the text on its own.
    for (int32_t format = 0; format <= 10; ++format) {
      const int rc = sub_parse(row.doc.data(), row.doc.size(), format, nullptr);
      const bool accepted = rc == 0 && sub_detected_format() == format;
      EXPECT_EQ(accepted, format == row.format) << sub_format_name(format);
    }
    EXPECT_EQ(sub_parse(row.doc.data(), row.doc.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
    EXPECT_EQ(sub_detected_format(), row.format);
    EXPECT_STREQ(sub_last_error(), "");
    EXPECT_EQ(subtest::current_cues(), row.cues);
    const std::string head = std::string(R"({"format":")") + sub_format_name(row.format) + "\"";
    EXPECT_EQ(std::string(sub_result_json()).rfind(head, 0), 0u) << sub_result_json();
  }
  sub_clear();
}

TEST(Fallback, NothingAccepts) {
  const std::string doc = "nothing to read here\n";
  ASSERT_EQ(sub_detect_format(doc.data(), doc.size(), nullptr), -1);
  EXPECT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_AUTO, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), "all parsers failed");
  EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
  EXPECT_EQ(sub_cue_count(), 0);
  EXPECT_STREQ(sub_result_json(), "{}");
  sub_clear();
}
