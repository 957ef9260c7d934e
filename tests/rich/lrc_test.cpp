// LRC lyrics: time tags at the head of a line (16 per line at most), the
// offset tag (the last one applies to every entry), tags cut at 127 bytes and
// keys at 31, times read as (seconds + minutes × 60) × 1000 without overflow
// and -2147483648 when out of range, the cue ends (next time, or start + 3000
// saturating), detection, allocation failures and the shared corpus. The tie
// rule among equal times is checked at length in lrc_order_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

using subtest::CueView;

namespace {

constexpr int32_t max32 = 2147483647;
constexpr int32_t min32 = -2147483647 - 1;

struct Row {
  const char *name;
  std::string doc;
  int rc;
  std::vector<CueView> cues;
};

const std::string no_lyrics = "no LRC lyrics";

// "[00:00.00][00:01.00]…" with `n` tags, one second apart.
std::string many_tags(int n) {
  std::string s;
  for (int i = 0; i < n; ++i)
    s += "[00:" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".00]";
  return s + "x";
}

std::vector<CueView> one_second_cues(int n) {
  std::vector<CueView> cues;
  for (int i = 0; i < n; ++i)
    cues.push_back({i * 1000, i + 1 < n ? (i + 1) * 1000 : i * 1000 + 3000, {"x"}});
  return cues;
}

const Row rows[] = {
    {"one line", "[00:12.34]Hello", 0, {{12340, 15340, {"Hello"}}}},
    {"several tags and sorting",
     "[00:01.00][00:05.00]Chorus\n[00:03.00]Verse\n",
     0,
     {{1000, 3000, {"Chorus"}}, {3000, 5000, {"Verse"}}, {5000, 8000, {"Chorus"}}}},
    {"out of order lines",
     "[00:03.00]c\r\n[00:01.00]a\r\n[00:02.00]b\r\n",
     0,
     {{1000, 2000, {"a"}}, {2000, 3000, {"b"}}, {3000, 6000, {"c"}}}},
    {"product truncated", "[00:02.01]x", 0, {{2009, 5009, {"x"}}}},
    {"any number of decimals",
     "[00:05.5]a\n[00:06.123]b",
     0,
     {{5500, 6123, {"a"}}, {6123, 9123, {"b"}}}},
    {"hours-like tag loses its last field", "[1:02:50]x", 0, {{62000, 65000, {"x"}}}},
    {"no text", "[00:05.00]", 0, {{5000, 8000, {""}}}},
    {"text trimmed", "  [00:01.00]  a b \t", 0, {{1000, 4000, {"a b"}}}},
    {"word timing kept",
     "[00:01.00]<00:01.50>Hel<00:02.00>lo",
     0,
     {{1000, 4000, {"<00:01.50>Hel<00:02.00>lo"}}}},
    {"tags only at the head", "[00:01.00]a[00:02.00]b", 0, {{1000, 4000, {"a[00:02.00]b"}}}},
    {"blank between tags", "[00:01.00] [00:02.00]x", 0, {{1000, 4000, {"[00:02.00]x"}}}},
    {"unclosed tag starts the text", "[00:01.00][00:02.00", 0, {{1000, 4000, {"[00:02.00"}}}},
    {"tag without colon passed over", "[x][00:01.00]a", 0, {{1000, 4000, {"a"}}}},
    {"metadata before a time tag", "[ti:Song][00:01.00]a", 0, {{1000, 4000, {"a"}}}},
    {"plain lines ignored",
     "Hello\n[00:01.00]a\nworld [00:09.00]\n\n[00:02.00]b",
     0,
     {{1000, 2000, {"a"}}, {2000, 5000, {"b"}}}},
    {"20 tags give 16 entries", many_tags(20), 0, one_second_cues(16)},
    {"16 tags", many_tags(16), 0, one_second_cues(16)},
    // Equal times: one cue, ending 3000 ms after its start even when more follow.
    {"equal times",
     "[00:01.00]a\n[00:01.00]b\n[00:02.00]c",
     0,
     {{1000, 4000, {"a"}}, {2000, 5000, {"c"}}}},
    {"equal times, exchange sort winner",
     "[00:02.00]A\n[00:02.00]B\n[00:01.00]z",
     0,
     {{1000, 2000, {"z"}}, {2000, 5000, {"B"}}}},
    // Offsets.
    {"offset",
     "[offset:500]\n[00:02.00]a\n[00:04.00]b",
     0,
     {{1500, 3500, {"a"}}, {3500, 6500, {"b"}}}},
    {"offset after the lines", "[00:02.00]a\n[offset:500]", 0, {{1500, 4500, {"a"}}}},
    {"last offset applies to all",
     "[offset:100]\n[00:02.00]a\n[offset:500]\n[00:04.00]b",
     0,
     {{1500, 3500, {"a"}}, {3500, 6500, {"b"}}}},
    {"unreadable last offset is zero",
     "[offset:500]\n[00:02.00]a\n[offset:abc]",
     0,
     {{2000, 5000, {"a"}}}},
    {"negative offset", "[offset:-500]\n[00:02.00]a", 0, {{2500, 5500, {"a"}}}},
    {"plus sign", "[offset:+500]\n[00:02.00]a", 0, {{1500, 4500, {"a"}}}},
    {"key in any case", "[OffSet:500]\n[00:02.00]a", 0, {{1500, 4500, {"a"}}}},
    {"key must be exact", "[offset :500]\n[offsets:500]\n[00:02.00]a", 0, {{2000, 5000, {"a"}}}},
    {"fractional offset truncated", "[offset:12.9]\n[00:02.00]a", 0, {{1987, 4987, {"a"}}}},
    {"negative result stays", "[offset:3000]\n[00:01.00]a", 0, {{-2000, 1000, {"a"}}}},
    // Cuts: a tag's content keeps 127 bytes, a key 31.
    {"tag content of 127 bytes", "[00:" + std::string(123, '0') + "7]x", 0, {{7000, 10000, {"x"}}}},
    {"tag content of 128 bytes", "[00:" + std::string(124, '0') + "7]x", 0, {{0, 3000, {"x"}}}},
    {"colon beyond the cut", "[0" + std::string(130, '0') + ":05]x", 5, {}},
    {"offset of 127 bytes",
     "[offset:" + std::string(117, '0') + "500]\n[00:02.00]a",
     0,
     {{1500, 4500, {"a"}}}},
    {"offset of 128 bytes",
     "[offset:" + std::string(118, '0') + "500]\n[00:02.00]a",
     0,
     {{1950, 4950, {"a"}}}},
    {"long key beginning with offset",
     "[" + std::string("offset") + std::string(30, 'x') + ":500]\n[00:02.00]a",
     0,
     {{2000, 5000, {"a"}}}},
    // Limits: out of the 32-bit range gives -2147483648; the end saturates.
    {"largest time", "[35791:23.6475]x", 0, {{max32, max32, {"x"}}}},
    {"just beyond", "[35791:23.6485]x", 0, {{min32, min32 + 3000, {"x"}}}},
    {"minutes × 60 beyond 32 bits", "[71582789:00]x", 0, {{min32, min32 + 3000, {"x"}}}},
    {"minutes saturate", "[99999999999:00]x", 0, {{min32, min32 + 3000, {"x"}}}},
    {"huge seconds", "[0:1e300]x", 0, {{min32, min32 + 3000, {"x"}}}},
    {"seconds not a number", "[0:nan]x", 0, {{min32, min32 + 3000, {"x"}}}},
    {"negative seconds", "[0:-5]x", 0, {{-5000, -2000, {"x"}}}},
    {"end saturates after offset",
     "[offset:-2147482647]\n[00:00.00]x",
     0,
     {{2147482647, max32, {"x"}}}},
    {"offset beyond range", "[offset:-3000000000]\n[00:01.00]x", 0, {{min32, min32 + 3000, {"x"}}}},
    {"offset not a number", "[offset:nan]\n[00:01.00]x", 0, {{min32, min32 + 3000, {"x"}}}},
    // Nothing timed.
    {"metadata only", "[ti:Song]\n[ar:Singer]\n[offset:10]", 5, {}},
    {"tags without digit", "[x:1]a\n[ :1]b\n[00]c", 5, {}},
    {"plain text", "just some words", 5, {}},
};

}  // namespace

