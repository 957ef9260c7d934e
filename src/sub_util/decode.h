// Decoding of the host's bytes into UTF-8 text.
#ifndef SUB_UTIL_DECODE_H
#define SUB_UTIL_DECODE_H

#include <cstddef>

struct SubDoc;

// Whether decoding would give the bytes themselves, after a UTF-8 mark of
// *skip bytes: then they can be read in place instead of copied.
bool sub_decode_in_place(const void *data, size_t len, const char *encoding, size_t *skip);
// Decodes the bytes into doc->text / text_len as NUL-terminated UTF-8 and
// names the source encoding in doc->encoding. Returns 0, 2 (conversion
// failed) or 4 (out of memory).
int sub_decode_to_utf8(SubDoc *doc, const void *data, size_t len, const char *encoding);

#endif
