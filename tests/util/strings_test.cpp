// String copies, trimming, ASCII case-insensitive comparisons, the owned
// string list and the line splitter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;

namespace {

// Checks a line array against the expected lines, NULs inside lines included.
void expect_lines(char **lines, int32_t count, const std::vector<std::string> &want) {
  ASSERT_NE(lines, nullptr);
  ASSERT_EQ(count, static_cast<int32_t>(want.size()));
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("line " + std::to_string(i));
    ASSERT_NE(lines[i], nullptr);
    EXPECT_EQ(std::string(lines[i], want[i].size()), want[i]);
    EXPECT_EQ(lines[i][want[i].size()], '\0');
  }
}

// "L0\nL1\n...": `breaks` breaks, so breaks + 1 lines, the last one empty.
std::string numbered_lines(int breaks, const char *brk, std::vector<std::string> *want) {
  std::string text;
  want->clear();
  for (int i = 0; i < breaks; ++i) {
    want->push_back("L" + std::to_string(i));
    text += want->back() + brk;
  }
  want->push_back("");
  return text;
}

}  // namespace

TEST(StringCopies, CopyExactlyAndHandleNull) {
  const char *src = "abc";
  char *dup = sub_strdup(src);
  ASSERT_NE(dup, nullptr);
  EXPECT_NE(dup, src);
  EXPECT_STREQ(dup, "abc");
  sub_free(dup);
  EXPECT_EQ(sub_strdup(nullptr), nullptr);
  EXPECT_EQ(sub_strndup(nullptr, 3), nullptr);

  char *nul_inside = sub_strndup("ab\0cdXYZ", 5);  // copies past the NUL, stops at n
  ASSERT_NE(nul_inside, nullptr);
  EXPECT_EQ(std::memcmp(nul_inside, "ab\0cd\0", 6), 0);
  sub_free(nul_inside);

  char *empty = sub_strndup("abc", 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  sub_free(empty);

  const char *got[2] = {};
  subtest::for_each_allocation_failure(
      [&] {
        char *a = sub_strdup("hello");
        char *b = sub_strndup("world", 5);
        got[0] = a ? "ok" : nullptr;
        got[1] = b ? "ok" : nullptr;
        sub_free(a);
        sub_free(b);
      },
      [&](uint64_t n) { EXPECT_EQ(got[n - 1], nullptr) << "allocation " << n; });
}

TEST(Trim, RemovesOnlyTabLfCrSpaceAtBothEnds) {
  struct Row {
    std::string in, want;
  };
  const Row rows[] = {
      {"\t  a b \r\n", "a b"},
      {"\va\f", "\va\f"},
      {" \t\r\n", ""},
      {"", ""},
      {"x", "x"},
      {"   lead", "lead"},
      {"trail\t\t", "trail"},
      {"x\xC2\xA0", "x\xC2\xA0"},  // U+00A0 is not a blank
      {"\xC2\xA0x \n", "\xC2\xA0x"},
      {"\n\nin  side\r\r", "in  side"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.in));
    std::vector<char> buf(row.in.begin(), row.in.end());
    buf.push_back('\0');
    sub_trim_inplace(buf.data());
    EXPECT_EQ(std::string(buf.data()), row.want);
  }
  sub_trim_inplace(nullptr);  // ignored
}

TEST(Compare, FoldAsciiLettersOnly) {
  enum Fn { IEQ, ISTART };
  struct Row {
    Fn fn;
    const char *a, *b;
    int want;
  };
  const Row rows[] = {
      {IEQ, "WEBVTT", "webvtt", 1},
      {IEQ, "abc", "abcd", 0},
      {IEQ, "abcd", "abc", 0},
      {IEQ, nullptr, nullptr, 1},
      {IEQ, "", nullptr, 0},
      {IEQ, nullptr, "", 0},
      {IEQ, "", "", 1},
      {IEQ, "[Script Info]", "[script INFO]", 1},
      {IEQ, "a@", "A`", 0},              // 0x40 and 0x60 differ by the case bit only
      {IEQ, "[", "{", 0},                // so do 0x5B and 0x7B
      {IEQ, "\xC3\x89", "\xC3\xA9", 0},  // non-ASCII letters compare exactly
      {ISTART, "Dialogue: 0", "dialogue:", 1},
      {ISTART, "Dia", "dialogue", 0},
      {ISTART, "x", "", 1},
      {ISTART, "", "", 1},
      {ISTART, "", "a", 0},
      {ISTART, nullptr, "a", 0},
      {ISTART, "a", nullptr, 0},
      {ISTART, nullptr, "", 0},
      {ISTART, "STYLE:x", "style:", 1},
      {ISTART, "Format", "format ", 0},
      {ISTART, "\xC4x", "\xE4", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.fn == IEQ ? "ieq(" : "istart(") + (row.a ? row.a : "null") + ", " +
                 (row.b ? row.b : "null") + ")");
    EXPECT_EQ(row.fn == IEQ ? sub_str_ieq(row.a, row.b) : sub_str_istart(row.a, row.b), row.want);
  }
}