TEST(LrcParser, Table) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const int rc = sub_parse(row.doc.data(), row.doc.size(), SUB_FMT_LRC, nullptr);
    EXPECT_EQ(rc, row.rc);
    EXPECT_STREQ(sub_last_error(), row.rc == 0 ? "" : no_lyrics.c_str());
    EXPECT_EQ(sub_detected_format(), row.rc == 0 ? 7 : -1);
    EXPECT_EQ(subtest::current_cues(), row.cues);
  }
  sub_clear();
}

TEST(LrcParser, Json) {
  const std::string doc = "[00:01.00]a \"b\"\n[00:02.00]";
  ASSERT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_LRC, nullptr), SUB_OK);
  EXPECT_STREQ(sub_result_json(),
               R"({"format":"lrc","cues":[{"start":1000,"end":2000,"lines":["a \"b\""]},)"
               R"({"start":2000,"end":5000,"lines":[""]}]})");
  sub_clear();
}

TEST(LrcParser, Detection) {
  struct DetectRow {
    std::string doc;
    int32_t want;
  };
  const DetectRow detect_rows[] = {
      {"[ti:Song]\n[ar:Singer]\n[00:01.00]a\n", 7},
      {"\n  [00:12.34]Hello\n", 7},
      {"[ar:x]\n[22:00.00]a", -1},  // no "[0", "[1" or "[ti"
      {"[Ti:Song]\n[00:01.00]a", -1},
      {"Lyrics\n[00:01.00]a", -1},
  };
  for (const DetectRow &row : detect_rows) {
    SCOPED_TRACE(row.doc);
    EXPECT_EQ(sub_detect_format(row.doc.data(), row.doc.size(), nullptr), row.want);
  }
  EXPECT_EQ(sub_detect_format("Lyrics", 6, "song.LRC"), 7);

  // Detected and parsed; a detected file that fails is not handed to others.
  const std::string doc = "[ti:Song]\n[00:01.00]a\n";
  ASSERT_EQ(sub_parse(doc.data(), doc.size(), SUB_FMT_AUTO, nullptr), SUB_OK);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_LRC);
  EXPECT_EQ(subtest::current_cues(), (std::vector<CueView>{{1000, 4000, {"a"}}}));
  const std::string tags = "[ti:Song]\n[ar:Singer]\n00:00:01,000 --> 00:00:02,000\n";
  EXPECT_EQ(sub_parse(tags.data(), tags.size(), SUB_FMT_AUTO, nullptr), SUB_ERR_NOCUES);
  EXPECT_STREQ(sub_last_error(), "no LRC lyrics");
  sub_clear();
}

