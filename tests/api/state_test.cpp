// The parse-state record: cue store, error text, warnings, the reset and the
// exported accessors.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "test_support.h"

namespace {

// What the accessors report before anything touched the state. Taken while
// the test program starts, before any test can parse or clear.
struct LoadSnapshot {
  int32_t cue_count, detected, warning_count;
  std::string error, json;
  bool nothing_owned;
};
const LoadSnapshot at_load = [] {
  return LoadSnapshot{sub_cue_count(),
                      sub_detected_format(),
                      sub_warning_count(),
                      sub_last_error(),
                      sub_result_json(),
                      !sub_classic_doc()->cues && !sub_classic_doc()->result_json &&
                          !sub_classic_doc()->text && sub_classic_doc()->cue_cap == 0};
}();

class State : public ::testing::Test {
 protected:
  void SetUp() override {
    sub_clear();
    live_ = sub_alloc_live();
  }
  void TearDown() override {
    sub_alloc_fail_at(0, false);
    sub_clear();
    EXPECT_EQ(sub_alloc_live(), live_) << "blocks left after sub_clear";
  }
  int64_t live_ = 0;
};

void expect_reset_state() {
  EXPECT_EQ(sub_cue_count(), 0);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_AUTO);
  EXPECT_STREQ(sub_last_error(), "");
  EXPECT_STREQ(sub_result_json(), "{}");
  EXPECT_EQ(sub_warning_count(), 0);
  EXPECT_EQ(sub_classic_doc()->cues, nullptr);
  EXPECT_EQ(sub_classic_doc()->cue_cap, 0);
  EXPECT_EQ(sub_classic_doc()->text, nullptr);
  EXPECT_EQ(sub_classic_doc()->text_len, 0u);
  EXPECT_EQ(sub_classic_doc()->result_json, nullptr);
}

}  // namespace

TEST(StateAtLoad, FormatZeroAndEmptyResult) {
  EXPECT_EQ(at_load.cue_count, 0);
  EXPECT_EQ(at_load.detected, 0);
  EXPECT_EQ(at_load.warning_count, 0);
  EXPECT_EQ(at_load.error, "");
  EXPECT_EQ(at_load.json, "{}");
  EXPECT_TRUE(at_load.nothing_owned);
}

TEST_F(State, ResetReleasesEverythingAndIsIdempotent) {
  ASSERT_EQ(sub_cue_add(sub_classic_doc(), 1, 2), 0);
  ASSERT_EQ(subtest::add_line(0, "line"), 0);
  sub_warn(sub_classic_doc(), "w%d", 1);
  sub_alloc_fail_at(1, false);
  sub_warn(sub_classic_doc(), "null slot");  // a null warning slot is harmless to the reset
  sub_alloc_fail_at(0, false);
  sub_set_error(sub_classic_doc(), "bad %s", "thing");
  sub_classic_doc()->text = sub_strdup("text");
  sub_classic_doc()->text_len = 4;
  sub_classic_doc()->result_json = sub_strdup("{\"cues\":[]}");
  sub_classic_doc()->detected_format = 7;
  EXPECT_STREQ(sub_result_json(), "{\"cues\":[]}");
  EXPECT_STREQ(sub_last_error(), "bad thing");

  sub_clear();
  expect_reset_state();
  EXPECT_EQ(sub_alloc_live(), live_);
  sub_clear();
  expect_reset_state();
  sub_doc_reset(sub_classic_doc());
  expect_reset_state();
  // Stale cue data is out of reach.
  EXPECT_EQ(sub_cue_start_ms(0), -1);
  EXPECT_EQ(sub_cue_line(0, 0), nullptr);
  EXPECT_EQ(sub_warning(0), nullptr);
}

