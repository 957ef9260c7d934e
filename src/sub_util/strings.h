// ASCII character classes, string copies, case-insensitive comparison and
// search over views, the line reader and the remembering finder. Everything
// works on bytes; only the line reader knows one multi-byte character,
// U+2028 LINE SEPARATOR.
#ifndef SUB_UTIL_STRINGS_H
#define SUB_UTIL_STRINGS_H

#include <cstddef>
#include <cstdint>
#include <string_view>

// The blanks that trimming removes: TAB, LF, CR and SPACE.
inline bool sub_is_blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
inline bool sub_is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool sub_is_hex_digit(char c) {
  return sub_is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// The value of a hexadecimal digit; -1 for any other byte.
inline int sub_hex_value(char c) {
  if (sub_is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
inline unsigned char sub_ascii_lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Heap copy of exactly `n` bytes at `p` plus a NUL (NULs inside are copied);
// null for a null `p` or when memory runs out.
char *sub_strndup(const char *p, size_t n);
// Heap copy of a NUL-terminated `s` (null for null s or when memory runs out).
char *sub_strdup(const char *s);
// ASCII case-insensitive equality; two nulls are equal, one null is not.
int sub_str_ieq(const char *a, const char *b);
// Whether `s` begins with `prefix` ignoring ASCII case (null gives 0).
int sub_str_istart(const char *s, const char *prefix);

// Length of the well-formed UTF-8 sequence at s[i] (i < n), or 0 with
// *subpart set to the length of its maximal ill-formed subpart (at least 1).
inline size_t sub_utf8_seq(const unsigned char *s, size_t n, size_t i, size_t *subpart) {
  const unsigned char c = s[i];
  size_t need = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  }
  size_t j = i + 1;
  for (size_t k = 0; k < need; ++k, ++j, lo = 0x80, hi = 0xBF)
    if (j >= n || s[j] < lo || s[j] > hi) break;
  if (need > 0 && j == i + 1 + need) return need + 1;
  *subpart = j - i;
  return 0;
}

// ASCII case-insensitive search over views (no NUL needed); npos when absent.
size_t sub_sv_ifind(std::string_view hay, std::string_view needle);
inline bool sub_sv_contains(std::string_view hay, std::string_view needle) {
  return hay.find(needle) != std::string_view::npos;
}
inline bool sub_sv_icontains(std::string_view hay, std::string_view needle) {
  return sub_sv_ifind(hay, needle) != std::string_view::npos;
}
// Whether `s` begins with `prefix`, ignoring ASCII case.
bool sub_sv_istarts(std::string_view s, std::string_view prefix);
// The view without leading and trailing TAB, LF, CR and SPACE.
std::string_view sub_sv_trim(std::string_view s);

// A view of the next line of a text, cut at CR LF, CR CR LF, CR, LF and
// U+2028, without copying. The view ends at the line's first NUL byte, as a
// copy of the line read as a C string would.
struct SubLineReader {
  const char *pos;
  const char *end;
  bool done;
};
inline SubLineReader sub_line_reader(const char *text, size_t len) {
  return SubLineReader{text, text + len, false};
}
// Stores the next line in *line and returns true; false after the last line
// (a text ending with a break has a final empty line; an empty text has one).
bool sub_line_next(SubLineReader *reader, std::string_view *line);

// Finds a needle at or after increasing positions of one text, remembering
// where it next occurs: a scan that asks again and again for the next
// "</p>" or "<sync" costs one pass over the text in all, also when the
// needle no longer occurs. Results equal those of a fresh search each time.
struct SubFinder {
  std::string_view hay;
  std::string_view needle;
  bool ignore_case;
  size_t searched_from = std::string_view::npos;  // where the remembered search began
  size_t next = std::string_view::npos;           // its result

  SubFinder(std::string_view h, std::string_view n, bool icase)
      : hay(h), needle(n), ignore_case(icase) {}
  // Position of the first occurrence at or after `from`, or npos.
  size_t find(size_t from) {
    if (searched_from != std::string_view::npos && from >= searched_from &&
        (next == std::string_view::npos || next >= from))
      return next;
    searched_from = from;
    if (from > hay.size()) return next = std::string_view::npos;
    const size_t at =
        ignore_case ? sub_sv_ifind(hay.substr(from), needle) : hay.substr(from).find(needle);
    return next = at == std::string_view::npos ? at : from + at;
  }
};

#endif
