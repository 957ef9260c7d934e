// Byte scanners, sixteen bytes at a time where SSE2 is available. Private to
// the line reader, the decoder, the JSON writer and the writers' output, the
// loops where bytes are looked at one by one otherwise.
#ifndef SUB_UTIL_SCAN_SSE2_H
#define SUB_UTIL_SCAN_SSE2_H

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Offset of the first byte of p[0..n) that is CR, LF, 0xE2 (the lead byte of
// U+2028) or NUL; n when there is none.
inline size_t sub_find_line_special(const unsigned char *p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i e2 = _mm_set1_epi8(static_cast<char>(0xE2));
  const __m128i nul = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, e2), _mm_cmpeq_epi8(v, nul)));
    if (const int mask = _mm_movemask_epi8(hit))
      return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < n; ++i)
    if (p[i] == '\r' || p[i] == '\n' || p[i] == 0xE2 || p[i] == 0) return i;
  return n;
}

// Offset of the first byte of p[0..n) that a JSON string cannot hold as it
// is: below 0x20, '"', '\\', or 0x80 and above (to be checked as UTF-8).
inline size_t sub_find_json_special(const unsigned char *p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    // A signed compare puts bytes of 0x80 and above below 0x20 as well.
    const __m128i hit =
        _mm_or_si128(_mm_cmplt_epi8(v, space),
                     _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
    if (const int mask = _mm_movemask_epi8(hit))
      return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < n; ++i)
    if (p[i] < 0x20 || p[i] == '"' || p[i] == '\\' || p[i] >= 0x80) return i;
  return n;
}

// Offset of the first byte of p[0..n) at 0x80 or above; n when all are ASCII.
inline size_t sub_find_non_ascii(const unsigned char *p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    if (const int mask = _mm_movemask_epi8(v)) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < n; ++i)
    if (p[i] >= 0x80) return i;
  return n;
}

#endif
