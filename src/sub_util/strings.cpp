// String copies, ASCII case-insensitive comparison and search, trimming and
// the line reader.
#include "strings.h"

#include <cstring>

#include "alloc.h"
#include "scan_sse2.h"

char *sub_strndup(const char *p, size_t n) {
  if (!p) return nullptr;
  char *copy = static_cast<char *>(sub_malloc(sub_size_mul_add(n, 1, 1)));
  if (!copy) return nullptr;
  std::memcpy(copy, p, n);
  copy[n] = '\0';
  return copy;
}

char *sub_strdup(const char *s) { return s ? sub_strndup(s, std::strlen(s)) : nullptr; }

int sub_str_ieq(const char *a, const char *b) {
  if (!a || !b) return a == b;
  for (;; ++a, ++b) {
    const auto ca = static_cast<unsigned char>(*a);
    const auto cb = static_cast<unsigned char>(*b);
    if (sub_ascii_lower(ca) != sub_ascii_lower(cb)) return 0;
    if (!ca) return 1;
  }
}

int sub_str_istart(const char *s, const char *prefix) {
  if (!s || !prefix) return 0;
  for (; *prefix; ++s, ++prefix) {
    if (!*s) return 0;
    if (sub_ascii_lower(static_cast<unsigned char>(*s)) !=
        sub_ascii_lower(static_cast<unsigned char>(*prefix)))
      return 0;
  }
  return 1;
}

size_t sub_sv_ifind(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return 0;
  if (needle.size() > hay.size()) return std::string_view::npos;
  const auto first_lower = sub_ascii_lower(static_cast<unsigned char>(needle[0]));
  const unsigned char first_upper =
      (first_lower >= 'a' && first_lower <= 'z') ? first_lower - 32 : first_lower;
  const char *base = hay.data();
  const size_t last = hay.size() - needle.size();  // last possible start
  size_t pos = 0;
  while (pos <= last) {
    // Jump to the next byte that can start a match, in either case.
    const void *lo = std::memchr(base + pos, first_lower, last - pos + 1);
    const void *up =
        first_upper == first_lower ? nullptr : std::memchr(base + pos, first_upper, last - pos + 1);
    const char *hit = static_cast<const char *>(lo);
    if (!hit || (up && static_cast<const char *>(up) < hit)) hit = static_cast<const char *>(up);
    if (!hit) break;
    pos = static_cast<size_t>(hit - base);
    size_t k = 1;
    while (k < needle.size() && sub_ascii_lower(static_cast<unsigned char>(base[pos + k])) ==
                                    sub_ascii_lower(static_cast<unsigned char>(needle[k])))
      ++k;
    if (k == needle.size()) return pos;
    ++pos;
  }
  return std::string_view::npos;
}

bool sub_sv_istarts(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (sub_ascii_lower(static_cast<unsigned char>(s[i])) !=
        sub_ascii_lower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

namespace {

// Length of the line break starting at text[j], or 0 when there is none.
inline size_t split_break_len(const unsigned char *text, size_t len, size_t j) {
  const unsigned char c = text[j];
  if (c == '\r') {
    if (j + 2 < len && text[j + 1] == '\r') return text[j + 2] == '\n' ? 3 : 1;
    return (j + 1 < len && text[j + 1] == '\n') ? 2 : 1;
  }
  if (c == '\n') return 1;
  if (c == 0xE2 && j + 2 < len && text[j + 1] == 0x80 && text[j + 2] == 0xA8) return 3;
  return 0;
}

}  // namespace

bool sub_line_next(SubLineReader *reader, std::string_view *line) {
  if (reader->done) return false;
  const auto *start = reinterpret_cast<const unsigned char *>(reader->pos);
  const size_t len = static_cast<size_t>(reader->end - reader->pos);
  size_t cut = len;  // the first NUL of the line, if any
  size_t j = 0;
  for (;;) {
    j += sub_find_line_special(start + j, len - j);
    if (j >= len) break;
    if (start[j] == 0) {
      if (cut == len) cut = j;
      ++j;
      continue;
    }
    const size_t brk = split_break_len(start, len, j);
    if (!brk) {
      ++j;
      continue;
    }
    *line = std::string_view(reader->pos, cut < j ? cut : j);
    reader->pos += j + brk;
    return true;
  }
  *line = std::string_view(reader->pos, cut);
  reader->pos = reader->end;
  reader->done = true;
  return true;
}

std::string_view sub_sv_trim(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && sub_is_blank(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && sub_is_blank(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}
