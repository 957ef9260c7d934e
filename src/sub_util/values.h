// Readers of the values written in subtitle text: clock times, numbers as the
// C runtime reads them (with a 32-bit long, whatever the locale), and
// character references.
#ifndef SUB_UTIL_VALUES_H
#define SUB_UTIL_VALUES_H

#include <cstddef>
#include <cstdint>
#include <string_view>

// [H:]M:S with an optional ',' or '.' fraction, after any leading non-digits;
// strict mode demands the separator after the seconds. Milliseconds, or -1.
int32_t sub_hms_ms(std::string_view text, bool strict);
// H:M:S[.fraction] after leading spaces and tabs (ASS/SSA). Milliseconds or -1.
int32_t sub_ssa_ms(std::string_view text);

// strtod/strtof: leading white space, sign, decimal or hexadecimal, inf, nan.
// Returns the bytes consumed (0 and a value of 0 when there is no number).
size_t sub_strtod(std::string_view s, double *value);
size_t sub_strtof(std::string_view s, float *value);
// atoi, saturating at the signed 32-bit limits.
int32_t sub_atoi(std::string_view s);
// strtoul in base 10, saturating at 4294967295 (a minus sign negates).
uint32_t sub_strtoul(std::string_view s);
// A double truncated toward zero; -2147483648 when out of range or NaN.
int32_t sub_double_to_i32(double v);
// A double truncated toward zero, saturated at the signed 32-bit limits
// (NaN gives the lower one).
int32_t sub_double_sat_i32(double v);
// a + b saturated at the signed 32-bit limits.
int32_t sub_add_sat(int32_t a, int64_t b);

// Decodes &nbsp; &NBSP; &amp; &lt; &gt; &quot; &apos; and numeric references
// (up to U+FFFF; others removed) in place; returns the new length.
size_t sub_html_decode(char *text, size_t len);

#endif
