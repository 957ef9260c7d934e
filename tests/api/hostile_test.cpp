// Whole-library properties over every format: each parses on a thread with a
// 64 KiB stack, and files of other kinds (the shared "other" samples) are
// answered with a code, never a crash.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace {

struct Sample {
  const char *text;
  int32_t format;
};

const Sample samples[] = {
    {"1\n00:00:01,000 --> 00:00:02,000\nhi\n", SUB_FMT_SRT},
    {"WEBVTT\n\n00:01.000 --> 00:02.000\nhi\n", SUB_FMT_VTT},
    {"[Events]\nFormat: Start, End, Text\nDialogue: 0:00:01.00,0:00:02.00,hi\n", SUB_FMT_ASS},
    {"{25}{50}hi\n", SUB_FMT_MICRODVD},
    {"[INFORMATION]\n00:00:01.00,00:00:02.00\nhi\n", SUB_FMT_SUBVIEWER},
    {"<tt><body><div><p begin=\"1s\" end=\"2s\">hi</p></div></body></tt>", SUB_FMT_TTML},
    {"<transcript><text start=\"1\" dur=\"1\">hi</text></transcript>", SUB_FMT_YTXML},
    {"[ti:x]\n[00:01.00]hi\n", SUB_FMT_LRC},
    {"<SAMI><BODY><SYNC Start=1000><P>hi</BODY></SAMI>", SUB_FMT_SAMI},
    {"<i><d p=\"1,1,25,255\">hi</d></i>", SUB_FMT_BILIBILI},
    {"[{\"c\":\"1,255,1,25\",\"m\":\"hi\"}]", SUB_FMT_ACFUN},
};

TEST(Hostile, EveryFormatParsesOnA64KiBStack) {
  EXPECT_EQ(subtest::run_on_stack(
                64 * 1024,
                [] {
                  for (const Sample &s : samples) {
                    const std::string_view text = s.text;
                    if (sub_parse(text.data(), text.size(), SUB_FMT_AUTO, nullptr) != SUB_OK ||
                        sub_detected_format() != s.format || sub_cue_count() != 1 ||
                        std::string_view(sub_cue_line(0, 0)) != "hi")
                      return std::string(s.text);
                  }
                  sub_clear();
                  return std::string();
                }),
            "");
}

TEST(Hostile, OtherKindsOfFilesGetACode) {
  const std::filesystem::path dir = SUBPARSE_SOURCE_DIR "/../shared/corpus/other";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no shared samples at " << dir;
  int files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::string data = subtest::read_file(entry.path().string());
    for (int32_t format = -1; format <= 10; ++format) {
      const int32_t rc = sub_parse(data.data(), data.size(), format, nullptr);
      EXPECT_TRUE(rc >= 0 && rc <= 5) << rc;
    }
    ++files;
  }
  sub_clear();
  std::cout << files << " files of other kinds, each through every format\n";
  EXPECT_GT(files, 0);
}

}  // namespace
