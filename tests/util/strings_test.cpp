// String copies, trimming, ASCII case-insensitive comparisons and the line
// reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

using namespace std::string_literals;

namespace {

// Every line the reader gives for `len` bytes of `text`.
std::vector<std::string> read_lines(const char *text, size_t len) {
  std::vector<std::string> lines;
  SubLineReader reader = sub_line_reader(text, len);
  std::string_view line;
  while (sub_line_next(&reader, &line)) lines.emplace_back(line);
  return lines;
}

// "L0\nL1\n...": `breaks` breaks, so breaks + 1 lines, the last one empty.
std::string numbered_lines(int breaks, const char *brk, std::vector<std::string> *want) {
  std::string text;
  want->clear();
  for (int i = 0; i < breaks; ++i) {
    std::string line = "L";
    line += std::to_string(i);
    text.append(line).append(brk);
    want->push_back(std::move(line));
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
    EXPECT_EQ(sub_sv_trim(row.in), row.want);
  }
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
    SCOPED_TRACE(std::string(row.hay) + " / " + row.needle);
    const size_t got = sub_sv_ifind(row.hay, row.needle);
    if (row.want < 0) {
      EXPECT_EQ(got, std::string_view::npos);
    } else {
      EXPECT_EQ(got, static_cast<size_t>(row.want));
    }
  }
}

// The reader cuts where a copy read as a C string would end: at the line's
// first NUL.
TEST(LineReader, BreakConventions) {
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
      {"a\0b\nc"s, {"a", "c"}},
      {"\0"s, {""}},
      {"\0\r\n\0"s, {"", ""}},
      {"a\0\xE2\x80\xA8"
       "b"s,
       {"a", "b"}},
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
    EXPECT_EQ(read_lines(row.text.data(), std::min(row.len, row.text.size())), row.want);
  }
}

TEST(LineReader, ManyLines) {
  const std::pair<int, const char *> rows[] = {
      {0, "\n"},
      {64, "\r\n"},
      {300, "\r\r\n"},
      {1000, "\xE2\x80\xA8"},
  };
  for (const auto &[breaks, brk] : rows) {
    SCOPED_TRACE(std::to_string(breaks) + " breaks");
    std::vector<std::string> want;
    const std::string text = numbered_lines(breaks, brk, &want);
    EXPECT_EQ(read_lines(text.data(), text.size()), want);
  }
}