TEST(Compare, CaseInsensitiveSearch) {
  struct Row {
    const char *hay, *needle;
    int want;  // offset into hay, or -1 for null
  };
  const Row rows[] = {
      {"SYNC start", "sync", 0},
      {"abc", "", 0},
      {"abc", nullptr, 0},
      {"", "a", -1},
      {"ab", "abc", -1},
      {"xxABcab", "abc", 2},
      {"aab", "ab", 1},  // restarts after a partial match
      {"P<sync Start=1>", "SYNC START", 2},
      {"ab", "b", 1},
      {"abcab", "CAB", 2},
      {"@", "`", -1},
      {"ab\xC3\x89", "\xC3\xA9", -1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.hay) + " / " + (row.needle ? row.needle : "null"));
    const char *got = sub_str_casestr(row.hay, row.needle);
    if (row.want < 0) {
      EXPECT_EQ(got, nullptr);
    } else {
      EXPECT_EQ(got, row.hay + row.want);
    }
  }
  EXPECT_EQ(sub_str_casestr(nullptr, "a"), nullptr);
  EXPECT_EQ(sub_str_casestr(nullptr, nullptr), nullptr);
}

TEST(StrList, GrowsFrom4AndCopiesStrings) {
  SubStrList list{};
  char source[] = "one";
  ASSERT_EQ(sub_strlist_push(&list, source), 0);
  source[0] = 'X';  // the list holds its own copy
  ASSERT_EQ(sub_strlist_push(&list, nullptr), 0);
  ASSERT_EQ(sub_strlist_push_n(&list, "abcdef", 2), 0);
  ASSERT_EQ(sub_strlist_push_n(&list, "a\0b", 3), 0);
  EXPECT_EQ(list.cap, 4);
  ASSERT_EQ(sub_strlist_push(&list, "five"), 0);
  EXPECT_EQ(list.cap, 8);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(sub_strlist_push(&list, "more"), 0);
  EXPECT_EQ(list.cap, 16);
  ASSERT_EQ(list.count, 9);
  EXPECT_STREQ(list.items[0], "one");
  EXPECT_STREQ(list.items[1], "");
  EXPECT_STREQ(list.items[2], "ab");
  EXPECT_EQ(std::memcmp(list.items[3], "a\0b\0", 4), 0);
  EXPECT_STREQ(list.items[4], "five");

  sub_strlist_free(&list);
  EXPECT_EQ(list.items, nullptr);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.cap, 0);
  ASSERT_EQ(sub_strlist_push(&list, "again"), 0);  // reusable after free
  EXPECT_EQ(list.count, 1);
  sub_strlist_free(&list);
  sub_strlist_free(nullptr);  // ignored
}

TEST(StrList, FailedPushLeavesCountAndLeaksNothing) {
  const std::vector<std::string> input = {"a", "b", "c", "d", "e"};
  std::vector<int> rcs;
  std::vector<std::string> kept;
  const uint64_t total = subtest::for_each_allocation_failure(
      [&] {
        SubStrList list{};
        rcs.clear();
        for (const std::string &s : input) rcs.push_back(sub_strlist_push(&list, s.c_str()));
        kept.assign(list.items, list.items + list.count);
        sub_strlist_free(&list);
      },
      [&](uint64_t n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        std::vector<std::string> want;
        int failures = 0;
        for (size_t i = 0; i < input.size(); ++i) {
          EXPECT_TRUE(rcs[i] == 0 || rcs[i] == -1);
          if (rcs[i] == 0) want.push_back(input[i]);
          failures += rcs[i] != 0;
        }
        EXPECT_EQ(failures, 1);
        EXPECT_EQ(kept, want);
      });
  EXPECT_EQ(total, 7u);  // five copies, the array at 4 and at 8
}

