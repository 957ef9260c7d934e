// Number reading with the C runtime's rules for strtod, atoi and strtoul as
// on a platform whose long is 32 bits, but independent of the locale (a host
// may have set one whose decimal separator is a comma).
#include <charconv>
#include <cmath>
#include <limits>

#include "strings.h"
#include "values.h"

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

// For a number the reader found out of range: whether it is too small (rather
// than too large), from where its first significant digit stands and its
// exponent. [p, last) is the number without sign and "0x".
bool num_is_tiny(const char *p, const char *last, bool hex) {
  const int digit_weight = hex ? 4 : 1;
  int64_t magnitude = 0;  // weight of the first significant digit, roughly
  bool significant = false;
  bool fraction = false;
  for (; p < last; ++p) {
    const char c = *p;
    if (c == '.') {
      fraction = true;
      continue;
    }
    if (!(hex ? sub_is_hex_digit(c) : sub_is_digit(c))) break;
    if (c != '0') significant = true;
    if (!significant && fraction) magnitude -= digit_weight;
    if (significant && !fraction && magnitude < INT32_MAX) magnitude += digit_weight;
  }
  int64_t exponent = 0;
  if (p < last && (*p == (hex ? 'p' : 'e') || *p == (hex ? 'P' : 'E'))) {
    ++p;
    const bool negative = p < last && *p == '-';
    if (p < last && (*p == '-' || *p == '+')) ++p;
    for (; p < last && sub_is_digit(*p); ++p)
      if (exponent < INT32_MAX) exponent = exponent * 10 + (*p - '0');
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent < 0;
}

template <typename Float>
size_t num_read_float(std::string_view s, Float *value) {
  *value = 0;
  bool negative = false;
  const size_t i = num_skip_prefix(s, &negative);
  const char *first = s.data() + i;
  const char *last = s.data() + s.size();
  if (first < last && (*first == '-' || *first == '+')) return 0;  // one sign only
  // "0x" needs a hexadecimal digit (after an optional point) to be hexadecimal.
  const bool hex = last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X') &&
                   (sub_is_hex_digit(first[2]) ||
                    (first[2] == '.' && last - first > 3 && sub_is_hex_digit(first[3])));
  const char *digits = hex ? first + 2 : first;
  Float v = 0;
  const std::from_chars_result r = hex ? std::from_chars(digits, last, v, std::chars_format::hex)
                                       : std::from_chars(digits, last, v);
  if (r.ptr == digits) return 0;
  if (r.ec == std::errc::result_out_of_range)
    v = num_is_tiny(digits, r.ptr, hex) ? Float(0) : std::numeric_limits<Float>::infinity();
  *value = negative ? -v : v;
  return static_cast<size_t>(r.ptr - s.data());
}

// Reads decimal digits after white space and a sign; the magnitude saturates
// at `limit`. Returns the bytes consumed (0 without a digit).
size_t num_read_decimal(std::string_view s, uint64_t limit, bool *negative, uint64_t *magnitude) {
  size_t i = num_skip_prefix(s, negative);
  const size_t from = i;
  uint64_t v = 0;
  while (i < s.size() && sub_is_digit(s[i])) {
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

int32_t sub_double_sat_i32(double v) {
  if (v >= 2147483647.0) return INT32_MAX;
  if (!(v > -2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t sub_add_sat(int32_t a, int64_t b) {
  if (b > INT64_MAX / 2) return INT32_MAX;
  if (b < INT64_MIN / 2) return INT32_MIN;
  const int64_t sum = static_cast<int64_t>(a) + b;
  if (sum > INT32_MAX) return INT32_MAX;
  if (sum < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(sum);
}