TEST_F(State, AccessorsOutOfRange) {
  ASSERT_EQ(sub_cue_add(sub_classic_doc(), 100, 200), 0);
  ASSERT_EQ(subtest::add_line(0, "first"), 0);
  ASSERT_EQ(subtest::add_line(0, "second"), 0);
  ASSERT_EQ(sub_cue_add(sub_classic_doc(), 300, 400), 1);  // no lines
  sub_warn(sub_classic_doc(), "only");

  for (const int32_t i : {-1, 2, 3, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE("cue " + std::to_string(i));
    EXPECT_EQ(sub_cue_start_ms(i), -1);
    EXPECT_EQ(sub_cue_end_ms(i), -1);
    EXPECT_EQ(sub_cue_line_count(i), 0);
    EXPECT_EQ(sub_cue_is_danmu(i), 0);
    EXPECT_EQ(sub_cue_danmu_mode(i), 0);
    EXPECT_EQ(sub_cue_danmu_color(i), 0u);
    EXPECT_EQ(sub_cue_danmu_fontsize(i), 0.0f);
  }
  struct LineRow {
    int32_t cue, line;
  };
  const LineRow null_lines[] = {{0, -1}, {-1, 0}, {0, 2}, {1, 0}, {2, 0}, {0, INT32_MIN}};
  for (const LineRow &row : null_lines) {
    SCOPED_TRACE(std::to_string(row.cue) + "/" + std::to_string(row.line));
    EXPECT_EQ(sub_cue_line(row.cue, row.line), nullptr);
  }
  for (const int32_t w : {-1, 1, INT32_MAX}) EXPECT_EQ(sub_warning(w), nullptr) << w;

  EXPECT_EQ(sub_cue_end_ms(1), 400);
  EXPECT_STREQ(sub_cue_line(0, 1), "second");
  EXPECT_STREQ(sub_warning(0), "only");
}

TEST_F(State, CuesKeepOrderTimesAndDefaultsWhileGrowing) {
  const int32_t times[][2] = {{5000, 1000}, {-5, -1}, {7, 7}, {INT32_MIN, INT32_MAX}};
  for (int32_t i = 0; i < 40; ++i) {
    const int32_t *t = times[i % 4];
    ASSERT_EQ(sub_cue_add(sub_classic_doc(), t[0] + (i % 4 == 3 ? 0 : i), t[1]), i);
    if (i == 15 || i == 16) {
      EXPECT_EQ(sub_classic_doc()->cue_cap, i == 15 ? 16 : 32);
    }
  }
  EXPECT_EQ(sub_classic_doc()->cue_cap, 64);
  ASSERT_EQ(sub_cue_count(), 40);
  for (int32_t i = 0; i < 40; ++i) {
    SCOPED_TRACE("cue " + std::to_string(i));
    const int32_t *t = times[i % 4];
    EXPECT_EQ(sub_cue_start_ms(i), t[0] + (i % 4 == 3 ? 0 : i));
    EXPECT_EQ(sub_cue_end_ms(i), t[1]);
    EXPECT_EQ(sub_cue_line_count(i), 0);
    EXPECT_EQ(sub_cue_is_danmu(i), 0);
    EXPECT_EQ(sub_cue_danmu_mode(i), 0);
    EXPECT_EQ(sub_cue_danmu_color(i), 0u);
    EXPECT_EQ(sub_cue_danmu_fontsize(i), 25.0f);
  }
}

TEST_F(State, CueArrayThatCannotGrowReportsOom) {
  sub_set_error(sub_classic_doc(), "older");
  sub_alloc_fail_at(1, false);
  EXPECT_EQ(sub_cue_add(sub_classic_doc(), 1, 2), -1);
  EXPECT_STREQ(sub_last_error(), "oom");
  EXPECT_EQ(sub_classic_doc()->cues, nullptr);
  EXPECT_EQ(sub_classic_doc()->cue_cap, 0);
  EXPECT_EQ(sub_cue_count(), 0);

  sub_alloc_fail_at(0, false);
  for (int32_t i = 0; i < 16; ++i) ASSERT_EQ(sub_cue_add(sub_classic_doc(), i, i + 1), i);
  ASSERT_EQ(subtest::add_line(15, "kept"), 0);
  SubCue *const before = sub_classic_doc()->cues;
  sub_set_error(sub_classic_doc(), "x");
  sub_alloc_fail_at(1, false);
  EXPECT_EQ(sub_cue_add(sub_classic_doc(), 99, 100), -1);
  EXPECT_STREQ(sub_last_error(), "oom");
  EXPECT_EQ(sub_classic_doc()->cues, before);
  EXPECT_EQ(sub_classic_doc()->cue_cap, 16);
  EXPECT_EQ(sub_cue_count(), 16);
  EXPECT_STREQ(sub_cue_line(15, 0), "kept");

  sub_alloc_fail_at(0, false);
  EXPECT_EQ(sub_cue_add(sub_classic_doc(), 99, 100), 16);  // the next attempt may succeed
  EXPECT_EQ(sub_classic_doc()->cue_cap, 32);
}

TEST_F(State, AddLine) {
  ASSERT_EQ(sub_cue_add(sub_classic_doc(), 0, 10), 0);
  EXPECT_EQ(subtest::add_line(0, nullptr), 0);  // counted as ""
  EXPECT_EQ(subtest::add_line(-1, "x"), -1);
  EXPECT_EQ(subtest::add_line(1, "x"), -1);
  char buf[] = "copied";
  EXPECT_EQ(subtest::add_line(0, buf), 0);
  buf[0] = 'X';
  ASSERT_EQ(sub_cue_line_count(0), 2);
  EXPECT_STREQ(sub_cue_line(0, 0), "");
  EXPECT_STREQ(sub_cue_line(0, 1), "copied");

  for (int i = 2; i < 4; ++i) ASSERT_EQ(subtest::add_line(0, "l"), 0);
  EXPECT_EQ(sub_classic_doc()->cues[0].lines.cap, 4);
  // Lines live in a pool released with the store: once it cannot grow, a line
  // is refused and the cue keeps what it had.
  sub_clear();
  ASSERT_EQ(sub_cue_add(sub_classic_doc(), 0, 10), 0);
  sub_alloc_fail_at(1, true);
  EXPECT_EQ(subtest::add_line(0, "refused"), -1);
  sub_alloc_fail_at(0, false);
  EXPECT_EQ(sub_cue_line_count(0), 0);
  EXPECT_STREQ(sub_last_error(), "");  // no error text for a line
  for (int i = 0; i < 4; ++i) ASSERT_EQ(subtest::add_line(0, "l"), 0);
  EXPECT_EQ(sub_classic_doc()->cues[0].lines.cap, 4);
  EXPECT_EQ(subtest::add_line(0, "fifth"), 0);
  EXPECT_EQ(sub_classic_doc()->cues[0].lines.cap, 8);
  EXPECT_STREQ(sub_cue_line(0, 4), "fifth");
}

TEST_F(State, WarningsKeepTheFirst64InOrder) {
  for (int i = 0; i < 64; ++i) sub_warn(sub_classic_doc(), "warning %d", i);
  sub_alloc_fail_at(0, false);  // restart the attempt count
  for (int i = 64; i < 70; ++i) sub_warn(sub_classic_doc(), "warning %d", i);
  EXPECT_EQ(sub_alloc_attempts(), 0u) << "a dropped warning allocated";
  ASSERT_EQ(sub_warning_count(), 64);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(sub_warning(i), "warning " + std::to_string(i));
  EXPECT_EQ(sub_warning(64), nullptr);
}

TEST_F(State, WarningWhoseCopyFailsIsANullSlot) {
  sub_warn(sub_classic_doc(), "first");
  sub_alloc_fail_at(1, false);
  sub_warn(sub_classic_doc(), "lost");
  sub_alloc_fail_at(0, false);
  sub_warn(sub_classic_doc(), "third");
  ASSERT_EQ(sub_warning_count(), 3);
  EXPECT_STREQ(sub_warning(0), "first");
  EXPECT_EQ(sub_warning(1), nullptr);
  EXPECT_STREQ(sub_warning(2), "third");
}

TEST_F(State, LongMessagesAreTruncated) {
  struct Row {
    size_t len, warning_kept, error_kept;
  };
  const Row rows[] = {{255, 255, 255}, {256, 255, 256}, {300, 255, 300},
                      {511, 255, 511}, {512, 255, 511}, {600, 255, 511}};
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.len) + " bytes");
    std::string text;
    for (size_t i = 0; i < row.len; ++i) text += static_cast<char>('a' + i % 26);
    sub_clear();
    sub_warn(sub_classic_doc(), "%s", text.c_str());
    sub_set_error(sub_classic_doc(), "%s", text.c_str());
    ASSERT_NE(sub_warning(0), nullptr);
    EXPECT_EQ(sub_warning(0), text.substr(0, row.warning_kept));
    EXPECT_EQ(sub_last_error(), text.substr(0, row.error_kept));
  }
  // A truncation may cut a multi-byte character.
  sub_clear();
  sub_warn(sub_classic_doc(), "%s\xC3\xA9", std::string(254, 'x').c_str());
  EXPECT_EQ(sub_warning(0), std::string(254, 'x') + "\xC3");
  // The newest error replaces the older one completely.
  sub_set_error(sub_classic_doc(), "a much longer first message");
  sub_set_error(sub_classic_doc(), "%s: %d", "second", 2);
  EXPECT_STREQ(sub_last_error(), "second: 2");
}