TEST(SplitLines, BreakConventions) {
  struct Row {
    std::string text;
    std::vector<std::string> want;
    size_t len = std::string::npos;  // bytes handed over; npos: the whole text
  };
  const Row rows[] = {
      {"", {""}},
      {"x", {"x"}},
      {"a\nb\n", {"a", "b", ""}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\r\nb", {"a", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"\r", {"", ""}},
      {"\n", {"", ""}},
      {"a\r", {"a", ""}},
      {"a\r\r", {"a", "", ""}},
      {"a\r\r\n", {"a", ""}},
      {"\r\r\n\r\n", {"", "", ""}},
      {"a\xE2\x80\xA8"
       "b",
       {"a", "b"}},
      {"\xE2\x80\xA8", {"", ""}},
      {"a\xE2\x80"
       "b",
       {"a\xE2\x80"
        "b"}},
      {"a\xE2\x80", {"a\xE2\x80"}},
      {"a\xE2", {"a\xE2"}},
      {"a\xE2\xE2\x80\xA8"
       "b",
       {"a\xE2", "b"}},
      {"\xE2\x80\r\n", {"\xE2\x80", ""}},
      {"a\xE2\x80\xA9"
       "b",
       {"a\xE2\x80\xA9"
        "b"}},  // U+2029 is no break
      {"a\xC2\x85"
       "b\vc\fd",
       {"a\xC2\x85"
        "b\vc\fd"}},
      {"a\0b\nc"s, {"a\0b"s, "c"}},
      {"\0"s, {"\0"s}},
      {"\0\r\n\0"s, {"\0"s, "\0"s}},
      // Only `len` bytes count, whatever follows them.
      {"a\xE2\x80\xA8"
       "b",
       {"a\xE2\x80"},
       3},
      {"a\r\nb", {"a", ""}, 2},
      {"a\r\r\nb", {"a", "", ""}, 3},
      {"a\nb", {""}, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.text) + " len " + std::to_string(row.len));
    int32_t count = -7;
    char **lines = sub_split_lines(row.text.data(), std::min(row.len, row.text.size()), &count);
    expect_lines(lines, count, row.want);
    sub_free_lines(lines, count);
  }
}

// The line array grows from 64 slots; the counts around its growth points.
TEST(SplitLines, ManyLinesAcrossArrayGrowth) {
  const std::pair<int, const char *> rows[] = {
      {0, "\n"}, {63, "\n"}, {64, "\r\n"}, {65, "\n"}, {300, "\r\r\n"},
  };
  for (const auto &[breaks, brk] : rows) {
    SCOPED_TRACE(std::to_string(breaks) + " breaks");
    std::vector<std::string> want;
    const std::string text = numbered_lines(breaks, brk, &want);
    int32_t count = 0;
    char **lines = sub_split_lines(text.data(), text.size(), &count);
    expect_lines(lines, count, want);
    sub_free_lines(lines, count);
  }
}

TEST(SplitLines, AllocationFailureGivesNullOrNullSlotAndLeaksNothing) {
  struct Row {
    int breaks;
    uint64_t arrays;  // array allocations a clean run makes
  };
  const Row rows[] = {{0, 1}, {2, 1}, {64, 2}, {65, 2}};
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.breaks) + " breaks");
    std::vector<std::string> want;
    const std::string text = numbered_lines(row.breaks, "\n", &want);
    bool returned_null = false;
    int32_t count = -7;
    std::vector<std::string> got;  // "<null>" for a null slot
    uint64_t null_results = 0, null_slots = 0;
    const uint64_t total = subtest::for_each_allocation_failure(
        [&] {
          count = -7;
          char **lines = sub_split_lines(text.data(), text.size(), &count);
          returned_null = lines == nullptr;
          got.clear();
          for (int32_t i = 0; lines && i < count; ++i)
            got.push_back(lines[i] ? lines[i] : "<null>");
          sub_free_lines(lines, count);
        },
        [&](uint64_t n) {
          SCOPED_TRACE("allocation " + std::to_string(n));
          if (returned_null) {
            ++null_results;
            EXPECT_EQ(count, -7) << "count written on failure";
            return;
          }
          ASSERT_EQ(got.size(), want.size());
          int nulls = 0;
          for (size_t i = 0; i < want.size(); ++i) {
            if (got[i] == "<null>") {
              ++nulls;
            } else {
              EXPECT_EQ(got[i], want[i]);
            }
          }
          EXPECT_EQ(nulls, 1);
          null_slots += nulls;
        });
    EXPECT_EQ(total, want.size() + row.arrays);
    EXPECT_EQ(null_results, row.arrays);
    EXPECT_EQ(null_slots, want.size());
  }
}

TEST(SplitLines, FreeAcceptsNullArrayAndNullSlots) {
  sub_free_lines(nullptr, 3);
  char **lines = static_cast<char **>(sub_malloc(3 * sizeof(char *)));
  ASSERT_NE(lines, nullptr);
  lines[0] = sub_strdup("a");
  lines[1] = nullptr;
  lines[2] = sub_strdup("c");
  const int64_t live = sub_alloc_live();
  sub_free_lines(lines, 3);
  EXPECT_EQ(sub_alloc_live(), live - 3);
  lines = static_cast<char **>(sub_malloc(sizeof(char *)));
  sub_free_lines(lines, 0);  // the array alone
  EXPECT_EQ(sub_alloc_live(), live - 3);
}
