// Clock-time readers: [H:]M:S[,.fraction] for SRT, WebVTT, TTML and
// SubViewer, and H:M:S[.cc] for ASS/SSA events. Only the first three fraction
// digits count (no rounding). An hour, minute or second run, or the time, beyond the signed
// 32-bit range is not a time (-1), never a wrapped value.
#include "strings.h"
#include "values.h"

namespace {

constexpr int64_t time_limit = INT32_MAX;

inline bool time_is_digit(std::string_view s, size_t i) {
  return i < s.size() && sub_is_digit(s[i]);
}

// Reads the digit run at s[*i]; false when it exceeds INT32_MAX.
bool time_component(std::string_view s, size_t *i, int64_t *value, size_t *digits = nullptr) {
  int64_t v = 0;
  const size_t from = *i;
  while (time_is_digit(s, *i)) {
    v = v * 10 + (s[*i] - '0');
    if (v > time_limit) return false;
    ++*i;
  }
  *value = v;
  if (digits) *digits = *i - from;
  return true;
}

// The fraction after the separator at s[i - 1], in milliseconds: only its
// first three digits count; 0 when no digit follows the separator.
int64_t time_fraction(std::string_view s, size_t i) {
  int64_t ms = 0;
  size_t digits = 0;
  for (; time_is_digit(s, i); ++i, ++digits)
    if (digits < 3) ms = ms * 10 + (s[i] - '0');
  if (digits == 1)
    ms *= 100;
  else if (digits == 2)
    ms *= 10;
  return ms;
}

inline bool time_is_sep(std::string_view s, size_t i) {
  return i < s.size() && (s[i] == ',' || s[i] == '.');
}

// Sums the parts; -1 when the time does not fit 32 bits.
int32_t time_total(int64_t h, int64_t m, int64_t sec, int64_t frac) {
  const int64_t total = h * 3600000 + m * 60000 + sec * 1000 + frac;
  return total > time_limit ? -1 : static_cast<int32_t>(total);
}

}  // namespace

int32_t sub_hms_ms(std::string_view s, bool strict) {
  size_t i = 0;
  while (i < s.size() && !time_is_digit(s, i)) ++i;
  int64_t x = 0, y = 0, z = 0;
  if (i >= s.size() || !time_component(s, &i, &x)) return -1;
  if (i >= s.size() || s[i] != ':' || !time_is_digit(s, ++i)) return -1;
  if (!time_component(s, &i, &y)) return -1;
  if (i < s.size() && s[i] == ':') {
    if (!time_is_digit(s, ++i) || !time_component(s, &i, &z)) return -1;
    if (time_is_sep(s, i)) return time_total(x, y, z, time_fraction(s, i + 1));
    return strict ? -1 : time_total(x, y, z, 0);
  }
  if (time_is_sep(s, i)) return time_total(0, x, y, time_fraction(s, i + 1));
  return strict ? -1 : time_total(0, x, y, 0);
}

int32_t sub_ssa_ms(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  int64_t h = 0, m = 0, sec = 0, frac = 0;
  if (!time_is_digit(s, i) || !time_component(s, &i, &h)) return -1;
  if (i >= s.size() || s[i] != ':' || !time_is_digit(s, ++i)) return -1;
  if (!time_component(s, &i, &m)) return -1;
  if (i >= s.size() || s[i] != ':' || !time_is_digit(s, ++i)) return -1;
  if (!time_component(s, &i, &sec)) return -1;
  if (time_is_sep(s, i)) frac = time_fraction(s, i + 1);
  return time_total(h, m, sec, frac);
}
