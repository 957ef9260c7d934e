// Clock-time readers: [H:]M:S[,.fraction] in lenient and strict mode, the
// ASS/SSA H:M:S[.cc] reader, their string_view forms, and the 32-bit limit
// (a digit run or a time beyond 2147483647 is not a time, never a wrapped one).
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "test_support.h"

using namespace std::string_literals;

namespace {

enum Mode { kLenient, kStrict, kSsa };

const char *mode_name(Mode mode) {
  return mode == kLenient ? "lenient" : mode == kStrict ? "strict" : "ssa";
}

int32_t read_view(std::string_view text, Mode mode) {
  return mode == kSsa ? sub_ssa_ms(text) : sub_hms_ms(text, mode == kStrict);
}

struct TimeRow {
  const char *text;
  Mode mode;
  int32_t want;
};

const TimeRow time_rows[] = {
    // Lenient: three-part and two-part forms, fraction by digit count.
    {"00:00:01,000", kLenient, 1000},
    {"00:00:01.5", kLenient, 1500},
    {"00:01:02,03", kLenient, 62030},
    {"01:02", kLenient, 62000},
    {"1:02:03", kLenient, 3723000},
    {"00:00:01,123456", kLenient, 1123},
    {"00:00:01,5009", kLenient, 1500},
    {"00:00:01,", kLenient, 1000},
    {"01:02.5", kLenient, 62500},
    {"01:02,", kLenient, 62000},
    {"00:99:99", kLenient, 99 * 60000 + 99000},
    {"0000000000000000000001:00", kLenient, 60000},  // leading zeros are no overflow
    {"00:00:01,0000000000009", kLenient, 1000},      // 13 fraction digits, small value
    // Whatever comes before the first digit is skipped, a '-' included.
    {"  00:00:01,000", kLenient, 1000},
    {" --> 00:00:01,000", kLenient, 1000},
    {"x00:00:01,000", kLenient, 1000},
    {"-00:00:05,000", kLenient, 5000},
    {"\xE2\x80\x83"
     "00:00:02,000",
     kLenient, 2000},
    // Whatever follows the time is ignored.
    {"00:00:01,000 X1:40", kLenient, 1000},
    {"00:00:01,000-->", kLenient, 1000},
    {"1:02:03:04", kLenient, 3723000},
    {"00:00:01;500", kLenient, 1000},
    {"00:00:01.5x7", kLenient, 1500},
    // No time.
    {"", kLenient, -1},
    {"abc", kLenient, -1},
    {"12", kLenient, -1},
    {"12.5", kLenient, -1},
    {"12:", kLenient, -1},
    {"12:x", kLenient, -1},
    {"1:2:", kLenient, -1},
    {"1:2:x", kLenient, -1},
    {"1,5:00", kLenient, -1},
    {"1 :00", kLenient, -1},
    // Strict: only a separator after the seconds is demanded.
    {"00:00:01.50", kStrict, 1500},
    {"00:00:01,00", kStrict, 1000},
    {"00:00:01", kStrict, -1},
    {"01:02", kStrict, -1},
    {"01:02.5", kStrict, 62500},
    {"00:00:01.", kStrict, 1000},
    {"x00:00:01.50", kStrict, 1500},
    {"1:02:03:04", kStrict, -1},
    {"00:00:01 ,5", kStrict, -1},
    // ASS/SSA.
    {"0:00:01.00", kSsa, 1000},
    {"1:02:03.45", kSsa, 3723450},
    {"0:00:01.5", kSsa, 1500},
    {"0:00:01.500", kSsa, 1500},
    {"0:00:01.5009", kSsa, 1500},
    {"0:00:01,25", kSsa, 1250},
    {"\t 0:00:01.00", kSsa, 1000},
    {"0:00:01", kSsa, 1000},
    {"0:00:01.", kSsa, 1000},
    {"0:00:01.x5", kSsa, 1000},
    {"0:75:00.00", kSsa, 4500000},
    {"0:01.00", kSsa, -1},
    {"x0:00:01.00", kSsa, -1},
    {"-0:00:01.00", kSsa, -1},
    {"\n0:00:01.00", kSsa, -1},
    {"0::01.00", kSsa, -1},
    {"0:00:.00", kSsa, -1},
    {"", kSsa, -1},
    // The 32-bit limit: the largest time is read, one more is not a time.
    {"596:31:23,647", kLenient, 2147483647},
    {"596:31:23,648", kLenient, -1},
    {"0:0:2147483,647", kLenient, 2147483647},
    {"0:0:2147484", kLenient, -1},
    {"35791:23,647", kLenient, 2147483647},
    {"35791:23,648", kStrict, -1},
    {"596:31:23.64", kSsa, 2147483640},
    {"596:31:23.65", kSsa, -1},
    // Times and digit runs that a 32-bit wrap-around would make small.
    {"1193:02:47,296", kLenient, -1},  // 2^32 ms
    {"1193:02:47.296", kSsa, -1},
    {"1193:02:47,296", kStrict, -1},
    {"4294967296:00", kLenient, -1},  // 2^32 minutes
    {"0:0:4294967297", kLenient, -1},
    {"18446744073709551617:00", kLenient, -1},  // 2^64 + 1
    {"2147483648:00:00", kLenient, -1},
    {"4294967296:00:00.00", kSsa, -1},
    {"0:4294967296:01.00", kSsa, -1},
    // Only the first three fraction digits count, however many follow.
    {"00:00:01,2147483647", kLenient, 1214},
    {"00:00:01,2147483648", kLenient, 1214},
    {"00:00:01,4294967296", kLenient, 1429},
    {"00:00:01.4294967296", kStrict, 1429},
    {"0:00:01.4294967296", kSsa, 1429},
    {"00:00:01,99999999999999999999999", kLenient, 1999},
};

}  // namespace