TEST(LrcParser, AllocationFailures) {
  const std::string doc = "[ti:x]\n[offset:10]\n[00:01.00][00:03.00]a\n[00:02.00]b\n[00:02.00]c\n";
  for (const int32_t format : {-1, 7}) {
    SCOPED_TRACE(format);
    int rc = 0;
    const uint64_t total = subtest::for_each_allocation_failure(
        [&] { rc = sub_parse(doc.data(), doc.size(), format, nullptr); },
        [&](uint64_t) {
          EXPECT_TRUE(rc == 0 || rc == 4 || rc == 5) << rc;
          if (rc == 0) {
            EXPECT_EQ(sub_detected_format(), SUB_FMT_LRC);
            EXPECT_LE(sub_cue_count(), 3);
          }
        });
    EXPECT_GT(total, 0u);
  }
}

TEST(LrcCorpus, EveryFileParses) {
  const std::filesystem::path dir = SUBPARSE_SOURCE_DIR "/../shared/corpus/lrc";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no LRC corpus at " << dir;
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
    if (sub_parse(data.data(), data.size(), SUB_FMT_LRC, nullptr) == SUB_OK) {
      ++own_ok[sub_format_name(sub_detected_format())];
      EXPECT_GT(sub_cue_count(), 0);
    }
  }
  sub_clear();
  std::cout << "LRC corpus: " << files.size() << " files; detection:";
  for (const auto &[name, count] : auto_ok) std::cout << ' ' << name << '=' << count;
  std::cout << "; format 7:";
  for (const auto &[name, count] : own_ok) std::cout << ' ' << name << '=' << count;
  std::cout << '\n';
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(auto_ok, (std::map<std::string, int>{{"lrc", 4}}));
  EXPECT_EQ(own_ok, (std::map<std::string, int>{{"lrc", 4}}));
}