TEST_F(State, EmptyingTheCueStoreTouchesNothingElse) {
  sub_warn(sub_classic_doc(), "warned");
  sub_set_error(sub_classic_doc(), "failed");
  sub_classic_doc()->text = sub_strdup("abc");
  sub_classic_doc()->text_len = 3;
  sub_classic_doc()->result_json = sub_strdup("{}");
  sub_classic_doc()->detected_format = 3;
  const int64_t live = sub_alloc_live();
  for (int32_t i = 0; i < 20; ++i) {
    ASSERT_EQ(sub_cue_add(sub_classic_doc(), i, i), i);
    ASSERT_EQ(subtest::add_line(i, "x"), 0);
  }
  sub_cues_clear(sub_classic_doc());
  EXPECT_EQ(sub_alloc_live(), live);
  EXPECT_EQ(sub_classic_doc()->cues, nullptr);
  EXPECT_EQ(sub_classic_doc()->cue_cap, 0);
  EXPECT_EQ(sub_cue_count(), 0);
  EXPECT_STREQ(sub_warning(0), "warned");
  EXPECT_STREQ(sub_last_error(), "failed");
  EXPECT_STREQ(sub_classic_doc()->text, "abc");
  EXPECT_EQ(sub_classic_doc()->text_len, 3u);
  EXPECT_EQ(sub_detected_format(), SUB_FMT_MICRODVD);
  EXPECT_EQ(sub_cue_add(sub_classic_doc(), 5, 6), 0);  // the store starts over
}