TEST(ClockTimes, ReadersOverTextAndViews) {
  for (const TimeRow &row : time_rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.text)) + " " + mode_name(row.mode));
    EXPECT_EQ(read_view(row.text, row.mode), row.want);
  }
}

// A view ends where its size says, even when the bytes beyond it continue the
// time; a NUL inside a view is an ordinary non-digit.
TEST(ClockTimes, ViewsStopAtTheirEnd) {
  struct ViewRow {
    std::string bytes;
    size_t size;
    Mode mode;
    int32_t want;
  };
  const ViewRow rows[] = {
      {"00:00:01,567", 12, kLenient, 1567},
      {"00:00:01,567", 11, kLenient, 1560},
      {"00:00:01,567", 10, kLenient, 1500},
      {"00:00:01,567", 9, kLenient, 1000},
      {"00:00:01,567", 9, kStrict, 1000},
      {"00:00:01,567", 8, kLenient, 1000},
      {"00:00:01,567", 8, kStrict, -1},
      {"00:00:01,567", 7, kLenient, 0},
      {"00:00:01,567", 6, kLenient, -1},
      {"12:34", 3, kLenient, -1},
      {"12:34", 2, kLenient, -1},
      {"12:34", 0, kLenient, -1},
      {"0:00:01.25", 7, kSsa, 1000},
      {"0:00:01.25", 6, kSsa, 0},
      {"0:00:01.25", 5, kSsa, -1},
      {"0:00:01.25", 0, kSsa, -1},
      {"x  00:00:01,000"s, 3, kLenient, -1},
      {"00:00:01\0.5"s, 11, kLenient, 1000},
      {"00:00:01\0.5"s, 11, kStrict, -1},
      {"0:00:01\0.5"s, 10, kSsa, 1000},
      {"\0"
       "00:00:01,000"s,
       13, kLenient, 1000},
      {"0:00\0:01"s, 8, kSsa, -1},
  };
  for (const ViewRow &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes.substr(0, row.size)) + " " + mode_name(row.mode));
    EXPECT_EQ(read_view(std::string_view(row.bytes.data(), row.size), row.mode), row.want);
  }
}
