// Decoding of the host's bytes into UTF-8 text.
#ifndef SUB_UTIL_DECODE_H
#define SUB_UTIL_DECODE_H

#include <cstddef>

struct SubDoc;

// Whether decoding would give the bytes themselves, after a UTF-8 mark of
// *skip bytes: then they can be read in place instead of copied.
bool sub_decode_in_place(const void *data, size_t len, const char *encoding, size_t *skip);
// Decodes the bytes for a parse. Bytes that are UTF-8 as they stand are read
// where they are: *text points into them (past a UTF-8 mark) and nothing is
// copied. Anything else is converted into doc->text, where *text then points.
// Sets doc->text_len and doc->encoding. Returns 0, 2 (conversion failed) or 4
// (out of memory).
int sub_decode(SubDoc *doc, const void *data, size_t len, const char *encoding, const char **text);
// Like sub_decode, but the text always lands in doc->text (NUL-terminated),
// copied when it could have been read in place.
int sub_decode_to_utf8(SubDoc *doc, const void *data, size_t len, const char *encoding);

#endif
