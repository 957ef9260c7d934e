// Charset detection for the encoding "auto": which encoding bytes without a
// name were most likely written in.
#ifndef SUB_UTIL_CHARSET_H
#define SUB_UTIL_CHARSET_H

#include <cstddef>

// True when the bytes are well-formed as far as the structure goes: every
// lead byte followed by exactly the continuation bytes it announces, no byte
// of F8 or above. Checked sixteen bytes at a time; false also when it cannot
// tell cheaply.
bool sub_utf8_structure_ok(const unsigned char *s, size_t len);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF).
bool sub_utf8_valid(const unsigned char *s, size_t len);

// The UTF-16 or UTF-32 form ("UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE")
// whose zero bytes the start of the bytes shows on mostly-ASCII text, or
// null.
const char *sub_charset_wide(const unsigned char *s, size_t len);

// The most that sub_charset_rank() proposes.
constexpr int SUB_CHARSET_MAX = 32;

// Ranks the legacy encodings that could have written the bytes (which are
// not UTF-8), most plausible first: the detector's proposal and a fixed list
// of candidates, each kept only when the start of the bytes converts
// strictly, ordered by how plausible the text it gives is. Fills `names`
// (static iconv names) and returns how many; 0 when none converts. *oom is
// set when memory ran out on the way (the ranking may then be short).
int sub_charset_rank(const char *data, size_t len, const char **names, bool *oom);

#endif
