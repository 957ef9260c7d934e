// Character references: seven named ones and every numeric one, decoded in
// place in one pass. Numeric values are written as UTF-8 up to U+FFFF; a
// value of 0 (also "&#;"), above U+FFFF, or too long for 32 bits is removed.
#include <cstring>

#include "strings.h"
#include "values.h"

namespace {

struct NamedEntity {
  std::string_view ref;
  char ch;
};

constexpr NamedEntity named_entities[] = {
    {"&nbsp;", ' '}, {"&NBSP;", ' '}, {"&amp;", '&'},   {"&lt;", '<'},
    {"&gt;", '>'},   {"&quot;", '"'}, {"&apos;", '\''},
};

inline int entity_digit(char c, bool hex) {
  return hex ? sub_hex_value(c) : (sub_is_digit(c) ? c - '0' : -1);
}

// Reads "&#digits;" or "&#xhex;" at s[i]; returns the bytes consumed (0 when
// it is not a complete numeric reference) and the value, or -1 for a value
// beyond 32 bits.
size_t entity_numeric(std::string_view s, size_t i, int64_t *value) {
  size_t p = i + 2;
  const bool hex = p < s.size() && (s[p] == 'x' || s[p] == 'X');
  if (hex) ++p;
  int64_t v = 0;
  int d = 0;
  while (p < s.size() && (d = entity_digit(s[p], hex)) >= 0) {
    if (v >= 0) v = v * (hex ? 16 : 10) + d;
    if (v > UINT32_MAX) v = -1;  // keeps reading the digits, value lost
    ++p;
  }
  if (p >= s.size() || s[p] != ';') return 0;
  *value = v;
  return p + 1 - i;
}

// Writes a code point of at most U+FFFF as UTF-8; returns the bytes written.
size_t entity_utf8(char *out, uint32_t v) {
  if (v < 0x80) {
    out[0] = static_cast<char>(v);
    return 1;
  }
  if (v < 0x800) {
    out[0] = static_cast<char>(0xC0 | (v >> 6));
    out[1] = static_cast<char>(0x80 | (v & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (v >> 12));
  out[1] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (v & 0x3F));
  return 3;
}

}  // namespace

size_t sub_html_decode(char *text, size_t len) {
  const std::string_view s(text, len);
  size_t w = 0;
  size_t r = 0;
  while (r < len) {
    const void *amp = std::memchr(text + r, '&', len - r);
    const size_t plain =
        amp ? static_cast<size_t>(static_cast<const char *>(amp) - (text + r)) : len - r;
    if (w != r) std::memmove(text + w, text + r, plain);
    w += plain;
    r += plain;
    if (r >= len) break;
    size_t used = 0;
    for (const NamedEntity &e : named_entities) {
      if (s.compare(r, e.ref.size(), e.ref) == 0) {
        text[w++] = e.ch;
        used = e.ref.size();
        break;
      }
    }
    int64_t value = 0;
    if (!used && r + 1 < len && text[r + 1] == '#' && (used = entity_numeric(s, r, &value))) {
      if (value > 0 && value <= 0xFFFF) w += entity_utf8(text + w, static_cast<uint32_t>(value));
    }
    if (!used) {
      text[w++] = '&';
      used = 1;
    }
    r += used;
  }
  return w;
}
