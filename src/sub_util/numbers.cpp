// Number reading with the C runtime's rules for strtod, atoi and strtoul as
// on a platform whose long is 32 bits, but independent of the locale (a host
// may have set one whose decimal separator is a comma).
#include <charconv>
#include <cmath>

#include "sub_internal.h"

namespace {

inline bool num_is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Skips leading white space and one sign; true for a minus.
size_t num_skip_prefix(std::string_view s, bool *negative) {
  size_t i = 0;
  while (i < s.size() && num_is_space(s[i])) ++i;
  *negative = i < s.size() && s[i] == '-';
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  return i;
}

template <typename Float>
size_t num_read_float(std::string_view s, Float *value) {
  bool negative = false;
  const size_t i = num_skip_prefix(s, &negative);
  const char *first = s.data() + i;
  const char *last = s.data() + s.size();
  std::from_chars_result r{first, std::errc::invalid_argument};
  Float v = 0;
  if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
    r = std::from_chars(first + 2, last, v, std::chars_format::hex);
    if (r.ptr == first + 2) r = std::from_chars(first, first + 1, v);  // "0x" alone reads as 0
  } else {
    r = std::from_chars(first, last, v);
  }
  if (r.ptr == first) {
    *value = 0;
    return 0;
  }
  if (r.ec == std::errc::result_out_of_range) {
    // strtod's answer: infinity for an overflow, zero for an underflow.
    const char *e = first;
    while (e < r.ptr && *e != 'e' && *e != 'E' && *e != 'p' && *e != 'P') ++e;
    const bool tiny = e + 1 < r.ptr && e[1] == '-';
    v = tiny ? Float(0) : HUGE_VAL;
  }
  *value = negative ? -v : v;
  return static_cast<size_t>(r.ptr - s.data());
}

// Reads decimal digits after white space and a sign; the magnitude saturates
// at `limit`. Returns the bytes consumed (0 without a digit).
size_t num_read_decimal(std::string_view s, uint64_t limit, bool *negative, uint64_t *magnitude) {
  size_t i = num_skip_prefix(s, negative);
  const size_t from = i;
  uint64_t v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    v = v * 10 + static_cast<uint64_t>(s[i] - '0');
    if (v > limit) v = limit + 1;  // stays above the limit, never overflows
    ++i;
  }
  *magnitude = v;
  return i == from ? 0 : i;
}

}  // namespace

size_t sub_strtod(std::string_view s, double *value) { return num_read_float(s, value); }

size_t sub_strtof(std::string_view s, float *value) { return num_read_float(s, value); }

int32_t sub_atoi(std::string_view s) {
  bool negative = false;
  uint64_t v = 0;
  if (!num_read_decimal(s, uint64_t{1} << 31, &negative, &v)) return 0;
  if (negative) return v >= (uint64_t{1} << 31) ? INT32_MIN : -static_cast<int32_t>(v);
  return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

uint32_t sub_strtoul(std::string_view s) {
  bool negative = false;
  uint64_t v = 0;
  if (!num_read_decimal(s, UINT32_MAX, &negative, &v)) return 0;
  if (v > UINT32_MAX) return UINT32_MAX;
  const auto u = static_cast<uint32_t>(v);
  return negative ? static_cast<uint32_t>(0u - u) : u;
}

int32_t sub_double_to_i32(double v) {
  if (!(v >= -2147483648.0 && v < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t sub_add_sat(int32_t a, int64_t b) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  if (sum > INT32_MAX) return INT32_MAX;
  if (sum < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(sum);
}