TEST_F(State, DroppingTheLastCueReusesItsSlot) {
  ASSERT_EQ(sub_cue_add(sub_classic_doc(), 0, 1), 0);
  ASSERT_EQ(subtest::add_line(0, "keep"), 0);
  const int64_t live = sub_alloc_live();
  ASSERT_EQ(sub_cue_add(sub_classic_doc(), 2, 3), 1);
  ASSERT_EQ(subtest::add_line(1, "drop"), 0);
  sub_classic_doc()->cues[1].is_danmu = 1;
  sub_classic_doc()->cues[1].danmu_color = 0xFF00FF;
  sub_classic_doc()->cues[1].danmu_fontsize = 18.0f;
  sub_cue_drop_last(sub_classic_doc());
  EXPECT_EQ(sub_cue_count(), 1);
  EXPECT_EQ(sub_alloc_live(), live);
  EXPECT_STREQ(sub_cue_line(0, 0), "keep");
  ASSERT_EQ(sub_cue_add(sub_classic_doc(), 4, 5), 1);  // a fresh record in the old slot
  EXPECT_EQ(sub_cue_line_count(1), 0);
  EXPECT_EQ(sub_cue_is_danmu(1), 0);
  EXPECT_EQ(sub_cue_danmu_color(1), 0u);
  EXPECT_EQ(sub_cue_danmu_fontsize(1), 25.0f);
  sub_clear();
  sub_cue_drop_last(sub_classic_doc());  // nothing to drop
  EXPECT_EQ(sub_cue_count(), 0);
}

TEST_F(State, EveryAllocationFailureLeavesAConsistentStore) {
  const uint64_t total = subtest::for_each_allocation_failure(
      [] {
        for (int32_t i = 0; i < 20; ++i) {
          const int32_t at = sub_cue_add(sub_classic_doc(), i * 10, i * 10 + 5);
          if (at < 0) continue;
          subtest::add_line(at, "one");
          subtest::add_line(at, "two");
        }
        sub_warn(sub_classic_doc(), "w1");
        sub_warn(sub_classic_doc(), "w2");
      },
      [](uint64_t n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        const int32_t count = sub_cue_count();
        EXPECT_TRUE(count == 20 || count == 19) << count;
        EXPECT_EQ(std::string(sub_last_error()) == "oom", count < 20);
        int missing_lines = 0;
        for (int32_t i = 0; i < count; ++i) {
          missing_lines += 2 - sub_cue_line_count(i);
          for (int32_t k = 0; k < sub_cue_line_count(i); ++k)
            EXPECT_NE(sub_cue_line(i, k), nullptr);
        }
        EXPECT_LE(missing_lines, 1);
        EXPECT_EQ(sub_warning_count(), 2);
        const int null_warnings = (sub_warning(0) == nullptr) + (sub_warning(1) == nullptr);
        EXPECT_EQ(null_warnings + missing_lines + (count < 20), 1);
      });
  EXPECT_GE(total, 5u);  // cue array twice, line pool, two warnings
}
